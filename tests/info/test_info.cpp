// Information and help output: help sections and topics, codec and format
// descriptions, version and banner, licence, and the lists of formats, codecs,
// filters and the rest. Output is read from the process's standard output.
#include "info.h"

#include "engine.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

// Runs `body` with file descriptor 1 sent to a temporary file and returns what
// was written there.
std::string capture_stdout(const std::function<void()> &body)
{
    fflush(stdout);
    FILE *sink = tmpfile();
    int saved = dup(1);
    dup2(fileno(sink), 1);
    body();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    rewind(sink);
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), sink)) > 0)
        text.append(buf, n);
    fclose(sink);
    return text;
}

// Help text goes through the log; the informational options print it on
// standard output with the help callback.
std::string help_output(const std::function<void()> &body)
{
    av_log_set_callback(help_log_callback);
    std::string text = capture_stdout(body);
    av_log_set_callback(av_log_default_callback);
    return text;
}

std::string information(const char *opt, const char *arg = nullptr)
{
    return help_output([&] { EXPECT_EQ(show_information(nullptr, opt, arg), 0); });
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool has_line_matching(const std::string &text, const std::string &pattern)
{
    std::regex re(pattern);
    for (const std::string &line : split_lines(text))
        if (std::regex_match(line, re))
            return true;
    return false;
}

bool contains(const std::string &text, const std::string &needle)
{
    return text.find(needle) != std::string::npos;
}

int handler_never_called(void *, const char *, const char *)
{
    return 0;
}

#define ROW(name, flags, help, argname) {name, flags, {handler_never_called}, help, argname}

// One row for each way a flag set can place an option in the help listing.
const OptionEntry sample_table[] = {
    ROW("x_info", OPTF_EXIT, "information", nullptr),
    ROW("x_global", OPTF_BOOL, "global", nullptr),
    ROW("x_global_expert", OPTF_ARG | OPTF_EXPERT, "advanced global", "value"),
    ROW("x_file", OPTF_ARG | OPTF_PERFILE, "per file", "filename"),
    ROW("x_field_expert", OPTF_BOOL | OPTF_EXPERT | OPTF_FIELD, "advanced per file", nullptr),
    ROW("x_video", OPTF_ARG | OPTF_VIDEO | OPTF_SPEC, "video", "rate"),
    ROW("x_video_expert", OPTF_ARG | OPTF_VIDEO | OPTF_EXPERT, "advanced video", nullptr),
    ROW("x_audio", OPTF_ARG | OPTF_AUDIO | OPTF_SPEC, "audio", nullptr),
    ROW("x_audio_expert", OPTF_ARG | OPTF_AUDIO | OPTF_EXPERT | OPTF_SPEC, "advanced audio", nullptr),
    ROW("x_size", OPTF_ARG | OPTF_VIDEO | OPTF_SUBTITLE | OPTF_SPEC, "video and subtitle", nullptr),
    ROW("x_catch_all", OPTF_ARG | OPTF_EXPERT | OPTF_VIDEO | OPTF_AUDIO, "catch all", nullptr),
    {nullptr, 0, {}, nullptr, nullptr},
};

// Row name -> headings of the sections that list it.
std::map<std::string, std::set<std::string>> rows_by_section(const std::string &text)
{
    std::map<std::string, std::set<std::string>> placed;
    std::string heading;
    for (const std::string &line : split_lines(text)) {
        if (line.empty())
            heading.clear();
        else if (line[0] == '-')
            placed[line.substr(1, line.find(' ') - 1)].insert(heading);
        else
            heading = line;
    }
    return placed;
}

// ---- help sections ------------------------------------------------------------------

TEST(HelpSections, EachRowIsListedUnderTheSectionsItsFlagsSelect)
{
    std::string text = help_output([] { show_help_sections(sample_table, true); });
    auto placed = rows_by_section(text);

    const std::map<std::string, std::set<std::string>> expected = {
        {"x_info", {"Print help / information / capabilities:"}},
        {"x_global", {"Global options (affect whole program instead of just one file:"}},
        {"x_global_expert", {"Advanced global options:"}},
        {"x_file", {"Per-file main options:"}},
        {"x_field_expert", {"Advanced per-file options:"}},
        {"x_video", {"Video options:"}},
        // Without a per-file flag an expert media row is also an advanced global one.
        {"x_video_expert", {"Advanced Video options:", "Advanced global options:"}},
        {"x_audio", {"Audio options:"}},
        {"x_audio_expert", {"Advanced Audio options:"}},
        {"x_size", {"Video options:", "Subtitle options:"}},
        // Video and audio together fall out of every media section.
        {"x_catch_all", {"Advanced global options:"}},
    };
    for (const auto &[row, sections] : expected)
        EXPECT_EQ(placed[row], sections) << "row " << row;
}

TEST(HelpSections, SectionWithoutRowsPrintsOnlyAnEmptyLine)
{
    const OptionEntry no_subtitles[] = {ROW("x_video", OPTF_VIDEO, "video", nullptr),
                                        {nullptr, 0, {}, nullptr, nullptr}};
    const HelpSection &subtitles = help_sections[help_section_count - 1];
    ASSERT_STREQ(subtitles.heading, "Subtitle options:");
    EXPECT_EQ(help_output([&] { show_help_section(no_subtitles, subtitles); }), "\n");
}

TEST(HelpSections, EverySectionEndsWithAnEmptyLineAndTheListingWithOneMore)
{
    const OptionEntry only_info[] = {ROW("x_info", OPTF_EXIT, "information", nullptr),
                                     {nullptr, 0, {}, nullptr, nullptr}};
    EXPECT_EQ(help_output([&] { show_help_sections(only_info, false); }),
              "Print help / information / capabilities:\n"
              "-x_info             information\n"
              "\n" // end of this section
              "\n\n\n\n\n" // the five empty basic sections
              "\n");       // end of the listing
}

TEST(HelpSections, RowShowsNameAndArgumentInAPaddedColumn)
{
    const OptionEntry rows[] = {
        ROW("i", OPTF_ARG | OPTF_PERFILE, "input file name", "filename"),
        ROW("y", OPTF_BOOL, "overwrite output files", nullptr),
        ROW("map", OPTF_ARG | OPTF_PERFILE | OPTF_EXPERT, "set input stream mapping",
            "[-]input_file_id[:stream_specifier][,sync_file_id[:stream_specifier]]"),
        {nullptr, 0, {}, nullptr, nullptr},
    };
    std::string text = help_output([&] { show_help_sections(rows, true); });
    EXPECT_TRUE(contains(text, "\n-i filename         input file name\n"));
    EXPECT_TRUE(contains(text, "\n-y                  overwrite output files\n"));
    // Name and argument share a 64-byte buffer: 63 characters at most.
    EXPECT_TRUE(contains(text, "\n-map [-]input_file_id[:stream_specifier][,sync_file_id[:stream_s"
                               "  set input stream mapping\n"));
}

// ---- help topics --------------------------------------------------------------------

TEST(HelpTopics, WithoutTopicShowsUsageGettingHelpAndBasicSections)
{
    std::string text = help_output([] { show_help(sample_table, nullptr); });
    EXPECT_EQ(text.rfind("Hyper fast Audio and Video encoder\n"
                         "usage: ffmpeg_exec [options] [[infile options] -i infile]... "
                         "{[outfile options] outfile}...\n\n"
                         "Getting help:\n"
                         "    -h      -- print basic options\n"
                         "    -h long -- print more options\n"
                         "    -h full -- print all options (including all format and codec "
                         "specific options, very long)\n"
                         "    See man ffmpeg_exec for detailed description of the options.\n\n"
                         "Print help / information / capabilities:\n",
                         0),
              0u);
    EXPECT_FALSE(contains(text, "Unknown help option"));
    EXPECT_FALSE(contains(text, "Advanced global options:"));
    EXPECT_FALSE(contains(text, "AVOptions:"));
}

TEST(HelpTopics, TopicsChooseSectionsAndClassLists)
{
    struct Case {
        const char *topic;
        bool unknown;
        bool advanced;
        bool class_lists;
    } cases[] = {
        {"", false, false, false},         {"long", false, true, false},
        {"full", false, true, true},       {"bogus", true, false, false},
        {"bogus=param", true, false, false},
    };
    for (const Case &c : cases) {
        std::string text = help_output([&] { show_help(sample_table, c.topic); });
        std::string topic = std::string(c.topic).substr(0, std::string(c.topic).find('='));
        EXPECT_EQ(contains(text, "Unknown help option '" + topic + "'.\n"), c.unknown) << c.topic;
        EXPECT_TRUE(contains(text, "Getting help:\n")) << c.topic;
        EXPECT_TRUE(contains(text, "-x_video rate       video\n")) << c.topic;
        EXPECT_EQ(contains(text, "Advanced Video options:\n"), c.advanced) << c.topic;
        for (const char *cls : {"AVCodecContext AVOptions:", "AVFormatContext AVOptions:",
                                "SWScaler AVOptions:", "SWResampler AVOptions:",
                                "AVFilter AVOptions:", "libx264 AVOptions:"})
            EXPECT_EQ(contains(text, cls), c.class_lists) << c.topic << " " << cls;
    }
}

// ---- codec and format descriptions --------------------------------------------------

struct DescriptionCase {
    const char *topic;
    std::vector<std::string> lines;  // whole lines expected
    std::vector<std::string> absent; // texts that must not appear
};

TEST(HelpTopics, CodecAndFormatTopicsDescribeTheNamedItem)
{
    const DescriptionCase cases[] = {
        {"decoder=h264",
         {"Decoder h264 [H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10]:",
          "    Threading capabilities: frame and slice", "H264 Decoder AVOptions:"},
         {"Encoder", "Getting help:"}},
        {"encoder=libx264",
         {"Encoder libx264 [libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10]:",
          "libx264 AVOptions:"},
         {"Decoder", "Supported sample formats:"}},
        // No encoder is called "h264": every encoder of the codec is described.
        {"encoder=h264",
         {"Encoder libx264 [libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10]:",
          "Encoder libx264rgb [libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10 RGB]:"},
         {"Decoder"}},
        {"encoder=pcm_s16le",
         {"Encoder pcm_s16le [PCM signed 16-bit little-endian]:",
          "    Supported sample formats: s16"},
         {"Threading capabilities"}},
        {"demuxer=matroska",
         {"Demuxer matroska,webm [Matroska / WebM]:",
          "    Common extensions: mkv,mk3d,mka,mks,webm."},
         {"Muxer"}},
        {"muxer=mp4",
         {"Muxer mp4 [MP4 (MPEG-4 Part 14)]:", "    Common extensions: mp4.",
          "    Mime type: video/mp4.", "    Default video codec: h264.",
          "    Default audio codec: aac."},
         {"Default subtitle codec", "Demuxer"}},
        {"muxer=matroska", {"Muxer matroska [Matroska]:", "    Default subtitle codec: ass."}, {}},
        {"encoder=aac", {"Encoder aac [AAC (Advanced Audio Coding)]:",
                         "    Supported sample formats: fltp"}, {}},
    };
    for (const DescriptionCase &c : cases) {
        std::string text = information("h", c.topic);
        auto lines = split_lines(text);
        ASSERT_FALSE(lines.empty()) << c.topic;
        EXPECT_EQ(lines[0], c.lines[0]) << c.topic;
        for (const std::string &l : c.lines)
            EXPECT_NE(std::find(lines.begin(), lines.end(), l), lines.end()) << c.topic << ": " << l;
        for (const std::string &a : c.absent)
            EXPECT_FALSE(contains(text, a)) << c.topic << ": " << a;
    }
}

TEST(HelpTopics, UnknownNamesGetTheirMessages)
{
    const std::pair<const char *, const char *> cases[] = {
        {"decoder", "No codec name specified.\n"},
        {"encoder=", "No codec name specified.\n"},
        {"encoder=no_such_codec", "Codec 'no_such_codec' is not recognized by FFmpeg.\n"},
        {"encoder=vp6",
         "Codec 'vp6' is known to FFmpeg, but no encoders for it are available. FFmpeg might "
         "need to be recompiled with additional external libraries.\n"},
        {"demuxer=no_such_format", "Unknown format 'no_such_format'.\n"},
        {"muxer=no_such_format", "Unknown format 'no_such_format'.\n"},
        {"muxer=", "Unknown format ''.\n"},
    };
    for (const auto &[topic, message] : cases)
        EXPECT_EQ(information("h", topic), message) << topic;
}

// ---- version, banner, licence -------------------------------------------------------

TEST(Version, PrintsOnlyThePostprocLineWithoutIndent)
{
    std::string text = information("version");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m,
                                 std::regex("libpostproc    ([ 0-9]{2}\\.[ 0-9]{3}\\.[ 0-9]{3}) / "
                                            "([ 0-9]{2}\\.[ 0-9]{3}\\.[ 0-9]{3})\n")))
        << text;
    char built[32];
    snprintf(built, sizeof(built), "%2d.%3d.%3d", LIBPOSTPROC_VERSION_MAJOR,
             LIBPOSTPROC_VERSION_MINOR, LIBPOSTPROC_VERSION_MICRO);
    EXPECT_EQ(m[1].str(), built);
    EXPECT_EQ(m[2].str(), built) << "loaded library differs from the headers";
}

