// Pictures at their own times, and what a run tells of the time it closed: a
// recording whose picture rate varies converts every picture once at its own
// time, while a constant-rate one converts as it always did (pictures on the
// 1/25 s grid); the constant-rate synchronisation's limits on hand-made times;
// holes in the recording's time closed and told.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_facts.h"

#include "ffmpeg_exec.h"
#include "transcode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace fixtures;

namespace {

template <class Row> std::string name_of(const ::testing::TestParamInfo<Row> &row)
{
    return row.param.name;
}

std::vector<std::string> converter_args(const std::string &in, const std::string &out)
{
    std::vector<std::string> words = converter_arguments(in, out);
    return std::vector<std::string>(words.begin() + 1, words.end());
}

// ---- the constant-rate synchronisation's limits -------------------------------------

struct SyncRow {
    const char *name;
    std::vector<double> periods; // picture times in frame periods
    bool changed;                // a picture would be dropped or repeated
};

const SyncRow kSyncRows[] = {
    {"Steady", {0, 1, 2, 3, 4}, false},
    {"NoPictures", {}, false},
    {"OnePictureLate", {7}, false}, // the start is not a rate
    {"BunchedToJustWithinTheSlack", {0, 0, 0, 0.91}, false}, // -1.09 periods early
    {"BunchedJustBeyondTheSlack", {0, 0, 0, 0.89}, true},    // -1.11: dropped
    {"LateJustWithinTheSlack", {0, 1.09}, false},
    {"LateJustBeyondTheSlack", {0, 1.11}, true}, // repeated
    {"GapAtTheThreshold", {0, 250}, true},       // filled with copies
    {"GapBeyondTheThreshold", {0, 251}, false},  // kept as a gap
    {"SteadyAfterAKeptGap", {0, 300, 301, 302}, false},
};

class ConstantRate : public ::testing::TestWithParam<SyncRow> {};
TEST_P(ConstantRate, WouldChangeOnlyPicturesBeyondItsSlack)
{
    const SyncRow &row = GetParam();
    EXPECT_EQ(constant_rate_would_change(row.periods.data(), row.periods.size(), 250), row.changed);
}
INSTANTIATE_TEST_SUITE_P(Times, ConstantRate, ::testing::ValuesIn(kSyncRows),
                         name_of<SyncRow>);

// ---- recordings of steady and varying rates ------------------------------------------

using Step = std::function<double(int64_t)>; // seconds from picture n-1 to picture n

// A camera that slows down to 10 pictures a second after two seconds and speeds
// up to 50 after four: a constant 25 would both repeat and drop pictures.
double varying(int64_t n, double from_s)
{
    const int64_t first = llrint(from_s * 25);
    return n <= first ? 0.04 : n <= first + 20 ? 0.1 : 0.02;
}

// `frames` pictures of `size` x `size` without sound, retimed by `step`; each
// video packet `pad` bytes longer (zeros after the picture: MPEG-TS only).
ClipRecipe retimed(const std::string &name, const char *format, const char *extension, int frames, Step step,
                   int size = 320, int pad = 0)
{
    ClipRecipe r = fixture_recipe(FixtureKind::H264AacTs);
    r.name = "source_times_" + name;
    r.format = format;
    r.extension = extension;
    r.audio.clear();
    r.video[0].width = r.video[0].height = size;
    r.duration = frames / 25.0;
    r.packet_edit_name = name + " pad " + std::to_string(pad);
    std::vector<int64_t> at_us(size_t(frames) + 1, 0);
    for (int n = 1; n <= frames; n++)
        at_us[size_t(n)] = at_us[size_t(n) - 1] + llrint(step(n) * 1e6);
    r.packet_edit = [=](AVPacket *pkt, const PacketInfo &info) {
        const int64_t ts = av_rescale_q(at_us[size_t(std::min<int64_t>(info.index_in_stream, frames))],
                                        AV_TIME_BASE_Q, info.time_base);
        pkt->pts = pkt->dts = ts;
        pkt->duration = 0;
        if (pad && av_grow_packet(pkt, pad) >= 0)
            memset(pkt->data + pkt->size - pad, 0, size_t(pad));
        return true;
    };
    return r;
}

struct RateRow {
    const char *name;
    std::function<ClipRecipe()> recipe;
    bool follows; // each picture once at its own time; else on the constant 25 a second grid
};

// `frames` pictures whose rate varies from `from_s` on (none: steady at 25 a second).
std::function<ClipRecipe()> clip_of(const char *name, const char *format, const char *extension, int frames,
                                    double from_s, int size = 320, int pad = 0)
{
    return [=] {
        const Step step = [from_s](int64_t n) { return from_s < 0 ? 0.04 : varying(n, from_s); };
        return retimed(name, format, extension, frames, step, size, pad);
    };
}

constexpr double kSteady = -1;

const RateRow kRateRows[] = {
    {"VaryingInMatroska", clip_of("vary_mkv", "matroska", "mkv", 120, 2), true},
    // MP4 tells every picture's time in its index.
    {"VaryingInMp4", clip_of("vary_mp4", "mp4", "mp4", 120, 2), true},
    {"VaryingInMpegTs", clip_of("vary_ts", "mpegts", "ts", 120, 2), true},
    {"SteadyInMatroska", clip_of("steady_mkv", "matroska", "mkv", 120, kSteady), false},
    {"SteadyInMpegTs", clip_of("steady_ts", "mpegts", "ts", 120, kSteady), false},
    // Rates are judged on the first two minutes of pictures...
    {"VaryingFrom110s", clip_of("vary_110s", "matroska", "mkv", 2800, 110, 32), true},
    {"VaryingFrom130s", clip_of("vary_130s", "matroska", "mkv", 3300, 130, 32), false},
    // ... and on at most 32 MiB of the file (2.5 MB a second here).
    {"VaryingFrom10sOf100KiBPictures", clip_of("vary_10s_fat", "mpegts", "ts", 300, 10, 32, 100 << 10), true},
    {"VaryingFrom16sOf100KiBPictures", clip_of("vary_16s_fat", "mpegts", "ts", 450, 16, 32, 100 << 10), false},
};

class PictureRate : public ::testing::TestWithParam<RateRow> {};
TEST_P(PictureRate, VaryingRatesKeepEveryPictureAtItsTimeSteadyOnesStayOnTheirGrid)
{
    const RateRow &row = GetParam();
    const ClipRecipe recipe = row.recipe();
    const std::string in = clip_path(recipe);
    const std::string out = scratch_dir("source_times") + "/" + row.name + ".mp4";
    LogCapture log(AV_LOG_INFO);
    ASSERT_EQ(run_engine(converter_args(in, out)), 0) << log.all_text();

    const std::vector<double> source = video_times(in);
    AVRational tb{0, 1};
    const std::vector<double> converted = video_times(out, &tb);
    ASSERT_FALSE(source.empty());
    ASSERT_FALSE(converted.empty());
    EXPECT_EQ(log.has("do not come at one steady rate"), row.follows);
    if (row.follows) {
        ASSERT_EQ(converted.size(), source.size()) << "every picture once";
        for (size_t i = 0; i < source.size(); i++)
            ASSERT_NEAR(converted[i], source[i] - source[0], 1e-4) << "picture " << i;
        return;
    }
    // As ever: 1/25 s apart, in the time base 1/25 s gives an MP4 track.
    EXPECT_EQ(tb.num, 1);
    EXPECT_EQ(tb.den, 12800);
    for (size_t i = 0; i < converted.size(); i++)
        ASSERT_NEAR(converted[i] * 25, std::nearbyint(converted[i] * 25), 1e-6) << "picture " << i;
    if (std::string(row.name).rfind("Steady", 0) == 0) {
        ASSERT_EQ(converted.size(), source.size());
        for (size_t i = 0; i < source.size(); i++)
            ASSERT_NEAR(converted[i], 0.04 * double(i), 1e-6);
    }
}
INSTANTIATE_TEST_SUITE_P(Recordings, PictureRate, ::testing::ValuesIn(kRateRows),
                         name_of<RateRow>);

// A varying-rate picture that starts after the sound: its first picture is also
// shown from the start (one copy there), unless it starts no more than a frame
// late.
struct LeadRow {
    const char *name;
    double shift_s;
    bool held;
};

const LeadRow kLeadRows[] = {
    {"HalfAFrameLate", 0.02, false},
    {"ThreeSecondsLate", 3, true},
    {"TwelveSecondsLate", 12, true},
};

class LateVaryingPicture : public ::testing::TestWithParam<LeadRow> {};
TEST_P(LateVaryingPicture, StartsWithTheSound)
{
    const LeadRow &row = GetParam();
    ClipRecipe r = clip_of("vary_sound", "matroska", "mkv", 120, 2)();
    r.audio = {AudioTrack()};
    r.audio[0].encoder = "pcm_s16le"; // from 0 exactly (AAC starts a block early)
    r.duration = 14;
    r.video[0].gop = 25;
    const auto retime = r.packet_edit;
    const double shift = row.shift_s;
    r.packet_edit_name += " video +" + std::to_string(shift);
    r.packet_edit = [=](AVPacket *pkt, const PacketInfo &info) {
        if (info.type != AVMEDIA_TYPE_VIDEO)
            return true;
        // Pictures beyond the 120 retimed ones are left out.
        if (info.index_in_stream >= 120 || !retime(pkt, info))
            return false;
        pkt->pts = pkt->dts = pkt->pts + av_rescale_q(llrint(shift * 1e6), AV_TIME_BASE_Q, info.time_base);
        return true;
    };
    const std::string in = clip_path(r);
    const std::string out = scratch_dir("source_times") + "/" + row.name + ".mp4";
    LogCapture log(AV_LOG_INFO);
    ASSERT_EQ(run_engine(converter_args(in, out)), 0) << log.all_text();
    const std::vector<double> source = video_times(in), converted = video_times(out);
    ASSERT_EQ(source.size(), 120u);
    ASSERT_EQ(converted.size(), source.size() + (row.held ? 1 : 0));
    EXPECT_NEAR(converted.front(), row.held ? 0 : row.shift_s, 1e-3);
    EXPECT_NEAR(converted.back(), source.back(), 1e-3);
}
INSTANTIATE_TEST_SUITE_P(Starts, LateVaryingPicture, ::testing::ValuesIn(kLeadRows),
                         name_of<LeadRow>);

// ---- holes in the recording's time ---------------------------------------------------

struct GapRow {
    const char *name;
    const char *format, *extension;
    int64_t jump_s;
    bool told; // closed, and told as a problem; else kept, no problem
};

const GapRow kGapRows[] = {
    {"TwoHoursInMpegTs", "mpegts", "ts", 7200, true},
    {"ElevenSecondsInMpegTs", "mpegts", "ts", 11, true},
    // Within the discontinuity threshold (10 s) the time is kept as it is.
    {"NineSecondsInMpegTs", "mpegts", "ts", 9, false},
    // Formats without discontinuities keep every gap.
    {"TwoHoursInMatroska", "matroska", "mkv", 7200, false},
};

class TimelineGap : public ::testing::TestWithParam<GapRow> {};
TEST_P(TimelineGap, ClosedGapsAreToldKeptOnesAreNot)
{
    const GapRow &row = GetParam();
    ClipRecipe r = jumping_clip(row.format, row.extension, row.jump_s, 6);
    r.duration = 12;
    const std::string in = clip_path(r);
    const std::string out = scratch_dir("source_times") + "/" + row.name + ".mp4";
    std::vector<std::string> words = converter_arguments(in, out);
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    RunOutcome outcome;
    LogCapture log(AV_LOG_WARNING);
    ASSERT_EQ(ffmpeg_exec_observed(int(argv.size()), argv.data(), nullptr, &outcome), 0) << log.all_text();
    EXPECT_EQ(outcome.partial, row.told) << log.all_text();
    if (!row.told) {
        EXPECT_TRUE(outcome.problems.empty()) << log.all_text();
        return;
    }
    ASSERT_EQ(outcome.problems.size(), 1u) << log.all_text();
    const RunProblem &p = outcome.problems[0];
    EXPECT_EQ(p.kind, RunProblemKind::TimelineGap);
    EXPECT_NEAR(double(p.a) / 1e6, double(row.jump_s), 0.1);
    EXPECT_NEAR(double(p.b) / 1e6, 6, 0.1);
    EXPECT_TRUE(log.has("Converted with problems: the recording's time jumps by " +
                        media_clock_text(row.jump_s * 1000000) + " at 0:06; the gap is not kept"))
        << log.all_text();
}
INSTANTIATE_TEST_SUITE_P(Jumps, TimelineGap, ::testing::ValuesIn(kGapRows),
                         name_of<GapRow>);

} // namespace
