// The flow around a run, with the stand-in engine. Its outputs are empty files, so an
// earlier output is found by name here (the finder is replaceable); one test converts
// for real and lets the engine's own source mark be found.
#include "FlowTest.h"

#include "AppTestSupport.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"
#include "fixture_gen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

ScriptedDialogs s_dialogs;
// The window's own finder (earlier_output_of), put back after each test.
TranscoderWin::EarlierOutputFinder s_engineFinder;

constexpr int ConversionTimeoutMsec = 120000;

// As the engine's finder, by name only: "<stem>_converted.mp4" when it exists.
QString EarlierByName(const QString &source, const QString &folder)
{
    const QString path = folder + QLatin1Char('/') + TranscoderWin::OutputName(source.section(QLatin1Char('/'), -1), 0);
    return QFile::exists(path) ? path : QString();
}

// A source file with some bytes, so that it has a mark to carry.
QString Source(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("recording") != 9)
        return QString();
    return path;
}

QStringList Queue(const QString &folder, int count)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i)
        paths.append(Source(folder + QStringLiteral("/cam%1.ts").arg(i, 2, 10, QLatin1Char('0'))));
    return paths;
}

ConverterMsgBox *OpenBox()
{
    return qobject_cast<ConverterMsgBox *>(QApplication::activeModalWidget());
}

QString SourceArgument(const QByteArrayList &argv)
{
    for (const QByteArray &word : argv)
        if (word.startsWith("comment="))
            return QString::fromUtf8(word);
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(RunFailure)

void FlowTest::init()
{
    FakeEngine::Install();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    s_engineFinder = TranscoderWin::SetEarlierOutputFinder(EarlierByName);
}

void FlowTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
    TranscoderWin::SetEarlierOutputFinder(s_engineFinder);
}

void FlowTest::okAsksBeforeConvertingARecordingAgain_data()
{
    QTest::addColumn<QString>("answer");    // "" no question expected, "Enter", "cancel" or "again"
    QTest::addColumn<int>("runs");          // runs after the second OK
    QTest::addColumn<QString>("status");

    QTest::newRow("nothing there yet: converts at once") << QString() << 1 << "clip_converted.mp4";
    QTest::newRow("a stray Enter lands on Cancel") << "Enter" << 1 << "clip_converted.mp4";
    QTest::newRow("Cancel") << "cancel" << 1 << "clip_converted.mp4";
    QTest::newRow("Convert again") << "again" << 2 << "clip_converted_1.mp4";
}

void FlowTest::okAsksBeforeConvertingARecordingAgain()
{
    QFETCH(QString, answer);
    QFETCH(int, runs);
    QFETCH(QString, status);

    const QString folder = ScratchFolder(QStringLiteral("flow_again"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, Source(folder + QStringLiteral("/clip.ts")));
    BoxAnswerer answerer;
    if (answer == QLatin1String("Enter"))
        answerer.AnswerWithKey(Qt::Key_Return);
    else if (answer == QLatin1String("cancel"))
        answerer.AnswerWith(TextById(TextId::WL_COMMON_COMMON_CANCEL));
    else if (answer == QLatin1String("again"))
        answerer.AnswerWith(ConversionTexts::AgainButton());
    if (answer.isEmpty()) {
        parts.ok->click();
    } else {
        // The first conversion, then OK again on the same recording.
        TranscoderWin::SetEarlierOutputFinder([](const QString &, const QString &) { return QString(); });
        parts.ok->click();
        QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
        TranscoderWin::SetEarlierOutputFinder(EarlierByName);
        if (answer == QLatin1String("again"))
            answerer.ScreenshotNextAs(QStringLiteral("app_again_question"));
        QTest::keyClick(parts.source, Qt::Key_Return);
        QTRY_COMPARE(answerer.Messages(), QStringList{ConversionTexts::AgainQuestion(
                                              QStringLiteral("clip.ts"), QStringLiteral("clip_converted.mp4"))});
    }
    QTRY_COMPARE(FakeEngine::FinishedRuns(), runs);
    QTRY_COMPARE(parts.StatusText(), CompleteText(status));
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1 + runs);
    // Every run names its source in the output, so that a later OK knows it.
    QVERIFY2(SourceArgument(FakeEngine::LastArgv()).startsWith(QStringLiteral("comment=wardline source: name=clip.ts;")),
             FakeEngine::LastArgv().join(' ').constData());
    if (answer.isEmpty())
        QVERIFY(answerer.Messages().isEmpty());
}

