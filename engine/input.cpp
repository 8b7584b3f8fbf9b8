// Input files: the handler of "-i" opens one input with the demuxing library,
// applies the per-file options written before it, probes the streams, seeks to the
// requested start, registers one InStream per stream and one InFile for the file in
// the run's tables, and writes requested attachments out. Also here: the codec
// lookup by name that inputs and outputs share, and the channel-layout guess for
// audio decoders.
//
// add_input_file() is called only by option parsing (row "i"); find_codec_by_name()
// by inputs and outputs; guess_input_channel_layout() by inputs and the decode loop.
#include "engine.h"
#include "input_guard.h"
#include "media_scan.h"
#include "observe.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

const AVCodec *find_codec_by_name(const char *name, enum AVMediaType type, int encoder)
{
    const char *kind = encoder ? "encoder" : "decoder";
    const AVCodec *codec =
        encoder ? avcodec_find_encoder_by_name(name) : avcodec_find_decoder_by_name(name);

    if (!codec) {
        // A codec's own name ("dvd_subtitle") also works when no coder is called so.
        const AVCodecDescriptor *desc = avcodec_descriptor_get_by_name(name);
        if (desc) {
            codec = encoder ? avcodec_find_encoder(desc->id) : avcodec_find_decoder(desc->id);
            if (codec)
                av_log(nullptr, AV_LOG_VERBOSE, "Matched %s '%s' for codec '%s'.\n", kind,
                       codec->name, desc->name);
        }
    }
    if (!codec) {
        av_log(nullptr, AV_LOG_FATAL, "Unknown %s '%s'\n", kind, name);
        return nullptr;
    }
    if (codec->type != type) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid %s type '%s'\n", kind, name);
        return nullptr;
    }
    return codec;
}

