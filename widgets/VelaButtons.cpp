// The push-button family: the shared base (size, cursor, font, eliding, hover
// signals), the shadowed and colour variants, and the trigger button's painting.
#include "VelaButtons.h"

#include "CursorMgr.h"
#include "SkinKeys.h"
#include "VelaShadow.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QtMath>

namespace {

QCursor CursorAt(int index)
{
    const CursorMgr *cursors = CursorMgr::Instance();
    return cursors ? cursors->GetCursor(index) : QCursor(index == CursorMgr::Arrow ? Qt::ArrowCursor
                                                                                   : Qt::PointingHandCursor);
}

void SetColourfulMinimumWidth(QWidget *button)
{
    button->setMinimumWidth(VelaSkin::Instance()->GetInt(Skin::VELA_BUTTON::COLORFUL_BTN_MIN_WIDTH));
}

} // namespace

// ---------------------------------------------------------------- VelaBaseButton

VelaBaseButton::VelaBaseButton(QWidget *parent, bool alwaysTooltip)
    : QPushButton(parent)
    , m_alwaysTooltip(alwaysTooltip)
{
    Init();
}

VelaBaseButton::VelaBaseButton(const QString &text, QWidget *parent, bool alwaysTooltip)
    : VelaBaseButton(parent, alwaysTooltip)
{
    setText(text);
}

void VelaBaseButton::Init()
{
    const VelaSkin *skin = VelaSkin::Instance();
    setSizePolicy(QSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed));
    setFixedHeight(skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_HEIGHT));
    setMinimumWidth(skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_WIDTH));
    setFocusPolicy(Qt::NoFocus);
    setCursor(CursorAt(CursorMgr::PointingHand));
    // Hover events drive SigMouseEnter/SigMouseLeave whether or not the style sheet
    // has hover rules for this class.
    setAttribute(Qt::WA_Hover);

    QFont buttonFont = font();
    buttonFont.setPixelSize(skin->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL));
    setFont(buttonFont);
}

void VelaBaseButton::setText(const QString &text)
{
    const bool changed = text != m_fullText;
    m_fullText = text;

    const QString elided = fontMetrics().elidedText(m_fullText, Qt::ElideRight, TextWidth());
    const bool showToolTip = !m_fullText.isEmpty() && (m_alwaysTooltip || elided != m_fullText);
    QString toolTip = showToolTip ? VelaWidgetUtil::ElidedTextToolTip(m_fullText) : QString();
    if (!m_hint.isEmpty())
        toolTip = toolTip.isEmpty() ? m_hint : toolTip + QStringLiteral("<br>") + m_hint.toHtmlEscaped();
    setToolTip(toolTip);
    QAbstractButton::setText(elided);
    if (changed)
        updateGeometry();
}

QString VelaBaseButton::FullText() const
{
    return m_fullText;
}

void VelaBaseButton::SetAlwaysTooltip(bool alwaysTooltip)
{
    m_alwaysTooltip = alwaysTooltip;
    setText(m_fullText);
}

bool VelaBaseButton::AlwaysTooltip() const
{
    return m_alwaysTooltip;
}

void VelaBaseButton::SetHint(const QString &hint)
{
    m_hint = hint;
    setText(m_fullText);
}

QString VelaBaseButton::Hint() const
{
    return m_hint;
}

int VelaBaseButton::TextWidth() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).width();
}

QSize VelaBaseButton::sizeHint() const
{
    // QPushButton's own computation, measured on the full text rather than the
    // displayed (possibly elided) one.
    ensurePolished();
    QStyleOptionButton option;
    initStyleOption(&option);

    int width = 0;
    int height = 0;
    const bool buttonBoxIcons = qobject_cast<QDialogButtonBox *>(parentWidget())
                                && style()->styleHint(QStyle::SH_DialogButtonBox_ButtonsHaveIcons);
    if (!icon().isNull() || buttonBoxIcons) {
        width += option.iconSize.width() + 4;
        height = qMax(height, option.iconSize.height());
    }

    const bool empty = m_fullText.isEmpty();
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, empty ? QStringLiteral("XXXX") : m_fullText);
    if (!empty || width == 0)
        width += textSize.width();
    if (!empty || height == 0)
        height = qMax(height, textSize.height());

    option.rect.setSize(QSize(width, height));
    if (menu())
        width += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, this);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, QSize(width, height), this)
        .expandedTo(QApplication::globalStrut());
}

bool VelaBaseButton::event(QEvent *e)
{
    const bool result = QPushButton::event(e);
    if (e->type() == QEvent::HoverEnter)
        emit SigMouseEnter();
    else if (e->type() == QEvent::HoverLeave)
        emit SigMouseLeave();
    return result;
}

void VelaBaseButton::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    if (!m_fullText.isEmpty())
        setText(m_fullText);
}

void VelaBaseButton::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange)
        setCursor(CursorAt(isEnabled() ? CursorMgr::PointingHand : CursorMgr::Arrow));
    else if ((e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) && !m_fullText.isEmpty())
        setText(m_fullText);    // another font or padding changes what fits
    QAbstractButton::changeEvent(e);
}

// ---------------------------------------------------------------- shadowed and colour buttons

