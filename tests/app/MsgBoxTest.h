#pragma once

#include <QObject>

// The message box: its size and texts whatever the message, wrapping, and closing by
// either way deleting it.
class MsgBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void keepsItsSizeAndWrapsLongMessages_data();
    void keepsItsSizeAndWrapsLongMessages();
    void closingEitherWayDeletesTheBox_data();
    void closingEitherWayDeletesTheBox();
};
