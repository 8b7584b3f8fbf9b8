// Whether a recording's pictures come at a varying rate. An MP4 output holds
// pictures at a constant rate unless told otherwise: the frame-rate
// synchronisation (encode.cpp) then drops pictures that come early and repeats
// pictures before a late one. For a source whose rate varies (cameras that
// slow down when nothing moves, phones) that loses real pictures; such a
// stream's output follows the source instead, each picture once at its own
// time. Judged here, at set-up, on the timestamps of the stream's first part:
// the whole index of an MP4/MOV file, or the first packets of any other file,
// read from a second opening of it (the run's own reader stays where it is).
//
// source_rate_varies() is called by set-up (setup.cpp) only.
#include "transcode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// How much of a stream is looked at: two minutes of its pictures, and at most
// this many bytes of the file read for them.
constexpr int64_t kScanUs = 120 * int64_t(AV_TIME_BASE);
constexpr int64_t kScanBytes = 32 << 20;
// A picture further than this many frame periods from its slot is dropped or
// repeated by the constant-rate synchronisation (video_frames_to_emit).
constexpr double kSyncSlack = 1.1;

bool from_mov_family(const AVFormatContext *ic)
{
    return ic->iformat && strstr(ic->iformat->name, "mp4");
}

// The stream of `ic` that is `st` of the run's own reader.
int same_stream(const AVFormatContext *ic, const AVStream *st)
{
    if (unsigned(st->index) < ic->nb_streams && ic->streams[st->index]->id == st->id &&
        ic->streams[st->index]->codecpar->codec_type == st->codecpar->codec_type)
        return st->index;
    for (unsigned i = 0; i < ic->nb_streams; i++)
        if (ic->streams[i]->id == st->id && ic->streams[i]->codecpar->codec_type == st->codecpar->codec_type)
            return int(i);
    return -1;
}

// The timestamps (stream time base) of the stream's samples in its index, from
// its first key frame; empty when the index does not hold every sample.
std::vector<int64_t> index_times(AVStream *st)
{
    std::vector<int64_t> times;
    const int count = avformat_index_get_entries_count(st);
    if (count <= 1 || (st->nb_frames > 0 && count < st->nb_frames))
        return times;
    for (int i = 0; i < count; i++) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        if (!e || (e->flags & AVINDEX_DISCARD_FRAME) || (times.empty() && !(e->flags & AVINDEX_KEYFRAME)))
            continue;
        times.push_back(e->timestamp);
    }
    return times;
}

// The timestamps of the stream's first packets, from its first key frame, read
// from a second opening of the file (none for a pipe).
std::vector<int64_t> read_times(const InStream *ist)
{
    std::vector<int64_t> times;
    AVFormatContext *ic = nullptr;
    if (open_input_again(input_files[ist->file_index]->ctx, &ic) < 0)
        return times;
    const int index = same_stream(ic, ist->st);
    AVPacket *pkt = av_packet_alloc();
    if (index >= 0 && pkt) {
        for (unsigned i = 0; i < ic->nb_streams; i++)
            ic->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        const AVRational tb = ic->streams[index]->time_base;
        const int64_t limit = av_rescale_q(kScanUs, AV_TIME_BASE_Q, tb);
        while (av_read_frame(ic, pkt) >= 0) {
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            const bool wanted = pkt->stream_index == index && ts != AV_NOPTS_VALUE &&
                                (!times.empty() || (pkt->flags & AV_PKT_FLAG_KEY));
            av_packet_unref(pkt);
            if (wanted)
                times.push_back(ts);
            if ((wanted && ts - times.front() > limit) || avio_tell(ic->pb) > kScanBytes)
                break;
        }
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return times;
}

} // namespace

bool constant_rate_would_change(const double *periods, size_t count, double periods_in_gap)
{
    if (!count)
        return false;
    double next = std::nearbyint(periods[0]) + 1;
    for (size_t i = 1; i < count; i++) {
        const double delta = periods[i] - next + 1;
        if (delta < -kSyncSlack || (delta > kSyncSlack && delta <= periods_in_gap))
            return true;
        next = delta > periods_in_gap ? std::nearbyint(periods[i]) + 1 : next + 1;
    }
    return false;
}

bool source_rate_varies(const InStream *ist, AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return false;
    AVStream *st = ist->st;
    std::vector<int64_t> times = from_mov_family(input_files[ist->file_index]->ctx) ? index_times(st)
                                                                                     : std::vector<int64_t>();
    if (times.empty())
        times = read_times(ist);
    if (times.size() < 3)
        return false;
    std::sort(times.begin(), times.end());
    std::vector<double> periods;
    periods.reserve(times.size());
    const double period = av_q2d(av_inv_q(rate));
    for (int64_t t : times)
        periods.push_back(double(t - times.front()) * av_q2d(st->time_base) / period);
    const bool varies = constant_rate_would_change(periods.data(), periods.size(), dts_delta_threshold / period);
    if (varies)
        av_log(nullptr, AV_LOG_INFO,
               "Input stream #%d:%d: its pictures do not come at one steady rate; each is kept at its own time\n",
               ist->file_index, st->index);
    return varies;
}
