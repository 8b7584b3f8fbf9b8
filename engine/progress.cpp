// Progress report: the status line that overwrites itself while the loop runs
// (frames, speed, quality, size, time, bitrate, duplicates and drops), the same
// facts as key=value lines on the "progress" output, the summary of bytes per
// kind at the end with its empty-output warning, the QP histogram, PSNR, the
// per-frame video statistics file and the per-step benchmark marks. An observed
// run gets its progress events at the same pace, also when nothing is printed.
//
// The loop calls periodic_report() each iteration and report_progress() once at
// the end; the encoder calls write_video_stats() and benchmark_mark().
#include "transcode.h"
#include "observe.h"

#include "platform.h"

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstring>

int qp_histogram[52];

namespace {

int64_t last_report_time = -1; // kept across runs, as the pace of the reports

// The status line: pieces are appended and cut at the space left.
struct StatusLine {
    char text[1024] = "";
    void add(const char *fmt, ...)
    {
        size_t len = strlen(text);
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(text + len, sizeof(text) - len, fmt, ap);
        va_end(ap);
    }
};

double psnr(double error, double scale)
{
    return -10.0 * log10(error / scale);
}

int64_t total_output_size(void)
{
    if (nb_output_files < 1 || !output_files[0]->ctx->pb)
        return 0;
    AVIOContext *pb = output_files[0]->ctx->pb;
    // The I/O layer holds up to its buffer's size before the file grows: the
    // position counts those bytes too, so size and bitrate move from the start.
    const int64_t size = FFMAX(avio_size(pb), avio_tell(pb));
    return size < 0 ? 0 : size;
}

// What the first output holds so far, the bytes still in its buffer included.
int64_t bytes_written(void)
{
    if (nb_output_files < 1 || !output_files[0]->ctx->pb)
        return 0;
    AVIOContext *pb = output_files[0]->ctx->pb;
    // A muxer that went back to fill in a header leaves the position behind the end.
    return FFMAX(FFMAX(avio_tell(pb), avio_size(pb)), int64_t(0));
}

// The status line's time: the end of the last packet muxed, over the streams that
// are still going (over all of them for the last report).
int64_t output_time_reached(int is_last)
{
    int64_t pts = INT64_MIN;
    for (int i = 0; i < nb_output_streams; i++) {
        const OutStream *ost = output_streams[i];
        if ((is_last || !ost->finished) && ost->mux_end_us != AV_NOPTS_VALUE)
            pts = FFMAX(pts, ost->mux_end_us);
    }
    return pts == INT64_MIN ? 0 : pts;
}

int first_video_frames(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        const AVCodecContext *enc = output_streams[i]->enc_ctx;
        if (enc && enc->codec_type == AVMEDIA_TYPE_VIDEO)
            return output_streams[i]->frame_number;
    }
    return 0;
}

// Quality of the last coded picture, or -1 when there is none to tell.
float coded_quality(const OutStream *ost)
{
    if (ost->stream_copy || !ost->coded.have)
        return -1;
    return float(ost->coded.quality) / FF_QP2LAMBDA;
}

void add_qp_histogram(StatusLine *line, float q)
{
    long qp = lrintf(q);
    if (qp >= 0 && qp < 52)
        qp_histogram[qp]++;
    for (int j = 0; j < 32; j++)
        line->add("%X", int(lrintf(float(log2(qp_histogram[j] + 1)))));
}

void add_psnr(StatusLine *line, AVBPrint *progress, const OutStream *ost, int is_last)
{
    const AVCodecContext *enc = ost->enc_ctx;
    const char planes[] = "YUV";
    double error_sum = 0, scale_sum = 0;
    line->add("PSNR=");
    for (int j = 0; j < 3; j++) {
        double error, scale = double(enc->width) * enc->height * 255.0 * 255.0;
        if (is_last) {
            error = double(enc->error[j]);
            scale *= ost->frame_number;
        } else {
            error = double(ost->coded.error[j]);
        }
        if (j)
            scale /= 4;
        error_sum += error;
        scale_sum += scale;
        double p = psnr(error, scale);
        line->add("%c:%2.2f ", planes[j], p);
        av_bprintf(progress, "stream_%d_%d_psnr_%c=%2.2f\n", ost->file_index, ost->index,
                   planes[j] | 32, p);
    }
    double p = psnr(error_sum, scale_sum);
    line->add("*:%2.2f ", p);
    av_bprintf(progress, "stream_%d_%d_psnr_all=%2.2f\n", ost->file_index, ost->index, p);
}

