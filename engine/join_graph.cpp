// The words of a join (join_graph.h). Converted pictures go through one graph:
// each segment deinterlaced when it needs it, fitted to the first picture's size
// with its shape kept, on the first's rate, held over the gap after it, its own
// time drawn when asked, then concatenated. Kept pictures are read through the
// libraries' concatenation reader from a list written here, never from a file:
// the list pins each segment to the container the join's guarded look found (a
// segment swapped for a playlist since then is refused, not followed) and to
// local files, and gives each the length it fills, so that the last picture is
// held over a gap kept; the sound, converted, fills exactly the same lengths.
// Called by plan_join.
#include "join_graph.h"

#include "burn_time.h"
#include "interlace.h"
#include "media_scan.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavutil/base64.h>
}

namespace {

// Containers whose readers open no other file: only these are read through
// the segment list, where the folder guard of a plain input does not reach.
const char *const kSelfContainedFormats[] = {
    "mpegts", "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm", "avi", "flv", "dhav", "asf", "mpeg", "nut",
};

std::string us(int64_t microseconds)
{
    return std::to_string(microseconds) + "us";
}

// The gap kept after the k-th joined segment: the one held before the next.
int64_t hold_after(const std::vector<const JoinSegment *> &joined, size_t k)
{
    return k + 1 < joined.size() ? joined[k + 1]->held_before_us : 0;
}

// The length the k-th segment fills in the joined file; -1 when its own is unknown.
int64_t slot_of(const std::vector<const JoinSegment *> &joined, size_t k)
{
    return joined[k]->duration_us < 0 ? -1 : joined[k]->duration_us + hold_after(joined, k);
}

bool self_contained(const std::string &format)
{
    return std::find(std::begin(kSelfContainedFormats), std::end(kSelfContainedFormats), format) !=
           std::end(kSelfContainedFormats);
}

std::string picture_chain(const JoinSegment &s, const std::string &input, int64_t hold_after_us,
                          const JoinTarget &t)
{
    const std::string w = std::to_string(t.width), h = std::to_string(t.height);
    std::string chain;
    if (s.width > 0) {
        chain = input;
        if (s.interlacing != Interlacing::Progressive)
            chain += deinterlace_filter(s.interlacing) + ",";
        chain += "scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease,pad=" + w + ":" + h +
                 ":(ow-iw)/2:(oh-ih)/2,setsar=1,fps=" + t.rate + ",format=yuv420p";
        if (hold_after_us > 0)
            chain += ",tpad=stop_mode=clone:stop_duration=" + us(hold_after_us);
    } else {
        // A segment of sound only: black under its sound.
        chain = "color=c=black:s=" + w + "x" + h + ":r=" + t.rate +
                ":d=" + us(std::max<int64_t>(0, s.duration_us) + hold_after_us) + ",format=yuv420p";
    }
    if (t.time != ConversionChoices::TimeInPicture::Off && s.start_us >= 0)
        chain += "," + recording_time_filter(s.start_us, t.time == ConversionChoices::TimeInPicture::Utc, t.height);
    return chain;
}

// A segment's sound on the target's rate and layout, silence after it over
// the gap kept; `slot_us` (when not negative) makes it exactly that long, as
// its kept picture is.
std::string sound_chain(const JoinSegment &s, const std::string &input, int64_t hold_after_us, int64_t slot_us,
                        const JoinTarget &t)
{
    const std::string format = "aformat=sample_fmts=fltp:sample_rates=" + std::to_string(t.sample_rate) +
                               ":channel_layouts=" + t.layout;
    if (s.sample_rate > 0) {
        std::string chain = input + "aresample=" + std::to_string(t.sample_rate) + "," + format;
        if (slot_us >= 0)
            chain += ",apad=whole_dur=" + us(slot_us) + ",atrim=end=" + us(slot_us);
        else if (hold_after_us > 0)
            chain += ",apad=pad_dur=" + us(hold_after_us);
        return chain;
    }
    return "anullsrc=r=" + std::to_string(t.sample_rate) + ":cl=" + t.layout + ",atrim=duration=" +
           us(slot_us >= 0 ? slot_us : std::max<int64_t>(0, s.duration_us) + hold_after_us) + "," + format;
}

// A token of the segment list: single-quoted, a quote inside as '\''.
std::string list_token(const std::string &text)
{
    std::string token = "'";
    for (char c : text)
        token += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return token + "'";
}

} // namespace

std::string segment_name(const std::string &path)
{
    return std::filesystem::path(path).filename().string();
}

