// Input side of the transcode loop: decode_input_packet() keeps each input
// stream's timestamps, sends its packets to the decoder (a packet may give any
// number of frames, the end of input drains the decoder), hands decoded audio and
// video to the filtergraphs (pooled pictures by reference), rebuilds the graphs
// when the frames change, paints subtitles onto the sub-picture canvas, encodes
// subtitles directly, and copies packets to the outputs that copy the stream.
//
// Called by the loop (loop.cpp) for every packet read and at the end of input.
#include "transcode.h"
#include "observe.h"

#include "pool.h"

#include <cinttypes>
#include <cstring>

namespace {

InFile *file_of(const InStream *ist)
{
    return input_files[ist->file_index];
}

int index_of(const InStream *ist)
{
    return file_of(ist)->first_stream + ist->st->index;
}

// "-re": waits until the stream's time has come on the wall clock.
void pace(const InStream *ist)
{
    if (!file_of(ist)->realtime_read || ist->dts == AV_NOPTS_VALUE)
        return;
    const int64_t elapsed = av_gettime() - ist->start;
    if (ist->dts > elapsed)
        av_usleep(unsigned(FFMIN(ist->dts - elapsed, int64_t(UINT32_MAX))));
}

// ---- filter inputs ------------------------------------------------------------------

// A pooled picture of the size and format the buffer source expects goes in by
// reference without a format check; others are checked by the source.
int push_flags(const InStream *ist, const GraphInput *in, const AVFrame *frame)
{
    int flags = AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH;
    if (ist->dr1 && ist->st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        pool_frame_buffer(ist->pool, frame)) {
        const AVFilterLink *link = in->filter->outputs[0];
        if (link->w == frame->width && link->h == frame->height && link->format == frame->format)
            flags |= AV_BUFFERSRC_FLAG_NO_CHECK_FORMAT;
    }
    return flags;
}

// A graph that failed to take a frame is in no state to take another: it is
// given up, and what it fed has lost its media.
void give_up_failed_graph(const InStream *ist, GraphInput *in, int err)
{
    char text[256], reason[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(err, reason, sizeof(reason));
    snprintf(text, sizeof(text), "Failed to inject frame into filter network (input stream #%d:%d): %s",
             ist->file_index, ist->st->index, reason);
    abandon_filtergraph(in->graph);
    note_lost_media(err == AVERROR(ENOMEM) ? RunFailure::Other : RunFailure::EncoderRefused, err, text);
}

void send_frame_to_filters(InStream *ist, AVFrame *frame)
{
    for (int i = 0; i < ist->nb_filters; i++) {
        GraphInput *in = ist->filters[i];
        if (!in->filter) // its graph was given up
            continue;
        const int ret = av_buffersrc_add_frame_flags(in->filter, frame, push_flags(ist, in, frame));
        if (ret < 0) {
            give_up_failed_graph(ist, in, ret);
            return;
        }
    }
    ist->frames_refused = 0;
}

// ---- frames the graphs cannot follow ---------------------------------------------

using FrameShape = decltype(InStream::refused);

FrameShape current_shape(const InStream *ist)
{
    FrameShape shape = {};
    shape.set = 1;
    shape.width = ist->resample_width;
    shape.height = ist->resample_height;
    shape.pix_fmt = ist->resample_pix_fmt;
    shape.sample_fmt = ist->resample_sample_fmt;
    shape.sample_rate = ist->resample_sample_rate;
    shape.channels = ist->resample_channels;
    shape.channel_layout = ist->resample_channel_layout;
    return shape;
}

void restore_shape(InStream *ist, const FrameShape &shape)
{
    ist->resample_width = shape.width;
    ist->resample_height = shape.height;
    ist->resample_pix_fmt = shape.pix_fmt;
    ist->resample_sample_fmt = shape.sample_fmt;
    ist->resample_sample_rate = shape.sample_rate;
    ist->resample_channels = shape.channels;
    ist->resample_channel_layout = shape.channel_layout;
}

// Drops a frame the graphs could not be rebuilt for; they keep serving the
// frames they were built for.
void drop_refused_frame(InStream *ist)
{
    ist->frames_refused++;
    av_log(nullptr, AV_LOG_VERBOSE, "Input stream #%d:%d: frame dropped, the filters cannot take it\n",
           ist->file_index, ist->st->index);
}

void send_eof_to_filters(InStream *ist)
{
    for (int i = 0; i < ist->nb_filters; i++) {
        GraphInput *in = ist->filters[i];
        // A graph that cannot take the end any more has ended already.
        if (in->filter && av_buffersrc_add_frame_flags(in->filter, nullptr, AV_BUFFERSRC_FLAG_PUSH) < 0)
            av_log(nullptr, AV_LOG_DEBUG, "End of input stream #%d:%d not taken by %s\n",
                   ist->file_index, ist->st->index, in->name ? in->name : "?");
    }
}

// Rebuilds every graph the stream feeds for its current frame parameters;
// false when one of them failed. With `give_up`, a graph that failed is given up
// (its outputs lose their media); without, it is left for another rebuild.
bool rebuild_graphs(InStream *ist, bool give_up)
{
    bool ok = true;
    for (int i = 0; i < ist->nb_filters; i++) {
        GraphInput *in = ist->filters[i];
        if (!in->filter)
            continue;
        Filtergraph *fg = in->graph;
        if (build_filtergraph(fg) < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Error reinitializing filters!\n");
            if (give_up)
                abandon_filtergraph(fg);
            ok = false;
            continue;
        }
        // The new sinks hand the audio encoders frames of the size they take.
        for (int j = 0; j < fg->nb_outputs; j++) {
            OutStream *ost = fg->outputs[j]->ost;
            AVCodecContext *enc = ost ? ost->enc_ctx : nullptr;
            if (enc && enc->codec_type == AVMEDIA_TYPE_AUDIO && ost->enc &&
                !(ost->enc->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0)
                av_buffersink_set_frame_size(fg->outputs[j]->filter, unsigned(enc->frame_size));
        }
    }
    return ok;
}

// Follows new frame parameters (already noted in ist, `before` the old ones).
// When the graphs cannot be built for them, frames like this one are dropped
// and the graphs are built again for the old parameters, so the frames that
// follow still get through; false drops the frame.
bool reconfigure_filtergraphs(InStream *ist, const FrameShape &before)
{
    if (rebuild_graphs(ist, false)) {
        ist->refused.set = 0;
        return true;
    }
    ist->refused = current_shape(ist);
    restore_shape(ist, before);
    if (!rebuild_graphs(ist, true)) {
        char text[160];
        snprintf(text, sizeof(text), "Input stream #%d:%d: its filters can be built neither for its new frames "
                 "nor for its earlier ones", ist->file_index, ist->st->index);
        note_lost_media(RunFailure::EncoderRefused, 0, text);
        return false;
    }
    av_log(nullptr, AV_LOG_WARNING,
           "Input stream #%d:%d: the filters cannot follow this change; its frames are dropped until the "
           "stream changes back\n", ist->file_index, ist->st->index);
    drop_refused_frame(ist);
    return false;
}

// ---- sending packets, receiving frames --------------------------------------------

// Sends pkt (nullptr: the input ended) and passes every frame that comes out to
// on_frame. Returns the decoder's complaint about the packet, if any; *frames is
// the number of frames.
template <typename OnFrame>
int decode_frames(InStream *ist, const AVPacket *pkt, int *frames, OnFrame on_frame)
{
    AVCodecContext *dec = ist->dec_ctx;
    *frames = 0;
    if (!ist->decoded_frame && !(ist->decoded_frame = av_frame_alloc()))
        return AVERROR(ENOMEM);
    AVFrame *frame = ist->decoded_frame;

    // Errors of single pictures come out of the receiving side; at the end of
    // input every frame the decoder still holds is wanted, errors or not, but
    // never endlessly.
    int errors = 0;
    auto receive_all = [&](int *result) {
        for (;;) {
            int ret = avcodec_receive_frame(dec, frame);
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return;
            if (ret < 0) {
                if (*result >= 0)
                    *result = ret;
                if (pkt || ++errors > 64)
                    return;
                continue;
            }
            (*frames)++;
            ist->frames_decoded++;
            // Concealed damage: the decoder made the picture, with holes filled in.
            if ((frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags)
                account_decode_error(ist);
            on_frame(frame);
            av_frame_unref(frame);
        }
    };

    int result = avcodec_send_packet(dec, pkt);
    if (result == AVERROR_EOF)
        result = 0; // drained before: nothing more to say
    const bool full = result == AVERROR(EAGAIN);
    if (full)
        result = 0;
    receive_all(&result);
    if (full) { // the decoder had no room until its frames were taken
        result = avcodec_send_packet(dec, pkt);
        if (result == AVERROR(EAGAIN))
            result = AVERROR_BUG;
        receive_all(&result);
    }
    return result;
}

// ---- audio ------------------------------------------------------------------------

uint64_t layout_mask(const AVChannelLayout &layout)
{
    return av_channel_layout_subset(&layout, UINT64_MAX);
}

bool audio_changed(const InStream *ist, const AVFrame *frame)
{
    return ist->resample_sample_fmt != frame->format ||
           ist->resample_channels != frame->ch_layout.nb_channels ||
           ist->resample_channel_layout != layout_mask(frame->ch_layout) ||
           ist->resample_sample_rate != frame->sample_rate;
}

// Gives a frame without channel layout the decoder's, guessing one first when
// the decoder has none either. False when no layout fits its channel count.
bool ensure_channel_layout(InStream *ist, AVFrame *frame)
{
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
        return true;
    AVCodecContext *dec = ist->dec_ctx;
    if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        dec->ch_layout.nb_channels != frame->ch_layout.nb_channels) {
        av_channel_layout_uninit(&dec->ch_layout);
        dec->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        dec->ch_layout.nb_channels = frame->ch_layout.nb_channels;
        if (!guess_input_channel_layout(ist)) {
            av_log(nullptr, AV_LOG_FATAL,
                   "Unable to find default channel layout for Input Stream #%d.%d\n",
                   ist->file_index, ist->st->index);
            return false;
        }
        char name[64];
        av_channel_layout_describe(&dec->ch_layout, name, sizeof(name));
        av_log(nullptr, AV_LOG_WARNING, "Guessed Channel Layout for  Input Stream #%d.%d : %s\n",
               ist->file_index, ist->st->index, name);
    }
    return av_channel_layout_copy(&frame->ch_layout, &dec->ch_layout) >= 0;
}

// Notes new audio parameters and rebuilds the graphs; false drops the frame.
bool follow_audio_change(InStream *ist, AVFrame *frame)
{
    const FrameShape before = current_shape(ist);
    char old_layout[64], new_layout[64];
    AVChannelLayout old = {};
    av_channel_layout_from_mask(&old, ist->resample_channel_layout);
    if (!ist->resample_channel_layout)
        av_channel_layout_default(&old, ist->resample_channels);
    av_channel_layout_describe(&old, old_layout, sizeof(old_layout));
    av_channel_layout_uninit(&old);
    av_channel_layout_describe(&frame->ch_layout, new_layout, sizeof(new_layout));
    av_log(nullptr, AV_LOG_INFO,
           "Input stream #%d:%d frame changed from rate:%d fmt:%s ch:%d chl:%s to rate:%d fmt:%s ch:%d chl:%s\n",
           ist->file_index, ist->st->index, ist->resample_sample_rate,
           av_get_sample_fmt_name(AVSampleFormat(ist->resample_sample_fmt)), ist->resample_channels,
           old_layout, frame->sample_rate, av_get_sample_fmt_name(AVSampleFormat(frame->format)),
           frame->ch_layout.nb_channels, new_layout);
    ist->resample_sample_fmt = frame->format;
    ist->resample_channels = frame->ch_layout.nb_channels;
    ist->resample_channel_layout = layout_mask(frame->ch_layout);
    ist->resample_sample_rate = frame->sample_rate;
    return reconfigure_filtergraphs(ist, before);
}

bool audio_refused(const InStream *ist, const AVFrame *frame)
{
    const auto &r = ist->refused;
    return r.set && r.sample_fmt == frame->format && r.channels == frame->ch_layout.nb_channels &&
           r.channel_layout == layout_mask(frame->ch_layout) && r.sample_rate == frame->sample_rate;
}

void handle_audio_frame(InStream *ist, AVFrame *frame)
{
    const int rate = frame->sample_rate;
    const int64_t duration = av_rescale(frame->nb_samples, AV_TIME_BASE, rate);
    ist->next_pts = av_sat_add64(ist->next_pts, duration);
    ist->next_dts = av_sat_add64(ist->next_dts, duration);

    if (!ensure_channel_layout(ist, frame))
        return;
    if (audio_changed(ist, frame)) {
        if (audio_refused(ist, frame)) {
            drop_refused_frame(ist);
            return;
        }
        if (!follow_audio_change(ist, frame))
            return;
    }

    // The frame's own time (the packet's, in the stream time base), else the
    // stream's running time.
    AVRational tb = AV_TIME_BASE_Q;
    int64_t pts = ist->dts;
    if (frame->pts != AV_NOPTS_VALUE) {
        tb = ist->st->time_base;
        pts = frame->pts;
        // The stream's clocks all stand at this frame; the next packet's own
        // timestamps move them on.
        ist->dts = ist->next_dts = ist->pts = ist->next_pts = av_rescale_q(pts, tb, AV_TIME_BASE_Q);
    }
    pace(ist);
    frame->pts = pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(pts, tb, AVRational{1, rate});
    send_frame_to_filters(ist, frame);
}

int decode_audio(InStream *ist, const AVPacket *pkt)
{
    int frames;
    bool bad_rate = false;
    benchmark_mark(nullptr);
    int ret = decode_frames(ist, pkt, &frames, [&](AVFrame *frame) {
        if (bad_rate)
            return;
        if (ist->dec_ctx->sample_rate <= 0 || frame->sample_rate <= 0) {
            av_log(ist->dec_ctx, AV_LOG_ERROR, "Sample rate %d invalid\n", ist->dec_ctx->sample_rate);
            bad_rate = true;
            return;
        }
        handle_audio_frame(ist, frame);
    });
    benchmark_mark("decode_audio %d.%d", ist->file_index, ist->st->index);
    if (!pkt)
        send_eof_to_filters(ist);
    return bad_rate ? AVERROR_INVALIDDATA : ret;
}

// ---- video ------------------------------------------------------------------------

// "-deinterlace": the odd lines of every plane are rebuilt from their neighbours
// (a vertical 5-tap low-pass), into a new picture. Planar 8-bit formats only.
int deinterlace(AVFrame *frame)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || desc->comp[0].depth != 8 ||
        (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)) || frame->height < 4)
        return AVERROR(EINVAL);
    AVFrame *out = av_frame_alloc();
    if (!out)
        return AVERROR(ENOMEM);
    out->format = frame->format;
    out->width = frame->width;
    out->height = frame->height;
    int ret = av_frame_get_buffer(out, 0);
    if (ret >= 0)
        ret = av_frame_copy_props(out, frame);
    if (ret < 0) {
        av_frame_free(&out);
        return ret;
    }
    const int planes = av_pix_fmt_count_planes(AVPixelFormat(frame->format));
    for (int p = 0; p < planes; p++) {
        const bool chroma = p == 1 || p == 2;
        const int w = chroma ? AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w) : frame->width;
        const int h = chroma ? AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h) : frame->height;
        auto line = [&](int y) { return frame->data[p] + ptrdiff_t(av_clip(y, 0, h - 1)) * frame->linesize[p]; };
        for (int y = 0; y < h; y++) {
            uint8_t *dst = out->data[p] + ptrdiff_t(y) * out->linesize[p];
            if (!(y & 1)) {
                memcpy(dst, line(y), size_t(w));
                continue;
            }
            const uint8_t *a = line(y - 2), *b = line(y - 1), *c = line(y), *d = line(y + 1), *e = line(y + 2);
            for (int x = 0; x < w; x++)
                dst[x] = uint8_t(av_clip_uint8((-a[x] + 4 * b[x] + 2 * c[x] + 4 * d[x] - e[x] + 4) >> 3));
        }
    }
    av_frame_unref(frame);
    av_frame_move_ref(frame, out);
    av_frame_free(&out);
    return 0;
}

