#include "VelaKbdLineEdit.h"

#include "CursorMgr.h"
#include "SkinKeys.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QKeyEvent>
#include <QPainter>

// ---------------------------------------------------------------- VelaKbdButton

VelaKbdButton::VelaKbdButton(QWidget *parent)
    : QPushButton(parent)
{
    const VelaSkin *skin = VelaSkin::Instance();
    setObjectName(QStringLiteral("LineEditKbdBtn"));
    setFixedSize(skin->GetInt(Skin::VELA_LINE_EDIT::KEYBOARD_ICON_WIDTH),
                 skin->GetInt(Skin::VELA_LINE_EDIT::KEYBOARD_ICON_HEIGHT));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    if (const CursorMgr *cursors = CursorMgr::Instance())
        setCursor(cursors->GetCursor(CursorMgr::PointingHand));
}

void VelaKbdButton::paintEvent(QPaintEvent *)
{
    // A keyboard: a rounded outline with two rows of keys and a space bar.
    const VelaSkin *skin = VelaSkin::Instance();
    QColor colour = skin->GetColor(Skin::GENERAL::SECONDARY_TEXT_COLOR);
    if (!isEnabled())
        colour = skin->GetColor(Skin::GENERAL::DISABLED_TEXT_COLOR);
    else if (isDown())
        colour = skin->GetColor(Skin::GENERAL::LINK_COLOR);
    else if (underMouse())
        colour = skin->GetColor(Skin::GENERAL::ACCENT_COLOR);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = width() * 0.75;
    const qreal h = height() * 0.5;
    const QRectF body((width() - w) / 2.0, (height() - h) / 2.0, w, h);
    painter.setPen(QPen(colour, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 2.0, 2.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const qreal key = h / 6.0;
    const int keysPerRow = 5;
    const qreal step = (w - 2.0 * key) / keysPerRow;
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < keysPerRow; ++column)
            painter.drawRect(QRectF(body.left() + key + column * step + (step - key) / 2.0,
                                    body.top() + key * (1.0 + 1.5 * row), key, key));
    }
    painter.drawRect(QRectF(body.left() + w * 0.3, body.bottom() - 2.0 * key, w * 0.4, key));
}

// ---------------------------------------------------------------- VelaKbdLineEdit

VelaKbdLineEdit::VelaKbdLineEdit(QWidget *parent, int type, bool allowEmpty, int maximumLength)
    : VelaLineEdit(parent, type, allowEmpty, maximumLength)
{
    m_keyboardButton = new VelaKbdButton(this);
    connect(m_keyboardButton, &QPushButton::clicked, this, [this]() {
        setFocus();
        emit SigKeyboardRequested(KeyboardLayout());
    });
    LayoutButtons();
}

bool VelaKbdLineEdit::IsLight() const
{
    return m_light;
}

void VelaKbdLineEdit::SetLight(bool light)
{
    if (light == m_light)
        return;
    m_light = light;
    VelaWidgetUtil::Repolish(this);
}

VelaKbdButton *VelaKbdLineEdit::KeyboardButton() const
{
    return m_keyboardButton;
}

void VelaKbdLineEdit::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        emit SigEnterPressed();
    VelaLineEdit::keyPressEvent(e);
}

int VelaKbdLineEdit::RightReservedWidth() const
{
    return m_keyboardButton ? m_keyboardButton->width() : 0;
}

void VelaKbdLineEdit::LayoutButtons()
{
    VelaLineEdit::LayoutButtons();
    if (!m_keyboardButton)
        return;
    const int margin = VelaSkin::Instance()->GetInt(Skin::VELA_LINE_EDIT::VELALINEEDIT_RIGHT_BUTTON_MARGIN);
    m_keyboardButton->move(width() - margin - m_keyboardButton->width(), (height() - m_keyboardButton->height()) / 2);
}
