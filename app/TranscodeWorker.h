// The conversion worker: runs one engine conversion per request on the worker thread,
// so that the window stays responsive while a conversion takes minutes.
//
// The window owns one worker, moved to its worker thread, and talks to it only through
// queued signals: SigTranscode(ArgList) in; SigProgress(Progress) while the run goes,
// then SigRunEnded(Outcome) and SigResultReady(ExitCode) out. Between conversions it
// also looks for the recordings in dropped folders (DoCollect, SigCollected), which
// probes every file and may take a while. DoWork turns the list
// into the argc/argv pair the engine takes (UTF-8 bytes, because start-up sets the
// locale codec to UTF-8), prints the words, runs the engine's observed entry to its
// end and forwards what it reports. The run itself goes on a fresh thread, joined
// before DoWork returns, that the kernel first confines to the source's folder and
// the output's (platform/confine.h), so the window's own threads stay free.
//
//     worker->moveToThread(&thread);
//     connect(window, &TranscoderWin::SigTranscode, worker, &TranscodeWorker::DoWork);
//     worker->ClearStopRequest();
//     emit SigTranscode(TranscodeWorker::ArgList(source, output));
//     ...
//     worker->RequestStop();      // Cancel: the run ends early, its output removed
#pragma once

#include "RecordingQueue.h"
#include "ffmpeg_exec.h"

#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <atomic>

Q_DECLARE_METATYPE(RunProgress)
Q_DECLARE_METATYPE(RunOutcome)

class TranscodeWorker : public QObject
{
    Q_OBJECT

public:
    // The engine a worker drives: its observed entry and its thread-safe stop
    // request. The program uses the transcoding engine; tests substitute their own.
    struct Engine {
        int (*run)(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome);
        void (*requestStop)(void);
    };

    // Takes the engine that is current now (see SetEngine). No parent: the worker is
    // moved to its thread, which a parent would prevent.
    explicit TranscodeWorker(QObject *parent = nullptr);

    // The twelve words of one conversion (converter_arguments()): "ffmpeg", "-i", the
    // source path, "-c:v", "libx264", "-profile:v", "baseline", "-level", "3",
    // "-strict", "-2" and the output path. The paths go in unchanged.
    static QStringList ArgList(const QString &sourcePath, const QString &outputPath);

    // Replaces the engine of workers created from now on and returns the one before.
    // GUI thread, while no worker of the old engine is running.
    static Engine SetEngine(const Engine &engine);
    // The engine of the whole process.
    static Engine DefaultEngine();

    // Asks the conversion in progress, or the next one to start, to end early; the
    // engine then removes the output it was writing. Safe from any thread. The
    // request stays until ClearStopRequest(), so one made before the run has begun
    // still reaches it; repeating it is harmless.
    void RequestStop();
    // Forgets a stop request: called before each new conversion is handed over, when
    // no run is in progress.
    void ClearStopRequest();
    // Only the engine's own request (it wakes a run blocked on input), without
    // touching any worker: for a caller that no longer knows whether the worker
    // still exists. Safe from any thread.
    static void RequestEngineStop();

signals:
    // The run's progress, at the pace of the engine's status line and once at its end.
    void SigProgress(RunProgress Progress);
    // How the run ended; emitted just before SigResultReady.
    void SigRunEnded(RunOutcome Outcome);
    void SigResultReady(int ExitCode);
    // The recordings DoCollect found.
    void SigCollected(RecordingList Recordings);

public slots:
    // Runs one conversion to its end on a confined thread of its own; emits
    // SigRunEnded with the engine's account and SigResultReady with its status (from
    // this thread; SigProgress comes from the conversion's). Runs ended early remove
    // their output. When the thread cannot be confined (for another reason than a
    // kernel without Landlock), the engine is not run: RunFailure::Other, status -1.
    void DoWork(const QStringList &ArgList);
    // The recordings among files and folders (RecordingQueue::Collect); emits
    // SigCollected with them. A stop request (RequestStop) ends the search early,
    // with what was found until then.
    void DoCollect(const QStringList &Paths);

private:
    Engine m_engine;
    std::atomic<bool> m_stopRequested{false};
};
