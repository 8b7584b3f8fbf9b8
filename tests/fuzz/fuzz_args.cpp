// Fuzz target for the option parser: the fuzzer's bytes, split at NUL bytes, are an
// argument vector walked against the engine's option table, as ffmpeg_exec() walks
// it (the early option look-ups included).
//
// Rows that reach beyond the parser are given recording handlers instead: "i" would
// open an input, file names would create outputs, "report" and "progress" create
// files, "fpre" reads any file, "timelimit" sets a CPU limit on the fuzzer itself
// and "max_alloc" makes every later allocation of the process fail (which only
// ends in the exit(1) paths below, whose skipped clean-up would read as leaks).
// Everything else runs as it does in a conversion.
//
// A few parser routines end the process with exit(1) on malformed values. Here the
// link wraps exit() (-Wl,--wrap=exit): while an input is parsed, exit() returns to
// the harness through longjmp, which counts as the parser's regular "refused"
// outcome; the per-file context and the run's tables are then released as after
// any run. Built with libFuzzer (fuzz_args) and as a plain replay program.
#include "engine.h"
#include "options.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/mem.h>
}

namespace {

std::jmp_buf exit_jump;
volatile bool exit_armed = false;

constexpr size_t kMaxInput = 4096;
constexpr size_t kMaxWords = 64;

void format_and_discard(void *, int, const char *fmt, va_list vl)
{
    // Messages are still formatted, so a bad format or argument is caught.
    char line[2048];
    vsnprintf(line, sizeof(line), fmt, vl);
}

int record_input(void *ctx, const char *, const char *)
{
    reset_file_options((PerFileOptions *)ctx, 1);
    return 0;
}

void record_output(void *ctx, const char *)
{
    reset_file_options((PerFileOptions *)ctx, 0);
}

int record_only(void *, const char *, const char *)
{
    return 0;
}

std::vector<OptionEntry> make_table(void)
{
    std::vector<OptionEntry> table;
    const OptionEntry *po = option_table;
    for (; po->name; po++) {
        OptionEntry row = *po;
        if (!strcmp(row.name, "i"))
            row.u.func_arg = record_input;
        else if (!strcmp(row.name, "report") || !strcmp(row.name, "progress") ||
                 !strcmp(row.name, "fpre") || !strcmp(row.name, "timelimit") ||
                 !strcmp(row.name, "max_alloc"))
            row.u.func_arg = record_only;
        table.push_back(row);
    }
    table.push_back(*po); // the terminating row
    return table;
}

// The process-wide settings options change, as they were before the first input,
// so every input is parsed from the same state.
struct Settings {
    int overwrite_yes, overwrite_no, stdin_enabled, do_benchmark, do_benchmark_all;
    int do_pkt_dump, do_hex_dump, debug_ts, video_sync_method, audio_sync_method;
    float audio_drift_threshold;
    int copy_ts, copy_tb;
    float dts_delta_threshold, dts_error_threshold;
    int exit_on_error, print_stats, intra_only, do_psnr, qp_hist, frame_bits_per_raw_sample;
    int video_discard, audio_volume, intra_dc_precision, do_deinterlace, isync_ignored;
    int log_level;
};

Settings save_settings(void)
{
    return Settings{overwrite_yes, overwrite_no, stdin_enabled, do_benchmark, do_benchmark_all,
                    do_pkt_dump, do_hex_dump, debug_ts, video_sync_method, audio_sync_method,
                    audio_drift_threshold, copy_ts, copy_tb, dts_delta_threshold, dts_error_threshold,
                    exit_on_error, print_stats, intra_only, do_psnr, qp_hist, frame_bits_per_raw_sample,
                    video_discard, audio_volume, intra_dc_precision, do_deinterlace, isync_ignored,
                    av_log_get_level()};
}

void restore_settings(const Settings &s)
{
    overwrite_yes = s.overwrite_yes;
    overwrite_no = s.overwrite_no;
    stdin_enabled = s.stdin_enabled;
    do_benchmark = s.do_benchmark;
    do_benchmark_all = s.do_benchmark_all;
    do_pkt_dump = s.do_pkt_dump;
    do_hex_dump = s.do_hex_dump;
    debug_ts = s.debug_ts;
    video_sync_method = s.video_sync_method;
    audio_sync_method = s.audio_sync_method;
    audio_drift_threshold = s.audio_drift_threshold;
    copy_ts = s.copy_ts;
    copy_tb = s.copy_tb;
    dts_delta_threshold = s.dts_delta_threshold;
    dts_error_threshold = s.dts_error_threshold;
    exit_on_error = s.exit_on_error;
    print_stats = s.print_stats;
    intra_only = s.intra_only;
    do_psnr = s.do_psnr;
    qp_hist = s.qp_hist;
    frame_bits_per_raw_sample = s.frame_bits_per_raw_sample;
    video_discard = s.video_discard;
    audio_volume = s.audio_volume;
    intra_dc_precision = s.intra_dc_precision;
    do_deinterlace = s.do_deinterlace;
    isync_ignored = s.isync_ignored;
    av_log_set_level(s.log_level);
    av_max_alloc(INT_MAX);
    av_force_cpu_flags(-1);
    av_log_set_callback(format_and_discard);
}

const std::vector<OptionEntry> &fuzz_table(void)
{
    static const std::vector<OptionEntry> table = make_table();
    return table;
}

const Settings &initial_settings(void)
{
    static const Settings settings = save_settings();
    return settings;
}

std::vector<std::string> split_words(const uint8_t *data, size_t size)
{
    std::vector<std::string> words = {"ffmpeg"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < kMaxWords; i++) {
        if (data[i]) {
            word.push_back(char(data[i]));
        } else {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty() && words.size() < kMaxWords)
        words.push_back(word);
    return words;
}

void parse_words(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = int(words.size());
    const OptionEntry *table = fuzz_table().data();

    // Static: its contents must survive a return through longjmp.
    static PerFileOptions o;
    memset(&o, 0, sizeof(o));
    reset_file_options(&o, 0);
    if (setjmp(exit_jump) == 0) {
        exit_armed = true;
        for (const char *name : {"loglevel", "v", "report", "cpuflags"})
            find_option_position(argc, argv.data(), table, name);
        parse_command_line(&o, argc, argv.data(), table, record_output);
    }
    exit_armed = false;
    reset_file_options(&o, 0);
    engine_cleanup();
    reset_engine_state();
}

} // namespace

extern "C" void __real_exit(int status) __attribute__((noreturn));

extern "C" void __wrap_exit(int status)
{
    if (exit_armed) {
        exit_armed = false;
        longjmp(exit_jump, 1);
    }
    __real_exit(status);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Help and list options print to standard output; nobody reads it here.
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    av_log_set_callback(format_and_discard);
    initial_settings();
    fuzz_table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    std::vector<std::string> words = split_words(data, size);
    parse_words(words);
    restore_settings(initial_settings());
    return 0;
}
