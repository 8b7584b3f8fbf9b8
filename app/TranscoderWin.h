// The converter's window: source recording, destination folder, OK.
//
// OK (or Enter in a field) derives a free output name in the destination folder
// (<name>_converted.mp4, then <name>_converted_<n>.mp4, ...), hands the source, the
// output and the choices of the two check boxes under the fields (keep the picture,
// write an evidence record; ConversionOptions) to the worker thread, shows
// "Converting..." and covers the window with the loading mask, whose box shows the
// progress (share, elapsed and remaining time, speed) and a Cancel button. The result: "Conversion complete: <file>" in the status
// line (a click opens the destination folder), "Conversion cancelled" after Cancel or
// Esc (the unfinished file is removed), or the failure box with a line that says why
// (the mask goes when the box is closed). With a choice on, the line under the check
// boxes then says whether the picture was kept ("why not" on hover) and whether the
// evidence record was written (where, or why not, on hover); after a queue, how many
// of each; with the time in the picture asked for, whether it was shown (why not, on
// hover). With "Join into one file" ticked, OK makes one file of the queue's
// recordings ("<first>_converted_joined.mp4", named after the first in join order)
// with the single conversion's progress, and the status line says how many were
// joined, or "Joined with problems" with every problem on hover. The about button shows name, version and notice. A recording dropped on
// the window is taken as the source.
//
// Several recordings (chosen together, dropped together, or found in a dropped folder,
// which the worker thread searches meanwhile) form a queue: the source field reads
// "cam01.ts (+4 more)" with every path in its tool tip, and OK converts them one after
// another into the destination folder, each named by the usual rule. The loading box
// then also tells "2 of 5" with the file's name, and the share of all of them with the
// time left. A failure does not stop the queue; at its end a summary box names each
// failed file with its reason, or, with none, the status line says "5 recordings
// converted" (a click opens the folder). Cancel, the close question and the signals
// stop the conversion in hand (its unfinished file removed), keep the finished ones
// and start no more. Typing into the source field makes it a single path again.
//
// OK on a recording the destination folder already holds an output of (the output's
// source mark: name, size and time, source_mark.h) asks before converting it again,
// with Cancel focused; a queue passes such recordings over ("2 already converted"),
// so OK after a cancelled queue goes on with the rest, and asks when none is left.
// After Cancel the queue's summary names the recordings that never ran. A failed
// single conversion leaves a short note in the status line once its box is closed.
// A conversion (or queue) that took long and ends while the window is not active asks
// for attention (urgency hint, and a desktop notification where there is one).
//
// Closing the window during a conversion asks first, without holding anything up
// (a queue goes on meanwhile; the question goes when the run or the queue ends);
// stopping removes the unfinished file. SIGINT and SIGTERM stop a conversion the same way and quit the program. The
// window owns its worker and worker thread for its whole life; destroying it stops a
// conversion still running and joins the thread before the window is gone.
// GUI thread only.
#pragma once

#include "ConverterMsgBox.h"
#include "RecordingQueue.h"
#include "conversion.h"
#include "ffmpeg_exec.h"
#include "output_naming.h"

#include <QElapsedTimer>
#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <functional>
#include <memory>

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QTimer;
class ConversionOptions;
class TranscodeWorker;
class VelaBottomBar;
class VelaElideLabel;
class VelaFileButton;
class VelaIconButton;
class VelaLineEdit;
class VelaLoadingMask;
class VelaNoteLabel;

