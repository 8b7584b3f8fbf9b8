// Observed runs through the real engine: the progress events of a conversion,
// stopping a run (request, observer, signal; also while it is blocked on a named
// pipe), the signal handlers of the process around a run, and the failure kind
// told for real causes.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_probe.h"

#include "ffmpeg_exec.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;
using Words = std::vector<std::string>;

namespace {

struct Observed {
    int status = 0;
    RunOutcome outcome;
    std::vector<RunProgress> events;
};

Observed run_observed(Words words, RunObserver observer = {})
{
    Observed r;
    auto user_progress = observer.on_progress;
    observer.on_progress = [&](const RunProgress &p) {
        r.events.push_back(p);
        return user_progress ? user_progress(p) : true;
    };
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    r.status = ffmpeg_exec_observed(int(argv.size()), argv.data(), &observer, &r.outcome);
    return r;
}

// The converter's words with `extra` right after the program name.
Words converter_with(const Words &extra, const std::string &in, const std::string &out)
{
    Words words = converter_arguments(in, out);
    words.insert(words.begin() + 1, extra.begin(), extra.end());
    return words;
}

std::string short_clip(double seconds)
{
    ClipRecipe clip;
    clip.name = "observed_" + std::to_string(int(seconds * 10));
    clip.format = "mpegts";
    clip.extension = "ts";
    clip.duration = seconds;
    VideoTrack v;
    v.width = 160;
    v.height = 120;
    clip.video = {v};
    clip.audio = {AudioTrack{}};
    return clip_path(clip);
}

bool playable(const std::string &path, double *seconds = nullptr)
{
    try {
        const MediaInfo info = probe_media(path);
        if (seconds)
            *seconds = info.duration;
        return decode_stream(path, DecodeRequest{}, [](AVFrame *) {}) > 0;
    } catch (const FixtureError &) {
        return false;
    }
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---- progress -----------------------------------------------------------------------

TEST(ObservedRun, ProgressRisesAndTheLastEventEndsAtTheDuration)
{
    const std::string in = short_clip(3.0);
    const std::string out = scratch_dir("observed_progress") + "/out.mp4";
    LogCapture quiet(AV_LOG_ERROR);
    // At the recording's pace, so the run lasts long enough for several events; no
    // status line, which must not matter to the events.
    const int64_t duration = int64_t(probe_media(in).duration * 1e6 + 0.5);
    const Observed r = run_observed(converter_with({"-nostats", "-re"}, in, out));
    ASSERT_EQ(r.status, 0) << quiet.all_text();
    EXPECT_EQ(r.outcome.end, RunEnd::Completed);
    ASSERT_GE(r.events.size(), 3u) << "one every half second, and the last";

    for (size_t i = 1; i < r.events.size(); i++) {
        SCOPED_TRACE(i);
        const RunProgress &a = r.events[i - 1], &b = r.events[i];
        EXPECT_LE(a.out_time_us, b.out_time_us);
        EXPECT_LE(a.frames, b.frames);
        EXPECT_LE(a.bytes, b.bytes);
        EXPECT_LT(a.elapsed_us, b.elapsed_us);
        EXPECT_FALSE(a.last);
        EXPECT_EQ(a.duration_us, duration);
    }
    const RunProgress &last = r.events.back();
    EXPECT_TRUE(last.last);
    EXPECT_NEAR(double(last.out_time_us), double(last.duration_us), 40000.0) << "within a frame";
    EXPECT_GE(last.frames, 75) << "three seconds at 25 frames a second";
    EXPECT_EQ(last.bytes, int64_t(std::filesystem::file_size(out)));
    EXPECT_GT(last.speed, 0.0);
}

TEST(ObservedRun, DurationFollowsTheCutsAndIsUnknownForARawStream)
{
    const std::string in = short_clip(3.0);
    const std::string dir = scratch_dir("observed_duration");
    const int64_t whole = int64_t(probe_media(in).duration * 1e6 + 0.5);
    const std::tuple<const char *, Words, Words, int64_t> cases[] = {
        {"input start", {"-ss", "1"}, {}, whole - 1000000},
        {"output length", {}, {"-t", "1.5"}, 1500000},
        {"output start", {}, {"-ss", "0.5"}, whole - 500000},
    };
    LogCapture quiet(AV_LOG_ERROR);
    for (const auto &[what, before_input, before_output, expected] : cases) {
        SCOPED_TRACE(what);
        Words words = converter_with(before_input, in, dir + "/cut.mp4");
        words.insert(words.end() - 1, before_output.begin(), before_output.end());
        words.insert(words.begin() + 1, "-y");
        const Observed r = run_observed(words);
        ASSERT_EQ(r.status, 0) << quiet.all_text();
        EXPECT_EQ(r.events.back().duration_us, expected);
        EXPECT_NEAR(double(r.events.back().out_time_us), double(expected), 80000.0) << "within two frames";
    }
    const Observed raw = run_observed(
        converter_arguments(fixture_path(FixtureKind::H264Raw), dir + "/raw.mp4"));
    ASSERT_EQ(raw.status, 0) << quiet.all_text();
    EXPECT_EQ(raw.events.back().duration_us, -1);
}

// ---- stopping -------------------------------------------------------------------------

TEST(ObservedRun, ObserverStopsBeforeOrDuringTheRunAndMayDiscardTheFile)
{
    const std::string in = short_clip(3.0);
    const std::string dir = scratch_dir("observed_stop");
    LogCapture log(AV_LOG_INFO);

    RunObserver never;
    never.should_stop = [] { return true; };
    const Observed before = run_observed(converter_arguments(in, dir + "/never.mp4"), never);
    EXPECT_EQ(before.status, -1);
    EXPECT_EQ(before.outcome.end, RunEnd::Stopped);
    EXPECT_EQ(before.outcome.stop, StopCause::Request);
    EXPECT_TRUE(before.events.empty());
    EXPECT_FALSE(std::filesystem::exists(dir + "/never.mp4"));
    EXPECT_EQ(log.all_text(), "") << "nothing was opened, not even the banner shown";

    for (bool discard : {false, true}) {
        SCOPED_TRACE(discard ? "discarded" : "kept");
        const std::string out = dir + (discard ? "/discarded.mp4" : "/kept.mp4");
        RunObserver enough;
        enough.on_progress = [](const RunProgress &p) { return p.out_time_us < 1000000; };
        enough.discard_when_stopped = discard;
        const Observed r = run_observed(converter_with({"-re"}, in, out), enough);
        EXPECT_EQ(r.status, 0) << "a stop finishes the file as the q key does";
        EXPECT_EQ(r.outcome.end, RunEnd::Stopped);
        EXPECT_EQ(r.outcome.stop, StopCause::Request);
        EXPECT_TRUE(r.events.back().last);
        EXPECT_EQ(r.outcome.output_removed, discard);
        EXPECT_EQ(std::filesystem::exists(out), !discard);
        double seconds = 0;
        if (!discard) {
            EXPECT_TRUE(playable(out, &seconds));
            EXPECT_LT(seconds, 2.5) << "stopped early";
        }
    }
}

// Runs the conversion of a named pipe on this thread while `stop` is done from
// another one once the run had time to block; returns the seconds from the stop
// to the end of the run.
double stop_blocked_run(const std::string &fifo, const std::string &out,
                        const std::function<void()> &stop, Observed *r)
{
    std::atomic<bool> stopped{false};
    std::chrono::steady_clock::time_point stop_time;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        stop_time = std::chrono::steady_clock::now();
        stop();
        stopped = true;
    });
    *r = run_observed(converter_arguments(fifo, out));
    const auto end = std::chrono::steady_clock::now();
    stopper.join();
    return stopped ? std::chrono::duration<double>(end - stop_time).count() : -1;
}