int guess_input_channel_layout(InStream *ist)
{
    AVCodecContext *dec = ist->dec_ctx;
    if (dec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
        return 1;
    AVChannelLayout guess;
    av_channel_layout_default(&guess, dec->ch_layout.nb_channels);
    if (guess.order == AV_CHANNEL_ORDER_UNSPEC)
        return 0; // no channels, or more than any standard layout has
    av_channel_layout_uninit(&dec->ch_layout);
    dec->ch_layout = guess;
    return 1;
}

namespace {

// ---- decoder choice ---------------------------------------------------------------

// The decoder the command line asks for on `st`, or the library's default decoder
// for its codec id (possibly none). A named decoder also becomes the stream's codec
// id, so that probing and decoding agree on it. Returns -1 when the name is unknown
// or of another media type (find_codec_by_name has said so).
int choose_decoder(PerFileOptions *o, AVFormatContext *ic, AVStream *st, const AVCodec **dec)
{
    const SpecValue *choice = last_matching_value(o->codec_choices, ic, st);
    if (!choice) {
        *dec = avcodec_find_decoder(st->codecpar->codec_id);
        return 0;
    }
    *dec = find_codec_by_name(choice->u.str, st->codecpar->codec_type, 0);
    if (!*dec)
        return -1;
    st->codecpar->codec_id = (*dec)->id;
    return 0;
}

// The last codec choice written exactly as "-c:<letter>" (no further specifier).
const char *file_wide_choice(const SpecList &choices, const char *letter)
{
    const char *name = nullptr;
    for (int i = 0; i < choices.count; i++)
        if (!strcmp(choices.items[i].specifier, letter))
            name = choices.items[i].u.str;
    return name;
}

// "-c:v", "-c:a" and "-c:s" force the decoder of every stream of that type, also
// while the demuxer probes. Returns -1 when a name cannot be used.
int force_file_decoders(PerFileOptions *o, AVFormatContext *ic)
{
    struct Forced {
        const char *letter;
        AVMediaType type;
        AVCodecID *id;
        const AVCodec **codec;
    } const forced[] = {
        {"v", AVMEDIA_TYPE_VIDEO, &ic->video_codec_id, &ic->video_codec},
        {"a", AVMEDIA_TYPE_AUDIO, &ic->audio_codec_id, &ic->audio_codec},
        {"s", AVMEDIA_TYPE_SUBTITLE, &ic->subtitle_codec_id, &ic->subtitle_codec},
    };
    for (const Forced &f : forced) {
        const char *name = file_wide_choice(o->codec_choices, f.letter);
        const AVCodec *codec = name ? find_codec_by_name(name, f.type, 0) : nullptr;
        if (name && !codec)
            return -1;
        *f.id = codec ? codec->id : AV_CODEC_ID_NONE;
        // The codec id alone would let probing pick the default decoder of that id;
        // the codec itself makes it use the one that was asked for.
        *f.codec = codec;
    }
    return 0;
}

// ---- demuxer options ----------------------------------------------------------------

bool demuxer_has_option(const AVInputFormat *fmt, const char *name)
{
    return fmt && fmt->priv_class &&
           av_opt_find((void *)&fmt->priv_class, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

const SpecValue *last_value(const SpecList &list)
{
    return list.count ? &list.items[list.count - 1] : nullptr;
}

// Raw inputs ("rawvideo", "s16le", ...) learn their parameters from the per-file
// options. The last value of each list counts, whatever its stream specifier: there
// are no streams yet to match it against.
void set_demuxer_options(PerFileOptions *o, const AVInputFormat *forced)
{
    char number[32];
    if (const SpecValue *v = last_value(o->sample_rates)) {
        snprintf(number, sizeof(number), "%d", v->u.i);
        av_dict_set(&format_options, "sample_rate", number, 0);
    }
    if (const SpecValue *v = last_value(o->channel_counts)) {
        if (demuxer_has_option(forced, "channels")) {
            snprintf(number, sizeof(number), "%d", v->u.i);
            av_dict_set(&format_options, "channels", number, 0);
        }
    }
    if (const SpecValue *v = last_value(o->frame_rate_texts)) {
        if (demuxer_has_option(forced, "framerate"))
            av_dict_set(&format_options, "framerate", v->u.str, 0);
    }
    if (const SpecValue *v = last_value(o->frame_size_texts))
        av_dict_set(&format_options, "video_size", v->u.str, 0);
    if (const SpecValue *v = last_value(o->pixel_format_texts))
        av_dict_set(&format_options, "pixel_format", v->u.str, 0);
}

// ---- streams --------------------------------------------------------------------

// "-tag" text: a number (any base strtol knows), or else a four-character code
// read little-endian. Shorter codes are padded with zero bytes rather than read
// past the end of the text.
uint32_t parse_codec_tag(const char *text)
{
    char *tail;
    uint32_t tag = uint32_t(strtol(text, &tail, 0));
    if (*tail) {
        uint8_t code[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4 && text[i]; i++)
            code[i] = uint8_t(text[i]);
        tag = AV_RL32(code);
    }
    return tag;
}

// Decoder-side picture or sound parameters, as set-up and the loop compare them
// with every decoded frame.
int record_type_fields(PerFileOptions *o, AVFormatContext *ic, InStream *ist)
{
    AVStream *st = ist->st;
    AVCodecContext *dec = ist->dec_ctx;
    switch (dec->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
        // Decoders of this library generation need no edge emulation for reduced
        // resolution ("lowres"): the flag is gone and lowres works as it is.
        ist->resample_width = dec->width;
        ist->resample_height = dec->height;
        ist->resample_pix_fmt = dec->pix_fmt;
        if (const SpecValue *v = last_matching_value(o->frame_rate_texts, ic, st)) {
            if (av_parse_video_rate(&ist->forced_framerate, v->u.str) < 0) {
                av_log(nullptr, AV_LOG_ERROR, "Error parsing framerate %s.\n", v->u.str);
                return -1;
            }
        }
        const SpecValue *top = last_matching_value(o->field_order, ic, st);
        ist->top_field_first = top ? top->u.i : -1;
        break;
    }
    case AVMEDIA_TYPE_AUDIO:
        guess_input_channel_layout(ist);
        ist->resample_sample_fmt = dec->sample_fmt;
        ist->resample_sample_rate = dec->sample_rate;
        ist->resample_channels = dec->ch_layout.nb_channels;
        ist->resample_channel_layout = av_channel_layout_subset(&dec->ch_layout, UINT64_MAX);
        break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_SUBTITLE: {
        const SpecValue *fix = last_matching_value(o->fix_subtitle_duration, ic, st);
        ist->fix_sub_duration = fix ? fix->u.i : 0;
        break;
    }
    default: // attachments and unknown types are never decoded
        break;
    }
    return 0;
}

// Appends the InStream of `st` (of the file that becomes input number
// nb_input_files) to the stream table. Returns 0 or a negative error; the record
// is in the table either way, so the caller can drop what it registered.
int register_stream(PerFileOptions *o, AVFormatContext *ic, AVStream *st)
{
    InStream *ist = (InStream *)av_mallocz(sizeof(*ist));
    if (!ist)
        return AVERROR(ENOMEM);
    GROW_TABLE(input_streams, nb_input_streams);
    input_streams[nb_input_streams - 1] = ist;

    ist->file_index = nb_input_files;
    ist->st = st;
    // Nothing is read from the stream until an output selects it.
    ist->discard = 1;
    st->discard = AVDISCARD_ALL;
    // No packet seen yet: the loop takes its first timestamps from the first packet.
    ist->dts = ist->next_dts = AV_NOPTS_VALUE;
    ist->pts = ist->next_pts = AV_NOPTS_VALUE;

    const SpecValue *scale = last_matching_value(o->ts_scales, ic, st);
    ist->ts_scale = scale ? scale->u.dbl : 1.0;
    if (const SpecValue *tag = last_matching_value(o->tag_texts, ic, st))
        st->codecpar->codec_tag = parse_codec_tag(tag->u.str);

    if (choose_decoder(o, ic, st, &ist->dec) < 0)
        return -1;
    ist->decoder_opts =
        select_codec_options(codec_options, st->codecpar->codec_id, ic, st, ist->dec);
    if (limit_decoder_options(&ist->decoder_opts) < 0)
        return AVERROR(ENOMEM);
    // Refused now, before an encoder and filters of that size are set up for it.
    const AVCodecParameters *par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
        int64_t(par->width) * par->height > allowed_pixels(ist->decoder_opts)) {
        av_log(nullptr, AV_LOG_FATAL,
               "Input stream #%d:%d claims a picture of %dx%d, more than a decoder may make; refused\n",
               nb_input_files, st->index, par->width, par->height);
        record_run_failure(RunFailure::SourceUnreadable, AVERROR(EINVAL),
                           "The picture is larger than a decoder may make");
        return AVERROR(EINVAL);
    }

    ist->dec_ctx = avcodec_alloc_context3(ist->dec);
    if (!ist->dec_ctx)
        return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(ist->dec_ctx, st->codecpar);
    if (ret < 0)
        return ret;
    ist->dec_ctx->pkt_timebase = st->time_base;

    return record_type_fields(o, ic, ist);
}

// Takes the streams of a file that failed to open out of the table again.
void drop_streams_from(int first)
{
    for (int i = first; i < nb_input_streams; i++) {
        InStream *ist = input_streams[i];
        if (!ist)
            continue;
        av_dict_free(&ist->decoder_opts);
        avcodec_free_context(&ist->dec_ctx);
        av_freep(&input_streams[i]);
    }
    nb_input_streams = first;
}

int register_streams(PerFileOptions *o, AVFormatContext *ic)
{
    const int first = nb_input_streams;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        int ret = register_stream(o, ic, ic->streams[i]);
        if (ret < 0) {
            drop_streams_from(first);
            return ret;
        }
    }
    return 0;
}

// ---- attachments ------------------------------------------------------------------

// The last component of a file name stored inside the media file, or nullptr when
// it names no file. A recording from elsewhere must not choose where we write:
// directories ("../", "/etc/") are cut off.
const char *tag_file_name(const char *tag)
{
    const char *base = tag;
    for (const char *p = tag; *p; p++)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    if (!*base || !strcmp(base, ".") || !strcmp(base, ".."))
        return nullptr;
    return base;
}

void dump_attachment(AVStream *st, int file_index, const char *requested)
{
    const AVCodecParameters *par = st->codecpar;
    if (!par->extradata_size) {
        av_log(nullptr, AV_LOG_WARNING, "No extradata to dump in stream #%d:%d.\n", file_index,
               st->index);
        return;
    }

    std::string name = requested;
    std::string url = requested;
    if (name.empty()) {
        const AVDictionaryEntry *tag = av_dict_get(st->metadata, "filename", nullptr, 0);
        const char *base = tag ? tag_file_name(tag->value) : nullptr;
        if (!base) {
            av_log(nullptr, AV_LOG_FATAL,
                   "No filename specified and no 'filename' tagin stream #%d:%d.\n", file_index,
                   st->index);
            return;
        }
        if (base != tag->value)
            av_log(nullptr, AV_LOG_WARNING,
                   "Attachment file name '%s' of stream #%d:%d reduced to '%s'.\n", tag->value,
                   file_index, st->index, base);
        name = base;
        // Opened as a local file even when the name looks like a protocol ("pipe:1").
        url = "file:" + name;
    }

    // A refused overwrite (answer "no", or "-n") leaves the existing file alone.
    if (check_overwrite(name.c_str()) < 0)
        return;
    AVIOContext *out = nullptr;
    if (avio_open2(&out, url.c_str(), AVIO_FLAG_WRITE, &interrupt_callback, nullptr) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Could not open file %s for writing.\n", name.c_str());
        return;
    }
    avio_write(out, par->extradata, par->extradata_size);
    avio_flush(out);
    avio_closep(&out);
}

void dump_attachments(PerFileOptions *o, AVFormatContext *ic, int file_index)
{
    for (int i = 0; i < o->attachment_dumps.count; i++) {
        const SpecValue &dump = o->attachment_dumps.items[i];
        for (unsigned j = 0; j < ic->nb_streams; j++)
            if (match_stream_spec(ic, ic->streams[j], dump.specifier) == 1)
                dump_attachment(ic->streams[j], file_index, dump.u.str);
    }
}

// ---- opening ------------------------------------------------------------------------

void free_probe_options(AVDictionary **opts, unsigned count)
{
    if (!opts)
        return;
    for (unsigned i = 0; i < count; i++)
        av_dict_free(&opts[i]);
    av_free(opts);
}

bool names_standard_input(const char *filename)
{
    return !strncmp(filename, "pipe:", 5) || !strcmp(filename, "/dev/stdin");
}

// A run of recordings only (RunObserver::recordings_only) refuses anything but a
// regular file by name, before it is opened (a named pipe would be waited on or
// drained, a folder or a device is no recording), and reads a file as the
// format its content shows, never one its name alone suggests (`*format`, when
// the command line forced none). The run's own segment list passes: its
// entries are the recordings, each pinned to its container. Returns 0 or -1.
int check_recording_input(const char *filename, const AVInputFormat **format)
{
    if (!observer_wants_recordings_only() || observer_owns_input(filename))
        return 0;
    const char *path = local_file_path(filename);
    std::string problem = path ? recording_path_problem(path) : "is not a file";
    const AVInputFormat *by_content = nullptr;
    int err = 0;
    if (problem.empty() && (err = recognise_by_content(path, &by_content)) < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(err, reason, sizeof(reason));
        problem = err == AVERROR_INVALIDDATA ? "shows no known recording format in its content"
                                             : "cannot be read: " + std::string(reason);
    }
    if (problem.empty()) {
        if (!*format)
            *format = by_content;
        return 0;
    }
    char text[PATH_MAX + 128];
    snprintf(text, sizeof(text), "%s %s, not a recording", filename, problem.c_str());
    av_log(nullptr, AV_LOG_ERROR, "%s\n", text);
    const RunFailure kind = problem == PATH_DOES_NOT_EXIST ? RunFailure::SourceMissing
                            : problem == PATH_IS_A_FOLDER  ? RunFailure::SourceIsFolder
                                                           : RunFailure::SourceUnreadable;
    record_run_failure(kind, err < 0 ? err : AVERROR(EINVAL), text);
    return -1;
}

// Opens `filename` with `options` (what it does not take is left there) and
// chooses the decoders of its streams; on failure everything is released and the
// message is logged. `longer` widens the probe to LONG_PROBE_US / LONG_PROBE_BYTES.
int open_input(PerFileOptions *o, AVFormatContext **pic, const char *filename, const AVInputFormat *forced,
               AVDictionary **options, bool longer)
{
    AVFormatContext *ic = avformat_alloc_context();
    if (!ic) {
        print_error(filename, AVERROR(ENOMEM));
        return -1;
    }
    if (force_file_decoders(o, ic) < 0) {
        avformat_free_context(ic);
        return -1;
    }
    ic->flags |= AVFMT_FLAG_NONBLOCK;
    ic->interrupt_callback = interrupt_callback;
    if (longer) { // limits given on the command line are applied by the open, over these
        ic->max_analyze_duration = FFMAX(ic->max_analyze_duration, LONG_PROBE_US);
        ic->probesize = FFMAX(ic->probesize, LONG_PROBE_BYTES);
    }
    int err = guard_local_input(ic, filename, forced);
    if (err < 0) {
        avformat_free_context(ic);
        print_error(filename, err);
        record_run_failure(input_failure(err), err);
        return -1;
    }
    const bool format_limited = ic->format_whitelist != nullptr;

    err = avformat_open_input(&ic, filename, forced, options);
    if (err < 0) { // the context is freed by the failed open
        print_error(filename, err);
        record_run_failure(input_failure(err), err);
        if (format_limited && err == AVERROR(EINVAL))
            explain_refused_format(filename);
        return -1;
    }
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVCodec *dec;
        if (choose_decoder(o, ic, ic->streams[i], &dec) < 0) {
            avformat_close_input(&ic);
            return -1;
        }
    }
    *pic = ic;
    return 0;
}

