// The engine entry: run statuses and messages, release and reset after every run,
// quiet mode, termination signals, the benchmark line, and the interaction on
// standard input (keys, debug values, filter commands), typed on a terminal.
#include "engine_harness.h"

#include "engine.h"
#include "observe.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <regex>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

int open_descriptors()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d))
        n++;
    closedir(d);
    return n;
}

// What `work` writes to the standard descriptor fd.
std::string captured(int fd, const std::function<void()> &work)
{
    fflush(nullptr);
    const int saved = dup(fd);
    FILE *sink = tmpfile();
    dup2(fileno(sink), fd);
    work();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string text;
    rewind(sink);
    for (int c; (c = fgetc(sink)) != EOF;)
        text += char(c);
    fclose(sink);
    return text;
}

// Bytes waiting on standard input.
int waiting_on_stdin()
{
    int n = 0;
    return ioctl(STDIN_FILENO, FIONREAD, &n) == 0 ? n : -1;
}

// Standard input replaced by a terminal (a pseudo-terminal in raw mode) the test
// types keys into: keys are read from a terminal only.
class KeyFeed {
public:
    KeyFeed() : saved_(dup(STDIN_FILENO))
    {
        typist_ = posix_openpt(O_RDWR | O_NOCTTY);
        const bool made = typist_ >= 0 && grantpt(typist_) == 0 && unlockpt(typist_) == 0;
        const int terminal = made ? open(ptsname(typist_), O_RDWR | O_NOCTTY) : -1;
        EXPECT_GE(terminal, 0) << "no pseudo-terminal";
        termios raw;
        if (terminal >= 0 && tcgetattr(terminal, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(terminal, TCSANOW, &raw);
            dup2(terminal, STDIN_FILENO);
        }
        if (terminal >= 0)
            close(terminal);
    }
    ~KeyFeed()
    {
        end();
        if (hang_up_.joinable())
            hang_up_.join();
        while (poll_key() >= 0) {
        } // nothing typed or read ahead survives the test
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    // Returns once the keys have reached the terminal's input.
    void type(const std::string &keys)
    {
        const int before = waiting_on_stdin();
        ASSERT_EQ(write(typist_, keys.data(), keys.size()), ssize_t(keys.size()));
        for (int i = 0; i < 2000 && waiting_on_stdin() < before + int(keys.size()); i++)
            usleep(1000);
    }
    // The terminal hangs up once everything typed has been read.
    void end()
    {
        if (typist_ < 0 || hang_up_.joinable())
            return;
        hang_up_ = std::thread([this] {
            for (int i = 0; i < 20000 && waiting_on_stdin() > 0; i++)
                usleep(1000);
            close(typist_);
            typist_ = -1;
        });
    }

private:
    int saved_, typist_ = -1;
    std::thread hang_up_;
};

// Keyboard polls happen at most every 100 ms of the caller's clock.
int64_t next_poll_time()
{
    static int64_t now = av_gettime();
    return now += 200000;
}

// ---- runs ----------------------------------------------------------------------

TEST(Run, StatusAndMessagesOfEarlyEnds)
{
    const std::string dir = scratch_dir("run_early_ends");
    const std::tuple<std::vector<std::string>, const char *, bool> cases[] = {
        {{}, "Use -h to get full help or, even better, run 'man ffmpeg_exec'\n", true},
        {{"-y", "-stats"}, "Use -h to get full help", true},
        {{"-y", "-level"}, "Missing argument for option 'level'\n", false},
        {{"-croptop", "2", "out.mp4"}, "Option 'croptop' has been removed", false},
        // No input, whatever became of the output: the usage too.
        {{dir + "/missing/out.mp4"}, "No such file or directory", true},
        {{"-y", dir + "/out.mp4"}, "Output file #0 does not contain any stream", true},
        {{"-f", "lavfi", "-i", "testsrc=d=0.1", dir + "/missing/out.mp4"}, "No such file or directory", false},
    };
    for (const auto &[args, message, usage] : cases) {
        LogCapture log;
        EXPECT_EQ(run_engine(args), -1);
        EXPECT_TRUE(log.has(message)) << log.all_text();
        EXPECT_EQ(log.has("usage: ffmpeg_exec [options]", AV_LOG_INFO), usage) << log.all_text();
        EXPECT_EQ(log.has("Use -h", AV_LOG_WARNING), usage);
    }

    // With an input but no output the run asks for an output file instead.
    LogCapture log;
    GROW_TABLE(input_files, nb_input_files);
    input_files[0] = (InFile *)av_mallocz(sizeof(InFile));
    EXPECT_EQ(run_engine({"-y"}), -1);
    EXPECT_TRUE(log.has("At least one output file must be specified\n", AV_LOG_FATAL));
    EXPECT_FALSE(log.has("Use -h"));
    EXPECT_EQ(nb_input_files, 0);
}

// One name given to two outputs: refused before the run converts anything, and
// nothing of it is left (a run puts all its files in place or none).
TEST(Run, AnOutputNamedTwiceIsRefusedAndNothingIsLeft)
{
    const std::string dir = scratch_dir("run_output_twice");
    std::filesystem::create_directories(dir + "/sub");
    const std::tuple<const char *, const char *, bool> cases[] = {
        {"out.mp4", "out.mp4", true},
        {"out.mp4", "sub/../out.mp4", true},
        {"out.mp4", "./out.mp4", true},
        {"out.mp4", "other.mp4", false},
        {"out.mp4", "sub/out.mp4", false},
    };
    for (const auto &[first, second, refused] : cases) {
        SCOPED_TRACE(std::string(first) + " " + second);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/sub");
        LogCapture log;
        const int status = run_engine({"-f", "lavfi", "-i", "testsrc=d=0.2:s=64x48", "-preset", "ultrafast",
                                       dir + "/" + first, dir + "/" + second});
        EXPECT_EQ(status, refused ? -1 : 0) << log.all_text();
        EXPECT_EQ(log.has("Output file '" + dir + "/" + second + "' is named twice on the command line",
                          AV_LOG_FATAL),
                  refused)
            << log.all_text();
        int left = 0;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir))
            left += entry.is_regular_file();
        EXPECT_EQ(left, refused ? 0 : 2);
    }
}

