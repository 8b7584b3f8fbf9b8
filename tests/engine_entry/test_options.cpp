// The option table and the per-file context: every row is reachable and stores
// or dispatches as its kind says; the handlers of the table; the reset between
// files and the per-stream look-up.
#include "engine_harness.h"

#include "engine.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- helpers ----------------------------------------------------------------------

const char *const ANY = "\x01any"; // column not checked

std::string item_text(const SpecList &l, int i, int flags)
{
    const SpecValue &v = l.items[i];
    std::string value;
    if (flags & OPTF_STRING)
        value = v.u.str;
    else if (flags & (OPTF_INT | OPTF_BOOL))
        value = std::to_string(v.u.i);
    else if (flags & OPTF_INT64)
        value = std::to_string(v.u.i64);
    else if (flags & OPTF_DOUBLE)
        value = std::to_string(v.u.dbl);
    return std::string(v.specifier) + "=" + value;
}

std::string dict_value(AVDictionary *d, const char *key)
{
    const AVDictionaryEntry *e = av_dict_get(d, key, nullptr, 0);
    return e ? e->value : "(absent)";
}

class OptionsTest : public ::testing::Test {
protected:
    PerFileOptions o{};
    LogCapture log;
    void SetUp() override { reset_file_options(&o, 0); }
    void TearDown() override
    {
        reset_file_options(&o, 0);
        release_option_state();
    }
    int apply(const char *name, const char *arg = nullptr)
    {
        return apply_option(&o, name, arg, option_table);
    }
    SpecList &list_of(const char *row)
    {
        const OptionEntry *po = find_option_entry(option_table, row);
        return *(SpecList *)((uint8_t *)&o + po->u.off);
    }
    std::vector<std::string> items(const char *row)
    {
        const OptionEntry *po = find_option_entry(option_table, row);
        std::vector<std::string> out;
        const SpecList &l = list_of(row);
        for (int i = 0; i < l.count; i++)
            out.push_back(item_text(l, i, po->flags));
        return out;
    }
};

// ---- the table's shape -------------------------------------------------------------

TEST(OptionTable, HasEveryRowInHelpOrderEachReachableByName)
{
    const std::vector<std::string> names = {
        "L", "h", "?", "help", "-help", "version", "formats", "codecs", "decoders", "encoders",
        "bsfs", "protocols", "filters", "pix_fmts", "layouts", "sample_fmts", "loglevel", "v",
        "debug", "fdebug", "report", "max_alloc", "cpuflags", "f", "i", "y", "n", "c", "codec",
        "pre", "map", "map_channel", "map_metadata", "map_chapters", "t", "fs", "ss",
        "itsoffset", "itsscale", "timestamp", "metadata", "dframes", "benchmark",
        "benchmark_all", "progress", "stdin", "timelimit", "dump", "hex", "re", "target",
        "vsync", "async", "adrift_threshold", "copyts", "copytb", "shortest",
        "dts_delta_threshold", "dts_error_threshold", "xerror", "copyinkf", "copypriorss",
        "frames", "tag", "q", "qscale", "profile", "filter", "filter_complex", "stats", "attach",
        "dump_attachment", "debug_ts", "vframes", "r", "s", "aspect", "pix_fmt",
        "bits_per_raw_sample", "croptop", "cropbottom", "cropleft", "cropright", "padtop",
        "padbottom", "padleft", "padright", "padcolor", "intra", "vn", "vdt", "rc_override",
        "vcodec", "timecode", "pass", "passlogfile", "deinterlace", "psnr", "vstats",
        "vstats_file", "vf", "intra_matrix", "inter_matrix", "top", "dc", "vtag", "qphist",
        "force_fps", "streamid", "force_key_frames", "b", "aframes", "aq", "ar", "ac", "an",
        "acodec", "atag", "vol", "sample_fmt", "channel_layout", "af", "sn", "scodec", "stag",
        "fix_sub_duration", "vc", "tvstd", "isync", "muxdelay", "muxpreload", "bsf", "absf",
        "vbsf", "apre", "vpre", "spre", "fpre", "dcodec", "dn", "default"};
    ASSERT_EQ(names.size(), 141u);
    std::vector<std::string> table;
    for (const OptionEntry *po = option_table; po->name; po++) {
        table.push_back(po->name);
        EXPECT_EQ(find_option_entry(option_table, po->name), po) << po->name << " is shadowed";
        EXPECT_NE(po->help, nullptr) << po->name;
    }
    EXPECT_EQ(table, names);
    for (const char *absent : {"level", "strict", "preset", "g", "maxrate"})
        EXPECT_EQ(find_option_entry(option_table, absent)->name, nullptr) << absent;
}

struct FixedRow {
    const char *name;
    int flags;
    const char *argname;
    const char *help;
};