volatile sig_atomic_t passed_on;
void count_passed_on(int) { passed_on = passed_on + 1; }

TEST(ObservedRun, ARunBlockedOnANamedPipeEndsSoonAfterAStopOrASignalOnAnotherThread)
{
    const std::string dir = scratch_dir("observed_fifo");
    const std::string fifo = dir + "/camera.ts";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    LogCapture quiet(AV_LOG_ERROR);
    signal(SIGTERM, count_passed_on);
    passed_on = 0;
    const std::tuple<const char *, std::function<void()>, StopCause, int> stops[] = {
        {"stop request", [] { ffmpeg_request_stop(); }, StopCause::Request, 0},
        // A signal handled on a thread that is not the run's, as in a window.
        {"signal", [] { pthread_kill(pthread_self(), SIGTERM); }, StopCause::Signal, SIGTERM},
    };
    for (const auto &[what, stop, cause, sig] : stops) {
        SCOPED_TRACE(what);
        Observed r;
        const double seconds = stop_blocked_run(fifo, dir + "/out.mp4", stop, &r);
        EXPECT_GE(seconds, 0);
        EXPECT_LT(seconds, 1.0) << "ends within a second of the stop";
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.outcome.end, RunEnd::Stopped);
        EXPECT_EQ(r.outcome.stop, cause);
        EXPECT_EQ(r.outcome.signal, sig);
        EXPECT_FALSE(std::filesystem::exists(dir + "/out.mp4"));
    }
    EXPECT_EQ(passed_on, 1) << "the signal went on to the handler from before the run";

    // Blocked while reading, in the loop: the file is finished with what came.
    const std::string in = short_clip(2.0);
    std::atomic<bool> release{false};
    std::thread writer([&] {
        int fd = -1; // waits for the reader without hanging when there is none
        while (fd < 0 && !release) {
            fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (fd >= 0)
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        std::ifstream src(in, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(src)), std::istreambuf_iterator<char>());
        for (size_t done = 0; fd >= 0 && done < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        while (!release) // the writer stays, so the reader waits for more
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        close(fd);
    });
    Observed r;
    RunObserver observer;
    std::atomic<int> events{0};
    observer.on_progress = [&](const RunProgress &) { return ++events > 0; };
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ffmpeg_request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    r = run_observed(converter_arguments(fifo, dir + "/loop.mp4"), observer);
    const double seconds = seconds_since(start);
    release = true;
    stopper.join();
    writer.join();
    EXPECT_LT(seconds, 2.5);
    EXPECT_EQ(r.status, 0) << quiet.all_text();
    EXPECT_EQ(r.outcome.end, RunEnd::Stopped);
    EXPECT_TRUE(playable(dir + "/loop.mp4"));
    signal(SIGTERM, SIG_DFL);
}

