// Joining segments: the natural name order, the order by recording time, the
// gaps kept (up to 10 s, the picture held) or closed (beyond, told as a
// problem), a segment that cannot be read left out by name, and joined files
// read back: their length, which segment plays when, and the held picture.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "join.h"
#include "join_graph.h"
#include "media_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace fixtures;

namespace {

constexpr int64_t kSecond = 1000000;
// 2024-03-15 08:00:00 UTC.
constexpr int64_t kMorning = 1710489600LL * kSecond;

const std::string &work_dir()
{
    static const std::string dir = scratch_dir("join");
    return dir;
}

// A 2 s segment of `width` x `height` with sound whose container (Matroska:
// a transport stream keeps no creation time) says it began
// `start_s` seconds after kMorning, saved as `name`.
std::string segment(const std::string &name, int width, int height, int start_s)
{
    ClipRecipe r;
    r.name = "join_" + std::to_string(width) + "x" + std::to_string(height);
    r.format = "mpegts";
    r.extension = "ts";
    r.duration = 2.0;
    VideoTrack v;
    v.width = width;
    v.height = height;
    r.video = {v};
    r.audio = {AudioTrack()};
    const std::string path = work_dir() + "/" + name;
    const time_t at = time_t((kMorning / kSecond) + start_s);
    char stamp[32];
    strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", gmtime(&at));
    EXPECT_EQ(run_engine({"-loglevel", "error", "-y", "-i", clip_path(r), "-c", "copy", "-metadata",
                         std::string("creation_time=") + stamp, path}),
              0);
    return path;
}

JoinSegment timed(const std::string &name, int64_t start_s, int64_t length_s = 2)
{
    JoinSegment s;
    s.source = "/x/" + name;
    s.start_us = start_s < 0 ? -1 : kMorning + start_s * kSecond;
    s.duration_us = length_s * kSecond;
    return s;
}

std::vector<std::string> names(const JoinPlan &plan)
{
    std::vector<std::string> out;
    for (const JoinSegment &s : plan.segments)
        out.push_back(s.source.substr(3));
    return out;
}

// Whether the frame's top rows are black (a 4:3 picture fitted into a wider one).
bool black_top(const AVFrame *f)
{
    int64_t sum = 0;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < f->width; x++)
            sum += f->data[0][y * f->linesize[0] + x];
    return sum / (4 * f->width) < 24;
}

struct Frames {
    std::vector<bool> bars;              // per frame: black top rows
    std::vector<std::vector<uint8_t>> luma; // per frame: the luma rows
};

Frames frames_of(const std::string &path)
{
    Frames frames;
    DecodeRequest request;
    decode_stream(path, request, [&](AVFrame *f) {
        frames.bars.push_back(black_top(f));
        std::vector<uint8_t> luma;
        for (int y = 0; y < f->height; y++)
            luma.insert(luma.end(), f->data[0] + y * f->linesize[0], f->data[0] + y * f->linesize[0] + f->width);
        frames.luma.push_back(luma);
    });
    return frames;
}

double mean_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

} // namespace

TEST(Join, NamesSortInNaturalOrder)
{
    const std::pair<const char *, const char *> before[] = {
        {"cam01_2.ts", "cam01_10.ts"}, {"cam2", "cam10"},    {"a", "a1"},       {"cam01", "cam1"},
        {"x9y", "x10y"},               {"B", "a"},           {"cam1_0900", "cam1_0900b"}, {"0", "00000000000000000000001"},
    };
    for (const auto &[a, b] : before) {
        EXPECT_TRUE(natural_less(a, b)) << a << " < " << b;
        EXPECT_FALSE(natural_less(b, a)) << b << " !< " << a;
    }
    EXPECT_FALSE(natural_less("cam7", "cam7"));
}

TEST(Join, TimesOrderTheSegmentsWhenEveryOneHasItsTime)
{
    JoinPlan plan;
    plan.segments = {timed("b.ts", 20), timed("a.ts", 40), timed("c.ts", 0)};
    order_segments(&plan);
    EXPECT_TRUE(plan.by_time);
    EXPECT_EQ(names(plan), (std::vector<std::string>{"c.ts", "b.ts", "a.ts"}));
    // One time unknown: by name, in natural order.
    plan.segments = {timed("cam_10.ts", 0), timed("cam_9.ts", -1), timed("cam_2.ts", 40)};
    order_segments(&plan);
    EXPECT_FALSE(plan.by_time);
    EXPECT_EQ(names(plan), (std::vector<std::string>{"cam_2.ts", "cam_9.ts", "cam_10.ts"}));
    // A segment left out has no time: it stands where its name puts it.
    plan.segments = {timed("c.ts", 0), timed("a.ts", 10), timed("b.ts", -1)};
    plan.segments[2].left_out = "it could not be read";
    order_segments(&plan);
    EXPECT_TRUE(plan.by_time);
    EXPECT_EQ(names(plan), (std::vector<std::string>{"b.ts", "c.ts", "a.ts"}));
}

