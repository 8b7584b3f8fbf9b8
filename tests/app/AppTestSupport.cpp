#include "AppTestSupport.h"

#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "RememberedFolders.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QUrl>
#include <QDropEvent>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QMutex>
#include <QMenu>
#include <QMutexLocker>
#include <QPainter>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <QWaitCondition>

// ---- the stand-in engine -------------------------------------------------------------

namespace FakeEngine {
namespace {

QMutex s_mutex;
QWaitCondition s_wake;
int s_status = 0;
RunFailure s_failure = RunFailure::Other;
QList<RunFailure> s_results;
QList<std::vector<RunProblem>> s_problems;
int64_t s_duration = -1;
bool s_blocking = false;
bool s_released = false;
bool s_stopRequested = false;
bool s_stopSeen = false;
int s_runs = 0;
int s_finished = 0;
QByteArrayList s_lastArgv;

int Run(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    QMutexLocker lock(&s_mutex);
    ++s_runs;
    s_lastArgv.clear();
    for (int i = 0; i < argc; ++i)
        s_lastArgv.append(QByteArray(argv[i]));
    // As the engine does, a request made before the run does not stop it; the
    // observer's own stop question does.
    s_stopRequested = false;
    const auto stopAsked = [observer]() { return observer && observer->should_stop && observer->should_stop(); };
    RunProgress progress;
    progress.duration_us = s_duration;
    while (s_blocking && !s_released && !s_stopRequested && !stopAsked()) {
        // Progress at a fast pace while blocked: a tenth of the way each turn.
        if (observer && observer->on_progress && s_duration > 0 && progress.out_time_us < s_duration) {
            progress.out_time_us += s_duration / 10;
            progress.elapsed_us += 500000;
            progress.speed = double(progress.out_time_us) / double(progress.elapsed_us);
            lock.unlock();
            const bool goOn = observer->on_progress(progress);
            lock.relock();
            if (!goOn)
                break;
        }
        s_wake.wait(&s_mutex, 20);
    }
    const bool stopped = s_stopRequested || stopAsked();
    if (stopped)
        s_stopSeen = true;
    // As the engine, a last event once the loop is over, whether stopped or not.
    if (observer && observer->on_progress && s_duration > 0) {
        progress.last = true;
        lock.unlock();
        observer->on_progress(progress);
        lock.relock();
    }
    s_released = false;
    RunFailure failure = s_failure;
    int status = stopped ? 0 : s_status;
    if (!stopped && s_runs <= s_results.size()) {
        failure = s_results[s_runs - 1];
        status = failure == RunFailure::None ? 0 : -1;
    }
    if (status == 0 && !stopped && argc > 0) {
        QFile output(QString::fromUtf8(argv[argc - 1]));
        if (output.open(QIODevice::WriteOnly))
            output.close();
    }
    if (outcome) {
        *outcome = RunOutcome();
        outcome->status = status;
        outcome->end = stopped ? RunEnd::Stopped : status == 0 ? RunEnd::Completed : RunEnd::Failed;
        outcome->stop = stopped ? StopCause::Request : StopCause::None;
        outcome->failure = stopped || status == 0 ? RunFailure::None : failure;
        outcome->output_removed = stopped;
        // As the engine, the file a completed run wrote (an evidence record is
        // written beside it).
        if (outcome->end == RunEnd::Completed && argc > 0)
            outcome->outputs.push_back(argv[argc - 1]);
        if (outcome->end == RunEnd::Completed && !s_problems.isEmpty()) {
            outcome->problems = s_problems.value(s_runs - 1, s_problems.last());
            outcome->partial = !outcome->problems.empty();
        }
    }
    ++s_finished;
    return status;
}

void RequestStop()
{
    QMutexLocker lock(&s_mutex);
    s_stopRequested = true;
    s_wake.wakeAll();
}

} // namespace

void Install()
{
    QMutexLocker lock(&s_mutex);
    s_status = 0;
    s_failure = RunFailure::Other;
    s_results.clear();
    s_problems.clear();
    s_duration = -1;
    s_blocking = false;
    s_released = false;
    s_stopRequested = false;
    s_stopSeen = false;
    s_runs = 0;
    s_finished = 0;
    s_lastArgv.clear();
    TranscodeWorker::SetEngine(TranscodeWorker::Engine{Run, RequestStop});
}

void Uninstall()
{
    Release();
    TranscodeWorker::SetEngine(TranscodeWorker::DefaultEngine());
}

void SetProblems(const std::vector<RunProblem> &problems)
{
    SetRunProblems({problems});
}

void SetRunProblems(const QList<std::vector<RunProblem>> &problems)
{
    QMutexLocker lock(&s_mutex);
    s_problems = problems;
}

void SetStatus(int status)
{
    QMutexLocker lock(&s_mutex);
    s_status = status;
}

void SetFailure(RunFailure failure)
{
    QMutexLocker lock(&s_mutex);
    s_failure = failure;
}

void SetRunResults(const QList<RunFailure> &results)
{
    QMutexLocker lock(&s_mutex);
    s_results = results;
}

void SetDuration(int64_t durationUs)
{
    QMutexLocker lock(&s_mutex);
    s_duration = durationUs;
}

void SetBlocking(bool blocking)
{
    QMutexLocker lock(&s_mutex);
    s_blocking = blocking;
}

void Release()
{
    QMutexLocker lock(&s_mutex);
    s_released = true;
    s_wake.wakeAll();
}

int Runs()
{
    QMutexLocker lock(&s_mutex);
    return s_runs;
}

int FinishedRuns()
{
    QMutexLocker lock(&s_mutex);
    return s_finished;
}

bool StopRequested()
{
    QMutexLocker lock(&s_mutex);
    return s_stopSeen;
}

QByteArrayList LastArgv()
{
    QMutexLocker lock(&s_mutex);
    return s_lastArgv;
}

} // namespace FakeEngine

