// Output side of the transcode loop: pulling finished frames out of the
// filtergraph sinks, the recording-time check, frame-rate synchronisation of
// video (duplicating and dropping frames), encoding audio, video and subtitles
// (a frame may give any number of packets), the last checks before muxing (the
// timestamp order the muxer needs, frame limits), the bitstream filters, the
// interleaved write, and draining the encoders at the end.
//
// Called by the loop (loop.cpp) and by decoding (decode.cpp: subtitles, copied
// packets); see transcode.h.
#include "transcode.h"
#include "observe.h"

#include <cinttypes>
#include <climits>
#include <cmath>

namespace {

OutFile *file_of(const OutStream *ost)
{
    return output_files[ost->file_index];
}

InStream *source_of(const OutStream *ost)
{
    return ost->source_index >= 0 ? input_streams[ost->source_index] : nullptr;
}

const char *error_text(int err, char *buf, size_t size)
{
    av_strerror(err, buf, size);
    return buf;
}

// ---- muxing ---------------------------------------------------------------------

void write_packet(OutFile *of, OutStream *ost, AVPacket *pkt)
{
    AVStream *st = ost->st;
    pkt->stream_index = ost->index;
    if (pkt->dts != AV_NOPTS_VALUE)
        ost->last_mux_dts = pkt->dts;
    const int64_t start = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (start != AV_NOPTS_VALUE) {
        int64_t end = av_rescale_q(av_sat_add64(start, pkt->duration), st->time_base, AV_TIME_BASE_Q);
        if (ost->mux_end_us == AV_NOPTS_VALUE || end > ost->mux_end_us)
            ost->mux_end_us = end;
    }
    int ret = av_interleaved_write_frame(of->ctx, pkt);
    if (ret >= 0) {
        of->packets_written++;
        ost->packets_muxed++;
        return;
    }
    print_error("av_interleaved_write_frame()", ret);
    // A refused packet (bad timestamps) costs that packet; a failed write costs the file.
    if (of->ctx->pb && of->ctx->pb->error < 0)
        note_write_error(of, of->ctx->pb->error);
}

void report_bsf_failure(const OutStream *ost, const AVBSFContext *bsf, int err)
{
    av_log(nullptr, AV_LOG_ERROR, "Failed to open bitstream filter %s for stream %d with codec %s",
           bsf->filter->name, ost->st->index, ost->enc ? ost->enc->name : "copy");
    print_error("", err);
}

// Passes pkt (nullptr: end of stream) through filter `idx` of the chain and
// everything it gives out through the rest; the end writes to the muxer.
void run_bsf_chain(OutFile *of, OutStream *ost, int idx, AVPacket *pkt)
{
    if (idx == ost->nb_bsfs) {
        if (!pkt)
            return;
        av_packet_rescale_ts(pkt, ost->bsfs[idx - 1]->time_base_out, ost->st->time_base);
        write_packet(of, ost, pkt);
        return;
    }
    AVBSFContext *bsf = ost->bsfs[idx];
    int ret = av_bsf_send_packet(bsf, pkt);
    if (ret < 0) {
        report_bsf_failure(ost, bsf, ret);
        if (!pkt)
            return;
        if (exit_on_error)
            av_packet_unref(pkt);
        else // goes on as it came
            run_bsf_chain(of, ost, idx + 1, pkt);
        return;
    }
    AVPacket *out = av_packet_alloc();
    if (!out)
        return;
    while ((ret = av_bsf_receive_packet(bsf, out)) >= 0)
        run_bsf_chain(of, ost, idx + 1, out);
    av_packet_free(&out);
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        report_bsf_failure(ost, bsf, ret);
    if (!pkt)
        run_bsf_chain(of, ost, idx + 1, nullptr);
}

// ---- encoding ------------------------------------------------------------------

// The statistics the encoder attached to its packet: quality, picture type and,
// when computed, the squared error of each plane.
void note_coded_stats(OutStream *ost, const AVPacket *pkt)
{
    size_t size = 0;
    const uint8_t *sd = av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!sd || size < 4)
        return;
    ost->coded.have = 1;
    ost->coded.quality = int(AV_RL32(sd));
    ost->coded.pict_type = size > 4 ? int(sd[4]) : int(AV_PICTURE_TYPE_NONE);
    ost->coded.error_count = size > 5 ? sd[5] : 0;
    for (int i = 0; i < 4; i++)
        ost->coded.error[i] = i < ost->coded.error_count && size >= size_t(16 + 8 * i)
                                  ? AV_RL64(sd + 8 + 8 * i)
                                  : 0;
}

