// Option parsing engine (placeholder).
#include "cmdline.h"

const char program_name[] = "ffmpeg_exec";