TEST(OptionTable, RowsWithFixedFlagsArgnamesAndHelp)
{
    const FixedRow rows[] = {
        {"i", 0x2001, "filename", "input file name"},
        {"f", 0x4009, "fmt", "force format"},
        {"y", 0x2, nullptr, "overwrite output files"},
        {"n", 0x2, nullptr, "do not overwrite output files"},
        {"c", 0x8009, "codec", "codec name"},
        {"codec", 0x8009, "codec", "codec name"},
        {"pre", 0x8009, "preset", "preset name"},
        {"map", 0x2005, "[-]input_file_id[:stream_specifier][,sync_file_id[:stream_specifier]]",
         "set input stream mapping"},
        {"map_channel", 0x2005, "file.stream.channel[:syncfile.syncstream]",
         "map an audio channel from one stream to another"},
        {"map_metadata", 0x8009, "outfile[,metadata]:infile[,metadata]",
         "set metadata information of outfile from infile"},
        {"map_chapters", 0x4085, "input_file_index", "set chapters mapping"},
        {"t", 0x14001, "duration", "record or transcode \"duration\" seconds of audio/video"},
        {"fs", 0x4401, "limit_size", "set the limit file size in bytes"},
        {"ss", 0x14001, "time_off", "set the start time offset"},
        {"itsoffset", 0x14005, "time_off", "set the input ts offset"},
        {"itsscale", 0x28005, "scale", "set the input ts scale"},
        {"metadata", 0x8009, "string=string", "add metadata"},
        {"stdin", 0x6, nullptr, "enable or disable interaction on standard input"},
        {"re", 0x4006, nullptr, "read input at native frame rate"},
        {"vsync", 0x5, nullptr, "video sync method"},
        {"async", 0x85, nullptr, "audio sync method"},
        {"adrift_threshold", 0x105, "threshold", "audio drift threshold"},
        {"copyts", 0x6, nullptr, "copy timestamps"},
        {"copytb", 0x85, "mode", "copy input stream time base when stream copying"},
        {"shortest", 0x4006, nullptr, "finish encoding within shortest input"},
        {"dts_delta_threshold", 0x105, "threshold", "timestamp discontinuity delta threshold"},
        {"dts_error_threshold", 0x105, "threshold", "timestamp error delta threshold"},
        {"xerror", 0x6, "error", "exit on error"},
        {"frames", 0x8401, "number", "set the number of frames to record"},
        {"q", 0x28005, "q", "use fixed quality scale (VBR)"},
        {"profile", 0x2005, "profile", "set profile"},
        {"filter", 0x8009, "filter_list", "set stream filterchain"},
        {"filter_complex", 0x5, "graph_description", "create a complex filtergraph"},
        {"stats", 0x2, nullptr, "print progress report during encoding"},
        {"r", 0x8019, "rate", "set frame rate (Hz value, fraction or abbreviation)"},
        {"s", 0x8219, "size", "set frame size (WxH or abbreviation)"},
        {"pix_fmt", 0x801d, "format", "set pixel format"},
        {"vn", 0x4012, nullptr, "disable video"},
        {"an", 0x4022, nullptr, "disable audio"},
        {"sn", 0x4202, nullptr, "disable subtitle"},
        {"dn", 0x4012, nullptr, "disable data"},
        {"ar", 0x80a1, "rate", "set audio sampling rate (in Hz)"},
        {"ac", 0x80a1, "channels", "set number of audio channels"},
        {"vol", 0xa1, "volume", "change audio volume (256=normal)"},
        {"dc", 0x95, "precision", "intra_dc_precision"},
        {"b", 0x2011, "bitrate", "video bitrate (please use -b:v)"},
        {"attach", 0x2005, "filename", "add an attachment to the output file"},
        {"progress", 0x5, "url", "write program-readable progress information"},
        {"target", 0x2001, "type",
         "specify target file type (\"vcd\", \"svcd\", \"dvd\", \"dv\", \"dv50\", \"pal-vcd\", "
         "\"ntsc-svcd\", ...)"},
        {"default", 0x35, "", "generic catch all option"},
        {"loglevel", 0x1, "loglevel", ANY},
        {"v", 0x1, "loglevel", ANY},
        {"debug", 0x1, "flags", ANY},
        {"fdebug", 0x1, "flags", ANY},
        {"report", 0x0, ANY, ANY},
        {"max_alloc", 0x1, "bytes", ANY},
        {"cpuflags", 0x5, "flags", ANY},
        {"timelimit", 0x5, "limit", ANY},
        {"bits_per_raw_sample", 0x91, ANY, ANY},
        {"vdt", 0x95, ANY, "discard threshold"},
        {"intra", -1, ANY, "deprecated use -g 1"},
        {"isync", -1, ANY, "this option is deprecated and does nothing"},
        {"bsf", -1, ANY, "A comma-separated list of bitstream filters"},
        {"muxdelay", -1, "seconds", ANY},
        {"apre", -1, "preset", ANY},
        {"vpre", -1, "preset", ANY},
        {"spre", -1, "preset", ANY},
        {"fpre", -1, "filename", ANY},
        {"-help", 0x800, "topic", ANY},
        {"croptop", -1, ANY, "Removed, use the crop filter instead"},
        {"padcolor", -1, ANY, "Removed, use the pad filter instead"},
    };
    for (const FixedRow &r : rows) {
        const OptionEntry *po = find_option_entry(option_table, r.name);
        ASSERT_NE(po->name, nullptr) << r.name;
        if (r.flags != -1) {
            EXPECT_EQ(po->flags, r.flags) << r.name;
        }
        if (r.argname != ANY) {
            EXPECT_STREQ(po->argname, r.argname) << r.name;
        }
        if (r.help != ANY) {
            EXPECT_STREQ(po->help, r.help) << r.name;
        }
    }
    // The other stream lists keep to the flag ranges of their kind.
    for (const char *name : {"tag", "dump_attachment", "aspect", "rc_override", "passlogfile",
                             "intra_matrix", "inter_matrix", "force_key_frames", "sample_fmt",
                             "bsf", "pass", "top", "force_fps", "fix_sub_duration", "copyinkf",
                             "copypriorss"}) {
        const int flags = find_option_entry(option_table, name)->flags;
        const bool text = flags & OPTF_STRING;
        EXPECT_TRUE(flags & OPTF_SPEC) << name;
        EXPECT_GE(flags, text ? 0x8009 : 0x8006) << name;
        EXPECT_LE(flags, text ? 0x802d : 0x8095) << name;
    }
}

