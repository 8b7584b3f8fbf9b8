// Decoder frame-buffer pool (placeholder: not built yet).
#include "pool.h"

FramePool *frame_pool_create(void) { return nullptr; }
int pool_get_buffer(AVCodecContext *avctx, AVFrame *frame, int flags) { return avcodec_default_get_buffer2(avctx, frame, flags); }
void pool_release_buffer(AVCodecContext *, AVFrame *) {}
void filter_release_pooled(void *, uint8_t *) {}
void free_frame_pool(FramePool *) {}
