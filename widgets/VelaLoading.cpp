#include "VelaLoading.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QProgressBar>
#include <QStyleOption>

namespace {

const QString TransparentLabel = QStringLiteral("QLabel{background: transparent;}");

} // namespace

// ---------------------------------------------------------------- VelaLoadingWidget

VelaLoadingWidget::VelaLoadingWidget(QWidget *parent, bool transparent)
    : QWidget(parent)
    , m_layout(new QBoxLayout(QBoxLayout::LeftToRight))
    , m_movieLabel(new QLabel(this))
    , m_iconLabel(new QLabel(this))
    , m_titleLabel(new QLabel(this))
    , m_movie(new QMovie(this))
{
    const VelaSkin *skin = VelaSkin::Instance();
    setObjectName(QStringLiteral("LoadWidgetBg"));
    setAttribute(Qt::WA_StyledBackground);
    if (transparent) {
        setStyleSheet(QStringLiteral("QWidget#LoadWidgetBg{background-color: transparent; border: 0px;}"));
    } else {
        setStyleSheet(QStringLiteral("QWidget#LoadWidgetBg{background-color: %1; border: 1px solid %2; "
                                     "border-radius: %3px;}")
                          .arg(skin->GetString(Skin::VELA_HINT_PANEL::GL14_BG_COLOR),
                               skin->GetString(Skin::GENERAL::COLOR_BORDER))
                          .arg(skin->GetInt(Skin::GENERAL::BORDER_RADIUS)));
    }

    m_movie->setFileName(skin->GetImage(Skin::VELA_LOADING_MASK::STYLE_LOADING_GIF));
    m_movieLabel->setFixedSize(skin->GetSize(Skin::VELA_LOADING_MASK::LOADING_GIF_SIZE));
    m_movieLabel->setAlignment(Qt::AlignCenter);
    m_movieLabel->setStyleSheet(TransparentLabel);
    VelaWidgetUtil::ShowMovieOnLabel(m_movie, m_movieLabel);

    m_iconLabel->setFixedSize(skin->GetSize(Skin::VELA_LOADING_MASK::INFO_ICON_SIZE));
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->setStyleSheet(TransparentLabel);
    m_iconLabel->setPixmap(VelaWidgetUtil::ScaledPixmap(skin->GetImage(Skin::ICON::EXCLAMATION_ICON)));
    m_iconLabel->hide();

    m_titleLabel->setStyleSheet(QStringLiteral("QLabel{background: transparent; color: %1; font-size: %2px;}")
                                    .arg(skin->GetString(Skin::GENERAL::PRIMARY_TEXT_COLOR))
                                    .arg(skin->GetInt(Skin::VELA_LOADING_MASK::TITLE_FONT_SIZE)));
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setText(TextById(TextId::WL_COMMON_COMMON_LOADING));

    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(skin->GetInt(Skin::VELA_LOADING_MASK::ICON_TEXT_SPACING));
    m_layout->addStretch(1);
    m_layout->addWidget(m_movieLabel, 0, Qt::AlignCenter);
    m_layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
    m_layout->addWidget(m_titleLabel, 0, Qt::AlignCenter);
    m_layout->addStretch(1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(skin->GetMargins(Skin::VELA_LOADING_MASK::WIDGET_CONTENT_MARGIN));
    column->setSpacing(skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_ROW_SPACING));
    column->addLayout(m_layout);
    BuildProgressParts();
    BuildQueueParts();
    FitSize();
}