TEST(Join, GapsUpToTenSecondsAreKeptAndLongerOnesClosed)
{
    struct Row {
        const char *what;
        int64_t next_start_us; // the second segment's start after the first's (2 s long)
        int64_t held, closed, expected;
    };
    const Row rows[] = {
        {"back to back", 2 * kSecond, 0, 0, 4 * kSecond},
        {"overlapping", 1 * kSecond, 0, 0, 4 * kSecond},
        {"a second apart", 3 * kSecond, kSecond, 0, 5 * kSecond},
        {"ten seconds apart", 12 * kSecond, JOIN_KEPT_GAP_US, 0, 14 * kSecond},
        {"a moment more", 12 * kSecond + 1, 0, JOIN_KEPT_GAP_US + 1, 4 * kSecond},
    };
    for (const Row &row : rows) {
        JoinPlan plan;
        plan.segments = {timed("a.ts", 0), timed("b.ts", 0)};
        plan.segments[1].start_us = kMorning + row.next_start_us;
        place_gaps(&plan);
        EXPECT_EQ(plan.segments[1].held_before_us, row.held) << row.what;
        EXPECT_EQ(plan.segments[1].closed_before_us, row.closed) << row.what;
        EXPECT_EQ(plan.expected_us, row.expected) << row.what;
        EXPECT_EQ(plan.problems.size(), row.closed ? 1u : 0u) << row.what;
    }
    JoinPlan unknown;
    unknown.segments = {timed("a.ts", 0), timed("b.ts", 5)};
    unknown.segments[0].duration_us = -1;
    place_gaps(&unknown);
    EXPECT_EQ(unknown.expected_us, -1);
    EXPECT_EQ(unknown.segments[1].held_before_us, 0);
}

// Three segments, named against their order in time, one of them 4:3 among
// 11:9 ones, 2 s of recorder silence before it: one file of 8 s, in time order,
// the last picture held over the gap.
TEST(Join, SegmentsJoinInTimeOrderWithTheShortGapHeld)
{
    const std::string first = segment("seg_c.mkv", 352, 288, 0);
    const std::string second = segment("seg_a.mkv", 320, 240, 4);
    const std::string third = segment("seg_b.mkv", 352, 288, 6);
    const std::string output = work_dir() + "/joined.mp4";
    ConversionResult result;
    JoinPlan join;
    ASSERT_EQ(run_join({second, third, first}, output, ConversionChoices(), RunObserver(), &result, &join), 0);
    EXPECT_TRUE(join.by_time);
    EXPECT_EQ(result.plan.joined, (std::vector<std::string>{first, second, third}));
    EXPECT_FALSE(result.outcome.partial) << (result.outcome.problems.empty() ? "" : result.outcome.problems[0].text);
    EXPECT_EQ(result.plan.recording_time, "2024-03-15T08:00:00.000000Z");

    const MediaInfo info = probe_media(output);
    EXPECT_NEAR(info.duration, 8.0, 0.25);
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_EQ(info.streams[0].width, 352);
    EXPECT_EQ(info.streams[0].height, 288);

    const Frames frames = frames_of(output);
    ASSERT_GE(frames.bars.size(), 195u);
    // 25 frames a second: 0-2 s the first, 2-4 s its last picture held, 4-6 s
    // the 4:3 one with black bars, 6-8 s the third.
    for (size_t i : {10u, 40u, 60u, 90u, 160u, 190u})
        EXPECT_EQ(frames.bars[i], i >= 100 && i < 150) << "frame " << i;
    EXPECT_TRUE(frames.bars[120]);
    // Held pictures differ only by the encoder's noise; moving ones clearly.
    EXPECT_LT(mean_difference(frames.luma[55], frames.luma[95]), 1.0) << "the picture is held over the gap";
    EXPECT_GT(mean_difference(frames.luma[10], frames.luma[40]), 10.0);
}

