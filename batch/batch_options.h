// The batch command's command line: what it was asked to do, and its usage text.
// Parsed with CLI11; called by main.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BatchOptions {
    std::vector<std::string> inputs; // files and folders, in the order given
    std::string output_dir;          // empty: beside each source
    int jobs = 0;                    // conversions at once
    bool dry_run = false;
    std::string report_path;         // empty: no report
    bool keep_video = false;         // copy H.264 pictures that play everywhere unchanged
    bool evidence = false;           // an evidence record beside each output
    bool verify = false;             // the inputs are evidence records to check again
    bool force = false;              // convert again what an earlier run converted
    bool keep_folders = false;       // mirror the searched folders under output_dir
    bool join = false;               // each folder's recordings (and the files named) into one file
    std::string burn_time;           // "local" or "utc": the recording's time in the picture; "" none
};

// Exit status for a command line that cannot be used.
constexpr int BATCH_EXIT_USAGE = 2;

// The processor cores this process may run on (its affinity set; all online
// cores when that cannot be read).
int usable_cores();

// Conversions at once for `cores` usable cores and `available_bytes` of memory
// (negative: unknown): one per two cores, and no more than one per
// CONVERSION_MEMORY_BUDGET of the memory, at least one (each conversion's
// encoder already uses more than one core, and a job beyond the memory would
// push the others into swap or the kernel's out-of-memory killer).
int job_count_for(int cores, int64_t available_bytes);

// Conversions at once when --jobs is not given: job_count_for() on this
// machine's usable cores and available memory now.
int default_job_count();

// Says on standard error why the command line cannot be used, with the hint to
// --help, and returns BATCH_EXIT_USAGE.
int usage_error(const std::string &message);

// Why `path`, an existing folder, cannot take the outputs ("cannot write into
// the folder X: Permission denied", also for a read-only file system); "" when
// it can. Asked before anything is converted, not file by file.
std::string output_folder_problem(const std::string &path);

// Parses argv into `options`. Returns -1 when the command should go on, otherwise
// the exit status to end with: 0 after --help or --version, BATCH_EXIT_USAGE after a message
// about a bad command line (on standard error).
int parse_batch_options(int argc, char **argv, BatchOptions *options);
