// Damaged and odd inputs converted with the converter window's twelve arguments by
// the engine's program in a watched child, each held to the suite's invariants
// (badinput_case.h).
//
// Groups: damaged recordings, damaged timing, late starts, picture sizes, cover art, streams
// lost on the way, sound headers, things that are not recordings, file names and
// paths.
#include "badinput_case.h"
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "folder_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
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
using namespace badinput;
namespace fs = std::filesystem;

namespace {

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
ClipRecipe video_shifted(int64_t shift_s, double seconds = 2)
{
    ClipRecipe r = ts_clip("video_shifted", seconds);
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

// The suite's MPEG-TS recording, `seconds` long and 160x120, cut out of a long
// group of pictures: its video's first key frame comes `key_s` seconds in, the
// pictures before it lack theirs (and so the stream's parameters), and each of
// them is `pad` bytes longer (zeros after the picture, which H.264 allows).
ClipRecipe late_key_frame(int key_s, double seconds, int pad = 0)
{
    ClipRecipe r = ts_clip("late_key", seconds);
    r.video[0].width = 160;
    r.video[0].height = 120;
    r.video[0].gop = key_s * 25;
    r.packet_edit_name = "first key frame left out, pad " + std::to_string(pad);
    r.packet_edit = [=](AVPacket *pkt, const PacketInfo &info) {
        if (info.type != AVMEDIA_TYPE_VIDEO || info.index_in_stream >= key_s * 25)
            return true;
        if (pad && av_grow_packet(pkt, pad) >= 0)
            memset(pkt->data + pkt->size - pad, 0, size_t(pad));
        return info.index_in_stream > 0;
    };
    return r;
}

// The video of a recording whose first key frame was not found within the
// longer probe (a minute of media, 64 MiB) is left out, and that is told.
constexpr const char *kVideoLeftOut = "Converted with problems: the recording's video (stream #0:0) is left out: no "
                                      "picture of it was found in the first minute (at most 64 MiB) of the recording";

const Row kLateStarts[] = {
    // Found by probing further than the first 5 s: converted with its picture.
    {"FirstKeyFrame8sIn", Expect::Converts, nullptr, clip(late_key_frame(8, 12)), 13, 11.9, false, nullptr,
     Video::Present},
    {"FirstKeyFrame55sIn", Expect::Converts, nullptr, clip(late_key_frame(55, 58)), 59, 57.9, false, nullptr,
     Video::Present},
    {"FirstKeyFrame65sIn", Expect::Converts, nullptr, clip(late_key_frame(65, 68)), 69, 67.9, false, kVideoLeftOut,
     Video::Absent},
    // 200 pictures of 280 KiB (56 MiB) before the key frame, and of 380 KiB (76 MiB).
    {"FirstKeyFrameAfter56MiB", Expect::Converts, nullptr, clip(late_key_frame(8, 10, 280 << 10)), 11, 9.9, false,
     nullptr, Video::Present},
    {"FirstKeyFrameAfter76MiB", Expect::Converts, nullptr, clip(late_key_frame(8, 10, 380 << 10)), 11, 9.9, false,
     kVideoLeftOut, Video::Absent},
    // The picture starts where it starts; the sound plays from the start.
    {"VideoStarting8sAfterTheSoundInMatroska", Expect::Converts, nullptr, clip(video_shifted(8, 12)), 21, 19.9,
     false, nullptr, Video::Present},
};

const Row kDamagedTiming[] = {
    {"TimestampsRepeated", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsRepeatTimestamps, 0, 10)), 3},
    {"TimestampsGoingBack", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsStepBackTimestamps, 0, 10, 3 * 3600)), 3},
    {"TimestampsMissing", Expect::Converts, nullptr, damaged_ts(damage(FileDamage::TsDropTimestamps, 0, 5)), 3},
    {"VideoJumpingBackAnHour", Expect::Converts, nullptr,
     damaged_ts(damage(FileDamage::TsStepBackTimestamps, 0, 1, kHourTicks)), 3},
    {"JumpingForwardHoursInMpegTs", Expect::Converts, nullptr, clip(jumping_clip("mpegts", "ts", 3 * 3600, 1)), 3},
    // The hole is closed in a transport stream, and told.
    {"JumpingForwardTwoHoursAt6sInMpegTs", Expect::Converts, nullptr,
     [](const std::string &dir) {
         ClipRecipe r = jumping_clip("mpegts", "ts", 2 * 3600, 6);
         r.duration = 12;
         return copied(dir, clip_path(r), "recording.ts");
     },
     13, 11.9, false, "Converted with problems: the recording's time jumps by 2:00:00 at 0:06; the gap is not kept"},
    // Kept as a gap (one long frame), not filled with hours of copied frames.
    {"JumpingForwardHoursInMatroska", Expect::Converts, nullptr, clip(jumping_clip("matroska", "mkv", 3 * 3600, 1)),
     3 * 3600 + 3},
    // Every video packet 1000 hours after the sound: the video is rebased onto
    // the sound's clock, never left out.
    {"VideoStarting1000HoursAfterAudio", Expect::Converts, nullptr, clip(video_shifted(1000 * 3600)), 3, 1.9, false,
     "its timestamps are moved back", Video::Present},
    {"MpegTsClockWrappingPast2To33", Expect::Converts, nullptr,
     [](const std::string &dir) {
         ClipRecipe r = ts_clip("wrap");
         r.start_offset_us = kTsWrapUs - 1000000; // wraps one second in
         return copied(dir, clip_path(r), "recording.ts");
     },
     3},
};

