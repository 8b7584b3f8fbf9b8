// The recording's time drawn into the picture; see burn_time.h. The filter's
// words go through three readers, each taking one level of backslashes: the
// graph (which also splits at , ; [ ]), the filter's options (split at :),
// and drawtext's own %{...} expansion (split at :).
#include "burn_time.h"

#include <algorithm>
#include <cstring>

int time_font_size(int height)
{
    return std::max(TIME_SMALLEST_FONT, height / 20);
}

std::string filter_escape(const std::string &text, const char *specials)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '\'' || (c && strchr(specials, c)))
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string recording_time_filter(int64_t start_us, bool utc, int height, const std::string &font)
{
    char start[48];
    snprintf(start, sizeof(start), "%lld.%06lld", (long long)(start_us / 1000000), (long long)(start_us % 1000000));
    const std::string format = utc ? "%Y-%m-%d %H:%M:%S UTC" : "%Y-%m-%d %H:%M:%S %z";
    // drawtext's expansion: %{pts:localtime|gmtime:OFFSET:FORMAT}.
    const std::string expansion = std::string("%{pts:") + (utc ? "gmtime" : "localtime") + ":" + start + ":" +
                                  filter_escape(format, ":}") + "}";
    return time_text_filter(expansion, height, font);
}

std::string time_text_filter(const std::string &text, int height, const std::string &font)
{
    const int size = time_font_size(height);
    const int margin = std::max(2, height / 40);
    const std::string options = "fontfile=" + filter_escape(font, ":") + ":text=" + filter_escape(text, ":") +
                                ":fontsize=" + std::to_string(size) + ":fontcolor=white:box=1:boxcolor=black" +
                                ":boxborderw=" + std::to_string(std::max(2, size / 5)) + ":x=" +
                                std::to_string(margin) + ":y=h-th-" + std::to_string(margin);
    return "drawtext=" + filter_escape(options, "[],;");
}
