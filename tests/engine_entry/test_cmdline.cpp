// Option parsing engine: the walk over the vector and storing by kind (with a
// table of our own so each rule is seen alone), number conversion, library option
// routing, per-stream codec options, the early log/report set-up, process-ending
// values, and the helpers shared with later stages.
#include "engine_harness.h"

#include "cmdline.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <stdio_ext.h>
#include <unistd.h>

namespace {

struct Ctx {
    char *text;
    int number;
    int64_t big, when;
    float ratio;
    int flag;
    SpecList names, counts, scales, switches;
};
int g_flag, g_int;
float g_float;
std::vector<std::string> calls, files; // calls: "row:typed=arg"
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
#define HANDLER(h) OptionEntry::Destination(h)
const OptionEntry rows[] = {
    {"y", OPTF_BOOL, GLOBAL(g_flag), "", nullptr},
    {"stdin", OPTF_BOOL, GLOBAL(g_flag), "", nullptr},
    {"threads", OPTF_ARG | OPTF_INT, GLOBAL(g_int), "", nullptr},
    {"gain", OPTF_ARG | OPTF_FLOAT, GLOBAL(g_float), "", nullptr},
    {"f", OPTF_ARG | OPTF_STRING | OPTF_FIELD, AT(text), "", nullptr},
    {"count", OPTF_ARG | OPTF_INT | OPTF_FIELD, AT(number), "", nullptr},
    {"fs", OPTF_ARG | OPTF_INT64 | OPTF_FIELD, AT(big), "", nullptr},
    {"t", OPTF_ARG | OPTF_TIME | OPTF_FIELD, AT(when), "", nullptr},
    {"mux", OPTF_ARG | OPTF_FLOAT | OPTF_FIELD, AT(ratio), "", nullptr},
    {"re", OPTF_BOOL | OPTF_FIELD, AT(flag), "", nullptr},
    {"c", OPTF_ARG | OPTF_STRING | OPTF_SPEC, AT(names), "", nullptr},
    {"ac", OPTF_ARG | OPTF_INT | OPTF_SPEC, AT(counts), "", nullptr},
    {"q", OPTF_ARG | OPTF_DOUBLE | OPTF_SPEC, AT(scales), "", nullptr},
    {"force_fps", OPTF_BOOL | OPTF_SPEC, AT(switches), "", nullptr},
    {"map", OPTF_ARG, HANDLER(on_map), "", nullptr},
    {"h", OPTF_EXIT, HANDLER(on_info), "", nullptr},
    {"default", OPTF_ARG, HANDLER(on_default), "", nullptr},
    {nullptr, 0, OptionEntry::Destination(), nullptr, nullptr},
};

std::vector<std::string> list_text(const SpecList &l, bool strings)
{
    std::vector<std::string> out;
    for (int i = 0; i < l.count; i++)
        out.push_back(std::string(l.items[i].specifier) + "=" +
                      (strings ? l.items[i].u.str : std::to_string(l.items[i].u.i)));
    return out;
}

class Parsing : public ::testing::Test {
protected:
    Ctx ctx{};
    LogCapture log;
    void SetUp() override
    {
        calls.clear();
        files.clear();
        handler_result = g_int = 0;
        g_flag = -7;
    }
    void TearDown() override
    {
        av_free(ctx.text);
        for (SpecList *l : {&ctx.names, &ctx.counts, &ctx.scales, &ctx.switches}) {
            for (int i = 0; i < l->count; i++) {
                av_free(l->items[i].specifier);
                if (l == &ctx.names)
                    av_free(l->items[i].u.str);
            }
            av_freep(&l->items);
        }
    }
    int parse(std::vector<std::string> words)
    {
        words.insert(words.begin(), "prog");
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        return parse_command_line(&ctx, int(argv.size()), argv.data(), rows, on_file);
    }
};

TEST_F(Parsing, WalkSeparatesOptionsFromFileNames)
{
    struct Case {
        std::vector<std::string> argv;
        int result;
        std::vector<std::string> files, calls;
    } cases[] = {
        {{"-", "-y"}, 0, {"-"}, {}},                                 // a lone dash is a file
        {{"--", "-y", "-map", "x"}, 0, {"-y", "-map", "x"}, {}},     // "--" ends the options
        {{"-map", "-x", "out"}, 0, {"out"}, {"map:map=-x"}},         // arguments may start with '-'
        {{"-map:foo", "1"}, 0, {}, {"map:map:foo=1"}},               // compared up to the colon
        {{"-nomap", "2"}, 0, {}, {"map:map=2"}},                     // "no" on a non-boolean row
        {{"-level", "3", "o"}, 0, {"o"}, {"default:level=3"}},       // unknown: catch-all row
        {{"-nofoo", "1"}, 0, {}, {"default:nofoo=1"}},
        {{"-h", "topic", "o"}, -1, {}, {"info:h=topic"}},            // informational: stop
        {{"o", "-map"}, -1, {"o"}, {}},                              // missing argument
    };
    for (const Case &c : cases) {
        SetUp();
        EXPECT_EQ(parse(c.argv), c.result) << c.argv[0];
        EXPECT_EQ(files, c.files) << c.argv[0];
        EXPECT_EQ(calls, c.calls) << c.argv[0];
    }
    EXPECT_EQ(apply_option(&ctx, "threads", nullptr, rows), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Missing argument for option 'threads'\n", AV_LOG_ERROR));
    const OptionEntry no_catch_all[] = {rows[0], {}};
    EXPECT_EQ(apply_option(&ctx, "zz", "1", no_catch_all), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unrecognized option 'zz'\n", AV_LOG_ERROR));
    SetUp();
    handler_result = AVERROR(EINVAL);
    EXPECT_EQ(parse({"a", "-map", "bad", "b"}), -1);
    EXPECT_EQ(files, (std::vector<std::string>{"a"}));
    EXPECT_TRUE(log.has("Failed to set value 'bad' for option 'map'\n", AV_LOG_ERROR));
}

TEST_F(Parsing, ValuesAreStoredByKind)
{
    std::string format = "mov";
    ASSERT_EQ(parse({"-y:foo", "-nore", "-threads", "12", "-gain", "0.25", "-count", "7", "-fs",
                     "9223372036854775807", "-t", "1.5", "-mux", "0.5", "-f", "mp4", "-f", format,
                     "-c:v", "libx264", "-c", "copy", "-ac:a", "2", "-q:v", "abc",
                     "-force_fps:v", "-noforce_fps"}),
              0);
    format[0] = 'X';
    EXPECT_EQ(g_flag, 1);
    EXPECT_EQ(ctx.flag, 0);
    EXPECT_EQ(g_int, 12);
    EXPECT_FLOAT_EQ(g_float, 0.25f);
    EXPECT_EQ(ctx.number, 7);
    EXPECT_EQ(ctx.big, INT64_MAX) << "the largest value must not wrap negative";
    EXPECT_EQ(ctx.when, 1500000);
    EXPECT_FLOAT_EQ(ctx.ratio, 0.5f);
    EXPECT_STREQ(ctx.text, "mov") << "own copy of the last value";
    EXPECT_EQ(list_text(ctx.names, true), (std::vector<std::string>{"v=libx264", "=copy"}));
    EXPECT_EQ(list_text(ctx.counts, false), std::vector<std::string>{"a=2"});
    EXPECT_EQ(list_text(ctx.switches, false), (std::vector<std::string>{"v=1", "=0"}));
    // A bad number is reported, stored as -1 and parsing goes on.
    ASSERT_EQ(ctx.scales.count, 1);
    EXPECT_EQ(ctx.scales.items[0].u.dbl, -1.0);
    EXPECT_TRUE(log.has("Expected number for q:v but found: abc\n", AV_LOG_FATAL));
    EXPECT_EQ(apply_option(&ctx, "nostdin", "next", rows), 0) << "a boolean consumes nothing";
    EXPECT_EQ(g_flag, 0);
}

TEST(NumberConversion, ReportsTheFirstFailingTestAndYieldsMinusOne)
{
    struct Case {
        const char *text;
        int kind;
        double min, max, expected;
        const char *message;
    } cases[] = {
        {"2k", OPTF_INT64, 0, 1e9, 2000, nullptr},
        {"12x", OPTF_INT64, 0, 100, -1, "Expected number for ctx but found: 12x\n"},
        {"101", OPTF_INT64, 0, 100, -1,
         "The value for ctx was 101 which is not within 0.000000 - 100.000000\n"},
        {"2.5", OPTF_INT64, 0, 100, -1, "Expected int64 for ctx but found 2.5\n"},
        {"2.5", OPTF_INT, 0, 100, -1, "Expected int for ctx but found 2.5\n"},
        {"1e300", OPTF_INT64, -1e308, 1e308, 1e300, nullptr},
    };
    for (const auto &c : cases) {
        LogCapture log;
        EXPECT_EQ(parse_number_bounded("ctx", c.text, c.kind, c.min, c.max), c.expected) << c.text;
        EXPECT_EQ(log.all_text(), c.message ? c.message : "") << c.text;
    }
}

TEST(GrowTable, ZeroFillsTheNewTailAndNeverShrinks)
{
    int count = 1;
    int *a = (int *)av_malloc(sizeof(int));
    a[0] = 9;
    a = (int *)grow_table(a, sizeof(int), &count, 3);
    a = (int *)grow_table(a, sizeof(int), &count, 2);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(a[0] * 100 + a[1] * 10 + a[2], 900);
    av_free(a);
    EXPECT_EXIT(grow_table(nullptr, 16, &count, INT_MAX / 16), ::testing::ExitedWithCode(1),
                "Array too big.");
}

// ---- library options and per-stream selection -------------------------------------

TEST(LibraryOptions, RoutedToCodecFormatScalerOrResampler)
{
    LogCapture log;
    for (auto o : {std::pair<const char *, const char *>{"level", "3"}, {"profile:v", "baseline"},
                   {"preset", "fast"}, {"ab", "64k"}, {"flags", "+global_header"},
                   {"flags", "+low_delay"}, {"probesize", "5000"}, {"sws_flags", "bicubic"},
                   {"dither_method", "triangular"}})
        EXPECT_EQ(apply_library_option(nullptr, o.first, o.second), 0) << o.first;
    EXPECT_EQ(dict_text(codec_options),
              "level=3;profile:v=baseline;preset=fast;ab=64k;flags=+global_header+low_delay;");
    EXPECT_EQ(dict_text(format_options), "probesize=5000;");
    int64_t value = 0;
    ASSERT_NE(scaler_options, nullptr);
    EXPECT_GE(av_opt_get_int(scaler_options, "sws_flags", 0, &value), 0);
    EXPECT_EQ(value, SWS_BICUBIC);
    ASSERT_NE(resampler_options, nullptr);
    EXPECT_GE(av_opt_get_int(resampler_options, "dither_method", 0, &value), 0);
    EXPECT_EQ(value, SWR_DITHER_TRIANGULAR);
    EXPECT_EQ(log.all_text(), "");

    EXPECT_LT(apply_library_option(nullptr, "sws_flags", "no_such_flag"), 0);
    EXPECT_TRUE(log.has("Error setting option sws_flags.\n", AV_LOG_ERROR));
    // A name far over 127 characters is cut for the lookup, not overflowed.
    const std::string long_name = "g" + std::string(199, 'x') + ":v";
    EXPECT_EQ(apply_library_option(nullptr, long_name.c_str(), "1"), AVERROR_OPTION_NOT_FOUND);
    EXPECT_TRUE(log.has("Unrecognized option '" + long_name + "'\n", AV_LOG_ERROR));
    release_option_state();
    EXPECT_EQ(codec_options, nullptr);
    EXPECT_EQ(scaler_options, nullptr);
}

TEST(StreamOptions, SelectionFollowsSpecifierMediaTypeAndDirection)
{
    LogCapture log;
    AVFormatContext *out = nullptr, *in = avformat_alloc_context();
    avformat_alloc_output_context2(&out, nullptr, "mp4", nullptr);
    for (AVFormatContext *s : {out, in}) {
        for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
            AVStream *st = avformat_new_stream(s, nullptr);
            st->codecpar->codec_type = type;
            st->codecpar->codec_id = type == AVMEDIA_TYPE_VIDEO ? AV_CODEC_ID_H264 : AV_CODEC_ID_AAC;
        }
    }
    AVDictionary *opts = nullptr;
    for (auto kv : {std::pair<const char *, const char *>{"b:v", "1000k"}, {"b:a", "64k"},
                    {"g", "12"}, {"ar", "44100"}, {"vstrict", "-2"}, {"skip_frame", "nokey"}})
        av_dict_set(&opts, kv.first, kv.second, 0);
    struct Case {
        AVFormatContext *s;
        int stream;
        const char *expected;
    } cases[] = {
        {out, 0, "b=1000k;g=12;strict=-2;"},
        {out, 1, "b=64k;ar=44100;"},
        {in, 0, "strict=-2;skip_frame=nokey;"}, // bit rate and GOP are for encoders
        {in, 1, "ar=44100;"},
    };
    for (const Case &c : cases) {
        AVStream *st = c.s->streams[c.stream];
        AVDictionary *sel = select_codec_options(opts, st->codecpar->codec_id, c.s, st, nullptr);
        EXPECT_EQ(dict_text(sel), c.expected) << (c.s == out ? "output " : "input ") << c.stream;
        av_dict_free(&sel);
    }
    AVDictionary **per_stream = probe_options_for_streams(in, opts);
    ASSERT_NE(per_stream, nullptr);
    EXPECT_EQ(dict_text(per_stream[1]), "ar=44100;");
    av_dict_free(&per_stream[0]);
    av_dict_free(&per_stream[1]);
    av_free(per_stream);

    if (const AVCodec *x264 = avcodec_find_encoder_by_name("libx264")) {
        AVDictionary *priv = nullptr, *sel;
        av_dict_set(&priv, "preset", "veryfast", 0);
        sel = select_codec_options(priv, AV_CODEC_ID_H264, out, out->streams[0], x264);
        EXPECT_EQ(dict_text(sel), "preset=veryfast;") << "private options of the encoder";
        av_dict_free(&sel);
        av_dict_free(&priv);
    }
    // One bad specifier drops every option of the stream.
    av_dict_set(&opts, "b:zz", "1", 0);
    EXPECT_EQ(select_codec_options(opts, AV_CODEC_ID_H264, out, out->streams[0], nullptr), nullptr);
    EXPECT_TRUE(log.has("Invalid stream specifier: zz.\n", AV_LOG_ERROR));
    av_dict_free(&opts);
    avformat_free_context(out);
    avformat_free_context(in);
}

// ---- logging, report file, process-ending values --------------------------------------

TEST(EarlyLogSetup, LogLevelAppliesBeforeAnythingIsLogged)
{
    EXPECT_EQ(run_cli({"-v", "error"}).err, "") << "usage and its warning are hidden";
    // "-v" as the argument of another option is not the log level option.
    ChildResult r = run_cli({"-metadata", "-v", "-v", "error", "-zz", "1"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.find("Invalid loglevel"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Unrecognized option 'zz'"), std::string::npos) << r.err;
}

TEST(ProcessEndingValues, ExitWithStatusOneAndTheirMessage)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"-t", "abc"}, "Invalid duration specification for t: abc\n"},
        {{"-timestamp", "not a date"}, "Invalid date specification for timestamp: not a date\n"},
        {{"-loglevel", "loud"},
         "Invalid loglevel \"loud\". Possible levels are numbers or:\n\"quiet\"\n\"panic\"\n"
         "\"fatal\"\n\"error\"\n\"warning\"\n\"info\"\n\"verbose\"\n\"debug\"\n"},
        {{"-v", "12abc"}, "Invalid loglevel \"12abc\"."},
        {{"-max_alloc", "12x"}, "Invalid max_alloc \"12x\".\n"},
    };
    for (const Case &c : cases) {
        ChildResult r = run_cli(c.args);
        EXPECT_EQ(r.exit_status, 1) << c.args[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << " in:\n" << r.err;
        EXPECT_EQ(r.err.find("Use -h"), std::string::npos) << "ended before the usage";
    }
}

std::vector<std::filesystem::path> reports_in(const std::string &dir)
{
    std::vector<std::filesystem::path> found;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (std::regex_match(e.path().filename().string(),
                             std::regex("ffmpeg_exec-[0-9]{8}-[0-9]{6}\\.log")))
            found.push_back(e.path());
    return found;
}

TEST(Report, EnvironmentOrOptionCreatesReportWithQuotedCommandLine)
{
    const std::string dir = scratch_dir("report_env");
    ChildResult r = run_cli({"-metadata", "a b$c", "-metadata", "tab\there", "-f",
                             "x:y+z@w,v.u/0", "-metadata", "q\"`\\"},
                            "", {"FFREPORT=anything"}, 60, dir);
    auto reports = reports_in(dir);
    ASSERT_EQ(reports.size(), 1u) << r.err;
    std::ifstream in(reports[0]);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(std::regex_search(
        text, std::regex("Command line:\n[^ \"]*ffmpeg_exec -metadata \"a b\\\\\\$c\" -metadata "
                         "\"tab\\\\x09here\" -f x:y\\+z@w,v\\.u/0 -metadata \"q\\\\\"\\\\`\\\\\\\\\"\n")))
        << text;
    EXPECT_NE(text.find("Use -h to get full help"), std::string::npos) << "later lines too";
    EXPECT_NE(r.err.find("Report written to \"" + reports[0].filename().string() + "\""),
              std::string::npos);

    const std::string by_option = scratch_dir("report_option");
    run_cli({"-report"}, "", {}, 60, by_option);
    EXPECT_EQ(reports_in(by_option).size(), 1u);
    if (geteuid() != 0) {
        std::filesystem::permissions(by_option, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        ChildResult denied = run_cli({"-report"}, "", {}, 60, by_option);
        std::filesystem::permissions(by_option, std::filesystem::perms::owner_all);
        EXPECT_NE(denied.err.find("Failed to open report \"ffmpeg_exec-"), std::string::npos);
    }
}

// ---- helpers for later stages -----------------------------------------------------------

void write_file(const std::string &path, const std::string &text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(PresetSearch, BasesInOrderWithCodecVariant)
{
    const std::string data = scratch_dir("presets_data"), home = scratch_dir("presets_home");
    char exe_dir[4096];
    ASSERT_EQ(plat_executable_dir(exe_dir, sizeof(exe_dir)), 0);
    const std::string exe_presets = std::string(exe_dir) + "/ffpresets";
    write_file(data + "/both.ffpreset", "data");
    write_file(home + "/.ffmpeg/both.ffpreset", "home");
    write_file(home + "/.ffmpeg/libx264-fast.ffpreset", "home codec");
    write_file(exe_presets + "/exe-only.ffpreset", "exe");
    setenv("FFMPEG_DATADIR", data.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    struct Case {
        const char *name, *codec;
        int is_path;
        const char *content;
    } cases[] = {
        {"both", nullptr, 0, "data"},       {"fast", "libx264", 0, "home codec"},
        {"fast", nullptr, 0, nullptr},      {"exe-only", nullptr, 0, "exe"},
        {"missing", "libx264", 0, nullptr}, {"", nullptr, 1, nullptr},
    };
    std::string direct = data + "/both.ffpreset";
    for (Case c : cases) {
        if (c.is_path)
            c.name = direct.c_str(), c.content = "data";
        char filename[1024], text[64] = "";
        FILE *f = find_preset_file(filename, sizeof(filename), c.name, c.is_path, c.codec);
        EXPECT_EQ(f != nullptr, c.content != nullptr) << c.name;
        if (f && fgets(text, sizeof(text), f)) {
            EXPECT_STREQ(text, c.content) << c.name;
        }
        if (f)
            fclose(f);
    }
    std::filesystem::remove_all(exe_presets);
}

TEST(WholeFileAndQuestion, ReadAllOrSayWhyAndAnswerFromOneLine)
{
    LogCapture log;
    const std::string dir = scratch_dir("whole_file");
    write_file(dir + "/stats.log", std::string("pass\0one", 8));
    char *buf = nullptr;
    size_t size = 0;
    ASSERT_EQ(read_whole_file((dir + "/stats.log").c_str(), &buf, &size), 0);
    EXPECT_EQ(std::string(buf, size + 1), std::string("pass\0one\0", 9));
    av_free(buf);
    EXPECT_EQ(read_whole_file((dir + "/absent").c_str(), &buf, &size), AVERROR(ENOENT));
    EXPECT_TRUE(log.has("Cannot read file '" + dir + "/absent': ", AV_LOG_ERROR));

    const int saved = dup(STDIN_FILENO);
    const std::tuple<const char *, int, int> answers[] = {
        {"yes\nN", 1, 'N'}, {"Y\n", 1, EOF}, {"no\ny", 0, 'y'}, {"\ny", 0, 'y'}, {"", 0, EOF}};
    for (const auto &[input, answer, next] : answers) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], input, strlen(input)), ssize_t(strlen(input)));
        close(fds[1]);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        __fpurge(stdin);
        clearerr(stdin);
        EXPECT_EQ(ask_yes_no(), answer) << input;
        EXPECT_EQ(getchar(), next) << "rest of the line consumed: " << input;
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
    __fpurge(stdin);
    clearerr(stdin);
}

} // namespace
