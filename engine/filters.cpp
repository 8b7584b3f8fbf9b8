// Filtergraphs: every encoded audio or video output gets its frames from a
// libavfilter graph. A simple graph joins one input stream to one output stream
// through the output's filter description; a complex graph ("filter_complex")
// joins any inputs to any outputs. This file creates simple graphs, (re)builds
// graphs from their text, binds complex-graph inputs to input streams, builds the
// buffer sources (with the filters the legacy options -r, -async and -vol ask
// for) and the sinks (with scale, format, pan and aformat as the encoder needs),
// prepares the sub-picture canvas of subtitles used as video, and adapts formats
// to what an encoder accepts.
//
// Callers: output opening (complex graphs, graph outputs), set-up (simple graphs),
// the transcode loop (rebuild when an input's frames change).
#include "engine.h"

#include <cinttypes>
#include <memory>
#include <string>

namespace {

// ---- small helpers ------------------------------------------------------------------

// Names a graph input or output after the filter it meets, plus the pad name when
// that filter has several pads on that side.
char *describe_pad(const AVFilterContext *ctx, const AVFilterPad *pads, unsigned nb_pads,
                   int pad_idx)
{
    if (nb_pads > 1)
        return av_asprintf("%s:%s", ctx->name, avfilter_pad_get_name(pads, pad_idx));
    return av_strdup(ctx->name);
}

// Creates `filter_name` in the graph and links it after (*last, *pad); on success
// the new filter becomes the end of the chain.
int append_filter(AVFilterGraph *graph, const char *filter_name, const char *instance,
                  const char *args, AVFilterContext **last, int *pad)
{
    AVFilterContext *ctx;
    int ret = avfilter_graph_create_filter(&ctx, avfilter_get_by_name(filter_name), instance,
                                           args, nullptr, graph);
    if (ret < 0)
        return ret;
    if ((ret = avfilter_link(*last, unsigned(*pad), ctx, 0)) < 0)
        return ret;
    *last = ctx;
    *pad = 0;
    return 0;
}

template <typename... Args> std::string format_text(const char *fmt, Args... args)
{
    char buf[256];
    snprintf(buf, sizeof(buf), fmt, args...);
    return buf;
}

// Filter lists use '|' between items.
void append_item(std::string *list, const std::string &item)
{
    if (!list->empty())
        *list += '|';
    *list += item;
}

std::string layout_text(const AVChannelLayout &layout)
{
    if (layout.order == AV_CHANNEL_ORDER_NATIVE)
        return format_text("0x%" PRIx64, layout.u.mask);
    char buf[128];
    if (av_channel_layout_describe(&layout, buf, sizeof(buf)) < 0)
        return format_text("%dc", layout.nb_channels);
    return buf;
}

AVMediaType input_pad_type(const AVFilterInOut *in)
{
    return avfilter_pad_get_type(in->filter_ctx->input_pads, in->pad_idx);
}

AVMediaType output_pad_type(const AVFilterInOut *out)
{
    return avfilter_pad_get_type(out->filter_ctx->output_pads, out->pad_idx);
}

// ---- binding complex-graph inputs -----------------------------------------------------

int add_graph_input(Filtergraph *fg, InStream *ist)
{
    GraphInput *in = (GraphInput *)av_mallocz(sizeof(*in));
    if (!in)
        return AVERROR(ENOMEM);
    ist->decoding_needed++;
    ist->discard = 0;
    ist->st->discard = AVDISCARD_NONE;
    in->ist = ist;
    in->graph = fg;
    GROW_TABLE(fg->inputs, fg->nb_inputs);
    fg->inputs[fg->nb_inputs - 1] = in;
    GROW_TABLE(ist->filters, ist->nb_filters);
    ist->filters[ist->nb_filters - 1] = in;
    return 0;
}

// "<file index>[:<stream specifier>]": the first stream of that file with the
// pad's type (a subtitle stream may feed a video pad) that matches.
InStream *find_labelled_input(Filtergraph *fg, const char *label, AVMediaType type)
{
    char *rest;
    // Decimal only: "0x0:v" names no file 0.
    long file = strtol(label, &rest, 10);
    if (file < 0 || file >= nb_input_files) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid file index %d in filtergraph description %s.\n",
               int(file), fg->description);
        return nullptr;
    }
    const char *spec = *rest == ':' ? rest + 1 : rest;
    AVFormatContext *ic = input_files[file]->ctx;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        AVMediaType st_type = ic->streams[i]->codecpar->codec_type;
        if (st_type != type && !(st_type == AVMEDIA_TYPE_SUBTITLE && type == AVMEDIA_TYPE_VIDEO))
            continue;
        if (match_stream_spec(ic, ic->streams[i], spec) == 1)
            return input_streams[input_files[file]->first_stream + int(i)];
    }
    av_log(nullptr, AV_LOG_FATAL,
           "Stream specifier '%s' in filtergraph description %s matches no streams.\n", spec,
           fg->description);
    return nullptr;
}