// ---- every row by its kind ---------------------------------------------------------

const int VALUE_KINDS = OPTF_STRING | OPTF_BOOL | OPTF_INT | OPTF_INT64 | OPTF_TIME |
                        OPTF_FLOAT | OPTF_DOUBLE;

// Rows whose handler lives with another stage of the engine.
const std::map<std::string, OptionHandler> delegated = {
    {"i", add_input_file},          {"map", handle_map},
    {"map_channel", handle_map_channel}, {"apre", handle_preset_file},
    {"vpre", handle_preset_file},   {"spre", handle_preset_file},
    {"fpre", handle_preset_file},   {"default", apply_library_option},
    {"loglevel", handle_loglevel},  {"v", handle_loglevel},
    {"debug", handle_debug},        {"fdebug", handle_debug},
    {"report", handle_report},      {"max_alloc", handle_max_alloc},
    {"cpuflags", handle_cpuflags},  {"timelimit", handle_timelimit},
};

// Rows whose handler is in the table's own file; each has its test below.
const std::set<std::string> own_handlers = {
    "timestamp", "dframes", "progress", "target", "vsync", "qscale", "profile",
    "filter_complex", "attach", "vframes", "croptop", "cropbottom", "cropleft", "cropright",
    "padtop", "padbottom", "padleft", "padright", "padcolor", "vcodec", "timecode",
    "deinterlace", "vstats", "vstats_file", "vf", "vtag", "streamid", "b", "aframes", "aq",
    "acodec", "atag", "channel_layout", "af", "scodec", "stag", "vc", "tvstd", "absf", "vbsf",
    "dcodec"};

