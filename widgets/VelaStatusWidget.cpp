#include "VelaStatusWidget.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaLabels.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel *IconLabel(const QString &imagePath, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(VelaWidgetUtil::ScaledPixmap(imagePath));
    return label;
}

} // namespace

VelaStatusWidget::VelaStatusWidget(QWidget *parent)
    : QWidget(parent)
    , m_textLabel(new VelaElideLabel(this))
    , m_loadingLabel(new QLabel)
    , m_movie(new QMovie(this))
    , m_iconBox(new QWidget(this))
    , m_clearTimer(new QTimer(this))
{
    const VelaSkin *skin = VelaSkin::Instance();

    m_iconBox->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    m_iconBox->setFixedWidth(skin->GetInt(Skin::VELA_STATUS_WIDGET::PIC_FIX_WIDTH));
    m_loadingLabel->setParent(m_iconBox);
    m_loadingLabel->setAlignment(Qt::AlignCenter);
    m_loadingLabel->setMaximumHeight(skin->GetInt(Skin::VELA_STATUS_WIDGET::LOAD_MOVIE_MAX_HEIGHT));
    m_movie->setFileName(skin->GetImage(Skin::VELA_STATUS_WIDGET::STYLE_PLAYER_LOADING_GIF));
    VelaWidgetUtil::ShowMovieOnLabel(m_movie, m_loadingLabel);
    m_warningIcon = IconLabel(skin->GetImage(Skin::VELA_STATUS_WIDGET::WARN_ICON), m_iconBox);
    m_successIcon = IconLabel(skin->GetImage(Skin::VELA_STATUS_WIDGET::STATUS_TICK_ICON), m_iconBox);

    auto *iconLayout = new QVBoxLayout(m_iconBox);
    iconLayout->setContentsMargins(0, 0, 0, 0);
    iconLayout->addWidget(m_loadingLabel);
    iconLayout->addWidget(m_warningIcon);
    iconLayout->addWidget(m_successIcon);

    m_textLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(skin->GetInt(Skin::VELA_STATUS_WIDGET::WIDGET_SPACING));
    layout->addWidget(m_iconBox);
    layout->addWidget(m_textLabel);

    // One connection for the widget's life and a single shot per schedule: a clear
    // fires once, and a later Show stops it.
    m_clearTimer->setObjectName(QStringLiteral("StatusClearTimer"));
    m_clearTimer->setSingleShot(true);
    connect(m_clearTimer, &QTimer::timeout, this, &VelaStatusWidget::SlotClearStatus);

    m_warningIcon->hide();
    m_successIcon->hide();
    m_loadingLabel->hide();
    hide();
}

QString VelaStatusWidget::StatusText(WIDGET_STATUS_ID id)
{
    switch (id) {
    case STATUS_ID_SETTING_NO_CHANGE:
        return TextById(TextId::WL_COMMON_SETTING_NOCHANGE);
    case STATUS_ID_PRESS_SAVE_TO_APPLY:
        return TextById(TextId::WL_COMMON_PRESS_SAVE_TO_APPLY);
    case STATUS_ID_FORM_INVALID:
        return TextById(TextId::WL_COMMON_FORMINVALID);
    case STATUS_ID_SYSTEM_ERROR:
        return TextById(TextId::WL_COMMON_ERROR_SYSTEM);
    case STATUS_ID_LOADING:
        return TextById(TextId::WL_COMMON_COMMON_LOADING);
    case STATUS_ID_SAVING:
        return TextById(TextId::WL_COMMON_COMMON_SAVING);
    case STATUS_ID_SEARCHING:
        return TextById(TextId::WL_COMMON_SEARCHING2);
    case STATUS_ID_CREATING:
        return TextById(TextId::WL_COMMON_COMMON_CREATING);
    case STATUS_ID_CONFIGURING:
        return TextById(TextId::CAMERA_CONN_STATUS_CONFIGURING);
    case STATUS_ID_UPLOADING:
        return TextById(TextId::WL_COMMON_UPLOADING);
    case STATUS_ID_SETTING_APPLIED:
        return TextById(TextId::WL_COMMON_SETTING_APPLIED);
    }
    return QString();
}

