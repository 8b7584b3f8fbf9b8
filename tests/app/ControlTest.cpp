// Following and controlling a conversion from the window. The stand-in engine runs the
// conversions: it blocks until released or stopped and, given a duration, reports
// progress meanwhile.
#include "ControlTest.h"

#include "AppTestSupport.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "RecordingQueue.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"
#include "fixture_gen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

Q_DECLARE_METATYPE(RunProblem)

namespace {

// Records the folders the window asks to open instead of opening them, and puts
// the opener before it back when it goes (also when a check ends the test early).
struct FolderOpenings {
    FolderOpenings()
        : previous(TranscoderWin::SetFolderOpener([this](const QUrl &folder) {
            folders.append(folder);
            return true;
        }))
    {
    }
    ~FolderOpenings() { TranscoderWin::SetFolderOpener(previous); }
    FolderOpenings(const FolderOpenings &) = delete;
    FolderOpenings &operator=(const FolderOpenings &) = delete;

    QList<QUrl> folders;
    TranscoderWin::FolderOpener previous;
};

ScriptedDialogs s_dialogs;

constexpr qint64 Second = 1000000;

QString Cancelled()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CANCELLED);
}

QString Converting()
{
    return ConversionTexts::ConvertingTitle();
}

void Touch(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.close();
}

// Types a key as a user does: into the window, which hands it to its focus widget.
void TypeIntoWindow(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

// A window whose source (folder/clip.ts) and destination are filled, converting with
// the stand-in engine blocked.
std::unique_ptr<TranscoderWin> ConvertingWindow(const QString &folderName, WindowParts **parts)
{
    auto window = ShownWindow();
    *parts = new WindowParts(window.get());
    ChooseSource(s_dialogs, **parts, ScratchFolder(folderName) + QStringLiteral("/clip.ts"));
    FakeEngine::SetBlocking(true);
    (*parts)->ok->click();
    return window;
}

RunProgress Progress(qint64 out, qint64 duration, qint64 elapsed, double speed, bool last = false)
{
    RunProgress progress;
    progress.out_time_us = out;
    progress.duration_us = duration;
    progress.elapsed_us = elapsed;
    progress.speed = speed;
    progress.last = last;
    return progress;
}

// The last event of an MPEG-2/MP2 transport stream's run: its streams end 6 us short
// of the length probed from the container.
RunProgress TsEndProgress()
{
    return Progress(30014694, 30014700, 12 * Second, 2.5, true);
}

} // namespace

void ControlTest::init()
{
    FakeEngine::Install();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
    s_dialogs.file.clear();
    s_dialogs.folder.clear();
}

void ControlTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
}

void ControlTest::progressTextsTellShareTimesAndSpeed_data()
{
    QTest::addColumn<RunProgress>("progress");
    QTest::addColumn<bool>("stopAsked");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detail");

    QTest::newRow("half way") << Progress(30 * Second, 60 * Second, 12500000, 2.4) << false << 50
                              << "Converting... 50%" << "0:12 elapsed  \u00b7  0:12 left  \u00b7  2.4x";
    QTest::newRow("first event, speed not known yet")
        << Progress(0, 60 * Second, Second / 2, 0) << false << 0 << "Converting... 0%" << "0:00 elapsed";
    QTest::newRow("whole duration before the last event stays below 100")
        << Progress(60 * Second, 60 * Second, 25 * Second, 2.4) << false << 99 << "Converting... 99%"
        << "0:25 elapsed  \u00b7  0:00 left  \u00b7  2.4x";
    QTest::newRow("past the duration before the last event stays below 100")
        << Progress(61 * Second, 60 * Second, 25 * Second, 2.4) << false << 99 << "Converting... 99%"
        << "0:25 elapsed  \u00b7  0:00 left  \u00b7  2.4x";
    QTest::newRow("last event just short of the probed length is 100")
        << TsEndProgress() << false << 100 << "Converting... 100%" << "0:12 elapsed  \u00b7  0:00 left  \u00b7  2.5x";
    QTest::newRow("last event well short of the probed length is 100")
        << Progress(28 * Second, 30 * Second, 12 * Second, 2.3, true) << false << 100 << "Converting... 100%"
        << "0:12 elapsed  \u00b7  0:00 left  \u00b7  2.3x";
    QTest::newRow("last event of a stopped run keeps its share")
        << Progress(12 * Second, 30 * Second, 5 * Second, 2.4, true) << true << 40 << "Converting... 40%"
        << "0:05 elapsed  \u00b7  0:07 left  \u00b7  2.4x";
    QTest::newRow("length unknown: time converted instead")
        << Progress(75 * Second, -1, 30 * Second, 2.5) << false << -1 << "Converting..."
        << "1:15 converted  \u00b7  0:30 elapsed  \u00b7  2.5x";
    QTest::newRow("beyond an hour") << Progress(3600 * Second, 7200 * Second, 3723 * Second, 0.97) << false << 50
                                    << "Converting... 50%" << "1:02:03 elapsed  \u00b7  1:01:51 left  \u00b7  1.0x";
    // The share is the whole percents done: a microsecond short of 1 % is 0 %,
    // and of 99 % is 98 %.
    QTest::newRow("just short of 1 percent") << Progress(600 * Second / 1000 - 1, 60 * Second, Second, 1.0) << false
                                             << 0 << "Converting... 0%" << "0:01 elapsed  \u00b7  0:59 left  \u00b7  1.0x";
    QTest::newRow("1 percent") << Progress(600 * Second / 1000, 60 * Second, Second, 1.0) << false << 1
                               << "Converting... 1%" << "0:01 elapsed  \u00b7  0:59 left  \u00b7  1.0x";
    QTest::newRow("just short of 99 percent")
        << Progress(59400 * Second / 1000 - 1, 60 * Second, Second, 1.0) << false << 98 << "Converting... 98%"
        << "0:01 elapsed  \u00b7  0:00 left  \u00b7  1.0x";
    QTest::newRow("99 percent") << Progress(59400 * Second / 1000, 60 * Second, Second, 1.0) << false << 99
                                << "Converting... 99%" << "0:01 elapsed  \u00b7  0:00 left  \u00b7  1.0x";
    QTest::newRow("a time before the start counts as none")
        << Progress(-Second, 60 * Second, Second, 0) << false << 0 << "Converting... 0%" << "0:01 elapsed";
    QTest::newRow("a length of zero is unknown") << Progress(Second, 0, Second, 1.0) << false << -1 << "Converting..."
                                                 << "0:01 converted  \u00b7  0:01 elapsed  \u00b7  1.0x";
    QTest::newRow("time left at the pace so far")
        << Progress(30 * Second, 60 * Second, 10 * Second, 0.5) << false << 50 << "Converting... 50%"
        << "0:10 elapsed  \u00b7  1:00 left  \u00b7  0.5x";
}

