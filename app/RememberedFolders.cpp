// The remembered source and destination folders; see RememberedFolders.h.
#include "RememberedFolders.h"

#include <QFileInfo>
#include <QSettings>

const char RememberedFolders::SourceKey[] = "folders/source";
const char RememberedFolders::DestinationKey[] = "folders/destination";

namespace {

QString Existing(const char *key)
{
    const QString folder = QSettings().value(QLatin1String(key)).toString();
    // A folder removed (or a medium unplugged) since is not offered again.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void Store(const char *key, const QString &folder)
{
    if (!folder.isEmpty())
        QSettings().setValue(QLatin1String(key), folder);
}

} // namespace

QString RememberedFolders::Source()
{
    return Existing(SourceKey);
}

QString RememberedFolders::Destination()
{
    return Existing(DestinationKey);
}

void RememberedFolders::SetSource(const QString &folder)
{
    Store(SourceKey, folder);
}

void RememberedFolders::SetDestination(const QString &folder)
{
    Store(DestinationKey, folder);
}