TEST(Join, ALongGapIsClosedAndAnUnreadableSegmentLeftOutByName)
{
    const std::string first = segment("day_1.mkv", 352, 288, 0);
    const std::string later = segment("day_2.mkv", 352, 288, 32);
    const std::string broken = work_dir() + "/day_3.ts";
    write_file(broken, {'n', 'o', 't', ' ', 'v', 'i', 'd', 'e', 'o'});
    const std::string output = work_dir() + "/closed.mp4";
    ConversionResult result;
    JoinPlan join;
    ASSERT_EQ(run_join({later, broken, first}, output, ConversionChoices(), RunObserver(), &result, &join), 0);
    EXPECT_TRUE(result.outcome.partial);
    ASSERT_GE(result.outcome.problems.size(), 2u);
    EXPECT_EQ(result.outcome.problems[0].kind, RunProblemKind::TimelineGap);
    // The first segment's length is its container's (its sound runs a little past 2 s).
    EXPECT_NEAR(double(result.outcome.problems[0].a), 30.0 * kSecond, 0.2 * kSecond);
    EXPECT_NEAR(double(result.outcome.problems[0].b), 2.0 * kSecond, 0.2 * kSecond);
    EXPECT_EQ(result.outcome.problems[1].kind, RunProblemKind::SegmentLeftOut);
    EXPECT_EQ(result.outcome.problems[1].detail, "day_3.ts");
    EXPECT_NEAR(probe_media(output).duration, 4.0, 0.25);
    EXPECT_EQ(result.plan.joined, (std::vector<std::string>{first, later, broken}));
}

TEST(Join, NothingReadableIsAFailureNamingTheSegments)
{
    const std::string broken = work_dir() + "/only.ts";
    write_file(broken, {'x'});
    ConversionResult result;
    JoinPlan join;
    EXPECT_EQ(run_join({broken}, work_dir() + "/none.mp4", ConversionChoices(), RunObserver(), &result, &join), -1);
    EXPECT_EQ(result.outcome.end, RunEnd::Failed);
    EXPECT_EQ(result.outcome.failure, RunFailure::SourceUnreadable);
    EXPECT_NE(result.outcome.error_text.find("only.ts is left out"), std::string::npos) << result.outcome.error_text;
}

namespace {

// The presentation times of the first video stream's packets, in seconds, in order.
std::vector<double> picture_times(const std::string &path)
{
    AVFormatContext *ic = nullptr;
    std::vector<double> times;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return times;
    const int index = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVPacket *pkt = av_packet_alloc();
    while (index >= 0 && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == index && pkt->pts != AV_NOPTS_VALUE)
            times.push_back(double(pkt->pts) * av_q2d(ic->streams[index]->time_base));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    std::sort(times.begin(), times.end());
    return times;
}

JoinSegment keepable(const std::string &name)
{
    JoinSegment s;
    s.source = "/export/" + name;
    s.width = 320;
    s.height = 240;
    s.format = "mpegts";
    s.picture_params = "0 h264 100/13 320x240";
    return s;
}

} // namespace

// Segments coded alike, a quote and a space in one name, 2 s of silence
// after the first: their pictures are copied (each decoded picture the same
// as its segment's, bit for bit), the second starts after the gap kept, and
// the sound fills the whole length.
TEST(Join, KeptPicturesAreCopiedWithTheGapKept)
{
    const std::string first = segment("keep_1.mkv", 320, 240, 0);
    const std::string second = segment("cam's 2.mkv", 320, 240, 4);
    const std::string third = segment("keep_3.mkv", 320, 240, 6);
    const std::string output = work_dir() + "/kept.mp4";
    ConversionChoices choices;
    choices.keep_video = true;
    RunObserver observer;
    observer.recordings_only = true; // as the batch command and the window run
    ConversionResult result;
    JoinPlan join;
    ASSERT_EQ(run_join({third, first, second}, output, choices, observer, &result, &join), 0);
    EXPECT_TRUE(result.plan.video_kept) << result.plan.keep_refusal;
    EXPECT_FALSE(result.outcome.partial) << (result.outcome.problems.empty() ? "" : result.outcome.problems[0].text);
    EXPECT_EQ(result.plan.joined, (std::vector<std::string>{first, second, third}));

    Frames expected;
    for (const std::string &s : {first, second, third}) {
        const Frames f = frames_of(s);
        expected.luma.insert(expected.luma.end(), f.luma.begin(), f.luma.end());
    }
    const Frames kept = frames_of(output);
    ASSERT_EQ(kept.luma.size(), expected.luma.size());
    for (size_t i = 0; i < kept.luma.size(); i++)
        ASSERT_EQ(kept.luma[i], expected.luma[i]) << "picture " << i;

    const std::vector<double> times = picture_times(output);
    ASSERT_EQ(times.size(), 150u);
    // Copied pictures keep their place in their segment (here 64 ms after its
    // start). The second runs a little past the third's start (its sound is
    // longer than 2 s): nothing is held between them.
    EXPECT_NEAR(times[49] - times[0], 1.96, 0.001);
    EXPECT_NEAR(times[50] - times[0], 4.0, 0.001) << "the second segment starts after the gap";
    EXPECT_NEAR(times[100] - times[50], double(join.segments[1].duration_us) / kSecond, 0.001);
    const MediaInfo info = probe_media(output);
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_EQ(info.streams[1].type, AVMEDIA_TYPE_AUDIO);
    EXPECT_NEAR(info.duration, double(join.expected_us) / kSecond, 0.1);
    EXPECT_NEAR(info.duration, 8.2, 0.1);
}