// ---- message boxes -----------------------------------------------------------------------

BoxAnswerer::BoxAnswerer(bool closeThroughFrame)
    : m_closeThroughFrame(closeThroughFrame)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::Poll);
    m_timer.start(10);
}

void BoxAnswerer::ScreenshotNextAs(const QString &name)
{
    m_screenshotName = name;
}

void BoxAnswerer::InspectEachWith(std::function<void(ConverterMsgBox *)> inspect)
{
    m_inspect = std::move(inspect);
}

void BoxAnswerer::AnswerWith(const QString &text)
{
    m_answer = text;
    m_answerKey = 0;    // the last answer set is the one given
}

void BoxAnswerer::AnswerWithKey(Qt::Key key)
{
    m_answerKey = key;
}

void BoxAnswerer::Poll()
{
    auto *box = qobject_cast<ConverterMsgBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    auto *label = box->findChild<VelaElideLabel *>();
    m_titles.append(box->windowTitle());
    // What the label shows: a word-wrapped message is never elided.
    m_messages.append(label ? label->text() : QString());
    m_sizes.append(box->size());
    m_labelHeights.append(label ? label->heightForWidth(label->width()) : 0);
    m_labelGeometries.append(label ? label->geometry() : QRect());
    if (label) {
        m_lineHeight = label->fontMetrics().lineSpacing();
        m_labelMinimumHeight = label->minimumHeight();
    }
    auto *mask = box->parentWidget() ? box->parentWidget()->findChild<VelaLoadingMask *>() : nullptr;
    m_maskShown.append(mask && mask->isVisible());
    if (!m_screenshotName.isEmpty() && box->parentWidget()) {
        SaveCompositeScreenshot(box->parentWidget(), box, m_screenshotName);
        m_screenshotName.clear();
    }
    if (m_inspect)
        m_inspect(box);
    if (m_closeThroughFrame) {
        box->close();
    } else if (m_answerKey != 0) {
        // A box opened with open() may be gone as soon as the key is down: no
        // nested event loop keeps it until the key comes up.
        const QPointer<ConverterMsgBox> open(box);
        QWindow *window = box->windowHandle();
        QTest::keyPress(window, Qt::Key(m_answerKey));
        if (open)
            QTest::keyRelease(window, Qt::Key(m_answerKey));
    } else if (!m_answer.isEmpty()) {
        for (VelaBaseButton *button : box->findChildren<VelaBaseButton *>()) {
            if (button->FullText() == m_answer) {
                button->click();
                break;
            }
        }
    } else {
        auto *ok = box->findChild<VelaBlueButton *>();
        if (ok)
            ok->click();
        else
            box->close();
    }
}

