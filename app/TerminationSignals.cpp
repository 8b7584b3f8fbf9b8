#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaMethod>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// [0] read by the notifier, [1] written by the handler.
int s_pipe[2] = {-1, -1};

void OnSignal(int signal)
{
    // Only async-signal-safe calls here; errno belongs to the interrupted code.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    ssize_t written = write(s_pipe[1], &number, 1);
    (void)written;   // a full pipe already holds a pending signal
    errno = savedErrno;
}

bool InstallHandler(int signal)
{
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(signal, &action, nullptr) == 0;
}

// The default disposition, then the signal again: the process ends as if it had never
// been caught.
void EndAsUncaught(int signal)
{
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

TerminationSignals *TerminationSignals::Instance()
{
    static TerminationSignals *instance = new TerminationSignals;
    return instance;
}

TerminationSignals::TerminationSignals()
    : QObject(nullptr)
{
    if (pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("No pipe for the termination signals: %s", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this]() { OnSignalPending(); });
    if (!InstallHandler(SIGINT) || !InstallHandler(SIGTERM))
        qWarning("Cannot handle SIGINT and SIGTERM: %s", strerror(errno));
}

void TerminationSignals::OnSignalPending()
{
    unsigned char number = 0;
    while (read(s_pipe[0], &number, 1) == 1) {
        const int signal = number;
        qDebug("Signal %d received", signal);
        if (!isSignalConnected(QMetaMethod::fromSignal(&TerminationSignals::SigTermination)))
            EndAsUncaught(signal);
        emit SigTermination(signal);
    }
}
