// The converter's entry: application-wide set-up, the termination signals, the cursor
// table, the window, the event loop. The event loop's result is the exit status
// (128 + the signal's number when SIGINT or SIGTERM ended the program).
#include "CursorMgr.h"
#include "TerminationSignals.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"
#include "platform.h"

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
    return app.exec();
}
