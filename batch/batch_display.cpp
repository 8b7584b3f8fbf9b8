// Progress and result lines of the batch command.
#include "batch_display.h"

#include "printable.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr double kMicroseconds = 1e6;

double now_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string file_name(const std::string &path)
{
    return std::filesystem::path(path).filename().string();
}

std::string fixed(double value, int decimals)
{
    char text[32];
    snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

bool finished(JobStatus status)
{
    return status == JobStatus::Converted || status == JobStatus::Partial || status == JobStatus::Failed ||
           status == JobStatus::Stopped;
}

// The media length a job is expected to have; -1 unknown.
int64_t expected_us(const BatchJob &job, const JobResult &result)
{
    return result.duration_us > 0 ? result.duration_us : job.duration_us > 0 ? job.duration_us : -1;
}

// `text` cut to at most `columns` characters (UTF-8 sequences kept whole), so a
// redrawn line never wraps and the cursor arithmetic stays right.
std::string fit_to_width(const std::string &text, int columns)
{
    int count = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (++count > columns)
            return text.substr(0, i);
    }
    return text;
}

int terminal_columns(FILE *out)
{
    struct winsize ws = {};
    if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col - 1;
    return 79;
}

std::string running_line(const BatchJob &job, const JobResult &result)
{
    std::string line = "  " + printable_text(file_name(job.source)) + "  ";
    const int64_t total = expected_us(job, result);
    if (total > 0)
        line += std::to_string(std::min<int64_t>(100, result.out_time_us * 100 / total)) + "%  " +
                clock_text(result.out_time_us / kMicroseconds) + " of " + clock_text(total / kMicroseconds);
    else
        line += clock_text(result.out_time_us / kMicroseconds);
    if (result.speed > 0)
        line += "  " + fixed(result.speed, 1) + "x";
    return line;
}

std::string overall_line(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results, double elapsed)
{
    size_t done = 0, running = 0;
    for (const JobResult &r : results) {
        done += finished(r.status);
        running += r.status == JobStatus::Running;
    }
    std::string line = std::to_string(done) + " of " + std::to_string(jobs.size()) + " done";
    const std::string summary = summary_text(results);
    if (!summary.empty())
        line += " (" + summary + ")";
    line += ", " + std::to_string(running) + " running";
    const double left = estimate_seconds_left(jobs, results, elapsed);
    line += left >= 0 ? ", about " + clock_text(left) + " left" : ", time left not known yet";
    return line;
}

} // namespace

std::string clock_text(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof(text), "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof(text), "%ld:%02ld", total / 60, total % 60);
    return text;
}

namespace {

// "; picture kept; evidence record written", or what went otherwise.
std::string handling_text(const JobHandling &h)
{
    std::string text;
    if (h.picture == "kept")
        text += "; picture kept";
    else if (!h.picture.empty())
        text += "; picture converted: " + printable_text(h.picture_reason);
    if (!h.evidence.empty())
        text += "; evidence record written";
    else if (!h.evidence_error.empty())
        text += "; no evidence record: " + printable_text(h.evidence_error);
    return text;
}

} // namespace

std::string finished_line(const BatchJob &job, const JobResult &result)
{
    switch (result.status) {
    case JobStatus::Converted:
        return "converted: " + printable_text(job.source) + " -> " + printable_text(job.output) + " (" + clock_text(result.media_us / kMicroseconds) +
               " of media in " + fixed(result.seconds, 1) + " s" + handling_text(result.handling) + ")";
    case JobStatus::Partial: {
        std::string problems;
        for (const std::string &p : result.problems)
            problems += (problems.empty() ? "" : "; ") + p;
        return "partial: " + printable_text(job.source) + " -> " + printable_text(job.output) + ": " +
               printable_text(problems) + handling_text(result.handling);
    }
    case JobStatus::Failed:
        return "failed: " + printable_text(job.source) + ": " + printable_text(result.reason);
    case JobStatus::Stopped:
        return "stopped: " + printable_text(job.source) + ": " + printable_text(result.reason);
    case JobStatus::NotStarted:
    case JobStatus::Running:
        break;
    }
    return "";
}

