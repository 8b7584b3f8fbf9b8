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
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---- helpers ----------------------------------------------------------------------

// A stored value as text, read the way the row's kind says.
std::string stored_text(int flags, const void *p)
{
    if (flags & OPTF_STRING)
        return *(char *const *)p;
    if (flags & (OPTF_BOOL | OPTF_INT))
        return std::to_string(*(const int *)p);
    if (flags & (OPTF_INT64 | OPTF_TIME))
        return std::to_string(*(const int64_t *)p);
    if (flags & OPTF_FLOAT)
        return std::to_string(*(const float *)p);
    return std::to_string(*(const double *)p);
}

std::string item_text(const SpecList &l, int i, int flags)
{
    return std::string(l.items[i].specifier) + "=" + stored_text(flags, &l.items[i].u);
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

TEST(OptionTable, HasEveryRowInHelpOrderWithItsFixedFlags)
{
    const char *const order =
        "L h ? help -help version formats codecs decoders encoders bsfs protocols filters "
        "pix_fmts layouts sample_fmts loglevel v debug fdebug report max_alloc cpuflags f i y n "
        "c codec pre map map_channel map_metadata map_chapters t fs ss itsoffset itsscale "
        "timestamp metadata dframes benchmark benchmark_all progress stdin timelimit dump hex re "
        "target vsync async adrift_threshold copyts copytb shortest dts_delta_threshold "
        "dts_error_threshold xerror copyinkf copypriorss frames tag q qscale profile filter "
        "filter_complex stats attach dump_attachment debug_ts vframes r s aspect pix_fmt "
        "bits_per_raw_sample croptop cropbottom cropleft cropright padtop padbottom padleft "
        "padright padcolor intra vn vdt rc_override vcodec timecode pass passlogfile deinterlace "
        "psnr vstats vstats_file vf intra_matrix inter_matrix top dc vtag qphist force_fps "
        "streamid force_key_frames b aframes aq ar ac an acodec atag vol sample_fmt "
        "channel_layout af sn scodec stag fix_sub_duration vc tvstd isync muxdelay muxpreload "
        "bsf absf vbsf apre vpre spre fpre dcodec dn default";
    std::string names;
    int rows = 0;
    for (const OptionEntry *po = option_table; po->name; po++, rows++) {
        names += (rows ? " " : "") + std::string(po->name);
        EXPECT_EQ(find_option_entry(option_table, po->name), po) << po->name << " is shadowed";
    }
    EXPECT_EQ(rows, 141);
    EXPECT_EQ(names, order);
    for (const char *absent : {"level", "strict", "preset", "g", "maxrate"})
        EXPECT_EQ(find_option_entry(option_table, absent)->name, nullptr) << absent;

    // Flags that the help sections and the parser depend on, as name:hex.
    std::istringstream fixed(
        "i:2001 f:4009 y:2 n:2 c:8009 codec:8009 pre:8009 map:2005 map_channel:2005 "
        "map_metadata:8009 map_chapters:4085 t:14001 fs:4401 ss:14001 itsoffset:14005 "
        "itsscale:28005 metadata:8009 stdin:6 re:4006 vsync:5 async:85 adrift_threshold:105 "
        "copyts:6 copytb:85 shortest:4006 dts_delta_threshold:105 dts_error_threshold:105 "
        "xerror:6 frames:8401 q:28005 profile:2005 filter:8009 filter_complex:5 stats:2 r:8019 "
        "s:8219 pix_fmt:801d vn:4012 an:4022 sn:4202 dn:4012 ar:80a1 ac:80a1 vol:a1 dc:95 "
        "b:2011 attach:2005 progress:5 target:2001 default:35 loglevel:1 v:1 debug:1 fdebug:1 "
        "report:0 max_alloc:1 cpuflags:5 timelimit:5 bits_per_raw_sample:91 vdt:95 L:800 "
        "-help:800 sample_fmts:800");
    for (std::string item; fixed >> item;) {
        const size_t colon = item.rfind(':');
        const std::string name = item.substr(0, colon);
        EXPECT_EQ(find_option_entry(option_table, name.c_str())->flags,
                  std::stoi(item.substr(colon + 1), nullptr, 16))
            << name;
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
    const int f = po->flags;
    PerFileOptions o{};
    reset_file_options(&o, 0);
    const bool in_context = f & (OPTF_FIELD | OPTF_SPEC);
    ASSERT_LE(in_context ? po->u.off + sizeof(int) : 0, sizeof(PerFileOptions));
    uint8_t *dst = in_context ? (uint8_t *)&o + po->u.off : (uint8_t *)po->u.dst_ptr;
    uint8_t saved[4]; // globals are ints and floats
    memcpy(saved, dst, sizeof(saved));

    const std::string typed = std::string(po->name) + ((f & OPTF_SPEC) ? ":v" : "");
    const char *sample = (f & OPTF_STRING) ? "some text"
                         : (f & OPTF_TIME) ? "2.5"
                         : (f & (OPTF_FLOAT | OPTF_DOUBLE)) ? "0.5" : "12";
    const std::string expected = (f & OPTF_STRING) ? "some text"
                                 : (f & OPTF_BOOL) ? "1"
                                 : (f & OPTF_TIME) ? "2500000"
                                 : (f & (OPTF_FLOAT | OPTF_DOUBLE)) ? "0.500000" : "12";
    EXPECT_EQ(apply_option(&o, typed.c_str(), sample, option_table), (f & OPTF_ARG) ? 1 : 0);
    if (f & OPTF_SPEC) {
        ASSERT_EQ(((const SpecList *)dst)->count, 1);
        EXPECT_EQ(item_text(*(const SpecList *)dst, 0, f), "v=" + expected);
    } else {
        EXPECT_EQ(stored_text(f, dst), expected);
    }
    if ((f & OPTF_BOOL) && !(f & OPTF_SPEC)) {
        EXPECT_EQ(apply_option(&o, ("no" + std::string(po->name)).c_str(), nullptr, option_table), 0);
        EXPECT_EQ(*(int *)dst, 0);
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
        if (po->flags & (OPTF_ALIAS | OPTF_REMOVED)) {
            ASSERT_NE(po->u.text, nullptr) << po->name;
            // An alias leads to a row of the table; a removed option names a filter.
            if (po->flags & OPTF_ALIAS)
                EXPECT_NE(find_option_entry(option_table, po->u.text)->name, nullptr) << po->name;
            else
                EXPECT_NE(avfilter_get_by_name(po->u.text), nullptr) << po->name;
            continue;
        }
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
    const std::pair<const char *, const char *> uses[] = {
        {"profile", "baseline"}, {"profile:a", "aac_low"}, {"b", "1M"},
        {"b:a", "64k"},          {"qscale", "4"},          {"qscale:a", "3"}};
    for (const auto &u : uses)
        EXPECT_EQ(apply(u.first, u.second), 1) << u.first;
    EXPECT_EQ(dict_text(codec_options), "profile:v=baseline;profile:a=aac_low;b:v=1M;b:a=64k;");
    EXPECT_EQ(items("q"), (std::vector<std::string>{"v=4.000000", "a=3.000000"}));
    std::string warnings;
    for (const LogLine &l : log.lines())
        warnings += (l.level == AV_LOG_WARNING ? "" : "(not a warning) ") + l.text;
    EXPECT_EQ(warnings, "Please use -profile:a or -profile:v, -profile is ambiguous\n"
                        "Please use -b:a or -b:v, -b is ambiguous\n"
                        "Please use -q:a or -q:v, -qscale is ambiguous\n");
}

TEST_F(OptionsTest, VsyncTakesNamesAlwaysAndNumbersOnlyWhileAutomatic)
{
    const std::tuple<std::vector<const char *>, int, const char *> cases[] = {
        {{"vfr", "1"}, VSYNC_VFR, ""},
        {{"1", "0"}, VSYNC_CFR, ""},
        {{"1", "vfr"}, VSYNC_VFR, ""},
        {{"CFR"}, VSYNC_CFR, ""},
        {{"PassThrough"}, VSYNC_PASSTHROUGH, ""},
        {{"drop"}, VSYNC_DROP, ""},
        {{"3"}, VSYNC_AUTO, "The value for vsync was 3 which is not within -1.000000 - 2.000000\n"},
        {{"1.5"}, VSYNC_AUTO, "Expected int for vsync but found 1.5\n"},
        {{"often"}, VSYNC_AUTO, "Expected number for vsync but found: often\n"},
    };
    for (const auto &[args, method, message] : cases) {
        video_sync_method = VSYNC_AUTO;
        log.clear();
        for (const char *a : args)
            EXPECT_EQ(apply("vsync", a), 1);
        EXPECT_EQ(video_sync_method, method) << args[0];
        EXPECT_EQ(log.all_text(), message);
    }
    video_sync_method = VSYNC_AUTO;
}

TEST_F(OptionsTest, FilterGraphsAttachmentsAndProgressOutput)
{
    std::string graph = "[0:v]scale=320:240[out]", attachment = "cover.jpg";
    ASSERT_EQ(apply("filter_complex", "anullsrc"), 1);
    ASSERT_EQ(apply("filter_complex", graph.c_str()), 1);
    ASSERT_EQ(nb_filtergraphs, 2);
    EXPECT_EQ(filtergraphs[1]->index, 1);
    EXPECT_EQ(filtergraphs[1]->description, graph.c_str()) << "the argument itself";
    EXPECT_EQ(filtergraphs[1]->graph, nullptr);
    ASSERT_EQ(apply("attach", attachment.c_str()), 1);
    ASSERT_EQ(o.nb_attach_files, 1);
    EXPECT_EQ(o.attach_files[0], attachment.c_str());

    const std::string path = scratch_dir("progress") + "/progress.txt";
    ASSERT_EQ(apply("progress", path.c_str()), 1);
    ASSERT_NE(progress_avio, nullptr);
    avio_write(progress_avio, (const unsigned char *)"frame=1\n", 8);
    ASSERT_EQ(apply("progress", (path + "2").c_str()), 1) << "replaces (and closes) the first";
    EXPECT_EQ(std::filesystem::file_size(path), 8u);
    avio_closep(&progress_avio);
    EXPECT_LT(apply("progress", "/nonexistent-folder/p.txt"), 0);
    EXPECT_EQ(progress_avio, nullptr);
    EXPECT_TRUE(log.has("Failed to set value '/nonexistent-folder/p.txt' for option 'progress'\n"));
    engine_cleanup();
    reset_engine_state();
}

TEST_F(OptionsTest, StreamIdStoresAtItsIndexAndRefusesIndexesOutOfRange)
{
    for (const char *arg : {"3:77", "0:5", "1023:1"})
        EXPECT_EQ(apply("streamid", arg), 1);
    ASSERT_EQ(o.nb_stream_ids, 1024);
    EXPECT_EQ(o.stream_ids[0] * 10000 + o.stream_ids[1] * 100 + o.stream_ids[3], 50077);
    const std::pair<const char *, const char *> refused[] = {
        {"1024:1", "The value for streamid was 1024 which is not within 0.000000 - 1023.000000\n"},
        {"-1:1", "The value for streamid was -1 which is not within 0.000000 - 1023.000000\n"},
        {"x:1", "Expected number for streamid but found: x\n"},
        {"12345678901234567:1", "Invalid value '12345678901234567:1' for option 'streamid', "
                                "required syntax is 'index:value'\n"},
    };
    for (const auto &[arg, message] : refused) {
        log.clear();
        EXPECT_EQ(apply("streamid", arg), AVERROR(EINVAL)) << arg;
        EXPECT_TRUE(log.has(message, AV_LOG_FATAL)) << log.all_text();
        EXPECT_EQ(o.nb_stream_ids, 1024) << "nothing written for " << arg;
    }
}

TEST_F(OptionsTest, TimecodeTimestampChannelLayoutAndStatisticsName)
{
    ASSERT_EQ(apply("timecode", "01:00:00:00"), 1);
    ASSERT_EQ(apply("timestamp", "2001-02-03T04:05:06Z"), 1);
    EXPECT_TRUE(log.has("timestamp is deprecated, set the 'creation_time' metadata tag instead.\n",
                        AV_LOG_WARNING));
    EXPECT_EQ(items("metadata"), (std::vector<std::string>{
                                     "g=timecode=01:00:00:00",
                                     "=creation_time=2001-02-03T04:05:06+0000"}));
    ASSERT_EQ(apply("channel_layout:a", "stereo"), 1);
    ASSERT_EQ(apply("channel_layout", "5.1"), 1);
    EXPECT_EQ(apply("channel_layout", "sideways"), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unknown channel layout: sideways\n", AV_LOG_ERROR));
    EXPECT_EQ(dict_text(codec_options),
              "gop_timecode=01:00:00:00;channel_layout:a=3;channel_layout=63;");
    EXPECT_EQ(items("ac"), (std::vector<std::string>{"a=2", "=6"}));

    ASSERT_EQ(apply("vstats"), 0);
    EXPECT_TRUE(std::regex_match(vstats_filename, std::regex("vstats_[0-9]{6}\\.log")));
    std::string name = "my.log";
    ASSERT_EQ(apply("vstats_file", name.c_str()), 1);
    name[0] = 'X';
    EXPECT_STREQ(vstats_filename, "my.log");
    av_freep(&vstats_filename);
}

TEST_F(OptionsTest, RemovedAndDeprecatedOptions)
{
    for (std::string name : {"croptop", "cropbottom", "cropleft", "cropright", "padtop",
                             "padbottom", "padleft", "padright", "padcolor"}) {
        EXPECT_EQ(apply(name.c_str(), "8"), AVERROR(EINVAL));
        const char *filter = name.compare(0, 4, "crop") ? "pad" : "crop";
        EXPECT_TRUE(log.has("Option '" + name + "' has been removed, use the " + filter +
                                " filter instead\n",
                            AV_LOG_FATAL));
    }
    EXPECT_EQ(apply("deinterlace"), 0);
    EXPECT_EQ(do_deinterlace, 1);
    do_deinterlace = 0;
    EXPECT_TRUE(log.has("-deinterlace is deprecated, use -filter:v yadif instead\n", AV_LOG_WARNING));
    avdevice_register_all(); // capture devices own "channel" and "standard"
    apply("vc", "1");
    apply("tvstd", "PAL");
    EXPECT_TRUE(log.has("This option is deprecated, use -channel.\n", AV_LOG_WARNING));
    EXPECT_TRUE(log.has("This option is deprecated, use -standard.\n", AV_LOG_WARNING));
    EXPECT_EQ(dict_text(format_options), "channel=1;standard=PAL;");
}

TEST_F(OptionsTest, AliasesApplyTheirStreamSpecificOption)
{
    const char *const uses[][3] = {
        {"vcodec", "libx264", "c"}, {"acodec", "aac", "c"},   {"scodec", "mov_text", "c"},
        {"dcodec", "copy", "c"},    {"vframes", "10", "frames"}, {"aframes", "11", "frames"},
        {"dframes", "12", "frames"}, {"vf", "null", "filter"}, {"af", "anull", "filter"},
        {"aq", "2", "q"},           {"vtag", "avc1", "tag"},  {"atag", "mp4a", "tag"},
        {"stag", "tx3g", "tag"},    {"absf", "a2", "bsf"},    {"vbsf", "v2", "bsf"}};
    for (const auto &u : uses)
        EXPECT_EQ(apply(u[0], u[1]), 1) << u[0];
    EXPECT_EQ(items("c"), (std::vector<std::string>{"v=libx264", "a=aac", "s=mov_text", "d=copy"}));
    EXPECT_EQ(items("frames"), (std::vector<std::string>{"v=10", "a=11", "d=12"}));
    EXPECT_EQ(items("filter"), (std::vector<std::string>{"v=null", "a=anull"}));
    EXPECT_EQ(items("q"), std::vector<std::string>{"a=2.000000"});
    EXPECT_EQ(items("tag"), (std::vector<std::string>{"v=avc1", "a=mp4a", "s=tx3g"}));
    EXPECT_EQ(items("bsf"), (std::vector<std::string>{"a=a2", "v=v2"}));
}

// ---- "target" -------------------------------------------------------------------------

TEST_F(OptionsTest, TargetAppliesItsSettingsForTheNorm)
{
    ASSERT_EQ(apply("target", "pal-vcd"), 1);
    EXPECT_EQ(items("c"), (std::vector<std::string>{"v=mpeg1video", "a=mp2"}));
    EXPECT_STREQ(o.forced_format, "vcd");
    EXPECT_EQ(items("s"), std::vector<std::string>{"=352x288"});
    EXPECT_EQ(items("r"), std::vector<std::string>{"=25"});
    EXPECT_EQ(items("ar"), std::vector<std::string>{"=44100"});
    EXPECT_EQ(items("ac"), std::vector<std::string>{"=2"});
    EXPECT_EQ(dict_text(codec_options), "g=15;b:v=1150000;maxrate=1150000;minrate=1150000;"
                                        "bufsize=327680;b:a=224000;");
    EXPECT_EQ(dict_text(format_options), "packetsize=2324;muxrate=1411200;");
    EXPECT_FLOAT_EQ(o.preload_seconds, 0.44f);

    // target, frame size, rate, pixel format, codec options
    const char *const cases[][5] = {
        {"ntsc-svcd", "=480x480", "=30000/1001", "=yuv420p",
         "g=18;b:v=2040000;maxrate=2516000;minrate=0;bufsize=1835008;scan_offset=1;b:a=224000;"},
        {"film-dvd", "=720x480", "=24000/1001", "=yuv420p",
         "g=18;b:v=6000000;maxrate=9000000;minrate=0;bufsize=1835008;b:a=448000;"},
        {"pal-dvd", "=720x576", "=25", "=yuv420p",
         "g=15;b:v=6000000;maxrate=9000000;minrate=0;bufsize=1835008;b:a=448000;"},
        {"pal-dv", "=720x576", "=25", "=yuv420p", ""},
        {"ntsc-dv", "=720x480", "=30000/1001", "=yuv411p", ""},
        {"film-dv50", "=720x480", "=24000/1001", "=yuv422p", ""},
    };
    for (const auto &c : cases) {
        reset_file_options(&o, 0);
        ASSERT_EQ(apply("target", c[0]), 1) << c[0];
        EXPECT_EQ(items("s"), std::vector<std::string>{c[1]}) << c[0];
        EXPECT_EQ(items("r"), std::vector<std::string>{c[2]}) << c[0];
        EXPECT_EQ(items("pix_fmt"), std::vector<std::string>{c[3]}) << c[0];
        EXPECT_EQ(dict_text(codec_options), c[4]) << c[0];
        EXPECT_EQ(o.preload_seconds, 0.0f) << c[0];
    }
    EXPECT_EQ(apply("target", "pal-cd"), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Unknown target: cd\n", AV_LOG_ERROR));
}

TEST_F(OptionsTest, TargetNormIsDeducedFromTheInputsOrRefused)
{
    const std::tuple<AVRational, const char *, const char *> cases[] = {
        {{25, 1}, "Assuming PAL for target.\n", "=720x576"},
        {{30000, 1001}, "Assuming NTSC for target.\n", "=720x480"},
        {{24000, 1001}, "Assuming NTSC for target.\n", "=720x480"},
        {{30, 1}, nullptr, nullptr},
        {{0, 0}, nullptr, nullptr},
    };
    for (const auto &[rate, announced, size] : cases) {
        InFile *f = (InFile *)av_mallocz(sizeof(InFile));
        f->ctx = avformat_alloc_context();
        for (AVMediaType type : {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_VIDEO}) {
            AVStream *st = avformat_new_stream(f->ctx, nullptr);
            st->codecpar->codec_type = type;
            st->r_frame_rate = type == AVMEDIA_TYPE_VIDEO ? rate : AVRational{25, 1};
        }
        GROW_TABLE(input_files, nb_input_files);
        input_files[0] = f;
        reset_file_options(&o, 0);
        log.clear();
        if (announced) {
            ASSERT_EQ(apply("target", "dvd"), 1);
            EXPECT_TRUE(log.has(announced, AV_LOG_INFO));
            EXPECT_EQ(items("s"), std::vector<std::string>{size});
        } else {
            EXPECT_EQ(apply("target", "dvd"), -1);
            EXPECT_EQ(log.all_text(), "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\n"
                                      "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\n"
                                      "or set a framerate with \"-r xxx\".\n"
                                      "Failed to set value 'dvd' for option 'target'\n");
        }
        engine_cleanup();
        reset_engine_state();
    }
}

// ---- reset between files and per-stream look-up ---------------------------------------

TEST_F(OptionsTest, ResetEmptiesTheContextAndRestoresTheLimits)
{
    const char *const uses[][2] = {{"f", "mp4"}, {"c:v", "h264"}, {"fs", "100"}, {"muxdelay", "2"},
                                   {"map_chapters", "1"}, {"streamid", "2:3"}, {"ss", "1"},
                                   {"level", "3"}, {"sws_flags", "bilinear"}, {"probesize", "32"},
                                   {"shortest", nullptr}, {"vn", nullptr}};
    for (const auto &u : uses)
        ASSERT_GE(apply(u[0], u[1]), 0) << u[0];
    o.maps = (MapEntry *)av_mallocz(sizeof(MapEntry));
    o.maps[0].link_label = av_strdup("out");
    o.nb_maps = 1;

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

    // A duration before an input is kept for the next output, with a warning.
    reset_file_options(&o, 1);
    EXPECT_EQ(log.all_text(), "") << "no warning without -t";
    ASSERT_EQ(apply("t", "5"), 1);
    reset_file_options(&o, 1);
    EXPECT_EQ(o.duration_limit, 5000000);
    EXPECT_EQ(log.all_text(), "-t is not an input option, keeping it for the next output; "
                              "consider fixing your command line.\n");
    reset_file_options(&o, 0);
    EXPECT_EQ(o.duration_limit, NO_DURATION_LIMIT);
}

TEST_F(OptionsTest, LastMatchingValueWinsAndBadSpecifiersNeverMatch)
{
    AVFormatContext *ctx = avformat_alloc_context();
    for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO})
        avformat_new_stream(ctx, nullptr)->codecpar->codec_type = type;
    for (const char *const *u : {(const char *const[]){"c", "all"}, (const char *const[]){"c:v", "v1"},
                                 (const char *const[]){"c:a", "a1"}, (const char *const[]){"c:v", "v2"},
                                 (const char *const[]){"c:zz", "bad"}})
        apply(u[0], u[1]);
    const SpecValue *v = last_matching_value(list_of("c"), ctx, ctx->streams[0]);
    const SpecValue *a = last_matching_value(list_of("c"), ctx, ctx->streams[1]);
    EXPECT_STREQ(v ? v->u.str : "", "v2");
    EXPECT_STREQ(a ? a->u.str : "", "a1");
    EXPECT_TRUE(log.has("Invalid stream specifier: zz.\n", AV_LOG_ERROR));
    EXPECT_EQ(last_matching_value(list_of("ac"), ctx, ctx->streams[1]), nullptr);
    avformat_free_context(ctx);
}

} // namespace
