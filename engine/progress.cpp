// Progress report (placeholder: not built yet).
#include "engine.h"

void report_progress(int, int64_t, int64_t) {}
void periodic_report(int64_t, int64_t) {}
void benchmark_mark(const char *, ...) {}
