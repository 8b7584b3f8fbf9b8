// Hostile inputs: references to other files (playlists, manifests, scripts,
// companion files) must reach only the recording's own folder and never the
// network, and playlists that never end must not make a run wait.
#include "badinput_case.h"
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "folder_watch.h"
#include "loopback_listener.h"

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
using namespace badinput;
namespace fs = std::filesystem;

namespace {

// ---- references to other files -----------------------------------------------------------

LoopbackListener &network(void)
{
    static LoopbackListener listener;
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

// Numbered pictures converted through the pattern "img%03d.jpg" given as the
// input (the way a camera's stills are read): the recording folder's own
// pictures, or links of those names to the other folder's pictures.
std::function<Case(const std::string &)> image_sequence(bool linked_outside)
{
    return [=](const std::string &dir) {
        const Folders f = folders(dir);
        const std::vector<std::string> own = jpeg_pictures(320, 240), other = jpeg_pictures(176, 144);
        for (size_t i = 0; i < own.size(); i++) {
            char name[32];
            snprintf(name, sizeof(name), "img%03zu.jpg", i + 1);
            write_text(f.secret + "/" + name, other[i]);
            if (linked_outside)
                fs::create_symlink(std::string("../secret/") + name, f.recording + "/" + name);
            else
                write_text(f.recording + "/" + name, own[i]);
        }
        Case c = convert_into(dir, "img%03d.jpg");
        c.limits.cwd = f.recording;
        return c;
    };
}

const Row kReferences[] = {
    {"ImageSequenceNextToIt", Expect::Converts, nullptr, image_sequence(false)},
    {"ImageSequenceLinkedIntoASiblingFolder", Expect::Fails, "Refusing to open", image_sequence(true)},
    {"PlaylistEntryNextToIt", Expect::Converts, nullptr, playlist([](const Folders &) { return "segment.ts"; })},
    {"PlaylistEntryBelowIt", Expect::Converts, nullptr, playlist([](const Folders &) { return "below/segment.ts"; })},
    {"PlaylistEntryInASiblingFolder", Expect::Fails, "Refusing to open",
     playlist([](const Folders &) { return "../secret/private.ts"; })},
    {"PlaylistEntryByAbsolutePath", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) { return f.secret + "/private.ts"; })},
    {"PlaylistEntryByFileUrl", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) { return "file://" + f.secret + "/private.ts"; })},
    // "file://x/y" opens "//x/y", the absolute path: a file "x/y" inside the
    // export (run from there) is only a decoy.
    {"PlaylistEntryByFileUrlWithADecoyOfItsPathInside", Expect::Fails, "Refusing to open",
     [](const std::string &dir) {
         Case c = playlist([](const Folders &f) { return "file:/" + f.secret + "/private.ts"; })(dir);
         const Folders f{dir + "/recording", dir + "/secret"};
         fs::create_directories(f.recording + f.secret);
         fs::copy_file(f.recording + "/segment.ts", f.recording + f.secret + "/private.ts");
         c.limits.cwd = f.recording;
         return c;
     }},
    // A neighbouring folder whose name begins with the recording folder's.
    {"PlaylistEntryInAFolderNamedLikeItsOwnAndMore", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) {
         fs::create_directories(f.recording + "-old");
         fs::copy_file(f.secret + "/private.ts", f.recording + "-old/private.ts");
         return std::string("../recording-old/private.ts");
     })},
    {"PlaylistEntryMissingFromAFolderNamedLikeItsOwnAndMore", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) {
         fs::create_directories(f.recording + "-old");
         return std::string("../recording-old/gone.ts");
     })},
    {"PlaylistEntryThroughASymbolicLink", Expect::Fails, "Refusing to open",
     playlist([](const Folders &f) {
         fs::create_symlink("../secret/private.ts", f.recording + "/link.ts");
         return std::string("link.ts");
     })},
    // A segment missing from the export is told as missing; one missing from
    // another folder is refused all the same.
    {"PlaylistEntryMissingFromItsFolder", Expect::Fails, "does not exist",
     playlist([](const Folders &) { return "below/gone.ts"; })},
    {"PlaylistEntryMissingFromASiblingFolder", Expect::Fails, "Refusing to open",
     playlist([](const Folders &) { return "../secret/gone.ts"; })},
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
    // Not read twice to explain the refusal: the writer of a pipe has gone.
    rows.push_back({"DashManifestThroughANamedPipe", Expect::Fails, "Invalid argument",
                    through_pipe(text_file("manifest.mpd", [](const Folders &) {
                        return dash_manifest(DashAddress::BaseUrl, "../secret/private.ts");
                    }))});
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
    c.input_is_url = true;
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

// The playlist without its end tag, made `size` bytes long by comment lines
// after its segments. Read whole to be finished, a playlist may have 4 MiB.
std::function<std::string(const Names &)> without_end_of_size(size_t size)
{
    return [size](const Names &names) {
        std::string text = without_end(names);
        std::string padding;
        while (text.size() + padding.size() < size) {
            const size_t line = std::min<size_t>(size - text.size() - padding.size(), 80);
            padding += line == 1 ? "\n" : "#" + std::string(line - 2, 'x') + "\n";
        }
        return text + padding;
    };
}

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
    {"PlaylistWithoutItsEndTagOf4MiB", Expect::Converts, nullptr,
     segments_listed("list.m3u8", [](const Names &n) { return without_end_of_size(4 << 20)(n); }), 0, kAllSegments,
     false, "has no end tag"},
    {"PlaylistWithoutItsEndTagOneByteBeyond4MiB", Expect::Fails, "has no end tag and is too large to read as it is",
     segments_listed("list.m3u8", [](const Names &n) { return without_end_of_size((4 << 20) + 1)(n); })},
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

} // namespace