class TranscoderWin : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int WindowWidth = 550;
    static constexpr int WindowHeight = 248;
    // The highest number of an output name (<name>_converted_<n>.mp4) the search tries.
    static constexpr int MaxOutputNumber = MAX_OUTPUT_NUMBER;

    // Opens a folder in the desktop's file manager (QDesktopServices by default).
    using FolderOpener = std::function<bool(const QUrl &folder)>;
    // Ends the program with an exit code (QCoreApplication::exit by default).
    using QuitHook = std::function<void(int exitCode)>;
    // The earlier output of `source` in `folder` that carries its source mark, empty
    // when there is none (earlier_output_of by default).
    using EarlierOutputFinder = std::function<QString(const QString &source, const QString &folder)>;
    // Asks the desktop to draw the user's eye to `window`, with what happened
    // (QApplication::alert and a desktop notification by default).
    using AttentionHook = std::function<void(QWidget *window, const QString &text)>;
    // A conversion (or a queue) that took at least this long asks for attention
    // when it ends while the window is not active.
    static constexpr qint64 AttentionAfterMsec = 30000;

    explicit TranscoderWin(QWidget *parent = nullptr);
    ~TranscoderWin() override;

    // The source field's text after its last "/" (all of it without a "/").
    QString SourceFileName() const;
    // The version text read at construction ("1.0.2-0011" and a line feed).
    QString VersionText() const;
    // Whether a conversion (or a queue of them) has been handed to the worker and its
    // result not yet handled.
    bool IsConverting() const;
    // The recordings the source field stands for when it holds more than one.
    QStringList QueuedSources() const;

    // Takes files and/or folders as the source, as a drop does: files at once (several
    // form a queue), folders searched for recordings on the worker thread under the
    // "Looking for recordings..." box. The first one's folder is where the next source
    // dialog opens, and is remembered. Ignored while a conversion or a search runs, or
    // a box is up; nothing for an empty list.
    void OpenRecordings(const QStringList &paths);

    // The window's keys, the same in every language (the tool tips name them).
    static QKeySequence SelectKey();          // Select's menu
    static QKeySequence FilesKey();           // the recordings dialog
    static QKeySequence FolderKey();          // the folder dialog
    static QKeySequence DestinationKey();     // Change
    static QKeySequence KeepVideoKey();       // the first check box
    static QKeySequence EvidenceKey();        // the second check box
    static QKeySequence JoinKey();            // the third check box
    static QKeySequence TimeKey();            // the fourth check box
    static QKeySequence StartKey();           // OK
    static QKeySequence AboutKey();           // the info button

    // The version text of a version file: its content up to the first NUL byte, as
    // UTF-8, with every "version=" and every double quote removed and nothing
    // trimmed. Empty, with "Version file is not exist" in the debug log, when the
    // file cannot be opened.
    static QString ReadVersionFile(const QString &path);

    // Output name number n for a source file name: the name without its extension
    // (from its last "." on; a name without "." is kept whole) followed by
    // "_converted.mp4" for n = 0 or "_converted_<n>.mp4" otherwise. The engine's
    // rule (output_naming.h), so that the batch command names files alike.
    static QString OutputName(const QString &sourceName, int number);
    // The first output path folder + "/" + OutputName(sourceName, n), n = 0, 1, ...,
    // maxNumber, at which nothing exists yet (not even a dangling link); empty when
    // every one is taken.
    static QString FreeOutputPath(const QString &folder, const QString &sourceName,
                                  int maxNumber = MaxOutputNumber);

    // Replace how folders are opened and how the program quits, and return the one
    // before (tests answer them instead of starting a file manager or quitting).
    static FolderOpener SetFolderOpener(FolderOpener opener);
    static QuitHook SetQuitHook(QuitHook hook);
    static EarlierOutputFinder SetEarlierOutputFinder(EarlierOutputFinder finder);
    static AttentionHook SetAttentionHook(AttentionHook hook);
    // The least time a run must take to ask for attention (AttentionAfterMsec unless
    // a test sets another); returns the one before.
    static qint64 SetAttentionAfter(qint64 msec);
    // Whether a run that took `elapsedMsec` and ended with the window active or not
    // asks for attention.
    static bool WantsAttention(qint64 elapsedMsec, bool windowActive);

signals:
    void SigTranscode(QString Source, QString Output, ConversionChoices Choices);
    void SigCollect(QStringList Paths);
    void SigJoin(QStringList Sources, QString Folder, ConversionChoices Choices);

public slots:
    // SIGINT or SIGTERM reached the program: a conversion in progress is stopped (its
    // unfinished file removed) and the program quits with 128 + the signal's number.
    void SlotTerminate(int Signal);

private slots:
    void SlotProgress(RunProgress Progress);
    void SlotConvertDone(ConversionResult Result);
    void SlotCollected(RecordingList Recordings);
    void SlotJoinNamed(QString Output);