bool video_changed(const InStream *ist, const AVFrame *frame)
{
    return ist->resample_width != frame->width || ist->resample_height != frame->height ||
           ist->resample_pix_fmt != frame->format;
}

bool video_refused(const InStream *ist, const AVFrame *frame)
{
    const auto &r = ist->refused;
    return r.set && r.width == frame->width && r.height == frame->height && r.pix_fmt == frame->format;
}

bool follow_video_change(InStream *ist, const AVFrame *frame)
{
    const FrameShape before = current_shape(ist);
    av_log(nullptr, AV_LOG_INFO,
           "Input stream #%d:%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s\n",
           ist->file_index, ist->st->index, ist->resample_width, ist->resample_height,
           av_get_pix_fmt_name(AVPixelFormat(ist->resample_pix_fmt)), frame->width, frame->height,
           av_get_pix_fmt_name(AVPixelFormat(frame->format)));
    ist->resample_width = frame->width;
    ist->resample_height = frame->height;
    ist->resample_pix_fmt = frame->format;
    return reconfigure_filtergraphs(ist, before);
}

void handle_video_frame(InStream *ist, AVFrame *frame)
{
    if (ist->top_field_first >= 0)
        frame->top_field_first = ist->top_field_first;
    int64_t pts = frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE)
        ist->pts = ist->next_pts = av_rescale_q(pts, ist->st->time_base, AV_TIME_BASE_Q);
    else if (ist->pts != AV_NOPTS_VALUE) // no time at all: the one the stream expects
        pts = av_rescale_q(ist->pts, AV_TIME_BASE_Q, ist->st->time_base);
    frame->pts = pts;

    if (do_deinterlace && deinterlace(frame) < 0)
        av_log(nullptr, AV_LOG_WARNING, "Deinterlacing failed\n");
    pace(ist);
    if (video_changed(ist, frame)) {
        if (video_refused(ist, frame)) {
            drop_refused_frame(ist);
            return;
        }
        if (!follow_video_change(ist, frame))
            return;
    }
    if (ist->st->sample_aspect_ratio.num)
        frame->sample_aspect_ratio = ist->st->sample_aspect_ratio;
    send_frame_to_filters(ist, frame);
}

