// Escaping control characters for display; see printable.h.
#include "printable.h"

#include <cstdio>

namespace {

std::string escaped_code_point(unsigned code_point)
{
    char text[16];
    if (code_point < 0x80)
        snprintf(text, sizeof(text), "\\x%02x", code_point);
    else
        snprintf(text, sizeof(text), "\\u%04x", code_point);
    return text;
}

// The length of a UTF-8 sequence at `at` that decodes to a code point to be
// escaped (in `code_point`), or 0.
size_t escaped_sequence(const std::string &text, size_t at, unsigned *code_point)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    // U+0080..U+009F: C2 80..C2 9F.
    if (at + 1 < text.size() && byte(at) == 0xC2 && byte(at + 1) >= 0x80 && byte(at + 1) <= 0x9F) {
        *code_point = byte(at + 1);
        return 2;
    }
    // U+202A..U+202E: E2 80 AA..AE; U+2066..U+2069: E2 81 A6..A9.
    if (at + 2 < text.size() && byte(at) == 0xE2) {
        const unsigned point = 0x2000 + ((byte(at + 1) & 0x3F) << 6) + (byte(at + 2) & 0x3F);
        const bool continuation = (byte(at + 1) & 0xC0) == 0x80 && (byte(at + 2) & 0xC0) == 0x80;
        if (continuation && ((point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069))) {
            *code_point = point;
            return 3;
        }
    }
    return 0;
}

} // namespace

std::string printable_text(const std::string &text)
{
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned code_point = 0;
        if (const size_t length = escaped_sequence(text, i, &code_point)) {
            shown += escaped_code_point(code_point);
            i += length;
            continue;
        }
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else if (c == '\\')
            shown += "\\\\";
        else if (c < 0x20 || c == 0x7F)
            shown += escaped_code_point(c);
        else
            shown += text[i];
        i++;
    }
    return shown;
}
