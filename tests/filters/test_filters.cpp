// Filtergraphs: simple graphs configure for every kind of test recording with
// sources that describe the input and sinks that hand the encoder what it takes;
// the filters that legacy options insert; reconfiguration; complex graphs with
// their input bindings and failures; the sub-picture canvas; the format choice
// for encoders.
#include "engine_parse.h"
#include "ffmpeg_exec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace fixtures;

namespace {

class Filters : public EngineParse {
protected:
    std::string out_dir;
    void SetUp() override
    {
        EngineParse::SetUp();
        out_dir = scratch_dir("filters/" + std::string(::testing::UnitTest::GetInstance()
                                                            ->current_test_info()
                                                            ->name()));
    }
    std::string out(const char *name) const { return out_dir + "/" + name; }

    // The simple graph set-up would give output stream i, configured.
    Filtergraph *simple_graph(int i)
    {
        OutStream *s = ost(i);
        Filtergraph *fg = create_simple_graph(input_streams[s->source_index], s);
        EXPECT_NE(fg, nullptr);
        return fg;
    }
    AVFilterContext *filter(Filtergraph *fg, const std::string &name)
    {
        return avfilter_graph_get_filter(fg->graph, name.c_str());
    }
};

std::string kind_name(const ::testing::TestParamInfo<FixtureKind> &p)
{
    return fixture_kind_name(p.param);
}

bool listed(const AVPixelFormat *list, int fmt)
{
    for (; list && *list != AV_PIX_FMT_NONE; list++)
        if (*list == fmt)
            return true;
    return false;
}

bool listed(const AVSampleFormat *list, int fmt)
{
    for (; list && *list != AV_SAMPLE_FMT_NONE; list++)
        if (*list == fmt)
            return true;
    return false;
}

// ---- simple graphs for every recording -------------------------------------------------

class SimpleGraphEveryKind : public Filters, public ::testing::WithParamInterface<FixtureKind> {};

TEST_P(SimpleGraphEveryKind, SourcesDescribeTheInputAndSinksTakeEncoderFormats)
{
    std::vector<std::string> words = converter_arguments(fixture_path(GetParam()), out("out.mp4"));
    ASSERT_EQ(parse(std::vector<std::string>(words.begin() + 1, words.end())), 0);
    int graphs = 0;
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *s = ost(i);
        AVMediaType type = s->st->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        Filtergraph *fg = simple_graph(i);
        ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
        graphs++;
        InStream *ist = input_streams[s->source_index];
        const AVCodecParameters *par = ist->st->codecpar;
        AVFilterContext *src = fg->inputs[0]->filter;
        AVFilterContext *sink = fg->outputs[0]->filter;
        EXPECT_STREQ(src->name, ("graph " + std::to_string(fg->index) + " input from stream 0:" +
                                 std::to_string(ist->st->index))
                                    .c_str());
        EXPECT_STREQ(sink->name, ("output stream 0:" + std::to_string(s->index)).c_str());
        EXPECT_TRUE(input_feeds_graph(fg, ist));
        const AVFilterLink *from_source = src->outputs[0];
        if (type == AVMEDIA_TYPE_VIDEO) {
            EXPECT_STREQ(src->filter->name, "buffer");
            EXPECT_STREQ(sink->filter->name, "buffersink");
            EXPECT_EQ(from_source->w, par->width);
            EXPECT_EQ(from_source->h, par->height);
            EXPECT_EQ(from_source->format, par->format);
            EXPECT_EQ(av_cmp_q(from_source->time_base, ist->st->time_base), 0);
            EXPECT_NE(filter(fg, "format"), nullptr);
            EXPECT_TRUE(listed(s->enc->pix_fmts, av_buffersink_get_format(sink)));
        } else {
            EXPECT_STREQ(src->filter->name, "abuffer");
            EXPECT_STREQ(sink->filter->name, "abuffersink");
            EXPECT_EQ(from_source->sample_rate, par->sample_rate);
            EXPECT_EQ(from_source->format, ist->dec_ctx->sample_fmt);
            EXPECT_EQ(from_source->ch_layout.nb_channels, par->ch_layout.nb_channels);
            EXPECT_NE(filter(fg, "audio format for output stream 0:" + std::to_string(s->index)),
                      nullptr);
            EXPECT_TRUE(listed(s->enc->sample_fmts, av_buffersink_get_format(sink)));
        }
    }
    EXPECT_GT(graphs, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimpleGraphEveryKind, ::testing::ValuesIn(all_fixture_kinds()),
                         kind_name);

// ---- simple graphs: descriptions and inserted filters ------------------------------------

TEST_F(Filters, SimpleGraphWithTwoOutputsIsRefused)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-vf", "split", "-an",
                     out("out.mp4")}),
              0);
    EXPECT_EQ(build_filtergraph(simple_graph(0)), AVERROR(EINVAL));
    EXPECT_TRUE(log.has("Simple filtergraph 'split' does not have exactly one input and output.\n",
                        AV_LOG_ERROR));
}

