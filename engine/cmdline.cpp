// Option parsing engine: walks an argument vector against an option table, stores
// option values by kind, routes every name the table does not know to the option
// sets of the media libraries, and offers the shared helpers of the command line
// (number and time conversion, growing tables, stream specifiers, per-stream codec
// options, the early log/report set-up, preset search, whole-file reads).
//
// Called by the entry (run.cpp), the option handlers (options.cpp) and the stages
// that open files and set up the transcode. Not reentrant: one run at a time.
#include "cmdline.h"

#include "platform.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

const char program_name[] = "ffmpeg_exec";

AVDictionary *codec_options;
AVDictionary *format_options;
struct SwsContext *scaler_options;
struct SwrContext *resampler_options;

namespace {

FILE *report_file;

bool name_starts_with_no(const char *name)
{
    return name[0] == 'n' && name[1] == 'o';
}

// Stores an already converted argument according to the row's value kind.
// Returns 1 when a kind matched, 0 when the row has none.
int store_by_kind(const OptionEntry *po, void *dst, const char *opt, const char *arg,
                  int bool_value)
{
    if (po->flags & OPTF_STRING) {
        char *copy = av_strdup(arg);
        if (!copy)
            return AVERROR(ENOMEM);
        // A per-file text field owns its copy, so a repeated option must not leak
        // the earlier one; list elements are always fresh.
        if ((po->flags & OPTF_FIELD) && !(po->flags & OPTF_SPEC))
            av_free(*(char **)dst);
        *(char **)dst = copy;
    } else if (po->flags & OPTF_BOOL) {
        *(int *)dst = bool_value;
    } else if (po->flags & OPTF_INT) {
        *(int *)dst = int(parse_number_bounded(opt, arg, OPTF_INT64, INT_MIN, INT_MAX));
    } else if (po->flags & OPTF_INT64) {
        double v = parse_number_bounded(opt, arg, OPTF_INT64, -9.223372036854776e18,
                                        9.223372036854776e18);
        // 2^63 passes the range test but does not fit: keep the largest value
        // instead of wrapping to a negative one.
        *(int64_t *)dst = v >= 9.223372036854775807e18 ? INT64_MAX : int64_t(v);
    } else if (po->flags & OPTF_TIME) {
        *(int64_t *)dst = parse_time_value(opt, arg, 1);
    } else if (po->flags & OPTF_FLOAT) {
        *(float *)dst = float(parse_number_bounded(opt, arg, OPTF_FLOAT, -INFINITY, INFINITY));
    } else if (po->flags & OPTF_DOUBLE) {
        *(double *)dst = parse_number_bounded(opt, arg, OPTF_DOUBLE, -INFINITY, INFINITY);
    } else {
        return 0;
    }
    return 1;
}

} // namespace

// ---- walking the argument vector --------------------------------------------

const OptionEntry *find_option_entry(const OptionEntry *table, const char *name)
{
    const char *colon = strchr(name, ':');
    size_t len = colon ? size_t(colon - name) : strlen(name);
    const OptionEntry *po = table;
    for (; po->name; po++)
        if (strlen(po->name) == len && !strncmp(po->name, name, len))
            break;
    return po;
}

int find_option_position(int argc, char **argv, const OptionEntry *table, const char *name)
{
    for (int i = 1; i < argc; i++) {
        const char *cur = argv[i];
        if (!strcmp(cur, "--"))
            break; // everything after it is a file name
        if (cur[0] != '-' || !cur[1])
            continue;
        cur++;
        const OptionEntry *po = find_option_entry(table, cur);
        if (po->name ? !strcmp(po->name, name) : !strcmp(cur, name))
            return i;
        // Skip the argument of a known option so it is not taken for an option.
        if (po->name && (po->flags & OPTF_ARG))
            i++;
    }
    return 0;
}

