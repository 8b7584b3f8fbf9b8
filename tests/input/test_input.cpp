// Input files: every kind of test recording opens with its streams registered and
// dumped; options written before "-i" reach the demuxer, the decoders and the
// stream records; standard input as an input; the start offset and its seek;
// attachment dumps; and the message of every failure.
#include "crafted.h"
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_probe.h"

#include "audio_limits.h"
#include "engine.h"
#include "input_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

int64_t start_us(const std::string &path)
{
    double start = probe_media(path).start;
    return std::isnan(start) ? 0 : llround(start * 1e6);
}

// Per-file options filled the way the command line fills them, then one input.
class Input : public ::testing::Test {
protected:
    PerFileOptions o;
    LogCapture log; // also keeps the dumps out of the test output

    void SetUp() override
    {
        memset(&o, 0, sizeof(o));
        reset_file_options(&o, 0);
    }
    void TearDown() override
    {
        close_all();
        copy_ts = 0;
        stdin_enabled = 1;
    }
    void close_all()
    {
        reset_file_options(&o, 0);
        engine_cleanup();
        reset_engine_state();
    }
    int open(const Args &options, const std::string &path)
    {
        for (size_t i = 0; i < options.size(); i++) {
            const char *arg = i + 1 < options.size() ? options[i + 1].c_str() : nullptr;
            int used = apply_option(&o, options[i].c_str() + 1, arg, option_table);
            EXPECT_GE(used, 0) << options[i];
            i += size_t(std::max(used, 0));
        }
        return add_input_file(&o, "i", path.c_str());
    }
    static AVFormatContext *ctx() { return input_files[0]->ctx; }
};

// ---- every fixture ----------------------------------------------------------------

TEST_F(Input, EveryFixtureKindRegistersItsStreamsWithTheirDecodersAndDumpsThem)
{
    // Decoder expected for each stream, in stream order (nullptr: none).
    const std::pair<FixtureKind, std::vector<const char *>> kinds[] = {
        {FixtureKind::H264AacTs, {"h264", "aac"}},
        {FixtureKind::MjpegMulawAvi, {"mjpeg", "pcm_mulaw"}},
        {FixtureKind::Mpeg4AlawMkv, {"mpeg4", "pcm_alaw"}},
        {FixtureKind::H264Raw, {"h264"}},
        {FixtureKind::H264SizeChangeRaw, {"h264"}},
        {FixtureKind::Mp4TwoVideoSizes, {"h264", "h264"}},
        {FixtureKind::Mp4TwoVideoSameSize, {"h264", "h264"}},
        {FixtureKind::MkvTextSubtitle, {"h264", "srt"}},
        {FixtureKind::MkvBitmapSubtitle, {"h264", "dvdsub"}},
        {FixtureKind::MkvAttachment, {"h264", "aac", nullptr}},
        {FixtureKind::TsStartAt10s, {"h264", "aac"}},
        {FixtureKind::AacM4a, {"aac"}},
        {FixtureKind::MulawWav, {"pcm_mulaw"}},
        {FixtureKind::TsTruncatedHalf, {"h264", "aac"}},
        {FixtureKind::TsOverwrittenMiddle, {"h264", "aac"}},
        {FixtureKind::TsStartsMidGop, {"h264", "aac"}},
    };
    ASSERT_EQ(std::size(kinds), all_fixture_kinds().size()) << "a fixture kind is missing here";

    for (const auto &[kind, decoders] : kinds) {
        SCOPED_TRACE(fixture_kind_name(kind));
        const std::string path = fixture_path(kind);
        const MediaInfo info = probe_media(path);
        log.clear();
        ASSERT_EQ(open({}, path), 0);

        ASSERT_EQ(nb_input_files, 1);
        ASSERT_EQ(nb_input_streams, int(decoders.size()));
        const InFile *f = input_files[0];
        EXPECT_EQ(f->stream_count, int(decoders.size()));
        EXPECT_EQ(f->first_stream, 0);
        EXPECT_EQ(f->ts_offset, -start_us(path));
        EXPECT_TRUE(log.has("Input #0, " + info.format + ", from '" + path + "':\n", AV_LOG_INFO));

        for (int k = 0; k < nb_input_streams; k++) {
            SCOPED_TRACE(k);
            const InStream *ist = input_streams[k];
            const StreamInfo &expect = info.streams[size_t(k)];
            EXPECT_TRUE(log.has("  Stream #0:" + std::to_string(k)));
            EXPECT_EQ(ist->st, f->ctx->streams[k]);
            EXPECT_EQ(ist->file_index, 0);
            EXPECT_EQ(ist->discard, 1);
            EXPECT_EQ(ist->st->discard, AVDISCARD_ALL);
            const char *decoder = decoders[size_t(k)];
            EXPECT_EQ(ist->dec ? ist->dec->name : "", std::string(decoder ? decoder : ""));
            ASSERT_NE(ist->dec_ctx, nullptr);
            EXPECT_EQ(ist->dec_ctx->codec_type, expect.type);
            EXPECT_EQ(av_cmp_q(ist->dec_ctx->pkt_timebase, ist->st->time_base), 0);
            if (expect.type == AVMEDIA_TYPE_VIDEO) {
                EXPECT_EQ(ist->resample_width, expect.width);
                EXPECT_EQ(ist->resample_height, expect.height);
                EXPECT_NE(ist->resample_pix_fmt, AV_PIX_FMT_NONE);
            } else if (expect.type == AVMEDIA_TYPE_AUDIO) {
                EXPECT_EQ(ist->resample_sample_rate, expect.sample_rate);
                EXPECT_EQ(ist->resample_channels, expect.channels);
                // Containers that only give a channel count get the default layout.
                EXPECT_EQ(ist->resample_channel_layout, AV_CH_LAYOUT_MONO);
            }
        }
        close_all();
    }
}

