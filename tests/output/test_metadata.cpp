// Metadata of outputs: what is inherited from the inputs by default, what
// "map_metadata" and "metadata" change (an empty value deletes), chapters cut to
// the output's time span, and the messages of bad specifiers.
#include "engine_parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

// h264_aac_ts as Matroska with a title, a creation time and two chapters.
std::string titled_recording()
{
    static const std::string path = scratch_dir("metadata_media") + "/titled.mkv";
    if (!fs::exists(path)) {
        RemuxSpec spec;
        spec.global_tags = {{"title", "North gate"}, {"creation_time", "2020-05-04T10:00:00.000000Z"}};
        spec.chapters = {{0.0, 1.0, "Gate opens"}, {1.0, 2.0, "Gate closes"}};
        remux(fixture_path(FixtureKind::H264AacTs), path, spec);
    }
    return path;
}

// "start-end title; ..." in seconds.
std::string chapters_text(const AVFormatContext *oc)
{
    std::string text;
    for (unsigned i = 0; i < oc->nb_chapters; i++) {
        const AVChapter *c = oc->chapters[i];
        char item[128];
        snprintf(item, sizeof(item), "%s%g-%g %s", i ? "; " : "", c->start * av_q2d(c->time_base),
                 c->end * av_q2d(c->time_base), tag(c->metadata, "title").c_str());
        text += item;
    }
    return text;
}

struct MetaCase {
    const char *name;
    Args options;
    const char *title;         // "<none>" when absent
    const char *chapters;
    const char *audio_language; // of output stream 1
    const char *audio_title = "<none>";
};

class OutputMetadata : public EngineParse, public ::testing::WithParamInterface<MetaCase> {};

TEST_P(OutputMetadata, FollowsDefaultsMapsAndSettings)
{
    const MetaCase &c = GetParam();
    std::string dir = scratch_dir("metadata/" + std::string(c.name));
    Args args = {"-i", titled_recording()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(dir + "/out.mp4");
    ASSERT_EQ(parse(args), 0);
    ASSERT_FALSE(run_failed) << log.all_text();
    const AVFormatContext *oc = output_files[0]->ctx;
    EXPECT_EQ(tag(oc->metadata, "title"), c.title);
    EXPECT_EQ(tag(oc->metadata, "creation_time"), "<none>"); // never inherited
    EXPECT_EQ(chapters_text(oc), c.chapters);
    EXPECT_EQ(tag(oc->streams[1]->metadata, "language"), c.audio_language);
    EXPECT_EQ(tag(oc->streams[1]->metadata, "title"), c.audio_title);
}

const char *both_chapters = "0-1 Gate opens; 1-2 Gate closes";

INSTANTIATE_TEST_SUITE_P(
    Options, OutputMetadata,
    ::testing::Values(
        MetaCase{"Inherited", {}, "North gate", both_chapters, "<none>"},
        MetaCase{"EmptyTitleDeletes", {"-metadata", "title="}, "<none>", both_chapters, "<none>"},
        MetaCase{"TitleReplaced", {"-metadata", "title=South gate"}, "South gate", both_chapters,
                 "<none>"},
        MetaCase{"StreamSetting", {"-metadata:s:a", "language=fre"}, "North gate", both_chapters,
                 "fre"},
        MetaCase{"ChapterSetting", {"-metadata:c:1", "title=Closed"}, "North gate",
                 "0-1 Gate opens; 1-2 Closed", "<none>"},
        MetaCase{"NoMetadataMapped", {"-map_metadata", "-1"}, "<none>", "0-1 <none>; 1-2 <none>",
                 "<none>"},
        MetaCase{"GlobalIntoStream", {"-map_metadata:s:a", "0:g"}, "<none>", both_chapters,
                 "<none>", "North gate"},
        MetaCase{"DurationCutsChapters", {"-t", "0.5"}, "North gate", "0-0.5 Gate opens", "<none>"},
        MetaCase{"StartShiftsChapters", {"-ss", "1.5"}, "North gate", "0-0.5 Gate closes", "<none>"},
        MetaCase{"NoChapters", {"-map_chapters", "-1"}, "North gate", "", "<none>"}),
    case_name<MetaCase>);

// Copying tags costs the square of their number: at most 1000 are carried, with
// a warning. The reader adds tags of its own (the MP4 brands), so the rows
// straddle the limit by the count it reports.
TEST_F(EngineParse, AtMost1000TagsAreCarriedToTheOutput)
{
    bool saw_limit = false, saw_one_beyond = false;
    for (int written : {996, 997, 998, 5000}) {
        SCOPED_TRACE(written);
        TearDown(); // a run's tables for each file
        SetUp();
        ClipRecipe r = fixture_recipe(FixtureKind::H264AacTs);
        r.name = "metadata_tags";
        r.format = r.extension = "mp4";
        r.duration = 0.2;
        r.metadata_tags = written;
        const std::string dir = scratch_dir("metadata/tags_" + std::to_string(written));
        log.clear();
        ASSERT_EQ(parse({"-i", clip_path(r), dir + "/out.mkv"}), 0);
        ASSERT_FALSE(run_failed) << log.all_text();
        const int read = av_dict_count(input_files[0]->ctx->metadata);
        const int carried = av_dict_count(output_files[0]->ctx->metadata);
        saw_limit |= read == 1000;
        saw_one_beyond |= read == 1001;
        EXPECT_EQ(log.has("Only the first 1000 of " + std::to_string(read) + " metadata tags are carried",
                          AV_LOG_WARNING),
                  read > 1000);
        EXPECT_EQ(carried, read > 1000 ? 1000 : read);
    }
    EXPECT_TRUE(saw_limit && saw_one_beyond) << "the rows missed the limit";
}

TEST_F(EngineParse, StreamMetadataComesFromTheSourceOrAMap)
{
    std::string dir = scratch_dir("metadata/stream_maps");
    // The subtitle stream of this recording is tagged "eng".
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::MkvTextSubtitle), "-map_metadata:s:v", "0:s:s",
                     dir + "/out.mkv"}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    ASSERT_EQ(nb_output_streams, 2);
    EXPECT_EQ(tag(ost(0)->st->metadata, "language"), "eng");  // mapped by hand
    EXPECT_EQ(tag(ost(1)->st->metadata, "language"), "<none>"); // manual maps stop the defaults
}

