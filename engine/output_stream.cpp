// One output stream: the library stream, its OutStream record, the encoder choice
// ("copy" or a named or default encoder), encoder options and presets, and every
// per-stream setting of the options written before the output file name (frame
// limits, bitstream filters, tags, quality, sizes, formats, matrices, rate-control
// overrides, pass flags, channel maps, filter descriptions).
//
// Called while an output file is opened (output.cpp). The encoder context made
// here is owned by the OutStream; set-up copies it into the muxer stream.
#include "output_internal.h"

#include <cstring>
#include <string>

namespace {

const SpecValue *last_value(const SpecList &list, AVFormatContext *oc, OutStream *ost)
{
    return last_matching_value(list, oc, ost->st);
}

// Chooses the encoder from the last matching codec choice, or the muxer's default
// for the stream type when there is none. Sets the stream's codec id.
int choose_encoder(PerFileOptions *o, AVFormatContext *oc, OutStream *ost)
{
    AVCodecParameters *par = ost->st->codecpar;
    const SpecValue *choice = last_value(o->codec_choices, oc, ost);
    if (!choice) {
        par->codec_id =
            av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, par->codec_type);
        ost->enc = avcodec_find_encoder(par->codec_id);
        return 0;
    }
    if (!strcmp(choice->u.str, "copy")) {
        ost->stream_copy = 1;
        return 0;
    }
    ost->enc = find_codec_by_name(choice->u.str, par->codec_type, 1);
    if (!ost->enc)
        return AVERROR_ENCODER_NOT_FOUND; // find_codec_by_name said why
    par->codec_id = ost->enc->id;
    return 0;
}

// The strictness decides which pixel formats some encoders may take when the
// filtergraph is built, long before the encoder options are applied at open.
void apply_early_encoder_options(OutStream *ost)
{
    const AVDictionaryEntry *strict = av_dict_get(ost->encoder_opts, "strict", nullptr, 0);
    if (strict)
        av_opt_set(ost->enc_ctx, "strict", strict->value, 0);
}

// Splits a comma-separated list of bitstream filter names into the stream's own
// chain. The list text is left intact, so every stream matching the same list
// element gets the whole chain.
int create_bitstream_filters(OutStream *ost, const char *list)
{
    std::string names = list;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t comma = names.find(',', pos);
        if (comma == std::string::npos)
            comma = names.size();
        std::string name = names.substr(pos, comma - pos);
        pos = comma + 1;
        if (name.empty())
            continue;
        const AVBitStreamFilter *filter = av_bsf_get_by_name(name.c_str());
        if (!filter) {
            av_log(nullptr, AV_LOG_FATAL, "Unknown bitstream filter %s\n", name.c_str());
            return AVERROR_BSF_NOT_FOUND;
        }
        AVBSFContext *bsf = nullptr;
        int ret = av_bsf_alloc(filter, &bsf);
        if (ret < 0)
            return ret;
        GROW_TABLE(ost->bsfs, ost->nb_bsfs);
        ost->bsfs[ost->nb_bsfs - 1] = bsf;
    }
    return 0;
}

// A tag is a number, or (when text follows the number) a four-character code.
uint32_t parse_codec_tag(const char *text)
{
    char *tail;
    uint32_t tag = uint32_t(strtol(text, &tail, 0));
    if (*tail) {
        uint8_t fourcc[4] = {0, 0, 0, 0}; // a shorter text is padded, never over-read
        memcpy(fourcc, text, strnlen(text, 4));
        tag = AV_RL32(fourcc);
    }
    return tag;
}

char *copy_text(const char *text)
{
    return text ? av_strdup(text) : nullptr;
}

} // namespace

