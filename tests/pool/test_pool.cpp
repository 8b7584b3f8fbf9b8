// Tests of the decoder frame-buffer pool: real decoders (threaded and not) take
// every picture from it without changing what they decode, buffers are reused and
// all come back, geometry changes replace stale buffers, layout meets the
// library's alignment, and broken invariants abort with the panic message.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_probe.h"
#include "pool.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <thread>

using namespace fixtures;

namespace {

// FNV-1a over the visible bytes of every plane, so pictures compare equal
// whatever their line sizes.
uint64_t picture_checksum(const AVFrame *f)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    uint64_t h = 1469598103934665603ull;
    for (int p = 0; p < 4 && f->data[p]; p++) {
        const bool chroma = p == 1 || p == 2;
        const int rows = chroma ? AV_CEIL_RSHIFT(f->height, desc->log2_chroma_h) : f->height;
        const int bytes = av_image_get_linesize(AVPixelFormat(f->format), f->width, p);
        for (int y = 0; y < rows; y++)
            for (int x = 0; x < bytes; x++) {
                h ^= f->data[p][y * f->linesize[p] + x];
                h *= 1099511628211ull;
            }
    }
    return h;
}

// ---- decoding real fixtures through the pool ---------------------------------------

struct DecodeCase {
    const char *name;
    FixtureKind kind;
    int threads;
    int thread_type;
    int lowres;
    int pictures;
};

void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }

struct PoolRun {
    std::vector<uint64_t> checksums;
    std::vector<int64_t> allocations; // pool allocations when each picture came out
    int from_pool = 0;
    int opaque_is_buffer = 0;
    FramePoolStats end{};       // after the decoder closed and every picture was released
};

void configure_decoder(AVCodecContext *c, const DecodeCase &dc)
{
    c->thread_count = dc.threads;
    c->thread_type = dc.thread_type;
    c->lowres = dc.lowres;
}

std::vector<uint64_t> decode_without_pool(const DecodeCase &dc)
{
    std::vector<uint64_t> sums;
    DecodeRequest req;
    req.configure = [&](AVCodecContext *c) { configure_decoder(c, dc); };
    decode_stream(fixture_path(dc.kind), req, [&](AVFrame *f) { sums.push_back(picture_checksum(f)); });
    return sums;
}

// Decodes with the pool, holding the last `in_flight` pictures like a filtergraph
// that has not let go of them yet.
PoolRun decode_with_pool(const DecodeCase &dc, size_t in_flight = 3)
{
    PoolRun run;
    FramePool *pool = frame_pool_create();
    std::deque<AVFrame *> held;
    DecodeRequest req;
    req.configure = [&](AVCodecContext *c) {
        configure_decoder(c, dc);
        c->opaque = pool;
        c->get_buffer2 = pool_get_buffer;
    };
    decode_stream(fixture_path(dc.kind), req, [&](AVFrame *f) {
        PooledFrameBuffer *buf = pool_frame_buffer(pool, f);
        run.from_pool += buf != nullptr;
        run.opaque_is_buffer += buf && f->opaque == buf;
        run.checksums.push_back(picture_checksum(f));
        run.allocations.push_back(frame_pool_stats(pool).allocations);
        held.push_back(av_frame_clone(f));
        if (held.size() > in_flight) {
            av_frame_free(&held.front());
            held.pop_front();
        }
    });
    for (AVFrame *f : held)
        av_frame_free(&f);
    run.end = frame_pool_stats(pool);
    free_frame_pool(pool);
    return run;
}

class PoolDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PoolDecoding, ServesEveryPictureReusesBuffersAndGetsThemAllBack)
{
    const DecodeCase &dc = GetParam();
    const int64_t alive_before = frame_pool_buffers_alive();
    PoolRun run = decode_with_pool(dc);
    const int n = int(run.checksums.size());
    ASSERT_EQ(n, dc.pictures);

