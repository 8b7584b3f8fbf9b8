// Transcode set-up (placeholder: not built yet).
#include "engine.h"

int prepare_transcode(void)
{
    av_log(nullptr, AV_LOG_FATAL, "transcode set-up is not built yet\n");
    return AVERROR(ENOSYS);
}
