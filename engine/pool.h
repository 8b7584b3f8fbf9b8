// Per-input-stream pool of decoder picture buffers.
//
// Video decoders that can decode into caller-supplied memory (DR1) get their
// pictures from the pool of their InStream: set-up installs pool_get_buffer as
// the decoder context's get_buffer2 with the pool as its opaque pointer. Each
// picture is one reference-counted library buffer over one pooled block, so a
// decoded picture reaches the filtergraph by reference and returns to the pool
// when its last user (decoder, filter or encoder) lets go. Buffers are reused
// while the picture geometry stays the same and replaced one by one when it
// changes.
//
// Decoder threads take and return pictures while the engine thread does too, so
// every routine here may be called from any thread.
//
// Implemented in pool.cpp. Installed by the transcode set-up, consulted by the
// loop, freed by the run's clean-up.
#pragma once

#include "av.h"

struct FramePool;

// One picture: all planes in one block.
struct PooledFrameBuffer {
    uint8_t *base[4];  // start of each plane's area in the block
    uint8_t *data[4];  // first visible pixel of each plane
    int linesize[4];
    int h, w;          // size the buffer was made for (as asked, not padded)
    int pix_fmt;       // pixel format it was made for
    int refcount;      // 0 while in the pool, above 0 while a picture uses it
    FramePool *pool;   // the pool it returns to
    PooledFrameBuffer *next; // next free buffer in the pool

    uint8_t *block;    // the allocation holding every plane
    size_t size;       // usable bytes from base[0] on
    PooledFrameBuffer *next_live; // next buffer of the pool, free or in use
};

struct FramePoolStats {
    int64_t allocations; // buffers allocated since the pool was created
    int live;            // buffers that exist now, free or in use
    int free;            // buffers waiting in the pool
};

// A new empty pool, or nullptr when out of memory.
FramePool *frame_pool_create(void);

// get_buffer2 callback: serves the picture from the pool in avctx->opaque.
// Non-video contexts, decoders without DR1 and hardware frames get the
// library's default buffers. Invalid picture parameters give -1.
int pool_get_buffer(AVCodecContext *avctx, AVFrame *frame, int flags);

// Releases a decoded frame: a pooled picture loses the frame's reference and
// goes back to the pool when no one else holds it; any other frame is released
// by the library. The frame is reset either way.
void pool_release_buffer(AVCodecContext *avctx, AVFrame *frame);

// Free callback of the library buffer wrapping a pooled picture (opaque is the
// PooledFrameBuffer): runs when its last reference is dropped, on whichever
// thread dropped it, and returns the picture to its pool.
void filter_release_pooled(void *opaque, uint8_t *data);

// Frees every free buffer. Pictures still in use stay valid; each is freed when
// it comes back, and the pool itself with the last one. The pool must not be
// used for new pictures afterwards.
void free_frame_pool(FramePool *pool);

// The pooled buffer behind `frame` when the frame's picture came from `pool`,
// else nullptr. Valid while the frame holds its reference.
PooledFrameBuffer *pool_frame_buffer(FramePool *pool, const AVFrame *frame);

FramePoolStats frame_pool_stats(FramePool *pool);

// Pooled buffers of all pools in the process that are not freed yet.
int64_t frame_pool_buffers_alive(void);

// Pooled buffers allocated by all pools since the process started.
int64_t frame_pool_buffers_allocated(void);