InStream *find_unused_input(const AVFilterInOut *in, AVMediaType type)
{
    for (int i = 0; i < nb_input_streams; i++) {
        InStream *ist = input_streams[i];
        if (ist->st->codecpar->codec_type == type && ist->discard)
            return ist;
    }
    av_log(nullptr, AV_LOG_FATAL, "Cannot find a matching stream for unlabeled input pad %d on filter %s\n",
           in->pad_idx, in->filter_ctx->name);
    return nullptr;
}

int bind_complex_input(Filtergraph *fg, const AVFilterInOut *in)
{
    AVMediaType type = input_pad_type(in);
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
        av_log(nullptr, AV_LOG_FATAL, "Only video and audio filters supported currently.\n");
        return AVERROR(EINVAL);
    }
    InStream *ist = in->name ? find_labelled_input(fg, in->name, type) : find_unused_input(in, type);
    if (!ist)
        return AVERROR(EINVAL);
    return add_graph_input(fg, ist);
}

// ---- the sub-picture canvas ------------------------------------------------------------

// Subtitles feeding a video pad are painted onto an RGB32 canvas of the
// decoder's size, or the size of the file's video, or at least 720x576.
int prepare_sub_canvas(InStream *ist)
{
    AVCodecContext *dec = ist->dec_ctx;
    int w = dec ? dec->width : ist->st->codecpar->width;
    int h = dec ? dec->height : ist->st->codecpar->height;
    if (!(w && h)) {
        AVFormatContext *ic = input_files[ist->file_index]->ctx;
        for (unsigned i = 0; i < ic->nb_streams; i++) {
            const AVCodecParameters *par = ic->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
                w = FFMAX(w, par->width);
                h = FFMAX(h, par->height);
            }
        }
        if (!(w && h)) {
            w = FFMAX(w, 720);
            h = FFMAX(h, 576);
        }
        av_log(ic, AV_LOG_INFO, "sub2video: using %dx%d canvas\n", w, h);
    }
    if (dec) {
        dec->width = w;
        dec->height = h;
        dec->pix_fmt = AV_PIX_FMT_RGB32;
    }
    ist->resample_width = w;
    ist->resample_height = h;
    ist->resample_pix_fmt = AV_PIX_FMT_RGB32;

    av_frame_free(&ist->sub2video.frame);
    AVFrame *canvas = av_frame_alloc();
    if (!canvas)
        return AVERROR(ENOMEM);
    canvas->width = w;
    canvas->height = h;
    canvas->format = AV_PIX_FMT_RGB32;
    if (av_frame_get_buffer(canvas, 32) < 0) {
        av_frame_free(&canvas);
        return AVERROR(ENOMEM);
    }
    memset(canvas->data[0], 0, size_t(canvas->linesize[0]) * size_t(h));
    ist->sub2video.frame = canvas;
    ist->sub2video.w = w;
    ist->sub2video.h = h;
    return 0;
}

// ---- buffer sources ------------------------------------------------------------------

