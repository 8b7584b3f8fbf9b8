#include "ChildWindow.h"

#include "AppTestSupport.h"
#include "TranscoderWin.h"
#include "VelaLineEdit.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace ChildWindow {
namespace {

// Pictures are in the file once it is past its header.
constexpr qint64 ConvertingBytes = 4096;

void Say(const QString &line)
{
    printf("%s\n", line.toUtf8().constData());
    fflush(stdout);
}

} // namespace

bool Requested()
{
    return qEnvironmentVariableIsSet("WVC_CHILD_SOURCE");
}

bool DropPrivilegesIfAsked()
{
    if (qEnvironmentVariable("WVC_CHILD_AS_NOBODY") != QLatin1String("1"))
        return true;
    const passwd *nobody = getpwnam("nobody");
    if (!nobody || geteuid() != 0)
        return false;
    return setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
}

int Run()
{
    ScriptedDialogs dialogs;
    VelaFileButton::SetDialogProvider(&dialogs);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(dialogs, parts, qEnvironmentVariable("WVC_CHILD_SOURCE"));
    if (qEnvironmentVariableIsSet("WVC_CHILD_DESTINATION"))
        parts.destination->setText(qEnvironmentVariable("WVC_CHILD_DESTINATION"));
    const QString output = TranscoderWin::FreeOutputPath(parts.destination->text(), window->SourceFileName());

    BoxAnswerer answerer;
    const bool untilSignal = qEnvironmentVariableIsSet("WVC_CHILD_UNTIL_SIGNAL");
    bool converting = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&]() {
        if (!converting && OutputBytesSoFar(output) > ConvertingBytes) {
            converting = true;
            Say(QStringLiteral("converting"));
        }
        // Waiting for a signal, only the signal may end the program.
        if (!untilSignal && !window->IsConverting() && !parts.MaskShown())
            QCoreApplication::exit(0);
    });
    parts.ok->click();
    watch.start(20);
    const int status = QCoreApplication::exec();
    for (const QString &message : answerer.Messages())
        Say(QStringLiteral("box ") + QString(message).replace(QLatin1Char('\n'), QStringLiteral(" | ")));
    Say(QStringLiteral("status ") + (parts.StatusShown() ? parts.StatusText() : QString()));
    VelaFileButton::SetDialogProvider(nullptr);
    return status;
}

} // namespace ChildWindow
