// The conversion process: the batch command started again by itself in a hidden
// mode to run one conversion, so that jobs run side by side in separate engine
// processes (the engine runs one conversion per process). Called by main.cpp.
#pragma once

#include "conversion.h"

#include <string>
#include <vector>

// The hidden mode's first argument: wardline-convert --single-job FD SOURCE OUTPUT CHOICES
constexpr char SINGLE_JOB_ARGUMENT[] = "--single-job";

// The hidden mode of a join: wardline-convert --join-job FD OUTPUT CHOICES SOURCE...
constexpr char JOIN_JOB_ARGUMENT[] = "--join-job";

// The choices as the hidden mode's last argument ("keep-video,evidence,mark-source",
// "" for none), and back.
std::string choices_argument(const ConversionChoices &choices);
ConversionChoices choices_from_argument(const std::string &text);

// Runs the converter's conversion of `source` into `output`, writing its events
// (job_protocol.h) to `event_fd`. The process first confines itself to the
// source's folder and the output's (platform/confine.h); when that fails for
// another reason than a kernel without Landlock, nothing is converted and the end
// line says why. A stopped run leaves no output. Returns the process's exit
// status: 0 converted, 1 failed, 128 + n when stopped by signal n.
int run_single_job(int event_fd, const char *source, const char *output, const ConversionChoices &choices);

// The same for a join of `sources` (join.h) into `output`; the process may read
// every source's folder.
int run_join_job(int event_fd, const std::vector<std::string> &sources, const char *output,
                 const ConversionChoices &choices);