void ControlTest::clockTextTurnsAtTheMinuteAndTheHour_data()
{
    QTest::addColumn<qint64>("microseconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("before the start") << qint64(-1) << "0:00";
    QTest::newRow("nothing yet") << qint64(0) << "0:00";
    QTest::newRow("just short of a second") << Second - 1 << "0:00";
    QTest::newRow("a second") << Second << "0:01";
    QTest::newRow("just short of a minute") << 60 * Second - 1 << "0:59";
    QTest::newRow("a minute") << 60 * Second << "1:00";
    QTest::newRow("just short of an hour") << 3600 * Second - 1 << "59:59";
    QTest::newRow("an hour") << 3600 * Second << "1:00:00";
    QTest::newRow("ten hours and a bit") << 36061 * Second << "10:01:01";
}

void ControlTest::clockTextTurnsAtTheMinuteAndTheHour()
{
    QFETCH(qint64, microseconds);
    QFETCH(QString, text);

    QCOMPARE(ConversionTexts::ClockText(microseconds), text);
}

void ControlTest::progressTextsTellShareTimesAndSpeed()
{
    QFETCH(RunProgress, progress);
    QFETCH(bool, stopAsked);
    QFETCH(int, percent);
    QFETCH(QString, title);
    QFETCH(QString, detail);

    const ConversionTexts::ProgressView view = ConversionTexts::DescribeProgress(progress, stopAsked);
    QCOMPARE(view.percent, percent);
    QCOMPARE(view.title, title);
    QCOMPARE(view.detail, detail);
}

void ControlTest::progressBoxFollowsTheRun()
{
    FakeEngine::SetDuration(20 * Second);
    WindowParts *rawParts = nullptr;
    auto window = ConvertingWindow(QStringLiteral("control_progress"), &rawParts);
    std::unique_ptr<WindowParts> parts(rawParts);
    auto *bar = parts->progressBox->findChild<QProgressBar *>();
    QVERIFY(bar);
    QList<int> shown;
    connect(bar, &QProgressBar::valueChanged, this, [&shown](int value) { shown.append(value); });
    QVERIFY(parts->progressBox->isVisible());
    QCOMPARE(parts->progressBox->Text(), Converting());

    // Converted up to the whole length, but the run has not ended yet.
    QTRY_COMPARE(parts->progressBox->Progress(), 99);
    QVERIFY(!shown.isEmpty());
    for (int i = 1; i < shown.size(); ++i)
        QVERIFY2(shown[i] >= shown[i - 1], qPrintable(QString::number(shown[i])));
    QCOMPARE(parts->progressBox->Text(), Converting() + QStringLiteral(" 99%"));
    QVERIFY(parts->progressBox->Detail().contains(QStringLiteral("elapsed")));

    // The picture for the eye: a run at 42 %, as the engine would report it.
    QMetaObject::invokeMethod(window.get(), "SlotProgress",
                              Q_ARG(RunProgress, Progress(42 * Second, 100 * Second, 47 * Second, 2.4)));
    QCOMPARE(parts->progressBox->Progress(), 42);
    SaveScreenshot(window.get(), QStringLiteral("app_progress"));
    QMetaObject::invokeMethod(window.get(), "SlotProgress",
                              Q_ARG(RunProgress, Progress(95 * Second, -1, 38 * Second, 2.5)));
    QCOMPARE(parts->progressBox->Progress(), -1);
    SaveScreenshot(window.get(), QStringLiteral("app_progress_unknown_length"));

    // The run's last event: the box says 100 % as the mask goes.
    FakeEngine::Release();
    QTRY_VERIFY(!parts->MaskShown());
    QCOMPARE(parts->StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
    QCOMPARE(shown.last(), 100);
    QCOMPARE(parts->progressBox->Text(), Converting() + QStringLiteral(" 100%"));
}

void ControlTest::lastEventIsWholeUnlessTheRunWasStopped_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("percent");
    QTest::newRow("run not stopped") << false << 100;
    QTest::newRow("run cancelled") << true << 99;
}

void ControlTest::lastEventIsWholeUnlessTheRunWasStopped()
{
    QFETCH(bool, cancel);
    QFETCH(int, percent);

    WindowParts *rawParts = nullptr;
    auto window = ConvertingWindow(QStringLiteral("control_last_event"), &rawParts);
    std::unique_ptr<WindowParts> parts(rawParts);
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    if (cancel)
        parts->progressBox->CancelButton()->click();
    // The figures the engine's last event brings, as the worker forwards them.
    QMetaObject::invokeMethod(window.get(), "SlotProgress", Q_ARG(RunProgress, TsEndProgress()));
    QCOMPARE(parts->progressBox->Progress(), percent);
    QCOMPARE(parts->progressBox->Text(), Converting() + QStringLiteral(" %1%").arg(percent));
    FakeEngine::Release();
    QTRY_VERIFY(!window->IsConverting());
}

void ControlTest::cancelOrEscapeEndsTheRunAsCancelled_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("Esc typed into the window") << "esc-window";
    QTest::newRow("Esc sent to a covered field") << "esc-field";
}

