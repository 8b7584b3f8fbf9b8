// Conversion benchmark, run by hand (build/bin/bench_transcode [seconds] [long seconds] [rounds]):
//
//  throughput  the same generated 1080p H.264 + AAC recording converted by the
//              engine with the converter's twelve-item argument list, and by a bare
//              pipeline of the same library calls with the same encoder settings
//              (demux, decode, encode, mux; no filtergraph, no engine bookkeeping).
//              Prints both times and the engine's overhead.
//  memory      peak resident memory of a conversion of a short and a long recording
//              of the same kind, each in a fresh process, and how many pictures the
//              decoder's buffer pool allocated for each.
//
// Prints figures only; nothing is asserted.
#include "fixture_gen.h"
#include "ffmpeg_exec.h"
#include "pool.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double now_s()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

double cpu_s()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void check(int ret, const char *what)
{
    if (ret < 0) {
        char text[128];
        av_strerror(ret, text, sizeof(text));
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

std::vector<std::string> converter_args(const std::string &in, const std::string &out)
{
    return converter_arguments(in, out);
}

int run_engine(const std::vector<std::string> &words)
{
    std::vector<std::string> copy = words;
    std::vector<char *> argv;
    for (std::string &w : copy)
        argv.push_back(w.data());
    return ffmpeg_exec(int(argv.size()), argv.data());
}

// ---- the bare pipeline ---------------------------------------------------------------

struct Lane {
    int in_index = -1;
    AVCodecContext *dec = nullptr;
    AVCodecContext *enc = nullptr;
    AVStream *out = nullptr;
};

AVCodecContext *open_decoder(const AVStream *st)
{
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    check(avcodec_parameters_to_context(dec, st->codecpar), "decoder parameters");
    dec->pkt_timebase = st->time_base;
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "threads", "auto", 0);
    check(avcodec_open2(dec, codec, &opts), "opening a decoder");
    av_dict_free(&opts);
    return dec;
}

// The encoders the engine would open, with the same options.
AVCodecContext *open_encoder(const AVStream *in, const AVCodecContext *dec, AVFormatContext *oc)
{
    const bool video = dec->codec_type == AVMEDIA_TYPE_VIDEO;
    const AVCodec *codec = video ? avcodec_find_encoder_by_name("libx264") : avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVCodecContext *enc = avcodec_alloc_context3(codec);
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "threads", "auto", 0);
    av_dict_set(&opts, "strict", "-2", 0);
    if (video) {
        enc->width = dec->width;
        enc->height = dec->height;
        enc->pix_fmt = dec->pix_fmt;
        enc->sample_aspect_ratio = dec->sample_aspect_ratio;
        enc->framerate = in->r_frame_rate;
        enc->time_base = av_inv_q(in->r_frame_rate);
        av_dict_set(&opts, "profile", "baseline", 0);
        av_dict_set(&opts, "level", "3", 0);
    } else {
        enc->sample_fmt = dec->sample_fmt;
        enc->sample_rate = dec->sample_rate;
        av_channel_layout_copy(&enc->ch_layout, &dec->ch_layout);
        enc->time_base = AVRational{1, dec->sample_rate};
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(enc, codec, &opts), "opening an encoder");
    av_dict_free(&opts);
    return enc;
}

void write_packets(Lane &lane, AVFormatContext *oc, AVPacket *pkt)
{
    while (avcodec_receive_packet(lane.enc, pkt) >= 0) {
        av_packet_rescale_ts(pkt, lane.enc->time_base, lane.out->time_base);
        pkt->stream_index = lane.out->index;
        check(av_interleaved_write_frame(oc, pkt), "writing");
    }
}

void encode(Lane &lane, AVFormatContext *oc, AVFrame *frame, AVPacket *pkt)
{
    if (frame)
        frame->pict_type = AV_PICTURE_TYPE_NONE;
    check(avcodec_send_frame(lane.enc, frame), "encoding");
    write_packets(lane, oc, pkt);
}

void decode(Lane &lane, AVFormatContext *oc, const AVPacket *in, AVFrame *frame, AVPacket *pkt)
{
    if (avcodec_send_packet(lane.dec, in) < 0)
        return;
    while (avcodec_receive_frame(lane.dec, frame) >= 0) {
        frame->pts = av_rescale_q(frame->best_effort_timestamp, lane.dec->pkt_timebase, lane.enc->time_base);
        encode(lane, oc, frame, pkt);
        av_frame_unref(frame);
    }
}

void bare_pipeline(const std::string &in_path, const std::string &out_path)
{
    AVFormatContext *ic = nullptr;
    check(avformat_open_input(&ic, in_path.c_str(), nullptr, nullptr), "opening the input");
    check(avformat_find_stream_info(ic, nullptr), "probing");
    AVFormatContext *oc = nullptr;
    check(avformat_alloc_output_context2(&oc, nullptr, nullptr, out_path.c_str()), "output context");

    std::vector<Lane> lanes(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVStream *st = ic->streams[i];
        const AVMediaType type = st->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        Lane &lane = lanes[i];
        lane.in_index = int(i);
        lane.dec = open_decoder(st);
        lane.enc = open_encoder(st, lane.dec, oc);
        lane.out = avformat_new_stream(oc, nullptr);
        check(avcodec_parameters_from_context(lane.out->codecpar, lane.enc), "stream parameters");
        lane.out->time_base = lane.enc->time_base;
    }
    check(avio_open(&oc->pb, out_path.c_str(), AVIO_FLAG_WRITE), "opening the output");
    check(avformat_write_header(oc, nullptr), "writing the header");

    AVPacket *in = av_packet_alloc(), *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    while (av_read_frame(ic, in) >= 0) {
        Lane &lane = lanes[size_t(in->stream_index)];
        if (lane.dec)
            decode(lane, oc, in, frame, pkt);
        av_packet_unref(in);
    }
    for (Lane &lane : lanes) {
        if (!lane.dec)
            continue;
        decode(lane, oc, nullptr, frame, pkt);
        encode(lane, oc, nullptr, pkt);
    }
    check(av_write_trailer(oc), "writing the trailer");

    for (Lane &lane : lanes) {
        avcodec_free_context(&lane.dec);
        avcodec_free_context(&lane.enc);
    }
    av_frame_free(&frame);
    av_packet_free(&in);
    av_packet_free(&pkt);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    avformat_close_input(&ic);
}

