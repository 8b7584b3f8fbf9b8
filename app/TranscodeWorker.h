// The conversion worker: runs one conversion per request on the worker thread, so
// that the window stays responsive while a conversion takes minutes.
//
// The window owns one worker, moved to its worker thread, and talks to it only through
// queued signals: SigTranscode(source, output, choices) in; SigProgress(Progress)
// while the run goes, then SigConversionEnded(Result), SigRunEnded(Outcome) and
// SigResultReady(ExitCode) out. DoJoin(sources, folder, choices) makes one file of
// several recordings (run_join, join.h) the same way: its name, computed from the
// first recording in join order, comes first with SigJoinNamed. Between conversions it also looks for the recordings
// in dropped folders (DoCollect, SigCollected), which probes every file and may take
// a while. DoWork hands the paths (UTF-8 bytes, because start-up sets the locale codec
// to UTF-8) and the window's choices to run_conversion (conversion.h), which plans the
// conversion, runs the engine's observed entry and writes the evidence record when
// chosen; the plan's words are printed just before the engine gets them. All of it
// goes on a fresh thread, joined before DoWork returns, that the kernel first confines
// to the source's folder and the output's (platform/confine.h), so the window's own
// threads stay free.
//
//     worker->moveToThread(&thread);
//     connect(window, &TranscoderWin::SigTranscode, worker, &TranscodeWorker::DoWork);
//     worker->ClearStopRequest();
//     emit SigTranscode(source, output, options->Choices());
//     ...
//     worker->RequestStop();      // Cancel: the run ends early, its output removed
#pragma once

#include "RecordingQueue.h"
#include "conversion.h"
#include "ffmpeg_exec.h"

#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>

Q_DECLARE_METATYPE(RunProgress)
Q_DECLARE_METATYPE(RunOutcome)
Q_DECLARE_METATYPE(ConversionChoices)
Q_DECLARE_METATYPE(ConversionResult)

class TranscodeWorker : public QObject
{
    Q_OBJECT

public:
    // The engine a worker drives: its observed entry (run_conversion's engine) and its
    // thread-safe stop request. The program uses the transcoding engine; tests
    // substitute their own.
    struct Engine {
        EngineEntry run;
        void (*requestStop)(void);
    };

    // Takes the engine that is current now (see SetEngine). No parent: the worker is
    // moved to its thread, which a parent would prevent.
    explicit TranscodeWorker(QObject *parent = nullptr);

    // The twelve words of the converter's own conversion (converter_arguments()), the
    // plan's words when no choice is on: "ffmpeg", "-i", the source path, "-c:v",
    // "libx264", "-profile:v", "baseline", "-level", "3", "-strict", "-2" and the
    // output path. The paths go in unchanged.
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
    // The whole conversion: its plan, how the run ended and the evidence record;
    // emitted just before SigRunEnded.
    void SigConversionEnded(ConversionResult Result);
    // How the run ended; emitted just before SigResultReady.
    void SigRunEnded(RunOutcome Outcome);
    void SigResultReady(int ExitCode);
    // The recordings DoCollect found.
    void SigCollected(RecordingList Recordings);
    // The file DoJoin is about to make ("<first>_converted_joined.mp4" in the
    // folder, the first free number); empty when every name is taken, and then
    // nothing is run.
    void SigJoinNamed(QString Output);

public slots:
    // Converts `Source` into `Output` with `Choices` (run_conversion) to its end on a
    // confined thread of its own; prints the plan's words, one a line, on standard
    // output and in the debug log before the engine starts; emits SigConversionEnded
    // with the result, SigRunEnded with the engine's account and SigResultReady with
    // its status (from this thread; SigProgress comes from the conversion's). Runs
    // ended early remove their output. When the thread cannot be confined (for another
    // reason than a kernel without Landlock), nothing is run: RunFailure::Other,
    // status -1.
    void DoWork(const QString &Source, const QString &Output, const ConversionChoices &Choices);
    // The recordings among files and folders (RecordingQueue::Collect); emits
    // SigCollected with them. A stop request (RequestStop) ends the search early,
    // with what was found until then.
    void DoCollect(const QStringList &Paths);
    // Joins `Sources` into one file in `Folder` (run_join) on a confined thread of
    // its own, which may read every recording's folder and write only in `Folder`:
    // there it orders the recordings (join_order), names the file after the first
    // (free_output_path, joined), emits SigJoinNamed and runs the join. Then the
    // same signals as DoWork; SigProgress carries the joined length.
    void DoJoin(const QStringList &Sources, const QString &Folder, const ConversionChoices &Choices);

private:
    // The observer of a run started by this worker: progress out, the stop request in.
    RunObserver Observer();
    // Runs `conversion` on a thread of its own, joined before returning, and emits
    // the result signals.
    void RunAndReport(const std::function<int(ConversionResult *result)> &conversion);

    Engine m_engine;
    std::atomic<bool> m_stopRequested{false};
};
