// The desktop notification: one asynchronous "Notify" call to the session bus's
// notification service, when the build has QtDBus.
#include "DesktopNotice.h"

#ifdef WVC_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>
#include <QStringList>
#endif

namespace {

#ifdef WVC_HAVE_QTDBUS
const char Service[] = "org.freedesktop.Notifications";
const char Path[] = "/org/freedesktop/Notifications";
// The icon the desktop entry installs, named as icon themes know it.
const char IconName[] = "wardline-video-converter";
// -1: the service decides how long the notification stays.
constexpr int ServerTimeout = -1;
#endif

} // namespace

bool DesktopNotice::Send(const QString &title, const QString &body)
{
#ifdef WVC_HAVE_QTDBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(Service)).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Service), QString::fromLatin1(Path),
                                                       QString::fromLatin1(Service), QStringLiteral("Notify"));
    call << title << 0u << QString::fromLatin1(IconName) << title << body << QStringList() << QVariantMap()
         << ServerTimeout;
    return bus.send(call);
#else
    Q_UNUSED(title);
    Q_UNUSED(body);
    return false;
#endif
}
