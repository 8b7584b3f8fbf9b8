// Information and help output (placeholder: not built yet).
#include "engine.h"

void show_banner(int, char **, const OptionEntry *) {}

void show_usage(void)
{
    av_log(nullptr, AV_LOG_INFO, "usage: %s [options] [[infile options] -i infile]... {[outfile options] outfile}...\n",
           program_name);
}

int show_information(void *, const char *opt, const char *)
{
    av_log(nullptr, AV_LOG_ERROR, "-%s is not available yet\n", opt);
    return 0;
}
