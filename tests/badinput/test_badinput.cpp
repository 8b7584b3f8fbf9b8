// Damaged, hostile and odd inputs, converted with the converter window's twelve
// arguments by the engine's program in a watched child. Every case is held to the
// same invariants: the child is not killed by a signal or a sanitizer, ends within
// the time limit, stays within the memory bound, leaves its input unchanged, and
// either fails (exit status 1) with a clear message and no output file, or
// succeeds with an output that reopens as MP4, carries H.264 baseline video and
// AAC audio with increasing timestamps, and decodes without an error.
//
// Groups: damaged recordings, damaged timing, picture sizes, sound headers, things
// that are not recordings, file names and paths, references to other files, and
// outputs that cannot be written.
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "guarded_child.h"
#include "output_check.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <stdexcept>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxPeakMiB = 2048; // the sanitizer's shadow memory and quarantine
#else
constexpr long kMaxPeakMiB = 512;
#endif

enum class Expect { Converts, Fails, Either };

// What one case hands to the converter.
struct Case {
    std::string input;  // as given after "-i"
    std::string output; // as given last
    ChildLimits limits;
    std::vector<std::string> extra; // options before the output (not the converter's own)
};

struct Row {
    const char *name;
    Expect expect;
    const char *message; // what the log must say when the run fails
    std::function<Case(const std::string &dir)> make;
    double max_seconds = 0; // a longer output means the timing was not repaired
};

std::vector<std::string> converter_args(const Case &c)
{
    // The program name is added by the child runner; the case's own options go
    // right before the output name.
    std::vector<std::string> args = converter_arguments(c.input, c.output);
    args.erase(args.begin());
    args.insert(args.end() - 1, c.extra.begin(), c.extra.end());
    return args;
}

std::string in_dir(const Case &c, const std::string &path)
{
    return path.empty() || path[0] == '/' || c.limits.cwd.empty() ? path : c.limits.cwd + "/" + path;
}

// Content hash of a file, the listing of a directory, or what stat says.
std::string fingerprint(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    std::string print = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size);
    if (S_ISDIR(st.st_mode)) {
        for (const auto &e : fs::directory_iterator(path))
            print += "|" + e.path().filename().string();
    } else if (S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0) {
        const std::vector<uint8_t> bytes = read_file(path);
        print += ":" + hash_text(std::string(bytes.begin(), bytes.end()));
    }
    return print;
}

