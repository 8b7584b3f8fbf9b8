// Input files (placeholder: not built yet).
#include "engine.h"

int add_input_file(void *, const char *, const char *filename)
{
    av_log(nullptr, AV_LOG_FATAL, "%s: opening inputs is not built yet\n", filename);
    return -1;
}

const AVCodec *find_codec_by_name(const char *, enum AVMediaType, int)
{
    return nullptr;
}
