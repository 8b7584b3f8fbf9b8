#pragma once

#include <QObject>

// Start-up: the look and feel the application object sets up, the version file
// reader, and the window's language.
class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void applicationSetsUpTheLookAndFeel();
    void versionFileReading_data();
    void versionFileReading();
    void missingVersionFileIsLoggedAndLeavesTheVersionEmpty();
    void windowCarriesTheShippedVersion();
    void windowSpeaksTheSystemLanguage();
};
