// The pieces the batch command and the window share: the output naming rule and
// the media probe that picks recordings out of a folder.
#include "batch_display.h"
#include "batch_options.h"
#include "batch_plan.h"
#include "engine_harness.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "ffmpeg_exec.h"
#include "fixture_io.h"
#include "media_scan.h"
#include "output_naming.h"
#include "printable.h"
#include "single_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

namespace fs = std::filesystem;

namespace {

struct NameCase {
    const char *source;
    int number;
    const char *expected;
};

TEST(OutputNaming, NameReplacesTheWholeExtension)
{
    const NameCase cases[] = {
        {"clip.mp4", 0, "clip_converted.mp4"},
        {"clip.avi", 0, "clip_converted.mp4"},
        {"clip.mp4", 2, "clip_converted_2.mp4"},
        {"a.b.mp4", 0, "a.b_converted.mp4"},
        {"x.abcdefghijklmnop", 1, "x_converted_1.mp4"},
        {"recording", 3, "recording_converted_3.mp4"},
        {"clip.", 0, "clip_converted.mp4"},
        {"", 0, "_converted.mp4"},
        {"caméra 1.ts", 0, "caméra 1_converted.mp4"},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(converted_output_name(c.source, c.number), c.expected) << c.source << " #" << c.number;
}

struct FreePathCase {
    const char *folder;
    std::set<std::string> taken;
    int max_number;
    const char *expected;
};

TEST(OutputNaming, FreePathSkipsTakenNamesUpToTheLimit)
{
    const FreePathCase cases[] = {
        {"/out", {}, MAX_OUTPUT_NUMBER, "/out/cam_converted.mp4"},
        {"/out/", {}, MAX_OUTPUT_NUMBER, "/out/cam_converted.mp4"},
        {"", {}, MAX_OUTPUT_NUMBER, "cam_converted.mp4"},
        {"/out", {"/out/cam_converted.mp4", "/out/cam_converted_1.mp4"}, MAX_OUTPUT_NUMBER,
         "/out/cam_converted_2.mp4"},
        {"/out", {"/out/cam_converted_1.mp4"}, MAX_OUTPUT_NUMBER, "/out/cam_converted.mp4"},
        {"/out", {"/out/cam_converted.mp4", "/out/cam_converted_1.mp4"}, 1, ""},
    };
    for (const FreePathCase &c : cases) {
        auto taken = [&](const std::string &path) { return c.taken.count(path) > 0; };
        EXPECT_EQ(free_output_path(c.folder, "cam.ts", taken, c.max_number), c.expected) << c.folder;
    }
}

// The rule's own limit, as the window and the batch command use it: _9999 is the
// last name tried.
TEST(OutputNaming, TheLastNameTriedIsNumber9999)
{
    for (const int taken_up_to : {9997, 9998, 9999}) {
        SCOPED_TRACE(taken_up_to);
        auto taken = [taken_up_to](const std::string &path) {
            const int number = converted_output_number(path.substr(path.rfind('/') + 1), nullptr);
            return number >= 0 && number <= taken_up_to;
        };
        const std::string expected = taken_up_to == 9999 ? "" : "/out/cam_converted_" + std::to_string(taken_up_to + 1) + ".mp4";
        EXPECT_EQ(free_output_path("/out", "cam.ts", taken), expected);
    }
}

// A partial file's name keeps at most 200 bytes of the final name, cut where no
// character is split, and marks the attempt only after the first.
TEST(OutputNaming, PartialNameKeepsAtMost200BytesOfTheName)
{
    const std::string e_acute = "\xc3\xa9";
    struct Case {
        std::string final_path;
        int attempt;
        std::string expected;
    };
    const Case cases[] = {
        {"/out/" + std::string(200, 'a'), 0, "/out/." + std::string(200, 'a') + ".42.part"},
        {"/out/" + std::string(201, 'a'), 0, "/out/." + std::string(200, 'a') + ".42.part"},
        {"/out/" + std::string(198, 'a') + e_acute, 0, "/out/." + std::string(198, 'a') + e_acute + ".42.part"},
        {"/out/" + std::string(199, 'a') + e_acute, 0, "/out/." + std::string(199, 'a') + ".42.part"},
        {"/out/cam_converted.mp4", 1, "/out/.cam_converted.mp4.42-1.part"},
        {"cam_converted.mp4", 0, "./.cam_converted.mp4.42.part"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(partial_output_path(c.final_path, 42, c.attempt), c.expected) << c.final_path.size() << " bytes";
}

TEST(OutputNaming, ARuleNameIsKnownByItsNumberUpToTheLimit)
{
    const std::pair<const char *, int> cases[] = {
        {"cam_converted.mp4", 0},       {"cam_converted_1.mp4", 1},    {"cam_converted_9999.mp4", 9999},
        {"cam_converted_10000.mp4", -1}, {"cam_converted_0.mp4", -1},   {"cam_converted_01.mp4", -1},
        {"cam_converted_.mp4", -1},     {"cam_converted_-1.mp4", -1},  {"cam_converted_1x.mp4", -1},
        {"cam_converted.mov", -1},      {"_converted.mp4", 0},         {"cam.mp4", -1},
        {"a_converted_2_converted.mp4", 0}, {"cam_converted_99999999999.mp4", -1},
        // A join's names: the mark before the number.
        {"cam_converted_joined.mp4", 0},  {"cam_converted_joined_1.mp4", 1}, {"cam_converted_joined_9999.mp4", 9999},
        {"cam_converted_joined_10000.mp4", -1}, {"cam_converted_joined_0.mp4", -1}, {"cam_converted_joinedx.mp4", -1},
        {"cam_converted_1_joined.mp4", -1},
    };
    for (const auto &[name, number] : cases) {
        EXPECT_EQ(converted_output_number(name, nullptr), number) << name;
        EXPECT_EQ(is_converted_output_name(name), number >= 0) << name;
    }
}

TEST(OutputNaming, AJoinIsNamedAfterItsFirstRecordingWithAMark)
{
    EXPECT_EQ(converted_output_name("cam01_0800.ts", 0, true), "cam01_0800_converted_joined.mp4");
    EXPECT_EQ(converted_output_name("cam01_0800.ts", 3, true), "cam01_0800_converted_joined_3.mp4");
    bool joined = false;
    EXPECT_EQ(converted_output_number("cam01_converted_joined_3.mp4", nullptr, &joined), 3);
    EXPECT_TRUE(joined);
    EXPECT_EQ(converted_output_number("cam01_converted_3.mp4", nullptr, &joined), 3);
    EXPECT_FALSE(joined);
    auto taken = [](const std::string &path) { return path == "/o/a_converted_joined.mp4"; };
    EXPECT_EQ(free_output_path("/o", "a.ts", taken, MAX_OUTPUT_NUMBER, true), "/o/a_converted_joined_1.mp4");
    EXPECT_EQ(free_output_path("/o", "a.ts", taken, MAX_OUTPUT_NUMBER, false), "/o/a_converted.mp4");
}

TEST(OutputNaming, ATakenNameMovesOnToTheNextFreeOneOfItsStem)
{
    const struct {
        const char *path;
        std::set<std::string> taken;
        const char *expected;
    } cases[] = {
        {"/out/cam_converted.mp4", {}, "/out/cam_converted_1.mp4"},
        {"/out/cam_converted.mp4", {"/out/cam_converted_1.mp4"}, "/out/cam_converted_2.mp4"},
        {"/out/cam_converted_7.mp4", {}, "/out/cam_converted_8.mp4"},
        {"/out/a.b_converted_9998.mp4", {}, "/out/a.b_converted_9999.mp4"},
        {"/out/cam_converted_9998.mp4", {"/out/cam_converted_9999.mp4"}, ""},
        {"/out/cam_converted_9999.mp4", {}, ""},
        {"cam_converted.mp4", {}, "cam_converted_1.mp4"},
        {"/out/cam.mp4", {}, ""},
        {"/out/cam_converted_joined.mp4", {}, "/out/cam_converted_joined_1.mp4"},
        {"/out/cam_converted_joined_9999.mp4", {}, ""},
    };
    for (const auto &c : cases) {
        auto taken = [&](const std::string &path) { return c.taken.count(path) > 0; };
        EXPECT_EQ(next_free_converted_path(c.path, taken), c.expected) << c.path;
    }
}

TEST(OutputNaming, OnDiskCheckCountsFilesFoldersAndDanglingLinks)
{
    const std::string dir = scratch_dir("batch_parts/naming");
    fixtures::write_file(dir + "/cam_converted.mp4", {1});
    fs::create_directory(dir + "/cam_converted_1.mp4");
    fs::create_symlink(dir + "/nowhere", dir + "/cam_converted_2.mp4");
    EXPECT_EQ(free_output_path(dir, "cam.ts"), dir + "/cam_converted_3.mp4");
    // A conversion still writing _3 (this process) holds its name; one killed
    // outright (no such process) does not hold _4.
    const long dead = 4194304 + 1; // above the largest process id Linux hands out
    fixtures::write_file(partial_output_path(dir + "/cam_converted_3.mp4", long(getpid()), 2), {1});
    fixtures::write_file(partial_output_path(dir + "/cam_converted_4.mp4", dead), {1});
    EXPECT_EQ(free_output_path(dir, "cam.ts"), dir + "/cam_converted_4.mp4");
}

struct ProbeCase {
    const char *name;
    std::string path;
    bool media, video, audio;
};

TEST(MediaProbe, PicksRecordingsByContentNotByName)
{
    const std::string dir = scratch_dir("batch_parts/probe");
    const std::string video_as_text = dir + "/recording.txt";
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), video_as_text);
    const std::string notes = dir + "/notes.txt";
    const std::string text = "Camera 7, north gate.\nExported 2024-03-01 for review.\n";
    fixtures::write_file(notes, std::vector<uint8_t>(text.begin(), text.end()));
    const std::string text_as_video = dir + "/notes.ts";
    fs::copy_file(notes, text_as_video);
    const std::string empty = dir + "/empty.mp4";
    fixtures::write_file(empty, {});
    fixtures::ClipRecipe snapshot;
    snapshot.name = "snapshot";
    snapshot.format = "mjpeg";
    snapshot.extension = "jpg";
    snapshot.duration = 0.04;
    fixtures::VideoTrack jpeg;
    jpeg.encoder = "mjpeg";
    jpeg.pix_fmt = "yuvj420p";
    snapshot.video = {jpeg};

    // Bytes that only a name makes media: text art (.bin, .nfo), raw streams.
    std::vector<uint8_t> noise(1600);
    uint32_t state = 777;
    for (uint8_t &b : noise)
        b = uint8_t((state = state * 1103515245u + 12345u) >> 24);
    for (const char *name : {"/noise.bin", "/noise.nfo", "/noise.h264", "/noise.ul", "/noise.g722"})
        fixtures::write_file(dir + name, noise);

    const ProbeCase cases[] = {
        {"noise named .bin", dir + "/noise.bin", false, false, false},
        {"noise named .nfo", dir + "/noise.nfo", false, false, false},
        {"noise named .h264", dir + "/noise.h264", false, false, false},
        {"noise named .ul", dir + "/noise.ul", false, false, false},
        {"noise named .g722", dir + "/noise.g722", false, false, false},
        {"video and audio", fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), true, true, true},
        {"video only", fixtures::fixture_path(fixtures::FixtureKind::H264Raw), true, true, false},
        {"audio only", fixtures::fixture_path(fixtures::FixtureKind::AacM4a), true, false, true},
        {"audio in WAV", fixtures::fixture_path(fixtures::FixtureKind::MulawWav), true, false, true},
        {"video named .txt", video_as_text, true, true, true},
        {"text", notes, false, false, false},
        {"text named .ts", text_as_video, false, false, false},
        {"empty file", empty, false, false, false},
        {"still picture", fixtures::clip_path(snapshot), false, false, false},
        {"folder", dir, false, false, false},
    };
    for (const ProbeCase &c : cases) {
        MediaProbe probe;
        const int ret = probe_media_file(c.path, &probe);
        EXPECT_EQ(is_media_file(c.path), c.media) << c.name << " (" << probe.format << ")";
        if (ret >= 0) {
            EXPECT_EQ(probe.has_video, c.video) << c.name;
            EXPECT_EQ(probe.has_audio, c.audio) << c.name;
        }
    }
}

// `frames` ADTS (AAC) frame headers of 64 bytes each, after `junk` zero bytes.
std::vector<uint8_t> adts_after_zeros(size_t junk, int frames)
{
    std::vector<uint8_t> bytes(junk, 0);
    for (int i = 0; i < frames; i++) {
        const uint8_t header[7] = {0xFF, 0xF1, 0x50, 0x80, 64 >> 3, (64 & 7) << 5 | 0x1F, 0xFC};
        bytes.insert(bytes.end(), header, header + 7);
        bytes.insert(bytes.end(), 64 - 7, 0x21);
    }
    return bytes;
}

// A format is taken above the libraries' "look at more data" score (25), from
// the first 2 MiB. The libraries score ADTS frames 51 when they begin the
// file, 50 for more than 100 in a row and 25 for fewer after something else.
TEST(MediaProbe, ContentIsRecognisedAboveTheRetryScoreWithinTheFirst2MiB)
{
    const std::string dir = scratch_dir("batch_parts/recognise");
    constexpr size_t kWindow = 2 << 20;
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int expected; // the score, or the error
    };
    const Case cases[] = {
        {"three frames from the start", adts_after_zeros(0, 3), 51},
        {"two frames from the start", adts_after_zeros(0, 2), AVERROR_INVALIDDATA},
        {"three frames after a byte: the retry score", adts_after_zeros(1, 3), AVERROR_INVALIDDATA},
        {"120 frames after a byte", adts_after_zeros(1, 120), 50},
        {"101 frames within the first 2 MiB", adts_after_zeros(kWindow - 101 * 64, 120), 50},
        {"100 frames within the first 2 MiB", adts_after_zeros(kWindow - 100 * 64, 120), AVERROR_INVALIDDATA},
    };
    for (const Case &c : cases) {
        const std::string path = dir + "/recording";
        fixtures::write_file(path, c.bytes);
        const AVInputFormat *format = nullptr;
        EXPECT_EQ(recognise_by_content(path, &format), c.expected) << c.what;
        EXPECT_STREQ(format ? format->name : "", c.expected > 0 ? "aac" : "") << c.what;
    }
}

