// Keeping the original picture: which recordings decide_keep_video keeps and
// why it refuses the others (one row per kind, each limit on both sides), and
// recordings kept end to end through the engine with the kept words, rough
// recorder streams included: every picture of the output decodes without an
// error and equals the source's, from the source's first key frame on.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_probe.h"

#include "keep_video.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
#include <libavutil/pixdesc.h>
}

using namespace fixtures;

namespace {

// ---- recordings ----------------------------------------------------------------

ClipRecipe recording(const std::string &name, const std::string &format, const std::string &ext,
                     VideoTrack video, double seconds = 1.0)
{
    ClipRecipe r;
    r.name = "keep_" + name;
    r.format = format;
    r.extension = ext;
    r.duration = seconds;
    r.video = {video};
    return r;
}

VideoTrack picture(const std::string &encoder, const std::string &options = "", const std::string &pix_fmt = "")
{
    VideoTrack v;
    v.encoder = encoder;
    v.encoder_options = options;
    v.pix_fmt = pix_fmt;
    return v;
}

ClipRecipe with_sound(ClipRecipe r, const std::string &encoder)
{
    AudioTrack a;
    a.encoder = encoder;
    r.audio = {a};
    r.name += "_" + encoder;
    return r;
}

bool has_encoder(const char *name)
{
    return avcodec_find_encoder_by_name(name) != nullptr;
}

KeepDecision decide(const std::string &path)
{
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    KeepDecision d;
    if (avformat_find_stream_info(ic, nullptr) >= 0)
        d = decide_keep_video(ic);
    else
        ADD_FAILURE() << "cannot probe " << path;
    avformat_close_input(&ic);
    return d;
}

// ---- the decision: one row per kind ---------------------------------------------------

struct DecideRow {
    const char *name;
    std::function<std::string()> path; // the recording, made on demand
    const char *needs_encoder;         // skipped with a note when this libavcodec has none
    const char *refusal;               // "" when kept
    bool copy_audio;
};

std::function<std::string()> clip(ClipRecipe r)
{
    return [r] { return clip_path(r); };
}

std::function<std::string()> fixture(FixtureKind kind)
{
    return [kind] { return fixture_path(kind); };
}

// A 4096-wide picture, the widest level 5.1 holds at 2304 lines; black costs little.
ClipRecipe wide(int width)
{
    VideoTrack v = picture("libx264", "level=5.1");
    v.width = width;
    v.height = 2304;
    v.black = true;
    return recording("wide" + std::to_string(width), "mpegts", "ts", v, 0.2);
}

const DecideRow kDecideRows[] = {
    // Kept.
    {"ConstrainedBaseline", clip(recording("cbp", "mpegts", "ts", picture("libx264", "profile=baseline"))),
     nullptr, "", false},
    {"Main", clip(recording("main", "mp4", "mp4", picture("libx264", "profile=main"))), nullptr, "", false},
    {"HighAacCopied", clip(with_sound(recording("high", "mpegts", "ts", picture("libx264", "profile=high")), "aac")),
     nullptr, "", true},
    {"MulawConverted", clip(with_sound(recording("mulaw", "avi", "avi", picture("libx264")), "pcm_mulaw")),
     nullptr, "", false},
    {"FullRange420", clip(recording("yuvj", "mpegts", "ts", picture("libx264", "", "yuvj420p"))), nullptr, "",
     false},
    // Refused, by kind.
    {"Hevc", clip(recording("hevc", "mpegts", "ts", picture("libx265"))), "libx265", "the picture is HEVC", false},
    {"Mjpeg", fixture(FixtureKind::MjpegMulawAvi), nullptr, "the picture is MJPEG", false},
    {"Mpeg2", clip(recording("mpeg2", "mpegts", "ts", picture("mpeg2video"))), nullptr, "the picture is MPEG-2",
     false},
    {"Interlaced", clip(recording("interlaced", "mpegts", "ts", picture("libx264", "flags=+ildct"))), nullptr,
     "the picture is interlaced", false},
    {"FourTwoTwo", clip(recording("422", "mpegts", "ts", picture("libx264", "", "yuv422p"))), nullptr,
     "the picture is not 4:2:0", false},
    {"Lossless", clip(recording("lossless", "mpegts", "ts", picture("libx264", "qp=0"))), nullptr,
     "the H.264 profile (High 4:4:4 Predictive) is not one players open", false},
    {"NoPicture", fixture(FixtureKind::AacM4a), nullptr, "the recording has no picture", false},
    // Raw H.264: kept while its pictures are shown in the order stored.
    {"RawInOrder", clip(recording("raw", "h264", "h264", picture("libx264"))), nullptr, "", false},
    {"RawReordered",
     [] {
         VideoTrack v = picture("libx264");
         v.b_frames = 1; // one picture held back: the least reordering there is
         return clip_path(recording("raw_b1", "h264", "h264", v));
     },
     nullptr, "the recording's picture has no timestamps", false},
    // Boundaries: the level, the sample depth, the picture size at level 5.1.
    {"Level51", clip(recording("level51", "mpegts", "ts", picture("libx264", "level=5.1"))), nullptr, "", false},
    {"Level52", clip(recording("level52", "mpegts", "ts", picture("libx264", "level=5.2"))), nullptr,
     "the picture's level (5.2) is beyond what players open", false},
    {"EightBit", clip(recording("8bit", "mpegts", "ts", picture("libx264", "", "yuv420p"))), nullptr, "", false},
    {"TenBit", clip(recording("10bit", "mpegts", "ts", picture("libx264", "", "yuv420p10le"))), nullptr,
     "the picture has 10-bit samples", false},
    {"Width4096", clip(wide(4096)), nullptr, "", false},
    {"Width4112", clip(wide(4112)), nullptr, "the picture (4112x2304) is beyond what level 5.1 holds", false},
};

class Decide : public ::testing::TestWithParam<DecideRow> {};
TEST_P(Decide, KeepsOnlyWhatPlayersOpen)
{
    const DecideRow &row = GetParam();
    if (row.needs_encoder && !has_encoder(row.needs_encoder))
        GTEST_SKIP() << "this libavcodec has no " << row.needs_encoder << " encoder to make the recording";
    const KeepDecision d = decide(row.path());
    EXPECT_EQ(d.refusal, row.refusal);
    EXPECT_EQ(d.keep_video, std::string(row.refusal).empty());
    EXPECT_EQ(d.copy_audio, row.copy_audio);
    EXPECT_EQ(d.video_stream < 0, std::string(row.name) == "NoPicture");
}
INSTANTIATE_TEST_SUITE_P(Kinds, Decide, ::testing::ValuesIn(kDecideRows),
                         [](const ::testing::TestParamInfo<DecideRow> &row) { return std::string(row.param.name); });

// The stream looked at is the one the run takes: the largest picture.
TEST(Decide, LooksAtTheLargestPicture)
{
    const KeepDecision d = decide(fixture_path(FixtureKind::Mp4TwoVideoSizes));
    EXPECT_EQ(d.video_stream, 1); // 160x120 first, 320x240 second
    EXPECT_TRUE(d.keep_video) << d.refusal;
}

// ---- kept end to end -------------------------------------------------------------------

// Every decoded picture of the first video stream as the MD5 of its planes.
struct Decoded {
    std::vector<std::string> digests;
    int errors = 0; // failed sends, corrupt frames, errors the decoder logged
};

std::string picture_digest(const AVFrame *f)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    AVMD5 *md5 = av_md5_alloc();
    av_md5_init(md5);
    for (int plane = 0; plane < 3 && f->data[plane]; plane++) {
        const int rows = plane ? AV_CEIL_RSHIFT(f->height, desc->log2_chroma_h) : f->height;
        const int bytes = av_image_get_linesize(AVPixelFormat(f->format), f->width, plane);
        for (int y = 0; y < rows; y++)
            av_md5_update(md5, f->data[plane] + ptrdiff_t(y) * f->linesize[plane], size_t(bytes));
    }
    uint8_t sum[16];
    av_md5_final(md5, sum);
    av_free(md5);
    char text[33];
    for (int i = 0; i < 16; i++)
        snprintf(text + 2 * i, 3, "%02x", sum[i]);
    return text;
}

