// Runs the engine's command-line program as a child under watch: how it ended
// (exit status or signal), how long it took (killed at a time limit), how much
// memory it held at its peak, and what it said on standard error.
#pragma once

#include <string>
#include <sys/resource.h>
#include <vector>

struct ChildLimits {
    int timeout_s = 60;
    rlim_t file_size = RLIM_INFINITY; // RLIMIT_FSIZE; SIGXFSZ is ignored, so writes fail
    bool as_nobody = false;           // drop root privileges first (uid/gid 65534)
    std::string cwd;                  // working directory; the test's own when empty
    std::string stdin_path;           // standard input read from this file; /dev/null when empty
    // Standard descriptors (bit n: descriptor n) closed when the program starts;
    // with 2 among them nothing it logs is seen.
    unsigned closed_descriptors = 0;
    std::vector<std::string> env; // NAME=value entries added to the environment
    // Sent to the child once, this long after it started (0: none).
    int signal = 0;
    int signal_after_ms = 0;
};

struct ChildRun {
    bool started = false;
    int pid = 0;
    int exit_code = -1; // when it exited
    int signal = 0;     // when a signal ended it
    bool timed_out = false;
    long peak_rss_kb = 0;
    std::string err;

    bool crashed() const { return signal != 0 && !timed_out; }
    std::string describe() const;
};

// False when this process runs as root but cannot drop to "nobody" (a container
// without the right to change users), so runs with as_nobody cannot be made.
bool can_run_as_nobody();

// Runs the program with args (argv[0] is added); standard input and output are
// /dev/null unless the limits say otherwise.
ChildRun run_guarded(const std::vector<std::string> &args, const ChildLimits &limits = {});