TEST(ObservedRun, ASignalStopsOneRunOnlyAndReachesThePreviousHandlerOnce)
{
    const std::string in = short_clip(3.0);
    const std::string dir = scratch_dir("observed_signal");
    struct sigaction counting = {}, before = {};
    counting.sa_handler = count_passed_on;
    sigaction(SIGTERM, &counting, &before);
    passed_on = 0;

    LogCapture log(AV_LOG_INFO);
    RunObserver observer;
    bool raised = false;
    observer.on_progress = [&](const RunProgress &p) {
        if (!raised && p.out_time_us >= 1000000) {
            raised = true;
            raise(SIGTERM);
        }
        return true;
    };
    const Observed first = run_observed(converter_with({"-re"}, in, dir + "/first.mp4"), observer);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.outcome.end, RunEnd::Stopped);
    EXPECT_EQ(first.outcome.stop, StopCause::Signal);
    EXPECT_EQ(first.outcome.signal, SIGTERM);
    EXPECT_TRUE(log.has("Received signal 15: terminating.\n"));
    EXPECT_EQ(passed_on, 1) << "once, after the run";
    EXPECT_TRUE(playable(dir + "/first.mp4"));

    double seconds = 0;
    const Observed next = run_observed(converter_arguments(in, dir + "/next.mp4"));
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.outcome.end, RunEnd::Completed);
    EXPECT_TRUE(playable(dir + "/next.mp4", &seconds));
    EXPECT_GT(seconds, 2.9) << "the whole recording";
    EXPECT_EQ(passed_on, 1);

    struct sigaction now = {};
    sigaction(SIGTERM, &before, &now);
    EXPECT_EQ(now.sa_handler, count_passed_on) << "the handler from before is back";
}

// ---- why a run failed ---------------------------------------------------------------

constexpr uid_t kNobody = 65534;

bool become_nobody()
{
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

struct ChildOutcome {
    bool ran = false;
    RunEnd end = RunEnd::Completed;
    RunFailure failure = RunFailure::None;
    bool removed = false;
};

// The run in a forked child (so it may give up rights or limit its file size),
// told back through the exit status.
ChildOutcome run_in_child(Words words, const std::function<bool()> &prepare)
{
    ChildOutcome result;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2})
            dup2(null_fd, fd);
        if (prepare && !prepare())
            _exit(127);
        RunOutcome outcome;
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        ffmpeg_exec_observed(int(argv.size()), argv.data(), nullptr, &outcome);
        _exit(int(outcome.end) * 16 + int(outcome.failure) + (outcome.output_removed ? 64 : 0));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return result;
    const int code = WEXITSTATUS(status);
    result.ran = true;
    result.end = RunEnd((code & 63) / 16);
    result.failure = RunFailure(code % 16);
    result.removed = code & 64;
    return result;
}

