// The converter's one dialog: a fixed-size box with a message and an OK button, used
// for the about text and for the conversion failure.
//
//     auto *box = new ConverterMsgBox(window, text);
//     box->setModal(true);
//     connect(box, &QObject::destroyed, mask, [mask]() { mask->HideMask(); });
//     box->exec();            // the box is gone when exec() returns
//
// The box deletes itself when it is closed, whichever way (OK or the frame's close
// button); callers neither delete it nor touch it after exec(). GUI thread only.
#pragma once

#include <QDialog>

class VelaBlueButton;
class VelaElideLabel;

class ConverterMsgBox : public QDialog
{
    Q_OBJECT

public:
    ConverterMsgBox(QWidget *parent, const QString &text);

private:
    VelaElideLabel *m_messageLabel;
    VelaBlueButton *m_okButton;
};
