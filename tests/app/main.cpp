// Runs the converter's test classes in one application that starts up the way the
// converter does: a TranscoderApp, then the cursor table.
//
// With WVC_EXPECT_LANGUAGE set (the test run under another system language), only
// the language check runs; with WVC_FIT_LANGUAGE set, only the check that the
// language's texts fit the window and the message box.
#include "ControlTest.h"
#include "ConversionTest.h"
#include "CursorMgr.h"
#include "LanguageFitTest.h"
#include "MsgBoxTest.h"
#include "StartupTest.h"
#include "TranscoderApp.h"
#include "WindowTest.h"
#include "WorkerTest.h"

#include <QTest>

int main(int argc, char **argv)
{
    TranscoderApp app(argc, argv);
    CursorMgr::Create();
    // The tests open and close one window after another; closing one must not end
    // the application's (later) event loops the way closing the converter's window does.
    app.setQuitOnLastWindowClosed(false);

    int failures = 0;
    StartupTest startup;
    if (qEnvironmentVariableIsSet("WVC_FIT_LANGUAGE")) {
        LanguageFitTest fit;
        return QTest::qExec(&fit, argc, argv) == 0 ? 0 : 1;
    }
    if (qEnvironmentVariableIsSet("WVC_EXPECT_LANGUAGE"))
        return QTest::qExec(&startup, QStringList{argv[0], "windowSpeaksTheSystemLanguage"}) == 0 ? 0 : 1;
    failures += QTest::qExec(&startup, argc, argv);
    WorkerTest worker;
    failures += QTest::qExec(&worker, argc, argv);
    MsgBoxTest msgBox;
    failures += QTest::qExec(&msgBox, argc, argv);
    WindowTest window;
    failures += QTest::qExec(&window, argc, argv);
    ControlTest control;
    failures += QTest::qExec(&control, argc, argv);
    ConversionTest conversion;
    failures += QTest::qExec(&conversion, argc, argv);
    return failures == 0 ? 0 : 1;
}