Decoded decode_pictures(const std::string &path)
{
    Decoded out;
    LogCapture log(AV_LOG_ERROR);
    decode_stream(path, DecodeRequest{}, [&](AVFrame *f) {
        out.digests.push_back(picture_digest(f));
        if (f->flags & AV_FRAME_FLAG_CORRUPT || f->decode_error_flags)
            out.errors++;
    });
    out.errors += int(log.lines().size());
    return out;
}

std::vector<std::string> kept_words(const std::string &in, const std::string &out, bool copy_audio)
{
    return {"-i", in, "-c:v", "copy", "-c:a", copy_audio ? "copy" : "aac", "-strict", "-2", out};
}

// The source's pictures from its first key frame on, counted by its packets.
size_t pictures_from_first_key(const std::string &path)
{
    const auto packets = video_packets(path);
    size_t first = 0;
    while (first < packets.size() && !packets[first].first)
        first++;
    return packets.size() - first;
}

struct KeptRow {
    const char *name;
    std::function<std::string()> path;
    bool copy_audio;
};

const KeptRow kKeptRows[] = {
    {"HighWithBFramesInMp4",
     [] {
         VideoTrack v = picture("libx264", "profile=high");
         v.b_frames = 2;
         return clip_path(recording("high_b", "mp4", "mp4", v, 2.0));
     },
     false},
    {"ParameterSetsInBand", fixture(FixtureKind::H264AacTs), true},
    {"NoTimestamps", clip(recording("raw", "h264", "h264", picture("libx264"), 2.0)), false},
    {"RepeatedTimestamps",
     [] {
         FileDamage d;
         d.kind = FileDamage::TsRepeatTimestamps;
         d.frame = 7;
         return damaged_clip_path(fixture_recipe(FixtureKind::H264AacTs), d);
     },
     true},
    {"StartsMidGop", fixture(FixtureKind::TsStartsMidGop), true},
    {"MulawSoundConverted", clip(with_sound(recording("mulaw", "avi", "avi", picture("libx264")), "pcm_mulaw")),
     false},
};