int configure_video_input(Filtergraph *fg, GraphInput *ifilter, AVFilterInOut *in)
{
    InStream *ist = ifilter->ist;
    AVStream *st = ist->st;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        int ret = prepare_sub_canvas(ist);
        if (ret < 0)
            return ret;
    }

    const bool forced = ist->forced_framerate.num > 0 && ist->forced_framerate.den > 0;
    AVRational tb = forced ? av_inv_q(ist->forced_framerate) : st->time_base;
    AVRational fr = forced ? ist->forced_framerate : st->r_frame_rate;
    AVRational sar = st->sample_aspect_ratio;
    if (!sar.num && ist->dec_ctx)
        sar = ist->dec_ctx->sample_aspect_ratio;
    if (!sar.den)
        sar = AVRational{0, 1};

    std::string args =
        format_text("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                    ist->resample_width, ist->resample_height, ist->resample_pix_fmt, tb.num,
                    tb.den, sar.num, sar.den);
    if (fr.num && fr.den)
        args += format_text(":frame_rate=%d/%d", fr.num, fr.den);
    std::string name = format_text("graph %d input from stream %d:%d", fg->index,
                                   ist->file_index, st->index);
    int ret = avfilter_graph_create_filter(&ifilter->filter, avfilter_get_by_name("buffer"),
                                           name.c_str(), args.c_str(), nullptr, fg->graph);
    if (ret < 0)
        return ret;

    AVFilterContext *last = ifilter->filter;
    int pad = 0;
    if (forced) {
        // Frames are numbered in the forced rate's time base: constant frame rate.
        name = format_text("force CFR for input from stream %d:%d", ist->file_index, st->index);
        if ((ret = append_filter(fg->graph, "setpts", name.c_str(), "N", &last, &pad)) < 0)
            return ret;
    }
    return avfilter_link(last, unsigned(pad), in->filter_ctx, unsigned(in->pad_idx));
}

int configure_audio_input(Filtergraph *fg, GraphInput *ifilter, AVFilterInOut *in)
{
    InStream *ist = ifilter->ist;
    const int file = ist->file_index, stream = ist->st->index;
    const int rate = ist->resample_sample_rate;

    std::string args = format_text("time_base=%d/%d:sample_rate=%d:sample_fmt=%s", 1, rate, rate,
                                   av_get_sample_fmt_name(AVSampleFormat(ist->resample_sample_fmt)));
    if (ist->resample_channel_layout)
        args += format_text(":channel_layout=0x%" PRIx64, ist->resample_channel_layout);
    else // no layout known: the count alone still describes the frames
        args += format_text(":channels=%d", ist->resample_channels);
    std::string name = format_text("graph %d input from stream %d:%d", fg->index, file, stream);
    int ret = avfilter_graph_create_filter(&ifilter->filter, avfilter_get_by_name("abuffer"),
                                           name.c_str(), args.c_str(), nullptr, fg->graph);
    if (ret < 0)
        return ret;

    AVFilterContext *last = ifilter->filter;
    int pad = 0;
    if (audio_sync_method > 0) {
        std::string opts = format_text("min_comp=0.001:min_hard_comp=%f", audio_drift_threshold);
        if (audio_sync_method > 1)
            opts += format_text(":max_soft_comp=%f", audio_sync_method / double(rate));
        name = format_text("graph %d %s for input stream %d:%d", fg->index, "aresample", file,
                           stream);
        if ((ret = append_filter(fg->graph, "aresample", name.c_str(), opts.c_str(), &last,
                                 &pad)) < 0)
            return ret;
        av_log(nullptr, AV_LOG_INFO, "-async is forwarded to lavfi similarly to -af aresample=%s.\n",
               opts.c_str());
    }
    if (audio_volume != 256) {
        std::string opts = format_text("%f", audio_volume / 256.0);
        name = format_text("graph %d %s for input stream %d:%d", fg->index, "volume", file, stream);
        if ((ret = append_filter(fg->graph, "volume", name.c_str(), opts.c_str(), &last, &pad)) < 0)
            return ret;
        av_log(nullptr, AV_LOG_INFO, "-vol is forwarded to lavfi similarly to -af volume=%s.\n",
               opts.c_str());
    }
    return avfilter_link(last, unsigned(pad), in->filter_ctx, unsigned(in->pad_idx));
}

