// Per-input-stream pool of decoder picture buffers.
//
// Video decoders that can decode into caller-supplied memory get their pictures
// from the pool of their InStream (installed as the decoder context's get_buffer2
// with the pool as its opaque pointer), so a decoded picture reaches the
// filtergraph by reference and returns to the pool when its last user lets go.
// Buffers are reused while the picture geometry stays the same.
//
// Implemented in pool.cpp. Installed by the transcode set-up, freed by the run's
// clean-up.
#pragma once

#include "av.h"

struct FramePool;

// One picture: all planes in one block.
struct PooledFrameBuffer {
    uint8_t *base[4];
    uint8_t *data[4];
    int linesize[4];
    int h, w;
    int pix_fmt;
    int refcount;
    FramePool *pool;
    PooledFrameBuffer *next;
};

FramePool *frame_pool_create(void);

// get_buffer2 callback: serves the frame from the pool in avctx->opaque.
int pool_get_buffer(AVCodecContext *avctx, AVFrame *frame, int flags);
// Drops the decoder's reference of a frame served by the pool; frames from other
// allocators are left to the library.
void pool_release_buffer(AVCodecContext *avctx, AVFrame *frame);
// Drops the reference held by a filter-side wrapper of a pooled picture.
void filter_release_pooled(void *opaque, uint8_t *data);
// Frees every free buffer and, once no picture is in use any more, the pool.
void free_frame_pool(FramePool *pool);