TEST_F(Input, FileWithoutStreamsIsRegisteredWithNoStreams)
{
    const std::string path = scratch_dir("input_no_streams") + "/tags.txt";
    write_file(path, ";FFMETADATA1\ntitle=nothing but tags\n");
    ASSERT_EQ(open({}, path), 0);
    ASSERT_EQ(nb_input_files, 1);
    EXPECT_EQ(input_files[0]->stream_count, 0);
    EXPECT_EQ(nb_input_streams, 0);
    EXPECT_TRUE(log.has("Input #0, ffmetadata, from '" + path + "':\n"));
}

TEST_F(Input, SecondInputContinuesNumberingAndGetsOnlyItsOwnOptions)
{
    const std::string ts = fixture_path(FixtureKind::H264AacTs);
    ASSERT_EQ(open({"-threads", "1", "-itsscale", "3"}, ts), 0);
    // The options were for the first file only.
    EXPECT_EQ(o.ts_scales.count, 0);
    EXPECT_EQ(codec_options, nullptr);
    ASSERT_EQ(open({}, fixture_path(FixtureKind::MulawWav)), 0);

    ASSERT_EQ(nb_input_files, 2);
    EXPECT_EQ(input_files[1]->first_stream, 2);
    EXPECT_EQ(input_files[1]->stream_count, 1);
    ASSERT_EQ(nb_input_streams, 3);
    EXPECT_EQ(input_streams[2]->file_index, 1);
    EXPECT_EQ(input_streams[2]->st, input_files[1]->ctx->streams[0]);
    EXPECT_EQ(input_streams[0]->ts_scale, 3.0);
    EXPECT_EQ(input_streams[2]->ts_scale, 1.0);
    EXPECT_NE(av_dict_get(input_streams[0]->decoder_opts, "threads", nullptr, 0), nullptr);
    EXPECT_EQ(av_dict_get(input_streams[2]->decoder_opts, "threads", nullptr, 0), nullptr);
    EXPECT_TRUE(log.has("Input #1, wav, from '"));
}

// ---- failures -------------------------------------------------------------------

TEST_F(Input, FailuresLogTheirMessageAndRegisterNothing)
{
    const std::string ts = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("input_failures");
    const std::string missing = dir + "/missing.ts", text = dir + "/readme.txt";
    write_file(text, "not a recording\n");
    struct Row {
        const char *name;
        Args options;
        std::string path, message;
        int level;
    } const rows[] = {
        {"missing file", {}, missing, missing + ": No such file or directory\n", AV_LOG_ERROR},
        {"not media", {}, text, text + ": Invalid data found when processing input\n",
         AV_LOG_ERROR},
        {"unknown format", {"-f", "nosuch"}, ts, "Unknown input format: 'nosuch'\n", AV_LOG_FATAL},
        {"unknown decoder", {"-c:v", "nosuch"}, ts, "Unknown decoder 'nosuch'\n", AV_LOG_FATAL},
        {"decoder of another type", {"-c:a", "h264"}, ts, "Invalid decoder type 'h264'\n",
         AV_LOG_FATAL},
        {"unknown decoder for one stream", {"-c:v:0", "nosuch"}, ts,
         "Unknown decoder 'nosuch'\n", AV_LOG_FATAL},
        {"bad frame rate for the second stream", {"-r:v:1", "fast"},
         fixture_path(FixtureKind::Mp4TwoVideoSizes), "Error parsing framerate fast.\n",
         AV_LOG_ERROR},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        log.clear();
        EXPECT_EQ(open(row.options, row.path), -1);
        EXPECT_TRUE(log.has(row.message, row.level)) << log.all_text();
        // Streams registered before the failure are taken out again.
        EXPECT_EQ(nb_input_files, 0);
        EXPECT_EQ(nb_input_streams, 0);
        EXPECT_FALSE(log.has("Input #0"));
        close_all();
    }
}