// Muxes every packet the encoder has ready. Returns 0 when it wants more input,
// AVERROR_EOF when it is drained, or an encoding error. *last_size is the size of
// the last packet (0 when none came).
int receive_packets(OutStream *ost, int *last_size)
{
    AVCodecContext *enc = ost->enc_ctx;
    OutFile *of = file_of(ost);
    AVPacket *pkt = av_packet_alloc();
    if (!pkt)
        return AVERROR(ENOMEM);
    int ret;
    *last_size = 0;
    while ((ret = avcodec_receive_packet(enc, pkt)) >= 0) {
        note_coded_stats(ost, pkt);
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO && pkt->pts == AV_NOPTS_VALUE &&
            !(ost->enc->capabilities & AV_CODEC_CAP_DELAY))
            pkt->pts = ost->sync_opts;
        av_packet_rescale_ts(pkt, enc->time_base, ost->st->time_base);
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO)
            video_size += pkt->size;
        else
            audio_size += pkt->size;
        *last_size = pkt->size;
        mux_packet(of, ost, pkt);
        if (ost->logfile && enc->stats_out)
            fprintf(ost->logfile, "%s", enc->stats_out);
    }
    av_packet_free(&pkt);
    return ret == AVERROR(EAGAIN) ? 0 : ret;
}

void prepare_video_frame(OutStream *ost, AVFrame *frame)
{
    AVCodecContext *enc = ost->enc_ctx;
    if ((enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) &&
        ost->top_field_first >= 0)
        frame->top_field_first = !!ost->top_field_first;
    frame->quality = enc->global_quality;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (ost->forced_kf_index < ost->forced_kf_count &&
        frame->pts >= ost->forced_kf_pts[ost->forced_kf_index]) {
        frame->pict_type = AV_PICTURE_TYPE_I;
        ost->forced_kf_index++;
    }
}

// A frame the encoder refused after `encoded` of its `copies`: the rest is
// dropped, and the time it would have filled passes all the same, so the frames
// after it are not taken for late ones and duplicated (over and over, while the
// encoder keeps failing). The counters say what was really written.
void give_up_frame(OutStream *ost, int copies, int encoded)
{
    ost->sync_opts += copies - encoded;
    nb_frames_dup -= copies - 1 - FFMAX(encoded - 1, 0);
    if (!encoded)
        nb_frames_drop++;
}

// An encoder that failed leaves a hole in its stream (and may be in no state to
// go on): the run fails.
void encoder_failed(const OutStream *ost, const char *kind, int err)
{
    char text[200], reason[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(err, reason, sizeof(reason));
    snprintf(text, sizeof(text), "%s encoding of output stream #%d:%d failed: %s", kind, ost->file_index,
             ost->index, reason);
    note_lost_media(err == AVERROR(ENOMEM) ? RunFailure::Other : RunFailure::EncoderRefused, err, text);
}

} // namespace

namespace {

// Encodes `frame` `copies` times from ost->sync_opts on, one timestamp apart.
void encode_copies(OutStream *ost, AVFrame *frame, int copies)
{
    int frame_size = 0;
    for (int i = 0; i < copies; i++) {
        frame->pts = ost->sync_opts;
        if (!within_recording_time(ost))
            return;
        prepare_video_frame(ost, frame);
        benchmark_mark(nullptr);
        int ret = avcodec_send_frame(ost->enc_ctx, frame);
        if (ret >= 0)
            ret = receive_packets(ost, &frame_size);
        benchmark_mark("encode_video %d.%d", ost->file_index, ost->index);
        if (ret < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Video encoding failed\n");
            give_up_frame(ost, copies, i);
            encoder_failed(ost, "Video", ret);
            return;
        }
        ost->sync_opts++;
        ost->frame_number++;
    }
    if (vstats_filename && frame_size)
        write_video_stats(ost, frame_size);
}

// A picture that starts later than its output (seconds after the sound) is
// shown from the output's start: its first picture is held until it begins, so
// the picture track starts with the sound in every player, also in those that
// ignore an MP4's edit list or give up looking for the picture before it. The
// constant rate holds it with copies up to the discontinuity threshold; beyond
// that, and for pictures at their own times, one copy at the start stands for
// the time before the first picture, as one long frame.
bool hold_first_picture(const OutStream *ost, double frame_pts)
{
    if (ost->frame_number || !ost->frame_rate.num)
        return false;
    const double late = (frame_pts - double(ost->sync_opts)) * av_q2d(ost->enc_ctx->time_base);
    if (ost->follows_source_times)
        return late > av_q2d(av_inv_q(ost->frame_rate));
    return effective_video_sync(file_of(ost)->ctx->oformat) == VSYNC_CFR && late > dts_delta_threshold;
}

} // namespace

