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
// of each. The about button shows name, version and notice. A recording dropped on
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
// Closing the window during a conversion asks first; stopping removes the unfinished
// file. SIGINT and SIGTERM stop a conversion the same way and quit the program. The
// window owns its worker and worker thread for its whole life; destroying it stops a
// conversion still running and joins the thread before the window is gone.
// GUI thread only.
#pragma once

#include "RecordingQueue.h"
#include "conversion.h"
#include "ffmpeg_exec.h"
#include "output_naming.h"

#include <QElapsedTimer>
#include <QKeySequence>
#include <QMainWindow>
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
class ConverterMsgBox;
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
    static constexpr int WindowHeight = 226;
    // The highest number of an output name (<name>_converted_<n>.mp4) the search tries.
    static constexpr int MaxOutputNumber = MAX_OUTPUT_NUMBER;

    // Opens a folder in the desktop's file manager (QDesktopServices by default).
    using FolderOpener = std::function<bool(const QUrl &folder)>;
    // Ends the program with an exit code (QCoreApplication::exit by default).
    using QuitHook = std::function<void(int exitCode)>;

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

signals:
    void SigTranscode(QString Source, QString Output, ConversionChoices Choices);
    void SigCollect(QStringList Paths);

public slots:
    // SIGINT or SIGTERM reached the program: a conversion in progress is stopped (its
    // unfinished file removed) and the program quits with 128 + the signal's number.
    void SlotTerminate(int Signal);

private slots:
    void SlotProgress(RunProgress Progress);
    void SlotConvertDone(ConversionResult Result);
    void SlotCollected(RecordingList Recordings);

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
    void OnSourceEdited();
    void RefreshSourceToolTip();
    void OnFieldTextChanged(VelaLineEdit *field);
    void OnConvertClicked();
    void OnCancelRequested();
    // Asks the conversion in hand to stop; a queue starts no more.
    void StopConverting();
    void OnStatusClicked();
    // Asks whether to stop the conversion and close; true for "stop and close".
    bool ConfirmStopAndClose();
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
    bool Busy() const;

    // The queue: its start, each recording's turn, a run's end, and the end.
    void StartQueue();
    void StartQueueItem();
    void ShowQueueProgress();
    void QueueRunEnded(const ConversionResult &result);
    void FinishQueue(bool stopped);
    void ShowQueueSummary();
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
    QElapsedTimer m_queueClock;
    // Cancel, the close question or a signal asked the conversion to stop.
    bool m_stopAsked = false;
    // The worker is looking for recordings in dropped folders.
    bool m_collecting = false;
    bool m_collectStopped = false; // Cancel pressed while searching: its result is dropped
    // The destination was filled in from the source's folder and not edited since.
    bool m_destinationFromSource = false;
    // The close question is open; a result arriving meanwhile waits for its answer.
    bool m_asking = false;
    std::unique_ptr<ConversionResult> m_pendingOutcome;
};