// Length of one frame in microseconds: the packet's, else the decoder's frame
// period (fields counted by the parser where there is one), else 0.
int64_t video_frame_duration(const InStream *ist, const AVPacket *pkt)
{
    if (pkt && pkt->duration > 0)
        return av_rescale_q(pkt->duration, ist->st->time_base, AV_TIME_BASE_Q);
    const AVCodecContext *dec = ist->dec_ctx;
    AVRational tb = dec->time_base;
    if (!(tb.num > 0 && tb.den > 0) && dec->framerate.num > 0 && dec->framerate.den > 0)
        tb = av_inv_q(av_mul_q(dec->framerate, AVRational{FFMAX(dec->ticks_per_frame, 1), 1}));
    if (!(tb.num > 0 && tb.den > 0))
        return 0;
    const AVCodecParserContext *parser = av_stream_get_parser(ist->st);
    const int ticks = parser ? parser->repeat_pict + 1 : dec->ticks_per_frame;
    return int64_t(AV_TIME_BASE) * tb.num * ticks / tb.den;
}

int decode_video(InStream *ist, const AVPacket *pkt)
{
    AVPacket *sent = nullptr;
    if (pkt) {
        if (!(sent = av_packet_clone(pkt)))
            return AVERROR(ENOMEM);
        // A packet without dts takes the one the stream expects, so the decoder can
        // still tell each picture's time.
        sent->dts = ist->dts == AV_NOPTS_VALUE
                        ? AV_NOPTS_VALUE
                        : av_rescale_q(ist->dts, AV_TIME_BASE_Q, ist->st->time_base);
    }
    const int64_t duration = video_frame_duration(ist, pkt);
    int frames;
    benchmark_mark(nullptr);
    int ret = decode_frames(ist, sent, &frames, [&](AVFrame *frame) {
        ist->pts = ist->next_pts;
        handle_video_frame(ist, frame);
        ist->next_pts = av_sat_add64(ist->next_pts, duration);
    });
    benchmark_mark("decode_video %d.%d", ist->file_index, ist->st->index);
    if (pkt) {
        if (frames > 1) {
            av_log(nullptr, ist->showed_multi_packet_warning ? AV_LOG_VERBOSE : AV_LOG_WARNING,
                   "Multiple frames in a packet from stream %d\n", ist->st->index);
            ist->showed_multi_packet_warning = 1;
        }
        if (sent->dts != AV_NOPTS_VALUE && duration)
            ist->next_dts = av_sat_add64(ist->next_dts, duration);
        else
            ist->next_dts = AV_NOPTS_VALUE;
    } else {
        send_eof_to_filters(ist);
    }
    av_packet_free(&sent);
    return ret;
}

