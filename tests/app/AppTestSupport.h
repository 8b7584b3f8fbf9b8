// Shared pieces of the converter tests: a stand-in engine, a watcher that answers
// message boxes, access to the window's controls, scratch folders and screenshots.
#pragma once

#include <QByteArrayList>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

#include "VelaFileButton.h"
#include "ffmpeg_exec.h"

class ConversionOptions;
class ConverterMsgBox;
class QAbstractButton;
class QCheckBox;
class TranscoderWin;
class VelaBottomBar;
class VelaElideLabel;
class VelaLineEdit;
class VelaLoadingMask;
class VelaLoadingWidget;
class VelaIconButton;
class VelaNoteLabel;

// An engine that records what it was given instead of converting. A run writes an
// empty file at its last argument when it succeeds (so the window's next output name
// moves on) and reports it as the file it wrote, and, while blocking is on, waits until it is released or asked to stop
// (by the engine's request or the observer), sending progress meanwhile when a
// duration is set, and then, as the engine does, a last event. A stopped run ends as
// RunEnd::Stopped and writes nothing.
// Install() makes new workers use it; Uninstall() restores the real engine.
namespace FakeEngine {

void Install();
void Uninstall();
// The status the next runs return (0 by default) and, for a failure, its category.
void SetStatus(int status);
void SetFailure(RunFailure failure);
// How the first runs end, one entry per run in order (RunFailure::None: converted);
// later runs follow SetStatus and SetFailure.
void SetRunResults(const QList<RunFailure> &results);
// The problems completed runs report (they are partial when there are any);
// one list per run in order, later runs the last list.
void SetProblems(const std::vector<RunProblem> &problems);
void SetRunProblems(const QList<std::vector<RunProblem>> &problems);
// The source duration the progress events tell (-1: none sent).
void SetDuration(int64_t durationUs);
// Whether runs wait for Release() or a stop request before they return.
void SetBlocking(bool blocking);
void Release();

int Runs();                     // runs started since Install()
int FinishedRuns();             // runs that have returned
bool StopRequested();           // a stop request reached a blocked run
QByteArrayList LastArgv();      // the bytes of the last run's arguments

} // namespace FakeEngine

// Answers every message box that opens: records its title and message, optionally
// saves a screenshot of it over the window behind it, then closes it with its OK
// button (or, when asked, through the window frame, i.e. close()).
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit BoxAnswerer(bool closeThroughFrame = false);

    // Saves the next box, drawn over its parent window, as screenshots/<name>.png.
    void ScreenshotNextAs(const QString &name);
    // Hands every box to `inspect` while it is open, before it is answered.
    void InspectEachWith(std::function<void(ConverterMsgBox *)> inspect);
    // Answers with the button showing `text` instead of the OK (blue) button.
    void AnswerWith(const QString &text);
    // Answers with a key typed into the box's window instead.
    void AnswerWithKey(Qt::Key key);

    QStringList Titles() const { return m_titles; }
    QStringList Messages() const { return m_messages; }
    QList<QSize> Sizes() const { return m_sizes; }
    // Whether the parent window's loading mask was up while the box was open.
    QList<bool> MaskShownBehind() const { return m_maskShown; }
    // Heights the message labels' texts take at their widths, and one line's height.
    QList<int> LabelHeights() const { return m_labelHeights; }
    // Where the message label lies in its box.
    QList<QRect> LabelGeometries() const { return m_labelGeometries; }
    int LineHeight() const { return m_lineHeight; }
    int LabelMinimumHeight() const { return m_labelMinimumHeight; }

private:
    void Poll();

    QTimer m_timer;
    bool m_closeThroughFrame;
    QString m_answer;
    int m_answerKey = 0;
    QString m_screenshotName;
    std::function<void(ConverterMsgBox *)> m_inspect;
    QStringList m_titles;
    QStringList m_messages;
    QList<QSize> m_sizes;
    QList<bool> m_maskShown;
    QList<int> m_labelHeights;
    QList<QRect> m_labelGeometries;
    int m_lineHeight = 0;
    int m_labelMinimumHeight = 0;
};

