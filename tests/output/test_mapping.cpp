// Stream mapping: "map" (positive, negative, sync references, labels) and the
// streams it gives an output, "map_channel" and its checks, and the preset
// options "fpre", "vpre", "apre", "spre" and "pre".
#include "engine_parse.h"

#include "options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

class Mapping : public EngineParse {
protected:
    std::string dir;
    void SetUp() override
    {
        EngineParse::SetUp();
        dir = scratch_dir("mapping/" +
                          std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }
};

// h264_aac_ts with a KLV data stream added as stream 2.
std::string with_data_stream()
{
    static const std::string path = scratch_dir("mapping_media") + "/with_data.ts";
    if (!fs::exists(path))
        remux(fixture_path(FixtureKind::H264AacTs), path, {{}, {}, {}, true, {}});
    return path;
}

// "video#0, audio#1 [sync #0:0]": type, source and sync of every output stream.
std::string mapped_text()
{
    std::string text;
    for (int i = 0; i < nb_output_streams; i++) {
        const OutStream *s = output_streams[i];
        text += std::string(text.empty() ? "" : ", ") +
                av_get_media_type_string(s->st->codecpar->codec_type) + "#" +
                std::to_string(s->source_index);
        if (s->stream_copy)
            text += " copy";
        if (s->sync_ist && s->sync_ist != input_streams[s->source_index])
            text += " [sync #" + std::to_string(s->sync_ist->file_index) + ":" +
                    std::to_string(s->sync_ist->st->index) + "]";
    }
    return text;
}

// ---- what maps give an output ------------------------------------------------------------------

struct MapCase {
    const char *name;
    std::function<std::string()> input;
    Args maps;
    const char *output;
    const char *streams;
    const char *fatal; // expected fatal message, or nullptr for none
};

class MappedStreams : public Mapping, public ::testing::WithParamInterface<MapCase> {};

TEST_P(MappedStreams, FollowTheMapsInOrder)
{
    const MapCase &c = GetParam();
    Args args = {"-i", c.input()};
    args.insert(args.end(), c.maps.begin(), c.maps.end());
    args.push_back(path(c.output));
    ASSERT_EQ(parse(args), 0) << log.all_text();
    EXPECT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(mapped_text(), c.streams);
    if (c.fatal) {
        EXPECT_TRUE(log.has(c.fatal, AV_LOG_FATAL));
    } else {
        EXPECT_FALSE(log.has("", AV_LOG_FATAL)) << log.all_text();
    }
}

std::string fx_ts()
{
    return fixture_path(FixtureKind::H264AacTs);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, MappedStreams,
    ::testing::Values(
        MapCase{"WholeFileIncludesData", with_data_stream, {"-map", "0"}, "out.ts",
                "video#0, audio#1, data#2",
                "Data stream encoding not supported yet (only streamcopy)\n"},
        MapCase{"CopiedDataStream", with_data_stream, {"-map", "0", "-c:d", "copy"}, "out.ts",
                "video#0, audio#1, data#2 copy", nullptr},
        MapCase{"WholeFileIncludesAttachments", [] { return fixture_path(FixtureKind::MkvAttachment); },
                {"-map", "0"}, "out.mkv", "video#0, audio#1, attachment#2 copy", nullptr},
        MapCase{"NegativeMapTakesAudioAway", fx_ts, {"-map", "0", "-map", "-0:a"}, "out.mp4",
                "video#0", nullptr},
        MapCase{"VideoMappedTwice", [] { return fixture_path(FixtureKind::Mp4TwoVideoSizes); },
                {"-map", "0:v", "-map", "0:v"}, "out.mp4", "video#0, video#1, video#0, video#1",
                nullptr},
        MapCase{"SwitchedOffTypeIsSkipped", fx_ts, {"-vn", "-map", "0"}, "out.mp4", "audio#1",
                nullptr},
        MapCase{"SyncReference", fx_ts, {"-map", "0:a,0:v"}, "out.mp4", "audio#1 [sync #0:0]",
                nullptr}),
    case_name<MapCase>);

struct MapError {
    const char *name;
    Args maps;
    const char *message;
};

class MapErrors : public Mapping, public ::testing::WithParamInterface<MapError> {};

TEST_P(MapErrors, StopTheCommandLine)
{
    const MapError &c = GetParam();
    Args args = {"-i", fx_ts()};
    args.insert(args.end(), c.maps.begin(), c.maps.end());
    args.push_back(path("out.mp4"));
    EXPECT_EQ(parse(args), -1);
    EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
    EXPECT_EQ(nb_output_files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, MapErrors,
    ::testing::Values(
        MapError{"InputFileIndex", {"-map", "5"}, "Invalid input file index: 5.\n"},
        MapError{"NothingMatches", {"-map", "0:s"}, "Stream map '0:s' matches no streams.\n"},
        MapError{"NegativeWithoutEarlierMaps", {"-map", "-0:a"},
                 "Stream map '-0:a' matches no streams.\n"},
        MapError{"SyncFileIndex", {"-map", "0,3"}, "Invalid sync file index: 3.\n"},
        MapError{"SyncWithoutStream", {"-map", "0,0:s"},
                 "Sync stream specification in map 0,0:s does not match any streams.\n"}),
    case_name<MapError>);

// ---- map_channel ----------------------------------------------------------------------------

struct ChannelCase {
    const char *name;
    const char *arg;
    ChannelMap expected; // in_file, in_stream, channel, out_file, out_stream
    const char *error;   // nullptr when accepted
};

class MapChannel : public Mapping, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(MapChannel, RecordsValidChannelsAndRefusesOthers)
{
    const ChannelCase &c = GetParam();
    ASSERT_EQ(parse({"-i", fx_ts()}), 0);
    int ret = apply_option(&o, "map_channel", c.arg, option_table);
    if (c.error) {
        EXPECT_LT(ret, 0);
        EXPECT_TRUE(log.has(c.error, AV_LOG_FATAL)) << log.all_text();
        return;
    }
    ASSERT_EQ(ret, 1);
    ASSERT_EQ(o.nb_channel_maps, 1);
    const ChannelMap &m = o.channel_maps[0];
    EXPECT_EQ((std::vector<int>{m.in_file, m.in_stream, m.channel, m.out_file, m.out_stream}),
              (std::vector<int>{c.expected.in_file, c.expected.in_stream, c.expected.channel,
                                c.expected.out_file, c.expected.out_stream}));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MapChannel,
    ::testing::Values(
        ChannelCase{"InputChannel", "0.1.0", {0, 1, 0, -1, -1}, nullptr},
        ChannelCase{"InputChannelToOutputStream", "0.1.0:0.1", {0, 1, 0, 0, 1}, nullptr},
        ChannelCase{"SilentChannel", "-1", {-1, -1, -1, -1, -1}, nullptr},
        ChannelCase{"SilentChannelToOutputStream", "-1:0.1", {-1, -1, -1, 0, 1}, nullptr},
        ChannelCase{"Syntax", "left", {},
                    "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]\n"},
        ChannelCase{"InputFile", "2.1.0", {}, "mapchan: invalid input file index: 2\n"},
        ChannelCase{"InputStream", "0.7.0", {}, "mapchan: invalid input file stream index #0.7\n"},
        ChannelCase{"NotAudio", "0.0.0", {}, "mapchan: stream #0.0 is not an audio stream.\n"},
        ChannelCase{"ChannelBeyondCount", "0.1.1", {}, "mapchan: invalid audio channel #0.1.1\n"}),
    case_name<ChannelCase>);

TEST_F(Mapping, ChannelMapsGoToTheAudioStreamsTheyName)
{
    ASSERT_EQ(parse({"-i", fx_ts(), "-map_channel", "0.1.0", "-map_channel", "-1",
                     "-map_channel", "0.1.0:0.5", path("out.mp4")}),
              0);
    const OutStream *audio = ost(1);
    ASSERT_EQ(audio->st->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
    // The third map names output stream 0:5, which is not this one.
    ASSERT_EQ(audio->audio_channels_mapped, 2);
    EXPECT_EQ(audio->audio_channels_map[0], 0);
    EXPECT_EQ(audio->audio_channels_map[1], -1);
    EXPECT_EQ(ost(0)->audio_channels_mapped, 0);
}

// ---- preset files -----------------------------------------------------------------------------

class Presets : public Mapping {
protected:
    std::vector<std::pair<std::string, std::string>> saved_env;
    void set_env(const char *name, const std::string &value)
    {
        const char *old = getenv(name);
        saved_env.push_back({name, old ? old : std::string("\x01")});
        setenv(name, value.c_str(), 1);
    }
    void TearDown() override
    {
        for (auto it = saved_env.rbegin(); it != saved_env.rend(); ++it) {
            if (it->second == "\x01")
                unsetenv(it->first.c_str());
            else
                setenv(it->first.c_str(), it->second.c_str(), 1);
        }
        Mapping::TearDown();
    }
    void write(const std::string &name, const std::string &text)
    {
        std::ofstream(path(name)) << text;
    }
};

TEST_F(Presets, PresetFileSetsCodecsAndLibraryOptionsOfTheNextOutput)
{
    write("fast.ffpreset", "# camera export\n\nvcodec=libx264\ncrf=20\r\n");
    ASSERT_EQ(parse({"-i", fx_ts(), "-fpre", path("fast.ffpreset"), path("out.mp4")}), 0);
    ASSERT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(encoder_name(ost(0)), "libx264");
    EXPECT_EQ(tag(ost(0)->encoder_opts, "crf"), "20");
    EXPECT_TRUE(log.has("ffpreset[" + path("fast.ffpreset") + "]: set 'crf' = '20'\n", AV_LOG_DEBUG));
}

TEST_F(Presets, NamedPresetIsFoundForTheChosenCodec)
{
    set_env("FFMPEG_DATADIR", dir);
    write("libx264-gate.ffpreset", "crf=23\n");
    ASSERT_EQ(parse({"-i", fx_ts(), "-c:v", "libx264", "-vpre", "gate", path("out.mp4")}), 0);
    EXPECT_EQ(tag(ost(0)->encoder_opts, "crf"), "23");
}

struct PresetError {
    const char *name;
    const char *option;
    const char *content; // written to "bad.ffpreset" unless nullptr
    const char *arg;     // relative to the scratch directory for "fpre"
    const char *message;
};

class PresetErrors : public Presets, public ::testing::WithParamInterface<PresetError> {};

TEST_P(PresetErrors, StopTheCommandLine)
{
    const PresetError &c = GetParam();
    set_env("FFMPEG_DATADIR", dir);
    set_env("HOME", dir + "/nohome");
    if (c.content)
        write("bad.ffpreset", c.content);
    std::string arg = !strcmp(c.option, "-fpre") ? path(c.arg) : c.arg;
    EXPECT_EQ(parse({"-i", fx_ts(), c.option, arg, path("out.mp4")}), -1);
    std::string message = c.message;
    size_t at = message.find("%s");
    if (at != std::string::npos)
        message.replace(at, 2, path("bad.ffpreset"));
    EXPECT_TRUE(log.has(message, AV_LOG_FATAL)) << log.all_text();
}

INSTANTIATE_TEST_SUITE_P(
    Files, PresetErrors,
    ::testing::Values(
        PresetError{"NotFound", "-vpre", nullptr, "nowhere", "File for preset 'nowhere' not found\n"},
        PresetError{"LosslessAdvice", "-vpre", nullptr, "libx264-lossless_fast",
                    "Please use -preset <speed> -qp 0\n"},
        PresetError{"Syntax", "-fpre", "crf 20\n", "bad.ffpreset", "%s: Invalid syntax: 'crf 20'\n"},
        PresetError{"EmptyValue", "-fpre", "crf=\n", "bad.ffpreset", "%s: Invalid syntax: 'crf='\n"},
        PresetError{"UnknownOption", "-fpre", "nosuchoption=1\n", "bad.ffpreset",
                    "%s: Invalid option or argument: 'nosuchoption=1', parsed as 'nosuchoption' = '1'\n"}),
    case_name<PresetError>);

TEST_F(Presets, OptionPresetAddsEncoderOptionsWithoutReplacingGivenOnes)
{
    set_env("AVCONV_DATADIR", dir);
    write("libx264-gate.avpreset", "# options\ncrf=21\n\npreset=veryfast\r\n");
    ASSERT_EQ(parse({"-i", fx_ts(), "-an", "-c:v", "libx264", "-crf", "18", "-pre:v", "gate",
                     path("out.mp4")}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(tag(ost(0)->encoder_opts, "crf"), "18");
    EXPECT_EQ(tag(ost(0)->encoder_opts, "preset"), "veryfast");
}

struct OptionPresetError {
    const char *name;
    const char *content; // nullptr: no file
    const char *message;
};

class OptionPresetErrors : public Presets, public ::testing::WithParamInterface<OptionPresetError> {};

TEST_P(OptionPresetErrors, FailTheOutput)
{
    const OptionPresetError &c = GetParam();
    set_env("AVCONV_DATADIR", dir);
    set_env("HOME", dir + "/nohome");
    if (c.content)
        write("gate.avpreset", c.content);
    ASSERT_EQ(parse({"-i", fx_ts(), "-an", "-pre:v", "gate", path("out.mp4")}), 0);
    EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OptionPresetErrors,
    ::testing::Values(
        OptionPresetError{"NotFound", nullptr,
                          "Preset gate specified for stream 0:0, but could not be opened.\n"},
        OptionPresetError{"LineWithoutValue", "crf=21\nveryfast\n",
                          "Invalid line found in the preset file.\n"}),
    case_name<OptionPresetError>);

} // namespace
