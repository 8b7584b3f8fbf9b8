// The run in progress as its caller sees it (ffmpeg_exec_observed): progress
// events, stopping early, and the account of how the run ended. The stages report
// what happens where it happens; run.cpp turns it into the RunOutcome at the end.
//
// observe.cpp holds the observer, the failure record and the progress events;
// stop.cpp the stop request, the signals, the interrupt callback and the wake-up
// of a blocked run.
#pragma once

#include "ffmpeg_exec.h"

#include <cstdint>

struct AVFormatContext;
struct AVPacket;

// Where the run is; decides what a stop may break off (see engine_interrupt_cb).
enum class RunPhase { Idle, Opening, Looping, Finishing };

// ---- stop.cpp ----------------------------------------------------------------

// At the start of a run on the calling thread: signal count, stop request and
// stop cause cleared, the run's thread recorded, SIGINT/SIGTERM/SIGHUP handlers
// installed (the previous ones kept).
void begin_run_signals(void);
// At the very end of a run: the previous handlers back, and a signal received
// during the run raised again for them.
void end_run_signals(void);

void set_run_phase(RunPhase phase);
// Set around the loop's reads of an input: the only I/O of the loop a stop may
// break off (a write cut short would spoil the file that is to be finished).
void set_reading_input(bool reading);

// How the run is being stopped: the first cause noticed, or StopCause::None. A
// signal, a stop request and the observer's should_stop() are looked at here.
StopCause engine_stop_cause(void);
// The cause noticed so far, without looking again.
StopCause engine_noted_stop(void);
// The loop ended on the "q" key.
void engine_note_key_stop(void);
// The first termination signal of this run, 0 for none.
int engine_stop_signal(void);

// ---- progress.cpp ----------------------------------------------------------------

// What the status line would say now, as an event (without the duration).
RunProgress progress_snapshot(int is_last, int64_t timer_start, int64_t now);

// ---- observe.cpp ---------------------------------------------------------------

// The observer of the run in progress (may be nullptr) and a clean record.
void observe_begin(const RunObserver *observer);
// True when the observer asked to stop (should_stop(), or an on_progress that
// returned false).
bool observer_wants_stop(void);
// True when the observer listens to progress events.
bool observer_wants_progress(void);
bool observer_discards_stopped_output(void);
bool observer_never_replaces(void);
bool observer_wants_recordings_only(void);
// True when `filename` is the observer's own segment list (RunObserver::own_segment_list).
bool observer_owns_input(const char *filename);
// A finished output went in place under `path` (its final name).
void observe_output_placed(const char *path);
// The first input file has been fetched up to `bytes`.
void observe_source_position(int64_t bytes);

// An input was opened: its length from the "-ss" start on counts for the
// duration the events announce.
void observe_input(const AVFormatContext *ic, int64_t seek_start_us);
// What the first output will hold when the run completes (the longest input,
// cut by the output's own "-ss" and "-t"); -1 when unknown.
int64_t observe_expected_duration(void);
// Sends one progress event (`last`: after the trailers). Called at the pace of the
// status line by the progress report.
void observe_progress(bool last, int64_t timer_start, int64_t now);

// Records why the run fails; the first failure recorded wins (what follows is its
// consequence). `text` is the engine's own words; without it the library's text
// for `error` is kept.
void record_run_failure(RunFailure failure, int error, const char *text = nullptr);
// The failure kind of an error met opening an input file.
RunFailure input_failure(int error);
// The failure kind of an error met opening or writing an output file.
RunFailure output_failure(int error);

// ---- account.cpp: how much of its source a run got ----------------------------------
//
// Counted where it happens: the loop's reads (account_packet, account_input_ended),
// the decoders (account_decode_error), timestamp repair (account_timeline_gap),
// stream choice (account_stream_left_out). Judged once, with the final report
// (account_judge), which also says each problem as a warning line.

struct InFile;
struct InStream;

// The rules of the judgement. Short: under 95 % of the declared length, and
// more than 0.5 s short. Ended early: reading stopped before 95 % of the file's
// bytes, and more than 64 KiB before its end. Unknown figures (negative, or a
// declared length or size of 0) never count.
bool account_clearly_short(int64_t converted_us, int64_t expected_us);
bool account_ended_early(int64_t reached, int64_t size);

void account_begin(void);
// A packet the loop read from `ifile` (damaged when the reader marked it so).
void account_packet(const InFile *ifile, const AVPacket *pkt);
// A read of `ifile` that failed with `error` (not the end of the file): the
// input ends there.
void account_read_error(const InFile *ifile, int error);
// `ifile` reached its end (or an error): how far into the file reading got.
void account_input_ended(const InFile *ifile);
// The decoder of `ist` refused a packet or a frame. Errors before its first
// decoded frame are the cut of a recording (no key frame yet), not damage.
void account_decode_error(const InStream *ist);
// The recording's time jumps by `jump_us` at `at_us` of the output, and the
// jump is closed rather than kept.
void account_timeline_gap(int64_t jump_us, int64_t at_us);
// A video or audio stream of the recording that no output carries although the
// outputs chose their streams themselves; `why` in plain words.
void account_stream_left_out(const InStream *ist, const char *why);
// Judges the run after its last packet was written: `converted_us` is what the
// first output holds, `expected_us` what the recording declares for it (-1
// unknown), `cut` when options cut the run short on purpose (-t, -frames). Says
// each problem found as a warning. Not called for a stopped run.
void account_judge(int64_t converted_us, int64_t expected_us, bool cut);
// The judgement (figures and problems) into `outcome`.
void account_settle(RunOutcome *outcome);

// Fills `outcome` once the run has ended with `status`.
void settle_outcome(RunOutcome *outcome, int status, bool output_removed);
