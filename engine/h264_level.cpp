// The H.264 level an encoder writes must tell the truth about the stream: a
// hardware decoder sizes its buffers from the level alone and may refuse or
// corrupt a stream that breaks it. When the level asked for ("level" encoder
// option) cannot hold the picture size, frame rate or decoded-picture buffer the
// encoder will use, the lowest level that can is written instead, and a warning
// names both.
//
// Pictures beyond level 5.1 (more than 4096x2304's 36864 macroblocks, or more
// macroblocks a second than 4096x2304 at 26.7 fps, at a rate a camera can
// have) are scaled down to fit it, keeping their shape, unless the user chose
// the size himself (-s, or filters of his own): encoding 8192x4320 took
// libx264 5.7 GB, and ordinary players cannot decode it anyway. Level 5.1 at
// most is then written (unless "refs" asks for more reference frames).
//
// Called by set-up once the encoder's size and frame rate are known, before the
// encoder is opened; the level rule on plain numbers (h264_level_holding) also
// by the picture-fit tests.
#include "transcode.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Limits of one level (the H.264 standard's level table): macroblocks per
// second, per frame, and in the decoded-picture buffer.
struct LevelLimits {
    int idc; // level_idc; 9 stands for level 1b
    int64_t max_mbps;
    int max_fs;
    int max_dpb_mbs;
};

// In ascending order of capability.
constexpr LevelLimits level_table[] = {
    {10, 1485, 99, 396},           {9, 1485, 99, 396},
    {11, 3000, 396, 900},          {12, 6000, 396, 2376},
    {13, 11880, 396, 2376},        {20, 11880, 396, 2376},
    {21, 19800, 792, 4752},        {22, 20250, 1620, 8100},
    {30, 40500, 1620, 8100},       {31, 108000, 3600, 18000},
    {32, 216000, 5120, 20480},     {40, 245760, 8192, 32768},
    {41, 245760, 8192, 32768},     {42, 522240, 8704, 34816},
    {50, 589824, 22080, 110400},   {51, 983040, 36864, 184320},
    {52, 2073600, 36864, 184320},  {60, 4177920, 139264, 696320},
    {61, 8355840, 139264, 696320}, {62, 16711680, 139264, 696320},
};
constexpr int level_count = int(sizeof(level_table) / sizeof(level_table[0]));

// What the encoder will make, in macroblocks.
struct StreamDemand {
    int mb_width, mb_height;
    double frame_rate;
    int dpb_frames;
};

// "3", "3.1", "31" and "1b" as libx264 reads them; -1 when unreadable.
int parse_level_idc(const char *text)
{
    if (!strcmp(text, "1b"))
        return 9;
    char *end;
    const double value = strtod(text, &end);
    if (end == text || *end || value <= 0)
        return -1;
    return value < 7 ? int(lrint(value * 10)) : int(value);
}

int level_position(int idc)
{
    for (int i = 0; i < level_count; i++)
        if (level_table[i].idc == idc)
            return i;
    return -1;
}

bool level_holds(const LevelLimits &l, const StreamDemand &d)
{
    const int64_t frame_mbs = int64_t(d.mb_width) * d.mb_height;
    // A frame may be no wider or taller than the square root of 8 x MaxFS.
    const int64_t side_limit = int64_t(l.max_fs) * 8;
    return frame_mbs <= l.max_fs && int64_t(d.mb_width) * d.mb_width <= side_limit &&
           int64_t(d.mb_height) * d.mb_height <= side_limit &&
           double(frame_mbs) * d.frame_rate <= double(l.max_mbps) &&
           frame_mbs * d.dpb_frames <= l.max_dpb_mbs;
}

const char *level_name(int idc, char *buf, size_t size)
{
    if (idc == 9)
        snprintf(buf, size, "1b");
    else
        snprintf(buf, size, "%d.%d", idc / 10, idc % 10);
    return buf;
}

// The rate the encoder will run at: the output's own, else its time base's.
double stream_rate(const OutStream *ost)
{
    AVRational rate = ost->frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = av_inv_q(ost->enc_ctx->time_base);
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

// libx264 lowers the reference count it chose itself to what the level's buffer
// holds, but keeps a count given with "refs": only that one counts.
int stream_dpb_frames(const OutStream *ost)
{
    const AVDictionaryEntry *refs = av_dict_get(ost->encoder_opts, "refs", nullptr, 0);
    return refs ? FFMAX(atoi(refs->value), 1) : 1;
}

// Level 5.1: the largest pictures the converter writes.
constexpr int kFitLevel = 51;
// The fastest cameras (slow-motion, sports) take 240 or 300 pictures a second.
constexpr double kMostBelievableRate = 300;

const LevelLimits &limits_of(int idc)
{
    return level_table[level_position(idc)];
}

// A width x height picture at `frame_rate` in macroblocks, progressive.
StreamDemand picture_demand(int width, int height, double frame_rate)
{
    return StreamDemand{(width + 15) / 16, (height + 15) / 16, frame_rate, 1};
}

int even_at_least_2(double size)
{
    return FFMAX(2, int(size / 2) * 2);
}

} // namespace

