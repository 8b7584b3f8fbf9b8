#pragma once

#include <QObject>

// The main window driven through its controls, with the stand-in engine (and the real
// one where a conversion is meant to fail): layout, output naming, the OK rule, the
// source and folder choice, the converting, done and failure states (the last output
// name tried), the about box, closing the window, and the screenshots of each state.
class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlsSitInTheirRowsAndColumns();
    void outputNameReplacesTheWholeExtension_data();
    void outputNameReplacesTheWholeExtension();
    void outputPathTakesTheFirstFreeName_data();
    void outputPathTakesTheFirstFreeName();
    void okIsEnabledExactlyWhenBothFieldsHaveText_data();
    void okIsEnabledExactlyWhenBothFieldsHaveText();
    void choosingASourceFillsOnlyAnEmptyDestination_data();
    void choosingASourceFillsOnlyAnEmptyDestination();
    void choosingAFolderFillsTheDestination();
    void convertingCoversTheWindowUntilTheResultArrives();
    void namesAreShownWithTheirControlCharactersEscaped();
    void failedConversionShowsTheBoxAndTheMaskGoesWithIt();
    void noFreeOutputNameFailsWithoutRunningTheEngine();
    void theLastOutputNameTriedIs9999();
    void aboutBoxShowsNameVersionAndNotice();
    void closingDuringAConversionStopsItAndJoinsTheThread();
    void closingWhenIdleEndsTheThreadAtOnce();
};
