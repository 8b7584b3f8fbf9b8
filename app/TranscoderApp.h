// The application object: the QApplication plus the look and feel every window needs,
// set up before the first widget exists (widgets read sizes, colours and images from
// the skin store when they are built), in this order:
//   1. the text table, so that text ids resolve;
//   2. the display scale (needs the QApplication: it asks the screen);
//   3. the skin files;
//   4. the locale codec (UTF-8, so file names reach the engine intact) and the
//      application style sheet;
//   5. the desktop identity: the window icon, the desktop entry's name, and the
//      organisation and application names under which QSettings keeps the
//      window's remembered choices.
// main() then creates the cursor table and the window. The scale is deleted with the
// application object; the skin store, text table and translator live until the
// process ends.
#pragma once

#include <QApplication>

class VelaScale;

class TranscoderApp : public QApplication
{
    Q_OBJECT

public:
    // Resource paths of the look and feel.
    static const char *const GeometrySkinPath;
    static const char *const ColorSkinPath;
    static const char *const ImageSkinPath;
    static const char *const StyleSheetPath;
    static const char *const IconPath;
    // The name of the desktop entry (and of the program and its icon).
    static const char *const DesktopName;
    // The organisation of the settings (QSettings); the application is DesktopName.
    static const char *const OrganizationName;

    // argc and argv go to QApplication, which takes out its own options; the program
    // has none of its own, what is left names recordings (CommandLineSources).
    TranscoderApp(int &argc, char **argv);
    ~TranscoderApp() override;

private:
    void InitStyle();
    void InitDesktopIdentity();

    VelaScale *m_scale;
};
