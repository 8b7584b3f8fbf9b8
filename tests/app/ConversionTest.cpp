// Real conversions from the window. The recordings are made by the test-media
// generator; the outputs are read back with the media libraries.
#include "ConversionTest.h"

#include "AppTestSupport.h"
#include "ChildWindow.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "TranscoderWin.h"
#include "VelaFileButton.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "media_probe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QTest>

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

ScriptedDialogs s_dialogs;

// A conversion of the small test recordings ends in seconds; this only bounds a hang.
constexpr int ConversionTimeoutMsec = 120000;

// A copy of a generated recording under a chosen name; empty when generation fails.
QString Recording(const fixtures::ClipRecipe &recipe, const QString &path)
{
    try {
        if (!CopyFile(QString::fromStdString(fixtures::clip_path(recipe)), path))
            return QString();
    } catch (const fixtures::FixtureError &error) {
        qWarning("%s", error.what());
        return QString();
    }
    return path;
}

QString ShortRecording(const QString &path)
{
    return Recording(fixtures::fixture_recipe(fixtures::FixtureKind::H264AacTs), path);
}

// Twenty seconds at 1280x720: the encoder is slow on large pictures, so the run can be
// interrupted well before its end; the source itself is quick to make (motion JPEG).
fixtures::ClipRecipe LongRecipe()
{
    fixtures::ClipRecipe recipe;
    recipe.name = "app_long_720p";
    recipe.format = "avi";
    recipe.extension = "avi";
    recipe.duration = 20.0;
    fixtures::VideoTrack video;
    video.encoder = "mjpeg";
    video.width = 1280;
    video.height = 720;
    recipe.video.push_back(video);
    return recipe;
}

// MPEG-2 video with MPEG audio in a transport stream, as older recorders write it: the
// length probed from the container runs a few microseconds past the streams' end.
fixtures::ClipRecipe Mpeg2TsRecipe()
{
    fixtures::ClipRecipe recipe;
    recipe.name = "app_mpeg2_mp2_ts";
    recipe.format = "mpegts";
    recipe.extension = "ts";
    recipe.duration = 3.0;
    fixtures::VideoTrack video;
    video.encoder = "mpeg2video";
    recipe.video.push_back(video);
    fixtures::AudioTrack audio;
    audio.encoder = "mp2";
    audio.sample_rate = 48000;
    recipe.audio.push_back(audio);
    return recipe;
}

// Pictures are in the output once it is past its header.
constexpr qint64 ConvertingBytes = 4096;

struct Mp4Check {
    bool ok = false;
    QString problem;
    double duration = 0;
};

// An MP4 (its index written, so it opens) whose first video stream is H.264 at the
// baseline profile (66), at `level` (level 3, 30, unless the picture needs more),
// in the picture size of the source.
Mp4Check ProbeH264BaselineMp4(const QString &path, int width, int height, int level = 30)
{
    Mp4Check check;
    fixtures::MediaInfo info;
    try {
        info = fixtures::probe_media(QFile::encodeName(path).toStdString());
    } catch (const fixtures::FixtureError &error) {
        check.problem = QString::fromUtf8(error.what());
        return check;
    }
    if (info.format.find("mp4") == std::string::npos) {
        check.problem = "format " + QString::fromStdString(info.format);
        return check;
    }
    for (const fixtures::StreamInfo &stream : info.streams) {
        if (stream.type != AVMEDIA_TYPE_VIDEO)
            continue;
        // The avcC record: version 1, then profile, compatibility and level.
        const auto &avcc = stream.extradata;
        if (stream.codec != AV_CODEC_ID_H264)
            check.problem = "video codec is not H.264";
        else if (avcc.size() < 4 || avcc[0] != 1)
            check.problem = "no avcC record";
        else if (avcc[1] != 66 || avcc[3] != level)
            check.problem = QStringLiteral("profile %1, level %2").arg(avcc[1]).arg(avcc[3]);
        else if (stream.width != width || stream.height != height)
            check.problem = QStringLiteral("%1x%2").arg(stream.width).arg(stream.height);
        else
            check.ok = true;
        check.duration = info.duration;
        return check;
    }
    check.problem = "no video stream";
    return check;
}

