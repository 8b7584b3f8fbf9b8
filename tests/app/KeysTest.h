#pragma once

#include <QObject>

// The window from the keyboard, and the ways recordings come in besides a drop: Tab
// reaches every control in order and each shows its focus, each key acts in place of
// its control (never under the mask), the fields show their errors only once edited
// or after an attempt to start, Select's menu offers a folder, the dialog's filter of
// recordings, the folders a new window remembers, and the recordings named on the
// command line. Saves screenshots/app_keys_*.png.
class KeysTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tabReachesEveryControlInOrder_data();
    void tabReachesEveryControlInOrder();
    void everyControlShowsItsFocus();
    void keysActInPlaceOfTheirControls_data();
    void keysActInPlaceOfTheirControls();
    void keysDoNothingUnderTheMask();
    void fieldsShowErrorsOnlyOnceTheyMatter_data();
    void fieldsShowErrorsOnlyOnceTheyMatter();
    void selectOffersRecordingsAndAFolder();
    void recordingFilterTakesEachExtensionInBothCases_data();
    void recordingFilterTakesEachExtensionInBothCases();
    void foldersAreRememberedByANewWindow_data();
    void foldersAreRememberedByANewWindow();
    void commandLineNamesRecordings_data();
    void commandLineNamesRecordings();
    void openedRecordingsBecomeTheSource_data();
    void openedRecordingsBecomeTheSource();
    void qtOptionsAreNotTakenForRecordings();
};
