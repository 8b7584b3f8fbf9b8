// Option parsing engine: walking the vector, storing by kind, number and time
// conversion, library option routing, stream-specific codec options, the early
// log/report set-up, preset search and the small shared helpers. The walk is
// driven with a table of our own so each rule is seen in isolation.
#include "engine_harness.h"

#include "cmdline.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdio_ext.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- a small table covering every kind --------------------------------------

struct Ctx {
    char *text;
    int number;
    int64_t big;
    int64_t when;
    float ratio;
    int flag;
    SpecList names;
    SpecList counts;
    SpecList frames;
    SpecList scales;
    SpecList switches;
};

int g_flag, g_int;
int64_t g_int64;
float g_float;
double g_double;
std::vector<std::string> calls; // "row:typed name=arg"
std::vector<std::string> files;
int handler_result;

int record(const char *row, const char *opt, const char *arg)
{
    calls.push_back(std::string(row) + ":" + opt + "=" + (arg ? arg : "(none)"));
    return handler_result;
}
int on_map(void *, const char *opt, const char *arg) { return record("map", opt, arg); }
int on_info(void *, const char *opt, const char *arg) { return record("info", opt, arg); }
int on_default(void *, const char *opt, const char *arg) { return record("default", opt, arg); }
void on_file(void *, const char *name) { files.push_back(name); }

#define AT(f) OptionEntry::Destination(size_t(offsetof(Ctx, f)))
#define GLOBAL(v) OptionEntry::Destination(static_cast<void *>(&v))

const OptionEntry rows[] = {
    {"y", OPTF_BOOL, GLOBAL(g_flag), "", nullptr},
    {"stdin", OPTF_BOOL, GLOBAL(g_flag), "", nullptr},
    {"threads", OPTF_ARG | OPTF_INT, GLOBAL(g_int), "", nullptr},
    {"limit", OPTF_ARG | OPTF_INT64, GLOBAL(g_int64), "", nullptr},
    {"gain", OPTF_ARG | OPTF_FLOAT, GLOBAL(g_float), "", nullptr},
    {"scale", OPTF_ARG | OPTF_DOUBLE, GLOBAL(g_double), "", nullptr},
    {"f", OPTF_ARG | OPTF_STRING | OPTF_FIELD, AT(text), "", nullptr},
    {"count", OPTF_ARG | OPTF_INT | OPTF_FIELD, AT(number), "", nullptr},
    {"fs", OPTF_ARG | OPTF_INT64 | OPTF_FIELD, AT(big), "", nullptr},
    {"t", OPTF_ARG | OPTF_TIME | OPTF_FIELD, AT(when), "", nullptr},
    {"mux", OPTF_ARG | OPTF_FLOAT | OPTF_FIELD, AT(ratio), "", nullptr},
    {"re", OPTF_BOOL | OPTF_FIELD, AT(flag), "", nullptr},
    {"c", OPTF_ARG | OPTF_STRING | OPTF_SPEC, AT(names), "", nullptr},
    {"ac", OPTF_ARG | OPTF_INT | OPTF_SPEC, AT(counts), "", nullptr},
    {"frames", OPTF_ARG | OPTF_INT64 | OPTF_SPEC, AT(frames), "", nullptr},
    {"q", OPTF_ARG | OPTF_DOUBLE | OPTF_SPEC, AT(scales), "", nullptr},
    {"force_fps", OPTF_BOOL | OPTF_SPEC, AT(switches), "", nullptr},
    {"map", OPTF_ARG, OptionEntry::Destination(on_map), "", nullptr},
    {"h", OPTF_EXIT, OptionEntry::Destination(on_info), "", nullptr},
    {"default", OPTF_ARG, OptionEntry::Destination(on_default), "", nullptr},
    {nullptr, 0, OptionEntry::Destination(), nullptr, nullptr},
};
// The same without a catch-all row.
const OptionEntry rows_without_default[] = {
    {"y", OPTF_BOOL, GLOBAL(g_flag), "", nullptr},
    {nullptr, 0, OptionEntry::Destination(), nullptr, nullptr},
};

void free_list(SpecList &l, bool strings)
{
    for (int i = 0; i < l.count; i++) {
        av_free(l.items[i].specifier);
        if (strings)
            av_free(l.items[i].u.str);
    }
    av_freep(&l.items);
    l.count = 0;
}

