// Stream mapping and presets: the option handlers "map" and "map_channel" (which
// fill the per-file MapEntry and ChannelMap lists read when the next output is
// opened), the preset-file options "fpre", "vpre", "apre", "spre", and the option
// presets (".avpreset") that "pre" names for one output stream.
//
// The handlers are rows of the option table; load_option_preset() is called while
// an output stream is created.
#include "output_internal.h"

#include <cstring>
#include <string>

#ifndef WVC_DATADIR
#define WVC_DATADIR "/usr/local/share/wardline"
#endif

// ---- "map" ----------------------------------------------------------------------

namespace {

bool valid_input_file(long index)
{
    return index >= 0 && index < nb_input_files;
}

// "<file>[:<specifier>]" after the comma of a map: the first matching stream of
// that file is the one to synchronise with.
int parse_sync_reference(const char *text, const char *whole_arg, int *sync_file,
                         int *sync_stream)
{
    char *rest;
    long file = strtol(text, &rest, 0);
    if (!valid_input_file(file)) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid sync file index: %d.\n", int(file));
        return AVERROR(EINVAL);
    }
    if (*rest)
        rest++;
    AVFormatContext *ic = input_files[file]->ctx;
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        if (match_stream_spec(ic, ic->streams[i], rest) == 1) {
            *sync_file = int(file);
            *sync_stream = int(i);
            return 0;
        }
    }
    av_log(nullptr, AV_LOG_FATAL, "Sync stream specification in map %s does not match any streams.\n",
           whole_arg);
    return AVERROR(EINVAL);
}

MapEntry *append_map(PerFileOptions *o)
{
    GROW_TABLE(o->maps, o->nb_maps);
    return &o->maps[o->nb_maps - 1];
}

} // namespace

int handle_map(void *ctx, const char *, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    const bool negative = arg[0] == '-';
    std::string map = negative ? arg + 1 : arg;

    int sync_file = -1, sync_stream = -1;
    size_t comma = map.find(',');
    if (comma != std::string::npos) {
        int ret = parse_sync_reference(map.c_str() + comma + 1, arg, &sync_file, &sync_stream);
        if (ret < 0)
            return ret;
        map.resize(comma);
    }

    bool added = false;
    if (map[0] == '[') {
        // A complex filtergraph output label, bound when the output is opened.
        const char *c = map.c_str() + 1;
        char *label = av_get_token(&c, "]");
        if (!label) {
            av_log(nullptr, AV_LOG_ERROR, "Invalid output link label: %s.\n", map.c_str());
            return AVERROR(EINVAL);
        }
        append_map(o)->link_label = label;
        added = true;
    } else {
        char *rest;
        long file = strtol(map.c_str(), &rest, 0);
        if (!valid_input_file(file)) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid input file index: %d.\n", int(file));
            return AVERROR(EINVAL);
        }
        const char *spec = *rest == ':' ? rest + 1 : rest;
        AVFormatContext *ic = input_files[file]->ctx;
        if (negative) {
            for (int i = 0; i < o->nb_maps; i++) {
                MapEntry &m = o->maps[i];
                if (m.src_file == file && !m.link_label &&
                    match_stream_spec(ic, ic->streams[m.src_stream], spec) > 0)
                    m.skipped = 1;
            }
        } else {
            for (unsigned i = 0; i < ic->nb_streams; i++) {
                if (match_stream_spec(ic, ic->streams[i], spec) <= 0)
                    continue;
                MapEntry *m = append_map(o);
                m->src_file = int(file);
                m->src_stream = int(i);
                m->sync_file = sync_file >= 0 ? sync_file : int(file);
                m->sync_stream = sync_file >= 0 ? sync_stream : int(i);
                added = true;
            }
        }
    }
    // A negative map fails only when there is nothing at all to take away.
    if (negative ? !o->nb_maps : !added) {
        av_log(nullptr, AV_LOG_FATAL, "Stream map '%s' matches no streams.\n", arg);
        return AVERROR(EINVAL);
    }
    return 0;
}

// ---- "map_channel" ----------------------------------------------------------------