TEST(InputRun, FailedOpenFailsTheRunAndInputWithoutOutputIsRefusedAfterOpening)
{
    const std::string ts = fixture_path(FixtureKind::H264AacTs);
    {
        LogCapture log;
        EXPECT_EQ(run_engine({"-i", "/no/such/input.ts"}), -1);
        EXPECT_TRUE(log.has("/no/such/input.ts: No such file or directory\n", AV_LOG_ERROR));
        EXPECT_TRUE(log.has("Failed to set value '/no/such/input.ts' for option 'i'\n"));
    }
    LogCapture log;
    EXPECT_EQ(run_engine({"-i", ts}), -1);
    EXPECT_TRUE(log.has("Input #0, mpegts, from '" + ts + "':\n", AV_LOG_INFO));
    EXPECT_TRUE(log.has("At least one output file must be specified\n", AV_LOG_FATAL));
    EXPECT_EQ(nb_input_files, 0);
}

// ---- standard input ---------------------------------------------------------------

TEST_F(Input, StandardInputNamesReadItAndSwitchInteractionOff)
{
    const std::string ts = fixture_path(FixtureKind::H264AacTs);
    const std::pair<const char *, int> rows[] = {
        {"-", 0}, {"pipe:", 0}, {"pipe:0", 0}, {"/dev/stdin", 0}, {nullptr, 1}};
    for (const auto &[name, interaction_after] : rows) {
        SCOPED_TRACE(name ? name : "plain path");
        stdin_enabled = 1;
        const int saved = dup(STDIN_FILENO);
        const int fd = ::open(ts.c_str(), O_RDONLY);
        dup2(fd, STDIN_FILENO);
        close(fd);
        log.clear();
        EXPECT_EQ(open({}, name ? name : ts), 0);
        dup2(saved, STDIN_FILENO);
        close(saved);
        EXPECT_EQ(stdin_enabled, interaction_after);
        EXPECT_EQ(nb_input_streams, 2);
        if (name && !strcmp(name, "-")) {
            EXPECT_TRUE(log.has("Input #0, mpegts, from 'pipe:':\n"));
        }
        close_all();
    }
}

