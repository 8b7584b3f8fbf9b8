// The converter's one dialog: a fixed-size box with a message and an OK button, used
// for the about text and for the conversion failure; or, as a question, with two
// buttons side by side.
//
//     auto *box = new ConverterMsgBox(window, text);
//     box->setModal(true);
//     connect(box, &QObject::destroyed, mask, [mask]() { mask->HideMask(); });
//     box->exec();            // the box is gone when exec() returns
//
//     auto *question = new ConverterMsgBox(window, text, stopText, keepText);
//     const bool stop = question->exec() == QDialog::Accepted;
//
// The box deletes itself when it is closed, whichever way (a button, Esc or the
// frame's close button); callers neither delete it nor touch it after exec(). Enter
// and Space press the focused button, which is the OK button, or the question's
// reject button (the choice that changes nothing); Esc closes the box as rejected.
// GUI thread only.
#pragma once

#include <QDialog>

class VelaBlueButton;
class VelaElideLabel;
class VelaWhiteButton;

class ConverterMsgBox : public QDialog
{
    Q_OBJECT

public:
    ConverterMsgBox(QWidget *parent, const QString &text);
    // A question: acceptText on the left (accepts), rejectText on the right (rejects,
    // focused).
    ConverterMsgBox(QWidget *parent, const QString &text, const QString &acceptText, const QString &rejectText);

    static constexpr int BoxWidth = 350;
    static constexpr int BoxHeight = 140;

private:
    void Build(const QString &text);

    VelaElideLabel *m_messageLabel = nullptr;
    VelaBlueButton *m_okButton = nullptr;
    VelaWhiteButton *m_acceptButton = nullptr;
};
