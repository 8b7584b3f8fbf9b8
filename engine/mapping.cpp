// Stream mapping and preset options (placeholder: not built yet).
#include "engine.h"

int handle_map(void *, const char *, const char *) { return AVERROR(ENOSYS); }
int handle_map_channel(void *, const char *, const char *) { return AVERROR(ENOSYS); }
int handle_preset_file(void *, const char *, const char *) { return AVERROR(ENOSYS); }
