// The batch command end to end: wardline-convert run as a child process on tiny
// recordings made by the fixture generator, its outputs read back, its report
// parsed, its exit status checked.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "media_probe.h"
#include "output_check.h"

#include "crafted.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using fixtures::FixtureKind;

namespace {

struct BatchRun {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

std::string read_text(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts the batch command with its standard output and error in files of `dir`
// and no standard input (as in CI).
// Started with standard input on /dev/null and its output in files of `dir`, or
// with all three standard descriptors closed.
pid_t start_batch(const std::vector<std::string> &args, const std::string &dir, bool closed_descriptors = false)
{
    const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
    const pid_t pid = fork();
    if (pid == 0 && closed_descriptors) {
        close(0);
        close(1);
        close(2);
    } else if (pid == 0) {
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
    }
    if (pid == 0) {
        std::vector<char *> argv = {const_cast<char *>(WVC_BATCH_PATH)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(WVC_BATCH_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// Waits at most `timeout_s` (then kills it: the test fails on the status).
BatchRun finish_batch(pid_t pid, const std::string &dir, int timeout_s = 120)
{
    BatchRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the batch command did not end within " << timeout_s << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = read_text(dir + "/stdout.txt");
    run.err = read_text(dir + "/stderr.txt");
    return run;
}

BatchRun run_batch(const std::vector<std::string> &args, const std::string &dir)
{
    return finish_batch(start_batch(args, dir), dir);
}

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void copy_fixture(FixtureKind kind, const std::string &path)
{
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(fixtures::fixture_path(kind), path);
}

// A recorder's export: a note, an audio-only recording and two videos (one in a
// sub-folder).
std::string make_export_folder(const std::string &root)
{
    const std::string in = root + "/export";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01.ts");
    copy_fixture(FixtureKind::Mpeg4AlawMkv, in + "/north/cam02.mkv");
    copy_fixture(FixtureKind::AacM4a, in + "/intercom.m4a");
    const std::string note = "Export of 2024-03-01, cameras 1 and 2.\n";
    fixtures::write_file(in + "/README.txt", std::vector<uint8_t>(note.begin(), note.end()));
    fs::create_directories(root + "/out");
    return in;
}

// Every sample of an MP4 zeroed: it opens as media (its index is intact), but
// nothing in it decodes.
void make_damaged_recording(const std::string &path)
{
    Bytes bytes = fixtures::read_file(fixtures::fixture_path(FixtureKind::AacM4a));
    ASSERT_TRUE(zero_mp4_samples(bytes));
    fixtures::write_file(path, bytes);
}

json read_report(const std::string &path)
{
    return json::parse(read_text(path));
}

const json *entry_for(const json &report, const std::string &source)
{
    for (const json &entry : report)
        if (entry.at("source") == source)
            return &entry;
    return nullptr;
}

struct Expected {
    std::string source, output;
    bool video, audio;
};

void expect_converted(const json &report, const Expected &e)
{
    const json *entry = entry_for(report, e.source);
    ASSERT_NE(entry, nullptr) << e.source;
    EXPECT_EQ(entry->at("output"), e.output);
    EXPECT_EQ(entry->at("status"), "converted");
    EXPECT_TRUE(entry->at("reason").is_null());
    EXPECT_GT(entry->at("duration").get<double>(), 1.5) << e.source;
    EXPECT_GE(entry->at("seconds").get<double>(), 0) << e.source;
    const OutputFacts facts = check_converted(e.output);
    EXPECT_EQ(facts.problem, "") << e.output;
    EXPECT_EQ(facts.has_video, e.video) << e.output;
    EXPECT_EQ(facts.has_audio, e.audio) << e.output;
}

TEST(BatchCommand, FolderGivesItsMediaFilesToParallelJobsAndReportsEach)
{
    const std::string root = scratch_dir("batch/folder");
    const std::string in = make_export_folder(root);
    const BatchRun run = run_batch({"--jobs", "2", "--output", root + "/out", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 0) << run.err;

    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 3u) << report.dump(2);
    expect_converted(report, {in + "/cam01.ts", root + "/out/cam01_converted.mp4", true, true});
    expect_converted(report, {in + "/intercom.m4a", root + "/out/intercom_converted.mp4", false, true});
    expect_converted(report, {in + "/north/cam02.mkv", root + "/out/cam02_converted.mp4", true, true});
    // Not on a terminal: one plain line per finished file.
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
    EXPECT_NE(run.out.find("converted: " + in + "/north/cam02.mkv -> " + root + "/out/cam02_converted.mp4"),
              std::string::npos)
        << run.out;
}

TEST(BatchCommand, DamagedRecordingFailsWithItsReasonAndTheOthersStillConvert)
{
    const std::string root = scratch_dir("batch/damaged");
    const std::string in = make_export_folder(root);
    make_damaged_recording(in + "/broken.m4a");
    const BatchRun run = run_batch({"--jobs", "2", "--output", root + "/out", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 1) << run.err;

    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 4u) << report.dump(2);
    const json *broken = entry_for(report, in + "/broken.m4a");
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(broken->at("status"), "failed");
    // The window's sentence for the kind, then the libraries' own words.
    EXPECT_EQ(broken->at("reason").get<std::string>().rfind(
                  "The source is not a video file or is too damaged to read (", 0), 0u)
        << broken->dump();
    // No file was written; the length the probe found still is reported.
    EXPECT_TRUE(broken->at("output").is_null()) << broken->dump();
    EXPECT_GT(broken->at("duration").get<double>(), 1.5) << broken->dump();
    const std::vector<std::string> outputs = {"cam01_converted.mp4", "cam02_converted.mp4", "intercom_converted.mp4"};
    EXPECT_EQ(files_in(root + "/out"), outputs);
    EXPECT_NE(run.out.find("failed: " + in + "/broken.m4a: The source is not a video file or is too damaged to read ("),
              std::string::npos) << run.out;
}

TEST(BatchCommand, StartedWithClosedStandardDescriptorsItStillConverts)
{
    // The pipes to its jobs must not become standard input, output or error.
    const std::string root = scratch_dir("batch/closed_descriptors");
    copy_fixture(FixtureKind::H264AacTs, root + "/in/cam01.ts");
    const BatchRun run =
        finish_batch(start_batch({"--output", root, "--report", root + "/report.json", root + "/in"}, root, true), root);
    EXPECT_EQ(run.status, 0);
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 1u) << report.dump(2);
    EXPECT_EQ(report[0].at("status"), "converted") << report.dump(2);
    EXPECT_TRUE(fs::exists(root + "/cam01_converted.mp4"));
}

TEST(BatchCommand, SourcesSharingANameGetDistinctOutputsAndNothingIsReplaced)
{
    const std::string root = scratch_dir("batch/same_name");
    copy_fixture(FixtureKind::H264AacTs, root + "/a/clip.ts");
    copy_fixture(FixtureKind::MjpegMulawAvi, root + "/b/clip.avi");
    fs::create_directories(root + "/out");
    const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    fixtures::write_file(root + "/out/clip_converted.mp4", earlier);
    const BatchRun run = run_batch({"--jobs", "2", "--output", root + "/out", "--report", root + "/report.json",
                               root + "/a", root + "/b/clip.avi"},
                              root);
    EXPECT_EQ(run.status, 0) << run.err;

    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 2u);
    expect_converted(report, {root + "/a/clip.ts", root + "/out/clip_converted_1.mp4", true, true});
    expect_converted(report, {root + "/b/clip.avi", root + "/out/clip_converted_2.mp4", true, true});
    EXPECT_EQ(fixtures::read_file(root + "/out/clip_converted.mp4"), earlier);
}

// Long enough (tens of seconds of converting) that the interrupt comes in the
// middle of every running job.
fixtures::ClipRecipe long_recording()
{
    return fixtures::benchmark_1080p_recipe(8);
}

// The size of the partial file a conversion writes before it becomes `path`
// (hidden, named after it, ending in ".part"), 0 while there is none.
uintmax_t partial_size(const std::string &path)
{
    const fs::path final_path(path);
    const std::string prefix = "." + final_path.filename().string() + ".";
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(final_path.parent_path(), ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)
            return fs::file_size(e.path(), ec);
    }
    return 0;
}

// Waits until the partial file of every path holds some bytes, or the process ended.
bool wait_for_partial_outputs(pid_t pid, const std::vector<std::string> &paths)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        siginfo_t info = {};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
            return false;
        bool all = true;
        for (const std::string &p : paths)
            all = all && partial_size(p) > 0;
        if (all)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(BatchCommand, InterruptStopsEveryJobRemovesTheirPartialOutputsAndStartsNoMore)
{
    const std::string root = scratch_dir("batch/interrupt");
    const std::string clip = fixtures::clip_path(long_recording());
    for (const char *name : {"1.ts", "2.ts", "3.ts"}) {
        fs::create_directories(root + "/in");
        fs::copy_file(clip, root + "/in/" + name);
    }
    fs::create_directories(root + "/out");
    const pid_t pid =
        start_batch({"--jobs", "2", "--output", root + "/out", "--report", root + "/report.json", root + "/in"}, root);
    const bool running = wait_for_partial_outputs(pid, {root + "/out/1_converted.mp4", root + "/out/2_converted.mp4"});
    kill(pid, SIGINT);
    const BatchRun run = finish_batch(pid, root, 30);
    ASSERT_TRUE(running) << "the jobs ended before the interrupt: " << run.out;

    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{});
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].at("status"), "stopped");
    EXPECT_EQ(report[1].at("status"), "stopped");
    EXPECT_EQ(report[2].at("status"), "not started");
    EXPECT_TRUE(report[2].at("seconds").is_null());
    for (const json &entry : report) { // no file written; the probed length still known
        EXPECT_TRUE(entry.at("output").is_null()) << entry.dump();
        EXPECT_GT(entry.at("duration").get<double>(), 7) << entry.dump();
    }
}

// SIGTERM (a service manager, a job scheduler) and SIGHUP (a closed terminal)
// stop the run as Ctrl-C does, and the exit status names the signal.
TEST(BatchCommand, AStopBySignalExitsWith128PlusItsNumberAndStillReports)
{
    const std::string clip = fixtures::clip_path(long_recording());
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string root = scratch_dir("batch/signal_" + std::to_string(sig));
        fs::create_directories(root + "/in");
        fs::create_directories(root + "/out");
        fs::copy_file(clip, root + "/in/1.ts");
        const pid_t pid = start_batch({"--jobs", "1", "--output", root + "/out", "--report", root + "/report.json",
                                       root + "/in"},
                                      root);
        const bool running = wait_for_partial_outputs(pid, {root + "/out/1_converted.mp4"});
        kill(pid, sig);
        const BatchRun run = finish_batch(pid, root, 30);
        ASSERT_TRUE(running) << "the job ended before the signal: " << run.out;
        EXPECT_EQ(run.status, 128 + sig) << run.err;
        EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{});
        const json report = read_report(root + "/report.json");
        ASSERT_EQ(report.size(), 1u);
        EXPECT_EQ(report[0].at("status"), "stopped");
    }
}