// Reads the first part of an opened input for its streams' parameters.
int probe_streams(AVFormatContext *ic)
{
    const unsigned probed_streams = ic->nb_streams;
    AVDictionary **probe_opts = probe_options_for_streams(ic, codec_options);
    // Probing decodes too: the same limits hold there.
    for (unsigned i = 0; probe_opts && i < probed_streams; i++)
        limit_decoder_options(&probe_opts[i]);
    const int err = avformat_find_stream_info(ic, probe_opts);
    free_probe_options(probe_opts, probed_streams);
    return err;
}

// A picture or sound stream whose decoder exists but whose parameters the probe
// did not find: its first key frame, or its first packet, lies beyond what the
// probe read (a recording cut out of a long group of pictures, a picture that
// starts seconds after the sound).
bool lacks_parameters(const AVStream *st)
{
    const AVCodecParameters *par = st->codecpar;
    if (!avcodec_find_decoder(par->codec_id) || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return false;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
        return par->width <= 0 || par->height <= 0 || par->format < 0;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 || par->format < 0;
    return false;
}

const AVStream *first_stream_lacking_parameters(const AVFormatContext *ic)
{
    for (unsigned i = 0; i < ic->nb_streams; i++)
        if (lacks_parameters(ic->streams[i]))
            return ic->streams[i];
    return nullptr;
}

// Only a file can be read from its start a second time.
bool can_open_again(const AVFormatContext *ic)
{
    return ic->pb && !(ic->flags & AVFMT_FLAG_CUSTOM_IO) && (ic->pb->seekable & AVIO_SEEKABLE_NORMAL);
}

// When the first probe left a picture or sound stream without its parameters,
// the file is opened again and probed further (up to LONG_PROBE_US of media and
// LONG_PROBE_BYTES); ordinary files are probed once, as quickly as ever. The
// longer probe replaces *pic when it worked; otherwise *pic stays as it was.
void probe_further_when_needed(PerFileOptions *o, AVFormatContext **pic, const char *filename,
                               const AVInputFormat *forced, const AVDictionary *options)
{
    const AVStream *lacking = first_stream_lacking_parameters(*pic);
    if (!lacking || !can_open_again(*pic))
        return;
    av_log(nullptr, AV_LOG_INFO,
           "%s: stream #%d (%s) shows no parameters in the first part of the file; reading up to %d s of it\n",
           filename, lacking->index, av_get_media_type_string(lacking->codecpar->codec_type),
           int(LONG_PROBE_US / AV_TIME_BASE));
    AVDictionary *again_options = nullptr;
    AVFormatContext *again = nullptr;
    if (av_dict_copy(&again_options, options, 0) < 0 ||
        open_input(o, &again, filename, forced ? forced : (*pic)->iformat, &again_options, true) < 0) {
        av_dict_free(&again_options);
        return;
    }
    av_dict_free(&again_options);
    if (probe_streams(again) < 0 || again->nb_streams < (*pic)->nb_streams) {
        avformat_close_input(&again);
        return;
    }
    avformat_close_input(pic);
    *pic = again;
}

// Opens and probes; on failure everything is released and the message is logged.
int open_and_probe(PerFileOptions *o, AVFormatContext **pic, const char *filename,
                   const AVInputFormat *forced)
{
    if (check_recording_input(filename, &forced) < 0)
        return -1;
    set_demuxer_options(o, forced);
    // Kept for a second, longer probe: the open takes what it uses out of them.
    AVDictionary *given_options = nullptr;
    if (av_dict_copy(&given_options, format_options, 0) < 0) {
        print_error(filename, AVERROR(ENOMEM));
        return -1;
    }
    AVFormatContext *ic = nullptr;
    if (open_input(o, &ic, filename, forced, &format_options, false) < 0) {
        av_dict_free(&given_options);
        return -1;
    }
    if (const AVDictionaryEntry *left =
            av_dict_get(format_options, "", nullptr, AV_DICT_IGNORE_SUFFIX))
        av_log(nullptr, AV_LOG_FATAL, "Option %s not found.\n", left->key);

    const int err = probe_streams(ic);
    if (err < 0) {
        av_dict_free(&given_options);
        av_log(nullptr, AV_LOG_FATAL, "%s: could not find codec parameters\n", filename);
        record_run_failure(RunFailure::SourceUnreadable, err);
        avformat_close_input(&ic);
        return -1;
    }
    probe_further_when_needed(o, &ic, filename, forced, given_options);
    av_dict_free(&given_options);
    *pic = ic;
    return 0;
}

// Seeks to "-ss" past the file's own start; returns the start timestamp.
int64_t seek_to_start(PerFileOptions *o, AVFormatContext *ic, const char *filename)
{
    int64_t timestamp = o->seek_start;
    if (ic->start_time != AV_NOPTS_VALUE)
        timestamp += ic->start_time;
    if (o->seek_start != 0) {
        int ret = av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD);
        if (ret < 0)
            av_log(nullptr, AV_LOG_WARNING, "%s: could not seek to position %0.3f\n", filename,
                   (double)timestamp / AV_TIME_BASE);
    }
    return timestamp;
}

} // namespace

