// Information and help output: the start-up banner, the usage text, version and
// licence notices, the help listing and the lists of what the media libraries
// offer (formats, codecs, filters, pixel formats, ...).
//
// show_banner() and show_usage() (engine.h) are called by the engine entry;
// show_information() (options.h) is the handler of every informational row of the
// option table. The pieces below are exposed for the engine's tests.
#pragma once

#include "cmdline.h"

#include <cstdarg>
#include <vector>

// ---- banner and versions (info.cpp) ----------------------------------------

// Logs "libpostproc" with the version built against and the version loaded, at
// info level, prefixed with `indent`.
void print_library_versions(const char *indent);

// Compares the loaded library's configuration with `built_with`. On a mismatch
// logs the library's configuration (and, the first time in the process, a
// warning) and returns 1; returns 0 when they agree.
int check_library_configuration(const char *indent, const char *built_with);

// The post-processing library's configuration recorded when the engine was built.
const char *built_postproc_configuration(void);

// Log callback of the help output: every message at or below the current log
// level goes to standard output.
void help_log_callback(void *avcl, int level, const char *fmt, va_list vl);

// ---- help (info.cpp) ----------------------------------------------------------

// One section of the help listing. A row belongs to it when it has every
// `required` flag, none of the `rejected` ones and, when `group` is non-zero, at
// least one flag of `group`.
struct HelpSection {
    const char *heading;
    int required;
    int rejected;
    int group;
    bool advanced; // only with the topics "long" and "full"
};

extern const HelpSection help_sections[];
extern const int help_section_count;

bool help_row_selected(const OptionEntry *row, const HelpSection &section);
// Heading (before the first selected row only), the rows, then an empty line.
void show_help_section(const OptionEntry *table, const HelpSection &section);
// Every basic section, plus the advanced ones when `advanced` is set, then one
// more empty line.
void show_help_sections(const OptionEntry *table, bool advanced);

// The whole help for `arg` (the topic as given on the command line, or nullptr),
// listing the rows of `table`.
void show_help(const OptionEntry *table, const char *arg);

void show_codec_help(const char *name, int encoder);
void show_demuxer_help(const char *name);
void show_muxer_help(const char *name);

// ---- lists (info_lists.cpp) ---------------------------------------------------

void show_formats(void);
void show_codecs(void);
void show_codec_list(int encoder); // "decoders" / "encoders"
void show_bsfs(void);
void show_protocols(void);
void show_filters(void);
void show_pix_fmts(void);
void show_layouts(void);
void show_sample_fmts(void);

// Codec descriptors ordered by media type, then by name.
std::vector<const AVCodecDescriptor *> sorted_codec_descriptors(void);
// Next encoder (or decoder) for `id`; start with *iter == nullptr.
const AVCodec *next_codec_for_id(void **iter, enum AVCodecID id, int encoder);
