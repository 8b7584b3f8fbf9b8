// Pictures an encoder cannot take as they are: the H.264 level written for the
// picture size and rate actually encoded, pictures beyond level 5.1 scaled down
// to it, and odd sizes padded for encoders of subsampled chroma. Sources are
// made by the engine's lavfi input.
#include "engine_harness.h"
#include "ffmpeg_exec.h"
#include "fixture_io.h"
#include "media_facts.h"
#include "media_probe.h"
#include "transcode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

using Args = std::vector<std::string>;

// The converter's arguments over a short synthetic source, kept fast: the
// source read as a lavfi graph, three frames encoded at the fastest preset.
Args converter_args_over(const std::string &source, const std::string &out)
{
    Args words = converter_arguments(source, out);
    words.erase(words.begin()); // run_engine names the program itself
    words[1] = source;          // a graph, not a file path
    words.insert(words.begin(), {"-f", "lavfi"});
    words.insert(words.end() - 1, {"-frames:v", "3", "-preset", "ultrafast"});
    return words;
}

TEST(H264Level, IsRaisedToTheLowestLevelThatHoldsThePicture)
{
    const std::string out = scratch_dir("picture_fit_levels") + "/out.mp4";
    // size, rate, level_idc written, the warning when raised
    const std::tuple<std::string, int, int, const char *> cases[] = {
        {"720x576", 25, 30, nullptr},
        {"640x480", 25, 30, nullptr},
        {"1280x720", 25, 31, "Level 3.0 cannot hold 1280x720 at 25 fps; writing level 3.1"},
        // Exactly 3.1's 108000 macroblocks a second, and one macroblock column more.
        {"1280x720", 30, 31, "Level 3.0 cannot hold 1280x720 at 30 fps; writing level 3.1"},
        {"1296x720", 30, 32, "Level 3.0 cannot hold 1296x720 at 30 fps; writing level 3.2"},
        {"1920x1080", 25, 40, "Level 3.0 cannot hold 1920x1080 at 25 fps; writing level 4.0"},
        {"1920x1080", 50, 42, "Level 3.0 cannot hold 1920x1080 at 50 fps; writing level 4.2"},
        {"3840x2160", 25, 51, "Level 3.0 cannot hold 3840x2160 at 25 fps; writing level 5.1"},
    };
    for (const auto &[size, rate, level, warning] : cases) {
        SCOPED_TRACE(size + "@" + std::to_string(rate));
        LogCapture log(AV_LOG_WARNING);
        ASSERT_EQ(run_engine(converter_args_over("testsrc=size=" + size + ":rate=" + std::to_string(rate), out)), 0)
            << log.all_text();
        const FileFacts facts = inspect(out);
        const StreamFacts *v = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->level, level);
        EXPECT_EQ(std::to_string(v->width) + "x" + std::to_string(v->height), size); // never scaled
        EXPECT_EQ(log.has(warning ? warning : "cannot hold", AV_LOG_WARNING), warning != nullptr);
        EXPECT_FALSE(log.has("level limit")) << log.all_text(); // libx264 finds nothing over
    }
}

