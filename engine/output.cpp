// Output files: add_output_file() turns one output name of the command line into
// an OutFile with its streams (complex filtergraph outputs, automatic selection or
// "map" entries, attachments), opens it for writing, copies metadata and chapters,
// and resets the per-file options. Also the overwrite question (check_overwrite),
// which input dumps use too.
//
// add_output_file() is the file-name handler of the command-line walk. It never
// stops the walk; a failure is logged and sets run_failed so the run ends with -1.
#include "output_internal.h"
#include "observe.h"
#include "output_naming.h"
#include "stream_choice.h"

#include "platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Every input name of the command line being run, in order: an output named
// before its input must not replace it either.
std::vector<std::string> named_inputs;

} // namespace

void note_named_inputs(int argc, char **argv, const OptionEntry *table)
{
    named_inputs.clear();
    for (int i = 0; (i = find_next_option(argc, argv, table, "i", i + 1)) > 0 && i + 1 < argc;)
        named_inputs.push_back(argv[i + 1]);
}

const char *local_file_path(const char *url)
{
    const char *protocol = url ? avio_find_protocol_name(url) : nullptr;
    if (!protocol || strcmp(protocol, "file"))
        return nullptr;
    const char *path = url;
    av_strstart(url, "file:", &path);
    return path;
}

// ---- the automatic selection's ranks (stream_choice.h) ----------------------------

int64_t video_choice_rank(const AVStream *st, bool pictures_only, bool leave_out_attached)
{
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return 0;
    bool attached = st->disposition & AV_DISPOSITION_ATTACHED_PIC;
    if ((pictures_only && !attached) || (attached && leave_out_attached))
        return 0;
    if (attached && !pictures_only)
        return 1;
    return FFMAX(int64_t(st->codecpar->width) * st->codecpar->height, 0);
}

int audio_choice_rank(const AVStream *st)
{
    const AVCodecParameters *par = st->codecpar;
    return par->codec_type == AVMEDIA_TYPE_AUDIO ? FFMAX(par->ch_layout.nb_channels, 0) : 0;
}

