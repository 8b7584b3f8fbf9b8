// Helpers for engine tests: capture engine log messages, run ffmpeg_exec with a
// vector of strings, and run the engine's command-line program as a child process.
#pragma once

#include <string>
#include <vector>

struct AVDictionary;

struct LogLine {
    int level;
    std::string text; // the formatted message, as given to av_log
};

// Installs a log callback that records every message at or above `min_level`
// importance (numerically <= max_level) while the object lives, and restores the
// library's default callback afterwards. Thread-safe (codec threads log too).
class LogCapture {
public:
    explicit LogCapture(int max_level = 48 /* debug */);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<LogLine> lines() const;
    std::string all_text() const;
    // True when a message containing `needle` was logged at exactly `level`
    // (any level when level is -100).
    bool has(const std::string &needle, int level = -100) const;
    void clear();
    // Puts the capturing callback back (after the engine installed its own).
    void reinstall();
};

// Runs ffmpeg_exec with "ffmpeg" prepended as argv[0].
int run_engine(const std::vector<std::string> &args);

struct ChildResult {
    int exit_status = -1; // exit code, or 128 + signal
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs the engine command-line program with args (argv[0] is added), feeding
// `input` on its standard input (closed afterwards), with extra environment
// entries "NAME=value", in the working directory `cwd` (the test's own when
// empty). Waits at most timeout_s seconds, then kills it.
ChildResult run_cli(const std::vector<std::string> &args, const std::string &input = "",
                    const std::vector<std::string> &env = {}, int timeout_s = 120,
                    const std::string &cwd = "");

// Where the engine's command-line program was built.
std::string cli_path();

// In a forked child: replaces the process with the engine's command-line program
// (or the copy of it at `program`) run with args (argv[0] is added); exits with
// 127 when that cannot be done.
[[noreturn]] void exec_cli(const std::vector<std::string> &args, const std::string &program = "");

// Every entry of `d` as "key=value;", in order.
std::string dict_text(const AVDictionary *d);

// A fresh empty directory under the build tree for one test's files.
std::string scratch_dir(const std::string &name);
