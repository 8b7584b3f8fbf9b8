// The converter's entry: application-wide set-up, the termination signals, the cursor
// table, the window, the event loop. The event loop's result is the exit status
// (128 + the signal's number when SIGINT or SIGTERM ended the program).
#include "CursorMgr.h"
#include "TerminationSignals.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"

int main(int argc, char **argv)
{
    TranscoderApp app(argc, argv);
    // Before the window: a signal that arrives while it is being built waits in the
    // notifier's pipe and is handled once the event loop runs.
    TerminationSignals::Instance();
    CursorMgr::Create();
    TranscoderWin window(nullptr);
    window.show();
    return app.exec();
}