class ParsingTest : public ::testing::Test {
protected:
    Ctx ctx{};
    LogCapture log;

    void SetUp() override
    {
        calls.clear();
        files.clear();
        handler_result = 0;
        g_flag = -7;
        g_int = 0;
        g_int64 = 0;
        g_float = 0;
        g_double = 0;
    }
    void TearDown() override
    {
        av_free(ctx.text);
        free_list(ctx.names, true);
        free_list(ctx.counts, false);
        free_list(ctx.frames, false);
        free_list(ctx.scales, false);
        free_list(ctx.switches, false);
    }
    int parse(std::vector<std::string> words, const OptionEntry *table = rows)
    {
        words.insert(words.begin(), "prog");
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        return parse_command_line(&ctx, int(argv.size()), argv.data(), table, on_file);
    }
};

// ---- walking the vector -------------------------------------------------------

struct WalkCase {
    const char *what;
    std::vector<std::string> argv;
    int result;
    std::vector<std::string> files;
    std::vector<std::string> calls;
};

TEST_F(ParsingTest, WalkSeparatesOptionsFromFileNames)
{
    const WalkCase cases[] = {
        {"plain file names", {"a.mp4", "b.mp4"}, 0, {"a.mp4", "b.mp4"}, {}},
        {"a lone dash is a file name", {"-", "-y"}, 0, {"-"}, {}},
        {"double dash ends options", {"--", "-y", "-map", "x"}, 0, {"-y", "-map", "x"}, {}},
        {"option argument is consumed", {"-map", "0:1", "out"}, 0, {"out"}, {"map:map=0:1"}},
        {"option argument may start with a dash", {"-map", "-x", "out"}, 0, {"out"}, {"map:map=-x"}},
        {"name is compared up to the colon", {"-map:foo", "1", "o"}, 0, {"o"}, {"map:map:foo=1"}},
        {"no prefix on a non-boolean applies the row", {"-nomap", "2"}, 0, {}, {"map:map=2"}},
        {"unknown names go to the catch-all row", {"-level", "3", "o"}, 0, {"o"}, {"default:level=3"}},
        {"unknown no-prefixed names keep their prefix", {"-nofoo", "1"}, 0, {}, {"default:nofoo=1"}},
        {"informational row ends the walk", {"-h", "topic", "o"}, -1, {}, {"info:h=topic"}},
        {"missing argument at the end fails", {"o", "-map"}, -1, {"o"}, {}},
    };
    for (const WalkCase &c : cases) {
        SetUp();
        EXPECT_EQ(parse(c.argv), c.result) << c.what;
        EXPECT_EQ(files, c.files) << c.what;
        EXPECT_EQ(calls, c.calls) << c.what;
    }
}

TEST_F(ParsingTest, FailingHandlerStopsTheWalkAndNamesTheValue)
{
    handler_result = AVERROR(EINVAL);
    EXPECT_EQ(parse({"a", "-map", "bad", "b"}), -1);
    EXPECT_EQ(files, std::vector<std::string>{"a"});
    EXPECT_TRUE(log.has("Failed to set value 'bad' for option 'map'\n", AV_LOG_ERROR));
}

