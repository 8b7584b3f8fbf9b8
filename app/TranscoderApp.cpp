// Application-wide set-up and its reverse.
#include "TranscoderApp.h"

#include "TextTable.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QIcon>
#include <QTextCodec>

const char *const TranscoderApp::GeometrySkinPath = ":/skin/wlx/wlx_geometry.json";
const char *const TranscoderApp::ColorSkinPath = ":/skin/wlx/wlx_color.json";
const char *const TranscoderApp::ImageSkinPath = ":/skin/wlx/wlx_image.json";
const char *const TranscoderApp::StyleSheetPath = ":/css/VelaStyleSheet.css";
const char *const TranscoderApp::IconPath = ":/app/wardline-video-converter.png";
const char *const TranscoderApp::DesktopName = "wardline-video-converter";
const char *const TranscoderApp::OrganizationName = "wardline";

TranscoderApp::TranscoderApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
    TextTable::Fill();
    m_scale = new VelaScale();
    VelaSkin::Instance()->LoadSkin(QString::fromLatin1(GeometrySkinPath), QString::fromLatin1(ColorSkinPath),
                                   QString::fromLatin1(ImageSkinPath));
    InitStyle();
    InitDesktopIdentity();
}

TranscoderApp::~TranscoderApp()
{
    // VelaScale clears its global pointer on deletion; nothing may resolve an image
    // path after this.
    delete m_scale;
    m_scale = nullptr;
}

void TranscoderApp::InitStyle()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    setStyleSheet(VelaScale::ReadStyleSheet(QString::fromLatin1(StyleSheetPath)));
}

void TranscoderApp::InitDesktopIdentity()
{
    // The desktop entry's name lets a desktop shell match the window to the entry
    // (and so to its icon); the window icon covers shells that look at the window.
    setDesktopFileName(QString::fromLatin1(DesktopName));
    // The window's remembered choices go to ~/.config/wardline/wardline-video-converter.conf,
    // whatever the program file is called.
    setOrganizationName(QString::fromLatin1(OrganizationName));
    setApplicationName(QString::fromLatin1(DesktopName));
    setWindowIcon(QIcon(QString::fromLatin1(IconPath)));
}
