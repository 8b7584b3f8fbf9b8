#pragma once

#include <QObject>

// Labels, the status line, the bottom bar and the loading mask.
class PanelsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void labelElidesWithToolTipOnlyWhenCut_data();
    void labelElidesWithToolTipOnlyWhenCut();
    void labelTextGrowsBackWhenWidened();
    void labelKeepsItsTextWhateverItsToolTip();
    void labelShowsPlaceholderAndHonoursWidthOverride();
    void highlightSwitchesTheColour();

    void loadingStatusStaysUntilReplaced();
    void statusCodesShowByTheirGroup_data();
    void statusCodesShowByTheirGroup();
    void delayedClearFiresAfterItsDelay();
    void showCancelsAPendingClear();
    void statusSlotsWorkThroughQueuedCalls();

    void buttonsAreMadeOncePerRole();
    void rolesHaveTheirClassAndText_data();
    void rolesHaveTheirClassAndText();
    void buttonsLineUpFromTheEdges();
    void statusTextGetsTheWidthTheButtonsLeave();
    void retranslateTakesTheNewLanguage();

    void maskCoversTheWholeWindow();
    void maskBlocksClicksAndSignalsThem();
};