TEST_F(ParsingTest, MissingArgumentIsInvalidArgument)
{
    EXPECT_EQ(apply_option(&ctx, "threads", nullptr, rows), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Missing argument for option 'threads'\n", AV_LOG_ERROR));
}

TEST_F(ParsingTest, UnknownOptionWithoutCatchAllIsRefused)
{
    EXPECT_EQ(apply_option(&ctx, "zz", "1", rows_without_default), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unrecognized option 'zz'\n", AV_LOG_ERROR));
}

TEST_F(ParsingTest, BooleansAreSetOrClearedByTheNoPrefix)
{
    EXPECT_EQ(apply_option(&ctx, "y:foo", nullptr, rows), 0);
    EXPECT_EQ(g_flag, 1);
    EXPECT_EQ(apply_option(&ctx, "nostdin", "next", rows), 0) << "a boolean consumes nothing";
    EXPECT_EQ(g_flag, 0);
    EXPECT_EQ(apply_option(&ctx, "nore", nullptr, rows), 0);
    EXPECT_EQ(ctx.flag, 0);
    EXPECT_EQ(apply_option(&ctx, "re", nullptr, rows), 0);
    EXPECT_EQ(ctx.flag, 1);
}

// ---- storing by kind -------------------------------------------------------------

TEST_F(ParsingTest, ValuesAreStoredByKind)
{
    EXPECT_EQ(parse({"-threads", "12", "-limit", "-5000000000", "-gain", "0.25", "-scale",
                     "1e-3", "-count", "7", "-fs", "9223372036854775807", "-t", "1.5",
                     "-mux", "0.5"}),
              0);
    EXPECT_EQ(g_int, 12);
    EXPECT_EQ(g_int64, -5000000000LL);
    EXPECT_FLOAT_EQ(g_float, 0.25f);
    EXPECT_DOUBLE_EQ(g_double, 0.001);
    EXPECT_EQ(ctx.number, 7);
    // The largest 64-bit value must not wrap to a negative limit.
    EXPECT_EQ(ctx.big, INT64_MAX);
    EXPECT_EQ(ctx.when, 1500000);
    EXPECT_FLOAT_EQ(ctx.ratio, 0.5f);
}

TEST_F(ParsingTest, TextFieldKeepsItsOwnCopyOfTheLastValue)
{
    std::string first = "mp4", second = "mov";
    ASSERT_EQ(apply_option(&ctx, "f", first.c_str(), rows), 1);
    ASSERT_EQ(apply_option(&ctx, "f", second.c_str(), rows), 1);
    second[0] = 'X';
    EXPECT_STREQ(ctx.text, "mov");
}

TEST_F(ParsingTest, StreamListsAppendWithTheirSpecifier)
{
    ASSERT_EQ(parse({"-c:v", "libx264", "-c", "copy", "-c:a:0", "aac", "-ac:a", "2", "-frames:v",
                     "10", "-q:v", "abc", "-force_fps:v", "-noforce_fps"}),
              0);
    ASSERT_EQ(ctx.names.count, 3);
    const char *specs[] = {"v", "", "a:0"};
    const char *values[] = {"libx264", "copy", "aac"};
    for (int i = 0; i < 3; i++) {
        EXPECT_STREQ(ctx.names.items[i].specifier, specs[i]);
        EXPECT_STREQ(ctx.names.items[i].u.str, values[i]);
    }
    ASSERT_EQ(ctx.counts.count, 1);
    EXPECT_EQ(ctx.counts.items[0].u.i, 2);
    ASSERT_EQ(ctx.frames.count, 1);
    EXPECT_EQ(ctx.frames.items[0].u.i64, 10);
    // A bad number is reported, stored as -1 and parsing goes on.
    ASSERT_EQ(ctx.scales.count, 1);
    EXPECT_STREQ(ctx.scales.items[0].specifier, "v");
    EXPECT_EQ(ctx.scales.items[0].u.dbl, -1.0);
    EXPECT_TRUE(log.has("Expected number for q:v but found: abc\n", AV_LOG_FATAL));
    ASSERT_EQ(ctx.switches.count, 2);
    EXPECT_EQ(ctx.switches.items[0].u.i, 1);
    EXPECT_EQ(ctx.switches.items[1].u.i, 0);
}

// ---- numbers ----------------------------------------------------------------------

struct NumberCase {
    const char *text;
    int kind;
    double min, max;
    double expected;
    const char *message; // nullptr when none
};

TEST(NumberConversion, ReportsTheFirstFailingTestAndYieldsMinusOne)
{
    const NumberCase cases[] = {
        {"42", OPTF_INT64, 0, 100, 42, nullptr},
        {"1.5", OPTF_FLOAT, 0, 2, 1.5, nullptr},
        {"2k", OPTF_INT64, 0, 1e9, 2000, nullptr},
        {"12x", OPTF_INT64, 0, 100, -1, "Expected number for ctx but found: 12x\n"},
        {"abc", OPTF_DOUBLE, -1e9, 1e9, -1, "Expected number for ctx but found: abc\n"},
        {"101", OPTF_INT64, 0, 100, -1,
         "The value for ctx was 101 which is not within 0.000000 - 100.000000\n"},
        {"-3", OPTF_INT, -2, 2, -1, "The value for ctx was -3 which is not within -2.000000 - 2.000000\n"},
        {"2.5", OPTF_INT64, 0, 100, -1, "Expected int64 for ctx but found 2.5\n"},
        {"2.5", OPTF_INT, 0, 100, -1, "Expected int for ctx but found 2.5\n"},
        {"1e300", OPTF_INT64, -1e308, 1e308, 1e300, nullptr},
    };
    for (const NumberCase &c : cases) {
        LogCapture log;
        EXPECT_EQ(parse_number_bounded("ctx", c.text, c.kind, c.min, c.max), c.expected) << c.text;
        if (c.message)
            EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
        else
            EXPECT_TRUE(log.lines().empty()) << log.all_text();
    }
}

TEST(TimeConversion, DurationsAndDates)
{
    EXPECT_EQ(parse_time_value("t", "5", 1), 5000000);
    EXPECT_EQ(parse_time_value("t", "00:01:02.5", 1), 62500000);
    EXPECT_EQ(parse_time_value("timestamp", "1970-01-01T00:00:10Z", 0), 10000000);
}

// ---- growing tables --------------------------------------------------------------

TEST(GrowTable, ZeroFillsTheNewTailAndNeverShrinks)
{
    int count = 0;
    int *a = (int *)grow_table(nullptr, sizeof(int), &count, 3);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(a[0] | a[1] | a[2], 0);
    a[2] = 9;
    a = (int *)grow_table(a, sizeof(int), &count, 2);
    EXPECT_EQ(count, 3);
    a = (int *)grow_table(a, sizeof(int), &count, 5);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(a[2], 9);
    EXPECT_EQ(a[3] | a[4], 0);
    av_free(a);
}

TEST(GrowTableDeathTest, TooBigEndsTheProcess)
{
    int count = 0;
    EXPECT_EXIT(grow_table(nullptr, 16, &count, INT_MAX / 16), ::testing::ExitedWithCode(1),
                "Array too big.");
}

// ---- library options ---------------------------------------------------------------

class LibraryOptions : public ::testing::Test {
protected:
    LogCapture log;
    void TearDown() override { release_option_state(); }
    static std::string value_of(AVDictionary *d, const char *key)
    {
        const AVDictionaryEntry *e = av_dict_get(d, key, nullptr, 0);
        return e ? e->value : "(absent)";
    }
};

TEST_F(LibraryOptions, RoutedToCodecFormatScalerOrResampler)
{
    EXPECT_EQ(apply_library_option(nullptr, "level", "3"), 0);
    EXPECT_EQ(apply_library_option(nullptr, "profile:v", "baseline"), 0);
    EXPECT_EQ(apply_library_option(nullptr, "preset", "fast"), 0) << "private option of an encoder";
    EXPECT_EQ(apply_library_option(nullptr, "ab", "64000"), 0) << "stream-type prefix";
    EXPECT_EQ(apply_library_option(nullptr, "probesize", "5000"), 0);
    EXPECT_EQ(apply_library_option(nullptr, "sws_flags", "bicubic"), 0);
    EXPECT_EQ(apply_library_option(nullptr, "dither_method", "triangular"), 0);

    EXPECT_EQ(value_of(codec_options, "level"), "3");
    EXPECT_EQ(value_of(codec_options, "profile:v"), "baseline");
    EXPECT_EQ(value_of(codec_options, "preset"), "fast");
    EXPECT_EQ(value_of(codec_options, "ab"), "64000");
    EXPECT_EQ(value_of(format_options, "probesize"), "5000");
    EXPECT_EQ(value_of(codec_options, "probesize"), "(absent)");
    ASSERT_NE(scaler_options, nullptr);
    int64_t flags = 0;
    ASSERT_GE(av_opt_get_int(scaler_options, "sws_flags", 0, &flags), 0);
    EXPECT_EQ(flags, SWS_BICUBIC);
    ASSERT_NE(resampler_options, nullptr);
    int64_t dither = 0;
    ASSERT_GE(av_opt_get_int(resampler_options, "dither_method", 0, &dither), 0);
    EXPECT_EQ(dither, SWR_DITHER_TRIANGULAR);
    EXPECT_TRUE(log.lines().empty()) << log.all_text();
}

TEST_F(LibraryOptions, FlagOptionsAccumulate)
{
    ASSERT_EQ(apply_library_option(nullptr, "flags", "+global_header"), 0);
    ASSERT_EQ(apply_library_option(nullptr, "flags", "+low_delay"), 0);
    ASSERT_EQ(apply_library_option(nullptr, "g", "12"), 0);
    ASSERT_EQ(apply_library_option(nullptr, "g", "25"), 0);
    EXPECT_EQ(value_of(codec_options, "flags"), "+global_header+low_delay");
    EXPECT_EQ(value_of(codec_options, "g"), "25");
}

TEST_F(LibraryOptions, BadValuesAndUnknownNamesAreRefused)
{
    EXPECT_LT(apply_library_option(nullptr, "sws_flags", "no_such_flag"), 0);
    EXPECT_TRUE(log.has("Error setting option sws_flags.\n", AV_LOG_ERROR));
    EXPECT_EQ(apply_library_option(nullptr, "surely_not_an_option", "1"),
              AVERROR_OPTION_NOT_FOUND);
    EXPECT_TRUE(log.has("Unrecognized option 'surely_not_an_option'\n", AV_LOG_ERROR));
}

TEST_F(LibraryOptions, OverlongNameIsCutNotOverflowed)
{
    // "g" followed by 199 more letters: cut to 127 before the lookup.
    std::string name = "g" + std::string(199, 'x') + ":v";
    EXPECT_EQ(apply_library_option(nullptr, name.c_str(), "1"), AVERROR_OPTION_NOT_FOUND);
    EXPECT_TRUE(log.has("Unrecognized option '" + name + "'\n", AV_LOG_ERROR));
    EXPECT_EQ(codec_options, nullptr);
}

// ---- stream specifiers and per-stream codec options ---------------------------------

struct Media {
    AVFormatContext *ctx = nullptr;
    AVStream *video = nullptr, *audio = nullptr;
    Media(bool output)
    {
        if (output)
            avformat_alloc_output_context2(&ctx, nullptr, "mp4", nullptr);
        else
            ctx = avformat_alloc_context();
        video = avformat_new_stream(ctx, nullptr);
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->codecpar->codec_id = AV_CODEC_ID_H264;
        audio = avformat_new_stream(ctx, nullptr);
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_AAC;
    }
    ~Media() { avformat_free_context(ctx); }
};

std::string dict_text(AVDictionary *d)
{
    std::string text;
    const AVDictionaryEntry *e = nullptr;
    while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX)))
        text += std::string(e->key) + "=" + e->value + ";";
    return text;
}