TEST(Run, EveryRunEndsWithEmptyTablesAndNothingLeftOpen)
{
    LogCapture log;
    const std::string progress = scratch_dir("run_reset") + "/progress.txt";
    const int descriptors = open_descriptors();
    video_size = audio_size = subtitle_size = extra_size = 5;
    nb_frames_dup = nb_frames_drop = 3;
    // A run that fails late in parsing, after creating state of every kind...
    EXPECT_EQ(run_engine({"-filter_complex", "anullsrc", "-level", "3", "-sws_flags", "bilinear",
                          "-progress", progress, "-vstats_file", "v.log", "-c:v", "copy",
                          "-cropleft", "1"}),
              -1);
    EXPECT_TRUE(std::filesystem::exists(progress));
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        EXPECT_EQ(filtergraphs, nullptr);
        EXPECT_EQ(nb_filtergraphs + nb_input_files + nb_input_streams + nb_output_files +
                      nb_output_streams,
                  0);
        EXPECT_EQ(progress_avio, nullptr);
        EXPECT_EQ(vstats_filename, nullptr);
        EXPECT_EQ(codec_options, nullptr);
        EXPECT_EQ(scaler_options, nullptr);
        EXPECT_EQ(video_size + audio_size + subtitle_size + extra_size, 0);
        EXPECT_EQ(nb_frames_dup + nb_frames_drop, 0);
        EXPECT_EQ(open_descriptors(), descriptors);
        // ... and one that ends at the output check.
        EXPECT_EQ(run_engine({"-filter_complex", "nullsrc", "-progress", progress}), -1);
    }
}

TEST(Run, QuietModeSilencesTheWholeRun)
{
    LogCapture log;
    EXPECT_EQ(run_engine({"-d", "-y", "-zz"}), -1);
    EXPECT_EQ(log.all_text(), "");
    EXPECT_EQ(run_quiet, 0) << "reset after the run";
    log.reinstall();
    EXPECT_EQ(run_engine({"-y", "-d"}), -1);
    EXPECT_TRUE(log.has("Missing argument for option 'd'\n")) << "only the first argument counts";

    ChildResult bare = run_cli({});
    EXPECT_EQ(bare.exit_status, 1);
    EXPECT_NE(bare.err.find("usage: ffmpeg_exec"), std::string::npos) << bare.err;
    ChildResult quiet = run_cli({"-d", "-t", "not-a-time"});
    EXPECT_EQ(quiet.exit_status, 1);
    EXPECT_EQ(quiet.err, "");
}

volatile sig_atomic_t signals_passed_on;
void count_passed_on(int) { signals_passed_on = signals_passed_on + 1; }

