// Which files are recordings: probing a file's content for a video or audio
// stream, and finding such files in folders. Owned here so the batch command and
// the converter window pick the same files from a folder. The probe opens the
// file under the same rules as a conversion (input_guard.h) and reads only a
// little of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVInputFormat;

struct MediaProbe {
    bool has_video = false;  // a moving-picture stream (still images do not count)
    bool has_audio = false;
    int64_t duration_us = -1; // the container's duration; -1 when unknown
    std::string format;       // the demuxer's short name
};

// Why `path` cannot be a recording to convert, in a few words ("does not exist",
// "is a folder", "is a named pipe", "is a device", "is a socket", or the system's
// reason it cannot be looked at), or "" for a regular file (symbolic links
// followed). A pipe or device would be drained, or waited on, by whoever opens it.
std::string recording_path_problem(const std::string &path);
// Its words for the two problems callers tell apart.
constexpr const char PATH_DOES_NOT_EXIST[] = "does not exist";
constexpr const char PATH_IS_A_FOLDER[] = "is a folder";

// The reader whose format the content of the regular file `path` shows (its
// first bytes, never its name), in `format`; returns the libraries' probe score
// for it. AVERROR_INVALIDDATA when no reader recognises the content more
// clearly than the libraries' own "look at more data" mark: random bytes, or a
// file that only its name makes look like media (text art, raw audio, a raw
// stream's extension on anything). Another negative error when the file cannot
// be read. A recording is what its content says, whatever its name.
int recognise_by_content(const std::string &path, const AVInputFormat **format);

// Opens `path` as media and looks at its streams. Only a regular file is opened
// (AVERROR(EINVAL) for anything else), always as a file path, never as a URL
// (file_path_argument), and read as the format its content shows
// (recognise_by_content; AVERROR_INVALIDDATA when it shows none). Returns 0 with `probe` filled
// when the file opens (it is a recording when has_video or has_audio is set), or a
// negative error when it does not open as media: AVERROR(ETIMEDOUT) when the
// file is too slow to read (its probe took more than 5 s; some files make the
// libraries work for minutes), AVERROR_EXIT when `stopped`, asked while the
// probe goes on, said yes.
int probe_media_file(const std::string &path, MediaProbe *probe,
                     const std::function<bool()> &stopped = nullptr);
// The same, and `look` is shown the opened recording once its streams are
// found, on the probing thread and within the same deadline; it may read on.
// What it keeps must outlive the call (a probe given up on ends alone).
int probe_media_file(const std::string &path, MediaProbe *probe, const std::function<bool()> &stopped,
                     const std::function<void(AVFormatContext *)> &look);

// True when `path` opens as media with a video or audio stream.
bool is_media_file(const std::string &path);

// True when a file name (no folder) ends in an extension recorders and cameras
// give their recordings (".ts", ".mp4", ".avi", ".dav", ".h264", ...; any case).
bool looks_like_recording_name(const std::string &file_name);

// Why a folder search passed over a file.
enum class SkipReason {
    NotMedia,    // its content is no video or sound recording
    Unreadable,  // it (or a sub-folder) could not be read
    SpecialFile, // a named pipe, a device or a socket
    TooSlow,     // its probe took longer than the search allows
};

struct SkippedFile {
    std::string path;
    SkipReason reason = SkipReason::NotMedia;
    // Named to the user (a report entry, a line of the summary): whatever could
    // not be read or took too long, and files whose names look like recordings.
    // The others (notes, players) are only counted.
    bool listed = false;
};

// A stable key for scripts ("not_media", "unreadable", "special_file", "too_slow").
const char *skip_reason_key(SkipReason reason);
// A few English words ("not a video or sound recording", ...).
const char *skip_reason_text(SkipReason reason);

// Every regular file under `folder` (sub-folders too, symbolic links to folders
// not followed) that is_media_file() accepts and whose name is not one the
// output naming rule gives (is_converted_output_name: the converter's own
// outputs), appended to `files` in a stable
// order: sorted by path, component by component; their probes go to `probes`
// alongside when it is given. Every other file the search passes over, and every
// sub-folder it cannot read, goes to `skipped` (when given) with why, in the same
// order (the converter's own outputs excepted); a file too slow to read is also
// named in a warning. Returns 0, or a negative error when `folder` itself cannot
// be read. `stopped`, when given, is asked between files and while a file is
// probed: once it says yes the search ends with AVERROR_EXIT and what it found
// so far.
int find_media_files(const std::string &folder, std::vector<std::string> *files,
                     std::vector<MediaProbe> *probes = nullptr,
                     const std::function<bool()> &stopped = nullptr,
                     std::vector<SkippedFile> *skipped = nullptr);
