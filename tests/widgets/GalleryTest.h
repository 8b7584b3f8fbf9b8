#pragma once

#include <QObject>

// Renders each widget family with the application style sheet to PNG files under the
// build tree's screenshots folder (screenshots/2x when run with QT_SCALE_FACTOR=2),
// and checks on the rendered pixels that the sheet's
// rules reach the library's classes, object names and properties.
class GalleryTest : public QObject
{
    Q_OBJECT

private slots:

    void buttonsTakeTheirClassColours();
    void lineEditsShowTheirStates();
    void labelsAndStatusLinesTakeTheirColours();
    void maskDimsTheConverterWindow();
    void shadowsDarkenAroundTheirTargets();
};
