// Writing the batch command's JSON report.
#include "batch_report.h"

#include "printable.h"

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

// What the output holds once converted; otherwise the source's length (as
// probed when planning, or as its conversion saw it), so what is left to do can
// still be weighed. Negative when unknown.
int64_t reported_duration_us(const BatchJob &job, const JobResult &result)
{
    if (result.status == JobStatus::Converted && result.media_us >= 0)
        return result.media_us;
    return job.duration_us >= 0 ? job.duration_us : result.duration_us;
}

} // namespace

const char *job_status_name(JobStatus status)
{
    switch (status) {
    case JobStatus::Converted:
        return "converted";
    case JobStatus::Failed:
        return "failed";
    case JobStatus::Stopped:
        return "stopped";
    case JobStatus::NotStarted:
    case JobStatus::Running:
        break;
    }
    return "not started";
}

std::string report_text(const std::vector<BatchJob> &jobs, const std::vector<JobResult> &results)
{
    json report = json::array();
    for (size_t i = 0; i < jobs.size(); i++) {
        const JobResult &r = results[i];
        const bool converted = r.status == JobStatus::Converted;
        // Only a converted file exists under its planned name; a script that
        // opens every non-null output must not be sent to a name that may be
        // free, or another program's.
        report.push_back({
            {"source", jobs[i].source},
            {"output", converted ? nullable_text(jobs[i].output) : json()},
            {"status", job_status_name(r.status)},
            {"reason", converted ? json() : nullable_text(r.reason)},
            {"duration", nullable_seconds(reported_duration_us(jobs[i], r) / 1e6)},
            {"seconds", nullable_seconds(r.seconds)},
        });
    }
    // File names need not be UTF-8; such bytes become U+FFFD rather than losing
    // the whole report.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string report_temporary_path(const std::string &path)
{
    return path + ".part";
}

std::string report_conflict(const std::string &path, const std::vector<BatchJob> &jobs, PlannedOutputs *planned)
{
    const std::string report = path_identity(path);
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
                  const std::vector<JobResult> &results)
{
    const std::string temp = report_temporary_path(path);
    // Never through a link or over a file someone put there: only a file made
    // here is written and renamed.
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cerr << "wardline-convert: cannot write the report " << printable_text(temp) << ": " << strerror(errno) << "\n";
        return false;
    }
    const bool written = write_all(fd, report_text(jobs, results));
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
