// Limits of an input file: the nested resources a plain-path input may open (its
// own folder and below, local files only, no formats that open files out of our
// sight), and the decoders' picture and sample limits.
//
// Nested opens of a demuxer (playlist entries, segments, external references,
// image sequences) go through the format context's io_open callback, which this
// file replaces for plain-path inputs; the demuxers' own nested contexts inherit
// the protocol and format white lists. Called by input.cpp when it opens a file.
#include "input_guard.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Demuxers whose nested files are opened by contexts the caller cannot watch:
// the concatenation script opens its entries (with options of its own choice)
// through the libraries' default opener, and so does an IMF package.
const char *const kUnwatchedDemuxers[] = {"concat", "imf"};

bool unwatched(const char *name)
{
    for (const char *u : kUnwatchedDemuxers)
        if (!strcmp(name, u))
            return true;
    return false;
}

// Every other demuxer, as a white list; the same for the whole process.
const char *watched_demuxers(void)
{
    static const std::string list = [] {
        std::string names;
        void *it = nullptr;
        while (const AVInputFormat *fmt = av_demuxer_iterate(&it)) {
            if (unwatched(fmt->name))
                continue;
            if (!names.empty())
                names += ',';
            names += fmt->name;
        }
        return names;
    }();
    return list.c_str();
}

bool has_protocol_prefix(const char *filename)
{
    const char *protocol = avio_find_protocol_name(filename);
    return !protocol || strcmp(protocol, "file") || av_strstart(filename, "file:", nullptr);
}

// The canonical path of `path` (symbolic links resolved), or "" when it does
// not exist.
std::string real_path(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return "";
    std::string result = resolved;
    free(resolved);
    return result;
}

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when `url` names the input itself or a file in the input's folder or
// below it (after symbolic links are followed).
bool inside_input_folder(const char *input, const char *url)
{
    if (!strcmp(url, input))
        return true;
    const char *protocol = avio_find_protocol_name(url);
    if (!protocol || strcmp(protocol, "file"))
        return false;
    const char *path = url;
    if (av_strstart(url, "file:", &path))
        av_strstart(path, "//", &path); // "file:///x" names the absolute path "/x"
    const std::string folder = real_path(folder_of(input));
    const std::string target = real_path(path);
    if (folder.empty() || target.empty())
        return false;
    if (folder == "/")
        return true;
    return target.size() > folder.size() && !target.compare(0, folder.size(), folder) &&
           target[folder.size()] == '/';
}

int open_nested(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **options)
{
    if ((flags & AVIO_FLAG_WRITE) || !inside_input_folder(s->url, url)) {
        av_log(s, AV_LOG_ERROR,
               "Refusing to open '%s' for '%s': a recording may only refer to files in its own folder\n",
               url, s->url);
        return AVERROR(EPERM);
    }
    AVDictionary *opts = nullptr;
    int ret = options ? av_dict_copy(&opts, *options, 0) : 0;
    if (ret >= 0 && s->protocol_whitelist)
        ret = av_dict_set(&opts, "protocol_whitelist", s->protocol_whitelist, 0);
    if (ret >= 0 && s->protocol_blacklist)
        ret = av_dict_set(&opts, "protocol_blacklist", s->protocol_blacklist, 0);
    if (ret >= 0)
        ret = avio_open2(pb, url, flags, &s->interrupt_callback, &opts);
    av_dict_free(&opts);
    return ret;
}

} // namespace

int guard_local_input(AVFormatContext *ic, const char *filename, const AVInputFormat *forced)
{
    if (has_protocol_prefix(filename))
        return 0;
    ic->io_open = open_nested;
    if (!(ic->protocol_whitelist = av_strdup("file")))
        return AVERROR(ENOMEM);
    if (!forced && !(ic->format_whitelist = av_strdup(watched_demuxers())))
        return AVERROR(ENOMEM);
    return 0;
}

void explain_refused_format(const char *filename)
{
    AVIOContext *pb = nullptr;
    if (avio_open2(&pb, filename, AVIO_FLAG_READ, nullptr, nullptr) < 0)
        return;
    const AVInputFormat *fmt = nullptr;
    if (av_probe_input_buffer2(pb, &fmt, filename, nullptr, 0, 0) >= 0 && fmt && unwatched(fmt->name))
        av_log(nullptr, AV_LOG_ERROR,
               "%s: a '%s' file opens other files on its own and is not read from a plain path\n",
               filename, fmt->name);
    avio_closep(&pb);
}

int limit_decoder_options(AVDictionary **opts)
{
    int ret = av_dict_set_int(opts, "max_pixels", MAX_DECODED_PIXELS, AV_DICT_DONT_OVERWRITE);
    if (ret >= 0)
        ret = av_dict_set_int(opts, "max_samples", MAX_DECODED_SAMPLES, AV_DICT_DONT_OVERWRITE);
    return ret;
}

int64_t allowed_pixels(const AVDictionary *decoder_opts)
{
    const AVDictionaryEntry *e = av_dict_get(decoder_opts, "max_pixels", nullptr, 0);
    const long long value = e ? strtoll(e->value, nullptr, 0) : 0;
    return value > 0 ? value : MAX_DECODED_PIXELS;
}
