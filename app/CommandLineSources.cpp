// The command line's recordings; see CommandLineSources.h.
#include "CommandLineSources.h"

#include <QDir>
#include <QUrl>

namespace {

const char FileScheme[] = "file://";

} // namespace

CommandLineSources::CommandLineSources(const QStringList &arguments, const QString &workingFolder)
{
    const QDir base(workingFolder.isEmpty() ? QDir::currentPath() : workingFolder);
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument.isEmpty() || argument == QLatin1String("-") ||
            (!optionsEnded && argument.startsWith(QLatin1Char('-')))) {
            m_ignored.append(argument);
            continue;
        }
        if (argument.startsWith(QLatin1String(FileScheme))) {
            const QUrl url(argument);
            if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
                m_ignored.append(argument);
                continue;
            }
            argument = url.toLocalFile();
        }
        m_paths.append(QDir::cleanPath(base.absoluteFilePath(argument)));
    }
}

QStringList CommandLineSources::Paths() const
{
    return m_paths;
}

QStringList CommandLineSources::Ignored() const
{
    return m_ignored;
}
