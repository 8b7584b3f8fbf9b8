// Observed runs through the real engine: the progress events of a conversion,
// stopping a run (request, observer, signal; also while it is blocked on a named
// pipe), the signal handlers of the process around a run, and the failure kind
// told for real causes.
#include "crafted.h"
#include "engine_harness.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "media_probe.h"

#include "ffmpeg_exec.h"
#include "kernel_fakes.h"
#include "observe.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;
using Words = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

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

// The converter's words with `extra` right after the program name; at the
// recording's own pace ("-re") a run of the 2 s clip lasts long enough to be
// watched and stopped.
Words converter_with(const Words &extra, const std::string &out,
                     const std::string &in = fixture_path(FixtureKind::H264AacTs))
{
    Words words = converter_arguments(in, out);
    words.insert(words.begin() + 1, extra.begin(), extra.end());
    return words;
}

int64_t duration_us(const std::string &path)
{
    return int64_t(probe_media(path).duration * 1e6 + 0.5);
}

bool playable(const std::string &path)
{
    try {
        return decode_stream(path, DecodeRequest{}, [](AVFrame *) {}) > 0;
    } catch (const FixtureError &) {
        return false;
    }
}

volatile sig_atomic_t passed_on;
void count_passed_on(int) { passed_on = passed_on + 1; }

// ---- progress -----------------------------------------------------------------------

TEST(ObservedRun, ProgressRisesAndTheLastEventEndsAtTheDuration)
{
    const std::string out = scratch_dir("observed_progress") + "/out.mp4";
    const int64_t duration = duration_us(fixture_path(FixtureKind::H264AacTs));
    LogCapture quiet(AV_LOG_ERROR);
    // No status line, which must not matter to the events.
    const Observed r = run_observed(converter_with({"-nostats", "-re"}, out));
    ASSERT_EQ(r.status, 0) << quiet.all_text();
    EXPECT_EQ(r.outcome.end, RunEnd::Completed);
    ASSERT_GE(r.events.size(), 3u) << "one every half second, and the last";
    for (size_t i = 1; i < r.events.size(); i++) {
        const RunProgress &a = r.events[i - 1], &b = r.events[i];
        EXPECT_TRUE(a.out_time_us <= b.out_time_us && a.frames <= b.frames && a.bytes <= b.bytes &&
                    a.elapsed_us < b.elapsed_us && !a.last && a.duration_us == duration)
            << "event " << i;
    }
    const RunProgress &last = r.events.back();
    EXPECT_TRUE(last.last);
    EXPECT_NEAR(double(last.out_time_us), double(duration), 40000.0) << "within a frame";
    EXPECT_GE(last.frames, 50) << "two seconds at 25 frames a second";
    EXPECT_EQ(last.bytes, int64_t(std::filesystem::file_size(out)));
    EXPECT_GT(last.speed, 0.0);

    // The duration announced follows the cuts, and is unknown for a raw stream.
    const std::string dir = scratch_dir("observed_duration");
    const std::tuple<Words, Words, int64_t> cuts[] = {
        {{"-ss", "1"}, {}, duration - 1000000}, // input start
        {{}, {"-t", "1.5"}, 1500000},           // output length
        {{}, {"-ss", "0.5"}, duration - 500000}, // output start
    };
    for (const auto &[before_input, before_output, expected] : cuts) {
        Words words = converter_with(before_input, dir + "/cut.mp4");
        words.insert(words.end() - 1, before_output.begin(), before_output.end());
        std::filesystem::remove(dir + "/cut.mp4");
        const Observed cut = run_observed(words);
        ASSERT_EQ(cut.status, 0) << quiet.all_text();
        EXPECT_EQ(cut.events.back().duration_us, expected);
        EXPECT_NEAR(double(cut.events.back().out_time_us), double(expected), 80000.0);
    }
    const Observed raw = run_observed(converter_with({}, dir + "/raw.mp4", fixture_path(FixtureKind::H264Raw)));
    EXPECT_EQ(raw.events.back().duration_us, -1);
}

// ---- stopping -------------------------------------------------------------------------

