// The conversion worker. DoWork runs on the worker thread and each conversion on a
// thread of its own that the kernel confines; ArgList, SetEngine and the stop
// request are called from the GUI thread.
#include "TranscodeWorker.h"

#include "confine.h"
#include "join.h"
#include "output_naming.h"

#include <QByteArray>
#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <string>
#include <thread>

namespace {

TranscodeWorker::Engine s_engine = TranscodeWorker::DefaultEngine();

// The engine of the conversion on this thread, for PrintingEngine.
thread_local EngineEntry t_engine = nullptr;

// run_conversion's engine: prints the plan's words, one a line, on standard output
// and in the debug log, then runs the worker's engine with them.
int PrintingEngine(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    for (int i = 0; i < argc; ++i) {
        printf("%s\n", argv[i]);
        qDebug().noquote() << QString::fromUtf8(argv[i]);
    }
    // The words come before whatever the engine prints, also into a pipe.
    fflush(stdout);
    // run_conversion calls its engine on the thread that called it, where
    // ConfinedConversion set t_engine; the process's engine stands in otherwise.
    const EngineEntry engine = t_engine ? t_engine : s_engine.run;
    return engine(argc, argv, observer, outcome);
}

// A run that never reached the engine.
RunOutcome NotRun(int error, const std::string &reason)
{
    RunOutcome outcome;
    outcome.status = -1;
    outcome.end = RunEnd::Failed;
    outcome.failure = RunFailure::Other;
    outcome.error = error;
    outcome.error_text = reason;
    return outcome;
}

// Confines the calling thread (the conversion's own) by `rules`. A kernel without
// Landlock is told on standard error (the engine's folder guard then holds alone);
// any other failure refuses the run, with `outcome` saying why.
bool ConfineConversion(const ConfineRules &rules, RunOutcome *outcome)
{
    ConfineApplied applied;
    std::string note;
    const int ret = plat_confine_thread(rules, &applied, &note);
    if (ret < 0 || !applied.landlock_abi)
        fprintf(stderr, "%s\n", note.c_str());
    if (ret < 0) {
        *outcome = NotRun(ret, note);
        return false;
    }
    return true;
}

// On the conversion's own thread: confines it to the source's folder and the
// output's, then plans and runs the conversion there (looking at the source, the
// engine's run and the evidence record all happen under the confinement). The
// confinement holds for this thread and the threads the engine starts, never for
// the window's.
int ConfinedConversion(const TranscodeWorker::Engine &engine, const std::string &source, const std::string &output,
                       const ConversionChoices &choices, const RunObserver &observer, ConversionResult *result)
{
    if (!ConfineConversion(conversion_confinement(source, output), &result->outcome))
        return -1;
    t_engine = engine.run;
    return run_conversion(source, output, choices, observer, result, PrintingEngine);
}

// What a join may touch: the folder of every recording to read, `folder` to write.
ConfineRules JoinConfinement(const std::vector<std::string> &sources, const std::string &folder)
{
    // The output's name is not known yet; any name in the folder gives its rules.
    const std::string someOutput = folder + "/joined.mp4";
    ConfineRules rules = conversion_confinement(sources.front(), someOutput);
    for (size_t i = 1; i < sources.size(); ++i) {
        const ConfineRules more = conversion_confinement(sources[i], someOutput);
        rules.read_trees.insert(rules.read_trees.end(), more.read_trees.begin(), more.read_trees.end());
    }
    return rules;
}

} // namespace

TranscodeWorker::TranscodeWorker(QObject *parent)
    : QObject(parent)
    , m_engine(s_engine)
{
    // Queued connections copy the records through the meta-type system.
    qRegisterMetaType<RunProgress>("RunProgress");
    qRegisterMetaType<RunOutcome>("RunOutcome");
    qRegisterMetaType<ConversionChoices>("ConversionChoices");
    qRegisterMetaType<ConversionResult>("ConversionResult");
    qRegisterMetaType<RecordingList>("RecordingList");
}

QStringList TranscodeWorker::ArgList(const QString &sourcePath, const QString &outputPath)
{
    // The engine's list is UTF-8; so are the window's paths once encoded for the
    // engine, so the round trip leaves them unchanged.
    QStringList words;
    for (const std::string &word : converter_arguments(sourcePath.toStdString(), outputPath.toStdString()))
        words.append(QString::fromStdString(word));
    return words;
}