int handle_map_channel(void *ctx, const char *, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    ChannelMap m = {-1, -1, -1, -1, -1};

    // "-1" or "-1:<out file>.<out stream>": a silent channel.
    int n = sscanf(arg, "%d:%d.%d", &m.channel, &m.out_file, &m.out_stream);
    if ((n == 1 || n == 3) && m.channel == -1) {
        if (n == 1)
            m.out_file = m.out_stream = -1;
    } else {
        m = {-1, -1, -1, -1, -1};
        n = sscanf(arg, "%d.%d.%d:%d.%d", &m.in_file, &m.in_stream, &m.channel, &m.out_file,
                   &m.out_stream);
        if (n != 3 && n != 5) {
            av_log(nullptr, AV_LOG_FATAL,
                   "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]\n");
            return AVERROR(EINVAL);
        }
        if (n != 5)
            m.out_file = m.out_stream = -1;

        if (!valid_input_file(m.in_file)) {
            av_log(nullptr, AV_LOG_FATAL, "mapchan: invalid input file index: %d\n", m.in_file);
            return AVERROR(EINVAL);
        }
        AVFormatContext *ic = input_files[m.in_file]->ctx;
        if (m.in_stream < 0 || unsigned(m.in_stream) >= ic->nb_streams) {
            av_log(nullptr, AV_LOG_FATAL, "mapchan: invalid input file stream index #%d.%d\n",
                   m.in_file, m.in_stream);
            return AVERROR(EINVAL);
        }
        const AVCodecParameters *par = ic->streams[m.in_stream]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            av_log(nullptr, AV_LOG_FATAL, "mapchan: stream #%d.%d is not an audio stream.\n",
                   m.in_file, m.in_stream);
            return AVERROR(EINVAL);
        }
        if (m.channel < 0 || m.channel >= par->ch_layout.nb_channels) {
            av_log(nullptr, AV_LOG_FATAL, "mapchan: invalid audio channel #%d.%d.%d\n", m.in_file,
                   m.in_stream, m.channel);
            return AVERROR(EINVAL);
        }
    }
    GROW_TABLE(o->channel_maps, o->nb_channel_maps);
    o->channel_maps[o->nb_channel_maps - 1] = m;
    return 0;
}

// ---- "fpre", "vpre", "apre", "spre" ---------------------------------------------

namespace {

// Codec named by the last codec choice for exactly this media letter ("v", ...).
const char *codec_for_letter(const PerFileOptions *o, char letter)
{
    const char want[2] = {letter, '\0'};
    const char *name = nullptr;
    for (int i = 0; i < o->codec_choices.count; i++)
        if (!strcmp(o->codec_choices.items[i].specifier, want))
            name = o->codec_choices.items[i].u.str;
    return name;
}

// "key=value" with a non-empty key and value; the line end is not part of it.
bool split_preset_line(const char *line, std::string *key, std::string *value)
{
    const char *eq = strchr(line, '=');
    if (!eq || eq == line)
        return false;
    size_t end = strcspn(eq + 1, "\r\n");
    if (!end)
        return false;
    key->assign(line, size_t(eq - line));
    value->assign(eq + 1, end);
    return true;
}

int apply_preset_pair(PerFileOptions *o, const char *filename, const char *line,
                      const std::string &key, const std::string &value)
{
    static const char *const codec_keys[][2] = {
        {"acodec", "codec:a"}, {"vcodec", "codec:v"}, {"scodec", "codec:s"}, {"dcodec", "codec:d"}};
    for (const auto &k : codec_keys)
        if (key == k[0]) {
            int ret = apply_option(o, k[1], value.c_str(), option_table);
            return ret < 0 ? ret : 0;
        }
    int ret = apply_library_option(o, key.c_str(), value.c_str());
    if (ret < 0)
        av_log(nullptr, AV_LOG_FATAL,
               "%s: Invalid option or argument: '%s', parsed as '%s' = '%s'\n", filename, line,
               key.c_str(), value.c_str());
    return ret;
}

} // namespace

