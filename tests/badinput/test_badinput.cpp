// Damaged, hostile and odd inputs, converted with the converter window's twelve
// arguments by the engine's program in a watched child. Every case is held to the
// same invariants: the child is not killed by a signal or a sanitizer, ends within
// the time limit, stays within the memory bound, leaves its input unchanged, and
// either fails (exit status 1) with a clear message and no output file, or
// succeeds with an output that reopens as MP4, carries H.264 baseline video and
// AAC audio with increasing timestamps, and decodes without an error.
//
// Groups: damaged recordings, damaged timing, picture sizes, sound headers, things
// that are not recordings, file names and paths, references to other files,
// playlists that never end, closed standard descriptors, turned pictures, and
// outputs that cannot be written.
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "folder_watch.h"
#include "guarded_child.h"
#include "output_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
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
    std::vector<std::string> input_options; // options before "-i" (not the converter's own)
};

struct Row {
    std::string name;
    Expect expect;
    const char *message; // what the log must say when the run fails
    std::function<Case(const std::string &dir)> make;
    double max_seconds = 0; // a longer output means the timing was not repaired
    double min_seconds = 0; // a shorter one lost part of the recording
    // The media libraries themselves lose memory on this path (no leak check).
    bool library_leaks = false;
};

std::vector<std::string> converter_args(const Case &c)
{
    // The program name is added by the child runner; the case's input options go
    // before "-i", its other options right before the output name.
    std::vector<std::string> args = converter_arguments(c.input, c.output);
    args.erase(args.begin());
    args.insert(args.begin(), c.input_options.begin(), c.input_options.end());
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

// Partial outputs (hidden, ending in ".part") in `folder`.
std::vector<std::string> partial_files(const std::string &folder)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name[0] == '.' && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)
            found.push_back(name);
    }
    return found;
}

