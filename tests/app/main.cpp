// Runs the converter's test classes in one application that starts up the way the
// converter does: a TranscoderApp, then the cursor table.
//
// With WVC_CHILD_SOURCE set, the process is a window converting for a test in its
// parent (ChildWindow.h). With WVC_EXPECT_LANGUAGE set (the test run under another
// system language), only the language check runs; with WVC_FIT_LANGUAGE set, only
// the check that the language's texts fit the window and the message box.
#include "ChildWindow.h"
#include "ChoicesTest.h"
#include "ConfineTest.h"
#include "ControlTest.h"
#include "ConversionTest.h"
#include "CursorMgr.h"
#include "FlowTest.h"
#include "JoinTest.h"
#include "KeysTest.h"
#include "LanguageFitTest.h"
#include "MsgBoxTest.h"
#include "StartupTest.h"
#include "TranscoderApp.h"
#include "WindowTest.h"
#include "WorkerTest.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char **argv)
{
    if (ChildWindow::Requested() && !ChildWindow::DropPrivilegesIfAsked())
        return ChildWindow::CannotDropPrivileges;
    TranscoderApp app(argc, argv);
    CursorMgr::Create();
    // The tests open and close one window after another; closing one must not end
    // the application's (later) event loops the way closing the converter's window does.
    app.setQuitOnLastWindowClosed(false);
    // The window remembers its choices in the user's settings: tests keep theirs in
    // a folder of their own, gone when the process ends, never in the user's.
    QTemporaryDir settings;
    if (!settings.isValid())
        return 1;
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, settings.path());

    if (ChildWindow::Requested())
        return ChildWindow::Run();
    int failures = 0;
    StartupTest startup;
    if (qEnvironmentVariableIsSet("WVC_FIT_LANGUAGE")) {
        LanguageFitTest fit;
        return QTest::qExec(&fit, argc, argv) == 0 ? 0 : 1;
    }
    if (qEnvironmentVariableIsSet("WVC_EXPECT_LANGUAGE"))
        return QTest::qExec(&startup, QStringList{argv[0], "windowSpeaksTheSystemLanguage"}) == 0 ? 0 : 1;
    WorkerTest worker;
    MsgBoxTest msgBox;
    WindowTest window;
    ControlTest control;
    ConversionTest conversion;
    ConfineTest confine;
    ChoicesTest choices;
    KeysTest keys;
    FlowTest flow;
    JoinTest join;
    // WVC_TEST_CLASS=<name> runs that class alone (while working on it).
    const QString only = qEnvironmentVariable("WVC_TEST_CLASS");
    for (QObject *test : std::initializer_list<QObject *>{&startup, &worker, &msgBox, &window, &control, &conversion, &confine, &choices, &keys, &flow, &join}) {
        if (only.isEmpty() || only == QLatin1String(test->metaObject()->className()))
            failures += QTest::qExec(test, argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
