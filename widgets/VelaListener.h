// An event filter that turns a watched object's events into signals, so that another
// object (a shadow, a popup, an overlay) can follow a widget it does not own without
// subclassing it.
//
//     auto *listener = new VelaListener(button);     // child of button, dies with it
//     connect(listener, &VelaListener::SigMoveListened, this, ...);
//
// The widget argument of each signal is the watched object when it is a widget, null
// otherwise. A receiver may call SetFilterResult(true) during a signal to stop the event
// (the filter returns false otherwise). Mouse signals fire for the left button only.
// GUI thread only.
#pragma once

#include <QObject>
// Complete event types: connecting to these signals needs them.
#include <QCloseEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QHideEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>

class QWidget;

class VelaListener : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of watched and installs itself as its event filter.
    explicit VelaListener(QObject *watched);

    // Stops the event currently being signalled; reset before every event.
    void SetFilterResult(bool filtered);

signals:
    void SigResizeListened(QWidget *pResizedWidget, QResizeEvent *pEvent);
    void SigShowListened(QWidget *pShowdWidget, QShowEvent *pEvent);
    void SigMoveListened(QWidget *pMovedWidget, QMoveEvent *pEvent);
    void SigHideListened(QWidget *pHiddenWidget, QHideEvent *pEvent);
    void SigHideToParentListened(QWidget *pHiddenWidget, QEvent *pEvent);
    void SigParentChangedListened(QWidget *pParentChangedWidget, QEvent *pEvent);
    void SigFocusInListened(QWidget *pFocusInWidget, QFocusEvent *pEvent);
    void SigFocusOutListened(QWidget *pFocusOutWidget, QFocusEvent *pEvent);
    void SigZOrderChangedListened(QWidget *pZOrderChangedWidget, QEvent *pEvent);
    void SigEnableChangedListened(QWidget *pEnableChangedWidget, QEvent *pEvent);
    void SigLeaveListened(QWidget *pWidget, QEvent *pEvent);
    void SigMouseLeftPressed(QWidget *pWidget, QMouseEvent *pEvent);
    void SigMouseLeftReleased(QWidget *pWidget, QMouseEvent *pEvent);
    void SigMouseLeftDoubleClicked(QWidget *pWidget, QMouseEvent *pEvent);
    void SigLayoutRequest(QWidget *pWidget, QEvent *pEvent);
    void SigCloseListened(QWidget *pWidget, QCloseEvent *pEvent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_filterResult = false;
};
