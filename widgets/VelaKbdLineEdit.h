// A VelaLineEdit with an on-screen keyboard button at its right, for kiosk screens
// without a physical keyboard. The button asks for the keyboard that suits the field's
// type (SigKeyboardRequested with VelaLineEdit::KeyboardLayout()); Return and Enter
// emit SigEnterPressed. Light true gives the field the light background of dark
// screens. GUI thread only.
#pragma once

#include "VelaLineEdit.h"

#include <QPushButton>

// The keyboard glyph button inside a VelaKbdLineEdit ("LineEditKbdBtn").
class VelaKbdButton : public QPushButton
{
    Q_OBJECT

public:
    explicit VelaKbdButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *e) override;
};

class VelaKbdLineEdit : public VelaLineEdit
{
    Q_OBJECT
    Q_PROPERTY(bool Light READ IsLight WRITE SetLight)

public:
    explicit VelaKbdLineEdit(QWidget *parent = nullptr, int type = Text, bool allowEmpty = true,
                             int maximumLength = -1);

    bool IsLight() const;
    // Stores the flag and re-polishes, so that the [Light] rule applies.
    void SetLight(bool light);

    VelaKbdButton *KeyboardButton() const;

signals:
    void SigEnterPressed();
    void SigKeyboardRequested(int nLayout);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    int RightReservedWidth() const override;
    void LayoutButtons() override;

private:
    VelaKbdButton *m_keyboardButton = nullptr;
    bool m_light = false;
};
