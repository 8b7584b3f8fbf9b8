// The batch command's report: a JSON array with one object per recording,
// {source, output, status, reason, duration, seconds}, so scripts (and jq, when
// merging the reports of several machines) can tell what happened to each file.
// Called by main.cpp.
#pragma once

#include "job_pool.h"

#include <string>
#include <vector>

// "converted", "partial", "failed", "stopped" or "not started".
const char *job_status_name(JobStatus status);

// The report as text, one entry per job and then one per skipped file that is
// listed (SkippedFile::listed): status as above or "skipped"; reason null when
// converted or partial; kind: a failed job's kind (run_failure_key) or a skipped
// file's (skip_reason_key), else null; output (the file written) null unless
// converted or partial; duration in seconds: the media in the output when
// converted or partial, else the source's probed length, null when unknown;
// expected_duration: the length the recording declares, null when unknown;
// problems: what a partial conversion fell short in (plain words), else empty;
// seconds (wall-clock time of the conversion) null when not started.
// A recording converted by an earlier run is "skipped" with kind
// "already_converted" and that run's file as its output.
std::string report_text(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results,
                        const std::vector<SkippedFile> &skipped = {},
                        const std::vector<AlreadyConverted> &already = {});

// The temporary name the report is written under before it is renamed into place.
std::string report_temporary_path(const std::string &path);

// Why the report cannot be written to `path` in a run of `jobs` (outputs
// planned), or "": it would replace one of the run's sources or planned outputs,
// or a file a folder search passed over (`skipped`).
// Checked before any conversion; the report's name is then held in `planned` so
// that no job takes it later.
std::string report_conflict(const std::string &path, const std::vector<BatchJob> &jobs,
                            const std::vector<SkippedFile> &skipped, PlannedOutputs *planned);

// Writes the report to `path` (under report_temporary_path, created anew without
// following a link there, then renamed, so a reader never sees half of one).
// False, with a message on standard error, on failure.
bool write_report(const std::string &path, const std::vector<BatchJob> &jobs,
                  const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped = {},
                  const std::vector<AlreadyConverted> &already = {});