// Encodes `frame` as many times as the frame-rate synchronisation says.
void encode_video_frame(OutStream *ost, AVFrame *frame)
{
    const double pts = frame->pts == AV_NOPTS_VALUE ? double(ost->sync_opts) : double(frame->pts);
    if (hold_first_picture(ost, pts)) {
        nb_frames_dup++;
        encode_copies(ost, frame, 1);
    }
    encode_copies(ost, frame, video_frames_to_emit(ost, pts));
}

namespace {

void encode_audio_frame(OutStream *ost, AVFrame *frame)
{
    if (!within_recording_time(ost))
        return;
    if (frame->pts == AV_NOPTS_VALUE || audio_sync_method < 0)
        frame->pts = ost->sync_opts;
    ost->sync_opts = av_sat_add64(frame->pts, frame->nb_samples);
    benchmark_mark(nullptr);
    int size;
    int ret = avcodec_send_frame(ost->enc_ctx, frame);
    if (ret >= 0)
        ret = receive_packets(ost, &size);
    benchmark_mark("encode_audio %d.%d", ost->file_index, ost->index);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Audio encoding failed (avcodec_encode_audio2)\n");
        encoder_failed(ost, "Audio", ret);
    }
}

// Takes every frame the sink of `ost` holds and encodes it.
int drain_sink(OutStream *ost)
{
    if (!ost->filtered_frame && !(ost->filtered_frame = av_frame_alloc()))
        return AVERROR(ENOMEM);
    AVFrame *frame = ost->filtered_frame;
    AVFilterContext *sink = ost->filter->filter;
    AVCodecContext *enc = ost->enc_ctx;
    const OutFile *of = file_of(ost);
    for (;;) {
        int ret = av_buffersink_get_frame_flags(sink, frame, AV_BUFFERSINK_FLAG_NO_REQUEST);
        if (ret < 0) {
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
                char text[128];
                av_log(nullptr, AV_LOG_WARNING, "Error in av_buffersink_get_buffer_ref(): %s\n",
                       error_text(ret, text, sizeof(text)));
            }
            return 0;
        }
        // A finished stream takes nothing more; its frames are only let go.
        if (ost->finished || !avcodec_is_open(enc)) {
            av_frame_unref(frame);
            continue;
        }
        if (frame->pts != AV_NOPTS_VALUE) {
            frame->pts = av_sat_sub64(av_rescale_q(frame->pts, av_buffersink_get_time_base(sink), enc->time_base),
                                      av_rescale_q(of->start_time, AV_TIME_BASE_Q, enc->time_base));
            if (frame->pts < 0 && of->start_time) {
                av_frame_unref(frame);
                continue;
            }
        }
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (!ost->frame_aspect_ratio)
                enc->sample_aspect_ratio = frame->sample_aspect_ratio;
            encode_video_frame(ost, frame);
        } else if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
            encode_audio_frame(ost, frame);
        }
        av_frame_unref(frame);
    }
}

} // namespace

// ---- shared with the loop and decoding -----------------------------------------

void finish_output_stream(OutStream *ost)
{
    OutFile *of = file_of(ost);
    ost->finished = 1;
    if (of->shortest)
        for (unsigned i = 0; i < of->ctx->nb_streams; i++)
            output_streams[of->first_stream + int(i)]->finished = 1;
}