void ControlTest::cancelOrEscapeEndsTheRunAsCancelled()
{
    QFETCH(QString, how);

    WindowParts *rawParts = nullptr;
    auto window = ConvertingWindow(QStringLiteral("control_cancel"), &rawParts);
    std::unique_ptr<WindowParts> parts(rawParts);
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    BoxAnswerer answerer;
    if (how == QLatin1String("cancel"))
        parts->progressBox->CancelButton()->click();
    else if (how == QLatin1String("esc-window"))
        TypeIntoWindow(window.get(), Qt::Key_Escape);
    else
        QTest::keyClick(parts->source, Qt::Key_Escape);

    QTRY_VERIFY(!parts->MaskShown());
    QVERIFY(FakeEngine::StopRequested());
    QCOMPARE(FakeEngine::FinishedRuns(), 1);
    QVERIFY(parts->StatusShown());
    QCOMPARE(parts->StatusText(), Cancelled());
    QCOMPARE(parts->bar->StatusWidget()->Style(), QStringLiteral("Info")); // not shown as an error
    QVERIFY(answerer.Messages().isEmpty());    // no failure box
    QVERIFY(!parts->bar->StatusWidget()->IsClickable());
    if (how == QLatin1String("cancel"))
        SaveScreenshot(window.get(), QStringLiteral("app_cancelled"));

    // The next conversion is not stopped by the request of the last one.
    FakeEngine::SetBlocking(false);
    parts->ok->click();
    QTRY_COMPARE(parts->StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
}

void ControlTest::closeQuestionKeepsOrStopsTheConversion_data()
{
    QTest::addColumn<QString>("answer");    // a button's text, or "Esc"
    QTest::addColumn<bool>("stops");

    QTest::newRow("keep converting") << TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_KEEP) << false;
    QTest::newRow("Esc keeps converting") << "Esc" << false;
    QTest::newRow("stop and close") << TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP) << true;
}

void ControlTest::closeQuestionKeepsOrStopsTheConversion()
{
    QFETCH(QString, answer);
    QFETCH(bool, stops);

    WindowParts *rawParts = nullptr;
    auto window = ConvertingWindow(QStringLiteral("control_close"), &rawParts);
    std::unique_ptr<WindowParts> parts(rawParts);
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    BoxAnswerer answerer;
    if (answer == QLatin1String("Esc"))
        answerer.AnswerWithKey(Qt::Key_Escape);
    else
        answerer.AnswerWith(answer);
    if (stops)
        answerer.ScreenshotNextAs(QStringLiteral("app_close_question"));
    window->close();
    // The question does not hold up the caller: it is answered from the event loop.
    QTRY_COMPARE(answerer.Messages(), QStringList{TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_QUESTION)});
    QTRY_COMPARE(window->isVisible(), !stops);

    if (!stops) {
        // Nothing changed: the run goes on under the mask and ends as usual.
        QTest::qWait(100);
        QVERIFY(!FakeEngine::StopRequested());
        QVERIFY(parts->MaskShown());
        QVERIFY(window->IsConverting());
        FakeEngine::Release();
        QTRY_COMPARE(parts->StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
        return;
    }
    window.reset();
    QVERIFY(FakeEngine::StopRequested());
    QCOMPARE(FakeEngine::FinishedRuns(), 1);
}