void VelaLoadingWidget::BuildProgressParts()
{
    // Hidden outside the progress style, where they take no room in the layout.
    const VelaSkin *skin = VelaSkin::Instance();
    const int barHeight = skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_BAR_HEIGHT);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("LoadingProgressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(barHeight);
    m_progressBar->setRange(0, 0);
    m_progressBar->setStyleSheet(
        QStringLiteral("QProgressBar{background-color: %1; border: 0px; border-radius: %3px;}"
                       "QProgressBar::chunk{background-color: %2; border-radius: %3px;}")
            .arg(skin->GetString(Skin::VELA_LOADING_MASK::PROGRESS_TRACK_COLOR),
                 skin->GetString(Skin::VELA_LOADING_MASK::PROGRESS_BAR_COLOR))
            .arg(barHeight / 2));

    m_detailLabel = new QLabel(this);
    m_detailLabel->setObjectName(QStringLiteral("LoadingDetail"));
    m_detailLabel->setStyleSheet(QStringLiteral("QLabel{background: transparent; color: %1; font-size: %2px;}")
                                     .arg(skin->GetString(Skin::VELA_LOADING_MASK::PROGRESS_DETAIL_COLOR))
                                     .arg(skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_DETAIL_FONT_SIZE)));
    m_detailLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *cancel = new VelaWhiteButton(this);
    cancel->setText(TextById(TextId::WL_COMMON_COMMON_CANCEL));
    m_cancelButton = cancel;
    connect(m_cancelButton, &QAbstractButton::clicked, this, &VelaLoadingWidget::SigCancelClicked);

    auto *foot = new QHBoxLayout;
    foot->setContentsMargins(0, 0, 0, 0);
    foot->setSpacing(skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_ROW_SPACING));
    foot->addWidget(m_detailLabel, 1);
    foot->addWidget(m_cancelButton, 0, Qt::AlignRight | Qt::AlignVCenter);
    auto *column = qobject_cast<QVBoxLayout *>(layout());
    column->addWidget(m_progressBar);
    column->addLayout(foot);

    m_progressBar->hide();
    m_detailLabel->hide();
    m_cancelButton->hide();
}

void VelaLoadingWidget::BuildQueueParts()
{
    // Hidden outside the queue style. The line never widens the box: a long name is
    // elided to the room there is.
    const VelaSkin *skin = VelaSkin::Instance();
    m_queueLabel = new VelaElideLabel(this);
    VelaElideLabel *line = m_queueLabel;
    line->setObjectName(QStringLiteral("LoadingQueueLine"));
    line->setStyleSheet(QStringLiteral("QLabel{background: transparent; color: %1; font-size: %2px;}")
                            .arg(skin->GetString(Skin::GENERAL::PRIMARY_TEXT_COLOR))
                            .arg(skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_DETAIL_FONT_SIZE)));
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // Half as thick as the bar of the item in hand, so the two do not read as one.
    const int barHeight = qMax(2, skin->GetInt(Skin::VELA_LOADING_MASK::PROGRESS_BAR_HEIGHT) / 2);
    m_overallBar = new QProgressBar(this);
    m_overallBar->setObjectName(QStringLiteral("LoadingOverallBar"));
    m_overallBar->setTextVisible(false);
    m_overallBar->setFixedHeight(barHeight);
    m_overallBar->setRange(0, 100);
    m_overallBar->setValue(0);
    m_overallBar->setStyleSheet(
        QStringLiteral("QProgressBar{background-color: %1; border: 0px; border-radius: %3px;}"
                       "QProgressBar::chunk{background-color: %2; border-radius: %3px;}")
            .arg(skin->GetString(Skin::VELA_LOADING_MASK::PROGRESS_TRACK_COLOR),
                 skin->GetString(Skin::VELA_LOADING_MASK::PROGRESS_BAR_COLOR))
            .arg(barHeight / 2));

    // The column holds the head row, the bar and the foot row: the line goes above
    // the bar, the overall bar below it.
    auto *column = qobject_cast<QVBoxLayout *>(layout());
    column->insertWidget(column->indexOf(m_progressBar), m_queueLabel);
    column->insertWidget(column->indexOf(m_progressBar) + 1, m_overallBar);
    m_queueLabel->hide();
    m_overallBar->hide();
}

void VelaLoadingWidget::SetText(const QString &text)
{
    m_titleLabel->setText(text);
    FitSize();
}

QString VelaLoadingWidget::Text() const
{
    return m_titleLabel->text();
}