// Answers the file and folder dialogs of the file buttons with set paths.
class ScriptedDialogs : public VelaFileDialogProvider
{
public:
    QString file;
    QStringList files;    // when set, the multiple-files dialog answers with these
    QString folder;
    QString lastStart;    // where the last dialog was asked to open
    QString lastFilter;   // the name filter of the last file dialog

    QString GetOpenFileName(QWidget *, const QString &start, const QString &filter) override
    {
        lastStart = start;
        lastFilter = filter;
        return file;
    }
    QStringList GetOpenFileNames(QWidget *, const QString &start, const QString &filter) override
    {
        lastStart = start;
        lastFilter = filter;
        if (!files.isEmpty())
            return files;
        return file.isEmpty() ? QStringList() : QStringList{file};
    }
    QString GetExistingDirectory(QWidget *, const QString &start) override
    {
        lastStart = start;
        return folder;
    }
};

// The window's controls, found by type in creation order.
struct WindowParts {
    explicit WindowParts(TranscoderWin *window);

    TranscoderWin *window;
    VelaIconButton *about;
    VelaElideLabel *sourceCaption;
    VelaElideLabel *destinationCaption;
    VelaLineEdit *source;
    VelaLineEdit *destination;
    VelaFileButton *sourceButton;
    VelaFileButton *destinationButton;
    VelaBottomBar *bar;
    QAbstractButton *ok;
    VelaLoadingMask *mask;
    VelaLoadingWidget *progressBox;    // the mask's box
    ConversionOptions *options;
    QCheckBox *keepVideo;
    QCheckBox *evidence;
    QCheckBox *join;
    QCheckBox *time;
    VelaNoteLabel *choiceNotes;        // what became of the choices

    bool StatusShown() const;
    QString StatusText() const;
    QString StatusShownText() const;    // as displayed, after any eliding
    bool MaskShown() const;
};

// A converter window, shown, active and exposed.
std::unique_ptr<TranscoderWin> ShownWindow();
// Select's menu: its entries in order.
enum SourceMenuEntry { SourceMenuFiles = 0, SourceMenuFolder = 1 };
// Opens Select's menu and takes an entry with the keyboard.
void TakeSourceMenuEntry(WindowParts &parts, int entry);
// Picks `path` with the window's Select button, `dialogs` answering the dialog.
void ChooseSource(ScriptedDialogs &dialogs, WindowParts &parts, const QString &path);

// The status line after a conversion wrote `fileName`.
QString CompleteText(const QString &fileName);
// The failure box's message for a failure category.
QString FailureMessage(RunFailure failure);
// A report box's list, one "<name>: <line>" per entry; empty for other boxes.
QStringList ListEntries(const ConverterMsgBox *box);
// Picks several recordings at once with the window's Select button.
void ChooseSources(ScriptedDialogs &dialogs, WindowParts &parts, const QStringList &paths);

// A fresh, empty folder under the build tree for one test.
QString ScratchFolder(const QString &name);

// Bytes written so far for the output `finalPath`: the engine writes a file under a
// hidden partial name in the same folder (".<name>.<pid>.part") and gives it its
// final name only when it is complete. The largest of the two, 0 for neither.
qint64 OutputBytesSoFar(const QString &finalPath);
// Creates an empty file under every output name the window may give `sourceName` in
// `folder`, up to TranscoderWin::MaxOutputNumber; false when one cannot be made.
bool TakeEveryOutputName(const QString &folder, const QString &sourceName);
// Copies a file; false when that fails.
bool CopyFile(const QString &from, const QString &to);

// Saves a picture as screenshots/<name>.png (screenshots/2x/ for a pixel ratio of 2);
// fails the test when the file does not read back whole.
void WriteScreenshot(const QImage &image, const QString &name);
// Saves a widget's picture as screenshots/<name>.png and returns it.
QImage SaveScreenshot(QWidget *widget, const QString &name);
// `box` drawn centred over `behind`, at the pixel ratio of `behind`.
QImage CompositeScreenshot(QWidget *behind, QWidget *box);
// Saves CompositeScreenshot(behind, box) as screenshots/<name>.png.
QImage SaveCompositeScreenshot(QWidget *behind, QWidget *box, const QString &name);

// Drops `paths` onto the source field, as a file manager would.
void DropOnSource(WindowParts &parts, const QStringList &paths);