void FlowTest::aRealConversionIsKnownAsTheRecordingsOutput()
{
    FakeEngine::Uninstall();
    TranscoderWin::SetEarlierOutputFinder(s_engineFinder);
    const QString folder = ScratchFolder(QStringLiteral("flow_again_real"));
    const QString source = folder + QStringLiteral("/door.ts");
    QVERIFY(CopyFile(QString::fromStdString(
                         fixtures::clip_path(fixtures::fixture_recipe(fixtures::FixtureKind::H264AacTs))),
                     source));
    // The same name from elsewhere is another recording: never taken for this one's.
    QVERIFY(CopyFile(source, folder + QStringLiteral("/elsewhere.ts")));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(parts.StatusText(), CompleteText(QStringLiteral("door_converted.mp4")),
                              ConversionTimeoutMsec);
    BoxAnswerer answerer;
    answerer.AnswerWithKey(Qt::Key_Return);
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages(), QStringList{ConversionTexts::AgainQuestion(QStringLiteral("door.ts"),
                                                                                 QStringLiteral("door_converted.mp4"))});
    QTest::qWait(200);
    QVERIFY(!window->IsConverting());
    QVERIFY(!QFile::exists(folder + QStringLiteral("/door_converted_1.mp4")));
    // A file of the right name that another recording made is no earlier output.
    QVERIFY(QFile::rename(folder + QStringLiteral("/door_converted.mp4"), folder + QStringLiteral("/elsewhere_converted.mp4")));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/elsewhere.ts"));
    const int asked = answerer.Messages().size();
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(parts.StatusText(), CompleteText(QStringLiteral("elsewhere_converted_1.mp4")),
                              ConversionTimeoutMsec);
    QCOMPARE(answerer.Messages().size(), asked);
}

void FlowTest::queuePassesOverWhatIsConvertedAndGoesOnAfterCancel()
{
    const QString folder = ScratchFolder(QStringLiteral("flow_queue"));
    const QStringList paths = Queue(folder, 4);
    QVERIFY(Source(folder + QStringLiteral("/cam01_converted.mp4")).size() > 0);    // converted before
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSources(s_dialogs, parts, paths);

    // cam01 is passed over; cam02 converts, cam03 is stopped, cam04 never starts.
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QCOMPARE(FakeEngine::LastArgv().value(2), QFile::encodeName(paths[1]));
    FakeEngine::Release();
    QTRY_COMPARE(FakeEngine::Runs(), 2);
    BoxAnswerer answerer;
    answerer.ScreenshotNextAs(QStringLiteral("app_queue_cancel_summary"));
    QStringList listed;
    answerer.InspectEachWith([&listed](ConverterMsgBox *box) { listed = ListEntries(box); });
    parts.progressBox->CancelButton()->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    const QString notRun = ConversionTexts::NotRunReason();
    QCOMPARE(listed, (QStringList{QStringLiteral("cam03.ts: ") + notRun, QStringLiteral("cam04.ts: ") + notRun}));
    QCOMPARE(answerer.Messages().first(),
             ConversionTexts::QueueSummary(1, 3, true, true, 1));
    QTRY_COMPARE(parts.StatusText(), ConversionTexts::WithAlready(ConversionTexts::QueueCancelled(1, 3), 1));

    // OK again goes on with what was not converted.
    FakeEngine::SetBlocking(false);
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), ConversionTexts::WithAlready(ConversionTexts::QueueAllConverted(2), 2));
    QCOMPARE(FakeEngine::Runs(), 4);
    QCOMPARE(FakeEngine::LastArgv().value(2), QFile::encodeName(paths[3]));
    QCOMPARE(answerer.Messages().size(), 1);    // nothing to look at: no summary

    // With every one converted, a stray Enter asks, and Cancel has the focus.
    answerer.AnswerWithKey(Qt::Key_Return);
    QTest::keyClick(parts.source, Qt::Key_Return);
    QTRY_COMPARE(answerer.Messages().size(), 2);
    QCOMPARE(answerer.Messages().last(), ConversionTexts::QueueAgainQuestion(4));
    QTest::qWait(100);
    QCOMPARE(FakeEngine::Runs(), 4);
    QVERIFY(!parts.MaskShown());
    // "Convert again" converts all of them once more.
    answerer.AnswerWith(ConversionTexts::AgainButton());
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), ConversionTexts::QueueAllConverted(4));
    QCOMPARE(FakeEngine::Runs(), 8);
}

