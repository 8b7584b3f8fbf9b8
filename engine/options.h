// The engine's command-line vocabulary: the per-file option context that collects
// the options written before each input or output file name, its reset between
// files, the process-wide settings that options change, and the option table.
//
// Implemented in options.cpp (table, handlers, reset). Read by every stage of the
// engine; written only by option parsing.
#pragma once

#include "cmdline.h"

#include <cstdint>

// One result of "map".
struct MapEntry {
    int skipped;
    int src_file;
    int src_stream;
    int sync_file;
    int sync_stream;
    char *link_label; // complex filtergraph output label, or nullptr
};

// One result of "map_channel". The output indexes are -1 when not given.
struct ChannelMap {
    int in_file;
    int in_stream;
    int channel;
    int out_file;
    int out_stream;
};

// Options collected for the next file; zero-filled before first use and by every
// reset. Field order is part of the design (list fields are a SpecList).
struct PerFileOptions {
    int64_t seek_start;
    char *forced_format;
    SpecList codec_choices;
    SpecList channel_counts;
    SpecList sample_rates;
    SpecList frame_rate_texts;
    SpecList frame_size_texts;
    SpecList pixel_format_texts;
    int64_t ts_offset;
    int realtime_read;
    SpecList ts_scales;
    SpecList attachment_dumps;

    MapEntry *maps;
    int nb_maps;
    ChannelMap *channel_maps;
    int nb_channel_maps;
    int global_meta_mapped;
    int stream_meta_mapped;
    int chapter_meta_mapped;
    const char **attach_files;
    int nb_attach_files;

    int chapter_source;
    int64_t duration_limit;
    uint64_t size_limit;
    float preload_seconds;
    float max_delay_seconds;
    int stop_at_shortest;
    int no_video;
    int no_audio;
    int no_subtitle;
    int no_data;
    int *stream_ids;
    int nb_stream_ids;

    SpecList metadata_sets;
    SpecList frame_limits;
    SpecList bsf_lists;
    SpecList tag_texts;
    SpecList sample_format_texts;
    SpecList quality_scales;
    SpecList key_frame_texts;
    SpecList keep_frame_rate;
    SpecList aspect_texts;
    SpecList rc_override_texts;
    SpecList intra_matrix_texts;
    SpecList inter_matrix_texts;
    SpecList field_order;
    SpecList metadata_map_texts;
    SpecList preset_names;
    SpecList copy_leading_nonkey;
    SpecList copy_before_start;
    SpecList filter_texts;
    SpecList fix_subtitle_duration;
    SpecList pass_numbers;
    SpecList passlog_prefixes;
};

// No-limit values of the per-file limits.
constexpr int64_t NO_DURATION_LIMIT = INT64_MAX;
constexpr uint64_t NO_SIZE_LIMIT = UINT64_MAX;
constexpr int AUTO_CHAPTER_SOURCE = INT32_MAX;
// Output stream indexes accepted by "streamid" are 0 to MAX_STREAMS - 1.
constexpr int MAX_STREAMS = 1024;

// Resets the context between files; is_input is set after an input file.
void reset_file_options(PerFileOptions *o, int is_input);

// Last value of a list whose specifier matches the stream (errors count as no
// match); returns nullptr when nothing matches.
const SpecValue *last_matching_value(const SpecList &list, AVFormatContext *fmt, AVStream *st);

// The option table (ends with a row whose name is nullptr).
extern const OptionEntry option_table[];

// ---- process-wide settings (not reset between runs) ------------------------

extern int overwrite_yes;         // "y"
extern int overwrite_no;          // "n"
extern int stdin_enabled;         // "stdin", default 1
extern int do_benchmark;          // "benchmark"
extern int do_benchmark_all;      // "benchmark_all"
extern int do_pkt_dump;           // "dump"
extern int do_hex_dump;           // "hex"
extern int debug_ts;              // "debug_ts"
extern int video_sync_method;     // "vsync", -1 automatic
extern int audio_sync_method;     // "async"
extern float audio_drift_threshold;  // "adrift_threshold"
extern int copy_ts;               // "copyts"
extern int copy_tb;               // "copytb", -1 automatic
extern float dts_delta_threshold; // "dts_delta_threshold", seconds
extern float dts_error_threshold; // "dts_error_threshold", seconds
extern int exit_on_error;         // "xerror"
extern int print_stats;           // "stats", default 1
extern int intra_only;            // "intra"
extern int do_psnr;               // "psnr"
extern int qp_hist;               // "qphist"
extern int frame_bits_per_raw_sample; // "bits_per_raw_sample"
extern int video_discard;         // "vdt"
extern int audio_volume;          // "vol", default 256
extern int intra_dc_precision;    // "dc", default 8
extern int do_deinterlace;        // "deinterlace"
extern int isync_ignored;         // "isync" (does nothing)
extern char *vstats_filename;     // "vstats", "vstats_file"

// Sync method values of "vsync".
enum VideoSyncMethod {
    VSYNC_AUTO = -1,
    VSYNC_PASSTHROUGH = 0,
    VSYNC_CFR = 1,
    VSYNC_VFR = 2,
    VSYNC_DROP = 0xff,
};

// ---- handlers implemented by other engine files -----------------------------

int add_input_file(void *ctx, const char *opt, const char *filename);  // input.cpp
void add_output_file(void *ctx, const char *filename);                 // output.cpp
int handle_map(void *ctx, const char *opt, const char *arg);           // mapping.cpp
int handle_map_channel(void *ctx, const char *opt, const char *arg);   // mapping.cpp
int handle_preset_file(void *ctx, const char *opt, const char *arg);   // mapping.cpp ("fpre", "vpre", "apre", "spre")
int show_information(void *ctx, const char *opt, const char *arg);     // info.cpp (every OPTF_EXIT row)