TEST(StreamOptions, SelectionFollowsSpecifierMediaTypeAndDirection)
{
    Media out(true), in(false);
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "b:v", "1000k", 0);
    av_dict_set(&opts, "b:a", "64k", 0);
    av_dict_set(&opts, "g", "12", 0);        // video encoding only
    av_dict_set(&opts, "ar", "44100", 0);    // audio only
    av_dict_set(&opts, "vstrict", "-2", 0);  // video prefix + "strict"
    av_dict_set(&opts, "skip_frame", "nokey", 0); // decoding only

    struct Case {
        AVFormatContext *ctx;
        AVStream *st;
        const char *expected;
    } cases[] = {
        {out.ctx, out.video, "b=1000k;g=12;strict=-2;"},
        {out.ctx, out.audio, "b=64k;ar=44100;"},
        {in.ctx, in.video, "strict=-2;skip_frame=nokey;"}, // the bit rate is for encoders
        {in.ctx, in.audio, "ar=44100;"},
    };
    for (const Case &c : cases) {
        AVDictionary *sel = select_codec_options(opts, c.st->codecpar->codec_id, c.ctx, c.st, nullptr);
        EXPECT_EQ(dict_text(sel), c.expected) << (c.ctx == out.ctx ? "output " : "input ")
                                             << c.st->index;
        av_dict_free(&sel);
    }
    av_dict_free(&opts);
}

