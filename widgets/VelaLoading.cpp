#include "VelaLoading.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QStyleOption>

namespace {

const QString TransparentLabel = QStringLiteral("QLabel{background: transparent;}");

} // namespace

// ---------------------------------------------------------------- VelaLoadingWidget

VelaLoadingWidget::VelaLoadingWidget(QWidget *parent, bool transparent)
    : QWidget(parent)
    , m_layout(new QBoxLayout(QBoxLayout::LeftToRight, this))
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

    m_layout->setContentsMargins(skin->GetMargins(Skin::VELA_LOADING_MASK::WIDGET_CONTENT_MARGIN));
    m_layout->setSpacing(skin->GetInt(Skin::VELA_LOADING_MASK::ICON_TEXT_SPACING));
    m_layout->addWidget(m_movieLabel, 0, Qt::AlignCenter);
    m_layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
    m_layout->addWidget(m_titleLabel, 0, Qt::AlignCenter);
    FitSize();
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

QMovie *VelaLoadingWidget::Movie() const
{
    return m_movie;
}

void VelaLoadingWidget::FitSize()
{
    const VelaSkin *skin = VelaSkin::Instance();
    setMinimumSize(skin->GetSize(m_infoStyle ? Skin::VELA_LOADING_MASK::LOADING_INFO_ICON_STYLE_SIZE
                                             : Skin::VELA_LOADING_MASK::LOADING_WIDGET_SIZE));
    m_layout->activate();
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
    raise();
    show();
    m_loadingWidget->setVisible(withLoadingWidget);
    // The whole parent, wherever the mask was moved before.
    setGeometry(QRect(QPoint(0, 0), parent->size()));
    CentreLoadingWidget();
}

void VelaLoadingMask::HideMask()
{
    if (!parentWidget())
        return;
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
