// Entry point of the transcoding engine.
//
// ffmpeg_exec() takes an argument vector in the style of the FFmpeg command line
// (argv[0] is a program name and is not read), performs one complete conversion on
// the calling thread and returns 0 when the run reached its end, or -1 when option
// parsing, the output check or the transcode set-up failed. The engine keeps its
// state in process-wide tables: one run at a time per process. argv is neither
// freed nor kept.
//
// Callers that want more than the status (the converter window, the batch
// command) use ffmpeg_exec_observed(): the same run, with progress events while it
// goes and a typed account of how it ended.
//
//     RunObserver observer;
//     observer.on_progress = [&](const RunProgress &p) { show(p); return !cancelled; };
//     observer.discard_when_stopped = true;
//     RunOutcome outcome;
//     ffmpeg_exec_observed(argc, argv, &observer, &outcome);
//     if (outcome.end == RunEnd::Failed) explain(outcome.failure, outcome.error_text);
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

int ffmpeg_exec(int argc, char **argv);

// Asks the run in progress to stop as if "q" had been pressed: the loop ends at its
// next turn, the outputs are finished with their trailers and the run returns 0
// (-1 when it was still opening its files: nothing was converted yet). A run
// blocked on input (a named pipe without writer, a hung network folder) is woken
// (SIGURG to its thread) and ends within a second. Safe to call from any thread (the converter window
// calls it from the GUI thread while the run is on the worker thread). Every run
// clears the request when it starts, so a request made between runs does not stop
// the next one: callers that may ask before the run has begun also give the run a
// RunObserver::should_stop.
void ffmpeg_request_stop(void);

// ---- the converter's conversion ----------------------------------------------------

// The twelve words of one conversion of `source` into `output`: "ffmpeg", "-i",
// source, "-c:v", "libx264", "-profile:v", "baseline", "-level", "3", "-strict", "-2",
// output, each path as file_path_argument() gives it. Everyone who runs the
// converter's conversion (the window's worker, the batch command, tests,
// fuzzing) builds them here.
std::vector<std::string> converter_arguments(const std::string &source, const std::string &output);

// A user's file path as the libraries must be handed it: always as a path, never
// as an option ("-1.ts") or a URL ("http:", "pipe:0", "concat:a|b", or
// "subfile,,0,9,:x" in any folder). A relative path gets "./" in front, so
// nothing before its first "/" can name a protocol; an absolute path and ""
// stay as they are. Every open of a path a user gave goes through it.
std::string file_path_argument(const std::string &path);

// The memory one conversion of the converter's may take at its peak, whatever
// its input: pictures beyond what H.264 level 5.1 holds are scaled down to it,
// and decoders refuse larger pictures. The batch command plans its jobs by it.
constexpr int64_t CONVERSION_MEMORY_BUDGET = int64_t(2) << 30;

// ---- observed runs ---------------------------------------------------------------------
//
// SIGINT, SIGTERM and SIGHUP belong to the engine only while a run is in progress (either
// entry): a signal stops the run as "q" does, and once the run has finished its
// files and restored the handlers that were there before, it is raised again for
// them. The first signal also breaks off blocking input; a second one every
// blocking call, the trailers included.

// How far a run has come. Sent at the pace of the status line (every half second)
// and once more, with `last` set, after the trailers are written.
struct RunProgress {
    int64_t out_time_us = 0;  // output time reached (the status line's "time=")
    int64_t duration_us = -1; // what the output holds when the run completes; -1 unknown
    int64_t frames = 0;       // video frames written (the status line's "frame=")
    double speed = 0;         // output time / wall-clock time; 0 until known
    int64_t bytes = 0;        // bytes written to the first output, buffered ones included
    int64_t elapsed_us = 0;   // wall-clock time since the loop started
    bool last = false;        // the final event
};

enum class RunEnd {
    Completed, // every output finished, status 0
    Stopped,   // ended early on request: a stop request, the "q" key or a signal
    Failed,    // status -1
};

enum class StopCause { None, Request, Key, Signal };

// Why a run failed, in the terms a user can act on.
enum class RunFailure {
    None,
    SourceUnreadable,       // the source cannot be opened or read as media
    SourceMissing,          // no file under the source's name
    SourceIsFolder,         // the source names a folder, not a file
    SourceNoStream,         // the source has no stream the output can take
    DestinationMissing,     // the output's folder does not exist
    DestinationNotWritable, // the output's folder or file may not be written
    DiskFull,               // no space left, quota exceeded or file-size limit
    OutputNameRefused,      // the output name is too long or invalid there
    EncoderRefused,         // an encoder refused the input (a picture size, a format)
    Other,
};