TEST(ObservedRun, ObserverStopsBeforeOrDuringTheRunAndMayDiscardTheFile)
{
    const std::string dir = scratch_dir("observed_stop");
    LogCapture log(AV_LOG_INFO);
    RunObserver never;
    never.should_stop = [] { return true; };
    const Observed before = run_observed(converter_with({}, dir + "/never.mp4"), never);
    EXPECT_EQ(before.status, -1);
    EXPECT_TRUE(before.outcome.end == RunEnd::Stopped && before.outcome.stop == StopCause::Request);
    EXPECT_TRUE(before.events.empty());
    EXPECT_FALSE(std::filesystem::exists(dir + "/never.mp4"));
    EXPECT_EQ(log.all_text(), "") << "nothing was opened, not even the banner shown";

    for (bool discard : {false, true}) {
        const std::string out = dir + (discard ? "/discarded.mp4" : "/kept.mp4");
        RunObserver enough;
        enough.on_progress = [](const RunProgress &p) { return p.out_time_us < 1000000; };
        enough.discard_when_stopped = discard;
        const Observed r = run_observed(converter_with({"-re"}, out), enough);
        EXPECT_EQ(r.status, 0) << "a stop finishes the file as the q key does";
        EXPECT_TRUE(r.outcome.end == RunEnd::Stopped && r.outcome.stop == StopCause::Request);
        EXPECT_TRUE(r.events.back().last);
        EXPECT_LT(r.events.back().out_time_us, 1800000) << "stopped early";
        EXPECT_EQ(r.outcome.output_removed, discard);
        EXPECT_EQ(std::filesystem::exists(out), !discard);
        EXPECT_TRUE(discard || playable(out));
    }
}