// Each level the converter writes (3 raised up to 5.1) at its own limits and one
// macroblock (or a thousandth of a picture a second, or a reference frame)
// beyond: frame size (MaxFS), frame side (the square root of 8 x MaxFS),
// macroblocks a second (MaxMBPS) and the decoded-picture buffer (MaxDpbMbs).
// Numbers from the H.264 standard's level table (A-1), in pixels here.
TEST(H264Level, EachLevelHoldsExactlyItsLimits)
{
    struct Case {
        int asked, w, h;
        bool interlaced;
        double fps;
        int refs, written;
    };
    const Case cases[] = {
        // 3.0: 1620 macroblocks, 113 a side, 40500 a second, 8100 buffered
        {30, 720, 576, false, 0, 1, 30},   {30, 720, 577, false, 0, 1, 31},   {30, 736, 576, false, 10, 1, 31},
        {30, 720, 576, false, 25, 1, 30},  {30, 1808, 224, false, 25, 1, 30}, {30, 1824, 224, false, 25, 1, 31},
        {30, 720, 480, false, 30, 1, 30},  {30, 736, 480, false, 30, 1, 31},  {30, 720, 480, false, 30.001, 1, 31},
        {30, 720, 576, false, 25, 5, 30},  {30, 720, 576, false, 25, 6, 31},
        // 3.1: 3600, 169 a side, 108000, 18000
        {30, 1280, 720, false, 0, 1, 31},  {30, 1296, 720, false, 0, 1, 32},  {30, 2704, 336, false, 0, 1, 31},
        {30, 2720, 336, false, 0, 1, 32},  {30, 1024, 576, false, 46.875, 1, 31},
        {30, 1040, 576, false, 46.875, 1, 32}, {30, 1280, 720, false, 30, 1, 31},
        {30, 1280, 720, false, 30.001, 1, 32}, {30, 1280, 720, false, 25, 5, 31}, {30, 1280, 720, false, 25, 6, 40},
        // 3.2: 5120, 202 a side, 216000, 20480
        {30, 1280, 1024, false, 0, 1, 32}, {30, 1296, 1024, false, 0, 1, 40}, {30, 3232, 400, false, 0, 1, 32},
        {30, 3248, 400, false, 0, 1, 40},  {30, 1280, 720, false, 60, 1, 32}, {30, 1280, 720, false, 60.001, 1, 40},
        {30, 1280, 1024, false, 25, 4, 32}, {30, 1280, 1024, false, 25, 5, 40},
        // 4.0 and 4.1 (the same but for the bit rate): 8192, 256 a side, 245760, 32768
        {30, 2048, 1024, false, 0, 1, 40}, {30, 2064, 1024, false, 0, 1, 42}, {30, 4096, 512, false, 0, 1, 40},
        {30, 4112, 496, false, 0, 1, 42},  {30, 2048, 1024, false, 30, 1, 40},
        {30, 2048, 1024, false, 30.001, 1, 42}, {30, 1920, 1080, false, 30, 1, 40},
        {30, 2048, 1024, false, 25, 4, 40}, {30, 2048, 1024, false, 25, 5, 50},
        {41, 2048, 1024, false, 30, 4, 41}, {41, 2064, 1024, false, 0, 1, 42},
        // 4.2: 8704, 263 a side, 522240, 34816
        {30, 2048, 1088, false, 0, 1, 42}, {30, 2064, 1088, false, 0, 1, 50}, {30, 4208, 528, false, 0, 1, 42},
        {30, 4224, 512, false, 0, 1, 50},  {30, 2048, 1088, false, 60, 1, 42}, {30, 1920, 1080, false, 64, 1, 42},
        {30, 1920, 1080, false, 64.001, 1, 50}, {30, 2048, 1088, false, 25, 4, 42},
        {30, 2048, 1088, false, 25, 5, 50},
        // 5.0: 22080, 420 a side, 589824, 110400
        {30, 2560, 2208, false, 0, 1, 50}, {30, 2576, 2208, false, 0, 1, 51}, {30, 6720, 832, false, 0, 1, 50},
        {30, 6736, 832, false, 0, 1, 51},  {30, 2048, 1152, false, 64, 1, 50},
        {30, 2048, 1152, false, 64.001, 1, 51}, {30, 2560, 2208, false, 25, 5, 50},
        {30, 2560, 2208, false, 25, 6, 51},
        // 5.1: 36864, 543 a side, 983040, 184320
        {30, 4096, 2304, false, 0, 1, 51}, {30, 4112, 2304, false, 0, 1, 60}, {30, 8688, 1024, false, 0, 1, 51},
        {30, 8704, 1024, false, 0, 1, 60}, {30, 2048, 2048, false, 60, 1, 51},
        {30, 2048, 2048, false, 60.001, 1, 52}, {30, 4096, 2304, false, 25, 5, 51},
        {30, 4096, 2304, false, 25, 6, 60},
        // Standing on end: the side limit holds for the height too.
        {30, 224, 1808, false, 0, 1, 30},  {30, 224, 1824, false, 0, 1, 31},  {30, 336, 2704, false, 0, 1, 31},
        {30, 336, 2720, false, 0, 1, 32},  {30, 400, 3232, false, 0, 1, 32},  {30, 400, 3248, false, 0, 1, 40},
        {30, 512, 4096, false, 0, 1, 40},  {30, 496, 4112, false, 0, 1, 42},  {30, 528, 4208, false, 0, 1, 42},
        {30, 512, 4224, false, 0, 1, 50},  {30, 832, 6720, false, 0, 1, 50},  {30, 832, 6736, false, 0, 1, 51},
        {30, 1024, 8688, false, 0, 1, 51}, {30, 1024, 8704, false, 0, 1, 60},
        // Interlaced pictures are coded in macroblock pairs: 35 rows become 36.
        {30, 736, 560, false, 25, 1, 30}, {30, 736, 560, true, 25, 1, 31}, {30, 720, 576, true, 25, 1, 30},
        // A level that holds is kept, also above what the picture needs.
        {31, 720, 576, false, 25, 1, 31}, {51, 1280, 720, false, 25, 1, 51},
        // Beyond every level, or a level the table does not know: left as asked.
        {30, 16384, 16384, false, 30, 1, 30}, {33, 1920, 1080, false, 25, 1, 33},
    };
    for (const Case &c : cases)
        EXPECT_EQ(h264_level_holding(c.asked, c.w, c.h, c.interlaced, c.fps, c.refs), c.written)
            << "level " << c.asked << ", " << c.w << "x" << c.h << (c.interlaced ? "i" : "p") << "@" << c.fps
            << ", " << c.refs << " reference frame(s)";
}

