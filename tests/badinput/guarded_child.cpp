#include "guarded_child.h"

#include "engine_harness.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

std::string ChildRun::describe() const
{
    if (!started)
        return "did not start";
    std::string s = timed_out ? "killed after the time limit"
                    : signal  ? "ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")"
                              : "exit status " + std::to_string(exit_code);
    return s + ", peak " + std::to_string(peak_rss_kb / 1024) + " MiB";
}

namespace {

constexpr uid_t kNobody = 65534;

bool become_nobody()
{
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// The build tree may lie in a folder only root can enter (a clone in /root): a
// run as "nobody" starts a copy of the program in a folder everyone can read,
// made once in the parent before the first such run and removed at exit.
struct NobodyCopy {
    std::string folder, program;
    NobodyCopy()
    {
        char name[] = "/tmp/wvc-badinput-XXXXXX";
        if (!mkdtemp(name))
            return;
        folder = name;
        const std::string copy = folder + "/ffmpeg_exec";
        std::error_code ec;
        std::filesystem::copy_file(cli_path(), copy, ec);
        if (!ec && chmod(name, 0755) == 0 && chmod(copy.c_str(), 0755) == 0)
            program = copy;
    }
    ~NobodyCopy()
    {
        std::error_code ec;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ec);
    }
};

const std::string &program_for_nobody()
{
    static const NobodyCopy copy;
    return copy.program;
}

void set_standard_descriptors(const ChildLimits &limits, int err_fd)
{
    const int null_fd = open("/dev/null", O_RDWR);
    const int in_fd = limits.stdin_path.empty() ? null_fd : open(limits.stdin_path.c_str(), O_RDONLY);
    if (in_fd < 0)
        _exit(123);
    dup2(in_fd, 0);
    dup2(null_fd, 1);
    dup2(err_fd, 2);
    if (in_fd != null_fd)
        close(in_fd);
    close(null_fd);
    close(err_fd);
    for (int fd = 0; fd <= 2; fd++)
        if (limits.closed_descriptors & (1u << fd))
            close(fd);
}

[[noreturn]] void exec_child(const std::vector<std::string> &args, const ChildLimits &limits, int err_fd)
{
    set_standard_descriptors(limits, err_fd);
    signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
    const struct rlimit fsize = {limits.file_size, limits.file_size};
    if (setrlimit(RLIMIT_FSIZE, &fsize) != 0)
        _exit(125);
#if !defined(__SANITIZE_ADDRESS__)
    // A run that asks for more than this has lost its bounds: it should fail
    // rather than take the machine. (The address sanitizer reserves far more.)
    const struct rlimit as = {rlim_t(4) << 30, rlim_t(4) << 30};
    setrlimit(RLIMIT_AS, &as);
#endif
    if (!limits.cwd.empty() && chdir(limits.cwd.c_str()) != 0)
        _exit(126);
    for (const std::string &entry : limits.env)
        putenv(const_cast<char *>(entry.c_str())); // the child's own copy of the strings
    if (limits.as_nobody && geteuid() == 0) {
        if (!become_nobody())
            _exit(124);
        exec_cli(args, program_for_nobody());
    }
    exec_cli(args);
}

double seconds_since(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - start.tv_sec) + double(now.tv_nsec - start.tv_nsec) / 1e9;
}

} // namespace

bool can_run_as_nobody()
{
    if (geteuid() != 0)
        return true; // nothing to drop
    if (program_for_nobody().empty())
        return false;
    const pid_t pid = fork();
    if (pid == 0)
        _exit(become_nobody() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ChildRun run_guarded(const std::vector<std::string> &args, const ChildLimits &limits)
{
    ChildRun run;
    int err_pipe[2];
    if (pipe(err_pipe) != 0)
        return run;
    if (limits.as_nobody && geteuid() == 0)
        program_for_nobody();
    const pid_t pid = fork();
    if (pid < 0) {
        close(err_pipe[0]);
        close(err_pipe[1]);
        return run;
    }
    if (pid == 0) {
        close(err_pipe[0]);
        exec_child(args, limits, err_pipe[1]);
    }
    close(err_pipe[1]);
    run.started = true;
    run.pid = int(pid);
    bool signal_sent = limits.signal == 0;

    // Standard error is read until the child closes it; the time limit holds
    // also for a child that closed it at once.
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int status = 0;
    struct rusage usage = {};
    for (bool open = true, running = true; running;) {
        pollfd fd = {err_pipe[0], POLLIN, 0};
        if (!open)
            usleep(50000);
        else if (poll(&fd, 1, 200) > 0) {
            char buf[8192];
            const ssize_t n = read(err_pipe[0], buf, sizeof(buf));
            if (n > 0)
                run.err.append(buf, size_t(n));
            else if (n == 0 || errno != EINTR)
                open = false;
        }
        if (!open) {
            pid_t done;
            while ((done = wait4(pid, &status, WNOHANG, &usage)) < 0 && errno == EINTR) {
            }
            running = done == 0;
        }
        if (running && !signal_sent && seconds_since(start) * 1000 >= limits.signal_after_ms) {
            kill(pid, limits.signal);
            signal_sent = true;
        }
        if (running && seconds_since(start) > limits.timeout_s) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            running = false;
        }
    }
    close(err_pipe[0]);
    run.peak_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}