// Each side of a map stops the defaults of its own kind only (an empty side is
// global); a map without an input stops its output side's kind, or all three.
TEST_F(EngineParse, MetadataMapsStopTheDefaultsOfTheKindsTheyName)
{
    static const std::string tracks = scratch_dir("metadata_media_tracks") + "/tracks.mkv";
    if (!fs::exists(tracks)) {
        RemuxSpec spec;
        spec.global_tags = {{"title", "Camera 4"}};
        spec.stream_tags = {{"title", "Gate track"}};
        spec.chapters = {{0.0, 1.0, "Gate opens"}, {1.0, 2.0, "Gate closes"}};
        remux(fixture_path(FixtureKind::H264AacTs), tracks, spec);
    }
    struct Case {
        Args options;
        const char *title, *audio_title, *first_chapter;
    } cases[] = {
        {{"-map_metadata", "0"}, "Camera 4", "Gate track", "Gate opens"},
        {{"-i", titled_recording(), "-map", "0", "-map_metadata", "1"}, "North gate", "Gate track",
         "Gate opens"},
        {{"-map_metadata:s:a", "0:g"}, "<none>", "Camera 4", "Gate opens"},
        {{"-map_metadata:g", "0:s:a"}, "Gate track", "<none>", "Gate opens"},
        {{"-map_metadata:c", "-1"}, "Camera 4", "Gate track", "<none>"},
        {{"-map_metadata", "-1"}, "<none>", "<none>", "<none>"},
    };
    const std::string dir = scratch_dir("metadata/kinds");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options.back());
        Args args = {"-i", tracks};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(dir + "/out.mkv");
        ASSERT_EQ(parse(args), 0);
        ASSERT_FALSE(run_failed) << log.all_text();
        const AVFormatContext *oc = output_files[0]->ctx;
        EXPECT_EQ(tag(oc->metadata, "title"), c.title);
        EXPECT_EQ(tag(oc->streams[1]->metadata, "title"), c.audio_title);
        ASSERT_GT(oc->nb_chapters, 0u);
        EXPECT_EQ(tag(oc->chapters[0]->metadata, "title"), c.first_chapter);
        reset_file_options(&o, 0);
        engine_cleanup();
        reset_engine_state();
    }
}

struct MetaError {
    const char *name;
    Args options;
    const char *message;
    bool fails_run;
};

class MetadataErrors : public EngineParse, public ::testing::WithParamInterface<MetaError> {};

TEST_P(MetadataErrors, AreReported)
{
    const MetaError &c = GetParam();
    std::string dir = scratch_dir("metadata/" + std::string(c.name));
    Args args = {"-i", titled_recording()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(dir + "/out.mp4");
    ASSERT_EQ(parse(args), 0);
    EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
    EXPECT_EQ(bool(run_failed), c.fails_run);
}

INSTANTIATE_TEST_SUITE_P(
    Specifiers, MetadataErrors,
    ::testing::Values(
        MetaError{"InputFile", {"-map_metadata", "4"},
                  "Invalid input file index 4 while processing metadata maps\n", true},
        MetaError{"Type", {"-map_metadata:x", "0"}, "Invalid metadata type x.\n", true},
        MetaError{"StreamSpecifier", {"-map_metadata:sv", "0"}, "Invalid metadata specifier sv.\n",
                  true},
        MetaError{"InputChapter", {"-map_metadata", "0:c:7"},
                  "Invalid chapter index 7 while processing metadata maps.\n", true},
        MetaError{"InputProgram", {"-map_metadata", "0:p:3"},
                  "Invalid program index 3 while processing metadata maps.\n", true},
        MetaError{"NoMatchingInputStream", {"-map_metadata", "0:s:s"},
                  "Stream specifier s does not match  any streams.\n", false},
        MetaError{"SettingChapter", {"-metadata:c:9", "a=b"},
                  "Invalid chapter index 9 in metadata specifier.\n", true},
        MetaError{"SettingTarget", {"-metadata:p:0", "a=b"}, "Invalid metadata specifier p:0.\n",
                  true}),
    case_name<MetaError>);

} // namespace
