// Whether a recording's picture is interlaced. Baseline H.264 carries no
// interlacing, so such a picture is deinterlaced before it is encoded (one
// frame per frame, the libraries' motion-adaptive bwdif); a progressive one is
// left as it is. Called by plan_conversion (conversion.h) with the recording
// opened and its streams found.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

enum class Interlacing {
    Progressive, // nothing says or shows fields
    Flagged,     // the stream or its frames say the picture is interlaced
    Detected,    // unmarked, but the interlace detector (idet) sees fields
};

struct InterlaceFinding {
    Interlacing interlacing = Interlacing::Progressive;
    int pictures = 0;            // the pictures looked at
    int flagged = 0;             // of them, marked interlaced
    int fields = 0;              // judged interlaced by the detector (top or bottom first)
    int progressive = 0;         // judged progressive by the detector
    // How strongly neighbouring rows disagree against rows of the same field:
    // the sum of |2 row - above - below| over the sum of |row - the row two
    // below|, over every picture's luma. A progressive picture stays well below
    // 1 (0.6 to 0.8 for the test pictures, MJPEG too); woven fields of anything
    // that moves go far above (over 100).
    double comb = 0;
};

// How many pictures are looked at (2 s of a 25 fps camera), and how many the
// detector must judge interlaced, and more often than progressive, to say so.
// Pictures larger than D1 are looked at fewer in proportion, down to
// INTERLACE_FEWEST_PICTURES, so that planning stays quick on any size.
constexpr int INTERLACE_PICTURES_LOOKED = 50;
constexpr int INTERLACE_FEWEST_PICTURES = 16;
constexpr int INTERLACE_FIELDS_NEEDED = 8;
// Unmarked fields also need combing the eye would see: the detector alone
// takes some intra-coded progressive pictures (MJPEG cameras) for fields.
constexpr double INTERLACE_COMB_NEEDED = 1.5;

// The pictures looked at for pictures of `width` x `height`.
int interlace_pictures_for(int width, int height);

// Looks at the first pictures of stream `index` of `ic` and moves back to the
// start. Returns 0, or a negative error when they cannot be looked at (then
// the finding says Progressive).
int find_interlacing(AVFormatContext *ic, int index, InterlaceFinding *found);

// Adds one 8-bit luma plane to the comb sums (`across`: rows against their
// neighbours, `along`: rows against the row two below).
void add_comb(const uint8_t *luma, int linesize, int width, int height, double *across, double *along);

// The judgement from the counts: Flagged when the stream's field order or any
// frame says so, Detected when `fields` reaches INTERLACE_FIELDS_NEEDED and
// outnumbers `progressive` and `comb` exceeds INTERLACE_COMB_NEEDED, else
// Progressive.
Interlacing judge_interlacing(bool stream_flagged, const InterlaceFinding &counts);

// The video filter that deinterlaces a picture so judged; "" for Progressive.
// Flagged pictures deinterlace the frames marked interlaced only; detected ones
// every frame.
std::string deinterlace_filter(Interlacing interlacing);
