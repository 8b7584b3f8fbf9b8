// Keeping the original picture against converting it, run by hand
// (build/bin/bench_keep [seconds] [clips]):
//
//  one recording  a generated 1080p25 H.264 + AAC MPEG-TS recording of `seconds`
//                 (default 30; 3600 works, and takes a while to generate) kept
//                 through run_conversion (keep_video and evidence: the look at its
//                 first pictures, the picture and sound copied, both files hashed)
//                 and converted with the converter's twelve words. Prints both
//                 times and the ratio.
//  a folder       `clips` (default 8) 30-second recordings of the same kind in one
//                 folder, each kept in turn: files a minute.
//  a join         the same recordings joined into one file through run_join,
//                 their pictures kept, then converted: both times and the ratio.
//
// Prints figures only; nothing is asserted.
#include "fixture_gen.h"
#include "conversion.h"
#include "join.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double now_s()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

int run_words(const std::vector<std::string> &words)
{
    std::vector<std::string> copy = words;
    std::vector<char *> argv;
    for (std::string &w : copy)
        argv.push_back(w.data());
    RunObserver observer;
    RunOutcome outcome;
    return ffmpeg_exec_observed(int(argv.size()), argv.data(), &observer, &outcome);
}

// One recording as the converter keeps it: the plan (the look at its first
// pictures), the kept words and the evidence record (both files hashed); false
// when it failed or was not kept.
bool keep(const std::string &source, const std::string &output)
{
    ConversionChoices choices;
    choices.keep_video = true;
    choices.evidence = true;
    RunObserver observer;
    ConversionResult result;
    const int status = run_conversion(source, output, choices, observer, &result);
    if (!result.plan.video_kept)
        fprintf(stderr, "%s is not kept: %s\n", source.c_str(), result.plan.keep_refusal.c_str());
    if (!result.evidence_error.empty())
        fprintf(stderr, "%s: no evidence record: %s\n", source.c_str(), result.evidence_error.c_str());
    return status == 0 && result.plan.video_kept && !result.evidence_path.empty();
}

double timed(const std::function<bool()> &work, const char *what)
{
    const double t0 = now_s();
    if (!work())
        throw std::runtime_error(std::string(what) + " failed");
    return now_s() - t0;
}

std::string fresh_dir(const std::string &name)
{
    const std::string dir = fixtures::fixture_dir() + "/" + name + "-" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

void one_recording(double seconds, const std::string &work)
{
    const double t0 = now_s();
    const std::string source = fixtures::clip_path(fixtures::benchmark_1080p_recipe(seconds));
    printf("recording: %.0f s of 1080p25 H.264 + AAC (%.1f MiB), ready in %.1f s\n", seconds,
           double(std::filesystem::file_size(source)) / (1 << 20), now_s() - t0);
    const double kept = timed([&] { return keep(source, work + "/kept.mp4"); }, "keeping");
    printf("  kept       %8.2f s  (%.0fx real time)\n", kept, seconds / kept);
    std::vector<std::string> convert = converter_arguments(source, work + "/converted.mp4");
    convert.insert(convert.begin() + 1, "-nostats");
    const double converted = timed([&] { return run_words(convert) == 0; }, "converting");
    printf("  converted  %8.2f s  (%.2fx real time)\n", converted, seconds / converted);
    printf("  keeping took 1/%.0f of converting's time\n", converted / kept);
}

// One join of `sources` into `output`; false when it failed or did not keep
// the pictures when asked to.
bool join(const std::vector<std::string> &sources, const std::string &output, bool keep_pictures)
{
    ConversionChoices choices;
    choices.keep_video = keep_pictures;
    ConversionResult result;
    JoinPlan plan;
    const int status = run_join(sources, output, choices, RunObserver(), &result, &plan);
    if (keep_pictures && !result.plan.video_kept)
        fprintf(stderr, "the join is not kept: %s\n", result.plan.keep_refusal.c_str());
    return status == 0 && result.plan.video_kept == keep_pictures;
}

void joined_clips(const std::vector<std::string> &sources, const std::string &work)
{
    const double kept = timed([&] { return join(sources, work + "/joined_kept.mp4", true); }, "a kept join");
    printf("join: %zu 30-second 1080p recordings\n", sources.size());
    printf("  kept       %8.2f s  (%.0fx real time)\n", kept, 30.0 * double(sources.size()) / kept);
    const double converted =
        timed([&] { return join(sources, work + "/joined_converted.mp4", false); }, "a converted join");
    printf("  converted  %8.2f s  (%.2fx real time)\n", converted, 30.0 * double(sources.size()) / converted);
    printf("  keeping took 1/%.0f of converting's time\n", converted / kept);
}

std::vector<std::string> folder_of_clips(int clips, const std::string &work)
{
    // Copies of one generated clip: what keeping costs does not depend on the picture.
    const std::string clip = fixtures::clip_path(fixtures::benchmark_1080p_recipe(30));
    const std::string folder = work + "/folder";
    std::filesystem::create_directories(folder);
    std::vector<std::string> sources;
    for (int i = 0; i < clips; i++) {
        sources.push_back(folder + "/cam" + std::to_string(i + 1) + ".ts");
        std::filesystem::copy_file(clip, sources.back());
    }
    const double t0 = now_s();
    for (int i = 0; i < clips; i++)
        if (!keep(sources[size_t(i)], folder + "/cam" + std::to_string(i + 1) + "_converted.mp4"))
            throw std::runtime_error("keeping " + sources[size_t(i)] + " failed");
    const double took = now_s() - t0;
    printf("folder: %d 30-second 1080p recordings kept in %.2f s: %.0f files/min\n", clips, took,
           clips * 60 / took);
    return sources;
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? atof(argv[1]) : 30;
    const int clips = argc > 2 ? atoi(argv[2]) : 8;
    if (seconds <= 0 || clips <= 0) {
        fprintf(stderr, "usage: bench_keep [seconds > 0] [clips > 0]\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    const std::string work = fresh_dir("bench_keep");
    try {
        one_recording(seconds, work);
        joined_clips(folder_of_clips(clips, work), work);
    } catch (const std::exception &e) {
        fprintf(stderr, "bench_keep: %s\n", e.what());
        std::filesystem::remove_all(work);
        return 1;
    }
    std::filesystem::remove_all(work);
    return 0;
}
