#include "VelaListener.h"

#include <QWidget>

VelaListener::VelaListener(QObject *watched)
    : QObject(watched)
{
    if (watched)
        watched->installEventFilter(this);
}

void VelaListener::SetFilterResult(bool filtered)
{
    m_filterResult = filtered;
}

bool VelaListener::eventFilter(QObject *watched, QEvent *event)
{
    m_filterResult = false;
    QWidget *widget = watched->isWidgetType() ? static_cast<QWidget *>(watched) : nullptr;

    switch (event->type()) {
    case QEvent::Resize:
        emit SigResizeListened(widget, static_cast<QResizeEvent *>(event));
        break;
    case QEvent::Show:
        emit SigShowListened(widget, static_cast<QShowEvent *>(event));
        break;
    case QEvent::Move:
        emit SigMoveListened(widget, static_cast<QMoveEvent *>(event));
        break;
    case QEvent::Hide:
        emit SigHideListened(widget, static_cast<QHideEvent *>(event));
        break;
    case QEvent::HideToParent:
        emit SigHideToParentListened(widget, event);
        break;
    case QEvent::ParentChange:
        emit SigParentChangedListened(widget, event);
        break;
    case QEvent::FocusIn:
        emit SigFocusInListened(widget, static_cast<QFocusEvent *>(event));
        break;
    case QEvent::FocusOut:
        emit SigFocusOutListened(widget, static_cast<QFocusEvent *>(event));
        break;
    case QEvent::ZOrderChange:
        emit SigZOrderChangedListened(widget, event);
        break;
    case QEvent::EnabledChange:
        emit SigEnableChangedListened(widget, event);
        break;
    case QEvent::Leave:
        emit SigLeaveListened(widget, event);
        break;
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit SigMouseLeftPressed(widget, static_cast<QMouseEvent *>(event));
        break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit SigMouseLeftReleased(widget, static_cast<QMouseEvent *>(event));
        break;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit SigMouseLeftDoubleClicked(widget, static_cast<QMouseEvent *>(event));
        break;
    case QEvent::LayoutRequest:
        emit SigLayoutRequest(widget, event);
        break;
    case QEvent::Close:
        emit SigCloseListened(widget, static_cast<QCloseEvent *>(event));
        break;
    default:
        break;
    }
    return m_filterResult;
}
