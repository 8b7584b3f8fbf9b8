// Encoding and decoding the conversion process's event lines.
#include "job_protocol.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

std::string encode_progress_line(int64_t out_time_us, int64_t duration_us, double speed)
{
    json line = {{"event", "progress"}, {"out_time_us", out_time_us}, {"duration_us", duration_us},
                 {"speed", speed}};
    return line.dump() + "\n";
}

std::string encode_end_line(const std::string &end, const std::string &reason, int64_t out_time_us)
{
    // "replace": an engine message may carry bytes of a file name that are not
    // UTF-8; the line must still be sent.
    json line = {{"event", "end"}, {"end", end}, {"reason", reason}, {"out_time_us", out_time_us}};
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