// Something a run met that makes its output less than the whole recording,
// while the file itself is complete and plays: told, never silently passed over.
enum class RunProblemKind {
    ShortOfDeclaredLength, // a: media converted, b: the length the recording declares (us)
    ReadingStoppedEarly,   // a: bytes of the file reached, b: its size
    DamagedPackets,        // a: packets the reader marked damaged or could not read
    DecodeErrors,          // a: pictures or blocks of sound the decoders could not decode
    StreamLeftOut,         // a: the stream's index; detail: "video" or "audio"
    TimelineGap,           // a: how far the recording's time jumps, b: where in the output (us)
    SegmentLeftOut,        // a joined segment not in the file; detail: its file name
};

struct RunProblem {
    RunProblemKind kind = RunProblemKind::DamagedPackets;
    int64_t a = 0, b = 0;
    std::string detail;
    std::string text; // the problem in plain English, one line
};

struct RunOutcome {
    int status = 0;              // what ffmpeg_exec() returns for the same run
    RunEnd end = RunEnd::Completed;
    StopCause stop = StopCause::None; // for RunEnd::Stopped
    int signal = 0;              // the signal that stopped the run, 0 for none
    RunFailure failure = RunFailure::None; // for RunEnd::Failed
    int error = 0;               // the library error code behind the failure, 0 if none
    std::string error_text;      // the library's text for it, or the engine's own message
    bool output_removed = false; // the run's output files were removed again
    // The files the run put in place, under the names they ended with (a run
    // that never replaces may have moved on to another name).
    std::vector<std::string> outputs;

    // How much of its source a run that wrote its files got (also told for the
    // engine's command line, one warning line per problem). A completed run with
    // problems is partial: its file is complete but not the whole recording.
    bool partial = false;
    std::vector<RunProblem> problems;
    int64_t expected_duration_us = -1;  // the length the recording declares; -1 unknown
    int64_t converted_duration_us = -1; // what the output holds; -1 unknown
    int64_t source_size = -1;           // bytes of the (first) input file; -1 unknown (a pipe)
    int64_t bytes_reached = -1;         // how far into it reading got; -1 unknown
    int64_t damaged_packets = 0;
    int64_t decode_errors = 0;
    int streams_left_out = 0;
};

struct RunObserver {
    // Called on the run's thread; returning false asks the run to stop (as
    // ffmpeg_request_stop() does). May be empty.
    std::function<bool(const RunProgress &)> on_progress;
    // Polled by the loop and by blocking I/O; true asks the run to stop. Lets a
    // caller ask before the run has begun. May be empty.
    std::function<bool()> should_stop;
    // A run ended early (stop request, key, signal) removes the files it created,
    // as a failed run does; without it they are finished with their trailers.
    bool discard_when_stopped = false;
    // A file at an output's name is never replaced, also one that appears while
    // the run converts (another conversion into the same folder): an output named
    // by the converter's rule (output_naming.h) then takes the rule's next free
    // name, any other output fails the run. RunOutcome::outputs says where the
    // files went. Without it an existing file is replaced once the new one is
    // complete.
    bool never_replace = false;
    // Inputs named by a path must be recordings: regular files (a named pipe, a
    // device or a folder fails the run at once, before anything is opened: a pipe
    // would be waited on, or drained), read as the format their content shows
    // (recognise_by_content in media_scan.h), never one only their name suggests.
    bool recordings_only = false;
    // The one input that is not a recording's path and still passes
    // `recordings_only`: the segment list through which a join reads the
    // pictures it keeps (join.h), made by the join itself. "" for none.
    std::string own_segment_list;
    // When set, kept at how many bytes of the first input file the engine has
    // fetched so far: a reader following behind it (the evidence record's hash)
    // finds those bytes in memory instead of reading the disk a second time.
    std::atomic<int64_t> *source_read_position = nullptr;
    // When not negative, the length the output should hold (a join's segments
    // and the gaps kept between them), instead of the longest input's.
    int64_t expected_duration_us = -1;
};

// ffmpeg_exec() with an observer (may be nullptr) and an account of the end (may be
// nullptr). The status returned is the one ffmpeg_exec() would return.
int ffmpeg_exec_observed(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome);

// Short English name of a failure kind ("source unreadable", ...), for logs and reports.
const char *run_failure_name(RunFailure failure);
// The same as a stable key for scripts ("source_unreadable", ...).
const char *run_failure_key(RunFailure failure);

// Short English name of a problem kind ("short of its length", ...), for reports.
const char *run_problem_name(RunProblemKind kind);
// A problem with its figures, its one line of English and what it concerns.
RunProblem run_problem(RunProblemKind kind, int64_t a, int64_t b, const std::string &text,
                       const std::string &detail = "");

// A length of media as people read it: "m:ss" below an hour, "h:mm:ss" from there
// on; negative lengths as "0:00". The clock of every text of the converter's.
std::string media_clock_text(int64_t microseconds);
// The libraries' words for an error code ("No such file or directory").
std::string av_error_words(int error);
