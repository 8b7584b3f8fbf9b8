// How a conversion's output is named: "<stem>_converted.mp4", then
// "<stem>_converted_<n>.mp4" for n = 1, 2, ... until a name is free; a join of
// several recordings is named after its first with a mark before the number:
// "<stem>_converted_joined.mp4", "<stem>_converted_joined_<n>.mp4". Owned here so
// every front end names files alike: the batch command (which also reserves the
// names its jobs are about to write) and the converter window. Plain strings, no
// Qt; whether a name is taken is asked through a predicate the caller may replace.
#pragma once

#include <functional>
#include <string>

// The highest number an output name search tries.
constexpr int MAX_OUTPUT_NUMBER = 9999;

// Output name number `number` for a source file name (no folder): the name
// without its extension (from its last "." on; a name without "." is kept whole)
// followed by "_converted.mp4" for 0, "_converted_<number>.mp4" otherwise.
std::string converted_output_name(const std::string &source_name, int number, bool joined = false);

// True when a file name (no folder) is one this rule gives: "<stem>_converted.mp4"
// or "<stem>_converted_<n>.mp4" with n from 1 to MAX_OUTPUT_NUMBER, written as
// the rule writes it, joined ones too.
bool is_converted_output_name(const std::string &file_name);

// The number of such a name (0 for "<stem>_converted.mp4"), its stem in `stem`
// and whether it names a join in `joined` when given; -1 for a name the rule
// does not give.
int converted_output_number(const std::string &file_name, std::string *stem, bool *joined = nullptr);

// True when something (a file, a folder, a dangling link) is at `path`, or when a
// running conversion is writing the file that will get that name (a partial
// file of it whose process is alive; those of killed processes do not count).
bool output_path_taken_on_disk(const std::string &path);

// True when the folder of `final_path` holds a partial file for it (see
// partial_output_path) whose process is still running.
bool live_partial_file_exists(const std::string &final_path);

using OutputTakenFn = std::function<bool(const std::string &path)>;

// The first path folder + "/" + converted_output_name(source_name, n),
// n = 0 .. max_number, for which `taken` says no; "" when every one is taken. An
// empty folder gives the bare name (the working directory); a folder ending in
// "/" gets no second one.
std::string free_output_path(const std::string &folder, const std::string &source_name,
                             const OutputTakenFn &taken = output_path_taken_on_disk,
                             int max_number = MAX_OUTPUT_NUMBER, bool joined = false);

// For a path whose name the rule gives: the first path after it by the rule
// (same folder and stem, the next numbers up to MAX_OUTPUT_NUMBER) for which
// `taken` says no; "" when every one is taken or the name is not the rule's.
// A conversion that finds its name taken by someone else moves on with it.
std::string next_free_converted_path(const std::string &path,
                                     const OutputTakenFn &taken = output_path_taken_on_disk);

// Where a conversion writes the file that becomes `final_path` once complete: a
// hidden name in the same folder (a rename there replaces the final name in one
// step), marked as partial: "<folder>/.<name>.<pid>.part", "<folder>/.<name>.<pid>-<n>.part"
// for attempt n > 0. Only a process killed outright (or a power cut) leaves one
// behind; whoever knows the process id can remove it. Long names are shortened
// (at a character boundary) so the result stays a valid file name.
std::string partial_output_path(const std::string &final_path, long pid, int attempt = 0);