// Stores a sample value through the row and checks where it landed.
void check_value_row(const OptionEntry *po)
{
    SCOPED_TRACE(po->name);
    PerFileOptions o{};
    reset_file_options(&o, 0);
    const bool in_context = po->flags & (OPTF_FIELD | OPTF_SPEC);
    uint8_t *dst = in_context ? (uint8_t *)&o + po->u.off : (uint8_t *)po->u.dst_ptr;
    if (in_context) {
        ASSERT_LE(po->u.off + sizeof(int), sizeof(PerFileOptions));
    }
    uint8_t saved[4]; // globals are ints and floats
    memcpy(saved, dst, sizeof(saved));

    const std::string typed = std::string(po->name) + ((po->flags & OPTF_SPEC) ? ":v" : "");
    const char *sample = (po->flags & OPTF_STRING) ? "some text"
                         : (po->flags & OPTF_TIME) ? "2.5"
                         : (po->flags & (OPTF_FLOAT | OPTF_DOUBLE)) ? "0.5"
                                                                   : "12";
    int ret = apply_option(&o, typed.c_str(), sample, option_table);
    EXPECT_EQ(ret, (po->flags & OPTF_ARG) ? 1 : 0);

    if (po->flags & OPTF_SPEC) {
        const SpecList &l = *(const SpecList *)dst;
        ASSERT_EQ(l.count, 1);
        const char *expected = (po->flags & OPTF_STRING) ? "v=some text"
                               : (po->flags & OPTF_BOOL) ? "v=1"
                               : (po->flags & OPTF_DOUBLE) ? "v=0.500000"
                                                           : "v=12";
        EXPECT_EQ(item_text(l, 0, po->flags), expected);
    } else if (po->flags & OPTF_STRING) {
        EXPECT_STREQ(*(char **)dst, "some text");
    } else if (po->flags & OPTF_BOOL) {
        EXPECT_EQ(*(int *)dst, 1);
        std::string negated = std::string("no") + po->name;
        EXPECT_EQ(apply_option(&o, negated.c_str(), nullptr, option_table), 0);
        EXPECT_EQ(*(int *)dst, 0);
    } else if (po->flags & OPTF_INT) {
        EXPECT_EQ(*(int *)dst, 12);
    } else if (po->flags & (OPTF_INT64)) {
        EXPECT_EQ(*(int64_t *)dst, 12);
    } else if (po->flags & OPTF_TIME) {
        EXPECT_EQ(*(int64_t *)dst, 2500000);
    } else if (po->flags & OPTF_FLOAT) {
        EXPECT_EQ(*(float *)dst, 0.5f);
    } else if (po->flags & OPTF_DOUBLE) {
        EXPECT_EQ(*(double *)dst, 0.5);
    }
    if (!in_context)
        memcpy(dst, saved, sizeof(saved));
    reset_file_options(&o, 0);
}

TEST(OptionTable, EveryRowStoresOrDispatchesAsItsKindSays)
{
    LogCapture log;
    int value_rows = 0, handler_rows = 0;
    for (const OptionEntry *po = option_table; po->name; po++) {
        const int kinds = po->flags & VALUE_KINDS;
        if (kinds) {
            EXPECT_EQ(kinds & (kinds - 1), 0) << po->name << " has more than one value kind";
            check_value_row(po);
            value_rows++;
            continue;
        }
        handler_rows++;
        ASSERT_NE(po->u.func_arg, nullptr) << po->name << " stores nothing";
        EXPECT_EQ(po->flags & (OPTF_FIELD | OPTF_SPEC), 0) << po->name;
        if (po->flags & OPTF_EXIT) {
            EXPECT_EQ(po->u.func_arg, show_information) << po->name;
        } else if (delegated.count(po->name)) {
            EXPECT_EQ(po->u.func_arg, delegated.at(po->name)) << po->name;
        } else {
            EXPECT_TRUE(own_handlers.count(po->name)) << po->name << " has no handler test";
        }
    }
    EXPECT_EQ(value_rows + handler_rows, 141);
}

// ---- handlers ---------------------------------------------------------------------

TEST_F(OptionsTest, AmbiguousProfileBitrateAndQscaleDefaultToVideo)
{
    struct Case {
        const char *typed, *arg, *warning;
    } cases[] = {
        {"profile", "baseline", "Please use -profile:a or -profile:v, -profile is ambiguous\n"},
        {"profile:a", "aac_low", nullptr},
        {"b", "1M", "Please use -b:a or -b:v, -b is ambiguous\n"},
        {"b:a", "64k", nullptr},
        {"qscale", "4", "Please use -q:a or -q:v, -qscale is ambiguous\n"},
        {"qscale:a", "3", nullptr},
    };
    for (const Case &c : cases) {
        log.clear();
        EXPECT_EQ(apply(c.typed, c.arg), 1) << c.typed;
        if (c.warning)
            EXPECT_TRUE(log.has(c.warning, AV_LOG_WARNING)) << c.typed;
        else
            EXPECT_TRUE(log.lines().empty()) << c.typed << ": " << log.all_text();
    }
    EXPECT_EQ(dict_value(codec_options, "profile:v"), "baseline");
    EXPECT_EQ(dict_value(codec_options, "profile:a"), "aac_low");
    EXPECT_EQ(dict_value(codec_options, "b:v"), "1M");
    EXPECT_EQ(dict_value(codec_options, "b:a"), "64k");
    EXPECT_EQ(items("q"), (std::vector<std::string>{"v=4.000000", "a=3.000000"}));
}

