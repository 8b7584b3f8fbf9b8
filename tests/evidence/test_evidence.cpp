// The converter's conversion of one recording as the window and the batch
// command run it: the recording's time kept in the output (from its container or
// a DAV recorder's clock), the evidence record's hashes against an independent
// sha256sum, and records checked again (intact, changed, missing).
#include "conversion.h"
#include "dav_writer.h"
#include "engine_harness.h"
#include "evidence.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "recording_time.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;
using fixtures::FixtureKind;
using nlohmann::json;

namespace {

constexpr int64_t kSecond = 1000000;
// 2024-03-15T08:00:00Z in microseconds since 1970.
constexpr int64_t kMarch15 = int64_t(1710489600) * kSecond;

std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The independent tool's digest.
std::string sha256sum(const std::string &path)
{
    FILE *pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
    char digest[65] = {};
    const size_t n = pipe ? fread(digest, 1, 64, pipe) : 0;
    if (pipe)
        pclose(pipe);
    return std::string(digest, n);
}

int run_words(std::vector<std::string> words)
{
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return ffmpeg_exec(int(words.size()), argv.data());
}

// A copy of the H.264 + AAC clip whose container says when it was recorded.
std::string tagged_recording(const std::string &dir)
{
    const std::string path = dir + "/tagged.mkv";
    EXPECT_EQ(run_words({"ffmpeg", "-loglevel", "error", "-i", fixtures::fixture_path(FixtureKind::H264AacTs),
                         "-c", "copy", "-metadata", "creation_time=2024-03-15T08:00:00Z", path}),
              0);
    return path;
}

std::string creation_time_of(const std::string &path)
{
    AVFormatContext *ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return "(unreadable)";
    const AVDictionaryEntry *tag = av_dict_get(ic->metadata, "creation_time", nullptr, 0);
    const std::string text = tag ? tag->value : "";
    avformat_close_input(&ic);
    return text;
}

ConversionResult convert(const std::string &source, const std::string &output, ConversionChoices choices)
{
    RunObserver observer;
    observer.never_replace = true;
    observer.recordings_only = true;
    ConversionResult result;
    run_conversion(source, output, choices, observer, &result);
    return result;
}

ConversionChoices choices(bool keep, bool evidence)
{
    ConversionChoices c;
    c.keep_video = keep;
    c.evidence = evidence;
    return c;
}

} // namespace

// ---- the recording's time ------------------------------------------------------------

