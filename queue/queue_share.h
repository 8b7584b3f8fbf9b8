// Where a queue of conversions stands: each recording's state, the share of all
// of them done, and the time still needed. One rule for the window and the batch
// command, so that both tell the same figures for the same run. Plain data and
// pure functions; any thread.
#pragma once

#include "ffmpeg_exec.h"

#include <cstdint>
#include <vector>

// What became of one recording of a queue. Partial: converted, but the file is
// not the whole recording (its problems say why).
enum class QueueState { Waiting, Running, Converted, Partial, Failed, Stopped };

// How a finished run leaves its recording.
QueueState state_after_run(const RunOutcome &outcome);
// Converted, partial, failed or stopped: its turn is over.
bool state_finished(QueueState state);
// Converted or partial: its file was written.
bool state_wrote_file(QueueState state);

// One recording as the overall figures see it.
struct QueueShare {
    int64_t duration_us = -1; // its length; -1 while unknown
    int64_t done_us = 0;      // media converted so far, while it runs
    QueueState state = QueueState::Waiting;
};

// The share of all the recordings done, 0 to 1. Each weighs its length; one of
// unknown length weighs as much as the average known one, and with none known
// every recording weighs the same. A running recording counts what it
// converted (by its own length, or by the average when its length is unknown).
double queue_done_fraction(const std::vector<QueueShare> &items);
// The same in whole percent, 0 to 100 (100 only when every turn is over).
int queue_percent(const std::vector<QueueShare> &items);
// The time all of them still need at the pace so far, given the time the queue
// has taken; -1 before anything is done.
int64_t queue_time_left_us(const std::vector<QueueShare> &items, int64_t elapsed_us);

// One run's share in percent: -1 when its length is unknown; 100 only when
// `whole` (the last event of a run not asked to stop), at most 99 before. The
// probed length and the time a run reaches differ by microseconds either way,
// so the time alone would leave a finished run at 99 % or show 100 % while the
// run still drains its encoders.
int run_percent(int64_t done_us, int64_t duration_us, bool whole);
// What a run has converted as the overall figures count it: its length once
// `whole`, else at most a microsecond short of it.
int64_t run_done_us(int64_t done_us, int64_t duration_us, bool whole);
