// The bad-input suite's harness, shared by its test files: what one case hands to
// the converter (`Case`), a table row with what it must give (`Row`), running a
// case in a watched child with the suite's invariants (`run_case`), and the
// inputs most cases are made from.
//
// Every case is held to the same invariants: the child is not killed by a signal
// or a sanitizer, ends within the time limit, stays within the memory bound,
// leaves its input unchanged and no partial file, and either fails (exit status
// 1) with a clear message and no output file, or succeeds with an output that
// reopens as MP4, carries H.264 baseline video and AAC audio with increasing
// timestamps, and decodes without an error.
#pragma once

#include "crafted.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "guarded_child.h"
#include "output_check.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testing {
template <class T> struct TestParamInfo;
}

namespace badinput {

using fixtures::ClipRecipe;
using fixtures::FixtureKind;

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxPeakMiB = 2048; // the sanitizer's shadow memory and quarantine
#else
constexpr long kMaxPeakMiB = 512;
#endif
// What any conversion may take: rows of huge pictures are held to it.
constexpr long kBudgetPeakMiB = long(CONVERSION_MEMORY_BUDGET >> 20);

enum class Expect { Converts, Fails, Either };
// Whether a converted output must carry video.
enum class Video { Any, Present, Absent };

// What one case hands to the converter.
struct Case {
    std::string input;  // as given after "-i"
    std::string output; // as given last
    ChildLimits limits;
    std::vector<std::string> extra; // options before the output (not the converter's own)
    std::vector<std::string> input_options; // options before "-i" (not the converter's own)
    bool input_is_url = false; // the input goes to the engine as written, not made a file path
};

struct Row {
    std::string name;
    Expect expect;
    const char *message; // what the log must say when the run fails
    std::function<Case(const std::string &dir)> make;
    double max_seconds = 0; // a longer output means the timing was not repaired
    double min_seconds = 0; // a shorter one lost part of the recording
    // The media libraries themselves lose memory on this path (no leak check).
    bool library_leaks = false;
    // When it converts: what the log must also say (a warning), whether the
    // output has video, and the video's size (0: any).
    const char *warning = nullptr;
    Video video = Video::Any;
    int width = 0, height = 0;
    long max_peak_mib = 0; // 0: kMaxPeakMiB (the sanitizer's build: at least that)
};

// The converter's words for the case (without the program name).
std::vector<std::string> converter_args(const Case &c);
// `path` as the child sees it, from the case's working folder.
std::string in_dir(const Case &c, const std::string &path);
// Content hash of a file, the listing of a directory, or what stat says.
std::string fingerprint(const std::string &path);
// A fresh, empty scratch folder of the suite.
std::string scratch(const std::string &name);
// Partial outputs (hidden, ending in ".part") in `folder`.
std::vector<std::string> partial_files(const std::string &folder);
std::string folder_of(const std::string &path);
bool sanitizer_spoke(const std::string &err);
// Runs one case and holds it to the invariants; returns the output's facts when
// the conversion succeeded (empty problem), for further checks.
OutputFacts run_case(const Row &row, const Case &c);
std::string row_name(const ::testing::TestParamInfo<Row> &info);
void PrintTo(const Row &row, std::ostream *os);

// ---- making inputs ---------------------------------------------------------------

// `input` converted into "converted.mp4" in `dir`.
Case convert_into(const std::string &dir, const std::string &input);
// `source` copied into `dir` as `name`, converted there.
Case copied(const std::string &dir, const std::string &source, const std::string &name);
// `bytes` written into `dir` as `name`, converted there.
Case written(const std::string &dir, const std::string &name, const Bytes &bytes);
// The case's input handed over through a named pipe beside it, by a writer that
// goes once it has written it: it cannot be read a second time.
std::function<Case(const std::string &)> through_pipe(std::function<Case(const std::string &)> make);
// The suite's H.264 + AAC MPEG-TS clip under its own cache name.
ClipRecipe ts_clip(const std::string &name, double seconds = 2);
ClipRecipe mp4_clip(bool with_audio = true);
// A one-second MJPEG recording of width x height pictures without sound.
ClipRecipe sized(int width, int height);
// The JPEG pictures of that recording, in order.
std::vector<std::string> jpeg_pictures(int width, int height);
std::function<Case(const std::string &)> clip(const ClipRecipe &recipe);
std::function<Case(const std::string &)> fixture(FixtureKind kind);
void write_text(const std::string &path, const std::string &text);

} // namespace badinput
