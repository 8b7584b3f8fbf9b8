// The converter's entry: application-wide set-up, the cursor table, the window, the
// event loop. The event loop's result is the exit status.
#include "CursorMgr.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"
#include "platform.h"

int main(int argc, char **argv)
{
    // Qt opens files and sockets at start-up: none may take the number of a closed
    // standard descriptor, where the engine would read keys or write its log.
    plat_fill_closed_standard_descriptors();
    TranscoderApp app(argc, argv);
    CursorMgr::Create();
    TranscoderWin window(nullptr);
    window.show();
    return app.exec();
}