OutStream *create_output_stream(PerFileOptions *o, AVFormatContext *oc, enum AVMediaType type,
                                int source_index)
{
    AVStream *st = avformat_new_stream(oc, nullptr);
    if (!st) {
        av_log(nullptr, AV_LOG_FATAL, "Could not alloc stream.\n");
        return nullptr;
    }
    int index = int(oc->nb_streams) - 1;
    if (index < o->nb_stream_ids)
        st->id = o->stream_ids[index];
    st->codecpar->codec_type = type;

    OutStream *ost = (OutStream *)av_mallocz(sizeof(*ost));
    if (!ost) {
        av_log(nullptr, AV_LOG_FATAL, "Could not alloc stream.\n");
        return nullptr;
    }
    GROW_TABLE(output_streams, nb_output_streams);
    output_streams[nb_output_streams - 1] = ost;
    ost->file_index = nb_output_files;
    ost->index = index;
    ost->st = st;
    ost->source_index = -1;
    ost->top_field_first = -1;

    if (choose_encoder(o, oc, ost) < 0)
        return nullptr;
    if (ost->enc)
        ost->encoder_opts = select_codec_options(codec_options, ost->enc->id, oc, st, ost->enc);

    ost->enc_ctx = avcodec_alloc_context3(ost->enc);
    if (!ost->enc_ctx) {
        av_log(nullptr, AV_LOG_FATAL, "Could not alloc stream.\n");
        return nullptr;
    }
    ost->enc_ctx->codec_type = type;
    ost->enc_ctx->codec_id = st->codecpar->codec_id;
    apply_early_encoder_options(ost);

    const SpecValue *v;
    if ((v = last_value(o->preset_names, oc, ost))) {
        int ret = load_option_preset(v->u.str, ost->enc ? ost->enc->name : nullptr,
                                     &ost->encoder_opts);
        if (ret == AVERROR(ENOENT))
            av_log(nullptr, AV_LOG_FATAL,
                   "Preset %s specified for stream %d:%d, but could not be opened.\n", v->u.str,
                   ost->file_index, ost->index);
        if (ret < 0)
            return nullptr;
    }

    ost->max_frames = (v = last_value(o->frame_limits, oc, ost)) ? v->u.i64 : INT64_MAX;
    ost->copy_prior_start = (v = last_value(o->copy_before_start, oc, ost)) ? v->u.i : -1;

    if ((v = last_value(o->bsf_lists, oc, ost)) && create_bitstream_filters(ost, v->u.str) < 0)
        return nullptr;

    if ((v = last_value(o->tag_texts, oc, ost))) {
        uint32_t tag = parse_codec_tag(v->u.str);
        st->codecpar->codec_tag = tag;
        ost->enc_ctx->codec_tag = tag;
    }

    double qscale = (v = last_value(o->quality_scales, oc, ost)) ? v->u.dbl : -1;
    if (qscale >= 0) {
        ost->enc_ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ost->enc_ctx->global_quality = int(FF_QP2LAMBDA * qscale);
    }

    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        ost->enc_ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    if (scaler_options)
        av_opt_get_int(scaler_options, "sws_flags", 0, &ost->sws_flags);
    if (resampler_options) {
        int64_t method = 0;
        av_opt_get_int(resampler_options, "dither_method", 0, &method);
        ost->dither_method = int(method);
        av_opt_get_double(resampler_options, "dither_scale", 0, &ost->dither_scale);
    }

    ost->source_index = source_index;
    if (source_index >= 0) {
        InStream *ist = input_streams[source_index];
        ost->sync_ist = ist;
        ist->discard = 0;
        ist->st->discard = AVDISCARD_NONE;
    }
    return ost;
}

// ---- video --------------------------------------------------------------------

