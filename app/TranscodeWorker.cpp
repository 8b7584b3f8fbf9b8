// The conversion worker. DoWork runs on the worker thread; ArgList, SetEngine and
// RequestStop are called from the GUI thread.
#include "TranscodeWorker.h"

#include "ffmpeg_exec.h"

#include <QByteArray>
#include <QDebug>
#include <QList>

#include <cstdio>
#include <vector>

namespace {

TranscodeWorker::Engine s_engine = TranscodeWorker::DefaultEngine();

} // namespace

TranscodeWorker::TranscodeWorker(QObject *parent)
    : QObject(parent)
    , m_engine(s_engine)
{
}

QStringList TranscodeWorker::ArgList(const QString &sourcePath, const QString &outputPath)
{
    return {QStringLiteral("ffmpeg"), QStringLiteral("-i"), sourcePath,
            QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-profile:v"), QStringLiteral("baseline"),
            QStringLiteral("-level"), QStringLiteral("3"),
            QStringLiteral("-strict"), QStringLiteral("-2"), outputPath};
}

TranscodeWorker::Engine TranscodeWorker::SetEngine(const Engine &engine)
{
    const Engine previous = s_engine;
    s_engine = engine;
    return previous;
}

TranscodeWorker::Engine TranscodeWorker::DefaultEngine()
{
    return Engine{ffmpeg_exec, ffmpeg_request_stop};
}

void TranscodeWorker::RequestStop()
{
    // The stop function is fixed while any worker runs (SetEngine's contract), so
    // reading it here from another thread is safe.
    s_engine.requestStop();
}

void TranscodeWorker::DoWork(const QStringList &ArgList)
{
    // The bytes live in `encoded` until the engine has returned; the engine neither
    // frees nor keeps them. toLocal8Bit gives UTF-8 because start-up made UTF-8 the
    // locale codec, so file names outside ASCII reach the engine intact.
    const int argc = ArgList.size();
    QList<QByteArray> encoded;
    encoded.reserve(argc);
    std::vector<char *> argv;
    argv.reserve(argc);
    for (const QString &word : ArgList) {
        encoded.append(word.toLocal8Bit());
        argv.push_back(encoded.last().data());
    }

    for (int i = 0; i < argc; ++i) {
        printf("%s\n", argv[i]);
        qDebug().noquote() << QString::fromUtf8(argv[i]);
    }
    // The words come before whatever the engine prints, also into a pipe.
    fflush(stdout);

    const int status = m_engine.run(argc, argv.data());
    emit SigResultReady(status);
}