TEST(ObservedRun, ARunBlockedOnANamedPipeEndsSoonAfterAStopOrASignalOnAnotherThread)
{
    const std::string dir = scratch_dir("observed_fifo");
    const std::string fifo = dir + "/camera.ts";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    LogCapture quiet(AV_LOG_ERROR);
    signal(SIGTERM, count_passed_on);
    passed_on = 0;
    // Before the writer comes (open() waits), and with the writer silent after
    // the first seconds (the loop's read waits): the file is then finished.
    const std::tuple<bool, std::function<void()>, StopCause, int> stops[] = {
        {false, [] { ffmpeg_request_stop(); }, StopCause::Request, 0},
        // A signal handled on a thread that is not the run's, as in a window.
        {false, [] { pthread_kill(pthread_self(), SIGTERM); }, StopCause::Signal, SIGTERM},
        {true, [] { ffmpeg_request_stop(); }, StopCause::Request, 0},
    };
    for (const auto &[writer_comes, stop, cause, sig] : stops) {
        std::atomic<bool> done{false};
        std::thread writer([&, writer_comes = writer_comes] {
            int fd = -1; // O_NONBLOCK: waits for the reader without hanging when there is none
            while (writer_comes && fd < 0 && !done && (fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (fd >= 0) {
                fcntl(fd, F_SETFL, 0);
                std::ifstream src(fixture_path(FixtureKind::H264AacTs), std::ios::binary);
                const std::string bytes((std::istreambuf_iterator<char>(src)), std::istreambuf_iterator<char>());
                for (size_t n = 0; n < bytes.size();) {
                    const ssize_t w = write(fd, bytes.data() + n, bytes.size() - n);
                    n = w > 0 ? n + size_t(w) : bytes.size();
                }
            }
            while (!done) // the writer stays, so the reader waits for more
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (fd >= 0)
                close(fd);
        });
        Clock::time_point stopped_at;
        std::atomic<bool> ended_run{false};
        std::thread stopper([&, stop = stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            stopped_at = Clock::now();
            stop();
            // Should the stop not work, the pipe is closed after a while so the
            // test fails instead of waiting for ever.
            for (int i = 0; i < 100 && !ended_run; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            done = true;
            if (!ended_run)
                close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        });
        const Observed r = run_observed(converter_with({}, dir + "/out.mp4", fifo));
        const Clock::time_point ended = Clock::now();
        ended_run = done = true;
        stopper.join();
        writer.join();
        SCOPED_TRACE(std::string(writer_comes ? "reading" : "opening") + (sig ? " signal" : " request"));
        EXPECT_GT(ended, stopped_at) << "the run waited for the stop";
        EXPECT_LT(std::chrono::duration<double>(ended - stopped_at).count(), 1.0);
        EXPECT_EQ(r.status, writer_comes ? 0 : -1) << quiet.all_text();
        EXPECT_TRUE(r.outcome.end == RunEnd::Stopped && r.outcome.stop == cause && r.outcome.signal == sig);
        EXPECT_EQ(playable(dir + "/out.mp4"), writer_comes);
        std::filesystem::remove(dir + "/out.mp4");
    }
    EXPECT_EQ(passed_on, 1) << "the signal went on to the handler from before the run";
    signal(SIGTERM, SIG_DFL);
}

TEST(ObservedRun, AStopBreaksOffAWriteBlockedOnAHungDestinationWhenTheOutputIsDiscarded)
{
    // A reader that takes nothing after opening: the engine's writes fill the
    // pipe and then wait, as they would on a hung network folder.
    const std::string dir = scratch_dir("observed_stalled_output");
    const std::string fifo = dir + "/hung.ts";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        int fd = -1;
        while (!done && (fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK)) < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (fd >= 0)
            close(fd);
    });
    Clock::time_point stopped_at;
    std::atomic<bool> ended_run{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        stopped_at = Clock::now();
        ffmpeg_request_stop();
        // Should the stop not work, the reader goes after a while so the test
        // fails instead of waiting for ever.
        for (int i = 0; i < 100 && !ended_run; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        done = true;
    });
    LogCapture quiet(AV_LOG_FATAL);
    RunObserver observer;
    observer.discard_when_stopped = true;
    const Observed r = run_observed({"ffmpeg", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25", "-c:v",
                                     "libx264", "-preset", "ultrafast", "-f", "mpegts", fifo},
                                    observer);
    const Clock::time_point ended = Clock::now();
    ended_run = done = true;
    stopper.join();
    reader.join();
    EXPECT_GT(ended, stopped_at) << "the run ended before the stop: the pipe never filled";
    EXPECT_LT(std::chrono::duration<double>(ended - stopped_at).count(), 1.0);
    EXPECT_TRUE(r.outcome.end == RunEnd::Stopped && r.outcome.stop == StopCause::Request);
}

TEST(ObservedRun, ASignalStopsOneRunOnlyAndReachesThePreviousHandlerOnce)
{
    const std::string dir = scratch_dir("observed_signal");
    struct sigaction counting = {}, before = {}, after = {};
    counting.sa_handler = count_passed_on;
    sigaction(SIGTERM, &counting, &before);
    passed_on = 0;
    LogCapture log(AV_LOG_INFO);
    RunObserver observer;
    bool raised = false;
    observer.on_progress = [&](const RunProgress &p) {
        if (!raised && p.out_time_us >= 500000)
            raised = raise(SIGTERM) == 0;
        return true;
    };
    const Observed first = run_observed(converter_with({"-re"}, dir + "/first.mp4"), observer);
    EXPECT_EQ(first.status, 0);
    EXPECT_TRUE(first.outcome.end == RunEnd::Stopped && first.outcome.stop == StopCause::Signal);
    EXPECT_EQ(first.outcome.signal, SIGTERM);
    EXPECT_TRUE(log.has("Received signal 15: terminating.\n"));
    EXPECT_EQ(passed_on, 1) << "once, after the run";
    EXPECT_TRUE(playable(dir + "/first.mp4"));

    const Observed next = run_observed(converter_with({}, dir + "/next.mp4"));
    EXPECT_EQ(next.outcome.end, RunEnd::Completed);
    EXPECT_NEAR(double(duration_us(dir + "/next.mp4")),
                double(duration_us(fixture_path(FixtureKind::H264AacTs))), 80000.0) << "the whole recording";
    EXPECT_EQ(passed_on, 1);
    sigaction(SIGTERM, &before, &after);
    EXPECT_EQ(after.sa_handler, count_passed_on) << "the handler from before is back";
}

// ---- why a run failed ---------------------------------------------------------------

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
    bool ok = avformat_write_header(oc, nullptr) >= 0;
    for (int i = 0; ok && i < 20; i++) {
        AVPacket *pkt = av_packet_alloc();
        ok = pkt && av_new_packet(pkt, 100) == 0;
        if (ok) {
            pkt->pts = pkt->dts = av_rescale_q(i, AVRational{1, 10}, st->time_base);
            ok = av_interleaved_write_frame(oc, pkt) >= 0;
        }
        av_packet_free(&pkt);
    }
    ok = av_write_trailer(oc) >= 0 && ok;
    return avio_closep(&oc->pb) >= 0 && ok;
}