// Level 5.1's limits, checked here on their own: 36864 macroblocks a frame,
// 543 a side, 983040 a second.
bool level_51_holds(int w, int h, double fps)
{
    const int64_t mw = (w + 15) / 16, mh = (h + 15) / 16;
    return mw * mh <= 36864 && mw <= 543 && mh <= 543 && double(mw * mh) * fps <= 983040;
}

TEST(H264Level, PicturesBeyondLevel51AreScaledToItKeepingTheirShape)
{
    struct Case {
        int w, h;
        double fps;
        bool scaled;
        int fit_w, fit_h; // 0: any fitting size of the same shape
    };
    const Case cases[] = {
        {4096, 2304, 25, false, 4096, 2304}, // exactly 36864 macroblocks
        {4112, 2304, 25, true, 0, 0},        // one macroblock column more
        {4096, 2320, 25, true, 0, 0},        // one macroblock row more
        {4098, 2304, 25, true, 0, 0},        // two pixels: a whole column more
        {8688, 64, 25, false, 8688, 64},     // 543 macroblocks wide: the longest side
        {8704, 64, 25, true, 0, 0},          // 544
        {64, 8704, 25, true, 0, 0},
        {1920, 1080, 120, false, 1920, 1080}, // 979200 macroblocks a second
        {1920, 1080, 121, true, 0, 0},        // 987360
        {4096, 2304, 26.6, false, 4096, 2304},
        {4096, 2304, 26.7, true, 0, 0},
        {4096, 2304, 0, false, 4096, 2304}, // rate unknown: the size alone
        {1920, 1080, 300, true, 0, 0},       // the fastest camera
        {1920, 1080, 301, false, 1920, 1080}, // beyond: a time base, not a rate
        {602, 602, 90000, false, 602, 602},   // a cover picture's 90 kHz
        {8192, 4320, 90000, true, 4220, 2224},
        {8192, 4320, 25, true, 4220, 2224},
        {7680, 4320, 30, true, 0, 0},
        {16000, 16000, 25, true, 0, 0},
        {3072, 3072, 25, false, 3072, 3072}, // 36864 macroblocks, square
        {3074, 3074, 25, true, 0, 0},
        {1280, 720, 25, false, 1280, 720},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "@" + std::to_string(c.fps));
        int w = -1, h = -1;
        EXPECT_EQ(h264_fit_to_level_51(c.w, c.h, c.fps, &w, &h), c.scaled);
        if (c.fit_w) {
            EXPECT_EQ(w, c.fit_w);
            EXPECT_EQ(h, c.fit_h);
        }
        if (!c.scaled)
            continue;
        const double rate = c.fps > 300 ? 0 : c.fps; // a time base holds no rate
        EXPECT_TRUE(level_51_holds(w, h, rate)) << w << "x" << h;
        EXPECT_EQ(w % 2 + h % 2, 0) << w << "x" << h;
        EXPECT_LT(w, c.w);
        // The same shape, to within the rounding to even sides.
        EXPECT_NEAR(double(w) / h, double(c.w) / c.h, double(c.w) / c.h * 4.0 / h) << w << "x" << h;
        // As large as fits: a width two pixels more no longer does.
        EXPECT_FALSE(level_51_holds(w + 2, int(std::lround(double(c.h) * (w + 2) / c.w / 2) * 2), rate))
            << w << "x" << h;
    }
}

