// Several recordings converted one after another: which ones, how far along the
// queue is, and what became of each.
//
//     RecordingQueue queue;
//     queue.Set(RecordingQueue::Collect(paths));   // files as given, folders scanned
//     queue.Start();
//     do {
//         queue.Current().output = ...;            // named when its turn comes
//         ... run it, feeding queue.NoteProgress(progress) ...
//         queue.Finish(outcome);
//     } while (queue.Advance());
//
// The search, the states after a run and the overall figures are the queue's
// core (recording_search.h, queue_share.h), which the batch command shares: the
// share weighs each recording by its length (from the folder scan or, for a file
// named directly, from its run's first progress; an unknown length counts as the
// average known one). Finished recordings, converted or not, count as done.
// Plain data; Collect may run on any thread, the rest on one thread at a time.
#pragma once

#include "conversion.h"
#include "ffmpeg_exec.h"
#include "media_scan.h"
#include "queue_share.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct QueuedRecording {
    // Skipped: a file a folder search passed over (never converted; see skip).
    // AlreadyConverted: its output is in the destination already (output), so this
    // run passes it over.
    enum class State { Waiting, Converting, Converted, Failed, Stopped, Skipped, AlreadyConverted };

    QString source;
    QString output;             // empty until its conversion starts
    // Found in a folder given: the folders from there down to it ("nvr1/day2"),
    // mirrored under the destination; empty for a file given by name.
    QString subfolder;
    qint64 durationUs = -1;     // -1 while unknown
    qint64 convertedUs = 0;     // media time converted so far
    State state = State::Waiting;
    RunFailure failure = RunFailure::None;
    bool namesTaken = false;    // failed before its run: every output name was taken
    // Converted, but the file is not the whole recording: what it fell short in.
    std::vector<RunProblem> problems;
    SkipReason skip = SkipReason::NotMedia; // for State::Skipped
    bool listed = false;        // a skipped file named to the user (SkippedFile::listed)
    // What became of the window's choices in its conversion (NoteChoices).
    bool videoKept = false;     // the picture was copied unchanged
    bool timeShown = false;     // the time was drawn into the picture
    QString evidencePath;       // the evidence record written; empty when none
    QString evidenceError;      // why a record asked for is missing
};

using RecordingList = QVector<QueuedRecording>;
Q_DECLARE_METATYPE(RecordingList)

class RecordingQueue
{
public:
    // The recordings among `paths`: a file is taken as it is (a failure to read it
    // shows when its turn comes); a folder gives the files under it that probe as
    // media with video or audio (media_scan.h), in sorted order, with their lengths,
    // and the files its search passed over, in State::Skipped.
    // A file reached twice (also through a link) is taken once, where it came first.
    // `stopped`, when given, is asked between files; once it says yes the search
    // ends early with what it found so far.
    static RecordingList Collect(const QStringList &paths, const std::function<bool()> &stopped = nullptr);

    // The recordings to convert, and apart from them the skipped ones.
    void Set(const RecordingList &recordings);
    void Clear();
    int Size() const;
    // True with more than one recording, or one whose search passed over files to
    // be named at the end: the window's queue flow.
    bool IsQueue() const;
    const RecordingList &Recordings() const;
    // The files the searches passed over (State::Skipped), listed or not.
    const RecordingList &Skipped() const;
    int ListedSkippedCount() const;

    // The source field's text: "cam01.ts (+4 more)".
    QString FieldText() const;
    // Every source path, one per line.
    QString ToolTip() const;

    // Back to the first recording, every one waiting, the clock at zero.
    void Start();
    // The recording being converted (or about to be).
    int CurrentIndex() const;
    QueuedRecording &Current();
    // Its run's progress: what it converted and, when known, its length. Whole only
    // once `reachedEnd` (the last event of a run not asked to stop).
    void NoteProgress(const RunProgress &progress, bool reachedEnd = false);
    // How its run ended.
    void Finish(const RunOutcome &outcome);
    // What its conversion did with the choices: the picture kept or not, the
    // evidence record written or why not, the time shown or not (a
    // ConversionResult's own fields).
    void NoteChoices(const ConversionResult &result);
    // It failed without a run: every output name is taken.
    void FinishNamesTaken();
    // Moves to the next recording; false when there is none.
    bool Advance();

    // Marks every waiting recording whose output `earlierOutput` finds (non-empty) as
    // AlreadyConverted, with that output; returns how many there are now.
    int NoteEarlierOutputs(const std::function<QString(const QueuedRecording &recording)> &earlierOutput);
    int AlreadyConvertedCount() const;
    // Stays on the current recording while it waits, else moves on to the next one
    // that waits; false when none is left.
    bool SeekWaiting();
    // The recordings a stop left unconverted: the one stopped and those never started.
    QStringList NotRun() const;

    // Converted counts the partial ones too (their files were written).
    int ConvertedCount() const;
    int PartialCount() const;
    int FailedCount() const;
    // Converted recordings whose picture was kept, and those with an evidence record.
    int KeptCount() const;
    int EvidenceCount() const;
    // Converted recordings with the time drawn into their pictures.
    int TimeShownCount() const;
    // The share of all the recordings' media done, 0 to 100.
    int OverallPercent() const;
    // The time still needed at the pace so far, given the time the queue has taken;
    // -1 before anything is done.
    qint64 RemainingUs(qint64 elapsedUs) const;

private:
    // Each recording as the core's overall figures see it (queue_share.h).
    std::vector<QueueShare> Shares() const;

    RecordingList m_recordings;
    RecordingList m_skipped;
    int m_current = 0;
};
