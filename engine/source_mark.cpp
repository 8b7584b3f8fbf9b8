// The source's mark in a converted file. See source_mark.h.
#include "source_mark.h"

#include "ffmpeg_exec.h"
#include "output_naming.h"
#include "recording_time.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr const char kMarkTag[] = "comment";
constexpr const char kMarkPrefix[] = "wardline source: ";

std::string name_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string source_mark(const std::string &source)
{
    struct stat st;
    if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return "";
    const int64_t modified_us = int64_t(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
    return std::string(kMarkPrefix) + "name=" + name_of(source) + "; size=" + std::to_string(st.st_size) +
           "; modified=" + iso_utc_text(modified_us);
}

std::string output_source_mark(const std::string &output)
{
    // Only our own kind of file is opened: an MP4 (the "mov" reader), never a
    // file that merely carries the name.
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    AVFormatContext *ic = nullptr;
    const int ret = avformat_open_input(&ic, file_path_argument(output).c_str(), av_find_input_format("mp4"), &opts);
    av_dict_free(&opts);
    if (ret < 0)
        return "";
    const AVDictionaryEntry *tag = av_dict_get(ic->metadata, kMarkTag, nullptr, 0);
    std::string mark = tag ? tag->value : "";
    avformat_close_input(&ic);
    return mark.compare(0, sizeof(kMarkPrefix) - 1, kMarkPrefix) == 0 ? mark : "";
}

std::string earlier_output_of(const std::string &source, const std::string &folder)
{
    const std::string mark = source_mark(source);
    if (mark.empty())
        return "";
    std::string stem;
    converted_output_number(converted_output_name(name_of(source), 0), &stem);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
    if (!dir)
        return "";
    std::vector<std::pair<int, std::string>> candidates;
    while (const dirent *entry = readdir(dir.get())) {
        std::string entry_stem;
        const int number = converted_output_number(entry->d_name, &entry_stem);
        if (number >= 0 && entry_stem == stem)
            candidates.emplace_back(number, entry->d_name);
    }
    std::sort(candidates.begin(), candidates.end());
    const std::string prefix = folder.empty() ? "" : folder.back() == '/' ? folder : folder + "/";
    for (const auto &candidate : candidates)
        if (output_source_mark(prefix + candidate.second) == mark)
            return prefix + candidate.second;
    return "";
}
