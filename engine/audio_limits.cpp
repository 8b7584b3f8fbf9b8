// Refusing sound parameters no recording has; see audio_limits.h. Pure rules on
// numbers, called by set-up (setup.cpp) before a sound encoder is set up.
#include "audio_limits.h"

#include "av.h"

#include <cstdio>

// Why the limits are where they are:
// - Sample rate: a sampled signal holds frequencies up to half its rate, and
//   speech needs 300 to 3400 Hz; telephones sample at 8000 Hz and nothing that
//   records sound uses less. Below 1000 Hz not even the lowest tone of a voice
//   is kept, while every byte of data lasts longer: 20 KB at 1 Hz claim hours.
//   1000 Hz keeps a wide margin under any real device.
// - Blocks: a block is the unit a decoder takes at once. ADPCM, GSM, WMA,
//   AC-3 or DTS in a WAV file stay below 8 KiB per channel; a larger claim is
//   damage, and refusing it clearly beats a failure deep in the decoder.
// - Channels: beyond what the encoder takes there is no layout to fold the
//   sound into, and the filters would fail without saying why.
std::string audio_parameters_problem(int sample_rate, int channels, int block_align, int max_channels)
{
    char text[160];
    if (sample_rate > 0 && sample_rate < MIN_SAMPLE_RATE) {
        snprintf(text, sizeof(text), "The sound's sample rate of %d Hz is below %d Hz: no recording has it",
                 sample_rate, MIN_SAMPLE_RATE);
        return text;
    }
    if (channels > 0 && block_align > 0 && block_align / channels > MAX_BLOCK_BYTES_PER_CHANNEL) {
        snprintf(text, sizeof(text),
                 "The sound's blocks of %d bytes for %d channel(s) are larger than any codec's (%d bytes a channel)",
                 block_align, channels, MAX_BLOCK_BYTES_PER_CHANNEL);
        return text;
    }
    if (max_channels > 0 && channels > max_channels) {
        snprintf(text, sizeof(text), "The sound has %d channels, more than its encoder takes (%d)", channels,
                 max_channels);
        return text;
    }
    return "";
}

int encoder_max_channels(const AVCodec *encoder)
{
    // Encoders that list no layouts (AAC among them) are given 7.1 at most: 8
    // channels, the most the engine's filters fold an unnamed layout into.
    constexpr int kUnlistedMost = 8;
    int most = 0;
    if (encoder && encoder->ch_layouts)
        for (const AVChannelLayout *p = encoder->ch_layouts; p->nb_channels; p++)
            most = FFMAX(most, p->nb_channels);
    return most ? most : kUnlistedMost;
}
