// Sound parameters no recording has: a header claiming them is damage or a
// trap (a 20 KB WAV claiming 1 Hz became 5.5 hours of noise), and is refused
// before anything is converted. Implemented in audio_limits.cpp; used by set-up
// for every encoded sound stream, and by tests.
#pragma once

#include <string>

struct AVCodecParameters;
struct AVCodec;

// The lowest sample rate a sound stream may have.
constexpr int MIN_SAMPLE_RATE = 1000;
// The largest block of coded sound per channel.
constexpr int MAX_BLOCK_BYTES_PER_CHANNEL = 16384;

// The engine's words for why sound of these parameters is refused, or "" when
// it may be converted. `max_channels` is the most the encoder takes (0: no
// limit known).
std::string audio_parameters_problem(int sample_rate, int channels, int block_align, int max_channels);

// The most channels `encoder` takes: its largest channel layout; 8 (7.1) when
// it lists none.
int encoder_max_channels(const AVCodec *encoder);