TEST(StreamOptions, EncoderPrivateOptionsAreKept)
{
    const AVCodec *x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264)
        GTEST_SKIP() << "libx264 not available";
    Media out(true);
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "preset", "veryfast", 0);
    AVDictionary *sel = select_codec_options(opts, AV_CODEC_ID_H264, out.ctx, out.video, x264);
    EXPECT_EQ(dict_text(sel), "preset=veryfast;");
    av_dict_free(&sel);
    av_dict_free(&opts);
}

TEST(StreamOptions, InvalidSpecifierDropsEveryOption)
{
    LogCapture log;
    Media out(true);
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "g", "12", 0);
    av_dict_set(&opts, "b:zz", "1", 0);
    EXPECT_EQ(select_codec_options(opts, AV_CODEC_ID_H264, out.ctx, out.video, nullptr), nullptr);
    EXPECT_TRUE(log.has("Invalid stream specifier: zz.\n", AV_LOG_ERROR));
    EXPECT_EQ(match_stream_spec(out.ctx, out.video, "v"), 1);
    EXPECT_EQ(match_stream_spec(out.ctx, out.audio, "v"), 0);
    EXPECT_LT(match_stream_spec(out.ctx, out.audio, "zz"), 0);
    av_dict_free(&opts);
}

TEST(StreamOptions, ProbeOptionsOnePerStream)
{
    Media in(false);
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "ar:a", "44100", 0);
    AVDictionary **per_stream = probe_options_for_streams(in.ctx, opts);
    ASSERT_NE(per_stream, nullptr);
    EXPECT_EQ(dict_text(per_stream[0]), "");
    EXPECT_EQ(dict_text(per_stream[1]), "ar=44100;");
    av_dict_free(&per_stream[0]);
    av_dict_free(&per_stream[1]);
    av_free(per_stream);

    AVFormatContext *empty = avformat_alloc_context();
    EXPECT_EQ(probe_options_for_streams(empty, opts), nullptr);
    avformat_free_context(empty);
    av_dict_free(&opts);
}

