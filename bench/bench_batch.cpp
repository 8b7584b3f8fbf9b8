// Batch benchmark, run by `make bench-batch` (build/bin/bench_batch [extra job counts...]):
// eight 20-second D1 recordings (720x576, 25 fps, H.264 + AAC in MPEG-TS, made by
// the fixture generator) converted by wardline-convert with --jobs 1 and with its
// default job count (and with each extra count given, on the command line or in
// BENCH_JOBS="2 4": on two cores the default is one job, so BENCH_JOBS=2 is the
// way to a parallel figure there). Prints, for each run, the
// files per minute, the ratio to --jobs 1, and the peak resident memory of the
// largest process of the run (a conversion process: the batch command itself
// only plans and watches), next to that of a single conversion.
//
// Prints figures only; nothing is asserted.
#include "batch_options.h"
#include "fixture_gen.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kRecordings = 8;
constexpr double kSeconds = 20;

fixtures::ClipRecipe d1_recording()
{
    fixtures::ClipRecipe s;
    s.name = "bench_d1";
    s.format = "mpegts";
    s.extension = "ts";
    s.duration = kSeconds;
    fixtures::VideoTrack v;
    v.width = 720;
    v.height = 576;
    v.gop = 50;
    v.threads = 0;
    s.video = {v};
    fixtures::AudioTrack a;
    a.sample_rate = 48000;
    a.channels = 2;
    s.audio = {a};
    return s;
}

struct Measure {
    double seconds = 0;
    long max_rss_kb = 0; // the largest process of the run
    int status = -1;
};

// Runs the batch command with `args`, its output on this terminal's standard error.
Measure run_batch(const std::vector<std::string> &args)
{
    std::vector<char *> argv = {const_cast<char *>(WVC_BATCH_PATH)};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execv(WVC_BATCH_PATH, argv.data());
        _exit(127);
    }
    Measure m;
    int status = 0;
    struct rusage usage = {};
    // The child's usage includes the processes it waited for; its peak memory is
    // that of the largest of them.
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.max_rss_kb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

struct BenchRun {
    const char *label;
    int jobs;
    bool pass_jobs; // false: the command chooses (its default)
    Measure measure;
};

std::string fresh_dir(const fs::path &path)
{
    fs::remove_all(path);
    fs::create_directories(path);
    return path.string();
}

void print_run(const char *label, int jobs, const Measure &m, double base_rate)
{
    const double rate = kRecordings * 60 / m.seconds;
    printf("%-10s --jobs %-2d %7.1f s  %6.2f files/min  ratio %.2f  peak memory per job %6.1f MiB%s\n", label,
           jobs, m.seconds, rate, base_rate > 0 ? rate / base_rate : 1.0, m.max_rss_kb / 1024.0,
           m.status ? "  (FAILED)" : "");
}

// The extra job counts: the arguments, or else the words of BENCH_JOBS (make
// passes that variable on as the arguments, so it is never counted twice).
std::vector<int> extra_job_counts(int argc, char **argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    std::istringstream env(argc < 2 && getenv("BENCH_JOBS") ? getenv("BENCH_JOBS") : "");
    for (std::string word; env >> word;)
        words.push_back(word);
    std::vector<int> counts;
    for (const std::string &word : words) {
        const int jobs = atoi(word.c_str());
        if (jobs > 0)
            counts.push_back(jobs);
        else
            fprintf(stderr, "bench_batch: ignoring the job count '%s'\n", word.c_str());
    }
    return counts;
}

} // namespace

int main(int argc, char **argv)
{
    const fs::path root = fs::path(WVC_BENCH_DIR) / "bench-batch";
    const std::string in = fresh_dir(root / "in");
    const std::string clip = fixtures::clip_path(d1_recording());
    for (int i = 1; i <= kRecordings; i++)
        fs::copy_file(clip, in + "/cam" + std::to_string(i) + ".ts");

    const Measure single = run_batch({"--output", fresh_dir(root / "single"), in + "/cam1.ts"});
    // The program's own rule, in this process's own processor set (the batch
    // command inherits it).
    const int default_jobs = default_job_count();
    std::vector<BenchRun> runs = {{"one job", 1, true, {}}, {"default", default_jobs, false, {}}};
    for (int jobs : extra_job_counts(argc, argv))
        runs.push_back({"extra", jobs, true, {}});

    for (BenchRun &run : runs) {
        std::vector<std::string> args = {"--output", fresh_dir(root / "out")};
        if (run.pass_jobs)
            args.insert(args.end(), {"--jobs", std::to_string(run.jobs)});
        args.push_back(in);
        run.measure = run_batch(args);
    }

    printf("\n%d recordings of %.0f s, 720x576 25 fps H.264 + AAC, %d usable cores (default: %d job%s)\n",
           kRecordings, kSeconds, usable_cores(), default_jobs, default_jobs > 1 ? "s" : "");
    printf("single conversion: %.1f s, peak memory %.1f MiB\n", single.seconds, single.max_rss_kb / 1024.0);
    const double base_rate = kRecordings * 60 / runs[0].measure.seconds;
    for (const BenchRun &run : runs)
        print_run(run.label, run.jobs, run.measure, base_rate);
    if (default_jobs == 1 && runs.size() == 2)
        printf("(the default is one job here: BENCH_JOBS=2 adds a parallel run)\n");
    fs::remove_all(root / "out");
    fs::remove_all(root / "single");
    return 0;
}
