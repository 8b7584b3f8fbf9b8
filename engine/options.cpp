// The engine's command-line vocabulary: the option table (its order is also the
// order of the help listing), the process-wide settings that options change, the
// per-file option context and its reset between files, and the handlers of the
// options whose work is more than storing a value.
//
// The table is read by the parsing engine (cmdline.cpp) and the help output; the
// settings are read by every stage. Handlers of options that open files or build
// mappings live with their stages (input.cpp, mapping.cpp, info.cpp).
#include "options.h"

#include "engine.h"

#include <cinttypes>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <type_traits>

// ---- process-wide settings ----------------------------------------------------

int overwrite_yes = 0;
int overwrite_no = 0;
int stdin_enabled = 1;
int do_benchmark = 0;
int do_benchmark_all = 0;
int do_pkt_dump = 0;
int do_hex_dump = 0;
int debug_ts = 0;
int video_sync_method = VSYNC_AUTO;
int audio_sync_method = 0;
float audio_drift_threshold = 0.1f;
int copy_ts = 0;
int copy_tb = -1;
float dts_delta_threshold = 10.0f;
float dts_error_threshold = 3600 * 30;
int exit_on_error = 0;
int print_stats = 1;
int intra_only = 0;
int do_psnr = 0;
int qp_hist = 0;
int frame_bits_per_raw_sample = 0;
int video_discard = 0;
int audio_volume = 256;
int intra_dc_precision = 8;
int do_deinterlace = 0;
int isync_ignored = 0;
char *vstats_filename = nullptr;

// ---- handlers -----------------------------------------------------------------