TEST(Banner, IndentedVersionLineUnlessVersionIsOnTheCommandLine)
{
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"ffmpeg", "-i", "in.mkv", "out.mp4"}, true},
        {{"ffmpeg", "-i", "in.mkv", "-version"}, false},
    };
    for (auto [words, shown] : cases) {
        LogCapture log(AV_LOG_DEBUG);
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        show_banner(int(argv.size()), argv.data(), option_table);
        // The configuration recorded at build time matches the library: no warning.
        EXPECT_TRUE(shown ? std::regex_match(log.all_text(), std::regex("  libpostproc    [^\n]*\n"))
                          : log.all_text().empty())
            << words.back() << ": " << log.all_text();
    }
}

TEST(Banner, ConfigurationMismatchWarnsOnceAndShowsTheLibrarysConfiguration)
{
    LogCapture log(AV_LOG_INFO);
    EXPECT_EQ(check_library_configuration("  ", built_postproc_configuration()), 0);
    EXPECT_EQ(log.all_text(), "");

    std::string loaded = postproc_configuration();
    std::string expected_config_line = "  postproc    configuration: " + loaded + "\n";
    EXPECT_EQ(check_library_configuration("  ", "--a-different-build"), 1);
    EXPECT_EQ(log.all_text(), "  WARNING: library configuration mismatch\n" + expected_config_line);
    log.clear();
    EXPECT_EQ(check_library_configuration("  ", "--a-different-build"), 1);
    EXPECT_EQ(log.all_text(), expected_config_line);
}

