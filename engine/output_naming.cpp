// Output names of conversions; see output_naming.h.
#include "output_naming.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

std::string converted_output_name(const std::string &source_name, int number, bool joined)
{
    const size_t dot = source_name.rfind('.');
    std::string name = dot == std::string::npos ? source_name : source_name.substr(0, dot);
    name += joined ? "_converted_joined" : "_converted";
    if (number != 0)
        name += "_" + std::to_string(number);
    return name + ".mp4";
}

int converted_output_number(const std::string &file_name, std::string *stem, bool *joined)
{
    static const std::string join_mark = "_joined";
    static const std::string suffix = ".mp4";
    static const std::string marker = "_converted";
    if (file_name.size() < marker.size() + suffix.size() ||
        file_name.compare(file_name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const std::string base = file_name.substr(0, file_name.size() - suffix.size());
    const size_t at = base.rfind(marker);
    if (at == std::string::npos)
        return -1;
    if (stem)
        *stem = base.substr(0, at);
    std::string rest = base.substr(at + marker.size());
    const bool is_joined = rest.compare(0, join_mark.size(), join_mark) == 0;
    if (is_joined)
        rest.erase(0, join_mark.size());
    if (joined)
        *joined = is_joined;
    if (rest.empty())
        return 0;
    // "_<n>" exactly as std::to_string writes a number from 1 up: no sign, no
    // leading zero, and no larger than the rule goes.
    if (rest.size() < 2 || rest.size() > 6 || rest[0] != '_' || rest[1] == '0' ||
        rest.find_first_not_of("0123456789", 1) != std::string::npos)
        return -1;
    const int number = std::stoi(rest.substr(1));
    return number <= MAX_OUTPUT_NUMBER ? number : -1;
}

bool is_converted_output_name(const std::string &file_name)
{
    return converted_output_number(file_name, nullptr) >= 0;
}

std::string next_free_converted_path(const std::string &path, const OutputTakenFn &taken)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string stem;
    bool joined = false;
    const int number = converted_output_number(path.substr(folder.size()), &stem, &joined);
    if (number < 0)
        return "";
    // The stem given a bare "." as its extension: the rule drops exactly that.
    for (int next = number + 1; next <= MAX_OUTPUT_NUMBER; ++next) {
        const std::string candidate = folder + converted_output_name(stem + ".", next, joined);
        if (!taken(candidate))
            return candidate;
    }
    return "";
}

namespace {

// The process id in a partial file name's mark ("<pid>" or "<pid>-<n>"), or 0.
long partial_mark_pid(const std::string &mark)
{
    const size_t digits = mark.find_first_not_of("0123456789");
    if (digits == 0 || mark.empty())
        return 0;
    if (digits != std::string::npos &&
        (mark[digits] != '-' || digits + 1 == mark.size() ||
         mark.find_first_not_of("0123456789", digits + 1) != std::string::npos))
        return 0;
    return std::strtol(mark.substr(0, digits).c_str(), nullptr, 10);
}

bool process_alive(long pid)
{
    return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

bool live_partial_file_exists(const std::string &final_path)
{
    // partial_output_path with a process id of 0 gives "<folder>/.<name>.0.part":
    // everything up to the mark is what every partial file of this name begins with.
    const std::string sample = partial_output_path(final_path, 0);
    const size_t slash = sample.rfind('/');
    const std::string folder = sample.substr(0, slash);
    const std::string begin = sample.substr(slash + 1, sample.size() - slash - 1 - std::string("0.part").size());
    static const std::string end = ".part";
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return false;
    while (const dirent *entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() <= begin.size() + end.size() || name.compare(0, begin.size(), begin) != 0 ||
            name.compare(name.size() - end.size(), end.size(), end) != 0)
            continue;
        const std::string mark = name.substr(begin.size(), name.size() - begin.size() - end.size());
        if (process_alive(partial_mark_pid(mark)))
            return true;
    }
    return false;
}

bool output_path_taken_on_disk(const std::string &path)
{
    // lstat: a dangling symbolic link still occupies the name, and writing
    // through it would create a file somewhere else. A name another conversion
    // is writing right now is taken too: it will be there when that one ends.
    struct stat st;
    return lstat(path.c_str(), &st) == 0 || live_partial_file_exists(path);
}

std::string free_output_path(const std::string &folder, const std::string &source_name,
                             const OutputTakenFn &taken, int max_number, bool joined)
{
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    for (int number = 0; number <= max_number; ++number) {
        std::string path = prefix + converted_output_name(source_name, number, joined);
        if (!taken(path))
            return path;
    }
    return "";
}

std::string partial_output_path(const std::string &final_path, long pid, int attempt)
{
    const size_t slash = final_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : final_path.substr(0, slash);
    std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    // A file name holds at most 255 bytes; the marks take up to about 30.
    constexpr size_t kMaxKept = 200;
    if (name.size() > kMaxKept) {
        size_t cut = kMaxKept;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            cut--; // not inside a UTF-8 sequence
        name.resize(cut);
    }
    std::string mark = "." + std::to_string(pid);
    if (attempt > 0)
        mark += "-" + std::to_string(attempt);
    return folder + "/." + name + mark + ".part";
}