TEST(MediaProbe, OnlyRegularFilesAreRecordings)
{
    const std::string dir = scratch_dir("batch_parts/special");
    const std::string video = fixtures::fixture_path(fixtures::FixtureKind::H264AacTs);
    ASSERT_EQ(mkfifo((dir + "/pipe.ts").c_str(), 0600), 0);
    fs::create_symlink(dir + "/pipe.ts", dir + "/link-to-pipe.ts");
    fs::create_symlink(dir + "/gone.ts", dir + "/dangling.ts");
    fs::create_symlink(video, dir + "/link-to-video.ts");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    const std::string sock_path = dir + "/socket.ts";
    ASSERT_LT(sock_path.size(), sizeof(addr.sun_path));
    strcpy(addr.sun_path, sock_path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);

    const std::pair<std::string, const char *> cases[] = {
        {video, ""},
        {dir + "/link-to-video.ts", ""},
        {dir + "/missing.ts", "does not exist"},
        {dir + "/dangling.ts", "does not exist"},
        {dir, "is a folder"},
        {dir + "/pipe.ts", "is a named pipe"},
        {dir + "/link-to-pipe.ts", "is a named pipe"},
        {"/dev/null", "is a device"},
        {sock_path, "is a socket"},
    };
    for (const auto &[path, problem] : cases) {
        EXPECT_EQ(recording_path_problem(path), problem) << path;
        // Without a writer, opening the pipe would wait for ever.
        MediaProbe probe;
        EXPECT_EQ(probe_media_file(path, &probe) >= 0, std::string(problem).empty()) << path;
    }
    close(sock);
}

