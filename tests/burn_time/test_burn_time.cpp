// The recording's time in the picture: the font size's limits, the filter's
// quoting, and converted frames read back: the lower left corner of a frame
// 3.2 s into a recording that began at 08:00:00 UTC matches "08:00:03" drawn
// by the same filter as a literal text, and not the seconds beside it; local
// time carries the zone's offset; an unknown start draws nothing and says why.
#include "burn_time.h"
#include "conversion.h"
#include "engine_harness.h"
#include "fixture_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace fixtures;

namespace {

constexpr int kFrameLooked = 80; // 3.2 s at 25 frames a second

// This test's folder, emptied once per run.
const std::string &work_dir()
{
    static const std::string dir = scratch_dir("burn_time");
    return dir;
}

// A 4 s camera recording whose container says it began at 2024-03-15 08:00:00 UTC.
std::string tagged_recording()
{
    ClipRecipe r;
    r.name = "burn_time_camera";
    r.format = "mpegts";
    r.extension = "ts";
    r.duration = 4.0;
    VideoTrack v;
    v.width = 352;
    v.height = 288;
    r.video = {v};
    const std::string path = work_dir() + "/tagged.mkv";
    if (access(path.c_str(), R_OK) != 0) {
        EXPECT_EQ(run_engine({"-loglevel", "error", "-y", "-i", clip_path(r), "-c", "copy", "-metadata",
                             "creation_time=2024-03-15T08:00:00Z", path}),
                  0);
    }
    return path;
}

// The luma of the frame numbered `index` of `path`, row by row.
std::vector<uint8_t> luma_of_frame(const std::string &path, int index, int *width, int *height)
{
    std::vector<uint8_t> luma;
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(ic, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        avformat_close_input(&ic);
        return luma;
    }
    const int video = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *codec = avcodec_find_decoder(ic->streams[video]->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, ic->streams[video]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    int seen = 0;
    bool done = false;
    auto take = [&] {
        while (!done && avcodec_receive_frame(dec, frame) >= 0) {
            if (seen++ == index) {
                *width = frame->width;
                *height = frame->height;
                for (int y = 0; y < frame->height; y++)
                    luma.insert(luma.end(), frame->data[0] + y * frame->linesize[0],
                                frame->data[0] + y * frame->linesize[0] + frame->width);
                done = true;
            }
            av_frame_unref(frame);
        }
    };
    while (!done && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == video && avcodec_send_packet(dec, pkt) >= 0)
            take();
        av_packet_unref(pkt);
    }
    if (!done && avcodec_send_packet(dec, nullptr) >= 0)
        take();
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&dec);
    avformat_close_input(&ic);
    EXPECT_TRUE(done) << path << " has no frame " << index;
    return luma;
}

// The pixels of the lower left corner, where the time is drawn, that differ
// clearly (more than the encoder's noise) between frame kFrameLooked of `a`
// and of `b`.
int corner_difference(const std::string &a, const std::string &b)
{
    int wa = 0, ha = 0, wb = 0, hb = 0;
    const std::vector<uint8_t> la = luma_of_frame(a, kFrameLooked, &wa, &ha);
    const std::vector<uint8_t> lb = luma_of_frame(b, kFrameLooked, &wb, &hb);
    if (la.empty() || lb.empty() || wa != wb || ha != hb)
        return 1 << 30;
    int count = 0;
    for (int y = ha - 2 * time_font_size(ha); y < ha; y++)
        for (int x = 0; x < wa * 3 / 4; x++)
            count += std::abs(int(la[size_t(y * wa + x)]) - int(lb[size_t(y * wa + x)])) > 96;
    return count;
}

std::string convert(const std::string &source, const std::string &name, ConversionChoices::TimeInPicture zone,
                    ConversionResult *result)
{
    const std::string output = work_dir() + "/" + name + ".mp4";
    std::remove(output.c_str());
    ConversionChoices choices;
    choices.time_in_picture = zone;
    EXPECT_EQ(run_conversion(source, output, choices, RunObserver(), result), 0) << name;
    return output;
}

// The same conversion with `text` drawn as it is, for every frame.
std::string reference(const std::string &source, const std::string &text)
{
    const std::string output = work_dir() + "/reference " + text + ".mp4";
    std::remove(output.c_str());
    std::vector<std::string> words = converter_arguments(source, output);
    words.insert(words.end() - 1, {"-loglevel", "error", "-vf", time_text_filter(text, 288)});
    EXPECT_EQ(run_engine(std::vector<std::string>(words.begin() + 1, words.end())), 0) << text;
    return output;
}

} // namespace

