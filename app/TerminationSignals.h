// SIGINT and SIGTERM as Qt signals on the GUI thread.
//
// A desktop logout or `kill` must end the converter cleanly: a conversion in progress
// stopped and its unfinished file removed, then the program gone. The handlers do the
// one thing that is safe inside a signal handler, writing the signal's number into a
// pipe; a socket notifier on the pipe's other end emits SigTermination in the event
// loop, where the window stops its conversion and quits.
//
//     TerminationSignals::Instance();          // at start-up: handlers installed
//     connect(TerminationSignals::Instance(), &TerminationSignals::SigTermination,
//             window, &TranscoderWin::SlotTerminate);
//
// The engine puts handlers of its own in place while a run is in progress, stops the
// run on a signal and passes the signal on to these handlers when the run is over.
// A signal that nobody listens for ends the process as it would have without these
// handlers. The instance lives until the process ends. GUI thread only.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // The one instance; the first call installs the handlers.
    static TerminationSignals *Instance();

signals:
    void SigTermination(int Signal);

private:
    TerminationSignals();
    void OnSignalPending();

    QSocketNotifier *m_notifier = nullptr;
};
