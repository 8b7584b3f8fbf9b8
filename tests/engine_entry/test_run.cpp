// The engine entry: run statuses and messages, release and reset after every run,
// quiet mode, termination signals, the benchmark line, and the interaction on
// standard input (keys, debug values, filter commands), fed through a pipe.
#include "engine_harness.h"

#include "engine.h"
#include "ffmpeg_exec.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int open_descriptors()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d))
        n++;
    if (d)
        closedir(d);
    return n;
}

// Redirects one standard descriptor into a file while it lives.
class OutputCapture {
public:
    explicit OutputCapture(int fd) : fd_(fd)
    {
        fflush(stdout);
        fflush(stderr);
        saved_ = dup(fd_);
        char name[] = "/tmp/wvc-capture-XXXXXX";
        file_ = mkstemp(name);
        unlink(name);
        dup2(file_, fd_);
    }
    ~OutputCapture() { restore(); }
    std::string text()
    {
        restore();
        std::string out;
        char buf[4096];
        lseek(file_, 0, SEEK_SET);
        ssize_t n;
        while ((n = read(file_, buf, sizeof(buf))) > 0)
            out.append(buf, size_t(n));
        return out;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stdout);
        fflush(stderr);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }
    int fd_, saved_ = -1, file_ = -1;
};

// Standard input replaced by a pipe the test writes keys into.
class KeyFeed {
public:
    KeyFeed()
    {
        saved_ = dup(STDIN_FILENO);
        int fds[2];
        if (pipe(fds) == 0) {
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            writer_ = fds[1];
        }
    }
    ~KeyFeed()
    {
        end();
        while (poll_key() >= 0) {
        } // nothing read ahead survives the test
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    void type(const std::string &keys)
    {
        ASSERT_EQ(write(writer_, keys.data(), keys.size()), ssize_t(keys.size()));
    }
    void end()
    {
        if (writer_ >= 0)
            close(writer_);
        writer_ = -1;
    }

private:
    int saved_ = -1, writer_ = -1;
};

// Keyboard polls happen at most every 100 ms of the caller's clock.
int64_t next_poll_time()
{
    static int64_t now = av_gettime();
    now += 200000;
    return now;
}

std::string stored(const std::string &dir, const char *name)
{
    return dir + "/" + name;
}

// ---- runs ----------------------------------------------------------------------

TEST(Run, BareRunShowsUsageAndFails)
{
    LogCapture log;
    EXPECT_EQ(run_engine({}), -1);
    EXPECT_TRUE(log.has("usage: ffmpeg_exec [options]", AV_LOG_INFO)) << log.all_text();
    EXPECT_TRUE(log.has("Use -h to get full help or, even better, run 'man ffmpeg_exec'\n",
                        AV_LOG_WARNING));
    EXPECT_FALSE(log.has("At least one output file must be specified"));
}

TEST(Run, StatusAndMessageOfEachEarlyEnd)
{
    struct Case {
        std::vector<std::string> args;
        const char *message; // expected in the log
        bool usage;
    } cases[] = {
        {{"-y", "-stats"}, "Use -h to get full help", true},
        {{"-y", "-level"}, "Missing argument for option 'level'\n", false},
        {{"-croptop", "2", "out.mp4"}, "Option 'croptop' has been removed", false},
        {{"-h"}, nullptr, false},
        {{"-version", "-y"}, nullptr, false},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ(run_engine(c.args), -1) << c.args[0];
        if (c.message) {
            EXPECT_TRUE(log.has(c.message)) << c.args[0] << ":\n" << log.all_text();
        }
        EXPECT_EQ(log.has("usage: ffmpeg_exec"), c.usage) << c.args[0];
    }
}

TEST(Run, OpenInputWithoutOutputAsksForAnOutputFile)
{
    LogCapture log;
    InFile *in = (InFile *)av_mallocz(sizeof(InFile));
    GROW_TABLE(input_files, nb_input_files);
    input_files[0] = in;
    EXPECT_EQ(run_engine({"-y"}), -1);
    EXPECT_TRUE(log.has("At least one output file must be specified\n", AV_LOG_FATAL));
    EXPECT_FALSE(log.has("Use -h"));
    EXPECT_EQ(nb_input_files, 0);
    EXPECT_EQ(input_files, nullptr);
}

TEST(Run, EveryRunEndsWithEmptyTablesAndNothingLeftOpen)
{
    LogCapture log;
    const std::string dir = scratch_dir("run_reset");
    const int descriptors = open_descriptors();
    video_size = audio_size = subtitle_size = extra_size = 5;
    nb_frames_dup = nb_frames_drop = 3;

    // A run that fails late in parsing after creating state of every kind.
    const std::string progress = stored(dir, "progress.txt");
    EXPECT_EQ(run_engine({"-filter_complex", "anullsrc", "-level", "3", "-sws_flags", "bilinear",
                          "-progress", progress, "-vstats_file", "v.log", "-c:v", "copy",
                          "-cropleft", "1"}),
              -1);
    EXPECT_TRUE(std::filesystem::exists(progress));
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        EXPECT_EQ(nb_filtergraphs, 0);
        EXPECT_EQ(filtergraphs, nullptr);
        EXPECT_EQ(nb_input_files + nb_input_streams + nb_output_files + nb_output_streams, 0);
        EXPECT_EQ(progress_avio, nullptr);
        EXPECT_EQ(vstats_filename, nullptr);
        EXPECT_EQ(codec_options, nullptr);
        EXPECT_EQ(scaler_options, nullptr);
        EXPECT_EQ(video_size + audio_size + subtitle_size + extra_size, 0);
        EXPECT_EQ(nb_frames_dup + nb_frames_drop, 0);
        EXPECT_EQ(open_descriptors(), descriptors);
        // The second run starts from the first one's leftovers, if there were any.
        EXPECT_EQ(run_engine({"-filter_complex", "nullsrc", "-progress", progress}), -1);
    }
}

