#pragma once

#include <QObject>

// Real conversions from the window with the real engine: numbered outputs that are
// H.264 baseline MP4 files with the progress reaching 100 %, a name with an accent
// and several dots, a stop request made between runs, Cancel and Esc, the close
// question during a long conversion and during a read blocked on a named pipe,
// SIGTERM and SIGINT to a window in a child process, each failure kind from a real
// cause with its reason line, a recording with nothing decodable, and queues: one that
// goes on past an unreadable file, one cancelled in its second recording, and one
// found in a dropped folder.
class ConversionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eachConversionWritesTheNextH264BaselineMp4();
    void aNameTakenAfterOkIsKeptAndTheNextOneIsWritten();
    void shareReaches100OnlyAtTheEndOfARun();
    void accentedNameWithSeveralDotsConverts();
    void stopRequestMadeBetweenRunsDoesNotStopTheNext();
    void cancelOrEscapeRemovesThePartialFile_data();
    void cancelOrEscapeRemovesThePartialFile();
    void closingDuringALongConversionAsksThenRemovesThePartialFile();
    void closingWhileTheEngineWaitsOnANamedPipeEndsWithinTwoSeconds();
    void terminationSignalQuitsTheProgramWithoutAPartialFile_data();
    void terminationSignalQuitsTheProgramWithoutAPartialFile();
    void eachFailureKindShowsItsReason_data();
    void eachFailureKindShowsItsReason();
    void recordingWithNothingDecodableFailsAndLeavesNoFile();
    void queueOfThreeGoesOnPastAnUnreadableFile();
    void cancelInTheSecondOfThreeKeepsTheFirstAndStartsNoMore();
    void droppedFolderQueuesItsRecordingsOnly();
    void cancelledFolderSearchLeavesTheWindowAsItWas();
};
