// Labels that elide their text to their width.
//
//     auto *caption = new VelaElideLabel(content);
//     caption->setText(TextById(TextId::WL_COMMON_SOURCE) + ":");
//
// A plain, unwrapped text wider than the label ends in "..." and the whole text goes
// into the tool tip ("<a>text</a>", so long tool tips wrap); the eliding follows every
// resize, so the text grows back when the label widens. Rich text and word-wrapped
// labels show their text unchanged. An empty label shows its placeholder text, if any.
// The `Highlight` property switches the style sheet's highlight colour. Each label
// draws disabled text flat through its own VelaLabelStyle. GUI thread only.
#pragma once

#include <QLabel>
#include <QVariant>

class VelaElideLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(bool Highlight READ IsHighlight WRITE SetHighlight)

public:
    explicit VelaElideLabel(QWidget *parent = nullptr);
    VelaElideLabel(const QString &text, QWidget *parent = nullptr);

    // The text as set, before eliding.
    QString FullText() const;

    // Show the full text as a tool tip even when it fits.
    void SetAlwaysTooltip(bool alwaysTooltip);
    // Shown (elided, without tool tip) while the text is empty.
    void SetPlaceholderText(const QString &placeholder);
    // Re-polishes when the value changes, so that the [Highlight] rules apply.
    void SetHighlight(bool highlight);
    bool IsHighlight() const;
    void SetUserData(const QVariant &data);
    QVariant UserData() const;
    // Elide to this width instead of the label's own; a negative width restores the
    // label's width.
    void SetElideWidth(int width);

    // The size of the whole text, so layouts offer room for it; the minimum width is
    // small so that a layout can make the label narrower and let it elide.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setText(QString strText);

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    bool Elides() const;
    int ElideWidth() const;

    bool m_alwaysTooltip = false;
    bool m_empty = true;
    bool m_highlight = false;
    QString m_placeholder;
    QVariant m_userData;
    int m_elideWidth;
    QString m_fullText;
    bool m_ownToolTip = false;    // the tool tip is the elided text's, not the owner's
};

// A note under a form: the style sheet's note colour, at least the skin's note height.
class VelaNoteLabel : public VelaElideLabel
{
    Q_OBJECT

public:
    explicit VelaNoteLabel(QWidget *parent = nullptr);
    VelaNoteLabel(const QString &text, QWidget *parent = nullptr);
};
