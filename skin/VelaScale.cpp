// Display scale and "%x/" resolution; the style-sheet reader lives here because it
// needs the image scale.
#include "VelaScale.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

VelaScale *s_instance = nullptr;

double PrimaryScreenRatio()
{
    const QScreen *screen = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                                ? QGuiApplication::primaryScreen()
                                : nullptr;
    return screen ? screen->devicePixelRatio() : 1.0;
}

} // namespace

VelaScale::VelaScale()
    : VelaScale(PrimaryScreenRatio())
{
}

VelaScale::VelaScale(double devicePixelRatio)
    : m_devicePixelRatio(devicePixelRatio)
    , m_imageScale(ImageScaleFor(devicePixelRatio))
    , m_previous(s_instance)
{
    s_instance = this;
}

VelaScale::~VelaScale()
{
    // The application has one scale object, so this clears the pointer; a scale made
    // for a while on top of it (a tool rendering at another scale) hands back.
    if (s_instance == this)
        s_instance = m_previous;
}

VelaScale *VelaScale::Instance()
{
    return s_instance;
}

double VelaScale::DevicePixelRatio() const
{
    return m_devicePixelRatio;
}

int VelaScale::ImageScale() const
{
    return m_imageScale;
}

int VelaScale::ImageScaleFor(double devicePixelRatio)
{
    return std::ceil(devicePixelRatio) > 1.0 ? 2 : 1;
}

QString VelaScale::ResolveScalePath(const QString &text, int scale)
{
    if (scale == 0)
        scale = s_instance ? s_instance->ImageScale() : 1;
    QString resolved = text;
    return resolved.replace(QLatin1String("%x/"), QString::number(scale) + QLatin1String("x/"));
}

QString VelaScale::ReadStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isNull())
        return QString();
    const int end = bytes.indexOf('\0');
    const QString sheet = QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
    return ResolveScalePath(sheet, 0);
}
