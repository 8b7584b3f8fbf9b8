// Encoding and decoding the conversion process's event lines.
#include "job_protocol.h"

#include <nlohmann/json.hpp>

#include <cstring>

extern "C" {
#include <libavutil/base64.h>
}

using nlohmann::json;

std::string encode_progress_line(int64_t out_time_us, int64_t duration_us, double speed)
{
    json line = {{"event", "progress"}, {"out_time_us", out_time_us}, {"duration_us", duration_us},
                 {"speed", speed}};
    return line.dump() + "\n";
}

namespace {

// A path as any bytes, in a JSON string: base64.
std::string path_to_text(const std::string &path)
{
    std::string text(AV_BASE64_SIZE(path.size()), '\0');
    if (!av_base64_encode(&text[0], int(text.size()), reinterpret_cast<const uint8_t *>(path.data()),
                          int(path.size())))
        return "";
    text.resize(strlen(text.c_str()));
    return text;
}

std::string path_from_text(const std::string &text)
{
    std::string path(AV_BASE64_DECODE_SIZE(text.size()) + 1, '\0');
    const int n = av_base64_decode(reinterpret_cast<uint8_t *>(&path[0]), text.c_str(), int(path.size()));
    path.resize(n > 0 ? size_t(n) : 0);
    return path;
}

} // namespace

std::string encode_end_line(const std::string &end, const JobEnd &details)
{
    // "replace": an engine message may carry bytes of a file name that are not
    // UTF-8; the line must still be sent.
    json line = {{"event", "end"},
                 {"end", end},
                 {"reason", details.reason},
                 {"out_time_us", details.out_time_us},
                 {"expected_us", details.expected_us},
                 {"problems", details.problems}};
    if (!details.output.empty())
        line["output"] = path_to_text(details.output);
    if (!details.failure.empty())
        line["failure"] = details.failure;
    const JobHandling &h = details.handling;
    if (!h.picture.empty())
        line["picture"] = h.picture;
    if (!h.picture_reason.empty())
        line["picture_reason"] = h.picture_reason;
    if (!h.evidence.empty())
        line["evidence"] = path_to_text(h.evidence);
    if (!h.evidence_error.empty())
        line["evidence_error"] = h.evidence_error;
    if (h.deinterlaced)
        line["deinterlaced"] = true;
    if (!h.time.empty())
        line["time"] = h.time;
    if (!h.time_reason.empty())
        line["time_reason"] = h.time_reason;
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

namespace {

bool decode_object(const json &j, JobEvent *event)
{
    if (!j.is_object() || !j.contains("event"))
        return false;
    *event = JobEvent();
    const std::string kind = j.value("event", "");
    event->out_time_us = j.value("out_time_us", int64_t(0));
    if (kind == "progress") {
        event->kind = JobEvent::Progress;
        event->duration_us = j.value("duration_us", int64_t(-1));
        event->speed = j.value("speed", 0.0);
        return true;
    }
    if (kind == "end") {
        event->kind = JobEvent::End;
        event->end = j.value("end", "");
        event->reason = j.value("reason", "");
        event->output = path_from_text(j.value("output", ""));
        event->failure = j.value("failure", "");
        event->expected_us = j.value("expected_us", int64_t(-1));
        event->handling.picture = j.value("picture", "");
        event->handling.picture_reason = j.value("picture_reason", "");
        event->handling.evidence = path_from_text(j.value("evidence", ""));
        event->handling.evidence_error = j.value("evidence_error", "");
        event->handling.deinterlaced = j.value("deinterlaced", false);
        event->handling.time = j.value("time", "");
        event->handling.time_reason = j.value("time_reason", "");
        if (j.contains("problems") && j.at("problems").is_array())
            for (const json &p : j.at("problems"))
                if (p.is_string())
                    event->problems.push_back(p.get<std::string>());
        return event->end == "completed" || event->end == "stopped" || event->end == "failed";
    }
    return false;
}

} // namespace

bool decode_job_event(const std::string &line, JobEvent *event)
{
    try {
        return decode_object(json::parse(line), event);
    } catch (const json::exception &) {
        return false; // not JSON, or a field of the wrong type
    }
}
