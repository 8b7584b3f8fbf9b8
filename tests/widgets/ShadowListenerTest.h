#pragma once

#include <QObject>

class ShadowListenerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mouseSignalsAreForTheLeftButtonOnly_data();
    void mouseSignalsAreForTheLeftButtonOnly();
    void widgetEventsAreSignalled();
    void receiverMayStopTheEvent();

    void shadowFollowsItsTarget();
    void shadowLiesDirectlyUnderItsTarget();
    void shadowMovesWithItsTargetToANewParent();
    void shadowDiesWithItsTarget();
    void variantsReachAsFarAsTheSkinSays_data();
    void variantsReachAsFarAsTheSkinSays();
};
