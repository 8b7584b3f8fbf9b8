#pragma once

#include <QObject>

class StyleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void labelStyleDrawsDisabledTextFlat_data();
    void labelStyleDrawsDisabledTextFlat();
    void cursorTableIsCreatedOnce();
    void cursorLookupOutsideTheTableGivesArrow();
    void labelColoursFollowTheirProperties_data();
    void labelColoursFollowTheirProperties();
    void statusTextTakesTheColourOfItsStyle_data();
    void statusTextTakesTheColourOfItsStyle();
    void buttonClassesGetTheirColours_data();
    void buttonClassesGetTheirColours();
};