namespace {

// Reads up to 64 comma-separated coefficients. A short list is reported and kept
// as far as it goes.
int parse_matrix(const char *text, uint16_t **dest, const char *alloc_error)
{
    uint16_t *matrix = (uint16_t *)av_mallocz(sizeof(uint16_t) * 64);
    if (!matrix) {
        av_log(nullptr, AV_LOG_FATAL, "%s", alloc_error);
        return AVERROR(ENOMEM);
    }
    const char *p = text;
    int count = 0;
    while (count < 64) {
        matrix[count++] = uint16_t(atoi(p));
        p = strchr(p, ',');
        if (!p)
            break;
        p++;
    }
    if (count < 64)
        av_log(nullptr, AV_LOG_FATAL, "Syntax error in matrix \"%s\" at coeff %d\n", text,
               count - 1);
    av_freep(dest);
    *dest = matrix;
    return 0;
}

// "start,end,q/start,end,q/...": a positive q is a fixed quantiser, otherwise
// -q percent of the normal quality.
int parse_rc_override(const char *text, AVCodecContext *enc)
{
    const char *p = text;
    int count = 0;
    while (p) {
        int start, end, q;
        if (sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) {
            av_log(nullptr, AV_LOG_FATAL, "error parsing rc_override\n");
            return AVERROR(EINVAL);
        }
        RcOverride *grown =
            (RcOverride *)av_realloc_array(enc->rc_override, count + 1, sizeof(RcOverride));
        if (!grown)
            return AVERROR(ENOMEM);
        enc->rc_override = grown;
        RcOverride *r = &enc->rc_override[count++];
        r->start_frame = start;
        r->end_frame = end;
        if (q > 0) {
            r->qscale = q;
            r->quality_factor = 1.0f;
        } else {
            r->qscale = 0;
            r->quality_factor = -q / 100.0f;
        }
        enc->rc_override_count = count;
        p = strchr(p, '/');
        if (p)
            p++;
    }
    return 0;
}

// The settings of an encoded video stream, in the order they are read.
int read_video_encoding_settings(PerFileOptions *o, AVFormatContext *oc, OutStream *ost)
{
    AVCodecContext *enc = ost->enc_ctx;
    const SpecValue *v;

    if ((v = last_value(o->frame_size_texts, oc, ost)) &&
        av_parse_video_size(&enc->width, &enc->height, v->u.str) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid frame size: %s.\n", v->u.str);
        return AVERROR(EINVAL);
    }
    // The aspect ratio is a property of encoded pictures: a copied stream keeps
    // its own and never reads the option.
    if ((v = last_value(o->aspect_texts, oc, ost))) {
        AVRational q;
        if (av_parse_ratio(&q, v->u.str, 255, 0, nullptr) < 0 || q.num <= 0 || q.den <= 0) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid aspect ratio: %s\n", v->u.str);
            return AVERROR(EINVAL);
        }
        ost->frame_aspect_ratio = float(av_q2d(q));
    }
    enc->bits_per_raw_sample = frame_bits_per_raw_sample;

    if ((v = last_value(o->pixel_format_texts, oc, ost))) {
        const char *name = v->u.str;
        if (*name == '+') {
            ost->keep_pix_fmt = 1;
            name++;
        }
        if (*name && (enc->pix_fmt = av_get_pix_fmt(name)) == AV_PIX_FMT_NONE) {
            av_log(nullptr, AV_LOG_FATAL, "Unknown pixel format requested: %s.\n", name);
            return AVERROR(EINVAL);
        }
    }
    ost->st->sample_aspect_ratio = enc->sample_aspect_ratio;
    if (intra_only)
        enc->gop_size = 0;

    if ((v = last_value(o->intra_matrix_texts, oc, ost)) &&
        parse_matrix(v->u.str, &enc->intra_matrix,
                     "Could not allocate memory for intra matrix.\n") < 0)
        return AVERROR(ENOMEM);
    if ((v = last_value(o->inter_matrix_texts, oc, ost)) &&
        parse_matrix(v->u.str, &enc->inter_matrix,
                     "Could not allocate memory for inter matrix.\n") < 0)
        return AVERROR(ENOMEM);
    if ((v = last_value(o->rc_override_texts, oc, ost))) {
        int ret = parse_rc_override(v->u.str, enc);
        if (ret < 0)
            return ret;
    }
    if (!enc->rc_initial_buffer_occupancy)
        enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = intra_dc_precision - 8;
    if (do_psnr)
        enc->flags |= AV_CODEC_FLAG_PSNR;

    if ((v = last_value(o->pass_numbers, oc, ost))) {
        if (v->u.i & 1)
            enc->flags |= AV_CODEC_FLAG_PASS1;
        if (v->u.i & 2)
            enc->flags |= AV_CODEC_FLAG_PASS2;
    }
    if ((v = last_value(o->passlog_prefixes, oc, ost)) &&
        !(ost->logfile_prefix = copy_text(v->u.str)))
        return AVERROR(ENOMEM);
    if ((v = last_value(o->key_frame_texts, oc, ost)) &&
        !(ost->forced_keyframes = copy_text(v->u.str)))
        return AVERROR(ENOMEM);
    if ((v = last_value(o->keep_frame_rate, oc, ost)))
        ost->force_fps = v->u.i;
    if ((v = last_value(o->field_order, oc, ost)))
        ost->top_field_first = v->u.i;

