#pragma once

#include <QObject>

// The conversion worker on its own, with the stand-in engine: the words it is given,
// the bytes the engine gets, what it prints and the status it forwards.
class WorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void argListHoldsTheTwelveWordsWithPathsUnchanged();
    void pathsReachTheEngineAsUtf8_data();
    void pathsReachTheEngineAsUtf8();
    void printsEachWordOnItsOwnLineAndInTheDebugLog();
    void printsThePlansWordsWhenThePictureIsKept();
    void forwardsTheEngineStatusUnchanged_data();
    void forwardsTheEngineStatusUnchanged();
    void runsQueuedRequestsOneAfterTheOtherOnItsThread();
};