// The first child process of `pid` (a conversion job of the batch command).
pid_t first_child(pid_t pid)
{
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    long child = 0;
    return children >> child ? pid_t(child) : 0;
}

// A file that another run put under the job's name meanwhile is not the
// killed job's to remove.
TEST(BatchCommand, AJobKilledOutrightLeavesNeitherItsOutputNorItsPartialFile)
{
    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    for (const bool name_taken : {false, true}) {
        const std::string root = scratch_dir(name_taken ? "batch/killed_job_name_taken" : "batch/killed_job");
        fs::create_directories(root + "/in");
        fs::create_directories(root + "/out");
        fs::copy_file(fixtures::clip_path(long_recording()), root + "/in/1.ts");
        const pid_t pid = start_batch({"--jobs", "1", "--output", root + "/out", "--report", root + "/report.json",
                                       root + "/in"},
                                      root);
        const bool running = wait_for_partial_outputs(pid, {root + "/out/1_converted.mp4"});
        if (name_taken)
            fixtures::write_file(root + "/out/1_converted.mp4", other);
        const pid_t job = first_child(pid);
        if (job > 0)
            kill(job, SIGKILL);
        const BatchRun run = finish_batch(pid, root, 30);
        ASSERT_TRUE(running && job > 0) << "the job ended before it could be killed: " << run.out;
        EXPECT_NE(run.status, 0);
        if (name_taken) {
            EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{"1_converted.mp4"});
            EXPECT_EQ(fixtures::read_file(root + "/out/1_converted.mp4"), other);
        } else {
            EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{});
        }
        const json report = read_report(root + "/report.json");
        ASSERT_EQ(report.size(), 1u);
        EXPECT_EQ(report[0].at("status"), "failed");
    }
}