void ControlTest::keysUnderTheMaskChangeNothing()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_keys"));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/clip.ts"));
    FakeEngine::SetBlocking(true);
    parts.destination->setFocus();
    QCOMPARE(QApplication::focusWidget(), parts.destination);
    TypeIntoWindow(window.get(), Qt::Key_Return);
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QVERIFY(parts.MaskShown());

    // Typed into the window, sent straight to the fields, editing keys, Tab, Enter.
    for (Qt::Key key : {Qt::Key_X, Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Z,
                        Qt::Key_Return})
        TypeIntoWindow(window.get(), key);
    TypeIntoWindow(window.get(), Qt::Key_A, Qt::ControlModifier);
    TypeIntoWindow(window.get(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClicks(parts.destination, QStringLiteral("typed"));
    QTest::keyClick(parts.source, Qt::Key_Backspace);
    QCOMPARE(parts.source->text(), folder + QStringLiteral("/clip.ts"));
    QCOMPARE(parts.destination->text(), folder);
    QVERIFY(parts.mask->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == parts.mask);
    QCOMPARE(FakeEngine::Runs(), 1);
    QVERIFY(!FakeEngine::StopRequested());

    // Once the mask is gone the field has the keyboard back.
    FakeEngine::Release();
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(QApplication::focusWidget(), parts.destination);
    TypeIntoWindow(window.get(), Qt::Key_End);
    TypeIntoWindow(window.get(), Qt::Key_X);
    QCOMPARE(parts.destination->text(), folder + QStringLiteral("x"));
}

void ControlTest::enterInAFieldStartsOnlyWhenOkIsEnabled()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_enter"));
    parts.source->setFocus();
    QTest::keyClicks(parts.source, folder + QStringLiteral("/clip.ts"));
    TypeIntoWindow(window.get(), Qt::Key_Return);
    QVERIFY(!parts.ok->isEnabled());
    QCOMPARE(FakeEngine::Runs(), 0);

    parts.destination->setFocus();
    QTest::keyClicks(parts.destination, folder);
    TypeIntoWindow(window.get(), Qt::Key_Enter);
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
    QCOMPARE(FakeEngine::Runs(), 1);
}

void ControlTest::messageBoxClosesWithEnterSpaceOrEscape_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
}

void ControlTest::messageBoxClosesWithEnterSpaceOrEscape()
{
    QFETCH(int, key);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    BoxAnswerer answerer;
    answerer.AnswerWithKey(Qt::Key(key));
    parts.about->click();    // returns once the box is closed
    QCOMPARE(answerer.Messages().size(), 1);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!parts.MaskShown());
}

void ControlTest::completedStatusNamesTheFileAndOpensItsFolder()
{
    FolderOpenings opened;
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_done"));
    Touch(folder + QStringLiteral("/cam01_converted.mp4"));
    Touch(folder + QStringLiteral("/cam01_converted_1.mp4"));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/cam01.ts"));
    parts.ok->click();
    QTRY_VERIFY(!parts.MaskShown());

    VelaStatusWidget *status = parts.bar->StatusWidget();
    QCOMPARE(parts.StatusText(), QStringLiteral("Conversion complete: cam01_converted_2.mp4"));
    QCOMPARE(parts.StatusShownText(), parts.StatusText());
    QCOMPARE(status->toolTip(), folder + QStringLiteral("/cam01_converted_2.mp4"));
    QVERIFY(status->IsClickable());
    SaveScreenshot(window.get(), QStringLiteral("app_done_named"));
    QTest::mouseClick(status->findChild<QWidget *>(QString(), Qt::FindDirectChildrenOnly), Qt::LeftButton);
    QTest::mouseClick(status, Qt::LeftButton);
    QCOMPARE(opened.folders, (QList<QUrl>{QUrl::fromLocalFile(folder), QUrl::fromLocalFile(folder)}));

    // The status speaks of the fields as they were: an edit clears it.
    parts.source->setFocus();
    QTest::keyClick(parts.source, Qt::Key_End);
    QTest::keyClick(parts.source, Qt::Key_Backspace);
    QVERIFY(!parts.StatusShown());
    QVERIFY(!status->IsClickable());
}

namespace {

RunProblem Problem(RunProblemKind kind, int64_t a, int64_t b = 0, const char *detail = "")
{
    RunProblem problem;
    problem.kind = kind;
    problem.a = a;
    problem.b = b;
    problem.detail = detail;
    return problem;
}

} // namespace