std::string scratch(const std::string &name)
{
    const fs::path dir = fs::path(WVC_SCRATCH_ROOT) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

bool sanitizer_spoke(const std::string &err)
{
    return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

// Runs one case and holds it to the invariants; returns the output's facts when
// the conversion succeeded (empty problem), for further checks.
OutputFacts run_case(const Row &row, const Case &c)
{
    const std::string input = in_dir(c, c.input), output = in_dir(c, c.output);
    const std::string before = fingerprint(input);
    const ChildRun run = run_guarded(converter_args(c), c.limits);
    const std::string context = run.describe() + "\n" + run.err.substr(run.err.size() > 6000 ? run.err.size() - 6000 : 0);

    OutputFacts facts;
    facts.problem = "not converted";
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.crashed()) << context;
    EXPECT_FALSE(run.timed_out) << context;
    EXPECT_FALSE(sanitizer_spoke(run.err)) << context;
    EXPECT_LE(run.peak_rss_kb / 1024, kMaxPeakMiB) << context;
    EXPECT_EQ(fingerprint(input), before) << "the input changed";
    if (run.exit_code == 1) {
        EXPECT_NE(row.expect, Expect::Converts) << context;
        if (row.message) {
            EXPECT_NE(run.err.find(row.message), std::string::npos) << "no \"" << row.message << "\" in\n" << context;
        }
        std::error_code ec;
        EXPECT_FALSE(fs::exists(fs::symlink_status(output, ec))) << "a failed run left " << output;
    } else if (run.exit_code == 0) {
        EXPECT_NE(row.expect, Expect::Fails) << context;
        facts = check_converted(output);
        EXPECT_EQ(facts.problem, "") << output << "\n" << context;
        if (row.max_seconds > 0) {
            EXPECT_LE(facts.seconds, row.max_seconds) << context;
        }
    } else {
        ADD_FAILURE() << "neither success nor failure: " << context;
    }
    return facts;
}

std::string row_name(const ::testing::TestParamInfo<Row> &info)
{
    return info.param.name;
}

void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// ---- making inputs ---------------------------------------------------------------

Case convert_into(const std::string &dir, const std::string &input)
{
    Case c;
    c.input = input;
    c.output = dir + "/converted.mp4";
    return c;
}

Case copied(const std::string &dir, const std::string &source, const std::string &name)
{
    fs::copy_file(source, dir + "/" + name, fs::copy_options::overwrite_existing);
    return convert_into(dir, dir + "/" + name);
}

Case written(const std::string &dir, const std::string &name, const Bytes &bytes)
{
    write_file(dir + "/" + name, bytes);
    return convert_into(dir, dir + "/" + name);
}

ClipRecipe ts_clip(const std::string &name, double seconds = 2)
{
    ClipRecipe r = fixture_recipe(FixtureKind::H264AacTs);
    r.name = "badinput_" + name;
    r.duration = seconds;
    return r;
}

FileDamage damage(FileDamage::Kind kind, double at = 0.5, int frame = 0, int64_t ticks = 0)
{
    FileDamage d;
    d.kind = kind;
    d.at = at;
    d.length = 512;
    d.frame = frame;
    d.ticks = ticks;
    return d;
}

std::function<Case(const std::string &)> damaged_ts(FileDamage d,
                                                    const ClipRecipe &base = fixture_recipe(FixtureKind::H264AacTs))
{
    return [=](const std::string &dir) { return copied(dir, damaged_clip_path(base, d), "recording.ts"); };
}

ClipRecipe mp4_clip(bool with_audio = true)
{
    ClipRecipe r = ts_clip(with_audio ? "mp4" : "mp4_video_only");
    r.format = "mp4";
    r.extension = "mp4";
    if (!with_audio)
        r.audio.clear();
    return r;
}

// 1 % of every stream's packets (the 43rd of each hundred) changed by `edit`.
ClipRecipe one_percent_changed(const char *name, void (*edit)(AVPacket *), int64_t which = 42)
{
    ClipRecipe r = ts_clip(name, 4);
    r.packet_edit_name = std::string(name) + "@" + std::to_string(which);
    r.packet_edit = [=](AVPacket *pkt, const PacketInfo &info) {
        if (info.index_in_stream % 100 == which && av_packet_make_writable(pkt) >= 0)
            edit(pkt);
        return true;
    };
    return r;
}

void flip_bytes(AVPacket *pkt)
{
    for (int i = 0; i < pkt->size; i++)
        pkt->data[i] ^= 0xff;
}

void zero_bytes(AVPacket *pkt)
{
    memset(pkt->data, 0, size_t(pkt->size));
}

std::function<Case(const std::string &)> clip(const ClipRecipe &recipe)
{
    return [=](const std::string &dir) {
        return copied(dir, clip_path(recipe), "recording." + recipe.extension);
    };
}

std::function<Case(const std::string &)> fixture(FixtureKind kind)
{
    return [=](const std::string &dir) {
        const std::string path = fixture_path(kind);
        return copied(dir, path, "recording" + fs::path(path).extension().string());
    };
}

ClipRecipe sized(int width, int height)
{
    ClipRecipe r = fixture_recipe(FixtureKind::MjpegMulawAvi);
    r.name = "badinput_size";
    r.duration = 1;
    r.audio.clear();
    r.video[0].width = width;
    r.video[0].height = height;
    return r;
}

std::function<Case(const std::string &)> bytes_file(const char *name, std::function<Bytes()> make)
{
    return [=](const std::string &dir) { return written(dir, name, make()); };
}

Bytes claimed_mjpeg(int width, int height)
{
    Bytes bytes = read_file(fixture_path(FixtureKind::MjpegMulawAvi));
    if (claim_jpeg_size(bytes, width, height) != 20)
        throw FixtureError("expected 20 JPEG frame headers");
    return bytes;
}

Bytes zeroed_mp4(const std::string &path)
{
    Bytes bytes = read_file(path);
    if (!zero_mp4_samples(bytes))
        throw FixtureError("no mdat box");
    return bytes;
}

// The window's output name next to the input: stem + "_converted.mp4".
Case window_names(const std::string &folder, const std::string &stem)
{
    fs::create_directories(folder);
    fs::copy_file(fixture_path(FixtureKind::H264AacTs), folder + "/" + stem + ".ts");
    Case c;
    c.input = folder + "/" + stem + ".ts";
    c.output = folder + "/" + stem + "_converted.mp4";
    return c;
}

// A folder whose absolute path is about `length` bytes long.
std::string deep_folder(const std::string &dir, size_t length)
{
    std::string folder = dir;
    while (folder.size() + 201 < length)
        folder += "/" + std::string(200, 'd');
    folder += "/" + std::string(length - folder.size() - 1, 'e');
    return folder;
}

// ---- damaged recordings ----------------------------------------------------------------

const Row kDamagedRecordings[] = {
    {"TruncatedAt10Percent", Expect::Converts, nullptr, damaged_ts(damage(FileDamage::Truncate, 0.1))},
    {"TruncatedAt50Percent", Expect::Converts, nullptr, damaged_ts(damage(FileDamage::Truncate, 0.5))},
    {"TruncatedAt90Percent", Expect::Converts, nullptr, damaged_ts(damage(FileDamage::Truncate, 0.9))},
    {"Mp4TruncatedBeforeItsIndex", Expect::Fails, "moov atom not found",
     [](const std::string &dir) {
         return copied(dir, damaged_clip_path(mp4_clip(), damage(FileDamage::Truncate, 0.5)), "recording.mp4");
     }},
    {"Mp4WithoutIndex", Expect::Fails, "moov atom not found",
     [](const std::string &dir) {
         ClipRecipe r = mp4_clip();
         r.name += "_no_index";
         r.write_trailer = false;
         return copied(dir, clip_path(r), "recording.mp4");
     }},
    {"Mp4IndexOverwritten", Expect::Either, nullptr,
     [](const std::string &dir) {
         return copied(dir, damaged_clip_path(mp4_clip(), damage(FileDamage::Overwrite, 0.985)), "recording.mp4");
     }},
    {"Mp4VideoWithEverySampleZeroed", Expect::Fails, "Could not find codec parameters",
     bytes_file("recording.mp4", [] { return zeroed_mp4(clip_path(mp4_clip(false))); })},
    // Opens, sets up and reads to the end, but not one sample decodes.
    {"M4aWithEverySampleZeroed", Expect::Fails, "No media reached any output file",
     bytes_file("recording.m4a", [] { return zeroed_mp4(fixture_path(FixtureKind::AacM4a)); })},
    {"BytesFlippedIn1PercentOfPackets", Expect::Converts, nullptr, clip(one_percent_changed("flipped", flip_bytes))},
    {"BytesZeroedIn1PercentOfPackets", Expect::Converts, nullptr, clip(one_percent_changed("zeroed", zero_bytes))},
    {"KeyFrameBytesFlipped", Expect::Converts, nullptr, clip(one_percent_changed("flipped", flip_bytes, 50))},
    {"NoiseInTheMiddle", Expect::Converts, nullptr, fixture(FixtureKind::TsOverwrittenMiddle)},
    {"StartsInTheMiddleOfAGroupOfPictures", Expect::Converts, nullptr, fixture(FixtureKind::TsStartsMidGop)},
};

// ---- damaged timing --------------------------------------------------------------------

constexpr int64_t kHourTicks = 3600LL * 90000;
// 2^33 ticks of 90 kHz, in microseconds: where MPEG-TS timestamps wrap.
constexpr int64_t kTsWrapUs = int64_t((uint64_t(1) << 33) * 1000000 / 90000);

const Row kDamagedTiming[] = {
    {"TimestampsRepeated", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsRepeatTimestamps, 0, 10)), 3},
    {"TimestampsGoingBack", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsStepBackTimestamps, 0, 10, 3 * 3600)), 3},
    {"TimestampsMissing", Expect::Converts, nullptr, damaged_ts(damage(FileDamage::TsDropTimestamps, 0, 5)), 3},
    {"VideoJumpingBackAnHour", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsStepBackTimestamps, 0, 1, kHourTicks)), 3},
    {"JumpingForwardHoursInMpegTs", Expect::Converts, nullptr, clip(jumping_clip("mpegts", "ts", 3 * 3600, 1)), 3},
    // Kept as a gap (one long frame), not filled with hours of copied frames.
    {"JumpingForwardHoursInMatroska", Expect::Converts, nullptr, clip(jumping_clip("matroska", "mkv", 3 * 3600, 1)),
     3 * 3600 + 3},
    {"MpegTsClockWrappingPast2To33", Expect::Converts, nullptr,
     [](const std::string &dir) {
         ClipRecipe r = ts_clip("wrap");
         r.start_offset_us = kTsWrapUs - 1000000; // wraps one second in
         return copied(dir, clip_path(r), "recording.ts");
     },
     3},
};

