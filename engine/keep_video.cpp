// Whether a recording's picture can be copied unchanged into the converter's
// MP4. See keep_video.h; called by plan_conversion.
#include "keep_video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <cctype>
#include <cstdio>

namespace {

constexpr int kHighestLevel = 51;

// The picture stream the engine's automatic choice takes: the largest picture,
// cover art last.
int chosen_video_stream(const AVFormatContext *ic)
{
    int best = -1;
    int64_t best_area = -1;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVStream *st = ic->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int64_t area = int64_t(st->codecpar->width) * st->codecpar->height;
        if (area > best_area) {
            best = int(i);
            best_area = area;
        }
    }
    return best;
}

std::string codec_refusal(const AVCodecParameters *par)
{
    if (par->codec_id == AV_CODEC_ID_H264)
        return "";
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    std::string name = desc ? desc->name : "unknown";
    for (char &c : name)
        c = char(toupper(static_cast<unsigned char>(c)));
    if (par->codec_id == AV_CODEC_ID_MPEG2VIDEO)
        name = "MPEG-2";
    return "the picture is " + name;
}

std::string profile_refusal(const AVCodecParameters *par)
{
    switch (par->profile) {
    case FF_PROFILE_H264_CONSTRAINED_BASELINE:
    case FF_PROFILE_H264_MAIN:
    case FF_PROFILE_H264_HIGH:
        return "";
    default:
        break;
    }
    const char *name = avcodec_profile_name(par->codec_id, par->profile);
    return std::string("the H.264 profile (") + (name ? name : "unknown") + ") is not one players open";
}

std::string format_refusal(const AVCodecParameters *par)
{
    const AVPixelFormat format = AVPixelFormat(par->format);
    if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P)
        return "";
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    if (desc && desc->comp[0].depth > 8)
        return "the picture has " + std::to_string(desc->comp[0].depth) + "-bit samples";
    return "the picture is not 4:2:0";
}

std::string level_refusal(const AVCodecParameters *par)
{
    if (par->level <= 0)
        return "the picture's H.264 level is unknown";
    if (par->level <= kHighestLevel)
        return "";
    char level[16];
    snprintf(level, sizeof(level), "%d.%d", par->level / 10, par->level % 10);
    return std::string("the picture's level (") + level + ") is beyond what players open";
}

std::string scan_refusal(const AVCodecParameters *par)
{
    if (par->field_order == AV_FIELD_UNKNOWN || par->field_order == AV_FIELD_PROGRESSIVE)
        return "";
    return "the picture is interlaced";
}

} // namespace

KeepDecision decide_keep_video(AVFormatContext *ic)
{
    KeepDecision d;
    d.video_stream = chosen_video_stream(ic);
    if (d.video_stream < 0) {
        d.refusal = "the recording has no picture";
        return d;
    }
    const AVCodecParameters *par = ic->streams[d.video_stream]->codecpar;
    for (const std::string &refusal :
         {codec_refusal(par), profile_refusal(par), format_refusal(par), level_refusal(par), scan_refusal(par)})
        if (!refusal.empty()) {
            d.refusal = refusal;
            return d;
        }
    d.keep_video = true;
    const int audio = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    d.copy_audio = audio >= 0 && ic->streams[audio]->codecpar->codec_id == AV_CODEC_ID_AAC;
    return d;
}
