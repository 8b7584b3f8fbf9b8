// Runs the widget test classes in one application, with the look and feel loaded the
// way the program loads it.
#include "GalleryTest.h"
#include "WidgetTestApp.h"

#include <QApplication>
#include <QTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    WidgetTestApp::LoadLookAndFeel(app);

    int failures = 0;
    GalleryTest gallery;
    failures += QTest::qExec(&gallery, argc, argv);
    return failures == 0 ? 0 : 1;
}
