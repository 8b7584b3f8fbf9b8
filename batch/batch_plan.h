// What a batch run will do: the recordings found among the files and folders
// given, and the output each one gets. Everything is planned before the first
// conversion starts, so every output name is reserved up front: two conversions
// of one run never pick the same name, also when sources in different folders
// share a name. Called by main.cpp.
#pragma once

#include "media_scan.h"
#include "recording_search.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct BatchJob {
    std::string source;       // as given, or the given folder's path joined with the file's
    std::string output;       // planned output path; empty when no free name was left
    int64_t duration_us = -1; // the source's duration by the probe; -1 unknown
    // For a file found in a folder given: the folders from that folder's parent
    // down to the file's ("nvr1", "export/nvr1/day2"); empty for a file given
    // by name. --keep-folders mirrors them under --output.
    std::string subfolder;
    // A join (--join): every recording joined into `output`, in the order
    // joined (`source` is the first); empty for a job of one recording.
    std::vector<std::string> segments;
    bool from_folder = false; // found in a folder given, not named directly
    size_t input = 0;         // which of the inputs it came from
};

// A recording an earlier run converted: its output is in the output folder, and
// names it (source_mark.h).
struct AlreadyConverted {
    std::string source;
    std::string output;
};

// The recordings among `inputs` (find_recordings, named files probed for their
// length): a file is taken as it is (the conversion says whether it is media),
// a folder contributes the media files under it in sorted order. A file reached
// twice is taken once. What a folder search passes over goes to `skipped` (when
// given) with why. Folders that cannot be read or hold no recording are named
// on standard error.
std::vector<BatchJob> collect_sources(const std::vector<std::string> &inputs,
                                      std::vector<SkippedFile> *skipped = nullptr);

// --join: the recordings of each folder given become one job, and so do the
// files named directly; each job's segments in the order they are joined
// (join_order). A group of one stays a job of one recording.
std::vector<BatchJob> group_for_join(const std::vector<BatchJob> &jobs);

// The outputs planned in one run, one spelling per file.
using PlannedOutputs = std::set<std::string>;

// Gives each job its output: in `output_dir`, or beside its source when that is
// empty, named by the converter's rule, skipping names that are taken on disk
// (output_naming.h) or already planned for an earlier job; adds them to `planned`.
// With `keep_folders` (and an output_dir), each job's output goes into
// output_dir/<its subfolder>.
void plan_outputs(std::vector<BatchJob> *jobs, const std::string &output_dir, PlannedOutputs *planned,
                  bool keep_folders = false);

// The folder a job's output goes into, as plan_outputs chooses it.
std::string output_folder_for(const BatchJob &job, const std::string &output_dir, bool keep_folders);

// Takes out of `jobs` the recordings whose output from an earlier run is in
// their output folder (output_folder_for), and returns them.
std::vector<AlreadyConverted> take_already_converted(std::vector<BatchJob> *jobs, const std::string &output_dir,
                                                     bool keep_folders);

// Looks at a job's planned output again just before it starts: another run into
// the same folder may have taken the name since (its file is there, or its
// conversion is writing it). The job then gets the next free name in the same
// folder by the same rule, never one planned for another job of this run (empty
// when none is left), and `planned` holds that one too.
void recheck_output(BatchJob *job, PlannedOutputs *planned);
