// The loading mask: a translucent cover that blocks a window while it waits, with an
// optional box in its middle that shows a spinner and a text ("Loading...").
//
//     mask = new VelaLoadingMask(window);    // a direct child of the window; hidden
//     mask->ShowMask();                      // covers the window, no box
//     mask->ShowMask(true);                  // covers the window, box in the middle
//     mask->HideMask();
//
// The mask covers its parent's whole area, stays above its siblings while shown and
// follows the parent's size; mouse presses on it go no further and emit SigClicked. A
// mask without a parent widget does nothing. GUI thread only.
#pragma once

#include <QWidget>

class QBoxLayout;
class QLabel;
class QMovie;

// The box in the middle of a mask ("LoadWidgetBg"): the loading spinner beside a title,
// or, in the information style, the information icon above it.
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

    QMovie *Movie() const;

protected:
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    void FitSize();

    QBoxLayout *m_layout;
    QLabel *m_movieLabel;
    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QMovie *m_movie;
    bool m_infoStyle = false;
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

protected:
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    bool event(QEvent *e) override;

private:
    void CentreLoadingWidget();
    void WatchParent();

    VelaLoadingWidget *m_loadingWidget;
    QWidget *m_watchedParent = nullptr;
};
