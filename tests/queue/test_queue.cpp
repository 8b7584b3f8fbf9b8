// The queue's core: states after a run, the overall share and time left, a
// run's percent, the reasons' words in English, and the recording search.
#include "EnglishTexts.h"
#include "TextIds.h"
#include "engine_harness.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "queue_share.h"
#include "queue_words.h"
#include "recording_search.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSecond = 1000000;

QueueShare share(int64_t seconds, QueueState state, int64_t done_us = 0)
{
    return QueueShare{seconds < 0 ? -1 : seconds * kSecond, done_us, state};
}

RunOutcome outcome(RunEnd end, int status, bool partial = false)
{
    RunOutcome o;
    o.end = end;
    o.status = status;
    o.partial = partial;
    return o;
}

} // namespace

TEST(QueueShare, ARunLeavesItsRecordingInTheStateItsEndTells)
{
    EXPECT_EQ(state_after_run(outcome(RunEnd::Completed, 0)), QueueState::Converted);
    EXPECT_EQ(state_after_run(outcome(RunEnd::Completed, 0, true)), QueueState::Partial);
    // A completed run with a failing status wrote no whole file.
    EXPECT_EQ(state_after_run(outcome(RunEnd::Completed, 1)), QueueState::Failed);
    EXPECT_EQ(state_after_run(outcome(RunEnd::Stopped, 255)), QueueState::Stopped);
    EXPECT_EQ(state_after_run(outcome(RunEnd::Failed, 1)), QueueState::Failed);
    const std::pair<QueueState, std::pair<bool, bool>> states[] = {
        {QueueState::Waiting, {false, false}},  {QueueState::Running, {false, false}},
        {QueueState::Converted, {true, true}},  {QueueState::Partial, {true, true}},
        {QueueState::Failed, {true, false}},    {QueueState::Stopped, {true, false}},
    };
    for (const auto &[state, expected] : states) {
        EXPECT_EQ(state_finished(state), expected.first) << int(state);
        EXPECT_EQ(state_wrote_file(state), expected.second) << int(state);
    }
}

TEST(QueueShare, EachRecordingWeighsItsLengthAndUnknownOnesTheAverage)
{
    struct Case {
        const char *what;
        std::vector<QueueShare> items;
        double fraction;
    };
    const Case cases[] = {
        {"nothing", {}, 0},
        {"one of two equal done", {share(10, QueueState::Converted), share(10, QueueState::Waiting)}, 0.5},
        {"failed and stopped count as done", {share(10, QueueState::Failed), share(30, QueueState::Stopped)}, 1},
        {"a long one weighs more", {share(10, QueueState::Converted), share(30, QueueState::Waiting)}, 0.25},
        {"running: what it converted", {share(10, QueueState::Running, 5 * kSecond), share(10, QueueState::Waiting)},
         0.25},
        {"running past its length counts whole", {share(10, QueueState::Running, 20 * kSecond)}, 1},
        {"unknown as the average", {share(10, QueueState::Converted), share(-1, QueueState::Waiting)}, 0.5},
        {"none known: by count", {share(-1, QueueState::Partial), share(-1, QueueState::Running, 5 * kSecond),
                                  share(-1, QueueState::Waiting)}, 1.0 / 3},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(queue_done_fraction(c.items), c.fraction, 1e-9) << c.what;
}

TEST(QueueShare, PercentIsWholeOnlyWhenEveryTurnIsOver)
{
    // 999 of 1000 seconds: 99 %, never rounded up to 100.
    EXPECT_EQ(queue_percent({share(1000, QueueState::Running, 999 * kSecond)}), 99);
    EXPECT_EQ(queue_percent({share(1000, QueueState::Converted)}), 100);
    EXPECT_EQ(queue_percent({share(100, QueueState::Running, 1 * kSecond - 1)}), 0);
    EXPECT_EQ(queue_percent({share(100, QueueState::Running, 1 * kSecond)}), 1);
}

TEST(QueueShare, TimeLeftIsToldOnceSomethingIsDoneAtThePaceSoFar)
{
    const std::vector<QueueShare> half = {share(10, QueueState::Converted), share(10, QueueState::Waiting)};
    EXPECT_EQ(queue_time_left_us(half, 0), -1);
    EXPECT_EQ(queue_time_left_us(half, 1), 1);
    EXPECT_EQ(queue_time_left_us(half, kSecond), kSecond);
    EXPECT_EQ(queue_time_left_us(half, 20 * kSecond), 20 * kSecond);
    EXPECT_EQ(queue_time_left_us({share(10, QueueState::Running)}, 20 * kSecond), -1);
    EXPECT_EQ(queue_time_left_us({share(10, QueueState::Converted)}, 20 * kSecond), 0);
}

TEST(QueueShare, ARunShowsAHundredOnlyAtItsWholeEnd)
{
    struct Case {
        int64_t done, duration;
        bool whole;
        int percent;
        int64_t counted;
    };
    const Case cases[] = {
        {5, -1, false, -1, 5},        {5, 0, true, -1, 5},            {-3, 100, false, 0, 0},
        {1, 100, false, 1, 1},        {99, 100, false, 99, 99},       {100, 100, false, 99, 99},
        {101, 100, false, 99, 99},    {99, 100, true, 100, 100},      {30014694, 30014700, false, 99, 30014694},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run_percent(c.done, c.duration, c.whole), c.percent) << c.done << "/" << c.duration;
        EXPECT_EQ(run_done_us(c.done, c.duration, c.whole), c.counted) << c.done << "/" << c.duration;
    }
}