// Another run writing into the same folder may take the name this job chose
// while it converts: that file is kept, and this job moves on to the next free
// name and reports the file it wrote.
TEST(BatchCommand, AFileThatTookTheNameDuringTheConversionIsKeptAndTheJobTakesTheNextName)
{
    const std::string root = scratch_dir("batch/name_taken");
    fs::create_directories(root + "/in");
    fs::create_directories(root + "/out");
    fs::copy_file(fixtures::clip_path(long_recording()), root + "/in/1.ts");
    const pid_t pid = start_batch({"--output", root + "/out", "--report", root + "/report.json", root + "/in"}, root);
    const bool running = wait_for_partial_outputs(pid, {root + "/out/1_converted.mp4"});
    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    fixtures::write_file(root + "/out/1_converted.mp4", other);
    const BatchRun run = finish_batch(pid, root);
    ASSERT_TRUE(running) << "the job ended before the name was taken: " << run.out;

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(files_in(root + "/out"), (std::vector<std::string>{"1_converted.mp4", "1_converted_1.mp4"}));
    EXPECT_EQ(fixtures::read_file(root + "/out/1_converted.mp4"), other);
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].at("status"), "converted");
    EXPECT_EQ(report[0].at("output"), root + "/out/1_converted_1.mp4");
    EXPECT_NE(run.out.find("-> " + root + "/out/1_converted_1.mp4"), std::string::npos) << run.out;
}

