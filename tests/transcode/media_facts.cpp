#include "media_facts.h"

#include "media_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

extern "C" {
#include <libavformat/avformat.h>
}

int FileFacts::count(AVMediaType type) const
{
    return int(std::count_if(streams.begin(), streams.end(),
                             [type](const StreamFacts &s) { return s.type == type; }));
}

const StreamFacts *FileFacts::first(AVMediaType type) const
{
    for (const StreamFacts &s : streams)
        if (s.type == type)
            return &s;
    return nullptr;
}

FileFacts inspect(const std::string &path)
{
    FileFacts facts;
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return facts;
    }
    if (avformat_find_stream_info(ic, nullptr) < 0)
        ADD_FAILURE() << "cannot probe " << path;
    facts.format = ic->iformat->name;
    if (ic->duration != AV_NOPTS_VALUE)
        facts.duration = double(ic->duration) / AV_TIME_BASE;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVStream *st = ic->streams[i];
        const AVCodecParameters *par = st->codecpar;
        StreamFacts s;
        s.type = par->codec_type;
        s.codec = par->codec_id;
        s.profile = par->profile;
        s.level = par->level;
        s.width = par->width;
        s.format = par->format;
        s.height = par->height;
        s.sample_rate = par->sample_rate;
        s.frame_rate = st->avg_frame_rate;
        s.time_base = st->time_base;
        facts.streams.push_back(s);
    }

    double first = 1e300, last = -1e300;
    std::map<int, double> untimed; // stream -> sum of durations
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(ic, pkt) >= 0) {
        const AVStream *st = ic->streams[pkt->stream_index];
        facts.streams[size_t(pkt->stream_index)].packets++;
        const AVMediaType type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) {
            const double tb = av_q2d(st->time_base);
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts == AV_NOPTS_VALUE) {
                untimed[pkt->stream_index] += double(pkt->duration) * tb;
            } else {
                first = std::min(first, double(ts) * tb);
                last = std::max(last, double(ts + pkt->duration) * tb);
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (last > first)
        facts.span = last - first;
    for (const auto &[stream, sum] : untimed)
        facts.span = std::max(facts.span, sum);
    avformat_close_input(&ic);
    return facts;
}

std::vector<int64_t> luma_sums(const std::string &path)
{
    std::vector<int64_t> sums;
    fixtures::DecodeRequest request;
    fixtures::decode_stream(path, request, [&](AVFrame *frame) {
        int64_t sum = 0;
        for (int y = 0; y < frame->height; y++)
            for (int x = 0; x < frame->width; x++)
                sum += frame->data[0][y * frame->linesize[0] + x];
        sums.push_back(sum);
    });
    return sums;
}

std::vector<double> video_times(const std::string &path, AVRational *time_base)
{
    std::vector<double> times;
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return times;
    }
    const int video = avformat_find_stream_info(ic, nullptr) >= 0
                          ? av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                          : -1;
    if (video >= 0 && time_base)
        *time_base = ic->streams[video]->time_base;
    AVPacket *pkt = av_packet_alloc();
    while (video >= 0 && av_read_frame(ic, pkt) >= 0) {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == video && ts != AV_NOPTS_VALUE)
            times.push_back(double(ts) * av_q2d(ic->streams[video]->time_base));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    std::sort(times.begin(), times.end());
    return times;
}