// ---- memory, in a fresh process --------------------------------------------------------

struct ChildFigures {
    long max_rss_kib = 0;
    long long pool_allocations = -1;
    int status = -1;
};

ChildFigures convert_in_child(const char *self, const std::string &in, const std::string &out)
{
    ChildFigures figures;
    int fds[2];
    if (pipe(fds))
        return figures;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl(self, self, "--convert", in.c_str(), out.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;)
        text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    figures.max_rss_kib = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    sscanf(text.c_str(), "pool_allocations=%lld", &figures.pool_allocations);
    return figures;
}

int convert_and_report(const char *in, const char *out)
{
    // Log output would only cost time here.
    av_log_set_level(AV_LOG_ERROR);
    int ret = run_engine(converter_args(in, out));
    printf("pool_allocations=%lld\n", (long long)frame_pool_buffers_allocated());
    return ret == 0 ? 0 : 1;
}

std::string generated(double seconds)
{
    const double start = now_s();
    std::string path = fixtures::clip_path(fixtures::benchmark_1080p_recipe(seconds));
    printf("recording: %.0f s of 1920x1080 25 fps H.264 + AAC (%s), ready after %.1f s\n", seconds,
           path.c_str(), now_s() - start);
    fflush(stdout);
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--convert")
        return convert_and_report(argv[2], argv[3]);

    const double seconds = argc > 1 ? atof(argv[1]) : 20;
    const double long_seconds = argc > 2 ? atof(argv[2]) : 60;
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 3;
    const std::string dir = fixtures::fixture_dir();
    try {
        const std::string in = generated(seconds);

        // Alternating rounds; the best of each side counts, so that other work on
        // the machine disturbs the comparison less.
        printf("\nthroughput (%d alternating rounds; wall clock and CPU time of the process)\n", rounds);
        av_log_set_level(AV_LOG_ERROR);
        double engine_s = 1e300, engine_cpu = 1e300, bare_s = 1e300, bare_cpu = 1e300;
        for (int round = 0; round < rounds; round++) {
            double t0 = now_s(), c0 = cpu_s();
            int status = run_engine(converter_args(in, dir + "/bench_engine.mp4"));
            const double e = now_s() - t0, ec = cpu_s() - c0;
            t0 = now_s();
            c0 = cpu_s();
            bare_pipeline(in, dir + "/bench_bare.mp4");
            const double b = now_s() - t0, bc = cpu_s() - c0;
            printf("  round %d: engine (status %d) %7.2f s cpu %7.2f s   bare %7.2f s cpu %7.2f s\n", round + 1,
                   status, e, ec, b, bc);
            fflush(stdout);
            engine_s = std::min(engine_s, e);
            engine_cpu = std::min(engine_cpu, ec);
            bare_s = std::min(bare_s, b);
            bare_cpu = std::min(bare_cpu, bc);
        }
        printf("  best engine:         %7.2f s  cpu %7.2f s\n", engine_s, engine_cpu);
        printf("  best bare pipeline:  %7.2f s  cpu %7.2f s\n", bare_s, bare_cpu);
        printf("  engine / bare:       %7.3f     cpu %7.3f   (overhead %+.1f %% wall, %+.1f %% cpu)\n",
               engine_s / bare_s, engine_cpu / bare_cpu, 100 * (engine_s / bare_s - 1),
               100 * (engine_cpu / bare_cpu - 1));
        fflush(stdout);

        printf("\nmemory (each conversion in a fresh process)\n");
        const std::string long_in = generated(long_seconds);
        const ChildFigures a = convert_in_child(argv[0], in, dir + "/bench_mem_short.mp4");
        const ChildFigures b = convert_in_child(argv[0], long_in, dir + "/bench_mem_long.mp4");
        printf("  %3.0f s: status %d, peak resident %8ld KiB, pool pictures allocated %lld (%0.f frames)\n",
               seconds, a.status, a.max_rss_kib, a.pool_allocations, seconds * 25);
        printf("  %3.0f s: status %d, peak resident %8ld KiB, pool pictures allocated %lld (%0.f frames)\n",
               long_seconds, b.status, b.max_rss_kib, b.pool_allocations, long_seconds * 25);
        if (a.max_rss_kib > 0)
            printf("  peak resident, long / short: %.3f (%+.1f %%)\n", double(b.max_rss_kib) / double(a.max_rss_kib),
                   100.0 * (double(b.max_rss_kib) / double(a.max_rss_kib) - 1));
    } catch (const std::exception &e) {
        fprintf(stderr, "bench_transcode: %s\n", e.what());
        return 1;
    }
    return 0;
}
