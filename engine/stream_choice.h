// How the automatic stream selection ranks the streams of a recording, so that
// code looking at a recording before a run (keep_video.cpp) picks the stream
// the run will pick. Defined in output.cpp, which owns the selection.
#pragma once

#include <cstdint>

struct AVStream;

// The rank of `st` as the output's video stream: 0 when it is not taken at all,
// else the larger the better (its picture area; an attached picture counts as
// the smallest picture, unless `pictures_only`: a muxer that stores only
// attached pictures). `leave_out_attached`: attached pictures are not taken.
// The first stream of the highest rank wins.
int64_t video_choice_rank(const AVStream *st, bool pictures_only, bool leave_out_attached);

// The rank of `st` as the output's audio stream: its channel count (0: not a
// sound stream). The first stream of the highest rank wins.
int audio_choice_rank(const AVStream *st);
