// Tells whether a program touched the files of one folder: every open and read
// of a file in it is counted (inotify), whatever path or link led there.
#pragma once

#include <string>

class FolderWatch {
public:
    explicit FolderWatch(const std::string &folder); // throws when it cannot watch
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // Opens and reads of files in the folder since the watch began.
    int touches();

private:
    int fd_ = -1;
    int touches_ = 0;
};