TEST(Licence, NamesTheProgramInItsThreePlaces)
{
    std::string text = information("L");
    EXPECT_EQ(text.rfind("ffmpeg_exec is free software; you can redistribute it and/or modify\n", 0),
              0u);
    EXPECT_TRUE(contains(text, "either version 2 of the License, or\n(at your option) any later"));
    EXPECT_TRUE(contains(text, "\nffmpeg_exec is distributed in the hope that it will be useful,\n"));
    EXPECT_TRUE(contains(text, "\nalong with ffmpeg_exec; if not, write to the Free Software\n"));
}

// ---- lists --------------------------------------------------------------------------

struct ListCase {
    const char *option;
    const char *heading;                // the output starts with it
    std::vector<std::string> entries;   // line patterns that must match some line
};

TEST(Lists, EachStartsWithItsHeadingAndHoldsKnownEntries)
{
    const ListCase cases[] = {
        {"formats", "File formats:\n D. = Demuxing supported\n .E = Muxing supported\n --\n",
         {"  E mp4             MP4 \\(MPEG-4 Part 14\\)", " DE avi             AVI .*",
          " D  mov,mp4,m4a,3gp,3g2,mj2 QuickTime / MOV"}},
        {"codecs",
         "Codecs:\n D..... = Decoding supported\n .E.... = Encoding supported\n"
         " ..V... = Video codec\n ..A... = Audio codec\n ..S... = Subtitle codec\n"
         " ...I.. = Intra frame-only codec\n ....L. = Lossy compression\n"
         " .....S = Lossless compression\n -------\n",
         {" DEV.LS h264                 H\\.264 / AVC / MPEG-4 AVC / MPEG-4 part 10 "
          "\\(decoders: h264 .*\\) \\(encoders: libx264 libx264rgb .*\\)",
          " DEA.L. mp2                  MP2 \\(MPEG audio layer 2\\).*",
          " D.V.L. vp6                  On2 VP6"}},
        {"decoders",
         "Decoders:\n V..... = Video\n A..... = Audio\n S..... = Subtitle\n"
         " .F.... = Frame-level multithreading\n ..S... = Slice-level multithreading\n"
         " ...X.. = Codec is experimental\n ....B. = Supports draw_horiz_band\n"
         " .....D = Supports direct rendering method 1\n ------\n",
         {" VFS..D h264                 H\\.264 / AVC / MPEG-4 AVC / MPEG-4 part 10",
          " V..... libdav1d             .* \\(codec av1\\)"}},
        {"encoders", "Encoders:\n V..... = Video\n",
         {" V[.F][.S][.X][.B][.D] libx264              libx264 H\\.264 .* \\(codec h264\\)",
          " A[.F][.S][.X][.B][.D] aac                  AAC \\(Advanced Audio Coding\\)"}},
        {"bsfs", "Bitstream filters:\n", {"h264_mp4toannexb", "aac_adtstoasc"}},
        {"protocols", "Supported file protocols:\nInput:\n", {"file", "Output:"}},
        {"filters", "Filters:\n",
         {"scale            V->V       Scale the input video size and/or convert the image format\\.",
          "testsrc          \\|->V       .*", "nullsink         V->\\|       .*",
          "split            V->N       .*", "amix             N->A       .*",
          "amerge           N->A       .*"}},
        {"pix_fmts",
         "Pixel formats:\nI.... = Supported Input  format for conversion\n"
         ".O... = Supported Output format for conversion\n..H.. = Hardware accelerated format\n"
         "...P. = Paletted format\n....B = Bitstream format\n"
         "FLAGS NAME            NB_COMPONENTS BITS_PER_PIXEL\n-----\n",
         {"IO\\.\\.\\. yuv420p                3            12",
          "I\\.\\.P\\. pal8                   1             8",
          "IO\\.\\.B monob                  1             1",
          "\\.\\.H\\.\\. vaapi                  0             0"}},
        {"layouts", "Individual channels:\nNAME        DESCRIPTION\nFL          front left\n",
         {"LFE         low frequency", "stereo      FL\\+FR",
          "5\\.1\\(side\\)   FL\\+FR\\+FC\\+LFE\\+SL\\+SR"}},
        {"sample_fmts", "name   depth\nu8        8 \n", {"s16 +16 ", "s64p +64 "}},
    };
    for (const ListCase &c : cases) {
        std::string text = information(c.option);
        EXPECT_EQ(text.rfind(c.heading, 0), 0u) << c.option << ":\n" << text.substr(0, 400);
        for (const std::string &pattern : c.entries)
            EXPECT_TRUE(has_line_matching(text, pattern)) << c.option << ": " << pattern;
    }
}