TEST(QueueWords, EveryFailureKindHasItsOwnSentence)
{
    const std::pair<RunFailure, const char *> cases[] = {
        {RunFailure::SourceUnreadable, "The source is not a video file or is too damaged to read."},
        {RunFailure::SourceMissing, "The source file does not exist."},
        {RunFailure::SourceIsFolder, "The source is a folder, not a video file."},
        {RunFailure::SourceNoStream, "The source holds no video or sound that can be converted."},
        {RunFailure::DestinationMissing, "The destination folder does not exist."},
        {RunFailure::DestinationNotWritable, "The destination folder cannot be written."},
        {RunFailure::DiskFull, "The disk is full."},
        {RunFailure::OutputNameRefused, "The file name is too long for this folder."},
        {RunFailure::EncoderRefused, "The video's picture size or format cannot be encoded."},
        {RunFailure::Other, "An unexpected error stopped the conversion."},
        {RunFailure::None, "An unexpected error stopped the conversion."},
    };
    for (const auto &[failure, text] : cases)
        EXPECT_EQ(english_words(failure_words(failure)), text) << run_failure_name(failure);
    EXPECT_EQ(english_words(names_taken_words()),
              "The destination folder already holds too many converted copies of this file.");
}

TEST(QueueWords, ProblemsAndSkipsCarryTheirFigures)
{
    auto problem = [](RunProblemKind kind, int64_t a, int64_t b, const char *detail = "") {
        RunProblem p;
        p.kind = kind;
        p.a = a;
        p.b = b;
        p.detail = detail;
        return p;
    };
    const std::pair<RunProblem, const char *> problems[] = {
        {problem(RunProblemKind::ShortOfDeclaredLength, 3 * kSecond, 8 * kSecond), "only 0:03 of 0:08 could be read"},
        {problem(RunProblemKind::ReadingStoppedEarly, 499, 1000), "reading stopped at 49% of the file"},
        {problem(RunProblemKind::ReadingStoppedEarly, 5, 0), "reading stopped at 0% of the file"},
        {problem(RunProblemKind::DamagedPackets, 7, 0), "damaged data in 7 places"},
        {problem(RunProblemKind::DecodeErrors, 2, 0), "2 pictures or sound blocks could not be decoded"},
        {problem(RunProblemKind::StreamLeftOut, 1, 0, "audio"), "the sound is left out"},
        {problem(RunProblemKind::StreamLeftOut, 0, 0, "video"), "the video is left out"},
        {problem(RunProblemKind::SegmentLeftOut, 0, 0, "cam01_0900.ts"), "cam01_0900.ts is left out: it could not be read"},
        {problem(RunProblemKind::TimelineGap, 7200 * kSecond, 6 * kSecond),
         "the time jumps by 2:00:00 at 0:06; the gap is not kept"},
    };
    for (const auto &[p, text] : problems)
        EXPECT_EQ(english_words(problem_words(p)), text);
    const std::pair<SkipReason, const char *> skips[] = {
        {SkipReason::NotMedia, "not a video file"},
        {SkipReason::Unreadable, "cannot be read"},
        {SkipReason::SpecialFile, "not a regular file"},
        {SkipReason::TooSlow, "too slow to read"},
    };
    for (const auto &[reason, text] : skips)
        EXPECT_EQ(english_words(skip_words(reason)), text) << skip_reason_key(reason);
}