// Two runs into one folder, the second started while the first converts its
// long 1.ts: the second sees that name held and takes the next; its 2.ts is done
// before the first run reaches its own 2.ts, whose planned name is then taken:
// the first run's job looks again as it starts and takes the next name. Every
// conversion ends under a name of its own; nothing fails, nothing is replaced.
TEST(BatchCommand, ConcurrentRunsIntoOneFolderEndWithDistinctOutputs)
{
    const std::string root = scratch_dir("batch/concurrent");
    for (const char *dir : {"/first", "/second", "/out", "/a"})
        fs::create_directories(root + dir);
    fs::copy_file(fixtures::clip_path(long_recording()), root + "/a/1.ts");
    copy_fixture(FixtureKind::H264AacTs, root + "/a/2.ts");
    copy_fixture(FixtureKind::H264AacTs, root + "/b/1.ts");
    copy_fixture(FixtureKind::H264AacTs, root + "/b/2.ts");
    const std::string out = root + "/out";
    const pid_t first = start_batch({"--jobs", "1", "--output", out, "--report", root + "/first.json", root + "/a"},
                                    root + "/first");
    const bool running = wait_for_partial_outputs(first, {out + "/1_converted.mp4"});
    const BatchRun second =
        run_batch({"--jobs", "1", "--output", out, "--report", root + "/second.json", root + "/b"}, root + "/second");
    const BatchRun run = finish_batch(first, root + "/first");
    ASSERT_TRUE(running) << "the first run ended before the second began: " << run.out;

    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    const json a = read_report(root + "/first.json"), b = read_report(root + "/second.json");
    ASSERT_EQ(a.size() + b.size(), 4u);
    const json *long_one = entry_for(a, root + "/a/1.ts"); // 1080p: above the small files' level
    ASSERT_NE(long_one, nullptr);
    EXPECT_EQ(long_one->at("status"), "converted");
    EXPECT_EQ(long_one->at("output"), out + "/1_converted.mp4");
    expect_converted(b, {root + "/b/1.ts", out + "/1_converted_1.mp4", true, true});
    expect_converted(b, {root + "/b/2.ts", out + "/2_converted.mp4", true, true});
    expect_converted(a, {root + "/a/2.ts", out + "/2_converted_1.mp4", true, true});
    const std::vector<std::string> names = {"1_converted.mp4", "1_converted_1.mp4", "2_converted.mp4",
                                            "2_converted_1.mp4"};
    EXPECT_EQ(files_in(out), names);
}

// A name is any bytes: a newline in it must not forge a line of its own, nor an
// escape sequence reach the terminal. The report keeps the name exactly.
TEST(BatchCommand, NamesWithControlCharactersAreEscapedInEveryLineAndExactInTheReport)
{
    const std::string root = scratch_dir("batch/control_names");
    const std::string name = "cam\nconverted: forged.ts -> /tmp/x.mp4\x1b]0;owned\x07";
    const std::string source = root + "/in/" + name + ".ts";
    copy_fixture(FixtureKind::H264AacTs, source);
    copy_fixture(FixtureKind::H264AacTs, root + "/in/" + name + "2.mkv"); // read by its content
    for (const bool dry_run : {true, false}) {
        std::vector<std::string> args = {"--report", root + "/report.json", root + "/in"};
        if (dry_run)
            args.insert(args.begin(), "--dry-run");
        const BatchRun run = run_batch(args, root);
        SCOPED_TRACE(dry_run ? "dry run" : "run");
        EXPECT_EQ(run.out.find_first_of("\x1b\x07"), std::string::npos) << run.out;
        EXPECT_EQ(run.err.find_first_of("\x1b\x07"), std::string::npos) << run.err;
        std::istringstream lines(run.out);
        int line_count = 0;
        for (std::string line; std::getline(lines, line);) {
            line_count++;
            EXPECT_EQ(line.rfind("converted: forged", 0), std::string::npos) << line;
            EXPECT_NE(line.find("cam\\nconverted: forged.ts"), std::string::npos) << line;
        }
        EXPECT_EQ(line_count, 2) << run.out;
    }
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].at("source"), source);
    EXPECT_EQ(report[0].at("output"), root + "/in/" + name + "_converted.mp4");
}

// A damaged recording that converts in part is partial, never plain converted;
// a file named like a recording that is none is reported as skipped; the exit
// status says not everything was converted whole.
TEST(BatchCommand, PartialAndSkippedFilesAreReportedAndFailTheExitStatus)
{
    const std::string root = scratch_dir("batch/partial");
    const std::string in = root + "/in";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01.ts");
    fixtures::ClipRecipe avi = fixtures::fixture_recipe(FixtureKind::MjpegMulawAvi);
    avi.name = "batch_partial";
    avi.duration = 8;
    fixtures::FileDamage noise;
    noise.kind = fixtures::FileDamage::Overwrite;
    noise.at = 0.2;
    noise.length = 600000;
    noise.seed = 3;
    fs::copy_file(fixtures::damaged_clip_path(avi, noise), in + "/cam02.avi");
    for (const char *name : {"/cam04.ts", "/notes.txt"})
        fixtures::write_file(in + name, {'h', 'i', '\n'});

    const BatchRun run = run_batch({"--jobs", "1", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("2 recordings: 1 converted, 1 partial, 1 skipped, 1 other file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("skipped: " + in + "/cam04.ts: not a video file\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("partial: " + in + "/cam02.avi -> " + in + "/cam02_converted.mp4: only 0:"),
              std::string::npos)
        << run.out;
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 3u);
    const json *partial = entry_for(report, in + "/cam02.avi");
    ASSERT_NE(partial, nullptr);
    EXPECT_EQ(partial->at("status"), "partial");
    EXPECT_EQ(partial->at("output"), in + "/cam02_converted.mp4");
    EXPECT_NEAR(partial->at("expected_duration").get<double>(), 8.0, 0.2);
    EXPECT_LT(partial->at("duration").get<double>(), 7.6);
    ASSERT_FALSE(partial->at("problems").empty());
    EXPECT_EQ(partial->at("problems")[0].get<std::string>().rfind("only 0:", 0), 0u);
    const json *whole = entry_for(report, in + "/cam01.ts");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->at("status"), "converted");
    EXPECT_TRUE(whole->at("problems").empty());
    const json *skipped = entry_for(report, in + "/cam04.ts");
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ(skipped->at("status"), "skipped");
    EXPECT_EQ(skipped->at("kind"), "not_media");
    EXPECT_TRUE(skipped->at("output").is_null());
    EXPECT_EQ(entry_for(report, in + "/notes.txt"), nullptr);
}

