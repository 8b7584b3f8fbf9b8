// The status line: an icon and a text that report a warning, work in progress or a
// success, or a plain note without icon, optionally clearing themselves after a while.
//
//     status->ShowLoading(text, 0);          // spinner, stays until replaced or cleared
//     status->ShowSuccess(text, 5000);       // tick, clears after 5 s
//     status->ShowStatus(STATUS_ID_SETTING_APPLIED);
//     status->ClearStatus(0);                // now
//     status->SetClickable(true);            // SigClicked on a click, until the next Show
//
// Each Show cancels a pending delayed clear. The text takes the colour of the `Style`
// property ("Warning", "Loading", "Success", "Info") from the style sheet. The status codes
// carry their group in a bit: 0x100 warnings (shown for 5 s), 0x200 progress (shown
// until replaced), 0x400 successes (shown for 5 s). GUI thread only.
#pragma once

#include <QMetaType>
#include <QWidget>

class QLabel;
class QMovie;
class QTimer;
class VelaElideLabel;

enum WIDGET_STATUS_ID {
    STATUS_ID_SETTING_NO_CHANGE = 0x101,
    STATUS_ID_PRESS_SAVE_TO_APPLY = 0x102,
    STATUS_ID_FORM_INVALID = 0x103,
    STATUS_ID_SYSTEM_ERROR = 0x104,
    STATUS_ID_LOADING = 0x201,
    STATUS_ID_SAVING = 0x202,
    STATUS_ID_SEARCHING = 0x203,
    STATUS_ID_CREATING = 0x204,
    STATUS_ID_CONFIGURING = 0x205,
    STATUS_ID_UPLOADING = 0x206,
    STATUS_ID_SETTING_APPLIED = 0x401
};
Q_DECLARE_METATYPE(WIDGET_STATUS_ID)

class VelaStatusWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Style READ Style WRITE SetStyle)

public:
    // How long ShowStatus shows warnings and successes.
    static constexpr int StatusDisplayMsec = 5000;

    static constexpr int WarningGroup = 0x100;
    static constexpr int LoadingGroup = 0x200;
    static constexpr int SuccessGroup = 0x400;

    explicit VelaStatusWidget(QWidget *parent = nullptr);

    // msec > 0 clears the status that long after it was shown; 0 keeps it.
    void ShowWarning(const QString &text, int msec = 0);
    void ShowLoading(const QString &text, int msec = 0);
    void ShowSuccess(const QString &text, int msec = 0);
    // Neither good nor bad news (something the user asked for, as a cancel).
    void ShowInfo(const QString &text, int msec = 0);
    void ShowWarning(WIDGET_STATUS_ID id, int msec = 0);
    void ShowStatus(WIDGET_STATUS_ID id);
    // waitMsec > 0 clears after that delay; otherwise at once.
    void ClearStatus(int waitMsec = 0);

    // Limits the text to the width left for the status line (the text elides beyond
    // it). Ignored when 0 or less.
    void SetAvailableWidth(int width);

    // The text of a status code in the user's language; empty for an unknown code.
    static QString StatusText(WIDGET_STATUS_ID id);

    QString Style() const;
    // Stores the style and re-polishes, so that the text takes the style's colour.
    void SetStyle(const QString &style);

    QString Text() const;
    // The timer of a delayed clear (inactive when none is pending).
    QTimer *ClearTimer() const;

    // Whether a left click on the status emits SigClicked (with the pointing hand
    // over it). Every Show and Clear ends it.
    void SetClickable(bool clickable);
    bool IsClickable() const;

signals:
    void SigClicked();

protected:
    void mouseReleaseEvent(QMouseEvent *e) override;

private slots:
    void SlotClearStatus();

private:
    enum class Icon { Warning, Loading, Success, None };
    void Show(const QString &style, Icon icon, const QString &text, int msec);
    void ScheduleClear(int msec);

    VelaElideLabel *m_textLabel;
    QLabel *m_loadingLabel;
    QMovie *m_movie;
    QWidget *m_iconBox;
    QLabel *m_warningIcon;
    QLabel *m_successIcon;
    QString m_style;
    QTimer *m_clearTimer;
    bool m_clickable = false;
};
