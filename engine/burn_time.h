// The recording's date and time drawn into every picture: the moment each
// frame was recorded (the recording's start plus the frame's time), light text
// on a dark box in the lower left corner, sized to the picture, with the zone
// it is told in ("2024-03-15 09:00:03 +0100", or "... UTC"). Built on the
// libraries' drawtext filter with a font from a Debian package. Called by
// plan_conversion (conversion.h).
#pragma once

#include <cstdint>
#include <string>

// The font the time is drawn in (fonts-dejavu-core).
constexpr char TIME_FONT_PATH[] = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// The text's height for a picture `height` lines high: a twentieth of it, at
// least TIME_SMALLEST_FONT pixels.
constexpr int TIME_SMALLEST_FONT = 12;
int time_font_size(int height);

// `text` with a backslash before every backslash, single quote and character
// of `specials`: one level of the libraries' filter quoting.
std::string filter_escape(const std::string &text, const char *specials);

// The drawtext filter (for -vf) that draws `text` as the time is drawn:
// `text` as drawtext's expansion reads it (%{...} expanded, "\:" a colon).
std::string time_text_filter(const std::string &text, int height, const std::string &font = TIME_FONT_PATH);

// The video filter (for -vf, joined with others by ",") that draws the time of
// each frame of a recording that began at `start_us` (microseconds since the
// epoch): in UTC with `utc`, else in the local time of the converting process
// with its offset. `font` is the font file.
std::string recording_time_filter(int64_t start_us, bool utc, int height, const std::string &font = TIME_FONT_PATH);
