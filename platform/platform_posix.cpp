// POSIX implementation of the platform services (Linux: getrusage, termios,
// select, /proc/self/exe, /proc/meminfo).
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

int64_t plat_user_time_us()
{
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return int64_t(usage.ru_utime.tv_sec) * 1000000 + usage.ru_utime.tv_usec;
}

int64_t plat_peak_memory_kib()
{
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return usage.ru_maxrss; // already KiB on Linux
}

int64_t plat_available_memory_bytes()
{
    FILE *f = fopen("/proc/meminfo", "r");
    if (!f)
        return -1;
    char line[256];
    long long kib = -1;
    while (kib < 0 && fgets(line, sizeof(line), f))
        if (sscanf(line, "MemAvailable: %lld kB", &kib) != 1)
            kib = -1;
    fclose(f);
    return kib < 0 ? -1 : int64_t(kib) * 1024;
}

namespace {

std::mutex terminal_lock;
bool terminal_altered = false;
struct termios saved_terminal;
bool restore_registered = false;
bool stdin_ended = false; // the last read found the end of standard input

void restore_at_exit()
{
    plat_stdin_restore();
}

// A terminal is ours to read or change only while our job is in its foreground.
bool terminal_in_background()
{
    if (!isatty(STDIN_FILENO))
        return false;
    pid_t owner = tcgetpgrp(STDIN_FILENO);
    return owner != -1 && owner != getpgrp();
}

// A terminal that hung up reads as its end (nothing, or EIO).
int read_one_byte()
{
    unsigned char byte;
    ssize_t got;
    do
        got = read(STDIN_FILENO, &byte, 1);
    while (got < 0 && errno == EINTR);
    stdin_ended = got == 0 || (got < 0 && errno != EAGAIN);
    return got == 1 ? byte : -1;
}

// Anything but a terminal on standard input brings no keys; it counts as ended.
bool keys_possible()
{
    if (isatty(STDIN_FILENO))
        return true;
    stdin_ended = true;
    return false;
}

} // namespace

void plat_stdin_prepare()
{
    std::lock_guard<std::mutex> guard(terminal_lock);
    if (terminal_altered || !isatty(STDIN_FILENO) || terminal_in_background())
        return;
    struct termios tty;
    if (tcgetattr(STDIN_FILENO, &tty) != 0)
        return;
    saved_terminal = tty;
    tty.c_lflag &= ~(ICANON | ECHO);
    tty.c_cc[VMIN] = 1;
    tty.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &tty) != 0)
        return;
    terminal_altered = true;
    if (!restore_registered) {
        restore_registered = true;
        atexit(restore_at_exit);
    }
}

void plat_stdin_restore()
{
    std::lock_guard<std::mutex> guard(terminal_lock);
    if (!terminal_altered)
        return;
    // Restoring from the background (the job was suspended and resumed with bg)
    // must not stop the process.
    sigset_t ttou, previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &previous);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    terminal_altered = false;
}

int plat_stdin_poll_byte()
{
    if (!keys_possible() || terminal_in_background())
        return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    struct timeval no_wait = {0, 0};
    int n = select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &no_wait);
    if (n == 0)
        stdin_ended = false; // open and quiet: more may come
    if (n <= 0)
        return -1;
    return read_one_byte();
}

int plat_stdin_wait_byte()
{
    return keys_possible() ? read_one_byte() : -1;
}

int plat_stdin_at_end()
{
    return stdin_ended || !isatty(STDIN_FILENO);
}

void plat_fill_closed_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: `fd` itself, as the ones below it are open.
        const int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0 && null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
}

int plat_path_exists(const char *path)
{
    return access(path, F_OK) == 0;
}

int plat_remove_file(const char *path)
{
    return remove(path) == 0 ? 0 : -1;
}

int plat_rename_no_replace(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without no-replace renames: a hard link is just as
    // exclusive where it can be made.
    if (link(from, to) == 0) {
        unlink(from);
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    // Neither (FAT, some network shares): only a check, then a plain rename.
    if (access(to, F_OK) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

int plat_executable_dir(char *buf, size_t size)
{
    if (!buf || size == 0)
        return -1;
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return -1;
    path[n] = '\0';
    char *slash = strrchr(path, '/');
    if (!slash)
        return -1;
    *slash = '\0';
    if (strlen(path) + 1 > size)
        return -1;
    strcpy(buf, path);
    return 0;
}
