// Generic command-line machinery of the engine: the option-table row type and its
// flags, the walk over an argument vector, number and time conversion, routing of
// unknown options to the media libraries' option sets, stream specifiers, the
// early log/report set-up, preset-file search and small shared helpers.
//
// Implemented in cmdline.cpp. Used by the option table (options.cpp), inputs,
// outputs, set-up and the information output.
#pragma once

#include "av.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

// ---- option-table rows ------------------------------------------------------

enum OptionFlags {
    OPTF_ARG = 0x1,        // consumes the next argv element
    OPTF_BOOL = 0x2,       // integer set to 1 (0 with the "no" prefix)
    OPTF_EXPERT = 0x4,     // listed only in the advanced help sections
    OPTF_STRING = 0x8,     // receives a private copy of the argument
    OPTF_VIDEO = 0x10,
    OPTF_AUDIO = 0x20,
    OPTF_INT = 0x80,       // 32-bit signed integer
    OPTF_FLOAT = 0x100,    // single-precision float
    OPTF_SUBTITLE = 0x200,
    OPTF_INT64 = 0x400,    // 64-bit signed integer
    OPTF_EXIT = 0x800,     // informational: parsing stops with -1 after it ran
    OPTF_DATA = 0x1000,
    OPTF_PERFILE = 0x2000, // belongs to the next file (help grouping only)
    OPTF_FIELD = 0x4000,   // destination is a field position in PerFileOptions
    OPTF_SPEC = 0x8000,    // destination is a SpecList in PerFileOptions
    OPTF_TIME = 0x10000,   // 64-bit time in microseconds
    OPTF_DOUBLE = 0x20000,
    OPTF_ALIAS = 0x40000,   // another spelling: u.text is the option applied instead
    OPTF_REMOVED = 0x80000, // gone: u.text names the filter that does its work now
};

// Handler of a row without a value kind: (per-file context, option name as typed,
// argument) -> 0 or a negative error.
typedef int (*OptionHandler)(void *ctx, const char *opt, const char *arg);

struct OptionEntry {
    const char *name; // without the leading dash; nullptr ends the table
    int flags;
    // One word, read according to the flags: a global's address, a field position
    // inside PerFileOptions (OPTF_FIELD / OPTF_SPEC), a name (OPTF_ALIAS /
    // OPTF_REMOVED) or a handler.
    union Destination {
        void *dst_ptr;
        OptionHandler func_arg;
        size_t off;
        const char *text;
        constexpr Destination() : dst_ptr(nullptr) {}
        constexpr Destination(void *p) : dst_ptr(p) {}
        constexpr Destination(OptionHandler f) : func_arg(f) {}
        constexpr Destination(size_t o) : off(o) {}
        constexpr Destination(const char *t) : text(t) {}
    } u;
    const char *help;
    const char *argname;
};

// ---- stream-specific option values ------------------------------------------

struct SpecValue {
    char *specifier; // text after the first colon of the typed name ("" when none)
    union {
        char *str;
        int i;
        int64_t i64;
        float f;
        double dbl;
    } u;
};

// A list of SpecValue: the element array followed by its 32-bit count.
struct SpecList {
    SpecValue *items;
    int count;
};

// ---- walking the argument vector --------------------------------------------

typedef void (*FileNameHandler)(void *ctx, const char *filename);

int parse_command_line(void *ctx, int argc, char **argv, const OptionEntry *table,
                       FileNameHandler on_file);
int apply_option(void *ctx, const char *name, const char *arg, const OptionEntry *table);
const OptionEntry *find_option_entry(const OptionEntry *table, const char *name);
int find_option_position(int argc, char **argv, const OptionEntry *table, const char *name);
// Position of the next use of option `name` from argv[from] on, walking the vector
// as parse_command_line() does (arguments of options are skipped); 0 when none.
int find_next_option(int argc, char **argv, const OptionEntry *table, const char *name, int from);

// Handler of the catch-all row "default".
int apply_library_option(void *ctx, const char *name, const char *arg);

// ---- values -----------------------------------------------------------------

// kind is OPTF_INT, OPTF_INT64 (whole numbers) or OPTF_FLOAT / OPTF_DOUBLE.
double parse_number_bounded(const char *context, const char *numstr, int kind, double min,
                            double max);
// Microseconds; ends the process with status 1 on malformed input.
int64_t parse_time_value(const char *context, const char *timestr, int is_duration);

// Grows array (elements of elem_size) from *count to new_count, zero-filling the
// tail. Ends the process with status 1 when the array would be too big.
void *grow_table(void *array, int elem_size, int *count, int new_count);

#define GROW_TABLE(array, count)                                                           \
    ((array) = (std::remove_reference_t<decltype(array)>)grow_table(                         \
         (array), sizeof(*(array)), &(count), (count) + 1))

// ---- streams and codec options ------------------------------------------------

int match_stream_spec(AVFormatContext *s, AVStream *st, const char *spec);
AVDictionary *select_codec_options(AVDictionary *opts, enum AVCodecID codec_id,
                                   AVFormatContext *s, AVStream *st, const AVCodec *codec);
AVDictionary **probe_options_for_streams(AVFormatContext *s, AVDictionary *codec_opts);

// Library-level options gathered for the next file.
extern AVDictionary *codec_options;
extern AVDictionary *format_options;
// Option objects of the scaler and the resampler ("sws_flags", "dither_method", ...),
// created on first use so that their values are checked by the libraries.
extern struct SwsContext *scaler_options;
extern struct SwrContext *resampler_options;

// ---- logging, reports, presets ----------------------------------------------

void early_log_setup(int argc, char **argv, const OptionEntry *table);
int open_report(void);
// Logs "%s: %s\n" at error level with the library's (or the C library's) error text.
void print_error(const char *filename, int err);

FILE *find_preset_file(char *filename, size_t filename_size, const char *preset_name,
                       int is_path, const char *codec_name);
// Reads a whole file into a zero-terminated buffer (freed with av_free).
int read_whole_file(const char *filename, char **bufptr, size_t *size);
int ask_yes_no(void);

// Releases option-parsing state that outlives one file (the report file stays).
void release_option_state(void);

// Handlers of global options that belong to this file.
int handle_loglevel(void *ctx, const char *opt, const char *arg);
int handle_debug(void *ctx, const char *opt, const char *arg);
int handle_report(void *ctx, const char *opt, const char *arg);
int handle_max_alloc(void *ctx, const char *opt, const char *arg);
int handle_cpuflags(void *ctx, const char *opt, const char *arg);
int handle_timelimit(void *ctx, const char *opt, const char *arg);

// The program name used in messages, usage and report file names.
extern const char program_name[];
