// Whether a recording's picture can be copied unchanged into the converter's
// MP4: H.264 that ordinary players open. Called by plan_conversion (conversion.h)
// with the recording already opened and its streams found.
#pragma once

#include <string>

struct AVFormatContext;

struct KeepDecision {
    bool keep_video = false; // the picture is copied unchanged
    bool copy_audio = false; // the sound is AAC and is copied too
    int video_stream = -1;   // the stream looked at; -1 when the recording has no picture
    // Why the picture must be converted, in a few words ("the picture is HEVC",
    // "the picture is interlaced", "the picture has 10-bit samples", ...);
    // "" when it is kept.
    std::string refusal;
};

// Looks at the recording `ic` (opened, its streams found). Decodes its first
// pictures to see what the stream headers may not say (interlacing, the sample
// format); reads from the file (and moves back to its start).
KeepDecision decide_keep_video(AVFormatContext *ic);

// The picture stream the converter's run takes (stream_choice.h); -1 for none.
int chosen_video_stream(const AVFormatContext *ic);
