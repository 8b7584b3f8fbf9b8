// Progress and result lines of the batch command.
#include "batch_display.h"

#include "printable.h"
#include "queue_share.h"
#include "queue_words.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr double kMicroseconds = 1e6;
// A name is never shortened below this many characters; a narrower terminal
// cuts the line's end instead.
constexpr int kShortestName = 12;

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

// The media length a job is expected to have; -1 unknown.
int64_t expected_us(const BatchJob &job, const JobResult &result)
{
    return result.duration_us > 0 ? result.duration_us : job.duration_us > 0 ? job.duration_us : -1;
}

// Characters as a terminal counts them (UTF-8 sequences count once).
int text_columns(const std::string &text)
{
    int count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

// The byte offset where the character numbered `n` begins (the end when fewer).
size_t offset_of_character(const std::string &text, int n)
{
    int count = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (count++ == n)
            return i;
    }
    return text.size();
}

// `text` cut to at most `columns` characters (UTF-8 sequences kept whole), so a
// redrawn line never wraps and the cursor arithmetic stays right.
std::string fit_to_width(const std::string &text, int columns)
{
    return text.substr(0, offset_of_character(text, std::max(0, columns)));
}

int terminal_columns(FILE *out)
{
    struct winsize ws = {};
    if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col - 1;
    return 79;
}

// A line of a name and its figures in `columns`: the figures whole, the name
// shortened in the middle to the room left; only a terminal too narrow for the
// figures themselves cuts them.
std::string name_and_figures(const std::string &name, const std::string &figures, int columns)
{
    const int room = columns - text_columns(figures) - 4;
    if (room < kShortestName)
        return fit_to_width("  " + shorten_middle(name, kShortestName) + "  " + figures, columns);
    return "  " + shorten_middle(name, room) + "  " + figures;
}

} // namespace

std::string shorten_middle(const std::string &text, int columns)
{
    const int length = text_columns(text);
    if (length <= columns)
        return text;
    if (columns <= 1)
        return fit_to_width(text, columns);
    // The end of a recorder's name (camera, date, part) tells files apart more
    // often than its start: it gets the larger half.
    const int head = (columns - 1) / 2;
    const int tail = columns - 1 - head;
    return text.substr(0, offset_of_character(text, head)) + "\xe2\x80\xa6" +
           text.substr(offset_of_character(text, length - tail));
}

std::string running_line(const BatchJob &job, const JobResult &result, int columns)
{
    std::string figures;
    const int64_t total = expected_us(job, result);
    // A running job is never whole: its end is the finished line.
    if (total > 0)
        figures += std::to_string(run_percent(result.out_time_us, total, false)) + "%  " +
                   clock_text(result.out_time_us / kMicroseconds) + " of " + clock_text(total / kMicroseconds);
    else
        figures += clock_text(result.out_time_us / kMicroseconds);
    if (result.speed > 0)
        figures += "  " + fixed(result.speed, 1) + "x";
    return name_and_figures(printable_text(file_name(job.source)), figures, columns);
}

std::string overall_line(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results, double elapsed,
                         int columns)
{
    size_t done = 0, running = 0;
    for (const JobResult &r : results) {
        done += state_finished(r.status);
        running += r.status == JobStatus::Running;
    }
    const std::string count = std::to_string(done) + " of " + std::to_string(jobs.size()) + " done";
    const std::string summary = summary_text(results);
    std::string rest = ", " + std::to_string(running) + " running";
    const double left = estimate_seconds_left(jobs, results, elapsed);
    rest += left >= 0 ? ", about " + clock_text(left) + " left" : ", time left not known yet";
    // The counts in brackets go first when the line is too long.
    const std::string full = count + (summary.empty() ? "" : " (" + summary + ")") + rest;
    if (text_columns(full) <= columns)
        return full;
    return fit_to_width(count + rest, columns);
}


std::string clock_text(double seconds)
{
    return media_clock_text(int64_t(std::floor(seconds * kMicroseconds)));
}

namespace {

// "; deinterlaced; time shown; picture kept; evidence record written", or
// what went otherwise.
std::string handling_text(const JobHandling &h)
{
    std::string text;
    if (h.deinterlaced)
        text += "; deinterlaced";
    if (!h.time.empty())
        text += "; time shown";
    else if (!h.time_reason.empty())
        text += "; time not shown: " + printable_text(h.time_reason);
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

std::string sources_text(const BatchJob &job)
{
    if (job.segments.empty())
        return printable_text(job.source);
    std::string text;
    for (const std::string &segment : job.segments)
        text += (text.empty() ? "" : " + ") + printable_text(segment);
    return text;
}

std::string finished_line(const BatchJob &job, const JobResult &result)
{
    switch (result.status) {
    case JobStatus::Converted:
        return (job.segments.empty() ? "converted: " : "joined: ") + sources_text(job) + " -> " + printable_text(job.output) + " (" + clock_text(result.media_us / kMicroseconds) +
               " of media in " + fixed(result.seconds, 1) + " s" + handling_text(result.handling) + ")";
    case JobStatus::Partial: {
        std::string problems;
        for (const std::string &p : result.problems)
            problems += (problems.empty() ? "" : "; ") + p;
        return "partial: " + sources_text(job) + " -> " + printable_text(job.output) + ": " +
               printable_text(problems) + handling_text(result.handling);
    }
    case JobStatus::Failed:
        return "failed: " + sources_text(job) + ": " + printable_text(result.reason);
    case JobStatus::Stopped:
        return "stopped: " + sources_text(job) + ": " + printable_text(result.reason);
    case JobStatus::Waiting:
    case JobStatus::Running:
        break;
    }
    return "";
}

double estimate_seconds_left(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results,
                             double elapsed_s)
{
    std::vector<QueueShare> shares;
    for (size_t i = 0; i < jobs.size(); i++)
        shares.push_back({expected_us(jobs[i], results[i]), results[i].out_time_us, results[i].status});
    const int64_t left = queue_time_left_us(shares, int64_t(elapsed_s * kMicroseconds));
    return left < 0 ? -1 : double(left) / kMicroseconds;
}

std::string skipped_line(const SkippedFile &skipped)
{
    return "skipped: " + printable_text(skipped.path) + ": " + english_words(skip_words(skipped.reason));
}

std::string already_converted_line(const AlreadyConverted &done)
{
    return "skipped: " + printable_text(done.source) + ": already converted into " + printable_text(done.output);
}

std::string summary_text(const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped,
                         size_t already)
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
        not_started += r.status == JobStatus::Waiting;
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
    add(already, "already converted");
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
            lines.push_back(running_line(jobs_[i], results_[i], columns));
    lines.push_back(overall_line(jobs_, results_, now_seconds() - started_s_, columns));
    for (const std::string &line : lines)
        fprintf(out_, "%s\n", line.c_str());
    live_lines_ = static_cast<int>(lines.size());
}
