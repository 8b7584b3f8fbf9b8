#pragma once

#include <QObject>

// The worker's conversions under the kernel's confinement, with the engine's
// folder guard switched off where the kernel must hold alone: a crafted playlist
// reaches only the recording's folder and no network, a source named by a network
// address connects nowhere, the window's own threads stay free after a run,
// progress still arrives queued on the receiver's thread, a kernel without
// Landlock is told on standard error and converts, and a run that cannot be
// confined is not run.
class ConfineTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void playlistReachesOnlyTheRecordingsFolder_data();
    void playlistReachesOnlyTheRecordingsFolder();
    void sourceNamedByANetworkAddressConnectsNowhere();
    void windowThreadsStayFreeAfterAConfinedRun();
    void progressArrivesOnTheReceiversThread();
    void withoutLandlockTheRunGoesOnAndStandardErrorSaysSo();
    void runThatCannotBeConfinedIsNotRun();
};