void ControlTest::problemTextsNameEachProblem_data()
{
    QTest::addColumn<RunProblem>("problem");
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << Problem(RunProblemKind::ShortOfDeclaredLength, 3999999, 8000000)
                           << QStringLiteral("only 0:03 of 0:08 could be read");
    QTest::newRow("short of hours") << Problem(RunProblemKind::ShortOfDeclaredLength, 3600000000, 7260000000)
                                    << QStringLiteral("only 1:00:00 of 2:01:00 could be read");
    QTest::newRow("reading stopped") << Problem(RunProblemKind::ReadingStoppedEarly, 449, 1000)
                                     << QStringLiteral("reading stopped at 44% of the file");
    QTest::newRow("damaged") << Problem(RunProblemKind::DamagedPackets, 12)
                             << QStringLiteral("damaged data in 12 places");
    QTest::newRow("decode errors") << Problem(RunProblemKind::DecodeErrors, 5)
                                   << QStringLiteral("5 pictures or sound blocks could not be decoded");
    QTest::newRow("video left out") << Problem(RunProblemKind::StreamLeftOut, 0, 0, "video")
                                    << QStringLiteral("the video is left out");
    QTest::newRow("sound left out") << Problem(RunProblemKind::StreamLeftOut, 1, 0, "audio")
                                    << QStringLiteral("the sound is left out");
    QTest::newRow("gap") << Problem(RunProblemKind::TimelineGap, 7200000000, 6000000)
                         << QStringLiteral("the time jumps by 2:00:00 at 0:06; the gap is not kept");
}

void ControlTest::problemTextsNameEachProblem()
{
    QFETCH(RunProblem, problem);
    QFETCH(QString, text);
    QCOMPARE(ConversionTexts::ProblemText(problem), text);
}

void ControlTest::partialRunIsAWarningWithItsProblemsOnHover()
{
    FolderOpenings opened;
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_partial"));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/cam01.ts"));
    FakeEngine::SetProblems({Problem(RunProblemKind::ShortOfDeclaredLength, 3000000, 8000000),
                             Problem(RunProblemKind::DamagedPackets, 12)});
    parts.ok->click();
    QTRY_VERIFY(!parts.MaskShown());

    VelaStatusWidget *status = parts.bar->StatusWidget();
    // Never the plain "Conversion complete".
    QCOMPARE(parts.StatusText(), QStringLiteral("Converted with problems: only 0:03 of 0:08 could be read"));
    QCOMPARE(status->Style(), QStringLiteral("Warning"));
    QCOMPARE(status->toolTip(), folder + QStringLiteral("/cam01_converted.mp4\nonly 0:03 of 0:08 could be read\n"
                                                        "damaged data in 12 places"));
    QVERIFY(status->IsClickable());
    SaveScreenshot(window.get(), QStringLiteral("app_partial"));
    QTest::mouseClick(status, Qt::LeftButton);
    QCOMPARE(opened.folders, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

void ControlTest::queueSummaryListsPartialAndSkippedFilesApartFromFailures()
{
    // A dropped folder: two recordings, a text file named like one, a note.
    const QString folder = ScratchFolder(QStringLiteral("control_partial_queue"));
    for (const char *name : {"/a.ts", "/b.ts"})
        QVERIFY(QFile::copy(QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs)),
                            folder + QLatin1String(name)));
    for (const char *name : {"/c.ts", "/notes.txt"}) {
        QFile text(folder + QLatin1String(name));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Camera 7, north gate.\n");
    }
    auto window = ShownWindow();
    WindowParts parts(window.get());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder)});
    QDropEvent dropped(parts.source->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDragEnterEvent enter(parts.source->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &enter);
    QApplication::sendEvent(parts.source, &dropped);
    QTRY_COMPARE(window->QueuedSources().size(), 2);

    const RunProblem shortRun = Problem(RunProblemKind::ShortOfDeclaredLength, 1000000, 2000000);
    FakeEngine::SetRunResults({RunFailure::SourceUnreadable, RunFailure::None});
    FakeEngine::SetProblems({shortRun});
    QStringList entries;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) { entries = ListEntries(box); });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QTRY_VERIFY(!parts.MaskShown());

    QCOMPARE(answerer.Messages().first(),
             ConversionTexts::QueueOthers(1) + QLatin1Char('\n') + ConversionTexts::QueueSummary(1, 2, false));
    QCOMPARE(entries, (QStringList{
                          QStringLiteral("a.ts: ") + ConversionTexts::FailureReason(RunFailure::SourceUnreadable),
                          QStringLiteral("b.ts: Converted with problems: only 0:01 of 0:02 could be read"),
                          QStringLiteral("c.ts: Skipped: not a video file"),
                      }));
    QCOMPARE(parts.StatusText(), QStringLiteral("1 of 2 recordings converted  \u00b7  1 with problems"));
    QCOMPARE(parts.bar->StatusWidget()->Style(), QStringLiteral("Warning"));
}

