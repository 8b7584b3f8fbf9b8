// Probing files for media streams and finding recordings in folders; see
// media_scan.h.
#include "media_scan.h"

#include "av.h"
#include "ffmpeg_exec.h"
#include "input_guard.h"
#include "output_naming.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// A probe reads at most this much of a file, and decodes at most this much of
// its timeline: enough for the stream headers of any container a recorder
// writes, little enough to scan a folder of thousands of files quickly.
constexpr int64_t kProbeBytes = 2 * 1024 * 1024;
constexpr int64_t kProbeMicroseconds = 2 * AV_TIME_BASE;
// A file whose probe takes longer than this is too slow to read as media: a
// folder search must not hang on one file. Ordinary recordings open in a
// fraction of a second, even from a network folder.
constexpr int64_t kProbeDeadlineSeconds = 5;
// How often a waiting caller asks whether it is told to stop, and how long an
// interrupted probe has to come back before its caller goes on without it.
constexpr int kStopPollMilliseconds = 50;
constexpr int64_t kGiveUpMicroseconds = AV_TIME_BASE / 2;

struct InputCloser {
    void operator()(AVFormatContext *ic) const { avformat_close_input(&ic); }
};
using InputHolder = std::unique_ptr<AVFormatContext, InputCloser>;

struct DictFreer {
    void operator()(AVDictionary *d) const { av_dict_free(&d); }
};

// A single picture (a camera snapshot, a thumbnail) opens as a one-frame video
// through the image demuxers; it is not a recording.
bool is_still_image_format(const char *name)
{
    const size_t length = strlen(name);
    const char suffix[] = "_pipe";
    const size_t suffix_length = sizeof(suffix) - 1;
    return !strcmp(name, "image2") || !strcmp(name, "image2pipe") ||
           (length > suffix_length && !strcmp(name + length - suffix_length, suffix));
}

void note_streams(const AVFormatContext *ic, MediaProbe *probe)
{
    const bool still = is_still_image_format(ic->iformat->name);
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVStream *st = ic->streams[i];
        const AVMediaType type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO)
            probe->has_audio = true;
        else if (type == AVMEDIA_TYPE_VIDEO && !still && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            probe->has_video = true;
    }
    probe->format = ic->iformat->name;
    probe->duration_us = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;
}

// Decoder options for the stream-information step: the engine's picture and
// sample limits, one thread.
int stream_info_options(const AVFormatContext *ic, std::vector<AVDictionary *> *options)
{
    options->assign(ic->nb_streams, nullptr);
    for (AVDictionary *&opts : *options) {
        int ret = limit_decoder_options(&opts);
        if (ret >= 0)
            ret = av_dict_set(&opts, "threads", "1", 0);
        if (ret < 0)
            return ret;
    }
    return 0;
}

int read_stream_info(AVFormatContext *ic)
{
    std::vector<AVDictionary *> options;
    int ret = stream_info_options(ic, &options);
    if (ret >= 0)
        ret = avformat_find_stream_info(ic, options.data());
    for (AVDictionary *&opts : options)
        av_dict_free(&opts);
    return ret;
}

} // namespace

std::string recording_path_problem(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? PATH_DOES_NOT_EXIST : strerror(errno);
    if (S_ISREG(st.st_mode))
        return "";
    if (S_ISDIR(st.st_mode))
        return PATH_IS_A_FOLDER;
    if (S_ISFIFO(st.st_mode))
        return "is a named pipe";
    if (S_ISSOCK(st.st_mode))
        return "is a socket";
    return "is a device";
}

int recognise_by_content(const std::string &path, const AVInputFormat **format)
{
    *format = nullptr;
    AVDictionary *opts = nullptr;
    int ret = av_dict_set(&opts, "protocol_whitelist", "file", 0);
    AVIOContext *pb = nullptr;
    if (ret >= 0)
        ret = avio_open2(&pb, file_path_argument(path).c_str(), AVIO_FLAG_READ, nullptr, &opts);
    av_dict_free(&opts);
    if (ret < 0)
        return ret;
    // No file name: a reader can only win by what it finds in the bytes.
    const AVInputFormat *found = nullptr;
    const int score = av_probe_input_buffer2(pb, &found, "", nullptr, 0, kProbeBytes);
    avio_closep(&pb);
    if (score < 0)
        return score == AVERROR_EOF ? AVERROR_INVALIDDATA : score;
    if (!found || score <= AVPROBE_SCORE_RETRY)
        return AVERROR_INVALIDDATA;
    *format = found;
    return score;
}

