// The transcode loop: transcode_loop() runs after set-up until no output needs
// more (or a key or a signal ends it), and then finishes the run's media work:
// the decoders and encoders are drained, the trailers written, the final report
// printed and the codecs closed.
//
// Each step serves the output stream that is furthest behind: it asks that
// stream's filtergraph for a frame, or reads one packet from the input that
// feeds it (repairing its timestamps here: wrap-around, offsets and scale,
// discontinuities), decodes it (decode.cpp) and encodes what the sinks hold
// (encode.cpp). Called only by ffmpeg_exec().
#include "transcode.h"
#include "observe.h"

#include <cinttypes>

namespace {

// ---- which output is served next --------------------------------------------------

bool size_limit_reached(const OutFile *of)
{
    if (of->size_limit == NO_SIZE_LIMIT || !of->size_limit || !of->ctx->pb)
        return false;
    return avio_seek(of->ctx->pb, 0, SEEK_CUR) >= int64_t(FFMIN(of->size_limit, uint64_t(INT64_MAX)));
}

bool output_needed(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        OutFile *of = output_files[ost->file_index];
        if (ost->finished || size_limit_reached(of))
            continue;
        if (ost->frame_number >= ost->max_frames) {
            for (unsigned j = 0; j < of->ctx->nb_streams; j++)
                finish_output_stream(output_streams[of->first_stream + int(j)]);
            continue;
        }
        return true;
    }
    av_log(nullptr, AV_LOG_VERBOSE, "No more output streams to write to, finishing.\n");
    return false;
}

// The available, unfinished output stream whose muxed time is smallest (a stream
// that muxed nothing yet counts as being at 0); the first wins a tie.
OutStream *pick_output_stream(void)
{
    OutStream *pick = nullptr;
    int64_t best = INT64_MAX;
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->unavailable || ost->finished)
            continue;
        const int64_t dts = ost->last_mux_dts == AV_NOPTS_VALUE
                                ? 0
                                : av_rescale_q(ost->last_mux_dts, ost->st->time_base, AV_TIME_BASE_Q);
        if (dts < best) {
            best = dts;
            pick = ost;
        }
    }
    return pick;
}

void clear_waiting_flags(void)
{
    for (int i = 0; i < nb_input_files; i++)
        input_files[i]->again = 0;
    for (int i = 0; i < nb_output_streams; i++)
        output_streams[i]->unavailable = 0;
}

// The graph input to read for: the one whose source was asked most often in
// vain. When no source counted a request, the first readable input still gets
// read, so a graph can never wait forever on an input nobody reads.
InStream *input_to_feed(const Filtergraph *fg)
{
    InStream *pick = nullptr, *first = nullptr;
    unsigned most = 0;
    for (int i = 0; i < fg->nb_inputs; i++) {
        const GraphInput *in = fg->inputs[i];
        const InFile *f = input_files[in->ist->file_index];
        if (f->eof_reached || f->again)
            continue;
        if (!first)
            first = in->ist;
        const unsigned failed = in->filter ? av_buffersrc_get_nb_failed_requests(in->filter) : 0;
        if (failed > most) {
            most = failed;
            pick = in->ist;
        }
    }
    return pick ? pick : first;
}

// ---- reading ----------------------------------------------------------------------------

// Timestamps near the end of a wrapping counter that belong before the file's
// start are moved back by one wrap.
void correct_wrap(const InFile *ifile, InStream *ist, AVPacket *pkt)
{
    const AVStream *st = ist->st;
    const AVFormatContext *ic = ifile->ctx;
    if (ist->wrap_correction_done || ic->start_time == AV_NOPTS_VALUE || st->pts_wrap_bits > 63 ||
        st->pts_wrap_bits < 1)
        return;
    const int bits = st->pts_wrap_bits;
    const int64_t stime = av_rescale_q(ic->start_time, AV_TIME_BASE_Q, st->time_base);
    const int64_t stime2 = int64_t(uint64_t(stime) + (uint64_t(1) << bits));
    const int64_t half = int64_t(uint64_t(1) << (bits - 1));
    ist->wrap_correction_done = 1;
    if (stime2 > stime && pkt->dts != AV_NOPTS_VALUE && pkt->dts > av_sat_add64(stime, half)) {
        pkt->dts = int64_t(uint64_t(pkt->dts) - (uint64_t(1) << bits));
        ist->wrap_correction_done = 0;
    }
    if (stime2 > stime && pkt->pts != AV_NOPTS_VALUE && pkt->pts > av_sat_add64(stime, half)) {
        pkt->pts = int64_t(uint64_t(pkt->pts) - (uint64_t(1) << bits));
        ist->wrap_correction_done = 0;
    }
}

