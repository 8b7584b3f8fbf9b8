// The converter's one dialog: a fixed-size box with a message and an OK button, used
// for the about text and for the conversion failure; or, as a question, with two
// buttons side by side; or, as a report, wider, with a list under the message (a name
// and a line under it per entry) that scrolls when it is longer than a few entries.
//
//     auto *box = new ConverterMsgBox(window, text);
//     box->setModal(true);
//     connect(box, &QObject::destroyed, mask, [mask]() { mask->HideMask(); });
//     box->exec();            // the box is gone when exec() returns
//
//     auto *question = new ConverterMsgBox(window, text, stopText, keepText);
//     const bool stop = question->exec() == QDialog::Accepted;
//
//     auto *report = new ConverterMsgBox(window, text, {{"cam02.ts", reason}, ...});
//
// The box deletes itself when it is closed, whichever way (a button, Esc or the
// frame's close button); callers neither delete it nor touch it after exec(). Enter
// and Space press the focused button, which is the OK button, or the question's
// reject button (the choice that changes nothing); Esc closes the box as rejected.
// GUI thread only.
#pragma once

#include <QDialog>

#include <QVector>

class QScrollArea;
class VelaBlueButton;
class VelaElideLabel;
class VelaWhiteButton;

class ConverterMsgBox : public QDialog
{
    Q_OBJECT

public:
    struct ListEntry {
        QString name;    // one line, elided when longer (whole in its tool tip)
        QString line;    // wrapped
    };

    ConverterMsgBox(QWidget *parent, const QString &text);
    // A question: acceptText on the left (accepts), rejectText on the right (rejects,
    // focused).
    ConverterMsgBox(QWidget *parent, const QString &text, const QString &acceptText, const QString &rejectText);

    // A report: the message, then the entries.
    ConverterMsgBox(QWidget *parent, const QString &text, const QVector<ListEntry> &entries);

    static constexpr int BoxWidth = 350;
    static constexpr int BoxHeight = 140;
    // A report is this wide; its list is at most ListMaxHeight tall and scrolls beyond.
    static constexpr int ListBoxWidth = 420;
    static constexpr int ListMaxHeight = 200;

    // The report's list (null in the other boxes).
    QScrollArea *List() const;

private:
    void Build(const QString &text);
    void BuildList(const QVector<ListEntry> &entries);

    VelaElideLabel *m_messageLabel = nullptr;
    VelaBlueButton *m_okButton = nullptr;
    VelaWhiteButton *m_acceptButton = nullptr;
    QScrollArea *m_list = nullptr;
};