TEST(H264Level, PictureBeyondLevel51IsScaledUnlessTheUserChoseTheSize)
{
    const std::string out = scratch_dir("picture_fit_scaled") + "/out.mp4";
    struct Case {
        const char *size;
        Args extra;
        const char *written;
        int level;
        bool warned;
    };
    const Case cases[] = {
        {"4096x2304", {}, "4096x2304", 51, false},
        {"4112x2304", {}, "4096x2294", 51, true},
        {"4112x2304", {"-s", "4112x2304"}, "4112x2304", 60, false},
        {"4112x2304", {"-vf", "scale=4112:2304"}, "4112x2304", 60, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.size) + (c.extra.empty() ? "" : " " + c.extra[0]));
        LogCapture log(AV_LOG_WARNING);
        Args words = converter_args_over(std::string("color=black:size=") + c.size + ":rate=25", out);
        words.insert(words.end() - 1, c.extra.begin(), c.extra.end());
        ASSERT_EQ(run_engine(words), 0) << log.all_text();
        const FileFacts facts = inspect(out);
        const StreamFacts *v = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(std::to_string(v->width) + "x" + std::to_string(v->height), c.written);
        EXPECT_EQ(v->level, c.level);
        EXPECT_EQ(log.has(std::string("the ") + c.size + " picture is beyond H.264 level 5.1; scaled down to " +
                              c.written, AV_LOG_WARNING), c.warned) << log.all_text();
    }
}

// libx264 writes its settings into the stream: pictures beyond 1080p are
// encoded with at most four threads and 20 frames of look-ahead (the medium
// preset's 40 cost 26 MB a frame at 4096x2304), smaller ones as the preset says.
TEST(H264Level, LargePicturesAreEncodedWithLessLookAhead)
{
    const std::string out = scratch_dir("picture_fit_lookahead") + "/out.mp4";
    const std::tuple<const char *, Args, const char *> cases[] = {
        {"1920x1088", {}, "rc_lookahead=40"},
        {"1920x1090", {}, "rc_lookahead=20"},
        {"1920x1090", {"-rc-lookahead", "30"}, "rc_lookahead=30"},
        {"1920x1090", {"-preset", "veryfast"}, "rc_lookahead=10"},
    };
    for (const auto &[size, extra, setting] : cases) {
        SCOPED_TRACE(std::string(size) + (extra.empty() ? "" : " " + extra[0]));
        const std::string source = std::string("color=black:size=") + size + ":rate=25";
        Args words = converter_arguments(source, out);
        words.erase(words.begin());
        words[1] = source; // a graph, not a file path
        words.insert(words.begin(), {"-f", "lavfi"});
        words.insert(words.end() - 1, {"-frames:v", "2"});
        words.insert(words.end() - 1, extra.begin(), extra.end());
        LogCapture log(AV_LOG_ERROR);
        ASSERT_EQ(run_engine(words), 0) << log.all_text();
        const std::vector<uint8_t> file = fixtures::read_file(out);
        const std::string bytes(file.begin(), file.end());
        EXPECT_NE(bytes.find(std::string(" ") + setting + " "), std::string::npos);
        const size_t threads = bytes.find(" threads=");
        ASSERT_NE(threads, std::string::npos);
        EXPECT_LE(std::stoi(bytes.substr(threads + 9)), 4);
    }
}

TEST(OddPictureSize, IsPaddedWithBlackForSubsampledChromaAndPlays)
{
    const std::string out = scratch_dir("picture_fit_odd") + "/out.mp4";
    // source size, size written
    const std::pair<std::string, std::string> cases[] = {
        {"321x241", "322x242"}, {"17x9", "18x10"}, {"321x240", "322x240"}, {"320x240", "320x240"}};
    for (const auto &[size, written] : cases) {
        SCOPED_TRACE(size);
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(converter_args_over("testsrc=size=" + size + ":rate=25", out)), 0)
            << log.all_text();
        EXPECT_EQ(log.has("padded with black", AV_LOG_INFO), size != written);
        int frames = 0;
        fixtures::decode_stream(out, {}, [&](AVFrame *f) {
            frames++;
            ASSERT_EQ(std::to_string(f->width) + "x" + std::to_string(f->height), written);
            // An added column or row is black (limited-range luma).
            const int w = std::stoi(size), h = std::stoi(size.substr(size.find('x') + 1));
            const uint8_t *y = f->data[0];
            for (int row = 0; w < f->width && row < f->height; row += 3) {
                EXPECT_LE(y[row * f->linesize[0] + w], 24);
            }
            for (int col = 0; h < f->height && col < f->width; col += 3) {
                EXPECT_LE(y[h * f->linesize[0] + col], 24);
            }
        });
        EXPECT_EQ(frames, 3);
    }
}

} // namespace
