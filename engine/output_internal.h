// Routines shared by the files that open outputs and only by them:
//   output.cpp          the output file: opening, stream selection, attachments
//   output_stream.cpp   one output stream with its encoder and settings
//   mapping.cpp         "map", "map_channel", preset options and option presets
//   metadata.cpp        metadata maps, chapters, default metadata, "metadata"
#pragma once

#include "engine.h"

// Creates one stream of `type` in `oc` fed by input stream `source_index` (-1 for
// none) and registers its OutStream; nullptr after a logged failure.
OutStream *create_output_stream(PerFileOptions *o, AVFormatContext *oc, enum AVMediaType type,
                                int source_index);
OutStream *create_video_output(PerFileOptions *o, AVFormatContext *oc, int source_index);
OutStream *create_audio_output(PerFileOptions *o, AVFormatContext *oc, int source_index);
OutStream *create_subtitle_output(PerFileOptions *o, AVFormatContext *oc, int source_index);

// Adds the key=value lines of the option preset `preset` (an ".avpreset" file
// searched for `codec_name`) to `opts` without replacing existing keys.
// AVERROR(ENOENT) when no file could be opened (the caller reports it); other
// failures are logged here.
int load_option_preset(const char *preset, const char *codec_name, AVDictionary **opts);

// Metadata maps, chapters, default metadata and "metadata" settings of the output
// `of`, whose streams start at output stream `first_stream`. Failures are logged.
int apply_output_metadata(PerFileOptions *o, OutFile *of, int first_stream);