// Names in a folder as the bytes the file system holds.
QList<QByteArray> RawNames(const QString &folder)
{
    QList<QByteArray> names;
    if (DIR *dir = opendir(QFile::encodeName(folder).constData())) {
        while (dirent *entry = readdir(dir))
            names.append(QByteArray(entry->d_name));
        closedir(dir);
    }
    return names;
}

// Clicks OK and waits for the result; true when the status says the conversion wrote
// `fileName`.
bool ConvertAndWait(WindowParts &parts, const QString &fileName)
{
    parts.ok->click();
    // Straight away, or once the question before converting again is answered.
    const QString converting = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("...");
    if (!QTest::qWaitFor([&]() { return parts.StatusText() == converting && parts.MaskShown(); }, 5000))
        return false;
    if (!QTest::qWaitFor([&]() { return !parts.MaskShown(); }, ConversionTimeoutMsec))
        return false;
    return parts.StatusText() == CompleteText(fileName) && parts.StatusShown();
}

// Every file and folder name in a folder, hidden ones too (the engine writes under a
// hidden partial name).
QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden, QDir::Name);
}

// Writes the first bytes of a recording into a named pipe once a reader has opened
// it, then holds the pipe open without writing more: the reader blocks on its next read.
class StallingWriter
{
public:
    StallingWriter(const QString &pipe, const QByteArray &bytes)
        : m_thread([this, path = QFile::encodeName(pipe), bytes]() { Run(path, bytes); })
    {
    }
    ~StallingWriter()
    {
        m_done = true;
        m_thread.join();
    }

private:
    void Run(const QByteArray &path, const QByteArray &bytes)
    {
        int fd = -1;
        // Without a reader the open fails (ENXIO): try until one comes or the test ends.
        while (fd < 0 && !m_done) {
            fd = open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                usleep(10000);
        }
        if (fd < 0)
            return;
        qint64 written = 0;
        while (written < bytes.size() && !m_done) {
            const ssize_t n = write(fd, bytes.constData() + written, size_t(bytes.size() - written));
            if (n > 0)
                written += n;
            else
                usleep(10000);
        }
        while (!m_done)
            usleep(10000);
        close(fd);
    }

    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// The test program again, as a converting window (ChildWindow.h).
struct Child {
    QProcess process;
    QString out;

    void Start(const QString &source, const QString &destination, bool asNobody, bool untilSignal = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (untilSignal)
            env.insert(QStringLiteral("WVC_CHILD_UNTIL_SIGNAL"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("WVC_CHILD_SOURCE"), source);
        if (!destination.isEmpty())
            env.insert(QStringLiteral("WVC_CHILD_DESTINATION"), destination);
        if (asNobody) {
            env.insert(QStringLiteral("WVC_CHILD_AS_NOBODY"), QStringLiteral("1"));
            env.insert(QStringLiteral("HOME"), QDir::tempPath());
        }
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), QStringList());
    }
    // Whether `line` has come on standard output.
    bool Said(const QString &line)
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out.split(QLatin1Char('\n')).contains(line);
    }
    // The rest of the first line that starts with `prefix`.
    QString Line(const QString &prefix)
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        for (const QString &line : out.split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        return QString();
    }
};

} // namespace

void ConversionTest::init()
{
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
}

void ConversionTest::cleanup()
{
    VelaFileButton::SetDialogProvider(nullptr);
}