// A failed conversion says why in a stable kind beside the sentence; the others
// have none.
TEST(BatchCommand, FailuresCarryAStableKind)
{
    const std::string root = scratch_dir("batch/failure_kinds");
    copy_fixture(FixtureKind::H264AacTs, root + "/in/cam01.ts");
    fixtures::write_file(root + "/in/notes.ts", {'h', 'i', '\n'});
    const BatchRun run =
        run_batch({"--report", root + "/report.json", root + "/in/cam01.ts", root + "/in/notes.ts"}, root);
    EXPECT_EQ(run.status, 1) << run.err;
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 2u);
    EXPECT_TRUE(report[0].at("kind").is_null());
    EXPECT_EQ(report[1].at("status"), "failed");
    EXPECT_EQ(report[1].at("kind"), "source_unreadable");
    EXPECT_NE(report[1].at("reason").get<std::string>().find("shows no known recording format"), std::string::npos);
}

TEST(BatchCommand, DryRunListsTheOutputNamesAndWritesNothing)
{
    const std::string root = scratch_dir("batch/dry_run");
    const std::string in = make_export_folder(root);
    const BatchRun run =
        run_batch({"--dry-run", "--output", root + "/out", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, in + "/cam01.ts -> " + root + "/out/cam01_converted.mp4\n" + in + "/intercom.m4a -> " +
                           root + "/out/intercom_converted.mp4\n" + in + "/north/cam02.mkv -> " + root +
                           "/out/cam02_converted.mp4\n");
    EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(root + "/report.json"));

    // A report of an earlier run under that name is left as it was.
    const std::vector<uint8_t> earlier = {'[', ']', '\n'};
    fixtures::write_file(root + "/report.json", earlier);
    EXPECT_EQ(run_batch({"--dry-run", "--output", root + "/out", "--report", root + "/report.json", in}, root).status, 0);
    EXPECT_EQ(fixtures::read_file(root + "/report.json"), earlier);
}

// A report name that would destroy a file is refused before anything is converted.
TEST(BatchCommand, AReportThatWouldReplaceAnotherFileIsRefusedAtOnce)
{
    const std::string root = scratch_dir("batch/report_refused");
    const std::string in = root + "/in", out = root + "/out";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01.ts");
    fs::create_directories(out);
    const std::vector<uint8_t> victim = {'k', 'e', 'e', 'p'};
    fixtures::write_file(root + "/victim.txt", victim);
    fs::create_symlink(root + "/victim.txt", root + "/linked.json.part");
    const std::string name_at_limit(255 - 5, 'r'); // ".part" added: 255 bytes
    // A folder deep enough that a short name brings the report's ".part" path to
    // PATH_MAX - 1 bytes (the longest path the system takes) or PATH_MAX.
    std::string deep = root;
    while (deep.size() < PATH_MAX - 250)
        deep += "/" + std::string(200, 'd');
    fs::create_directories(deep);
    const std::string path_at_limit = deep + "/" + std::string(PATH_MAX - 1 - 5 - deep.size() - 1, 'p');
    struct Case {
        const char *what;
        std::vector<std::string> args;
        const char *message; // nullptr: accepted
    };
    const Case cases[] = {
        {"temporary name is a link", {"--report", root + "/linked.json", in}, "linked.json.part exists already"},
        {"report is a source", {"--report", in + "/cam01.ts", in + "/cam01.ts"}, "is one of the recordings"},
        {"report is a source in a folder", {"--report", in + "/cam01.ts", in}, "is one of the recordings"},
        {"report is a planned output",
         {"--output", out, "--report", out + "/cam01_converted.mp4", in},
         "is the output planned for"},
        {"name too long by one", {"--report", root + "/" + name_at_limit + "x", in}, "too long"},
        {"name at the longest", {"--dry-run", "--report", root + "/" + name_at_limit, in}, nullptr},
        {"path too long by one", {"--report", path_at_limit + "p", in}, "too long"},
        {"path at the longest", {"--dry-run", "--report", path_at_limit, in}, nullptr},
    };
    for (const Case &c : cases) {
        const BatchRun run = run_batch(c.args, root);
        if (!c.message) {
            EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
            continue;
        }
        EXPECT_EQ(run.status, 2) << c.what;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(files_in(out), std::vector<std::string>{}) << c.what;
    }
    EXPECT_EQ(fixtures::read_file(root + "/victim.txt"), victim);
    EXPECT_EQ(fixtures::read_file(in + "/cam01.ts"),
              fixtures::read_file(fixtures::fixture_path(FixtureKind::H264AacTs)));
    EXPECT_EQ(files_in(in), std::vector<std::string>{"cam01.ts"});
}