// ---- the window's controls -------------------------------------------------------------

WindowParts::WindowParts(TranscoderWin *w)
    : window(w)
{
    about = w->findChild<VelaIconButton *>();
    const auto fields = w->findChildren<VelaLineEdit *>();
    source = fields.value(0);
    destination = fields.value(1);
    // The captions beside the fields; the status line has a label of its own.
    QList<VelaElideLabel *> captions;
    for (VelaElideLabel *label : w->findChildren<VelaElideLabel *>()) {
        if (source && label->parentWidget() == source->parentWidget())
            captions.append(label);
    }
    sourceCaption = captions.value(0);
    destinationCaption = captions.value(1);
    const auto buttons = w->findChildren<VelaFileButton *>();
    sourceButton = buttons.value(0);
    destinationButton = buttons.value(1);
    bar = w->findChild<VelaBottomBar *>();
    ok = bar ? qobject_cast<QAbstractButton *>(bar->button(VelaBottomBar::Ok)) : nullptr;
    mask = w->findChild<VelaLoadingMask *>();
    progressBox = mask ? mask->LoadingWidget() : nullptr;
    options = w->findChild<ConversionOptions *>();
    keepVideo = options ? options->KeepVideoBox() : nullptr;
    evidence = options ? options->EvidenceBox() : nullptr;
    join = options ? options->JoinBox() : nullptr;
    time = options ? options->TimeBox() : nullptr;
    choiceNotes = w->findChild<VelaNoteLabel *>();
}

bool WindowParts::StatusShown() const
{
    return bar->StatusWidget()->isVisible();
}

QString WindowParts::StatusText() const
{
    return bar->StatusWidget()->Text();
}

QString WindowParts::StatusShownText() const
{
    auto *label = bar->StatusWidget()->findChild<VelaElideLabel *>();
    return label ? label->text() : QString();
}

bool WindowParts::MaskShown() const
{
    return mask->isVisible();
}

QString CompleteText(const QString &fileName)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_WRITTEN_FILE).arg(fileName);
}

QString FailureMessage(RunFailure failure)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED) + QLatin1Char('\n')
           + ConversionTexts::FailureReason(failure);
}

QStringList ListEntries(const ConverterMsgBox *box)
{
    QStringList entries;
    if (!box || !box->List())
        return entries;
    const auto names = box->List()->widget()->findChildren<VelaElideLabel *>(QStringLiteral("ListEntryName"));
    const auto lines = box->List()->widget()->findChildren<QLabel *>(QStringLiteral("ListEntryLine"));
    for (int i = 0; i < names.size() && i < lines.size(); ++i)
        entries.append(names[i]->FullText() + QStringLiteral(": ") + lines[i]->text());
    return entries;
}

void ChooseSources(ScriptedDialogs &dialogs, WindowParts &parts, const QStringList &paths)
{
    dialogs.files = paths;
    TakeSourceMenuEntry(parts, SourceMenuFiles);
    dialogs.files.clear();
}

// ---- files and screenshots -----------------------------------------------------------

QString ScratchFolder(const QString &name)
{
    // The 1x and 2x runs of the tests may run at the same time: one root each.
    const QString root = QStringLiteral(WVC_APP_SCRATCH_DIR) + (qApp->devicePixelRatio() > 1.0 ? "/2x" : "/1x");
    QDir folder(root + QLatin1Char('/') + name);
    folder.removeRecursively();
    QDir().mkpath(folder.path());
    return folder.path();
}

qint64 OutputBytesSoFar(const QString &finalPath)
{
    const QFileInfo final(finalPath);
    qint64 bytes = final.size();
    const QStringList partials = final.dir().entryList({QLatin1Char('.') + final.fileName() + QStringLiteral(".*.part")},
                                                       QDir::Files | QDir::Hidden);
    for (const QString &name : partials)
        bytes = qMax(bytes, QFileInfo(final.dir(), name).size());
    return bytes;
}