void ConversionTest::eachConversionWritesTheNextH264BaselineMp4()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_numbered"));
    const QString source = ShortRecording(folder + QStringLiteral("/clip.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    QCOMPARE(parts.destination->text(), folder);

    // The share the box shows rises to 100 % on every run.
    auto *bar = parts.progressBox->findChild<QProgressBar *>();
    QVERIFY(bar);
    QList<int> shown;
    connect(bar, &QProgressBar::valueChanged, this, [&shown](int value) { shown.append(value); });
    // From the second run on the window asks first: the folder holds this recording's output.
    BoxAnswerer again;
    again.AnswerWith(ConversionTexts::AgainButton());
    for (const char *name : {"clip_converted.mp4", "clip_converted_1.mp4", "clip_converted_2.mp4"}) {
        shown.clear();
        QVERIFY2(ConvertAndWait(parts, name), name);
        QVERIFY2(!shown.isEmpty() && shown.last() == 100, qPrintable(QString::number(shown.value(shown.size() - 1))));
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY(shown[i] >= shown[i - 1]);
        const Mp4Check check = ProbeH264BaselineMp4(folder + '/' + name, 320, 240);
        QVERIFY2(check.ok, qPrintable(QString(name) + ": " + check.problem));
    }
    QCOMPARE(Entries(folder),
             (QStringList{"clip.ts", "clip_converted.mp4", "clip_converted_1.mp4", "clip_converted_2.mp4"}));
}

namespace {

const char kOtherProgramsFile[] = "another program's file";

// The real engine, after another program has put a file under the output's name
// (the last word), as a second converter writing into the same folder may.
int EngineAfterTheNameIsTaken(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    QFile taken(QFile::decodeName(argv[argc - 1]));
    if (taken.open(QIODevice::WriteOnly))
        taken.write(kOtherProgramsFile);
    taken.close();
    return ffmpeg_exec_observed(argc, argv, observer, outcome);
}

} // namespace

void ConversionTest::aNameTakenAfterOkIsKeptAndTheNextOneIsWritten()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_name_taken"));
    const QString source = ShortRecording(folder + QStringLiteral("/clip.ts"));
    QVERIFY(!source.isEmpty());
    const TranscodeWorker::Engine real = TranscodeWorker::SetEngine({EngineAfterTheNameIsTaken, ffmpeg_request_stop});
    auto window = ShownWindow();
    TranscodeWorker::SetEngine(real);
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);

    QVERIFY2(ConvertAndWait(parts, QStringLiteral("clip_converted_1.mp4")), qPrintable(parts.StatusText()));
    QCOMPARE(Entries(folder), (QStringList{"clip.ts", "clip_converted.mp4", "clip_converted_1.mp4"}));
    QFile kept(folder + QStringLiteral("/clip_converted.mp4"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray(kOtherProgramsFile));
    QVERIFY(ProbeH264BaselineMp4(folder + QStringLiteral("/clip_converted_1.mp4"), 320, 240).ok);
}

void ConversionTest::shareReaches100OnlyAtTheEndOfARun()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_mpeg2_ts"));
    const QString source = Recording(Mpeg2TsRecipe(), folder + QStringLiteral("/dvr.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    auto *bar = parts.progressBox->findChild<QProgressBar *>();
    QVERIFY(bar);
    QList<int> shown;
    connect(bar, &QProgressBar::valueChanged, this, [&shown](int value) { shown.append(value); });

    QVERIFY(ConvertAndWait(parts, QStringLiteral("dvr_converted.mp4")));
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.indexOf(100), shown.size() - 1);
}

void ConversionTest::accentedNameWithSeveralDotsConverts()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_accent"));
    const QString source = ShortRecording(folder + QStringLiteral("/caf\u00e9.door.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    QVERIFY(ConvertAndWait(parts, QStringLiteral("caf\u00e9.door_converted.mp4")));

    // The engine opened the source and named the output with the letter as C3 A9.
    QVERIFY(RawNames(folder).contains(QByteArray("caf\xc3\xa9.door_converted.mp4")));
    const Mp4Check check = ProbeH264BaselineMp4(folder + QStringLiteral("/caf\u00e9.door_converted.mp4"), 320, 240);
    QVERIFY2(check.ok, qPrintable(check.problem));
}

void ConversionTest::stopRequestMadeBetweenRunsDoesNotStopTheNext()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_after_stop"));
    const QString source = ShortRecording(folder + QStringLiteral("/clip.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);

    ffmpeg_request_stop();
    QVERIFY(ConvertAndWait(parts, QStringLiteral("clip_converted.mp4")));
    const Mp4Check check = ProbeH264BaselineMp4(folder + QStringLiteral("/clip_converted.mp4"), 320, 240);
    QVERIFY2(check.ok, qPrintable(check.problem));
    // The whole two seconds, not a run cut short.
    QVERIFY2(check.duration > 1.8, qPrintable(QString::number(check.duration)));
}

void ConversionTest::cancelOrEscapeRemovesThePartialFile_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Esc") << true;
}

void ConversionTest::cancelOrEscapeRemovesThePartialFile()
{
    QFETCH(bool, escape);

    const QString folder = ScratchFolder(QStringLiteral("convert_cancel"));
    const QString source = Recording(LongRecipe(), folder + QStringLiteral("/long.avi"));
    QVERIFY(!source.isEmpty());
    const QString output = folder + QStringLiteral("/long_converted.mp4");
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    BoxAnswerer answerer;
    parts.ok->click();
    QTRY_VERIFY_WITH_TIMEOUT(OutputBytesSoFar(output) > ConvertingBytes, ConversionTimeoutMsec);
    if (escape)
        QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    else
        parts.progressBox->CancelButton()->click();

    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);
    QCOMPARE(parts.StatusText(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CANCELLED));
    QVERIFY(answerer.Messages().isEmpty());
    QCOMPARE(Entries(folder), QStringList{QStringLiteral("long.avi")});
}