namespace {

// The row that applies `opt`: its own, the one it negates with "no", or the
// catch-all "default" (the terminator when the table has none). *name is what
// the row is applied under.
const OptionEntry *resolve_option(const OptionEntry *table, const char *opt, const char **name)
{
    *name = opt;
    const OptionEntry *po = find_option_entry(table, opt);
    if (!po->name && name_starts_with_no(opt)) {
        po = find_option_entry(table, opt + 2);
        if (po->name)
            *name = opt + 2;
    }
    return po->name ? po : find_option_entry(table, "default");
}

int run_row_action(void *ctx, const OptionEntry *po, const char *name, const char *arg,
                   const OptionEntry *table)
{
    if (po->flags & OPTF_REMOVED) {
        av_log(nullptr, AV_LOG_FATAL, "Option '%s' has been removed, use the %s filter instead\n",
               name, po->u.text);
        return AVERROR(EINVAL);
    }
    if (po->flags & OPTF_ALIAS) {
        int ret = apply_option(ctx, po->u.text, arg, table);
        return ret < 0 ? ret : 0;
    }
    return po->u.func_arg(ctx, name, arg);
}

} // namespace

int find_next_option(int argc, char **argv, const OptionEntry *table, const char *name, int from)
{
    for (int i = from; i < argc; i++) {
        const char *cur = argv[i];
        if (!strcmp(cur, "--"))
            break;
        if (cur[0] != '-' || !cur[1])
            continue;
        const char *applied;
        const OptionEntry *po = resolve_option(table, cur + 1, &applied);
        if (po->name && !strcmp(po->name, name))
            return i;
        if (po->name && (po->flags & OPTF_ARG))
            i++;
    }
    return 0;
}

int apply_option(void *ctx, const char *opt, const char *arg, const OptionEntry *table)
{
    const char *name; // name the row is applied under
    const OptionEntry *po = resolve_option(table, opt, &name);
    const int bool_value = name != opt && (po->flags & OPTF_BOOL) ? 0 : 1;
    if (!po->name) {
        av_log(nullptr, AV_LOG_ERROR, "Unrecognized option '%s'\n", opt);
        return AVERROR(EINVAL);
    }
    if ((po->flags & OPTF_ARG) && !arg) {
        av_log(nullptr, AV_LOG_ERROR, "Missing argument for option '%s'\n", opt);
        return AVERROR(EINVAL);
    }

    void *dst = (po->flags & (OPTF_FIELD | OPTF_SPEC)) ? (void *)((uint8_t *)ctx + po->u.off)
                                                       : po->u.dst_ptr;
    if (po->flags & OPTF_SPEC) {
        SpecList *list = (SpecList *)dst;
        GROW_TABLE(list->items, list->count);
        SpecValue *item = &list->items[list->count - 1];
        const char *colon = strchr(name, ':');
        item->specifier = av_strdup(colon ? colon + 1 : "");
        if (!item->specifier)
            return AVERROR(ENOMEM);
        dst = &item->u;
    }

    int stored = store_by_kind(po, dst, name, arg, bool_value);
    if (stored < 0)
        return stored;
    // A row without a value kind names a handler, an alias or a removed option
    // (never a field position).
    if (!stored && !(po->flags & (OPTF_FIELD | OPTF_SPEC)) && po->u.func_arg) {
        int ret = run_row_action(ctx, po, name, arg, table);
        if (ret < 0) {
            av_log(nullptr, AV_LOG_ERROR, "Failed to set value '%s' for option '%s'\n",
                   arg ? arg : "", name);
            return ret;
        }
    }
    if (po->flags & OPTF_EXIT)
        return -1;
    return (po->flags & OPTF_ARG) ? 1 : 0;
}

int parse_command_line(void *ctx, int argc, char **argv, const OptionEntry *table,
                       FileNameHandler on_file)
{
    int options_on = 1;
    for (int i = 1; i < argc; i++) {
        const char *cur = argv[i];
        if (options_on && cur[0] == '-' && cur[1]) {
            if (cur[1] == '-' && !cur[2]) {
                options_on = 0;
                continue;
            }
            int ret = apply_option(ctx, cur + 1, i + 1 < argc ? argv[i + 1] : nullptr, table);
            if (ret < 0)
                return -1;
            i += ret;
        } else {
            on_file(ctx, cur);
        }
    }
    return 0;
}