int64_t scale_timestamp(int64_t ts, double scale)
{
    if (ts == AV_NOPTS_VALUE || scale == 1.0)
        return ts;
    const double scaled = double(ts) * scale;
    if (!(scaled > double(INT64_MIN) && scaled < double(INT64_MAX)))
        return AV_NOPTS_VALUE;
    return int64_t(scaled); // toward zero
}

void apply_offset_and_scale(const InFile *ifile, const InStream *ist, AVPacket *pkt)
{
    const int64_t offset =
        av_rescale_q(av_sat_sub64(ifile->ts_offset, ist->ts_rebase), AV_TIME_BASE_Q, ist->st->time_base);
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts = av_sat_add64(pkt->dts, offset);
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts = av_sat_add64(pkt->pts, offset);
    pkt->dts = scale_timestamp(pkt->dts, ist->ts_scale);
    pkt->pts = scale_timestamp(pkt->pts, ist->ts_scale);
}

// How much of the recording's time the loop closed (jumps forward it did not
// keep); what the recording declares is that much longer than its media.
int64_t closed_timeline_us;

void note_timeline_closed(int64_t jump_us, int64_t at_us)
{
    closed_timeline_us = av_sat_add64(closed_timeline_us, jump_us);
    account_timeline_gap(jump_us, at_us);
}

bool out_of_range(int64_t delta, int64_t threshold, bool subtitle)
{
    return delta < -threshold || (delta > threshold && !subtitle);
}

// A jump against the time the stream expects: formats whose timestamps may
// restart (MPEG-TS) shift the file's offset over it; in others an absurd
// timestamp is dropped.
void handle_discontinuity(InFile *ifile, const InStream *ist, AVPacket *pkt)
{
    if (pkt->dts == AV_NOPTS_VALUE || ist->next_dts == AV_NOPTS_VALUE || copy_ts)
        return;
    const AVStream *st = ist->st;
    const bool subtitle = st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
    const int64_t pkt_dts = av_rescale_q(pkt->dts, st->time_base, AV_TIME_BASE_Q);
    int64_t delta = av_sat_sub64(pkt_dts, ist->next_dts);

    if (ifile->ctx->iformat->flags & AVFMT_TS_DISCONT) {
        const int64_t threshold = int64_t(dts_delta_threshold * AV_TIME_BASE);
        if (out_of_range(delta, threshold, subtitle) ||
            (ist->pts != AV_NOPTS_VALUE && pkt_dts + 1 < ist->pts)) {
            // A hole in the recording's time is closed here: told, as the
            // output is then shorter than the time the recording spans.
            if (delta > threshold && !subtitle)
                note_timeline_closed(delta, ist->next_dts);
            ifile->ts_offset = av_sat_sub64(ifile->ts_offset, delta);
            av_log(nullptr, AV_LOG_DEBUG, "timestamp discontinuity %" PRId64 ", new offset= %" PRId64 "\n",
                   delta, ifile->ts_offset);
            const int64_t shift = av_rescale_q(delta, AV_TIME_BASE_Q, st->time_base);
            pkt->dts = av_sat_sub64(pkt->dts, shift);
            if (pkt->pts != AV_NOPTS_VALUE)
                pkt->pts = av_sat_sub64(pkt->pts, shift);
        }
        return;
    }
    const int64_t threshold = int64_t(double(dts_error_threshold) * AV_TIME_BASE);
    if (out_of_range(delta, threshold, subtitle)) {
        av_log(nullptr, AV_LOG_WARNING, "DTS %" PRId64 ", next:%" PRId64 " st:%d invalid dropping\n",
               pkt->dts, ist->next_dts, pkt->stream_index);
        pkt->dts = AV_NOPTS_VALUE;
    }
    if (pkt->pts != AV_NOPTS_VALUE) {
        const int64_t pkt_pts = av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
        delta = av_sat_sub64(pkt_pts, ist->next_dts);
        if (out_of_range(delta, threshold, subtitle)) {
            av_log(nullptr, AV_LOG_WARNING, "PTS %" PRId64 ", next:%" PRId64 " invalid dropping st:%d\n",
                   pkt->pts, ist->next_dts, pkt->stream_index);
            pkt->pts = AV_NOPTS_VALUE;
        }
    }
}

// The input ended (or failed): its decoders give out what they hold, and the
// outputs it feeds directly without a filtergraph are done.
void end_input_file(InFile *ifile)
{
    ifile->eof_reached = 1;
    for (int i = 0; i < ifile->stream_count; i++) {
        const int index = ifile->first_stream + i;
        InStream *ist = input_streams[index];
        if (ist->decoding_needed) {
            decode_input_packet(ist, nullptr);
            check_stream_reached_its_end(ist);
        }
        for (int j = 0; j < nb_output_streams; j++) {
            OutStream *ost = output_streams[j];
            if (ost->source_index == index &&
                (ost->stream_copy || ost->enc_ctx->codec_type == AVMEDIA_TYPE_SUBTITLE))
                finish_output_stream(ost);
        }
    }
}