// nvr1/cam01.ts and nvr2/cam01.ts keep telling their cameras apart: the
// dropped folder's sub-folders are mirrored under the destination, which follows
// the dropped folder itself.
void FlowTest::droppedFolderKeepsItsSubFoldersUnderTheDestination()
{
    FakeEngine::Uninstall();
    TranscoderWin::SetEarlierOutputFinder(s_engineFinder);
    const QString folder = ScratchFolder(QStringLiteral("flow_mirror"));
    const QString clip =
        QString::fromStdString(fixtures::clip_path(fixtures::fixture_recipe(fixtures::FixtureKind::H264AacTs)));
    QVERIFY(QDir(folder).mkpath(QStringLiteral("export/nvr1")) && QDir(folder).mkpath(QStringLiteral("export/nvr2")));
    for (const char *name : {"/export/nvr1/cam01.ts", "/export/nvr2/cam01.ts", "/export/gate.ts"})
        QVERIFY(CopyFile(clip, folder + QLatin1String(name)));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    DropOnSource(parts, {folder + QStringLiteral("/export")});
    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);
    QCOMPARE(parts.destination->text(), folder + QStringLiteral("/export"));
    // Another destination: the same folders under it.
    parts.destination->setText(folder + QStringLiteral("/out"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("out")));
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(parts.StatusText(), ConversionTexts::QueueAllConverted(3), 3 * ConversionTimeoutMsec);
    for (const char *name : {"/out/gate_converted.mp4", "/out/nvr1/cam01_converted.mp4", "/out/nvr2/cam01_converted.mp4"})
        QVERIFY2(QFile::exists(folder + QLatin1String(name)), name);
    QVERIFY(!QFile::exists(folder + QStringLiteral("/out/cam01_converted.mp4")));
}

void FlowTest::closeQuestionHoldsNothingUpAndGoesWhenTheRunEnds_data()
{
    QTest::addColumn<int>("count");    // recordings: 1 the single flow, more a queue
    QTest::newRow("one recording") << 1;
    QTest::newRow("a queue") << 3;
}

void FlowTest::closeQuestionHoldsNothingUpAndGoesWhenTheRunEnds()
{
    QFETCH(int, count);

    const QString folder = ScratchFolder(QStringLiteral("flow_close"));
    const QStringList paths = Queue(folder, count);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSources(s_dialogs, parts, paths);
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    window->close();
    QTRY_VERIFY(OpenBox());
    const QPointer<ConverterMsgBox> question(OpenBox());
    // The queue goes on behind the open question.
    for (int run = 2; run <= count; ++run) {
        FakeEngine::Release();
        QTRY_COMPARE(FakeEngine::Runs(), run);
        QVERIFY(question);
    }
    FakeEngine::Release();
    // The run is over: the question goes by itself and the result shows as usual.
    QTRY_VERIFY(!question);
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(parts.StatusText(), count == 1 ? CompleteText(QStringLiteral("cam01_converted.mp4"))
                                            : ConversionTexts::QueueAllConverted(count));
    QVERIFY(window->isVisible());
    QVERIFY(!FakeEngine::StopRequested());
}

void FlowTest::failureLeavesANoteInTheStatusLine_data()
{
    QTest::addColumn<RunFailure>("failure");    // RunFailure::None: every output name taken
    QTest::newRow("disk full") << RunFailure::DiskFull;
    QTest::newRow("source unreadable") << RunFailure::SourceUnreadable;
    QTest::newRow("every name taken, no run") << RunFailure::None;
}

