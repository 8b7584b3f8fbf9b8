// Output files: the converter's own command line for every kind of recording, the
// automatic stream selection, replacing an existing output, never writing over an
// input, failures that must fail the run, attachments, and the per-stream settings
// of the options written before an output.
#include "engine_parse.h"

#include "ffmpeg_exec.h"
#include "options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

class Output : public EngineParse {
protected:
    std::string dir;
    void SetUp() override
    {
        EngineParse::SetUp();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir = scratch_dir("output/" + name);
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }

    // "video#0 libx264, audio#1 aac": type, source stream and encoder ("copy",
    // "-" for none) of every output stream.
    static std::string streams_text(bool with_encoders = true)
    {
        std::string text;
        for (int i = 0; i < nb_output_streams; i++) {
            const OutStream *s = output_streams[i];
            text += std::string(text.empty() ? "" : ", ") +
                    av_get_media_type_string(s->st->codecpar->codec_type) + "#" +
                    std::to_string(s->source_index);
            if (with_encoders)
                text += " " + (s->stream_copy ? std::string("copy") : s->enc ? s->enc->name : "-");
        }
        return text;
    }
};

Args converter_args(const std::string &in, const std::string &out)
{
    Args words = converter_arguments(in, out);
    return Args(words.begin() + 1, words.end()); // the program name is added by the runner
}

// ---- the converter's command line -------------------------------------------------------

struct KindCase {
    FixtureKind kind;
    const char *streams;
};