VelaShadowButton::VelaShadowButton(QWidget *parent, bool noShadow)
    : VelaBaseButton(parent)
{
    if (!noShadow)
        m_shadow = new VelaButtonShadow(this);
}

VelaShadow *VelaShadowButton::Shadow() const
{
    return m_shadow;
}

VelaButton::VelaButton(QWidget *parent, bool noShadow)
    : VelaShadowButton(parent, noShadow)
{
}

VelaButton::VelaButton(const QString &text, QWidget *parent, bool noShadow)
    : VelaShadowButton(parent, noShadow)
{
    setText(text);
}

VelaWhiteButton::VelaWhiteButton(QWidget *parent)
    : VelaShadowButton(parent)
{
    SetColourfulMinimumWidth(this);
}

VelaBlueButton::VelaBlueButton(QWidget *parent)
    : VelaShadowButton(parent)
{
    SetColourfulMinimumWidth(this);
}

VelaRedButton::VelaRedButton(QWidget *parent)
    : VelaShadowButton(parent)
{
    SetColourfulMinimumWidth(this);
}

VelaYellowButton::VelaYellowButton(QWidget *parent)
    : VelaShadowButton(parent)
{
    SetColourfulMinimumWidth(this);
}

VelaToggleButton::VelaToggleButton(QWidget *parent)
    : VelaShadowButton(parent)
{
    setCheckable(true);
}

// ---------------------------------------------------------------- plain variants

VelaFlatButton::VelaFlatButton(QWidget *parent)
    : VelaBaseButton(parent)
{
}

VelaIconButton::VelaIconButton(QWidget *parent)
    : VelaBaseButton(parent)
{
}

VelaOption::VelaOption(QWidget *parent)
    : VelaBaseButton(parent)
{
}

VelaTickButton::VelaTickButton(QWidget *parent)
    : VelaBaseButton(parent)
{
    setCheckable(true);
}

VelaTickButton::VelaTickButton(const QString &text, QWidget *parent)
    : VelaTickButton(parent)
{
    setText(text);
}

VelaMenuSeparator::VelaMenuSeparator(QWidget *parent)
    : VelaBaseButton(parent)
{
    setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed));
    setFixedHeight(VelaSkin::Instance()->GetInt(Skin::VELA_BUTTON::MENU_SEPARATOR_HEIGHT));
    setDisabled(true);
}

// ---------------------------------------------------------------- VelaTriggerButton

VelaTriggerButton::VelaTriggerButton(QWidget *parent)
    : VelaBaseButton(parent, true)
{
    const VelaSkin *skin = VelaSkin::Instance();
    setMinimumSize(skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_WIDTH), skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_HEIGHT));
    setCheckable(true);
}

bool VelaTriggerButton::IsLegal() const
{
    return m_legal;
}

void VelaTriggerButton::SetLegal(bool legal)
{
    if (legal == m_legal)
        return;
    m_legal = legal;
    VelaWidgetUtil::Repolish(this);
}

void VelaTriggerButton::paintEvent(QPaintEvent *)
{
    // Drawn like a line edit with a drop-down arrow, in the skin's colours, so that it
    // sits in a form next to VelaLineEdit fields.
    const VelaSkin *skin = VelaSkin::Instance();
    const int padding = skin->GetInt(Skin::VELA_BUTTON::TRIGGER_TEXT_PADDING);
    const int radius = skin->GetInt(Skin::GENERAL::BORDER_RADIUS);

    QColor border = skin->GetColor(Skin::GENERAL::COLOR_BORDER);
    if (!m_legal)
        border = skin->GetColor(Skin::GENERAL::WARNING_COLOR);
    else if (isChecked())
        border = skin->GetColor(Skin::GENERAL::COLOR_BORDER_FOCUS);
    else if (underMouse() && isEnabled())
        border = skin->GetColor(Skin::GENERAL::COLOR_BORDER_HOVER);
    const QColor text = skin->GetColor(isEnabled() ? Skin::GENERAL::PRIMARY_TEXT_COLOR : Skin::GENERAL::DISABLED_TEXT_COLOR);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(border);
    painter.setBrush(skin->GetColor(Skin::GENERAL::WINDOW_BG_COLOR));
    painter.drawRoundedRect(frame, radius, radius);

    // The arrow: a small triangle, as wide as half the padding-free height allows.
    const qreal arrowWidth = height() / 3.0;
    const qreal arrowHeight = arrowWidth / 2.0;
    const QPointF centre(width() - padding - arrowWidth / 2.0, height() / 2.0);
    const qreal tip = isChecked() ? -arrowHeight / 2.0 : arrowHeight / 2.0;
    QPainterPath arrow;
    arrow.moveTo(centre.x() - arrowWidth / 2.0, centre.y() - tip);
    arrow.lineTo(centre.x() + arrowWidth / 2.0, centre.y() - tip);
    arrow.lineTo(centre.x(), centre.y() + tip);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(text);
    painter.drawPath(arrow);

    const QRect textRect = rect().adjusted(padding, 0, -(2 * padding + qCeil(arrowWidth)), 0);
    painter.setPen(text);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(FullText(), Qt::ElideRight, textRect.width()));
}
