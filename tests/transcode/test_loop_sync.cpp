// The loop's decisions on single frames and packets, on hand-made records: the
// frame-rate synchronisation (how often a filtered picture is encoded, counting
// duplicates and drops, per sync method), the timestamp order enforced before
// muxing, frame limits at the muxer, and the recording-time check.
#include "engine_harness.h"

#include "transcode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <tuple>

namespace {

template <typename T>
T *append(T **&table, int &count)
{
    GROW_TABLE(table, count);
    return table[count - 1] = (T *)av_mallocz(sizeof(T));
}

// One input stream feeding one output stream of a muxer of the given name; the
// encoder context only carries its time base.
class LoopRecords : public ::testing::Test {
protected:
    InStream *ist = nullptr;
    OutFile *of = nullptr;
    OutStream *ost = nullptr;

    void make(const char *muxer, AVMediaType type = AVMEDIA_TYPE_VIDEO, AVRational tb = {1, 25})
    {
        InFile *in = append(input_files, nb_input_files);
        in->ctx = avformat_alloc_context();
        in->stream_count = 1;
        ist = append(input_streams, nb_input_streams);
        ist->st = avformat_new_stream(in->ctx, nullptr);
        ist->st->time_base = AVRational{1, 90000};
        ist->st->start_time = 0;
        ist->st->codecpar->codec_type = type;
        ist->saw_first_ts = 1;

        of = append(output_files, nb_output_files);
        ASSERT_GE(avformat_alloc_output_context2(&of->ctx, nullptr, muxer, nullptr), 0);
        of->recording_time = NO_DURATION_LIMIT;
        of->size_limit = NO_SIZE_LIMIT;
        ost = append(output_streams, nb_output_streams);
        ost->st = avformat_new_stream(of->ctx, nullptr);
        ost->st->codecpar->codec_type = type;
        ost->enc_ctx = avcodec_alloc_context3(nullptr);
        ost->enc_ctx->codec_type = type;
        ost->enc_ctx->time_base = tb;
        ost->frame_rate = av_inv_q(tb);
        ost->max_frames = INT64_MAX;
        ost->last_mux_dts = ost->mux_end_us = AV_NOPTS_VALUE;
    }
    // What a muxer wants to know of the stream before its header is written.
    void describe_stream(void)
    {
        AVCodecParameters *par = ost->st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            par->codec_id = AV_CODEC_ID_PCM_S16LE;
            par->sample_rate = 8000;
            av_channel_layout_default(&par->ch_layout, 1);
        } else {
            par->codec_id = AV_CODEC_ID_RAWVIDEO;
            par->width = par->height = 16;
            par->format = AV_PIX_FMT_GRAY8;
        }
    }
    void TearDown() override
    {
        video_sync_method = VSYNC_AUTO;
        dts_error_threshold = 3600 * 30;
        engine_cleanup();
        reset_engine_state();
    }
};

// ---- frame-rate synchronisation --------------------------------------------------------

struct SyncCase {
    const char *behaviour;
    const char *muxer; // "crc": constant rate; "framecrc": variable; "null": no timestamps
    int method;        // the "vsync" option
    bool timed_source; // the source stream has a start time and was seen
    int64_t max_frames;
    std::vector<double> pts;   // filtered frames, in encoder time base
    std::vector<int> emitted;  // copies encoded of each
    int dups, drops;
    int64_t final_sync;        // next output timestamp after the last frame
};

