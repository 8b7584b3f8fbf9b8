// wardline-convert: converts many recordings in one go, from a terminal or a
// script, the way the converter window converts one. See batch_options.cpp for
// its usage text. Started with SINGLE_JOB_ARGUMENT it is one of its own
// conversion processes instead.
#include "batch_display.h"
#include "batch_options.h"
#include "batch_plan.h"
#include "batch_report.h"
#include "job_pool.h"
#include "platform.h"
#include "printable.h"
#include "queue_words.h"
#include "single_job.h"
#include "verify_records.h"

#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kExitFailed = 1;

// While the sources are searched, the libraries' own complaints about files
// that are not media stay unsaid; the search's own warnings (a folder that
// cannot be read, a file too slow to read) have no library context and are
// shown.
void search_log(void *context, int level, const char *fmt, va_list args)
{
    if (context || level > AV_LOG_WARNING)
        return;
    char line[4096];
    vsnprintf(line, sizeof(line), fmt, args);
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    fprintf(stderr, "wardline-convert: %s\n", printable_text(text).c_str());
}

int list_planned_outputs(const std::vector<BatchJob> &jobs, const std::vector<SkippedFile> &skipped,
                         const std::vector<AlreadyConverted> &already)
{
    int status = 0;
    for (const AlreadyConverted &done : already)
        printf("%s -> %s (already converted)\n", printable_text(done.source).c_str(),
               printable_text(done.output).c_str());
    for (const BatchJob &job : jobs) {
        if (job.output.empty()) {
            printf("%s -> (%s)\n", printable_text(job.source).c_str(), english_words(names_taken_words()).c_str());
            status = kExitFailed;
        } else {
            printf("%s -> %s\n", sources_text(job).c_str(), printable_text(job.output).c_str());
        }
    }
    for (const SkippedFile &s : skipped) {
        if (s.listed) {
            printf("%s -> (skipped: %s)\n", printable_text(s.path).c_str(), english_words(skip_words(s.reason)).c_str());
            status = kExitFailed;
        }
    }
    return status;
}

// The mirrored folders under --output, made before the jobs confine themselves
// to them.
bool make_output_folders(const std::vector<BatchJob> &jobs)
{
    for (const BatchJob &job : jobs) {
        const std::string folder = std::filesystem::path(job.output).parent_path().string();
        std::error_code ec;
        if (!folder.empty() && !std::filesystem::create_directories(folder, ec) && ec) {
            fprintf(stderr, "wardline-convert: cannot make the folder %s: %s\n", printable_text(folder).c_str(),
                    ec.message().c_str());
            return false;
        }
    }
    return true;
}

// Redrawing in place needs a terminal that understands cursor movement.
bool live_terminal()
{
    const char *term = getenv("TERM");
    return isatty(STDOUT_FILENO) && !(term && !strcmp(term, "dumb"));
}

// 0 only when every recording was converted whole and no file that looks like
// a recording (or could not be read) was passed over.
int exit_status(const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped, int interrupt)
{
    if (interrupt)
        return 128 + interrupt;
    for (const JobResult &r : results)
        if (r.status != JobStatus::Converted)
            return kExitFailed;
    for (const SkippedFile &s : skipped)
        if (s.listed)
            return kExitFailed;
    return 0;
}

void print_skipped(const std::vector<SkippedFile> &skipped, const std::vector<AlreadyConverted> &already)
{
    for (const AlreadyConverted &done : already)
        printf("%s\n", already_converted_line(done).c_str());
    for (const SkippedFile &s : skipped)
        if (s.listed)
            printf("%s\n", skipped_line(s).c_str());
    fflush(stdout);
}

int run_batch(const BatchOptions &options)
{
    // Probing a folder meets many files that are not media; the libraries would
    // say so for each one.
    av_log_set_callback(search_log);
    std::vector<SkippedFile> skipped;
    std::vector<BatchJob> jobs = collect_sources(options.inputs, &skipped);
    if (options.join)
        jobs = group_for_join(jobs);
    av_log_set_callback(av_log_default_callback);
    av_log_set_level(AV_LOG_QUIET);
    const std::vector<AlreadyConverted> already =
        options.force ? std::vector<AlreadyConverted>()
                      : take_already_converted(&jobs, options.output_dir, options.keep_folders);
    PlannedOutputs planned;
    plan_outputs(&jobs, options.output_dir, &planned, options.keep_folders);
    if (!options.report_path.empty()) {
        const std::string conflict = report_conflict(options.report_path, jobs, skipped, &planned);
        if (!conflict.empty())
            return usage_error("--report: " + conflict);
    }
    if (jobs.empty()) {
        const int status = options.dry_run ? list_planned_outputs(jobs, skipped, already)
                                           : (print_skipped(skipped, already), exit_status({}, skipped, 0));
        std::cerr << "wardline-convert: nothing to convert"
                  << (skipped.empty() && already.empty() ? "" : " (" + summary_text({}, skipped, already.size()) + ")")
                  << "\n";
        if (!options.dry_run && !options.report_path.empty())
            write_report(options.report_path, jobs, {}, skipped, already);
        // Everything converted by earlier runs is done; nothing found at all is not.
        return already.empty() ? kExitFailed : status;
    }
    if (options.dry_run)
        return list_planned_outputs(jobs, skipped, already);
    print_skipped(skipped, already);
    if (options.keep_folders && !make_output_folders(jobs))
        return kExitFailed;

    // A reader that went away (| head) must not end the run half-way.
    signal(SIGPIPE, SIG_IGN);
    std::vector<JobResult> results;
    BatchDisplay display(jobs, results, stdout, live_terminal());
    ConversionChoices choices;
    choices.keep_video = options.keep_video;
    choices.evidence = options.evidence;
    choices.mark_source = true;
    if (!options.burn_time.empty())
        choices.time_in_picture = options.burn_time == "utc" ? ConversionChoices::TimeInPicture::Utc
                                                             : ConversionChoices::TimeInPicture::Local;
    const int interrupt = run_batch_jobs(&jobs, &planned, options.jobs, &results, &display, choices);
    display.close();
    std::cerr << "wardline-convert: " << jobs.size() << (jobs.size() == 1 ? " recording: " : " recordings: ")
              << summary_text(results, skipped, already.size()) << (interrupt ? " (interrupted)" : "") << "\n";
    int status = exit_status(results, skipped, interrupt);
    if (!options.report_path.empty() && !write_report(options.report_path, jobs, results, skipped, already) &&
        status == 0)
        status = kExitFailed;
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // Started with standard descriptors closed, the pipes to the jobs would
    // otherwise become standard input, output or error.
    plat_fill_closed_standard_descriptors();
    if (argc == 6 && !strcmp(argv[1], SINGLE_JOB_ARGUMENT))
        return run_single_job(atoi(argv[2]), argv[3], argv[4], choices_from_argument(argv[5]));
    if (argc >= 7 && !strcmp(argv[1], JOIN_JOB_ARGUMENT))
        return run_join_job(atoi(argv[2]), std::vector<std::string>(argv + 5, argv + argc), argv[3],
                            choices_from_argument(argv[4]));
    BatchOptions options;
    const int status = parse_batch_options(argc, argv, &options);
    if (status >= 0)
        return status;
    if (options.verify)
        return verify_records(options.inputs, stdout);
    return run_batch(options);
}