// ---- sub-pictures --------------------------------------------------------------------

void sub2video_push(InStream *ist, int64_t pts)
{
    AVFrame *canvas = ist->sub2video.frame;
    canvas->pts = pts;
    ist->sub2video.last_pts = pts;
    for (int i = 0; i < ist->nb_filters; i++) {
        GraphInput *in = ist->filters[i];
        if (!in->filter)
            continue;
        const int ret = av_buffersrc_add_frame_flags(in->filter, canvas, AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
        if (ret < 0)
            give_up_failed_graph(ist, in, ret);
    }
}

void paint_rect(AVFrame *canvas, const AVSubtitleRect *r)
{
    if (r->type != SUBTITLE_BITMAP) {
        av_log(nullptr, AV_LOG_WARNING, "sub2video: non-bitmap subtitle\n");
        return;
    }
    if (r->x < 0 || r->y < 0 || r->w < 0 || r->h < 0 || r->x + r->w > canvas->width ||
        r->y + r->h > canvas->height || !r->data[0] || !r->data[1]) {
        av_log(nullptr, AV_LOG_WARNING, "sub2video: rectangle overflowing\n");
        return;
    }
    const uint32_t *palette = (const uint32_t *)r->data[1];
    for (int y = 0; y < r->h; y++) {
        const uint8_t *src = r->data[0] + ptrdiff_t(y) * r->linesize[0];
        uint32_t *dst = (uint32_t *)(canvas->data[0] + ptrdiff_t(r->y + y) * canvas->linesize[0]) + r->x;
        for (int x = 0; x < r->w; x++)
            dst[x] = palette[src[x]];
    }
}

// Paints `sub` (nullptr: nothing, the previous one has ended) and pushes the
// canvas at the subtitle's start.
void sub2video_update(InStream *ist, const AVSubtitle *sub)
{
    AVFrame *canvas = ist->sub2video.frame;
    if (!canvas || (sub && sub->pts == AV_NOPTS_VALUE)) // a subtitle of no time cannot be placed
        return;
    const AVRational tb = ist->st->time_base;
    int64_t pts, end_pts;
    if (sub) {
        pts = av_rescale_q(sub->pts + int64_t(sub->start_display_time) * 1000, AV_TIME_BASE_Q, tb);
        end_pts = av_rescale_q(sub->pts + int64_t(sub->end_display_time) * 1000, AV_TIME_BASE_Q, tb);
    } else {
        pts = ist->sub2video.end_pts;
        end_pts = INT64_MAX;
    }
    // The graph may still hold the last canvas: paint on a copy of our own.
    if (av_frame_make_writable(canvas) < 0)
        return;
    for (int y = 0; y < canvas->height; y++)
        memset(canvas->data[0] + ptrdiff_t(y) * canvas->linesize[0], 0, size_t(canvas->width) * 4);
    for (unsigned i = 0; sub && i < sub->num_rects; i++)
        paint_rect(canvas, sub->rects[i]);
    sub2video_push(ist, pts);
    ist->sub2video.end_pts = end_pts;
}

void sub2video_end(InStream *ist)
{
    if (!ist->sub2video.frame)
        return;
    if (ist->sub2video.end_pts < INT64_MAX)
        sub2video_update(ist, nullptr);
    send_eof_to_filters(ist);
}

// ---- subtitles ------------------------------------------------------------------------

// With "fix_sub_duration" each subtitle is held until the next one is known, and
// ends no later than that one starts. Returns true when `sub` now holds the
// subtitle to show (the previous one).
bool hold_for_duration_fix(InStream *ist, AVSubtitle *sub, bool end_of_input)
{
    auto &prev = ist->prev_sub;
    if (!end_of_input && prev.got_output) {
        const int64_t gap = av_rescale_q(sub->pts - prev.subtitle.pts, AV_TIME_BASE_Q, AVRational{1, 1000});
        if (gap >= 0 && gap < int64_t(prev.subtitle.end_display_time)) {
            av_log(ist->dec_ctx, AV_LOG_DEBUG, "Subtitle duration reduced from %" PRIu32 " to %d\n",
                   prev.subtitle.end_display_time, int(gap));
            prev.subtitle.end_display_time = uint32_t(gap);
        }
    }
    const bool had = prev.got_output;
    AVSubtitle held = prev.subtitle;
    if (end_of_input) {
        prev.got_output = 0;
        memset(&prev.subtitle, 0, sizeof(prev.subtitle));
    } else {
        prev.subtitle = *sub;
        prev.got_output = 1;
    }
    *sub = held;
    return had;
}

void show_subtitle(InStream *ist, AVSubtitle *sub)
{
    sub2video_update(ist, sub);
    pace(ist);
    const int index = index_of(ist);
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->source_index != index || !ost->encoding_needed || ost->finished ||
            ost->enc_ctx->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        if (sub->pts == AV_NOPTS_VALUE) {
            av_log(nullptr, AV_LOG_ERROR, "Subtitle packets must have a pts\n");
            continue;
        }
        encode_subtitle(output_files[ost->file_index], ost, sub);
    }
}

