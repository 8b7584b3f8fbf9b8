// Finding the recordings of a batch run and planning their outputs.
#include "batch_plan.h"

#include "media_scan.h"
#include "output_naming.h"
#include "printable.h"
#include "source_mark.h"

#include <filesystem>
#include <iostream>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folders from the parent of the given `folder` down to `file`'s.
std::string subfolder_of(const std::string &folder, const std::string &file)
{
    const fs::path given = fs::path(folder).lexically_normal();
    const fs::path base = (given.has_filename() ? given : given.parent_path()).parent_path();
    const fs::path relative = fs::path(file).parent_path().lexically_normal().lexically_relative(base.empty() ? "." : base);
    const std::string text = relative.string();
    return text == "." || text.compare(0, 2, "..") == 0 ? "" : text;
}

void add_folder(const std::string &folder, std::vector<BatchJob> *jobs, std::vector<SkippedFile> *skipped)
{
    std::vector<std::string> files;
    std::vector<MediaProbe> probes;
    if (find_media_files(folder, &files, &probes, nullptr, skipped) < 0) {
        std::cerr << "wardline-convert: cannot read the folder " << printable_text(folder) << "\n";
        return;
    }
    if (files.empty())
        std::cerr << "wardline-convert: no recordings in " << printable_text(folder) << "\n";
    for (size_t i = 0; i < files.size(); i++) {
        BatchJob job;
        job.source = files[i];
        job.duration_us = probes[i].duration_us;
        job.subfolder = subfolder_of(folder, files[i]);
        jobs->push_back(job);
    }
}

void add_file(const std::string &file, std::vector<BatchJob> *jobs)
{
    BatchJob job;
    job.source = file;
    MediaProbe probe;
    if (probe_media_file(file, &probe) >= 0)
        job.duration_us = probe.duration_us;
    jobs->push_back(job);
}

std::string folder_of(const std::string &path)
{
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

} // namespace

std::vector<BatchJob> collect_sources(const std::vector<std::string> &inputs, std::vector<SkippedFile> *skipped)
{
    std::vector<BatchJob> found;
    for (const std::string &input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec))
            add_folder(input, &found, skipped);
        else
            add_file(input, &found);
    }
    std::vector<BatchJob> jobs;
    std::set<std::string> seen;
    for (BatchJob &job : found)
        if (seen.insert(path_identity(job.source)).second)
            jobs.push_back(std::move(job));
    return jobs;
}

namespace {

std::string free_planned_output(const std::string &folder, const BatchJob &job, PlannedOutputs *planned)
{
    auto taken = [&](const std::string &path) {
        return output_path_taken_on_disk(path) || planned->count(path_identity(path)) > 0;
    };
    const std::string output = free_output_path(folder, fs::path(job.source).filename().string(), taken);
    if (!output.empty())
        planned->insert(path_identity(output));
    return output;
}

} // namespace

std::string output_folder_for(const BatchJob &job, const std::string &output_dir, bool keep_folders)
{
    if (output_dir.empty())
        return folder_of(job.source);
    if (!keep_folders || job.subfolder.empty())
        return output_dir;
    return (fs::path(output_dir) / job.subfolder).string();
}

void plan_outputs(std::vector<BatchJob> *jobs, const std::string &output_dir, PlannedOutputs *planned,
                  bool keep_folders)
{
    for (BatchJob &job : *jobs)
        job.output = free_planned_output(output_folder_for(job, output_dir, keep_folders), job, planned);
}

std::vector<AlreadyConverted> take_already_converted(std::vector<BatchJob> *jobs, const std::string &output_dir,
                                                     bool keep_folders)
{
    std::vector<AlreadyConverted> done;
    std::vector<BatchJob> rest;
    for (BatchJob &job : *jobs) {
        const std::string earlier = earlier_output_of(job.source, output_folder_for(job, output_dir, keep_folders));
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
    job->output = free_planned_output(folder_of(job->output), *job, planned);
}

std::string path_identity(const std::string &path)
{
    std::error_code ec;
    fs::path id = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : id.string();
}
