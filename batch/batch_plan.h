// What a batch run will do: the recordings found among the files and folders
// given, and the output each one gets. Everything is planned before the first
// conversion starts, so every output name is reserved up front: two conversions
// of one run never pick the same name, also when sources in different folders
// share a name. Called by main.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BatchJob {
    std::string source;       // as given, or the given folder's path joined with the file's
    std::string output;       // planned output path; empty when no free name was left
    int64_t duration_us = -1; // the source's duration by the probe; -1 unknown
};

// The recordings among `inputs`: a file is taken as it is (the conversion says
// whether it is media), a folder contributes the media files under it in sorted
// order. A file reached twice (named twice, or named and inside a named folder)
// is taken once. Problems reading a folder go to standard error.
std::vector<BatchJob> collect_sources(const std::vector<std::string> &inputs);

// Gives each job its output: in `output_dir`, or beside its source when that is
// empty, named by the converter's rule, skipping names that exist on disk or are
// already planned for an earlier job.
void plan_outputs(std::vector<BatchJob> *jobs, const std::string &output_dir);

// `path` as the engine's argument vector should carry it: a relative path that
// could read as an option ("-x.ts") or as a protocol ("rtp:x.ts") gets "./" in
// front; anything else is unchanged.
std::string engine_safe_path(const std::string &path);