void ControlTest::destinationFollowsTheSourceUntilEdited_data()
{
    // How the destination is touched between choosing /rec/a/x.ts and /rec/b/y.ts.
    QTest::addColumn<QString>("between");
    QTest::addColumn<QString>("finalDestination");

    QTest::newRow("untouched: follows the source") << "" << "/rec/b";
    QTest::newRow("typed into: stays") << "type" << "/rec/a2";
    QTest::newRow("chosen with its button: stays") << "choose" << "/exports";
}

void ControlTest::destinationFollowsTheSourceUntilEdited()
{
    QFETCH(QString, between);
    QFETCH(QString, finalDestination);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, QStringLiteral("/rec/a/x.ts"));
    QCOMPARE(parts.destination->text(), QStringLiteral("/rec/a"));
    if (between == QLatin1String("type")) {
        parts.destination->setFocus();
        QTest::keyClick(parts.destination, Qt::Key_End);
        QTest::keyClick(parts.destination, Qt::Key_2);
    } else if (between == QLatin1String("choose")) {
        s_dialogs.folder = QStringLiteral("/exports");
        parts.destinationButton->click();
    }
    ChooseSource(s_dialogs, parts, QStringLiteral("/rec/b/y.ts"));
    QCOMPARE(parts.destination->text(), finalDestination);
    // Each field tells its whole path, however narrow it is.
    QCOMPARE(parts.source->toolTip(), QStringLiteral("/rec/b/y.ts"));
    QCOMPARE(parts.destination->toolTip(), finalDestination);
}

void ControlTest::droppedRecordingBecomesTheSource()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_drop"));
    const QString recording = folder + QStringLiteral("/door 2.ts");
    Touch(recording);

    const auto drop = [&](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        // Onto the source field, as a user aims: the window takes it.
        const QPoint at = parts.source->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(parts.source, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(parts.source, &dropped);
        return dropped.isAccepted();
    };
    QVERIFY(!drop({QUrl(QStringLiteral("https://example.org/door.ts"))}));    // not a local file
    QVERIFY(parts.source->text().isEmpty());
    QVERIFY(drop({QUrl::fromLocalFile(recording)}));
    QCOMPARE(parts.source->text(), recording);
    QCOMPARE(parts.destination->text(), folder);
    QVERIFY(parts.ok->isEnabled());
    // The same file twice is one recording: the single-file flow.
    parts.source->clear();
    QVERIFY(drop({QUrl::fromLocalFile(recording), QUrl::fromLocalFile(recording)}));
    QCOMPARE(parts.source->text(), recording);
    QVERIFY(window->QueuedSources().isEmpty());

    // A folder is searched for recordings; the empty file in this one is none,
    // and as its name looks like a recording's, the window names it.
    QStringList entries;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) { entries = ListEntries(box); });
    QVERIFY(drop({QUrl::fromLocalFile(folder)}));
    const QString none = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_NONE_FOUND);
    QTRY_COMPARE(parts.StatusText(), none);
    QTRY_COMPARE(answerer.Messages(), QStringList{none});
    QCOMPARE(entries, QStringList{QStringLiteral("door 2.ts: ") + ConversionTexts::SkippedReason(SkipReason::NotMedia)});
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(parts.source->text(), recording);
}

void ControlTest::terminationSignalStopsTheRunAndQuits_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void ControlTest::terminationSignalStopsTheRunAndQuits()
{
    QFETCH(int, signal);

    QList<int> exitCodes;
    const TranscoderWin::QuitHook previous =
        TranscoderWin::SetQuitHook([&exitCodes](int exitCode) { exitCodes.append(exitCode); });
    WindowParts *rawParts = nullptr;
    auto window = ConvertingWindow(QStringLiteral("control_signal"), &rawParts);
    std::unique_ptr<WindowParts> parts(rawParts);
    QTRY_COMPARE(FakeEngine::Runs(), 1);

    QCOMPARE(kill(getpid(), signal), 0);
    QTRY_COMPARE(exitCodes, QList<int>{128 + signal});
    QTRY_VERIFY(!parts->MaskShown());
    QVERIFY(FakeEngine::StopRequested());
    QVERIFY(parts->StatusText() != CompleteText(QStringLiteral("clip_converted.mp4")));
    QVERIFY(!QFile::exists(QFileInfo(parts->source->text()).path() + QStringLiteral("/clip_converted.mp4")));
    TranscoderWin::SetQuitHook(previous);
}

namespace {

// A window whose source field holds `count` recordings folder/cam01.ts, cam02.ts, ...
// (they need not exist for the stand-in engine).
QStringList ChooseQueue(WindowParts &parts, const QString &folder, int count)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i)
        paths.append(folder + QStringLiteral("/cam%1.ts").arg(i, 2, 10, QLatin1Char('0')));
    ChooseSources(s_dialogs, parts, paths);
    return paths;
}

} // namespace