int configure_graph_input(Filtergraph *fg, GraphInput *ifilter, AVFilterInOut *in)
{
    av_freep(&ifilter->name);
    ifilter->name = describe_pad(in->filter_ctx, in->filter_ctx->input_pads,
                                 in->filter_ctx->nb_inputs, in->pad_idx);
    if (!ifilter->name)
        return AVERROR(ENOMEM);
    switch (input_pad_type(in)) {
    case AVMEDIA_TYPE_VIDEO:
        return configure_video_input(fg, ifilter, in);
    case AVMEDIA_TYPE_AUDIO:
        return configure_audio_input(fg, ifilter, in);
    default:
        ENGINE_ASSERT(0 && "graph input of another type");
        return AVERROR_BUG;
    }
}

// ---- sinks ----------------------------------------------------------------------------

// Formats MJPEG and lossless JPEG take when the strictness allows the limited
// range ("unofficial" or below), full-range ones first.
const AVPixelFormat mjpeg_loose_formats[] = {
    AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
    AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,  AV_PIX_FMT_NONE};
const AVPixelFormat ljpeg_loose_formats[] = {
    AV_PIX_FMT_BGR24,    AV_PIX_FMT_BGRA,     AV_PIX_FMT_BGR0,     AV_PIX_FMT_YUVJ420P,
    AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,
    AV_PIX_FMT_YUV444P,  AV_PIX_FMT_NONE};

const AVPixelFormat *encoder_pixel_formats(const AVCodecContext *enc_ctx, const AVCodec *codec)
{
    if (!codec || !codec->pix_fmts)
        return nullptr;
    if (enc_ctx && enc_ctx->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
        if (codec->id == AV_CODEC_ID_MJPEG)
            return mjpeg_loose_formats;
        if (codec->id == AV_CODEC_ID_LJPEG)
            return ljpeg_loose_formats;
    }
    return codec->pix_fmts;
}

bool is_8bit_420(AVPixelFormat format)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    return desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components == 3 &&
           desc->log2_chroma_w == 1 && desc->log2_chroma_h == 1 && desc->comp[0].depth == 8;
}

// An H.264 encoder asked for the baseline, main or high profile refuses 4:2:2 and
// 4:4:4 pictures, although it lists them: cameras that record 4:2:2 MJPEG would
// then fail to convert. Those profiles only take 8-bit 4:2:0, so only such formats
// are offered to the graph.
bool profile_takes_only_8bit_420(const OutStream *ost)
{
    if (!ost->enc || ost->enc->id != AV_CODEC_ID_H264)
        return false;
    const AVDictionaryEntry *profile = av_dict_get(ost->encoder_opts, "profile", nullptr, 0);
    if (!profile)
        return false;
    for (const char *name : {"baseline", "constrained_baseline", "main", "high"})
        if (!av_strcasecmp(profile->value, name))
            return true;
    return false;
}

// The formats the sink side lets through; empty for "any".
std::string output_pixel_formats(Filtergraph *fg, OutStream *ost)
{
    AVCodecContext *enc = ost->enc_ctx;
    if (ost->keep_pix_fmt) {
        // The input's format goes through unchanged: no automatic conversion.
        avfilter_graph_set_auto_convert(fg->graph, AVFILTER_AUTO_CONVERT_NONE);
        return enc->pix_fmt != AV_PIX_FMT_NONE ? av_get_pix_fmt_name(enc->pix_fmt) : "";
    }
    if (enc->pix_fmt != AV_PIX_FMT_NONE) {
        const char *name =
            av_get_pix_fmt_name(pick_encoder_pixel_format(enc, ost->enc, enc->pix_fmt));
        return name ? name : "";
    }
    std::string list;
    const AVPixelFormat *formats = encoder_pixel_formats(enc, ost->enc);
    const bool only_420 = profile_takes_only_8bit_420(ost);
    for (const AVPixelFormat *p = formats; p && *p != AV_PIX_FMT_NONE; p++)
        if (!only_420 || is_8bit_420(*p))
            append_item(&list, av_get_pix_fmt_name(*p));
    return list;
}

