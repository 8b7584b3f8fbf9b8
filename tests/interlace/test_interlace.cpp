// Interlaced recordings: when a picture counts as interlaced (flags, or the
// detector's counts on each side of its limits), what the detector finds in
// pictures made with moving fields, and conversions of them measured again:
// combed before, not after; a progressive recording untouched.
#include "conversion.h"
#include "engine_harness.h"
#include "fixture_gen.h"
#include "interlace.h"

#include <gtest/gtest.h>

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace fixtures;

namespace {

ClipRecipe camera(const std::string &name, const std::string &encoder, bool woven, bool flagged,
                  const std::string &options = "")
{
    ClipRecipe r;
    r.name = "interlace_" + name;
    // MJPEG cameras write AVI; the others a transport stream.
    r.format = encoder == "mjpeg" ? "avi" : "mpegts";
    r.extension = encoder == "mjpeg" ? "avi" : "ts";
    r.duration = 2.0;
    VideoTrack v;
    v.encoder = encoder;
    v.width = 352;
    v.height = 288;
    v.woven_fields = woven;
    v.flag_interlaced = flagged;
    v.encoder_options = options;
    v.quality = encoder == "libx264" ? 18 : 3;
    r.video = {v};
    return r;
}

InterlaceFinding look(const std::string &path)
{
    InterlaceFinding found;
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return found;
    }
    if (avformat_find_stream_info(ic, nullptr) >= 0) {
        const int video = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        EXPECT_GE(video, 0) << path;
        if (video >= 0) {
            EXPECT_EQ(find_interlacing(ic, video, &found), 0) << path;
        }
    }
    avformat_close_input(&ic);
    return found;
}

InterlaceFinding counts(int flagged, int fields, int progressive, double comb = 2.0)
{
    InterlaceFinding f;
    f.comb = comb;
    f.flagged = flagged;
    f.fields = fields;
    f.progressive = progressive;
    return f;
}

} // namespace

TEST(Interlace, FlagsDecideFirstAndTheDetectorNeedsAClearMajority)
{
    struct Row {
        const char *what;
        bool stream_flagged;
        InterlaceFinding counts;
        Interlacing expected;
    };
    const int need = INTERLACE_FIELDS_NEEDED;
    const Row rows[] = {
        {"nothing", false, counts(0, 0, 0), Interlacing::Progressive},
        {"the stream says so", true, counts(0, 0, 40), Interlacing::Flagged},
        {"one frame says so", false, counts(1, 0, 40), Interlacing::Flagged},
        {"one field short", false, counts(0, need - 1, 0), Interlacing::Progressive},
        {"just enough fields", false, counts(0, need, 0), Interlacing::Detected},
        {"as many progressive", false, counts(0, need + 4, need + 4), Interlacing::Progressive},
        {"one more than progressive", false, counts(0, need + 4, need + 3), Interlacing::Detected},
        {"fields without visible combing", false, counts(0, need + 4, 0, INTERLACE_COMB_NEEDED),
         Interlacing::Progressive},
        {"fields just combed", false, counts(0, need + 4, 0, INTERLACE_COMB_NEEDED + 0.01), Interlacing::Detected},
        {"marked needs no combing", false, counts(1, 0, 0, 0), Interlacing::Flagged},
    };
    for (const Row &row : rows)
        EXPECT_EQ(judge_interlacing(row.stream_flagged, row.counts), row.expected) << row.what;
    // Larger pictures are looked at fewer, never below the fewest.
    const std::pair<std::pair<int, int>, int> sizes[] = {
        {{352, 288}, 50}, {{720, 576}, 50}, {{720, 577}, 49}, {{1440, 1152}, 16}, {{1280, 720}, 22},
        {{3840, 2160}, 16}, {{0, 0}, 50},
    };
    for (const auto &[size, pictures] : sizes)
        EXPECT_EQ(interlace_pictures_for(size.first, size.second), pictures) << size.first << "x" << size.second;
    EXPECT_EQ(deinterlace_filter(Interlacing::Progressive), "");
    EXPECT_EQ(deinterlace_filter(Interlacing::Flagged), "bwdif=mode=send_frame:parity=auto:deint=interlaced");
    EXPECT_EQ(deinterlace_filter(Interlacing::Detected), "bwdif=mode=send_frame:parity=auto:deint=all");
}