protected:
    void closeEvent(QCloseEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void InitLanguage();
    void LoadVersion();
    void InitUi();
    void InitConnect();
    void InitWorker();
    void StopWorker();

    // Keyboard access: focus and Tab order of every control, the keys and the tool
    // tips that name them; fields that show their errors only once edited or after
    // an attempt to start (TranscoderWinKeys.cpp).
    void InitKeys();
    void InitSourceChoice();
    void AddKey(const QKeySequence &key, const std::function<void()> &action);
    // A key's tool tip: the text and the key, in the language's punctuation.
    static QString KeyHint(const QString &text, const QKeySequence &key);
    // Enter or OK: each field's error shows now, an empty field's too.
    void ShowFieldErrors();
    // The remembered folders: the destination prefilled, the source dialog's start.
    void InitRememberedFolders();
    void RememberConversion(const QString &source, const QString &output);

    void OnAboutClicked();
    void OnSourceSelected(const QString &path);
    void OnSourcesSelected(const QStringList &paths);
    // One recording: today's single source; several: the queue; none: a warning.
    void SetRecordings(const RecordingList &recordings);
    void FollowSourceFolder(const QString &path);
    void FollowFolder(const QString &folder);
    // The loading box over the window as one run begins: "Converting...", no share yet.
    void ShowRunStarting();
    void OnSourceEdited();
    void RefreshSourceToolTip();
    void OnFieldTextChanged(VelaLineEdit *field);
    void OnConvertClicked();
    void OnCancelRequested();
    // Asks the conversion in hand to stop; a queue starts no more.
    void StopConverting();
    void OnStatusClicked();
    // Asks whether to stop the conversion and close, without waiting for the answer:
    // "stop and close" stops and closes, the other answer changes nothing.
    void AskStopAndClose();
    void StopAndClose();
    // The close question goes unanswered: what it asked about has ended.
    void DismissCloseQuestion();
    // The earlier output of `source` in `folder` (the finder in force).
    static QString EarlierOutput(const QString &source, const QString &folder);
    // Where a queued recording's output goes: the destination, and under it the
    // folders it was found in below a folder given (RecordingQueue::Collect).
    QString OutputFolderOf(const QueuedRecording &recording) const;
    // OK for one recording, once no question stands in the way.
    void StartSingle();
    // Asks whether to convert again what the destination holds already; `convert`
    // runs on "Convert again", Cancel (focused) changes nothing.
    void AskConvertAgain(const QString &question, std::function<void()> convert);
    // The status line after a failure box: "Conversion failed: <reason>".
    void ShowFailureNote(const QString &reason);
    // Draws the user's eye to the window after a long run, when it is not active.
    void AskAttention(const QString &text);
    // What a single run's end is called in a notification.
    QString EndText(const RunOutcome &outcome) const;
    // A conversion's result, once no question is open.
    void TakeOutcome(const ConversionResult &result);
    void ShowResult(const RunOutcome &outcome);
    // The line under the choices: what became of them (empty clears it).
    void ShowChoiceNotes(const QString &text, const QString &toolTip = QString());
    // The failure box: what failed, then why.
    void ShowFailure(const QString &reason);
    // Shows a message box over the masked window; the mask goes with the box.
    void ShowMessageBox(const QString &text);
    void ShowBox(ConverterMsgBox *box);
    QString AboutText() const;
    // The local files and folders a drag carries, in its order; empty when none.
    static QStringList DroppedPaths(const QMimeData *data);
    // A path's folder (up to its last "/") and its file name (after it).
    static QString FolderOf(const QString &path);
    static QString FileNameOf(const QString &path);
    // The listed files a search passed over, with why, for a summary box.
    static QVector<ConverterMsgBox::ListEntry> SkippedEntries(const RecordingQueue &queue);
    bool Busy() const;

    // A join of the queue's recordings into one file (TranscoderWinJoin.cpp): its
    // start, and its result in the status line once the run has ended.
    void StartJoin();
    void ShowJoinResult(const ConversionResult &result);

    // The queue: its start (asking first when every recording is converted already,
    // `again` converting those too), each recording's turn, a run's end, and the end.
    void StartQueue();
    void BeginQueue(bool again);
    void StartQueueItem();
    void ShowQueueProgress();
    void QueueRunEnded(const ConversionResult &result);
    void FinishQueue(bool stopped);
    void ShowQueueSummary(bool stopped);
    // The queue's status line: the counts, with how many were converted already.
    QString QueueStatusText(bool stopped) const;
    // Converted recordings of the queue without the evidence record that was asked for.
    int MissingRecords() const;

    VelaIconButton *m_aboutButton = nullptr;
    VelaLineEdit *m_sourceEdit = nullptr;
    VelaLineEdit *m_destinationEdit = nullptr;
    VelaElideLabel *m_sourceLabel = nullptr;
    VelaElideLabel *m_destinationLabel = nullptr;
    VelaFileButton *m_sourceButton = nullptr;
    VelaFileButton *m_destinationButton = nullptr;
    ConversionOptions *m_options = nullptr;
    VelaNoteLabel *m_choiceNotes = nullptr;
    VelaBottomBar *m_bottomBar = nullptr;
    VelaLoadingMask *m_loadingMask = nullptr;
    TranscodeWorker *m_worker = nullptr;
    QThread m_workerThread;
    QString m_versionText;
    // Repeats the stop request while a stopped conversion winds down.
    QTimer *m_stopRepeat = nullptr;
    // The file the conversion in progress (or the last completed one) writes.
    QString m_outputPath;
    // The choices taken at OK, for the conversion (or the whole queue) in hand.
    ConversionChoices m_choices;
    // From OK until the result (of the whole queue) has arrived.
    bool m_converting = false;
    // The recordings of the source field when it holds several; while a queue runs,
    // what became of each.
    RecordingQueue m_queue;
    bool m_queueRunning = false;
    // OK joins the queue's recordings into one file, until the result is back.
    bool m_joining = false;
    QElapsedTimer m_queueClock;
    // Cancel, the close question or a signal asked the conversion to stop.
    bool m_stopAsked = false;
    // The worker is looking for recordings in dropped folders.
    bool m_collecting = false;
    bool m_collectStopped = false; // Cancel pressed while searching: its result is dropped
    // The destination was filled in from the source's folder and not edited since.
    bool m_destinationFromSource = false;
    // The close question while it is open; "stop and close" was answered.
    QPointer<ConverterMsgBox> m_closeQuestion;
    bool m_closeConfirmed = false;
    // A termination signal came: the program is quitting.
    bool m_quitting = false;
    // Since OK: how long the conversion (or the whole queue) took.
    QElapsedTimer m_runClock;
};
