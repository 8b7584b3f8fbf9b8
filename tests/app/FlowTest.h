// The window's conversion flow around a run: converting again what the destination
// holds already, the close question that holds nothing up, the summary of a cancelled
// queue, the failure note, a folder that cannot be opened, and the call for attention
// after a long run.
#pragma once

#include <QObject>

class FlowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void okAsksBeforeConvertingARecordingAgain_data();
    void okAsksBeforeConvertingARecordingAgain();
    void aRealConversionIsKnownAsTheRecordingsOutput();
    void queuePassesOverWhatIsConvertedAndGoesOnAfterCancel();
    void droppedFolderKeepsItsSubFoldersUnderTheDestination();
    void closeQuestionHoldsNothingUpAndGoesWhenTheRunEnds_data();
    void closeQuestionHoldsNothingUpAndGoesWhenTheRunEnds();
    void failureLeavesANoteInTheStatusLine_data();
    void failureLeavesANoteInTheStatusLine();
    void folderThatCannotBeOpenedIsSaid_data();
    void folderThatCannotBeOpenedIsSaid();
    void attentionNeedsALongRunAndAnInactiveWindow_data();
    void attentionNeedsALongRunAndAnInactiveWindow();
    void longRunEndingBehindAnotherWindowAsksForAttention_data();
    void longRunEndingBehindAnotherWindowAsksForAttention();
};
