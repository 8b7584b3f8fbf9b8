// Transcode set-up: prepare_transcode() runs once per run, after every file is
// opened and every stream mapped, and before the loop. It gives each output
// stream its final parameters (copied from the input, or taken from the
// filtergraph that feeds its encoder), opens the encoders and then the decoders,
// discards unused programs, writes the headers, prints the stream mapping and,
// for all-RTP outputs, the SDP text.
//
// Each InStream and OutStream owns its codec context: the encoder context is
// opened here and the muxer stream takes its parameters from it; copied streams
// get the input's parameters. Called only by ffmpeg_exec(); on failure nothing
// is closed here, the run's clean-up releases everything.
#include "transcode.h"

#include "audio_limits.h"
#include "observe.h"
#include "pool.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

// A failure of the later steps: the format of every output and the stream
// mapping are still printed before it is reported.
struct SetupError {
    int code = 0;
    char text[1024] = "";
};

void record_error(SetupError *err, int code, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err->text, sizeof(err->text), fmt, ap);
    va_end(ap);
    err->code = code;
}

InStream *source_of(const OutStream *ost)
{
    return ost->source_index >= 0 ? input_streams[ost->source_index] : nullptr;
}

bool is_video(const AVCodecContext *c) { return c->codec_type == AVMEDIA_TYPE_VIDEO; }
bool is_audio(const AVCodecContext *c) { return c->codec_type == AVMEDIA_TYPE_AUDIO; }

// ---- rate emulation, empty outputs, complex graphs ----------------------------

void start_rate_emulation(void)
{
    for (int i = 0; i < nb_input_files; i++) {
        InFile *f = input_files[i];
        if (!f->realtime_read)
            continue;
        for (int j = 0; j < f->stream_count; j++)
            input_streams[f->first_stream + j]->start = av_gettime();
    }
}

int check_outputs_have_streams(void)
{
    for (int i = 0; i < nb_output_files; i++) {
        AVFormatContext *oc = output_files[i]->ctx;
        if (!oc->nb_streams && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
            av_dump_format(oc, i, output_display_name(output_files[i]), 1);
            av_log(nullptr, AV_LOG_ERROR, "Output file #%d does not contain any stream\n", i);
            record_run_failure(RunFailure::SourceNoStream, AVERROR(EINVAL), "The output has no stream");
            return AVERROR(EINVAL);
        }
    }
    return 0;
}