bool within_recording_time(OutStream *ost)
{
    const OutFile *of = file_of(ost);
    if (of->recording_time != NO_DURATION_LIMIT &&
        av_compare_ts(ost->sync_opts - ost->first_pts, ost->enc_ctx->time_base, of->recording_time,
                      AV_TIME_BASE_Q) >= 0) {
        finish_output_stream(ost);
        return false;
    }
    return true;
}

int effective_video_sync(const AVOutputFormat *fmt)
{
    if (video_sync_method != VSYNC_AUTO)
        return video_sync_method;
    if (!(fmt->flags & AVFMT_VARIABLE_FPS))
        return VSYNC_CFR;
    return (fmt->flags & AVFMT_NOTIMESTAMPS) ? VSYNC_PASSTHROUGH : VSYNC_VFR;
}

int video_frames_to_emit(OutStream *ost, double frame_pts)
{
    const InStream *ist = source_of(ost);
    double duration = 0;
    if (ist && ist->st->start_time != AV_NOPTS_VALUE && ist->saw_first_ts && ost->frame_rate.num)
        duration = 1 / (av_q2d(ost->frame_rate) * av_q2d(ost->enc_ctx->time_base));
    const double delta = frame_pts - double(ost->sync_opts) + duration;

    double frames = 1;
    // Pictures of a varying rate keep their own times; one that comes with
    // (or before) the time of the one before it takes the next tick.
    const int sync = ost->follows_source_times ? VSYNC_PASSTHROUGH : effective_video_sync(file_of(ost)->ctx->oformat);
    switch (sync) {
    case VSYNC_CFR:
        if (delta < -1.1)
            frames = 0;
        else if (delta > 1.1)
            frames = std::nearbyint(delta);
        // A gap in the recording longer than a timestamp discontinuity is not filled
        // with copies of the picture before it (hours of them for a camera that
        // paused): the next frame starts at its own time, as at a variable rate.
        if (frames > 1 && delta * av_q2d(ost->enc_ctx->time_base) > dts_delta_threshold) {
            ost->sync_opts = llrint(frame_pts);
            frames = 1;
        }
        break;
    case VSYNC_VFR:
        if (delta <= -0.6)
            frames = 0;
        else if (delta > 0.6)
            ost->sync_opts = llrint(frame_pts);
        break;
    default: // passthrough and drop keep the frame's own time
        ost->sync_opts = ost->follows_source_times ? FFMAX(llrint(frame_pts), ost->sync_opts) : llrint(frame_pts);
        break;
    }
    frames = FFMIN(frames, double(ost->max_frames - ost->frame_number));

    if (frames <= 0) {
        nb_frames_drop++;
        av_log(nullptr, AV_LOG_VERBOSE, "*** drop!\n");
        return 0;
    }
    if (frames > 1) {
        if (frames > dts_error_threshold * 30 || frames > INT_MAX) {
            av_log(nullptr, AV_LOG_ERROR, "%d frame duplication too large, skipping\n",
                   int(FFMIN(frames - 1, double(INT_MAX))));
            nb_frames_drop++;
            return 0;
        }
        nb_frames_dup += int(frames) - 1;
        av_log(nullptr, AV_LOG_VERBOSE, "*** %d dup!\n", int(frames) - 1);
    }
    return int(frames);
}

int drain_sinks(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (!ost->filter || !ost->filter->filter)
            continue;
        int ret = drain_sink(ost);
        if (ret < 0)
            return ret;
    }
    return 0;
}