TEST(Run, TerminationSignalsAreOnlyRecordedDuringARunAndPassedOnAfterIt)
{
    LogCapture log;
    signal(SIGINT, count_passed_on);
    signal(SIGTERM, count_passed_on);
    signals_passed_on = 0;
    begin_run_signals(); // as every run does first
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(received_signal, SIGINT);
    EXPECT_EQ(signals_passed_on, 0) << "the engine's handler took it";
    EXPECT_EQ(interrupt_callback.callback, engine_interrupt_cb);
    set_run_phase(RunPhase::Finishing);
    EXPECT_EQ(engine_interrupt_cb(nullptr), 0) << "the outputs are still finished after one signal";
    set_run_phase(RunPhase::Opening);
    EXPECT_EQ(engine_interrupt_cb(nullptr), 1) << "opening the files is broken off";
    EXPECT_EQ(handle_keyboard(next_poll_time()), AVERROR_EXIT);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(received_signal, SIGTERM);
    EXPECT_EQ(received_nb_signals, 2);
    set_run_phase(RunPhase::Finishing);
    EXPECT_EQ(engine_interrupt_cb(nullptr), 1) << "a second signal gives up on everything";
    EXPECT_EQ(engine_stop_signal(), SIGINT);
    end_run_signals();
    EXPECT_EQ(signals_passed_on, 1) << "the first signal, once, to the handler from before";
    EXPECT_EQ(received_signal + received_nb_signals, 0) << "nothing carries over to the next run";
    EXPECT_EQ(run_engine({}), -1) << "a later run still ends normally";
    EXPECT_FALSE(log.has("Received signal"));
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

template <typename T>
T *append(T **&table, int &count)
{
    GROW_TABLE(table, count);
    return table[count - 1] = (T *)av_mallocz(sizeof(T));
}

TEST(Run, CleanupReleasesRecordsOfEveryKind)
{
    const std::string dir = scratch_dir("cleanup");
    const int descriptors = open_descriptors();
    Filtergraph *fg = append(filtergraphs, nb_filtergraphs);
    fg->graph = avfilter_graph_alloc();
    append(fg->inputs, fg->nb_inputs)->name = av_strdup("in");
    GraphOutput *out = append(fg->outputs, fg->nb_outputs);
    out->name = av_strdup("out");
    out->pending_pad = avfilter_inout_alloc();

    append(input_files, nb_input_files)->ctx = avformat_alloc_context();
    InStream *ist = append(input_streams, nb_input_streams);
    ist->dec_ctx = avcodec_alloc_context3(nullptr);
    ist->decoded_frame = av_frame_alloc();
    ist->sub2video.frame = av_frame_alloc();
    av_dict_set(&ist->decoder_opts, "threads", "1", 0);
    GROW_TABLE(ist->filters, ist->nb_filters);

    for (const char *muxer : {"null", "mp4"}) { // without and with a file of its own
        OutFile *of = append(output_files, nb_output_files);
        avformat_alloc_output_context2(&of->ctx, nullptr, muxer, nullptr);
        if (!(of->ctx->oformat->flags & AVFMT_NOFILE)) {
            ASSERT_GE(avio_open(&of->ctx->pb, (dir + "/out.mp4").c_str(), AVIO_FLAG_WRITE), 0);
        }
        av_dict_set(&of->opts, "movflags", "faststart", 0);
    }
    OutStream *ost = append(output_streams, nb_output_streams);
    ost->enc_ctx = avcodec_alloc_context3(nullptr);
    for (int i = 0; i < 2; i++) {
        GROW_TABLE(ost->bsfs, ost->nb_bsfs);
        ASSERT_GE(av_bsf_alloc(av_bsf_get_by_name("null"), &ost->bsfs[i]), 0);
    }
    ost->filtered_frame = av_frame_alloc();
    ost->forced_keyframes = av_strdup("expr:gte(t,2)");
    ost->avfilter = av_strdup("null");
    ost->logfile_prefix = av_strdup("pass");
    ost->logfile = fopen((dir + "/pass.log").c_str(), "w");

    subtitle_out = (uint8_t *)av_malloc(1024);
    vstats_file = fopen((dir + "/vstats.log").c_str(), "w");
    vstats_filename = av_strdup("vstats.log");
    ASSERT_GE(avio_open(&progress_avio, (dir + "/progress.txt").c_str(), AVIO_FLAG_WRITE), 0);
    av_dict_set(&codec_options, "g", "1", 0);

    engine_cleanup();
    reset_engine_state();
    EXPECT_EQ(filtergraphs, nullptr);
    EXPECT_TRUE(!input_files && !input_streams && !output_files && !output_streams);
    EXPECT_EQ(nb_filtergraphs + nb_input_files + nb_input_streams + nb_output_files +
                  nb_output_streams,
              0);
    EXPECT_TRUE(!subtitle_out && !vstats_file && !vstats_filename && !progress_avio);
    EXPECT_EQ(codec_options, nullptr);
    EXPECT_EQ(open_descriptors(), descriptors);
    engine_cleanup(); // as at exit: nothing left to do
}

TEST(Run, BenchmarkLine)
{
    std::string text = captured(STDOUT_FILENO, [] { print_run_benchmark(plat_user_time_us() - 1500000); });
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex("bench: utime=1\\.5[0-9]{2}s maxrss=([0-9]+)kB\n")))
        << text;
    EXPECT_GT(std::stoi(m[1]), 0);
}