TEST_F(Filters, ForcedInputRateNumbersFramesInItsTimeBase)
{
    ASSERT_EQ(parse({"-r", "10", "-i", fixture_path(FixtureKind::H264AacTs), "-an",
                     out("out.mp4")}),
              0);
    Filtergraph *fg = simple_graph(0);
    ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
    AVFilterContext *setpts = filter(fg, "force CFR for input from stream 0:0");
    ASSERT_NE(setpts, nullptr);
    EXPECT_STREQ(setpts->filter->name, "setpts");
    EXPECT_EQ(av_cmp_q(fg->inputs[0]->filter->outputs[0]->time_base, AVRational{1, 10}), 0);
    EXPECT_EQ(av_cmp_q(fg->inputs[0]->filter->outputs[0]->frame_rate, AVRational{10, 1}), 0);
}

TEST_F(Filters, AsyncAndVolumeInsertTheirFiltersAfterTheAudioSource)
{
    audio_sync_method = 2;
    audio_volume = 512;
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-vn", out("out.mp4")}), 0);
    Filtergraph *fg = simple_graph(0);
    ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
    EXPECT_NE(filter(fg, "graph 0 aresample for input stream 0:1"), nullptr);
    EXPECT_NE(filter(fg, "graph 0 volume for input stream 0:1"), nullptr);
    // 2 / 16000 Hz of soft compensation; drift threshold at its default.
    EXPECT_TRUE(log.has("-async is forwarded to lavfi similarly to -af "
                        "aresample=min_comp=0.001:min_hard_comp=0.100000:max_soft_comp=0.000125.\n",
                        AV_LOG_INFO));
    EXPECT_TRUE(log.has("-vol is forwarded to lavfi similarly to -af volume=2.000000.\n",
                        AV_LOG_INFO));
}

struct SinkCase {
    const char *name;
    Args options;
    int width, height;       // of the sink, 0: the input's
    AVPixelFormat pix_fmt;   // of the sink, NONE: any the encoder takes
    const char *log_needle;  // expected warning, or nullptr
    bool keeps_input_format = false;
};

class VideoSink : public Filters, public ::testing::WithParamInterface<SinkCase> {};

TEST_P(VideoSink, ScalesAndConvertsForTheEncoder)
{
    const SinkCase &c = GetParam();
    Args args = {"-i", fixture_path(FixtureKind::MjpegMulawAvi), "-an", "-c:v", "libx264"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(out("out.mp4"));
    ASSERT_EQ(parse(args), 0);
    Filtergraph *fg = simple_graph(0);
    ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
    AVFilterContext *sink = fg->outputs[0]->filter;
    const AVCodecParameters *par = input_streams[0]->st->codecpar;
    EXPECT_EQ(av_buffersink_get_w(sink), c.width ? c.width : par->width);
    EXPECT_EQ(av_buffersink_get_h(sink), c.height ? c.height : par->height);
    EXPECT_EQ(filter(fg, "scaler for output stream 0:0") != nullptr, c.width != 0);
    if (c.pix_fmt != AV_PIX_FMT_NONE) {
        EXPECT_EQ(av_buffersink_get_format(sink), c.pix_fmt);
    }
    if (c.keeps_input_format) {
        EXPECT_EQ(av_buffersink_get_format(sink), par->format);
        EXPECT_TRUE(fg->graph->disable_auto_convert);
    }
    if (c.log_needle) {
        EXPECT_TRUE(log.has(c.log_needle, AV_LOG_WARNING)) << log.all_text();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, VideoSink,
    ::testing::Values(
        SinkCase{"SizeInsertsScaler", {"-s", "160x120"}, 160, 120, AV_PIX_FMT_NONE, nullptr},
        SinkCase{"SupportedFormatIsKept", {"-pix_fmt", "yuv444p"}, 0, 0, AV_PIX_FMT_YUV444P, nullptr},
        SinkCase{"UnsupportedFormatIsReplaced",
                 {"-pix_fmt", "rgb24"}, 0, 0, AV_PIX_FMT_NONE,
                 "Incompatible pixel format 'rgb24' for codec 'libx264', auto-selecting format"},
        // "+" alone keeps whatever the decoder gives: the MJPEG picture's own format.
        SinkCase{"PlusKeepsInputFormat", {"-pix_fmt", "+"}, 0, 0, AV_PIX_FMT_NONE, nullptr, true}),
    case_name<SinkCase>);

TEST_F(Filters, AudioSinkMapsChannelsAndFixesTheEncoderFormat)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-vn", "-map_channel", "0.1.0",
                     "-map_channel", "-1", "-ar", "8000", "-sample_fmt", "s16", "-c:a", "pcm_s16le",
                     out("out.wav")}),
              0);
    Filtergraph *fg = simple_graph(0);
    ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
    EXPECT_TRUE(log.has("-map_channel is forwarded to lavfi similarly to -af pan=0x3|c0=c0.\n",
                        AV_LOG_INFO));
    ASSERT_NE(filter(fg, "pan"), nullptr);
    AVFilterContext *sink = fg->outputs[0]->filter;
    EXPECT_EQ(av_buffersink_get_sample_rate(sink), 8000);
    EXPECT_EQ(av_buffersink_get_format(sink), AV_SAMPLE_FMT_S16);
    EXPECT_EQ(av_buffersink_get_channels(sink), 2);
}