// ---- picture sizes ---------------------------------------------------------------------

const Row kPictureSizes[] = {
    // The H.264 encoder takes 4:2:0 pictures of even sizes only.
    {"Size1x1", Expect::Fails, "width not divisible by 2 (1x1)", clip(sized(1, 1))},
    {"Size2x2", Expect::Converts, nullptr, clip(sized(2, 2))},
    {"Size16x16", Expect::Converts, nullptr, clip(sized(16, 16))},
    {"Size17x9", Expect::Fails, "width not divisible by 2 (17x9)", clip(sized(17, 9))},
    {"Size321x241", Expect::Fails, "width not divisible by 2 (321x241)", clip(sized(321, 241))},
    {"SizeChangingInMpegTs", Expect::Converts, nullptr,
     [](const std::string &dir) {
         ClipRecipe r = ts_clip("size_change");
         r.video[0].change_at_frame = 25;
         r.video[0].changed_width = 160;
         r.video[0].changed_height = 120;
         return copied(dir, clip_path(r), "recording.ts");
     }},
    {"SizeChangingInRawH264", Expect::Converts, nullptr, fixture(FixtureKind::H264SizeChangeRaw)},
    // Decoding a 70-byte GIF claiming this takes gigabytes without the decoders' limit.
    {"GifClaiming9000x9000", Expect::Fails, "Picture size 9000x9000 exceeds specified max pixel count",
     bytes_file("recording.gif", [] { return gif_claiming(9000, 9000); })},
    {"JpegFramesClaiming16000x16000", Expect::Fails, "Could not find codec parameters",
     bytes_file("recording.avi", [] { return claimed_mjpeg(16000, 16000); })},
    {"Y4mHeaderClaiming16000x16000", Expect::Fails, "claims a picture of 16000x16000",
     bytes_file("recording.y4m", [] { return y4m_claiming(16000, 16000); })},
    {"Y4mHeaderClaiming30000x30000", Expect::Fails, "Picture size 30000x30000 is invalid",
     bytes_file("recording.y4m", [] { return y4m_claiming(30000, 30000); })},
};

