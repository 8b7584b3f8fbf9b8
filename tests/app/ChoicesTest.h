#pragma once

#include <QObject>

// The window's choices (keep the picture, evidence record): off by default,
// remembered by a new window, handed to the conversion's plan (the stand-in engine
// sees the kept words or the twelve), and what became of them said after one
// conversion and after a queue. Saves screenshots/app_choices_*.png.
class ChoicesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void choicesAreOffByDefault();
    void choicesAreRememberedByANewWindow_data();
    void choicesAreRememberedByANewWindow();
    void choicesReachThePlan_data();
    void choicesReachThePlan();
    void resultSaysWhatBecameOfTheChoices_data();
    void resultSaysWhatBecameOfTheChoices();
    void queueCountsKeptPicturesAndRecords_data();
    void queueCountsKeptPicturesAndRecords();
};