// _9999 is the last output name the batch command tries; with that one taken too,
// the recording fails without a conversion and the run exits with 1.
TEST(BatchCommand, TheLastOutputNameIsNumber9999AndBeyondItTheFileFails)
{
    const std::string root = scratch_dir("batch/names_taken");
    const std::string in = root + "/in/cam.ts", out = root + "/out";
    copy_fixture(FixtureKind::H264AacTs, in);
    fs::create_directories(out);
    fixtures::write_file(out + "/cam_converted.mp4", {});
    for (int n = 1; n <= 9998; n++)
        fixtures::write_file(out + "/cam_converted_" + std::to_string(n) + ".mp4", {});

    BatchRun run = run_batch({"--dry-run", "--output", out, in}, root);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, in + " -> " + out + "/cam_converted_9999.mp4\n");

    fixtures::write_file(out + "/cam_converted_9999.mp4", {});
    run = run_batch({"--dry-run", "--output", out, in}, root);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, in + " -> (The destination folder already holds too many converted copies of this file.)\n");

    run = run_batch({"--output", out, "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 1) << run.err;
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].at("status"), "failed");
    EXPECT_EQ(report[0].at("reason"), "The destination folder already holds too many converted copies of this file.");
    EXPECT_TRUE(report[0].at("output").is_null());
    EXPECT_EQ(files_in(out).size(), 10000u) << "nothing written, nothing replaced";
}

TEST(BatchCommand, NoRecordingFoundExitsOne)
{
    const std::string root = scratch_dir("batch/nothing_found");
    fs::create_directories(root + "/in");
    fixtures::write_file(root + "/in/notes.txt", {'h', 'i', '\n'});
    const BatchRun run = run_batch({"--dry-run", root + "/in"}, root);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "wardline-convert: no recordings in " + root + "/in\nwardline-convert: nothing to convert (1 other file)\n");
    EXPECT_EQ(run.out, "");
}

TEST(BatchCommand, SearchNamesAFileTooSlowToReadAndStaysQuietAboutTheRest)
{
    const std::string root = scratch_dir("batch/slow_file");
    fs::create_directories(root + "/in");
    fixtures::ClipRecipe r = fixtures::fixture_recipe(FixtureKind::H264AacTs);
    r.name = "many_tags";
    r.format = r.extension = "mp4";
    r.duration = 0.2;
    r.metadata_tags = 100000; // minutes for the libraries to index
    fs::copy_file(fixtures::clip_path(r), root + "/in/tags.mp4");
    fs::copy_file(fixtures::fixture_path(FixtureKind::H264AacTs), root + "/in/cam01.ts");
    fixtures::write_file(root + "/in/notes.txt", {'h', 'i', '\n'});
    const BatchRun run = run_batch({"--dry-run", root + "/in"}, root);
    EXPECT_EQ(run.status, 1) << run.err; // a file not converted
    EXPECT_EQ(run.out, root + "/in/cam01.ts -> " + root + "/in/cam01_converted.mp4\n" + root +
                           "/in/tags.mp4 -> (skipped: too slow to read)\n");
    EXPECT_EQ(run.err, "wardline-convert: " + root + "/in/tags.mp4: too slow to read as media (more than 5 s); skipped\n");
}

// A folder of segments joins into one file named after the first, in name
// order (no recording times here), the order on its line and in the report; the
// time asked for cannot be drawn without a start time, and the line says why.
TEST(BatchCommand, AFoldersRecordingsJoinIntoOneFile)
{
    const std::string root = scratch_dir("batch/join");
    const std::string in = root + "/nvr1";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01_10.ts");
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01_9.ts");
    fs::create_directories(root + "/out");
    const BatchRun run = run_batch(
        {"--join", "--burn-time", "--output", root + "/out", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string out = root + "/out/cam01_9_converted_joined.mp4";
    EXPECT_NE(run.out.find("joined: " + in + "/cam01_9.ts + " + in + "/cam01_10.ts -> " + out), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("time not shown: the recording's start time is not known"), std::string::npos) << run.out;
    EXPECT_EQ(files_in(root + "/out"), std::vector<std::string>{"cam01_9_converted_joined.mp4"});
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].at("segments"), (json{in + "/cam01_9.ts", in + "/cam01_10.ts"}));
    EXPECT_NEAR(fixtures::probe_media(out).duration, 4.0, 0.3);
}

