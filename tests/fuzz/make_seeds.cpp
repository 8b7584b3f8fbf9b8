// Writes the seed inputs of the conversion fuzzer into a folder: tiny recordings
// of every container and codec the test-media generator makes (a few frames each,
// so that the fuzzer's mutations stay cheap to convert), damaged variants, and the
// short text formats that refer to other files.
//
//   make_fuzz_seeds <folder>
#include "fixture_gen.h"
#include "fixture_io.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace fixtures;

namespace {

VideoTrack tiny_video(const char *encoder)
{
    VideoTrack v;
    v.encoder = encoder;
    v.width = 64;
    v.height = 48;
    v.fps = 10;
    v.gop = 3;
    if (std::string(encoder) != "libx264")
        v.quality = 8;
    return v;
}

AudioTrack tiny_audio(const char *encoder, int rate)
{
    AudioTrack a;
    a.encoder = encoder;
    a.sample_rate = rate;
    return a;
}

ClipRecipe tiny(const char *name, const char *format, const char *extension)
{
    ClipRecipe r;
    r.name = std::string("seed_") + name;
    r.format = format;
    r.extension = extension;
    r.duration = 0.4;
    return r;
}

std::vector<ClipRecipe> recipes(void)
{
    std::vector<ClipRecipe> list;
    ClipRecipe r = tiny("h264_aac_ts", "mpegts", "ts");
    r.video = {tiny_video("libx264")};
    r.audio = {tiny_audio("aac", 8000)};
    list.push_back(r);

    r = tiny("mjpeg_mulaw_avi", "avi", "avi");
    r.video = {tiny_video("mjpeg")};
    r.audio = {tiny_audio("pcm_mulaw", 8000)};
    list.push_back(r);

    r = tiny("mpeg4_alaw_mkv", "matroska", "mkv");
    r.video = {tiny_video("mpeg4")};
    r.audio = {tiny_audio("pcm_alaw", 8000)};
    r.subtitles = {SubtitleTrack{}};
    list.push_back(r);

    r = tiny("h264_mp4", "mp4", "mp4");
    r.video = {tiny_video("libx264")};
    r.audio = {tiny_audio("aac", 8000)};
    list.push_back(r);

    r.name = "seed_h264_mp4_no_index";
    r.write_trailer = false;
    list.push_back(r);

    r = tiny("h264_raw", "h264", "h264");
    r.video = {tiny_video("libx264")};
    r.video[0].b_frames = 1;
    list.push_back(r);

    r = tiny("h264_size_change_ts", "mpegts", "ts");
    r.video = {tiny_video("libx264")};
    r.video[0].change_at_frame = 2;
    r.video[0].changed_width = 32;
    r.video[0].changed_height = 32;
    list.push_back(r);

    r = tiny("mulaw_wav", "wav", "wav");
    r.audio = {tiny_audio("pcm_mulaw", 8000)};
    list.push_back(r);

    r = tiny("aac_m4a", "mp4", "m4a");
    r.audio = {tiny_audio("aac", 8000)};
    list.push_back(r);

    r = tiny("rawvideo_y4m", "yuv4mpegpipe", "y4m");
    r.video = {tiny_video("wrapped_avframe")};
    r.video[0].width = 16;
    r.video[0].height = 16;
    list.push_back(r);

    r = tiny("flv1_flv", "flv", "flv");
    r.video = {tiny_video("flv")};
    list.push_back(r);
    return list;
}

void write_text(const std::filesystem::path &path, const std::string &text)
{
    write_file(path.string(), std::vector<uint8_t>(text.begin(), text.end()));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int written = 0;
    try {
        for (const ClipRecipe &r : recipes()) {
            const std::string clip = clip_path(r);
            std::filesystem::copy_file(clip, dir / (r.name + "." + r.extension),
                                       std::filesystem::copy_options::overwrite_existing);
            written++;
            if (r.format == "mpegts" && r.video.size() == 1 && r.video[0].change_at_frame < 0) {
                FileDamage cut;
                cut.kind = FileDamage::Truncate;
                cut.at = 0.6;
                damage_file(clip, cut, (dir / (r.name + "_cut.ts")).string());
                written++;
            }
        }
    } catch (const FixtureError &e) {
        fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    write_text(dir / "playlist.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\ninput\n#EXT-X-ENDLIST\n");
    write_text(dir / "list.ffconcat", "ffconcat version 1.0\nfile input\nduration 1\n");
    write_text(dir / "subtitles.srt", "1\n00:00:00,000 --> 00:00:01,000\nCue\n");
    written += 3;
    printf("%d seeds in %s\n", written, dir.c_str());
    return 0;
}