const SyncCase sync_cases[] = {
    {"steady frames go out once each", "crc", VSYNC_AUTO, true, INT64_MAX, {0, 1, 2, 3}, {1, 1, 1, 1}, 0, 0, 4},
    {"two equal timestamps both go out", "crc", VSYNC_AUTO, true, INT64_MAX, {0, 0}, {1, 1}, 0, 0, 2},
    {"a frame two periods after the one before is duplicated once", "crc", VSYNC_AUTO, true, INT64_MAX,
     {0, 2}, {1, 2}, 1, 0, 3},
    {"a late first frame fills the time before it", "crc", VSYNC_AUTO, true, INT64_MAX, {3}, {4}, 3, 0, 4},
    {"one period behind still goes out", "crc", VSYNC_AUTO, true, INT64_MAX, {0, 1, 2, 2, 2},
     {1, 1, 1, 1, 1}, 0, 0, 5},
    {"more than 1.1 periods behind is dropped", "crc", VSYNC_AUTO, true, INT64_MAX, {0, 1, 2, 3, 1},
     {1, 1, 1, 1, 0}, 0, 1, 4},
    {"the frame limit caps duplicates", "crc", VSYNC_AUTO, true, 3, {0, 5}, {1, 2}, 1, 0, 3},
    {"a gap past the discontinuity threshold is kept, not filled with copies", "crc", VSYNC_AUTO, true,
     INT64_MAX, {0, 1, 1000, 1001}, {1, 1, 1, 1}, 0, 0, 1002},
    {"a first frame past the threshold starts at its own time", "crc", VSYNC_AUTO, true, INT64_MAX, {900},
     {1}, 0, 0, 901},
    {"a reached frame limit drops", "crc", VSYNC_AUTO, true, 1, {0, 1}, {1, 0}, 0, 1, 1},
    {"without the source's timing a frame's own length is not counted", "crc", VSYNC_AUTO, false,
     INT64_MAX, {0, 2, 5}, {1, 1, 3}, 2, 0, 5},
    {"variable rate moves the clock over a gap", "framecrc", VSYNC_AUTO, true, INT64_MAX, {0, 5}, {1, 1},
     0, 0, 6},
    {"variable rate drops a frame 0.6 periods early", "framecrc", VSYNC_AUTO, true, INT64_MAX,
     {0, 1, 0.4}, {1, 1, 0}, 0, 1, 2},
    {"without timestamps every frame keeps its own time", "null", VSYNC_AUTO, true, INT64_MAX,
     {3, 1, 1}, {1, 1, 1}, 0, 0, 2},
    {"the option overrides the muxer's choice", "framecrc", VSYNC_CFR, true, INT64_MAX, {0, 2}, {1, 2},
     1, 0, 3},
    {"drop keeps each frame's time like passthrough", "crc", VSYNC_DROP, true, INT64_MAX, {4, 9}, {1, 1},
     0, 0, 10},
};

TEST_F(LoopRecords, FrameRateSyncEmitsDuplicatesAndDropsAsTheMethodSays)
{
    for (const SyncCase &c : sync_cases) {
        SCOPED_TRACE(c.behaviour);
        make(c.muxer);
        video_sync_method = c.method;
        ist->saw_first_ts = c.timed_source;
        ost->max_frames = c.max_frames;
        nb_frames_dup = nb_frames_drop = 0;
        ASSERT_EQ(c.pts.size(), c.emitted.size());
        for (size_t i = 0; i < c.pts.size(); i++) {
            const int n = video_frames_to_emit(ost, c.pts[i]);
            EXPECT_EQ(n, c.emitted[i]) << "frame " << i;
            ost->sync_opts += n; // as encoding each copy does
            ost->frame_number += n;
        }
        EXPECT_EQ(nb_frames_dup, c.dups);
        EXPECT_EQ(nb_frames_drop, c.drops);
        EXPECT_EQ(ost->sync_opts, c.final_sync);
        TearDown();
    }
}

TEST_F(LoopRecords, FrameRateSyncMessages)
{
    make("crc");
    LogCapture log;
    EXPECT_EQ(video_frames_to_emit(ost, 0), 1);
    ost->sync_opts = 1;
    EXPECT_EQ(video_frames_to_emit(ost, 3), 3);
    EXPECT_TRUE(log.has("*** 2 dup!\n", AV_LOG_VERBOSE));
    ost->sync_opts = 10;
    EXPECT_EQ(video_frames_to_emit(ost, 5), 0);
    EXPECT_TRUE(log.has("*** drop!\n", AV_LOG_VERBOSE));

    // A gap the error threshold calls absurd is not filled at all.
    dts_error_threshold = 0.1f; // at most 3 copies
    ost->sync_opts = 0;
    nb_frames_dup = nb_frames_drop = 0;
    EXPECT_EQ(video_frames_to_emit(ost, 9), 0);
    EXPECT_TRUE(log.has("9 frame duplication too large, skipping\n", AV_LOG_ERROR));
    EXPECT_EQ(nb_frames_drop, 1);
    EXPECT_EQ(nb_frames_dup, 0);
}