int decode_subtitle(InStream *ist, const AVPacket *pkt)
{
    AVSubtitle sub;
    memset(&sub, 0, sizeof(sub));
    int got = 0, ret = 0;
    AVCodecContext *dec = ist->dec_ctx;
    if (pkt) {
        ret = avcodec_decode_subtitle2(dec, &sub, &got, const_cast<AVPacket *>(pkt));
    } else if (dec->codec->capabilities & AV_CODEC_CAP_DELAY) {
        AVPacket *empty = av_packet_alloc();
        if (empty)
            ret = avcodec_decode_subtitle2(dec, &sub, &got, empty);
        av_packet_free(&empty);
    }
    if (ret >= 0 && got) {
        if (!ist->fix_sub_duration || hold_for_duration_fix(ist, &sub, false))
            show_subtitle(ist, &sub);
        avsubtitle_free(&sub);
    }
    if (!pkt) {
        if (ist->fix_sub_duration && hold_for_duration_fix(ist, &sub, true)) {
            show_subtitle(ist, &sub);
            avsubtitle_free(&sub);
        }
        sub2video_end(ist);
    }
    return ret < 0 ? ret : 0;
}

// ---- stream copy ----------------------------------------------------------------------

// Without decoding the stream's clock advances by what the packet says it lasts.
void advance_copied_stream(InStream *ist, const AVPacket *pkt)
{
    const AVCodecParameters *par = ist->st->codecpar;
    ist->dts = ist->next_dts;
    if (ist->next_dts != AV_NOPTS_VALUE) {
        int64_t step = 0;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
            step = av_rescale(par->frame_size, AV_TIME_BASE, par->sample_rate);
        } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            const AVRational rate = ist->st->avg_frame_rate;
            if (pkt && pkt->duration > 0)
                step = av_rescale_q(pkt->duration, ist->st->time_base, AV_TIME_BASE_Q);
            else if (rate.num > 0 && rate.den > 0) // one frame period
                step = av_rescale(AV_TIME_BASE, rate.den, rate.num);
        }
        ist->next_dts = av_sat_add64(ist->next_dts, step);
    }
    ist->pts = ist->dts;
    ist->next_pts = ist->next_dts;
}

