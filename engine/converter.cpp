// The converter's own conversion: the twelve words every caller passes to the
// engine for it (the window's worker, the batch command, tests, fuzzing), kept in
// one place so they cannot drift apart, and how a user's path is handed to the
// libraries.
#include "ffmpeg_exec.h"

std::vector<std::string> converter_arguments(const std::string &source, const std::string &output)
{
    return {"ffmpeg",   "-i",     file_path_argument(source), "-c:v",   "libx264", "-profile:v",
            "baseline", "-level", "3",                        "-strict", "-2",     file_path_argument(output)};
}

std::string file_path_argument(const std::string &path)
{
    // The libraries read a protocol from the characters before the first ":"
    // that are all letters, digits, "+", "-" or "."; "./" ends that run at once.
    if (path.empty() || path[0] == '/')
        return path;
    return "./" + path;
}