bool become_nobody()
{
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

// The run in a forked child (so that it may give up rights or have its file size
// limited): how it ended and the failure kind, -1 when the child failed itself.
// `after`, in the child once the run has ended, may veto the result (101).
int failure_in_child(Words words, const std::function<bool()> &prepare,
                     const std::function<bool()> &after = nullptr)
{
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2})
            dup2(null_fd, fd);
        if (prepare && !prepare())
            _exit(127);
        if (words.empty())
            _exit(0); // only the preparation was asked for
        RunOutcome outcome;
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        ffmpeg_exec_observed(int(argv.size()), argv.data(), nullptr, &outcome);
        if (after && !after())
            _exit(101);
        _exit(outcome.end == RunEnd::Failed ? int(outcome.failure) : 100);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return -1;
    return WEXITSTATUS(status);
}

// A run that never replaces: a name taken before the output is opened moves on
// by the naming rule (other names fail), and the outcome names the file written.
TEST(ObservedRun, ARunThatNeverReplacesMovesOnToTheNextFreeNameAndSaysWhere)
{
    LogCapture quiet(AV_LOG_ERROR);
    const std::string dir = scratch_dir("observed_never_replace");
    const std::string clip = fixture_path(FixtureKind::H264AacTs);
    const std::string other = "another program's file\n";
    for (const char *name : {"/cam_converted.mp4", "/cam_converted_1.mp4", "/plain.mp4"})
        std::ofstream(dir + name) << other;
    RunObserver keep;
    keep.never_replace = true;
    const struct {
        const char *output;
        RunObserver observer;
        const char *written; // nullptr: the run fails
    } cases[] = {
        {"/cam_converted.mp4", keep, "/cam_converted_2.mp4"},
        {"/cam_converted_5.mp4", keep, "/cam_converted_5.mp4"}, // free: kept as it is
        {"/plain.mp4", keep, nullptr},                          // not the rule's: nothing to move on to
        {"/cam_converted_1.mp4", RunObserver{}, "/cam_converted_1.mp4"}, // replaced, as asked
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.output);
        const Observed r = run_observed(converter_arguments(clip, dir + c.output), c.observer);
        if (!c.written) {
            EXPECT_EQ(r.status, -1);
            EXPECT_NE(r.outcome.error_text.find("exists already and is kept"), std::string::npos)
                << r.outcome.error_text;
            EXPECT_TRUE(r.outcome.outputs.empty());
            continue;
        }
        ASSERT_EQ(r.status, 0) << quiet.all_text();
        EXPECT_EQ(r.outcome.outputs, Words{dir + c.written});
        EXPECT_TRUE(playable(dir + c.written));
    }
    for (const char *name : {"/cam_converted.mp4", "/plain.mp4"}) {
        std::ifstream in(dir + name);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), other) << name;
    }
}

TEST(ObservedRun, ARunOfRecordingsOnlyRefusesSpecialFilesAndFilesOnlyTheirNameMakesMedia)
{
    LogCapture quiet(AV_LOG_ERROR);
    const std::string dir = scratch_dir("observed_recordings_only");
    ASSERT_EQ(mkfifo((dir + "/pipe.ts").c_str(), 0600), 0);
    std::string noise(1600, '\0');
    uint32_t state = 12345;
    for (char &c : noise)
        c = char((state = state * 1103515245u + 12345u) >> 24);
    for (const char *name : {"/noise.bin", "/noise.h264", "/noise.al"})
        std::ofstream(dir + name, std::ios::binary) << noise;
    RunObserver regular;
    regular.recordings_only = true;
    const std::tuple<std::string, const char *, RunFailure> cases[] = {
        {dir + "/pipe.ts", "is a named pipe", RunFailure::SourceUnreadable},
        {dir, "is a folder", RunFailure::SourceIsFolder},
        {"/dev/zero", "is a device", RunFailure::SourceUnreadable},
        {dir + "/missing.ts", "does not exist", RunFailure::SourceMissing},
        // Readers that take any bytes by their name alone: text art, raw streams.
        {dir + "/noise.bin", "shows no known recording format", RunFailure::SourceUnreadable},
        {dir + "/noise.h264", "shows no known recording format", RunFailure::SourceUnreadable},
        {dir + "/noise.al", "shows no known recording format", RunFailure::SourceUnreadable},
    };
    for (const auto &[input, problem, failure] : cases) {
        // Without a writer, opening the pipe would wait for ever.
        const Observed r = run_observed(converter_arguments(input, dir + "/out.mp4"), regular);
        EXPECT_EQ(r.status, -1) << input;
        EXPECT_STREQ(run_failure_name(r.outcome.failure), run_failure_name(failure)) << input;
        EXPECT_NE(r.outcome.error_text.find(problem), std::string::npos) << r.outcome.error_text;
    }
    EXPECT_EQ(run_observed(converter_arguments(fixture_path(FixtureKind::H264AacTs), dir + "/out.mp4"), regular).status,
              0);
}