TEST(InputCli, DashReadsTheRecordingFromStandardInput)
{
    const std::string ts = fixture_path(FixtureKind::TsStartAt10s);
    const std::string bytes = read_file(ts);
    ChildResult r = run_cli({"-i", "-"}, bytes);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("Input #0, mpegts, from 'pipe:':"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Stream #0:1"), std::string::npos);
    EXPECT_NE(r.err.find("At least one output file must be specified"), std::string::npos);

    // A pipe cannot seek: the start offset plus the file's own start is reported.
    char position[64];
    snprintf(position, sizeof(position), "pipe:: could not seek to position %0.3f\n",
             (1000000 + start_us(ts)) / 1e6);
    r = run_cli({"-ss", "1", "-i", "-"}, bytes);
    EXPECT_NE(r.err.find(position), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Input #0, mpegts"), std::string::npos);
}

// ---- start offset -----------------------------------------------------------------

// Time of the first video packet the demuxer delivers, in microseconds.
int64_t first_video_packet_us(AVFormatContext *ic)
{
    for (unsigned i = 0; i < ic->nb_streams; i++)
        if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            ic->streams[i]->discard = AVDISCARD_DEFAULT;
    AVPacket *pkt = av_packet_alloc();
    int64_t t = AV_NOPTS_VALUE;
    while (t == AV_NOPTS_VALUE && av_read_frame(ic, pkt) >= 0) {
        AVStream *st = ic->streams[pkt->stream_index];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && pkt->pts != AV_NOPTS_VALUE)
            t = av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return t;
}

TEST_F(Input, StartOffsetSeeksPastTheFileStartAndShiftsTimestamps)
{
    const std::string at10 = fixture_path(FixtureKind::TsStartAt10s);
    const std::string at0 = fixture_path(FixtureKind::H264AacTs);
    struct Row {
        const char *name;
        std::string path;
        Args options;
        int64_t offset_plus_start; // expected ts_offset + the file's start time
        int64_t first_video_after; // earliest first video packet, after the file's start
    } const rows[] = {
        {"no options", at10, {}, 0, 0},
        {"seek", at10, {"-ss", "1.5"}, -1500000, 900000},
        {"seek and offset", at10, {"-ss", "1.5", "-itsoffset", "2"}, 500000, 900000},
        {"offset only", at10, {"-itsoffset", "2"}, 2000000, 0},
        {"seek in a file starting at 0", at0, {"-ss", "1.5"}, -1500000, 900000},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const int64_t start = start_us(row.path);
        ASSERT_EQ(open(row.options, row.path), 0);
        EXPECT_EQ(input_files[0]->ts_offset + start, row.offset_plus_start);
        const int64_t first = first_video_packet_us(ctx()) - start;
        EXPECT_GE(first, row.first_video_after);
        EXPECT_LT(first, row.first_video_after + 1000000);
        close_all();
    }

    // With copied timestamps only the explicit offset remains.
    ASSERT_EQ(open({"-copyts", "-ss", "1.5", "-itsoffset", "2"}, at10), 0);
    EXPECT_EQ(input_files[0]->ts_offset, 2000000);
}

// ---- decoders ----------------------------------------------------------------------

TEST(InputCodecLookup, FindsCodersByNameOrCodecNameAndRejectsOthers)
{
    struct Row {
        const char *name;
        AVMediaType type;
        int encoder;
        const char *found; // nullptr: none
        const char *message;
        int level;
    } const rows[] = {
        {"h264", AVMEDIA_TYPE_VIDEO, 0, "h264", nullptr, 0},
        {"libx264", AVMEDIA_TYPE_VIDEO, 1, "libx264", nullptr, 0},
        {"dvd_subtitle", AVMEDIA_TYPE_SUBTITLE, 0, "dvdsub",
         "Matched decoder 'dvdsub' for codec 'dvd_subtitle'.\n", AV_LOG_VERBOSE},
        {"dvd_subtitle", AVMEDIA_TYPE_SUBTITLE, 1, "dvdsub",
         "Matched encoder 'dvdsub' for codec 'dvd_subtitle'.\n", AV_LOG_VERBOSE},
        {"libx264", AVMEDIA_TYPE_VIDEO, 0, nullptr, "Unknown decoder 'libx264'\n", AV_LOG_FATAL},
        {"nosuch", AVMEDIA_TYPE_AUDIO, 1, nullptr, "Unknown encoder 'nosuch'\n", AV_LOG_FATAL},
        {"aac", AVMEDIA_TYPE_VIDEO, 0, nullptr, "Invalid decoder type 'aac'\n", AV_LOG_FATAL},
        {"mjpeg", AVMEDIA_TYPE_AUDIO, 1, nullptr, "Invalid encoder type 'mjpeg'\n", AV_LOG_FATAL},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.encoder ? " encoder" : " decoder"));
        LogCapture log;
        const AVCodec *c = find_codec_by_name(row.name, row.type, row.encoder);
        EXPECT_EQ(c ? std::string(c->name) : "", row.found ? row.found : "");
        if (c) {
            EXPECT_EQ(row.encoder ? av_codec_is_encoder(c) : av_codec_is_decoder(c), 1);
        }
        if (row.message) {
            EXPECT_TRUE(log.has(row.message, row.level)) << log.all_text();
        } else {
            EXPECT_EQ(log.all_text(), "");
        }
    }
}