void VelaStatusWidget::ShowWarning(const QString &text, int msec)
{
    Show(QStringLiteral("Warning"), Icon::Warning, text, msec);
}

void VelaStatusWidget::ShowLoading(const QString &text, int msec)
{
    Show(QStringLiteral("Loading"), Icon::Loading, text, msec);
}

void VelaStatusWidget::ShowSuccess(const QString &text, int msec)
{
    Show(QStringLiteral("Success"), Icon::Success, text, msec);
}

void VelaStatusWidget::ShowInfo(const QString &text, int msec)
{
    Show(QStringLiteral("Info"), Icon::None, text, msec);
}

void VelaStatusWidget::ShowWarning(WIDGET_STATUS_ID id, int msec)
{
    ShowWarning(StatusText(id), msec);
}

void VelaStatusWidget::ShowStatus(WIDGET_STATUS_ID id)
{
    const QString text = StatusText(id);
    if (id & WarningGroup)
        ShowWarning(text, StatusDisplayMsec);
    else if (id & LoadingGroup)
        ShowLoading(text, 0);
    else if (id & SuccessGroup)
        ShowSuccess(text, StatusDisplayMsec);
}

void VelaStatusWidget::Show(const QString &style, Icon icon, const QString &text, int msec)
{
    if (m_clearTimer->isActive())
        m_clearTimer->stop();
    SetClickable(false);
    SetStyle(style);
    m_textLabel->setText(text);

    m_warningIcon->setVisible(icon == Icon::Warning);
    m_successIcon->setVisible(icon == Icon::Success);
    m_loadingLabel->setVisible(icon == Icon::Loading);
    if (icon == Icon::Loading)
        m_movie->start();
    else
        m_movie->stop();
    m_iconBox->show();
    show();

    if (msec > 0)
        ScheduleClear(msec);
}

void VelaStatusWidget::ScheduleClear(int msec)
{
    m_clearTimer->stop();
    m_clearTimer->setInterval(msec);
    m_clearTimer->start();
}

void VelaStatusWidget::ClearStatus(int waitMsec)
{
    if (waitMsec > 0) {
        ScheduleClear(waitMsec);
        return;
    }
    m_clearTimer->stop();
    SetClickable(false);
    hide();
    m_iconBox->hide();
    m_warningIcon->hide();
    m_loadingLabel->hide();
    m_movie->stop();
    m_successIcon->hide();
}

void VelaStatusWidget::SlotClearStatus()
{
    ClearStatus(0);
}

void VelaStatusWidget::SetAvailableWidth(int width)
{
    if (width <= 0)
        return;
    const VelaSkin *skin = VelaSkin::Instance();
    m_textLabel->setSizePolicy(QSizePolicy::Maximum, m_textLabel->sizePolicy().verticalPolicy());
    m_textLabel->setMaximumWidth(qMax(0, width - skin->GetInt(Skin::VELA_STATUS_WIDGET::PIC_FIX_WIDTH)
                                             - skin->GetInt(Skin::VELA_STATUS_WIDGET::WIDGET_SPACING)));
}

QString VelaStatusWidget::Style() const
{
    return m_style;
}

void VelaStatusWidget::SetStyle(const QString &style)
{
    if (style == m_style)
        return;
    m_style = style;
    // The text's colour rule is a descendant rule on this widget's property: both the
    // widget and its label need the sheet re-applied.
    VelaWidgetUtil::Repolish(this);
    VelaWidgetUtil::Repolish(m_textLabel);
}

QString VelaStatusWidget::Text() const
{
    return m_textLabel->FullText();
}

QTimer *VelaStatusWidget::ClearTimer() const
{
    return m_clearTimer;
}

void VelaStatusWidget::SetClickable(bool clickable)
{
    m_clickable = clickable;
    if (clickable)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

bool VelaStatusWidget::IsClickable() const
{
    return m_clickable;
}

void VelaStatusWidget::mouseReleaseEvent(QMouseEvent *e)
{
    QWidget::mouseReleaseEvent(e);
    if (m_clickable && e->button() == Qt::LeftButton && rect().contains(e->pos()))
        emit SigClicked();
}