void ConversionTest::closingDuringALongConversionAsksThenRemovesThePartialFile()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_close"));
    const QString source = Recording(LongRecipe(), folder + QStringLiteral("/long.avi"));
    QVERIFY(!source.isEmpty());
    const QString output = folder + QStringLiteral("/long_converted.mp4");
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    parts.ok->click();
    QTRY_VERIFY_WITH_TIMEOUT(OutputBytesSoFar(output) > ConvertingBytes, ConversionTimeoutMsec);

    // Kept: the run goes on and the file grows.
    {
        BoxAnswerer keep;
        keep.AnswerWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_KEEP));
        window->close();
        QTRY_COMPARE(keep.Messages().size(), 1);
    }
    QVERIFY(window->isVisible());
    const qint64 sizeThen = OutputBytesSoFar(output);
    QTRY_VERIFY_WITH_TIMEOUT(OutputBytesSoFar(output) > sizeThen, ConversionTimeoutMsec);
    QVERIFY(window->IsConverting());

    // Stopped: the window goes as the program's does after its event loop, and the
    // unfinished file with it.
    BoxAnswerer stop;
    stop.AnswerWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP));
    window->close();
    QTRY_COMPARE(stop.Messages().size(), 1);
    QTRY_VERIFY(!window->isVisible());
    window.reset();
    QCOMPARE(Entries(folder), QStringList{QStringLiteral("long.avi")});
}

namespace {

// The real engine, taking a named pipe as the window's own runs never do: a read
// that blocks, as one from a hung network folder would.
int EngineReadingPipes(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    RunObserver reading_pipes = *observer;
    reading_pipes.recordings_only = false;
    return ffmpeg_exec_observed(argc, argv, &reading_pipes, outcome);
}

} // namespace

void ConversionTest::closingWhileTheEngineWaitsOnANamedPipeEndsWithinTwoSeconds()
{
    // The start of a recording, then nothing: the engine waits for more in a read.
    const QString folder = ScratchFolder(QStringLiteral("convert_pipe"));
    const QString recording = ShortRecording(folder + QStringLiteral("/whole.ts"));
    QVERIFY(!recording.isEmpty());
    QFile whole(recording);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray start = whole.read(64 * 1024);
    whole.close();
    QVERIFY(QFile::remove(recording));
    const QString pipe = folder + QStringLiteral("/live.ts");
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    StallingWriter writer(pipe, start);

    const TranscodeWorker::Engine real = TranscodeWorker::SetEngine({EngineReadingPipes, ffmpeg_request_stop});
    auto window = ShownWindow();
    TranscodeWorker::SetEngine(real);
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, pipe);
    parts.ok->click();
    QTest::qWait(1500);    // long enough to have read all there is and to wait for more
    QVERIFY(window->IsConverting());

    BoxAnswerer stop;
    stop.AnswerWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP));
    QElapsedTimer clock;
    clock.start();
    window->close();
    QTRY_VERIFY(!window->isVisible());
    window.reset();
    const qint64 took = clock.elapsed();
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(Entries(folder), QStringList{QStringLiteral("live.ts")});
}

void ConversionTest::terminationSignalQuitsTheProgramWithoutAPartialFile_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void ConversionTest::terminationSignalQuitsTheProgramWithoutAPartialFile()
{
    QFETCH(int, signal);

    const QString folder = ScratchFolder(QStringLiteral("convert_signal"));
    const QString source = Recording(LongRecipe(), folder + QStringLiteral("/long.avi"));
    QVERIFY(!source.isEmpty());
    Child child;
    child.Start(source, QString(), false, true);
    QVERIFY(child.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(child.Said(QStringLiteral("converting")), ConversionTimeoutMsec);

    QCOMPARE(kill(pid_t(child.process.processId()), signal), 0);
    QVERIFY2(child.process.waitForFinished(10000), "the program did not quit");
    QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.process.exitCode(), 128 + signal);
    const QString status = child.Line(QStringLiteral("status "));
    QVERIFY2(!status.contains(CompleteText(QString()).trimmed()), qPrintable(status));
    QVERIFY2(child.Line(QStringLiteral("box ")).isEmpty(), qPrintable(child.out));
    QCOMPARE(Entries(folder), QStringList{QStringLiteral("long.avi")});
}