void ControlTest::queueShareWeighsRecordingsByLength_data()
{
    // Lengths in seconds (-1: unknown); the first `finished` recordings converted, the
    // next one at `reached` seconds (its length told by its progress when `told`).
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<int>("finished");
    QTest::addColumn<int>("reached");
    QTest::addColumn<int>("told");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("leftAfter40s");    // -1: not known yet

    QTest::newRow("nothing done yet") << QList<int>{10, 10} << 0 << 0 << -1 << 0 << qint64(-1);
    QTest::newRow("a short one done, a long one half way")
        << QList<int>{10, 30} << 1 << 15 << -1 << 62 << qint64(24 * Second);
    QTest::newRow("unknown lengths count as the average known")
        << QList<int>{10, -1, -1, -1} << 1 << 0 << -1 << 25 << qint64(120 * Second);
    QTest::newRow("a length told by the run's progress")
        << QList<int>{10, -1} << 1 << 15 << 30 << 62 << qint64(24 * Second);
    QTest::newRow("no length known: by files")
        << QList<int>{-1, -1, -1, -1} << 2 << 5 << -1 << 50 << qint64(40 * Second);
}

void ControlTest::queueShareWeighsRecordingsByLength()
{
    QFETCH(QList<int>, lengths);
    QFETCH(int, finished);
    QFETCH(int, reached);
    QFETCH(int, told);
    QFETCH(int, percent);
    QFETCH(qint64, leftAfter40s);

    RecordingList recordings;
    for (int length : lengths) {
        QueuedRecording recording;
        recording.source = QStringLiteral("/rec/cam.ts");
        recording.durationUs = length < 0 ? -1 : length * Second;
        recordings.append(recording);
    }
    RecordingQueue queue;
    queue.Set(recordings);
    queue.Start();
    RunOutcome converted;
    converted.end = RunEnd::Completed;
    for (int i = 0; i < finished; ++i) {
        queue.Finish(converted);
        QVERIFY(queue.Advance());
    }
    if (reached > 0 || told > 0)
        queue.NoteProgress(Progress(reached * Second, told < 0 ? -1 : told * Second, Second, 1.0));
    QCOMPARE(queue.OverallPercent(), percent);
    const qint64 left = queue.RemainingUs(40 * Second);
    QVERIFY2(leftAfter40s < 0 ? left < 0 : qAbs(left - leftAfter40s) < Second, qPrintable(QString::number(left)));
}

void ControlTest::queueBoxTellsPositionNameAndOverallShare()
{
    FolderOpenings opened;
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_queue"));
    const QStringList paths = ChooseQueue(parts, folder, 5);
    QCOMPARE(parts.source->text(), QStringLiteral("cam01.ts (+4 more)"));
    QCOMPARE(parts.source->toolTip(), paths.join(QLatin1Char('\n')));
    QCOMPARE(window->QueuedSources(), paths);
    QCOMPARE(parts.destination->text(), folder);
    SaveScreenshot(window.get(), QStringLiteral("app_queue_ready"));

    FakeEngine::SetBlocking(true);
    FakeEngine::SetDuration(20 * Second);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QVERIFY(parts.progressBox->IsQueueStyle());
    QCOMPARE(parts.progressBox->QueueLine(), QStringLiteral("1 of 5  \u00b7  cam01.ts"));
    // The first of five, all as long as each other, converted to its whole length but
    // not ended yet: just under a fifth of the whole.
    QTRY_COMPARE(parts.progressBox->Progress(), 99);
    QCOMPARE(parts.progressBox->OverallProgress(), 19);
    FakeEngine::Release();
    QTRY_COMPARE(FakeEngine::Runs(), 2);
    QTRY_COMPARE(parts.progressBox->QueueLine(), QStringLiteral("2 of 5  \u00b7  cam02.ts"));
    QTRY_VERIFY(parts.progressBox->Progress() >= 40);
    QVERIFY(parts.progressBox->OverallProgress() >= 28);
    QVERIFY2(parts.progressBox->Detail().startsWith(QStringLiteral("All recordings: ")), qPrintable(parts.progressBox->Detail()));
    QVERIFY2(parts.progressBox->Detail().contains(QStringLiteral(" left")), qPrintable(parts.progressBox->Detail()));

    FakeEngine::SetBlocking(false);
    FakeEngine::Release();
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(FakeEngine::Runs(), 5);
    QCOMPARE(parts.StatusText(), QStringLiteral("5 recordings converted"));
    QCOMPARE(parts.bar->StatusWidget()->Style(), QStringLiteral("Success"));
    QVERIFY(!parts.progressBox->IsQueueStyle());
    for (int i = 1; i <= 5; ++i)
        QVERIFY(QFile::exists(folder + QStringLiteral("/cam%1_converted.mp4").arg(i, 2, 10, QLatin1Char('0'))));
    SaveScreenshot(window.get(), QStringLiteral("app_queue_done"));
    QTest::mouseClick(parts.bar->StatusWidget(), Qt::LeftButton);
    QCOMPARE(opened.folders, QList<QUrl>{QUrl::fromLocalFile(folder)});

    // Again: each recording takes the next free name.
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 10);
    QTRY_VERIFY(QFile::exists(folder + QStringLiteral("/cam05_converted_1.mp4")));
}