// ---- library options --------------------------------------------------------

int apply_library_option(void *ctx, const char *opt, const char *arg)
{
    // Codec option names may carry a stream specifier: look up the bare name.
    char bare[128];
    const char *colon = strchr(opt, ':');
    size_t len = colon ? size_t(colon - opt) : strlen(opt);
    if (len > sizeof(bare) - 1)
        len = sizeof(bare) - 1;
    memcpy(bare, opt, len);
    bare[len] = '\0';

    const AVClass *codec_class = avcodec_get_class();
    const AVClass *format_class = avformat_get_class();
    const AVClass *scaler_class = sws_get_class();
    const AVClass *resampler_class = swr_get_class();
    const AVOption *o;

    if ((o = av_opt_find(&codec_class, bare, nullptr, 0,
                         AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ)) ||
        ((opt[0] == 'v' || opt[0] == 'a' || opt[0] == 's') &&
         (o = av_opt_find(&codec_class, opt + 1, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)))) {
        return av_dict_set(&codec_options, opt, arg,
                           o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0);
    }
    if ((o = av_opt_find(&format_class, opt, nullptr, 0,
                         AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ))) {
        return av_dict_set(&format_options, opt, arg,
                           o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0);
    }
    if (av_opt_find(&scaler_class, opt, nullptr, 0,
                    AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ)) {
        // A real option object, so the library checks the value now.
        if (!scaler_options && !(scaler_options = sws_alloc_context()))
            return AVERROR(ENOMEM);
        int ret = av_opt_set(scaler_options, opt, arg, 0);
        if (ret < 0)
            av_log(nullptr, AV_LOG_ERROR, "Error setting option %s.\n", opt);
        return ret;
    }
    if (av_opt_find(&resampler_class, opt, nullptr, 0,
                    AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ)) {
        if (!resampler_options && !(resampler_options = swr_alloc()))
            return AVERROR(ENOMEM);
        int ret = av_opt_set(resampler_options, opt, arg, 0);
        if (ret < 0)
            av_log(nullptr, AV_LOG_ERROR, "Error setting option %s.\n", opt);
        return ret;
    }
    av_log(nullptr, AV_LOG_ERROR, "Unrecognized option '%s'\n", opt);
    return AVERROR_OPTION_NOT_FOUND;
}

void release_option_state(void)
{
    av_dict_free(&codec_options);
    av_dict_free(&format_options);
    sws_freeContext(scaler_options);
    scaler_options = nullptr;
    swr_free(&resampler_options);
}

// ---- values -----------------------------------------------------------------

double parse_number_bounded(const char *context, const char *numstr, int kind, double min,
                            double max)
{
    char *tail;
    const char *error;
    double d = av_strtod(numstr, &tail);
    // trunc() instead of an integer cast: the cast of a huge value is undefined.
    bool whole = std::trunc(d) == d;
    if (*tail)
        error = "Expected number for %s but found: %s\n";
    else if (d < min || d > max)
        error = "The value for %s was %s which is not within %f - %f\n";
    else if (kind == OPTF_INT64 && !whole)
        error = "Expected int64 for %s but found %s\n";
    else if (kind == OPTF_INT && !whole)
        error = "Expected int for %s but found %s\n";
    else
        return d;
    av_log(nullptr, AV_LOG_FATAL, error, context, numstr, min, max);
    return -1.0;
}

int64_t parse_time_value(const char *context, const char *timestr, int is_duration)
{
    int64_t us;
    if (av_parse_time(&us, timestr, is_duration) < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid %s specification for %s: %s\n",
               is_duration ? "duration" : "date", context, timestr);
        exit(1);
    }
    return us;
}