int configure_video_output(Filtergraph *fg, GraphOutput *ofilter, AVFilterInOut *out)
{
    OutStream *ost = ofilter->ost;
    AVCodecContext *enc = ost->enc_ctx;
    std::string name = format_text("output stream %d:%d", ost->file_index, ost->index);
    int ret = avfilter_graph_create_filter(&ofilter->filter, avfilter_get_by_name("buffersink"),
                                           name.c_str(), nullptr, nullptr, fg->graph);
    if (ret < 0)
        return ret;

    AVFilterContext *last = out->filter_ctx;
    int pad = out->pad_idx;
    if (enc->width || enc->height) {
        std::string args = format_text("%d:%d:flags=0x%X", enc->width, enc->height,
                                       unsigned(ost->sws_flags));
        name = format_text("scaler for output stream %d:%d", ost->file_index, ost->index);
        if ((ret = append_filter(fg->graph, "scale", name.c_str(), args.c_str(), &last, &pad)) < 0)
            return ret;
    }
    if (ofilter->pad_width_step > 1 || ofilter->pad_height_step > 1) {
        const int ws = FFMAX(ofilter->pad_width_step, 1), hs = FFMAX(ofilter->pad_height_step, 1);
        std::string args = format_text("w=ceil(iw/%d)*%d:h=ceil(ih/%d)*%d:x=0:y=0:color=black", ws,
                                       ws, hs, hs);
        name = format_text("padding for output stream %d:%d", ost->file_index, ost->index);
        if ((ret = append_filter(fg->graph, "pad", name.c_str(), args.c_str(), &last, &pad)) < 0)
            return ret;
    }
    std::string formats = output_pixel_formats(fg, ost);
    if (!formats.empty() &&
        (ret = append_filter(fg->graph, "format", "format", formats.c_str(), &last, &pad)) < 0)
        return ret;
    return avfilter_link(last, unsigned(pad), ofilter->filter, 0);
}

// "pan" arguments that build the output channels from the mapped input channels
// (-1: a silent channel).
std::string pan_arguments(const OutStream *ost)
{
    AVChannelLayout layout;
    av_channel_layout_default(&layout, ost->audio_channels_mapped);
    std::string args = layout_text(layout);
    av_channel_layout_uninit(&layout);
    for (int i = 0; i < ost->audio_channels_mapped; i++)
        if (ost->audio_channels_map[i] != -1)
            args += format_text("|c%d=c%d", i, ost->audio_channels_map[i]);
    return args;
}

// "sample_fmts=...:sample_rates=...:channel_layouts=..." for what the encoder
// context fixes, else for what the encoder supports; empty when nothing is known.
std::string audio_format_arguments(const OutStream *ost)
{
    const AVCodecContext *enc = ost->enc_ctx;
    const AVCodec *codec = ost->enc;
    std::string formats, rates, layouts;
    if (enc->sample_fmt != AV_SAMPLE_FMT_NONE)
        formats = av_get_sample_fmt_name(enc->sample_fmt);
    else if (codec && codec->sample_fmts)
        for (const AVSampleFormat *p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; p++)
            append_item(&formats, av_get_sample_fmt_name(*p));
    if (enc->sample_rate)
        rates = format_text("%d", enc->sample_rate);
    else if (codec && codec->supported_samplerates)
        for (const int *p = codec->supported_samplerates; *p; p++)
            append_item(&rates, format_text("%d", *p));
    if (enc->ch_layout.nb_channels)
        layouts = layout_text(enc->ch_layout);
    else if (codec && codec->ch_layouts)
        for (const AVChannelLayout *p = codec->ch_layouts; p->nb_channels; p++)
            append_item(&layouts, layout_text(*p));

    std::string args;
    if (!formats.empty())
        args += "sample_fmts=" + formats + ":";
    if (!rates.empty())
        args += "sample_rates=" + rates + ":";
    if (!layouts.empty())
        args += "channel_layouts=" + layouts + ":";
    if (!args.empty())
        args.pop_back();
    return args;
}

