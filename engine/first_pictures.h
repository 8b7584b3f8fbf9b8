// The first pictures of a recording's picture stream, decoded to see what its
// headers may not say (interlacing, the sample format, the profile). Called by
// plan_conversion's helpers (keep_video.cpp, interlace.cpp) on a recording
// opened with its streams found; the recording is moved back to its start after.
#pragma once

#include <functional>

struct AVFormatContext;
struct AVFrame;
struct AVCodecContext;

// How far a look may go: pictures decoded, packets of the stream read, bytes
// read from the file.
struct PictureLookLimits {
    int pictures = 4;
    int packets = 300;
    long long bytes = 16 << 20;
};

// What the look saw besides the pictures.
struct PictureLook {
    int decoded = 0;
    bool timed = false; // a packet carried its presentation time
    int profile = -99;  // the decoder's, after the look (FF_PROFILE_UNKNOWN)
    int level = -99;
    int reordered = 0;  // pictures the decoder holds back for reordering
};

// Decodes the first pictures of stream `index` within `limits` (reading only
// that stream, damaged packets passed over, the decoder drained at the bounds)
// and shows each to `picture`, which returns false once it has seen enough.
// Returns 0, or a negative error when no decoder opens.
int look_at_first_pictures(AVFormatContext *ic, int index, const PictureLookLimits &limits,
                           const std::function<bool(const AVFrame *)> &picture, PictureLook *look);