TEST(RecordingTime, DavDateFieldsOutsideTheCalendarAreNoTime)
{
    using fixtures::dav_date_field;
    struct Case {
        uint32_t field;
        int64_t expected; // -1: no time
    };
    const Case cases[] = {
        {dav_date_field(2024, 3, 15, 8, 0, 0), kMarch15},
        {dav_date_field(2024, 3, 15, 8, 0, 59), kMarch15 + 59 * kSecond},
        {dav_date_field(2024, 3, 15, 8, 0, 60), -1},
        {dav_date_field(2024, 3, 15, 8, 59, 0), kMarch15 + 59 * 60 * kSecond},
        {dav_date_field(2024, 3, 15, 8, 60, 0), -1},
        {dav_date_field(2024, 3, 15, 23, 0, 0), kMarch15 + 15 * 3600 * kSecond},
        {dav_date_field(2024, 3, 15, 24, 0, 0), -1},
        {dav_date_field(2024, 3, 0, 8, 0, 0), -1},
        {dav_date_field(2024, 3, 31, 8, 0, 0), kMarch15 + 16 * 86400 * kSecond},
        {dav_date_field(2024, 4, 31, 8, 0, 0), -1},
        {dav_date_field(2024, 2, 29, 0, 0, 0), int64_t(1709164800) * kSecond},
        {dav_date_field(2023, 2, 29, 0, 0, 0), -1},
        {dav_date_field(2024, 0, 15, 8, 0, 0), -1},
        {dav_date_field(2024, 12, 15, 8, 0, 0), int64_t(1734249600) * kSecond},
        {dav_date_field(2024, 13, 15, 8, 0, 0), -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(dav_date_time(c.field), c.expected) << std::hex << c.field;
    EXPECT_EQ(iso_utc_text(kMarch15 + 250000), "2024-03-15T08:00:00.250000Z");
}

TEST(RecordingTime, TheOutputKeepsTheRecordingsTimeConvertedOrKept)
{
    const std::string dir = scratch_dir("evidence/creation_time");
    const std::string tagged = tagged_recording(dir);
    const std::string dav = fixtures::dav_clip_path(fixtures::dav_date_field(2024, 3, 15, 8, 0, 0));
    const std::string untagged = fixtures::fixture_path(FixtureKind::H264AacTs);
    struct Case {
        const char *what;
        std::string source;
        bool keep;
        RecordingTimeSource from;
        std::string time;
    };
    const Case cases[] = {
        {"container, converted", tagged, false, RecordingTimeSource::Container, "2024-03-15T08:00:00.000000Z"},
        {"container, kept", tagged, true, RecordingTimeSource::Container, "2024-03-15T08:00:00.000000Z"},
        {"DAV clock, converted", dav, false, RecordingTimeSource::RecorderClock, "2024-03-15T08:00:00.000000Z"},
        {"DAV clock, kept", dav, true, RecordingTimeSource::RecorderClock, "2024-03-15T08:00:00.000000Z"},
        {"none", untagged, false, RecordingTimeSource::None, ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string output = dir + "/out" + std::to_string(n++) + ".mp4";
        const ConversionResult r = convert(c.source, output, choices(c.keep, false));
        ASSERT_EQ(r.outcome.end, RunEnd::Completed) << c.what << ": " << r.outcome.error_text;
        EXPECT_EQ(r.plan.time_source, c.from) << c.what;
        EXPECT_EQ(r.plan.recording_time, c.time) << c.what;
        EXPECT_EQ(r.plan.video_kept, c.keep) << c.what << ": " << r.plan.keep_refusal;
        EXPECT_EQ(creation_time_of(output), c.time) << c.what;
    }
}

TEST(ConversionPlan, WithoutChoicesOrTimeTheWordsAreTheConvertersOwn)
{
    const std::string dir = scratch_dir("evidence/plan_words");
    const std::string plain = fixtures::fixture_path(FixtureKind::H264AacTs);
    const std::string out = dir + "/out.mp4";
    EXPECT_EQ(plan_conversion(plain, out, ConversionChoices()).words, converter_arguments(plain, out));
    // The time goes in just before the output's name.
    const std::string tagged = tagged_recording(dir);
    std::vector<std::string> expected = converter_arguments(tagged, out);
    expected.insert(expected.end() - 1, {"-metadata", "creation_time=2024-03-15T08:00:00.000000Z"});
    EXPECT_EQ(plan_conversion(tagged, out, ConversionChoices()).words, expected);
    // Keeping asked of a source that cannot be looked at: the plain conversion,
    // whose run then says why it fails.
    const ConversionPlan missing = plan_conversion(dir + "/missing.ts", out, choices(true, false));
    EXPECT_EQ(missing.words, converter_arguments(dir + "/missing.ts", out));
    EXPECT_FALSE(missing.video_kept);
    EXPECT_EQ(missing.keep_refusal, "the recording could not be looked at");
}

// ---- hashing ---------------------------------------------------------------------------------

TEST(EvidenceHash, FollowingAReaderGivesTheWholeFilesDigestHoweverFarItGot)
{
    const std::string path = fixtures::fixture_path(FixtureKind::Mpeg4AlawMkv);
    const std::string expected = sha256sum(path);
    ASSERT_EQ(expected.size(), 64u);
    FileDigest whole;
    ASSERT_EQ(sha256_of_file(path, &whole), 0);
    EXPECT_EQ(whole.sha256, expected);
    EXPECT_EQ(whole.size, int64_t(fs::file_size(path)));
    const int64_t size = whole.size;
    // The reader never moved, stopped half-way, went to the end, or claimed more.
    for (int64_t reached : {int64_t(0), size / 2, size, size + (1 << 20)}) {
        std::atomic<int64_t> position{0};
        FollowingHasher hasher(path, &position);
        for (int64_t at = 0; at <= reached; at += 4096) {
            position = at;
            std::this_thread::yield();
        }
        position = reached;
        FileDigest digest;
        ASSERT_EQ(hasher.finish(&digest), 0) << reached;
        EXPECT_EQ(digest.sha256, expected) << reached;
        EXPECT_EQ(digest.size, size) << reached;
    }
    FileDigest none;
    EXPECT_EQ(sha256_of_file(path + ".missing", &none), AVERROR(ENOENT));
}

// ---- the record ----------------------------------------------------------------------------

TEST(EvidenceRecord, HoldsBothFilesDigestsTheWordsAndHowEachStreamWasHandled)
{
    const std::string dir = scratch_dir("evidence/record");
    struct Case {
        const char *what;
        FixtureKind kind;
        bool keep;
        const char *video, *audio; // handling
    };
    const Case cases[] = {
        {"kept", FixtureKind::H264AacTs, true, "kept", "kept"},
        {"converted", FixtureKind::MjpegMulawAvi, true, "converted", "converted"},
        {"not asked to keep", FixtureKind::H264AacTs, false, "converted", "converted"},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string source = fixtures::fixture_path(c.kind);
        const std::string output = dir + "/out" + std::to_string(n++) + ".mp4";
        const ConversionResult r = convert(source, output, choices(c.keep, true));
        ASSERT_EQ(r.outcome.end, RunEnd::Completed) << c.what;
        ASSERT_EQ(r.evidence_path, evidence_record_path(output)) << c.what << ": " << r.evidence_error;
        const json record = json::parse(read_text(r.evidence_path));
        EXPECT_EQ(record.at("source").at("sha256"), sha256sum(source)) << c.what;
        EXPECT_EQ(record.at("source").at("size"), int64_t(fs::file_size(source))) << c.what;
        EXPECT_EQ(record.at("source").at("path"), fs::canonical(source).string()) << c.what;
        EXPECT_EQ(record.at("output").at("sha256"), sha256sum(output)) << c.what;
        EXPECT_EQ(record.at("output").at("path"), fs::canonical(output).string()) << c.what;
        EXPECT_EQ(record.at("engine_words").get<std::vector<std::string>>(), r.plan.words) << c.what;
        EXPECT_EQ(record.at("streams").at(0).at("handling"), c.video) << c.what;
        EXPECT_EQ(record.at("streams").at(1).at("handling"), c.audio) << c.what;
        EXPECT_EQ(record.at("status"), "converted") << c.what;
        EXPECT_LE(record.at("started").get<std::string>(), record.at("ended").get<std::string>()) << c.what;
        for (const char *key : {"program", "libraries", "host", "user", "declared_duration", "converted_duration",
                                "problems", "recording_time"})
            EXPECT_TRUE(record.contains(key)) << c.what << ": " << key;
    }
}

TEST(EvidenceRecord, AnExistingFileUnderTheRecordsNameIsNeverReplaced)
{
    const std::string dir = scratch_dir("evidence/record_taken");
    const std::string output = dir + "/out.mp4";
    const std::string note = "someone else's file\n";
    fixtures::write_file(evidence_record_path(output), std::vector<uint8_t>(note.begin(), note.end()));
    const ConversionResult r = convert(fixtures::fixture_path(FixtureKind::H264AacTs), output, choices(false, true));
    ASSERT_EQ(r.outcome.end, RunEnd::Completed);
    EXPECT_EQ(r.evidence_path, "");
    EXPECT_NE(r.evidence_error.find("already has the record's name"), std::string::npos) << r.evidence_error;
    EXPECT_EQ(read_text(evidence_record_path(output)), note);
    // Without the choice no record is written, and no error told.
    const ConversionResult plain =
        convert(fixtures::fixture_path(FixtureKind::H264AacTs), dir + "/plain.mp4", choices(false, false));
    EXPECT_EQ(plain.evidence_path, "");
    EXPECT_EQ(plain.evidence_error, "");
    EXPECT_FALSE(fs::exists(evidence_record_path(dir + "/plain.mp4")));
}

TEST(EvidenceRecord, CheckedAgainEachFileIsIntactChangedOrMissing)
{
    const std::string dir = scratch_dir("evidence/verify");
    const std::string source = dir + "/cam01.ts";
    fs::copy_file(fixtures::fixture_path(FixtureKind::H264AacTs), source);
    const std::string output = dir + "/cam01_converted.mp4";
    const ConversionResult r = convert(source, output, choices(true, true));
    ASSERT_FALSE(r.evidence_path.empty()) << r.evidence_error;
    auto states = [&](const std::string &record) {
        std::vector<CheckedFile> files;
        std::string error;
        EXPECT_EQ(verify_evidence_record(record, &files, &error), 0) << error;
        std::string text;
        for (const CheckedFile &f : files)
            text += f.role + "=" + file_state_name(f.state) + " ";
        return text;
    };
    EXPECT_EQ(states(r.evidence_path), "source=intact output=intact ");
    // The output and its record handed on together to another folder.
    fs::create_directories(dir + "/handed");
    fs::rename(output, dir + "/handed/cam01_converted.mp4");
    fs::rename(r.evidence_path, dir + "/handed/cam01_converted.mp4.evidence.json");
    const std::string record = dir + "/handed/cam01_converted.mp4.evidence.json";
    EXPECT_EQ(states(record), "source=intact output=intact ");
    // One byte of the output changed.
    {
        std::fstream f(dir + "/handed/cam01_converted.mp4", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        char c = 0;
        f.read(&c, 1);
        f.seekp(100);
        c = char(c ^ 1);
        f.write(&c, 1);
    }
    EXPECT_EQ(states(record), "source=intact output=changed ");
    fs::remove(source);
    EXPECT_EQ(states(record), "source=missing output=changed ");
    // Not a record.
    std::vector<CheckedFile> files;
    std::string error;
    EXPECT_EQ(verify_evidence_record(fixtures::fixture_path(FixtureKind::H264AacTs), &files, &error),
              AVERROR_INVALIDDATA);
    EXPECT_EQ(error, "is not an evidence record");
    EXPECT_TRUE(files.empty());
}
