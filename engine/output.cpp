// Output files (placeholder: not built yet).
#include "engine.h"

void add_output_file(void *, const char *filename)
{
    av_log(nullptr, AV_LOG_FATAL, "%s: opening outputs is not built yet\n", filename);
}

void check_overwrite(const char *) {}