// ---- picture sizes ---------------------------------------------------------------------

// Two seconds of black width x height H.264 pictures without sound, in Matroska:
// a few kilobytes a second at any size.
std::function<Case(const std::string &)> black_h264(int width, int height)
{
    ClipRecipe r = ts_clip("black_" + std::to_string(width) + "x" + std::to_string(height));
    r.format = "matroska";
    r.extension = "mkv";
    r.audio.clear();
    r.video[0].width = width;
    r.video[0].height = height;
    r.video[0].black = true;
    return clip(r);
}

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
    // The largest picture decoders make: scaled to H.264 level 5.1 (it took
    // gigabytes encoded as it was), within the memory of one conversion.
    {"Black8192x4320ScaledToLevel51", Expect::Converts, nullptr, black_h264(8192, 4320), 0, 1.9, false,
     "the 8192x4320 picture is beyond H.264 level 5.1; scaled down to 4220x2224", Video::Present, 4220, 2224,
     kBudgetPeakMiB},
    // Exactly level 5.1's 36864 macroblocks: kept as it is; one column more is scaled.
    {"Black4096x2304AtLevel51", Expect::Converts, nullptr, black_h264(4096, 2304), 0, 1.9, false, nullptr,
     Video::Present, 4096, 2304, kBudgetPeakMiB},
    {"Black4112x2304OneMacroblockBeyondLevel51", Expect::Converts, nullptr, black_h264(4112, 2304), 0, 1.9, false,
     "the 4112x2304 picture is beyond H.264 level 5.1; scaled down to 4096x2294", Video::Present, 4096, 2294,
     kBudgetPeakMiB},
};

// ---- cover art -------------------------------------------------------------------------

// The first JPEG picture of a w x h MJPEG recording.
std::string jpeg_picture(int width, int height)
{
    return jpeg_pictures(width, height).front();
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
     0, 1.9, false, nullptr, Video::Present, 602, 602},
    // A picture that cannot be converted: the sound alone, with a warning.
    {"CoverThatIsNoPicture", Expect::Converts, nullptr,
     sound_with_cover("broken", [] { return std::string(600, 'x'); }), 0, 1.9, false,
     "attached picture (cover art) cannot be converted: converting without it", Video::Absent},
    {"CoverCutShort", Expect::Converts, nullptr,
     sound_with_cover("cut", [] { return jpeg_picture(601, 601).substr(0, 300); }), 0, 1.9},
    // Converting again without the picture would wait for ever for a new writer.
    {"CoverThatIsNoPictureThroughANamedPipe", Expect::Fails, "cannot be read again",
     through_pipe(sound_with_cover("broken", [] { return std::string(600, 'x'); }))},
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

// Three seconds of video alone: 320x240, 160x120 from the second second on,
// and 320x240 again for the third.
ClipRecipe size_there_and_back()
{
    ClipRecipe r = ts_clip("size_there_and_back", 3);
    r.audio.clear();
    r.video[0].change_at_frame = 25;
    r.video[0].changed_width = 160;
    r.video[0].changed_height = 120;
    r.video[0].change_back_at_frame = 50;
    return r;
}