// ---- sound -----------------------------------------------------------------------------

const Row kSound[] = {
    {"WavWithZeroChannels", Expect::Fails, "does not contain any stream", bytes_file("recording.wav", [] { return wav_claiming(0, 8000); })},
    {"WavWithZeroHertz", Expect::Fails, "Invalid data found", bytes_file("recording.wav", [] { return wav_claiming(1, 0); })},
    {"WavWith65535Channels", Expect::Fails, "Error opening filters",
     bytes_file("recording.wav", [] { return wav_claiming(65535, 8000); })},
    {"AudioOnlyAacInM4a", Expect::Converts, nullptr, fixture(FixtureKind::AacM4a)},
    {"AudioOnlyMulawInWav", Expect::Converts, nullptr, fixture(FixtureKind::MulawWav)},
};

// ---- not recordings --------------------------------------------------------------------

const Row kNotRecordings[] = {
    {"EmptyFile", Expect::Fails, "Invalid data found", bytes_file("recording.ts", [] { return Bytes(); })},
    {"TextFileNamedLikeARecording", Expect::Fails, "Invalid data found",
     bytes_file("recording.mp4", [] { return Bytes(400, 'a'); })},
    {"TextFile", Expect::Fails, "Invalid data found",
     bytes_file("notes.txt", [] {
         const std::string text = "Camera 7, north gate.\nNothing happened.\n";
         return Bytes(text.begin(), text.end());
     })},
    {"Directory", Expect::Fails, "Is a directory",
     [](const std::string &dir) {
         fs::create_directories(dir + "/recording.ts");
         return convert_into(dir, dir + "/recording.ts");
     }},
    {"MissingFile", Expect::Fails, "No such file or directory",
     [](const std::string &dir) { return convert_into(dir, dir + "/recording.ts"); }},
    // Root reads any file: the child then runs as "nobody" (the folder and the
    // program are readable by everyone).
    {"UnreadableFile", Expect::Fails, "Permission denied",
     [](const std::string &dir) {
         Case c = copied(dir, fixture_path(FixtureKind::H264AacTs), "recording.ts");
         chmod(c.input.c_str(), 0);
         fs::permissions(dir, fs::perms::all);
         c.limits.as_nobody = true;
         return c;
     }},
};