// An MPEG-TS file whose one stream carries private data (a logger's telemetry):
// nothing in it can become a picture or a sound.
bool write_data_only_ts(const std::string &path)
{
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "mpegts", path.c_str()) < 0)
        return false;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> hold(oc, avformat_free_context);
    AVStream *st = avformat_new_stream(oc, nullptr);
    if (!st || avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return false;
    st->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    st->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
    st->time_base = AVRational{1, 1000};
    bool ok = avformat_write_header(oc, nullptr) >= 0;
    for (int i = 0; ok && i < 20; i++) {
        AVPacket *pkt = av_packet_alloc();
        ok = pkt && av_new_packet(pkt, 100) == 0;
        if (ok) {
            memset(pkt->data, i, 100);
            pkt->pts = pkt->dts = av_rescale_q(i * 100, AVRational{1, 1000}, st->time_base);
            pkt->flags = AV_PKT_FLAG_KEY;
            ok = av_interleaved_write_frame(oc, pkt) >= 0;
        }
        av_packet_free(&pkt);
    }
    ok = av_write_trailer(oc) >= 0 && ok;
    return avio_closep(&oc->pb) >= 0 && ok;
}

bool can_become_nobody()
{
    if (geteuid() != 0)
        return false; // an ordinary user cannot make a folder it may not write to
    const pid_t pid = fork();
    if (pid == 0)
        _exit(become_nobody() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ObservedRun, EachFailureKindFromARealCause)
{
    LogCapture quiet(AV_LOG_ERROR);
    // Under /tmp, so that "nobody" may read the source on the way to the folder.
    char base[] = "/tmp/wvc-observed-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base;
    chmod(base, 0755);
    const std::string clip = dir + "/clip.ts";
    std::filesystem::copy_file(short_clip(2.0), clip);
    chmod(clip.c_str(), 0644);
    std::ofstream(dir + "/notes.txt") << "Meeting notes, not a recording.\n";
    const std::string no_stream = dir + "/telemetry.ts";
    ASSERT_TRUE(write_data_only_ts(no_stream));
    std::filesystem::create_directory(dir + "/locked");
    chmod((dir + "/locked").c_str(), 0555);
    std::filesystem::create_directory(dir + "/taken.mp4");

    const std::function<bool()> small_files = [] {
        signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        const struct rlimit limit = {8192, 8192};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    struct Case {
        const char *what;
        Words words;
        RunFailure failure;
        std::function<bool()> prepare;
        bool as_nobody = false;
    };
    const Case cases[] = {
        {"not a recording", converter_arguments(dir + "/notes.txt", dir + "/a.mp4"),
         RunFailure::SourceUnreadable, nullptr},
        {"only a data stream", converter_arguments(no_stream, dir + "/b.mp4"),
         RunFailure::SourceNoStream, nullptr},
        {"folder gone", converter_arguments(clip, dir + "/gone/c.mp4"), RunFailure::DestinationMissing,
         nullptr},
        {"folder locked", converter_arguments(clip, dir + "/locked/d.mp4"),
         RunFailure::DestinationNotWritable, become_nobody, true},
        {"file-size limit", converter_arguments(clip, dir + "/e.mp4"), RunFailure::DiskFull, small_files},
        {"name too long", converter_arguments(clip, dir + "/" + std::string(NAME_MAX, 'f') + ".mp4"),
         RunFailure::OutputNameRefused, nullptr},
        {"encoder refuses", {"ffmpeg", "-i", clip, "-c:v", "libx264", "-level", "99", dir + "/g.mp4"},
         RunFailure::EncoderRefused, nullptr},
        {"folder in the way", {"ffmpeg", "-y", "-i", clip, dir + "/taken.mp4"}, RunFailure::Other,
         nullptr},
    };
    const bool nobody = can_become_nobody();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.as_nobody && !nobody) {
            std::cout << "[ SKIPPED  ] " << c.what << ": this user cannot become another one\n";
            continue;
        }
        const ChildOutcome r = run_in_child(c.words, c.prepare);
        ASSERT_TRUE(r.ran);
        EXPECT_EQ(r.end, RunEnd::Failed);
        EXPECT_STREQ(run_failure_name(r.failure), run_failure_name(c.failure));
    }
    // A file the run had begun is not left behind.
    EXPECT_FALSE(std::filesystem::exists(dir + "/e.mp4"));
    std::filesystem::remove_all(dir);
}

} // namespace
