// One file from a recorder export's segments (cam01_0800.ts, cam01_0900.ts,
// ...): their order, the time between them, and the engine words that join
// them. Segments go in the order of their recording times when every one is
// known (creation time, a DAV recorder's clock), else by name in natural order
// (cam01_2 before cam01_10). Pictures take the first segment's size, keeping
// their shape; between segments whose times are known a gap up to
// JOIN_KEPT_GAP_US is kept (the last picture held, silence), a longer one is
// closed and told as a problem. A segment that cannot be read is left out and
// told by name: the joined file is then partial, never silently shorter.
// With keeping the picture asked, segments whose pictures can all be kept and
// are coded alike are joined without converting their pictures (the gaps kept
// then hold the last picture as a player shows it); otherwise every picture is
// converted and the plan says why. Called by the batch command's jobs and the
// window's worker.
#pragma once

#include "conversion.h"

#include <cstdint>
#include <string>
#include <vector>

// The longest gap between segments that is kept in the joined file.
constexpr int64_t JOIN_KEPT_GAP_US = 10 * 1000000LL;

struct JoinSegment {
    std::string source;
    int64_t start_us = -1;    // when it began, microseconds since 1970; -1 unknown
    int64_t duration_us = -1; // its length; -1 unknown
    int width = 0, height = 0; // its picture; 0 without one
    int sample_rate = 0, channels = 0; // its sound; 0 without
    int video_stream = -1, audio_stream = -1; // the streams the join takes; -1 none
    int rate_num = 0, rate_den = 1;    // its picture rate; 0 unknown
    Interlacing interlacing = Interlacing::Progressive;
    std::string format;       // the reader its container is read with ("mpegts", ...)
    // Looked at only when keeping the picture is asked: why its picture cannot
    // be kept on its own ("" when it can), and what its coding must share with
    // the other segments' for their pictures to be copied into one stream.
    std::string keep_refusal;
    std::string picture_params;
    std::string left_out;     // why it is not in the joined file; "" when it is
    int64_t held_before_us = 0;   // the gap before it, kept
    int64_t closed_before_us = 0; // the gap before it, closed
};

struct JoinPlan {
    std::vector<JoinSegment> segments; // in the order joined (left-out ones where they stand)
    bool by_time = false;              // ordered by recording time (else by name)
    int64_t expected_us = -1;          // what the joined file should hold; -1 unknown
    std::vector<RunProblem> problems;  // segments left out, gaps closed
    // When the pictures are kept: the list the engine reads them through (a
    // "data:" URL, join_graph.h); "" when they are converted.
    std::string segment_list;
};

// True when `a` comes before `b` in natural order: runs of digits compare as
// numbers ("cam2" < "cam10"), the rest byte by byte; equal numbers with more
// leading zeros first.
bool natural_less(const std::string &a, const std::string &b);

// The sources in the order a join takes them (a quick look at each one's
// recording time; order_segments), for naming the joined file before it is made.
std::vector<std::string> join_order(const std::vector<std::string> &sources);

// Puts the segments in order (by time when every segment that is joined has
// one, else by file name in natural order) and sets `by_time`.
void order_segments(JoinPlan *plan);

// Decides each gap between consecutive joined segments with known times, and
// the joined file's expected length; closed gaps and left-out segments become
// problems.
void place_gaps(JoinPlan *plan);

// Looks at each source (one guarded probe each, as a conversion's plan does)
// and plans the joined file: its order, gaps and the engine's words in
// `result->plan` (recording time, picture and time choices as for one
// recording; the picture kept as above). 0, or AVERROR_INVALIDDATA when no
// segment can be read.
int plan_join(const std::vector<std::string> &sources, const std::string &output, const ConversionChoices &choices,
              JoinPlan *join, ConversionPlan *plan);

// Plans and runs the join with `observer`, as run_conversion() does for one
// recording (evidence record too, naming every segment); the plan's problems
// join the run's. Returns the engine's status (0 or -1).
int run_join(const std::vector<std::string> &sources, const std::string &output, const ConversionChoices &choices,
             const RunObserver &observer, ConversionResult *result, JoinPlan *join,
             EngineEntry engine = ffmpeg_exec_observed);
