// Pictures an encoder cannot take as they are: the H.264 level written for the
// picture size and rate actually encoded, and odd sizes padded for encoders of
// subsampled chroma. Sources are made by the engine's lavfi input.
#include "engine_harness.h"
#include "media_facts.h"
#include "media_probe.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

// The converter's arguments over a short synthetic source, kept fast.
Args converter_args_over(const std::string &source, const std::string &out)
{
    return {"-f", "lavfi", "-i", source, "-frames:v", "3", "-preset", "ultrafast", "-c:v", "libx264",
            "-profile:v", "baseline", "-level", "3", "-strict", "-2", out};
}

TEST(H264Level, IsRaisedToTheLowestLevelThatHoldsThePicture)
{
    const std::string dir = scratch_dir("picture_fit_levels");
    struct Case {
        const char *size;
        int rate;
        int level;            // level_idc written
        const char *warning;  // nullptr: none
    } cases[] = {
        {"720x576", 25, 30, nullptr},
        {"640x480", 25, 30, nullptr},
        {"1280x720", 25, 31, "Level 3.0 cannot hold 1280x720 at 25 fps; writing level 3.1"},
        {"1920x1080", 25, 40, "Level 3.0 cannot hold 1920x1080 at 25 fps; writing level 4.0"},
        {"1920x1080", 50, 42, "Level 3.0 cannot hold 1920x1080 at 50 fps; writing level 4.2"},
        {"3840x2160", 25, 51, "Level 3.0 cannot hold 3840x2160 at 25 fps; writing level 5.1"},
    };
    for (const Case &c : cases) {
        const std::string source = std::string("testsrc=size=") + c.size + ":rate=" + std::to_string(c.rate);
        SCOPED_TRACE(source);
        const std::string out = dir + "/out.mp4";
        LogCapture log(AV_LOG_WARNING);
        ASSERT_EQ(run_engine(converter_args_over(source, out)), 0) << log.all_text();
        const FileFacts facts = inspect(out);
        const StreamFacts *v = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->level, c.level);
        EXPECT_EQ(std::to_string(v->width) + "x" + std::to_string(v->height), c.size); // never scaled
        if (c.warning)
            EXPECT_TRUE(log.has(c.warning, AV_LOG_WARNING)) << log.all_text();
        else
            EXPECT_FALSE(log.has("cannot hold")) << log.all_text();
        // libx264 finds nothing over its limits any more.
        EXPECT_FALSE(log.has("level limit")) << log.all_text();
    }
}

TEST(OddPictureSize, IsPaddedWithBlackForSubsampledChromaAndPlays)
{
    const std::string dir = scratch_dir("picture_fit_odd");
    struct Case {
        const char *source;
        int width, height;     // written
        bool padded_right, padded_bottom;
    } cases[] = {
        {"testsrc=size=321x241:rate=25", 322, 242, true, true},
        {"testsrc=size=17x9:rate=25", 18, 10, true, true},
        {"testsrc=size=321x240:rate=25", 322, 240, true, false},
        {"testsrc=size=320x240:rate=25", 320, 240, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source);
        const std::string out = dir + "/out.mp4";
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(converter_args_over(c.source, out)), 0) << log.all_text();
        EXPECT_EQ(log.has("padded with black", AV_LOG_INFO), c.padded_right || c.padded_bottom);

        int frames = 0;
        fixtures::decode_stream(out, {}, [&](AVFrame *f) {
            frames++;
            ASSERT_EQ(f->width, c.width);
            ASSERT_EQ(f->height, c.height);
            // The added column and row are black (limited-range luma).
            const uint8_t *y = f->data[0];
            for (int row = 0; c.padded_right && row < f->height; row += 3) {
                EXPECT_LE(y[row * f->linesize[0] + f->width - 1], 24);
            }
            for (int col = 0; c.padded_bottom && col < f->width; col += 3) {
                EXPECT_LE(y[(f->height - 1) * f->linesize[0] + col], 24);
            }
        });
        EXPECT_EQ(frames, 3);
    }
}

} // namespace
