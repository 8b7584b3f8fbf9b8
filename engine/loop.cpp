// Transcode loop (placeholder: not built yet).
#include "engine.h"

int transcode_loop(int64_t) { return AVERROR(ENOSYS); }
void finish_output_stream(OutStream *ost) { ost->finished = 1; }