std::string kept_join_refusal(const std::vector<const JoinSegment *> &joined)
{
    if (joined.empty())
        return "no segment can be read";
    const JoinSegment &first = *joined.front();
    for (const JoinSegment *s : joined) {
        const std::string name = segment_name(s->source);
        if (s->width <= 0)
            return name + " has no picture";
        if (!s->keep_refusal.empty())
            return "in " + name + ", " + s->keep_refusal;
        if (!self_contained(s->format))
            return name + " is a file of a kind (" + s->format + ") that is joined only by converting";
        if (s->source.find('\n') != std::string::npos || s->source.find('\r') != std::string::npos)
            return "the name of " + name + " has a line break";
        if (s->width != first.width || s->height != first.height)
            return "the picture of " + name + " (" + std::to_string(s->width) + "x" + std::to_string(s->height) +
                   ") differs in size from " + segment_name(first.source) + "'s (" + std::to_string(first.width) +
                   "x" + std::to_string(first.height) + ")";
        if (s->picture_params != first.picture_params)
            return "the picture of " + name + " is coded unlike " + segment_name(first.source) + "'s";
    }
    return "";
}

std::string segment_list_url(const std::vector<const JoinSegment *> &joined)
{
    std::string list = "ffconcat version 1.0\n";
    for (size_t k = 0; k < joined.size(); k++) {
        const JoinSegment &s = *joined[k];
        list += "file " + list_token("file:" + std::filesystem::absolute(s.source).string()) + "\n";
        list += "option format_whitelist " + list_token(s.format) + "\n";
        list += "option protocol_whitelist file\n";
        const int64_t slot = slot_of(joined, k);
        if (slot >= 0)
            list += "duration " + us(slot) + "\n";
    }
    std::string url = "data:text/plain;base64,";
    const size_t prefix = url.size();
    url.resize(prefix + AV_BASE64_SIZE(list.size()));
    av_base64_encode(&url[prefix], int(url.size() - prefix), (const uint8_t *)list.data(), int(list.size()));
    url.resize(strlen(url.c_str()));
    return url;
}

std::vector<std::string> converted_join_words(const std::vector<const JoinSegment *> &joined,
                                              const JoinTarget &target)
{
    std::vector<std::string> words;
    std::string graph, concat_inputs;
    for (size_t k = 0; k < joined.size(); k++) {
        const JoinSegment &s = *joined[k];
        words.insert(words.end(), {"-i", file_path_argument(s.source)});
        const std::string in = std::to_string(k);
        if (target.picture) {
            graph += picture_chain(s, "[" + in + ":" + std::to_string(s.video_stream) + "]", hold_after(joined, k),
                                   target) + "[v" + in + "];";
            concat_inputs += "[v" + in + "]";
        }
        if (target.sound) {
            graph += sound_chain(s, "[" + in + ":" + std::to_string(s.audio_stream) + "]", hold_after(joined, k), -1,
                                 target) + "[a" + in + "];";
            concat_inputs += "[a" + in + "]";
        }
    }
    graph += concat_inputs + "concat=n=" + std::to_string(joined.size()) + ":v=" + (target.picture ? "1" : "0") +
             ":a=" + (target.sound ? "1" : "0") + (target.picture ? "[v]" : "") + (target.sound ? "[a]" : "");
    words.insert(words.end(), {"-filter_complex", graph});
    if (target.picture)
        words.insert(words.end(), {"-map", "[v]", "-c:v", "libx264", "-profile:v", "baseline", "-level", "3"});
    if (target.sound)
        words.insert(words.end(), {"-map", "[a]"});
    return words;
}

std::vector<std::string> kept_join_words(const std::vector<const JoinSegment *> &joined, const JoinTarget &target,
                                         const std::string &list_url)
{
    // The list is read as a list and nothing else; each segment in it as the
    // container its entry names.
    std::vector<std::string> words = {"-f", "concat", "-safe", "0", "-protocol_whitelist", "data,file",
                                      "-format_whitelist", "concat", "-i", list_url};
    std::string graph, concat_inputs;
    int inputs = 1;
    for (size_t k = 0; target.sound && k < joined.size(); k++) {
        const JoinSegment &s = *joined[k];
        std::string input;
        if (s.sample_rate > 0) {
            words.insert(words.end(), {"-i", file_path_argument(s.source)});
            input = "[" + std::to_string(inputs++) + ":" + std::to_string(s.audio_stream) + "]";
        }
        graph += sound_chain(s, input, hold_after(joined, k), slot_of(joined, k), target) + "[a" +
                 std::to_string(k) + "];";
        concat_inputs += "[a" + std::to_string(k) + "]";
    }
    if (target.sound)
        words.insert(words.end(), {"-filter_complex", graph + concat_inputs + "concat=n=" +
                                                          std::to_string(joined.size()) + ":v=0:a=1[a]"});
    words.insert(words.end(), {"-map", "0:" + std::to_string(joined.front()->video_stream), "-c:v", "copy"});
    if (target.sound)
        words.insert(words.end(), {"-map", "[a]"});
    return words;
}
