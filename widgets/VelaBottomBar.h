// The bar at the bottom of a window or dialog: a status line (VelaStatusWidget) and
// standard buttons chosen by role.
//
//     auto *bar = new VelaBottomBar(content);
//     bar->AddRightButton(VelaBottomBar::Ok);            // a VelaBlueButton labelled "OK"
//     bar->button(VelaBottomBar::Ok)->setDisabled(true);
//     bar->SlotShowLoading(text, 0);                      // status until replaced
//     bar->SlotShowSuccess(text, 0);
//     bar->SlotClearStatus(0);
//
// button(role) creates the role's button on first request (hidden, parented to the bar,
// labelled with the role's text) and returns the same one later; roles outside 0 to 20
// give null, and the add operations ignore them. Buttons added at the right line up
// from the right edge, each later one left of the earlier ones; buttons added at the
// left follow each other from the left edge; the status line sits between and gets
// the width the buttons leave. WIDGET_STATUS_ID is registered with the meta-type
// system, so the status slots can be invoked through queued connections. GUI thread only.
#pragma once

#include "VelaStatusWidget.h"

#include <QHash>
#include <QPointer>
#include <QVector>
#include <QWidget>

class QHBoxLayout;

class VelaBottomBar : public QWidget
{
    Q_OBJECT

public:
    // Button roles (ButtonRole); the class of each role's button follows the name.
    enum ButtonRole {
        Cancel = 0,        // white
        Next = 1,          // blue
        Previous = 2,      // white
        Finish = 3,        // blue
        Save = 4,          // blue
        Close = 5,         // white
        CustomBlue = 6,    // blue, no text of its own
        Open = 7,          // blue
        Ok = 8,            // blue
        Search = 9,        // white
        Reset = 10,        // white
        Yes = 11,          // blue
        No = 12,           // white
        Upgrade = 13,      // blue
        Select = 14,       // blue
        Submit = 15,       // red
        Apply = 16,        // blue
        Download = 17,     // blue
        Edit = 18,         // white
        Replace = 19,      // blue
        CustomBlue2 = 20,  // blue, no text of its own
        RoleCount = 21
    };

    explicit VelaBottomBar(QWidget *parent = nullptr);

    // The button of a role (a VelaBaseButton subclass), created hidden on first call;
    // null for a role outside 0 to 20.
    QWidget *button(int role);
    // Shows the role's button at the right (left of buttons added before).
    void AddRightButton(int role);
    // Shows the role's button at the left (right of buttons added before).
    void AddLeftButton(int role);
    // Shows a widget of the owner's at the right, like a button.
    void AddRightWidget(QWidget *widget);

    // Sets the texts of every role again from the text table.
    void Retranslate();
    // The text of a role in the current language; empty for roles without text.
    QString RoleText(int role) const;

    VelaStatusWidget *StatusWidget() const;

public slots:
    void SlotShowWarning(QString strText, int DisplayMsec = 0);
    void SlotShowWarning(WIDGET_STATUS_ID Id, int DisplayMsec = 0);
    void SlotShowLoading(QString strText, int DisplayMsec = 0);
    void SlotShowSuccess(QString strText, int DisplayMsec = 0);
    void SlotShowInfo(QString strText, int DisplayMsec = 0);
    void SlotClearStatus(int WaitMsec = 0);
    void SlotShowStatus(WIDGET_STATUS_ID Id);

protected:
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    QWidget *CreateButton(int role);
    void AddToLayout(QHBoxLayout *layout, QWidget *widget);
    void UpdateStatusWidth();

    VelaStatusWidget *m_statusWidget;
    QHBoxLayout *m_statusLayout;
    QHBoxLayout *m_leftLayout;
    QHBoxLayout *m_rightLayout;
    QVector<QPointer<QWidget>> m_buttons;
    QHash<int, QString> m_roleTexts;
};
