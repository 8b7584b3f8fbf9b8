#include "folder_watch.h"

#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>

FolderWatch::FolderWatch(const std::string &folder)
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), IN_OPEN | IN_ACCESS) < 0)
        throw std::runtime_error("cannot watch " + folder);
}

FolderWatch::~FolderWatch()
{
    close(fd_);
}

int FolderWatch::touches()
{
    alignas(inotify_event) char buf[8192];
    ssize_t n;
    while ((n = read(fd_, buf, sizeof(buf))) > 0) {
        for (char *p = buf; p < buf + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            // Events without a name are the folder's own (listing it).
            if (event->len > 0)
                touches_++;
            p += sizeof(inotify_event) + event->len;
        }
    }
    return touches_;
}