TEST_F(OptionsTest, VsyncTakesNamesAlwaysAndNumbersOnlyWhileAutomatic)
{
    struct Case {
        std::vector<const char *> args;
        int method;
        const char *message;
    } cases[] = {
        {{"vfr", "1"}, VSYNC_VFR, nullptr},
        {{"1", "vfr"}, VSYNC_VFR, nullptr},
        {{"1", "0"}, VSYNC_CFR, nullptr},
        {{"CFR"}, VSYNC_CFR, nullptr},
        {{"PassThrough"}, VSYNC_PASSTHROUGH, nullptr},
        {{"drop"}, VSYNC_DROP, nullptr},
        {{"2"}, VSYNC_VFR, nullptr},
        {{"3"}, VSYNC_AUTO, "The value for vsync was 3 which is not within -1.000000 - 2.000000\n"},
        {{"1.5"}, VSYNC_AUTO, "Expected int for vsync but found 1.5\n"},
        {{"often"}, VSYNC_AUTO, "Expected number for vsync but found: often\n"},
    };
    for (const Case &c : cases) {
        video_sync_method = VSYNC_AUTO;
        log.clear();
        for (const char *a : c.args)
            EXPECT_EQ(apply("vsync", a), 1);
        EXPECT_EQ(video_sync_method, c.method) << c.args[0];
        if (c.message) {
            EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
        }
    }
    video_sync_method = VSYNC_AUTO;
}

TEST_F(OptionsTest, FilterComplexAppendsNumberedGraphsHoldingTheArgument)
{
    std::string first = "[0:v]scale=320:240[out]", second = "anullsrc";
    ASSERT_EQ(apply("filter_complex", first.c_str()), 1);
    ASSERT_EQ(apply("filter_complex", second.c_str()), 1);
    ASSERT_EQ(nb_filtergraphs, 2);
    EXPECT_EQ(filtergraphs[0]->index, 0);
    EXPECT_EQ(filtergraphs[1]->index, 1);
    EXPECT_EQ(filtergraphs[0]->description, first.c_str());
    EXPECT_EQ(filtergraphs[1]->description, second.c_str());
    EXPECT_EQ(filtergraphs[1]->graph, nullptr);
    engine_cleanup();
    reset_engine_state();
    EXPECT_EQ(nb_filtergraphs, 0);
    EXPECT_EQ(filtergraphs, nullptr);
}

TEST_F(OptionsTest, ProgressOpensItsOutputOrFails)
{
    std::string path = scratch_dir("progress") + "/progress.txt";
    ASSERT_EQ(apply("progress", path.c_str()), 1);
    ASSERT_NE(progress_avio, nullptr);
    avio_write(progress_avio, (const unsigned char *)"frame=1\n", 8);
    ASSERT_EQ(apply("progress", (path + "2").c_str()), 1) << "a second one replaces the first";
    avio_closep(&progress_avio);
    EXPECT_EQ(std::filesystem::file_size(path), 8u);

    EXPECT_LT(apply("progress", "/nonexistent-folder/progress.txt"), 0);
    EXPECT_EQ(progress_avio, nullptr);
    EXPECT_TRUE(log.has("Failed to set value '/nonexistent-folder/progress.txt' for option "
                        "'progress'\n",
                        AV_LOG_ERROR));
}

TEST_F(OptionsTest, AttachKeepsTheArgumentItself)
{
    std::string a = "cover.jpg", b = "font.ttf";
    ASSERT_EQ(apply("attach", a.c_str()), 1);
    ASSERT_EQ(apply("attach", b.c_str()), 1);
    ASSERT_EQ(o.nb_attach_files, 2);
    EXPECT_EQ(o.attach_files[0], a.c_str());
    EXPECT_EQ(o.attach_files[1], b.c_str());
}

TEST_F(OptionsTest, StreamIdStoresAtItsIndexAndRefusesIndexesOutOfRange)
{
    EXPECT_EQ(apply("streamid", "3:77"), 1);
    EXPECT_EQ(apply("streamid", "0:5"), 1);
    ASSERT_EQ(o.nb_stream_ids, 4);
    EXPECT_EQ(o.stream_ids[0], 5);
    EXPECT_EQ(o.stream_ids[1], 0);
    EXPECT_EQ(o.stream_ids[3], 77);
    EXPECT_EQ(apply("streamid", "1023:1"), 1);
    EXPECT_EQ(o.nb_stream_ids, 1024);

    struct Bad {
        const char *arg, *message;
    } bad[] = {
        {"1024:1", "The value for streamid was 1024 which is not within 0.000000 - 1023.000000\n"},
        {"-1:1", "The value for streamid was -1 which is not within 0.000000 - 1023.000000\n"},
        {"x:1", "Expected number for streamid but found: x\n"},
        {"12345678901234567:1", "Invalid value '12345678901234567:1' for option 'streamid', "
                                "required syntax is 'index:value'\n"},
        {"7", "Invalid value '7' for option 'streamid', required syntax is 'index:value'\n"},
    };
    for (const Bad &c : bad) {
        log.clear();
        EXPECT_EQ(apply("streamid", c.arg), AVERROR(EINVAL)) << c.arg;
        EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
        EXPECT_EQ(o.nb_stream_ids, 1024) << "nothing written for " << c.arg;
    }
}

