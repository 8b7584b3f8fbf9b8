// The recording search and where outputs go; see recording_search.h.
#include "recording_search.h"

#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folders from `folder` down to `file`'s; "" for a file directly inside.
std::string inner_folder_of(const std::string &folder, const std::string &file)
{
    const fs::path base = fs::path(folder).lexically_normal();
    const std::string text =
        fs::path(file).parent_path().lexically_normal().lexically_relative(base).string();
    return text == "." || text.compare(0, 2, "..") == 0 ? "" : text;
}

// The name of a named folder ("nvr1" for "export/nvr1/" too); "" for "/" or ".".
std::string name_of_folder(const std::string &folder)
{
    const fs::path given = fs::path(folder).lexically_normal();
    const std::string name = (given.has_filename() ? given : given.parent_path()).filename().string();
    return name == "." || name == ".." ? "" : name;
}

void add_folder(const std::string &folder, size_t input, const std::function<bool()> &stopped,
                RecordingSearch *search)
{
    std::vector<std::string> files;
    std::vector<MediaProbe> probes;
    if (find_media_files(folder, &files, &probes, stopped, &search->skipped) < 0 && files.empty()) {
        if (!(stopped && stopped()))
            search->unreadable_folders.push_back(folder);
        return;
    }
    if (files.empty())
        search->empty_folders.push_back(folder);
    for (size_t i = 0; i < files.size(); i++) {
        FoundRecording recording;
        recording.source = files[i];
        recording.duration_us = probes[i].duration_us;
        recording.inner_folder = inner_folder_of(folder, files[i]);
        recording.folder_name = name_of_folder(folder);
        recording.input = input;
        search->recordings.push_back(recording);
    }
}

void add_file(const std::string &file, size_t input, bool probe, RecordingSearch *search)
{
    FoundRecording recording;
    recording.source = file;
    recording.input = input;
    MediaProbe result;
    if (probe && probe_media_file(file, &result) >= 0)
        recording.duration_us = result.duration_us;
    search->recordings.push_back(recording);
}

} // namespace

RecordingSearch find_recordings(const std::vector<std::string> &inputs, bool probe_named_files,
                                const std::function<bool()> &stopped)
{
    RecordingSearch search;
    for (size_t i = 0; i < inputs.size(); i++) {
        const std::string &input = inputs[i];
        if (stopped && stopped()) {
            search.stopped = true;
            break;
        }
        if (input.empty())
            continue;
        std::error_code ec;
        if (fs::is_directory(input, ec))
            add_folder(input, i, stopped, &search);
        else
            add_file(input, i, probe_named_files, &search);
    }
    search.stopped = search.stopped || (stopped && stopped());
    std::vector<FoundRecording> found = std::move(search.recordings);
    search.recordings.clear();
    std::set<std::string> seen;
    for (FoundRecording &recording : found)
        if (seen.insert(path_identity(recording.source)).second)
            search.recordings.push_back(std::move(recording));
    return search;
}

std::string mirrored_folder(const FoundRecording &recording, bool with_folder_name)
{
    if (!with_folder_name || recording.folder_name.empty())
        return recording.inner_folder;
    if (recording.inner_folder.empty())
        return recording.folder_name;
    return (fs::path(recording.folder_name) / recording.inner_folder).string();
}

std::string output_folder_for(const std::string &source, const std::string &subfolder,
                              const std::string &output_dir)
{
    if (output_dir.empty()) {
        const std::string folder = fs::path(source).parent_path().string();
        return folder.empty() ? "." : folder;
    }
    if (subfolder.empty())
        return output_dir;
    return (fs::path(output_dir) / subfolder).string();
}

std::string path_identity(const std::string &path)
{
    std::error_code ec;
    fs::path id = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : id.string();
}