class ConverterVector : public Output, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ConverterVector, CreatesTheSelectedStreamsWithTheNamedEncoders)
{
    ASSERT_EQ(parse(converter_args(fixture_path(GetParam().kind), path("out.mp4"))), 0);
    ASSERT_FALSE(run_failed) << log.all_text();
    ASSERT_EQ(nb_output_files, 1);
    EXPECT_EQ(streams_text(), GetParam().streams);
    EXPECT_NE(output_files[0]->ctx->pb, nullptr);
    // Written under a partial name until the run has finished it.
    EXPECT_FALSE(fs::exists(path("out.mp4")));
    ASSERT_NE(output_files[0]->partial_path, nullptr);
    EXPECT_TRUE(fs::exists(output_files[0]->partial_path));
    for (int i = 0; i < nb_output_streams; i++) {
        const OutStream *s = ost(i);
        EXPECT_EQ(s->file_index, 0);
        EXPECT_EQ(s->index, i);
        EXPECT_EQ(s->sync_ist, input_streams[s->source_index]);
        EXPECT_EQ(input_streams[s->source_index]->discard, 0);
        EXPECT_EQ(input_streams[s->source_index]->st->discard, AVDISCARD_NONE);
        EXPECT_TRUE(s->enc_ctx->flags & AV_CODEC_FLAG_GLOBAL_HEADER); // mp4 wants them
        switch (s->st->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            EXPECT_EQ(dict_text(s->encoder_opts), "profile=baseline;level=3;strict=-2;");
            EXPECT_EQ(s->enc_ctx->strict_std_compliance, -2);
            EXPECT_STREQ(s->avfilter, "null");
            break;
        case AVMEDIA_TYPE_AUDIO:
            EXPECT_EQ(dict_text(s->encoder_opts), "level=3;strict=-2;");
            EXPECT_STREQ(s->avfilter, "anull");
            break;
        default:
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ConverterVector,
    ::testing::Values(
        KindCase{FixtureKind::H264AacTs, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::MjpegMulawAvi, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::Mpeg4AlawMkv, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::H264Raw, "video#0 libx264"},
        KindCase{FixtureKind::H264SizeChangeRaw, "video#0 libx264"},
        KindCase{FixtureKind::Mp4TwoVideoSizes, "video#1 libx264"},
        KindCase{FixtureKind::Mp4TwoVideoSameSize, "video#0 libx264"},
        // MP4 has no default subtitle codec: subtitles are left out.
        KindCase{FixtureKind::MkvTextSubtitle, "video#0 libx264"},
        KindCase{FixtureKind::MkvBitmapSubtitle, "video#0 libx264"},
        KindCase{FixtureKind::MkvAttachment, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::TsStartAt10s, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::AacM4a, "audio#0 aac"},
        KindCase{FixtureKind::MulawWav, "audio#0 aac"},
        KindCase{FixtureKind::TsTruncatedHalf, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::TsOverwrittenMiddle, "video#0 libx264, audio#1 aac"},
        KindCase{FixtureKind::TsStartsMidGop, "video#0 libx264, audio#1 aac"}),
    [](const ::testing::TestParamInfo<KindCase> &p) { return std::string(fixture_kind_name(p.param.kind)); });

// ---- automatic selection ---------------------------------------------------------------------

ClipRecipe tiny(const char *name, const char *format, const char *ext)
{
    ClipRecipe r;
    r.name = name;
    r.format = format;
    r.extension = ext;
    r.duration = 0.4;
    return r;
}

std::string larger_picture_first()
{
    ClipRecipe r = tiny("larger_picture_first", "mp4", "mp4");
    VideoTrack large, small;
    small.width = 160;
    small.height = 120;
    r.video = {large, small};
    return clip_path(r);
}

std::string audio_tracks(int first_channels, int second_channels)
{
    std::string name = "audio_" + std::to_string(first_channels) + "_" + std::to_string(second_channels);
    ClipRecipe r = tiny(name.c_str(), "matroska", "mkv");
    AudioTrack a, b;
    a.channels = first_channels;
    b.channels = second_channels;
    r.audio = {a, b};
    return clip_path(r);
}

struct SelectionCase {
    const char *name;
    std::function<std::string()> input;
    Args options;
    const char *output; // file name in the scratch directory
    const char *streams;
};

class AutomaticSelection : public Output, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(AutomaticSelection, TakesOneStreamPerTypeTheMuxerCanHold)
{
    const SelectionCase &c = GetParam();
    Args args = {"-i", c.input()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(path(c.output));
    ASSERT_EQ(parse(args), 0);
    ASSERT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(streams_text(), c.streams);
}

std::string fx(FixtureKind kind)
{
    return fixture_path(kind);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AutomaticSelection,
    ::testing::Values(
        SelectionCase{"LargestPictureWins", [] { return fx(FixtureKind::Mp4TwoVideoSizes); }, {},
                      "out.mp4", "video#1 libx264"},
        SelectionCase{"LargestPictureWinsInFirstPlace", larger_picture_first, {}, "out.mp4",
                      "video#0 libx264"},
        SelectionCase{"EqualPicturesFirstWins", [] { return fx(FixtureKind::Mp4TwoVideoSameSize); },
                      {}, "out.mp4", "video#0 libx264"},
        SelectionCase{"MostChannelsWin", [] { return audio_tracks(1, 2); }, {}, "out.mp4",
                      "audio#1 aac"},
        SelectionCase{"EqualChannelsFirstWins", [] { return audio_tracks(2, 2); }, {}, "out.mp4",
                      "audio#0 aac"},
        SelectionCase{"VideoSwitchedOff", [] { return fx(FixtureKind::H264AacTs); }, {"-vn"},
                      "out.mp4", "audio#1 aac"},
        SelectionCase{"AudioSwitchedOff", [] { return fx(FixtureKind::H264AacTs); }, {"-an"},
                      "out.mp4", "video#0 libx264"},
        SelectionCase{"FirstSubtitleWithDefaultCodec", [] { return fx(FixtureKind::MkvTextSubtitle); },
                      {}, "out.mkv", "video#0 libx264, subtitle#1 ssa"},
        SelectionCase{"SubtitlesSwitchedOff", [] { return fx(FixtureKind::MkvTextSubtitle); },
                      {"-sn"}, "out.mkv", "video#0 libx264"},
        SelectionCase{"AudioOnlyMuxer", [] { return fx(FixtureKind::H264AacTs); }, {}, "out.wav",
                      "audio#1 pcm_s16le"},
        SelectionCase{"NoSubtitleWithoutDefaultCodec", [] { return fx(FixtureKind::MkvTextSubtitle); },
                      {}, "out.avi", "video#0 mpeg4"},
        SelectionCase{"SubtitleCodecChoiceSelectsSubtitles",
                      [] { return fx(FixtureKind::MkvTextSubtitle); }, {"-c:s", "srt"}, "out.avi",
                      "video#0 mpeg4, subtitle#1 srt"},
        SelectionCase{"AttachmentsNeverAutomatic", [] { return fx(FixtureKind::MkvAttachment); },
                      {"-c", "copy"}, "out.mkv", "video#0 copy, audio#1 copy"}),
    case_name<SelectionCase>);

// ---- replacing files, protecting inputs ---------------------------------------------------

TEST_F(Output, ExistingOutputIsReplacedWithoutAQuestion)
{
    std::ofstream(path("out.mp4")) << "an older conversion";
    ASSERT_EQ(parse(converter_args(fx(FixtureKind::H264AacTs), path("out.mp4"))), 0);
    EXPECT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(nb_output_files, 1);
    // The older file stays until the new one is complete; the new one is still empty.
    EXPECT_EQ(file_bytes(path("out.mp4")), "an older conversion");
    ASSERT_NE(output_files[0]->partial_path, nullptr);
    EXPECT_EQ(fs::file_size(output_files[0]->partial_path), 0u);
    EXPECT_FALSE(log.has("already exists"));
}

TEST_F(Output, UndeletableExistingOutputFailsTheRunAndStaysAsItWas)
{
    // A non-empty directory cannot be removed, not even by root.
    fs::create_directories(path("out.mp4"));
    std::ofstream(path("out.mp4/keep")) << "kept";
    ASSERT_EQ(parse(converter_args(fx(FixtureKind::H264AacTs), path("out.mp4"))), 0);
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 0);
    EXPECT_TRUE(log.has("Could not replace existing file '" + path("out.mp4") + "'", AV_LOG_ERROR));
    EXPECT_EQ(file_bytes(path("out.mp4/keep")), "kept");
}

TEST_F(Output, RunWithAnUndeletableOutputReturnsFailure)
{
    fs::create_directories(path("out.mp4/sub"));
    EXPECT_EQ(run_engine(converter_args(fx(FixtureKind::H264AacTs), path("out.mp4"))), -1);
    // The run stops right after the command line, saying why and that no output is left.
    EXPECT_TRUE(log.has("Could not replace existing file"));
    EXPECT_TRUE(log.has("At least one output file must be specified", AV_LOG_FATAL));
    EXPECT_TRUE(fs::is_directory(path("out.mp4/sub")));
}

struct SameFileCase {
    const char *name;
    std::string (*output_for)(const std::string &input, const std::string &dir);
};

class InputAsOutput : public Output, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(InputAsOutput, IsRefusedAndTheInputKeepsItsBytes)
{
    std::string input = path("recording.ts");
    fs::copy_file(fx(FixtureKind::H264AacTs), input);
    const std::string before = file_bytes(input);
    std::string output = GetParam().output_for(input, dir);
    Args args = converter_args(input, output);
    args.back() = output; // as spelt, "file:" prefix included

    ASSERT_EQ(parse(args), 0);
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 0);
    EXPECT_TRUE(log.has("Output file '" + output + "' is input file #0", AV_LOG_FATAL))
        << log.all_text();
    // The run's clean-up must not touch it either.
    reset_file_options(&o, 0);
    engine_cleanup();
    reset_engine_state();
    EXPECT_EQ(file_bytes(input), before);
}

INSTANTIATE_TEST_SUITE_P(
    Names, InputAsOutput,
    ::testing::Values(
        SameFileCase{"SamePath", [](const std::string &in, const std::string &) { return in; }},
        SameFileCase{"FileProtocol",
                     [](const std::string &in, const std::string &) { return "file:" + in; }},
        SameFileCase{"OtherSpelling",
                     [](const std::string &, const std::string &d) {
                         return d + "/../" + fs::path(d).filename().string() + "/./recording.ts";
                     }},
        SameFileCase{"SymbolicLink",
                     [](const std::string &in, const std::string &d) {
                         fs::create_symlink(in, d + "/link.mp4");
                         return d + "/link.mp4";
                     }},
        SameFileCase{"HardLink",
                     [](const std::string &in, const std::string &d) {
                         fs::create_hard_link(in, d + "/hard.mp4");
                         return d + "/hard.mp4";
                     }}),
    case_name<SameFileCase>);

// Outputs named before their input, in any spelling, are refused just as well: the
// input is never deleted or truncated on its way to being read.
TEST_F(Output, AnOutputNamedBeforeItsInputLeavesTheInputWhole)
{
    const std::string input = path("recording.ts");
    fs::copy_file(fx(FixtureKind::H264AacTs), input);
    fs::create_hard_link(input, path("hard.ts"));
    const std::string before = file_bytes(input);
    const Args cases[] = {
        {"-f", "mpegts", input, "-i", input},
        {"-y", "file:" + input, "-i", input},
        {"-c", "copy", path("hard.ts"), "-i", "file:" + input},
        {"-i", fx(FixtureKind::H264AacTs), "-f", "mpegts", input, "-i", input},
    };
    for (const Args &args : cases) {
        SCOPED_TRACE(args[2]);
        log.clear();
        EXPECT_EQ(run_engine(args), -1);
        EXPECT_TRUE(log.has("' is input file #", AV_LOG_FATAL)) << log.all_text();
        EXPECT_EQ(file_bytes(input), before);
    }
}

TEST_F(Output, RunWritingOverItsInputReturnsFailure)
{
    std::string input = path("recording.ts");
    fs::copy_file(fx(FixtureKind::H264AacTs), input);
    const std::string before = file_bytes(input);
    EXPECT_EQ(run_engine(converter_args(input, input)), -1);
    EXPECT_EQ(file_bytes(input), before);
}

// A name the removal does not reach ("file:...") gets to the overwrite check.
TEST_F(Output, RefusedOverwriteLeavesTheFileAlone)
{
    std::ofstream(path("out.mp4")) << "keep me";
    ASSERT_EQ(parse({"-n", "-i", fx(FixtureKind::H264AacTs), "file:" + path("out.mp4")}), 0);
    EXPECT_TRUE(log.has("File 'file:" + path("out.mp4") + "' already exists. Exiting.\n",
                        AV_LOG_FATAL));
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 1);
    EXPECT_EQ(file_bytes(path("out.mp4")), "keep me");
}

