#pragma once

#include <QImage>
#include <QObject>

// The window and its message box in the language of the system locale: every caption,
// button and status text shows whole, the loading box's title, detail line and Cancel
// button show whole inside the window, and the boxes' messages (each failure reason,
// the about text, the close question) wrap inside the box above its buttons; with
// several recordings, the source field, the queue box's lines, the search box, the
// queue's status lines and the summary box with every failure reason fit too, and so
// do the four check boxes of the choices, every line under them after a conversion or
// a queue (the time shown or not too), a summary that counts the evidence records,
// and a join's status lines, plain and with problems.
// CMakeLists.txt runs this once per shipped language at pixel ratio 1 and 2, each run
// under a locale that selects it and naming its language in WVC_FIT_LANGUAGE. Each
// run leaves screenshots/lang[/2x]/<code>.png (the window converting, done and
// cancelled, alone and in a queue) and <code>_boxes.png (the boxes), and
// <code>_keys.png: the focus on Select and on OK, and Select's menu open, whose
// entries, the tool tips that name the keys and the dialog's filter names are checked
// too.
class LanguageFitTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void runsInTheLanguageOfTheLocale();
    void windowControlsShowTheirWholeTexts();
    void messageBoxTextsFitAboveTheirButton();
    void queueTextsShowWhole();
    void queueSummaryFitsAboveItsButton();
    void partialAndSkippedFilesFitTheirStatusAndSummary();
    void choicesAndWhatBecameOfThemShowWhole();
    void keysAndSourceChoiceShowWhole();
    void endsOfRunsShowWhole();
    void joinAndTimeShowWhole();

private:
    QList<QImage> m_windows;
    QList<QImage> m_boxes;
    QList<QImage> m_keys;
};