bool copied_stream_reorders(const InStream *ist)
{
    const AVCodecParameters *par = ist->st->codecpar;
    return par->codec_type == AVMEDIA_TYPE_VIDEO &&
           (par->video_delay > 0 || (ist->dec_ctx && ist->dec_ctx->has_b_frames > 0));
}

void copy_packet(OutStream *ost, InStream *ist, const AVPacket *pkt)
{
    OutFile *of = output_files[ost->file_index];
    if (!ost->frame_number && !(pkt->flags & AV_PKT_FLAG_KEY) && !ost->copy_initial_nonkeyframes)
        return;
    if (of->recording_time != NO_DURATION_LIMIT && ist->pts != AV_NOPTS_VALUE &&
        ist->pts >= av_sat_add64(of->recording_time, of->start_time)) {
        finish_output_stream(ost);
        return;
    }
    switch (ist->st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        video_size += pkt->size;
        ost->sync_opts++;
        break;
    case AVMEDIA_TYPE_AUDIO:
        audio_size += pkt->size;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        subtitle_size += pkt->size;
        break;
    default:
        break;
    }
    AVPacket *out = av_packet_alloc();
    if (!out || av_packet_ref(out, pkt) < 0) {
        av_packet_free(&out);
        return;
    }
    const AVRational in_tb = ist->st->time_base, out_tb = ost->st->time_base;
    const int64_t start = av_rescale_q(of->start_time, AV_TIME_BASE_Q, out_tb);
    out->pts = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_sat_sub64(av_rescale_q(pkt->pts, in_tb, out_tb), start);
    if (pkt->dts != AV_NOPTS_VALUE)
        out->dts = av_sat_sub64(av_rescale_q(pkt->dts, in_tb, out_tb), start);
    else if (ist->dts != AV_NOPTS_VALUE)
        out->dts = av_sat_sub64(av_rescale_q(ist->dts, AV_TIME_BASE_Q, out_tb), start);
    else
        out->dts = AV_NOPTS_VALUE;
    // A packet without a presentation time (a raw stream's) is shown when it
    // is decoded, unless its stream reorders pictures.
    if (out->pts == AV_NOPTS_VALUE && !copied_stream_reorders(ist))
        out->pts = out->dts;
    out->duration = av_rescale_q(pkt->duration, in_tb, out_tb);
    mux_packet(of, ost, out);
    av_packet_free(&out);
}