TranscodeWorker::Engine TranscodeWorker::SetEngine(const Engine &engine)
{
    const Engine previous = s_engine;
    s_engine = engine;
    return previous;
}

TranscodeWorker::Engine TranscodeWorker::DefaultEngine()
{
    return Engine{ffmpeg_exec_observed, ffmpeg_request_stop};
}

void TranscodeWorker::RequestStop()
{
    m_stopRequested = true;
    // The engine's own request wakes a run blocked on input at once; a run that has
    // not begun yet clears it, which the flag above covers.
    m_engine.requestStop();
}

void TranscodeWorker::RequestEngineStop()
{
    // The stop function is fixed while any worker runs (SetEngine's contract).
    s_engine.requestStop();
}

void TranscodeWorker::ClearStopRequest()
{
    m_stopRequested = false;
}

RunObserver TranscodeWorker::Observer()
{
    RunObserver observer;
    observer.on_progress = [this](const RunProgress &progress) {
        emit SigProgress(progress);
        return !m_stopRequested;
    };
    observer.should_stop = [this]() { return m_stopRequested.load(); };
    // A run the user stopped leaves nothing behind that looks like a finished file.
    observer.discard_when_stopped = true;
    // Another conversion may write into the same folder: its files are never
    // replaced, and a typed path to a pipe or device is refused, not waited on.
    observer.never_replace = true;
    observer.recordings_only = true;
    return observer;
}

void TranscodeWorker::RunAndReport(const std::function<int(ConversionResult *result)> &conversion)
{
    ConversionResult result;
    int status = -1;
    // SigProgress then comes from the conversion's thread: queued to the window
    // like the other signals. The engine records that thread as the run's, so a
    // stop request still wakes it there.
    try {
        std::thread thread([&]() { status = conversion(&result); });
        thread.join();
    } catch (const std::system_error &error) {
        result.outcome = NotRun(-error.code().value(), error.what());
    }
    emit SigConversionEnded(result);
    emit SigRunEnded(result.outcome);
    emit SigResultReady(status);
}

void TranscodeWorker::DoWork(const QString &Source, const QString &Output, const ConversionChoices &Choices)
{
    // toLocal8Bit gives UTF-8 because start-up made UTF-8 the locale codec, so file
    // names outside ASCII reach the engine intact.
    const std::string source = Source.toLocal8Bit().toStdString();
    const std::string output = Output.toLocal8Bit().toStdString();
    const RunObserver observer = Observer();
    RunAndReport([&](ConversionResult *result) {
        return ConfinedConversion(m_engine, source, output, Choices, observer, result);
    });
}

void TranscodeWorker::DoJoin(const QStringList &Sources, const QString &Folder, const ConversionChoices &Choices)
{
    std::vector<std::string> sources;
    for (const QString &source : Sources)
        sources.push_back(source.toLocal8Bit().toStdString());
    const std::string folder = Folder.toLocal8Bit().toStdString();
    const RunObserver observer = Observer();
    RunAndReport([&](ConversionResult *result) {
        if (sources.empty() || !ConfineConversion(JoinConfinement(sources, folder), &result->outcome)) {
            emit SigJoinNamed(QString());
            return -1;
        }
        // Looked at under the confinement, as the join itself does.
        const std::vector<std::string> order = join_order(sources);
        const std::string first = order.front().substr(order.front().find_last_of('/') + 1);
        const std::string output = free_output_path(folder, first, output_path_taken_on_disk, MAX_OUTPUT_NUMBER, true);
        emit SigJoinNamed(QString::fromLocal8Bit(output.c_str()));
        if (output.empty()) {
            result->outcome = NotRun(-EEXIST, "every output name is taken");
            return -1;
        }
        JoinPlan join;
        t_engine = m_engine.run;
        return run_join(sources, output, Choices, observer, result, &join, PrintingEngine);
    });
}

void TranscodeWorker::DoCollect(const QStringList &Paths)
{
    // A stop request (Cancel, the window closing) ends a long search early.
    emit SigCollected(RecordingQueue::Collect(Paths, [this] { return m_stopRequested.load(); }));
}