class Kept : public ::testing::TestWithParam<KeptRow> {};
TEST_P(Kept, EveryPictureDecodesAsTheSources)
{
    const KeptRow &row = GetParam();
    const std::string source = row.path();
    const KeepDecision d = decide(source);
    ASSERT_TRUE(d.keep_video) << d.refusal;
    ASSERT_EQ(d.copy_audio, row.copy_audio);

    const std::string out = scratch_dir(std::string("keep_") + row.name) + "/kept.mp4";
    {
        LogCapture log(AV_LOG_WARNING);
        ASSERT_EQ(run_engine(kept_words(source, out, d.copy_audio)), 0) << log.all_text();
        // Every packet reaches the muxer with its times (its guesses are deprecated).
        EXPECT_FALSE(log.has("Timestamps are unset")) << log.all_text();
    }

    // The source decodes from its first key frame on (a player skips what comes before).
    const Decoded want = decode_pictures(source);
    const Decoded got = decode_pictures(out);
    EXPECT_EQ(got.errors, 0);
    ASSERT_GT(want.digests.size(), 0u);
    EXPECT_EQ(want.digests.size(), pictures_from_first_key(source));
    EXPECT_EQ(got.digests.size(), want.digests.size());
    EXPECT_TRUE(got.digests == want.digests) << "a kept picture differs from the source's";

    const MediaInfo info = probe_media(out);
    ASSERT_GE(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].codec, AV_CODEC_ID_H264);
    if (info.streams.size() > 1) {
        EXPECT_EQ(info.streams[1].codec, AV_CODEC_ID_AAC);
    }
}
INSTANTIATE_TEST_SUITE_P(Recordings, Kept, ::testing::ValuesIn(kKeptRows),
                         [](const ::testing::TestParamInfo<KeptRow> &row) { return std::string(row.param.name); });

} // namespace
