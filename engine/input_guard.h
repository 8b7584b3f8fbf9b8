// What an input file may pull in, and how much memory its decoders may ask for.
// Implemented in input_guard.cpp; used by input.cpp only.
#pragma once

#include "av.h"

#include <string>

// Largest picture a decoder is allowed to make: the largest any H.264 or HEVC
// level allows (8192x4320). A header claiming more is refused when the decoder
// opens, before anything of that size is allocated.
constexpr int64_t MAX_DECODED_PIXELS = 8192LL * 4320;
// Largest audio frame, in samples of all channels together.
constexpr int64_t MAX_DECODED_SAMPLES = 1 << 22;

// Recordings often come from strangers. An input named by a plain local path
// (no protocol prefix) may read other files only in its own folder or below it,
// never through another protocol (so never the network), and formats that open
// further files out of our sight (concatenation scripts, IMF packages, DASH
// manifests, VobSub indexes) are not read for it (the demuxer white list also
// goes to the readers the libraries nest, where they pass it on). An HLS
// playlist without its end tag is read as the recording it lists now, never
// waited on. A name with an explicit protocol ("file:", "http:", ...) is the
// caller's own choice and keeps the libraries' behaviour; a forced format ("-f")
// is allowed as asked, with the same folder and protocol limits, unless it is one
// of the formats refused above. Call before avformat_open_input(); returns 0 or a
// negative error.
int guard_local_input(AVFormatContext *ic, const char *filename, const AVInputFormat *forced);

// Where a file that a guarded input refers to (`url`, as its reader spells it)
// leads. Inside: the input itself, or an existing file in the input's folder or
// below it after symbolic links are followed; `target` is then the path to open
// (the resolved one). Missing: no such file, but its folder is the input's or
// below it (a segment missing from an export). Outside: anything else, a file of
// a neighbouring folder whose name begins like the input's folder ("rec-old" next
// to "rec") and every other protocol included. Used by the nested opener, which
// opens exactly `target`.
enum class NestedReach { Inside, Missing, Outside };
NestedReach reach_of_nested_url(const char *input, const char *url, std::string *target);

// After a failed open of a guarded input: says so when the file is of a format
// refused above (the libraries' own message lists every format allowed).
void explain_refused_format(const char *filename);

// Adds the decoder limits above to a decoder option dictionary, without
// replacing limits the command line set.
int limit_decoder_options(AVDictionary **opts);

// The picture size a decoder with these options may make (the command line's
// "max_pixels" when it set one).
int64_t allowed_pixels(const AVDictionary *decoder_opts);
