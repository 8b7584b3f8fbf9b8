// The converter's own conversion: the twelve words every caller passes to the
// engine for it (the window's worker, the batch command, tests, fuzzing), kept in
// one place so they cannot drift apart.
#include "ffmpeg_exec.h"

std::vector<std::string> converter_arguments(const std::string &source, const std::string &output)
{
    return {"ffmpeg", "-i",       source, "-c:v",   "libx264", "-profile:v",
            "baseline", "-level", "3",    "-strict", "-2",     output};
}