int feed_input_packet(InFile *ifile)
{
    AVFormatContext *ic = ifile->ctx;
    AVPacket *pkt = av_packet_alloc();
    if (!pkt)
        return AVERROR(ENOMEM);
    // The one wait of the loop that a stop may break off.
    set_reading_input(true);
    int ret = av_read_frame(ic, pkt);
    set_reading_input(false);
    if (ret == AVERROR(EAGAIN)) {
        ifile->again = 1;
        av_packet_free(&pkt);
        return AVERROR(EAGAIN);
    }
    if (ret < 0) {
        av_packet_free(&pkt);
        // A stop broke off the read: the input is not at its end, the loop ends at
        // its next turn.
        if (ret == AVERROR_EXIT && engine_stop_cause() != StopCause::None)
            return AVERROR(EAGAIN);
        if (ret != AVERROR_EOF) {
            print_error(ic->url, ret);
            account_read_error(ifile, ret);
            if (exit_on_error)
                return ret;
        }
        account_input_ended(ifile);
        end_input_file(ifile);
        return AVERROR(EAGAIN);
    }
    clear_waiting_flags();
    account_packet(ifile, pkt);
    if (do_pkt_dump)
        av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, do_hex_dump, ic->streams[pkt->stream_index]);

    // Streams that appeared after opening, and streams no output wants, are skipped.
    InStream *ist = pkt->stream_index < ifile->stream_count
                        ? input_streams[ifile->first_stream + pkt->stream_index]
                        : nullptr;
    if (ist && !ist->discard) {
        correct_wrap(ifile, ist, pkt);
        apply_offset_and_scale(ifile, ist, pkt);
        handle_discontinuity(ifile, ist, pkt);
        if (pkt->pts != AV_NOPTS_VALUE)
            sub2video_heartbeat(ifile, ist->st, pkt->pts);
        ret = decode_input_packet(ist, pkt);
        if (ret < 0) {
            char text[128];
            av_strerror(ret, text, sizeof(text));
            av_log(nullptr, AV_LOG_ERROR, "Error while decoding stream #%d:%d: %s\n", ist->file_index,
                   ist->st->index, text);
            account_decode_error(ist);
            if (exit_on_error) {
                av_packet_free(&pkt);
                return ret;
            }
        }
    }
    av_packet_free(&pkt);
    return 0;
}

// ---- streams that start far from the others ------------------------------------------