const Row kLostStreams[] = {
    // The pictures after the change never fit the crop: the end of the video is lost.
    {"SizeChangeTheFiltersCannotFollow", Expect::Fails, "frames could not be converted",
     with_options(fixture(FixtureKind::H264SizeChangeRaw), {"-vf", "crop=200:200:0:0"})},
    // The pictures of the second size are dropped; the graph built for the
    // first one serves the pictures after them.
    {"SizeChangeTheFiltersCannotFollowUntilItChangesBack", Expect::Converts, nullptr,
     with_options(clip(size_there_and_back()), {"-vf", "crop=200:200:0:0"}), 0, 2.8, false,
     "the filters cannot follow this change; its frames are dropped", Video::Present, 200, 200},
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
    {"WavWith65535Channels", Expect::Fails, "The sound has 65535 channels, more than its encoder takes (8)",
     bytes_file("recording.wav", [] { return wav_claiming(65535, 8000); })},
    // Sound no recording has is refused before converting: 20 KB at 1 Hz
    // claimed hours. Each limit with a row on either side.
    {"WavAt1Hz", Expect::Fails, "sample rate of 1 Hz is below 1000 Hz",
     bytes_file("recording.wav", [] { return wav_with(1, 1, 2, 20000); })},
    {"WavAt999Hz", Expect::Fails, "sample rate of 999 Hz is below 1000 Hz",
     bytes_file("recording.wav", [] { return wav_with(1, 999, 2, 20000); })},
    {"WavAt1000Hz", Expect::Converts, nullptr, bytes_file("recording.wav", [] { return wav_with(1, 1000, 2, 20000); }),
     10.5, 9.9},
    {"WavWithBlocksOf16385Bytes", Expect::Fails, "blocks of 16385 bytes for 1 channel(s) are larger than any codec's",
     bytes_file("recording.wav", [] { return wav_with(1, 8000, 16385, 32770); })},
    {"WavWithBlocksOf16384Bytes", Expect::Converts, nullptr,
     bytes_file("recording.wav", [] { return wav_with(1, 8000, 16384, 32768); })},
    {"WavWithStereoBlocksOf32770Bytes", Expect::Fails, "blocks of 32770 bytes for 2 channel(s)",
     bytes_file("recording.wav", [] { return wav_with(2, 8000, 32770, 32770); })},
    {"WavWith9Channels", Expect::Fails, "The sound has 9 channels, more than its encoder takes (8)",
     bytes_file("recording.wav", [] { return wav_with(9, 8000, 18, 18000); })},
    {"WavWith8Channels", Expect::Converts, nullptr, bytes_file("recording.wav", [] { return wav_with(8, 8000, 16, 16000); })},
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
    // The converter's words hand every path as a file path: a name starting with
    // "-" is never read as an option.
    {"OutputNameStartingWithADash", Expect::Converts, nullptr,
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

class Damaged : public ::testing::TestWithParam<Row> {};
TEST_P(Damaged, FailsCleanlyOrConvertsFully)
{
    const Row &row = GetParam();
    Case c = row.make(scratch(row.name));
    if (c.limits.as_nobody && !can_run_as_nobody())
        GTEST_SKIP() << "running as root without the right to become another user";
#if defined(__SANITIZE_ADDRESS__)
    // The media libraries lose memory on this path: the child goes without the
    // leak check only, so its memory errors are still caught.
    if (row.library_leaks) {
        const char *given = getenv("ASAN_OPTIONS");
        c.limits.env.push_back(std::string("ASAN_OPTIONS=") + (given ? std::string(given) + ":" : "") +
                               "detect_leaks=0");
    }
#endif
    run_case(row, c);
}
INSTANTIATE_TEST_SUITE_P(Recordings, Damaged, ::testing::ValuesIn(kDamagedRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Timing, Damaged, ::testing::ValuesIn(kDamagedTiming), row_name);
INSTANTIATE_TEST_SUITE_P(LateStarts, Damaged, ::testing::ValuesIn(kLateStarts), row_name);
INSTANTIATE_TEST_SUITE_P(PictureSizes, Damaged, ::testing::ValuesIn(kPictureSizes), row_name);
INSTANTIATE_TEST_SUITE_P(Sound, Damaged, ::testing::ValuesIn(kSound), row_name);
INSTANTIATE_TEST_SUITE_P(CoverArt, Damaged, ::testing::ValuesIn(kCoverArt), row_name);
INSTANTIATE_TEST_SUITE_P(LostStreams, Damaged, ::testing::ValuesIn(kLostStreams), row_name);
INSTANTIATE_TEST_SUITE_P(NotRecordings, Damaged, ::testing::ValuesIn(kNotRecordings), row_name);
INSTANTIATE_TEST_SUITE_P(Paths, Damaged, ::testing::ValuesIn(kPaths), row_name);

} // namespace