// Names a user gives (and the files found under them) are files, whatever they
// look like: a folder "http:" is not a server, "pipe:0" is not standard input.
TEST(MediaProbe, PathsAreReadAsFilesNeverAsUrls)
{
    const std::string dir = scratch_dir("batch_parts/urls");
    const std::string video = fixtures::fixture_path(fixtures::FixtureKind::H264AacTs);
    for (const char *folder : {"http:", "concat:", "file:", "subfile,x"})
        fs::create_directories(dir + "/" + folder);
    fs::copy_file(video, dir + "/http:/cam.ts");
    fs::copy_file(video, dir + "/concat:/cam.ts");
    fs::copy_file(video, dir + "/file:/cam.ts");
    fs::copy_file(video, dir + "/subfile,x/1:2.ts");
    fs::copy_file(video, dir + "/pipe:0");

    const std::string before = fs::current_path();
    fs::current_path(dir);
    for (const char *path : {"http:/cam.ts", "concat:/cam.ts", "file:/cam.ts", "subfile,x/1:2.ts", "pipe:0"})
        EXPECT_TRUE(is_media_file(path)) << path;
    std::vector<std::string> files;
    EXPECT_EQ(find_media_files("http:", &files), 0);
    EXPECT_EQ(files, std::vector<std::string>{"http:/cam.ts"});
    fs::current_path(before);
}