void *grow_table(void *array, int elem_size, int *count, int new_count)
{
    if (new_count >= INT_MAX / elem_size) {
        av_log(nullptr, AV_LOG_ERROR, "Array too big.\n");
        exit(1);
    }
    if (*count < new_count) {
        uint8_t *grown = (uint8_t *)av_realloc_array(array, new_count, elem_size);
        if (!grown) {
            av_log(nullptr, AV_LOG_ERROR, "Could not alloc buffer.\n");
            exit(1);
        }
        memset(grown + size_t(*count) * elem_size, 0, size_t(new_count - *count) * elem_size);
        *count = new_count;
        return grown;
    }
    return array;
}

// ---- streams and codec options ----------------------------------------------

int match_stream_spec(AVFormatContext *s, AVStream *st, const char *spec)
{
    int ret = avformat_match_stream_specifier(s, st, spec);
    if (ret < 0)
        av_log(s, AV_LOG_ERROR, "Invalid stream specifier: %s.\n", spec);
    return ret;
}

AVDictionary *select_codec_options(AVDictionary *opts, enum AVCodecID codec_id,
                                   AVFormatContext *s, AVStream *st, const AVCodec *codec)
{
    AVDictionary *selected = nullptr;
    const bool output = s->oformat != nullptr;
    int mask = output ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
    char prefix = 0;
    const AVClass *codec_class = avcodec_get_class();

    if (!codec)
        codec = output ? avcodec_find_encoder(codec_id) : avcodec_find_decoder(codec_id);
    if (!codec)
        return nullptr;

    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        prefix = 'v';
        mask |= AV_OPT_FLAG_VIDEO_PARAM;
        break;
    case AVMEDIA_TYPE_AUDIO:
        prefix = 'a';
        mask |= AV_OPT_FLAG_AUDIO_PARAM;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        prefix = 's';
        mask |= AV_OPT_FLAG_SUBTITLE_PARAM;
        break;
    default:
        break;
    }

    const AVDictionaryEntry *t = nullptr;
    while ((t = av_dict_get(opts, "", t, AV_DICT_IGNORE_SUFFIX))) {
        std::string key = t->key;
        size_t colon = key.find(':');
        if (colon != std::string::npos) {
            int match = match_stream_spec(s, st, key.c_str() + colon + 1);
            if (match == 0)
                continue;
            if (match < 0) {
                av_dict_free(&selected);
                return nullptr;
            }
            key.resize(colon);
        }
        if (av_opt_find(&codec_class, key.c_str(), nullptr, mask, AV_OPT_SEARCH_FAKE_OBJ) ||
            (codec->priv_class &&
             av_opt_find((void *)&codec->priv_class, key.c_str(), nullptr, 0,
                         AV_OPT_SEARCH_FAKE_OBJ)))
            av_dict_set(&selected, key.c_str(), t->value, 0);
        else if (prefix && key[0] == prefix &&
                 av_opt_find(&codec_class, key.c_str() + 1, nullptr, mask, AV_OPT_SEARCH_FAKE_OBJ))
            av_dict_set(&selected, key.c_str() + 1, t->value, 0);
    }
    return selected;
}

AVDictionary **probe_options_for_streams(AVFormatContext *s, AVDictionary *codec_opts)
{
    if (!s->nb_streams)
        return nullptr;
    AVDictionary **opts = (AVDictionary **)av_calloc(s->nb_streams, sizeof(*opts));
    if (!opts) {
        av_log(nullptr, AV_LOG_ERROR, "Could not alloc memory for stream options.\n");
        return nullptr;
    }
    for (unsigned i = 0; i < s->nb_streams; i++)
        opts[i] = select_codec_options(codec_opts, s->streams[i]->codecpar->codec_id, s,
                                       s->streams[i], nullptr);
    return opts;
}

// ---- logging and the report file ---------------------------------------------

