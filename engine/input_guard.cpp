// Limits of an input file: the nested resources a plain-path input may open (its
// own folder and below, local files only, no formats that open files out of our
// sight), playlists that never end, and the decoders' picture and sample limits.
//
// Nested opens of a demuxer (playlist entries, segments, external references,
// image sequences) go through the format context's io_open callback, which this
// file replaces for plain-path inputs; the demuxers' own nested contexts inherit
// the protocol and format white lists. Called by input.cpp when it opens a file.
#include "input_guard.h"
#include "observe.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/base64.h>
}

namespace {

// Demuxers whose nested files are opened by contexts the caller cannot watch:
// the concatenation script opens its entries (with options of its own choice)
// through the libraries' default opener, and so do an IMF package, a DASH
// manifest (its segments and initialisation sections, wherever its addresses
// point) and a VobSub index (its ".sub" companion, even through a symbolic link).
// Every other demuxer that opens files does it through io_open (the playlist
// reader, image sequences, MP4 data references) or only reaches the network
// through the protocol white list (SDP), which allows local files alone.
const char *const kUnwatchedDemuxers[] = {"concat", "imf", "dash", "vobsub"};

// A playlist larger than this is not read whole to be finished (below).
constexpr size_t kMaxPlaylistBytes = 4 << 20;

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

// The path the file protocol opens for `url`, spelt exactly as it opens it: a
// "file:" prefix is dropped and the rest taken as it stands ("file://x/y" opens
// "//x/y", which is "/x/y", not "x/y"); a plain path is itself. "" when `url`
// belongs to another protocol. Checking and opening both go through this, so the
// two can never disagree on what a URL names.
std::string opened_path(const char *url)
{
    const char *protocol = avio_find_protocol_name(url);
    if (!protocol || strcmp(protocol, "file"))
        return "";
    const char *path = url;
    av_strstart(url, "file:", &path);
    return path;
}

// True when the canonical `path` is the canonical `folder` or lies below it. A
// neighbouring folder whose name merely begins with the folder's ("rec" and
// "rec-old") is not below it.
bool within_folder(const std::string &folder, const std::string &path)
{
    if (folder.empty() || path.empty())
        return false;
    if (folder == "/" || path == folder)
        return true;
    return path.size() > folder.size() && !path.compare(0, folder.size(), folder) && path[folder.size()] == '/';
}

} // namespace

NestedReach reach_of_nested_url(const char *input, const char *url, std::string *target)
{
    target->clear();
    const std::string path = opened_path(url);
    if (path.empty())
        return NestedReach::Outside;
    if (!strcmp(url, input)) { // the input reopened (a playlist read again)
        *target = path;
        return NestedReach::Inside;
    }
    const std::string folder = real_path(folder_of(opened_path(input)));
    const std::string resolved = real_path(path);
    if (!resolved.empty()) {
        if (!within_folder(folder, folder_of(resolved)))
            return NestedReach::Outside;
        *target = resolved;
        return NestedReach::Inside;
    }
    // Not there: a segment missing from the export when its folder is the
    // input's or below it (a dangling link or an unreadable name is refused).
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 || errno != ENOENT)
        return NestedReach::Outside;
    return within_folder(folder, real_path(folder_of(path))) ? NestedReach::Missing : NestedReach::Outside;
}

namespace {

// ---- playlists that never end -------------------------------------------------------

bool has_line_starting(const std::string &text, const char *tag)
{
    return !text.compare(0, strlen(tag), tag) || text.find(std::string("\n") + tag) != std::string::npos;
}

// Reads the file at `path` into `text` when it is an HLS media playlist without
// its end tag, what a recorder leaves when it stops in the middle of an export:
// 1 then, 0 for any other file, or a negative error for such a playlist too large
// to read whole.
int read_unfinished_playlist(const char *path, std::string *text)
{
    // Only regular files: a pipe or device read here would lose its first bytes.
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(path, "rb"), fclose);
    char head[7];
    if (!file || fread(head, 1, sizeof(head), file.get()) != sizeof(head) || memcmp(head, "#EXTM3U", 7))
        return 0;
    text->assign(head, sizeof(head));
    char chunk[16384];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), file.get())) > 0;) {
        text->append(chunk, n);
        if (text->size() > kMaxPlaylistBytes)
            return AVERROR(EFBIG);
    }
    return has_line_starting(*text, "#EXTINF") && !has_line_starting(*text, "#EXT-X-ENDLIST");
}

// Opens the playlist `text` with its end tag added, from memory.
int open_finished_copy(AVFormatContext *s, AVIOContext **pb, std::string text)
{
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text += "#EXT-X-ENDLIST\n";
    std::string url = "data:application/vnd.apple.mpegurl;base64,";
    const size_t prefix = url.size();
    url.resize(prefix + AV_BASE64_SIZE(text.size()));
    if (!av_base64_encode(&url[prefix], int(url.size() - prefix), (const uint8_t *)text.data(), int(text.size())))
        return AVERROR(EINVAL);
    url.resize(strlen(url.c_str()));
    AVDictionary *opts = nullptr;
    int ret = av_dict_set(&opts, "protocol_whitelist", "data", 0);
    if (ret >= 0)
        ret = avio_open2(pb, url.c_str(), AVIO_FLAG_READ, &s->interrupt_callback, &opts);
    av_dict_free(&opts);
    return ret;
}