TEST_F(LoopRecords, AFrameTheEncoderRefusesIsDroppedAndTheClockMovesOn)
{
    // pts of the frames, drops, next output timestamp
    const std::tuple<std::vector<int64_t>, int, int64_t> cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 12, 12}, // a steady stream
        {{0, 3}, 2, 4},                                   // the second was due three times
    };
    AVFrame *frame = av_frame_alloc();
    LogCapture log(AV_LOG_FATAL);
    for (const auto &[frames, drops, final_sync] : cases) {
        make("crc"); // its encoder is never opened: it refuses every frame
        nb_frames_dup = nb_frames_drop = 0;
        for (int64_t pts : frames) {
            frame->pts = pts;
            encode_video_frame(ost, frame);
        }
        EXPECT_EQ(nb_frames_dup, 0);
        EXPECT_EQ(nb_frames_drop, drops);
        EXPECT_EQ(ost->sync_opts, final_sync);
        EXPECT_EQ(ost->frame_number, 0);
        TearDown();
    }
    EXPECT_TRUE(log.has("Video encoding failed\n", AV_LOG_FATAL));
    av_frame_free(&frame);
}

// ---- decoded audio -------------------------------------------------------------------

TEST_F(LoopRecords, DecodedAudioSetsEveryClockOfItsStreamToTheFramesTime)
{
    make("crc", AVMEDIA_TYPE_AUDIO, AVRational{1, 8000});
    ist->st->time_base = AVRational{1, 8000};
    ist->dec = avcodec_find_decoder(AV_CODEC_ID_PCM_U8);
    ist->dec_ctx = avcodec_alloc_context3(ist->dec);
    ist->dec_ctx->sample_rate = 8000;
    av_channel_layout_default(&ist->dec_ctx->ch_layout, 1);
    ASSERT_GE(avcodec_open2(ist->dec_ctx, ist->dec, nullptr), 0);
    ist->decoding_needed = 1;
    ist->saw_first_ts = 0;
    ist->next_pts = ist->next_dts = AV_NOPTS_VALUE;
    LogCapture log(AV_LOG_ERROR); // the first frame's parameters are news
    AVPacket *pkt = av_packet_alloc();
    for (int64_t pts : {8000, 8800, 16000}) { // 0.1 s packets; the clocks stand at each one
        ASSERT_GE(av_new_packet(pkt, 800), 0);
        memset(pkt->data, 128, 800); // silence
        pkt->pts = pkt->dts = pts;
        EXPECT_GE(decode_input_packet(ist, pkt), 0);
        av_packet_unref(pkt);
        for (int64_t clock : {ist->pts, ist->next_pts, ist->dts, ist->next_dts})
            EXPECT_EQ(clock, pts * 125);
    }
    av_packet_free(&pkt);
}

// ---- before the muxer -------------------------------------------------------------------

struct ClipCase {
    const char *behaviour;
    const char *muxer; // "null" takes increasing dts, "framecrc" also equal ones
    AVMediaType type;
    int64_t last_dts;  // of the packet muxed before
    int64_t pts, dts;
    int64_t muxed_pts, muxed_dts;
    int level; // of the clipping message, 0 for none
};

const ClipCase clip_cases[] = {
    {"the first packet is taken as it is", "null", AVMEDIA_TYPE_VIDEO, AV_NOPTS_VALUE, 5, 5, 5, 5, 0},
    {"a later dts is taken as it is", "null", AVMEDIA_TYPE_VIDEO, 4, 5, 5, 5, 5, 0},
    {"a repeated dts 0 moves on too", "null", AVMEDIA_TYPE_VIDEO, 0, 0, 0, 1, 1, AV_LOG_WARNING},
    {"a pts above the new dts stays", "null", AVMEDIA_TYPE_VIDEO, 10, 12, 10, 12, 11, AV_LOG_WARNING},
    {"a pts below its dts is left alone", "null", AVMEDIA_TYPE_VIDEO, 10, 5, 9, 5, 11, AV_LOG_WARNING},
    {"audio a little behind is clipped quietly", "null", AVMEDIA_TYPE_AUDIO, 10, 9, 9, 11, 11, AV_LOG_DEBUG},
    {"audio far behind is clipped with a warning", "null", AVMEDIA_TYPE_AUDIO, 10, 5, 5, 11, 11,
     AV_LOG_WARNING},
    {"a muxer taking equal dts gets it", "framecrc", AVMEDIA_TYPE_VIDEO, 10, 10, 10, 10, 10, 0},
    {"a muxer taking equal dts is clipped to equal", "framecrc", AVMEDIA_TYPE_VIDEO, 10, 9, 9, 10, 10,
     AV_LOG_WARNING},
};

