// The conversion worker: runs one engine conversion per request on the worker thread,
// so that the window stays responsive while a conversion takes minutes.
//
// The window owns one worker, moved to its worker thread, and talks to it only through
// queued signals: SigTranscode(ArgList) in, SigResultReady(ExitCode) out. DoWork turns
// the list into the argc/argv pair the engine takes (UTF-8 bytes, because start-up
// sets the locale codec to UTF-8), prints the words, runs the engine to its end and
// forwards its status unchanged.
//
//     worker->moveToThread(&thread);
//     connect(window, &TranscoderWin::SigTranscode, worker, &TranscodeWorker::DoWork);
//     emit SigTranscode(TranscodeWorker::ArgList(source, output));
#pragma once

#include <QObject>
#include <QStringList>

class TranscodeWorker : public QObject
{
    Q_OBJECT

public:
    // The engine a worker drives: its entry and its thread-safe stop request. The
    // program uses the transcoding engine; tests substitute their own.
    struct Engine {
        int (*run)(int argc, char **argv);
        void (*requestStop)(void);
    };

    // Takes the engine that is current now (see SetEngine). No parent: the worker is
    // moved to its thread, which a parent would prevent.
    explicit TranscodeWorker(QObject *parent = nullptr);

    // The twelve words of one conversion: "ffmpeg", "-i", the source path, "-c:v",
    // "libx264", "-profile:v", "baseline", "-level", "3", "-strict", "-2" and the
    // output path. The paths go in unchanged.
    static QStringList ArgList(const QString &sourcePath, const QString &outputPath);

    // Replaces the engine of workers created from now on and returns the one before.
    // GUI thread, while no worker of the old engine is running.
    static Engine SetEngine(const Engine &engine);
    // The engine of the whole process.
    static Engine DefaultEngine();

    // Asks the conversion in progress, if any, to finish early: the engine ends its
    // loop and writes the output's trailer. Safe from any thread.
    static void RequestStop();

signals:
    void SigResultReady(int ExitCode);

public slots:
    // Runs one conversion to its end and emits SigResultReady with the engine's status.
    void DoWork(const QStringList &ArgList);

private:
    Engine m_engine;
};
