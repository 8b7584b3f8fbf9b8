#include "engine_harness.h"

#include "ffmpeg_exec.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

std::mutex capture_lock;
std::vector<LogLine> captured;
int capture_max_level = 48;

void capture_callback(void *, int level, const char *fmt, va_list vl)
{
    if (level > capture_max_level)
        return;
    char buf[4096];
    vsnprintf(buf, sizeof(buf), fmt, vl);
    std::lock_guard<std::mutex> guard(capture_lock);
    captured.push_back({level, buf});
}

} // namespace

LogCapture::LogCapture(int max_level)
{
    std::lock_guard<std::mutex> guard(capture_lock);
    captured.clear();
    capture_max_level = max_level;
    av_log_set_callback(capture_callback);
}

LogCapture::~LogCapture()
{
    av_log_set_callback(av_log_default_callback);
}

void LogCapture::reinstall()
{
    av_log_set_callback(capture_callback);
}

std::vector<LogLine> LogCapture::lines() const
{
    std::lock_guard<std::mutex> guard(capture_lock);
    return captured;
}

std::string LogCapture::all_text() const
{
    std::string text;
    for (const LogLine &l : lines())
        text += l.text;
    return text;
}

bool LogCapture::has(const std::string &needle, int level) const
{
    for (const LogLine &l : lines())
        if ((level == -100 || l.level == level) && l.text.find(needle) != std::string::npos)
            return true;
    return false;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> guard(capture_lock);
    captured.clear();
}

int run_engine(const std::vector<std::string> &args)
{
    std::vector<std::string> words = {"ffmpeg"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    return ffmpeg_exec(int(argv.size()), argv.data());
}

namespace {

void drain_into(int fd, std::string &sink, bool &open)
{
    char buf[8192];
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0)
        sink.append(buf, size_t(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        open = false;
}

} // namespace

std::string cli_path()
{
    return WVC_CLI_PATH;
}

void exec_cli(const std::vector<std::string> &args, const std::string &program)
{
    std::vector<std::string> words = {program.empty() ? cli_path() : program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

ChildResult run_cli(const std::vector<std::string> &args, const std::string &input,
                    const std::vector<std::string> &env, int timeout_s, const std::string &cwd)
{
    ChildResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe))
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        exec_cli(args);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
        ssize_t ignored = write(in_pipe[1], input.data(), input.size());
        (void)ignored;
    }
    close(in_pipe[1]);

    bool out_open = true, err_open = true;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (out_open || err_open) {
        struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        int n = poll(fds, 2, 200);
        if (n > 0) {
            if (out_open && (fds[0].revents & (POLLIN | POLLHUP)))
                drain_into(out_pipe[0], result.out, out_open);
            if (err_open && (fds[1].revents & (POLLIN | POLLHUP)))
                drain_into(err_pipe[0], result.err, err_open);
        }
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > timeout_s) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string dict_text(const AVDictionary *d)
{
    std::string text;
    const AVDictionaryEntry *e = nullptr;
    while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX)))
        text += std::string(e->key) + "=" + e->value + ";";
    return text;
}

std::string scratch_dir(const std::string &name)
{
    std::filesystem::path dir = std::filesystem::path(WVC_SCRATCH_ROOT) / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    return dir.string();
}
