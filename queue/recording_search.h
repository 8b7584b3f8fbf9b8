// Which recordings a set of files and folders stands for, and where each one's
// output goes: one search for the window and the batch command. A file named
// is taken as it is; a folder gives the media files under it (media_scan.h) in
// sorted order, and what it passed over with why. Any thread.
#pragma once

#include "media_scan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FoundRecording {
    std::string source;       // as named, or the folder's path joined with the file's
    int64_t duration_us = -1; // by the probe; -1 unknown (or not probed)
    // For a file found in a folder named: the folders from that folder down to
    // the file's ("" for a file directly inside it, "day2/cam01"), and the named
    // folder's own name ("nvr1"). Empty for a file named directly.
    std::string inner_folder;
    std::string folder_name;
    size_t input = 0; // which of the inputs it came from
};

struct RecordingSearch {
    std::vector<FoundRecording> recordings;
    std::vector<SkippedFile> skipped;         // what the folder searches passed over
    std::vector<std::string> unreadable_folders; // named folders that could not be read
    std::vector<std::string> empty_folders;   // named folders without any recording
    bool stopped = false;                     // `stopped` said yes: the lists are not whole
};

// The recordings among `inputs`, in their order. A file reached twice (named
// twice, named and inside a named folder, or through a link) is taken once,
// where it came first. With `probe_named_files`, a file named directly is
// probed for its length too (a failure to open it is not judged here: its
// conversion says why). `stopped`, when given, is asked between files; once it
// says yes the search ends early with what it found so far.
RecordingSearch find_recordings(const std::vector<std::string> &inputs, bool probe_named_files,
                                const std::function<bool()> &stopped = nullptr);

// The folders a recording's output goes under when its folders are mirrored:
// "nvr1/day2" for nvr1/day2/cam01.ts found in the named folder nvr1. With
// `with_folder_name` false, only the folders inside the named one ("day2").
std::string mirrored_folder(const FoundRecording &recording, bool with_folder_name);

// The folder an output goes into: `output_dir` joined with `subfolder` (when
// both are given), `output_dir`, or beside the source when `output_dir` is empty.
std::string output_folder_for(const std::string &source, const std::string &subfolder,
                              const std::string &output_dir);

// One spelling per file: the absolute path with symbolic links resolved as far
// as they exist. Two paths name the same file (or the same future file) when
// their identities are equal.
std::string path_identity(const std::string &path);