TEST_F(Input, CodecChoiceBeforeInputForcesDecoders)
{
    const std::string two_video = fixture_path(FixtureKind::Mp4TwoVideoSizes);
    struct Row {
        const char *name;
        FixtureKind kind;
        Args options;
        AVCodecID file_video, file_audio, file_subtitle;
        std::vector<const char *> decoders;
    } const rows[] = {
        {"video for every video stream", FixtureKind::Mp4TwoVideoSizes, {"-c:v", "mpeg4"},
         AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, {"mpeg4", "mpeg4"}},
        {"one stream only", FixtureKind::Mp4TwoVideoSizes, {"-c:v:1", "mpeg4"},
         AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, {"h264", "mpeg4"}},
        {"audio", FixtureKind::MulawWav, {"-c:a", "pcm_alaw"}, AV_CODEC_ID_NONE,
         AV_CODEC_ID_PCM_ALAW, AV_CODEC_ID_NONE, {"pcm_alaw"}},
        {"subtitle by codec name", FixtureKind::MkvBitmapSubtitle, {"-c:s", "dvd_subtitle"},
         AV_CODEC_ID_NONE, AV_CODEC_ID_NONE, AV_CODEC_ID_DVD_SUBTITLE, {"h264", "dvdsub"}},
        {"last choice wins", FixtureKind::MulawWav, {"-c:a", "pcm_s16le", "-c:a", "pcm_alaw"},
         AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_ALAW, AV_CODEC_ID_NONE, {"pcm_alaw"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(open(row.options, fixture_path(row.kind)), 0);
        EXPECT_EQ(ctx()->video_codec_id, row.file_video);
        EXPECT_EQ(ctx()->audio_codec_id, row.file_audio);
        EXPECT_EQ(ctx()->subtitle_codec_id, row.file_subtitle);
        ASSERT_EQ(nb_input_streams, int(row.decoders.size()));
        for (int k = 0; k < nb_input_streams; k++) {
            const InStream *ist = input_streams[k];
            ASSERT_NE(ist->dec, nullptr);
            EXPECT_STREQ(ist->dec->name, row.decoders[size_t(k)]) << k;
            EXPECT_EQ(ist->st->codecpar->codec_id, ist->dec->id);
            EXPECT_EQ(ist->dec_ctx->codec_id, ist->dec->id);
        }
        close_all();
    }
}

TEST_F(Input, DecoderOptionsAreSelectedPerStream)
{
    const std::string ts = fixture_path(FixtureKind::H264AacTs); // 0: h264, 1: aac
    struct Row {
        Args options;
        const char *key;
        const char *video, *audio; // value each stream gets, nullptr: none
    } const rows[] = {
        {{"-threads", "1"}, "threads", "1", "1"},
        {{"-threads:a", "2"}, "threads", nullptr, "2"},
        {{"-enable_er:v", "1"}, "enable_er", "1", nullptr},        // h264 private option
        {{"-dual_mono_mode", "main"}, "dual_mono_mode", nullptr, "main"}, // aac private option
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.options[0]);
        ASSERT_EQ(open(row.options, ts), 0);
        for (int k = 0; k < 2; k++) {
            const char *expect = k == 0 ? row.video : row.audio;
            const AVDictionaryEntry *e =
                av_dict_get(input_streams[k]->decoder_opts, row.key, nullptr, 0);
            EXPECT_EQ(e ? std::string(e->value) : "", expect ? expect : "") << k;
        }
        close_all();
    }
}

// ---- per-stream options -----------------------------------------------------------

TEST_F(Input, PerStreamOptionsReachTheStreamRecords)
{
    using Check = std::function<void(const InStream *video, const InStream *other)>;
    struct Row {
        const char *name;
        FixtureKind kind; // stream 0 is video
        Args options;
        Check check;
    } const rows[] = {
        {"timestamp scale", FixtureKind::H264AacTs, {"-itsscale:v", "2"},
         [](auto v, auto a) { EXPECT_EQ(v->ts_scale, 2.0); EXPECT_EQ(a->ts_scale, 1.0); }},
        {"tag of digits", FixtureKind::H264AacTs, {"-tag:v", "875967080"},
         [](auto v, auto a) {
             EXPECT_EQ(v->st->codecpar->codec_tag, 875967080u);
             EXPECT_EQ(v->dec_ctx->codec_tag, 875967080u);
             EXPECT_EQ(a->st->codecpar->codec_tag, 0x0fu);
         }},
        {"tag in hexadecimal", FixtureKind::H264AacTs, {"-tag:v", "0x10"},
         [](auto v, auto) { EXPECT_EQ(v->st->codecpar->codec_tag, 16u); }},
        {"tag of four letters", FixtureKind::H264AacTs, {"-tag:v", "avc1"},
         [](auto v, auto) { EXPECT_EQ(v->st->codecpar->codec_tag, MKTAG('a', 'v', 'c', '1')); }},
        {"short tag padded with zero bytes", FixtureKind::H264AacTs, {"-tag:v", "ab"},
         [](auto v, auto) { EXPECT_EQ(v->st->codecpar->codec_tag, MKTAG('a', 'b', 0, 0)); }},
        {"forced frame rate", FixtureKind::H264AacTs, {"-r", "30000/1001"},
         [](auto v, auto) { EXPECT_EQ(av_cmp_q(v->forced_framerate, {30000, 1001}), 0); }},
        {"top field first", FixtureKind::H264AacTs, {"-top:v", "1"},
         [](auto v, auto) { EXPECT_EQ(v->top_field_first, 1); }},
        {"subtitle duration fix", FixtureKind::MkvTextSubtitle, {"-fix_sub_duration"},
         [](auto, auto s) { EXPECT_EQ(s->fix_sub_duration, 1); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(open(row.options, fixture_path(row.kind)), 0);
        ASSERT_EQ(nb_input_streams, 2);
        row.check(input_streams[0], input_streams[1]);
        close_all();
    }

    ASSERT_EQ(open({"-re"}, fixture_path(FixtureKind::MulawWav)), 0);
    EXPECT_EQ(input_files[0]->realtime_read, 1);
}

// ---- demuxer options ----------------------------------------------------------------

TEST_F(Input, PerFileListsBecomeDemuxerOptions)
{
    const std::string dir = scratch_dir("input_demuxer_options");
    const std::string gray = dir + "/gray.raw", pcm = dir + "/tone.raw";
    write_file(gray, std::string(64 * 48 * 5, '\x80'));
    write_file(pcm, std::string(8000 * 2 * 2, '\0'));
    const std::string ts = fixture_path(FixtureKind::H264AacTs);
    const std::string wav = fixture_path(FixtureKind::MulawWav);
    using Check = std::function<void(const AVCodecParameters *par, const AVStream *st)>;
    const Check gray_10fps = [](const AVCodecParameters *par, const AVStream *st) {
        EXPECT_EQ(par->width, 64);
        EXPECT_EQ(par->height, 48);
        EXPECT_EQ(par->format, AV_PIX_FMT_GRAY8);
        EXPECT_EQ(av_cmp_q(st->r_frame_rate, {10, 1}), 0);
    };
    struct Row {
        const char *name;
        std::string path;
        Args options;
        const char *left_over; // the "not found" option expected, or nullptr
        Check check;
    } const rows[] = {
        {"raw video from the lists", gray,
         {"-f", "rawvideo", "-s", "64x48", "-pix_fmt", "gray", "-r", "10"}, nullptr, gray_10fps},
        {"raw video with the demuxer's own frame rate option", gray,
         {"-f", "rawvideo", "-s", "64x48", "-pix_fmt", "gray", "-framerate", "10"}, nullptr,
         gray_10fps},
        {"last value of a list counts", gray,
         {"-f", "rawvideo", "-s:v", "32x32", "-s:a", "64x48", "-pix_fmt", "gray", "-r", "10"},
         nullptr, gray_10fps},
        {"raw audio", pcm, {"-f", "s16le", "-ar", "8000", "-ac", "2"}, nullptr,
         [](const AVCodecParameters *par, const AVStream *) {
             EXPECT_EQ(par->sample_rate, 8000);
             EXPECT_EQ(par->ch_layout.nb_channels, 2);
         }},
        {"sample rate is always passed", ts, {"-ar", "8000"}, "sample_rate", nullptr},
        {"frame size is always passed", ts, {"-s", "64x48"}, "video_size", nullptr},
        {"frame rate only to a forced demuxer that has it", ts, {"-f", "mpegts", "-r", "25"},
         nullptr, nullptr},
        {"channels only to a forced demuxer", wav, {"-ac", "2"}, nullptr, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        log.clear();
        ASSERT_EQ(open(row.options, row.path), 0);
        EXPECT_EQ(log.has("not found.\n", AV_LOG_FATAL), row.left_over != nullptr);
        if (row.left_over) {
            EXPECT_TRUE(log.has("Option " + std::string(row.left_over) + " not found.\n"));
        }
        if (row.check)
            row.check(ctx()->streams[0]->codecpar, ctx()->streams[0]);
        close_all();
    }
}

// ---- attachments --------------------------------------------------------------------

class InputAttachments : public Input {
protected:
    std::string dir, cwd;
    void SetUp() override
    {
        Input::SetUp();
        cwd = std::filesystem::current_path().string();
        dir = scratch_dir("input_attachments");
        std::filesystem::create_directories(dir + "/work");
        std::filesystem::current_path(dir + "/work");
    }
    void TearDown() override
    {
        std::filesystem::current_path(cwd);
        Input::TearDown();
    }
};

TEST_F(InputAttachments, DumpsWriteExtraDataUnderTheGivenOrTaggedName)
{
    const std::string content = fixture_recipe(FixtureKind::MkvAttachment).attachments[0].content;
    const std::string mkv = fixture_path(FixtureKind::MkvAttachment);
    struct Row {
        const char *name;
        std::string path;
        Args options;
        const char *written; // file in the working directory with the attachment
        std::string message; // empty: none expected
        int level;
    } const rows[] = {
        {"given name", mkv, {"-dump_attachment:t", "out.txt"}, "out.txt", "", 0},
        {"name from the tag", mkv, {"-dump_attachment:t", ""}, "notes.txt", "", 0},
        {"no name and no tag", mkv, {"-dump_attachment:v", ""}, nullptr,
         "No filename specified and no 'filename' tagin stream #0:0.\n", AV_LOG_FATAL},
        {"no extra data", fixture_path(FixtureKind::MulawWav), {"-dump_attachment:a", "x.bin"},
         nullptr, "No extradata to dump in stream #0:0.\n", AV_LOG_WARNING},
        {"unwritable", mkv, {"-dump_attachment:t", dir + "/none/x.txt"}, nullptr,
         "Could not open file " + dir + "/none/x.txt for writing.\n", AV_LOG_FATAL},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        log.clear();
        ASSERT_EQ(open(row.options, row.path), 0); // a failed dump never fails the open
        if (row.written) {
            EXPECT_EQ(read_file(row.written), content);
        }
        if (!row.message.empty()) {
            EXPECT_TRUE(log.has(row.message, row.level)) << log.all_text();
        }
        close_all();
    }
}

TEST_F(InputAttachments, TaggedNamesCannotPlaceFilesOutsideTheWorkingDirectory)
{
    const std::pair<const char *, const char *> rows[] = {
        {"../escaped.txt", "escaped.txt"},
        {"/tmp/../escaped-abs.txt", "escaped-abs.txt"},
        {"pipe:1", "pipe:1"},
    };
    for (const auto &[tag, written] : rows) {
        SCOPED_TRACE(tag);
        ClipRecipe recipe = fixture_recipe(FixtureKind::MkvAttachment);
        recipe.name = std::string("attachment_tag_") + written;
        recipe.audio.clear();
        recipe.duration = 0.2;
        recipe.attachments[0].filename = tag;
        log.clear();
        ASSERT_EQ(open({"-dump_attachment:t", ""}, clip_path(recipe)), 0);
        EXPECT_EQ(read_file(written), recipe.attachments[0].content);
        EXPECT_FALSE(std::filesystem::exists(dir + "/escaped.txt"));
        EXPECT_FALSE(std::filesystem::exists("/tmp/escaped-abs.txt"));
        close_all();
    }
}

// Decoders make pictures of at most 8192x4320 pixels in any shape, and sound
// frames of at most 2^22 samples: a header claiming more is refused as the
// input opens. "-max_pixels" moves the picture limit.
TEST_F(Input, DecodersMakePicturesUpTo8192x4320PixelsInAnyShape)
{
    const std::string dir = scratch_dir("input_decoder_limits");
    struct Case {
        int w, h;
        Args options;
        bool opens;
    };
    const Case cases[] = {
        {8192, 4320, {}, true},   {8192, 4321, {}, false},  {8193, 4320, {}, false}, {4320, 8192, {}, true},
        {16384, 2160, {}, true},  {16384, 2161, {}, false},
        {8192, 4321, {"-max_pixels", "35397632"}, true},    {8192, 4321, {"-max_pixels", "35397631"}, false},
    };
    for (const Case &c : cases) {
        const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
        SCOPED_TRACE(size + (c.options.empty() ? "" : " -max_pixels " + c.options[1]));
        const std::string path = dir + "/" + size + ".y4m";
        const Bytes bytes = y4m_claiming(c.w, c.h);
        write_file(path, std::string(bytes.begin(), bytes.end()));
        log.clear();
        const int ret = open(c.options, path);
        EXPECT_EQ(ret >= 0, c.opens) << log.all_text();
        EXPECT_EQ(log.has("claims a picture of " + size + ", more than a decoder may make"), !c.opens);
        if (ret >= 0) {
            const AVDictionary *opts = input_streams[0]->decoder_opts;
            const AVDictionaryEntry *pixels = av_dict_get(opts, "max_pixels", nullptr, 0);
            const AVDictionaryEntry *samples = av_dict_get(opts, "max_samples", nullptr, 0);
            ASSERT_TRUE(pixels && samples);
            EXPECT_STREQ(pixels->value, c.options.empty() ? "35389440" : c.options[1].c_str());
            EXPECT_STREQ(samples->value, "4194304");
        }
        close_all();
    }
}

TEST(AudioLimits, RefusesSoundNoRecordingHasOnEachSideOfEachLimit)
{
    struct Case {
        int rate, channels, block_align, max_channels;
        const char *problem; // part of the text; nullptr: accepted
    };
    const Case cases[] = {
        {999, 1, 2, 8, "sample rate of 999 Hz is below 1000 Hz"},
        {1000, 1, 2, 8, nullptr},
        {1, 2, 4, 8, "sample rate of 1 Hz"},
        {0, 1, 2, 8, nullptr}, // unknown: the reader decides
        {8000, 1, 16384, 8, nullptr},
        {8000, 1, 16385, 8, "blocks of 16385 bytes for 1 channel(s)"},
        {8000, 2, 32769, 8, nullptr}, // 16384 a channel, rounded down
        {8000, 2, 32770, 8, "blocks of 32770 bytes for 2 channel(s)"},
        {8000, 0, 65535, 8, nullptr}, // no channel count: no block rule
        {8000, 8, 16, 8, nullptr},
        {8000, 9, 18, 8, "The sound has 9 channels, more than its encoder takes (8)"},
        {8000, 9, 18, 0, nullptr}, // the encoder names no limit
        {8000, 2, 4, 1, "The sound has 2 channels, more than its encoder takes (1)"},
    };
    for (const Case &c : cases) {
        const std::string problem = audio_parameters_problem(c.rate, c.channels, c.block_align, c.max_channels);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "") << c.rate << " Hz, " << c.channels << " channels, blocks of " << c.block_align;
    }
    EXPECT_EQ(encoder_max_channels(avcodec_find_encoder_by_name("aac")), 8);
    EXPECT_EQ(encoder_max_channels(avcodec_find_encoder_by_name("ac3")), 6);
    EXPECT_EQ(encoder_max_channels(avcodec_find_encoder_by_name("mp2")), 2);
}

} // namespace

// ---- the folder guard -------------------------------------------------------------------

struct ReachCase {
    const char *url; // "@" stands for the scratch folder
    NestedReach reach;
};

TEST(InputGuard, ANestedFileMustLieInTheRecordingsFolderTree)
{
    const std::string dir = fs::canonical(scratch_dir("input_guard_reach")).string();
    for (const char *folder : {"/rec/sub", "/rec-old", "/re"})
        fs::create_directories(dir + folder);
    for (const char *file : {"/rec/list.m3u8", "/rec/a.ts", "/rec/sub/a.ts", "/rec-old/a.ts", "/re/a.ts"})
        write_file(dir + file, "x");
    fs::create_symlink(dir + "/rec-old/a.ts", dir + "/rec/out.ts");
    fs::create_symlink(dir + "/rec/a.ts", dir + "/rec-old/in.ts");
    const std::string input = dir + "/rec/list.m3u8";
    const ReachCase cases[] = {
        {"@/rec/a.ts", NestedReach::Inside},
        {"@/rec/sub/a.ts", NestedReach::Inside},
        {"@/rec/sub/../a.ts", NestedReach::Inside},
        {"file:@/rec/a.ts", NestedReach::Inside},
        {"@/rec/list.m3u8", NestedReach::Inside},
        {"@/rec-old/in.ts", NestedReach::Inside}, // a link from outside to inside: the file counts
        // A neighbouring folder whose name extends, or is the start of, the recording's.
        {"@/rec-old/a.ts", NestedReach::Outside},
        {"@/rec/../rec-old/a.ts", NestedReach::Outside},
        {"@/re/a.ts", NestedReach::Outside},
        {"@/rec/out.ts", NestedReach::Outside},
        {"@/rec", NestedReach::Outside},
        {"@/rec/sub", NestedReach::Inside},
        // Files that do not exist: missing when their folder is inside.
        {"@/rec/gone.ts", NestedReach::Missing},
        {"@/rec/sub/gone.ts", NestedReach::Missing},
        {"@/rec-old/gone.ts", NestedReach::Outside},
        {"@/re/gone.ts", NestedReach::Outside},
        {"@/rec/nowhere/gone.ts", NestedReach::Outside},
        // Other protocols never reach a file.
        {"http://127.0.0.1/@/rec/a.ts", NestedReach::Outside},
        {"data:,x", NestedReach::Outside},
    };
    for (const ReachCase &c : cases) {
        std::string url = c.url;
        if (url.find('@') != std::string::npos)
            url.replace(url.find('@'), 1, dir);
        std::string target;
        EXPECT_EQ(reach_of_nested_url(input.c_str(), url.c_str(), &target), c.reach) << url;
        if (c.reach == NestedReach::Inside && url != input) {
            EXPECT_EQ(target, fs::canonical(url.substr(url.find('/'))).string()) << url;
        }
    }
}

TEST(InputGuard, ARecordingInTheRootFolderReachesEveryLocalFileBelowIt)
{
    const std::string dir = fs::canonical(scratch_dir("input_guard_root")).string();
    write_file(dir + "/a.ts", "x");
    std::string target;
    EXPECT_EQ(reach_of_nested_url("/list.m3u8", (dir + "/a.ts").c_str(), &target), NestedReach::Inside);
    EXPECT_EQ(target, dir + "/a.ts");
    EXPECT_EQ(reach_of_nested_url("/list.m3u8", (dir + "/gone.ts").c_str(), &target), NestedReach::Missing);
    EXPECT_EQ(reach_of_nested_url("/list.m3u8", "http://127.0.0.1/a.ts", &target), NestedReach::Outside);
}

TEST(InputGuard, AFileUrlNamesThePathTheFileProtocolOpens)
{
    // "file://x/y" is opened as "//x/y": the absolute path, whatever lies under
    // "x/y" relative to the working folder.
    const std::string dir = fs::canonical(scratch_dir("input_guard_file_url")).string();
    fs::create_directories(dir + "/rec" + dir + "/secret");
    fs::create_directories(dir + "/secret");
    write_file(dir + "/rec/list.m3u8", "x");
    write_file(dir + "/secret/private.ts", "x");
    write_file(dir + "/rec" + dir + "/secret/private.ts", "decoy");
    const std::string before = fs::current_path();
    fs::current_path(dir + "/rec");
    std::string target;
    const std::string url = "file:/" + dir + "/secret/private.ts";
    EXPECT_EQ(reach_of_nested_url("list.m3u8", url.c_str(), &target), NestedReach::Outside);
    const std::string inside = "file:" + dir.substr(1) + "/secret/private.ts"; // relative: the decoy
    EXPECT_EQ(reach_of_nested_url("list.m3u8", inside.c_str(), &target), NestedReach::Inside);
    EXPECT_EQ(target, dir + "/rec" + dir + "/secret/private.ts");
    fs::current_path(before);
}