void ConversionTest::eachFailureKindShowsItsReason_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<int>("failure");

    QTest::newRow("not a video") << "notes" << int(RunFailure::SourceUnreadable);
    QTest::newRow("folder removed after choosing it") << "removed" << int(RunFailure::DestinationMissing);
    QTest::newRow("folder the user may not write") << "nobody" << int(RunFailure::DestinationNotWritable);
    QTest::newRow("file-size limit") << "fsize" << int(RunFailure::DiskFull);
    QTest::newRow("name over the limit") << "longname" << int(RunFailure::OutputNameRefused);
}

void ConversionTest::eachFailureKindShowsItsReason()
{
    QFETCH(QString, cause);
    QFETCH(int, failure);

    const QString folder = ScratchFolder(QStringLiteral("convert_failure_") + cause);
    QString source = folder + QStringLiteral("/door.ts");
    QString destination = folder;
    if (cause == QLatin1String("notes")) {
        source = folder + QStringLiteral("/notes.txt");
        QFile notes(source);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("These are notes about the recording, not the recording itself.\n");
    } else if (cause == QLatin1String("longname")) {
        // Short enough for the source, too long once "_converted.mp4" replaces ".ts".
        source = folder + QLatin1Char('/') + QString(245, QLatin1Char('n')) + QStringLiteral(".ts");
        QVERIFY(!ShortRecording(source).isEmpty());
    } else {
        QVERIFY(!ShortRecording(source).isEmpty());
    }
    if (cause == QLatin1String("removed") || cause == QLatin1String("nobody")) {
        destination = folder + QStringLiteral("/exports");
        QVERIFY(QDir().mkdir(destination));
    }

    if (cause == QLatin1String("nobody")) {
        // Another user's folder, as that user: in a child process that drops to nobody.
        Child child;
        child.Start(source, destination, true);
        QVERIFY(child.process.waitForFinished(ConversionTimeoutMsec));
        if (child.process.exitCode() == ChildWindow::CannotDropPrivileges)
            QSKIP("cannot become the user nobody here");
        QCOMPARE(child.Line(QStringLiteral("box ")),
                 FailureMessage(RunFailure(failure)).replace(QLatin1Char('\n'), QStringLiteral(" | ")));
        QVERIFY(Entries(destination).isEmpty());
        return;
    }

    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    parts.destination->setText(destination);
    if (cause == QLatin1String("removed"))
        QVERIFY(QDir(destination).removeRecursively());
    BoxAnswerer answerer;
    // Drawn while the box is open, saved once no file-size limit is in force.
    QImage boxPicture;
    answerer.InspectEachWith([&boxPicture](ConverterMsgBox *box) {
        if (boxPicture.isNull())
            boxPicture = CompositeScreenshot(box->parentWidget(), box);
    });
    rlimit previousLimit = {};
    if (cause == QLatin1String("fsize")) {
        // A few kilobytes: the header fits, the pictures do not. The signal that the
        // limit raises is ignored, so the write fails with its error instead.
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
        rlimit small = previousLimit;
        small.rlim_cur = 16 * 1024;
        signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    parts.ok->click();
    const bool answered = QTest::qWaitFor([&]() { return !answerer.Messages().isEmpty(); }, ConversionTimeoutMsec);
    if (cause == QLatin1String("fsize")) {
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        signal(SIGXFSZ, SIG_DFL);
    }
    QVERIFY(answered);
    WriteScreenshot(boxPicture, QStringLiteral("app_failure_") + cause);
    QCOMPARE(answerer.Messages().first(), FailureMessage(RunFailure(failure)));
    QCOMPARE(parts.StatusText(), ConversionTexts::FailedNote(ConversionTexts::FailureReason(RunFailure(failure))));
    QTRY_VERIFY(!parts.MaskShown());
    // Neither the output nor its partial file: only the source, if it is there.
    const QStringList left = Entries(destination);
    QVERIFY2(left.isEmpty() || left == QStringList{QFileInfo(source).fileName()}, qPrintable(left.join(", ")));
}

void ConversionTest::recordingWithNothingDecodableFailsAndLeavesNoFile()
{
    // The index is intact and the engine reads to the end, but every sample is
    // zeros: no media reaches the output, which must not be called complete.
    const QString folder = ScratchFolder(QStringLiteral("convert_nothing"));
    const QString source = folder + QStringLiteral("/silent.m4a");
    try {
        Bytes bytes = fixtures::read_file(fixtures::fixture_path(fixtures::FixtureKind::AacM4a));
        QVERIFY(zero_mp4_samples(bytes));
        fixtures::write_file(QFile::encodeName(source).toStdString(), bytes);
    } catch (const fixtures::FixtureError &error) {
        QFAIL(error.what());
    }
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);

    BoxAnswerer answerer;
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Messages().size(), 1, ConversionTimeoutMsec);
    QCOMPARE(answerer.Messages().first().section(QLatin1Char('\n'), 0, 0),
             TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED));
    QCOMPARE(parts.StatusText(), ConversionTexts::FailedNote(answerer.Messages().first().section(QLatin1Char('\n'), 1)));
    QCOMPARE(Entries(folder), QStringList{QStringLiteral("silent.m4a")});
}