int handle_preset_file(void *ctx, const char *opt, const char *arg)
{
    PerFileOptions *o = (PerFileOptions *)ctx;
    char filename[1000];
    const bool is_path = opt[0] == 'f';
    FILE *f = find_preset_file(filename, sizeof(filename), arg, is_path,
                               is_path ? nullptr : codec_for_letter(o, opt[0]));
    if (!f) {
        if (!strncmp(arg, "libx264-lossless", strlen("libx264-lossless")))
            av_log(nullptr, AV_LOG_FATAL, "Please use -preset <speed> -qp 0\n");
        else
            av_log(nullptr, AV_LOG_FATAL, "File for preset '%s' not found\n", arg);
        return AVERROR(ENOENT);
    }

    int ret = 0;
    char line[1000];
    while (ret >= 0 && fgets(line, sizeof(line), f)) {
        if (line[0] == '#' || line[0] == '\n' || line[0] == '\r')
            continue;
        std::string key, value;
        if (!split_preset_line(line, &key, &value)) {
            line[strcspn(line, "\r\n")] = '\0';
            av_log(nullptr, AV_LOG_FATAL, "%s: Invalid syntax: '%s'\n", filename, line);
            ret = AVERROR(EINVAL);
            break;
        }
        av_log(nullptr, AV_LOG_DEBUG, "ffpreset[%s]: set '%s' = '%s'\n", filename, key.c_str(),
               value.c_str());
        line[strcspn(line, "\r\n")] = '\0';
        ret = apply_preset_pair(o, filename, line, key, value);
    }
    fclose(f);
    return ret < 0 ? ret : 0;
}

// ---- option presets for "pre" -----------------------------------------------------

namespace {

AVIOContext *open_option_preset(const char *preset, const char *codec_name)
{
    // The installation's data directory comes from the build.
    const char *bases[3] = {getenv("AVCONV_DATADIR"), getenv("HOME"), WVC_DATADIR};
    char name[1000];
    for (int i = 0; i < 3; i++) {
        if (!bases[i])
            continue;
        const char *middle = i == 1 ? "/.avconv" : "";
        AVIOContext *s = nullptr;
        if (codec_name) {
            snprintf(name, sizeof(name), "%s%s/%s-%s.avpreset", bases[i], middle, codec_name,
                     preset);
            if (avio_open2(&s, name, AVIO_FLAG_READ, &interrupt_callback, nullptr) >= 0)
                return s;
        }
        snprintf(name, sizeof(name), "%s%s/%s.avpreset", bases[i], middle, preset);
        if (avio_open2(&s, name, AVIO_FLAG_READ, &interrupt_callback, nullptr) >= 0)
            return s;
    }
    return nullptr;
}

// Reads one line (ended by a newline, a zero byte or the end of the file) into
// `line`; false at the end of the file.
bool read_preset_line(AVIOContext *s, AVBPrint *line)
{
    av_bprint_clear(line);
    if (avio_feof(s))
        return false;
    int c;
    while (!avio_feof(s) && (c = avio_r8(s)) != '\n' && c != '\0')
        av_bprint_chars(line, char(c), 1);
    if (line->len && line->str[line->len - 1] == '\r')
        line->str[--line->len] = '\0'; // written on Windows
    return true;
}

} // namespace

int load_option_preset(const char *preset, const char *codec_name, AVDictionary **opts)
{
    AVIOContext *s = open_option_preset(preset, codec_name);
    if (!s)
        return AVERROR(ENOENT);
    AVBPrint line;
    av_bprint_init(&line, 0, AV_BPRINT_SIZE_UNLIMITED);
    int ret = 0;
    while (read_preset_line(s, &line)) {
        if (!av_bprint_is_complete(&line)) {
            av_log(nullptr, AV_LOG_FATAL, "Could not alloc buffer for reading preset.\n");
            ret = AVERROR(ENOMEM);
            break;
        }
        if (!line.len || line.str[0] == '#')
            continue;
        const char *eq = strchr(line.str, '=');
        if (!eq) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid line found in the preset file.\n");
            ret = AVERROR(EINVAL);
            break;
        }
        std::string key(line.str, size_t(eq - line.str));
        av_dict_set(opts, key.c_str(), eq + 1, AV_DICT_DONT_OVERWRITE);
    }
    av_bprint_finalize(&line, nullptr);
    avio_closep(&s);
    return ret;
}
