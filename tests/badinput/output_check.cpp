#include "output_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace {

struct Stream {
    AVCodecContext *dec = nullptr;
    int64_t last_dts = AV_NOPTS_VALUE;
    int64_t packets = 0, frames = 0, errors = 0;
};

std::string stream_problem(const AVStream *st)
{
    const AVCodecParameters *par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (par->codec_id != AV_CODEC_ID_H264)
            return std::string("video is ") + avcodec_get_name(par->codec_id);
        if (par->profile != FF_PROFILE_H264_BASELINE && par->profile != FF_PROFILE_H264_CONSTRAINED_BASELINE)
            return "video profile " + std::to_string(par->profile) + " is not baseline";
        // Level 3 as asked, raised only for a picture larger than level 3's
        // 1620 macroblocks, and never beyond 5.1 (larger pictures are scaled).
        const int64_t mbs = int64_t((par->width + 15) / 16) * ((par->height + 15) / 16);
        if (par->level < 30 || par->level > 51 || (par->level != 30 && mbs <= 1620))
            return "video level " + std::to_string(par->level) + " for " + std::to_string(par->width) + "x" +
                   std::to_string(par->height) + " is not 3, nor the one up to 5.1 the picture needs";
        return "";
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return par->codec_id == AV_CODEC_ID_AAC ? "" : std::string("audio is ") + avcodec_get_name(par->codec_id);
    return "stream of type " + std::to_string(par->codec_type);
}

void receive_frames(Stream &s, AVFrame *frame)
{
    for (;;) {
        const int ret = avcodec_receive_frame(s.dec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            s.errors++;
            return;
        }
        s.frames++;
        av_frame_unref(frame);
    }
}

std::string read_and_decode(AVFormatContext *ic, std::vector<Stream> &streams, double *seconds)
{
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::string problem;
    double first = 1e300, last = -1e300;
    while (problem.empty() && av_read_frame(ic, pkt) >= 0) {
        Stream &s = streams[size_t(pkt->stream_index)];
        const AVRational tb = ic->streams[pkt->stream_index]->time_base;
        s.packets++;
        if (pkt->dts == AV_NOPTS_VALUE || pkt->pts == AV_NOPTS_VALUE)
            problem = "packet without a timestamp";
        else if (s.last_dts != AV_NOPTS_VALUE && pkt->dts <= s.last_dts)
            problem = "decoding time " + std::to_string(pkt->dts) + " after " + std::to_string(s.last_dts);
        s.last_dts = pkt->dts;
        first = std::min(first, double(pkt->pts) * av_q2d(tb));
        last = std::max(last, double(pkt->pts + pkt->duration) * av_q2d(tb));
        if (avcodec_send_packet(s.dec, pkt) < 0)
            s.errors++;
        receive_frames(s, frame);
        av_packet_unref(pkt);
    }
    for (Stream &s : streams) {
        avcodec_send_packet(s.dec, nullptr);
        receive_frames(s, frame);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    *seconds = last > first ? last - first : 0;
    return problem;
}

} // namespace

OutputFacts check_converted(const std::string &path)
{
    OutputFacts facts;
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        facts.problem = "does not open";
        return facts;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> closer(
        ic, [](AVFormatContext *c) { avformat_close_input(&c); });
    if (avformat_find_stream_info(ic, nullptr) < 0 || !strstr(ic->iformat->name, "mp4") || !ic->nb_streams) {
        facts.problem = std::string("not an MP4 with streams: ") + ic->iformat->name;
        return facts;
    }
    std::vector<Stream> streams(ic->nb_streams);
    std::unique_ptr<std::vector<Stream>, void (*)(std::vector<Stream> *)> decoders(
        &streams, [](std::vector<Stream> *v) {
            for (Stream &s : *v)
                avcodec_free_context(&s.dec);
        });
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVStream *st = ic->streams[i];
        if (!(facts.problem = stream_problem(st)).empty())
            return facts;
        facts.has_video |= st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        facts.has_audio |= st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            facts.width = st->codecpar->width;
            facts.height = st->codecpar->height;
            size_t size = 0;
            const uint8_t *matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
            if ((facts.has_display_matrix = matrix && size >= 9 * sizeof(int32_t)))
                facts.display_rotation = av_display_rotation_get((const int32_t *)matrix);
        }
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        Stream &s = streams[i];
        if (!codec || !(s.dec = avcodec_alloc_context3(codec)) ||
            avcodec_parameters_to_context(s.dec, st->codecpar) < 0 || avcodec_open2(s.dec, codec, nullptr) < 0) {
            facts.problem = "no decoder opens";
            return facts;
        }
    }
    if (!(facts.problem = read_and_decode(ic, streams, &facts.seconds)).empty())
        return facts;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const Stream &s = streams[i];
        if (!s.packets || s.errors || s.frames < (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? s.packets : 1))
            facts.problem = "stream " + std::to_string(i) + ": " + std::to_string(s.packets) + " packets, " +
                            std::to_string(s.frames) + " frames, " + std::to_string(s.errors) + " decoding errors";
    }
    return facts;
}