namespace {

QString WriteNotes(const QString &path)
{
    QFile notes(path);
    if (!notes.open(QIODevice::WriteOnly))
        return QString();
    notes.write("Camera 2 was offline from 08:00 to 09:30; nothing was recorded.\n");
    return path;
}

} // namespace

void ConversionTest::queueOfThreeGoesOnPastAnUnreadableFile()
{
    const QString folder = ScratchFolder(QStringLiteral("queue_failure"));
    const QStringList sources{ShortRecording(folder + QStringLiteral("/cam1.ts")),
                              WriteNotes(folder + QStringLiteral("/cam2.ts")),
                              ShortRecording(folder + QStringLiteral("/cam3.ts"))};
    QVERIFY(!sources.contains(QString()));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSources(s_dialogs, parts, sources);
    QCOMPARE(window->QueuedSources(), sources);

    QStringList entries;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&entries](ConverterMsgBox *box) { entries = ListEntries(box); });
    answerer.ScreenshotNextAs(QStringLiteral("app_queue_summary"));
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Messages().size(), 1, ConversionTimeoutMsec);
    QCOMPARE(answerer.Messages().first(), ConversionTexts::QueueSummary(2, 3));
    QCOMPARE(entries, QStringList{QStringLiteral("cam2.ts: ")
                                  + ConversionTexts::FailureReason(RunFailure::SourceUnreadable)});
    QTRY_VERIFY(!parts.MaskShown());
    QCOMPARE(parts.StatusText(), ConversionTexts::QueueSomeConverted(2, 3));
    QCOMPARE(Entries(folder), (QStringList{"cam1.ts", "cam1_converted.mp4", "cam2.ts", "cam3.ts",
                                           "cam3_converted.mp4"}));
    for (const char *name : {"/cam1_converted.mp4", "/cam3_converted.mp4"}) {
        const Mp4Check check = ProbeH264BaselineMp4(folder + name, 320, 240);
        QVERIFY2(check.ok, qPrintable(name + (": " + check.problem)));
    }
}

