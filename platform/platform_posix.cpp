// POSIX implementation of the platform services (Linux: getrusage, termios,
// select, /proc/self/exe).
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
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

namespace {

std::mutex terminal_lock;
bool terminal_altered = false;
struct termios saved_terminal;
bool restore_registered = false;
bool stdin_at_end = false;

void restore_at_exit()
{
    plat_stdin_restore();
}

} // namespace

void plat_stdin_prepare()
{
    std::lock_guard<std::mutex> guard(terminal_lock);
    if (terminal_altered || !isatty(STDIN_FILENO))
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
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    terminal_altered = false;
}

int plat_stdin_poll_byte()
{
    if (stdin_at_end)
        return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    struct timeval no_wait = {0, 0};
    int n = select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &no_wait);
    if (n <= 0)
        return -1;
    unsigned char byte;
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1)
        return byte;
    if (got == 0)
        stdin_at_end = true; // closed pipe or end of file: stop polling for good
    return -1;
}

int plat_path_exists(const char *path)
{
    return access(path, F_OK) == 0;
}

int plat_remove_file(const char *path)
{
    return remove(path) == 0 ? 0 : -1;
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