namespace {

// Applies another option name with the same argument; the consumed count of
// apply_option is of no interest to a handler.
int apply_as(void *ctx, const char *name, const char *arg)
{
    int ret = apply_option(ctx, name, arg, option_table);
    return ret < 0 ? ret : 0;
}

// "vtag", "atag", "stag", "absf", "vbsf": the first letter names the stream type,
// so "vtag" becomes tag:v.
int handle_letter_alias(void *ctx, const char *opt, const char *arg)
{
    std::string name = std::string(opt + 1) + ":" + opt[0];
    return apply_as(ctx, name.c_str(), arg);
}

// "profile" and "b" exist for audio and video alike: a bare name is taken as video.
int apply_ambiguous(void *ctx, const char *opt, const char *arg, const char *bare,
                    const char *warning, const char *video_name)
{
    if (!strcmp(opt, bare)) {
        av_log(nullptr, AV_LOG_WARNING, "%s", warning);
        return apply_as(ctx, video_name, arg);
    }
    return apply_library_option(ctx, opt, arg);
}

int handle_profile(void *ctx, const char *opt, const char *arg)
{
    return apply_ambiguous(ctx, opt, arg, "profile",
                           "Please use -profile:a or -profile:v, -profile is ambiguous\n",
                           "profile:v");
}

int handle_bitrate(void *ctx, const char *opt, const char *arg)
{
    return apply_ambiguous(ctx, opt, arg, "b", "Please use -b:a or -b:v, -b is ambiguous\n",
                           "b:v");
}

int handle_qscale(void *ctx, const char *opt, const char *arg)
{
    if (!strcmp(opt, "qscale")) {
        av_log(nullptr, AV_LOG_WARNING, "Please use -q:a or -q:v, -qscale is ambiguous\n");
        return apply_as(ctx, "q:v", arg);
    }
    std::string name = std::string("q") + (opt + 6);
    return apply_as(ctx, name.c_str(), arg);
}

int handle_vsync(void *, const char *, const char *arg)
{
    if (!av_strcasecmp(arg, "cfr"))
        video_sync_method = VSYNC_CFR;
    else if (!av_strcasecmp(arg, "vfr"))
        video_sync_method = VSYNC_VFR;
    else if (!av_strcasecmp(arg, "passthrough"))
        video_sync_method = VSYNC_PASSTHROUGH;
    else if (!av_strcasecmp(arg, "drop"))
        video_sync_method = VSYNC_DROP;
    // A number counts only while no method was chosen yet.
    if (video_sync_method == VSYNC_AUTO)
        video_sync_method =
            int(parse_number_bounded("vsync", arg, OPTF_INT, VSYNC_AUTO, VSYNC_VFR));
    return 0;
}

int handle_filter_complex(void *, const char *, const char *arg)
{
    Filtergraph *fg = (Filtergraph *)av_mallocz(sizeof(*fg));
    if (!fg)
        return AVERROR(ENOMEM);
    GROW_TABLE(filtergraphs, nb_filtergraphs);
    fg->index = nb_filtergraphs - 1;
    fg->description = arg; // the argument vector outlives the run
    filtergraphs[nb_filtergraphs - 1] = fg;
    return 0;
}

int handle_progress(void *, const char *, const char *arg)
{
    if (!strcmp(arg, "-"))
        arg = "pipe:";
    AVIOContext *avio = nullptr;
    int ret = avio_open2(&avio, arg, AVIO_FLAG_WRITE, &interrupt_callback, nullptr);
    if (ret < 0)
        return ret;
    avio_closep(&progress_avio); // a repeated option replaces the earlier output
    progress_avio = avio;
    return 0;
}

int handle_attach(void *ctx, const char *, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    GROW_TABLE(o->attach_files, o->nb_attach_files);
    o->attach_files[o->nb_attach_files - 1] = arg;
    return 0;
}

int handle_streamid(void *ctx, const char *opt, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    char index_text[16];
    av_strlcpy(index_text, arg, sizeof(index_text));
    char *colon = strchr(index_text, ':');
    if (!colon) {
        av_log(nullptr, AV_LOG_FATAL,
               "Invalid value '%s' for option '%s', required syntax is 'index:value'\n", arg,
               opt);
        return AVERROR(EINVAL);
    }
    *colon = '\0';
    double index = parse_number_bounded(opt, index_text, OPTF_INT, 0, MAX_STREAMS - 1);
    if (index < 0)
        return AVERROR(EINVAL); // out of range or not a number: there is no slot to write
    int id = int(parse_number_bounded(opt, colon + 1, OPTF_INT, 0, INT_MAX));
    o->stream_ids = (int *)grow_table(o->stream_ids, sizeof(*o->stream_ids),
                                      &o->nb_stream_ids, int(index) + 1);
    o->stream_ids[int(index)] = id;
    return 0;
}

int handle_timecode(void *ctx, const char *, const char *arg)
{
    char *entry = av_asprintf("timecode=%s", arg);
    if (!entry)
        return AVERROR(ENOMEM);
    int ret = apply_as(ctx, "metadata:g", entry);
    av_free(entry);
    if (ret >= 0)
        ret = apply_library_option(ctx, "gop_timecode", arg);
    return ret;
}

int handle_timestamp(void *ctx, const char *opt, const char *arg)
{
    time_t when = time_t(parse_time_value(opt, arg, 0) / 1000000);
    struct tm tm;
    char entry[128];
    if (!gmtime_r(&when, &tm) ||
        !strftime(entry, sizeof(entry), "creation_time=%FT%T%z", &tm))
        return AVERROR(EINVAL);
    int ret = apply_as(ctx, "metadata", entry);
    av_log(nullptr, AV_LOG_WARNING,
           "%s is deprecated, set the 'creation_time' metadata tag instead.\n", opt);
    return ret;
}

int handle_channel_layout(void *ctx, const char *opt, const char *arg)
{
    AVChannelLayout layout = {};
    uint64_t mask = 0;
    if (av_channel_layout_from_string(&layout, arg) == 0 &&
        layout.order == AV_CHANNEL_ORDER_NATIVE)
        mask = layout.u.mask;
    int channels = layout.nb_channels;
    av_channel_layout_uninit(&layout);
    if (!mask) {
        av_log(nullptr, AV_LOG_ERROR, "Unknown channel layout: %s\n", arg);
        return AVERROR(EINVAL);
    }
    char value[32];
    snprintf(value, sizeof(value), "%" PRIu64, mask);
    int ret = apply_library_option(ctx, opt, value);
    if (ret < 0)
        return ret;
    snprintf(value, sizeof(value), "%d", channels);
    const char *suffix = strchr(opt, ':');
    std::string count_option = std::string("ac") + (suffix ? suffix : "");
    return apply_as(ctx, count_option.c_str(), value);
}

int handle_vstats(void *, const char *, const char *)
{
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char *name = av_asprintf("vstats_%02d%02d%02d.log", tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (!name)
        return AVERROR(ENOMEM);
    av_free(vstats_filename);
    vstats_filename = name;
    return 0;
}

int handle_vstats_file(void *, const char *, const char *arg)
{
    char *name = av_strdup(arg);
    if (!name)
        return AVERROR(ENOMEM);
    av_free(vstats_filename);
    vstats_filename = name;
    return 0;
}

int handle_video_channel(void *ctx, const char *, const char *arg)
{
    av_log(nullptr, AV_LOG_WARNING, "This option is deprecated, use -channel.\n");
    return apply_library_option(ctx, "channel", arg);
}

int handle_video_standard(void *ctx, const char *, const char *arg)
{
    av_log(nullptr, AV_LOG_WARNING, "This option is deprecated, use -standard.\n");
    return apply_library_option(ctx, "standard", arg);
}

int handle_deinterlace(void *, const char *opt, const char *)
{
    av_log(nullptr, AV_LOG_WARNING, "-%s is deprecated, use -filter:v yadif instead\n", opt);
    do_deinterlace = 1;
    return 0;
}

// ---- "target" ------------------------------------------------------------------

enum TargetNorm { NORM_PAL, NORM_NTSC, NORM_FILM, NORM_UNKNOWN };

// One option a target applies, with its value for each norm.
struct TargetSetting {
    const char *name;
    const char *value[3]; // PAL, NTSC, film
};

#define SAME(v) {v, v, v}
#define FRAME_RATE {"r", {"25", "30000/1001", "24000/1001"}}
#define GOP_SIZE {"g", {"15", "18", "18"}}

const TargetSetting vcd_settings[] = {
    {"codec:v", SAME("mpeg1video")}, {"codec:a", SAME("mp2")},
    {"f", SAME("vcd")},              {"s", {"352x288", "352x240", "352x240"}},
    FRAME_RATE,                      GOP_SIZE,
    {"b:v", SAME("1150000")},        {"maxrate", SAME("1150000")},
    {"minrate", SAME("1150000")},    {"bufsize", SAME("327680")},
    {"b:a", SAME("224000")},         {"ar", SAME("44100")},
    {"ac", SAME("2")},               {"packetsize", SAME("2324")},
    {"muxrate", SAME("1411200")},    {nullptr, {}},
};

const TargetSetting svcd_settings[] = {
    {"codec:v", SAME("mpeg2video")}, {"codec:a", SAME("mp2")},
    {"f", SAME("svcd")},             {"s", {"480x576", "480x480", "480x480"}},
    FRAME_RATE,                      {"pix_fmt", SAME("yuv420p")},
    GOP_SIZE,                        {"b:v", SAME("2040000")},
    {"maxrate", SAME("2516000")},    {"minrate", SAME("0")},
    {"bufsize", SAME("1835008")},    {"scan_offset", SAME("1")},
    {"b:a", SAME("224000")},         {"ar", SAME("44100")},
    {"packetsize", SAME("2324")},    {nullptr, {}},
};

const TargetSetting dvd_settings[] = {
    {"codec:v", SAME("mpeg2video")}, {"codec:a", SAME("ac3")},
    {"f", SAME("dvd")},              {"s", {"720x576", "720x480", "720x480"}},
    FRAME_RATE,                      {"pix_fmt", SAME("yuv420p")},
    GOP_SIZE,                        {"b:v", SAME("6000000")},
    {"maxrate", SAME("9000000")},    {"minrate", SAME("0")},
    {"bufsize", SAME("1835008")},    {"packetsize", SAME("2048")},
    {"muxrate", SAME("10080000")},   {"b:a", SAME("448000")},
    {"ar", SAME("48000")},           {nullptr, {}},
};

// "dv50" replaces the pixel format by yuv422p whatever the norm.
const TargetSetting dv_settings[] = {
    {"f", SAME("dv")},
    {"s", {"720x576", "720x480", "720x480"}},
    {"pix_fmt", {"yuv420p", "yuv411p", "yuv411p"}},
    FRAME_RATE,
    {"ar", SAME("48000")},
    {"ac", SAME("2")},
    {nullptr, {}},
};

#undef SAME
#undef FRAME_RATE
#undef GOP_SIZE

// Table options go through the table, the rest to the libraries.
int apply_target_setting(void *ctx, const char *name, const char *value)
{
    if (find_option_entry(option_table, name)->name)
        return apply_as(ctx, name, value);
    return apply_library_option(ctx, name, value);
}

// Norm of the first video stream among the opened inputs that runs at a PAL or
// NTSC frame rate (film is never guessed).
TargetNorm deduce_norm(void)
{
    for (int i = 0; i < nb_input_files; i++) {
        AVFormatContext *ctx = input_files[i]->ctx;
        for (unsigned j = 0; ctx && j < ctx->nb_streams; j++) {
            AVStream *st = ctx->streams[j];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            // Frames per 1000 seconds over the stream's frame time base.
            AVRational rate = st->r_frame_rate;
            if (rate.num <= 0 || rate.den <= 0)
                continue;
            int64_t fr = int64_t(rate.num) * 1000 / rate.den;
            if (fr == 25000) {
                av_log(nullptr, AV_LOG_INFO, "Assuming %s for target.\n", "PAL");
                return NORM_PAL;
            }
            if (fr == 29970 || fr == 23976) {
                av_log(nullptr, AV_LOG_INFO, "Assuming %s for target.\n", "NTSC");
                return NORM_NTSC;
            }
        }
    }
    return NORM_UNKNOWN;
}

int handle_target(void *ctx, const char *, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    TargetNorm norm;
    if (av_strstart(arg, "pal-", &arg))
        norm = NORM_PAL;
    else if (av_strstart(arg, "ntsc-", &arg))
        norm = NORM_NTSC;
    else if (av_strstart(arg, "film-", &arg))
        norm = NORM_FILM;
    else
        norm = deduce_norm();
    if (norm == NORM_UNKNOWN) {
        av_log(nullptr, AV_LOG_FATAL, "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\n");
        av_log(nullptr, AV_LOG_FATAL, "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\n");
        av_log(nullptr, AV_LOG_FATAL, "or set a framerate with \"-r xxx\".\n");
        return -1;
    }

    const TargetSetting *settings;
    if (!strcmp(arg, "vcd"))
        settings = vcd_settings;
    else if (!strcmp(arg, "svcd"))
        settings = svcd_settings;
    else if (!strcmp(arg, "dvd"))
        settings = dvd_settings;
    else if (!strncmp(arg, "dv", 2))
        settings = dv_settings;
    else {
        av_log(nullptr, AV_LOG_ERROR, "Unknown target: %s\n", arg);
        return AVERROR(EINVAL);
    }

    const bool dv50 = !strncmp(arg, "dv50", 4);
    for (const TargetSetting *s = settings; s->name; s++) {
        const char *value = s->value[norm];
        if (dv50 && !strcmp(s->name, "pix_fmt"))
            value = "yuv422p";
        int ret = apply_target_setting(ctx, s->name, value);
        if (ret < 0)
            return ret;
    }
    if (settings == vcd_settings)
        o->preload_seconds = 0.44f;
    return 0;
}

// ---- row builders -------------------------------------------------------------

// Refuses at compile time a row whose kind does not fit its destination.
template <typename Want, typename Have>
struct KindFits : std::is_same<Want, Have> {};
template <>
struct KindFits<int64_t, uint64_t> : std::true_type {}; // "fs": unsigned limit, signed input

template <typename Want, typename Have>
constexpr OptionEntry::Destination field_at(Have PerFileOptions::*, size_t position)
{
    static_assert(KindFits<Want, Have>::value, "option kind does not fit the field");
    return OptionEntry::Destination(position);
}

constexpr OptionEntry::Destination global_at(int *p) { return static_cast<void *>(p); }
constexpr OptionEntry::Destination global_at(float *p) { return static_cast<void *>(p); }

} // namespace

#define FIELD(type, f) field_at<type>(&PerFileOptions::f, offsetof(PerFileOptions, f))

// One macro per kind of row: (name, flags beyond the kind, destination, help, argname).
#define OPT_INFO(name, help, argname) \
    {name, OPTF_EXIT, OptionEntry::Destination(show_information), help, argname}
#define OPT_HANDLER(name, flags, handler, help, argname) \
    {name, flags, OptionEntry::Destination(handler), help, argname}
// Another spelling of an option, applied under the target name.
#define OPT_ALIAS(name, flags, target, help, argname) \
    {name, OPTF_ALIAS | (flags), OptionEntry::Destination(target), help, argname}
// An option that no longer exists; the named filter does its work.
#define OPT_REMOVED(name, flags, filter, help, argname) \
    {name, OPTF_REMOVED | (flags), OptionEntry::Destination(filter), help, argname}
#define OPT_GLOBAL_BOOL(name, flags, var, help, argname) \
    {name, OPTF_BOOL | (flags), global_at(&var), help, argname}
#define OPT_GLOBAL_INT(name, flags, var, help, argname) \
    {name, OPTF_ARG | OPTF_INT | (flags), global_at(&var), help, argname}
#define OPT_GLOBAL_FLOAT(name, flags, var, help, argname) \
    {name, OPTF_ARG | OPTF_FLOAT | (flags), global_at(&var), help, argname}
#define OPT_FIELD_BOOL(name, flags, f, help, argname) \
    {name, OPTF_BOOL | OPTF_FIELD | (flags), FIELD(int, f), help, argname}
#define OPT_FIELD_INT(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_INT | OPTF_FIELD | (flags), FIELD(int, f), help, argname}
#define OPT_FIELD_INT64(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_INT64 | OPTF_FIELD | (flags), FIELD(int64_t, f), help, argname}
#define OPT_FIELD_TIME(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_TIME | OPTF_FIELD | (flags), FIELD(int64_t, f), help, argname}
#define OPT_FIELD_FLOAT(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_FLOAT | OPTF_FIELD | (flags), FIELD(float, f), help, argname}
#define OPT_FIELD_STRING(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_STRING | OPTF_FIELD | (flags), FIELD(char *, f), help, argname}
#define OPT_LIST_BOOL(name, flags, f, help, argname) \
    {name, OPTF_BOOL | OPTF_SPEC | (flags), FIELD(SpecList, f), help, argname}
#define OPT_LIST_INT(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_INT | OPTF_SPEC | (flags), FIELD(SpecList, f), help, argname}
#define OPT_LIST_INT64(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_INT64 | OPTF_SPEC | (flags), FIELD(SpecList, f), help, argname}
#define OPT_LIST_DOUBLE(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_DOUBLE | OPTF_SPEC | (flags), FIELD(SpecList, f), help, argname}
#define OPT_LIST_STRING(name, flags, f, help, argname) \
    {name, OPTF_ARG | OPTF_STRING | OPTF_SPEC | (flags), FIELD(SpecList, f), help, argname}

#define ARG OPTF_ARG
#define EXPERT OPTF_EXPERT
#define VIDEO OPTF_VIDEO
#define AUDIO OPTF_AUDIO
#define SUBTITLE OPTF_SUBTITLE
#define DATA OPTF_DATA
#define PERFILE OPTF_PERFILE

const OptionEntry option_table[] = {
    OPT_INFO("L", "show license", nullptr),
    OPT_INFO("h", "show help", "topic"),
    OPT_INFO("?", "show help", "topic"),
    OPT_INFO("help", "show help", "topic"),
    OPT_INFO("-help", "show help", "topic"),
    OPT_INFO("version", "show version", nullptr),
    OPT_INFO("formats", "show available formats", nullptr),
    OPT_INFO("codecs", "show available codecs", nullptr),
    OPT_INFO("decoders", "show available decoders", nullptr),
    OPT_INFO("encoders", "show available encoders", nullptr),
    OPT_INFO("bsfs", "show available bit stream filters", nullptr),
    OPT_INFO("protocols", "show available protocols", nullptr),
    OPT_INFO("filters", "show available filters", nullptr),
    OPT_INFO("pix_fmts", "show available pixel formats", nullptr),
    OPT_INFO("layouts", "show standard channel layouts", nullptr),
    OPT_INFO("sample_fmts", "show available audio sample formats", nullptr),
    OPT_HANDLER("loglevel", ARG, handle_loglevel, "set logging level", "loglevel"),
    OPT_HANDLER("v", ARG, handle_loglevel, "set logging level", "loglevel"),
    OPT_HANDLER("debug", ARG, handle_debug, "set debug flags", "flags"),
    OPT_HANDLER("fdebug", ARG, handle_debug, "set format debug flags", "flags"),
    OPT_HANDLER("report", 0, handle_report, "generate a report", nullptr),
    OPT_HANDLER("max_alloc", ARG, handle_max_alloc, "set maximum size of a single allocated block", "bytes"),
    OPT_HANDLER("cpuflags", ARG | EXPERT, handle_cpuflags, "force specific cpu flags", "flags"),
    OPT_FIELD_STRING("f", 0, forced_format, "force format", "fmt"),
    OPT_HANDLER("i", ARG | PERFILE, add_input_file, "input file name", "filename"),
    OPT_GLOBAL_BOOL("y", 0, overwrite_yes, "overwrite output files", nullptr),
    OPT_GLOBAL_BOOL("n", 0, overwrite_no, "do not overwrite output files", nullptr),
    OPT_LIST_STRING("c", 0, codec_choices, "codec name", "codec"),
    OPT_LIST_STRING("codec", 0, codec_choices, "codec name", "codec"),
    OPT_LIST_STRING("pre", 0, preset_names, "preset name", "preset"),
    OPT_HANDLER("map", ARG | EXPERT | PERFILE, handle_map, "set input stream mapping",
                "[-]input_file_id[:stream_specifier][,sync_file_id[:stream_specifier]]"),
    OPT_HANDLER("map_channel", ARG | EXPERT | PERFILE, handle_map_channel,
                "map an audio channel from one stream to another",
                "file.stream.channel[:syncfile.syncstream]"),
    OPT_LIST_STRING("map_metadata", 0, metadata_map_texts,
                    "set metadata information of outfile from infile",
                    "outfile[,metadata]:infile[,metadata]"),
    OPT_FIELD_INT("map_chapters", EXPERT, chapter_source, "set chapters mapping", "input_file_index"),
    OPT_FIELD_TIME("t", 0, duration_limit, "record or transcode \"duration\" seconds of audio/video", "duration"),
    OPT_FIELD_INT64("fs", 0, size_limit, "set the limit file size in bytes", "limit_size"),
    OPT_FIELD_TIME("ss", 0, seek_start, "set the start time offset", "time_off"),
    OPT_FIELD_TIME("itsoffset", EXPERT, ts_offset, "set the input ts offset", "time_off"),
    OPT_LIST_DOUBLE("itsscale", EXPERT, ts_scales, "set the input ts scale", "scale"),
    OPT_HANDLER("timestamp", ARG | PERFILE, handle_timestamp,
                "set the recording timestamp ('now' to set the current time)", "time"),
    OPT_LIST_STRING("metadata", 0, metadata_sets, "add metadata", "string=string"),
    OPT_ALIAS("dframes", ARG | DATA | PERFILE, "frames:d", "set the number of data frames to record", "number"),
    OPT_GLOBAL_BOOL("benchmark", EXPERT, do_benchmark, "add timings for benchmarking", nullptr),
    OPT_GLOBAL_BOOL("benchmark_all", EXPERT, do_benchmark_all, "add timings for each task", nullptr),
    OPT_HANDLER("progress", ARG | EXPERT, handle_progress, "write program-readable progress information", "url"),
    OPT_GLOBAL_BOOL("stdin", EXPERT, stdin_enabled, "enable or disable interaction on standard input", nullptr),
    OPT_HANDLER("timelimit", ARG | EXPERT, handle_timelimit, "set max runtime in seconds", "limit"),
    OPT_GLOBAL_BOOL("dump", EXPERT, do_pkt_dump, "dump each input packet", nullptr),
    OPT_GLOBAL_BOOL("hex", EXPERT, do_hex_dump, "when dumping packets, also dump the payload", nullptr),
    OPT_FIELD_BOOL("re", EXPERT, realtime_read, "read input at native frame rate", nullptr),
    OPT_HANDLER("target", ARG | PERFILE, handle_target,
                "specify target file type (\"vcd\", \"svcd\", \"dvd\", \"dv\", \"dv50\", \"pal-vcd\", \"ntsc-svcd\", ...)",
                "type"),
    OPT_HANDLER("vsync", ARG | EXPERT, handle_vsync, "video sync method", nullptr),
    OPT_GLOBAL_INT("async", EXPERT, audio_sync_method, "audio sync method", nullptr),
    OPT_GLOBAL_FLOAT("adrift_threshold", EXPERT, audio_drift_threshold, "audio drift threshold", "threshold"),
    OPT_GLOBAL_BOOL("copyts", EXPERT, copy_ts, "copy timestamps", nullptr),
    OPT_GLOBAL_INT("copytb", EXPERT, copy_tb, "copy input stream time base when stream copying", "mode"),
    OPT_FIELD_BOOL("shortest", EXPERT, stop_at_shortest, "finish encoding within shortest input", nullptr),
    OPT_GLOBAL_FLOAT("dts_delta_threshold", EXPERT, dts_delta_threshold, "timestamp discontinuity delta threshold", "threshold"),
    OPT_GLOBAL_FLOAT("dts_error_threshold", EXPERT, dts_error_threshold, "timestamp error delta threshold", "threshold"),
    OPT_GLOBAL_BOOL("xerror", EXPERT, exit_on_error, "exit on error", "error"),
    OPT_LIST_BOOL("copyinkf", EXPERT, copy_leading_nonkey, "copy initial non-keyframes", nullptr),
    OPT_LIST_INT("copypriorss", EXPERT, copy_before_start, "copy or discard frames before start time", nullptr),
    OPT_LIST_INT64("frames", 0, frame_limits, "set the number of frames to record", "number"),
    OPT_LIST_STRING("tag", EXPERT, tag_texts, "force codec tag/fourcc", "fourcc/tag"),
    OPT_LIST_DOUBLE("q", EXPERT, quality_scales, "use fixed quality scale (VBR)", "q"),
    OPT_HANDLER("qscale", ARG | EXPERT | PERFILE, handle_qscale, "use fixed quality scale (VBR)", "q"),
    OPT_HANDLER("profile", ARG | EXPERT | PERFILE, handle_profile, "set profile", "profile"),
    OPT_LIST_STRING("filter", 0, filter_texts, "set stream filterchain", "filter_list"),
    OPT_HANDLER("filter_complex", ARG | EXPERT, handle_filter_complex, "create a complex filtergraph", "graph_description"),
    OPT_GLOBAL_BOOL("stats", 0, print_stats, "print progress report during encoding", nullptr),
    OPT_HANDLER("attach", ARG | EXPERT | PERFILE, handle_attach, "add an attachment to the output file", "filename"),
    OPT_LIST_STRING("dump_attachment", EXPERT, attachment_dumps, "extract an attachment into a file", "filename"),
    OPT_GLOBAL_BOOL("debug_ts", EXPERT, debug_ts, "print timestamp debugging info", nullptr),
    OPT_ALIAS("vframes", ARG | VIDEO | PERFILE, "frames:v", "set the number of video frames to record", "number"),
    OPT_LIST_STRING("r", VIDEO, frame_rate_texts, "set frame rate (Hz value, fraction or abbreviation)", "rate"),
    OPT_LIST_STRING("s", VIDEO | SUBTITLE, frame_size_texts, "set frame size (WxH or abbreviation)", "size"),
    OPT_LIST_STRING("aspect", VIDEO, aspect_texts, "set aspect ratio (4:3, 16:9 or 1.3333, 1.7777)", "aspect"),
    OPT_LIST_STRING("pix_fmt", EXPERT | VIDEO, pixel_format_texts, "set pixel format", "format"),
    OPT_GLOBAL_INT("bits_per_raw_sample", VIDEO, frame_bits_per_raw_sample, "set the number of bits per raw sample", "number"),
    OPT_REMOVED("croptop", ARG | VIDEO, "crop", "Removed, use the crop filter instead", "size"),
    OPT_REMOVED("cropbottom", ARG | VIDEO, "crop", "Removed, use the crop filter instead", "size"),
    OPT_REMOVED("cropleft", ARG | VIDEO, "crop", "Removed, use the crop filter instead", "size"),
    OPT_REMOVED("cropright", ARG | VIDEO, "crop", "Removed, use the crop filter instead", "size"),
    OPT_REMOVED("padtop", ARG | VIDEO, "pad", "Removed, use the pad filter instead", "size"),
    OPT_REMOVED("padbottom", ARG | VIDEO, "pad", "Removed, use the pad filter instead", "size"),
    OPT_REMOVED("padleft", ARG | VIDEO, "pad", "Removed, use the pad filter instead", "size"),
    OPT_REMOVED("padright", ARG | VIDEO, "pad", "Removed, use the pad filter instead", "size"),
    OPT_REMOVED("padcolor", ARG | VIDEO, "pad", "Removed, use the pad filter instead", "color"),
    OPT_GLOBAL_BOOL("intra", EXPERT | VIDEO, intra_only, "deprecated use -g 1", nullptr),
    OPT_FIELD_BOOL("vn", VIDEO, no_video, "disable video", nullptr),
    OPT_GLOBAL_INT("vdt", EXPERT | VIDEO, video_discard, "discard threshold", "n"),
    OPT_LIST_STRING("rc_override", EXPERT | VIDEO, rc_override_texts, "rate control override for specific intervals", "override"),
    OPT_ALIAS("vcodec", ARG | VIDEO | PERFILE, "codec:v", "force video codec ('copy' to copy stream)", "codec"),
    OPT_HANDLER("timecode", ARG | EXPERT | VIDEO | PERFILE, handle_timecode, "set initial TimeCode value.", "hh:mm:ss[:;.]ff"),
    OPT_LIST_INT("pass", VIDEO, pass_numbers, "select the pass number (1 to 3)", "n"),
    OPT_LIST_STRING("passlogfile", EXPERT | VIDEO, passlog_prefixes, "select two pass log file name prefix", "prefix"),
    OPT_HANDLER("deinterlace", EXPERT | VIDEO, handle_deinterlace, "this option is deprecated, use the yadif filter instead", nullptr),
    OPT_GLOBAL_BOOL("psnr", EXPERT | VIDEO, do_psnr, "calculate PSNR of compressed frames", nullptr),
    OPT_HANDLER("vstats", EXPERT | VIDEO, handle_vstats, "dump video coding statistics to file", nullptr),
    OPT_HANDLER("vstats_file", ARG | EXPERT | VIDEO, handle_vstats_file, "dump video coding statistics to file", "file"),
    OPT_ALIAS("vf", ARG | VIDEO | PERFILE, "filter:v", "set video filters", "filter_list"),
    OPT_LIST_STRING("intra_matrix", EXPERT | VIDEO, intra_matrix_texts, "specify intra matrix coeffs", "matrix"),
    OPT_LIST_STRING("inter_matrix", EXPERT | VIDEO, inter_matrix_texts, "specify inter matrix coeffs", "matrix"),
    OPT_LIST_INT("top", EXPERT | VIDEO, field_order, "top=1/bottom=0/auto=-1 field first", ""),
    OPT_GLOBAL_INT("dc", EXPERT | VIDEO, intra_dc_precision, "intra_dc_precision", "precision"),
    OPT_HANDLER("vtag", ARG | EXPERT | VIDEO | PERFILE, handle_letter_alias, "force video tag/fourcc", "fourcc/tag"),
    OPT_GLOBAL_BOOL("qphist", EXPERT | VIDEO, qp_hist, "show QP histogram", nullptr),
    OPT_LIST_BOOL("force_fps", EXPERT | VIDEO, keep_frame_rate,
                  "force the selected framerate, disable the best supported framerate selection", nullptr),
    OPT_HANDLER("streamid", ARG | EXPERT | VIDEO | PERFILE, handle_streamid, "set the value of an outfile streamid",
                "streamIndex:value"),
    OPT_LIST_STRING("force_key_frames", EXPERT | VIDEO, key_frame_texts, "force key frames at specified timestamps", "timestamps"),
    OPT_HANDLER("b", ARG | VIDEO | PERFILE, handle_bitrate, "video bitrate (please use -b:v)", "bitrate"),
    OPT_ALIAS("aframes", ARG | AUDIO | PERFILE, "frames:a", "set the number of audio frames to record", "number"),
    OPT_ALIAS("aq", ARG | AUDIO | PERFILE, "q:a", "set audio quality (codec-specific)", "quality"),
    OPT_LIST_INT("ar", AUDIO, sample_rates, "set audio sampling rate (in Hz)", "rate"),
    OPT_LIST_INT("ac", AUDIO, channel_counts, "set number of audio channels", "channels"),
    OPT_FIELD_BOOL("an", AUDIO, no_audio, "disable audio", nullptr),
    OPT_ALIAS("acodec", ARG | AUDIO | PERFILE, "codec:a", "force audio codec ('copy' to copy stream)", "codec"),
    OPT_HANDLER("atag", ARG | EXPERT | AUDIO | PERFILE, handle_letter_alias, "force audio tag/fourcc", "fourcc/tag"),
    OPT_GLOBAL_INT("vol", AUDIO, audio_volume, "change audio volume (256=normal)", "volume"),
    OPT_LIST_STRING("sample_fmt", EXPERT | AUDIO, sample_format_texts, "set sample format", "format"),
    OPT_HANDLER("channel_layout", ARG | EXPERT | AUDIO | PERFILE, handle_channel_layout, "set channel layout", "layout"),
    OPT_ALIAS("af", ARG | AUDIO | PERFILE, "filter:a", "set audio filters", "filter_list"),
    OPT_FIELD_BOOL("sn", SUBTITLE, no_subtitle, "disable subtitle", nullptr),
    OPT_ALIAS("scodec", ARG | SUBTITLE | PERFILE, "codec:s", "force subtitle codec ('copy' to copy stream)", "codec"),
    OPT_HANDLER("stag", ARG | EXPERT | SUBTITLE | PERFILE, handle_letter_alias, "force subtitle tag/fourcc", "fourcc/tag"),
    OPT_LIST_BOOL("fix_sub_duration", EXPERT, fix_subtitle_duration, "fix subtitles duration", nullptr),
    OPT_HANDLER("vc", ARG | EXPERT | VIDEO, handle_video_channel, "deprecated, use -channel", "channel"),
    OPT_HANDLER("tvstd", ARG | EXPERT | VIDEO, handle_video_standard, "deprecated, use -standard", "standard"),
    OPT_GLOBAL_BOOL("isync", EXPERT, isync_ignored, "this option is deprecated and does nothing", nullptr),
    OPT_FIELD_FLOAT("muxdelay", EXPERT, max_delay_seconds, "set the maximum demux-decode delay", "seconds"),
    OPT_FIELD_FLOAT("muxpreload", EXPERT, preload_seconds, "set the initial demux-decode delay", "seconds"),
    OPT_LIST_STRING("bsf", EXPERT, bsf_lists, "A comma-separated list of bitstream filters", "bitstream_filters"),
    OPT_HANDLER("absf", ARG | EXPERT | AUDIO | PERFILE, handle_letter_alias, "deprecated", "audio bitstream_filters"),
    OPT_HANDLER("vbsf", ARG | EXPERT | VIDEO | PERFILE, handle_letter_alias, "deprecated", "video bitstream_filters"),
    OPT_HANDLER("apre", ARG | EXPERT | AUDIO | PERFILE, handle_preset_file, "set the audio options to the indicated preset", "preset"),
    OPT_HANDLER("vpre", ARG | EXPERT | VIDEO | PERFILE, handle_preset_file, "set the video options to the indicated preset", "preset"),
    OPT_HANDLER("spre", ARG | EXPERT | SUBTITLE | PERFILE, handle_preset_file, "set the subtitle options to the indicated preset", "preset"),
    OPT_HANDLER("fpre", ARG | EXPERT | PERFILE, handle_preset_file, "set options from indicated preset file", "filename"),
    OPT_ALIAS("dcodec", ARG | DATA | PERFILE, "codec:d", "force data codec ('copy' to copy stream)", "codec"),
    OPT_FIELD_BOOL("dn", VIDEO, no_data, "disable data", nullptr),
    OPT_HANDLER("default", ARG | EXPERT | VIDEO | AUDIO, apply_library_option, "generic catch all option", ""),
    {nullptr, 0, OptionEntry::Destination(), nullptr, nullptr},
};

#undef ARG
#undef EXPERT
#undef VIDEO
#undef AUDIO
#undef SUBTITLE
#undef DATA
#undef PERFILE

// ---- per-file context -----------------------------------------------------------

void reset_file_options(PerFileOptions *o, int is_input)
{
    for (const OptionEntry *po = option_table; po->name; po++) {
        void *dst = (uint8_t *)o + po->u.off;
        if (po->flags & OPTF_SPEC) {
            SpecList *list = (SpecList *)dst;
            for (int i = 0; i < list->count; i++) {
                av_freep(&list->items[i].specifier);
                if (po->flags & OPTF_STRING)
                    av_freep(&list->items[i].u.str);
            }
            av_freep(&list->items);
            list->count = 0;
        } else if ((po->flags & OPTF_FIELD) && (po->flags & OPTF_STRING)) {
            av_freep((char **)dst);
        }
    }
    for (int i = 0; i < o->nb_maps; i++)
        av_freep(&o->maps[i].link_label);
    av_freep(&o->maps);
    av_freep(&o->channel_maps);
    av_freep(&o->stream_ids);
    av_freep(&o->attach_files); // the names themselves belong to argv

    int64_t duration_limit = o->duration_limit;
    memset(o, 0, sizeof(*o));

    if (is_input && duration_limit != NO_DURATION_LIMIT) {
        o->duration_limit = duration_limit;
        av_log(nullptr, AV_LOG_WARNING,
               "-t is not an input option, keeping it for the next output; consider fixing "
               "your command line.\n");
    } else {
        o->duration_limit = NO_DURATION_LIMIT;
    }
    o->max_delay_seconds = 0.7f;
    o->size_limit = NO_SIZE_LIMIT;
    o->chapter_source = AUTO_CHAPTER_SOURCE;

    av_dict_free(&codec_options);
    av_dict_free(&format_options);
    sws_freeContext(scaler_options);
    scaler_options = nullptr;
}

const SpecValue *last_matching_value(const SpecList &list, AVFormatContext *fmt, AVStream *st)
{
    const SpecValue *found = nullptr;
    for (int i = 0; i < list.count; i++)
        if (match_stream_spec(fmt, st, list.items[i].specifier) > 0)
            found = &list.items[i];
    return found;
}
