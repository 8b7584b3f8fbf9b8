// The edges of a run around its files: closed standard descriptors, turned
// pictures, outputs that cannot be written, the final name holding only complete
// files, memory running out, a named pipe as input, an output named like an option.
#include "badinput_case.h"
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "folder_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <stdexcept>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace fixtures;
using namespace badinput;
namespace fs = std::filesystem;

namespace {

// ---- closed standard descriptors --------------------------------------------------------

bool file_holds(const std::string &path, const std::string &text)
{
    const Bytes bytes = read_file(path);
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(StandardDescriptors, ClosedOnesTakeNoFileAndOnlyATerminalGivesKeys)
{
    const std::string keys = "qqqq q?\n";
    // descriptors closed at the start (bit n: descriptor n), keys in a file on
    // standard input
    const std::tuple<const char *, unsigned, bool> cases[] = {
        {"InputClosed", 1, false},
        {"OutputAndErrorClosed", 6, false},
        {"AllClosed", 7, false},
        {"KeysInAFile", 0, true},
    };
    for (const auto &[name, closed, keys_in_file] : cases) {
        SCOPED_TRACE(name);
        // The whole recording must come out: a "q" read as a key would stop it.
        const Row row = {name, Expect::Converts, nullptr, fixture(FixtureKind::H264AacTs), 0, 1.9};
        const std::string dir = scratch(std::string("Descriptors") + name);
        Case c = row.make(dir);
        c.limits.closed_descriptors = closed;
        if (keys_in_file) {
            c.limits.stdin_path = dir + "/keys.txt";
            write_text(c.limits.stdin_path, keys);
        }
        const OutputFacts facts = run_case(row, c);
        ASSERT_EQ(facts.problem, "");
        for (const char *log_text : {"Stream mapping", "Press [q]", "Input #0"}) {
            EXPECT_FALSE(file_holds(c.output, log_text)) << "the log went into the output";
        }
    }
}

// ---- turned pictures -------------------------------------------------------------------

TEST(Rotation, APhoneVideosDisplayMatrixReachesTheOutput)
{
    for (int rotation : {-90, 90, 180}) {
        SCOPED_TRACE(rotation);
        ClipRecipe r = mp4_clip();
        r.name = "badinput_phone";
        r.video[0].display_rotation = rotation;
        const Row row = {"Phone" + std::to_string(rotation < 0 ? 360 + rotation : rotation), Expect::Converts,
                         nullptr, clip(r)};
        const OutputFacts facts = run_case(row, row.make(scratch(row.name)));
        ASSERT_EQ(facts.problem, "");
        EXPECT_TRUE(facts.has_display_matrix);
        EXPECT_NEAR(std::remainder(facts.display_rotation - rotation, 360), 0, 0.01) << facts.display_rotation;
        // The pictures themselves are not turned.
        EXPECT_EQ(facts.width, 320);
        EXPECT_EQ(facts.height, 240);
    }
}

// ---- outputs that cannot be written ---------------------------------------------------------

Case plain_recording(const std::string &dir)
{
    return copied(dir, fixture_path(FixtureKind::H264AacTs), "recording.ts");
}

TEST(WriteFailures, AFullDiskFailsTheRunAndRemovesThePartialOutput)
{
    const Row row = {"FileSizeLimitWhileWriting", Expect::Fails, "could not be written completely", plain_recording};
    Case c = row.make(scratch(row.name));
    c.limits.file_size = 16 * 1024;
    run_case(row, c);
}

TEST(WriteFailures, AnIndexThatDoesNotFitFailsTheRun)
{
    // Where the index starts in a complete conversion: the limit lets every
    // sample through and stops the index.
    const std::string dir = scratch("IndexBeyondTheLimit");
    Case c = plain_recording(dir);
    const Row complete = {"Complete", Expect::Converts, nullptr, plain_recording};
    ASSERT_EQ(run_case(complete, c).problem, "");
    const int64_t index_at = mp4_box_offset(read_file(c.output), "moov");
    ASSERT_GT(index_at, 0);
    fs::remove(c.output);

    const Row row = {"IndexBeyondTheLimit", Expect::Fails, "could not be written completely", plain_recording};
    c.limits.file_size = rlim_t(index_at + 64);
    run_case(row, c);
}

TEST(WriteFailures, AnOutputNamedPipeIsNeitherRemovedNorReplaced)
{
    const std::string dir = scratch("OutputIsAPipe");
    Case c = plain_recording(dir);
    ASSERT_EQ(mkfifo(c.output.c_str(), 0600), 0);
    // The engine asks before writing into something that exists; without an
    // answer it leaves it alone.
    const Row asked = {"OutputIsAPipe", Expect::Fails, "Not overwriting", plain_recording};
    const ChildRun run = run_guarded(converter_args(c), c.limits);
    EXPECT_EQ(run.exit_code, 1) << run.describe();
    EXPECT_NE(run.err.find(asked.message), std::string::npos) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(c.output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // Told to overwrite, it writes into the pipe, fails (an MP4 needs to seek),
    // and the pipe is still there afterwards.
    std::thread reader([&] {
        const int fd = open(c.output.c_str(), O_RDONLY);
        char buf[4096];
        while (fd >= 0 && read(fd, buf, sizeof(buf)) > 0) {
        }
        if (fd >= 0)
            close(fd);
    });
    c.extra = {"-y"};
    const ChildRun forced = run_guarded(converter_args(c), c.limits);
    reader.join();
    EXPECT_EQ(forced.exit_code, 1) << forced.describe() << forced.err;
    ASSERT_EQ(lstat(c.output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- the final name holds only complete files ---------------------------------------------

// An eight-second recording read at its own pace ("-re"): the run lasts about
// eight seconds, so things can happen to it a few seconds in.
Case slow_run(const std::string &dir)
{
    Case c = copied(dir, clip_path(ts_clip("eight_seconds", 8)), "recording.ts");
    c.input_options = {"-re"};
    return c;
}

TEST(FinalName, ANewFileAppearsThereOnlyComplete)
{
    // signal, how the program ends (0: exit status 0, else by that signal)
    const std::pair<int, int> cases[] = {
        {SIGKILL, SIGKILL}, // nothing can be done: the old file stays, a partial file is left
        {SIGHUP, SIGHUP},   // stops the run as SIGTERM does: the file is finished first
        {SIGPIPE, 0},       // ignored while converting: a write to a closed pipe fails instead
    };
    for (const auto &[sig, ends_by] : cases) {
        SCOPED_TRACE(strsignal(sig));
        const std::string dir = scratch("FinalName" + std::to_string(sig));
        Case c = slow_run(dir);
        write_file(c.output, Bytes(100, 'o')); // an older file of the same name
        c.limits.signal = sig;
        c.limits.signal_after_ms = 2500;
        const ChildRun run = run_guarded(converter_args(c), c.limits);
        EXPECT_EQ(run.signal, ends_by) << run.describe() << run.err;
        EXPECT_EQ(run.exit_code, ends_by ? -1 : 0) << run.describe() << run.err;
        const std::vector<std::string> partial = partial_files(dir);
        if (sig == SIGKILL) {
            EXPECT_EQ(read_file(c.output), Bytes(100, 'o')) << "the older file was replaced";
            EXPECT_EQ(partial, std::vector<std::string>{".converted.mp4." + std::to_string(run.pid) + ".part"});
            continue;
        }
        EXPECT_EQ(partial, std::vector<std::string>());
        const OutputFacts facts = check_converted(c.output);
        EXPECT_EQ(facts.problem, "") << run.err;
        EXPECT_GT(facts.seconds, 1.0);
    }
}

TEST(FinalName, AnOutputThatVanishesWhileWrittenFailsTheRun)
{
    const std::pair<const char *, std::function<void(const std::string &)>> cases[] = {
        {"folder", [](const std::string &folder) { fs::remove_all(folder); }},
        {"file",
         [](const std::string &folder) {
             for (const std::string &name : partial_files(folder))
                 fs::remove(folder + "/" + name);
         }},
    };
    for (const auto &[what, make_vanish] : cases) {
        SCOPED_TRACE(what);
        const std::string dir = scratch(std::string("Vanished_") + what);
        Case c = slow_run(dir);
        const std::string folder = dir + "/out";
        fs::create_directories(folder);
        c.output = folder + "/converted.mp4";
        std::thread remover([&, vanish = make_vanish] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            vanish(folder);
        });
        const Row row = {"Vanished", Expect::Fails, "vanished while it was written", nullptr};
        run_case(row, c);
        remover.join();
    }
}

TEST(FinalName, AFileThatTakesTheNameMeanwhileIsNeverReplaced)
{
    // Another conversion (a second batch run into the same folder) finishes
    // first under the name this one chose when it was still free.
    const std::string dir = scratch("FinalNameTaken");
    Case c = slow_run(dir);
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        write_file(c.output, Bytes(100, 'o'));
    });
    const ChildRun run = run_guarded(converter_args(c), c.limits);
    other.join();
    EXPECT_EQ(run.exit_code, 1) << run.describe() << run.err;
    EXPECT_NE(run.err.find("another file took that name during the conversion"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(c.output), Bytes(100, 'o')) << "the other program's file was replaced";
    EXPECT_EQ(partial_files(dir), std::vector<std::string>());
}

// ---- memory running out ------------------------------------------------------------------

TEST(AllocationFailures, NeverCrashAndNeverGiveAnUnusableFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer owns the allocator";
#else
    // The conversion itself, after the files were opened: opening them meets
    // allocation failures the media libraries themselves do not survive (an
    // assertion in avcodec_alloc_context3, a URL closed twice in avio_open2).
    const std::string dir = scratch("AllocationFailures");
    Case c = plain_recording(dir);
    c.limits.env = {std::string("LD_PRELOAD=") + WVC_FAIL_ALLOC_LIBRARY, "WVC_FAIL_ALLOC_AT=0",
                    "WVC_FAIL_ALLOC_PHASE=loop"};
    const ChildRun counted = run_guarded(converter_args(c), c.limits);
    ASSERT_EQ(counted.exit_code, 0) << counted.describe() << counted.err;
    const size_t at = counted.err.rfind("allocations: ");
    ASSERT_NE(at, std::string::npos) << counted.err;
    const long total = std::stol(counted.err.substr(at + 13));
    ASSERT_GT(total, 1000);

    // Every one of the first 40, then 60 spread over the whole conversion.
    std::vector<long> failing;
    for (long n = 1; n <= 40; n++)
        failing.push_back(n);
    for (long k = 0; k < 60; k++)
        failing.push_back(41 + k * (total - 41) / 60);
    const Row row = {"AllocationFailure", Expect::Either, nullptr, nullptr};
    int failed = 0;
    for (long n : failing) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        fs::remove(c.output);
        c.limits.env[1] = "WVC_FAIL_ALLOC_AT=" + std::to_string(n);
        failed += run_case(row, c).problem != "";
    }
    // Most failures are noticed; some hit memory the libraries do without.
    EXPECT_GT(failed, 0);
#endif
}

// ---- an input that is a pipe ----------------------------------------------------------

TEST(InputPipes, ARecordingThroughANamedPipeConvertsWhole)
{
    // A pipe has no second reading: nothing may look into it before the reader.
    const std::string dir = scratch("InputIsAPipe");
    const Case c = through_pipe([](const std::string &d) {
        return copied(d, fixture_path(FixtureKind::H264AacTs), "recording.ts");
    })(dir);
    const Row row = {"InputIsAPipe", Expect::Converts, nullptr, nullptr, 0, 1.9};
    const OutputFacts facts = run_case(row, c);
    EXPECT_EQ(facts.problem, "");
}

// ---- an output named like an option ----------------------------------------------------

TEST(OutputNames, ALeadingDashIsAFileNameAfterDotSlashOrDoubleDash)
{
    const std::string dir = scratch("LeadingDash");
    const Row row = {"LeadingDash", Expect::Converts, nullptr, plain_recording};
    for (const std::vector<std::string> &spelling : {std::vector<std::string>{"./-converted.mp4"},
                                                     std::vector<std::string>{"--", "-converted.mp4"}}) {
        SCOPED_TRACE(spelling.front());
        Case c = plain_recording(dir);
        c.limits.cwd = dir;
        c.extra.assign(spelling.begin(), spelling.end() - 1);
        c.output = spelling.back();
        const OutputFacts facts = run_case(row, c);
        EXPECT_EQ(facts.problem, "");
        EXPECT_TRUE(fs::exists(dir + "/-converted.mp4"));
        fs::remove(dir + "/-converted.mp4");
        fs::remove(dir + "/recording.ts");
    }
}

} // namespace
