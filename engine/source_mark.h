// How a converted file names the recording it was made from, so that a later
// run knows the two belong together: the source's file name, size and
// modification time in the output's comment tag. Called by plan_conversion
// (conversion.h) and by the batch command, which skips recordings converted by
// an earlier run.
#pragma once

#include <string>

// "wardline source: name=cam01.ts; size=62604; modified=2026-12-08T13:13:09.523930Z";
// "" when the source cannot be looked at. A same-named file from elsewhere
// differs in its size or time.
std::string source_mark(const std::string &source);

// The mark an existing output carries; "" when it has none or does not open.
std::string output_source_mark(const std::string &output);

// The earlier output of `source` in `folder`: a file there named by the
// converter's rule after the source (output_naming.h) whose mark is the
// source's. The lowest number first; "" when there is none.
std::string earlier_output_of(const std::string &source, const std::string &folder);