    EXPECT_EQ(run.from_pool, n) << "every decoded picture comes from the pool";
    EXPECT_EQ(run.opaque_is_buffer, n) << "the frame's opaque names its pooled buffer";
    EXPECT_EQ(run.checksums, decode_without_pool(dc)) << "the pool does not change what is decoded";

    // Once the decoder has as many pictures as it keeps in flight, it only reuses.
    EXPECT_EQ(run.allocations[n / 2], run.allocations.back());
    EXPECT_LE(run.end.allocations, 16);

    EXPECT_EQ(run.end.free, run.end.live) << "every buffer returned to the pool";
    EXPECT_EQ(run.end.live, run.end.allocations);
    EXPECT_EQ(frame_pool_buffers_alive(), alive_before) << "freeing the pool frees every buffer";
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PoolDecoding,
    ::testing::Values(DecodeCase{"h264_ts_1_thread", FixtureKind::H264AacTs, 1, FF_THREAD_FRAME, 0, 50},
                      DecodeCase{"h264_ts_2_frame_threads", FixtureKind::H264AacTs, 2, FF_THREAD_FRAME, 0, 50},
                      DecodeCase{"h264_ts_2_slice_threads", FixtureKind::H264AacTs, 2, FF_THREAD_SLICE, 0, 50},
                      DecodeCase{"h264_bframes_2_frame_threads", FixtureKind::H264Raw, 2, FF_THREAD_FRAME, 0, 50},
                      DecodeCase{"mjpeg_1_thread", FixtureKind::MjpegMulawAvi, 1, FF_THREAD_FRAME, 0, 20},
                      DecodeCase{"mjpeg_2_threads", FixtureKind::MjpegMulawAvi, 2, FF_THREAD_FRAME, 0, 20},
                      DecodeCase{"mjpeg_lowres", FixtureKind::MjpegMulawAvi, 1, FF_THREAD_FRAME, 1, 20},
                      DecodeCase{"mpeg4_2_frame_threads", FixtureKind::Mpeg4AlawMkv, 2, FF_THREAD_FRAME, 0, 30},
                      DecodeCase{"mpeg4_lowres", FixtureKind::Mpeg4AlawMkv, 1, FF_THREAD_FRAME, 1, 30}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(PoolDecodingSizeChange, ReplacesStaleBuffersAndDecodesBothSizesUnchanged)
{
    const DecodeCase dc{"size_change", FixtureKind::H264SizeChangeRaw, 2, FF_THREAD_FRAME, 0, 50};
    PoolRun run = decode_with_pool(dc);
    ASSERT_EQ(run.checksums.size(), 50u);
    EXPECT_EQ(run.from_pool, 50);
    EXPECT_EQ(run.checksums, decode_without_pool(dc));
    // Buffers of the first size were freed as the second size took their place,
    // and the second size settles into reuse as well.
    EXPECT_LT(run.end.live, run.end.allocations);
    EXPECT_EQ(run.allocations[40], run.allocations.back());
    EXPECT_EQ(run.end.free, run.end.live);
}

// ---- direct calls, as a decoder makes them ------------------------------------------

// An opened decoder context with the pool installed.
class PoolClient {
public:
    explicit PoolClient(AVCodecID id = AV_CODEC_ID_H264)
    {
        ctx_ = avcodec_alloc_context3(avcodec_find_decoder(id));
        EXPECT_EQ(avcodec_open2(ctx_, nullptr, nullptr), 0);
        pool_ = frame_pool_create();
        ctx_->opaque = pool_;
        ctx_->get_buffer2 = pool_get_buffer;
    }
    ~PoolClient()
    {
        avcodec_free_context(&ctx_);
        free_frame_pool(pool_);
    }
    // Asks for a picture as a decoder would; the result is kept in *ret.
    AVFrame *get(int w, int h, AVPixelFormat fmt, int *ret = nullptr)
    {
        AVFrame *f = av_frame_alloc();
        f->width = w;
        f->height = h;
        f->format = fmt;
        ctx_->pix_fmt = fmt;
        int r = pool_get_buffer(ctx_, f, AV_GET_BUFFER_FLAG_REF);
        if (ret)
            *ret = r;
        else
            EXPECT_EQ(r, 0);
        return f;
    }
    void release(AVFrame *f)
    {
        pool_release_buffer(ctx_, f);
        av_frame_free(&f);
    }
    FramePoolStats stats() { return frame_pool_stats(pool_); }
    FramePool *pool() { return pool_; }
    AVCodecContext *ctx() { return ctx_; }

private:
    AVCodecContext *ctx_;
    FramePool *pool_;
};

struct Geometry {
    int w, h;
    AVPixelFormat fmt;
};

struct GeometryCase {
    const char *name;
    Geometry first, second;
    bool replaced;
};

void PrintTo(const GeometryCase &c, std::ostream *os) { *os << c.name; }

class PoolGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(PoolGeometry, NextGetReplacesABufferOfAnotherGeometryAndReusesAMatchingOne)
{
    const GeometryCase &gc = GetParam();
    PoolClient client;
    AVFrame *a = client.get(gc.first.w, gc.first.h, gc.first.fmt);
    PooledFrameBuffer *first = pool_frame_buffer(client.pool(), a);
    client.release(a);

    AVFrame *b = client.get(gc.second.w, gc.second.h, gc.second.fmt);
    PooledFrameBuffer *second = pool_frame_buffer(client.pool(), b);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->w, gc.second.w);
    EXPECT_EQ(second->h, gc.second.h);
    EXPECT_EQ(second->pix_fmt, gc.second.fmt);
    EXPECT_EQ(client.stats().allocations, gc.replaced ? 2 : 1);
    EXPECT_EQ(client.stats().live, 1) << "the stale buffer is freed, not kept";
    if (!gc.replaced) {
        EXPECT_EQ(second, first);
    }
    client.release(b);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, PoolGeometry,
    ::testing::Values(GeometryCase{"same", {320, 240, AV_PIX_FMT_YUV420P}, {320, 240, AV_PIX_FMT_YUV420P}, false},
                      GeometryCase{"width", {320, 240, AV_PIX_FMT_YUV420P}, {352, 240, AV_PIX_FMT_YUV420P}, true},
                      GeometryCase{"height", {320, 240, AV_PIX_FMT_YUV420P}, {320, 288, AV_PIX_FMT_YUV420P}, true},
                      GeometryCase{"smaller", {320, 240, AV_PIX_FMT_YUV420P}, {160, 120, AV_PIX_FMT_YUV420P}, true},
                      GeometryCase{"format", {320, 240, AV_PIX_FMT_YUV420P}, {320, 240, AV_PIX_FMT_YUV422P}, true}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(PoolGeometryChange, StaleBuffersAreReplacedOneByOneAsTheyAreTaken)
{
    PoolClient client;
    std::vector<AVFrame *> frames;
    for (int i = 0; i < 3; i++)
        frames.push_back(client.get(320, 240, AV_PIX_FMT_YUV420P));
    for (AVFrame *f : frames)
        client.release(f);
    frames.clear();

    for (int i = 1; i <= 3; i++) {
        frames.push_back(client.get(160, 120, AV_PIX_FMT_YUV420P));
        EXPECT_EQ(client.stats().allocations, 3 + i);
        EXPECT_EQ(client.stats().live, 3) << "one stale buffer gives way per get";
    }
    for (AVFrame *f : frames)
        client.release(f);
    EXPECT_EQ(client.stats().free, 3);
}

struct LayoutCase {
    const char *name;
    AVCodecID codec;
    Geometry g;
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.name; }

class PoolLayout : public ::testing::TestWithParam<LayoutCase> {};

// Planes meet the alignment the decoder asks for and, with the rows and bytes a
// decoder may touch beyond the picture, stay inside the picture's buffer.
TEST_P(PoolLayout, PlanesAreAlignedPaddedAndInsideTheBuffer)
{
    const LayoutCase &lc = GetParam();
    PoolClient client(lc.codec);
    AVFrame *f = client.get(lc.g.w, lc.g.h, lc.g.fmt);
    ASSERT_NE(f->buf[0], nullptr);
    EXPECT_EQ(f->extended_data, f->data);

    int w = lc.g.w, h = lc.g.h, align[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(client.ctx(), &w, &h, align);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(lc.g.fmt);
    const uint8_t *begin = f->buf[0]->data, *end = begin + f->buf[0]->size;
    const uint8_t *previous_end = begin;
    for (int p = 0; p < 4 && f->data[p]; p++) {
        SCOPED_TRACE("plane " + std::to_string(p));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(f->data[p]) % 64, 0u);
        EXPECT_EQ(f->linesize[p] % align[p], 0);
        EXPECT_GE(f->linesize[p], av_image_get_linesize(lc.g.fmt, w, p));
        const int rows = (p == 1 || p == 2) ? AV_CEIL_RSHIFT(h, desc->log2_chroma_h) : h;
        const uint8_t *plane_end = f->data[p] + size_t(f->linesize[p]) * rows + 16;
        EXPECT_GE(f->data[p], previous_end) << "planes do not overlap";
        EXPECT_LE(plane_end, end);
        previous_end = plane_end;
    }
    EXPECT_GE(end - previous_end, AV_INPUT_BUFFER_PADDING_SIZE);
    for (const uint8_t *p = begin; p < end; p++)
        if (*p != 128)
            FAIL() << "a new buffer is mid-grey throughout, byte " << (p - begin);
    client.release(f);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PoolLayout,
    ::testing::Values(LayoutCase{"h264_cif", AV_CODEC_ID_H264, {352, 288, AV_PIX_FMT_YUV420P}},
                      LayoutCase{"h264_odd", AV_CODEC_ID_H264, {321, 241, AV_PIX_FMT_YUV420P}},
                      LayoutCase{"h264_1080p", AV_CODEC_ID_H264, {1920, 1080, AV_PIX_FMT_YUV420P}},
                      LayoutCase{"h264_422", AV_CODEC_ID_H264, {176, 144, AV_PIX_FMT_YUV422P}},
                      LayoutCase{"mjpeg_444", AV_CODEC_ID_MJPEG, {100, 75, AV_PIX_FMT_YUVJ444P}},
                      LayoutCase{"mjpeg_gray", AV_CODEC_ID_MJPEG, {33, 17, AV_PIX_FMT_GRAY8}},
                      LayoutCase{"mpeg4_tiny", AV_CODEC_ID_MPEG4, {2, 2, AV_PIX_FMT_YUV420P}}),
    [](const auto &p) { return std::string(p.param.name); });

// ---- release -------------------------------------------------------------------------

TEST(PoolRelease, APictureReturnsWhenItsLastHolderLetsGo)
{
    PoolClient client;
    AVFrame *decoded = client.get(320, 240, AV_PIX_FMT_YUV420P);
    AVFrame *in_filter = av_frame_clone(decoded);
    pool_release_buffer(client.ctx(), decoded);
    EXPECT_EQ(decoded->buf[0], nullptr);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(decoded->data[i], nullptr) << "the released frame no longer points at the picture";
    EXPECT_EQ(client.stats().free, 0) << "still held by the filter";
    av_frame_free(&in_filter);
    EXPECT_EQ(client.stats().free, 1);
    av_frame_free(&decoded);
}

TEST(PoolRelease, AFrameFromTheLibrarysAllocatorIsLeftToTheLibrary)
{
    PoolClient client;
    AVFrame *f = av_frame_alloc();
    f->width = 320;
    f->height = 240;
    f->format = client.ctx()->pix_fmt = AV_PIX_FMT_YUV420P;
    ASSERT_EQ(avcodec_default_get_buffer2(client.ctx(), f, 0), 0);
    EXPECT_EQ(pool_frame_buffer(client.pool(), f), nullptr);
    pool_release_buffer(client.ctx(), f);
    EXPECT_EQ(f->buf[0], nullptr);
    FramePoolStats s = client.stats();
    EXPECT_EQ(s.allocations, 0);
    EXPECT_EQ(s.free, 0);
    av_frame_free(&f);
}

TEST(PoolGet, NonVideoRequestsGetTheLibrarysBuffers)
{
    AVCodecContext *ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE));
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->sample_rate = 8000;
    ASSERT_EQ(avcodec_open2(ctx, nullptr, nullptr), 0);
    FramePool *pool = frame_pool_create();
    ctx->opaque = pool;
    AVFrame *f = av_frame_alloc();
    f->format = AV_SAMPLE_FMT_S16;
    f->nb_samples = 160;
    av_channel_layout_default(&f->ch_layout, 1);
    ASSERT_EQ(pool_get_buffer(ctx, f, 0), 0);
    EXPECT_NE(f->buf[0], nullptr);
    EXPECT_EQ(pool_frame_buffer(pool, f), nullptr);
    EXPECT_EQ(frame_pool_stats(pool).allocations, 0);
    av_frame_free(&f);
    avcodec_free_context(&ctx);
    free_frame_pool(pool);
}

struct InvalidCase {
    const char *name;
    Geometry g;
};

void PrintTo(const InvalidCase &c, std::ostream *os) { *os << c.name; }

class PoolInvalidPicture : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(PoolInvalidPicture, IsRefusedWithTheMessageAndNoAllocation)
{
    const InvalidCase &ic = GetParam();
    PoolClient client;
    LogCapture log;
    int ret = 0;
    AVFrame *f = client.get(ic.g.w, ic.g.h, ic.g.fmt, &ret);
    EXPECT_EQ(ret, -1);
    EXPECT_TRUE(log.has("codec_get_buffer: image parameters invalid\n", AV_LOG_ERROR));
    EXPECT_EQ(f->buf[0], nullptr);
    EXPECT_EQ(client.stats().allocations, 0);
    av_frame_free(&f);
}

INSTANTIATE_TEST_SUITE_P(Parameters, PoolInvalidPicture,
                         ::testing::Values(InvalidCase{"zero_size", {0, 0, AV_PIX_FMT_YUV420P}},
                                           InvalidCase{"negative_width", {-16, 240, AV_PIX_FMT_YUV420P}},
                                           InvalidCase{"absurd_size", {100000, 100000, AV_PIX_FMT_YUV420P}},
                                           InvalidCase{"no_format", {320, 240, AV_PIX_FMT_NONE}}),
                         [](const auto &p) { return std::string(p.param.name); });

// ---- freeing --------------------------------------------------------------------------

TEST(PoolFree, PicturesInUseOutliveThePoolAndAreFreedWhenReleased)
{
    const int64_t alive_before = frame_pool_buffers_alive();
    AVCodecContext *ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    ASSERT_EQ(avcodec_open2(ctx, nullptr, nullptr), 0);
    FramePool *pool = frame_pool_create();
    ctx->opaque = pool;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    AVFrame *pictures[3];
    for (AVFrame *&f : pictures) {
        f = av_frame_alloc();
        f->width = 64;
        f->height = 48;
        f->format = AV_PIX_FMT_YUV420P;
        ASSERT_EQ(pool_get_buffer(ctx, f, 0), 0);
    }
    pool_release_buffer(ctx, pictures[2]); // one idle buffer in the pool
    memset(pictures[0]->data[0], 7, 64);
    memset(pictures[1]->data[0], 9, 64);

    free_frame_pool(pool);
    EXPECT_EQ(frame_pool_buffers_alive(), alive_before + 2) << "the idle buffer is freed, those in use stay";
    EXPECT_EQ(pictures[0]->data[0][63], 7);
    EXPECT_EQ(pictures[1]->data[0][63], 9);
    av_frame_unref(pictures[0]);
    EXPECT_EQ(frame_pool_buffers_alive(), alive_before + 1);
    av_frame_unref(pictures[1]); // the last one takes the pool with it
    EXPECT_EQ(frame_pool_buffers_alive(), alive_before);
    for (AVFrame *&f : pictures)
        av_frame_free(&f);
    avcodec_free_context(&ctx);
}

// ---- threads -----------------------------------------------------------------------

// Decoder threads take pictures while others return them, as with frame threading.
TEST(PoolThreads, ConcurrentTakersAndReleasersKeepThePoolConsistent)
{
    PoolClient owner;
    constexpr int kTakers = 3, kRounds = 2000;
    constexpr size_t kInFlight = 4;
    std::mutex handoff_lock;
    std::deque<AVFrame *> handoff;
    std::atomic<int> takers_done{0};

    auto taker = [&] {
        AVCodecContext *ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        avcodec_open2(ctx, nullptr, nullptr);
        ctx->opaque = owner.pool();
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        for (int i = 0; i < kRounds; i++) {
            AVFrame *f = av_frame_alloc();
            f->width = 64;
            f->height = 48;
            f->format = AV_PIX_FMT_YUV420P;
            EXPECT_EQ(pool_get_buffer(ctx, f, 0), 0);
            if (i % 2) {
                av_frame_free(&f); // released on this thread
            } else {
                // Released on another thread; a short queue, like a decoder's
                // few pictures in flight.
                for (;;) {
                    std::lock_guard<std::mutex> guard(handoff_lock);
                    if (handoff.size() < kInFlight) {
                        handoff.push_back(f);
                        break;
                    }
                }
            }
        }
        avcodec_free_context(&ctx);
        takers_done++;
    };
    auto releaser = [&] {
        for (;;) {
            AVFrame *f = nullptr;
            {
                std::lock_guard<std::mutex> guard(handoff_lock);
                if (!handoff.empty()) {
                    f = handoff.front();
                    handoff.pop_front();
                } else if (takers_done == kTakers) {
                    return;
                }
            }
            av_frame_free(&f);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kTakers; i++)
        threads.emplace_back(taker);
    threads.emplace_back(releaser);
    for (std::thread &t : threads)
        t.join();

    FramePoolStats s = owner.stats();
    EXPECT_EQ(s.free, s.live);
    EXPECT_EQ(s.live, s.allocations);
    EXPECT_LE(s.allocations, int64_t(kTakers * 2 + kInFlight)) << "buffers were reused across threads";
}

// ---- broken invariants --------------------------------------------------------------

TEST(PoolInvariantDeathTest, ReleasingAPictureAlreadyBackInThePoolAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            PoolClient client;
            AVFrame *f = client.get(64, 48, AV_PIX_FMT_YUV420P);
            PooledFrameBuffer *buf = pool_frame_buffer(client.pool(), f);
            client.release(f);
            filter_release_pooled(buf, nullptr);
        },
        "Assertion buf->refcount > 0 failed at ffmpeg/cmdutils:[0-9]+");
}

TEST(PoolInvariantDeathTest, TakingAFreeBufferThatIsStillInUseAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            PoolClient client;
            AVFrame *f = client.get(64, 48, AV_PIX_FMT_YUV420P);
            PooledFrameBuffer *buf = pool_frame_buffer(client.pool(), f);
            client.release(f);
            buf->refcount = 1; // as if handed back while a picture still used it
            client.get(64, 48, AV_PIX_FMT_YUV420P);
        },
        "Assertion !buf->refcount failed at ffmpeg/cmdutils:[0-9]+");
}

} // namespace
