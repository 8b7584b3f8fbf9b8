#include "VelaPaintedButtons.h"

#include "CursorMgr.h"
#include "SkinKeys.h"
#include "VelaSkin.h"

#include <QPainter>
#include <QPainterPath>

namespace {

void InitPaintedButton(QPushButton *button)
{
    const VelaSkin *skin = VelaSkin::Instance();
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedHeight(skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_HEIGHT));
    button->setAttribute(Qt::WA_Hover);
    if (const CursorMgr *cursors = CursorMgr::Instance())
        button->setCursor(cursors->GetCursor(CursorMgr::PointingHand));
    QFont font = button->font();
    font.setPixelSize(skin->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL));
    button->setFont(font);
}

QColor StateColour(const QPushButton *button, SkinKey normal)
{
    const VelaSkin *skin = VelaSkin::Instance();
    if (!button->isEnabled())
        return skin->GetColor(Skin::GENERAL::DISABLED_TEXT_COLOR);
    if (button->isDown() || button->isChecked())
        return skin->GetColor(Skin::GENERAL::LINK_COLOR);
    if (button->underMouse())
        return skin->GetColor(Skin::GENERAL::ACCENT_COLOR);
    return skin->GetColor(normal);
}

} // namespace

// ---------------------------------------------------------------- VelaPlayButton

VelaPlayButton::VelaPlayButton(QWidget *parent)
    : QPushButton(parent)
{
    InitPaintedButton(this);
    setFixedWidth(height());
}

QSize VelaPlayButton::sizeHint() const
{
    return QSize(height(), height());
}

void VelaPlayButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 1.0;
    const QRectF disc((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(Qt::NoPen);
    painter.setBrush(StateColour(this, Skin::GENERAL::ACCENT_COLOR));
    painter.drawEllipse(disc);

    painter.setBrush(VelaSkin::Instance()->GetColor(Skin::GENERAL::WINDOW_BG_COLOR));
    const QPointF centre = disc.center();
    const qreal glyph = side * 0.36;
    if (isChecked()) {
        // Playing: two bars (pause).
        const qreal bar = glyph / 3.0;
        painter.drawRect(QRectF(centre.x() - glyph / 2.0, centre.y() - glyph / 2.0, bar, glyph));
        painter.drawRect(QRectF(centre.x() + glyph / 2.0 - bar, centre.y() - glyph / 2.0, bar, glyph));
    } else {
        // Paused: a triangle pointing right, nudged right so it looks centred.
        QPainterPath triangle;
        const qreal nudge = glyph / 8.0;
        triangle.moveTo(centre.x() - glyph / 2.0 + nudge, centre.y() - glyph / 2.0);
        triangle.lineTo(centre.x() + glyph / 2.0 + nudge, centre.y());
        triangle.lineTo(centre.x() - glyph / 2.0 + nudge, centre.y() + glyph / 2.0);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    }
}

// ---------------------------------------------------------------- VelaDevFilterButton

VelaDevFilterButton::VelaDevFilterButton(QWidget *parent)
    : QPushButton(parent)
{
    InitPaintedButton(this);
}

int VelaDevFilterButton::GlyphSize() const
{
    return height() / 2;
}

QSize VelaDevFilterButton::sizeHint() const
{
    const int padding = VelaSkin::Instance()->GetInt(Skin::VELA_BUTTON::TRIGGER_TEXT_PADDING);
    int width = height();
    if (!text().isEmpty())
        width += fontMetrics().horizontalAdvance(text()) + padding;
    return QSize(width, height());
}

void VelaDevFilterButton::paintEvent(QPaintEvent *)
{
    const QColor colour = StateColour(this, Skin::GENERAL::SECONDARY_TEXT_COLOR);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The funnel: a wide top narrowing to a short stem, centred in a square at the left.
    const qreal glyph = GlyphSize();
    const QPointF origin((height() - glyph) / 2.0, (height() - glyph) / 2.0);
    QPainterPath funnel;
    funnel.moveTo(origin.x(), origin.y());
    funnel.lineTo(origin.x() + glyph, origin.y());
    funnel.lineTo(origin.x() + glyph * 0.6, origin.y() + glyph * 0.5);
    funnel.lineTo(origin.x() + glyph * 0.6, origin.y() + glyph);
    funnel.lineTo(origin.x() + glyph * 0.4, origin.y() + glyph * 0.85);
    funnel.lineTo(origin.x() + glyph * 0.4, origin.y() + glyph * 0.5);
    funnel.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(funnel);

    if (!text().isEmpty()) {
        painter.setPen(colour);
        const QRect textRect = rect().adjusted(height(), 0, 0, 0);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
    }
}