namespace {

// A probe runs on a thread of its own while its caller keeps time: the
// libraries check the interrupt callback only between reads, and some of their
// work is quadratic without a read in between (a Matroska file's 100,000 tags
// take minutes to index). A probe past its deadline, or whose caller is told to
// stop, is interrupted at its next read; when the libraries do not come back
// soon after, the caller goes on without it and the thread ends alone,
// releasing what it opened.
struct ProbeRun {
    std::string path;
    int64_t deadline_us = 0; // av_gettime_relative() clock
    std::atomic<bool> give_up{false};
    std::atomic<bool> timed_out{false}; // the callback met the deadline
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int result = 0;
    MediaProbe probe;
    std::function<void(AVFormatContext *)> look;
};

int probe_interrupted(void *opaque)
{
    ProbeRun *run = static_cast<ProbeRun *>(opaque);
    if (av_gettime_relative() > run->deadline_us)
        run->timed_out = true;
    return run->timed_out || run->give_up;
}

// The probe itself, on the probing thread.
int open_and_look(ProbeRun *run)
{
    const std::string &path = run->path;
    MediaProbe *probe = &run->probe;
    const AVInputFormat *format = nullptr;
    int ret = recognise_by_content(path, &format);
    if (ret < 0)
        return ret;
    const std::string file = file_path_argument(path);
    AVFormatContext *ic = avformat_alloc_context();
    if (!ic)
        return AVERROR(ENOMEM);
    ic->probesize = kProbeBytes;
    ic->max_analyze_duration = kProbeMicroseconds;
    ic->interrupt_callback = AVIOInterruptCB{probe_interrupted, run};
    ret = guard_local_input(ic, file.c_str(), format);
    if (ret < 0) {
        avformat_free_context(ic);
        return ret;
    }
    // On failure avformat_open_input frees the context itself.
    ret = avformat_open_input(&ic, file.c_str(), format, nullptr);
    if (ret < 0)
        return ret;
    InputHolder input(ic);
    // Streams without parameters yet (some MPEG-TS and raw streams) need a
    // short look at their packets; a failure here still leaves the streams the
    // header declared.
    if (read_stream_info(ic) < 0)
        av_log(nullptr, AV_LOG_VERBOSE, "%s: stream information incomplete\n", path.c_str());
    note_streams(ic, probe);
    if (run->look)
        run->look(ic);
    return 0;
}

void probe_thread(std::shared_ptr<ProbeRun> run)
{
    const int result = open_and_look(run.get());
    std::lock_guard<std::mutex> hold(run->lock);
    run->result = result;
    run->done = true;
    run->finished.notify_all();
}

enum class ProbeWait { Done, TimeUp, Stopped };

// Waits until the probe is done, `until_us` passes or `stopped` says yes.
ProbeWait wait_for_probe(ProbeRun *run, int64_t until_us, const std::function<bool()> &stopped)
{
    std::unique_lock<std::mutex> hold(run->lock);
    while (!run->done) {
        if (stopped && stopped())
            return ProbeWait::Stopped;
        if (av_gettime_relative() >= until_us)
            return ProbeWait::TimeUp;
        run->finished.wait_for(hold, std::chrono::milliseconds(kStopPollMilliseconds));
    }
    return ProbeWait::Done;
}

} // namespace

int probe_media_file(const std::string &path, MediaProbe *probe, const std::function<bool()> &stopped)
{
    return probe_media_file(path, probe, stopped, nullptr);
}

int probe_media_file(const std::string &path, MediaProbe *probe, const std::function<bool()> &stopped,
                     const std::function<void(AVFormatContext *)> &look)
{
    *probe = MediaProbe();
    if (!recording_path_problem(path).empty())
        return AVERROR(EINVAL);
    auto run = std::make_shared<ProbeRun>();
    run->path = path;
    run->look = look;
    run->deadline_us = av_gettime_relative() + kProbeDeadlineSeconds * AV_TIME_BASE;
    try {
        std::thread(probe_thread, run).detach();
    } catch (const std::system_error &) {
        return AVERROR(EAGAIN);
    }
    const ProbeWait waited = wait_for_probe(run.get(), run->deadline_us, stopped);
    if (waited != ProbeWait::Done) {
        run->give_up = true;
        // A reader interrupted between reads ends at once; one busy without
        // reading is left to end alone, releasing what it opened.
        wait_for_probe(run.get(), av_gettime_relative() + kGiveUpMicroseconds, nullptr);
        return waited == ProbeWait::Stopped ? AVERROR_EXIT : AVERROR(ETIMEDOUT);
    }
    std::lock_guard<std::mutex> hold(run->lock);
    // Some readers end with success after an interrupted read: what they read
    // is then incomplete.
    if (run->timed_out)
        return AVERROR(ETIMEDOUT);
    if (run->result >= 0)
        *probe = run->probe;
    return run->result;
}

bool is_media_file(const std::string &path)
{
    MediaProbe probe;
    return probe_media_file(path, &probe) >= 0 && (probe.has_video || probe.has_audio);
}

