// Test fixture for the engine's command-line stage: walks an argument vector with
// the option table and add_output_file() (as the engine entry does), leaves the
// tables for the test to inspect, and releases them afterwards. Also a remuxer for
// test media the generator does not make (titles, chapters, a data stream, a
// subset of streams), built from generator output by our own code.
#pragma once

#include "engine_harness.h"
#include "fixture_gen.h"

#include "engine.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

// Names a parameterised case by its row's `name`.
template <typename Case> std::string case_name(const ::testing::TestParamInfo<Case> &p)
{
    return p.param.name;
}

class EngineParse : public ::testing::Test {
protected:
    PerFileOptions o{};
    LogCapture log;
    std::vector<std::string> words; // outlives the run: graphs keep their text

    void SetUp() override;
    void TearDown() override;

    // parse_command_line() over "ffmpeg" + args; its result (0 or -1).
    int parse(const Args &args);

    OutStream *ost(int i) const { return output_streams[i]; }
    static int source_of(const OutStream *s) { return s->source_index; }
    static std::string encoder_name(const OutStream *s) { return s->enc ? s->enc->name : ""; }

private:
    struct Globals {
        int overwrite_yes, overwrite_no, intra_only, audio_sync_method, audio_volume,
            stdin_enabled;
    } saved_{};
};

struct ChapterSpec {
    double start, end; // seconds
    std::string title;
};

struct RemuxSpec {
    std::set<AVMediaType> keep; // empty: every stream
    std::map<std::string, std::string> global_tags;
    std::vector<ChapterSpec> chapters;
    bool add_klv_data = false; // a SMPTE KLV data stream (MPEG-TS outputs)
    std::map<std::string, std::string> stream_tags; // on every stream
};

// Copies the streams of `src` chosen by `spec` into `dst` (format from its name).
// Throws fixtures::FixtureError on failure.
void remux(const std::string &src, const std::string &dst, const RemuxSpec &spec);

// The value of `key`, or "<none>".
std::string tag(const AVDictionary *d, const char *key);

// The whole file's bytes.
std::string file_bytes(const std::string &path);
