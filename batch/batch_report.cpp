// Writing the batch command's JSON report.
#include "batch_report.h"

#include "printable.h"
#include "queue_words.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

// Keeps the fields in the order the report documents.
using json = nlohmann::ordered_json;

namespace {

json nullable_text(const std::string &text)
{
    return text.empty() ? json() : json(text);
}

// Rounded to milliseconds: the report is read by people too.
json nullable_seconds(double seconds)
{
    return seconds < 0 ? json() : json(std::round(seconds * 1000) / 1000);
}

bool wrote_file(JobStatus status)
{
    return status == JobStatus::Converted || status == JobStatus::Partial;
}

// What the output holds once converted; otherwise the source's length (as
// probed when planning, or as its conversion saw it), so what is left to do can
// still be weighed. Negative when unknown.
int64_t reported_duration_us(const BatchJob &job, const JobResult &result)
{
    if (wrote_file(result.status) && result.media_us >= 0)
        return result.media_us;
    return job.duration_us >= 0 ? job.duration_us : result.duration_us;
}

// The length the recording declares: as its conversion saw it, else as probed.
int64_t declared_duration_us(const BatchJob &job, const JobResult &result)
{
    return result.expected_us >= 0 ? result.expected_us : job.duration_us;
}

// What the choices (--keep-video, --evidence, --burn-time) and the
// deinterlacing add to a written file's entry.
void add_handling(json *entry, const JobHandling &h)
{
    if (h.deinterlaced)
        (*entry)["deinterlaced"] = true;
    if (!h.time.empty())
        (*entry)["time_in_picture"] = h.time;
    if (!h.time_reason.empty())
        (*entry)["time_not_shown_because"] = h.time_reason;
    if (!h.picture.empty())
        (*entry)["picture"] = h.picture;
    if (!h.picture_reason.empty())
        (*entry)["picture_not_kept_because"] = h.picture_reason;
    if (!h.evidence.empty())
        (*entry)["evidence"] = h.evidence;
    if (!h.evidence_error.empty())
        (*entry)["evidence_error"] = h.evidence_error;
}

json job_entry(const BatchJob &job, const JobResult &r)
{
    const bool written = wrote_file(r.status);
    // Only a written file exists under its name; a script that opens every
    // non-null output must not be sent to a name that may be free, or another
    // program's.
    json entry = {
        {"source", job.source},
        {"output", written ? nullable_text(job.output) : json()},
        {"status", job_status_name(r.status)},
        {"reason", written ? json() : nullable_text(r.reason)},
        {"kind", nullable_text(r.failure)},
        {"duration", nullable_seconds(reported_duration_us(job, r) / 1e6)},
        {"expected_duration", nullable_seconds(declared_duration_us(job, r) / 1e6)},
        {"problems", r.problems},
        {"seconds", nullable_seconds(r.seconds)},
    };
    // A join: every recording in it, in the order joined.
    if (!job.segments.empty())
        entry["segments"] = job.segments;
    add_handling(&entry, r.handling);
    return entry;
}

json skipped_entry(const SkippedFile &s)
{
    return {
        {"source", s.path},
        {"output", json()},
        {"status", "skipped"},
        {"reason", english_words(skip_words(s.reason))},
        {"kind", skip_reason_key(s.reason)},
        {"duration", json()},
        {"expected_duration", json()},
        {"problems", json::array()},
        {"seconds", json()},
    };
}

json already_converted_entry(const AlreadyConverted &done)
{
    return {
        {"source", done.source},
        {"output", done.output},
        {"status", "skipped"},
        {"reason", "already converted"},
        {"kind", "already_converted"},
        {"duration", json()},
        {"expected_duration", json()},
        {"problems", json::array()},
        {"seconds", json()},
    };
}

} // namespace

const char *job_status_name(JobStatus status)
{
    switch (status) {
    case JobStatus::Converted:
        return "converted";
    case JobStatus::Partial:
        return "partial";
    case JobStatus::Failed:
        return "failed";
    case JobStatus::Stopped:
        return "stopped";
    case JobStatus::Waiting:
    case JobStatus::Running:
        break;
    }
    return "not started";
}

std::string report_text(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results,
                        const std::vector<SkippedFile> &skipped, const std::vector<AlreadyConverted> &already)
{
    json report = json::array();
    for (size_t i = 0; i < jobs.size(); i++)
        report.push_back(job_entry(jobs[i], results[i]));
    for (const AlreadyConverted &done : already)
        report.push_back(already_converted_entry(done));
    for (const SkippedFile &s : skipped)
        if (s.listed)
            report.push_back(skipped_entry(s));
    // File names need not be UTF-8; such bytes become U+FFFD rather than losing
    // the whole report.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string report_temporary_path(const std::string &path)
{
    return path + ".part";
}

std::string report_conflict(const std::string &path, const std::vector<BatchJob> &jobs,
                            const std::vector<SkippedFile> &skipped, PlannedOutputs *planned)
{
    const std::string report = path_identity(path);
    for (const SkippedFile &s : skipped)
        if (path_identity(s.path) == report)
            return path + " is a file of the folder searched";
    for (const BatchJob &job : jobs) {
        if (path_identity(job.source) == report)
            return path + " is one of the recordings to convert";
        if (!job.output.empty() && path_identity(job.output) == report)
            return path + " is the output planned for " + job.source;
    }
    planned->insert(report);
    return "";
}

namespace {

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

bool write_report(const std::string &path, const std::vector<BatchJob> &jobs,
                  const std::vector<JobResult> &results, const std::vector<SkippedFile> &skipped,
                  const std::vector<AlreadyConverted> &already)
{
    const std::string temp = report_temporary_path(path);
    // Never through a link or over a file someone put there: only a file made
    // here is written and renamed.
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cerr << "wardline-convert: cannot write the report " << printable_text(temp) << ": " << strerror(errno) << "\n";
        return false;
    }
    const bool written = write_all(fd, report_text(jobs, results, skipped, already));
    const int saved = errno;
    if (close(fd) != 0 || !written) {
        std::cerr << "wardline-convert: cannot write the report " << printable_text(temp) << ": " << strerror(written ? errno : saved)
                  << "\n";
        unlink(temp.c_str());
        return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        std::cerr << "wardline-convert: cannot write the report " << printable_text(path) << ": " << strerror(errno) << "\n";
        unlink(temp.c_str());
        return false;
    }
    return true;
}