namespace {

struct LogLevelName {
    const char *name;
    int level;
};

const LogLevelName log_levels[] = {
    {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
    {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
    {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
};

// Parses the whole text as a base-10 integer.
bool parse_whole_integer(const char *text, long long *value)
{
    char *tail;
    errno = 0;
    *value = strtoll(text, &tail, 10);
    return tail != text && !*tail && errno != ERANGE;
}

void log_to_report(void *ptr, int level, const char *fmt, va_list vl)
{
    // Codec threads log too: the line-start state and the file are shared.
    static std::mutex report_lock;
    static int print_prefix = 1;
    va_list copy;
    va_copy(copy, vl);
    av_log_default_callback(ptr, level, fmt, vl);
    char line[1024];
    {
        std::lock_guard<std::mutex> guard(report_lock);
        av_log_format_line(ptr, level, fmt, copy, line, sizeof(line), &print_prefix);
        fputs(line, report_file);
        fflush(report_file);
    }
    va_end(copy);
}

// Writes one argv element so it can be pasted back into a shell.
void write_quoted_argument(FILE *f, const char *a)
{
    const unsigned char *p = (const unsigned char *)a;
    for (; *p; p++)
        if (!((*p >= '+' && *p <= ':') || (*p >= '@' && *p <= 'Z') || *p == '_' ||
              (*p >= 'a' && *p <= 'z')))
            break;
    if (!*p) {
        fputs(a, f);
        return;
    }
    fputc('"', f);
    for (p = (const unsigned char *)a; *p; p++) {
        if (*p == '"' || *p == '$' || *p == '\\' || *p == '`')
            fprintf(f, "\\%c", *p);
        else if (*p < ' ' || *p > '~')
            fprintf(f, "\\x%02x", *p);
        else
            fputc(*p, f);
    }
    fputc('"', f);
}

} // namespace

int handle_loglevel(void *, const char *, const char *arg)
{
    for (const LogLevelName &l : log_levels) {
        if (!strcmp(l.name, arg)) {
            av_log_set_level(l.level);
            return 0;
        }
    }
    long long level;
    if (!parse_whole_integer(arg, &level) || level < INT_MIN || level > INT_MAX) {
        av_log(nullptr, AV_LOG_FATAL,
               "Invalid loglevel \"%s\". Possible levels are numbers or:\n", arg);
        for (const LogLevelName &l : log_levels)
            av_log(nullptr, AV_LOG_FATAL, "\"%s\"\n", l.name);
        exit(1);
    }
    av_log_set_level(int(level));
    return 0;
}

int open_report(void)
{
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char filename[64];
    snprintf(filename, sizeof(filename), "%s-%04d%02d%02d-%02d%02d%02d.log", program_name,
             tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    report_file = fopen(filename, "w");
    if (!report_file) {
        int err = errno;
        av_log(nullptr, AV_LOG_ERROR, "Failed to open report \"%s\": %s\n", filename,
               strerror(err));
        return AVERROR(err);
    }
    av_log_set_callback(log_to_report);
    av_log(nullptr, AV_LOG_INFO,
           "%s started on %04d-%02d-%02d at %02d:%02d:%02d\nReport written to \"%s\"\n",
           program_name, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
           tm.tm_sec, filename);
    av_log_set_level(FFMAX(av_log_get_level(), AV_LOG_VERBOSE));
    return 0;
}

void early_log_setup(int argc, char **argv, const OptionEntry *table)
{
    int idx = find_option_position(argc, argv, table, "loglevel");
    if (!idx)
        idx = find_option_position(argc, argv, table, "v");
    if (idx && idx + 1 < argc)
        handle_loglevel(nullptr, "loglevel", argv[idx + 1]);

    idx = find_option_position(argc, argv, table, "report");
    if (idx || getenv("FFREPORT")) {
        if (!report_file)
            open_report();
        if (report_file) {
            fputs("Command line:\n", report_file);
            for (int i = 0; i < argc; i++) {
                write_quoted_argument(report_file, argv[i]);
                fputc(i < argc - 1 ? ' ' : '\n', report_file);
            }
            fflush(report_file);
        }
    }
}

int handle_report(void *, const char *, const char *)
{
    return report_file ? 0 : open_report();
}

int handle_debug(void *ctx, const char *opt, const char *arg)
{
    av_log_set_level(AV_LOG_DEBUG);
    return apply_library_option(ctx, opt, arg);
}

int handle_max_alloc(void *, const char *, const char *arg)
{
    long long max;
    if (!parse_whole_integer(arg, &max)) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid max_alloc \"%s\".\n", arg);
        exit(1);
    }
    av_max_alloc(size_t(max));
    return 0;
}

int handle_cpuflags(void *, const char *, const char *arg)
{
    unsigned flags = unsigned(av_get_cpu_flags());
    int ret = av_parse_cpu_caps(&flags, arg);
    if (ret < 0)
        return ret;
    av_force_cpu_flags(int(flags));
    return 0;
}

int handle_timelimit(void *, const char *opt, const char *)
{
    av_log(nullptr, AV_LOG_WARNING, "-%s not implemented on this OS\n", opt);
    return 0;
}

void print_error(const char *filename, int err)
{
    char text[128];
    const char *shown = text;
    if (av_strerror(err, text, sizeof(text)) < 0)
        shown = strerror(AVUNERROR(err));
    av_log(nullptr, AV_LOG_ERROR, "%s: %s\n", filename, shown);
}

// ---- presets, files, questions -------------------------------------------------

FILE *find_preset_file(char *filename, size_t filename_size, const char *preset_name,
                       int is_path, const char *codec_name)
{
    if (is_path) {
        av_strlcpy(filename, preset_name, filename_size);
        return fopen(filename, "r");
    }
    char exe_presets[4096];
    const char *bases[3] = {getenv("FFMPEG_DATADIR"), getenv("HOME"), nullptr};
    if (plat_executable_dir(exe_presets, sizeof(exe_presets) - 10) == 0) {
        av_strlcat(exe_presets, "/ffpresets", sizeof(exe_presets));
        bases[2] = exe_presets;
    }
    FILE *f = nullptr;
    for (int i = 0; i < 3 && !f; i++) {
        if (!bases[i])
            continue;
        const char *middle = i == 1 ? "/.ffmpeg" : "";
        snprintf(filename, filename_size, "%s%s/%s.ffpreset", bases[i], middle, preset_name);
        f = fopen(filename, "r");
        if (!f && codec_name) {
            snprintf(filename, filename_size, "%s%s/%s-%s.ffpreset", bases[i], middle,
                     codec_name, preset_name);
            f = fopen(filename, "r");
        }
    }
    return f;
}

int read_whole_file(const char *filename, char **bufptr, size_t *size)
{
    *bufptr = nullptr;
    *size = 0;
    FILE *f = fopen(filename, "rb");
    if (!f) {
        int err = errno;
        av_log(nullptr, AV_LOG_ERROR, "Cannot read file '%s': %s\n", filename, strerror(err));
        return AVERROR(err);
    }
    long length = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        length = ftell(f);
    if (length < 0 || fseek(f, 0, SEEK_SET) != 0) {
        int err = errno ? errno : EIO;
        av_log(nullptr, AV_LOG_ERROR, "Error while reading file '%s': %s\n", filename,
               strerror(err));
        fclose(f);
        return AVERROR(err);
    }
    char *buf = (char *)av_malloc(size_t(length) + 1);
    if (!buf) {
        av_log(nullptr, AV_LOG_ERROR, "Could not allocate file buffer\n");
        fclose(f);
        return AVERROR(ENOMEM);
    }
    size_t got = fread(buf, 1, size_t(length), f);
    int ret = 0;
    if (got < size_t(length)) {
        if (ferror(f)) {
            int err = errno ? errno : EIO;
            av_log(nullptr, AV_LOG_ERROR, "Error while reading file '%s': %s\n", filename,
                   strerror(err));
            ret = AVERROR(err);
        } else {
            ret = AVERROR_EOF;
        }
        // A partial buffer is never handed out: callers would read unterminated text.
        av_free(buf);
    } else {
        buf[length] = '\0';
        *bufptr = buf;
        *size = size_t(length);
    }
    fclose(f);
    return ret;
}

int ask_yes_no(void)
{
    // The question needs a line-buffered, echoing terminal.
    plat_stdin_restore();
    int c = getchar();
    int yes = toupper(c) == 'Y';
    while (c != '\n' && c != EOF)
        c = getchar();
    return yes;
}
