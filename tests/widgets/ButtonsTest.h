#pragma once

#include <QObject>

class ButtonsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void textIsElidedWithToolTipOnlyWhenCut_data();
    void textIsElidedWithToolTipOnlyWhenCut();
    void elidedTextGrowsBackWhenWidened();
    void sizeHintMeasuresTheFullTextOrXXXX();
    void cursorFollowsTheEnabledState_data();
    void cursorFollowsTheEnabledState();
    void sizesComeFromTheSkin_data();
    void sizesComeFromTheSkin();
    void hoverEventsAreSignalled();
    void triggerButtonShowsLegalityAndAlwaysItsText();

    void fileDialogsReportOnlyWhatWasChosen_data();
    void fileDialogsReportOnlyWhatWasChosen();
    void dialogsStartWhereTheLastChoiceWas();
    void missingMediumOpensNoDialog();
};
