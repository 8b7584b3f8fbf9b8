// Decoder frame-buffer pool: pictures for get_buffer2 from a per-stream free list.
//
// Owns every PooledFrameBuffer and FramePool. Called by decoders (get_buffer2,
// on their own threads with frame threading), by the library when the last
// reference to a pooled picture goes (filter_release_pooled), and by the engine:
// set-up creates and installs a pool, the loop asks pool_frame_buffer(), clean-up
// calls free_frame_pool().
//
// Layout of a picture: the size the decoder asks for is enlarged with
// avcodec_align_dimensions2() and the line sizes are made multiples of the
// alignment it asks for; every plane starts on a 64-byte boundary and is
// followed by slack, and the block ends with the input padding. There is no
// border around the planes: decoders of this library generation emulate edges
// themselves and never touch memory outside that aligned area.
#include "pool.h"

#include <atomic>
#include <cstring>
#include <mutex>

#define POOL_ASSERT(cond)                                                                       \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            av_log(nullptr, AV_LOG_PANIC, "Assertion %s failed at %s:%d\n", #cond,               \
                   "ffmpeg/cmdutils", __LINE__);                                                \
            abort();                                                                            \
        }                                                                                       \
    } while (0)

struct FramePool {
    std::mutex lock; // decoder threads and the engine thread share the pool
    PooledFrameBuffer *free_list = nullptr;
    PooledFrameBuffer *live_list = nullptr; // every buffer, free or in use
    int free = 0;
    int live = 0;
    int64_t allocations = 0;
    bool closing = false; // freed while pictures were still in use
};