// ---- keyboard --------------------------------------------------------------------

class Keyboard : public ::testing::Test {
protected:
    KeyFeed keys;
    LogCapture log;
    const int saved_level = av_log_get_level();

    void SetUp() override { run_quiet = qp_hist = do_pkt_dump = do_hex_dump = 0; }
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
    std::string press_and_read_stderr(const std::string &k)
    {
        return captured(STDERR_FILENO, [&] { EXPECT_EQ(press(k), 0) << k; });
    }
    void add_streams()
    {
        append(input_streams, nb_input_streams)->dec_ctx = avcodec_alloc_context3(nullptr);
        append(output_streams, nb_output_streams)->enc_ctx = avcodec_alloc_context3(nullptr);
    }
};

TEST_F(Keyboard, SingleKeysAndTheirEffects)
{
    const int level = av_log_get_level();
    const std::tuple<const char *, int, std::function<bool()>> cases[] = {
        {"q", AVERROR_EXIT, [] { return true; }},
        {"+", 0, [&] { return av_log_get_level() == level + 10; }},
        {"-", 0, [&] { return av_log_get_level() == level; }},
        {"s", 0, [] { return qp_hist == 1; }},
        {"s", 0, [] { return qp_hist == 0; }},
        {"h", 0, [] { return do_pkt_dump == 1 && do_hex_dump == 0; }},
        {"h", 0, [] { return do_pkt_dump == 1 && do_hex_dump == 1; }},
        {"h", 0, [] { return !do_pkt_dump && !do_hex_dump && av_log_get_level() == AV_LOG_DEBUG; }},
        {"x", 0, [] { return true; }},
        {"", 0, [] { return true; }},
    };
    for (const auto &[key, result, check] : cases) {
        EXPECT_EQ(press(key), result) << "key '" << key << "'";
        EXPECT_TRUE(check()) << "key '" << key << "'";
    }
    EXPECT_EQ(press_and_read_stderr("?"),
              "key    function\n?      show this help\n+      increase verbosity\n"
              "-      decrease verbosity\nc      Send command to filtergraph\n"
              "D      cycle through available debug modes\n"
              "h      dump packets/hex press to cycle through the 3 states\nq      quit\n"
              "s      Show QP histogram\n");

    // At most one poll every 100 ms, and none in quiet mode: the key waits.
    const int64_t now = next_poll_time();
    keys.type("qq");
    EXPECT_EQ(handle_keyboard(now), AVERROR_EXIT);
    EXPECT_EQ(handle_keyboard(now + 99999), 0);
    run_quiet = 1;
    EXPECT_EQ(handle_keyboard(next_poll_time()), 0);
    run_quiet = 0;
    EXPECT_EQ(handle_keyboard(next_poll_time()), AVERROR_EXIT);
}

TEST_F(Keyboard, DebugValuesAreReadOrCycledAndApplied)
{
    add_streams();
    const std::tuple<const char *, const char *, int, int> typed[] = {
        // keys, standard error, value, what the next poll finds
        {"d5\n", "debug=5\n", 5, '\n'},
        {"d  -3 ", "debug=-3\n", -3, ' '},
        {"d+12q", "debug=12\n", 12, 'q'},
        {"dx", "error parsing debug value\ndebug=0\n", 0, 'x'},
    };
    for (const auto &[keys_typed, text, value, next] : typed) {
        EXPECT_EQ(press_and_read_stderr(keys_typed), text);
        EXPECT_EQ(input_streams[0]->dec_ctx->debug, value) << keys_typed;
        EXPECT_EQ(output_streams[0]->enc_ctx->debug, value) << keys_typed;
        EXPECT_EQ(poll_key(), next) << keys_typed;
    }
    EXPECT_EQ(av_log_get_level(), AV_LOG_DEBUG);

    // D: the next mode after the first decoder's, skipping 0x40, 0x2000 and 0x4000.
    for (auto [from, to] : {std::pair{0, 1}, {1, 2}, {0x20, 0x80}, {0x1000, 0x8000}}) {
        input_streams[0]->dec_ctx->debug = from;
        EXPECT_EQ(press_and_read_stderr("D"), "debug=" + std::to_string(to) + "\n");
        EXPECT_EQ(output_streams[0]->enc_ctx->debug, to);
    }
}