TEST(Lists, FormatNamesAreUniqueInByteOrder)
{
    auto lines = split_lines(information("formats"));
    ASSERT_GT(lines.size(), 4u);
    std::string previous = "000";
    for (size_t i = 4; i < lines.size(); i++) {
        std::string name = lines[i].substr(4, lines[i].find(' ', 4) - 4);
        EXPECT_LT(previous, name) << "line " << i;
        previous = name;
    }
}

TEST(Lists, CodecsAreOrderedByMediaTypeThenName)
{
    const std::string type_order = "VADST";
    auto lines = split_lines(information("codecs"));
    ASSERT_GT(lines.size(), 10u);
    std::pair<size_t, std::string> previous{0, ""};
    for (size_t i = 10; i < lines.size(); i++) {
        size_t type = type_order.find(lines[i][3]);
        ASSERT_NE(type, std::string::npos) << lines[i];
        std::pair<size_t, std::string> key{type, lines[i].substr(8, lines[i].find(' ', 8) - 8)};
        EXPECT_LT(previous, key) << lines[i];
        previous = key;
    }
}

TEST(Lists, BitstreamFiltersEndWithAnEmptyLineAndProtocolsComeInTwoGroups)
{
    std::string bsfs = information("bsfs");
    EXPECT_EQ(bsfs.substr(bsfs.size() - 2), "\n\n");

    auto lines = split_lines(information("protocols"));
    auto output = std::find(lines.begin(), lines.end(), "Output:");
    ASSERT_NE(output, lines.end());
    EXPECT_NE(std::find(lines.begin() + 2, output, "file"), output);
    EXPECT_NE(std::find(output, lines.end(), "file"), lines.end());
    // Reading-only protocols are not offered for output.
    EXPECT_NE(std::find(lines.begin() + 2, output, "bluray"), output);
    EXPECT_EQ(std::find(output, lines.end(), "bluray"), lines.end());
}

