// The loading mask: a translucent cover that blocks a window while it waits, with an
// optional box in its middle that shows a spinner and a text ("Loading..."), or, in the
// progress style, a progress bar, a detail line and a Cancel button as well; the queue
// style adds a line naming the item in hand above the bar and a second, thinner bar
// for all the items below it.
//
//     mask = new VelaLoadingMask(window);    // a direct child of the window; hidden
//     mask->ShowMask();                      // covers the window, no box
//     mask->ShowMask(true);                  // covers the window, box in the middle
//     mask->LoadingWidget()->SetProgressStyle(true);
//     mask->LoadingWidget()->SetProgress(42);
//     mask->HideMask();
//
// The mask covers its parent's whole area, stays above its siblings while shown and
// follows the parent's size; mouse presses on it go no further and emit SigClicked.
// While shown it also takes the keyboard: keys meant for the window's covered
// controls go nowhere (Esc emits SigEscapePressed), and focus stays inside the mask
// until it hides, when the control that had it gets it back. A mask without a
// parent widget does nothing. GUI thread only.
#pragma once

#include <QWidget>

#include <QPointer>

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QMovie;
class QProgressBar;
class VelaElideLabel;

// The box in the middle of a mask ("LoadWidgetBg"): the loading spinner beside a title,
// or, in the information style, the information icon above it. The progress style adds
// a progress bar under the title and, below the bar, a detail line with a Cancel button
// at its right. The queue style (on top of the progress style) adds the queue line
// between the title and the bar (elided at the box's width) and the overall bar under
// the bar.
class VelaLoadingWidget : public QWidget
{
    Q_OBJECT

public:
    // transparent: no background and no frame (over a transparent mask).
    explicit VelaLoadingWidget(QWidget *parent = nullptr, bool transparent = false);

    void SetText(const QString &text);
    QString Text() const;

    // The information style: the skin's information icon instead of the spinner, the
    // title below it.
    void SetInfoStyle(bool info);
    bool IsInfoStyle() const;

    // The progress style: the bar, the detail line and the Cancel button under the
    // title (leaves the information style).
    void SetProgressStyle(bool progress);
    bool IsProgressStyle() const;
    // 0 to 100; a negative value shows a busy bar (the share is unknown).
    void SetProgress(int percent);
    // The share shown, -1 while busy.
    int Progress() const;
    void SetDetail(const QString &text);
    QString Detail() const;
    QAbstractButton *CancelButton() const;

    // The queue style: the queue line and the overall bar (entering it enters the
    // progress style too; leaving the progress style leaves it).
    void SetQueueStyle(bool queue);
    bool IsQueueStyle() const;
    void SetQueueLine(const QString &text);
    QString QueueLine() const;
    // 0 to 100.
    void SetOverallProgress(int percent);
    int OverallProgress() const;

    QMovie *Movie() const;

signals:
    void SigCancelClicked();

protected:
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    void FitSize();

    void BuildProgressParts();
    void BuildQueueParts();

    QBoxLayout *m_layout;       // the head row: spinner or icon, and the title
    QLabel *m_movieLabel;
    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QMovie *m_movie;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_detailLabel = nullptr;
    QAbstractButton *m_cancelButton = nullptr;
    VelaElideLabel *m_queueLabel = nullptr;
    QProgressBar *m_overallBar = nullptr;
    bool m_infoStyle = false;
    bool m_progressStyle = false;
    bool m_queueStyle = false;
};

class VelaLoadingMask : public QWidget
{
    Q_OBJECT

public:
    // transparent: the mask only blocks input and does not dim the window.
    explicit VelaLoadingMask(QWidget *parent = nullptr, bool transparent = false);

    // Raises the mask over its siblings, shows it over the parent's whole area and
    // shows the loading box when asked (hides it otherwise).
    void ShowMask(bool withLoadingWidget = false);
    void HideMask();
    // The loading box's text.
    void SetText(const QString &text);

    VelaLoadingWidget *LoadingWidget() const;

signals:
    void SigClicked();
    // Esc was pressed while the mask was shown.
    void SigEscapePressed();

protected:
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    bool event(QEvent *e) override;

private:
    void CentreLoadingWidget();
    void WatchParent();
    void TakeFocus(bool rememberFocus);
    // Whether a key event for `watched` is kept from it: keys for the window's covered
    // controls and Tab (which would move focus out from under the mask).
    bool BlocksKey(QObject *watched, QEvent *e);

    VelaLoadingWidget *m_loadingWidget;
    QWidget *m_watchedParent = nullptr;
    QPointer<QWidget> m_focusBefore;
};