double estimate_seconds_left(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results,
                             double elapsed_s)
{
    int64_t known_total = 0;
    size_t known = 0;
    for (size_t i = 0; i < jobs.size(); i++) {
        const int64_t e = expected_us(jobs[i], results[i]);
        if (e > 0) {
            known_total += e;
            known++;
        }
    }
    // Without any length, every file weighs the same.
    const double average = known ? double(known_total) / known : 1.0;
    double total = 0, done = 0;
    for (size_t i = 0; i < jobs.size(); i++) {
        const int64_t e = expected_us(jobs[i], results[i]);
        const double weight = known ? (e > 0 ? double(e) : average) : 1.0;
        total += weight;
        if (finished(results[i].status))
            done += weight;
        else if (results[i].status == JobStatus::Running && known)
            done += std::min(weight, double(results[i].out_time_us));
    }
    if (done <= 0 || elapsed_s < 1)
        return -1;
    return (total - done) * elapsed_s / done;
}

std::string skipped_line(const SkippedFile &skipped)
{
    return "skipped: " + printable_text(skipped.path) + ": " + skip_reason_text(skipped.reason);
}

std::string summary_text(const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped)
{
    size_t converted = 0, partial = 0, failed = 0, stopped = 0, not_started = 0, listed = 0, others = 0;
    size_t records = 0;
    for (const SkippedFile &s : skipped)
        (s.listed ? listed : others)++;
    for (const JobResult &r : results) {
        records += !r.handling.evidence.empty();
        partial += r.status == JobStatus::Partial;
        converted += r.status == JobStatus::Converted;
        failed += r.status == JobStatus::Failed;
        stopped += r.status == JobStatus::Stopped;
        not_started += r.status == JobStatus::NotStarted;
    }
    std::string text;
    auto add = [&](size_t count, const char *what) {
        if (!count)
            return;
        if (!text.empty())
            text += ", ";
        text += std::to_string(count) + " " + what;
    };
    add(converted, "converted");
    add(partial, "partial");
    add(failed, "failed");
    add(stopped, "stopped");
    add(not_started, "not started");
    add(listed, "skipped");
    add(others, others == 1 ? "other file" : "other files");
    add(records, records == 1 ? "evidence record written" : "evidence records written");
    return text;
}

BatchDisplay::BatchDisplay(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results, FILE *out,
                           bool live)
    : jobs_(jobs), results_(results), out_(out), live_(live), started_s_(now_seconds())
{
}

void BatchDisplay::job_started(size_t)
{
    tick();
}

void BatchDisplay::job_progress(size_t)
{
    // Drawn on the next tick: progress comes from every job, twice a second each.
}

void BatchDisplay::job_finished(size_t index)
{
    clear_live_lines();
    fprintf(out_, "%s\n", finished_line(jobs_[index], results_[index]).c_str());
    draw_live_lines();
    fflush(out_);
}

void BatchDisplay::tick()
{
    if (!live_)
        return;
    clear_live_lines();
    draw_live_lines();
    fflush(out_);
}

void BatchDisplay::close()
{
    clear_live_lines();
    fflush(out_);
}

void BatchDisplay::clear_live_lines()
{
    if (!live_ || !live_lines_)
        return;
    // To the start of the first live line, then erase to the end of the screen.
    fprintf(out_, "\x1b[%dF\x1b[J", live_lines_);
    live_lines_ = 0;
}

void BatchDisplay::draw_live_lines()
{
    if (!live_)
        return;
    const int columns = terminal_columns(out_);
    std::vector<std::string> lines;
    for (size_t i = 0; i < jobs_.size(); i++)
        if (results_[i].status == JobStatus::Running)
            lines.push_back(running_line(jobs_[i], results_[i]));
    lines.push_back(overall_line(jobs_, results_, now_seconds() - started_s_));
    for (const std::string &line : lines)
        fprintf(out_, "%s\n", fit_to_width(line, columns).c_str());
    live_lines_ = static_cast<int>(lines.size());
}
