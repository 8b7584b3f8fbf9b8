// What a conversion process tells the batch command that started it: one JSON
// object per line on a pipe, a "progress" line at the pace of the engine's status
// line and one "end" line after the run. single_job.cpp writes them, job_pool.cpp
// reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a completed run treated its recording, for the line and the report.
struct JobHandling {
    std::string picture;        // "kept" or "converted" when keeping was asked; "" otherwise
    std::string picture_reason; // why a picture asked to be kept was converted
    std::string evidence;       // the evidence record written (any bytes); "" none
    std::string evidence_error; // why a record asked for was not written
    bool deinterlaced = false;  // the picture was interlaced and is not any more
    std::string time;           // "shown" when the recording's time is in the picture; "" otherwise
    std::string time_reason;    // why the time asked for is not in the picture
};

struct JobEvent {
    enum Kind { Progress, End } kind = Progress;
    int64_t out_time_us = 0;  // output time reached (for End: what the output holds)
    int64_t duration_us = -1; // what the output will hold when done; -1 unknown
    double speed = 0;         // output time / wall-clock time
    // End only:
    std::string end;          // "completed", "stopped" or "failed"
    std::string reason;       // why it failed or stopped; empty when completed
    std::string output;       // the file a completed run wrote (any bytes); empty when not said
    std::string failure;      // a failed run's kind (run_failure_key); empty otherwise
    int64_t expected_us = -1; // the length the recording declares; -1 unknown
    std::vector<std::string> problems; // what a completed run fell short in (partial when any)
    JobHandling handling;
};

// What an end line says besides how the run ended.
struct JobEnd {
    std::string reason;
    int64_t out_time_us = 0;
    std::string output;
    std::string failure;
    int64_t expected_us = -1;
    std::vector<std::string> problems;
    JobHandling handling;
};

// One line each, ending in "\n".
std::string encode_progress_line(int64_t out_time_us, int64_t duration_us, double speed);
// `output`: the file written, sent byte for byte (a file name need not be
// UTF-8); empty for none.
std::string encode_end_line(const std::string &end, const JobEnd &details);

// Reads one line (without its "\n"); false when it is not an event.
bool decode_job_event(const std::string &line, JobEvent *event);
