// End to end through ffmpeg_exec: the converter's own argument vector turns every
// kind of test recording (damaged ones included) into a baseline H.264 MP4 that
// covers the recording; the mapping printout; runs following each other; stopping
// by key and by signal; stream copy; frame limits; the summary and its warning;
// timestamp jumps; a filter rebuild that fails; subtitles; the progress, statistics
// and benchmark outputs; set-up messages.
#include "engine_harness.h"
#include "fixture_gen.h"
#include "media_facts.h"

#include "engine.h"
#include "ffmpeg_exec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace fixtures;

namespace {

using Args = std::vector<std::string>;

// The converter window's arguments (after the program name).
Args converter_args(const std::string &in, const std::string &out)
{
    Args words = converter_arguments(in, out);
    return Args(words.begin() + 1, words.end()); // the program name is added by the runner
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool is_baseline(int profile)
{
    return profile == FF_PROFILE_H264_BASELINE || profile == FF_PROFILE_H264_CONSTRAINED_BASELINE;
}

// One frame of the output: a video frame of the input's rate, or (audio only)
// one AAC frame of 1024 samples.
double one_frame(const FileFacts &in)
{
    double frame = 0;
    for (const StreamFacts &s : in.streams) {
        if (s.type == AVMEDIA_TYPE_VIDEO && s.frame_rate.num > 0)
            frame = std::max(frame, 1 / av_q2d(s.frame_rate));
        if (s.type == AVMEDIA_TYPE_AUDIO && s.sample_rate > 0 && !in.count(AVMEDIA_TYPE_VIDEO))
            frame = std::max(frame, 1024.0 / s.sample_rate);
    }
    return frame;
}

// ---- the converter's vector over every kind of recording --------------------------

TEST(ConverterVector, EveryRecordingKindBecomesABaselineLevel3Mp4CoveringIt)
{
    const std::string dir = scratch_dir("transcode_kinds");
    for (FixtureKind kind : all_fixture_kinds()) {
        const std::string name = fixture_kind_name(kind);
        SCOPED_TRACE(name);
        const std::string in = fixture_path(kind), out = dir + "/" + name + ".mp4";
        LogCapture log(AV_LOG_WARNING);
        ASSERT_EQ(run_engine(converter_args(in, out)), 0) << log.all_text();

        const FileFacts src = inspect(in), dst = inspect(out);
        EXPECT_EQ(dst.format.find("mp4") != std::string::npos, true) << dst.format;
        EXPECT_EQ(dst.count(AVMEDIA_TYPE_VIDEO), src.count(AVMEDIA_TYPE_VIDEO) ? 1 : 0);
        EXPECT_EQ(dst.count(AVMEDIA_TYPE_AUDIO), src.count(AVMEDIA_TYPE_AUDIO) ? 1 : 0);
        EXPECT_EQ(int(dst.streams.size()), dst.count(AVMEDIA_TYPE_VIDEO) + dst.count(AVMEDIA_TYPE_AUDIO));
        if (const StreamFacts *v = dst.first(AVMEDIA_TYPE_VIDEO)) {
            EXPECT_EQ(v->codec, AV_CODEC_ID_H264);
            EXPECT_TRUE(is_baseline(v->profile)) << "profile " << v->profile;
            EXPECT_EQ(v->level, 30);
            EXPECT_GT(v->packets, 0);
        }
        if (const StreamFacts *a = dst.first(AVMEDIA_TYPE_AUDIO)) {
            EXPECT_EQ(a->codec, AV_CODEC_ID_AAC);
            EXPECT_GT(a->packets, 0);
        }
        // The output covers what the recording covers, to one frame.
        EXPECT_NEAR(dst.duration, src.span, one_frame(src) + 1e-3) << "input span " << src.span;
    }
}

TEST(ConverterVector, CameraPictureFormatsBecomeBaseline420)
{
    // Cameras record 4:2:2 and 4:4:4 pictures too; the baseline profile only takes
    // 8-bit 4:2:0, so the graph must convert instead of the encoder refusing.
    const std::string dir = scratch_dir("transcode_formats");
    const std::tuple<const char *, const char *, const char *> cases[] = {
        // encoder, picture format, container
        {"mjpeg", "yuvj422p", "avi"},
        {"mjpeg", "yuvj444p", "avi"},
        {"libx264", "yuv422p", "matroska"},
        {"libx264", "yuv444p", "matroska"},
    };
    for (const auto &[encoder, format, container] : cases) {
        SCOPED_TRACE(std::string(encoder) + " " + format);
        ClipRecipe recipe = fixture_recipe(FixtureKind::MjpegMulawAvi);
        recipe.name = std::string("formats_") + encoder + "_" + format;
        recipe.format = container;
        recipe.extension = std::string(container) == "avi" ? "avi" : "mkv";
        recipe.duration = 1;
        recipe.video[0].encoder = encoder;
        recipe.video[0].pix_fmt = format;
        const std::string in = clip_path(recipe);
        ASSERT_EQ(inspect(in).first(AVMEDIA_TYPE_VIDEO)->format, av_get_pix_fmt(format));

        const std::string out = dir + "/" + recipe.name + ".mp4";
        LogCapture log(AV_LOG_ERROR);
        ASSERT_EQ(run_engine(converter_args(in, out)), 0) << log.all_text();
        const FileFacts dst = inspect(out);
        const StreamFacts *v = dst.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(v, nullptr);
        EXPECT_TRUE(is_baseline(v->profile)) << "profile " << v->profile;
        EXPECT_TRUE(v->format == AV_PIX_FMT_YUV420P || v->format == AV_PIX_FMT_YUVJ420P)
            << av_get_pix_fmt_name(AVPixelFormat(v->format));
        EXPECT_EQ(luma_sums(out).size(), size_t(10));
    }
}

TEST(ConverterVector, LargestPictureSizeIsKeptThroughASizeChange)
{
    const std::string dir = scratch_dir("transcode_size");
    const std::tuple<FixtureKind, int, int, int> cases[] = {
        // kind, width, height, frames
        {FixtureKind::Mp4TwoVideoSizes, 320, 240, 50},
        {FixtureKind::H264SizeChangeRaw, 320, 240, 50},
    };
    for (const auto &[kind, width, height, frames] : cases) {
        SCOPED_TRACE(fixture_kind_name(kind));
        const std::string out = dir + "/" + fixture_kind_name(kind) + ".mp4";
        LogCapture log;
        ASSERT_EQ(run_engine(converter_args(fixture_path(kind), out)), 0);
        const FileFacts dst = inspect(out);
        ASSERT_NE(dst.first(AVMEDIA_TYPE_VIDEO), nullptr);
        EXPECT_EQ(dst.first(AVMEDIA_TYPE_VIDEO)->width, width);
        EXPECT_EQ(dst.first(AVMEDIA_TYPE_VIDEO)->height, height);
        EXPECT_EQ(luma_sums(out).size(), size_t(frames));
    }
    LogCapture log(AV_LOG_INFO);
    run_engine(converter_args(fixture_path(FixtureKind::H264SizeChangeRaw), dir + "/again.mp4"));
    EXPECT_TRUE(log.has("Input stream #0:0 frame changed from size:320x240 fmt:yuv420p to "
                        "size:160x120 fmt:yuv420p\n",
                        AV_LOG_INFO));
}

TEST(ConverterVector, RunsFollowingEachOtherPrintTheirMappingFromFileZero)
{
    const std::string dir = scratch_dir("transcode_twice");
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        const std::string out = dir + "/run" + std::to_string(run) + ".mp4";
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(converter_args(in, out)), 0);
        const std::string text = log.all_text();
        EXPECT_NE(text.find("Output #0, mp4, to '" + out + "'"), std::string::npos);
        EXPECT_NE(text.find("Stream mapping:\n"
                            "  Stream #0:0 -> #0:0 (h264 -> libx264)\n"
                            "  Stream #0:1 -> #0:1 (aac -> aac)\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(inspect(out).count(AVMEDIA_TYPE_VIDEO), 1);
        EXPECT_EQ(nb_input_files + nb_output_files + nb_filtergraphs, 0);
        EXPECT_EQ(video_size + audio_size + nb_frames_dup + nb_frames_drop, 0);
    }
}

// ---- stopping a running conversion ---------------------------------------------------

// The command-line program with a terminal on standard input (keys come only
// from a terminal; a pseudo-terminal in raw mode) and a pipe for standard error.
class RunningChild {
public:
    // `ignored`: a signal the program starts with ignored (0: none).
    explicit RunningChild(const Args &args, int ignored = 0)
    {
        int err[2];
        in_ = posix_openpt(O_RDWR | O_NOCTTY);
        const int terminal =
            in_ >= 0 && grantpt(in_) == 0 && unlockpt(in_) == 0 ? open(ptsname(in_), O_RDWR | O_NOCTTY) : -1;
        termios raw;
        if (terminal < 0 || tcgetattr(terminal, &raw) != 0 || pipe(err))
            return;
        cfmakeraw(&raw);
        tcsetattr(terminal, TCSANOW, &raw);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(terminal, 0);
            dup2(err[1], 2);
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            for (int fd : {terminal, in_, err[0], err[1], null_fd})
                close(fd);
            if (ignored)
                signal(ignored, SIG_IGN);
            exec_cli(args);
        }
        close(terminal);
        close(err[1]);
        err_ = err[0];
    }
    ~RunningChild()
    {
        if (in_ >= 0)
            close(in_);
        if (err_ >= 0)
            close(err_);
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    const std::string &err() const { return err_text_; }

    // Reads standard error until `needle` shows or `seconds` pass.
    bool wait_for(const std::string &needle, int seconds)
    {
        const int64_t end = now_ms() + seconds * 1000;
        while (err_text_.find(needle) == std::string::npos) {
            if (now_ms() > end || !read_some(200))
                return err_text_.find(needle) != std::string::npos;
        }
        return true;
    }
    void type(const std::string &keys) { ASSERT_EQ(write(in_, keys.data(), keys.size()), ssize_t(keys.size())); }
    // Exit status, or -1 when it did not end within `seconds`.
    int wait_exit(int seconds)
    {
        const int64_t end = now_ms() + seconds * 1000;
        while (now_ms() < end && read_some(200)) {
        }
        int status = 0;
        while (now_ms() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(20000);
        }
        return -1;
    }

private:
    static int64_t now_ms()
    {
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    // False at the end of standard error.
    bool read_some(int timeout_ms)
    {
        struct pollfd p = {err_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            return true;
        char buf[4096];
        ssize_t n = read(err_, buf, sizeof(buf));
        if (n <= 0)
            return false;
        err_text_.append(buf, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1, err_ = -1;
    std::string err_text_;
};

TEST(StopRequests, KeyAndSignalsEndWithAFinishedFileButOnlyTheKeyWithExitZero)
{
    ClipRecipe long_clip;
    long_clip.name = "stop_requests";
    long_clip.format = "mpegts";
    long_clip.extension = "ts";
    long_clip.duration = 20;
    VideoTrack v;
    v.width = 160;
    v.height = 120;
    long_clip.video = {v};
    long_clip.audio = {AudioTrack{}};
    const std::string in = clip_path(long_clip);
    const std::string dir = scratch_dir("transcode_stop");

    // A file cut short by a signal must not pass for a whole one in a script: the
    // program ends by that signal once the file is finished, or exits with 1 when
    // it was started with the signal ignored.
    struct Request {
        const char *what;
        std::function<void(RunningChild &)> request;
        int ignored, exit_status, signal_told;
    };
    const Request requests[] = {
        {"key_q", [](RunningChild &c) { c.type("q"); }, 0, 0, 0},
        {"sigint", [](RunningChild &c) { kill(c.pid(), SIGINT); }, 0, 128 + SIGINT, SIGINT},
        {"sigterm", [](RunningChild &c) { kill(c.pid(), SIGTERM); }, 0, 128 + SIGTERM, SIGTERM},
        {"sigterm_ignored", [](RunningChild &c) { kill(c.pid(), SIGTERM); }, SIGTERM, 1, SIGTERM},
    };
    for (const auto &[what, request, ignored, exit_status, signal_told] : requests) {
        SCOPED_TRACE(what);
        const std::string out = dir + "/" + what + ".mp4";
        // Read at the recording's own pace, so the run is surely still going.
        Args args = {"-re"};
        Args conv = converter_args(in, out);
        args.insert(args.end(), conv.begin(), conv.end());
        RunningChild child(args, ignored);
        ASSERT_GT(child.pid(), 0);
        ASSERT_TRUE(child.wait_for("frame=", 30)) << child.err();
        request(child);
        EXPECT_EQ(child.wait_exit(60), exit_status) << child.err();

        const FileFacts dst = inspect(out);
        ASSERT_NE(dst.first(AVMEDIA_TYPE_VIDEO), nullptr);
        const size_t pictures = luma_sums(out).size();
        EXPECT_GT(pictures, 0u);
        EXPECT_LT(pictures, 500u) << "stopped before the end";
        ASSERT_NE(dst.first(AVMEDIA_TYPE_AUDIO), nullptr);
        EXPECT_GT(dst.first(AVMEDIA_TYPE_AUDIO)->packets, 0);
        if (signal_told) {
            const std::string said = "Received signal " + std::to_string(signal_told) + ": terminating.\n";
            EXPECT_NE(child.err().find(said), std::string::npos);
        }
    }
}

// ---- stream copy, limits, summary ----------------------------------------------------------

TEST(StreamCopy, TsIntoMatroskaKeepsEveryPacketAlsoThroughBitstreamFilters)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_copy");
    const Args variants[] = {{}, {"-bsf:v", "null,null", "-bsf:a", "null"}};
    int n = 0;
    for (const Args &extra : variants) {
        SCOPED_TRACE(extra.empty() ? "plain" : "filtered");
        const std::string out = dir + "/copy" + std::to_string(n++) + ".mkv";
        Args args = {"-i", in, "-c", "copy"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(out);
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(args), 0);
        EXPECT_NE(log.all_text().find("  Stream #0:0 -> #0:0 (copy)\n  Stream #0:1 -> #0:1 (copy)\n"),
                  std::string::npos);
        EXPECT_FALSE(log.has("Failed to open bitstream filter"));
        const FileFacts src = inspect(in), dst = inspect(out);
        EXPECT_EQ(dst.format, "matroska,webm");
        ASSERT_EQ(dst.streams.size(), 2u);
        for (size_t i = 0; i < 2; i++) {
            EXPECT_EQ(dst.streams[i].codec, src.streams[i].codec);
            EXPECT_EQ(dst.streams[i].profile, src.streams[i].profile) << "not encoded again";
            EXPECT_EQ(dst.streams[i].packets, src.streams[i].packets);
        }
        EXPECT_NEAR(dst.span, src.span, 0.002);
        EXPECT_EQ(luma_sums(out).size(), 50u);
    }
}

TEST(StreamCopy, AviGetsHalfAFramePeriodAsTimeBase)
{
    // AVI counts time in frames: a copied 25 fps stream ticks twice per frame.
    const std::string out = scratch_dir("transcode_copy_avi") + "/copy.avi";
    LogCapture log;
    ASSERT_EQ(run_engine({"-i", fixture_path(FixtureKind::H264AacTs), "-c", "copy", out}), 0);
    const FileFacts dst = inspect(out);
    ASSERT_NE(dst.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(av_cmp_q(dst.first(AVMEDIA_TYPE_VIDEO)->time_base, AVRational{1, 50}), 0)
        << dst.first(AVMEDIA_TYPE_VIDEO)->time_base.num << "/" << dst.first(AVMEDIA_TYPE_VIDEO)->time_base.den;
    EXPECT_EQ(luma_sums(out).size(), 50u);
}

TEST(FrameLimits, VideoStopsAfterNFramesAudioAfterNPackets)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_limits");
    const std::tuple<const char *, const char *, AVMediaType, int64_t> cases[] = {
        {"-frames:v", "10", AVMEDIA_TYPE_VIDEO, 10},
        {"-frames:a", "5", AVMEDIA_TYPE_AUDIO, 5},
        {"-frames:v", "1", AVMEDIA_TYPE_VIDEO, 1},
    };
    for (const auto &[option, value, type, packets] : cases) {
        SCOPED_TRACE(std::string(option) + " " + value);
        const std::string file = dir + "/limit_" + value + (type == AVMEDIA_TYPE_VIDEO ? "v" : "a") + ".mp4";
        LogCapture log;
        ASSERT_EQ(run_engine({"-i", in, option, value, file}), 0);
        const FileFacts dst = inspect(file);
        ASSERT_NE(dst.first(type), nullptr);
        EXPECT_EQ(dst.first(type)->packets, packets);
    }
}

TEST(Summary, BytesPerKindAndTheEmptyOutputWarning)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_summary");
    const char *warning =
        "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)\n";
    const std::regex summary("video:[1-9][0-9]*kB audio:[1-9][0-9]*kB subtitle:0 global headers:[0-9]+kB "
                             "muxing overhead -?[0-9.]+%\n");
    {
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(converter_args(in, dir + "/full.mp4")), 0);
        bool found = false;
        for (const LogLine &l : log.lines())
            found |= l.level == AV_LOG_INFO && std::regex_match(l.text, summary);
        EXPECT_TRUE(found) << log.all_text();
        EXPECT_FALSE(log.has(warning));
    }
    // No frame encoded: only the encoder's global header reaches the file. The
    // summary and its warning still come, but a run without media has failed and
    // leaves no empty file behind.
    LogCapture log(AV_LOG_INFO);
    EXPECT_EQ(run_engine({"-i", in, "-frames:v", "0", "-an", dir + "/empty.mp4"}), -1);
    EXPECT_TRUE(log.has("video:0kB audio:0kB subtitle:0 global headers:0kB", AV_LOG_INFO));
    EXPECT_TRUE(log.has(warning, AV_LOG_WARNING)) << log.all_text();
    EXPECT_TRUE(log.has("No media reached any output file", AV_LOG_ERROR));
    EXPECT_FALSE(std::filesystem::exists(dir + "/empty.mp4"));
}

// ---- damaged timing, failed filter rebuild ------------------------------------------

TEST(DamagedTiming, JumpingTimestampsNeitherStretchNorStopTheConversion)
{
    const std::string dir = scratch_dir("transcode_jumps");
    const std::tuple<ClipRecipe, const char *, int> cases[] = {
        // A restart in MPEG-TS moves the file's offset over the gap.
        {jumping_clip("mpegts", "ts", 30, 1), "timestamp discontinuity ", AV_LOG_DEBUG},
        // Elsewhere a time absurdly far away is dropped, and the stream's own
        // clock carries on.
        {jumping_clip("matroska", "mkv", 200000, 1), " invalid dropping", AV_LOG_WARNING},
    };
    for (const auto &[recipe, message, level] : cases) {
        SCOPED_TRACE(recipe.format);
        const std::string out = dir + "/" + recipe.format + ".mp4";
        LogCapture log;
        ASSERT_EQ(run_engine(converter_args(clip_path(recipe), out)), 0);
        EXPECT_TRUE(log.has(message, level)) << log.all_text().substr(0, 4000);
        const FileFacts dst = inspect(out);
        EXPECT_LT(dst.duration, 2.5);
        EXPECT_GT(dst.duration, 1.9);
        EXPECT_GE(luma_sums(out).size(), 48u);
    }
}

TEST(FilterRebuild, FramesTheFiltersCannotTakeAreDroppedAndALostEndFailsTheRun)
{
    // 320x240 pictures fit the crop, the 160x120 ones after the change do not:
    // those are dropped and the graph goes on serving 320x240 ones.
    const std::string dir = scratch_dir("transcode_rebuild");
    const std::string changing = fixture_path(FixtureKind::H264SizeChangeRaw);
    ClipRecipe steady = fixture_recipe(FixtureKind::H264SizeChangeRaw);
    steady.name = "h264_steady_raw";
    steady.duration = 1;
    steady.video[0].change_at_frame = -1;
    const std::string changing_back = dir + "/back.h264";
    std::ofstream(changing_back, std::ios::binary)
        << read_file(changing) + read_file(clip_path(steady)); // 320x240, 160x120, 320x240

    // input, status, frames in the output
    const std::tuple<std::string, int, size_t> cases[] = {
        {changing, -1, 0},       // the small pictures last to the end: the end is lost
        // The recording goes on after them: kept, the second without pictures held
        // on the last one before it (25 + 24 repeated + 25 at a constant rate).
        {changing_back, 0, 74},
    };
    for (const auto &[in, status, frames] : cases) {
        SCOPED_TRACE(in);
        const std::string out = dir + "/crop.mp4";
        LogCapture log;
        ASSERT_EQ(run_engine({"-i", in, "-vf", "crop=200:200:0:0", "-c:v", "libx264", out}), status);
        EXPECT_TRUE(log.has("Error reinitializing filters!\n", AV_LOG_FATAL));
        EXPECT_TRUE(log.has("the filters cannot follow this change", AV_LOG_WARNING));
        if (status < 0) {
            EXPECT_TRUE(log.has("frames could not be converted", AV_LOG_ERROR)) << log.all_text();
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        const FileFacts dst = inspect(out);
        ASSERT_NE(dst.first(AVMEDIA_TYPE_VIDEO), nullptr);
        EXPECT_EQ(dst.first(AVMEDIA_TYPE_VIDEO)->width, 200);
        EXPECT_EQ(luma_sums(out).size(), frames);
        std::filesystem::remove(out);
    }
}

TEST(FilterRebuild, AudioWhoseRateChangesIsResampledForTheEncoderItHas)
{
    // Two AAC streams of different rates, one after the other in one ADTS file.
    std::string bytes;
    for (int rate : {16000, 8000}) {
        ClipRecipe part;
        part.name = "adts_part";
        part.format = "adts";
        part.extension = "aac";
        part.duration = 1;
        AudioTrack a;
        a.sample_rate = rate;
        part.audio = {a};
        bytes += read_file(clip_path(part));
    }
    const std::string dir = scratch_dir("transcode_rate_change");
    const std::string in = dir + "/two_rates.aac", out = dir + "/out.mp4";
    std::ofstream(in, std::ios::binary) << bytes;

    LogCapture log;
    ASSERT_EQ(run_engine(converter_args(in, out)), 0);
    EXPECT_TRUE(log.has("Input stream #0:0 frame changed from rate:16000 fmt:fltp ch:1 chl:mono to "
                        "rate:8000 fmt:fltp ch:1 chl:mono\n",
                        AV_LOG_INFO))
        << log.all_text().substr(0, 3000);
    EXPECT_FALSE(log.has("Audio encoding failed"));
    const FileFacts dst = inspect(out);
    ASSERT_NE(dst.first(AVMEDIA_TYPE_AUDIO), nullptr);
    EXPECT_EQ(dst.first(AVMEDIA_TYPE_AUDIO)->sample_rate, 16000);
    // The raw demuxer spaces every packet by the first part's frame length, so the
    // second part's time is shorter than its sound; it is there all the same.
    EXPECT_GT(dst.duration, 1.4) << "the part after the change is encoded too";
}

// ---- subtitles ----------------------------------------------------------------------------

TEST(Subtitles, TextIsEncodedAgainAndBitmapsCanBePaintedOntoTheVideo)
{
    const std::string dir = scratch_dir("transcode_subtitles");
    const std::string text_in = fixture_path(FixtureKind::MkvTextSubtitle);
    {
        LogCapture log;
        ASSERT_EQ(run_engine({"-i", text_in, dir + "/text.mkv"}), 0);
        const FileFacts src = inspect(text_in), dst = inspect(dir + "/text.mkv");
        ASSERT_NE(dst.first(AVMEDIA_TYPE_SUBTITLE), nullptr);
        EXPECT_EQ(dst.first(AVMEDIA_TYPE_SUBTITLE)->codec, AV_CODEC_ID_ASS);
        EXPECT_EQ(dst.first(AVMEDIA_TYPE_SUBTITLE)->packets, src.first(AVMEDIA_TYPE_SUBTITLE)->packets);
    }

    const std::string bitmap_in = fixture_path(FixtureKind::MkvBitmapSubtitle);
    LogCapture log(AV_LOG_INFO);
    ASSERT_EQ(run_engine({"-i", bitmap_in, "-filter_complex", "[0:v][0:s]overlay", dir + "/overlay.mp4"}), 0);
    EXPECT_NE(log.all_text().find("  Stream #0:0 (h264) -> Parsed_overlay_0:main\n"
                                  "  Stream #0:1 (dvdsub) -> Parsed_overlay_0:overlay\n"
                                  "  Parsed_overlay_0 -> Stream #0:0 (libx264)\n"),
              std::string::npos)
        << log.all_text();
    ASSERT_EQ(run_engine({"-i", bitmap_in, "-an", "-sn", dir + "/plain.mp4"}), 0);
    const std::vector<int64_t> painted = luma_sums(dir + "/overlay.mp4");
    const std::vector<int64_t> plain = luma_sums(dir + "/plain.mp4");
    ASSERT_EQ(painted.size(), plain.size());
    int differing = 0;
    for (size_t i = 0; i < plain.size(); i++)
        differing += std::llabs(painted[i] - plain[i]) > int64_t(plain[i] / 100);
    EXPECT_GT(differing, 5) << "subtitle pictures show on some frames";
    EXPECT_LT(differing, int(plain.size())) << "and not on every frame";
}

TEST(Attachments, AttachedAndCopiedFilesEndUpInTheOutput)
{
    const std::string dir = scratch_dir("transcode_attachments");
    const std::string notes = dir + "/notes.txt";
    std::ofstream(notes) << "Gate 7, exported for review.\n";
    const std::tuple<Args, const char *> cases[] = {
        // A file of our own: its bytes go into the header, the loop has nothing to do for it.
        {{"-i", fixture_path(FixtureKind::H264AacTs), "-attach", notes, "-metadata:s:2",
          "mimetype=text/plain"},
         "  File " },
        // The recording's own attachment, copied.
        {{"-i", fixture_path(FixtureKind::MkvAttachment), "-map", "0"}, "  Stream #0:2 -> #0:2 (copy)\n"},
    };
    int n = 0;
    for (const auto &[args, mapping] : cases) {
        SCOPED_TRACE(args[1]);
        Args run = args;
        const std::string out = dir + "/out" + std::to_string(n++) + ".mkv";
        run.push_back(out);
        LogCapture log(AV_LOG_INFO);
        ASSERT_EQ(run_engine(run), 0);
        EXPECT_NE(log.all_text().find(mapping), std::string::npos) << log.all_text();
        const FileFacts dst = inspect(out);
        EXPECT_EQ(dst.count(AVMEDIA_TYPE_ATTACHMENT), 1);
        EXPECT_EQ(dst.count(AVMEDIA_TYPE_VIDEO), 1);
        // Matroska takes frames at their own times: nothing is duplicated.
        EXPECT_EQ(luma_sums(out).size(), 50u);
    }
}

TEST(Deinterlace, EveryPictureIsFilteredAndNoneIsLost)
{
    const std::string dir = scratch_dir("transcode_deinterlace");
    for (FixtureKind kind : {FixtureKind::H264AacTs, FixtureKind::MjpegMulawAvi}) {
        SCOPED_TRACE(fixture_kind_name(kind));
        const std::string plain = dir + "/plain.mp4", smoothed = dir + "/smoothed.mp4";
        LogCapture log;
        ASSERT_EQ(run_engine({"-i", fixture_path(kind), "-an", plain}), 0);
        ASSERT_EQ(run_engine({"-i", fixture_path(kind), "-an", "-deinterlace", smoothed}), 0);
        do_deinterlace = 0; // a process-wide setting: the next runs must not inherit it
        EXPECT_FALSE(log.has("Deinterlacing failed"));
        const std::vector<int64_t> a = luma_sums(plain), b = luma_sums(smoothed);
        ASSERT_EQ(a.size(), b.size());
        int changed = 0;
        for (size_t i = 0; i < a.size(); i++)
            changed += a[i] != b[i];
        EXPECT_GT(changed, int(a.size()) / 2);
    }
}

// ---- what else the run writes ----------------------------------------------------------

TEST(RunOutputs, ProgressStatisticsAndBenchmarkLines)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_outputs");
    const std::string progress = dir + "/progress.txt", vstats = dir + "/vstats.log";
    LogCapture log;
    ASSERT_EQ(run_engine({"-progress", progress, "-vstats_file", vstats, "-i", in, dir + "/out.mp4"}), 0);

    const std::string keys = read_file(progress);
    for (const char *key : {"frame=52\n", "fps=", "stream_0_0_q=", "total_size=", "out_time_ms=",
                            "out_time=00:00:02.", "dup_frames=2\n", "drop_frames=0\n"})
        EXPECT_NE(keys.find(key), std::string::npos) << key << " in\n" << keys;
    EXPECT_EQ(keys.size() >= 13 && keys.compare(keys.size() - 13, 13, "progress=end\n") == 0, true) << keys;

    std::istringstream lines(read_file(vstats));
    const std::regex line("frame= +[0-9]+ q= +[0-9.]+ f_size= +[0-9]+ s_size= +[0-9]+kB time= [0-9.]+ "
                          "br= +[0-9.]+kbits/s avg_br= +[0-9.]+kbits/s type= [IPB]");
    int count = 0;
    for (std::string l; std::getline(lines, l); count++)
        EXPECT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_GT(count, 0);
    EXPECT_LE(count, 52);

    ChildResult bench = run_cli({"-benchmark", "-benchmark_all", "-nostdin", "-i", in, dir + "/bench.mp4"});
    EXPECT_EQ(bench.exit_status, 0) << bench.err;
    for (const char *step : {" decode_video 0.0 \n", " decode_audio 0.1 \n", " encode_video 0.0 \n",
                             " encode_audio 0.1 \n", " flush Video 0.0 \n", " flush Audio 0.1 \n"})
        EXPECT_NE(bench.out.find(step), std::string::npos) << step;
    EXPECT_TRUE(std::regex_search(bench.out, std::regex("bench: utime=[0-9.]+s maxrss=[0-9]+kB\n")));
}

TEST(RunOutputs, AStatisticsFileThatCannotBeOpenedIsReportedOnceAndTheRunGoesOn)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_vstats_missing");
    ChildResult r = run_cli({"-nostdin", "-vstats_file", dir + "/missing/vstats.log", "-i", in,
                             dir + "/out.mp4"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const size_t first = r.err.find("fopen: ");
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("fopen: ", first + 1), std::string::npos) << r.err;
}

TEST(RunOutputs, TheStatusSizeCountsBufferedBytesFromTheFirstReport)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_status_size");
    const std::string progress = dir + "/progress.txt", out = dir + "/out.mp4";
    // Read at the recording's pace, so reports come while the file is still small.
    LogCapture log;
    ASSERT_EQ(run_engine({"-re", "-progress", progress, "-i", in, "-t", "1.6", "-an", "-preset",
                          "ultrafast", out}),
              0);
    std::vector<long long> sizes;
    std::istringstream lines(read_file(progress));
    for (std::string l; std::getline(lines, l);)
        if (l.rfind("total_size=", 0) == 0)
            sizes.push_back(std::stoll(l.substr(11)));
    // Reports come every half second of the 1.6 s the reading takes, and the last one.
    ASSERT_GE(sizes.size(), 3u) << read_file(progress);
    EXPECT_GT(sizes[sizes.size() - 2], sizes.front()) << read_file(progress);
    EXPECT_EQ(sizes.back(), (long long)std::filesystem::file_size(out));
}

// A malformed value that ends the whole process still takes the outputs the run
// created with it, as every failed run does.
TEST(ProcessEndingErrors, LeaveNoOutputTheRunCreated)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_process_end");
    const std::pair<Args, std::string> cases[] = {
        // arguments, the output left half made before the process ended
        {{"-i", in, "-force_key_frames", "1,abc", dir + "/keys.mp4"}, dir + "/keys.mp4"},
        {{"-i", in, dir + "/first.mp4", "-t", "abc", dir + "/second.mp4"}, dir + "/first.mp4"},
    };
    for (const auto &[args, output] : cases) {
        SCOPED_TRACE(output);
        Args with_nostdin = {"-nostdin"};
        with_nostdin.insert(with_nostdin.end(), args.begin(), args.end());
        ChildResult r = run_cli(with_nostdin);
        EXPECT_EQ(r.exit_status, 1) << r.err;
        EXPECT_NE(r.err.find("Invalid duration"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(output));
        // Nor the hidden partial file the output was being written under.
        EXPECT_TRUE(std::filesystem::is_empty(dir));
    }
}

TEST(TwoPass, TheFirstPassLogFeedsTheSecondAndLibx264KeepsItsOwn)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_two_pass");
    for (const char *encoder : {"mpeg4", "libx264"}) {
        SCOPED_TRACE(encoder);
        const std::string prefix = dir + "/" + encoder;
        for (const char *pass : {"1", "2"}) {
            LogCapture log;
            ASSERT_EQ(run_engine({"-i", in, "-an", "-c:v", encoder, "-b:v", "200k", "-pass", pass,
                                  "-passlogfile", prefix, dir + "/" + encoder + pass + ".mp4"}),
                      0)
                << log.all_text().substr(0, 2000);
            // The log is named after the output stream's place among all output streams.
            EXPECT_GT(read_file(prefix + "-0.log").size(), 100u) << "pass " << pass;
        }
    }
    LogCapture log;
    EXPECT_EQ(run_engine({"-i", in, "-an", "-c:v", "mpeg4", "-pass", "2", "-passlogfile", dir + "/none",
                          dir + "/none.mp4"}),
              -1);
    EXPECT_TRUE(log.has("Error reading log file '" + dir + "/none-0.log' for pass-2 encoding\n", AV_LOG_FATAL));
}

TEST(SetupMessages, WarningsGoOnAndFailuresEndTheRun)
{
    const std::string in = fixture_path(FixtureKind::H264AacTs);
    const std::string dir = scratch_dir("transcode_setup");
    const std::tuple<Args, int, const char *, int> cases[] = {
        {{"-c:v", "mpeg4", "-b:v", "500"}, 0, "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s\n",
         AV_LOG_WARNING},
        {{"-r", "2000", "-t", "0.05"}, 0, "Frame rate very high for a muxer not efficiently supporting it.\n",
         AV_LOG_WARNING},
        {{"-vn", "-an"}, -1, "Output file #0 does not contain any stream\n", AV_LOG_ERROR},
        {{"-c:a", "copy", "-vol", "512"}, -1,
         "-acodec copy and -vol are incompatible (frames are not decoded)\n", AV_LOG_FATAL},
        {{"-c:v", "libx264", "-profile:v", "no-such-profile"}, -1,
         "Error while opening encoder for output stream #0:0 - maybe incorrect parameters such as "
         "bit_rate, rate, width or height\n",
         AV_LOG_ERROR},
    };
    int n = 0;
    for (const auto &[options, status, message, level] : cases) {
        SCOPED_TRACE(options[0]);
        Args args = {"-i", in};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir + "/out" + std::to_string(n++) + ".mp4");
        LogCapture log;
        EXPECT_EQ(run_engine(args), status);
        EXPECT_TRUE(log.has(message, level)) << log.all_text().substr(0, 3000);
    }
    audio_volume = 256;
}

} // namespace