void ConversionTest::cancelInTheSecondOfThreeKeepsTheFirstAndStartsNoMore()
{
    const QString folder = ScratchFolder(QStringLiteral("queue_cancel"));
    const QStringList sources{ShortRecording(folder + QStringLiteral("/gate.ts")),
                              Recording(LongRecipe(), folder + QStringLiteral("/long.avi")),
                              ShortRecording(folder + QStringLiteral("/yard.ts"))};
    QVERIFY(!sources.contains(QString()));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSources(s_dialogs, parts, sources);
    parts.ok->click();
    QTRY_VERIFY_WITH_TIMEOUT(OutputBytesSoFar(folder + QStringLiteral("/long_converted.mp4")) > ConvertingBytes,
                             ConversionTimeoutMsec);
    // A quarter in, the estimate has settled enough to show.
    QTRY_VERIFY_WITH_TIMEOUT(parts.progressBox->Progress() >= 25, ConversionTimeoutMsec);
    QVERIFY(parts.progressBox->Detail().contains(QStringLiteral(" left")));
    QCOMPARE(parts.progressBox->QueueLine(), QStringLiteral("2 of 3  \u00b7  long.avi"));
    // The picture for the eye: a real queue in its second recording.
    SaveScreenshot(window.get(), QStringLiteral("app_queue_progress"));

    BoxAnswerer answerer;
    QStringList listed;
    answerer.InspectEachWith([&listed](ConverterMsgBox *box) { listed = ListEntries(box); });
    parts.progressBox->CancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);
    QCOMPARE(parts.StatusText(), ConversionTexts::QueueCancelled(1, 3));
    // The summary names the one stopped and the one never started.
    QCOMPARE(answerer.Messages().size(), 1);
    QCOMPARE(listed, (QStringList{QStringLiteral("long.avi: ") + ConversionTexts::NotRunReason(),
                                  QStringLiteral("yard.ts: ") + ConversionTexts::NotRunReason()}));
    SaveScreenshot(window.get(), QStringLiteral("app_queue_cancelled"));
    // Give a third run time to write something, were it started.
    QTest::qWait(300);
    QCOMPARE(Entries(folder), (QStringList{"gate.ts", "gate_converted.mp4", "long.avi", "yard.ts"}));
    const Mp4Check check = ProbeH264BaselineMp4(folder + QStringLiteral("/gate_converted.mp4"), 320, 240);
    QVERIFY2(check.ok, qPrintable(check.problem));
}


void ConversionTest::droppedFolderQueuesItsRecordingsOnly()
{
    const QString folder = ScratchFolder(QStringLiteral("queue_drop"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("north")));
    const QStringList expected{ShortRecording(folder + QStringLiteral("/east.ts")),
                               Recording(fixtures::fixture_recipe(fixtures::FixtureKind::AacM4a),
                                         folder + QStringLiteral("/intercom.m4a")),
                               ShortRecording(folder + QStringLiteral("/north/gate.ts"))};
    QVERIFY(!expected.contains(QString()));
    QVERIFY(!WriteNotes(folder + QStringLiteral("/notes.txt")).isEmpty());
    // What an earlier run over the folder wrote is not a recording to convert again.
    QVERIFY(CopyFile(expected.first(), folder + QStringLiteral("/east_converted.mp4")));

    auto window = ShownWindow();
    WindowParts parts(window.get());
    DropOnSource(parts, {folder});
    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);

    QCOMPARE(window->QueuedSources(), expected);
    QCOMPARE(parts.source->text(), QStringLiteral("east.ts (+2 more)"));
    QCOMPARE(parts.source->toolTip(), expected.join(QLatin1Char('\n')));
    QCOMPARE(parts.destination->text(), folder);
    QVERIFY(parts.ok->isEnabled());
}

void ConversionTest::cancelledFolderSearchLeavesTheWindowAsItWas()
{
    // An archive whose search takes a while (every file is probed).
    const QString archive = ScratchFolder(QStringLiteral("queue_drop_cancel"));
    const QString first = ShortRecording(archive + QStringLiteral("/cam000.ts"));
    QVERIFY(!first.isEmpty());
    for (int i = 1; i < 400; ++i)
        QVERIFY(CopyFile(first, archive + QStringLiteral("/cam%1.ts").arg(i, 3, 10, QLatin1Char('0'))));
    const QString small = ScratchFolder(QStringLiteral("queue_drop_after_cancel"));
    QVERIFY(CopyFile(first, small + QStringLiteral("/gate.ts")));
    QVERIFY(CopyFile(first, small + QStringLiteral("/yard.ts")));

    auto window = ShownWindow();
    WindowParts parts(window.get());
    DropOnSource(parts, {archive});
    QVERIFY(parts.MaskShown());
    QVERIFY(parts.progressBox->CancelButton()->isVisible());
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);
    QVERIFY(window->QueuedSources().isEmpty());
    QVERIFY(parts.source->text().isEmpty());
    QVERIFY(!parts.ok->isEnabled());

    // The stop is not left behind for the next search.
    DropOnSource(parts, {small});
    QTRY_VERIFY_WITH_TIMEOUT(!parts.MaskShown(), ConversionTimeoutMsec);
    QCOMPARE(window->QueuedSources(),
             QStringList({small + QStringLiteral("/gate.ts"), small + QStringLiteral("/yard.ts")}));
}