void copy_to_outputs(InStream *ist, const AVPacket *pkt)
{
    const int index = index_of(ist);
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->source_index != index || ost->encoding_needed || !ost->stream_copy || ost->finished)
            continue;
        const OutFile *of = output_files[ost->file_index];
        if (of->start_time && ist->pts != AV_NOPTS_VALUE && ist->pts < of->start_time)
            continue;
        copy_packet(ost, ist, pkt);
    }
}

// The stream's clock at its first packet: decoders with reordering start one
// delay early.
void start_stream_clock(InStream *ist, const AVPacket *pkt)
{
    const AVRational rate = ist->st->avg_frame_rate;
    ist->dts = rate.num ? -int64_t(ist->dec_ctx->has_b_frames) * AV_TIME_BASE * rate.den / rate.num : 0;
    ist->pts = 0;
    if (pkt && pkt->pts != AV_NOPTS_VALUE && !ist->decoding_needed) {
        ist->dts += av_rescale_q(pkt->pts, ist->st->time_base, AV_TIME_BASE_Q);
        ist->pts = ist->dts;
    }
    ist->saw_first_ts = 1;
}

} // namespace

void abandon_filtergraph(Filtergraph *fg)
{
    avfilter_graph_free(&fg->graph);
    for (int i = 0; i < fg->nb_inputs; i++)
        fg->inputs[i]->filter = nullptr;
    for (int i = 0; i < fg->nb_outputs; i++) {
        fg->outputs[i]->filter = nullptr;
        if (fg->outputs[i]->ost)
            finish_output_stream(fg->outputs[i]->ost);
    }
}