void VelaLoadingWidget::SetInfoStyle(bool info)
{
    if (info && m_progressStyle)
        SetProgressStyle(false);
    m_infoStyle = info;
    m_layout->setDirection(info ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    m_iconLabel->setVisible(info);
    m_movieLabel->setVisible(!info);
    if (info)
        m_movie->stop();
    else if (isVisible())
        m_movie->start();
    FitSize();
}

bool VelaLoadingWidget::IsInfoStyle() const
{
    return m_infoStyle;
}

void VelaLoadingWidget::SetProgressStyle(bool progress)
{
    if (progress && m_infoStyle)
        SetInfoStyle(false);
    if (!progress && m_queueStyle) {
        m_queueStyle = false;
        m_queueLabel->hide();
        m_overallBar->hide();
    }
    m_progressStyle = progress;
    m_progressBar->setVisible(progress);
    m_detailLabel->setVisible(progress);
    m_cancelButton->setVisible(progress);
    m_cancelButton->setEnabled(true);
    FitSize();
}

bool VelaLoadingWidget::IsProgressStyle() const
{
    return m_progressStyle;
}

void VelaLoadingWidget::SetProgress(int percent)
{
    if (percent < 0) {
        m_progressBar->setRange(0, 0);
        return;
    }
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(qMin(percent, 100));
}

int VelaLoadingWidget::Progress() const
{
    return m_progressBar->maximum() == 0 ? -1 : m_progressBar->value();
}

void VelaLoadingWidget::SetDetail(const QString &text)
{
    m_detailLabel->setText(text);
    FitSize();
}

QString VelaLoadingWidget::Detail() const
{
    return m_detailLabel->text();
}

QAbstractButton *VelaLoadingWidget::CancelButton() const
{
    return m_cancelButton;
}

void VelaLoadingWidget::SetQueueStyle(bool queue)
{
    if (queue && !m_progressStyle)
        SetProgressStyle(true);
    m_queueStyle = queue;
    m_queueLabel->setVisible(queue);
    m_overallBar->setVisible(queue);
    FitSize();
}

bool VelaLoadingWidget::IsQueueStyle() const
{
    return m_queueStyle;
}

void VelaLoadingWidget::SetQueueLine(const QString &text)
{
    m_queueLabel->setText(text);
}

QString VelaLoadingWidget::QueueLine() const
{
    return m_queueLabel->FullText();
}

void VelaLoadingWidget::SetOverallProgress(int percent)
{
    m_overallBar->setValue(qBound(0, percent, 100));
}

int VelaLoadingWidget::OverallProgress() const
{
    return m_overallBar->value();
}

QMovie *VelaLoadingWidget::Movie() const
{
    return m_movie;
}

void VelaLoadingWidget::FitSize()
{
    const VelaSkin *skin = VelaSkin::Instance();
    if (m_progressStyle)
        setMinimumSize(skin->GetSize(Skin::VELA_LOADING_MASK::PROGRESS_WIDGET_SIZE));
    else
        setMinimumSize(skin->GetSize(m_infoStyle ? Skin::VELA_LOADING_MASK::LOADING_INFO_ICON_STYLE_SIZE
                                                 : Skin::VELA_LOADING_MASK::LOADING_WIDGET_SIZE));
    layout()->activate();
    resize(sizeHint().expandedTo(minimumSize()));
}

void VelaLoadingWidget::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    if (!m_infoStyle)
        m_movie->start();
}

void VelaLoadingWidget::hideEvent(QHideEvent *e)
{
    m_movie->stop();    // no frames are drawn while the box is hidden
    QWidget::hideEvent(e);
}

// ---------------------------------------------------------------- VelaLoadingMask

VelaLoadingMask::VelaLoadingMask(QWidget *parent, bool transparent)
    : QWidget(parent)
    , m_loadingWidget(new VelaLoadingWidget(this, transparent))
{
    const VelaSkin *skin = VelaSkin::Instance();
    setObjectName(QStringLiteral("MaskBackground"));
    setMinimumSize(skin->GetSize(Skin::VELA_LOADING_MASK::MASK_MIN_SIZE));
    setStyleSheet(QStringLiteral("QWidget#MaskBackground{background-color: %1;}")
                      .arg(transparent ? QStringLiteral("transparent")
                                       : skin->GetString(Skin::VELA_LOADING_MASK::WIDGET_MASK_STYLE)));
    m_loadingWidget->installEventFilter(this);
    m_loadingWidget->hide();
    hide();
    WatchParent();
}