TEST(Interlace, TheDetectorSeesMovingFieldsMarkedOrNot)
{
    struct Row {
        const char *what;
        ClipRecipe recipe;
        Interlacing expected;
    };
    const Row rows[] = {
        {"progressive camera", camera("progressive", "libx264", false, false), Interlacing::Progressive},
        // Intra-coded pictures the detector alone takes for fields.
        {"progressive MJPEG camera", camera("mjpeg", "mjpeg", false, false), Interlacing::Progressive},
        {"unmarked fields", camera("unmarked", "libx264", true, false), Interlacing::Detected},
        {"marked MPEG-2 fields", camera("mpeg2", "mpeg2video", true, true, "flags=+ildct+ilme"),
         Interlacing::Flagged},
        {"marked H.264 fields", camera("h264", "libx264", true, true, "flags=+ildct"), Interlacing::Flagged},
    };
    for (const Row &row : rows) {
        const InterlaceFinding found = look(clip_path(row.recipe));
        EXPECT_EQ(found.interlacing, row.expected) << row.what << ": " << found.fields << " fields, "
                                                   << found.progressive << " progressive, " << found.flagged
                                                   << " marked of " << found.pictures << ", comb " << found.comb;
        EXPECT_EQ(found.pictures, INTERLACE_PICTURES_LOOKED) << row.what;
    }
}

// Converted, the combing is measured again with the same detector.
TEST(Interlace, ConvertedFieldsComeOutCleanAndProgressivePicturesUntouched)
{
    struct Row {
        const char *what;
        ClipRecipe recipe;
        bool deinterlaced;
    };
    const Row rows[] = {
        {"unmarked fields", camera("unmarked", "libx264", true, false), true},
        {"marked MPEG-2 fields", camera("mpeg2", "mpeg2video", true, true, "flags=+ildct+ilme"), true},
        {"progressive camera", camera("progressive", "libx264", false, false), false},
    };
    for (const Row &row : rows) {
        const std::string source = clip_path(row.recipe);
        const std::string output = scratch_dir("interlace") + "/" + row.recipe.name + ".mp4";
        std::remove(output.c_str());
        ConversionResult result;
        RunObserver observer;
        ASSERT_EQ(run_conversion(source, output, ConversionChoices(), observer, &result), 0) << row.what;
        const bool has_filter =
            std::find(result.plan.words.begin(), result.plan.words.end(), "-vf") != result.plan.words.end();
        EXPECT_EQ(has_filter, row.deinterlaced) << row.what;
        const InterlaceFinding before = look(source);
        const InterlaceFinding after = look(output);
        EXPECT_EQ(after.interlacing, Interlacing::Progressive)
            << row.what << ": " << after.fields << " combed of " << after.pictures;
        if (row.deinterlaced) {
            EXPECT_GE(before.fields, INTERLACE_PICTURES_LOOKED / 2) << row.what;
            EXPECT_LE(after.fields, 2) << row.what;
            EXPECT_GE(after.progressive, INTERLACE_PICTURES_LOOKED / 2) << row.what;
        }
    }
}

// Keeping the picture never applies to fields, also when nothing marks them.
TEST(Interlace, UnmarkedFieldsAreNotKept)
{
    const std::string source = clip_path(camera("unmarked_cbp", "libx264", true, false, "profile=baseline"));
    ConversionChoices keep;
    keep.keep_video = true;
    const ConversionPlan plan = plan_conversion(source, scratch_dir("interlace") + "/kept.mp4", keep);
    EXPECT_FALSE(plan.video_kept);
    EXPECT_EQ(plan.keep_refusal, "the picture is interlaced");
    EXPECT_EQ(plan.interlacing, Interlacing::Detected);
    EXPECT_EQ(plan_summary(plan, keep), "picture converted, deinterlaced (the picture is interlaced)");
}
