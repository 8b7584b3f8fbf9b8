// Conversion processes: starting them, reading their event lines, collecting
// their ends, stopping them on a signal.
#include "job_pool.h"
#include "queue_words.h"

#include "job_protocol.h"
#include "output_naming.h"
#include "single_job.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The descriptor the conversion process writes its events to.
constexpr int kEventFd = 3;
constexpr int kTickMilliseconds = 250;

struct Running {
    size_t index = 0;
    pid_t pid = -1;
    int fd = -1;
    std::string pending; // bytes of an unfinished line
    bool ended = false;
    JobEvent end;
    Clock::time_point started;
    // The file its conversion writes, once seen under the partial name: after
    // the rename, the final name holds this very file.
    bool file_seen = false;
    dev_t file_dev = 0;
    ino_t file_ino = 0;
};

// ---- signals: a handler that only writes the signal's number into a pipe ----

int g_signal_pipe[2] = {-1, -1};

void forward_signal_to_pipe(int signal_number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal_number);
    if (write(g_signal_pipe[1], &byte, 1) < 0) {
        // A full pipe already holds enough signals to act on.
    }
    errno = saved;
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof(kStopSignals) / sizeof(kStopSignals[0]);

class SignalWatch {
public:
    SignalWatch()
    {
        if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) < 0)
            g_signal_pipe[0] = g_signal_pipe[1] = -1;
        struct sigaction sa = {};
        sa.sa_handler = forward_signal_to_pipe;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < kStopSignalCount; i++)
            sigaction(kStopSignals[i], &sa, &previous_[i]);
    }
    ~SignalWatch()
    {
        for (size_t i = 0; i < kStopSignalCount; i++)
            sigaction(kStopSignals[i], &previous_[i], nullptr);
        close(g_signal_pipe[0]);
        close(g_signal_pipe[1]);
        g_signal_pipe[0] = g_signal_pipe[1] = -1;
    }
    SignalWatch(const SignalWatch &) = delete;
    SignalWatch &operator=(const SignalWatch &) = delete;

    // The signals that arrived since the last call, in order.
    std::vector<int> take()
    {
        std::vector<int> signals;
        unsigned char bytes[16];
        ssize_t n;
        while ((n = read(g_signal_pipe[0], bytes, sizeof(bytes))) > 0)
            signals.insert(signals.end(), bytes, bytes + n);
        return signals;
    }
    int fd() const { return g_signal_pipe[0]; }

private:
    struct sigaction previous_[kStopSignalCount];
};

// ---- starting a conversion process -------------------------------------------

// In the forked child, before exec: only async-signal-safe calls.
[[noreturn]] void become_conversion_process(int event_write_fd, pid_t parent, char *const *argv)
{
    // Should the batch command die without stopping us, stop (and clean up) too.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // dup2 onto itself would keep close-on-exec, and the job would lose its pipe.
    if (event_write_fd == kEventFd ? fcntl(kEventFd, F_SETFD, 0) < 0 : dup2(event_write_fd, kEventFd) < 0)
        _exit(127);
    // Jobs never read the terminal, and their engine messages would garble the
    // batch command's own lines: what matters comes back as events.
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0)
        _exit(127);
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execv("/proc/self/exe", argv);
    _exit(127);
}

bool start_process(const BatchJob &job, const ConversionChoices &choices, Running *r)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0)
        return false;
    std::string fd_text = std::to_string(kEventFd);
    std::vector<std::string> words = {"wardline-convert", SINGLE_JOB_ARGUMENT, fd_text, job.source, job.output,
                                      choices_argument(choices)};
    if (!job.segments.empty()) {
        words = {"wardline-convert", JOIN_JOB_ARGUMENT, fd_text, job.output, choices_argument(choices)};
        words.insert(words.end(), job.segments.begin(), job.segments.end());
    }
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        become_conversion_process(fds[1], parent, argv.data());
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    r->pid = pid;
    r->fd = fds[0];
    r->started = Clock::now();
    return true;
}

// ---- reading events and ends ----------------------------------------------------

void take_event(const JobEvent &event, Running *r, JobResult *result, JobListener *listener)
{
    if (event.kind == JobEvent::End) {
        r->ended = true;
        r->end = event;
        return;
    }
    result->out_time_us = event.out_time_us;
    result->duration_us = event.duration_us;
    result->speed = event.speed;
    listener->job_progress(r->index);
}

// Reads what is there; false at the end of the pipe.
bool read_events(Running *r, JobResult *result, JobListener *listener)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(r->fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        if (n == 0)
            return false;
        r->pending.append(buffer, static_cast<size_t>(n));
        size_t newline;
        while ((newline = r->pending.find('\n')) != std::string::npos) {
            JobEvent event;
            if (decode_job_event(r->pending.substr(0, newline), &event))
                take_event(event, r, result, listener);
            r->pending.erase(0, newline + 1);
        }
    }
}

std::string describe_exit(int status)
{
    if (WIFSIGNALED(status))
        return std::string("the conversion process was ended by signal ") + std::to_string(WTERMSIG(status)) +
               " (" + strsignal(WTERMSIG(status)) + ")";
    return "the conversion process ended with status " + std::to_string(WEXITSTATUS(status)) +
           " without saying how the conversion went";
}

