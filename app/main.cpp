// The converter's entry: application-wide set-up, the termination signals, the cursor
// table, the window, the recordings named on the command line, the event loop. The event loop's result is the exit status
// (128 + the signal's number when SIGINT or SIGTERM ended the program).
#include "CommandLineSources.h"
#include "CursorMgr.h"
#include "TerminationSignals.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"
#include "platform.h"

#include <QDebug>
#include <QTimer>

int main(int argc, char **argv)
{
    // Qt opens files and sockets at start-up: none may take the number of a closed
    // standard descriptor, where the engine would read keys or write its log.
    plat_fill_closed_standard_descriptors();
    TranscoderApp app(argc, argv);
    // Before the window: a signal that arrives while it is being built waits in the
    // notifier's pipe and is handled once the event loop runs.
    TerminationSignals::Instance();
    CursorMgr::Create();
    TranscoderWin window(nullptr);
    window.show();
    // Recordings named on the command line (Qt has taken its own options out): the
    // source, as if dropped, once the event loop runs.
    const CommandLineSources commandLine(TranscoderApp::arguments());
    for (const QString &ignored : commandLine.Ignored())
        qWarning().noquote() << "Unknown option ignored:" << ignored;
    if (!commandLine.Paths().isEmpty()) {
        const QStringList paths = commandLine.Paths();
        QTimer::singleShot(0, &window, [&window, paths]() { window.OpenRecordings(paths); });
    }
    return app.exec();
}
