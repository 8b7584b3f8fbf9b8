#include "crafted.h"

#include <cstring>
#include <initializer_list>

namespace {

void put_le(Bytes &out, uint32_t value, int size)
{
    for (int i = 0; i < size; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

uint32_t get_be32(const Bytes &b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

} // namespace

Bytes y4m_claiming(int width, int height)
{
    const std::string header = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                               " F25:1 Ip A1:1 C420jpeg\nFRAME\n";
    Bytes out(header.begin(), header.end());
    out.resize(out.size() + 4096, 0x80);
    return out;
}

Bytes gif_claiming(int width, int height)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    put_le(out, uint32_t(width), 2);
    put_le(out, uint32_t(height), 2);
    // A global table of two colours, white and black.
    for (uint8_t b : {0x80, 0, 0, 0xff, 0xff, 0xff, 0, 0, 0})
        out.push_back(b);
    for (int i = 0; i < 5; i++) {
        // Graphic control: 0.1 s per picture; then one 1x1 picture at 0,0.
        for (uint8_t b : {0x21, 0xf9, 4, 0, 10, 0, 0, 0, 0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0})
            out.push_back(b);
    }
    out.push_back(0x3b);
    return out;
}

Bytes wav_claiming(int channels, int rate)
{
    const int bits = 16, block = channels * bits / 8;
    Bytes fmt;
    put_le(fmt, 1, 2); // PCM
    put_le(fmt, uint32_t(channels), 2);
    put_le(fmt, uint32_t(rate), 4);
    put_le(fmt, uint32_t(rate * block), 4);
    put_le(fmt, uint32_t(block), 2);
    put_le(fmt, bits, 2);
    const Bytes data(1600, 0x10);

    Bytes out = {'R', 'I', 'F', 'F'};
    put_le(out, uint32_t(4 + 8 + fmt.size() + 8 + data.size()), 4);
    for (char c : std::string("WAVEfmt "))
        out.push_back(uint8_t(c));
    put_le(out, uint32_t(fmt.size()), 4);
    out.insert(out.end(), fmt.begin(), fmt.end());
    for (char c : std::string("data"))
        out.push_back(uint8_t(c));
    put_le(out, uint32_t(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

int claim_jpeg_size(Bytes &bytes, int width, int height)
{
    int changed = 0;
    // FF C0, length 17 (three components), precision 8, height, width. Entropy-
    // coded data never holds FF C0: a data byte FF is always followed by 00.
    for (size_t i = 0; i + 9 < bytes.size(); i++) {
        if (bytes[i] != 0xff || bytes[i + 1] != 0xc0 || bytes[i + 2] != 0 || bytes[i + 3] != 17)
            continue;
        bytes[i + 5] = uint8_t(height >> 8);
        bytes[i + 6] = uint8_t(height);
        bytes[i + 7] = uint8_t(width >> 8);
        bytes[i + 8] = uint8_t(width);
        changed++;
    }
    return changed;
}

int64_t mp4_box_offset(const Bytes &bytes, const char *type)
{
    for (size_t at = 0; at + 8 <= bytes.size();) {
        const uint32_t size = get_be32(bytes, at);
        if (!memcmp(&bytes[at + 4], type, 4))
            return int64_t(at);
        if (size < 8)
            return -1; // 64-bit or to-the-end sizes do not occur in our files
        at += size;
    }
    return -1;
}

bool zero_mp4_samples(Bytes &bytes)
{
    const int64_t at = mp4_box_offset(bytes, "mdat");
    if (at < 0)
        return false;
    const size_t end = size_t(at) + get_be32(bytes, size_t(at));
    if (end > bytes.size())
        return false;
    std::fill(bytes.begin() + at + 8, bytes.begin() + long(end), uint8_t(0));
    return true;
}