TEST(Run, QuietModeSilencesTheWholeRun)
{
    LogCapture log;
    EXPECT_EQ(run_engine({"-d", "-y", "-zz"}), -1);
    EXPECT_TRUE(log.lines().empty()) << log.all_text();
    EXPECT_EQ(run_quiet, 0) << "reset after the run";

    log.reinstall();
    EXPECT_EQ(run_engine({"-y", "-d"}), -1);
    EXPECT_TRUE(log.has("Missing argument for option 'd'\n")) << "only the first argument counts";
}

TEST(Run, CommandLineProgramExitsOneWithUsageOrSilently)
{
    ChildResult bare = run_cli({});
    EXPECT_EQ(bare.exit_status, 1);
    EXPECT_NE(bare.err.find("usage: ffmpeg_exec"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("Use -h to get full help or, even better, run 'man ffmpeg_exec'"),
              std::string::npos);

    ChildResult quiet = run_cli({"-d", "-t", "not-a-time"});
    EXPECT_EQ(quiet.exit_status, 1);
    EXPECT_EQ(quiet.err, "");
}

TEST(Run, TerminationSignalsAreOnlyRecorded)
{
    LogCapture log;
    run_engine({}); // installs the handlers
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(received_signal, SIGINT);
    EXPECT_EQ(received_nb_signals, 1);
    EXPECT_EQ(engine_interrupt_cb(nullptr), 0) << "blocking I/O goes on after one signal";
    EXPECT_EQ(interrupt_callback.callback, engine_interrupt_cb);
    EXPECT_EQ(handle_keyboard(next_poll_time()), AVERROR_EXIT);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(received_signal, SIGTERM);
    EXPECT_EQ(engine_interrupt_cb(nullptr), 1);

    log.clear();
    EXPECT_EQ(run_engine({}), -1) << "a later run still ends normally";
    EXPECT_TRUE(log.has("Received signal 15: terminating.\n", AV_LOG_INFO));

    received_signal = 0;
    received_nb_signals = 0;
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

TEST(Run, CleanupReleasesRecordsOfEveryKind)
{
    const std::string dir = scratch_dir("cleanup");
    const int descriptors = open_descriptors();

    Filtergraph *fg = (Filtergraph *)av_mallocz(sizeof(Filtergraph));
    fg->graph = avfilter_graph_alloc();
    GROW_TABLE(fg->inputs, fg->nb_inputs);
    fg->inputs[0] = (GraphInput *)av_mallocz(sizeof(GraphInput));
    fg->inputs[0]->name = av_strdup("in");
    GROW_TABLE(fg->outputs, fg->nb_outputs);
    fg->outputs[0] = (GraphOutput *)av_mallocz(sizeof(GraphOutput));
    fg->outputs[0]->name = av_strdup("out");
    fg->outputs[0]->pending_pad = avfilter_inout_alloc();
    GROW_TABLE(filtergraphs, nb_filtergraphs);
    filtergraphs[0] = fg;

    InFile *in = (InFile *)av_mallocz(sizeof(InFile));
    in->ctx = avformat_alloc_context();
    GROW_TABLE(input_files, nb_input_files);
    input_files[0] = in;
    InStream *ist = (InStream *)av_mallocz(sizeof(InStream));
    ist->dec_ctx = avcodec_alloc_context3(nullptr);
    ist->decoded_frame = av_frame_alloc();
    ist->sub2video.frame = av_frame_alloc();
    av_dict_set(&ist->decoder_opts, "threads", "1", 0);
    GROW_TABLE(ist->filters, ist->nb_filters);
    GROW_TABLE(input_streams, nb_input_streams);
    input_streams[0] = ist;

    for (const char *muxer : {"null", "mp4"}) {
        OutFile *of = (OutFile *)av_mallocz(sizeof(OutFile));
        avformat_alloc_output_context2(&of->ctx, nullptr, muxer, nullptr);
        if (!(of->ctx->oformat->flags & AVFMT_NOFILE)) {
            ASSERT_GE(avio_open(&of->ctx->pb, stored(dir, "out.mp4").c_str(), AVIO_FLAG_WRITE), 0);
        }
        av_dict_set(&of->opts, "movflags", "faststart", 0);
        GROW_TABLE(output_files, nb_output_files);
        output_files[nb_output_files - 1] = of;
    }
    OutStream *ost = (OutStream *)av_mallocz(sizeof(OutStream));
    ost->enc_ctx = avcodec_alloc_context3(nullptr);
    for (int i = 0; i < 2; i++) {
        GROW_TABLE(ost->bsfs, ost->nb_bsfs);
        ASSERT_GE(av_bsf_alloc(av_bsf_get_by_name("null"), &ost->bsfs[i]), 0);
    }
    ost->filtered_frame = av_frame_alloc();
    ost->forced_keyframes = av_strdup("expr:gte(t,2)");
    ost->avfilter = av_strdup("null");
    ost->logfile_prefix = av_strdup("pass");
    ost->logfile = fopen(stored(dir, "pass.log").c_str(), "w");
    GROW_TABLE(output_streams, nb_output_streams);
    output_streams[0] = ost;

    subtitle_out = (uint8_t *)av_malloc(1024);
    vstats_file = fopen(stored(dir, "vstats.log").c_str(), "w");
    vstats_filename = av_strdup("vstats.log");
    ASSERT_GE(avio_open(&progress_avio, stored(dir, "progress.txt").c_str(), AVIO_FLAG_WRITE), 0);
    av_dict_set(&codec_options, "g", "1", 0);

    engine_cleanup();
    reset_engine_state();
    EXPECT_EQ(filtergraphs, nullptr);
    EXPECT_EQ(input_files, nullptr);
    EXPECT_EQ(input_streams, nullptr);
    EXPECT_EQ(output_files, nullptr);
    EXPECT_EQ(output_streams, nullptr);
    EXPECT_EQ(nb_filtergraphs + nb_input_files + nb_input_streams + nb_output_files +
                  nb_output_streams,
              0);
    EXPECT_EQ(subtitle_out, nullptr);
    EXPECT_EQ(vstats_file, nullptr);
    EXPECT_EQ(vstats_filename, nullptr);
    EXPECT_EQ(progress_avio, nullptr);
    EXPECT_EQ(codec_options, nullptr);
    EXPECT_EQ(open_descriptors(), descriptors);

    // Registered at exit too: a second call finds nothing left to do.
    engine_cleanup();
}

TEST(Run, BenchmarkLine)
{
    OutputCapture out(STDOUT_FILENO);
    print_run_benchmark(plat_user_time_us() - 1500000);
    std::string text = out.text();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex("bench: utime=(1\\.5[0-9]{2})s maxrss=([0-9]+)kB\n")))
        << text;
    EXPECT_GT(std::stoi(m[2]), 0);
}

