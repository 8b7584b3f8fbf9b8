// The engine's command-line program: runs one conversion with the arguments it was
// given, the way the converter window does, and exits 0 on success, 1 otherwise.
#include "ffmpeg_exec.h"

int main(int argc, char **argv)
{
    return ffmpeg_exec(argc, argv) == 0 ? 0 : 1;
}