bool h264_fit_to_level_51(int width, int height, double frame_rate, int *fit_width, int *fit_height)
{
    *fit_width = width;
    *fit_height = height;
    // A rate beyond any camera's is a time base (a cover picture's 90 kHz), not
    // pictures a second: the size alone decides then.
    if (frame_rate > kMostBelievableRate)
        frame_rate = 0;
    const LevelLimits &limits = limits_of(kFitLevel);
    if (width <= 0 || height <= 0 || level_holds(limits, picture_demand(width, height, frame_rate)))
        return false;
    // The largest scale the frame size, side and rate limits allow on their
    // own, in macroblocks; rounding up to whole macroblocks may still break a
    // limit, so the width then steps down until the picture fits.
    int64_t max_mbs = limits.max_fs;
    if (frame_rate > 0)
        max_mbs = FFMIN(max_mbs, int64_t(double(limits.max_mbps) / frame_rate));
    const double side = floor(sqrt(8.0 * limits.max_fs)) * 16;
    double scale = sqrt(double(FFMAX(max_mbs, 1)) * 256 / (double(width) * height));
    scale = FFMIN(FFMIN(scale, 1.0), FFMIN(side / width, side / height));
    for (int w = even_at_least_2(width * scale); w >= 2; w -= 2) {
        const int h = even_at_least_2(double(height) * w / width);
        *fit_width = w;
        *fit_height = h;
        if (level_holds(limits, picture_demand(w, h, frame_rate)))
            break;
    }
    return true;
}

int scale_to_h264_level(OutStream *ost)
{
    AVCodecContext *enc = ost->enc_ctx;
    GraphOutput *out = ost->filter;
    // Only the engine's own simple graph: a user's filters chose the picture.
    if (!ost->enc || ost->enc->id != AV_CODEC_ID_H264 || !out || !out->graph ||
        out->graph->description || (ost->avfilter && strcmp(ost->avfilter, "null")))
        return 0;
    const double rate = ost->frame_rate.num > 0 && ost->frame_rate.den > 0 ? av_q2d(ost->frame_rate) : 0;
    int w, h;
    if (!h264_fit_to_level_51(enc->width, enc->height, rate, &w, &h))
        return 0;
    av_log(nullptr, AV_LOG_WARNING,
           "Output stream #%d:%d: the %dx%d picture is beyond H.264 level 5.1; scaled down to %dx%d\n",
           ost->file_index, ost->index, enc->width, enc->height, w, h);
    // The graph's sink scales to the encoder's size when it has one, as for -s.
    enc->width = w;
    enc->height = h;
    return build_filtergraph(out->graph) < 0 ? AVERROR(EINVAL) : 1;
}

int h264_level_holding(int asked_idc, int width, int height, bool interlaced, double frame_rate, int dpb_frames)
{
    const int asked_pos = level_position(asked_idc);
    if (asked_pos < 0 || width <= 0 || height <= 0)
        return asked_idc;
    StreamDemand demand;
    demand.mb_width = (width + 15) / 16;
    // Interlaced coding works on macroblock pairs.
    demand.mb_height = interlaced ? 2 * ((height + 31) / 32) : (height + 15) / 16;
    demand.frame_rate = frame_rate;
    demand.dpb_frames = FFMAX(dpb_frames, 1);
    for (int pos = asked_pos; pos < level_count; pos++)
        if (level_holds(level_table[pos], demand))
            return level_table[pos].idc;
    return asked_idc; // beyond every level: nothing truer to write
}

void fit_h264_level(OutStream *ost)
{
    const AVCodecContext *enc = ost->enc_ctx;
    if (!ost->enc || ost->enc->id != AV_CODEC_ID_H264 || enc->width <= 0 || enc->height <= 0)
        return;
    const AVDictionaryEntry *asked = av_dict_get(ost->encoder_opts, "level", nullptr, 0);
    const int asked_idc = asked ? parse_level_idc(asked->value) : -1;
    if (level_position(asked_idc) < 0)
        return; // no level, or one the encoder will judge itself
    const double rate = stream_rate(ost);
    const int idc = h264_level_holding(asked_idc, enc->width, enc->height,
                                       (enc->flags & AV_CODEC_FLAG_INTERLACED_DCT) != 0, rate,
                                       stream_dpb_frames(ost));
    if (idc == asked_idc)
        return;
    char from[16], to[16], text[16];
    av_log(nullptr, AV_LOG_WARNING, "Level %s cannot hold %dx%d at %.5g fps; writing level %s\n",
           level_name(asked_idc, from, sizeof(from)), enc->width, enc->height, rate,
           level_name(idc, to, sizeof(to)));
    // The level number as level_idc: libx264's option and the codec context's
    // generic one both read it so.
    snprintf(text, sizeof(text), "%d", idc);
    av_dict_set(&ost->encoder_opts, "level", text, 0);
}
