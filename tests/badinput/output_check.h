// What a converted file must be: it reopens as MP4, carries only H.264 baseline
// (level 3; up to 5.1 for pictures level 3 cannot hold) video and AAC audio, every stream has packets with increasing
// decoding times, and every packet decodes without an error.
#pragma once

#include <string>

struct OutputFacts {
    std::string problem; // empty when the file is as it must be
    bool has_video = false, has_audio = false;
    int width = 0, height = 0;
    bool has_display_matrix = false;
    double display_rotation = 0; // of the video's display matrix (av_display_rotation_get)
    double seconds = 0; // from the first to the end of the last packet
};

OutputFacts check_converted(const std::string &path);