// ---- how much of the recording a run got ----------------------------------------------

TEST(RunAccount, ShortAndEarlyEndsAreJudgedAtTheirLimits)
{
    const int64_t s = 1000000;
    // converted, declared: short under 95 % and more than 0.5 s short.
    const std::tuple<int64_t, int64_t, bool> lengths[] = {
        {19 * s, 20 * s, false},          {19 * s - 1, 20 * s, true},       // 95 % of 20 s
        {s * 95 / 100 - 1, s, false},     // 1 s: under 95 %, but only 0.05 s short
        {45 * s / 10, 5 * s, false},      {45 * s / 10 - 1, 5 * s, true},   // 90 %: 0.5 s short, then more
        {0, 10 * s, true},                {-1, 10 * s, false},               {5 * s, -1, false},
        {5 * s, 0, false},
    };
    for (const auto &[converted, declared, short_of] : lengths)
        EXPECT_EQ(account_clearly_short(converted, declared), short_of) << converted << " of " << declared;
    // reached, size: early before 95 % and more than 64 KiB before the end.
    const int64_t mb = 1 << 20;
    const std::tuple<int64_t, int64_t, bool> reads[] = {
        {95 * 10 * mb / 100, 10 * mb, false}, {95 * 10 * mb / 100 - 1, 10 * mb, true}, // 95 % of 10 MiB
        {95 * mb / 100 - 1, mb, false},       // 1 MiB: under 95 %, but less than 64 KiB short
        {100000 - 65536, 100000, false},      {100000 - 65537, 100000, true},          // 64 KiB short, then more
        {0, mb, true},                        {-1, mb, false},                         {mb / 2, -1, false},
        {mb / 2, 0, false},
    };
    for (const auto &[reached, size, early] : reads)
        EXPECT_EQ(account_ended_early(reached, size), early) << reached << " of " << size;
}