int64_t stream_start_us(const InStream *ist)
{
    const AVStream *st = ist->st;
    if (ist->discard || st->start_time == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
}

// A stream whose timestamps all lie further from the file's first stream than
// any timestamp error the loop accepts (a recorder's clock set wrong for one
// track) would never be played with the others; its frames would even be taken
// for damaged ones. Such streams are moved back, together, so the first of them
// starts with the file's first stream.
void rebase_distant_streams(InFile *ifile)
{
    if (copy_ts)
        return;
    const int64_t threshold = int64_t(double(dts_error_threshold) * AV_TIME_BASE);
    int64_t earliest = INT64_MAX;
    for (int i = 0; i < ifile->stream_count; i++) {
        const int64_t start = stream_start_us(input_streams[ifile->first_stream + i]);
        if (start != AV_NOPTS_VALUE)
            earliest = FFMIN(earliest, start);
    }
    if (earliest == INT64_MAX)
        return;
    int64_t first_far = INT64_MAX;
    for (int i = 0; i < ifile->stream_count; i++) {
        const int64_t start = stream_start_us(input_streams[ifile->first_stream + i]);
        if (start != AV_NOPTS_VALUE && av_sat_sub64(start, earliest) > threshold)
            first_far = FFMIN(first_far, start);
    }
    if (first_far == INT64_MAX)
        return;
    const int64_t shift = av_sat_sub64(first_far, earliest);
    for (int i = 0; i < ifile->stream_count; i++) {
        InStream *ist = input_streams[ifile->first_stream + i];
        const int64_t start = stream_start_us(ist);
        if (start == AV_NOPTS_VALUE || start < first_far)
            continue;
        ist->ts_rebase = shift;
        av_log(nullptr, AV_LOG_WARNING,
               "Input stream #%d:%d starts %.0f s after the other streams of its file; its timestamps are moved "
               "back by that much to play along with them.\n",
               ist->file_index, ist->st->index, double(shift) / AV_TIME_BASE);
    }
}

// ---- one step ----------------------------------------------------------------------------

int run_one_step(void)
{
    OutStream *ost = pick_output_stream();
    if (!ost) {
        for (int i = 0; i < nb_output_streams; i++) {
            if (output_streams[i]->unavailable) {
                clear_waiting_flags();
                av_usleep(10000);
                return 0;
            }
        }
        av_log(nullptr, AV_LOG_VERBOSE, "No more inputs to read from, finishing.\n");
        return AVERROR_EOF;
    }

    InStream *ist;
    if (ost->filter) {
        Filtergraph *fg = ost->filter->graph;
        int ret = fg->graph ? avfilter_graph_request_oldest(fg->graph) : AVERROR_EOF;
        if (ret >= 0)
            return drain_sinks();
        if (ret == AVERROR_EOF) {
            ret = drain_sinks();
            for (int i = 0; i < fg->nb_outputs; i++)
                if (fg->outputs[i]->ost)
                    finish_output_stream(fg->outputs[i]->ost);
            return ret;
        }
        if (ret != AVERROR(EAGAIN))
            return ret;
        if (!(ist = input_to_feed(fg))) {
            for (int i = 0; i < fg->nb_outputs; i++)
                if (fg->outputs[i]->ost)
                    fg->outputs[i]->ost->unavailable = 1;
            return 0;
        }
    } else {
        ENGINE_ASSERT(ost->source_index >= 0);
        ist = input_streams[ost->source_index];
    }

    InFile *ifile = input_files[ist->file_index];
    int ret = feed_input_packet(ifile);
    if (ret == AVERROR(EAGAIN)) {
        if (ifile->again)
            ost->unavailable = 1;
        return 0;
    }
    if (ret < 0)
        return ret;
    return drain_sinks();
}

// ---- the end ------------------------------------------------------------------------------

void write_trailers(void)
{
    for (int i = 0; i < nb_output_files; i++) {
        AVFormatContext *oc = output_files[i]->ctx;
        int ret = av_write_trailer(oc);
        if (ret < 0) {
            print_error(output_display_name(output_files[i]), ret);
            note_write_error(output_files[i], ret); // a file without its trailer is unusable
        }
    }
}

void close_codecs(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (!ost->encoding_needed || !ost->enc_ctx)
            continue;
        av_freep(&ost->enc_ctx->stats_in);
        avcodec_close(ost->enc_ctx);
    }
    for (int i = 0; i < nb_input_streams; i++)
        if (input_streams[i]->decoding_needed)
            avcodec_close(input_streams[i]->dec_ctx);
}

void finish_run(int64_t timer_start)
{
    // A run whose files are thrown away needs no ending: draining the encoders'
    // look-ahead and writing trailers would only keep a user who pressed Cancel
    // waiting, and an encoder that already failed (an allocation inside libx264)
    // may never come back from being drained.
    if (run_lost_media || (engine_noted_stop() != StopCause::None && observer_discards_stopped_output())) {
        report_progress(1, timer_start, av_gettime());
        close_codecs();
        return;
    }
    // Inputs still open (the loop was stopped) give out what their decoders hold.
    for (int i = 0; i < nb_input_streams; i++) {
        InStream *ist = input_streams[i];
        if (!input_files[ist->file_index]->eof_reached && ist->decoding_needed)
            decode_input_packet(ist, nullptr);
    }
    drain_encoders();
    flush_bitstream_filters();
    av_log(nullptr, AV_LOG_QUIET, "%s", "");
    write_trailers();
    report_progress(1, timer_start, av_gettime());
    close_codecs();
}

} // namespace

int64_t timeline_closed_us(void)
{
    return closed_timeline_us;
}

int transcode_loop(int64_t timer_start)
{
    int ret = 0;
    closed_timeline_us = 0;
    for (int i = 0; i < nb_input_files; i++)
        rebase_distant_streams(input_files[i]);
    // A stop (request, observer, signal) ends the loop as the "q" key does.
    while (engine_stop_cause() == StopCause::None) {
        const int64_t now = av_gettime();
        if (stdin_enabled && handle_keyboard(now) < 0) {
            // A signal ends the loop here too; otherwise it was the key.
            if (engine_stop_cause() == StopCause::None)
                engine_note_key_stop();
            break;
        }
        if (!output_needed())
            break;
        ret = run_one_step();
        if (ret == AVERROR_EOF || ret == AVERROR(EAGAIN)) {
            ret = 0;
            continue;
        }
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Error while filtering.\n");
            break;
        }
        periodic_report(timer_start, now);
    }
    set_run_phase(RunPhase::Finishing);
    finish_run(timer_start);
    return ret;
}