// ---- keyboard --------------------------------------------------------------------

class Keyboard : public ::testing::Test {
protected:
    KeyFeed keys;
    LogCapture log;
    int saved_level = av_log_get_level();

    void SetUp() override
    {
        run_quiet = 0;
        qp_hist = do_pkt_dump = do_hex_dump = 0;
    }
    void TearDown() override
    {
        av_log_set_level(saved_level);
        qp_hist = do_pkt_dump = do_hex_dump = 0;
        engine_cleanup();
        reset_engine_state();
    }
    int press(const std::string &k)
    {
        keys.type(k);
        return handle_keyboard(next_poll_time());
    }
    // One input and one output stream with codec contexts, for debug values.
    void add_streams()
    {
        InStream *ist = (InStream *)av_mallocz(sizeof(InStream));
        ist->dec_ctx = avcodec_alloc_context3(nullptr);
        GROW_TABLE(input_streams, nb_input_streams);
        input_streams[0] = ist;
        OutStream *ost = (OutStream *)av_mallocz(sizeof(OutStream));
        ost->enc_ctx = avcodec_alloc_context3(nullptr);
        GROW_TABLE(output_streams, nb_output_streams);
        output_streams[0] = ost;
    }
};

TEST_F(Keyboard, SingleKeysAndTheirEffects)
{
    const int level = av_log_get_level();
    struct Case {
        const char *key;
        int result;
        std::function<void()> check;
    } cases[] = {
        {"q", AVERROR_EXIT, [] {}},
        {"+", 0, [&] { EXPECT_EQ(av_log_get_level(), level + 10); }},
        {"-", 0, [&] { EXPECT_EQ(av_log_get_level(), level); }},
        {"s", 0, [] { EXPECT_EQ(qp_hist, 1); }},
        {"s", 0, [] { EXPECT_EQ(qp_hist, 0); }},
        {"h", 0, [] { EXPECT_EQ(do_pkt_dump * 10 + do_hex_dump, 10); }},
        {"h", 0, [] { EXPECT_EQ(do_pkt_dump * 10 + do_hex_dump, 11); }},
        {"h", 0, [] {
             EXPECT_EQ(do_pkt_dump * 10 + do_hex_dump, 0);
             EXPECT_EQ(av_log_get_level(), AV_LOG_DEBUG);
         }},
        {"x", 0, [] {}},
        {"", 0, [] {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(press(c.key), c.result) << "key '" << c.key << "'";
        c.check();
    }
}

TEST_F(Keyboard, HelpTextIsWrittenExactly)
{
    OutputCapture err(STDERR_FILENO);
    EXPECT_EQ(press("?"), 0);
    EXPECT_EQ(err.text(), "key    function\n"
                          "?      show this help\n"
                          "+      increase verbosity\n"
                          "-      decrease verbosity\n"
                          "c      Send command to filtergraph\n"
                          "D      cycle through available debug modes\n"
                          "h      dump packets/hex press to cycle through the 3 states\n"
                          "q      quit\n"
                          "s      Show QP histogram\n");
}

TEST_F(Keyboard, PollsAtMostEveryTenthOfASecondAndNeverInQuietMode)
{
    keys.type("q");
    int64_t now = next_poll_time();
    EXPECT_EQ(handle_keyboard(now), AVERROR_EXIT);
    keys.type("q");
    EXPECT_EQ(handle_keyboard(now + 99999), 0) << "too soon: the key waits";
    run_quiet = 1;
    EXPECT_EQ(handle_keyboard(next_poll_time()), 0);
    run_quiet = 0;
    EXPECT_EQ(handle_keyboard(next_poll_time()), AVERROR_EXIT);
}

TEST_F(Keyboard, DebugValueIsReadAndApplied)
{
    add_streams();
    struct Case {
        const char *typed;
        const char *stderr_text;
        int value;
        int next_key; // what the next poll finds
    } cases[] = {
        {"d5\n", "debug=5\n", 5, '\n'},
        {"d  -3 ", "debug=-3\n", -3, ' '},
        {"d+12q", "debug=12\n", 12, 'q'},
        {"dx", "error parsing debug value\ndebug=0\n", 0, 'x'},
    };
    for (const Case &c : cases) {
        OutputCapture err(STDERR_FILENO);
        EXPECT_EQ(press(c.typed), 0) << c.typed;
        EXPECT_EQ(err.text(), c.stderr_text) << c.typed;
        EXPECT_EQ(input_streams[0]->dec_ctx->debug, c.value) << c.typed;
        EXPECT_EQ(output_streams[0]->enc_ctx->debug, c.value) << c.typed;
        EXPECT_EQ(poll_key(), c.next_key) << c.typed;
        EXPECT_EQ(poll_key(), -1);
    }
    EXPECT_EQ(av_log_get_level(), AV_LOG_DEBUG);
}

TEST_F(Keyboard, DebugValueAtEndOfInputDoesNotWait)
{
    OutputCapture err(STDERR_FILENO);
    keys.type("d");
    keys.end();
    EXPECT_EQ(handle_keyboard(next_poll_time()), 0);
    EXPECT_EQ(err.text(), "error parsing debug value\ndebug=0\n");
}

TEST_F(Keyboard, DebugModesCycleSkippingTheVisualisations)
{
    const std::pair<int, int> cycle[] = {
        {0, 1}, {1, 2}, {0x10, 0x20}, {0x20, 0x80}, {0x1000, 0x8000}, {0x8000, 0x10000},
    };
    add_streams();
    for (const auto &step : cycle) {
        input_streams[0]->dec_ctx->debug = step.first;
        OutputCapture err(STDERR_FILENO);
        EXPECT_EQ(press("D"), 0);
        EXPECT_EQ(input_streams[0]->dec_ctx->debug, step.second) << step.first;
        EXPECT_EQ(output_streams[0]->enc_ctx->debug, step.second);
        EXPECT_EQ(err.text(), "debug=" + std::to_string(step.second) + "\n");
    }
}

TEST_F(Keyboard, DebugModeWithoutInputStreamsStartsAtOne)
{
    OutputCapture err(STDERR_FILENO);
    EXPECT_EQ(press("D"), 0);
    EXPECT_EQ(err.text(), "debug=1\n");
}

class FilterCommands : public Keyboard {
protected:
    AVFilterContext *first = nullptr, *second = nullptr;

    void SetUp() override
    {
        Keyboard::SetUp();
        Filtergraph *fg = (Filtergraph *)av_mallocz(sizeof(Filtergraph));
        fg->graph = avfilter_graph_alloc();
        first = avfilter_graph_alloc_filter(fg->graph, avfilter_get_by_name("anull"), "first");
        second = avfilter_graph_alloc_filter(fg->graph, avfilter_get_by_name("anull"), "second");
        ASSERT_GE(avfilter_init_str(first, nullptr), 0);
        ASSERT_GE(avfilter_init_str(second, nullptr), 0);
        // A graph not configured yet is left out.
        Filtergraph *pending = (Filtergraph *)av_mallocz(sizeof(Filtergraph));
        pending->index = 1;
        GROW_TABLE(filtergraphs, nb_filtergraphs);
        GROW_TABLE(filtergraphs, nb_filtergraphs);
        filtergraphs[0] = fg;
        filtergraphs[1] = pending;
    }
};

TEST_F(FilterCommands, SentNowToTheFirstOrToEveryMatchingFilter)
{
    const char *prompt = "\nEnter command: <target> <time> <command>[ <argument>]\n";
    {
        OutputCapture err(STDERR_FILENO);
        EXPECT_EQ(press("call -1 ping\n"), 0);
        EXPECT_EQ(err.text(), std::string(prompt) +
                                  "Command reply for stream 0: ret:0 res:pong from:anull first\n\n");
    }
    {
        OutputCapture err(STDERR_FILENO);
        EXPECT_EQ(press("Call -1 ping\r"), 0);
        EXPECT_EQ(err.text(), std::string(prompt) +
                                  "Command reply for stream 0: ret:0 res:pong from:anull first\n"
                                  "pong from:anull second\n\n");
    }
    EXPECT_TRUE(log.has("Processing command target:all time:-1.000000 command:ping arg:",
                        AV_LOG_DEBUG));
}

TEST_F(FilterCommands, QueuedForLaterTimes)
{
    OutputCapture err(STDERR_FILENO);
    EXPECT_EQ(first->command_queue, nullptr);
    EXPECT_EQ(press("csecond 2.5 ping now please\n"), 0);
    EXPECT_EQ(first->command_queue, nullptr);
    EXPECT_NE(second->command_queue, nullptr);
    EXPECT_EQ(err.text().find("Command reply"), std::string::npos);
    EXPECT_TRUE(log.has("command:ping arg:now please", AV_LOG_DEBUG));
}

TEST_F(FilterCommands, ShortOrUnfinishedLinesAreParseErrors)
{
    struct Case {
        const char *typed;
        bool end_input;
        const char *message;
    } cases[] = {
        {"call -1\n", false, "only 2 given in string 'all -1'\n"},
        {"c\n", false, "only 0 given in string ''\n"},
        {"call notime ping\n", false, "only 1 given in string 'all notime ping'\n"},
        // Input that ends before the line does must not leave the run waiting.
        {"call -1 ping", true, "only 0 given in string 'all -1 ping'\n"},
    };
    for (const Case &c : cases) {
        log.clear();
        keys.type(c.typed);
        if (c.end_input)
            keys.end();
        OutputCapture err(STDERR_FILENO);
        EXPECT_EQ(handle_keyboard(next_poll_time()), 0) << c.typed;
        EXPECT_TRUE(log.has(std::string("Parse error, at least 3 arguments were expected, ") +
                                c.message,
                            AV_LOG_ERROR))
            << log.all_text();
        EXPECT_EQ(err.text().find("Command reply"), std::string::npos);
    }
}

TEST(PollKey, NoInputGivesMinusOne)
{
    const int saved = dup(STDIN_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    close(null_fd);
    EXPECT_EQ(poll_key(), -1);
    EXPECT_TRUE(plat_stdin_at_end());
    {
        KeyFeed open_pipe;
        EXPECT_EQ(poll_key(), -1);
        EXPECT_FALSE(plat_stdin_at_end()) << "an open pipe may still bring keys";
        open_pipe.type("k");
        EXPECT_EQ(poll_key(), 'k');
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
}

} // namespace