int configure_audio_output(Filtergraph *fg, GraphOutput *ofilter, AVFilterInOut *out)
{
    OutStream *ost = ofilter->ost;
    AVCodecContext *enc = ost->enc_ctx;
    std::string name = format_text("output stream %d:%d", ost->file_index, ost->index);
    int ret = avfilter_graph_create_filter(&ofilter->filter, avfilter_get_by_name("abuffersink"),
                                           name.c_str(), nullptr, nullptr, fg->graph);
    if (ret < 0)
        return ret;

    AVFilterContext *last = out->filter_ctx;
    int pad = out->pad_idx;
    if (ost->audio_channels_mapped) {
        std::string args = pan_arguments(ost);
        av_log(nullptr, AV_LOG_INFO, "-map_channel is forwarded to lavfi similarly to -af pan=%s.\n",
               args.c_str());
        if ((ret = append_filter(fg->graph, "pan", "pan", args.c_str(), &last, &pad)) < 0)
            return ret;
    }
    if (enc->ch_layout.nb_channels && enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&enc->ch_layout, enc->ch_layout.nb_channels);

    std::string args = audio_format_arguments(ost);
    if (!args.empty()) {
        name = format_text("audio format for output stream %d:%d", ost->file_index, ost->index);
        if ((ret = append_filter(fg->graph, "aformat", name.c_str(), args.c_str(), &last, &pad)) < 0)
            return ret;
    }
    return avfilter_link(last, unsigned(pad), ofilter->filter, 0);
}

// Bits of precision a sample of this format carries.
int sample_precision(AVSampleFormat fmt)
{
    switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_U8:
        return 8;
    case AV_SAMPLE_FMT_S16:
        return 16;
    case AV_SAMPLE_FMT_FLT:
        return 24;
    case AV_SAMPLE_FMT_S32:
        return 32;
    case AV_SAMPLE_FMT_DBL:
        return 53;
    case AV_SAMPLE_FMT_S64:
        return 64;
    default:
        return 0;
    }
}

bool is_lossless(const AVCodec *codec)
{
    const AVCodecDescriptor *desc = avcodec_descriptor_get(codec->id);
    return (codec->capabilities & AV_CODEC_CAP_LOSSLESS) ||
           (desc && (desc->props & AV_CODEC_PROP_LOSSLESS));
}

// ---- building a graph -------------------------------------------------------------------

struct InOutFree {
    void operator()(AVFilterInOut *list) const { avfilter_inout_free(&list); }
};
using InOutList = std::unique_ptr<AVFilterInOut, InOutFree>;