TEST_F(LoopRecords, TimestampsReachTheMuxerInOrder)
{
    const std::string dir = scratch_dir("loop_clip");
    for (const ClipCase &c : clip_cases) {
        SCOPED_TRACE(c.behaviour);
        make(c.muxer, c.type, AVRational{1, AV_TIME_BASE});
        ost->st->time_base = AV_TIME_BASE_Q;
        describe_stream();
        if (!(of->ctx->oformat->flags & AVFMT_NOFILE)) {
            ASSERT_GE(avio_open(&of->ctx->pb, (dir + "/out.txt").c_str(), AVIO_FLAG_WRITE), 0);
        }
        ASSERT_GE(avformat_write_header(of->ctx, nullptr), 0);
        ost->st->time_base = AV_TIME_BASE_Q;
        ost->last_mux_dts = c.last_dts;

        LogCapture log;
        AVPacket *pkt = av_packet_alloc();
        ASSERT_GE(av_new_packet(pkt, 16), 0);
        pkt->pts = c.pts;
        pkt->dts = c.dts;
        mux_packet(of, ost, pkt);
        av_packet_free(&pkt);
        EXPECT_EQ(ost->last_mux_dts, c.muxed_dts);
        EXPECT_EQ(ost->mux_end_us, c.muxed_pts);
        bool clipped = false;
        for (const LogLine &l : log.lines())
            if (l.text.find(" invalid, clipping\n") != std::string::npos) {
                clipped = true;
                EXPECT_EQ(l.level, c.level) << l.text;
            }
        EXPECT_EQ(clipped, c.level != 0) << log.all_text();
        av_write_trailer(of->ctx);
        TearDown();
    }
}

TEST_F(LoopRecords, FrameLimitDropsPacketsOfStreamsTheMuxerCounts)
{
    const std::pair<AVMediaType, bool> cases[] = {
        {AVMEDIA_TYPE_AUDIO, true},  // encoded audio: counted here
        {AVMEDIA_TYPE_VIDEO, false}, // copied video: counted here
        {AVMEDIA_TYPE_VIDEO, true},  // encoded video: counted where it is encoded
    };
    for (const auto &[type, encoded] : cases) {
        SCOPED_TRACE(std::string(av_get_media_type_string(type)) + (encoded ? " encoded" : " copied"));
        make("null", type, AV_TIME_BASE_Q);
        ost->st->time_base = AV_TIME_BASE_Q;
        describe_stream();
        ASSERT_GE(avformat_write_header(of->ctx, nullptr), 0);
        ost->encoding_needed = encoded;
        ost->max_frames = 2;
        for (int i = 0; i < 3; i++) {
            AVPacket *pkt = av_packet_alloc();
            ASSERT_GE(av_new_packet(pkt, 4), 0);
            pkt->pts = pkt->dts = i * 1000;
            mux_packet(of, ost, pkt);
            av_packet_free(&pkt);
        }
        const bool limited = !(type == AVMEDIA_TYPE_VIDEO && encoded);
        EXPECT_EQ(ost->frame_number, limited ? 2 : 0);
        EXPECT_EQ(ost->last_mux_dts, limited ? 1000 : 2000);
        TearDown();
    }
}

TEST_F(LoopRecords, RecordingTimeFinishesTheStreamAndWithShortestItsFile)
{
    const std::tuple<int64_t, int, bool, bool, bool> cases[] = {
        // sync pts (1/25), shortest, within, this finished, other finished
        {24, 0, true, false, false},
        {25, 0, false, true, false},
        {25, 1, false, true, true},
    };
    for (const auto &[sync, shortest, within, finished, other] : cases) {
        SCOPED_TRACE(std::to_string(sync) + (shortest ? " shortest" : ""));
        make("crc");
        OutStream *second = append(output_streams, nb_output_streams);
        avformat_new_stream(of->ctx, nullptr);
        of->recording_time = AV_TIME_BASE; // 1 s
        of->shortest = shortest;
        ost->sync_opts = sync;
        EXPECT_EQ(within_recording_time(ost), within);
        EXPECT_EQ(bool(ost->finished), finished);
        EXPECT_EQ(bool(second->finished), other);
        TearDown();
    }
}

} // namespace
