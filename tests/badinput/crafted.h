// Inputs made by hand for the bad-input suite: headers that claim what no
// encoder would write, and edits of generated files that no muxer would make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A YUV4MPEG2 stream header claiming a picture of width x height, one frame
// marker and a few bytes of picture.
Bytes y4m_claiming(int width, int height);

// A GIF whose logical screen claims width x height, with five 1x1 pictures.
Bytes gif_claiming(int width, int height);

// A PCM WAV file whose format chunk claims `channels` channels at `rate` Hz,
// with a little sound data.
Bytes wav_claiming(int channels, int rate);

// Every baseline JPEG frame header (SOF0) in `bytes` claims width x height.
// Returns the number of headers changed.
int claim_jpeg_size(Bytes &bytes, int width, int height);

// Zeroes the payload of the first 'mdat' box of an MP4 file: the index stays,
// every sample it points to is zeros. False when there is no such box.
bool zero_mp4_samples(Bytes &bytes);

// Offset of the first top-level MP4 box of `type` ("moov"), or -1.
int64_t mp4_box_offset(const Bytes &bytes, const char *type);
