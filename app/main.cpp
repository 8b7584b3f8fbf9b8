// The converter's entry: application-wide set-up, the cursor table, the window, the
// event loop. The event loop's result is the exit status.
#include "CursorMgr.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"

int main(int argc, char **argv)
{
    TranscoderApp app(argc, argv);
    CursorMgr::Create();
    TranscoderWin window(nullptr);
    window.show();
    return app.exec();
}