namespace {

// ---- protecting the inputs ------------------------------------------------------

bool same_file(const char *path, const struct stat &st)
{
    struct stat other;
    return path && stat(path, &other) == 0 && other.st_dev == st.st_dev &&
           other.st_ino == st.st_ino;
}

int refuse(const char *filename, int input_index, const char *input_name)
{
    av_log(nullptr, AV_LOG_FATAL, "Output file '%s' is input file #%d '%s'; refusing to overwrite it.\n",
           filename, input_index, input_name);
    return AVERROR(EINVAL);
}

// An output must never replace a recording the run reads: the name itself, a
// symbolic link or a hard link to an input all lead to the same file, whether the
// input was opened already or is named later on the command line.
int refuse_input_as_output(const char *filename)
{
    const char *out_path = local_file_path(filename);
    struct stat out_st;
    if (!out_path || stat(out_path, &out_st) != 0)
        return 0; // nothing there (yet) to protect
    for (int i = 0; i < nb_input_files; i++) {
        AVFormatContext *ic = input_files[i] ? input_files[i]->ctx : nullptr;
        if (ic && ic->url && same_file(local_file_path(ic->url), out_st))
            return refuse(filename, i, ic->url);
    }
    for (size_t i = 0; i < named_inputs.size(); i++)
        if (same_file(local_file_path(named_inputs[i].c_str()), out_st))
            return refuse(filename, int(i), named_inputs[i].c_str());
    return 0;
}

// ---- one name, one output ---------------------------------------------------------

// The folder a local path names its file in, and the file's name there.
bool split_local_path(const char *path, struct stat *folder, std::string *name)
{
    const std::string text = path;
    const size_t slash = text.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    *name = slash == std::string::npos ? text : text.substr(slash + 1);
    return stat(dir.c_str(), folder) == 0;
}

// Whether two local output paths lead to the same place: the same name in the
// same folder, however either path spells the folder.
bool same_output_place(const char *a, const char *b)
{
    struct stat fa, fb;
    std::string na, nb;
    if (!split_local_path(a, &fa, &na) || !split_local_path(b, &fb, &nb))
        return !strcmp(a, b);
    return na == nb && fa.st_dev == fb.st_dev && fa.st_ino == fb.st_ino;
}

// Two outputs of one run under one name would both be written and then only one
// of them kept: the run refuses the second before anything is written. Devices
// and pipes (written directly, "/dev/null" twice) may be named more than once.
int refuse_repeated_output(const char *filename)
{
    const char *local = local_file_path(filename);
    struct stat st;
    if (!local || (lstat(local, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)))
        return 0;
    for (int i = 0; i < nb_output_files; i++) {
        const OutFile *of = output_files[i];
        const char *earlier = of->final_path ? of->final_path : local_file_path(of->ctx->url);
        if (!earlier || !same_output_place(local, earlier))
            continue;
        char text[PATH_MAX + 128];
        snprintf(text, sizeof(text), "Output file '%s' is named twice on the command line (output #%d and #%d)",
                 filename, i, nb_output_files);
        av_log(nullptr, AV_LOG_FATAL, "%s; refused.\n", text);
        record_run_failure(RunFailure::OutputNameRefused, AVERROR(EINVAL), text);
        return AVERROR(EINVAL);
    }
    return 0;
}

// An existing file of the output's name is replaced without a question, but only
// when the new one is complete (publish_outputs renames it into place). Only a
// file, or a symbolic link, is ever replaced: a directory of that name is
// refused, and a device ("/dev/null"), a pipe or a socket stays where it is and is
// written directly (with the overwrite question).
bool replaced_without_question(const char *filename)
{
    struct stat st;
    return lstat(filename, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

int refuse_directory_output(const char *filename)
{
    struct stat st;
    if (lstat(filename, &st) != 0 || !S_ISDIR(st.st_mode))
        return 0;
    // Going on would leave the output silently missing from the run.
    av_log(nullptr, AV_LOG_ERROR, "Could not replace existing file '%s': %s\n", filename, strerror(EISDIR));
    return AVERROR(EISDIR);
}

// Whether a local output is written under a partial name first: a new name, a
// file or a link. Devices, pipes and sockets are written as they are.
bool written_through_partial_file(const char *local)
{
    struct stat st;
    if (lstat(local, &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

// Creates the partial file of `local` (never one that exists) and names it in
// of->partial_path; the final name is kept in of->final_path.
int create_partial_file(OutFile *of, const char *local)
{
    // The partial name may be valid where the final one is not: a name the
    // folder cannot hold is refused before any work is done for it.
    const char *base = strrchr(local, '/');
    if (strlen(base ? base + 1 : local) > NAME_MAX || strlen(local) >= PATH_MAX) {
        print_error(local, AVERROR(ENAMETOOLONG));
        record_run_failure(output_failure(AVERROR(ENAMETOOLONG)), AVERROR(ENAMETOOLONG));
        return AVERROR(ENAMETOOLONG);
    }
    std::string partial;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; attempt++) {
        partial = partial_output_path(local, long(getpid()), attempt);
        fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int err = AVERROR(errno);
        print_error(local, err);
        record_run_failure(output_failure(err), err);
        return err;
    }
    close(fd);
    struct stat st;
    of->final_was_free = lstat(local, &st) != 0 && errno == ENOENT;
    of->final_path = av_strdup(local);
    of->partial_path = av_strdup(partial.c_str());
    if (!of->final_path || !of->partial_path) {
        unlink(partial.c_str());
        av_freep(&of->partial_path);
        return AVERROR(ENOMEM);
    }
    of->created = 1; // from here on a failed run removes it
    return 0;
}

// For a run that never replaces (RunObserver::never_replace): the name `local`
// is written under. A free name stays (`moved` empty); a taken one of the
// converter's rule moves on to the rule's next free name; any other taken name
// fails the run, and so does a rule with no name left.
int avoid_taken_output_name(const char *local, std::string *moved)
{
    moved->clear();
    if (!output_path_taken_on_disk(local))
        return 0;
    *moved = next_free_converted_path(local);
    if (!moved->empty()) {
        av_log(nullptr, AV_LOG_WARNING, "'%s' was taken since the conversion was planned; writing '%s'\n", local,
               moved->c_str());
        return 0;
    }
    char text[PATH_MAX + 128];
    snprintf(text, sizeof(text), "'%s' exists already and is kept; no other name for the output is free", local);
    av_log(nullptr, AV_LOG_ERROR, "%s\n", text);
    record_run_failure(RunFailure::Other, AVERROR(EEXIST), text);
    return AVERROR(EEXIST);
}

// Opens the output's file for writing: a regular file under its partial name
// (the muxer is told that name, as muxers that read back what they wrote reopen
// it), anything else directly.
int open_output_io(OutFile *of, const char *filename)
{
    AVFormatContext *oc = of->ctx;
    const char *local = local_file_path(filename);
    std::string moved;
    if (local && observer_never_replaces()) {
        int ret = avoid_taken_output_name(local, &moved);
        if (ret < 0)
            return ret;
        if (!moved.empty())
            filename = local = moved.c_str();
    }
    if (!replaced_without_question(filename)) {
        int ret = check_overwrite(filename);
        if (ret < 0)
            return ret;
    }
    const char *target = filename;
    std::string partial_url;
    bool existed = true;
    if (local && written_through_partial_file(local)) {
        int ret = create_partial_file(of, local);
        if (ret < 0)
            return ret;
        partial_url = (local != filename ? "file:" : "") + std::string(of->partial_path);
        target = partial_url.c_str();
        av_freep(&oc->url);
        if (!(oc->url = av_strdup(target)))
            return AVERROR(ENOMEM);
    } else {
        // Only a file this run brings into being may be removed again if the run
        // fails; a device or pipe that was there already stays.
        struct stat st;
        existed = !local || lstat(local, &st) == 0;
    }
    int ret = avio_open2(&oc->pb, target, AVIO_FLAG_WRITE, &oc->interrupt_callback, &of->opts);
    if (ret < 0) {
        print_error(filename, ret);
        record_run_failure(output_failure(ret), ret);
        return ret;
    }
    struct stat st;
    if (of->partial_path && stat(of->partial_path, &st) == 0) {
        of->written_dev = uint64_t(st.st_dev);
        of->written_ino = uint64_t(st.st_ino);
    }
    if (!of->partial_path)
        of->created = !existed;
    return 0;
}

// ---- complex filtergraph outputs ------------------------------------------------

int configure_complex_graphs(void)
{
    for (int i = 0; i < nb_filtergraphs; i++) {
        Filtergraph *fg = filtergraphs[i];
        if (fg->description && !fg->graph) {
            int ret = build_filtergraph(fg);
            if (ret < 0)
                return ret;
        }
    }
    return 0;
}

enum AVMediaType pending_pad_type(const GraphOutput *out)
{
    const AVFilterInOut *pad = out->pending_pad;
    return avfilter_pad_get_type(pad->filter_ctx->output_pads, pad->pad_idx);
}

// Creates an output stream for a complex filtergraph output and builds the
// output's sink side.
int bind_graph_output(PerFileOptions *o, AVFormatContext *oc, GraphOutput *out)
{
    OutStream *ost;
    switch (pending_pad_type(out)) {
    case AVMEDIA_TYPE_VIDEO:
        ost = create_video_output(o, oc, -1);
        break;
    case AVMEDIA_TYPE_AUDIO:
        ost = create_audio_output(o, oc, -1);
        break;
    default:
        av_log(nullptr, AV_LOG_FATAL, "Only video and audio filters are supported currently.\n");
        return AVERROR(EINVAL);
    }
    if (!ost)
        return AVERROR(EINVAL);
    ost->filter = out;
    out->ost = ost;

    if (ost->stream_copy) {
        av_log(nullptr, AV_LOG_ERROR,
               "Streamcopy requested for output stream %d:%d, which is fed from a complex "
               "filtergraph. Filtering and streamcopy cannot be used together.\n",
               ost->file_index, ost->index);
        return AVERROR(EINVAL);
    }
    int ret = attach_graph_output(out->graph, out, out->pending_pad);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Error configuring filter.\n");
        return ret;
    }
    avfilter_inout_free(&out->pending_pad);
    return 0;
}

// Unlabelled complex-graph outputs go to the next output file; the automatic
// selection then leaves out their media types.
int bind_unlabelled_graph_outputs(PerFileOptions *o, AVFormatContext *oc)
{
    for (int i = 0; i < nb_filtergraphs; i++) {
        Filtergraph *fg = filtergraphs[i];
        for (int j = 0; j < fg->nb_outputs; j++) {
            GraphOutput *out = fg->outputs[j];
            if (!out->pending_pad || out->pending_pad->name)
                continue;
            switch (pending_pad_type(out)) {
            case AVMEDIA_TYPE_VIDEO:
                o->no_video = 1;
                break;
            case AVMEDIA_TYPE_AUDIO:
                o->no_audio = 1;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                o->no_subtitle = 1;
                break;
            default:
                break;
            }
            int ret = bind_graph_output(o, oc, out);
            if (ret < 0)
                return ret;
        }
    }
    return 0;
}

// ---- choosing the streams ----------------------------------------------------------

// The input video stream with the largest picture. A muxer that stores the
// default video codec as attached picture ("APIC") takes only attached pictures;
// any other muxer counts an attached picture as the smallest possible picture.
int pick_video_source(AVFormatContext *oc)
{
    bool pictures_only =
        avformat_query_codec(oc->oformat, oc->oformat->video_codec, 0) == MKTAG('A', 'P', 'I', 'C');
    int best = -1;
    int64_t best_rank = 0;
    for (int i = 0; i < nb_input_streams; i++) {
        const int64_t rank =
            video_choice_rank(input_streams[i]->st, pictures_only, leave_out_attached_pictures != 0);
        if (rank > best_rank) {
            best_rank = rank;
            best = i;
        }
    }
    return best;
}

int pick_audio_source(void)
{
    int best = -1, best_channels = 0;
    for (int i = 0; i < nb_input_streams; i++) {
        const int channels = audio_choice_rank(input_streams[i]->st);
        if (channels > best_channels) {
            best_channels = channels;
            best = i;
        }
    }
    return best;
}

// A picture or sound stream the probe found no parameters for (no picture size,
// no channels): its first key frame or first packet lies beyond what the probe
// read, even after probing further (input.cpp), or the stream is damaged.
bool unreadable_stream(const AVStream *st, enum AVMediaType type)
{
    const AVCodecParameters *par = st->codecpar;
    if (par->codec_type != type || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return false;
    return type == AVMEDIA_TYPE_VIDEO ? int64_t(par->width) * par->height <= 0 : par->ch_layout.nb_channels <= 0;
}

// An output that chose its streams itself carries nothing of `type`, though the
// recording has streams of it: each is told as left out (the run is partial).
void tell_streams_left_out(enum AVMediaType type)
{
    static_assert(LONG_PROBE_US == 60 * AV_TIME_BASE && LONG_PROBE_BYTES == 64 << 20, "say the limits as they are");
    static const char kNoPicture[] = "no picture of it was found in the first minute (at most 64 MiB) of the recording";
    static const char kNoSound[] = "no sound of it was found in the first minute (at most 64 MiB) of the recording";
    for (int i = 0; i < nb_input_streams; i++)
        if (unreadable_stream(input_streams[i]->st, type))
            account_stream_left_out(input_streams[i], type == AVMEDIA_TYPE_VIDEO ? kNoPicture : kNoSound);
}

bool has_subtitle_codec_choice(const PerFileOptions *o)
{
    for (int i = 0; i < o->codec_choices.count; i++)
        if (!strcmp(o->codec_choices.items[i].specifier, "s"))
            return true;
    return false;
}

// Without maps: at most one video, one audio and one subtitle stream, each only
// when the muxer (or, for subtitles, a codec choice) can take it.
int select_streams_automatically(PerFileOptions *o, AVFormatContext *oc)
{
    const AVOutputFormat *fmt = oc->oformat;
    if (!o->no_video && fmt->video_codec != AV_CODEC_ID_NONE) {
        int src = pick_video_source(oc);
        if (src >= 0 && !create_video_output(o, oc, src))
            return AVERROR(EINVAL);
        if (src < 0)
            tell_streams_left_out(AVMEDIA_TYPE_VIDEO);
    }
    if (!o->no_audio && fmt->audio_codec != AV_CODEC_ID_NONE) {
        int src = pick_audio_source();
        if (src >= 0 && !create_audio_output(o, oc, src))
            return AVERROR(EINVAL);
        if (src < 0)
            tell_streams_left_out(AVMEDIA_TYPE_AUDIO);
    }
    if (!o->no_subtitle &&
        (fmt->subtitle_codec != AV_CODEC_ID_NONE || has_subtitle_codec_choice(o))) {
        for (int i = 0; i < nb_input_streams; i++) {
            if (input_streams[i]->st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
                continue;
            if (!create_subtitle_output(o, oc, i))
                return AVERROR(EINVAL);
            break;
        }
    }
    return 0;
}

GraphOutput *find_labelled_graph_output(const char *label)
{
    for (int i = 0; i < nb_filtergraphs; i++)
        for (int j = 0; j < filtergraphs[i]->nb_outputs; j++) {
            GraphOutput *out = filtergraphs[i]->outputs[j];
            if (out->pending_pad && out->pending_pad->name &&
                !strcmp(out->pending_pad->name, label))
                return out;
        }
    return nullptr;
}

bool type_switched_off(const PerFileOptions *o, enum AVMediaType type)
{
    return (o->no_video && type == AVMEDIA_TYPE_VIDEO) ||
           (o->no_audio && type == AVMEDIA_TYPE_AUDIO) ||
           (o->no_subtitle && type == AVMEDIA_TYPE_SUBTITLE) ||
           (o->no_data && type == AVMEDIA_TYPE_DATA);
}

int create_mapped_stream(PerFileOptions *o, AVFormatContext *oc, const MapEntry &map)
{
    if (map.link_label) {
        GraphOutput *out = find_labelled_graph_output(map.link_label);
        if (!out) {
            av_log(nullptr, AV_LOG_FATAL,
                   "Output with label '%s' does not exist in any defined filter graph.\n",
                   map.link_label);
            return AVERROR(EINVAL);
        }
        return bind_graph_output(o, oc, out);
    }

    int src = input_files[map.src_file]->first_stream + map.src_stream;
    enum AVMediaType type = input_streams[src]->st->codecpar->codec_type;
    if (type_switched_off(o, type))
        return 0;

    OutStream *ost = nullptr;
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        ost = create_video_output(o, oc, src);
        break;
    case AVMEDIA_TYPE_AUDIO:
        ost = create_audio_output(o, oc, src);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        ost = create_subtitle_output(o, oc, src);
        break;
    case AVMEDIA_TYPE_DATA:
        ost = create_output_stream(o, oc, type, src);
        if (ost && !ost->stream_copy)
            av_log(nullptr, AV_LOG_FATAL,
                   "Data stream encoding not supported yet (only streamcopy)\n");
        break;
    case AVMEDIA_TYPE_ATTACHMENT:
        ost = create_output_stream(o, oc, type, src);
        if (ost)
            ost->stream_copy = 1;
        break;
    default:
        av_log(nullptr, AV_LOG_FATAL, "Cannot map stream #%d:%d - unsupported type.\n",
               map.src_file, map.src_stream);
        return AVERROR(EINVAL);
    }
    if (!ost)
        return AVERROR(EINVAL);
    // The "map" option may name another stream to synchronise with.
    ost->sync_ist = input_streams[input_files[map.sync_file]->first_stream + map.sync_stream];
    return 0;
}

int create_mapped_streams(PerFileOptions *o, AVFormatContext *oc)
{
    for (int i = 0; i < o->nb_maps; i++) {
        if (o->maps[i].skipped)
            continue;
        int ret = create_mapped_stream(o, oc, o->maps[i]);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// The codec option "flags" (optionally for some streams only: "flags:v") also
// applies to copied streams, which never get an encoder to take it.
int apply_flags_to_copied_streams(AVFormatContext *oc, int first_stream)
{
    const AVDictionaryEntry *e = nullptr;
    while ((e = av_dict_get(codec_options, "flags", e, AV_DICT_IGNORE_SUFFIX)))
        if (!e->key[5] || e->key[5] == ':')
            break; // "flags2" and the like are other options
    if (!e)
        return 0;
    for (int i = first_stream; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (!ost->stream_copy)
            continue;
        if (e->key[5] == ':' && match_stream_spec(oc, ost->st, e->key + 6) == 0)
            continue;
        int ret = av_opt_set(ost->enc_ctx, "flags", e->value, 0);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// ---- attachments ------------------------------------------------------------------

int read_attachment(const char *path, uint8_t **data, int *size)
{
    AVIOContext *pb = nullptr;
    if (avio_open2(&pb, path, AVIO_FLAG_READ, &interrupt_callback, nullptr) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Could not open attachment file %s.\n", path);
        return AVERROR(EIO);
    }
    int ret = 0;
    int64_t len = avio_size(pb);
    uint8_t *buf = nullptr;
    if (len <= 0) {
        av_log(nullptr, AV_LOG_FATAL, "Could not get size of the attachment %s.\n", path);
        ret = AVERROR(EIO);
    } else if (len > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE ||
               !(buf = (uint8_t *)av_mallocz(size_t(len) + AV_INPUT_BUFFER_PADDING_SIZE))) {
        av_log(nullptr, AV_LOG_FATAL, "Attachment %s too large to fit into memory.\n", path);
        ret = AVERROR(ENOMEM);
    } else if (avio_read(pb, buf, int(len)) != len) {
        av_log(nullptr, AV_LOG_FATAL, "Could not get size of the attachment %s.\n", path);
        ret = AVERROR(EIO);
    }
    avio_closep(&pb);
    if (ret < 0) {
        av_free(buf);
        return ret;
    }
    *data = buf;
    *size = int(len);
    return 0;
}

int add_attachments(PerFileOptions *o, AVFormatContext *oc)
{
    for (int i = 0; i < o->nb_attach_files; i++) {
        const char *path = o->attach_files[i];
        uint8_t *data;
        int size;
        int ret = read_attachment(path, &data, &size);
        if (ret < 0)
            return ret;
        OutStream *ost = create_output_stream(o, oc, AVMEDIA_TYPE_ATTACHMENT, -1);
        if (!ost) {
            av_free(data);
            return AVERROR(ENOMEM);
        }
        ost->stream_copy = 0;
        ost->attachment_filename = path;

        // The muxer reads the stream parameters; the encoder context keeps its
        // own copy so whoever copies parameters from it gets the same bytes.
        AVCodecParameters *par = ost->st->codecpar;
        par->extradata = data;
        par->extradata_size = size;
        ost->enc_ctx->extradata = (uint8_t *)av_mallocz(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!ost->enc_ctx->extradata)
            return AVERROR(ENOMEM);
        memcpy(ost->enc_ctx->extradata, data, size_t(size));
        ost->enc_ctx->extradata_size = size;

        const char *base = strrchr(path, '/');
        av_dict_set(&ost->st->metadata, "filename", base ? base + 1 : path,
                    AV_DICT_DONT_OVERWRITE);
    }
    return 0;
}

// ---- the OutFile ------------------------------------------------------------------

OutFile *register_output_file(PerFileOptions *o, AVFormatContext *oc, int first_stream)
{
    OutFile *of = (OutFile *)av_mallocz(sizeof(*of));
    if (!of)
        return nullptr;
    GROW_TABLE(output_files, nb_output_files);
    output_files[nb_output_files - 1] = of;
    of->ctx = oc;
    av_dict_copy(&of->opts, format_options, 0);
    of->first_stream = first_stream;
    of->recording_time = o->duration_limit;
    if (o->duration_limit != NO_DURATION_LIMIT)
        oc->duration = o->duration_limit;
    of->start_time = o->seek_start;
    of->size_limit = o->size_limit;
    of->shortest = o->stop_at_shortest;
    return of;
}

int open_for_writing(PerFileOptions *o, OutFile *of, const char *filename)
{
    AVFormatContext *oc = of->ctx;
    if ((oc->oformat->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(oc->url)) {
        print_error(oc->url, AVERROR(EINVAL));
        return AVERROR(EINVAL);
    }
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        int ret = open_output_io(of, filename);
        if (ret < 0)
            return ret;
    }
    if (o->preload_seconds) {
        char preload[32];
        snprintf(preload, sizeof(preload), "%d", int(o->preload_seconds * AV_TIME_BASE));
        av_dict_set(&of->opts, "preload", preload, 0);
    }
    oc->max_delay = int(o->max_delay_seconds * AV_TIME_BASE);
    return 0;
}

// Streams made for an output that never got its OutFile belong to no file; their
// library streams go with the discarded format context.
void orphan_streams(int first_stream)
{
    for (int i = first_stream; i < nb_output_streams; i++) {
        output_streams[i]->file_index = -1;
        output_streams[i]->st = nullptr;
    }
}

// Everything up to the registration of the OutFile. On failure the caller
// discards *ocp.
int build_output(PerFileOptions *o, const char *filename, int first_stream,
                 AVFormatContext **ocp)
{
    int ret = configure_complex_graphs();
    if (ret < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Error configuring filters.\n");
        return ret;
    }
    if ((ret = refuse_input_as_output(filename)) < 0 || (ret = refuse_repeated_output(filename)) < 0 ||
        (ret = refuse_directory_output(filename)) < 0)
        return ret;

    ret = avformat_alloc_output_context2(ocp, nullptr, o->forced_format, filename);
    if (!*ocp) {
        print_error(filename, ret < 0 ? ret : AVERROR(ENOMEM));
        record_run_failure(output_failure(ret), ret); // no muxer for the name
        return ret < 0 ? ret : AVERROR(ENOMEM);
    }
    AVFormatContext *oc = *ocp;
    oc->interrupt_callback = interrupt_callback;

    if ((ret = bind_unlabelled_graph_outputs(o, oc)) < 0)
        return ret;
    ret = o->nb_maps ? create_mapped_streams(o, oc) : select_streams_automatically(o, oc);
    if (ret < 0)
        return ret;
    if ((ret = apply_flags_to_copied_streams(oc, first_stream)) < 0)
        return ret;
    return add_attachments(o, oc);
}

} // namespace

void add_output_file(void *ctx, const char *filename)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    const int first_stream = nb_output_streams;
    if (!strcmp(filename, "-"))
        filename = "pipe:";

    AVFormatContext *oc = nullptr;
    OutFile *of = nullptr;
    if (build_output(o, filename, first_stream, &oc) < 0 || !(of = register_output_file(o, oc, first_stream))) {
        orphan_streams(first_stream);
        avformat_free_context(oc);
        run_failed = 1;
        return;
    }
    // From here on the OutFile is registered and released with the run.
    if (open_for_writing(o, of, filename) < 0 || apply_output_metadata(o, of, first_stream) < 0) {
        run_failed = 1;
        return;
    }
    reset_file_options(o, 0);
}

int check_overwrite(const char *filename)
{
    if (overwrite_yes && !overwrite_no)
        return 0;
    // Only local files are asked about: a drive letter or "file:" prefix is
    // local, any other name with a colon belongs to a protocol.
    if (strchr(filename, ':') && filename[1] != ':' && !av_strstart(filename, "file:", nullptr))
        return 0;
    if (avio_check(filename, 0) < 0)
        return 0; // nothing there
    if (stdin_enabled && (!overwrite_no || overwrite_yes)) {
        fprintf(stderr, "File '%s' already exists. Overwrite ? [y/N] ", filename);
        fflush(stderr);
        plat_stdin_restore();
        signal(SIGINT, SIG_DFL); // Ctrl-C while asked ends the program
        if (!ask_yes_no()) {
            av_log(nullptr, AV_LOG_FATAL, "Not overwriting - exiting\n");
            return AVERROR_EXIT;
        }
        signal(SIGINT, on_termination_signal);
        return 0;
    }
    av_log(nullptr, AV_LOG_FATAL, "File '%s' already exists. Exiting.\n", filename);
    return AVERROR_EXIT;
}
