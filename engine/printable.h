// How file names and other outside text are shown to people: on a terminal, in
// a plain log and in the window. A name is any bytes; shown raw, a newline in it
// could forge a line of its own ("converted: ...") and an escape sequence could
// drive the terminal. Owned here so the window and the batch command escape
// alike; machine-read output (the batch report's JSON) stays exact instead.
#pragma once

#include <string>

// `text` with every control character written as an escape: "\n", "\r", "\t",
// "\\" for a backslash, "\x1b" for other bytes below 0x20 and 0x7f, "\u0085"
// for the C1 controls (U+0080 to U+009F) and for the characters that reorder
// text on screen (U+202A to U+202E, U+2066 to U+2069). Everything else (other
// UTF-8, and bytes that are not UTF-8) is kept as it is.
std::string printable_text(const std::string &text);
