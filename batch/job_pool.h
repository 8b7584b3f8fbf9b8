// Running the planned conversions, up to N at once, each in its own process (the
// batch command started again in its single-job mode), and collecting how each
// one ended. Also owns the batch's reaction to Ctrl-C: the first SIGINT, SIGTERM
// or SIGHUP stops every running conversion (their partial outputs are removed)
// and starts no more; a second one kills them. Called by main.cpp.
#pragma once

#include "batch_plan.h"
#include "conversion.h"
#include "job_protocol.h"
#include "queue_share.h"

#include <cstdint>
#include <string>
#include <vector>

// A job's state is its recording's state in the queue (queue_share.h): Waiting
// until it starts (or for good, when the batch was stopped first).
using JobStatus = QueueState;

struct JobResult {
    JobStatus status = JobStatus::Waiting;
    std::string reason;       // why it failed or stopped
    std::string failure;      // a failed conversion's kind (run_failure_key); empty otherwise
    int64_t expected_us = -1; // the length the recording declares, as its conversion saw it
    std::vector<std::string> problems; // why a conversion is partial
    int64_t media_us = -1;    // what the output holds, for a converted file
    JobHandling handling;     // how a converted file's recording was treated
    double seconds = -1;      // wall-clock time from start to end of its process
    long max_rss_kb = 0;      // its process's peak resident memory
    // While running, from its last progress event:
    int64_t out_time_us = 0;
    int64_t duration_us = -1; // -1 unknown
    double speed = 0;
};

// Told what happens, on the batch command's thread.
class JobListener {
public:
    virtual ~JobListener() = default;
    virtual void job_started(size_t index) = 0;
    virtual void job_progress(size_t index) = 0;
    virtual void job_finished(size_t index) = 0;
    virtual void tick() = 0; // a few times a second while jobs run
};

// Runs `jobs` (outputs planned into `planned`) with at most `parallel` at once;
// `results` gets one entry per job. Each job's output is checked again as it
// starts (recheck_output), so the name it ends with may be a later one. A job
// without an output name fails without running. Returns the signal that
// interrupted the batch, 0 when every job had its turn.
// `choices` go to every conversion.
int run_batch_jobs(std::vector<BatchJob> *jobs, PlannedOutputs *planned, int parallel,
                   std::vector<JobResult> *results, JobListener *listener,
                   const ConversionChoices &choices = ConversionChoices());
