// Entry and run state of the engine (placeholder until the entry is built).
#include "engine.h"
#include "ffmpeg_exec.h"

int ffmpeg_exec(int argc, char **argv)
{
    av_log(nullptr, AV_LOG_FATAL, "engine entry not built yet\n");
    return -1;
}
