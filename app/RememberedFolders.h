// The folders the window remembers between starts: where recordings were last chosen
// from (the source dialogs open there) and the folder converted into last (prefilled
// as the destination). Kept in the application's settings (QSettings with the names
// TranscoderApp sets), keys SourceKey and DestinationKey.
//
//     RememberedFolders::SetSource(QFileInfo(file).path());
//     const QString folder = RememberedFolders::Destination();   // "" if none or gone
//
// Any thread that owns no other QSettings of the same file; the window calls it on
// the GUI thread.
#pragma once

#include <QString>

class RememberedFolders
{
public:
    static const char SourceKey[];
    static const char DestinationKey[];

    // The folder remembered, when it is still a folder; empty otherwise.
    static QString Source();
    static QString Destination();
    // Remembers a folder; an empty path changes nothing.
    static void SetSource(const QString &folder);
    static void SetDestination(const QString &folder);
};