bool TakeEveryOutputName(const QString &folder, const QString &sourceName)
{
    for (int n = 0; n <= TranscoderWin::MaxOutputNumber; ++n) {
        QFile file(folder + QLatin1Char('/') + TranscoderWin::OutputName(sourceName, n));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

bool CopyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

namespace {

// screenshots/2x on a display of pixel ratio 2.
QString ScreenshotPath(const QString &name, qreal devicePixelRatio)
{
    QString folder = QStringLiteral(WVC_SCREENSHOT_DIR);
    if (devicePixelRatio > 1.0)
        folder += QStringLiteral("/2x");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name + QStringLiteral(".png");
}

} // namespace

void WriteScreenshot(const QImage &image, const QString &name)
{
    // Read back: a write cut short (a full disk, a file-size limit) can still report
    // success, since the last buffered bytes are lost only when the file is closed.
    const QString path = ScreenshotPath(name, image.devicePixelRatio());
    const bool saved = image.save(path);
    const QImage written(path);
    QVERIFY2(saved && !written.isNull() && written.size() == image.size(),
             qPrintable(QStringLiteral("screenshot not saved whole: ") + path));
}

QImage SaveScreenshot(QWidget *widget, const QString &name)
{
    QApplication::processEvents();
    const QImage image = widget->grab().toImage();
    WriteScreenshot(image, name);
    return image;
}

QImage CompositeScreenshot(QWidget *behind, QWidget *box)
{
    QImage back = behind->grab().toImage();
    QImage front = box->grab().toImage();
    const qreal ratio = back.devicePixelRatio();
    // Composed in device pixels.
    back.setDevicePixelRatio(1.0);
    front.setDevicePixelRatio(1.0);
    // The box over the window as a user sees it, with a margin so that the box's
    // edges show where it extends beyond the window.
    const int margin = qRound(20 * ratio);
    const QSize size(qMax(back.width(), front.width()) + 2 * margin,
                     qMax(back.height(), front.height()) + 2 * margin);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&image);
    painter.drawImage((size.width() - back.width()) / 2, (size.height() - back.height()) / 2, back);
    const QRect frame((size.width() - front.width()) / 2, (size.height() - front.height()) / 2, front.width(),
                      front.height());
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(frame.adjusted(-1, -1, 0, 0));
    painter.drawImage(frame.topLeft(), front);
    painter.end();
    // Saved at the window's pixel ratio (the 2x folder on a doubled display).
    image.setDevicePixelRatio(ratio);
    return image;
}

QImage SaveCompositeScreenshot(QWidget *behind, QWidget *box, const QString &name)
{
    const QImage image = CompositeScreenshot(behind, box);
    WriteScreenshot(image, name);
    return image;
}

std::unique_ptr<TranscoderWin> ShownWindow()
{
    // Each test starts with no folder remembered from the tests before it (the
    // settings are the test process's own).
    QSettings().remove(QLatin1String(RememberedFolders::SourceKey));
    QSettings().remove(QLatin1String(RememberedFolders::DestinationKey));
    auto window = std::make_unique<TranscoderWin>();
    window->show();
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

void ChooseSource(ScriptedDialogs &dialogs, WindowParts &parts, const QString &path)
{
    dialogs.file = path;
    TakeSourceMenuEntry(parts, SourceMenuFiles);
}

void TakeSourceMenuEntry(WindowParts &parts, int entry)
{
    // As a user does: Select opens its menu, Return takes the entry marked.
    parts.sourceButton->click();
    QMenu *menu = parts.sourceButton->ChoiceMenu();
    if (!menu || !QTest::qWaitForWindowExposed(menu)) {
        qWarning("Select opened no menu");
        return;
    }
    menu->setActiveAction(menu->actions().value(entry));
    QTest::keyClick(menu, Qt::Key_Return);
}

// Drops `paths` onto the source field, as a file manager would.
void DropOnSource(WindowParts &parts, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    const QPoint at = parts.source->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &dropped);
}