// A playlist without its end tag reads as a live stream: the reader would wait
// for segments that never come, or start near its end. A recording given by its
// path is read as it is now: the segments it lists, from the first, then the end.
// Returns 1 when `pb` is that finished copy, 0 for any other file (not opened).
int open_playlist_as_finished(AVFormatContext *s, AVIOContext **pb, const char *url, const std::string &path)
{
    std::string text;
    int ret = read_unfinished_playlist(path.c_str(), &text);
    if (ret == AVERROR(EFBIG))
        av_log(s, AV_LOG_ERROR, "Playlist '%s' has no end tag and is too large to read as it is\n", url);
    if (ret <= 0)
        return ret;
    av_log(s, AV_LOG_WARNING,
           "Playlist '%s' has no end tag (an export cut short?): reading the segments it lists, "
           "not waiting for more\n", url);
    ret = open_finished_copy(s, pb, std::move(text));
    return ret < 0 ? ret : 1;
}

// ---- the callback ---------------------------------------------------------------------

int open_nested(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **options)
{
    std::string target;
    const NestedReach reach = (flags & AVIO_FLAG_WRITE) ? NestedReach::Outside : reach_of_nested_url(s->url, url, &target);
    if (reach == NestedReach::Missing) {
        av_log(s, AV_LOG_ERROR, "'%s', which '%s' refers to, does not exist\n", url, s->url);
        return AVERROR(ENOENT);
    }
    if (reach == NestedReach::Outside) {
        av_log(s, AV_LOG_ERROR,
               "Refusing to open '%s' for '%s': a recording may only refer to files in its own folder\n",
               url, s->url);
        return AVERROR(EPERM);
    }
    int ret = open_playlist_as_finished(s, pb, url, target);
    if (ret)
        return ret < 0 ? ret : 0;
    // The file checked is the file opened: its resolved path, as a local file.
    // The protocol lists of the input are not handed on: with them, the
    // libraries copy the lists into the new context and, should that copy find no
    // memory, close the file twice.
    const std::string local = "file:" + target;
    AVDictionary *opts = nullptr;
    ret = options ? av_dict_copy(&opts, *options, 0) : 0;
    if (ret >= 0)
        ret = avio_open2(pb, local.c_str(), flags, &s->interrupt_callback, &opts);
    av_dict_free(&opts);
    return ret;
}

} // namespace

namespace {

// The reader a regular file would be read with, when it is one of those that
// open files unwatched; nullptr otherwise. Pipes and devices are not looked at:
// what is read from them here would be lost to the real reading.
const char *unwatched_format_of_file(const char *filename)
{
    struct stat st;
    if (stat(filename, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    AVIOContext *pb = nullptr;
    if (avio_open2(&pb, filename, AVIO_FLAG_READ, nullptr, nullptr) < 0)
        return nullptr;
    const AVInputFormat *fmt = nullptr;
    const bool probed = av_probe_input_buffer2(pb, &fmt, filename, nullptr, 0, 0) >= 0 && fmt;
    avio_closep(&pb);
    return probed && unwatched(fmt->name) ? fmt->name : nullptr;
}

int refuse_unwatched(const char *filename, const char *format)
{
    char text[1024];
    snprintf(text, sizeof(text),
             "%s: a '%s' file opens other files on its own and is not read from a plain path "
             "(a \"file:\" prefix reads it anyway)", filename, format);
    av_log(nullptr, AV_LOG_ERROR, "%s\n", text);
    record_run_failure(RunFailure::SourceUnreadable, AVERROR(EPERM), text);
    return AVERROR(EPERM);
}

} // namespace

int guard_local_input(AVFormatContext *ic, const char *filename, const AVInputFormat *forced)
{
    // Tests switch the guard off to prove that the kernel's confinement holds alone.
    const char *guard_off = getenv("WARDLINE_TEST_DISABLE_INPUT_GUARD");
    if (guard_off && !strcmp(guard_off, "1")) {
        av_log(ic, AV_LOG_WARNING, "The folder guard is off (WARDLINE_TEST_DISABLE_INPUT_GUARD=1, for tests only)\n");
        return 0;
    }
    if (has_protocol_prefix(filename))
        return 0;
    if (forced && unwatched(forced->name))
        return refuse_unwatched(filename, forced->name);
    // Found before the libraries open it, whose own refusal would only list
    // every reader that is allowed.
    if (const char *format = forced ? nullptr : unwatched_format_of_file(filename))
        return refuse_unwatched(filename, format);
    ic->io_open = open_nested;
    if (!(ic->protocol_whitelist = av_strdup("file")))
        return AVERROR(ENOMEM);
    // Also for a forced format: the readers it nests (a playlist's segments)
    // inherit the list.
    if (!(ic->format_whitelist = av_strdup(watched_demuxers())))
        return AVERROR(ENOMEM);
    return 0;
}

void explain_refused_format(const char *filename)
{
    // Regular files only: opening a named pipe again would wait for a writer
    // that has already gone.
    if (const char *format = unwatched_format_of_file(filename))
        av_log(nullptr, AV_LOG_ERROR,
               "%s: a '%s' file opens other files on its own and is not read from a plain path\n",
               filename, format);
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