TEST_F(Filters, ChannelCountWithoutLayoutGetsTheDefaultLayout)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-vn", "-ac", "2",
                     out("out.mp4")}),
              0);
    ASSERT_EQ(build_filtergraph(simple_graph(0)), 0) << log.all_text();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    EXPECT_EQ(av_channel_layout_compare(&ost(0)->enc_ctx->ch_layout, &stereo), 0);
}

TEST_F(Filters, RebuildKeepsRecordsAndTakesNewInputParameters)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-an", out("out.mp4")}), 0);
    Filtergraph *fg = simple_graph(0);
    ASSERT_EQ(build_filtergraph(fg), 0);
    GraphInput *in = fg->inputs[0];
    GraphOutput *o_ = fg->outputs[0];
    // What the loop does when decoded pictures change size.
    input_streams[0]->resample_width = 160;
    input_streams[0]->resample_height = 120;
    ASSERT_EQ(build_filtergraph(fg), 0) << log.all_text();
    EXPECT_EQ(fg->inputs[0], in);
    EXPECT_EQ(fg->outputs[0], o_);
    EXPECT_EQ(in->filter->outputs[0]->w, 160);
    EXPECT_EQ(av_buffersink_get_h(o_->filter), 120);
}

// ---- complex graphs -----------------------------------------------------------------------

TEST_F(Filters, LabelledComplexOutputBecomesAStreamFedByTheGraph)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-filter_complex",
                     "[0:v]scale=160:120[small];[0:a]volume=2[loud]", "-map", "[small]", "-map",
                     "[loud]", out("out.mp4")}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    ASSERT_EQ(nb_filtergraphs, 1);
    Filtergraph *fg = filtergraphs[0];
    ASSERT_EQ(fg->nb_inputs, 2);
    ASSERT_EQ(fg->nb_outputs, 2);
    EXPECT_EQ(fg->inputs[0]->ist, input_streams[0]);
    EXPECT_EQ(fg->inputs[1]->ist, input_streams[1]);
    EXPECT_EQ(input_streams[0]->decoding_needed, 1);
    ASSERT_EQ(nb_output_streams, 2);
    const char *const filter_names[] = {"Parsed_scale_0", "Parsed_volume_1"};
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(ost(i)->source_index, -1);
        ASSERT_NE(ost(i)->filter, nullptr);
        EXPECT_EQ(ost(i)->filter->ost, ost(i));
        EXPECT_EQ(ost(i)->filter->pending_pad, nullptr);
        EXPECT_STREQ(ost(i)->filter->name, filter_names[i]);
    }
    // What set-up does next: configure the graph as a whole.
    ASSERT_GE(avfilter_graph_config(fg->graph, nullptr), 0) << log.all_text();
    EXPECT_EQ(av_buffersink_get_w(ost(0)->filter->filter), 160);
}

