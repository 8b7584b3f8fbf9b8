// Runs the widget test classes in one application, with the look and feel loaded the
// way the program loads it.
#include "ButtonsTest.h"
#include "GalleryTest.h"
#include "LineEditTest.h"
#include "PanelsTest.h"
#include "ShadowListenerTest.h"
#include "WidgetTestApp.h"

#include <QApplication>
#include <QTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    WidgetTestApp::LoadLookAndFeel(app);

    int failures = 0;
    ButtonsTest buttons;
    failures += QTest::qExec(&buttons, argc, argv);
    LineEditTest lineEdits;
    failures += QTest::qExec(&lineEdits, argc, argv);
    PanelsTest panels;
    failures += QTest::qExec(&panels, argc, argv);
    ShadowListenerTest shadows;
    failures += QTest::qExec(&shadows, argc, argv);
    GalleryTest gallery;
    failures += QTest::qExec(&gallery, argc, argv);
    return failures == 0 ? 0 : 1;
}