// ---- finding options before parsing -----------------------------------------------

TEST(FindOptionPosition, SkipsArgumentsAndStopsAtDoubleDash)
{
    struct Case {
        std::vector<std::string> argv;
        const char *name;
        int expected;
    } cases[] = {
        {{"p", "-y", "-threads", "2"}, "threads", 2},
        {{"p", "-map", "-threads", "-threads", "3"}, "threads", 3},
        {{"p", "--", "-threads", "3"}, "threads", 0},
        {{"p", "-y"}, "threads", 0},
        {{"p", "-level", "3", "-level", "4"}, "level", 1},
    };
    for (Case &c : cases) {
        std::vector<char *> argv;
        for (std::string &w : c.argv)
            argv.push_back(w.data());
        EXPECT_EQ(find_option_position(int(argv.size()), argv.data(), rows, c.name), c.expected)
            << c.name << " in case " << (&c - cases);
    }
}

// ---- global handlers of the parsing engine ---------------------------------------

TEST(LogLevel, NamesAndNumbers)
{
    const int saved = av_log_get_level();
    const std::pair<const char *, int> cases[] = {
        {"quiet", -8}, {"panic", 0}, {"fatal", 8}, {"error", 16}, {"warning", 24},
        {"info", 32},  {"verbose", 40}, {"debug", 48}, {"56", 56}, {"-8", -8},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(handle_loglevel(nullptr, "loglevel", c.first), 0);
        EXPECT_EQ(av_log_get_level(), c.second) << c.first;
    }
    av_log_set_level(saved);
}

TEST(GlobalHandlers, DebugCpuflagsAndTimelimit)
{
    LogCapture log;
    const int saved_level = av_log_get_level();
    EXPECT_EQ(handle_debug(nullptr, "debug", "pict"), 0);
    EXPECT_EQ(av_log_get_level(), AV_LOG_DEBUG);
    EXPECT_EQ(handle_debug(nullptr, "fdebug", "ts"), 0);
    EXPECT_NE(av_dict_get(codec_options, "debug", nullptr, 0), nullptr);
    EXPECT_NE(av_dict_get(format_options, "fdebug", nullptr, 0), nullptr);
    release_option_state();
    av_log_set_level(saved_level);

    EXPECT_EQ(handle_cpuflags(nullptr, "cpuflags", "0"), 0);
    EXPECT_EQ(av_get_cpu_flags(), 0);
    EXPECT_LT(handle_cpuflags(nullptr, "cpuflags", "no_such_cpu_feature"), 0);
    av_force_cpu_flags(-1);

    EXPECT_EQ(handle_timelimit(nullptr, "timelimit", "10"), 0);
    EXPECT_TRUE(log.has("-timelimit not implemented on this OS\n", AV_LOG_WARNING));
}