// ---- file names and paths --------------------------------------------------------------

const Row kPaths[] = {
    {"NameWithSpaces", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(dir + "/with space", "north gate 07"); }},
    {"NameWithAccents", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(dir + "/vidéo", "entrée é"); }},
    {"NameInChineseAndJapanese", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(dir + "/录像", "監視カメラ 北門"); }},
    {"NameWithEmoji", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(dir + "/📹", "cam 📷 1"); }},
    {"InputNameStartingWithADash", Expect::Converts, nullptr,
     [](const std::string &dir) {
         Case c = copied(dir, fixture_path(FixtureKind::H264AacTs), "-recording.ts");
         c.input = "-recording.ts";
         c.limits.cwd = dir;
         return c;
     }},
    // The engine reads a last argument starting with "-" as an option: it refuses
    // the run and writes nothing (the window always hands absolute paths).
    {"OutputNameStartingWithADash", Expect::Fails, "Missing argument for option 'recording_converted.mp4'",
     [](const std::string &dir) {
         Case c = copied(dir, fixture_path(FixtureKind::H264AacTs), "recording.ts");
         c.output = "-recording_converted.mp4";
         c.limits.cwd = dir;
         return c;
     }},
    {"OutputNameOfTheLongestAllowedLength", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(dir, std::string(255 - 14, 'n')); }},
    {"OutputNameTooLong", Expect::Fails, "File name too long",
     [](const std::string &dir) { return window_names(dir, std::string(255 - 3, 'n')); }},
    {"PathNearTheLengthLimit", Expect::Converts, nullptr,
     [](const std::string &dir) { return window_names(deep_folder(dir, 4096 - 40), "rec"); }},
    {"OutputPathTooLong", Expect::Fails, "File name too long",
     [](const std::string &dir) { return window_names(deep_folder(dir, 4096 - 12), "rec"); }},
    {"InputPathTooLong", Expect::Fails, "File name too long",
     [](const std::string &dir) {
         return convert_into(dir, deep_folder(dir, 4096 + 100) + "/rec.ts");
     }},
};

// ---- references to other files -----------------------------------------------------------

