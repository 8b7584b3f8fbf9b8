// When a recording began, as the converter keeps it in its output (the MP4's
// creation time) and states it in the evidence record. Called by
// plan_conversion (conversion.h) and tests.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

// The recording's own creation time tag (the file's, else its first picture or
// sound stream's), in microseconds since 1970 (UTC); -1 when it has none the
// libraries can read.
int64_t container_creation_time(const AVFormatContext *ic);

// The wall-clock time a DAV recorder stamped on the first chunk of `path`
// (whole seconds, UTC), in microseconds since 1970; -1 when the file does not
// start with a DAV chunk (within its first 64 KiB) or the stamp is not a date.
int64_t dav_recorder_time(const std::string &path);

// The DAV date field as a time: `sec | min<<6 | hour<<12 | day<<17 |
// month<<22 | (year-2000)<<26`; -1 when a field is out of range.
int64_t dav_date_time(uint32_t field);

// When the recording at `path` (read as `format`) began: `creation_us` (its
// container's creation time, container_creation_time) when known, else for a
// DAV export the time its recorder stamped; -1 when neither is known.
// `*from_recorder` says which one it is (may be nullptr).
int64_t recording_start_time(const std::string &path, const std::string &format, int64_t creation_us,
                             bool *from_recorder = nullptr);

// "2024-03-15T08:00:00.000000Z" for a time in microseconds since 1970.
std::string iso_utc_text(int64_t us);