void FlowTest::failureLeavesANoteInTheStatusLine()
{
    QFETCH(RunFailure, failure);

    const QString folder = ScratchFolder(QStringLiteral("flow_failed"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const bool namesTaken = failure == RunFailure::None;
    if (namesTaken)
        QVERIFY(TakeEveryOutputName(folder, QStringLiteral("gate.ts")));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/gate.ts"));
    TranscoderWin::SetEarlierOutputFinder([](const QString &, const QString &) { return QString(); });
    FakeEngine::SetStatus(-1);
    FakeEngine::SetFailure(failure);
    const QString reason = namesTaken ? ConversionTexts::NamesTakenReason() : ConversionTexts::FailureReason(failure);
    BoxAnswerer answerer;
    bool statusEmptyBehindBox = false;
    answerer.InspectEachWith([&](ConverterMsgBox *) { statusEmptyBehindBox = !parts.StatusShown(); });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QVERIFY(statusEmptyBehindBox);
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(parts.StatusText(), ConversionTexts::FailedNote(reason));
    QVERIFY(parts.StatusShown());
    QCOMPARE(parts.bar->StatusWidget()->toolTip(),
             TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED) + QLatin1Char('\n') + reason);
    if (failure == RunFailure::DiskFull)
        SaveScreenshot(window.get(), QStringLiteral("app_failure_note"));
    if (namesTaken)
        QDir(folder).removeRecursively();
}

void FlowTest::folderThatCannotBeOpenedIsSaid_data()
{
    QTest::addColumn<bool>("opens");
    QTest::newRow("a program opens it") << true;
    QTest::newRow("no program opens it") << false;
}

void FlowTest::folderThatCannotBeOpenedIsSaid()
{
    QFETCH(bool, opens);

    QList<QUrl> asked;
    const TranscoderWin::FolderOpener previous = TranscoderWin::SetFolderOpener([&asked, opens](const QUrl &url) {
        asked.append(url);
        return opens;
    });
    const QString folder = ScratchFolder(QStringLiteral("flow_open"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, Source(folder + QStringLiteral("/clip.ts")));
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("clip_converted.mp4")));
    QTest::mouseClick(parts.bar->StatusWidget(), Qt::LeftButton);
    QCOMPARE(asked, QList<QUrl>{QUrl::fromLocalFile(folder)});
    QCOMPARE(parts.StatusText(), opens ? CompleteText(QStringLiteral("clip_converted.mp4"))
                                       : ConversionTexts::FolderNotOpened(folder));
    if (!opens) {
        SaveScreenshot(window.get(), QStringLiteral("app_folder_not_opened"));
        // Still a way to try again.
        QTest::mouseClick(parts.bar->StatusWidget(), Qt::LeftButton);
        QCOMPARE(asked.size(), 2);
    }
    TranscoderWin::SetFolderOpener(previous);
}

void FlowTest::attentionNeedsALongRunAndAnInactiveWindow_data()
{
    QTest::addColumn<qint64>("elapsedMsec");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("wanted");

    const qint64 limit = TranscoderWin::AttentionAfterMsec;
    QTest::newRow("just short, inactive") << limit - 1 << false << false;
    QTest::newRow("at the limit, inactive") << limit << false << true;
    QTest::newRow("just past, inactive") << limit + 1 << false << true;
    QTest::newRow("long, active") << limit + 1 << true << false;
    QTest::newRow("short, active") << qint64(0) << true << false;
}

void FlowTest::attentionNeedsALongRunAndAnInactiveWindow()
{
    QFETCH(qint64, elapsedMsec);
    QFETCH(bool, active);
    QFETCH(bool, wanted);

    QCOMPARE(TranscoderWin::AttentionAfterMsec, qint64(30000));
    QCOMPARE(TranscoderWin::WantsAttention(elapsedMsec, active), wanted);
}

void FlowTest::longRunEndingBehindAnotherWindowAsksForAttention_data()
{
    QTest::addColumn<int>("count");          // recordings
    QTest::addColumn<bool>("lengthy");       // the run counts as long (limit 0) or not (the usual)
    QTest::addColumn<bool>("behind");        // another window is active when it ends
    QTest::addColumn<int>("alerts");

    QTest::newRow("long, behind another window") << 1 << true << true << 1;
    QTest::newRow("short, behind another window") << 1 << false << true << 0;
    QTest::newRow("long, window active") << 1 << true << false << 0;
    QTest::newRow("long queue, behind: once at its end") << 3 << true << true << 1;
    QTest::newRow("short queue, behind") << 3 << false << true << 0;
}

void FlowTest::longRunEndingBehindAnotherWindowAsksForAttention()
{
    QFETCH(int, count);
    QFETCH(bool, lengthy);
    QFETCH(bool, behind);
    QFETCH(int, alerts);

    QStringList texts;
    const TranscoderWin::AttentionHook previous = TranscoderWin::SetAttentionHook(
        [&texts](QWidget *, const QString &text) { texts.append(text); });
    const qint64 limit = TranscoderWin::SetAttentionAfter(lengthy ? 0 : TranscoderWin::AttentionAfterMsec);
    const QString folder = ScratchFolder(QStringLiteral("flow_attention"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSources(s_dialogs, parts, Queue(folder, count));
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QWidget other;
    if (behind) {
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!window->isActiveWindow());
    }
    FakeEngine::SetBlocking(false);
    FakeEngine::Release();
    const QString status = count == 1 ? CompleteText(QStringLiteral("cam01_converted.mp4"))
                                      : ConversionTexts::QueueAllConverted(count);
    QTRY_COMPARE(parts.StatusText(), status);
    QCOMPARE(texts.size(), alerts);
    if (alerts > 0)
        QCOMPARE(texts.first(), status);
    TranscoderWin::SetAttentionAfter(limit);
    TranscoderWin::SetAttentionHook(previous);
}