// A local TCP port that counts the connections made to it.
class Listener {
public:
    Listener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (fd_ < 0 || bind(fd_, (sockaddr *)&addr, len) != 0 || listen(fd_, 8) != 0 ||
            getsockname(fd_, (sockaddr *)&addr, &len) != 0)
            throw std::runtime_error("no local port to listen on");
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p = {fd_, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    const int client = accept(fd_, nullptr, nullptr);
                    if (client >= 0) {
                        connections_++;
                        close(client);
                    }
                }
            }
        });
    }
    ~Listener()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + path; }
    int connections() const { return connections_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

Listener &network(void)
{
    static Listener listener;
    return listener;
}

// A recording folder next to a folder holding someone else's video, whose
// pictures are of another size (176x144), so that it would show in an output.
struct Folders {
    std::string recording, secret;
};

Folders folders(const std::string &dir)
{
    Folders f{dir + "/recording", dir + "/secret"};
    fs::create_directories(f.recording + "/below");
    fs::create_directories(f.secret);
    ClipRecipe other = fixture_recipe(FixtureKind::H264AacTs);
    other.name = "badinput_secret";
    other.video[0].width = 176;
    other.video[0].height = 144;
    fs::copy_file(clip_path(other), f.secret + "/private.ts");
    fs::copy_file(fixture_path(FixtureKind::H264AacTs), f.recording + "/segment.ts");
    fs::copy_file(fixture_path(FixtureKind::H264AacTs), f.recording + "/below/segment.ts");
    return f;
}

std::function<Case(const std::string &)> playlist(std::function<std::string(const Folders &)> entry)
{
    return [=](const std::string &dir) {
        const Folders f = folders(dir);
        const std::string text =
            "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + entry(f) + "\n#EXT-X-ENDLIST\n";
        write_file(f.recording + "/list.m3u8", Bytes(text.begin(), text.end()));
        return convert_into(dir, f.recording + "/list.m3u8");
    };
}

std::function<Case(const std::string &)> concat_script(std::function<std::string(const Folders &)> entry)
{
    return [=](const std::string &dir) {
        const Folders f = folders(dir);
        const std::string text = "ffconcat version 1.0\nfile " + entry(f) + "\n";
        write_file(f.recording + "/list.ffconcat", Bytes(text.begin(), text.end()));
        return convert_into(dir, f.recording + "/list.ffconcat");
    };
}

const Row kReferences[] = {
    {"PlaylistEntryNextToIt", Expect::Converts, nullptr, playlist([](const Folders &) { return "segment.ts"; })},
    {"PlaylistEntryBelowIt", Expect::Converts, nullptr, playlist([](const Folders &) { return "below/segment.ts"; })},
    {"PlaylistEntryInASiblingFolder", Expect::Fails, "Refusing to open",
     playlist([](const Folders &) { return "../secret/private.ts"; })},
    {"PlaylistEntryByAbsolutePath", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) { return f.secret + "/private.ts"; })},
    {"PlaylistEntryByFileUrl", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) { return "file://" + f.secret + "/private.ts"; })},
    {"PlaylistEntryThroughASymbolicLink", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) {
         fs::create_symlink("../secret/private.ts", f.recording + "/link.ts");
         return std::string("link.ts");
     })},
    {"PlaylistEntryOnTheNetwork", Expect::Fails, "Refusing to open",
     playlist([](const Folders &) { return network().url("segment.ts"); })},
    // Caught by the playlist reader itself: a segment must be media that its
    // name's extension allows.
    {"PlaylistEntryThatIsAConcatScript", Expect::Fails, "Error when loading first segment",
     playlist([](const Folders &f) {
         const std::string text = "ffconcat version 1.0\nfile ../secret/private.ts\n";
         write_file(f.recording + "/inner.ts", Bytes(text.begin(), text.end()));
         return std::string("inner.ts");
     })},
    {"ConcatScriptEntryNextToIt", Expect::Fails, "opens other files on its own",
     concat_script([](const Folders &) { return "segment.ts"; })},
    {"ConcatScriptEntryOutside", Expect::Fails, "opens other files on its own",
     concat_script([](const Folders &) { return "../secret/private.ts"; })},
    {"ConcatScriptEntryOnTheNetwork", Expect::Fails, "opens other files on its own",
     concat_script([](const Folders &) { return network().url("segment.ts"); })},
};

class References : public ::testing::TestWithParam<Row> {};
TEST_P(References, ReachOnlyFilesInTheRecordingsFolder)
{
    const Row &row = GetParam();
    const int connections = network().connections();
    const OutputFacts facts = run_case(row, row.make(scratch(row.name)));
    EXPECT_EQ(network().connections(), connections) << "the conversion went to the network";
    if (facts.problem.empty()) {
        EXPECT_EQ(facts.width, 320) << "the output shows another file's pictures";
    }
}
INSTANTIATE_TEST_SUITE_P(Nested, References, ::testing::ValuesIn(kReferences), row_name);

TEST(References, AnExplicitFilePrefixKeepsTheLibrariesBehaviour)
{
    // Whoever writes "file:" asks for the libraries' own rules: a playlist may then
    // name files anywhere on the machine (but still no other protocol).
    const Row row = {"ExplicitFilePrefix", Expect::Converts, nullptr,
                     playlist([](const Folders &) { return "../secret/private.ts"; })};
    Case c = row.make(scratch(row.name));
    c.input = "file:" + c.input;
    const OutputFacts facts = run_case(row, c);
    EXPECT_EQ(facts.width, 176);
}

// ---- outputs that cannot be written ---------------------------------------------------------

Case plain_recording(const std::string &dir)
{
    return copied(dir, fixture_path(FixtureKind::H264AacTs), "recording.ts");
}

TEST(WriteFailures, AFullDiskFailsTheRunAndRemovesThePartialOutput)
{
    const Row row = {"FileSizeLimitWhileWriting", Expect::Fails, "could not be written completely", plain_recording};
    Case c = row.make(scratch(row.name));
    c.limits.file_size = 16 * 1024;
    run_case(row, c);
}