void print_summary(int64_t total_size)
{
    const int64_t raw = video_size + audio_size + subtitle_size + extra_size;
    const double overhead = raw ? 100.0 * double(total_size - raw) / double(raw) : 0.0;
    av_log(nullptr, AV_LOG_INFO, "\n");
    av_log(nullptr, AV_LOG_INFO,
           "video:%1.0fkB audio:%1.0fkB subtitle:%1.0f global headers:%1.0fkB muxing overhead %f%%\n",
           video_size / 1024.0, audio_size / 1024.0, subtitle_size / 1024.0, extra_size / 1024.0,
           overhead);
    // Header bytes alone are no content: an encoder with global headers writes
    // them even when it never gets a frame.
    if (!(video_size + audio_size + subtitle_size))
        av_log(nullptr, AV_LOG_WARNING,
               "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)\n");
}

// Whether the run was cut short on purpose, so that ending before its source's
// end is no problem.
bool cut_by_options(void)
{
    for (int i = 0; i < nb_output_streams; i++)
        if (limited_by_user(output_files[output_streams[i]->file_index], output_streams[i]))
            return true;
    return false;
}

// What the output should hold: the length the recording declares, less the
// holes in its time the loop closed (each told as a problem of its own).
int64_t expected_media_us(void)
{
    const int64_t declared = observe_expected_duration();
    if (declared < 0 || !timeline_closed_us())
        return declared;
    return FFMAX(declared - timeline_closed_us(), 0);
}

} // namespace

void periodic_report(int64_t timer_start, int64_t cur_time)
{
    const bool printed = print_stats || progress_avio;
    if (!printed && !observer_wants_progress())
        return;
    if (last_report_time == -1) {
        last_report_time = cur_time;
        return;
    }
    if (cur_time - last_report_time < 500000)
        return;
    last_report_time = cur_time;
    if (printed)
        report_progress(0, timer_start, cur_time);
    observe_progress(false, timer_start, cur_time);
}

RunProgress progress_snapshot(int is_last, int64_t timer_start, int64_t now)
{
    RunProgress p;
    p.out_time_us = output_time_reached(is_last);
    p.frames = first_video_frames();
    p.bytes = bytes_written();
    p.elapsed_us = now - timer_start;
    if (p.elapsed_us > 0 && p.out_time_us > 0)
        p.speed = double(p.out_time_us) / double(p.elapsed_us);
    p.last = is_last;
    return p;
}

