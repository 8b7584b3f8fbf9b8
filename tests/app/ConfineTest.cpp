// The window's conversions under the kernel's confinement: the worker with the
// real engine (and the folder guard off) on crafted playlists watched with inotify
// and a loopback listener; with the stand-in engine, the threads the signals come
// from and the kernels that lack Landlock or refuse to confine.
#include "ConfineTest.h"

#include "AppTestSupport.h"
#include "TranscodeWorker.h"
#include "fixture_gen.h"
#include "folder_watch.h"
#include "kernel_fakes.h"
#include "loopback_listener.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

// A conversion of the small test recordings ends in seconds; this only bounds a hang.
constexpr int ConversionTimeoutMsec = 120000;

// The engine's folder guard is off while one lives.
struct GuardOff {
    GuardOff() { qputenv("WARDLINE_TEST_DISABLE_INPUT_GUARD", "1"); }
    ~GuardOff() { qunsetenv("WARDLINE_TEST_DISABLE_INPUT_GUARD"); }
};

LoopbackListener &Network()
{
    static LoopbackListener listener;
    return listener;
}

// A recording folder with a playlist of one entry, a neighbouring folder with
// someone else's video, and the destination.
struct Folders {
    QString recording, secret, out, playlist;
};

Folders PlaylistFolders(const QString &name, const QString &kind)
{
    const QString root = ScratchFolder(name);
    Folders f{root + "/recording", root + "/secret", root + "/out", root + "/recording/list.m3u8"};
    for (const QString &folder : {f.recording, f.secret, f.out})
        QDir().mkpath(folder);
    const QString clip = QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs));
    CopyFile(clip, f.secret + "/private.ts");
    CopyFile(clip, f.recording + "/segment.ts");
    QString entry = QStringLiteral("segment.ts");
    if (kind == QLatin1String("sibling"))
        entry = QStringLiteral("../secret/private.ts");
    else if (kind == QLatin1String("absolute"))
        entry = f.secret + "/private.ts";
    else if (kind == QLatin1String("link"))
        entry = QFile::link("../secret/private.ts", f.recording + "/link.ts") ? "link.ts" : "no link";
    else if (kind == QLatin1String("network"))
        entry = QString::fromStdString(Network().url("x.ts"));
    QFile playlist(f.playlist);
    if (playlist.open(QIODevice::WriteOnly))
        playlist.write("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + entry.toUtf8() + "\n#EXT-X-ENDLIST\n");
    return f;
}

// One conversion through a worker, on this thread (DoWork returns once the run's
// own thread has ended).
RunOutcome Convert(const QString &source, const QString &output, int *status = nullptr)
{
    TranscodeWorker worker;
    QSignalSpy ended(&worker, &TranscodeWorker::SigRunEnded);
    QSignalSpy results(&worker, &TranscodeWorker::SigResultReady);
    worker.DoWork(source, output, ConversionChoices());
    if (status)
        *status = results.isEmpty() ? -100 : results.first().first().toInt();
    return ended.isEmpty() ? RunOutcome() : ended.first().first().value<RunOutcome>();
}

// What this thread may do: read `file`, make a TCP socket ("0" or the error each).
QString Probe(const QString &file)
{
    const auto name = [](int error) { return QString::fromLatin1(error ? strerrorname_np(error) : "0"); };
    const int fd = open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    const int readError = fd < 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int socketError = sock < 0 ? errno : 0;
    if (sock >= 0)
        close(sock);
    return name(readError) + "/" + name(socketError);
}

// Runs `work` on a thread of its own, standard error going into a file, and
// returns what was written there.
QByteArray OnThreadCapturingStderr(const std::function<void()> &work)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    std::thread(work).join();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

bool KernelConfines()
{
    return kernel_landlock_abi() > 0 && kernel_has_seccomp();
}

} // namespace

void ConfineTest::init()
{
    TranscodeWorker::SetEngine(TranscodeWorker::DefaultEngine());
}

void ConfineTest::cleanup()
{
    FakeEngine::Uninstall();
}