void encode_subtitle(OutFile *of, OutStream *ost, AVSubtitle *sub)
{
    constexpr int kBufferSize = 1 << 20;
    if (!subtitle_out && !(subtitle_out = (uint8_t *)av_malloc(kBufferSize))) {
        av_log(nullptr, AV_LOG_FATAL, "Subtitle encoding failed\n");
        return;
    }
    AVCodecContext *enc = ost->enc_ctx;
    // DVB subtitles go out twice: the picture, then an empty one that clears it.
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int64_t pts = sub->pts - of->start_time;
    for (int i = 0; i < (dvb ? 2 : 1); i++) {
        ost->sync_opts = av_rescale_q(pts, AV_TIME_BASE_Q, enc->time_base);
        if (!within_recording_time(ost))
            return;
        AVSubtitle shown = *sub;
        shown.pts = pts + av_rescale_q(sub->start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        shown.end_display_time = sub->end_display_time - sub->start_display_time;
        shown.start_display_time = 0;
        if (i == 1)
            shown.num_rects = 0;
        const int size = avcodec_encode_subtitle(enc, subtitle_out, kBufferSize, &shown);
        if (size < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Subtitle encoding failed\n");
            return;
        }
        AVPacket *pkt = av_packet_alloc();
        if (!pkt || av_new_packet(pkt, size) < 0) {
            av_packet_free(&pkt);
            return;
        }
        memcpy(pkt->data, subtitle_out, size_t(size));
        pkt->pts = av_rescale_q(shown.pts, AV_TIME_BASE_Q, ost->st->time_base);
        pkt->duration = av_rescale_q(shown.end_display_time, AVRational{1, 1000}, ost->st->time_base);
        if (dvb)
            pkt->pts += 90 * (i == 0 ? shown.start_display_time : shown.end_display_time);
        pkt->dts = pkt->pts;
        subtitle_size += size;
        mux_packet(of, ost, pkt);
        av_packet_free(&pkt);
    }
}

void mux_packet(OutFile *of, OutStream *ost, AVPacket *pkt)
{
    AVFormatContext *s = of->ctx;
    const AVMediaType type = ost->st->codecpar->codec_type;
    if ((type == AVMEDIA_TYPE_VIDEO && video_sync_method == VSYNC_DROP) ||
        (type == AVMEDIA_TYPE_AUDIO && audio_sync_method < 0))
        pkt->pts = pkt->dts = AV_NOPTS_VALUE;

    // The muxer takes only increasing timestamps (non-decreasing where it allows).
    // The check holds from the first packet on, a previous dts of 0 included.
    if (pkt->dts != AV_NOPTS_VALUE && ost->last_mux_dts != AV_NOPTS_VALUE) {
        const int64_t max = av_sat_add64(ost->last_mux_dts, !(s->oformat->flags & AVFMT_TS_NONSTRICT));
        if (pkt->dts < max) {
            const int level =
                av_sat_sub64(max, pkt->dts) > 2 || type == AVMEDIA_TYPE_VIDEO ? AV_LOG_WARNING : AV_LOG_DEBUG;
            av_log(s, level, "st:%d PTS: %" PRId64 " DTS: %" PRId64 " < %" PRId64 " invalid, clipping\n",
                   ost->st->index, pkt->pts, pkt->dts, max);
            if (pkt->pts >= pkt->dts)
                pkt->pts = FFMAX(pkt->pts, max);
            pkt->dts = max;
        }
    }
    if (!(type == AVMEDIA_TYPE_VIDEO && ost->encoding_needed)) {
        if (ost->frame_number >= ost->max_frames) {
            av_packet_unref(pkt);
            return;
        }
        ost->frame_number++;
    }
    if (!ost->nb_bsfs) {
        write_packet(of, ost, pkt);
        return;
    }
    av_packet_rescale_ts(pkt, ost->st->time_base, ost->bsfs[0]->time_base_in);
    run_bsf_chain(of, ost, 0, pkt);
}

void flush_bitstream_filters(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->nb_bsfs && ost->file_index >= 0)
            run_bsf_chain(file_of(ost), ost, 0, nullptr);
    }
}

void drain_encoders(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        AVCodecContext *enc = ost->enc_ctx;
        if (!ost->encoding_needed || !avcodec_is_open(enc))
            continue;
        const bool audio = enc->codec_type == AVMEDIA_TYPE_AUDIO;
        if ((audio && enc->frame_size <= 1) || (!audio && enc->codec_type != AVMEDIA_TYPE_VIDEO))
            continue;
        const char *kind = audio ? "Audio" : "Video";
        benchmark_mark(nullptr);
        int ret = avcodec_send_frame(enc, nullptr);
        if (ret >= 0 || ret == AVERROR_EOF) {
            int size;
            // After the end was sent the encoder only gives out what it holds.
            do
                ret = receive_packets(ost, &size);
            while (ret == 0 && size > 0);
        }
        benchmark_mark("flush %s %d.%d", kind, ost->file_index, ost->index);
        if (ret < 0 && ret != AVERROR_EOF) {
            av_log(nullptr, AV_LOG_FATAL, "%s encoding failed\n", kind);
            encoder_failed(ost, kind, ret);
            return;
        }
    }
}