void report_progress(int is_last, int64_t timer_start, int64_t cur_time)
{
    const int64_t total_size = total_output_size();
    StatusLine line;
    AVBPrint progress;
    av_bprint_init(&progress, 0, AV_BPRINT_SIZE_UNLIMITED);

    const int64_t pts = output_time_reached(is_last);
    bool first_video = true;
    for (int i = 0; i < nb_output_streams; i++) {
        const OutStream *ost = output_streams[i];
        const AVCodecContext *enc = ost->enc_ctx;
        const float q = coded_quality(ost);
        if (enc && enc->codec_type == AVMEDIA_TYPE_VIDEO && !first_video) {
            line.add("q=%2.1f ", q);
            av_bprintf(&progress, "stream_%d_%d_q=%.1f\n", ost->file_index, ost->index, q);
        }
        if (enc && enc->codec_type == AVMEDIA_TYPE_VIDEO && first_video) {
            first_video = false;
            const float t = float(cur_time - timer_start) / 1000000.0f;
            const float fps = t > 1 ? float(ost->frame_number) / t : 0;
            line.add("frame=%5d fps=%3.*f q=%3.1f ", ost->frame_number, fps < 9.95f, fps, q);
            av_bprintf(&progress, "frame=%d\n", ost->frame_number);
            av_bprintf(&progress, "fps=%.1f\n", fps);
            av_bprintf(&progress, "stream_%d_%d_q=%.1f\n", ost->file_index, ost->index, q);
            if (is_last)
                line.add("L");
            if (qp_hist)
                add_qp_histogram(&line, q);
            if ((enc->flags & AV_CODEC_FLAG_PSNR) && ost->encoding_needed &&
                (ost->coded.have || is_last))
                add_psnr(&line, &progress, ost, is_last);
        }
    }

    const int64_t us = pts < 0 ? -pts : pts;
    const int secs = int(us / 1000000 % 60), mins = int(us / 60000000 % 60);
    const int hours = int(us / 3600000000LL);
    const int micro = int(us % 1000000);
    const double bitrate = pts ? double(total_size) * 8 / (double(pts) / 1000.0) : 0;

    line.add("size=%8.0fkB time=", total_size / 1024.0);
    line.add("%s%02d:%02d:%02d.%02d ", pts < 0 ? "-" : "", hours, mins, secs, micro / 10000);
    line.add("bitrate=%6.1fkbits/s", bitrate);
    av_bprintf(&progress, "total_size=%" PRId64 "\n", total_size);
    av_bprintf(&progress, "out_time_ms=%" PRId64 "\n", pts);
    av_bprintf(&progress, "out_time=%s%02d:%02d:%02d.%06d\n", pts < 0 ? "-" : "", hours, mins, secs,
               micro);
    if (nb_frames_dup || nb_frames_drop)
        line.add(" dup=%d drop=%d", nb_frames_dup, nb_frames_drop);
    av_bprintf(&progress, "dup_frames=%d\n", nb_frames_dup);
    av_bprintf(&progress, "drop_frames=%d\n", nb_frames_drop);

    if (print_stats || is_last) {
        av_log(nullptr, AV_LOG_INFO, "%s    \r", line.text);
        fflush(stderr);
    }
    if (progress_avio) {
        av_bprintf(&progress, "progress=%s\n", is_last ? "end" : "continue");
        avio_write(progress_avio, (const unsigned char *)progress.str,
                   int(FFMIN(progress.len, progress.size - 1)));
        avio_flush(progress_avio);
        if (is_last)
            avio_closep(&progress_avio);
    }
    av_bprint_finalize(&progress, nullptr);

    if (is_last) {
        print_summary(total_size);
        if (engine_noted_stop() == StopCause::None)
            account_judge(pts, expected_media_us(), cut_by_options());
        observe_progress(true, timer_start, cur_time);
    }
}

void write_video_stats(OutStream *ost, int frame_size)
{
    if (!vstats_file) {
        vstats_file = fopen(vstats_filename, "w");
        if (!vstats_file) {
            perror("fopen");
            // Said once: without a name no statistics are asked for again this run.
            av_freep(&vstats_filename);
            return;
        }
    }
    const AVCodecContext *enc = ost->enc_ctx;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO)
        return;
    fprintf(vstats_file, "frame= %5d q= %2.1f ", ost->frame_number,
            ost->coded.quality / double(FF_QP2LAMBDA));
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        fprintf(vstats_file, "PSNR= %6.2f ",
                psnr(double(ost->coded.error[0]), double(enc->width) * enc->height * 255.0 * 255.0));
    fprintf(vstats_file, "f_size= %6d ", frame_size);
    double t = double(ost->sync_opts) * av_q2d(enc->time_base);
    if (t < 0.01)
        t = 0.01;
    const double bitrate = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
    const double avg_bitrate = double(video_size) * 8 / t / 1000.0;
    fprintf(vstats_file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
            video_size / 1024.0, t, bitrate, avg_bitrate);
    fprintf(vstats_file, "type= %c\n", av_get_picture_type_char(AVPictureType(ost->coded.pict_type)));
}

void benchmark_mark(const char *fmt, ...)
{
    if (!do_benchmark_all)
        return;
    const int64_t now = plat_user_time_us();
    if (fmt) {
        char text[1024];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(text, sizeof(text), fmt, ap);
        va_end(ap);
        printf("bench: %8" PRIu64 " %s \n", uint64_t(now - benchmark_clock), text);
    }
    benchmark_clock = now;
}
