// When a recording began: its container's creation time tag, or the wall clock
// a recorder format stamps on its frames. See recording_time.h.
#include "recording_time.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/parseutils.h>
}

namespace {

// Where the first DAV chunk is looked for: exports may start with a header.
constexpr size_t kDavSearchBytes = 64 * 1024;
constexpr size_t kDavChunkHead = 24;
constexpr size_t kDavDateOffset = 16;

int64_t tag_time(const AVDictionary *metadata)
{
    const AVDictionaryEntry *tag = av_dict_get(metadata, "creation_time", nullptr, 0);
    int64_t us = 0;
    if (!tag || !*tag->value || av_parse_time(&us, tag->value, 0) < 0 || us <= 0)
        return -1;
    return us;
}

uint32_t little_endian_32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

int64_t container_creation_time(const AVFormatContext *ic)
{
    int64_t us = tag_time(ic->metadata);
    for (unsigned i = 0; us < 0 && i < ic->nb_streams; i++) {
        const AVMediaType type = ic->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)
            us = tag_time(ic->streams[i]->metadata);
    }
    return us;
}

int64_t dav_date_time(uint32_t field)
{
    struct tm t = {};
    t.tm_sec = int(field & 63);
    t.tm_min = int((field >> 6) & 63);
    t.tm_hour = int((field >> 12) & 31);
    t.tm_mday = int((field >> 17) & 31);
    t.tm_mon = int((field >> 22) & 15) - 1;
    t.tm_year = int(field >> 26) + 100;
    if (t.tm_sec > 59 || t.tm_min > 59 || t.tm_hour > 23 || t.tm_mday < 1 || t.tm_mon < 0 || t.tm_mon > 11)
        return -1;
    const struct tm asked = t;
    const time_t seconds = timegm(&t);
    // timegm moves a 31st of a shorter month on to the next month.
    if (seconds == time_t(-1) || t.tm_mday != asked.tm_mday || t.tm_mon != asked.tm_mon)
        return -1;
    return int64_t(seconds) * 1000000;
}

int64_t recording_start_time(const std::string &path, const std::string &format, int64_t creation_us,
                             bool *from_recorder)
{
    const bool from_clock = creation_us < 0 && format == "dhav";
    if (from_clock)
        creation_us = dav_recorder_time(path);
    if (from_recorder)
        *from_recorder = from_clock && creation_us >= 0;
    return creation_us;
}

int64_t dav_recorder_time(const std::string &path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(path.c_str(), "rb"), fclose);
    if (!file)
        return -1;
    std::unique_ptr<unsigned char[]> head(new unsigned char[kDavSearchBytes]);
    const size_t n = fread(head.get(), 1, kDavSearchBytes, file.get());
    for (size_t at = 0; at + kDavChunkHead <= n; at++)
        if (!memcmp(head.get() + at, "DHAV", 4))
            return dav_date_time(little_endian_32(head.get() + at + kDavDateOffset));
    return -1;
}

std::string iso_utc_text(int64_t us)
{
    const time_t seconds = time_t(us / 1000000);
    struct tm t;
    char text[64];
    if (!gmtime_r(&seconds, &t) || !strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &t))
        return "";
    char fraction[16];
    snprintf(fraction, sizeof(fraction), ".%06dZ", int(us % 1000000));
    return std::string(text) + fraction;
}