TEST(QueueWords, ArgumentsAreFilledInOnePass)
{
    struct Case {
        const char *text;
        std::vector<std::string> args;
        const char *filled;
    };
    const Case cases[] = {
        {"%1 of %2", {"a", "b"}, "a of b"},
        {"%2 before %1", {"a", "b"}, "b before a"},
        {"%1", {"name %2 100%"}, "name %2 100%"}, // an argument is never read again
        {"at %1%", {"49"}, "at 49%"},
        {"%3 %0 %", {"a", "b"}, "%3 %0 %"},     // without an argument the text stays
        {"%9", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, "9"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(fill_arguments(c.text, c.args), c.filled) << c.text;
    EXPECT_STREQ(english_text(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_DISK_FULL), "The disk is full.");
    EXPECT_STREQ(english_text(0xFFFFFFFFu), "");
}

TEST(RecordingSearch, FoldersGiveTheirRecordingsOnceWithTheFoldersToMirror)
{
    const std::string dir = scratch_dir("queue/search");
    const std::string clip = fixtures::fixture_path(fixtures::FixtureKind::H264AacTs);
    fs::create_directories(dir + "/export/nvr1/day2");
    fs::create_directories(dir + "/export/nvr2");
    fs::create_directories(dir + "/empty");
    for (const char *name : {"/export/cam00.ts", "/export/nvr1/day2/cam01.ts", "/export/nvr2/cam01.ts"})
        fs::copy_file(clip, dir + name);
    fs::create_symlink(dir + "/export/nvr2/cam01.ts", dir + "/link.ts");
    fixtures::write_file(dir + "/export/notes.txt", {'h', 'i', '\n'});

    const RecordingSearch search =
        find_recordings({dir + "/export/", dir + "/link.ts", dir + "/empty", dir + "/missing"}, true);
    std::vector<std::string> seen;
    for (const FoundRecording &r : search.recordings)
        seen.push_back(r.source.substr(dir.size()) + " [" + mirrored_folder(r, true) + "] [" +
                       mirrored_folder(r, false) + "] " + (r.duration_us > 0 ? "timed" : "untimed"));
    const std::vector<std::string> expected = {
        "/export/cam00.ts [export] [] timed",
        "/export/nvr1/day2/cam01.ts [export/nvr1/day2] [nvr1/day2] timed",
        "/export/nvr2/cam01.ts [export/nvr2] [nvr2] timed",
        // The link reaches a file found already; a missing file is taken as named.
        "/missing [] [] untimed",
    };
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(search.skipped.size(), 1u);
    EXPECT_EQ(search.empty_folders, std::vector<std::string>{dir + "/empty"});
    EXPECT_TRUE(search.unreadable_folders.empty());
    EXPECT_FALSE(search.stopped);

    // Unprobed, a named file has no length; a stop before the first input finds nothing.
    EXPECT_EQ(find_recordings({dir + "/link.ts"}, false).recordings.at(0).duration_us, -1);
    const RecordingSearch stopped = find_recordings({dir + "/export"}, true, [] { return true; });
    EXPECT_TRUE(stopped.recordings.empty());
    EXPECT_TRUE(stopped.stopped);
}

TEST(RecordingSearch, OutputsGoBesideTheSourceOrUnderTheFolderGiven)
{
    EXPECT_EQ(output_folder_for("rec/cam.ts", "", ""), "rec");
    EXPECT_EQ(output_folder_for("cam.ts", "", ""), ".");
    EXPECT_EQ(output_folder_for("rec/cam.ts", "nvr1", ""), "rec"); // no output folder: beside it
    EXPECT_EQ(output_folder_for("rec/cam.ts", "", "out"), "out");
    EXPECT_EQ(output_folder_for("rec/cam.ts", "nvr1/day2", "out"), "out/nvr1/day2");
}