// Damaged recordings that still convert are partial, with their figures; a
// whole recording is not.
TEST(RunAccount, ADamagedRecordingIsPartialAndAWholeOneIsNot)
{
    LogCapture quiet(AV_LOG_ERROR);
    const std::string dir = scratch_dir("observed_partial");
    ClipRecipe avi = fixture_recipe(FixtureKind::MjpegMulawAvi);
    avi.name = "partial_noise";
    avi.duration = 8;
    FileDamage noise;
    noise.kind = FileDamage::Overwrite;
    noise.at = 0.2;
    noise.length = 600000;
    noise.seed = 3;
    ClipRecipe mp4 = fixture_recipe(FixtureKind::H264AacTs);
    mp4.name = "partial_half";
    mp4.format = mp4.extension = "mp4";
    mp4.duration = 8;
    mp4.faststart = true;
    FileDamage half;
    half.kind = FileDamage::Truncate;
    half.at = 0.5;
    struct Case {
        const char *what;
        std::string source;
        bool partial;
        std::vector<RunProblemKind> problems;
    };
    const Case cases[] = {
        {"AVI whose data turns to noise", damaged_clip_path(avi, noise), true,
         {RunProblemKind::ShortOfDeclaredLength, RunProblemKind::DecodeErrors}},
        {"faststart MP4 cut at half", damaged_clip_path(mp4, half), true,
         {RunProblemKind::ShortOfDeclaredLength, RunProblemKind::DamagedPackets}},
        {"whole recording", fixture_path(FixtureKind::H264AacTs), false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Observed r = run_observed(converter_arguments(c.source, dir + "/out.mp4"));
        ASSERT_EQ(r.status, 0) << quiet.all_text();
        EXPECT_EQ(r.outcome.end, RunEnd::Completed);
        EXPECT_EQ(r.outcome.partial, c.partial);
        std::vector<RunProblemKind> kinds;
        for (const RunProblem &p : r.outcome.problems)
            kinds.push_back(p.kind);
        EXPECT_EQ(kinds, c.problems);
        EXPECT_GT(r.outcome.expected_duration_us, 0);
        EXPECT_EQ(r.outcome.converted_duration_us, r.events.back().out_time_us);
        EXPECT_EQ(r.outcome.source_size, int64_t(std::filesystem::file_size(c.source)));
        if (c.partial) {
            EXPECT_LT(r.outcome.converted_duration_us, r.outcome.expected_duration_us * 95 / 100);
        } else {
            EXPECT_EQ(r.outcome.bytes_reached, r.outcome.source_size);
            EXPECT_NEAR(double(r.outcome.converted_duration_us), double(r.outcome.expected_duration_us), 100000.0);
        }
        EXPECT_TRUE(playable(dir + "/out.mp4"));
    }
}

TEST(ObservedRun, EachFailureKindFromARealCause)
{
    LogCapture quiet(AV_LOG_ERROR);
    // Under /tmp, so that "nobody" may read the source on the way to the folder.
    char base[] = "/tmp/wvc-observed-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base, clip = dir + "/clip.ts", data_only = dir + "/telemetry.ts";
    chmod(base, 0755);
    std::filesystem::copy_file(fixture_path(FixtureKind::H264AacTs), clip);
    chmod(clip.c_str(), 0644);
    std::ofstream(dir + "/notes.txt") << "Meeting notes, not a recording.\n";
    fixtures::write_file(dir + "/one_hertz.wav", wav_with(1, 1, 2, 20000));
    chmod((dir + "/one_hertz.wav").c_str(), 0644);
    ASSERT_TRUE(write_data_only_ts(data_only));
    std::filesystem::create_directory(dir + "/locked");
    chmod((dir + "/locked").c_str(), 0555);
    std::filesystem::create_directory(dir + "/taken.mp4");
    const std::function<bool()> small_files = [] {
        signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        const struct rlimit limit = {8192, 8192};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    // Root may write anywhere: the locked folder needs a child that is "nobody".
    const bool as_nobody = geteuid() == 0 && failure_in_child({}, become_nobody) >= 0;

    const std::tuple<Words, RunFailure, std::function<bool()>, bool> cases[] = {
        {converter_arguments(dir + "/notes.txt", dir + "/a.mp4"), RunFailure::SourceUnreadable, nullptr, false},
        // Sound no recording has: refused as unreadable before converting.
        {converter_arguments(dir + "/one_hertz.wav", dir + "/a2.mp4"), RunFailure::SourceUnreadable, nullptr, false},
        {converter_arguments(data_only, dir + "/b.mp4"), RunFailure::SourceNoStream, nullptr, false},
        {converter_arguments(clip, dir + "/gone/c.mp4"), RunFailure::DestinationMissing, nullptr, false},
        {converter_arguments(clip, dir + "/locked/d.mp4"), RunFailure::DestinationNotWritable, become_nobody, true},
        {converter_arguments(clip, dir + "/e.mp4"), RunFailure::DiskFull, small_files, false},
        {converter_arguments(clip, dir + "/" + std::string(NAME_MAX, 'f') + ".mp4"),
         RunFailure::OutputNameRefused, nullptr, false},
        {{"ffmpeg", "-i", clip, "-c:v", "libx264", "-level", "99", dir + "/g.mp4"}, RunFailure::EncoderRefused,
         nullptr, false},
        {{"ffmpeg", "-y", "-i", clip, dir + "/taken.mp4"}, RunFailure::Other, nullptr, false}, // a folder in the way
        // Media lost on the way: a filter failing on a frame, pictures the encoder refuses.
        {{"ffmpeg", "-i", clip, "-vf", "scale=eval=frame:w='if(gt(n,24),sqrt(-1),320)':h=240", dir + "/h.mp4"},
         RunFailure::EncoderRefused, nullptr, false},
        {{"ffmpeg", "-i", clip, "-vf", "scale=eval=frame:w='if(gt(n,24),16,320)':h='if(gt(n,24),16,240)'",
          dir + "/i.mp4"},
         RunFailure::EncoderRefused, nullptr, false},
    };
    for (const auto &[words, failure, prepare, needs_nobody] : cases) {
        SCOPED_TRACE(run_failure_name(failure));
        if (needs_nobody && !as_nobody) {
            std::cout << "[ SKIPPED  ] this user cannot become \"nobody\"\n";
            continue;
        }
        const int told = failure_in_child(words, prepare);
        ASSERT_GE(told, 0);
        EXPECT_STREQ(told == 100 ? "not failed" : run_failure_name(RunFailure(told)), run_failure_name(failure));
    }
    for (const char *name : {"/e.mp4", "/h.mp4", "/i.mp4"})
        EXPECT_FALSE(std::filesystem::exists(dir + name)) << "the file begun is not left behind";
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        EXPECT_NE(entry.path().extension(), ".part") << "nor its partial file";
    std::filesystem::remove_all(dir);
}

// Every error code the output side names, one row each, and one it does not.
TEST(FailureKinds, EachOutputErrorCodeHasItsKind)
{
    const std::pair<int, RunFailure> cases[] = {
        {ENOENT, RunFailure::DestinationMissing},     {ENOTDIR, RunFailure::DestinationMissing},
        {EACCES, RunFailure::DestinationNotWritable}, {EPERM, RunFailure::DestinationNotWritable},
        {EROFS, RunFailure::DestinationNotWritable},  {ENOSPC, RunFailure::DiskFull},
        {EDQUOT, RunFailure::DiskFull},               {EFBIG, RunFailure::DiskFull},
        {ENAMETOOLONG, RunFailure::OutputNameRefused}, {EINVAL, RunFailure::OutputNameRefused},
        {EILSEQ, RunFailure::OutputNameRefused},      {EIO, RunFailure::Other},
        {EEXIST, RunFailure::Other},                  {EISDIR, RunFailure::Other},
    };
    for (const auto &[code, kind] : cases)
        EXPECT_STREQ(run_failure_name(output_failure(AVERROR(code))), run_failure_name(kind)) << strerror(code);
    EXPECT_EQ(output_failure(AVERROR_INVALIDDATA), RunFailure::Other);
}

// The calling process in a mount namespace of its own, with a tmpfs of
// `options` mounted on `folder` (open to everyone, so that "nobody" may write).
bool own_tmpfs(const std::string &folder, const char *options)
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", folder.c_str(), "tmpfs", 0, options) == 0 && chmod(folder.c_str(), 01777) == 0;
}

bool folder_empty(const std::string &folder)
{
    return std::filesystem::is_empty(folder);
}

// A full disk and a full quota, for real where the system lets a test make them:
// /dev/full answers every write with ENOSPC; a tmpfs of 16 KiB fills up under the
// partial file; a tmpfs with a user quota (kernels whose tmpfs has quotas) fills
// "nobody"'s share; and a kernel refusing to create a file once the user's quota
// of files is used up (EDQUOT at open, made by a seccomp filter on this process).
TEST(ObservedRun, AFullDiskOrQuotaIsToldAsDiskFull)
{
    LogCapture quiet(AV_LOG_ERROR);
    // Under /tmp, so that "nobody" may read the source on the way to the folder.
    char base[] = "/tmp/wvc-observed-full-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base, clip = dir + "/clip.ts";
    const std::string small = dir + "/small", quota = dir + "/quota";
    chmod(base, 0755);
    std::filesystem::copy_file(fixture_path(FixtureKind::H264AacTs), clip);
    chmod(clip.c_str(), 0644);
    std::filesystem::create_directories(small);
    std::filesystem::create_directories(quota);
    const auto in_small = [&] { return own_tmpfs(small, "size=16k"); };
    // Full before the run begins: the output's header is the first write refused.
    const auto in_full = [&] {
        if (!own_tmpfs(small, "size=16k"))
            return false;
        const int fd = open((small + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const std::vector<char> block(4096, 'x');
        while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
        }
        return fd >= 0 && close(fd) == 0;
    };
    const auto in_quota = [&] {
        return own_tmpfs(quota, "size=4m,usrquota,usrquota_block_hardlimit=64k") && become_nobody();
    };
    const auto no_file_creation = [] {
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            return false;
        scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
        const scmp_arg_cmp creates = {2, SCMP_CMP_MASKED_EQ, O_CREAT, O_CREAT};
        const bool ok = filter &&
                        seccomp_rule_add_array(filter, SCMP_ACT_ERRNO(EDQUOT), SCMP_SYS(openat), 1, &creates) == 0 &&
                        seccomp_load(filter) == 0;
        seccomp_release(filter);
        return ok;
    };
    struct Case {
        const char *what;
        Words words;
        std::function<bool()> prepare, after;
        const char *cannot; // why the case cannot be made here, when its preparation fails
    };
    const Case cases[] = {
        // MPEG-TS: its header stays in the write buffer, so the packets' writes fail.
        {"a device that is full", {"ffmpeg", "-y", "-i", clip, "-c:v", "libx264", "-f", "mpegts", "/dev/full"},
         nullptr, nullptr, nullptr},
        {"a file system that fills up", converter_arguments(clip, small + "/out.mp4"), in_small,
         [&] { return folder_empty(small); }, "this system lets no test mount a tmpfs of its own"},
        {"a file system full from the start", converter_arguments(clip, small + "/out.mp4"), in_full, nullptr,
         "this system lets no test mount a tmpfs of its own"},
        {"a quota that fills up", converter_arguments(clip, quota + "/out.mp4"), in_quota,
         [&] { return folder_empty(quota); }, "this kernel's tmpfs has no quotas, or no tmpfs can be mounted"},
        {"a quota of files used up", converter_arguments(clip, dir + "/out.mp4"), no_file_creation, nullptr,
         "this kernel has no seccomp"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.prepare && failure_in_child({}, c.prepare) < 0) {
            std::cout << "[ SKIPPED  ] " << c.what << ": " << c.cannot << "\n";
            continue;
        }
        const int told = failure_in_child(c.words, c.prepare, c.after);
        ASSERT_GE(told, 0);
        EXPECT_NE(told, 101) << "the file begun is left behind";
        EXPECT_STREQ(told == 100 ? "not failed" : run_failure_name(RunFailure(told)),
                     run_failure_name(RunFailure::DiskFull));
    }
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        EXPECT_TRUE(entry.path() == clip || entry.path() == small || entry.path() == quota)
            << entry.path() << " is left behind";
    std::filesystem::remove_all(dir);
}

// Source-side failures are the source's, whatever the error: a missing recording is
// not a missing destination, an unreadable one not an unwritable destination.
TEST(ObservedRun, AnErrorOpeningTheSourceIsToldByItsCause)
{
    LogCapture quiet(AV_LOG_ERROR);
    char base[] = "/tmp/wvc-observed-source-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base;
    chmod(base, 0755);
    std::filesystem::copy_file(fixture_path(FixtureKind::H264AacTs), dir + "/locked.ts");
    chmod((dir + "/locked.ts").c_str(), 0600);
    const bool as_nobody = geteuid() == 0 && failure_in_child({}, become_nobody) >= 0;
    const std::tuple<const char *, Words, std::function<bool()>, RunFailure> cases[] = {
        {"missing (ENOENT)", converter_arguments(dir + "/gone.ts", dir + "/a.mp4"), nullptr, RunFailure::SourceMissing},
        {"a folder (EISDIR)", converter_arguments(dir, dir + "/b.mp4"), nullptr, RunFailure::SourceIsFolder},
        {"not readable (EACCES)", converter_arguments(dir + "/locked.ts", dir + "/c.mp4"), become_nobody,
         RunFailure::SourceUnreadable},
    };
    for (const auto &[what, words, prepare, failure] : cases) {
        SCOPED_TRACE(what);
        if (prepare && !as_nobody) {
            std::cout << "[ SKIPPED  ] this user cannot become \"nobody\"\n";
            continue;
        }
        const int told = failure_in_child(words, prepare);
        ASSERT_GE(told, 0);
        EXPECT_STREQ(told == 100 ? "not failed" : run_failure_name(RunFailure(told)), run_failure_name(failure));
    }
    std::filesystem::remove_all(dir);
}

} // namespace