int configure_complex_graphs(void)
{
    for (int i = 0; i < nb_filtergraphs; i++) {
        Filtergraph *fg = filtergraphs[i];
        if (!fg->description || !fg->graph)
            continue;
        int ret = finish_filtergraph(fg);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// ---- stream copy ------------------------------------------------------------------

// The period of one frame as the decoder sees it, and its ticks per frame. A copied
// stream's decoder is never opened, so the period comes from the stream's frame
// rate (audio: one sample).
AVRational decoder_time_base(const InStream *ist, int *ticks)
{
    const AVCodecContext *dec = ist->dec_ctx;
    *ticks = 1;
    if (dec && dec->time_base.num > 0 && dec->time_base.den > 0) {
        *ticks = dec->ticks_per_frame > 0 ? dec->ticks_per_frame : 1;
        return dec->time_base;
    }
    const AVStream *st = ist->st;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && st->codecpar->sample_rate > 0)
        return AVRational{1, st->codecpar->sample_rate};
    AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        return av_inv_q(rate);
    return AVRational{0, 1};
}

bool muxer_is_mov_family(const char *name)
{
    for (const char *mov : {"mov", "mp4", "3gp", "3g2", "psp", "ipod", "f4v"})
        if (!strcmp(name, mov))
            return true;
    return false;
}

// Time base of a copied stream: the demuxer's, unless the muxer is better served
// by the decoder's frame period ("copytb": -1 automatic, 0 decoder, 1 demuxer,
// 2 the AVI rules for any muxer).
AVRational copy_time_base(const AVOutputFormat *ofmt, const InStream *ist)
{
    const AVRational st_tb = ist->st->time_base;
    int ticks;
    const AVRational dec_tb = decoder_time_base(ist, &ticks);
    const double st_d = av_q2d(st_tb), dec_d = av_q2d(dec_tb);
    const bool fine_stream_tb = st_d < 1.0 / 500;
    AVRational tb = st_tb;

    if (!strcmp(ofmt->name, "avi") || copy_tb == 2) {
        const AVRational r = ist->st->r_frame_rate, avg = ist->st->avg_frame_rate;
        const bool real_rate_fits = r.num > 0 && r.den > 0 && av_q2d(r) >= av_q2d(avg) &&
                                    0.5 / av_q2d(r) > st_d && 0.5 / av_q2d(r) > dec_d;
        if ((copy_tb < 0 || copy_tb == 2) && real_rate_fits && fine_stream_tb &&
            dec_d < 1.0 / 500) {
            tb = AVRational{r.den, 2 * r.num};
        } else if (copy_tb == 0 ||
                   (copy_tb < 0 && dec_d * ticks > 2 * st_d && fine_stream_tb)) {
            tb = AVRational{dec_tb.num * ticks, dec_tb.den * 2};
        }
    } else if (!(ofmt->flags & AVFMT_VARIABLE_FPS) && !muxer_is_mov_family(ofmt->name)) {
        if (copy_tb == 0 ||
            (copy_tb < 0 && dec_tb.num && dec_d * ticks > st_d && fine_stream_tb))
            tb = AVRational{dec_tb.num * ticks, dec_tb.den};
    }
    if (!tb.num || !tb.den)
        tb = st_tb;
    av_reduce(&tb.num, &tb.den, tb.num, tb.den, INT_MAX);
    return tb;
}

// The input's codec tag stays when the muxer has no tag table, or its table maps
// the tag to the same codec, or it has no tag of its own for the codec.
bool keep_codec_tag(const AVOutputFormat *ofmt, const AVCodecParameters *in)
{
    if (!ofmt->codec_tag)
        return true;
    return av_codec_get_id(ofmt->codec_tag, in->codec_tag) == in->codec_id ||
           !av_codec_get_tag(ofmt->codec_tag, in->codec_id);
}

int setup_stream_copy(OutFile *of, OutStream *ost, InStream *ist)
{
    const AVCodecParameters *in = ist->st->codecpar;
    if (uint64_t(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
        return AVERROR(EINVAL);
    const AVOutputFormat *ofmt = of->ctx->oformat;
    AVCodecParameters *par = ost->st->codecpar;
    int ret = avcodec_parameters_copy(par, in);
    if (ret < 0)
        return ret;
    par->codec_tag = keep_codec_tag(ofmt, in) ? in->codec_tag : 0;
    ost->st->time_base = copy_time_base(ofmt, ist);

    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (audio_volume != 256) {
            av_log(nullptr, AV_LOG_FATAL,
                   "-acodec copy and -vol are incompatible (frames are not decoded)\n");
            return AVERROR(EINVAL);
        }
        if ((par->codec_id == AV_CODEC_ID_MP3 && (par->block_align == 1 || par->block_align == 1152)) ||
            par->codec_id == AV_CODEC_ID_AC3)
            par->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO: {
        AVRational sar = {0, 1};
        if (ost->frame_aspect_ratio && par->width > 0)
            sar = av_d2q(ost->frame_aspect_ratio * par->height / par->width, 255);
        else if (ist->st->sample_aspect_ratio.num)
            sar = ist->st->sample_aspect_ratio;
        else if (in->sample_aspect_ratio.num)
            sar = in->sample_aspect_ratio;
        par->sample_aspect_ratio = ost->st->sample_aspect_ratio = sar;
        ost->st->avg_frame_rate = ist->st->avg_frame_rate;
        break;
    }
    default: // subtitles keep their size, data and attachments their bytes
        break;
    }
    // The stream's own context holds the same parameters, as an encoder context would.
    return avcodec_parameters_to_context(ost->enc_ctx, par);
}

// ---- encoding ---------------------------------------------------------------------

AVRational output_frame_rate(OutStream *ost, InStream *ist, AVFilterContext *sink)
{
    auto usable = [](AVRational q) { return q.num > 0 && q.den > 0; };
    AVRational rate = ost->frame_rate;
    if (!usable(rate) && sink)
        rate = av_buffersink_get_frame_rate(sink);
    if (!usable(rate) && ist)
        rate = ist->forced_framerate;
    if (!usable(rate) && ist)
        rate = ist->st->r_frame_rate;
    if (!usable(rate))
        rate = AVRational{25, 1};
    if (ost->enc->supported_framerates && !ost->force_fps)
        rate = ost->enc->supported_framerates[av_find_nearest_q_idx(rate, ost->enc->supported_framerates)];
    return rate;
}

void set_audio_parameters(AVCodecContext *enc, AVFilterContext *sink)
{
    enc->sample_fmt = AVSampleFormat(av_buffersink_get_format(sink));
    enc->sample_rate = av_buffersink_get_sample_rate(sink);
    av_channel_layout_uninit(&enc->ch_layout);
    av_buffersink_get_ch_layout(sink, &enc->ch_layout);
    enc->time_base = AVRational{1, enc->sample_rate};
}

// Whether the pictures of `ost` keep their own times: a stream converted at the
// rate the engine chose for it (no "-r", "-vsync" or filters of the user's),
// into a muxer that would hold it at that constant rate, from a source whose
// rate varies.
bool follows_source_times(const OutFile *of, const OutStream *ost, const InStream *ist)
{
    const bool own_filters = ost->avfilter && strcmp(ost->avfilter, "null");
    const bool rate_forced = ist && ist->forced_framerate.num > 0 && ist->forced_framerate.den > 0;
    return ist && !own_filters && !rate_forced && video_sync_method == VSYNC_AUTO &&
           effective_video_sync(of->ctx->oformat) == VSYNC_CFR && source_rate_varies(ist, ost->frame_rate);
}

// The time base of pictures that keep their own times: the source's own (the
// sink's) when it tells milliseconds apart, else 1/90000 s, which holds every
// usual frame period exactly.
AVRational fine_time_base(AVRational sink_tb)
{
    if (sink_tb.num > 0 && sink_tb.den > 0 && av_q2d(sink_tb) <= 0.001)
        return sink_tb;
    return AVRational{1, 90000};
}

void set_video_parameters(OutFile *of, OutStream *ost, InStream *ist, AVFilterContext *sink)
{
    AVCodecContext *enc = ost->enc_ctx;
    if (ost->follows_source_times)
        enc->time_base = fine_time_base(av_buffersink_get_time_base(sink));
    else if (ost->frame_rate.num > 0 && ost->frame_rate.den > 0)
        enc->time_base = av_inv_q(ost->frame_rate);
    else
        enc->time_base = av_buffersink_get_time_base(sink);
    if (!ost->follows_source_times && av_q2d(enc->time_base) < 0.001 &&
        (video_sync_method == VSYNC_CFR ||
         (video_sync_method == VSYNC_AUTO && !(of->ctx->oformat->flags & AVFMT_VARIABLE_FPS))))
        av_log(of->ctx, AV_LOG_WARNING,
               "Frame rate very high for a muxer not efficiently supporting it.\n"
               "Please consider specifying a lower framerate, a different muxer or -vsync 2\n");

    enc->width = av_buffersink_get_w(sink);
    enc->height = av_buffersink_get_h(sink);
    if (ost->frame_aspect_ratio && enc->width > 0)
        enc->sample_aspect_ratio =
            av_d2q(double(ost->frame_aspect_ratio) * enc->height / enc->width, 255);
    else
        enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(sink);
    ost->st->sample_aspect_ratio = enc->sample_aspect_ratio;
    enc->pix_fmt = AVPixelFormat(av_buffersink_get_format(sink));

    const AVCodecContext *dec = ist ? ist->dec_ctx : nullptr;
    if (!dec || dec->width != enc->width || dec->height != enc->height ||
        dec->pix_fmt != enc->pix_fmt)
        enc->bits_per_raw_sample = frame_bits_per_raw_sample;
    // Encoders of this library generation take the rate for their headers from here.
    enc->framerate = ost->frame_rate;
    ost->st->avg_frame_rate = ost->frame_rate;
}

// "force_key_frames": a comma-separated list of times, kept in the encoder time base.
void parse_forced_key_frames(OutStream *ost)
{
    const char *text = ost->forced_keyframes;
    int count = 1;
    for (const char *p = text; *p; p++)
        count += *p == ',';
    ost->forced_kf_pts = (int64_t *)av_malloc_array(count, sizeof(*ost->forced_kf_pts));
    if (!ost->forced_kf_pts) {
        av_log(nullptr, AV_LOG_FATAL, "Could not allocate forced key frames array.\n");
        return;
    }
    const char *p = text;
    for (int i = 0; i < count; i++) {
        const char *comma = strchr(p, ',');
        size_t len = comma ? size_t(comma - p) : strlen(p);
        char *piece = av_strndup(p, len);
        if (!piece) {
            av_freep(&ost->forced_kf_pts);
            av_log(nullptr, AV_LOG_FATAL, "Could not allocate forced key frames array.\n");
            return;
        }
        int64_t t = parse_time_value("force_key_frames", piece, 1);
        av_free(piece);
        ost->forced_kf_pts[i] = av_rescale_q(t, AV_TIME_BASE_Q, ost->enc_ctx->time_base);
        p += len + 1;
    }
    ost->forced_kf_count = count;
    ost->forced_kf_index = 0;
}

// Two-pass statistics: libx264 keeps its own file (option "stats"); other encoders
// read the first pass's log in pass 2 and write it in pass 1.
int prepare_two_pass(OutStream *ost, int index)
{
    AVCodecContext *enc = ost->enc_ctx;
    if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return 0;
    char name[1024];
    snprintf(name, sizeof(name), "%s-%d.log",
             ost->logfile_prefix ? ost->logfile_prefix : "ffmpeg2pass", index);
    if (!strcmp(ost->enc->name, "libx264")) {
        av_dict_set(&ost->encoder_opts, "stats", name, AV_DICT_DONT_OVERWRITE);
        return 0;
    }
    if (enc->flags & AV_CODEC_FLAG_PASS2) {
        char *stats;
        size_t size;
        if (read_whole_file(name, &stats, &size) < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Error reading log file '%s' for pass-2 encoding\n", name);
            return AVERROR(EIO);
        }
        av_freep(&enc->stats_in);
        enc->stats_in = stats;
    }
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
        FILE *f = fopen(name, "wb");
        if (!f) {
            av_log(nullptr, AV_LOG_FATAL, "Cannot write log file '%s' for pass-1 encoding: %s\n",
                   name, strerror(errno));
            return AVERROR(errno);
        }
        ost->logfile = f;
    }
    return 0;
}

// Sound whose parameters no recording has is refused before it is converted
// (audio_limits.h), as a source that cannot be read.
int refuse_absurd_sound(const InStream *ist, const OutStream *ost)
{
    const AVCodecParameters *par = ist->st->codecpar;
    const std::string problem = audio_parameters_problem(par->sample_rate, par->ch_layout.nb_channels,
                                                         par->block_align, encoder_max_channels(ost->enc));
    if (problem.empty())
        return 0;
    av_log(nullptr, AV_LOG_FATAL, "Input stream #%d:%d: %s; refused\n", ist->file_index, ist->st->index,
           problem.c_str());
    record_run_failure(RunFailure::SourceUnreadable, AVERROR(EINVAL), problem.c_str());
    return AVERROR(EINVAL);
}

// Returns a negative error for failures that end the set-up at once; an encoder
// that cannot be found is recorded in *err instead.
int setup_encoding(OutFile *of, OutStream *ost, InStream *ist, int index, SetupError *err)
{
    AVCodecContext *enc = ost->enc_ctx;
    if (!ost->enc) {
        record_error(err, AVERROR(EINVAL), "Encoder (codec %s) not found for output stream #%d:%d",
                     avcodec_get_name(ost->st->codecpar->codec_id), ost->file_index, ost->index);
        return 0;
    }
    if (ist && is_audio(enc) && refuse_absurd_sound(ist, ost) < 0)
        return AVERROR(EINVAL);
    if (ist)
        ist->decoding_needed++;
    ost->encoding_needed = 1;

    if ((is_video(enc) || is_audio(enc)) && !ost->filter) {
        ENGINE_ASSERT(ost->source_index >= 0);
        Filtergraph *fg = create_simple_graph(ist, ost);
        if (!fg || build_filtergraph(fg) < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Error opening filters!\n");
            return AVERROR(EINVAL);
        }
    }
    AVFilterContext *sink = ost->filter ? ost->filter->filter : nullptr;

    switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        set_audio_parameters(enc, sink);
        break;
    case AVMEDIA_TYPE_VIDEO: {
        const bool size_chosen = enc->width > 0 || enc->height > 0; // -s
        const bool rate_chosen = ost->frame_rate.num > 0 && ost->frame_rate.den > 0; // -r
        ost->frame_rate = output_frame_rate(ost, ist, sink);
        ost->follows_source_times = !rate_chosen && follows_source_times(of, ost, ist);
        set_video_parameters(of, ost, ist, sink);
        const int scaled = size_chosen ? 0 : scale_to_h264_level(ost);
        if (scaled < 0) {
            av_log(nullptr, AV_LOG_FATAL, "Error opening filters!\n");
            return scaled;
        }
        if (scaled) // the rebuilt graph has a sink of its own
            set_video_parameters(of, ost, ist, ost->filter->filter);
        fit_h264_level(ost);
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        enc->time_base = AVRational{1, 1000};
        if (!enc->width && ist) {
            enc->width = ist->dec_ctx->width;
            enc->height = ist->dec_ctx->height;
        }
        break;
    default:
        break;
    }

    if (is_video(enc) && ost->forced_keyframes)
        parse_forced_key_frames(ost);
    if (is_video(enc))
        return prepare_two_pass(ost, index);
    return 0;
}

int set_stream_parameters(SetupError *err)
{
    for (int i = 0; i < nb_output_streams && !err->code; i++) {
        OutStream *ost = output_streams[i];
        if (ost->attachment_filename) {
            // The file's bytes went into the header: the loop has nothing to serve.
            ost->finished = 1;
            continue;
        }
        OutFile *of = output_files[ost->file_index];
        InStream *ist = source_of(ost);
        int ret;
        if (ost->stream_copy && ist && !ost->filter)
            ret = setup_stream_copy(of, ost, ist);
        else
            ret = setup_encoding(of, ost, ist, i, err);
        if (ret < 0 || err->code)
            note_attached_picture_failure(ost);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// ---- opening codecs -------------------------------------------------------------

void report_experimental(const AVCodec *codec, const AVCodecContext *ctx, int encoder)
{
    if (!(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) ||
        ctx->strict_std_compliance <= FF_COMPLIANCE_EXPERIMENTAL)
        return;
    const char *kind = encoder ? "encoder" : "decoder";
    av_log(nullptr, AV_LOG_FATAL,
           "%s '%s' is experimental and might produce bad results.\n"
           "Add '-strict experimental' if you want to use it.\n",
           kind, codec->name);
    const AVCodec *other = encoder ? avcodec_find_encoder(codec->id) : avcodec_find_decoder(codec->id);
    if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
        av_log(nullptr, AV_LOG_FATAL, "Or use the non experimental %s '%s'.\n", kind, other->name);
}

void report_unused_options(const AVDictionary *opts)
{
    const AVDictionaryEntry *e = nullptr;
    while ((e = av_dict_get(opts, "", e, AV_DICT_IGNORE_SUFFIX)))
        av_log(nullptr, AV_LOG_FATAL, "Option %s not found.\n", e->key);
}

// Memory of large pictures. Every codec thread holds pictures of its own: a
// decoder's frame thread about two (105 MB at 8192x4320), a libx264 thread
// about five (77 MB at 4096x2304), and each frame of libx264's look-ahead 26 MB
// more at that size. Threads the user did not choose are therefore at most
// four for decoders (their pictures may grow to 8192x4320 mid-stream) and for
// encoders of pictures larger than 1080p, and libx264 looks ahead 20 frames at
// most there: a conversion of an 8192x4320 recording, scaled to level 5.1,
// then peaks at about 1.5 GiB (CONVERSION_MEMORY_BUDGET is 2 GiB).
constexpr int kMostThreads = 4;
constexpr int64_t kLargeEncodedPixels = 1920 * 1088;
constexpr int kLargePictureLookahead = 20;

// "threads" as the user gave it; else all cores (the codec's "auto"), or at
// most `most` threads when it is positive.
void default_threads(AVDictionary **opts, int most = 0)
{
    if (av_dict_get(*opts, "threads", nullptr, 0))
        return;
    if (most > 0)
        av_dict_set_int(opts, "threads", FFMIN(av_cpu_count() + 1, most), 0);
    else
        av_dict_set(opts, "threads", "auto", 0);
}

// libx264's look-ahead of each preset, where it is longer than the limit above.
int preset_lookahead(const char *preset)
{
    const std::pair<const char *, int> lookahead[] = {{"ultrafast", 0}, {"superfast", 0}, {"veryfast", 10},
                                                      {"faster", 20},   {"fast", 30},      {"medium", 40}};
    for (const auto &p : lookahead)
        if (!strcmp(preset, p.first))
            return p.second;
    return 60; // slow and slower presets
}

// The thread and look-ahead limits above for an encoder of large pictures.
void limit_large_picture_encoder(OutStream *ost)
{
    const AVCodecContext *enc = ost->enc_ctx;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO || int64_t(enc->width) * enc->height <= kLargeEncodedPixels) {
        default_threads(&ost->encoder_opts);
        return;
    }
    default_threads(&ost->encoder_opts, kMostThreads);
    AVDictionary *opts = ost->encoder_opts;
    if (strcmp(ost->enc->name, "libx264") || av_dict_get(opts, "rc-lookahead", nullptr, 0) ||
        av_dict_get(opts, "x264-params", nullptr, 0) || av_dict_get(opts, "x264opts", nullptr, 0))
        return;
    const AVDictionaryEntry *preset = av_dict_get(opts, "preset", nullptr, 0);
    if (preset_lookahead(preset ? preset->value : "medium") > kLargePictureLookahead)
        av_dict_set_int(&ost->encoder_opts, "rc-lookahead", kLargePictureLookahead, 0);
}

int open_decoder(InStream *ist, SetupError *err)
{
    if (avcodec_is_open(ist->dec_ctx))
        return 0;
    if (!ist->dec) {
        record_error(err, AVERROR(EINVAL), "Decoder (codec %s) not found for input stream #%d:%d",
                     avcodec_get_name(ist->st->codecpar->codec_id), ist->file_index, ist->st->index);
        return err->code;
    }
    AVCodecContext *dec = ist->dec_ctx;
    ist->dr1 = (ist->dec->capabilities & AV_CODEC_CAP_DR1) && !do_deinterlace;
    if (ist->dr1 && dec->codec_type == AVMEDIA_TYPE_VIDEO) {
        // Pictures come from the stream's own pool and reach the filters by reference.
        if (!(ist->pool = frame_pool_create())) {
            record_error(err, AVERROR(ENOMEM), "Error while opening decoder for input stream #%d:%d",
                         ist->file_index, ist->st->index);
            return err->code;
        }
        dec->opaque = ist->pool;
        dec->get_buffer2 = pool_get_buffer;
#if LIBAVCODEC_VERSION_MAJOR < 60
        // The pool takes and returns pictures from any thread; saying so keeps this
        // library generation from warning about frame threads calling it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        dec->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
    }
    default_threads(&ist->decoder_opts, dec->codec_type == AVMEDIA_TYPE_VIDEO ? kMostThreads : 0);
    if (avcodec_open2(dec, ist->dec, &ist->decoder_opts) < 0) {
        record_error(err, AVERROR(EINVAL), "Error while opening decoder for input stream #%d:%d",
                     ist->file_index, ist->st->index);
        return err->code;
    }
    report_experimental(ist->dec, dec, 0);
    report_unused_options(ist->decoder_opts);
    return 0;
}

// A subtitle encoder starts from the styles its source decoder describes.
int copy_subtitle_header(OutStream *ost, InStream *ist, SetupError *err)
{
    if (!ist || ost->enc_ctx->codec_type != AVMEDIA_TYPE_SUBTITLE || !ist->decoding_needed)
        return 0;
    // Decoders open after encoders; a subtitle decoder makes its header when opened.
    int ret = open_decoder(ist, err);
    if (ret < 0)
        return ret;
    const AVCodecContext *dec = ist->dec_ctx;
    if (!dec->subtitle_header)
        return 0;
    AVCodecContext *enc = ost->enc_ctx;
    av_freep(&enc->subtitle_header);
    enc->subtitle_header = (uint8_t *)av_mallocz(size_t(dec->subtitle_header_size) + 1);
    if (!enc->subtitle_header) {
        record_error(err, AVERROR(ENOMEM), "Error while opening encoder for output stream #%d:%d - "
                     "maybe incorrect parameters such as bit_rate, rate, width or height",
                     ost->file_index, ost->index);
        return err->code;
    }
    memcpy(enc->subtitle_header, dec->subtitle_header, size_t(dec->subtitle_header_size));
    enc->subtitle_header_size = dec->subtitle_header_size;
    return 0;
}

int open_encoder(OutStream *ost, SetupError *err)
{
    AVCodecContext *enc = ost->enc_ctx;
    InStream *ist = source_of(ost);
    if (copy_subtitle_header(ost, ist, err) < 0)
        return err->code;
    limit_large_picture_encoder(ost);
    if (const int refused = avcodec_open2(enc, ost->enc, &ost->encoder_opts); refused < 0) {
        record_run_failure(RunFailure::EncoderRefused, refused);
        record_error(err, AVERROR(EINVAL), "Error while opening encoder for output stream #%d:%d - "
                     "maybe incorrect parameters such as bit_rate, rate, width or height",
                     ost->file_index, ost->index);
        return err->code;
    }
    if (is_audio(enc) && !(ost->enc->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) &&
        ost->filter && ost->filter->filter && enc->frame_size > 0)
        av_buffersink_set_frame_size(ost->filter->filter, unsigned(enc->frame_size));
    report_experimental(ost->enc, enc, 1);
    report_unused_options(ost->encoder_opts);
    if (enc->bit_rate && enc->bit_rate < 1000)
        av_log(nullptr, AV_LOG_WARNING, "The bitrate parameter is set too low. "
                                        "It takes bits/s as argument, not kbits/s\n");
    extra_size += enc->extradata_size;

    // The muxer stream describes what the opened encoder makes.
    int ret = avcodec_parameters_from_context(ost->st->codecpar, enc);
    if (ret < 0) {
        record_error(err, ret, "Error while opening encoder for output stream #%d:%d - "
                     "maybe incorrect parameters such as bit_rate, rate, width or height",
                     ost->file_index, ost->index);
        return ret;
    }
    ost->st->time_base = enc->time_base;
    return 0;
}

void open_encoders(SetupError *err)
{
    for (int i = 0; i < nb_output_streams && !err->code; i++)
        if (output_streams[i]->encoding_needed && open_encoder(output_streams[i], err) < 0)
            note_attached_picture_failure(output_streams[i]);
}

void open_decoders(SetupError *err)
{
    for (int i = 0; i < nb_input_streams && !err->code; i++) {
        if (!input_streams[i]->decoding_needed || open_decoder(input_streams[i], err) >= 0)
            continue;
        for (int j = 0; j < nb_output_streams; j++)
            if (output_streams[j]->source_index == i)
                note_attached_picture_failure(output_streams[j]);
    }
    for (int i = 0; i < nb_input_streams; i++)
        input_streams[i]->next_pts = input_streams[i]->next_dts = AV_NOPTS_VALUE;
}

// ---- programs, headers ----------------------------------------------------------------

void discard_unused_programs(void)
{
    for (int i = 0; i < nb_input_files; i++) {
        InFile *f = input_files[i];
        AVFormatContext *ic = f->ctx;
        for (unsigned j = 0; j < ic->nb_programs; j++) {
            AVProgram *p = ic->programs[j];
            bool all_discarded = true;
            for (unsigned k = 0; k < p->nb_stream_indexes; k++) {
                int idx = int(p->stream_index[k]);
                if (idx < f->stream_count && !input_streams[f->first_stream + idx]->discard)
                    all_discarded = false;
            }
            p->discard = all_discarded ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
        }
    }
}

const char *encoder_name(const OutStream *ost)
{
    return ost->enc ? ost->enc->name : "copy";
}

// Every filter of the chain learns the parameters of what comes before it; the
// muxer stream then describes what comes out of the last one.
int init_bitstream_filters(OutStream *ost)
{
    if (!ost->nb_bsfs)
        return 0;
    const AVCodecParameters *par = ost->st->codecpar;
    AVRational tb = ost->st->time_base;
    for (int i = 0; i < ost->nb_bsfs; i++) {
        AVBSFContext *bsf = ost->bsfs[i];
        int ret = avcodec_parameters_copy(bsf->par_in, par);
        if (ret >= 0) {
            bsf->time_base_in = tb;
            ret = av_bsf_init(bsf);
        }
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Failed to open bitstream filter %s for stream %d with codec %s",
                   bsf->filter->name, ost->st->index, encoder_name(ost));
            print_error("", ret);
            return ret;
        }
        par = bsf->par_out;
        tb = bsf->time_base_out;
    }
    int ret = avcodec_parameters_copy(ost->st->codecpar, par);
    ost->st->time_base = tb;
    return ret;
}