struct ScanEntry {
    const char *path;
    const char *content; // "video", "audio", "text" or "" (a folder)
    bool found;
};

TEST(MediaProbe, FolderScanFindsRecordingsInSubFoldersInSortedOrder)
{
    const std::string dir = scratch_dir("batch_parts/scan");
    const ScanEntry entries[] = {
        {"/1.ts", "video", true},
        {"/a", "", false},
        {"/a/2.ts", "video", true},
        {"/a/readme.txt", "text", false},
        {"/a/sound.m4a", "audio", true},
        {"/b", "", false},
        {"/b/4.ts", "video", true},
        {"/b/deeper", "", false},
        {"/b/deeper/3.ts", "video", true},
        // The converter's own outputs (a second run over the folder): skipped.
        {"/1_converted.mp4", "video", false},
        {"/a/2_converted_12.mp4", "video", false},
        // Near misses of the output naming rule are recordings like any other.
        {"/b/4_converted_01.mp4", "video", true},
        {"/b/4_converted_x.mp4", "video", true},
        {"/b/4_converted.mov", "video", true},
    };
    std::vector<std::string> expected;
    for (const ScanEntry &e : entries) {
        const std::string content = e.content;
        if (content.empty())
            fs::create_directories(dir + e.path);
        else if (content == "text")
            fixtures::write_file(dir + e.path, {'h', 'i', '\n'});
        else
            fs::copy_file(fixtures::fixture_path(content == "video" ? fixtures::FixtureKind::H264AacTs
                                                                    : fixtures::FixtureKind::AacM4a),
                          dir + e.path);
        if (e.found)
            expected.push_back(dir + e.path);
    }
    std::sort(expected.begin(), expected.end());
    fs::create_directory_symlink(dir + "/b", dir + "/a/link-to-b"); // not followed

    std::vector<std::string> files;
    ASSERT_EQ(find_media_files(dir, &files), 0);
    EXPECT_EQ(files, expected);
    EXPECT_LT(find_media_files(dir + "/missing", &files), 0);
}

// A recording whose container carries 100,000 tags: the libraries take minutes
// to index them (in Matroska without reading in between, so the interrupt
// callback alone never comes).
std::string many_tags(const char *format, const char *extension)
{
    fixtures::ClipRecipe r = fixtures::fixture_recipe(fixtures::FixtureKind::H264AacTs);
    r.name = "many_tags";
    r.format = format;
    r.extension = extension;
    r.duration = 0.2;
    r.metadata_tags = 100000;
    return fixtures::clip_path(r);
}

