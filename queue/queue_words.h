// What the window and the batch command say about a recording of a queue: why
// it failed, why a search passed it over, what a file converted with problems
// fell short in. Each reason is one text of the text table; the window shows it
// in the user's language, the batch command in English (english_words), with the
// same figures filled in. Any thread.
#pragma once

#include "ffmpeg_exec.h"
#include "media_scan.h"

#include <string>
#include <vector>

// A text id and what goes into its %1, %2, ...
struct QueueWords {
    unsigned int id = 0;
    std::vector<std::string> args;
};

// Why a run failed ("The disk is full.").
QueueWords failure_words(RunFailure failure);
// Why a recording failed without a run: every output name is taken.
QueueWords names_taken_words();
// What a file converted with problems fell short in ("only 0:03 of 0:08 could
// be read").
QueueWords problem_words(const RunProblem &problem);
// Why a folder search passed over a file ("not a video file").
QueueWords skip_words(SkipReason reason);

// The words in English.
std::string english_words(const QueueWords &words);
// `text` with %1 ... %9 replaced by `args` in one pass (a "%2" inside an
// argument stays as it is); a number without an argument stays too.
std::string fill_arguments(const std::string &text, const std::vector<std::string> &args);