int open_input_again(const AVFormatContext *ic, AVFormatContext **again)
{
    *again = nullptr;
    if (!ic->url || !can_open_again(ic))
        return AVERROR(ESPIPE);
    AVFormatContext *copy = avformat_alloc_context();
    if (!copy)
        return AVERROR(ENOMEM);
    copy->flags |= AVFMT_FLAG_NONBLOCK;
    copy->interrupt_callback = interrupt_callback;
    int err = guard_local_input(copy, ic->url, ic->iformat);
    if (err < 0) {
        avformat_free_context(copy);
        return err;
    }
    if ((err = avformat_open_input(&copy, ic->url, ic->iformat, nullptr)) < 0)
        return err; // the context is freed by the failed open
    *again = copy;
    return 0;
}

int add_input_file(void *ctx, const char *, const char *filename)
{
    PerFileOptions *o = (PerFileOptions *)ctx;

    const AVInputFormat *forced = nullptr;
    if (o->forced_format && !(forced = av_find_input_format(o->forced_format))) {
        av_log(nullptr, AV_LOG_FATAL, "Unknown input format: '%s'\n", o->forced_format);
        return -1;
    }

    if (!strcmp(filename, "-"))
        filename = "pipe:";
    // The input takes standard input: keys must not be read from it, for the rest of
    // the process.
    if (names_standard_input(filename))
        stdin_enabled = 0;

    AVFormatContext *ic = nullptr;
    if (open_and_probe(o, &ic, filename, forced) < 0)
        return -1;

    const int64_t start = seek_to_start(o, ic, filename);
    observe_input(ic, o->seek_start);

    InFile *f = (InFile *)av_mallocz(sizeof(*f));
    const int first_stream = nb_input_streams;
    int ret = f ? register_streams(o, ic) : AVERROR(ENOMEM);
    if (ret < 0) {
        av_free(f);
        avformat_close_input(&ic);
        return -1;
    }

    av_dump_format(ic, nb_input_files, filename, 0);

    f->ctx = ic;
    f->first_stream = first_stream;
    f->ts_offset = o->ts_offset - (copy_ts ? 0 : start);
    f->stream_count = int(ic->nb_streams);
    f->realtime_read = o->realtime_read;
    GROW_TABLE(input_files, nb_input_files);
    input_files[nb_input_files - 1] = f;

    dump_attachments(o, ic, nb_input_files - 1);

    reset_file_options(o, 1);
    return 0;
}
