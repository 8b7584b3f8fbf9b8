#pragma once

#include <QObject>

// Following and controlling a conversion from the window, with the stand-in engine:
// the progress texts and box, Cancel and Esc, the close question, the keyboard under
// the mask and in the message box, the finished file in the status line, the fields'
// tool tips and the destination that follows the source, dropping a recording, and
// SIGTERM/SIGINT reaching the window; a queue of several recordings: its field and box,
// its summary, typing into its field, and the close question and signals during it.
class ControlTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void progressTextsTellShareTimesAndSpeed_data();
    void progressTextsTellShareTimesAndSpeed();
    void clockTextTurnsAtTheMinuteAndTheHour_data();
    void clockTextTurnsAtTheMinuteAndTheHour();
    void progressBoxFollowsTheRun();
    void lastEventIsWholeUnlessTheRunWasStopped_data();
    void lastEventIsWholeUnlessTheRunWasStopped();
    void cancelOrEscapeEndsTheRunAsCancelled_data();
    void cancelOrEscapeEndsTheRunAsCancelled();
    void closeQuestionKeepsOrStopsTheConversion_data();
    void closeQuestionKeepsOrStopsTheConversion();
    void keysUnderTheMaskChangeNothing();
    void enterInAFieldStartsOnlyWhenOkIsEnabled();
    void messageBoxClosesWithEnterSpaceOrEscape_data();
    void messageBoxClosesWithEnterSpaceOrEscape();
    void completedStatusNamesTheFileAndOpensItsFolder();
    void problemTextsNameEachProblem_data();
    void problemTextsNameEachProblem();
    void partialRunIsAWarningWithItsProblemsOnHover();
    void queueSummaryListsPartialAndSkippedFilesApartFromFailures();
    void destinationFollowsTheSourceUntilEdited_data();
    void destinationFollowsTheSourceUntilEdited();
    void droppedRecordingBecomesTheSource();
    void terminationSignalStopsTheRunAndQuits_data();
    void terminationSignalStopsTheRunAndQuits();
    void queueShareWeighsRecordingsByLength_data();
    void queueShareWeighsRecordingsByLength();
    void queueBoxTellsPositionNameAndOverallShare();
    void queueGoesOnPastFailuresAndSumsThemUp();
    void typingIntoAQueuedSourceLeavesOnePath();
    void closeQuestionOrSignalStopsTheQueue_data();
    void closeQuestionOrSignalStopsTheQueue();
};