// Each reason the pictures are converted after all, next to the same segments
// with that one thing as the first's.
TEST(Join, PicturesAreKeptOnlyWhenEverySegmentCanBeKeptAndIsCodedAlike)
{
    struct Row {
        const char *what;
        std::function<void(JoinSegment *)> change; // made to the second of two segments
        const char *refusal;                       // "" kept
    };
    const Row rows[] = {
        {"alike", [](JoinSegment *) {}, ""},
        {"another transport stream", [](JoinSegment *s) { s->format = "mpegts"; }, ""},
        {"an MP4 file", [](JoinSegment *s) { s->format = "mov,mp4,m4a,3gp,3g2,mj2"; }, ""},
        {"a playlist", [](JoinSegment *s) { s->format = "hls"; },
         "b.ts is a file of a kind (hls) that is joined only by converting"},
        {"a raw stream", [](JoinSegment *s) { s->format = "h264"; },
         "b.ts is a file of a kind (h264) that is joined only by converting"},
        {"one not to keep", [](JoinSegment *s) { s->keep_refusal = "the picture is HEVC"; },
         "in b.ts, the picture is HEVC"},
        {"sound only", [](JoinSegment *s) { s->width = s->height = 0; }, "b.ts has no picture"},
        {"one row more", [](JoinSegment *s) { s->height = 241; },
         "the picture of b.ts (320x241) differs in size from a.ts's (320x240)"},
        {"other parameter sets", [](JoinSegment *s) { s->picture_params += "01"; },
         "the picture of b.ts is coded unlike a.ts's"},
        {"a line break in the name", [](JoinSegment *s) { s->source = "/export/b\n.ts"; },
         "the name of b\n.ts has a line break"},
    };
    for (const Row &row : rows) {
        JoinSegment a = keepable("a.ts"), b = keepable("b.ts");
        row.change(&b);
        EXPECT_EQ(kept_join_refusal({&a, &b}), row.refusal) << row.what;
    }
}

TEST(Join, KeepingIsRefusedWhenTheTimeIsDrawnOrASizeDiffers)
{
    const std::string a = segment("other_1.mkv", 352, 288, 0);
    const std::string b = segment("other_2.mkv", 320, 240, 2);
    ConversionChoices choices;
    choices.keep_video = true;
    JoinPlan join;
    ConversionPlan plan;
    ASSERT_EQ(plan_join({a, b}, work_dir() + "/other.mp4", choices, &join, &plan), 0);
    EXPECT_FALSE(plan.video_kept);
    EXPECT_EQ(plan.keep_refusal, "the picture of other_2.mkv (320x240) differs in size from other_1.mkv's (352x288)");
    EXPECT_TRUE(join.segment_list.empty());

    const std::string c = segment("same_1.mkv", 320, 240, 0);
    ASSERT_EQ(plan_join({c, b}, work_dir() + "/same.mp4", choices, &join, &plan), 0);
    EXPECT_TRUE(plan.video_kept) << plan.keep_refusal;
    choices.time_in_picture = ConversionChoices::TimeInPicture::Utc;
    ASSERT_EQ(plan_join({c, b}, work_dir() + "/same.mp4", choices, &join, &plan), 0);
    EXPECT_FALSE(plan.video_kept);
    EXPECT_EQ(plan.keep_refusal, "the recording's time is drawn into the picture");
}

// The list pins each segment to the container its look found: a segment that
// has become something else since is not read, and a run of recordings only
// lets through its own list alone, not another "data:" input.
TEST(Join, TheSegmentListIsReadOnlyAsTheJoinMadeIt)
{
    const std::string a = segment("pin_1.mkv", 320, 240, 0);
    JoinSegment s = keepable("pin_1.mkv");
    s.source = a;
    s.video_stream = 0;
    s.duration_us = 2 * kSecond;
    JoinTarget target;
    target.picture = true;
    struct Row {
        const char *what;
        const char *format;
        bool own_list;
        int status;
    };
    const Row rows[] = {
        {"as found", "matroska,webm", true, 0},
        {"found as another container", "mpegts", true, -1},
        {"a list not the run's own", "matroska,webm", false, -1},
    };
    for (const Row &row : rows) {
        s.format = row.format;
        const std::string url = segment_list_url({&s});
        std::vector<std::string> words = {"ffmpeg", "-y"};
        for (const std::string &w : kept_join_words({&s}, target, url))
            words.push_back(w);
        words.push_back(work_dir() + "/pinned.mp4");
        RunObserver observer;
        observer.recordings_only = true;
        observer.own_segment_list = row.own_list ? url : url + "=";
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        RunOutcome outcome;
        EXPECT_EQ(ffmpeg_exec_observed(int(words.size()), argv.data(), &observer, &outcome), row.status) << row.what;
    }
}
