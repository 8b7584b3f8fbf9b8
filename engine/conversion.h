// The converter's conversion of one recording, as the window and the batch
// command both run it: what to do with the recording (plan_conversion: keep its
// picture or convert it, the time it was recorded), the run itself, and the
// evidence record written beside the output. Both front ends are thin clients of
// run_conversion(); neither builds engine words of its own.
#pragma once

#include "ffmpeg_exec.h"
#include "interlace.h"

#include <cstdint>
#include <string>
#include <vector>

// What a user chose beyond the converter's own conversion. All off by default:
// then the recording is converted exactly as the converter always has.
struct ConversionChoices {
    // Copy the picture unchanged when it is H.264 that ordinary players open
    // (keep_video.h); sound then goes to AAC (copied when it is AAC already).
    bool keep_video = false;
    // Write "<output file name>.evidence.json" beside the output (evidence.h),
    // with the source hashed while the engine reads it.
    bool evidence = false;
    // Name the source in the output's comment tag (source_mark.h), so that a
    // later run knows the output as this recording's.
    bool mark_source = false;
    // Draw the moment each frame was recorded into the picture (burn_time.h),
    // in local time with its offset or in UTC. Only with a known start time.
    enum class TimeInPicture { Off, Local, Utc };
    TimeInPicture time_in_picture = TimeInPicture::Off;
};

// Where the recording's time came from.
enum class RecordingTimeSource {
    None,          // not known: the output carries no creation time
    Container,     // the recording's own creation time tag
    RecorderClock, // the wall-clock time a recorder format stamps on its frames (DAV)
};

// How one recording is to be converted, decided from its content.
struct ConversionPlan {
    std::vector<std::string> words; // the engine's argument vector, "ffmpeg" first
    bool video_kept = false;        // the picture is copied, not converted
    bool audio_kept = false;        // the sound is copied (AAC already), not converted
    // Why the picture is converted although keeping it was asked ("" otherwise):
    // "the picture is HEVC", "the picture is interlaced", ...
    std::string keep_refusal;
    // When the recording began, ISO 8601 in UTC ("2024-03-15T08:00:00.000000Z"),
    // "" when unknown; it becomes the output's creation time.
    std::string recording_time;
    int64_t recording_time_us = -1; // the same in microseconds since the epoch; -1 unknown
    RecordingTimeSource time_source = RecordingTimeSource::None;
    // The time drawn into the picture, or why not when it was asked for.
    bool time_shown = false;
    std::string time_refusal;
    // The codecs of the picture and sound streams converted ("h264", "pcm_alaw";
    // "" when the recording has none, or could not be looked at).
    std::string video_codec;
    std::string audio_codec;
    // Whether the picture is interlaced (interlace.h); a converted one is then
    // deinterlaced before it is encoded, and never kept.
    Interlacing interlacing = Interlacing::Progressive;
    // A join's segments (join.h) in the order joined, left-out ones included.
    std::vector<std::string> joined;
    bool joined_by_time = false; // in the order of their recording times (else by name)
};

// Looks at the recording `source` (through the same guarded, content-recognised
// opening as a conversion; a source that cannot be looked at gets the plain
// conversion, whose run then says why it fails) and plans its conversion into
// `output`. Without choices and without a recording time the words are
// converter_arguments(source, output) exactly.
ConversionPlan plan_conversion(const std::string &source, const std::string &output,
                               const ConversionChoices &choices);

// The engine entry a conversion runs on; tests put in their own.
using EngineEntry = int (*)(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome);

struct ConversionResult {
    ConversionPlan plan;
    RunOutcome outcome;
    std::string evidence_path;  // the record written beside the output; "" when none
    std::string evidence_error; // why a record that was asked for could not be written
};

// Plans and runs one conversion with `observer` (its settings as the caller
// gives them), then, when chosen and the run wrote its file, writes the
// evidence record. Returns the engine's status (0 or -1).
int run_conversion(const std::string &source, const std::string &output, const ConversionChoices &choices,
                   const RunObserver &observer, ConversionResult *result,
                   EngineEntry engine = ffmpeg_exec_observed);

// Runs `plan`'s words on `engine` with `observer`; the wall-clock start and
// end (microseconds since 1970) in `started_us` and `ended_us`. Returns the
// engine's status. run_conversion() and run_join() (join.h) run through it.
int run_plan_words(const ConversionPlan &plan, const RunObserver &observer, RunOutcome *outcome,
                   EngineEntry engine, int64_t *started_us, int64_t *ended_us);

// The plan in a few words for logs and reports: "picture kept, sound converted
// to AAC", "picture converted (the picture is HEVC)", "converted".
std::string plan_summary(const ConversionPlan &plan, const ConversionChoices &choices);
