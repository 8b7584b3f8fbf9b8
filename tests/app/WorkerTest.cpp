// The worker with the stand-in engine: arguments, encoding, printed lines, status,
// and serialised runs on the worker thread.
#include "WorkerTest.h"

#include "AppTestSupport.h"
#include "TranscodeWorker.h"
#include "fixture_gen.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList s_debugLines;

void CollectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        s_debugLines.append(message);
}

// Runs `work` with the process's standard output going into a file and returns what
// was written there.
template <class Work>
QByteArray CaptureStdout(Work work)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    work();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

void WorkerTest::init()
{
    FakeEngine::Install();
}

void WorkerTest::cleanup()
{
    FakeEngine::Uninstall();
}

void WorkerTest::argListHoldsTheTwelveWordsWithPathsUnchanged()
{
    // Blanks, dots and backslashes are the paths' own: nothing is quoted or split.
    const QString source = QStringLiteral("/rec/front door/cam 1.v2.ts");
    const QString output = QStringLiteral("/out/a\\b/cam 1.v2_converted.mp4");
    const QStringList expected{"ffmpeg", "-i", source, "-c:v", "libx264", "-profile:v", "baseline",
                               "-level", "3", "-strict", "-2", output};
    QCOMPARE(TranscodeWorker::ArgList(source, output), expected);
}

void WorkerTest::pathsReachTheEngineAsUtf8_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("e acute is C3 A9") << QStringLiteral("/rec/caf\u00e9.ts") << QByteArray("/rec/caf\xc3\xa9.ts");
    QTest::newRow("CJK in a folder name") << QStringLiteral("/\u5f55\u50cf/a.ts")
                                          << QByteArray("/\xe5\xbd\x95\xe5\x83\x8f/a.ts");
    QTest::newRow("outside the basic plane") << QStringLiteral("/rec/\U0001F3A5.ts")
                                             << QByteArray("/rec/\xf0\x9f\x8e\xa5.ts");
}

void WorkerTest::pathsReachTheEngineAsUtf8()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, bytes);

    // The test runs under the C locale, whose own codec is not UTF-8: only the
    // application's start-up makes these bytes UTF-8.
    TranscodeWorker worker;
    const QString output = QStringLiteral("/dev/null/never-written.mp4");
    FakeEngine::SetStatus(-1);
    worker.DoWork(path, output, ConversionChoices());
    const QByteArrayList argv = FakeEngine::LastArgv();
    QCOMPARE(argv.size(), 12);
    QCOMPARE(argv[2], bytes);
    QCOMPARE(argv[11], output.toUtf8());
}

void WorkerTest::printsEachWordOnItsOwnLineAndInTheDebugLog()
{
    TranscodeWorker worker;
    FakeEngine::SetStatus(-1);
    const QStringList words = TranscodeWorker::ArgList(QStringLiteral("/rec/caf\u00e9.ts"),
                                                       QStringLiteral("/out/caf\u00e9_converted.mp4"));
    s_debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectDebug);
    const QByteArray printed = CaptureStdout([&]() { worker.DoWork(words[2], words[11], ConversionChoices()); });
    qInstallMessageHandler(previous);

    QByteArray expected;
    for (const QString &word : words)
        expected += word.toUtf8() + '\n';
    QCOMPARE(printed, expected);
    QCOMPARE(s_debugLines, words);
}

void WorkerTest::printsThePlansWordsWhenThePictureIsKept()
{
    // The words printed are the ones the engine gets: the plan's, here a copied picture.
    const QString folder = ScratchFolder(QStringLiteral("worker_kept_words"));
    const QString source = folder + QStringLiteral("/cam.ts");
    QVERIFY(CopyFile(QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs)), source));
    TranscodeWorker worker;
    ConversionChoices keep;
    keep.keep_video = true;
    s_debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectDebug);
    const QByteArray printed =
        CaptureStdout([&]() { worker.DoWork(source, folder + QStringLiteral("/cam_converted.mp4"), keep); });
    qInstallMessageHandler(previous);
    const QByteArrayList argv = FakeEngine::LastArgv();
    QVERIFY(argv.contains("copy"));
    QVERIFY(!argv.contains("libx264"));
    QCOMPARE(printed, argv.join('\n') + '\n');
    QCOMPARE(s_debugLines.join('\n').toUtf8(), argv.join('\n'));
}

void WorkerTest::forwardsTheEngineStatusUnchanged_data()
{
    QTest::addColumn<int>("status");

    QTest::newRow("completed run") << 0;
    QTest::newRow("failed run") << -1;
    QTest::newRow("any other value") << 7;
}

void WorkerTest::forwardsTheEngineStatusUnchanged()
{
    QFETCH(int, status);

    TranscodeWorker worker;
    QSignalSpy results(&worker, &TranscodeWorker::SigResultReady);
    FakeEngine::SetStatus(status);
    worker.DoWork(QStringLiteral("/rec/a.ts"), QStringLiteral("/dev/null/a.mp4"), ConversionChoices());
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), status);
}

void WorkerTest::runsQueuedRequestsOneAfterTheOtherOnItsThread()
{
    // Two requests queued at once: the second starts only after the first returned,
    // and each gives one result, in order.
    QThread thread;
    auto *worker = new TranscodeWorker;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    // Collected on this thread through a queued connection, as the window gets them.
    QObject receiver;
    QList<int> results;
    connect(worker, &TranscodeWorker::SigResultReady, &receiver, [&results](int status) { results << status; });
    thread.start();

    const QString folder = ScratchFolder(QStringLiteral("worker_queue"));
    FakeEngine::SetBlocking(true);
    for (const char *name : {"first.mp4", "second.mp4"})
        QMetaObject::invokeMethod(worker, "DoWork", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("/rec/a.ts")),
                                  Q_ARG(QString, folder + '/' + name), Q_ARG(ConversionChoices, ConversionChoices()));
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QCOMPARE(FakeEngine::LastArgv().value(11), (folder + "/first.mp4").toUtf8());
    QCOMPARE(FakeEngine::FinishedRuns(), 0);
    FakeEngine::Release();
    QTRY_COMPARE(FakeEngine::Runs(), 2);
    QCOMPARE(FakeEngine::LastArgv().value(11), (folder + "/second.mp4").toUtf8());
    FakeEngine::Release();
    QTRY_COMPARE(results.count(), 2);
    QCOMPARE(results, (QList<int>{0, 0}));
    QCOMPARE(FakeEngine::FinishedRuns(), 2);

    QPointer<TranscodeWorker> watched(worker);
    thread.quit();
    QVERIFY(thread.wait());
    QVERIFY(watched.isNull());   // deleted as its thread finished
}