TEST(MediaProbe, FileTooSlowToReadIsToldApartAndCanBeStopped)
{
    const std::string mp4 = many_tags("mp4", "mp4"), mkv = many_tags("matroska", "mkv");
    int asked = 0;
    const std::function<bool()> second_ask = [&asked] { return ++asked >= 2; };
    const std::function<bool()> never = [] { return false; };
    struct Case {
        const char *what;
        std::string path;
        const std::function<bool()> *stopped;
        int expected;
    };
    const Case cases[] = {
        {"MP4 past the deadline", mp4, nullptr, AVERROR(ETIMEDOUT)},
        {"Matroska past the deadline", mkv, nullptr, AVERROR(ETIMEDOUT)},
        {"stopped while it reads", mp4, &second_ask, AVERROR_EXIT},
        {"an ordinary recording", fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), &never, 0},
    };
    for (const Case &c : cases) {
        asked = 0;
        MediaProbe probe;
        EXPECT_EQ(probe_media_file(c.path, &probe, c.stopped ? *c.stopped : nullptr), c.expected) << c.what;
        EXPECT_EQ(probe.has_video, c.expected == 0) << c.what;
    }
}

TEST(MediaProbe, FolderSearchNamesAFileTooSlowToReadAndGoesOn)
{
    const std::string dir = scratch_dir("batch_parts/slow");
    fs::copy_file(many_tags("mp4", "mp4"), dir + "/1_tags.mp4");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/2_clip.ts");
    LogCapture log(AV_LOG_WARNING);
    std::vector<std::string> files;
    ASSERT_EQ(find_media_files(dir, &files), 0);
    EXPECT_EQ(files, std::vector<std::string>{dir + "/2_clip.ts"});
    EXPECT_TRUE(log.has(dir + "/1_tags.mp4: too slow to read as media", AV_LOG_WARNING)) << log.all_text();

    // Told to stop while the slow file is read: the search ends there.
    int asked = 0;
    files.clear();
    EXPECT_EQ(find_media_files(dir, &files, nullptr, [&asked] { return ++asked > 4; }), AVERROR_EXIT);
    EXPECT_TRUE(files.empty());
}

TEST(MediaProbe, NamesThatLookLikeRecordingsAreKnownByTheirExtension)
{
    const std::pair<const char *, bool> cases[] = {
        {"cam01.ts", true},   {"CAM01.TS", true},  {"door.dav", true},  {"x.h264", true}, {"x.264", true},
        {"a.b.mp4", true},    {"clip.mkv", true},  {"notes.txt", false}, {"ts", false},   {".ts", false},
        {"cam01.ts.txt", false}, {"cam01.", false}, {"player.exe", false}, {"x.tsx", false},
    };
    for (const auto &[name, looks] : cases)
        EXPECT_EQ(looks_like_recording_name(name), looks) << name;
}

// Every file a search passes over is accounted for, with why; only those that
// look like recordings (or could not be read) are named.
TEST(MediaProbe, FolderScanAccountsForEveryFileItPassesOver)
{
    const std::string dir = scratch_dir("batch_parts/skipped");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/cam01.ts");
    for (const char *name : {"/cam04.ts", "/notes.txt"})
        fixtures::write_file(dir + name, {'h', 'i', '\n'});
    ASSERT_EQ(mkfifo((dir + "/cam05.ts").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    fs::create_symlink(dir + "/gone.ts", dir + "/dangling.ts");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/cam01_converted.mp4");

    std::vector<std::string> files;
    std::vector<SkippedFile> skipped;
    ASSERT_EQ(find_media_files(dir, &files, nullptr, nullptr, &skipped), 0);
    EXPECT_EQ(files, std::vector<std::string>{dir + "/cam01.ts"});
    std::vector<std::string> seen;
    for (const SkippedFile &s : skipped)
        seen.push_back(s.path.substr(dir.size() + 1) + " " + skip_reason_key(s.reason) + (s.listed ? " listed" : ""));
    // In path order; the converter's own output is neither converted nor told.
    const std::vector<std::string> expected = {"cam04.ts not_media listed", "cam05.ts special_file listed",
                                               "dangling.ts unreadable listed", "notes.txt not_media",
                                               "pipe special_file"};
    EXPECT_EQ(seen, expected);
}

// As an ordinary user: a recording and a sub-folder that may not be read are
// named, not silently left out.
TEST(MediaProbe, FolderScanNamesWhatItMayNotRead)
{
    char base[] = "/tmp/wvc-unreadable-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base;
    fs::create_directories(dir + "/closed");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/cam01.ts");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/cam02.ts");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), dir + "/closed/cam03.ts");
    chmod(dir.c_str(), 0755);
    chmod((dir + "/cam01.ts").c_str(), 0644);
    chmod((dir + "/cam02.ts").c_str(), 0);
    chmod((dir + "/closed").c_str(), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        std::vector<std::string> files;
        std::vector<SkippedFile> skipped;
        if (find_media_files(dir, &files, nullptr, nullptr, &skipped) != 0)
            _exit(4);
        std::string text;
        for (const std::string &f : files)
            text += f.substr(dir.size() + 1) + " found\n";
        for (const SkippedFile &sk : skipped)
            text += sk.path.substr(dir.size() + 1) + " " + skip_reason_key(sk.reason) + (sk.listed ? " listed\n" : "\n");
        if (write(out[1], text.data(), text.size()) < 0)
            _exit(5);
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;)
        text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    chmod((dir + "/closed").c_str(), 0755);
    fs::remove_all(dir);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "this user cannot become nobody";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(text, "cam01.ts found\ncam02.ts unreadable listed\nclosed unreadable listed\n");
}