// The same segments joined keeping their pictures, in the confined job: the
// pictures are copied, and the line and the report say so.
TEST(BatchCommand, AJoinKeepsPicturesCodedAlike)
{
    const std::string root = scratch_dir("batch/join_kept");
    const std::string in = root + "/nvr1";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01_1.ts");
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01_2.ts");
    fs::create_directories(root + "/out");
    const BatchRun run =
        run_batch({"--join", "--keep-video", "--output", root + "/out", "--report", root + "/report.json", in}, root);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("cam01_1_converted_joined.mp4 (0:04 of media in"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("; picture kept)"), std::string::npos) << run.out;
    const json report = read_report(root + "/report.json");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].at("picture"), "kept");
    EXPECT_NEAR(fixtures::probe_media(root + "/out/cam01_1_converted_joined.mp4").duration, 4.1, 0.2);
}

TEST(BatchCommand, KeptPicturesAndEvidenceRecordsAreToldAndTheRecordsCheckAgain)
{
    const std::string root = scratch_dir("batch/evidence");
    const std::string in = root + "/export";
    copy_fixture(FixtureKind::H264AacTs, in + "/cam01.ts");
    copy_fixture(FixtureKind::Mpeg4AlawMkv, in + "/cam02.mkv");
    copy_fixture(FixtureKind::AacM4a, in + "/intercom.m4a");
    fs::create_directories(root + "/out");
    const std::string report = root + "/report.json";
    const BatchRun run =
        run_batch({"--keep-video", "--evidence", "--output", root + "/out", "--report", report, in}, root);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("3 converted, 3 evidence records written"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("cam01_converted.mp4 (0:02 of media"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("; picture kept; evidence record written)"), std::string::npos) << run.out;
    const json r = read_report(report);
    const json *kept = entry_for(r, in + "/cam01.ts");
    const json *converted = entry_for(r, in + "/cam02.mkv");
    const json *sound = entry_for(r, in + "/intercom.m4a");
    ASSERT_TRUE(kept && converted && sound);
    EXPECT_EQ(kept->at("picture"), "kept");
    EXPECT_FALSE(kept->contains("picture_not_kept_because"));
    EXPECT_EQ(converted->at("picture"), "converted");
    EXPECT_NE(converted->at("picture_not_kept_because").get<std::string>(), "");
    // A recording without a picture has none to keep.
    EXPECT_FALSE(sound->contains("picture"));
    for (const json *e : {kept, converted, sound})
        EXPECT_TRUE(fs::exists(e->at("evidence").get<std::string>())) << e->at("source");

    const BatchRun intact = run_batch({"--verify", root + "/out"}, root);
    EXPECT_EQ(intact.status, 0) << intact.out << intact.err;
    EXPECT_NE(intact.err.find("6 of 6 files intact (3 records)"), std::string::npos) << intact.err;
    fs::remove(in + "/cam02.mkv");
    const BatchRun missing = run_batch({"--verify", root + "/out"}, root);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("  missing  source " + in + "/cam02.mkv"), std::string::npos) << missing.out;
    // No record to check is no success either.
    fs::create_directories(root + "/empty");
    const BatchRun none = run_batch({"--verify", root + "/empty"}, root);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no evidence record found"), std::string::npos) << none.err;
}

TEST(BatchCommand, ASecondRunSkipsWhatTheFirstConvertedAndForceConvertsAgain)
{
    const std::string root = scratch_dir("batch/rerun");
    const std::string in = make_export_folder(root);
    const std::string out = root + "/out";
    ASSERT_EQ(run_batch({"--output", out, in}, root).status, 0);
    const std::vector<std::string> first = files_in(out);
    ASSERT_EQ(first.size(), 3u);

    const std::string report = root + "/again.json";
    const BatchRun again = run_batch({"--output", out, "--report", report, in}, root);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(files_in(out), first);
    EXPECT_NE(again.out.find("skipped: " + in + "/cam01.ts: already converted into " + out + "/cam01_converted.mp4"),
              std::string::npos) << again.out;
    EXPECT_NE(again.err.find("nothing to convert (3 already converted, 1 other file)"), std::string::npos) << again.err;
    const json skipped_report = read_report(report);
    const json *entry = entry_for(skipped_report, in + "/cam01.ts");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->at("status"), "skipped");
    EXPECT_EQ(entry->at("kind"), "already_converted");
    EXPECT_EQ(entry->at("output"), out + "/cam01_converted.mp4");

    // A recording changed since (its time), and one of the same name from
    // elsewhere, are not the ones converted.
    const auto later = fs::last_write_time(in + "/intercom.m4a") + std::chrono::seconds(5);
    fs::last_write_time(in + "/intercom.m4a", later);
    copy_fixture(FixtureKind::MjpegMulawAvi, root + "/elsewhere/cam01.ts");
    const BatchRun changed = run_batch({"--output", out, in, root + "/elsewhere/cam01.ts"}, root);
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_NE(changed.err.find("2 recordings: 2 converted, 2 already converted"), std::string::npos) << changed.err;
    EXPECT_TRUE(fs::exists(out + "/intercom_converted_1.mp4"));
    EXPECT_TRUE(fs::exists(out + "/cam01_converted_1.mp4"));

    const BatchRun forced = run_batch({"--force", "--output", out, in}, root);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("3 recordings: 3 converted"), std::string::npos) << forced.err;
    EXPECT_TRUE(fs::exists(out + "/cam01_converted_2.mp4"));
}