    v = last_value(o->filter_texts, oc, ost);
    if (!(ost->avfilter = copy_text(v ? v->u.str : "null")))
        return AVERROR(ENOMEM);
    return 0;
}

} // namespace

OutStream *create_video_output(PerFileOptions *o, AVFormatContext *oc, int source_index)
{
    OutStream *ost = create_output_stream(o, oc, AVMEDIA_TYPE_VIDEO, source_index);
    if (!ost)
        return nullptr;
    const SpecValue *v;

    // The rate also tells stream copy which frame rate to declare.
    if ((v = last_value(o->frame_rate_texts, oc, ost)) &&
        av_parse_video_rate(&ost->frame_rate, v->u.str) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid framerate value: %s\n", v->u.str);
        return nullptr;
    }

    if (!ost->stream_copy) {
        if (read_video_encoding_settings(o, oc, ost) < 0)
            return nullptr;
    } else if ((v = last_value(o->copy_leading_nonkey, oc, ost))) {
        ost->copy_initial_nonkeyframes = v->u.i;
    }
    return ost;
}

// ---- audio --------------------------------------------------------------------

namespace {

// Collects the "map_channel" entries meant for this stream.
void map_audio_channels(PerFileOptions *o, OutStream *ost)
{
    InStream *ist = ost->source_index >= 0 ? input_streams[ost->source_index] : nullptr;
    for (int i = 0; i < o->nb_channel_maps; i++) {
        const ChannelMap &map = o->channel_maps[i];
        bool from_source = map.channel == -1 ||
                           (ist && ist->file_index == map.in_file && ist->st->index == map.in_stream);
        bool to_this = (map.out_file < 0 || map.out_file == ost->file_index) &&
                       (map.out_stream < 0 || map.out_stream == ost->index);
        if (!from_source || !to_this)
            continue;
        if (ost->audio_channels_mapped < MAX_MAPPED_CHANNELS)
            ost->audio_channels_map[ost->audio_channels_mapped++] = map.channel;
        else
            av_log(nullptr, AV_LOG_FATAL, "Max channel mapping for output %d.%d reached\n",
                   ost->file_index, ost->index);
    }
}

} // namespace

OutStream *create_audio_output(PerFileOptions *o, AVFormatContext *oc, int source_index)
{
    OutStream *ost = create_output_stream(o, oc, AVMEDIA_TYPE_AUDIO, source_index);
    if (!ost)
        return nullptr;
    if (ost->stream_copy)
        return ost;

    AVCodecContext *enc = ost->enc_ctx;
    const SpecValue *v;
    if ((v = last_value(o->channel_counts, oc, ost))) {
        // A count without a layout; the filtergraph sink side gives it the default one.
        av_channel_layout_uninit(&enc->ch_layout);
        enc->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        enc->ch_layout.nb_channels = v->u.i;
    }
    if ((v = last_value(o->sample_format_texts, oc, ost)) &&
        (enc->sample_fmt = av_get_sample_fmt(v->u.str)) == AV_SAMPLE_FMT_NONE) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid sample format '%s'\n", v->u.str);
        return nullptr;
    }
    if ((v = last_value(o->sample_rates, oc, ost)))
        enc->sample_rate = v->u.i;

    v = last_value(o->filter_texts, oc, ost);
    if (!(ost->avfilter = copy_text(v ? v->u.str : "anull")))
        return nullptr;

    map_audio_channels(o, ost);
    return ost;
}

// ---- subtitles ------------------------------------------------------------------

OutStream *create_subtitle_output(PerFileOptions *o, AVFormatContext *oc, int source_index)
{
    OutStream *ost = create_output_stream(o, oc, AVMEDIA_TYPE_SUBTITLE, source_index);
    if (!ost)
        return nullptr;
    const SpecValue *v;
    if ((v = last_value(o->copy_leading_nonkey, oc, ost)))
        ost->copy_initial_nonkeyframes = v->u.i;
    if (!ost->stream_copy && (v = last_value(o->frame_size_texts, oc, ost)) &&
        av_parse_video_size(&ost->enc_ctx->width, &ost->enc_ctx->height, v->u.str) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid frame size: %s.\n", v->u.str);
        return nullptr;
    }
    return ost;
}