TEST_F(Filters, UnlabelledComplexOutputTakesThePlaceOfAutomaticVideo)
{
    ASSERT_EQ(parse({"-i", fixture_path(FixtureKind::H264AacTs), "-filter_complex", "hflip",
                     out("out.mp4")}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    ASSERT_EQ(nb_output_streams, 2); // the graph's video, then the automatic audio
    EXPECT_EQ(ost(0)->source_index, -1);
    EXPECT_EQ(ost(0)->st->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(ost(1)->source_index, 1);
    EXPECT_EQ(filtergraphs[0]->inputs[0]->ist, input_streams[0]);
}

struct ComplexFailure {
    const char *name;
    std::string graph;
    Args maps;
    std::string message;
    int level;
};

class ComplexGraphFailure : public Filters, public ::testing::WithParamInterface<ComplexFailure> {};

TEST_P(ComplexGraphFailure, IsReportedAndFailsTheRun)
{
    const ComplexFailure &c = GetParam();
    Args args = {"-i", fixture_path(FixtureKind::H264AacTs), "-filter_complex", c.graph};
    args.insert(args.end(), c.maps.begin(), c.maps.end());
    args.push_back(out("out.mp4"));
    ASSERT_EQ(parse(args), 0);
    EXPECT_TRUE(log.has(c.message, c.level)) << log.all_text();
    EXPECT_TRUE(run_failed);
    EXPECT_EQ(nb_output_files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ComplexGraphFailure,
    ::testing::Values(
        ComplexFailure{"FileIndexBeyondInputs", "[5:v]null[out]", {"-map", "[out]"},
                       "Invalid file index 5 in filtergraph description [5:v]null[out].\n",
                       AV_LOG_FATAL},
        ComplexFailure{"SpecifierWithoutStream", "[0:s]null[out]", {"-map", "[out]"},
                       "Stream specifier 's' in filtergraph description [0:s]null[out] matches no "
                       "streams.\n",
                       AV_LOG_FATAL},
        ComplexFailure{"UnlabelledPadWithoutFreeStream", "[0:a]anull[a];anull[b]",
                       {"-map", "[a]", "-map", "[b]"},
                       "Cannot find a matching stream for unlabeled input pad 0 on filter "
                       "Parsed_anull_1\n",
                       AV_LOG_FATAL},
        ComplexFailure{"ConfigurationFailure", "[0:v]nosuchfilter[out]", {"-map", "[out]"},
                       "Error configuring filters.\n", AV_LOG_FATAL},
        ComplexFailure{"StreamCopyOfGraphOutput", "[0:v]null[out]", {"-map", "[out]", "-c:v", "copy"},
                       "Streamcopy requested for output stream 0:0, which is fed from a complex "
                       "filtergraph. Filtering and streamcopy cannot be used together.\n",
                       AV_LOG_ERROR},
        ComplexFailure{"UnknownLabel", "[0:v]null[out]", {"-map", "[other]"},
                       "Output with label 'other' does not exist in any defined filter graph.\n",
                       AV_LOG_FATAL}),
    case_name<ComplexFailure>);

// ---- the sub-picture canvas ------------------------------------------------------------------

struct CanvasCase {
    const char *name;
    std::string (*input)(const std::string &dir);
    int width, height;
    bool derived; // the size was worked out, and said so
};

std::string subtitles_only(const std::string &dir)
{
    std::string path = dir + "/subtitles_only.mkv";
    remux(fixture_path(FixtureKind::MkvTextSubtitle), path, {{AVMEDIA_TYPE_SUBTITLE}, {}, {}, false});
    return path;
}

std::string text_with_video(const std::string &)
{
    return fixture_path(FixtureKind::MkvTextSubtitle);
}

class SubtitleCanvas : public Filters, public ::testing::WithParamInterface<CanvasCase> {};

TEST_P(SubtitleCanvas, HasTheSizeOfTheSubtitlesOrTheVideoOrPal)
{
    const CanvasCase &c = GetParam();
    ASSERT_EQ(parse({"-i", c.input(out_dir), "-filter_complex", "[0:s]null[v]", "-map", "[v]",
                     out("out.mp4")}),
              0);
    ASSERT_FALSE(run_failed) << log.all_text();
    InStream *ist = filtergraphs[0]->inputs[0]->ist;
    ASSERT_EQ(ist->st->codecpar->codec_type, AVMEDIA_TYPE_SUBTITLE);
    const AVFrame *canvas = ist->sub2video.frame;
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->width, c.width);
    EXPECT_EQ(canvas->height, c.height);
    EXPECT_EQ(canvas->format, AV_PIX_FMT_RGB32);
    EXPECT_EQ(canvas->linesize[0] % 32, 0);
    bool clear = true;
    for (int y = 0; y < canvas->height; y++)
        for (int x = 0; x < canvas->width * 4; x++)
            clear = clear && !canvas->data[0][y * canvas->linesize[0] + x];
    EXPECT_TRUE(clear);
    std::string line = "sub2video: using " + std::to_string(c.width) + "x" +
                       std::to_string(c.height) + " canvas\n";
    EXPECT_EQ(log.has(line, AV_LOG_INFO), c.derived);
    ASSERT_GE(avfilter_graph_config(filtergraphs[0]->graph, nullptr), 0) << log.all_text();
    EXPECT_EQ(filtergraphs[0]->inputs[0]->filter->outputs[0]->w, c.width);
    EXPECT_EQ(filtergraphs[0]->inputs[0]->filter->outputs[0]->format, AV_PIX_FMT_RGB32);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SubtitleCanvas,
    ::testing::Values(CanvasCase{"NoVideoGivesPalSize", subtitles_only, 720, 576, true},
                      CanvasCase{"VideoOfTheFileGivesItsSize", text_with_video, 320, 240, true}),
    case_name<CanvasCase>);

// ---- formats for encoders -------------------------------------------------------------------

struct PixelCase {
    const char *name;
    const char *encoder; // nullptr: none
    int strict;
    AVPixelFormat target;
    AVPixelFormat expected; // NONE: any format of the encoder's list
    bool warns;
};

class EncoderPixelFormat : public ::testing::TestWithParam<PixelCase> {};

TEST_P(EncoderPixelFormat, IsTheTargetWhenAcceptedElseTheClosest)
{
    const PixelCase &c = GetParam();
    LogCapture log;
    const AVCodec *codec = c.encoder ? avcodec_find_encoder_by_name(c.encoder) : nullptr;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->strict_std_compliance = c.strict;
    AVPixelFormat got = pick_encoder_pixel_format(ctx, codec, c.target);
    if (c.expected != AV_PIX_FMT_NONE) {
        EXPECT_EQ(got, c.expected);
    } else {
        EXPECT_TRUE(listed(codec->pix_fmts, got));
    }
    EXPECT_EQ(log.has("Incompatible pixel format", AV_LOG_WARNING), c.warns);
    avcodec_free_context(&ctx);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, EncoderPixelFormat,
    ::testing::Values(
        PixelCase{"Accepted", "libx264", 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false},
        PixelCase{"ClosestOfTheList", "libx264", 0, AV_PIX_FMT_RGB24, AV_PIX_FMT_NONE, true},
        PixelCase{"EncoderWithoutList", "rawvideo", 0, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGB24, false},
        PixelCase{"NoEncoder", nullptr, 0, AV_PIX_FMT_GRAY8, AV_PIX_FMT_GRAY8, false},
        PixelCase{"MjpegLooseTakesLimitedRange", "mjpeg", FF_COMPLIANCE_UNOFFICIAL,
                  AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false},
        PixelCase{"AlphaPrefersAlpha", "png", 0, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_RGBA, true}),
    case_name<PixelCase>);

struct SampleCase {
    const char *name;
    const char *encoder;
    AVSampleFormat given, expected;
    bool incompatible, not_lossless;
};

class EncoderSampleFormat : public ::testing::TestWithParam<SampleCase> {};

TEST_P(EncoderSampleFormat, FallsBackToTheEncodersFirstFormat)
{
    const SampleCase &c = GetParam();
    LogCapture log;
    const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->sample_fmt = c.given;
    pick_encoder_sample_format(ctx, codec);
    EXPECT_EQ(ctx->sample_fmt, c.expected);
    EXPECT_EQ(log.has("Incompatible sample format", AV_LOG_WARNING), c.incompatible);
    EXPECT_EQ(log.has("Conversion will not be lossless.\n", AV_LOG_ERROR), c.not_lossless);
    avcodec_free_context(&ctx);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, EncoderSampleFormat,
    ::testing::Values(
        SampleCase{"Accepted", "aac", AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLTP, false, false},
        SampleCase{"Replaced", "aac", AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, true, false},
        SampleCase{"LosslessLosesPrecision", "flac", AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_S16, true, true},
        SampleCase{"LosslessWithMorePrecision", "flac", AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16, true,
                   false}),
    case_name<SampleCase>);

} // namespace