namespace {

// Extensions of recordings as recorders, cameras and phones write them.
const char *const kRecordingExtensions[] = {
    "264", "265", "3gp", "asf", "avi", "dav", "flv", "h264", "h265", "hevc", "m2ts", "m2v", "m4v", "mjpeg",
    "mjpg", "mkv", "mov", "mp4", "mpeg", "mpg", "mts", "mxf", "ps", "ts", "vob", "webm", "wmv",
};

// What a folder holds: the candidates to probe, and what is skipped on sight.
struct FolderWalk {
    std::vector<fs::path> candidates;
    std::vector<SkippedFile> skipped;
};

SkippedFile skipped_file(const fs::path &path, SkipReason reason)
{
    SkippedFile s;
    s.path = path.string();
    s.reason = reason;
    s.listed = reason == SkipReason::Unreadable || reason == SkipReason::TooSlow ||
               looks_like_recording_name(path.filename().string());
    return s;
}

// Walks `folder` and its sub-folders (links to folders are not followed).
// False when the search was stopped.
bool walk_folder(const fs::path &folder, FolderWalk *walk, const std::function<bool()> &stop_asked)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        walk->skipped.push_back(skipped_file(folder, SkipReason::Unreadable));
        return true;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            walk->skipped.push_back(skipped_file(folder, SkipReason::Unreadable));
            break;
        }
        if (stop_asked())
            return false;
        const fs::path &path = it->path();
        std::error_code type_ec;
        const fs::file_status own = it->symlink_status(type_ec);
        if (!type_ec && fs::is_directory(own)) {
            if (!walk_folder(path, walk, stop_asked))
                return false;
            continue;
        }
        const fs::file_status target = it->status(type_ec);
        if (type_ec || !fs::exists(target))
            walk->skipped.push_back(skipped_file(path, SkipReason::Unreadable));
        else if (fs::is_regular_file(target))
            walk->candidates.push_back(path);
        else if (!fs::is_directory(target))
            walk->skipped.push_back(skipped_file(path, SkipReason::SpecialFile));
    }
    return true;
}

SkipReason reason_of_failed_probe(int error)
{
    if (error == AVERROR(EACCES) || error == AVERROR(EPERM))
        return SkipReason::Unreadable;
    if (error == AVERROR(ETIMEDOUT))
        return SkipReason::TooSlow;
    return SkipReason::NotMedia;
}

} // namespace

bool looks_like_recording_name(const std::string &file_name)
{
    const size_t dot = file_name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string extension = file_name.substr(dot + 1);
    for (char &c : extension)
        c = char(tolower(static_cast<unsigned char>(c)));
    for (const char *known : kRecordingExtensions)
        if (extension == known)
            return true;
    return false;
}

const char *skip_reason_key(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NotMedia:
        return "not_media";
    case SkipReason::Unreadable:
        return "unreadable";
    case SkipReason::SpecialFile:
        return "special_file";
    case SkipReason::TooSlow:
        return "too_slow";
    }
    return "not_media";
}

const char *skip_reason_text(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NotMedia:
        return "not a video or sound recording";
    case SkipReason::Unreadable:
        return "cannot be read";
    case SkipReason::SpecialFile:
        return "not a regular file";
    case SkipReason::TooSlow:
        return "too slow to read";
    }
    return "not a video or sound recording";
}

int find_media_files(const std::string &folder, std::vector<std::string> *files,
                     std::vector<MediaProbe> *probes, const std::function<bool()> &stopped,
                     std::vector<SkippedFile> *skipped)
{
    const auto stop_asked = [&stopped] { return stopped && stopped(); };
    std::error_code ec;
    fs::directory_iterator top(folder, ec);
    if (ec) {
        av_log(nullptr, AV_LOG_ERROR, "%s: %s\n", folder.c_str(), ec.message().c_str());
        return AVERROR(ec.value() ? ec.value() : EIO);
    }
    FolderWalk walk;
    if (!walk_folder(folder, &walk, stop_asked))
        return AVERROR_EXIT;
    // Sorted with the files: the search tells what it met in one order.
    for (const SkippedFile &s : walk.skipped)
        walk.candidates.push_back(s.path);
    std::sort(walk.candidates.begin(), walk.candidates.end());
    walk.candidates.erase(std::unique(walk.candidates.begin(), walk.candidates.end()), walk.candidates.end());
    for (const fs::path &p : walk.candidates) {
        if (stop_asked())
            return AVERROR_EXIT;
        const auto seen = std::find_if(walk.skipped.begin(), walk.skipped.end(),
                                       [&](const SkippedFile &s) { return s.path == p.string(); });
        if (seen != walk.skipped.end()) {
            if (skipped)
                skipped->push_back(*seen);
            continue;
        }
        // A second run over the same folder must not convert the first run's
        // outputs again.
        if (is_converted_output_name(p.filename().string()))
            continue;
        MediaProbe probe;
        int probed = probe_media_file(p.string(), &probe, stopped);
        if (probed == AVERROR_EXIT)
            return AVERROR_EXIT;
        if (probed == AVERROR(ETIMEDOUT))
            av_log(nullptr, AV_LOG_WARNING, "%s: too slow to read as media (more than %d s); skipped\n",
                   p.string().c_str(), int(kProbeDeadlineSeconds));
        if (probed >= 0 && !(probe.has_video || probe.has_audio))
            probed = AVERROR_INVALIDDATA;
        if (probed < 0) {
            if (skipped)
                skipped->push_back(skipped_file(p, reason_of_failed_probe(probed)));
            continue;
        }
        files->push_back(p.string());
        if (probes)
            probes->push_back(probe);
    }
    return 0;
}
