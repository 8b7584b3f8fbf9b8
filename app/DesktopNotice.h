// A desktop notification (org.freedesktop.Notifications on the session bus), for the
// end of a long conversion while the user looks elsewhere. Built with QtDBus when the
// build finds it; without it, or at run time without a session bus or a
// notification service, Send does nothing and says nothing. GUI thread only.
#pragma once

#include <QString>

class DesktopNotice
{
public:
    // Asks the notification service to show `title` and `body`, without waiting for
    // its answer; false when there is no bus or no service to ask.
    static bool Send(const QString &title, const QString &body);
};
