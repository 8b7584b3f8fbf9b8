// What the transcode tests read back from media files: stream parameters with
// profile and level, packet counts, the time span the media covers, and decoded
// pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct StreamFacts {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int profile = FF_PROFILE_UNKNOWN;
    int level = FF_LEVEL_UNKNOWN;
    int width = 0, height = 0;
    int format = -1; // pixel or sample format
    int sample_rate = 0;
    AVRational frame_rate = {0, 1};
    AVRational time_base = {0, 1};
    int64_t packets = 0;
};

struct FileFacts {
    std::string format;
    double duration = 0; // seconds (the container's), 0 when unknown
    // Seconds from the earliest packet to the end of the latest one (audio and
    // video only); streams without timestamps count the sum of their packets'
    // durations.
    double span = 0;
    std::vector<StreamFacts> streams;

    int count(AVMediaType type) const;
    const StreamFacts *first(AVMediaType type) const;
};

// Opens, probes and reads every packet of `path`. Fails the current test (and
// returns empty facts) when the file does not open.
FileFacts inspect(const std::string &path);

// Decodes the first video stream; one luma checksum per picture (sum of all
// luma samples), in presentation order.
std::vector<int64_t> luma_sums(const std::string &path);

// The presentation times (seconds) of the first video stream's packets, in
// order; its time base in *time_base when asked.
std::vector<double> video_times(const std::string &path, AVRational *time_base = nullptr);