TEST(BurnTime, TheTextGrowsWithThePictureFromTheSmallestSizeOn)
{
    const std::pair<int, int> sizes[] = {{0, 12}, {200, 12}, {259, 12}, {260, 13}, {288, 14}, {1080, 54}};
    for (const auto &[height, size] : sizes)
        EXPECT_EQ(time_font_size(height), size) << height;
}

TEST(BurnTime, EachReaderOfTheFilterTakesOneLevelOfBackslashes)
{
    EXPECT_EQ(filter_escape("a:b\\c'd,e", ":"), "a\\:b\\\\c\\'d,e");
    EXPECT_EQ(filter_escape("a,b;c[d]e:f", "[],;"), "a\\,b\\;c\\[d\\]e:f");
    // The colons of the time's format are read by three readers: 1, 3 and 7 backslashes.
    const std::string filter = recording_time_filter(1710489600000000, true, 288, "/f.ttf");
    EXPECT_NE(filter.find("text=%{pts\\\\:gmtime\\\\:1710489600.000000\\\\:%Y-%m-%d %H\\\\\\\\\\\\:%M"),
              std::string::npos)
        << filter;
    EXPECT_EQ(filter.rfind("drawtext=fontfile=/f.ttf:", 0), 0u) << filter;
}

TEST(BurnTime, EachFrameShowsTheMomentItWasRecorded)
{
    const std::string source = tagged_recording();
    ConversionResult result;
    const std::string shown = convert(source, "utc", ConversionChoices::TimeInPicture::Utc, &result);
    EXPECT_TRUE(result.plan.time_shown);
    EXPECT_EQ(result.plan.time_refusal, "");
    const int right = corner_difference(shown, reference(source, "2024-03-15 08\\:00\\:03 UTC"));
    const int before = corner_difference(shown, reference(source, "2024-03-15 08\\:00\\:02 UTC"));
    const int after = corner_difference(shown, reference(source, "2024-03-15 08\\:00\\:04 UTC"));
    // One digit's strokes at this size differ in some dozens of clear pixels
    // (16 and 26 here); the same text in none.
    EXPECT_LE(right, 3) << before << " " << after;
    EXPECT_GE(before, 10) << right;
    EXPECT_GE(after, 10) << right;
}

TEST(BurnTime, LocalTimeCarriesItsOffset)
{
    const char *was = getenv("TZ");
    const std::string saved = was ? was : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const std::string source = tagged_recording();
    ConversionResult result;
    const std::string shown = convert(source, "tokyo", ConversionChoices::TimeInPicture::Local, &result);
    const int right = corner_difference(shown, reference(source, "2024-03-15 17\\:00\\:03 +0900"));
    const int utc = corner_difference(shown, reference(source, "2024-03-15 08\\:00\\:03 UTC"));
    if (was)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_LE(right, 3) << utc;
    EXPECT_GE(utc, 10) << right;
}

TEST(BurnTime, WithoutAStartTimeNothingIsDrawnAndTheReasonIsGiven)
{
    ClipRecipe r;
    r.name = "burn_time_untagged";
    r.format = "mpegts";
    r.extension = "ts";
    r.video = {VideoTrack()};
    ConversionResult result;
    convert(clip_path(r), "untagged", ConversionChoices::TimeInPicture::Local, &result);
    EXPECT_FALSE(result.plan.time_shown);
    EXPECT_EQ(result.plan.time_refusal, "the recording's start time is not known");
    for (const std::string &word : result.plan.words)
        EXPECT_EQ(word.find("drawtext"), std::string::npos) << word;
    // Keeping the picture and drawing the time into it exclude each other.
    ConversionChoices both;
    both.keep_video = true;
    both.time_in_picture = ConversionChoices::TimeInPicture::Utc;
    const ConversionPlan plan = plan_conversion(tagged_recording(), work_dir() + "/x.mp4", both);
    EXPECT_TRUE(plan.time_shown);
    EXPECT_FALSE(plan.video_kept);
    EXPECT_EQ(plan.keep_refusal, "the recording's time is drawn into the picture");
}