std::string folder_of(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
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
    EXPECT_EQ(partial_files(folder_of(output)), std::vector<std::string>()) << "a partial output was left";
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
        EXPECT_GE(facts.seconds, row.min_seconds) << context;
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

// The h264_aac_ts recording in Matroska with every video packet `shift_s` later.
ClipRecipe video_shifted(int64_t shift_s)
{
    ClipRecipe r = ts_clip("video_shifted");
    r.format = "matroska";
    r.extension = "mkv";
    r.packet_edit_name = "video +" + std::to_string(shift_s) + " s";
    r.packet_edit = [=](AVPacket *pkt, const PacketInfo &info) {
        if (info.type != AVMEDIA_TYPE_VIDEO)
            return true;
        const int64_t shift = av_rescale_q(shift_s, AVRational{1, 1}, info.time_base);
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts += shift;
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts += shift;
        return true;
    };
    return r;
}

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
    // Every video packet 1000 hours after the sound: the video is rebased onto
    // the sound's clock, never left out.
    {"VideoStarting1000HoursAfterAudio", Expect::Converts, nullptr, clip(video_shifted(1000 * 3600)), 3, 1.9},
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
    // The H.264 encoder takes 4:2:0 pictures of even sizes only: odd ones get a
    // black row or column.
    {"Size1x1", Expect::Converts, nullptr, clip(sized(1, 1))},
    {"Size2x2", Expect::Converts, nullptr, clip(sized(2, 2))},
    {"Size16x16", Expect::Converts, nullptr, clip(sized(16, 16))},
    {"Size17x9", Expect::Converts, nullptr, clip(sized(17, 9))},
    {"Size321x241", Expect::Converts, nullptr, clip(sized(321, 241))},
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

// ---- cover art -------------------------------------------------------------------------

// The first JPEG picture of a w x h MJPEG recording.
std::string jpeg_picture(int width, int height)
{
    const Bytes avi = read_file(clip_path(sized(width, height)));
    const std::string bytes(avi.begin(), avi.end());
    const size_t start = bytes.find("\xff\xd8\xff"), end = bytes.find("\xff\xd9", start);
    if (start == std::string::npos || end == std::string::npos)
        throw FixtureError("no JPEG picture in the MJPEG recording");
    return bytes.substr(start, end + 2 - start);
}

// Two seconds of AAC sound in Matroska with `picture` attached as its cover.
std::function<Case(const std::string &)> sound_with_cover(const std::string &name, std::function<std::string()> picture)
{
    return [=](const std::string &dir) {
        ClipRecipe r = fixture_recipe(FixtureKind::AacM4a);
        r.name = "badinput_cover_" + name;
        r.format = "matroska";
        r.extension = "mka";
        r.attachments = {Attachment{"cover.jpg", "image/jpeg", picture()}};
        return copied(dir, clip_path(r), "recording.mka");
    };
}

const Row kCoverArt[] = {
    // An odd size is padded like any odd picture.
    {"CoverOf601x601", Expect::Converts, nullptr, sound_with_cover("601", [] { return jpeg_picture(601, 601); }),
     0, 1.9},
    // A picture that cannot be converted: the sound alone, with a warning.
    {"CoverThatIsNoPicture", Expect::Converts, nullptr,
     sound_with_cover("broken", [] { return std::string(600, 'x'); }), 0, 1.9},
    {"CoverCutShort", Expect::Converts, nullptr,
     sound_with_cover("cut", [] { return jpeg_picture(601, 601).substr(0, 300); }), 0, 1.9},
};

// ---- streams lost on the way ---------------------------------------------------------------

// The recording converted with `options` added before the output.
std::function<Case(const std::string &)> with_options(std::function<Case(const std::string &)> make,
                                                      std::vector<std::string> options)
{
    return [=](const std::string &dir) {
        Case c = make(dir);
        c.extra = options;
        return c;
    };
}

// A picture size filter whose size turns invalid, or tiny, after the first second.
std::string scale_from_frame_25(const char *width, const char *height)
{
    return std::string("scale=eval=frame:w='if(gt(n,24),") + width + ",320)':h='if(gt(n,24)," + height + ",240)'";
}

const Row kLostStreams[] = {
    // The pictures after the change never fit the crop: the end of the video is lost.
    {"SizeChangeTheFiltersCannotFollow", Expect::Fails, "frames could not be converted",
     with_options(fixture(FixtureKind::H264SizeChangeRaw), {"-vf", "crop=200:200:0:0"})},
    // A filter that fails on a frame: its graph is never fed again. (The scale
    // filter of the libraries loses the frame it refused.)
    {"FilterFailingMidStream", Expect::Fails, "Failed to inject frame into filter network",
     with_options(fixture(FixtureKind::H264AacTs), {"-vf", scale_from_frame_25("sqrt(-1)", "240")}), 0, 0, true},
    // Pictures of another size than the encoder was opened for.
    {"EncoderRefusingFramesMidStream", Expect::Fails, "Video encoding of output stream #0:0 failed",
     with_options(fixture(FixtureKind::H264AacTs), {"-vf", scale_from_frame_25("16", "16")})},
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

void write_text(const std::string &path, const std::string &text)
{
    write_file(path, Bytes(text.begin(), text.end()));
}

// A text file `name` in the recording folder, made with the folders' paths.
std::function<Case(const std::string &)> text_file(const std::string &name,
                                                   std::function<std::string(const Folders &)> text)
{
    return [=](const std::string &dir) {
        const Folders f = folders(dir);
        write_text(f.recording + "/" + name, text(f));
        return convert_into(dir, f.recording + "/" + name);
    };
}

// The other folder's video, as a manifest may spell it.
const std::pair<const char *, std::string (*)(const Folders &)> kOutsideSpellings[] = {
    {"Relative", [](const Folders &) { return std::string("../secret/private.ts"); }},
    {"Absolute", [](const Folders &f) { return f.secret + "/private.ts"; }},
    {"FileUrl", [](const Folders &f) { return "file://" + f.secret + "/private.ts"; }},
};

// Formats whose readers open files out of the guard's sight are refused for
// recordings given by their path, with this word.
constexpr const char *kUnwatched = "opens other files on its own";

// Every way a DASH manifest names a file, in every spelling of a path outside.
std::vector<Row> dash_rows()
{
    const std::pair<const char *, DashAddress> addresses[] = {
        {"BaseUrl", DashAddress::BaseUrl},
        {"SegmentTemplate", DashAddress::SegmentTemplate},
        {"SegmentList", DashAddress::SegmentList},
        {"Initialization", DashAddress::Initialization},
    };
    std::vector<Row> rows;
    for (const auto &[where_name, where] : addresses)
        for (const auto &[how_name, how] : kOutsideSpellings)
            rows.push_back({std::string("DashManifest") + where_name + how_name, Expect::Fails, kUnwatched,
                            text_file("manifest.mpd", [where = where, how = how](const Folders &f) {
                                return dash_manifest(where, how(f));
                            })});
    rows.push_back({"DashManifestNamedLikeARecording", Expect::Fails, kUnwatched,
                    text_file("holiday.mp4", [](const Folders &) {
                        return dash_manifest(DashAddress::BaseUrl, "../secret/private.ts");
                    })});
    rows.push_back({"DashManifestReadAsForced", Expect::Fails, kUnwatched, [](const std::string &dir) {
                        Case c = text_file("manifest.mpd", [](const Folders &) {
                            return dash_manifest(DashAddress::BaseUrl, "../secret/private.ts");
                        })(dir);
                        c.input_options = {"-f", "dash"};
                        return c;
                    }});
    rows.push_back({"DashManifestOfASegmentNextToIt", Expect::Fails, kUnwatched,
                    text_file("manifest.mpd",
                              [](const Folders &) { return dash_manifest(DashAddress::BaseUrl, "segment.ts"); })});
    return rows;
}

// A VobSub index with its ".sub" companion next to it, or with a link of that
// name to the other folder's video.
std::function<Case(const std::string &)> vobsub(bool outside)
{
    return text_file("subtitles.idx", [=](const Folders &f) {
        if (outside)
            fs::create_symlink("../secret/private.ts", f.recording + "/subtitles.sub");
        else
            fs::copy_file(f.recording + "/segment.ts", f.recording + "/subtitles.sub");
        return vobsub_index();
    });
}

// An HLS master playlist of one variant, with an alternate audio rendition.
std::string hls_master(const std::string &variant, const std::string &rendition = "")
{
    const std::string media = "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"other\",DEFAULT=YES,URI=\"";
    return "#EXTM3U\n" + (rendition.empty() ? "" : media + rendition + "\"\n") +
           "#EXT-X-STREAM-INF:BANDWIDTH=200000" + (rendition.empty() ? "" : ",AUDIO=\"a\"") + "\n" + variant + "\n";
}

// A master playlist naming a playlist of the other folder as its variant, or
// as an alternate rendition beside a variant of its own.
std::function<Case(const std::string &)> master_playlist(bool as_rendition)
{
    return text_file("master.m3u8", [=](const Folders &f) {
        write_text(f.secret + "/inner.m3u8", hls_playlist({"private.ts"}, 2, true));
        write_text(f.recording + "/own.m3u8", hls_playlist({"segment.ts"}, 2, true));
        return as_rendition ? hls_master("own.m3u8", "../secret/inner.m3u8") : hls_master("../secret/inner.m3u8");
    });
}

// An MP4 whose video track's samples are in the other folder's video, read
// with or without following such references.
std::function<Case(const std::string &)> mp4_referring_outside(bool followed)
{
    return [=](const std::string &dir) {
        const Folders f = folders(dir);
        Bytes mp4 = read_file(clip_path(mp4_clip(false)));
        if (!refer_track_to(mp4, f.secret + "/private.ts"))
            throw FixtureError("no data reference box");
        write_file(f.recording + "/recording.mp4", mp4);
        Case c = convert_into(dir, f.recording + "/recording.mp4");
        if (followed)
            c.input_options = {"-enable_drefs", "1", "-use_absolute_path", "1"};
        return c;
    };
}

std::vector<Row> other_manifest_rows()
{
    return {
        {"PlaylistKeyOutside", Expect::Fails, "Refusing to open",
         text_file("list.m3u8",
                   [](const Folders &) {
                       return hls_playlist({"segment.ts"}, 2, true,
                                           "#EXT-X-KEY:METHOD=AES-128,URI=\"../secret/private.ts\"\n");
                   })},
        {"PlaylistInitialisationSectionOutside", Expect::Fails, "Refusing to open",
         text_file("list.m3u8",
                   [](const Folders &) {
                       return hls_playlist({"segment.ts"}, 2, true, "#EXT-X-MAP:URI=\"../secret/private.ts\"\n");
                   })},
        {"VariantPlaylistOutside", Expect::Fails, "Refusing to open", master_playlist(false)},
        // The rendition outside is left out; the recording's own video converts.
        {"AlternateRenditionOutside", Expect::Converts, nullptr, master_playlist(true)},
        {"VobSubIndexWithItsSubtitlesNextToIt", Expect::Fails, kUnwatched, vobsub(false)},
        {"VobSubIndexWhoseSubtitlesLinkOutside", Expect::Fails, kUnwatched, vobsub(true)},
        // The IMF reader is not even chosen for a file by its content.
        {"ImfCompositionOfAFileOutside", Expect::Fails, "Invalid data found",
         text_file("composition.xml",
                   [](const Folders &f) {
                       const std::string uuid = "4f5a6b7c-8d9e-4f0a-9b1c-2d3e4f5a6b7c";
                       write_text(f.recording + "/ASSETMAP.xml", imf_asset_map(uuid, "../secret/private.ts"));
                       return imf_composition(uuid);
                   })},
        // The MP4 reader follows a track's data reference only when asked to, and
        // then through the guard.
        {"Mp4TrackWhoseSamplesLieOutside", Expect::Either, nullptr, mp4_referring_outside(false)},
        {"Mp4TrackWhoseSamplesLieOutsideReferencesFollowed", Expect::Fails, "Refusing to open",
         mp4_referring_outside(true)},
        {"SessionDescriptionOfANetworkStream", Expect::Fails, "not on whitelist",
         text_file("camera.sdp", [](const Folders &) { return sdp_description(5004); })},
        // The picture decoder opens no file the picture names (it has no folder
        // to resolve names against).
        {"SvgShowingAPictureOutsideByPath", Expect::Converts, nullptr,
         text_file("picture.svg", [](const Folders &) { return svg_showing("../secret/private.ts", 320, 240); })},
        {"SvgShowingAPictureOutsideByFileUrl", Expect::Converts, nullptr,
         text_file("picture.svg",
                   [](const Folders &f) { return svg_showing("file://" + f.secret + "/private.ts", 320, 240); })},
    };
}

class References : public ::testing::TestWithParam<Row> {};
TEST_P(References, ReachOnlyFilesInTheRecordingsFolder)
{
    const Row &row = GetParam();
    const int connections = network().connections();
    const std::string dir = scratch(row.name);
    const Case c = row.make(dir);
    FolderWatch secret(dir + "/secret");
    const OutputFacts facts = run_case(row, c);
    EXPECT_EQ(secret.touches(), 0) << "the conversion opened a file of another folder";
    EXPECT_EQ(network().connections(), connections) << "the conversion went to the network";
    if (facts.problem.empty()) {
        EXPECT_EQ(facts.width, 320) << "the output shows another file's pictures";
    }
}
INSTANTIATE_TEST_SUITE_P(Nested, References, ::testing::ValuesIn(kReferences), row_name);
INSTANTIATE_TEST_SUITE_P(Dash, References, ::testing::ValuesIn(dash_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Manifests, References, ::testing::ValuesIn(other_manifest_rows()), row_name);

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

// ---- playlists that never end ------------------------------------------------------------

using Names = std::vector<std::string>;

// Four one-second segments of one recording (timestamps 0 to 4 s) and the
// playlist or manifest `text` of them, as `name`; or, `through_master`, that
// playlist as "live.m3u8" and a master playlist naming it as `name`.
std::function<Case(const std::string &)> segments_listed(const char *name, std::string (*text)(const Names &),
                                                         bool through_master = false)
{
    return [=](const std::string &dir) {
        Names names;
        for (int i = 0; i < 4; i++) {
            ClipRecipe r = ts_clip("segment", 1);
            r.start_offset_us = i * 1000000LL;
            names.push_back("segment" + std::to_string(i) + ".ts");
            fs::copy_file(clip_path(r), dir + "/" + names.back());
        }
        write_text(dir + "/" + (through_master ? "live.m3u8" : name), text(names));
        if (through_master)
            write_text(dir + "/" + name, hls_master("live.m3u8"));
        Case c = convert_into(dir, dir + "/" + name);
        c.limits.timeout_s = 30; // a reader waiting for more segments is killed here
        return c;
    };
}

std::string without_end(const Names &names)
{
    return hls_playlist(names, 1, false);
}

// A live reader starts three segments before the end: all four must be there.
constexpr double kAllSegments = 3.5;

const Row kEndless[] = {
    {"PlaylistWithoutItsEndTag", Expect::Converts, nullptr, segments_listed("list.m3u8", without_end), 0,
     kAllSegments},
    {"EventPlaylistWithoutItsEndTag", Expect::Converts, nullptr,
     segments_listed("list.m3u8",
                     [](const Names &n) { return hls_playlist(n, 1, false, "#EXT-X-PLAYLIST-TYPE:EVENT\n"); }),
     0, kAllSegments},
    {"LivePlaylistStartingAtSequence1000", Expect::Converts, nullptr,
     segments_listed("list.m3u8",
                     [](const Names &n) { return hls_playlist(n, 1, false, "#EXT-X-MEDIA-SEQUENCE:1000\n"); }),
     0, kAllSegments},
    // A reader waiting for the next segment would wait an hour.
    {"LivePlaylistOfHourLongSegments", Expect::Converts, nullptr,
     segments_listed("list.m3u8",
                     [](const Names &n) {
                         std::string text = without_end(n);
                         const std::string tag = "#EXT-X-TARGETDURATION:";
                         return text.replace(text.find(tag), tag.size() + 1, tag + "3600");
                     }),
     0, kAllSegments},
    {"MasterPlaylistOfALivePlaylist", Expect::Converts, nullptr, segments_listed("master.m3u8", without_end, true),
     0, kAllSegments},
    {"DynamicDashManifest", Expect::Fails, kUnwatched,
     segments_listed("live.mpd",
                     [](const Names &) {
                         return dash_manifest(DashAddress::SegmentTemplate, "segment$Number$.ts", true);
                     })},
};

class Endless : public ::testing::TestWithParam<Row> {};
TEST_P(Endless, EndWithTheSegmentsThatExist)
{
    const Row &row = GetParam();
    run_case(row, row.make(scratch(row.name)));
}
INSTANTIATE_TEST_SUITE_P(Live, Endless, ::testing::ValuesIn(kEndless), row_name);

// ---- closed standard descriptors --------------------------------------------------------

bool file_holds(const std::string &path, const std::string &text)
{
    const Bytes bytes = read_file(path);
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(StandardDescriptors, ClosedOnesTakeNoFileAndOnlyATerminalGivesKeys)
{
    const std::string keys = "qqqq q?\n";
    // descriptors closed at the start (bit n: descriptor n), keys in a file on
    // standard input
    const std::tuple<const char *, unsigned, bool> cases[] = {
        {"InputClosed", 1, false},
        {"OutputAndErrorClosed", 6, false},
        {"AllClosed", 7, false},
        {"KeysInAFile", 0, true},
    };
    for (const auto &[name, closed, keys_in_file] : cases) {
        SCOPED_TRACE(name);
        // The whole recording must come out: a "q" read as a key would stop it.
        const Row row = {name, Expect::Converts, nullptr, fixture(FixtureKind::H264AacTs), 0, 1.9};
        const std::string dir = scratch(std::string("Descriptors") + name);
        Case c = row.make(dir);
        c.limits.closed_descriptors = closed;
        if (keys_in_file) {
            c.limits.stdin_path = dir + "/keys.txt";
            write_text(c.limits.stdin_path, keys);
        }
        const OutputFacts facts = run_case(row, c);
        ASSERT_EQ(facts.problem, "");
        for (const char *log_text : {"Stream mapping", "Press [q]", "Input #0"}) {
            EXPECT_FALSE(file_holds(c.output, log_text)) << "the log went into the output";
        }
    }
}

// ---- turned pictures -------------------------------------------------------------------

TEST(Rotation, APhoneVideosDisplayMatrixReachesTheOutput)
{
    for (int rotation : {-90, 90, 180}) {
        SCOPED_TRACE(rotation);
        ClipRecipe r = mp4_clip();
        r.name = "badinput_phone";
        r.video[0].display_rotation = rotation;
        const Row row = {"Phone" + std::to_string(rotation < 0 ? 360 + rotation : rotation), Expect::Converts,
                         nullptr, clip(r)};
        const OutputFacts facts = run_case(row, row.make(scratch(row.name)));
        ASSERT_EQ(facts.problem, "");
        EXPECT_TRUE(facts.has_display_matrix);
        EXPECT_NEAR(std::remainder(facts.display_rotation - rotation, 360), 0, 0.01) << facts.display_rotation;
        // The pictures themselves are not turned.
        EXPECT_EQ(facts.width, 320);
        EXPECT_EQ(facts.height, 240);
    }
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

// ---- the final name holds only complete files ---------------------------------------------

// An eight-second recording read at its own pace ("-re"): the run lasts about
// eight seconds, so things can happen to it a few seconds in.
Case slow_run(const std::string &dir)
{
    Case c = copied(dir, clip_path(ts_clip("eight_seconds", 8)), "recording.ts");
    c.input_options = {"-re"};
    return c;
}

TEST(FinalName, ANewFileAppearsThereOnlyComplete)
{
    // signal, how the program ends (0: exit status 0, else by that signal)
    const std::pair<int, int> cases[] = {
        {SIGKILL, SIGKILL}, // nothing can be done: the old file stays, a partial file is left
        {SIGHUP, SIGHUP},   // stops the run as SIGTERM does: the file is finished first
        {SIGPIPE, 0},       // ignored while converting: a write to a closed pipe fails instead
    };
    for (const auto &[sig, ends_by] : cases) {
        SCOPED_TRACE(strsignal(sig));
        const std::string dir = scratch("FinalName" + std::to_string(sig));
        Case c = slow_run(dir);
        write_file(c.output, Bytes(100, 'o')); // an older file of the same name
        c.limits.signal = sig;
        c.limits.signal_after_ms = 2500;
        const ChildRun run = run_guarded(converter_args(c), c.limits);
        EXPECT_EQ(run.signal, ends_by) << run.describe() << run.err;
        EXPECT_EQ(run.exit_code, ends_by ? -1 : 0) << run.describe() << run.err;
        const std::vector<std::string> partial = partial_files(dir);
        if (sig == SIGKILL) {
            EXPECT_EQ(read_file(c.output), Bytes(100, 'o')) << "the older file was replaced";
            EXPECT_EQ(partial, std::vector<std::string>{".converted.mp4." + std::to_string(run.pid) + ".part"});
            continue;
        }
        EXPECT_EQ(partial, std::vector<std::string>());
        const OutputFacts facts = check_converted(c.output);
        EXPECT_EQ(facts.problem, "") << run.err;
        EXPECT_GT(facts.seconds, 1.0);
    }
}

TEST(FinalName, AnOutputThatVanishesWhileWrittenFailsTheRun)
{
    const std::pair<const char *, std::function<void(const std::string &)>> cases[] = {
        {"folder", [](const std::string &folder) { fs::remove_all(folder); }},
        {"file",
         [](const std::string &folder) {
             for (const std::string &name : partial_files(folder))
                 fs::remove(folder + "/" + name);
         }},
    };
    for (const auto &[what, make_vanish] : cases) {
        SCOPED_TRACE(what);
        const std::string dir = scratch(std::string("Vanished_") + what);
        Case c = slow_run(dir);
        const std::string folder = dir + "/out";
        fs::create_directories(folder);
        c.output = folder + "/converted.mp4";
        std::thread remover([&, vanish = make_vanish] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            vanish(folder);
        });
        const Row row = {"Vanished", Expect::Fails, "vanished while it was written", nullptr};
        run_case(row, c);
        remover.join();
    }
}

// ---- memory running out ------------------------------------------------------------------

TEST(AllocationFailures, NeverCrashAndNeverGiveAnUnusableFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer owns the allocator";
#else
    // The conversion itself, after the files were opened: opening them meets
    // allocation failures the media libraries themselves do not survive (an
    // assertion in avcodec_alloc_context3, a URL closed twice in avio_open2).
    const std::string dir = scratch("AllocationFailures");
    Case c = plain_recording(dir);
    c.limits.env = {std::string("LD_PRELOAD=") + WVC_FAIL_ALLOC_LIBRARY, "WVC_FAIL_ALLOC_AT=0",
                    "WVC_FAIL_ALLOC_PHASE=loop"};
    const ChildRun counted = run_guarded(converter_args(c), c.limits);
    ASSERT_EQ(counted.exit_code, 0) << counted.describe() << counted.err;
    const size_t at = counted.err.rfind("allocations: ");
    ASSERT_NE(at, std::string::npos) << counted.err;
    const long total = std::stol(counted.err.substr(at + 13));
    ASSERT_GT(total, 1000);

    // Every one of the first 40, then 60 spread over the whole conversion.
    std::vector<long> failing;
    for (long n = 1; n <= 40; n++)
        failing.push_back(n);
    for (long k = 0; k < 60; k++)
        failing.push_back(41 + k * (total - 41) / 60);
    const Row row = {"AllocationFailure", Expect::Either, nullptr, nullptr};
    int failed = 0;
    for (long n : failing) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        fs::remove(c.output);
        c.limits.env[1] = "WVC_FAIL_ALLOC_AT=" + std::to_string(n);
        failed += run_case(row, c).problem != "";
    }
    // Most failures are noticed; some hit memory the libraries do without.
    EXPECT_GT(failed, 0);
#endif
}

// ---- an input that is a pipe ----------------------------------------------------------

TEST(InputPipes, ARecordingThroughANamedPipeConvertsWhole)
{
    // A pipe has no second reading: nothing may look into it before the reader.
    const std::string dir = scratch("InputIsAPipe");
    const Case c = convert_into(dir, dir + "/recording.ts");
    ASSERT_EQ(mkfifo(c.input.c_str(), 0600), 0);
    const Bytes bytes = read_file(fixture_path(FixtureKind::H264AacTs));
    signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        int fd = -1;
        for (int i = 0; i < 600 && fd < 0; i++) // waits up to 60 s for the reader
            if ((fd = open(c.input.c_str(), O_WRONLY | O_NONBLOCK)) < 0)
                usleep(100000);
        if (fd < 0)
            return;
        fcntl(fd, F_SETFL, 0);
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += size_t(n);
        }
        close(fd);
    });
    const Row row = {"InputIsAPipe", Expect::Converts, nullptr, nullptr, 0, 1.9};
    const OutputFacts facts = run_case(row, c);
    writer.join();
    EXPECT_EQ(facts.problem, "");
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
#if defined(__SANITIZE_ADDRESS__)
    if (row.library_leaks)
        GTEST_SKIP() << "the media libraries leak on this path; checked without the sanitizers";
#endif
    run_case(row, c);
}
INSTANTIATE_TEST_SUITE_P(Recordings, Damaged, ::testing::ValuesIn(kDamagedRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Timing, Damaged, ::testing::ValuesIn(kDamagedTiming), row_name);
INSTANTIATE_TEST_SUITE_P(PictureSizes, Damaged, ::testing::ValuesIn(kPictureSizes), row_name);
INSTANTIATE_TEST_SUITE_P(Sound, Damaged, ::testing::ValuesIn(kSound), row_name);
INSTANTIATE_TEST_SUITE_P(CoverArt, Damaged, ::testing::ValuesIn(kCoverArt), row_name);
INSTANTIATE_TEST_SUITE_P(LostStreams, Damaged, ::testing::ValuesIn(kLostStreams), row_name);
INSTANTIATE_TEST_SUITE_P(NotRecordings, Damaged, ::testing::ValuesIn(kNotRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Paths, Damaged, ::testing::ValuesIn(kPaths), row_name);

} // namespace