void ConfineTest::playlistReachesOnlyTheRecordingsFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("converts");

    QTest::newRow("entry next to it") << "next" << true;
    QTest::newRow("entry in a sibling folder") << "sibling" << false;
    QTest::newRow("entry by absolute path") << "absolute" << false;
    QTest::newRow("entry through a link in its folder") << "link" << false;
    // The libraries already keep a local playlist off the network.
    QTest::newRow("entry on the network") << "network" << false;
}

void ConfineTest::playlistReachesOnlyTheRecordingsFolder()
{
    QFETCH(QString, kind);
    QFETCH(bool, converts);
    if (!KernelConfines())
        QSKIP("the kernel lacks Landlock or seccomp: the folder guard alone holds");

    const Folders f = PlaylistFolders(QStringLiteral("confine_playlist_") + kind, kind);
    const int connections = Network().connections();
    FolderWatch secret(QFile::encodeName(f.secret).toStdString());
    GuardOff guardOff;
    const RunOutcome outcome = Convert(f.playlist, f.out + "/list_converted.mp4");

    QCOMPARE(secret.touches(), 0);
    QCOMPARE(Network().connections(), connections);
    QCOMPARE(int(outcome.end), int(converts ? RunEnd::Completed : RunEnd::Failed));
    QCOMPARE(QDir(f.out).entryList(QDir::Files | QDir::Hidden),
             converts ? QStringList{QStringLiteral("list_converted.mp4")} : QStringList());
}

namespace {

// The real engine without the run's own check that its input is a recording
// file: what the kernel must hold when a string check has a hole.
int EngineTakingAnyInput(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    RunObserver any = *observer;
    any.recordings_only = false;
    return ffmpeg_exec_observed(argc, argv, &any, outcome);
}

// The address itself in the source's place, past the naming rule that makes a
// typed address a file name ("./http:..."), then EngineTakingAnyInput.
QByteArray s_rawSource;

int EngineTakingTheRawAddress(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    std::vector<char *> words(argv, argv + argc);
    words.push_back(nullptr);
    if (argc > 2)
        words[2] = s_rawSource.data();
    return EngineTakingAnyInput(argc, words.data(), observer, outcome);
}

} // namespace

void ConfineTest::sourceNamedByANetworkAddressConnectsNowhere()
{
    const QString out = ScratchFolder(QStringLiteral("confine_address"));
    const QString address = QString::fromStdString(Network().url("x.ts"));
    const int connections = Network().connections();
    // Typed into the source field, an address is a file name like any other.
    RunOutcome outcome = Convert(address, out + "/x_converted.mp4");
    QCOMPARE(int(outcome.failure), int(RunFailure::SourceMissing));
    QCOMPARE(Network().connections(), connections);

    // Handed to the libraries as an address past every check of ours, the
    // kernel still refuses the connection.
    if (!KernelConfines())
        QSKIP("the kernel lacks Landlock or seccomp");
    s_rawSource = address.toUtf8();
    const TranscodeWorker::Engine real = TranscodeWorker::SetEngine({EngineTakingTheRawAddress, ffmpeg_request_stop});
    TranscodeWorker worker;
    TranscodeWorker::SetEngine(real);
    QSignalSpy ended(&worker, &TranscodeWorker::SigRunEnded);
    worker.DoWork(address, out + "/x_converted.mp4", ConversionChoices());
    QCOMPARE(Network().connections(), connections);
    QCOMPARE(ended.size(), 1);
    outcome = ended.first().first().value<RunOutcome>();
    QCOMPARE(int(outcome.end), int(RunEnd::Failed));
    QCOMPARE(int(outcome.failure), int(RunFailure::SourceUnreadable));
}

