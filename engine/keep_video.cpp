// Whether a recording's picture can be copied unchanged into the converter's
// MP4 ("keep the original picture"): only H.264 that ordinary players open
// (constrained baseline, main or high profile, 8-bit 4:2:0, progressive, level
// 5.1 at most and a picture level 5.1 holds), and not a stream whose pictures
// are shown out of their stored order without times to say that order (raw
// H.264 with B-frames). The stream looked at is the one
// the run's automatic selection takes (stream_choice.h); its first pictures are
// decoded to see what stream headers may not say. Anything else is converted,
// with the reason in a few plain words.
//
// Called by plan_conversion (conversion.cpp) on a recording it has opened, and
// by the keep tests.
#include "keep_video.h"

#include "av.h"
#include "first_pictures.h"
#include "input_guard.h"
#include "stream_choice.h"
#include "transcode.h"

#include <string>

namespace {

// How far the look at the first pictures may go: enough to pass the start of a
// recording cut in the middle of a group of pictures (up to 10 s of a 25 fps
// camera), little enough to stay quick on any file.
constexpr int kPicturesLooked = 4;
constexpr int kMostPacketsRead = 300;
constexpr int64_t kMostBytesRead = 16 << 20;

// What the first decoded pictures showed.
struct FirstPictures {
    int decoded = 0;
    bool interlaced = false;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int profile = FF_PROFILE_UNKNOWN;
    int level = FF_LEVEL_UNKNOWN;
    bool timed = false; // a packet carried its presentation time
    int reordered = 0;  // pictures the decoder holds back for reordering
};

std::string picture_is(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_HEVC: return "the picture is HEVC";
    case AV_CODEC_ID_MJPEG: return "the picture is MJPEG";
    case AV_CODEC_ID_MPEG1VIDEO: return "the picture is MPEG-1";
    case AV_CODEC_ID_MPEG2VIDEO: return "the picture is MPEG-2";
    case AV_CODEC_ID_MPEG4: return "the picture is MPEG-4 Part 2";
    case AV_CODEC_ID_H263: return "the picture is H.263";
    default: break;
    }
    const AVCodecDescriptor *desc = avcodec_descriptor_get(id);
    std::string name = desc ? desc->name : "of an unknown kind";
    for (char &c : name)
        c = char(av_toupper((unsigned char)c));
    return "the picture is " + name;
}

int chosen_audio_stream(const AVFormatContext *ic)
{
    int best = -1, best_rank = 0;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const int rank = audio_choice_rank(ic->streams[i]);
        if (rank > best_rank) {
            best_rank = rank;
            best = int(i);
        }
    }
    return best;
}

int look_at_start(AVFormatContext *ic, int index, FirstPictures *seen)
{
    PictureLookLimits limits;
    limits.pictures = kPicturesLooked;
    limits.packets = kMostPacketsRead;
    limits.bytes = kMostBytesRead;
    PictureLook look;
    const int ret = look_at_first_pictures(ic, index, limits, [seen](const AVFrame *frame) {
        if (seen->decoded++ == 0)
            seen->format = AVPixelFormat(frame->format);
        seen->interlaced = seen->interlaced || frame->interlaced_frame;
        return seen->decoded < kPicturesLooked;
    }, &look);
    seen->profile = look.profile;
    seen->level = look.level;
    seen->timed = look.timed;
    seen->reordered = look.reordered;
    return ret;
}

std::string profile_refusal(int profile)
{
    if (profile == FF_PROFILE_H264_CONSTRAINED_BASELINE || profile == FF_PROFILE_H264_MAIN ||
        profile == FF_PROFILE_H264_HIGH)
        return "";
    const char *name = avcodec_profile_name(AV_CODEC_ID_H264, profile);
    return std::string("the H.264 profile (") + (name ? name : "unknown") + ") is not one players open";
}

std::string sample_refusal(AVPixelFormat format)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    if (!desc)
        return "the picture's sample format is unknown";
    if (desc->comp[0].depth != 8)
        return "the picture has " + std::to_string(desc->comp[0].depth) + "-bit samples";
    if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P)
        return "the picture is not 4:2:0";
    return "";
}

double picture_rate(const AVStream *st)
{
    AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                               : st->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

std::string level_refusal(int level, const AVStream *st)
{
    if (level > 51) {
        char text[32];
        snprintf(text, sizeof(text), "%d.%d", level / 10, level % 10);
        return std::string("the picture's level (") + text + ") is beyond what players open";
    }
    const AVCodecParameters *par = st->codecpar;
    int fit_w, fit_h;
    if (h264_fit_to_level_51(par->width, par->height, picture_rate(st), &fit_w, &fit_h))
        return "the picture (" + std::to_string(par->width) + "x" + std::to_string(par->height) +
               ") is beyond what level 5.1 holds";
    return "";
}

// The reason the H.264 stream `index` cannot be kept, "" when it can.
std::string h264_refusal(AVFormatContext *ic, int index)
{
    FirstPictures seen;
    const int ret = look_at_start(ic, index, &seen);
    if (ret < 0 || seen.decoded == 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = "no picture came out";
        if (ret < 0)
            av_strerror(ret, text, sizeof(text));
        av_log(nullptr, AV_LOG_VERBOSE, "The first pictures of stream #%d could not be decoded: %s\n", index,
               text);
        return "the picture's start could not be decoded";
    }
    std::string refusal = sample_refusal(seen.format);
    if (refusal.empty() && seen.interlaced)
        refusal = "the picture is interlaced";
    if (refusal.empty())
        refusal = profile_refusal(seen.profile);
    if (refusal.empty())
        refusal = level_refusal(seen.level, ic->streams[index]);
    // Pictures shown in another order than stored need their presentation
    // times, which a raw stream does not carry; in order, the stored order is
    // the shown one.
    if (refusal.empty() && !seen.timed && seen.reordered > 0)
        refusal = "the recording's picture has no timestamps";
    return refusal;
}

} // namespace

int chosen_video_stream(const AVFormatContext *ic)
{
    // The converter's MP4 muxer takes any picture, attached ones as the smallest.
    int best = -1;
    int64_t best_rank = 0;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const int64_t rank = video_choice_rank(ic->streams[i], false, false);
        if (rank > best_rank) {
            best_rank = rank;
            best = int(i);
        }
    }
    return best;
}

KeepDecision decide_keep_video(AVFormatContext *ic)
{
    KeepDecision decision;
    decision.video_stream = chosen_video_stream(ic);
    if (decision.video_stream < 0) {
        decision.refusal = "the recording has no picture";
        return decision;
    }
    const AVStream *st = ic->streams[decision.video_stream];
    if (st->codecpar->codec_id != AV_CODEC_ID_H264)
        decision.refusal = picture_is(st->codecpar->codec_id);
    else if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        decision.refusal = "the recording's only picture is a still image";
    else
        decision.refusal = h264_refusal(ic, decision.video_stream);
    decision.keep_video = decision.refusal.empty();
    const int audio = chosen_audio_stream(ic);
    decision.copy_audio =
        decision.keep_video && audio >= 0 && ic->streams[audio]->codecpar->codec_id == AV_CODEC_ID_AAC;
    return decision;
}