void ControlTest::queueGoesOnPastFailuresAndSumsThemUp()
{
    // Every failure kind, more than the summary's list shows at once: it scrolls.
    const QList<RunFailure> results{RunFailure::SourceUnreadable,       RunFailure::None,
                                    RunFailure::SourceNoStream,         RunFailure::DestinationMissing,
                                    RunFailure::DestinationNotWritable, RunFailure::DiskFull,
                                    RunFailure::OutputNameRefused,      RunFailure::EncoderRefused,
                                    RunFailure::Other};
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_queue_failures"));
    const QStringList paths = ChooseQueue(parts, folder, results.size());
    FakeEngine::SetRunResults(results);
    QStringList entries;
    bool scrolls = false;
    BoxAnswerer answerer;
    answerer.ScreenshotNextAs(QStringLiteral("app_queue_summary_many"));
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        entries = ListEntries(box);
        scrolls = box->List() && box->List()->verticalScrollBar()->maximum() > 0;
    });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QTRY_VERIFY(!parts.MaskShown());

    QCOMPARE(FakeEngine::Runs(), results.size());
    QStringList expected;
    int converted = 0;
    for (int i = 0; i < results.size(); ++i) {
        if (results[i] == RunFailure::None)
            ++converted;
        else
            expected.append(QFileInfo(paths[i]).fileName() + QStringLiteral(": ")
                            + ConversionTexts::FailureReason(results[i]));
    }
    QCOMPARE(answerer.Messages().first(), ConversionTexts::QueueSummary(converted, results.size()));
    QCOMPARE(entries, expected);
    QVERIFY(scrolls);
    // The converted ones stay within reach of a click.
    QCOMPARE(parts.StatusText(), ConversionTexts::QueueSomeConverted(converted, results.size()));
    QVERIFY(parts.bar->StatusWidget()->IsClickable());
}

void ControlTest::typingIntoAQueuedSourceLeavesOnePath()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_queue_typed"));
    ChooseQueue(parts, folder, 3);
    // Cleared and typed anew, as a user replacing the list does.
    parts.source->setFocus();
    QTest::keyClick(parts.source, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(parts.source, Qt::Key_Backspace);
    QVERIFY(window->QueuedSources().isEmpty());
    const QString typed = folder + QStringLiteral("/door.ts");
    QTest::keyClicks(parts.source, typed);
    QCOMPARE(parts.source->toolTip(), typed);
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("door_converted.mp4")));
    QCOMPARE(FakeEngine::Runs(), 1);
    QCOMPARE(FakeEngine::LastArgv().value(2), QFile::encodeName(typed));
}

void ControlTest::closeQuestionOrSignalStopsTheQueue_data()
{
    QTest::addColumn<QString>("how");    // "keep", "stop" (the close question's answers) or "SIGTERM"
    QTest::newRow("close, keep converting") << "keep";
    QTest::newRow("close, stop and close") << "stop";
    QTest::newRow("SIGTERM") << "SIGTERM";
}

void ControlTest::closeQuestionOrSignalStopsTheQueue()
{
    QFETCH(QString, how);

    QList<int> exitCodes;
    const TranscoderWin::QuitHook previous =
        TranscoderWin::SetQuitHook([&exitCodes](int exitCode) { exitCodes.append(exitCode); });
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("control_queue_stop"));
    ChooseQueue(parts, folder, 3);
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    FakeEngine::Release();    // the first converts; the second blocks
    QTRY_COMPARE(FakeEngine::Runs(), 2);

    if (how == QLatin1String("SIGTERM")) {
        QCOMPARE(kill(getpid(), SIGTERM), 0);
        QTRY_COMPARE(exitCodes, QList<int>{128 + SIGTERM});
        QTRY_VERIFY(!parts.MaskShown());
        QCOMPARE(parts.StatusText(), ConversionTexts::QueueCancelled(1, 3));
    } else {
        BoxAnswerer answerer;
        answerer.AnswerWith(TextById(how == QLatin1String("keep") ? TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_KEEP
                                                                  : TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP));
        window->close();
        QTRY_COMPARE(answerer.Messages().size(), 1);
    }
    if (how == QLatin1String("keep")) {
        QVERIFY(window->isVisible());
        FakeEngine::SetBlocking(false);
        FakeEngine::Release();
        QTRY_COMPARE(parts.StatusText(), ConversionTexts::QueueAllConverted(3));
        QCOMPARE(FakeEngine::Runs(), 3);
    } else {
        QTest::qWait(200);    // time enough for a third run to start, were it to
        window.reset();
        QVERIFY(FakeEngine::StopRequested());
        QCOMPARE(FakeEngine::Runs(), 2);
        QCOMPARE(FakeEngine::FinishedRuns(), 2);
        QVERIFY(QFile::exists(folder + QStringLiteral("/cam01_converted.mp4")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/cam02_converted.mp4")));
    }
    TranscoderWin::SetQuitHook(previous);
}
