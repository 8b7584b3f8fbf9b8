// The batch command's conversion processes under the kernel's confinement, with
// the engine's folder guard switched off (WARDLINE_TEST_DISABLE_INPUT_GUARD=1) so
// that the kernel alone must hold: a job (wardline-convert --single-job, as the
// batch command starts it) converts a crafted playlist whose entry lies in a
// neighbouring folder or on a loopback port, watched with inotify and a listener.
// Then the kernels that lack Landlock or refuse it, through the job and through
// the whole command.
#include "fixture_gen.h"
#include "folder_watch.h"
#include "kernel_fakes.h"
#include "loopback_listener.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string read_text(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string scratch(const std::string &name)
{
    const std::string dir = std::string(WVC_SCRATCH_ROOT) + "/batch_confine/" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

struct JobRun {
    int status = -1; // exit status, or 128 + signal
    std::string err;
    std::vector<json> events; // the job's event lines, for a job
};

// Runs wardline-convert with `args` and the guard off, its standard error in
// `dir`, and for a job its events in a file there (as descriptor 3). `prepare`
// runs in the child before the program starts (to make the kernel seem
// otherwise). Waits at most two minutes.
JobRun run_batch(const std::vector<std::string> &args, const std::string &dir, std::function<bool()> prepare = {})
{
    const std::string err = dir + "/stderr.txt", events = dir + "/events.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int event_fd = open(events.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(err_fd, 2);
        dup2(event_fd, 3);
        setenv("WARDLINE_TEST_DISABLE_INPUT_GUARD", "1", 1);
        if (prepare && !prepare())
            _exit(126);
        std::vector<char *> argv = {const_cast<char *>(WVC_BATCH_PATH)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(WVC_BATCH_PATH, argv.data());
        _exit(127);
    }
    JobRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "wardline-convert did not end";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.err = read_text(err);
    std::istringstream lines(read_text(events));
    for (std::string line; std::getline(lines, line);)
        run.events.push_back(json::parse(line));
    return run;
}

// One conversion process, as the batch command starts it.
JobRun run_job(const std::string &source, const std::string &output, const std::string &dir,
            std::function<bool()> prepare = {})
{
    return run_batch({"--single-job", "3", source, output, ""}, dir, std::move(prepare));
}

std::string end_of(const JobRun &run)
{
    return run.events.empty() ? "no events" : run.events.back().value("end", "no end");
}

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

LoopbackListener &network()
{
    static LoopbackListener listener;
    return listener;
}

// A recording folder with a playlist of one entry, a neighbouring folder holding
// someone else's video, and the destination folder.
struct Folders {
    std::string recording, secret, out, playlist;
};

Folders playlist_folders(const std::string &dir, const std::function<std::string(const Folders &)> &entry)
{
    Folders f{dir + "/recording", dir + "/secret", dir + "/out", ""};
    for (const std::string &d : {f.recording, f.secret, f.out})
        fs::create_directories(d);
    const std::string clip = fixtures::fixture_path(fixtures::FixtureKind::H264AacTs);
    fs::copy_file(clip, f.secret + "/private.ts");
    fs::copy_file(clip, f.recording + "/segment.ts");
    f.playlist = f.recording + "/list.m3u8";
    std::ofstream(f.playlist) << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" << entry(f) << "\n#EXT-X-ENDLIST\n";
    return f;
}

struct EntryRow {
    const char *name;
    std::function<std::string(const Folders &)> entry;
    bool converts;
};

const EntryRow kEntries[] = {
    // Confinement does not stand in the way of the recording's own files.
    {"NextToIt", [](const Folders &) { return std::string("segment.ts"); }, true},
    {"InASiblingFolder", [](const Folders &) { return std::string("../secret/private.ts"); }, false},
    {"ByAbsolutePath", [](const Folders &f) { return f.secret + "/private.ts"; }, false},
    {"ThroughALinkInItsFolder",
     [](const Folders &f) {
         fs::create_symlink("../secret/private.ts", f.recording + "/link.ts");
         return std::string("link.ts");
     },
     false},
    // The libraries already refuse the network for a local playlist; the kernel
    // would refuse the socket too.
    {"OnTheNetwork", [](const Folders &) { return network().url("x.ts"); }, false},
};

void PrintTo(const EntryRow &row, std::ostream *os)
{
    *os << row.name;
}

std::string entry_name(const ::testing::TestParamInfo<EntryRow> &info)
{
    return info.param.name;
}

class PlaylistEntry : public ::testing::TestWithParam<EntryRow> {};
TEST_P(PlaylistEntry, AJobWithoutTheFolderGuardReachesOnlyTheRecordingsFolder)
{
    const EntryRow &row = GetParam();
    if (!kernel_landlock_abi() || !kernel_has_seccomp())
        GTEST_SKIP() << "the kernel lacks Landlock or seccomp: the folder guard alone holds";
    const std::string dir = scratch(std::string("entry_") + row.name);
    const Folders f = playlist_folders(dir, row.entry);
    const int connections = network().connections();
    FolderWatch secret(f.secret);
    const JobRun run = run_job(f.playlist, f.out + "/list_converted.mp4", dir);

    EXPECT_EQ(secret.touches(), 0) << "the job opened a file of another folder";
    EXPECT_EQ(network().connections(), connections) << "the job went to the network";
    EXPECT_NE(run.err.find("The folder guard is off"), std::string::npos) << run.err;
    if (row.converts) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(end_of(run), "completed");
        EXPECT_EQ(files_in(f.out), std::vector<std::string>{"list_converted.mp4"});
    } else {
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(end_of(run), "failed");
        EXPECT_EQ(files_in(f.out), std::vector<std::string>{});
    }
}
INSTANTIATE_TEST_SUITE_P(Confined, PlaylistEntry, ::testing::ValuesIn(kEntries), entry_name);