// ---- paths that end the process -------------------------------------------------------

TEST(ProcessEndingValues, ExitWithStatusOneAndTheirMessage)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> messages;
    } cases[] = {
        {{"-t", "abc"}, {"Invalid duration specification for t: abc\n"}},
        {{"-timestamp", "not a date"}, {"Invalid date specification for timestamp: not a date\n"}},
        {{"-loglevel", "loud"},
         {"Invalid loglevel \"loud\". Possible levels are numbers or:\n", "\"quiet\"\n",
          "\"debug\"\n"}},
        {{"-v", "12abc"}, {"Invalid loglevel \"12abc\"."}},
        {{"-max_alloc", "12x"}, {"Invalid max_alloc \"12x\".\n"}},
    };
    for (const Case &c : cases) {
        ChildResult r = run_cli(c.args);
        EXPECT_EQ(r.exit_status, 1) << c.args[0];
        for (const std::string &m : c.messages)
            EXPECT_NE(r.err.find(m), std::string::npos) << m << " in:\n" << r.err;
        EXPECT_EQ(r.err.find("Use -h"), std::string::npos) << "ended before the usage";
    }
}

TEST(EarlyLogSetup, LogLevelAppliesBeforeAnythingIsLogged)
{
    ChildResult quiet = run_cli({"-loglevel", "quiet"});
    EXPECT_EQ(quiet.exit_status, 1);
    EXPECT_EQ(quiet.err, "");
    ChildResult errors_only = run_cli({"-v", "error", "-zz", "1"});
    EXPECT_EQ(errors_only.exit_status, 1);
    EXPECT_NE(errors_only.err.find("Unrecognized option 'zz'"), std::string::npos);
}

// ---- the report file -----------------------------------------------------------------

std::vector<std::filesystem::path> reports_in(const std::string &dir)
{
    std::vector<std::filesystem::path> found;
    const std::regex name("ffmpeg_exec-[0-9]{8}-[0-9]{6}\\.log");
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (std::regex_match(entry.path().filename().string(), name))
            found.push_back(entry.path());
    return found;
}

std::string read_text(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Report, EnvironmentVariableCreatesReportWithQuotedCommandLine)
{
    std::string dir = scratch_dir("report_env");
    ChildResult r = run_cli({"-y", "-metadata", "a b$c", "-metadata", "tab\there", "-f",
                             "x:y+z@w,v.u/0", "-metadata", "q\"`\\"},
                            "", {"FFREPORT=anything"}, 60, dir);
    EXPECT_EQ(r.exit_status, 1);
    auto reports = reports_in(dir);
    ASSERT_EQ(reports.size(), 1u) << r.err;
    std::string text = read_text(reports[0]);
    size_t start = text.find("Command line:\n");
    ASSERT_NE(start, std::string::npos) << text;
    size_t end = text.find('\n', start + 14);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start + 14, end + 1 - (start + 14));
    const std::string args = " -y -metadata \"a b\\$c\" -metadata \"tab\\x09here\" -f "
                             "x:y+z@w,v.u/0 -metadata \"q\\\"\\`\\\\\"\n";
    ASSERT_GT(line.size(), args.size());
    EXPECT_EQ(line.substr(line.size() - args.size()), args);
    EXPECT_EQ(line.find('"'), line.find(" -y") + 14) << "the program path needs no quotes";
    // Every later message of the run reaches the report too.
    EXPECT_NE(text.find("Use -h to get full help"), std::string::npos) << text;
    EXPECT_NE(r.err.find("Report written to \"" + reports[0].filename().string() + "\""),
              std::string::npos)
        << r.err;
}