void VelaLoadingMask::ShowMask(bool withLoadingWidget)
{
    QWidget *parent = parentWidget();
    if (!parent)
        return;
    const bool wasShown = isVisible();
    // A box about to go while it holds the focus would pass it on to a covered
    // control (as Tab does, selecting a field's text); the mask keeps it instead.
    QWidget *focus = QApplication::focusWidget();
    if (!withLoadingWidget && focus && m_loadingWidget->isAncestorOf(focus))
        setFocus(Qt::OtherFocusReason);
    raise();
    show();
    m_loadingWidget->setVisible(withLoadingWidget);
    // The whole parent, wherever the mask was moved before.
    setGeometry(QRect(QPoint(0, 0), parent->size()));
    CentreLoadingWidget();
    TakeFocus(!wasShown);
}

void VelaLoadingMask::TakeFocus(bool rememberFocus)
{
    // Shown again over itself (a message box after the progress), the focus may have
    // moved under the mask on its own; the control the user had stays the one to
    // get it back.
    QWidget *focus = QApplication::focusWidget();
    if (rememberFocus && focus && focus->window() == window() && focus != this && !isAncestorOf(focus))
        m_focusBefore = focus;
    // Space on a focused Cancel button presses it; otherwise the mask itself holds the
    // focus, so no covered control shows a text cursor.
    QAbstractButton *cancel = m_loadingWidget->CancelButton();
    if (m_loadingWidget->isVisible() && cancel->isVisible())
        cancel->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void VelaLoadingMask::HideMask()
{
    if (!parentWidget())
        return;
    // Back to the control that had the focus before anything under the mask goes
    // (see ShowMask).
    if (m_focusBefore)
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    if (m_loadingWidget->isVisible())
        m_loadingWidget->hide();
    hide();
}

void VelaLoadingMask::SetText(const QString &text)
{
    m_loadingWidget->SetText(text);
}

VelaLoadingWidget *VelaLoadingMask::LoadingWidget() const
{
    return m_loadingWidget;
}

void VelaLoadingMask::CentreLoadingWidget()
{
    // In the mask's own coordinates: the box is the mask's child.
    const QSize room = size() - m_loadingWidget->size();
    m_loadingWidget->move(room.width() / 2, room.height() / 2);
}

void VelaLoadingMask::WatchParent()
{
    if (m_watchedParent)
        m_watchedParent->removeEventFilter(this);
    m_watchedParent = parentWidget();
    if (m_watchedParent)
        m_watchedParent->installEventFilter(this);
}

void VelaLoadingMask::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    // Every key event of the application passes the mask first, so that one sent
    // straight to a covered control is caught as well as one typed into the window.
    qApp->installEventFilter(this);
}

void VelaLoadingMask::hideEvent(QHideEvent *e)
{
    qApp->removeEventFilter(this);
    // Nothing under the mask could take the focus on purpose meanwhile.
    if (m_focusBefore)
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    m_focusBefore.clear();
    QWidget::hideEvent(e);
}

bool VelaLoadingMask::BlocksKey(QObject *watched, QEvent *e)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !parentWidget() || widget->window() != window())
        return false;
    auto *key = static_cast<QKeyEvent *>(e);
    const bool insideMask = widget == this || isAncestorOf(widget);
    if (e->type() == QEvent::KeyPress && key->key() == Qt::Key_Escape) {
        emit SigEscapePressed();
        return true;
    }
    if (!insideMask)
        return true;
    return key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
}

void VelaLoadingMask::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

void VelaLoadingMask::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    CentreLoadingWidget();
}

void VelaLoadingMask::mousePressEvent(QMouseEvent *e)
{
    QWidget::mousePressEvent(e);
    e->accept();
    emit SigClicked();
}

bool VelaLoadingMask::eventFilter(QObject *watched, QEvent *e)
{
    switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (isVisible() && BlocksKey(watched, e))
            return true;
        break;
    case QEvent::InputMethod:
        if (isVisible() && watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == window()
            && watched != this && !isAncestorOf(static_cast<QWidget *>(watched)))
            return true;
        break;
    default:
        break;
    }
    if (e->type() == QEvent::Resize) {
        if (watched == m_watchedParent && isVisible())
            setGeometry(QRect(QPoint(0, 0), m_watchedParent->size()));
        else if (watched == m_loadingWidget)
            CentreLoadingWidget();
    }
    return QWidget::eventFilter(watched, e);
}

bool VelaLoadingMask::event(QEvent *e)
{
    if (e->type() == QEvent::ParentChange)
        WatchParent();
    return QWidget::event(e);
}