void ConfineTest::windowThreadsStayFreeAfterAConfinedRun()
{
    if (!KernelConfines())
        QSKIP("the kernel lacks Landlock or seccomp");
    const Folders f = PlaylistFolders(QStringLiteral("confine_threads"), QStringLiteral("next"));
    QThread thread;
    auto *worker = new TranscodeWorker;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject receiver;
    QList<RunOutcome> outcomes;
    connect(worker, &TranscodeWorker::SigRunEnded, &receiver, [&outcomes](RunOutcome o) { outcomes << o; });
    thread.start();

    QMetaObject::invokeMethod(worker, "DoWork", Qt::QueuedConnection, Q_ARG(QString, f.recording + "/segment.ts"),
                              Q_ARG(QString, f.out + "/segment_converted.mp4"),
                              Q_ARG(ConversionChoices, ConversionChoices()));
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, ConversionTimeoutMsec);
    QCOMPARE(int(outcomes[0].end), int(RunEnd::Completed));
    // The worker's thread and this one read outside the run's folders and make
    // sockets as before.
    QString onWorker;
    QMetaObject::invokeMethod(worker, [&]() { onWorker = Probe(f.secret + "/private.ts"); },
                              Qt::BlockingQueuedConnection);
    QCOMPARE(onWorker, QStringLiteral("0/0"));
    QCOMPARE(Probe(f.secret + "/private.ts"), QStringLiteral("0/0"));
    thread.quit();
    QVERIFY(thread.wait());
}

void ConfineTest::progressArrivesOnTheReceiversThread()
{
    FakeEngine::Install();
    FakeEngine::SetDuration(10000000);
    FakeEngine::SetBlocking(true);
    QThread thread;
    auto *worker = new TranscodeWorker;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject receiver;
    QList<QThread *> progressThreads;
    bool ended = false;
    connect(worker, &TranscodeWorker::SigProgress, &receiver,
            [&progressThreads](RunProgress) { progressThreads << QThread::currentThread(); });
    connect(worker, &TranscodeWorker::SigRunEnded, &receiver, [&ended](RunOutcome) { ended = true; });
    thread.start();

    const QString out = ScratchFolder(QStringLiteral("confine_progress"));
    QMetaObject::invokeMethod(worker, "DoWork", Qt::QueuedConnection, Q_ARG(QString, out + "/a.ts"),
                              Q_ARG(QString, out + "/a_converted.mp4"), Q_ARG(ConversionChoices, ConversionChoices()));
    QTRY_VERIFY(progressThreads.size() >= 2);
    // The stop request reaches the run on its own thread.
    worker->RequestStop();
    QTRY_VERIFY(ended);
    QVERIFY(FakeEngine::StopRequested());
    QCOMPARE(progressThreads.count(QThread::currentThread()), progressThreads.size());
    thread.quit();
    QVERIFY(thread.wait());
}

void ConfineTest::withoutLandlockTheRunGoesOnAndStandardErrorSaysSo()
{
    if (!kernel_has_seccomp())
        QSKIP("needs seccomp to make a kernel without Landlock");
    FakeEngine::Install();
    const QString out = ScratchFolder(QStringLiteral("confine_no_landlock"));
    RunOutcome outcome;
    const QByteArray said = OnThreadCapturingStderr([&]() {
        if (fake_kernel_without_landlock())
            outcome = Convert(out + "/a.ts", out + "/a_converted.mp4");
    });
    QCOMPARE(FakeEngine::Runs(), 1);
    QCOMPARE(int(outcome.end), int(RunEnd::Completed));
    QCOMPARE(said, QByteArray("the kernel has no Landlock: only the engine's folder guard limits the files read; "
                              "sockets other than local ones refused\n"));
}

void ConfineTest::runThatCannotBeConfinedIsNotRun()
{
    if (!kernel_landlock_abi())
        QSKIP("the kernel has no Landlock");
    FakeEngine::Install();
    const QString out = ScratchFolder(QStringLiteral("confine_refused"));
    RunOutcome outcome;
    int status = 0;
    bool full = false;
    const QByteArray said = OnThreadCapturingStderr([&]() {
        full = fill_landlock_layers();
        outcome = Convert(out + "/a.ts", out + "/a_converted.mp4", &status);
    });
    QVERIFY(full);
    const std::string reason = "could not confine the conversion (Landlock: " + std::string(strerror(E2BIG)) + ")";
    QCOMPARE(FakeEngine::Runs(), 0);
    QCOMPARE(status, -1);
    QCOMPARE(int(outcome.end), int(RunEnd::Failed));
    QCOMPARE(int(outcome.failure), int(RunFailure::Other));
    QCOMPARE(outcome.error, -E2BIG);
    QCOMPARE(outcome.error_text, reason);
    QCOMPARE(said, QByteArray::fromStdString(reason + "\n"));
    QVERIFY(QDir(out).isEmpty());
}