int configure_graph_inputs(Filtergraph *fg, AVFilterInOut *inputs)
{
    int i = 0;
    for (AVFilterInOut *cur = inputs; cur; cur = cur->next, i++) {
        ENGINE_ASSERT(i < fg->nb_inputs);
        int ret = configure_graph_input(fg, fg->inputs[i], cur);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// Each unlinked output of a complex graph becomes a GraphOutput holding its pad
// until an output file maps it. Takes the list.
int keep_pending_outputs(Filtergraph *fg, AVFilterInOut *outputs)
{
    InOutList rest(outputs);
    while (rest) {
        InOutList cur(rest.release());
        rest.reset(cur->next);
        cur->next = nullptr;
        GraphOutput *out = (GraphOutput *)av_mallocz(sizeof(*out));
        if (!out)
            return AVERROR(ENOMEM);
        out->graph = fg;
        out->pending_pad = cur.release();
        GROW_TABLE(fg->outputs, fg->nb_outputs);
        fg->outputs[fg->nb_outputs - 1] = out;
    }
    return 0;
}

int attach_graph_outputs(Filtergraph *fg, AVFilterInOut *outputs)
{
    int i = 0;
    for (AVFilterInOut *cur = outputs; cur; cur = cur->next, i++) {
        if (i >= fg->nb_outputs || !fg->outputs[i]->ost) {
            av_log(nullptr, AV_LOG_FATAL, "Filter %s has an unconnected output\n",
                   cur->filter_ctx->name);
            return AVERROR(EINVAL);
        }
        int ret = attach_graph_output(fg, fg->outputs[i], cur);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// Encoders of chroma-subsampled pictures (4:2:0, 4:2:2) refuse odd sizes: such a
// picture gets one black row or column more instead (nothing of it is lost, and
// it is not stretched). True when `out` needs padding it does not have yet; the
// caller then builds the graph again.
bool need_even_padding(GraphOutput *out)
{
    if (!out->ost || !out->filter || av_buffersink_get_type(out->filter) != AVMEDIA_TYPE_VIDEO)
        return false;
    const AVPixelFormat format = AVPixelFormat(av_buffersink_get_format(out->filter));
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return false;
    const int w = av_buffersink_get_w(out->filter), h = av_buffersink_get_h(out->filter);
    const int w_step = 1 << desc->log2_chroma_w, h_step = 1 << desc->log2_chroma_h;
    if ((w % w_step == 0 && h % h_step == 0) ||
        (out->pad_width_step >= w_step && out->pad_height_step >= h_step))
        return false;
    out->pad_width_step = FFMAX(out->pad_width_step, w_step);
    out->pad_height_step = FFMAX(out->pad_height_step, h_step);
    av_log(nullptr, AV_LOG_INFO,
           "Output stream #%d:%d: the %dx%d picture is padded with black to %dx%d, as %s "
           "pictures need sizes of whole chroma samples\n",
           out->ost->file_index, out->ost->index, w, h, FFALIGN(w, w_step), FFALIGN(h, h_step),
           desc->name);
    return true;
}

} // namespace

// ---- public routines ----------------------------------------------------------------

Filtergraph *create_simple_graph(InStream *ist, OutStream *ost)
{
    Filtergraph *fg = (Filtergraph *)av_mallocz(sizeof(*fg));
    GraphOutput *out = (GraphOutput *)av_mallocz(sizeof(*out));
    GraphInput *in = (GraphInput *)av_mallocz(sizeof(*in));
    if (!fg || !out || !in) {
        av_free(fg);
        av_free(out);
        av_free(in);
        return nullptr;
    }
    fg->index = nb_filtergraphs;

    out->ost = ost;
    out->graph = fg;
    ost->filter = out;
    GROW_TABLE(fg->outputs, fg->nb_outputs);
    fg->outputs[0] = out;

    in->ist = ist;
    in->graph = fg;
    GROW_TABLE(fg->inputs, fg->nb_inputs);
    fg->inputs[0] = in;
    GROW_TABLE(ist->filters, ist->nb_filters);
    ist->filters[ist->nb_filters - 1] = in;

    GROW_TABLE(filtergraphs, nb_filtergraphs);
    filtergraphs[nb_filtergraphs - 1] = fg;
    return fg;
}

int build_filtergraph(Filtergraph *fg)
{
    const bool first = !fg->graph;
    const bool simple = !fg->description;
    const char *text = simple ? fg->outputs[0]->ost->avfilter : fg->description;

    avfilter_graph_free(&fg->graph);
    if (!(fg->graph = avfilter_graph_alloc()))
        return AVERROR(ENOMEM);
    if (simple) {
        char sws_opts[64];
        snprintf(sws_opts, sizeof(sws_opts), "flags=0x%X",
                 unsigned(fg->outputs[0]->ost->sws_flags));
        fg->graph->scale_sws_opts = av_strdup(sws_opts);
        if (!fg->graph->scale_sws_opts)
            return AVERROR(ENOMEM);
    }

    InOutList inputs, outputs;
    {
        AVFilterInOut *in = nullptr, *out = nullptr;
        int ret = avfilter_graph_parse2(fg->graph, text, &in, &out);
        inputs.reset(in);
        outputs.reset(out);
        if (ret < 0)
            return ret;
    }
    if (simple && (!inputs || inputs->next || !outputs || outputs->next)) {
        av_log(nullptr, AV_LOG_ERROR,
               "Simple filtergraph '%s' does not have exactly one input and output.\n", text);
        return AVERROR(EINVAL);
    }
    int ret;
    if (!simple && first)
        for (AVFilterInOut *cur = inputs.get(); cur; cur = cur->next)
            if ((ret = bind_complex_input(fg, cur)) < 0)
                return ret;
    if ((ret = configure_graph_inputs(fg, inputs.get())) < 0)
        return ret;
    if (!simple && first) // the outputs wait for the output files that take them
        return keep_pending_outputs(fg, outputs.release());
    if ((ret = attach_graph_outputs(fg, outputs.get())) < 0)
        return ret;
    return finish_filtergraph(fg);
}

int finish_filtergraph(Filtergraph *fg)
{
    int ret = avfilter_graph_config(fg->graph, nullptr);
    if (ret < 0)
        return ret;
    bool padding_added = false;
    for (int i = 0; i < fg->nb_outputs; i++)
        padding_added |= need_even_padding(fg->outputs[i]);
    // Built again with the padding in front of the sinks that need it.
    return padding_added ? build_filtergraph(fg) : 0;
}

int attach_graph_output(Filtergraph *fg, GraphOutput *ofilter, AVFilterInOut *out)
{
    av_freep(&ofilter->name);
    ofilter->name = describe_pad(out->filter_ctx, out->filter_ctx->output_pads,
                                 out->filter_ctx->nb_outputs, out->pad_idx);
    if (!ofilter->name)
        return AVERROR(ENOMEM);
    switch (output_pad_type(out)) {
    case AVMEDIA_TYPE_VIDEO:
        return configure_video_output(fg, ofilter, out);
    case AVMEDIA_TYPE_AUDIO:
        return configure_audio_output(fg, ofilter, out);
    default:
        ENGINE_ASSERT(0 && "graph output of another type");
        return AVERROR_BUG;
    }
}

int input_feeds_graph(Filtergraph *fg, InStream *ist)
{
    for (int i = 0; i < fg->nb_inputs; i++)
        if (fg->inputs[i]->ist == ist)
            return 1;
    return 0;
}

enum AVPixelFormat pick_encoder_pixel_format(AVCodecContext *enc_ctx, const AVCodec *codec,
                                             enum AVPixelFormat target)
{
    const AVPixelFormat *formats = encoder_pixel_formats(enc_ctx, codec);
    if (!formats)
        return target;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(target);
    int has_alpha = desc ? desc->nb_components % 2 == 0 : 0;
    AVPixelFormat best = AV_PIX_FMT_NONE;
    for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; p++) {
        if (*p == target)
            return target;
        best = av_find_best_pix_fmt_of_2(best, *p, target, has_alpha, nullptr);
    }
    if (target != AV_PIX_FMT_NONE)
        av_log(nullptr, AV_LOG_WARNING,
               "Incompatible pixel format '%s' for codec '%s', auto-selecting format '%s'\n",
               av_get_pix_fmt_name(target), codec->name, av_get_pix_fmt_name(best));
    return best;
}

void pick_encoder_sample_format(AVCodecContext *enc_ctx, const AVCodec *codec)
{
    if (!codec || !codec->sample_fmts)
        return;
    for (const AVSampleFormat *p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; p++)
        if (*p == enc_ctx->sample_fmt)
            return;
    // Compared by precision: a conversion only loses when the target holds less.
    if (is_lossless(codec) &&
        sample_precision(enc_ctx->sample_fmt) > sample_precision(codec->sample_fmts[0]))
        av_log(nullptr, AV_LOG_ERROR, "Conversion will not be lossless.\n");
    if (av_get_sample_fmt_name(enc_ctx->sample_fmt))
        av_log(nullptr, AV_LOG_WARNING,
               "Incompatible sample format '%s' for codec '%s', auto-selecting format '%s'\n",
               av_get_sample_fmt_name(enc_ctx->sample_fmt), codec->name,
               av_get_sample_fmt_name(codec->sample_fmts[0]));
    enc_ctx->sample_fmt = codec->sample_fmts[0];
}
