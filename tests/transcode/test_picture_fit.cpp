// Pictures an encoder cannot take as they are: the H.264 level written for the
// picture size and rate actually encoded, and odd sizes padded for encoders of
// subsampled chroma. Sources are made by the engine's lavfi input.
#include "engine_harness.h"
#include "ffmpeg_exec.h"
#include "media_facts.h"
#include "media_probe.h"

#include <gtest/gtest.h>

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
