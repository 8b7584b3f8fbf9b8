// What the window says about a conversion while it runs and when it has failed, in the
// user's language: the loading box's title and detail line, and the failure box's
// reason line.
//
//     const ConversionTexts::ProgressView view = ConversionTexts::DescribeProgress(progress);
//     box->SetText(view.title);       // "Converting... 42%"
//     box->SetProgress(view.percent); // -1 while the length of the source is unknown
//     box->SetDetail(view.detail);    // "0:47 elapsed  ·  3:10 left  ·  2.4x"
//
// GUI thread only (texts come from the text table of the current language).
#pragma once

#include "conversion.h"
#include "ffmpeg_exec.h"
#include "media_scan.h"
#include "queue_words.h"

#include <QString>

namespace ConversionTexts {

struct ProgressView {
    int percent = -1;   // 0 to 100; -1 when the source's length is unknown
    QString title;
    QString detail;
};

// The loading box's texts for one progress event. With a known duration: the share
// done in the title; elapsed time, the time still needed (once the speed is known)
// and the speed in the detail. Without: the video time converted so far, the
// elapsed time and the speed. The share is 100 % only on the last event of a run
// that was not asked to stop (`stopAsked`), and at most 99 % before.
ProgressView DescribeProgress(const RunProgress &progress, bool stopAsked = false);

// The title before the first progress event: "Converting...".
QString ConvertingTitle();

// A file name or path as the window shows it: control characters escaped
// (printable_text), so a name cannot break a line or hide its end.
QString Shown(const QString &text);

// A duration as m:ss below an hour and h:mm:ss from there on; negative times as 0:00.
QString ClockText(qint64 microseconds);

// A reason of the queue's core (queue_words.h) in the user's language.
QString Words(const QueueWords &words);

// The failure box's second line for a failure category.
QString FailureReason(RunFailure failure);
// A problem of a file converted with problems, as a phrase ("only 0:03 of 0:08
// could be read").
QString ProblemText(const RunProblem &problem);
// The status line of a file converted with problems: "Converted with problems:
// " and its first problem.
QString PartialStatus(const std::vector<RunProblem> &problems);
// Every problem, one per line.
QString ProblemList(const std::vector<RunProblem> &problems);
// Why a folder search passed over a file: "Skipped: not a video file".
QString SkippedReason(SkipReason reason);

// Its second line when every output name is taken in the destination folder (the
// window then runs no conversion at all).
QString NamesTakenReason();

// Several recordings in one go. The loading box's queue line: "2 of 5  ·  cam02.ts"
// (the name as Shown()).
QString QueueLine(int number, int total, const QString &fileName);
// Its detail line: the share of all the recordings done and, when known, the time
// still needed for all of them: "All recordings: 30%  ·  4:10 left".
QString QueueOverall(int percent, qint64 remainingUs);
// The status line when every one converted: "5 recordings converted".
QString QueueAllConverted(int count);
// When some failed: "3 of 5 recordings converted".
QString QueueSomeConverted(int converted, int total);
// The summary box's message above the list: the count (after a stop, as
// QueueCancelled; WithAlready), then the list's heading ("Not converted:" when it
// lists failures only, else "Files to look at:").
QString QueueSummary(int converted, int total, bool failuresOnly = true, bool cancelled = false, int already = 0);
// A queue's status line with, when `partial` is not 0, how many were converted
// with problems: "5 recordings converted  ·  1 with problems".
QString WithPartial(const QString &status, int partial);
// Under the summary's count: "5 other files are not recordings."
QString QueueOthers(int count);
// The status line after a stop: "Cancelled: 1 of 5 recordings converted".
QString QueueCancelled(int converted, int total);

// Converting again what the destination holds already. The question for one
// recording: "cam01.ts was already converted into cam01_converted.mp4. Convert it
// again?" (names as Shown()); for a queue of which every one is: "All 5 recordings
// are already converted into this folder. Convert them again?"; its button "Convert
// again".
QString AgainQuestion(const QString &sourceName, const QString &outputName);
QString QueueAgainQuestion(int count);
QString AgainButton();
// A queue's status line with, when `already` is not 0, how many it passed over as
// converted before: "3 recordings converted  ·  2 already converted".
QString WithAlready(const QString &status, int already);
// The line under a recording a cancelled queue never converted: "Not converted
// (cancelled)".
QString NotRunReason();
// The status line once a failure box is closed: "Conversion failed: <reason>".
QString FailedNote(const QString &reason);
// The status line when the destination folder could not be opened: "The folder could
// not be opened: <folder>" (Shown()).
QString FolderNotOpened(const QString &folder);

// The line under the window's choices after a conversion, and its tool tip.
struct ChoiceNotes {
    QString text;
    QString toolTip;
};
// After one conversion (or join) that wrote its file, for each choice that was on:
// "Picture kept" or "Picture converted" (the tool tip saying why it could not be
// kept), "Evidence record written" (the tool tip naming the record) or "No
// evidence record" (the tool tip saying why), and "Time shown in the picture" or
// "Time not shown" (the tool tip saying why). Empty with every choice off. The
// reasons are the engine's own words (the plan's keep_refusal and time_refusal),
// Shown().
ChoiceNotes ResultNotes(const ConversionChoices &choices, const ConversionPlan &plan, const QString &evidencePath,
                        const QString &evidenceError);
// After several recordings, for each choice that was on: "Pictures kept: 3 of 5",
// "Evidence records written: 4 of 5", "Time shown in the picture: 5 of 5", out of
// the recordings converted.
QString QueueNotes(const ConversionChoices &choices, int kept, int records, int timeShown, int converted);
// Why a converted file has no evidence record: "The evidence record could not be
// written: <why>", or "No evidence record" without a reason.
QString EvidenceMissingReason(const QString &error);


// Several recordings joined into one file. The status line: "3 recordings joined
// into cam01_converted_joined.mp4" (the name Shown()); for a joined file with
// problems (a recording left out, a gap closed), "Joined with problems: " and the
// first of them.
QString JoinedStatus(int joined, const QString &fileName);
QString JoinedPartialStatus(const std::vector<RunProblem> &problems);
// How many recordings a join took into its file: those of the plan less the ones
// it left out.
int JoinedCount(const ConversionResult &result);

} // namespace ConversionTexts