// Each conversion process may have seen the terminal's SIGINT, our SIGTERM or
// both; what the user did is what the batch command saw.
std::string interrupt_reason(int interrupt)
{
    if (interrupt == SIGINT)
        return "stopped by an interrupt (Ctrl-C)";
    return "stopped by signal " + std::to_string(interrupt) + " (" + strsignal(interrupt) + ")";
}

void settle(const Running &r, int status, int interrupt, BatchJob *job, JobResult *result)
{
    if (r.ended) {
        if (r.end.end == "completed") {
            result->status = r.end.problems.empty() ? JobStatus::Converted : JobStatus::Partial;
            result->media_us = r.end.out_time_us;
            result->expected_us = r.end.expected_us;
            result->problems = r.end.problems;
            result->handling = r.end.handling;
            // The name was taken meanwhile by another run: the job took the next.
            if (!r.end.output.empty())
                job->output = r.end.output;
        } else {
            result->status = r.end.end == "stopped" ? JobStatus::Stopped : JobStatus::Failed;
            result->failure = r.end.failure;
            result->reason = result->status == JobStatus::Stopped && interrupt ? interrupt_reason(interrupt)
                                                                                : r.end.reason;
        }
        return;
    }
    // The process died before its engine could clean up: it left its partial
    // file (named after its output and its process id), or had just renamed it.
    // The final name is removed only when it holds that file: another run
    // writing into the same folder may have put its own file there.
    result->status = interrupt ? JobStatus::Stopped : JobStatus::Failed;
    result->reason = interrupt ? interrupt_reason(interrupt) : describe_exit(status);
    unlink(partial_output_path(job->output, long(r.pid)).c_str());
    struct stat st;
    if (r.file_seen && stat(job->output.c_str(), &st) == 0 && st.st_dev == r.file_dev && st.st_ino == r.file_ino)
        unlink(job->output.c_str());
}

void note_written_file(const BatchJob &job, Running *r)
{
    struct stat st;
    if (r->file_seen || stat(partial_output_path(job.output, long(r->pid)).c_str(), &st) != 0)
        return;
    r->file_seen = true;
    r->file_dev = st.st_dev;
    r->file_ino = st.st_ino;
}

void finish(const Running &r, int interrupt, BatchJob *job, JobResult *result)
{
    close(r.fd);
    int status = 0;
    struct rusage usage = {};
    while (wait4(r.pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result->seconds = std::chrono::duration<double>(Clock::now() - r.started).count();
    result->max_rss_kb = usage.ru_maxrss;
    settle(r, status, interrupt, job, result);
}

void signal_all(const std::vector<Running> &running, int signal_number)
{
    for (const Running &r : running)
        kill(r.pid, signal_number);
}

} // namespace

int run_batch_jobs(std::vector<BatchJob> *all_jobs, PlannedOutputs *planned, int parallel,
                   std::vector<JobResult> *results, JobListener *listener, const ConversionChoices &choices)
{
    const std::vector<BatchJob> &jobs = *all_jobs;
    results->assign(jobs.size(), JobResult());
    SignalWatch signals;
    std::vector<Running> running;
    size_t next = 0;
    int interrupt = 0, signal_count = 0;
    for (;;) {
        while (!interrupt && next < jobs.size() && running.size() < static_cast<size_t>(parallel)) {
            const size_t index = next++;
            JobResult &result = (*results)[index];
            Running r;
            r.index = index;
            recheck_output(&(*all_jobs)[index], planned);
            if (jobs[index].output.empty()) {
                result.status = JobStatus::Failed;
                result.reason = english_words(names_taken_words());
            } else if (!start_process(jobs[index], choices, &r)) {
                result.status = JobStatus::Failed;
                result.reason = std::string("cannot start a conversion process: ") + strerror(errno);
            } else {
                result.status = JobStatus::Running;
                running.push_back(r);
                listener->job_started(index);
                continue;
            }
            listener->job_finished(index);
        }
        if (running.empty())
            break;

        std::vector<pollfd> fds = {{signals.fd(), POLLIN, 0}};
        for (const Running &r : running)
            fds.push_back({r.fd, POLLIN, 0});
        // An interrupted wait is followed by a look at the signal pipe.
        poll(fds.data(), fds.size(), kTickMilliseconds);
        for (int s : signals.take()) {
            interrupt = s;
            // First signal: ask each job to stop and clean up; then: no waiting.
            signal_all(running, ++signal_count == 1 ? SIGTERM : SIGKILL);
        }
        for (size_t i = 0; i < running.size();) {
            Running &r = running[i];
            JobResult &result = (*results)[r.index];
            if (fds[i + 1].revents && !read_events(&r, &result, listener)) {
                finish(r, interrupt, &(*all_jobs)[r.index], &result);
                listener->job_finished(r.index);
                fds.erase(fds.begin() + static_cast<long>(i) + 1);
                running.erase(running.begin() + static_cast<long>(i));
                continue;
            }
            note_written_file(jobs[r.index], &r);
            i++;
        }
        listener->tick();
    }
    for (JobResult &result : *results)
        if (interrupt && result.status == JobStatus::Waiting)
            result.reason = "not started: the batch was stopped first";
    return interrupt;
}