namespace {

// Widest vector unit the library's pixel routines use (AVX-512).
constexpr size_t kPlaneAlign = 64;
// Bytes after each plane that optimised routines may read past the last line.
constexpr size_t kPlaneSlack = 16 + kPlaneAlign;
// Picture parameters the library does not accept here.
constexpr int kInvalidPicture = -1;

std::atomic<int64_t> buffers_alive{0};
std::atomic<int64_t> buffers_allocated{0};

size_t align_up(size_t n, size_t a) { return (n + a - 1) / a * a; }

struct PictureLayout {
    int linesize[4];
    size_t offset[4];
    size_t plane_size[4];
    size_t size;
};

// Line sizes and plane offsets of one picture of frame's size and format.
int plan_layout(AVCodecContext *avctx, const AVFrame *frame, PictureLayout *lay)
{
    const AVPixelFormat fmt = AVPixelFormat(frame->format);
    int w = frame->width, h = frame->height;
    int linesize_align[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(avctx, &w, &h, linesize_align);

    // Widen the picture until every line size is a multiple of its alignment.
    // All planes grow together: some decoders rely on the planes' line sizes
    // keeping their ratio (linesize[0] == 2 * linesize[1] for 4:2:x).
    for (int tries = 0;; tries++) {
        int ret = av_image_fill_linesizes(lay->linesize, fmt, w);
        if (ret < 0)
            return ret;
        bool aligned = true;
        for (int i = 0; i < 4; i++)
            if (linesize_align[i] > 0 && lay->linesize[i] % linesize_align[i])
                aligned = false;
        if (aligned)
            break;
        if (tries == 16)
            return AVERROR(EINVAL);
        w += w & ~(w - 1);
    }

    ptrdiff_t linesizes[4];
    for (int i = 0; i < 4; i++)
        linesizes[i] = lay->linesize[i];
    int ret = av_image_fill_plane_sizes(lay->plane_size, fmt, h, linesizes);
    if (ret < 0)
        return ret;
    size_t end = 0;
    for (int i = 0; i < 4; i++) {
        lay->offset[i] = end;
        if (lay->plane_size[i])
            end += align_up(lay->plane_size[i] + kPlaneSlack, kPlaneAlign);
    }
    lay->size = end + AV_INPUT_BUFFER_PADDING_SIZE;
    return 0;
}

void destroy_buffer(FramePool *pool, PooledFrameBuffer *buf)
{
    for (PooledFrameBuffer **p = &pool->live_list; *p; p = &(*p)->next_live)
        if (*p == buf) {
            *p = buf->next_live;
            break;
        }
    pool->live--;
    buffers_alive--;
    av_free(buf->block);
    av_free(buf);
}

// A new buffer for frame's geometry, filled with mid-grey so a picture a
// damaged stream leaves partly undecoded shows grey, never stale memory.
int alloc_buffer(FramePool *pool, AVCodecContext *avctx, const AVFrame *frame, PooledFrameBuffer **out)
{
    PictureLayout lay;
    int ret = plan_layout(avctx, frame, &lay);
    PooledFrameBuffer *buf = ret < 0 ? nullptr : static_cast<PooledFrameBuffer *>(av_mallocz(sizeof(*buf)));
    if (buf)
        buf->block = static_cast<uint8_t *>(av_malloc(lay.size + kPlaneAlign - 1));
    if (!buf || !buf->block) {
        if (buf)
            av_free(buf);
        av_log(avctx, AV_LOG_ERROR, "alloc_buffer: av_image_alloc() failed\n");
        return ret < 0 ? ret : AVERROR(ENOMEM);
    }
    memset(buf->block, 128, lay.size + kPlaneAlign - 1);
    uint8_t *start = buf->block + (kPlaneAlign - reinterpret_cast<uintptr_t>(buf->block) % kPlaneAlign) % kPlaneAlign;
    for (int i = 0; i < 4; i++) {
        buf->base[i] = buf->data[i] = lay.plane_size[i] ? start + lay.offset[i] : nullptr;
        buf->linesize[i] = lay.linesize[i];
    }
    buf->size = lay.size;
    buf->w = frame->width;
    buf->h = frame->height;
    buf->pix_fmt = frame->format;
    buf->pool = pool;
    buf->next_live = pool->live_list;
    pool->live_list = buf;
    pool->live++;
    pool->allocations++;
    buffers_allocated++;
    buffers_alive++;
    *out = buf;
    return 0;
}

void push_free(FramePool *pool, PooledFrameBuffer *buf)
{
    buf->next = pool->free_list;
    pool->free_list = buf;
    pool->free++;
}

PooledFrameBuffer *pop_free(FramePool *pool)
{
    PooledFrameBuffer *buf = pool->free_list;
    pool->free_list = buf->next;
    buf->next = nullptr;
    pool->free--;
    return buf;
}

// Takes the first free buffer (allocating one into an empty pool) and marks it
// in use; a buffer of another geometry is replaced by a new one.
int take_buffer(FramePool *pool, AVCodecContext *avctx, const AVFrame *frame, PooledFrameBuffer **out)
{
    PooledFrameBuffer *buf;
    int ret;
    if (!pool->free_list) {
        if ((ret = alloc_buffer(pool, avctx, frame, &buf)) < 0)
            return ret;
        push_free(pool, buf);
    }
    buf = pop_free(pool);
    if (buf->w != frame->width || buf->h != frame->height || buf->pix_fmt != frame->format) {
        destroy_buffer(pool, buf);
        if ((ret = alloc_buffer(pool, avctx, frame, &buf)) < 0)
            return ret;
    }
    POOL_ASSERT(!buf->refcount);
    buf->refcount = 1;
    *out = buf;
    return 0;
}

void drop_reference(PooledFrameBuffer *buf)
{
    FramePool *pool = buf->pool;
    bool pool_done = false;
    {
        std::lock_guard<std::mutex> guard(pool->lock);
        POOL_ASSERT(buf->refcount > 0);
        if (--buf->refcount)
            return;
        if (!pool->closing) {
            push_free(pool, buf);
            return;
        }
        destroy_buffer(pool, buf);
        pool_done = pool->live == 0;
    }
    if (pool_done)
        delete pool;
}

// Whether the pool may serve this request; the rest goes to the library.
bool pool_serves(const AVCodecContext *avctx, const AVFrame *frame)
{
    if (avctx->codec_type != AVMEDIA_TYPE_VIDEO || !avctx->codec ||
        !(avctx->codec->capabilities & AV_CODEC_CAP_DR1))
        return false;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    return !desc || !(desc->flags & AV_PIX_FMT_FLAG_HWACCEL);
}

} // namespace

FramePool *frame_pool_create(void)
{
    return new (std::nothrow) FramePool;
}

int pool_get_buffer(AVCodecContext *avctx, AVFrame *frame, int flags)
{
    FramePool *pool = static_cast<FramePool *>(avctx->opaque);
    if (!pool || !pool_serves(avctx, frame))
        return avcodec_default_get_buffer2(avctx, frame, flags);
    if (frame->format < 0 || av_image_check_size(frame->width, frame->height, 0, avctx) < 0) {
        av_log(avctx, AV_LOG_ERROR, "codec_get_buffer: image parameters invalid\n");
        return kInvalidPicture;
    }

    PooledFrameBuffer *buf;
    {
        std::lock_guard<std::mutex> guard(pool->lock);
        int ret = take_buffer(pool, avctx, frame, &buf);
        if (ret < 0)
            return ret;
    }
    frame->buf[0] = av_buffer_create(buf->base[0], buf->size, filter_release_pooled, buf, 0);
    if (!frame->buf[0]) {
        drop_reference(buf);
        return AVERROR(ENOMEM);
    }
    for (int i = 0; i < 4; i++) {
        frame->data[i] = buf->data[i];
        frame->linesize[i] = buf->linesize[i];
    }
    frame->extended_data = frame->data;
    frame->opaque = buf;
    return 0;
}

void pool_release_buffer(AVCodecContext *, AVFrame *frame)
{
    // Pictures are reference-counted by the library: unreferencing drops this
    // frame's hold, and a pooled block returns through filter_release_pooled()
    // once no filter or encoder holds it either. A frame from another allocator
    // is thereby released by the library, and nothing of it is read as ours.
    av_frame_unref(frame);
}

void filter_release_pooled(void *opaque, uint8_t *)
{
    drop_reference(static_cast<PooledFrameBuffer *>(opaque));
}

void free_frame_pool(FramePool *pool)
{
    if (!pool)
        return;
    bool empty;
    {
        std::lock_guard<std::mutex> guard(pool->lock);
        while (pool->free_list)
            destroy_buffer(pool, pop_free(pool));
        pool->closing = true;
        empty = pool->live == 0;
    }
    if (empty)
        delete pool;
}

PooledFrameBuffer *pool_frame_buffer(FramePool *pool, const AVFrame *frame)
{
    if (!pool || !frame || !frame->buf[0])
        return nullptr;
    void *owner = av_buffer_get_opaque(frame->buf[0]);
    std::lock_guard<std::mutex> guard(pool->lock);
    for (PooledFrameBuffer *b = pool->live_list; b; b = b->next_live)
        if (b == owner && frame->buf[0]->data == b->base[0])
            return b;
    return nullptr;
}

FramePoolStats frame_pool_stats(FramePool *pool)
{
    std::lock_guard<std::mutex> guard(pool->lock);
    return FramePoolStats{pool->allocations, pool->live, pool->free};
}

int64_t frame_pool_buffers_alive(void)
{
    return buffers_alive.load();
}

int64_t frame_pool_buffers_allocated(void)
{
    return buffers_allocated.load();
}