TEST_F(OptionsTest, TimecodeAndTimestampBecomeMetadata)
{
    ASSERT_EQ(apply("timecode", "01:00:00:00"), 1);
    EXPECT_EQ(dict_value(codec_options, "gop_timecode"), "01:00:00:00");
    ASSERT_EQ(apply("timestamp", "2001-02-03T04:05:06Z"), 1);
    EXPECT_TRUE(log.has("timestamp is deprecated, set the 'creation_time' metadata tag instead.\n",
                        AV_LOG_WARNING));
    EXPECT_EQ(items("metadata"), (std::vector<std::string>{
                                     "g=timecode=01:00:00:00",
                                     "=creation_time=2001-02-03T04:05:06+0000"}));
}

TEST_F(OptionsTest, ChannelLayoutSetsLayoutAndChannelCount)
{
    ASSERT_EQ(apply("channel_layout:a", "stereo"), 1);
    ASSERT_EQ(apply("channel_layout", "5.1"), 1);
    EXPECT_EQ(dict_value(codec_options, "channel_layout:a"), "3");
    EXPECT_EQ(dict_value(codec_options, "channel_layout"), "63");
    EXPECT_EQ(items("ac"), (std::vector<std::string>{"a=2", "=6"}));

    EXPECT_EQ(apply("channel_layout", "sideways"), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unknown channel layout: sideways\n", AV_LOG_ERROR));
    EXPECT_EQ(list_of("ac").count, 2);
}

TEST_F(OptionsTest, VideoStatisticsFileName)
{
    ASSERT_EQ(apply("vstats"), 0);
    ASSERT_NE(vstats_filename, nullptr);
    EXPECT_TRUE(std::regex_match(vstats_filename, std::regex("vstats_[0-9]{6}\\.log")))
        << vstats_filename;
    std::string name = "my.log";
    ASSERT_EQ(apply("vstats_file", name.c_str()), 1);
    name[0] = 'X';
    EXPECT_STREQ(vstats_filename, "my.log");
    av_freep(&vstats_filename);
}

TEST_F(OptionsTest, RemovedAndDeprecatedOptions)
{
    for (const char *name : {"croptop", "cropbottom", "cropleft", "cropright"}) {
        EXPECT_EQ(apply(name, "8"), AVERROR(EINVAL));
        EXPECT_TRUE(log.has(std::string("Option '") + name +
                                "' has been removed, use the crop filter instead\n",
                            AV_LOG_FATAL));
    }
    for (const char *name : {"padtop", "padbottom", "padleft", "padright", "padcolor"}) {
        EXPECT_EQ(apply(name, "8"), AVERROR(EINVAL));
        EXPECT_TRUE(log.has(std::string("Option '") + name +
                                "' has been removed, use the pad filter instead\n",
                            AV_LOG_FATAL));
    }
    do_deinterlace = 0;
    EXPECT_EQ(apply("deinterlace"), 0);
    EXPECT_EQ(do_deinterlace, 1);
    EXPECT_TRUE(log.has("-deinterlace is deprecated, use -filter:v yadif instead\n", AV_LOG_WARNING));
    do_deinterlace = 0;

    avdevice_register_all(); // capture devices own "channel" and "standard"
    apply("vc", "1");
    apply("tvstd", "PAL");
    EXPECT_TRUE(log.has("This option is deprecated, use -channel.\n", AV_LOG_WARNING));
    EXPECT_TRUE(log.has("This option is deprecated, use -standard.\n", AV_LOG_WARNING));
    EXPECT_EQ(dict_value(format_options, "channel"), "1");
    EXPECT_EQ(dict_value(format_options, "standard"), "PAL");
}

TEST_F(OptionsTest, AliasesApplyTheirStreamSpecificOption)
{
    struct Case {
        const char *alias, *arg, *row, *expected;
    } cases[] = {
        {"vcodec", "libx264", "c", "v=libx264"}, {"acodec", "aac", "c", "a=aac"},
        {"scodec", "mov_text", "c", "s=mov_text"}, {"dcodec", "copy", "c", "d=copy"},
        {"vframes", "10", "frames", "v=10"},    {"aframes", "11", "frames", "a=11"},
        {"dframes", "12", "frames", "d=12"},    {"vf", "null", "filter", "v=null"},
        {"af", "anull", "filter", "a=anull"},   {"aq", "2", "q", "a=2.000000"},
        {"vtag", "avc1", "tag", "v=avc1"},      {"atag", "mp4a", "tag", "a=mp4a"},
        {"stag", "tx3g", "tag", "s=tx3g"},      {"absf", "aac_adtstoasc", "bsf", "a=aac_adtstoasc"},
        {"vbsf", "h264_mp4toannexb", "bsf", "v=h264_mp4toannexb"},
    };
    for (const Case &c : cases) {
        reset_file_options(&o, 0);
        EXPECT_EQ(apply(c.alias, c.arg), 1) << c.alias;
        EXPECT_EQ(items(c.row), std::vector<std::string>{c.expected}) << c.alias;
    }
}

// ---- "target" -------------------------------------------------------------------------

struct FakeInput {
    FakeInput(AVRational frame_rate)
    {
        InFile *f = (InFile *)av_mallocz(sizeof(InFile));
        f->ctx = avformat_alloc_context();
        AVStream *audio = avformat_new_stream(f->ctx, nullptr);
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->r_frame_rate = AVRational{25, 1}; // not a video stream: ignored
        AVStream *video = avformat_new_stream(f->ctx, nullptr);
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->r_frame_rate = frame_rate;
        GROW_TABLE(input_files, nb_input_files);
        input_files[nb_input_files - 1] = f;
    }
    ~FakeInput()
    {
        for (int i = 0; i < nb_input_files; i++) {
            avformat_free_context(input_files[i]->ctx);
            av_free(input_files[i]);
        }
        av_freep(&input_files);
        nb_input_files = 0;
    }
};

TEST_F(OptionsTest, TargetAppliesItsSettingsForTheNorm)
{
    ASSERT_EQ(apply("target", "pal-vcd"), 1);
    EXPECT_EQ(items("c"), (std::vector<std::string>{"v=mpeg1video", "a=mp2"}));
    EXPECT_STREQ(o.forced_format, "vcd");
    EXPECT_EQ(items("s"), std::vector<std::string>{"=352x288"});
    EXPECT_EQ(items("r"), std::vector<std::string>{"=25"});
    EXPECT_EQ(items("ar"), std::vector<std::string>{"=44100"});
    EXPECT_EQ(items("ac"), std::vector<std::string>{"=2"});
    EXPECT_EQ(dict_value(codec_options, "g"), "15");
    EXPECT_EQ(dict_value(codec_options, "b:v"), "1150000");
    EXPECT_EQ(dict_value(codec_options, "maxrate"), "1150000");
    EXPECT_EQ(dict_value(codec_options, "minrate"), "1150000");
    EXPECT_EQ(dict_value(codec_options, "bufsize"), "327680");
    EXPECT_EQ(dict_value(codec_options, "b:a"), "224000");
    EXPECT_EQ(dict_value(format_options, "packetsize"), "2324");
    EXPECT_EQ(dict_value(format_options, "muxrate"), "1411200");
    EXPECT_FLOAT_EQ(o.preload_seconds, 0.44f);

    struct Case {
        const char *target, *size, *rate, *gop, *pix_fmt;
    } cases[] = {
        {"ntsc-svcd", "=480x480", "=30000/1001", "18", "=yuv420p"},
        {"film-dvd", "=720x480", "=24000/1001", "18", "=yuv420p"},
        {"pal-dvd", "=720x576", "=25", "15", "=yuv420p"},
        {"pal-dv", "=720x576", "=25", "(absent)", "=yuv420p"},
        {"ntsc-dv", "=720x480", "=30000/1001", "(absent)", "=yuv411p"},
        {"film-dv50", "=720x480", "=24000/1001", "(absent)", "=yuv422p"},
    };
    for (const Case &c : cases) {
        reset_file_options(&o, 0);
        ASSERT_EQ(apply("target", c.target), 1) << c.target;
        EXPECT_EQ(items("s"), std::vector<std::string>{c.size}) << c.target;
        EXPECT_EQ(items("r"), std::vector<std::string>{c.rate}) << c.target;
        EXPECT_EQ(items("pix_fmt"), std::vector<std::string>{c.pix_fmt}) << c.target;
        EXPECT_EQ(dict_value(codec_options, "g"), c.gop) << c.target;
        EXPECT_EQ(o.preload_seconds, 0.0f) << c.target;
    }
    EXPECT_EQ(dict_value(codec_options, "scan_offset"), "(absent)");
    reset_file_options(&o, 0);
    ASSERT_EQ(apply("target", "ntsc-svcd"), 1);
    EXPECT_EQ(dict_value(codec_options, "scan_offset"), "1");
    EXPECT_STREQ(o.forced_format, "svcd");
}

TEST_F(OptionsTest, TargetNormIsDeducedFromTheInputsOrRefused)
{
    struct Case {
        AVRational rate;
        const char *announced; // nullptr: no norm
        const char *size;
    } cases[] = {
        {{25, 1}, "Assuming PAL for target.\n", "=720x576"},
        {{30000, 1001}, "Assuming NTSC for target.\n", "=720x480"},
        {{24000, 1001}, "Assuming NTSC for target.\n", "=720x480"},
        {{30, 1}, nullptr, nullptr},
        {{0, 0}, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        FakeInput input(c.rate);
        reset_file_options(&o, 0);
        log.clear();
        if (c.announced) {
            ASSERT_EQ(apply("target", "dvd"), 1);
            EXPECT_TRUE(log.has(c.announced, AV_LOG_INFO));
            EXPECT_EQ(items("s"), std::vector<std::string>{c.size});
        } else {
            EXPECT_EQ(apply("target", "dvd"), -1);
            EXPECT_TRUE(log.has("Could not determine norm (PAL/NTSC/NTSC-Film) for target.\n",
                                AV_LOG_FATAL));
            EXPECT_TRUE(log.has("Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\n",
                                AV_LOG_FATAL));
            EXPECT_TRUE(log.has("or set a framerate with \"-r xxx\".\n", AV_LOG_FATAL));
            EXPECT_EQ(list_of("c").count, 0);
        }
    }
    EXPECT_EQ(apply("target", "pal-cd"), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unknown target: cd\n", AV_LOG_ERROR));
}

// ---- reset between files and per-stream look-up ---------------------------------------

TEST_F(OptionsTest, ResetEmptiesTheContextAndRestoresTheLimits)
{
    const char *args[][2] = {{"f", "mp4"}, {"c:v", "h264"}, {"metadata", "a=b"}, {"fs", "100"},
                             {"map_chapters", "1"}, {"muxdelay", "2"}, {"sample_fmt", "s16"},
                             {"streamid", "2:3"}, {"level", "3"}, {"sws_flags", "bilinear"},
                             {"probesize", "32"}, {"ss", "1"}};
    for (auto &a : args)
        ASSERT_GE(apply(a[0], a[1]), 0) << a[0];
    apply("shortest");
    apply("vn");
    o.maps = (MapEntry *)av_mallocz(sizeof(MapEntry));
    o.maps[0].link_label = av_strdup("out");
    o.nb_maps = 1;
    ASSERT_NE(scaler_options, nullptr);

    reset_file_options(&o, 0);
    PerFileOptions fresh;
    memset(&fresh, 0, sizeof(fresh));
    fresh.duration_limit = NO_DURATION_LIMIT;
    fresh.size_limit = NO_SIZE_LIMIT;
    fresh.chapter_source = AUTO_CHAPTER_SOURCE;
    fresh.max_delay_seconds = 0.7f;
    EXPECT_EQ(memcmp(&o, &fresh, sizeof(o)), 0);
    EXPECT_EQ(codec_options, nullptr);
    EXPECT_EQ(format_options, nullptr);
    EXPECT_EQ(scaler_options, nullptr);
    EXPECT_FALSE(log.has("-t is not an input option"));
}

TEST_F(OptionsTest, DurationBeforeAnInputIsKeptForTheNextOutput)
{
    ASSERT_EQ(apply("t", "5"), 1);
    reset_file_options(&o, 1);
    EXPECT_EQ(o.duration_limit, 5000000);
    EXPECT_TRUE(log.has("-t is not an input option, keeping it for the next output; consider "
                        "fixing your command line.\n",
                        AV_LOG_WARNING));
    reset_file_options(&o, 0);
    EXPECT_EQ(o.duration_limit, NO_DURATION_LIMIT);

    log.clear();
    reset_file_options(&o, 1);
    EXPECT_EQ(o.duration_limit, NO_DURATION_LIMIT);
    EXPECT_TRUE(log.lines().empty()) << "no warning without -t";
}

TEST_F(OptionsTest, LastMatchingValueWinsAndBadSpecifiersNeverMatch)
{
    AVFormatContext *ctx = avformat_alloc_context();
    AVStream *video = avformat_new_stream(ctx, nullptr);
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    AVStream *audio = avformat_new_stream(ctx, nullptr);
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    for (auto &a : {std::pair<const char *, const char *>{"c", "all"}, {"c:v", "v1"},
                    {"c:a", "a1"}, {"c:v", "v2"}, {"c:zz", "bad"}})
        apply(a.first, a.second);
    const SpecList &codecs = list_of("c");

    const SpecValue *v = last_matching_value(codecs, ctx, video);
    const SpecValue *a = last_matching_value(codecs, ctx, audio);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(v->u.str, "v2");
    EXPECT_STREQ(a->u.str, "a1");
    EXPECT_TRUE(log.has("Invalid stream specifier: zz.\n", AV_LOG_ERROR));
    EXPECT_EQ(last_matching_value(list_of("ac"), ctx, audio), nullptr);
    avformat_free_context(ctx);
}

} // namespace