// A phone films upright pictures sideways and says how to turn them in the
// track's display matrix. The pictures are encoded as they come, so the matrix
// goes with them and players show them turned as the phone meant.
int carry_display_matrix(OutStream *ost)
{
    const InStream *ist = source_of(ost);
    if (!ist || ost->st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return 0;
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(ist->st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    uint8_t *copy = av_stream_new_side_data(ost->st, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (!copy)
        return AVERROR(ENOMEM);
    memcpy(copy, matrix, size);
    return 0;
}

void write_headers(SetupError *err, bool *want_sdp)
{
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        AVFormatContext *oc = of->ctx;
        oc->interrupt_callback = interrupt_callback;
        int ret = 0;
        for (int j = 0; j < int(oc->nb_streams) && ret >= 0; j++)
            ret = init_bitstream_filters(output_streams[of->first_stream + j]);
        for (int j = 0; j < int(oc->nb_streams) && ret >= 0; j++)
            ret = carry_display_matrix(output_streams[of->first_stream + j]);
        if (ret >= 0)
            ret = avformat_write_header(oc, &of->opts);
        if (ret < 0) {
            char text[128];
            av_strerror(ret, text, sizeof(text));
            // A write the file system refused (no space, the folder gone or
            // closed) is the destination's, not the parameters'.
            const RunFailure kind = output_failure(ret);
            if (kind == RunFailure::DiskFull || kind == RunFailure::DestinationNotWritable ||
                kind == RunFailure::DestinationMissing)
                record_run_failure(kind, ret);
            record_error(err, AVERROR(EINVAL),
                         "Could not write header for output file #%d (incorrect codec parameters ?): %s",
                         i, text);
            return;
        }
        if (strcmp(oc->oformat->name, "rtp"))
            *want_sdp = false;
    }
    // Nothing is muxed yet; the muxer may have changed every stream's time base.
    for (int i = 0; i < nb_output_streams; i++) {
        output_streams[i]->last_mux_dts = AV_NOPTS_VALUE;
        output_streams[i]->mux_end_us = AV_NOPTS_VALUE;
    }
}

// ---- what the user is shown ----------------------------------------------------------

void dump_output_formats(void)
{
    for (int i = 0; i < nb_output_files; i++)
        av_dump_format(output_files[i]->ctx, i, output_display_name(output_files[i]), 1);
}

bool fed_by_complex_graph(const OutStream *ost)
{
    return ost->filter && ost->filter->graph && ost->filter->graph->description;
}

void print_stream_mapping(void)
{
    av_log(nullptr, AV_LOG_INFO, "Stream mapping:\n");
    for (int i = 0; i < nb_input_streams; i++) {
        InStream *ist = input_streams[i];
        for (int j = 0; j < ist->nb_filters; j++) {
            GraphInput *in = ist->filters[j];
            if (!in->graph->description)
                continue;
            av_log(nullptr, AV_LOG_INFO, "  Stream #%d:%d (%s) -> %s", ist->file_index,
                   ist->st->index, ist->dec ? ist->dec->name : "?", in->name ? in->name : "?");
            if (nb_filtergraphs > 1)
                av_log(nullptr, AV_LOG_INFO, " (graph %d)", in->graph->index);
            av_log(nullptr, AV_LOG_INFO, "\n");
        }
    }
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->attachment_filename) {
            av_log(nullptr, AV_LOG_INFO, "  File %s -> Stream #%d:%d\n", ost->attachment_filename,
                   ost->file_index, ost->index);
            continue;
        }
        if (fed_by_complex_graph(ost)) {
            av_log(nullptr, AV_LOG_INFO, "  %s", ost->filter->name ? ost->filter->name : "?");
            if (nb_filtergraphs > 1)
                av_log(nullptr, AV_LOG_INFO, " (graph %d)", ost->filter->graph->index);
            av_log(nullptr, AV_LOG_INFO, " -> Stream #%d:%d (%s)\n", ost->file_index, ost->index,
                   ost->enc ? ost->enc->name : "?");
            continue;
        }
        InStream *ist = source_of(ost);
        if (!ist)
            continue;
        av_log(nullptr, AV_LOG_INFO, "  Stream #%d:%d -> #%d:%d", ist->file_index, ist->st->index,
               ost->file_index, ost->index);
        if (ost->sync_ist && ost->sync_ist != ist)
            av_log(nullptr, AV_LOG_INFO, " [sync #%d:%d]", ost->sync_ist->file_index,
                   ost->sync_ist->st->index);
        if (ost->stream_copy)
            av_log(nullptr, AV_LOG_INFO, " (copy)");
        else
            av_log(nullptr, AV_LOG_INFO, " (%s -> %s)", ist->dec ? ist->dec->name : "?",
                   ost->enc ? ost->enc->name : "?");
        av_log(nullptr, AV_LOG_INFO, "\n");
    }
}

