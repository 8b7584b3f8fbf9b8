// Ending a run early: the stop request of another thread, the caller's own stop
// wish (RunObserver), the "q" key and the termination signals, and waking a run
// that sits in a blocking system call so it can notice them.
//
// SIGINT, SIGTERM and SIGHUP are the engine's only while a run is in progress
// (SIGPIPE is ignored meanwhile, so a closed pipe fails a write): the
// handlers in force before are kept and put back at the end of the run, and a
// signal that arrived meanwhile is then raised again for them, once the run has
// finished its files (the command-line program then ends as users expect, a
// window's own handler learns of it). The count starts at 0 for every run.
//
// A blocked open() or read() (a named pipe without writer, a hung network folder)
// only notices a stop when the system call returns. The run's thread is therefore
// woken with a thread-directed SIGURG, whose handler does nothing and is installed
// without SA_RESTART: the call fails with EINTR, the library's I/O retry asks the
// interrupt callback, and that says stop. SIGURG is ignored by default, so a
// wake-up that comes late can never end the process.
#include "engine.h"
#include "observe.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <pthread.h>
#include <thread>

volatile sig_atomic_t received_signal;
volatile sig_atomic_t received_nb_signals;

const AVIOInterruptCB interrupt_callback = {engine_interrupt_cb, nullptr};

namespace {

volatile sig_atomic_t first_signal; // the one that stopped the run

// Set by ffmpeg_request_stop() from any thread, read on the run's thread.
std::atomic<bool> stop_request{false};
// How the run was stopped, the first cause noticed (a StopCause).
std::atomic<int> stop_cause{int(StopCause::None)};

std::atomic<int> run_phase{int(RunPhase::Idle)};
std::atomic<bool> reading_input{false};
// The caller throws away what a stopped run made (the window, the batch
// command): nothing is left to finish after a stop, so writes may be broken off
// too. Copied from the observer at the start of the run, as the waker thread
// reads it.
std::atomic<bool> discarding_when_stopped{false};

// The run's thread while a run is in progress; the lock keeps it from ending the
// run while another thread is about to wake it.
std::mutex run_thread_lock;
pthread_t run_thread;
std::atomic<bool> run_thread_known{false};
bool waker_running = false; // guarded by run_thread_lock

struct sigaction previous_sigint, previous_sigterm, previous_sighup, previous_sigpipe;

void wake_up(int) {}

void install_wake_handler(void)
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa = {};
        sa.sa_handler = wake_up;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the blocked call must return
        sigaction(SIGURG, &sa, nullptr);
    });
}

// True while a stop may break off blocking I/O: opening the files, and reading
// input during the loop. Never while the outputs are finished: their trailers
// must still be written. When the caller discards a stopped run, any time: a
// write blocked on a hung destination must not hold the stop up either.
bool interruptible(void)
{
    const RunPhase phase = RunPhase(run_phase.load());
    if (discarding_when_stopped.load())
        return phase != RunPhase::Idle;
    return phase == RunPhase::Opening || (phase == RunPhase::Looping && reading_input.load());
}

// Wakes the run's thread until the run has left the phases a stop interrupts.
// Runs on a thread of its own, started by the first stop request of a run: one
// wake-up alone could arrive just before the run enters its blocking call.
void keep_waking(void)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(run_thread_lock);
            // A new run clears the request before it records its thread, so a
            // waker left over from the run before never disturbs it.
            if (!run_thread_known.load() || !stop_request.load() ||
                (RunPhase(run_phase.load()) == RunPhase::Finishing && !discarding_when_stopped.load())) {
                waker_running = false;
                return;
            }
            if (interruptible())
                pthread_kill(run_thread, SIGURG);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void note_stop(StopCause cause)
{
    int none = int(StopCause::None);
    stop_cause.compare_exchange_strong(none, int(cause));
}

} // namespace

void on_termination_signal(int sig)
{
    // Only record the signal: the loop reads it at the top of every iteration. No
    // logging here, because the log callback takes a lock that the interrupted
    // thread may be holding.
    if (!first_signal)
        first_signal = sig;
    received_signal = sig;
    received_nb_signals = received_nb_signals + 1;
    // A signal sent to the process may land on any thread; the run's own thread
    // is the one that may be blocked in a system call.
    if (run_thread_known.load() && !pthread_equal(pthread_self(), run_thread))
        pthread_kill(run_thread, SIGURG);
}

void ffmpeg_request_stop(void)
{
    stop_request.store(true);
    std::lock_guard<std::mutex> hold(run_thread_lock);
    if (run_thread_known.load() && !waker_running) {
        waker_running = true;
        std::thread(keep_waking).detach();
    }
}

StopCause engine_stop_cause(void)
{
    if (StopCause(stop_cause.load()) != StopCause::None)
        return StopCause(stop_cause.load());
    if (received_nb_signals)
        note_stop(StopCause::Signal);
    else if (stop_request.load() || observer_wants_stop())
        note_stop(StopCause::Request);
    return StopCause(stop_cause.load());
}

StopCause engine_noted_stop(void)
{
    return StopCause(stop_cause.load());
}

void engine_note_key_stop(void)
{
    note_stop(StopCause::Key);
}

int engine_stop_signal(void)
{
    return first_signal;
}

int engine_interrupt_cb(void *)
{
    // A second signal gives up on everything, the trailers included.
    if (received_nb_signals > 1)
        return 1;
    return interruptible() && engine_stop_cause() != StopCause::None;
}

void set_run_phase(RunPhase phase)
{
    run_phase.store(int(phase));
}

void set_reading_input(bool reading)
{
    reading_input.store(reading);
}

void begin_run_signals(void)
{
    received_signal = received_nb_signals = first_signal = 0;
    stop_request.store(false);
    stop_cause.store(int(StopCause::None));
    discarding_when_stopped.store(observer_discards_stopped_output());
    install_wake_handler();
    {
        std::lock_guard<std::mutex> hold(run_thread_lock);
        run_thread = pthread_self();
        run_thread_known.store(true);
    }
    struct sigaction sa = {};
    sa.sa_handler = on_termination_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked read of the run's thread returns
    sigaction(SIGINT, &sa, &previous_sigint);
    sigaction(SIGTERM, &sa, &previous_sigterm);
    // A closed terminal stops the run as a termination request does.
    sigaction(SIGHUP, &sa, &previous_sighup);
    // A reader that went away (a pipe output, standard error into a closed
    // pipe) makes that write fail instead of ending the process mid-file.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_sigpipe);
}

void end_run_signals(void)
{
    set_run_phase(RunPhase::Idle);
    discarding_when_stopped.store(false);
    {
        std::lock_guard<std::mutex> hold(run_thread_lock);
        run_thread_known.store(false);
    }
    sigaction(SIGINT, &previous_sigint, nullptr);
    sigaction(SIGTERM, &previous_sigterm, nullptr);
    sigaction(SIGHUP, &previous_sighup, nullptr);
    sigaction(SIGPIPE, &previous_sigpipe, nullptr);
    const int sig = first_signal;
    // Nothing of this run may stop the next one, nor be reported again at exit.
    received_signal = received_nb_signals = first_signal = 0;
    if (sig)
        raise(sig);
}
