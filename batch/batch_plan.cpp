// Finding the recordings of a batch run and planning their outputs.
#include "batch_plan.h"

#include "join.h"
#include "media_scan.h"
#include "output_naming.h"
#include "printable.h"
#include "source_mark.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

std::vector<BatchJob> collect_sources(const std::vector<std::string> &inputs, std::vector<SkippedFile> *skipped)
{
    RecordingSearch search = find_recordings(inputs, true);
    for (const std::string &folder : search.unreadable_folders)
        std::cerr << "wardline-convert: cannot read the folder " << printable_text(folder) << "\n";
    for (const std::string &folder : search.empty_folders)
        std::cerr << "wardline-convert: no recordings in " << printable_text(folder) << "\n";
    if (skipped)
        skipped->insert(skipped->end(), search.skipped.begin(), search.skipped.end());
    std::vector<BatchJob> jobs;
    for (const FoundRecording &recording : search.recordings) {
        BatchJob job;
        job.source = recording.source;
        job.duration_us = recording.duration_us;
        job.subfolder = mirrored_folder(recording, true);
        job.from_folder = !recording.folder_name.empty() || !recording.inner_folder.empty();
        job.input = recording.input;
        jobs.push_back(job);
    }
    return jobs;
}

namespace {

std::string free_planned_output(const std::string &folder, const BatchJob &job, PlannedOutputs *planned)
{
    auto taken = [&](const std::string &path) {
        return output_path_taken_on_disk(path) || planned->count(path_identity(path)) > 0;
    };
    const std::string output = free_output_path(folder, fs::path(job.source).filename().string(), taken,
                                                MAX_OUTPUT_NUMBER, !job.segments.empty());
    if (!output.empty())
        planned->insert(path_identity(output));
    return output;
}

} // namespace

std::string output_folder_for(const BatchJob &job, const std::string &output_dir, bool keep_folders)
{
    return ::output_folder_for(job.source, keep_folders ? job.subfolder : "", output_dir);
}

void plan_outputs(std::vector<BatchJob> *jobs, const std::string &output_dir, PlannedOutputs *planned,
                  bool keep_folders)
{
    for (BatchJob &job : *jobs)
        job.output = free_planned_output(output_folder_for(job, output_dir, keep_folders), job, planned);
}

std::vector<BatchJob> group_for_join(const std::vector<BatchJob> &jobs)
{
    // Named files form one group (keyed past every input), each folder its own.
    const size_t named = SIZE_MAX;
    std::vector<size_t> keys;
    std::vector<std::vector<const BatchJob *>> groups;
    for (const BatchJob &job : jobs) {
        const size_t key = job.from_folder ? job.input : named;
        const auto at = std::find(keys.begin(), keys.end(), key);
        if (at == keys.end()) {
            keys.push_back(key);
            groups.push_back({&job});
        } else {
            groups[size_t(at - keys.begin())].push_back(&job);
        }
    }
    std::vector<BatchJob> joined;
    for (const std::vector<const BatchJob *> &group : groups) {
        if (group.size() == 1) {
            joined.push_back(*group.front());
            continue;
        }
        std::vector<std::string> sources;
        int64_t total = 0;
        for (const BatchJob *job : group) {
            sources.push_back(job->source);
            total = total >= 0 && job->duration_us >= 0 ? total + job->duration_us : -1;
        }
        BatchJob job = *group.front();
        job.segments = join_order(sources);
        job.source = job.segments.front();
        job.duration_us = total;
        job.subfolder.clear(); // one output for the folder: beside its first segment, or under --output
        joined.push_back(job);
    }
    return joined;
}

std::vector<AlreadyConverted> take_already_converted(std::vector<BatchJob> *jobs, const std::string &output_dir,
                                                     bool keep_folders)
{
    std::vector<AlreadyConverted> done;
    std::vector<BatchJob> rest;
    for (BatchJob &job : *jobs) {
        // A joined file is made of several recordings: it is made again.
        const std::string earlier = job.segments.empty()
                                        ? earlier_output_of(job.source, output_folder_for(job, output_dir, keep_folders))
                                        : "";
        if (earlier.empty())
            rest.push_back(std::move(job));
        else
            done.push_back({job.source, earlier});
    }
    *jobs = std::move(rest);
    return done;
}

void recheck_output(BatchJob *job, PlannedOutputs *planned)
{
    if (job->output.empty() || !output_path_taken_on_disk(job->output))
        return;
    const std::string folder = fs::path(job->output).parent_path().string();
    job->output = free_planned_output(folder.empty() ? "." : folder, *job, planned);
}
