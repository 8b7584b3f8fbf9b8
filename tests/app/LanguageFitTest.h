#pragma once

#include <QImage>
#include <QObject>

// The window and its message box in the language of the system locale: every caption,
// button and status text shows whole, and the box's messages wrap inside the box above
// its button. CMakeLists.txt runs this once per shipped language, each run under a
// locale that selects it and naming its language in WVC_FIT_LANGUAGE. Each run leaves
// screenshots/lang/<code>.png: the window when done and while converting, the failure
// box and the about box.
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

private:
    QImage m_done;
    QImage m_converting;
    QImage m_failureBox;
    QImage m_aboutBox;
};