// ---- through the command-line program ------------------------------------------------

struct CommandLineCase {
    std::vector<std::string> args;
    std::vector<std::string> printed;     // on standard output
    std::vector<std::string> not_printed; // nowhere on standard output
    bool banner;                          // library version line on standard error
};

TEST(CommandLine, InformationalOptionsPrintOnStandardOutputAndFail)
{
    const std::string version_line = "libpostproc    ";
    const CommandLineCase cases[] = {
        {{"-h"},
         {"usage: ffmpeg_exec [options]", "Getting help:\n",
          "Print help / information / capabilities:\n-L                  ",
          "\n-i filename         input file name\n", "\nSubtitle options:\n"},
         {"Unknown help option", "Advanced global options:", "AVOptions"},
         true},
        {{"--help", "long"}, {"Advanced global options:\n", "Advanced Video options:\n"},
         {"Unknown help option", "AVOptions"}, true},
        {{"-?", "decoder=h264"}, {"Decoder h264 [", "Threading capabilities"}, {"Getting help:"},
         true},
        {{"-version"}, {version_line}, {"  libpostproc", "Getting help:"}, false},
        {{"-encoders"}, {"Encoders:\n", " libx264  "}, {version_line}, true},
        {{"-formats", "-version"}, {"  E mp4 "}, {version_line}, false},
    };
    for (const CommandLineCase &c : cases) {
        std::string name = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        ChildResult r = run_cli(c.args, "", {}, 60);
        EXPECT_EQ(r.exit_status, 1) << name;
        for (const std::string &t : c.printed)
            EXPECT_TRUE(contains(r.out, t)) << name << ": " << t;
        for (const std::string &t : c.not_printed)
            EXPECT_FALSE(contains(r.out, t)) << name << ": " << t;
        EXPECT_EQ(contains(r.err, "  " + version_line), c.banner) << name << ":\n" << r.err;
    }
    // "-version" prints its one line and nothing else.
    ChildResult version = run_cli({"-version"});
    EXPECT_TRUE(std::regex_match(version.out, std::regex("libpostproc    [ .0-9]+ / [ .0-9]+\n")))
        << version.out;
}

} // namespace