// ---- kernels --------------------------------------------------------------------------

TEST(JobKernel, WithoutLandlockTheJobSaysSoAndConverts)
{
    if (!kernel_has_seccomp())
        GTEST_SKIP() << "needs seccomp to make a kernel without Landlock";
    const std::string dir = scratch("no_landlock");
    const std::string source = dir + "/cam01.ts", output = dir + "/cam01_converted.mp4";
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), source);
    const JobRun run = run_job(source, output, dir, fake_kernel_without_landlock);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(end_of(run), "completed");
    EXPECT_TRUE(fs::exists(output));
    // One line, at the info level (shown by default).
    const std::string line = "the kernel has no Landlock: only the engine's folder guard limits the files read";
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(line), run.err.rfind(line));
}

TEST(JobKernel, WithLandlockTheJobSaysNothingOfIt)
{
    if (!kernel_landlock_abi())
        GTEST_SKIP() << "the kernel has no Landlock";
    const std::string dir = scratch("landlock");
    const std::string source = dir + "/cam01.ts";
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), source);
    const JobRun run = run_job(source, dir + "/cam01_converted.mp4", dir);
    EXPECT_EQ(end_of(run), "completed") << run.err;
    EXPECT_EQ(run.err.find("Landlock"), std::string::npos) << run.err;
}

// A job that cannot be confined (the kernel takes no more Landlock layers for it)
// converts nothing and says why: in its end line and in the command's report.
TEST(JobKernel, AJobThatCannotBeConfinedFailsClearlyAndConvertsNothing)
{
    if (!kernel_landlock_abi())
        GTEST_SKIP() << "the kernel has no Landlock";
    const std::string dir = scratch("refused");
    fs::create_directories(dir + "/in");
    fs::create_directories(dir + "/out");
    const std::string source = dir + "/in/cam01.ts";
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), source);
    const std::string reason = "could not confine the conversion (Landlock: " + std::string(strerror(E2BIG)) + ")";

    const JobRun job = run_job(source, dir + "/out/cam01_converted.mp4", dir, fill_landlock_layers);
    EXPECT_EQ(job.status, 1);
    ASSERT_EQ(job.events.size(), 1u);
    EXPECT_EQ(job.events[0].value("end", ""), "failed");
    EXPECT_EQ(job.events[0].value("reason", ""), reason);

    const JobRun command =
        run_batch({"--output", dir + "/out", "--report", dir + "/report.json", dir + "/in"}, dir, fill_landlock_layers);
    EXPECT_EQ(command.status, 1) << command.err;
    const json report = json::parse(read_text(dir + "/report.json"));
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].at("status"), "failed");
    EXPECT_EQ(report[0].at("reason"), reason);
    EXPECT_EQ(files_in(dir + "/out"), std::vector<std::string>{});
}

} // namespace