void check_stream_reached_its_end(InStream *ist)
{
    if (!ist->frames_refused || run_lost_media)
        return;
    bool feeds_unfinished = false;
    for (int i = 0; i < ist->nb_filters; i++) {
        const Filtergraph *fg = ist->filters[i]->graph;
        for (int j = 0; j < fg->nb_outputs; j++)
            feeds_unfinished |= fg->outputs[j]->ost && !fg->outputs[j]->ost->finished;
    }
    if (!feeds_unfinished) // its outputs had all they asked for
        return;
    char text[200];
    snprintf(text, sizeof(text), "Input stream #%d:%d: its last %" PRId64 " frames could not be converted (the "
             "filters cannot follow a change of its frames), so its outputs lack the end of the recording",
             ist->file_index, ist->st->index, ist->frames_refused);
    note_lost_media(RunFailure::EncoderRefused, 0, text);
}

void sub2video_heartbeat(InFile *ifile, const AVStream *st, int64_t pts)
{
    for (int i = 0; i < ifile->stream_count; i++) {
        InStream *ist = input_streams[ifile->first_stream + i];
        if (!ist->sub2video.frame)
            continue;
        const int64_t pts2 = av_rescale_q(pts, st->time_base, ist->st->time_base) - 1;
        if (pts2 <= ist->sub2video.last_pts)
            continue;
        if (pts2 >= ist->sub2video.end_pts)
            sub2video_update(ist, nullptr);
        unsigned failed = 0;
        for (int j = 0; j < ist->nb_filters; j++)
            if (ist->filters[j]->filter)
                failed += av_buffersrc_get_nb_failed_requests(ist->filters[j]->filter);
        if (failed)
            sub2video_push(ist, pts2);
    }
}

int decode_input_packet(InStream *ist, const AVPacket *pkt)
{
    if (!ist->saw_first_ts)
        start_stream_clock(ist, pkt);
    if (ist->next_dts == AV_NOPTS_VALUE)
        ist->next_dts = ist->dts;
    if (ist->next_pts == AV_NOPTS_VALUE)
        ist->next_pts = ist->pts;
    const AVMediaType type = ist->st->codecpar->codec_type;
    if (pkt && pkt->dts != AV_NOPTS_VALUE) {
        ist->next_dts = ist->dts = av_rescale_q(pkt->dts, ist->st->time_base, AV_TIME_BASE_Q);
        if (type != AVMEDIA_TYPE_VIDEO || !ist->decoding_needed)
            ist->next_pts = ist->pts = ist->dts;
    }

    int ret = 0;
    if (ist->decoding_needed) {
        ist->pts = ist->next_pts;
        ist->dts = ist->next_dts;
        switch (type) {
        case AVMEDIA_TYPE_AUDIO:
            ret = decode_audio(ist, pkt);
            break;
        case AVMEDIA_TYPE_VIDEO:
            ret = decode_video(ist, pkt);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ret = decode_subtitle(ist, pkt);
            break;
        default:
            return -1;
        }
    } else {
        pace(ist);
        advance_copied_stream(ist, pkt);
    }
    // A packet the decoder refused is still a packet to copy.
    if (pkt)
        copy_to_outputs(ist, pkt);
    return ret;
}