TEST(WriteFailures, AnIndexThatDoesNotFitFailsTheRun)
{
    // Where the index starts in a complete conversion: the limit lets every
    // sample through and stops the index.
    const std::string dir = scratch("IndexBeyondTheLimit");
    Case c = plain_recording(dir);
    const Row complete = {"Complete", Expect::Converts, nullptr, plain_recording};
    ASSERT_EQ(run_case(complete, c).problem, "");
    const int64_t index_at = mp4_box_offset(read_file(c.output), "moov");
    ASSERT_GT(index_at, 0);
    fs::remove(c.output);

    const Row row = {"IndexBeyondTheLimit", Expect::Fails, "could not be written completely", plain_recording};
    c.limits.file_size = rlim_t(index_at + 64);
    run_case(row, c);
}

TEST(WriteFailures, AnOutputNamedPipeIsNeitherRemovedNorReplaced)
{
    const std::string dir = scratch("OutputIsAPipe");
    Case c = plain_recording(dir);
    ASSERT_EQ(mkfifo(c.output.c_str(), 0600), 0);
    // The engine asks before writing into something that exists; without an
    // answer it leaves it alone.
    const Row asked = {"OutputIsAPipe", Expect::Fails, "Not overwriting", plain_recording};
    const ChildRun run = run_guarded(converter_args(c), c.limits);
    EXPECT_EQ(run.exit_code, 1) << run.describe();
    EXPECT_NE(run.err.find(asked.message), std::string::npos) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(c.output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // Told to overwrite, it writes into the pipe, fails (an MP4 needs to seek),
    // and the pipe is still there afterwards.
    std::thread reader([&] {
        const int fd = open(c.output.c_str(), O_RDONLY);
        char buf[4096];
        while (fd >= 0 && read(fd, buf, sizeof(buf)) > 0) {
        }
        if (fd >= 0)
            close(fd);
    });
    c.extra = {"-y"};
    const ChildRun forced = run_guarded(converter_args(c), c.limits);
    reader.join();
    EXPECT_EQ(forced.exit_code, 1) << forced.describe() << forced.err;
    ASSERT_EQ(lstat(c.output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- an output named like an option ----------------------------------------------------

TEST(OutputNames, ALeadingDashIsAFileNameAfterDotSlashOrDoubleDash)
{
    const std::string dir = scratch("LeadingDash");
    const Row row = {"LeadingDash", Expect::Converts, nullptr, plain_recording};
    for (const std::vector<std::string> &spelling : {std::vector<std::string>{"./-converted.mp4"},
                                                     std::vector<std::string>{"--", "-converted.mp4"}}) {
        SCOPED_TRACE(spelling.front());
        Case c = plain_recording(dir);
        c.limits.cwd = dir;
        c.extra.assign(spelling.begin(), spelling.end() - 1);
        c.output = spelling.back();
        const OutputFacts facts = run_case(row, c);
        EXPECT_EQ(facts.problem, "");
        EXPECT_TRUE(fs::exists(dir + "/-converted.mp4"));
        fs::remove(dir + "/-converted.mp4");
        fs::remove(dir + "/recording.ts");
    }
}

class Damaged : public ::testing::TestWithParam<Row> {};
TEST_P(Damaged, FailsCleanlyOrConvertsFully)
{
    const Row &row = GetParam();
    const Case c = row.make(scratch(row.name));
    if (c.limits.as_nobody && !can_run_as_nobody())
        GTEST_SKIP() << "running as root without the right to become another user";
    run_case(row, c);
}
INSTANTIATE_TEST_SUITE_P(Recordings, Damaged, ::testing::ValuesIn(kDamagedRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Timing, Damaged, ::testing::ValuesIn(kDamagedTiming), row_name);
INSTANTIATE_TEST_SUITE_P(PictureSizes, Damaged, ::testing::ValuesIn(kPictureSizes), row_name);
INSTANTIATE_TEST_SUITE_P(Sound, Damaged, ::testing::ValuesIn(kSound), row_name);
INSTANTIATE_TEST_SUITE_P(NotRecordings, Damaged, ::testing::ValuesIn(kNotRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Paths, Damaged, ::testing::ValuesIn(kPaths), row_name);

} // namespace