TEST(BatchPlan, EnginePathNeverReadsAsAnOptionOrAProtocol)
{
    // Every relative path gets "./", whatever it holds: a protocol may hide after
    // a folder name too ("subfile," with a ":" anywhere later).
    const std::pair<const char *, const char *> cases[] = {
        {"clip.ts", "./clip.ts"},         {"/rec/-1.ts", "/rec/-1.ts"},       {"-1.ts", "./-1.ts"},
        {"rtp:cam.ts", "./rtp:cam.ts"},   {"day:1/cam.ts", "./day:1/cam.ts"}, {"day/1:2.ts", "./day/1:2.ts"},
        {"pipe:0", "./pipe:0"},           {"subfile,x/y:z", "./subfile,x/y:z"}, {"", ""},
        {"/http:/x.ts", "/http:/x.ts"},   {"./a.ts", "././a.ts"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(file_path_argument(c.first), c.second) << c.first;
        const std::string path = file_path_argument(c.first);
        const char *protocol = avio_find_protocol_name(path.c_str());
        if (!path.empty()) {
            EXPECT_STREQ(protocol, "file") << c.first;
        }
    }
}

TEST(Printable, ControlCharactersAreEscapedAndEverythingElseKept)
{
    const std::pair<std::string, std::string> cases[] = {
        {"cam01.ts", "cam01.ts"},
        {"a\nconverted: x", "a\\nconverted: x"},
        {"a\r\tb", "a\\r\\tb"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"\x1f|\x20|\x7e|\x7f", "\\x1f| |~|\\x7f"},
        // C1 controls (U+0080..U+009F) and reordering marks; their neighbours stay.
        {"\xc2\x7f|\xc2\x80|\xc2\x9f|\xc2\xa0", "\xc2\\x7f|\\u0080|\\u009f|\xc2\xa0"},
        {"\u2029|\u202a|\u202e|\u202f", "\u2029|\\u202a|\\u202e|\u202f"},
        {"\u2065|\u2066|\u2069|\u206a", "\u2065|\\u2066|\\u2069|\u206a"},
        {"caf\xc3\xa9 \xff\xfe", "caf\xc3\xa9 \xff\xfe"}, // UTF-8 and stray bytes as they are
        {"\xe2\x80", "\xe2\x80"},                         // a sequence cut short
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(printable_text(text), shown) << shown;
}

TEST(BatchDisplay, TimeLeftFollowsTheMediaConvertedSoFar)
{
    auto job = [](int64_t seconds) {
        BatchJob j;
        j.duration_us = seconds * 1000000;
        return j;
    };
    auto result = [](JobStatus status, int64_t reached_s = 0) {
        JobResult r;
        r.status = status;
        r.out_time_us = reached_s * 1000000;
        return r;
    };
    struct Case {
        const char *what;
        std::vector<BatchJob> jobs;
        std::vector<JobResult> results;
        double elapsed, expected;
    };
    const Case cases[] = {
        {"nothing done yet", {job(10), job(10)}, {result(JobStatus::Running), result(JobStatus::Waiting)}, 5, -1},
        {"half of the media in 10 s", {job(10), job(30)}, {result(JobStatus::Converted), result(JobStatus::Running, 10)},
         10, 10},
        {"an unknown length counts as the average",
         {job(10), job(-1)}, {result(JobStatus::Converted), result(JobStatus::Waiting)}, 4, 4},
        {"no length known: by files", {job(-1), job(-1), job(-1)},
         {result(JobStatus::Failed), result(JobStatus::Running, 5), result(JobStatus::Waiting)}, 3, 6},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(estimate_seconds_left(c.jobs, c.results, c.elapsed), c.expected, 1e-9) << c.what;
}

// The window's clock: a second counts once it is reached.
TEST(BatchDisplay, ClockTextCountsWholeSecondsAndTurnsAtTheHour)
{
    const std::pair<double, const char *> cases[] = {
        {-1, "0:00"},       {0.999, "0:00"},     {1, "0:01"},          {59.999, "0:59"},
        {60, "1:00"},       {3599.999, "59:59"}, {3600, "1:00:00"},    {36061, "10:01:01"},
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(clock_text(seconds), text) << seconds;
}

TEST(BatchOptions, DefaultJobsFollowTheCoresAndTheMemory)
{
    constexpr int64_t budget = CONVERSION_MEMORY_BUDGET;
    struct Case {
        int cores;
        int64_t available;
        int expected;
    };
    const Case cases[] = {
        // one per two cores, at least one
        {1, -1, 1},           {2, -1, 1},          {3, -1, 1},
        {4, -1, 2},           {5, -1, 2},          {0, -1, 1},
        // one per budget of memory, at least one
        {16, 0, 1},           {16, budget - 1, 1}, {16, budget, 1},
        {16, 2 * budget - 1, 1}, {16, 2 * budget, 2}, {16, 3 * budget, 3},
        // the smaller of the two
        {8, 4 * budget - 1, 3}, {8, 4 * budget, 4}, {8, 5 * budget, 4},
        {7, 100 * budget, 3},   {64, 100 * budget, 32},
        // the budget itself: 2 GiB
        {16, (4LL << 30) - 1, 1}, {16, 4LL << 30, 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(job_count_for(c.cores, c.available), c.expected) << c.cores << " cores, " << c.available << " bytes";
}

TEST(BatchParts, ChoicesReachAConversionProcessAsTheyWereGiven)
{
    for (bool keep : {false, true})
        for (bool evidence : {false, true}) {
            ConversionChoices c;
            c.keep_video = keep;
            c.evidence = evidence;
            const ConversionChoices back = choices_from_argument(choices_argument(c));
            EXPECT_EQ(back.keep_video, keep) << choices_argument(c);
            EXPECT_EQ(back.evidence, evidence) << choices_argument(c);
        }
    // Words it does not know, or near misses, choose nothing.
    for (const char *text : {"", ",", "keep", "keep-videos", "evidence2", "Evidence"}) {
        const ConversionChoices c = choices_from_argument(text);
        EXPECT_FALSE(c.keep_video || c.evidence) << text;
    }
}

TEST(BatchParts, TheTimeInThePictureReachesAConversionProcessWithItsZone)
{
    using Zone = ConversionChoices::TimeInPicture;
    const std::pair<Zone, const char *> zones[] = {
        {Zone::Off, ""}, {Zone::Local, "time-local"}, {Zone::Utc, "time-utc"}};
    for (const auto &[zone, word] : zones) {
        ConversionChoices c;
        c.time_in_picture = zone;
        EXPECT_EQ(choices_argument(c), word);
        EXPECT_EQ(choices_from_argument(choices_argument(c)).time_in_picture, zone) << word;
    }
    EXPECT_EQ(choices_from_argument("time-UTC").time_in_picture, Zone::Off);
    EXPECT_EQ(choices_from_argument("evidence,time-utc").time_in_picture, Zone::Utc);
}

// --burn-time takes "utc" or "local" after it, and nothing else: a recording
// after it stays a recording.
TEST(BatchOptions, BurnTimeTakesAZoneOnlyWhenOneFollows)
{
    const std::string dir = scratch_dir("batch_parts/burn_time");
    const std::string cam = dir + "/cam.ts";
    fixtures::write_file(cam, {'x'});
    struct Case {
        std::vector<std::string> words;
        int status;
        const char *zone;
        size_t inputs;
    };
    const Case cases[] = {
        {{cam}, -1, "", 1},
        {{"--burn-time", cam}, -1, "local", 1},
        {{cam, "--burn-time"}, -1, "local", 1},
        {{"--burn-time", "utc", cam}, -1, "utc", 1},
        {{"--burn-time", "local", cam}, -1, "local", 1},
        {{"--burn-time=utc", cam}, -1, "utc", 1},
        {{"--burn-time=UTC", cam}, BATCH_EXIT_USAGE, "", 0},
        {{"--burn-time=gmt", cam}, BATCH_EXIT_USAGE, "", 0},
        {{"--burn-time", "--verify", cam}, BATCH_EXIT_USAGE, "", 0},
        {{"--", "--burn-time"}, BATCH_EXIT_USAGE, "", 0}, // after "--" a name, and no such file
    };
    for (const Case &c : cases) {
        std::vector<std::string> words = {"wardline-convert"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(&w[0]);
        BatchOptions options;
        const int status = parse_batch_options(int(argv.size()), argv.data(), &options);
        EXPECT_EQ(status, c.status) << words[1];
        if (status != -1)
            continue;
        EXPECT_EQ(options.burn_time, c.zone) << words[1];
        EXPECT_EQ(options.inputs.size(), c.inputs) << words[1];
    }
}

TEST(BatchDisplay, LongNamesAreShortenedInTheMiddleNeverTheFigures)
{
    // The boundary: a text of exactly the width stays, one character more loses its middle.
    EXPECT_EQ(shorten_middle("cam01_2024.ts", 13), "cam01_2024.ts");
    EXPECT_EQ(shorten_middle("cam01_2024.ts", 12), "cam01\xe2\x80\xa6" "024.ts");
    // Characters, not bytes: "\xc3\xb6" is one.
    EXPECT_EQ(shorten_middle("kamera_\xc3\xb6st.ts", 13), "kamera_\xc3\xb6st.ts");
    EXPECT_EQ(shorten_middle("kamera_\xc3\xb6st.ts", 12), "kamer\xe2\x80\xa6\xc3\xb6st.ts");
    EXPECT_EQ(shorten_middle("abc", 1), "a");
    EXPECT_EQ(shorten_middle("abc", 0), "");

    BatchJob job;
    job.source = "/exports/" + std::string(78 - 3, 'n') + ".ts"; // a 78-character name
    job.duration_us = 20000000;
    JobResult result;
    result.status = JobStatus::Running;
    result.out_time_us = 8000000;
    result.speed = 2.5;
    const std::string figures = "40%  0:08 of 0:20  2.5x";
    auto columns = [](const std::string &line) {
        int n = 0;
        for (unsigned char c : line)
            n += (c & 0xC0) != 0x80;
        return n;
    };
    for (int width : {120, 79, 60, 39}) {
        const std::string line = running_line(job, result, width);
        EXPECT_LE(columns(line), width) << width;
        EXPECT_EQ(line.substr(line.size() - figures.size()), figures) << width << ": " << line;
        EXPECT_NE(line.find("nnn"), std::string::npos) << width;
    }
    // The whole name where it fits.
    EXPECT_NE(running_line(job, result, 120).find(std::string(75, 'n') + ".ts"), std::string::npos);
    // Too narrow for the figures themselves: the line's end is cut.
    EXPECT_EQ(columns(running_line(job, result, 20)), 20);

    std::vector<BatchJob> jobs(3, job);
    std::vector<JobResult> results(3);
    results[0].status = JobStatus::Converted;
    results[1].status = JobStatus::Failed;
    results[2] = result;
    const std::string full = overall_line(jobs, results, 30, 200);
    EXPECT_EQ(full.substr(0, 32), "2 of 3 done (1 converted, 1 fail") << full;
    const std::string narrow = overall_line(jobs, results, 30, int(full.size()) - 1);
    EXPECT_EQ(narrow.substr(0, 23), "2 of 3 done, 1 running,") << narrow;
    EXPECT_EQ(overall_line(jobs, results, 30, int(full.size())), full);
}

TEST(BatchOptions, AnOutputFolderThatCannotBeWrittenIsRefusedBeforeAnything)
{
    char base[] = "/tmp/wvc-outputs-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string dir = base;
    fs::create_directories(dir + "/open");
    fs::create_directories(dir + "/closed");
    chmod(dir.c_str(), 0755);
    chmod((dir + "/open").c_str(), 0777);
    chmod((dir + "/closed").c_str(), 0555);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        const bool open_ok = output_folder_problem(dir + "/open").empty();
        const std::string closed = output_folder_problem(dir + "/closed");
        _exit(open_ok && closed == "cannot write into the folder " + dir + "/closed: Permission denied" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    fs::remove_all(dir);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "this user cannot become nobody";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// --join: each folder given is one join, the files named are one more; a
// group of one stays a plain job; names in natural order when times are unknown.
TEST(BatchPlan, JoinsGroupEachFolderAndTheNamedFiles)
{
    auto job = [](const std::string &source, size_t input, bool from_folder, int64_t duration_s = 2) {
        BatchJob j;
        j.source = source;
        j.input = input;
        j.from_folder = from_folder;
        j.duration_us = duration_s * 1000000;
        return j;
    };
    const std::vector<BatchJob> jobs = {
        job("/x/nvr1/cam_10.ts", 0, true), job("/x/nvr1/cam_9.ts", 0, true), job("/x/a.ts", 1, false),
        job("/x/nvr2/only.ts", 2, true),   job("/x/b.ts", 3, false, -1),
    };
    const std::vector<BatchJob> grouped = group_for_join(jobs);
    ASSERT_EQ(grouped.size(), 3u);
    EXPECT_EQ(grouped[0].segments, (std::vector<std::string>{"/x/nvr1/cam_9.ts", "/x/nvr1/cam_10.ts"}));
    EXPECT_EQ(grouped[0].source, "/x/nvr1/cam_9.ts");
    EXPECT_EQ(grouped[0].duration_us, 4000000);
    EXPECT_EQ(grouped[1].segments, (std::vector<std::string>{"/x/a.ts", "/x/b.ts"}));
    EXPECT_EQ(grouped[1].duration_us, -1) << "one length unknown: the whole unknown";
    EXPECT_TRUE(grouped[2].segments.empty());
    EXPECT_EQ(grouped[2].source, "/x/nvr2/only.ts");
}

TEST(BatchPlan, KeptFoldersStartAtTheFolderGivenItself)
{
    const std::string root = scratch_dir("batch_parts/subfolders");
    fs::create_directories(root + "/export/nvr1/day2");
    fs::copy_file(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs), root + "/export/nvr1/day2/cam01.ts");
    struct Case {
        std::string given, subfolder, output;
    };
    const Case cases[] = {
        {root + "/export", "export/nvr1/day2", "/out/export/nvr1/day2/cam01_converted.mp4"},
        {root + "/export/", "export/nvr1/day2", "/out/export/nvr1/day2/cam01_converted.mp4"},
        {root + "/export/nvr1/day2", "day2", "/out/day2/cam01_converted.mp4"},
        // Named by itself, a file has no folders to keep.
        {root + "/export/nvr1/day2/cam01.ts", "", "/out/cam01_converted.mp4"},
    };
    for (const Case &c : cases) {
        std::vector<BatchJob> jobs = collect_sources({c.given});
        ASSERT_EQ(jobs.size(), 1u) << c.given;
        EXPECT_EQ(jobs[0].subfolder, c.subfolder) << c.given;
        EXPECT_EQ(output_folder_for(jobs[0], root + "/out", true) + "/cam01_converted.mp4", root + c.output) << c.given;
        // Without --keep-folders, or without --output, the folders play no part.
        EXPECT_EQ(output_folder_for(jobs[0], root + "/out", false), root + "/out") << c.given;
        EXPECT_EQ(output_folder_for(jobs[0], "", true), root + "/export/nvr1/day2") << c.given;
    }
}

} // namespace