TEST_F(Output, AllowedOverwriteReplacesTheFile)
{
    std::ofstream(path("out.mp4")) << "replace me";
    ASSERT_EQ(parse({"-y", "-i", fx(FixtureKind::H264AacTs), "file:" + path("out.mp4")}), 0);
    EXPECT_FALSE(run_failed) << log.all_text();
    EXPECT_EQ(file_bytes(path("out.mp4")), "replace me"); // until the new one is complete
    ASSERT_NE(output_files[0]->partial_path, nullptr);
    EXPECT_EQ(fs::file_size(output_files[0]->partial_path), 0u);
}

struct AnswerCase {
    const char *name;
    const char *answer;
    bool kept;
};

class OverwriteQuestion : public Output, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(OverwriteQuestion, AsksOnStandardInputAndObeysTheAnswer)
{
    const AnswerCase &c = GetParam();
    std::ofstream(path("out.mp4")) << "original";
    ChildResult r = run_cli({"-i", fx(FixtureKind::H264AacTs), "file:" + path("out.mp4")}, c.answer);
    EXPECT_NE(r.err.find("File 'file:" + path("out.mp4") + "' already exists. Overwrite ? [y/N] "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(file_bytes(path("out.mp4")) == "original", c.kept);
    if (c.kept) {
        EXPECT_NE(r.err.find("Not overwriting - exiting"), std::string::npos);
        EXPECT_NE(r.exit_status, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, OverwriteQuestion,
                         ::testing::Values(AnswerCase{"No", "n\n", true},
                                           AnswerCase{"Yes", "y\n", false}),
                         case_name<AnswerCase>);

// ---- failures once the output is registered --------------------------------------------------

struct LateFailure {
    const char *name;
    Args options;
    const char *output; // "<file>/" puts the output under a regular file
    const char *message;
};

class FailureAfterRegistration : public Output, public ::testing::WithParamInterface<LateFailure> {};

TEST_P(FailureAfterRegistration, FailsTheRun)
{
    const LateFailure &c = GetParam();
    std::ofstream(path("file")) << "x";
    Args args = {"-i", fx(FixtureKind::H264AacTs)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(path(c.output));
    ASSERT_EQ(parse(args), 0);
    EXPECT_TRUE(log.has(c.message)) << log.all_text();
    EXPECT_EQ(nb_output_files, 1);
    EXPECT_TRUE(run_failed);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureAfterRegistration,
    ::testing::Values(
        LateFailure{"OpenForWriting", {}, "file/out.mp4", "Not a directory"},
        LateFailure{"MetadataSetting", {"-metadata", "title"}, "out.mp4",
                    "No '=' character in metadata string title.\n"},
        LateFailure{"ChapterSource", {"-map_chapters", "3"}, "out.mp4",
                    "Invalid input file index 3 in chapter mapping.\n"}),
    case_name<LateFailure>);

// ---- attachments ------------------------------------------------------------------------------

TEST_F(Output, AttachedFileBecomesAnAttachmentStream)
{
    const std::string notes = "Camera 3, loading bay.\n";
    std::ofstream(path("notes.txt")) << notes;
    ASSERT_EQ(parse({"-i", fx(FixtureKind::H264AacTs), "-attach", path("notes.txt"), path("out.mkv")}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    const OutStream *s = ost(nb_output_streams - 1);
    EXPECT_EQ(s->st->codecpar->codec_type, AVMEDIA_TYPE_ATTACHMENT);
    EXPECT_EQ(s->source_index, -1);
    EXPECT_FALSE(s->stream_copy);
    EXPECT_EQ(std::string(s->attachment_filename), path("notes.txt"));
    EXPECT_EQ(std::string((const char *)s->st->codecpar->extradata, s->st->codecpar->extradata_size),
              notes);
    EXPECT_EQ(std::string((const char *)s->enc_ctx->extradata, s->enc_ctx->extradata_size), notes);
    EXPECT_EQ(tag(s->st->metadata, "filename"), "notes.txt");
}

struct AttachFailure {
    const char *name;
    const char *file; // created empty when `create`
    bool create;
    const char *message;
};

class AttachmentFailure : public Output, public ::testing::WithParamInterface<AttachFailure> {};

TEST_P(AttachmentFailure, IsReportedAndFailsTheRun)
{
    const AttachFailure &c = GetParam();
    if (c.create)
        std::ofstream{path(c.file)};
    ASSERT_EQ(parse({"-i", fx(FixtureKind::H264AacTs), "-attach", path(c.file), path("out.mkv")}), 0);
    EXPECT_TRUE(log.has(std::string(c.message) + path(c.file) + ".\n", AV_LOG_FATAL))
        << log.all_text();
    EXPECT_TRUE(run_failed);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AttachmentFailure,
    ::testing::Values(AttachFailure{"Missing", "missing.txt", false, "Could not open attachment file "},
                      AttachFailure{"Empty", "empty.txt", true, "Could not get size of the attachment "}),
    case_name<AttachFailure>);

// ---- per-stream settings ---------------------------------------------------------------------

struct SettingCase {
    const char *name;
    Args options;
    const char *output;
    // Checks the video (v) and audio (a) output streams; either may be null.
    std::function<void(const OutStream *v, const OutStream *a)> check;
};

class StreamSettings : public Output, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(StreamSettings, ReachTheOutputStream)
{
    const SettingCase &c = GetParam();
    Args args = {"-i", fx(FixtureKind::H264AacTs)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(path(c.output));
    ASSERT_EQ(parse(args), 0);
    ASSERT_FALSE(run_failed) << log.all_text();
    const OutStream *v = nullptr, *a = nullptr;
    for (int i = 0; i < nb_output_streams; i++) {
        AVMediaType type = ost(i)->st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && !v)
            v = ost(i);
        if (type == AVMEDIA_TYPE_AUDIO && !a)
            a = ost(i);
    }
    c.check(v, a);
}

std::vector<std::string> bsf_names(const OutStream *s)
{
    std::vector<std::string> names;
    for (int i = 0; i < s->nb_bsfs; i++)
        names.push_back(s->bsfs[i]->filter->name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Options, StreamSettings,
    ::testing::Values(
        SettingCase{"StreamCopy", {"-c", "copy", "-copyinkf", "-copypriorss:v", "1"}, "out.ts",
                    [](const OutStream *v, const OutStream *a) {
                        EXPECT_TRUE(v->stream_copy && a->stream_copy);
                        EXPECT_EQ(v->enc, nullptr);
                        EXPECT_NE(v->enc_ctx, nullptr);
                        EXPECT_EQ(v->avfilter, nullptr);
                        EXPECT_EQ(v->copy_initial_nonkeyframes, 1);
                        EXPECT_EQ(v->copy_prior_start, 1);
                        EXPECT_EQ(a->copy_prior_start, -1);
                    }},
        SettingCase{"FlagsReachCopiedStreams", {"-c", "copy", "-flags:v", "+bitexact"}, "out.ts",
                    [](const OutStream *v, const OutStream *a) {
                        EXPECT_TRUE(v->enc_ctx->flags & AV_CODEC_FLAG_BITEXACT);
                        EXPECT_FALSE(a->enc_ctx->flags & AV_CODEC_FLAG_BITEXACT);
                    }},
        SettingCase{"FourCharacterTag", {"-tag:v", "avc1", "-tag:a", "0x20"}, "out.mp4",
                    [](const OutStream *v, const OutStream *a) {
                        EXPECT_EQ(v->st->codecpar->codec_tag, MKTAG('a', 'v', 'c', '1'));
                        EXPECT_EQ(v->enc_ctx->codec_tag, MKTAG('a', 'v', 'c', '1'));
                        EXPECT_EQ(a->enc_ctx->codec_tag, 0x20u);
                    }},
        SettingCase{"ShortTagIsPadded", {"-tag:v", "ab"}, "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        EXPECT_EQ(v->enc_ctx->codec_tag, MKTAG('a', 'b', 0, 0));
                    }},
        SettingCase{"FixedQuality", {"-q:v", "3"}, "out.ts",
                    [](const OutStream *v, const OutStream *a) {
                        EXPECT_TRUE(v->enc_ctx->flags & AV_CODEC_FLAG_QSCALE);
                        EXPECT_EQ(v->enc_ctx->global_quality, 3 * FF_QP2LAMBDA);
                        EXPECT_FALSE(a->enc_ctx->flags & AV_CODEC_FLAG_QSCALE);
                        // MPEG-TS does not want global headers.
                        EXPECT_FALSE(v->enc_ctx->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
                    }},
        SettingCase{"LonePlusKeepsFormatUnset", {"-pix_fmt", "+"}, "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        EXPECT_EQ(v->keep_pix_fmt, 1);
                        EXPECT_EQ(v->enc_ctx->pix_fmt, AV_PIX_FMT_NONE);
                    }},
        SettingCase{"CopyKeepsRateButNotTheAspectOption", {"-c:v", "copy", "-r", "25", "-aspect", "4:3"},
                    "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        EXPECT_EQ(av_cmp_q(v->frame_rate, AVRational{25, 1}), 0);
                        EXPECT_EQ(v->frame_aspect_ratio, 0.0f);
                    }},
        SettingCase{"CopyNeverReadsAMalformedAspect", {"-c", "copy", "-aspect", "abc"}, "out.mkv",
                    [](const OutStream *v, const OutStream *) {
                        EXPECT_EQ(v->frame_aspect_ratio, 0.0f);
                    }},
        SettingCase{"EncodingTakesTheAspect", {"-aspect", "16:9"}, "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        EXPECT_FLOAT_EQ(v->frame_aspect_ratio, 16.0f / 9);
                    }},
        SettingCase{"ShortMatrixIsKeptAsFarAsItGoes", {"-intra_matrix", "8,9,10"}, "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        ASSERT_NE(v->enc_ctx->intra_matrix, nullptr);
                        EXPECT_EQ(v->enc_ctx->intra_matrix[2], 10);
                        EXPECT_EQ(v->enc_ctx->intra_matrix[3], 0);
                    }},
        SettingCase{"RateControlOverrides", {"-rc_override", "0,10,5/20,30,-50"}, "out.mp4",
                    [](const OutStream *v, const OutStream *) {
                        ASSERT_EQ(v->enc_ctx->rc_override_count, 2);
                        const RcOverride *r = v->enc_ctx->rc_override;
                        EXPECT_EQ(r[0].end_frame, 10);
                        EXPECT_EQ(r[0].qscale, 5);
                        EXPECT_FLOAT_EQ(r[0].quality_factor, 1.0f);
                        EXPECT_EQ(r[1].start_frame, 20);
                        EXPECT_EQ(r[1].qscale, 0);
                        EXPECT_FLOAT_EQ(r[1].quality_factor, 0.5f);
                    }},
        SettingCase{"BitstreamFiltersInOrder", {"-c", "copy", "-bsf:v", "h264_mp4toannexb,dump_extra"},
                    "out.ts",
                    [](const OutStream *v, const OutStream *a) {
                        EXPECT_EQ(bsf_names(v),
                                  (std::vector<std::string>{"h264_mp4toannexb", "dump_extra"}));
                        EXPECT_EQ(a->nb_bsfs, 0);
                    }}),
    case_name<SettingCase>);

// Every stream matching one list element gets the element's whole list.
TEST_F(Output, EveryMatchingStreamGetsTheWholeFilterList)
{
    ASSERT_EQ(parse({"-i", fx(FixtureKind::Mp4TwoVideoSizes), "-map", "0:v", "-c", "copy", "-bsf:v",
                     "h264_mp4toannexb,dump_extra", path("out.ts")}),
              0);
    ASSERT_EQ(nb_output_streams, 2);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(bsf_names(ost(i)), (std::vector<std::string>{"h264_mp4toannexb", "dump_extra"}));
}

struct BadSetting {
    const char *name;
    Args options;
    const char *message;
};

class InvalidStreamSetting : public Output, public ::testing::WithParamInterface<BadSetting> {};

TEST_P(InvalidStreamSetting, IsReportedAndLeavesNoOutput)
{
    const BadSetting &c = GetParam();
    Args args = {"-i", fx(FixtureKind::H264AacTs)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(path("out.mp4"));
    ASSERT_EQ(parse(args), 0);
    EXPECT_TRUE(log.has(c.message, AV_LOG_FATAL)) << log.all_text();
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, InvalidStreamSetting,
    ::testing::Values(
        BadSetting{"FrameRate", {"-r", "fast"}, "Invalid framerate value: fast\n"},
        BadSetting{"FrameSize", {"-s", "big"}, "Invalid frame size: big.\n"},
        BadSetting{"AspectRatio", {"-aspect", "0:1"}, "Invalid aspect ratio: 0:1\n"},
        BadSetting{"PixelFormat", {"-pix_fmt", "+nope"}, "Unknown pixel format requested: nope.\n"},
        BadSetting{"SampleFormat", {"-sample_fmt", "nope"}, "Invalid sample format 'nope'\n"},
        BadSetting{"RateControl", {"-rc_override", "1,2"}, "error parsing rc_override\n"},
        BadSetting{"BitstreamFilter", {"-bsf:v", "dump_extra,nope"}, "Unknown bitstream filter nope\n"},
        BadSetting{"Encoder", {"-c:v", "nope"}, "Unknown encoder 'nope'"}),
    case_name<BadSetting>);

} // namespace