TEST_F(Keyboard, DebugKeysWithoutStreamsOrInput)
{
    EXPECT_EQ(press_and_read_stderr("D"), "debug=1\n") << "no input stream to start from";
    keys.type("d");
    keys.end();
    EXPECT_EQ(captured(STDERR_FILENO, [] { handle_keyboard(next_poll_time()); }),
              "error parsing debug value\ndebug=0\n");
}

class FilterCommands : public Keyboard {
protected:
    AVFilterContext *first = nullptr, *second = nullptr;
    const std::string prompt = "\nEnter command: <target> <time> <command>[ <argument>]\n";

    void SetUp() override
    {
        Keyboard::SetUp();
        Filtergraph *fg = append(filtergraphs, nb_filtergraphs);
        fg->graph = avfilter_graph_alloc();
        first = avfilter_graph_alloc_filter(fg->graph, avfilter_get_by_name("anull"), "first");
        second = avfilter_graph_alloc_filter(fg->graph, avfilter_get_by_name("anull"), "second");
        ASSERT_GE(avfilter_init_str(first, nullptr), 0);
        ASSERT_GE(avfilter_init_str(second, nullptr), 0);
        append(filtergraphs, nb_filtergraphs)->index = 1; // not configured: left out
    }
};

TEST_F(FilterCommands, SentNowOrQueued)
{
    EXPECT_EQ(press_and_read_stderr("call -1 ping\n"),
              prompt + "Command reply for stream 0: ret:0 res:pong from:anull first\n\n");
    EXPECT_EQ(press_and_read_stderr("Call -1 ping\r"),
              prompt + "Command reply for stream 0: ret:0 res:pong from:anull first\n"
                       "pong from:anull second\n\n");
    EXPECT_TRUE(log.has("Processing command target:all time:-1.000000 command:ping arg:",
                        AV_LOG_DEBUG));

    EXPECT_EQ(press_and_read_stderr("csecond 2.5 ping now please\n"), prompt);
    EXPECT_EQ(first->command_queue, nullptr);
    EXPECT_NE(second->command_queue, nullptr);
    EXPECT_TRUE(log.has("command:ping arg:now please", AV_LOG_DEBUG));
}

TEST_F(FilterCommands, ShortOrUnfinishedLinesAreParseErrors)
{
    const std::pair<const char *, const char *> cases[] = {
        {"call -1\n", "only 2 given in string 'all -1'\n"},
        {"c\n", "only 0 given in string ''\n"},
        {"call notime ping\n", "only 1 given in string 'all notime ping'\n"},
        // Input that ends before the line does must not leave the run waiting.
        {"call -1 ping", "only 0 given in string 'all -1 ping'\n"},
    };
    for (const auto &[typed, message] : cases) {
        log.clear();
        keys.type(typed);
        if (typed[strlen(typed) - 1] != '\n')
            keys.end();
        EXPECT_EQ(captured(STDERR_FILENO, [] { handle_keyboard(next_poll_time()); }), prompt);
        EXPECT_EQ(log.all_text(),
                  std::string("Parse error, at least 3 arguments were expected, ") + message);
    }
}

TEST(PollKey, NoInputGivesMinusOne)
{
    const int saved = dup(STDIN_FILENO);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    close(null_fd);
    EXPECT_EQ(poll_key(), -1);
    EXPECT_TRUE(plat_stdin_at_end());
    {
        KeyFeed open_terminal;
        EXPECT_EQ(poll_key(), -1);
        EXPECT_FALSE(plat_stdin_at_end()) << "an open terminal may still bring keys";
        open_terminal.type("k");
        EXPECT_EQ(poll_key(), 'k');
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
}

TEST(PollKey, KeysComeOnlyFromATerminal)
{
    // A pipe or a file on standard input (a recording in place of a closed
    // descriptor 0, a script's output) is never read as keys.
    const int saved = dup(STDIN_FILENO);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "q", 1), 1);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    EXPECT_EQ(poll_key(), -1);
    EXPECT_TRUE(plat_stdin_at_end()) << "a reader waiting for keys must give up";
    EXPECT_EQ(plat_stdin_wait_byte(), -1);
    char byte = 0;
    EXPECT_EQ(read(STDIN_FILENO, &byte, 1), 1) << "the byte was taken";
    EXPECT_EQ(byte, 'q');
    close(fds[1]);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

} // namespace