TEST(Report, OptionCreatesReportAndUnwritableFolderIsReported)
{
    std::string dir = scratch_dir("report_option");
    ChildResult r = run_cli({"-report"}, "", {}, 60, dir);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(reports_in(dir).size(), 1u) << r.err;

    std::string locked = scratch_dir("report_locked");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    ChildResult denied = run_cli({"-report"}, "", {}, 60, locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    if (geteuid() != 0) {
        EXPECT_NE(denied.err.find("Failed to open report \"ffmpeg_exec-"), std::string::npos)
            << denied.err;
        EXPECT_TRUE(reports_in(locked).empty());
    }
}

// ---- presets, whole files, the yes/no question ------------------------------------

void write_file(const std::string &path, const std::string &text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(PresetSearch, BasesInOrderWithCodecVariant)
{
    std::string data = scratch_dir("presets_data"), home = scratch_dir("presets_home");
    write_file(home + "/.ffmpeg/both.ffpreset", "home");
    write_file(data + "/both.ffpreset", "data");
    write_file(home + "/.ffmpeg/libx264-fast.ffpreset", "home codec");
    char exe_dir[4096];
    ASSERT_EQ(plat_executable_dir(exe_dir, sizeof(exe_dir)), 0);
    const std::string exe_preset = std::string(exe_dir) + "/ffpresets/entrytest-only-exe.ffpreset";
    write_file(exe_preset, "exe");
    setenv("FFMPEG_DATADIR", data.c_str(), 1);
    setenv("HOME", home.c_str(), 1);

    struct Case {
        const char *name;
        const char *codec;
        int is_path;
        const char *content; // nullptr: not found
    } cases[] = {
        {"both", nullptr, 0, "data"},
        {"fast", "libx264", 0, "home codec"},
        {"fast", nullptr, 0, nullptr},
        {"entrytest-only-exe", nullptr, 0, "exe"},
        {"missing", "libx264", 0, nullptr},
    };
    for (const Case &c : cases) {
        char filename[1024];
        FILE *f = find_preset_file(filename, sizeof(filename), c.name, c.is_path, c.codec);
        if (!c.content) {
            EXPECT_EQ(f, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(f, nullptr) << c.name;
        char text[64] = "";
        EXPECT_NE(fgets(text, sizeof(text), f), nullptr);
        EXPECT_STREQ(text, c.content) << c.name;
        fclose(f);
    }
    char filename[1024];
    std::string direct = data + "/both.ffpreset";
    FILE *f = find_preset_file(filename, sizeof(filename), direct.c_str(), 1, nullptr);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(std::string(filename), direct);
    if (f)
        fclose(f);
    std::filesystem::remove_all(std::filesystem::path(exe_preset).parent_path());
}

TEST(WholeFile, ReadsTerminatedContentOrReportsWhy)
{
    LogCapture log;
    std::string dir = scratch_dir("whole_file");
    write_file(dir + "/stats.log", std::string("pass\0one", 8));
    char *buf = nullptr;
    size_t size = 0;
    ASSERT_EQ(read_whole_file((dir + "/stats.log").c_str(), &buf, &size), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::string(buf, size), std::string("pass\0one", 8));
    EXPECT_EQ(buf[size], '\0');
    av_free(buf);

    EXPECT_EQ(read_whole_file((dir + "/absent.log").c_str(), &buf, &size), AVERROR(ENOENT));
    EXPECT_TRUE(log.has("Cannot read file '" + dir + "/absent.log': ", AV_LOG_ERROR));
    EXPECT_EQ(read_whole_file(dir.c_str(), &buf, &size) < 0, true) << "a folder is not a file";
    EXPECT_EQ(buf, nullptr);
}

TEST(YesNo, FirstCharacterDecidesAndTheLineIsConsumed)
{
    const int saved = dup(STDIN_FILENO);
    struct Case {
        const char *input;
        int answer;
        int next; // first character left for the next reader
    } cases[] = {
        {"yes\nN", 1, 'N'},
        {"Y\n", 1, EOF},
        {"no\ny", 0, 'y'},
        {"\ny", 0, 'y'},
        {"", 0, EOF},
    };
    for (const Case &c : cases) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], c.input, strlen(c.input)), ssize_t(strlen(c.input)));
        close(fds[1]);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        __fpurge(stdin);
        clearerr(stdin);
        EXPECT_EQ(ask_yes_no(), c.answer) << c.input;
        EXPECT_EQ(getchar(), c.next) << c.input;
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
    __fpurge(stdin);
    clearerr(stdin);
}

} // namespace