void print_sdp(void)
{
    AVFormatContext **contexts =
        (AVFormatContext **)av_malloc_array(nb_output_files, sizeof(*contexts));
    if (!contexts)
        return;
    for (int i = 0; i < nb_output_files; i++)
        contexts[i] = output_files[i]->ctx;
    char sdp[2048];
    if (av_sdp_create(contexts, nb_output_files, sdp, sizeof(sdp)) >= 0) {
        printf("SDP:\n%s\n", sdp);
        fflush(stdout);
    }
    av_freep(&contexts);
}

// The first pass's statistics are ours to free; the run's clean-up frees the
// rest of what set-up made.
void release_pass_statistics(void)
{
    for (int i = 0; i < nb_output_streams; i++)
        if (output_streams[i]->enc_ctx)
            av_freep(&output_streams[i]->enc_ctx->stats_in);
}

int run_setup_steps(void)
{
    start_rate_emulation();
    int ret = check_outputs_have_streams();
    if (ret < 0)
        return ret;
    if ((ret = configure_complex_graphs()) < 0)
        return ret;

    SetupError err;
    if ((ret = set_stream_parameters(&err)) < 0)
        return ret;
    if (!err.code)
        open_encoders(&err);
    if (!err.code)
        open_decoders(&err);
    if (!err.code)
        discard_unused_programs();
    bool want_sdp = nb_output_files > 0;
    if (!err.code)
        write_headers(&err, &want_sdp);

    dump_output_formats();
    print_stream_mapping();
    if (err.code) {
        av_log(nullptr, AV_LOG_ERROR, "%s\n", err.text);
        return err.code;
    }
    if (want_sdp)
        print_sdp();
    return 0;
}

} // namespace

int prepare_transcode(void)
{
    int ret = run_setup_steps();
    if (ret < 0)
        release_pass_statistics();
    return ret;
}
