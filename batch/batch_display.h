// What the batch command shows while it runs. On a terminal: one line per running
// conversion and an overall line with the time left, redrawn in place, with a
// line per finished file scrolling above them. Elsewhere (a pipe, a log file):
// only the line per finished file. Called by main.cpp through JobListener.
#pragma once

#include "job_pool.h"

#include <cstdio>
#include <string>
#include <vector>

class BatchDisplay : public JobListener {
public:
    BatchDisplay(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results, FILE *out, bool live);

    void job_started(size_t index) override;
    void job_progress(size_t index) override;
    void job_finished(size_t index) override;
    void tick() override;
    // Clears the redrawn lines (the finished lines stay).
    void close();

private:
    void clear_live_lines();
    void draw_live_lines();

    const std::vector<BatchJob> &jobs_;
    const std::vector<JobResult> &results_;
    FILE *out_;
    bool live_;
    int live_lines_ = 0;
    double started_s_;
};

// "converted: SRC -> OUT (0:20 of media in 7.1 s)", "joined: A + B -> OUT (...)",
// "partial: SRC -> OUT:
// PROBLEM; PROBLEM", "failed: SRC: REASON", ...
std::string finished_line(const BatchJob &job, const JobResult &result);

// `text` in at most `columns` characters: when longer, its middle becomes "…"
// (UTF-8 sequences kept whole).
std::string shorten_middle(const std::string &text, int columns);

// The redrawn lines, each in at most `columns` characters. A running
// conversion: its file name, shortened in the middle, then its figures, whole
// ("  cam01.ts  42%  0:08 of 0:20  2.5x"). The overall line: "3 of 10 done (2
// converted, 1 failed), 2 running, about 1:20 left", without the counts in
// brackets when it is too long.
std::string running_line(const BatchJob &job, const JobResult &result, int columns);
std::string overall_line(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results, double elapsed_s,
                         int columns);

// The recording a job converts, or a join's in the order joined: "a.ts + b.ts".
std::string sources_text(const BatchJob &job);

// "skipped: PATH: REASON".
std::string skipped_line(const SkippedFile &skipped);

// "0:07", "12:34", "1:02:03": the converter's clock (media_clock_text), whole
// seconds as they are reached.
std::string clock_text(double seconds);

// Seconds the whole batch still needs at the pace so far (queue_time_left_us:
// the window's rule); negative when it cannot be told yet.
double estimate_seconds_left(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results,
                             double elapsed_s);

// "7 converted, 1 partial, 1 failed, 2 stopped, 3 not started, 2 skipped, 5 other
// files" (zero counts left out): skipped counts the listed skipped files, other
// files the rest the searches passed over.
// `already`: recordings skipped as converted by an earlier run ("3 already converted").
std::string summary_text(const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped = {},
                         size_t already = 0);

// "skipped: SRC: already converted into OUT".
std::string already_converted_line(const AlreadyConverted &done);