TEST(BatchCommand, KeepFoldersMirrorsTheSearchedFoldersUnderTheOutput)
{
    const std::string root = scratch_dir("batch/keep_folders");
    copy_fixture(FixtureKind::H264AacTs, root + "/export/nvr1/cam01.ts");
    copy_fixture(FixtureKind::H264AacTs, root + "/export/nvr2/cam01.ts");
    copy_fixture(FixtureKind::AacM4a, root + "/single/door.m4a");
    fs::create_directories(root + "/out");
    const BatchRun dry = run_batch({"--dry-run", "--keep-folders", "--output", root + "/out", root + "/export/",
                                    root + "/single/door.m4a"},
                                   root);
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(files_in(root + "/out").empty()) << "a dry run makes no folder";
    const BatchRun run = run_batch(
        {"--keep-folders", "--output", root + "/out", root + "/export/", root + "/single/door.m4a"}, root);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(root + "/out/export/nvr1/cam01_converted.mp4"));
    EXPECT_TRUE(fs::exists(root + "/out/export/nvr2/cam01_converted.mp4"));
    // A file named by itself goes straight into the output folder.
    EXPECT_TRUE(fs::exists(root + "/out/door_converted.mp4"));
    EXPECT_EQ(files_in(root + "/out"), (std::vector<std::string>{"door_converted.mp4", "export"}));
}

TEST(BatchCommand, BadCommandLinesExitTwoWithAMessage)
{
    const std::string root = scratch_dir("batch/bad_arguments");
    const std::string clip = fixtures::fixture_path(FixtureKind::H264AacTs);
    struct Case {
        const char *what;
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {"nothing to convert", {}, "no recording or folder given"},
        {"unknown option", {"--fast", clip}, "--fast"},
        {"missing source", {root + "/missing.ts"}, "missing.ts"},
        {"zero jobs", {"--jobs", "0", clip}, "--jobs"},
        {"65 jobs", {"--jobs", "65", clip}, "--jobs"},
        {"jobs not a number", {"--jobs", "many", clip}, "--jobs: many is not a number"},
        {"jobs a fraction", {"--jobs", "1.5", clip}, "--jobs: 1.5 is not a whole number"},
        {"output folder missing", {"--output", root + "/nowhere", clip}, "--output"},
        {"output is a file", {"--output", clip, clip}, "--output"},
        {"report folder missing", {"--report", root + "/nowhere/r.json", clip}, "--report"},
        {"report is a folder", {"--report", root, clip}, "is a folder"},
        {"report names a folder", {"--report", root + "/new/", clip}, "names a folder"},
        {"report is a device", {"--report", "/dev/null", clip}, "not a regular file"},
        // Opened to be probed, a pipe would be drained, or waited on for ever.
        {"source is a named pipe", {"--dry-run", root + "/pipe.ts"}, "pipe.ts is a named pipe, not a recording file"},
        {"source is a device", {"--dry-run", "/dev/zero"}, "/dev/zero is a device, not a recording file"},
        // Checking records converts nothing: conversion options make no sense with it.
        {"verify with --output", {"--verify", "--output", root, clip}, "--output"},
        {"verify with --keep-video", {"--verify", "--keep-video", clip}, "--keep-video"},
        {"verify with --evidence", {"--verify", "--evidence", clip}, "--evidence"},
        {"verify with --dry-run", {"--verify", "--dry-run", clip}, "--dry-run"},
        {"verify with --report", {"--verify", "--report", root + "/r.json", clip}, "--report"},
        {"verify with --force", {"--verify", "--force", clip}, "--force"},
        {"keep folders without an output", {"--keep-folders", clip}, "--keep-folders needs --output"},
    };
    fs::remove(root + "/pipe.ts");
    ASSERT_EQ(mkfifo((root + "/pipe.ts").c_str(), 0600), 0);
    for (const Case &c : cases) {
        const BatchRun run = run_batch(c.args, root);
        EXPECT_EQ(run.status, 2) << c.what;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
    }
    // The ends of the range are taken.
    for (const char *jobs : {"1", "64"})
        EXPECT_EQ(run_batch({"--dry-run", "--jobs", jobs, clip}, root).status, 0) << jobs << " jobs";
    for (const char *flag : {"--version", "-V"}) {
        const BatchRun version = run_batch({flag}, root);
        EXPECT_EQ(version.status, 0) << flag;
        EXPECT_EQ(version.out.rfind("wardline-convert 1.", 0), 0u) << version.out;
    }
    const BatchRun help = run_batch({"--help"}, root);
    EXPECT_EQ(help.status, 0);
    size_t at = 0;
    for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES"}) {
        at = ("\n" + help.out).find(std::string("\n") + section + "\n", at);
        EXPECT_NE(at, std::string::npos) << section << " in order";
    }
}

} // namespace
