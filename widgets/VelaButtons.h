// The push-button family of the widget library.
//
// Every button derives from VelaBaseButton, which gives it the skin's height, minimum
// width and font, the pointing-hand cursor (the arrow while disabled), hover signals and
// a text that is elided to the button's width with the full text in a tool tip. The
// colour variants differ only in their class name, which the application style sheet
// matches (".VelaBlueButton" and so on), and in a minimum width; the shadowed branch
// adds a drop shadow drawn by a VelaButtonShadow beside the button (VelaShadow.h).
//
//     auto *ok = new VelaBlueButton(parent);
//     ok->setText(TextById(TextId::WL_COMMON_COMMON_OK));   // elided, tool tip if cut
//
// The file buttons live in VelaFileButton.h, the painted product-screen buttons in
// VelaPaintedButtons.h. GUI thread only.
#pragma once

#include <QPointer>
#include <QPushButton>

class VelaShadow;

class VelaBaseButton : public QPushButton
{
    Q_OBJECT

public:
    // alwaysTooltip: show the full text as a tool tip even when it fits.
    explicit VelaBaseButton(QWidget *parent = nullptr, bool alwaysTooltip = false);
    VelaBaseButton(const QString &text, QWidget *parent = nullptr, bool alwaysTooltip = false);

    // Stores the full text and shows it elided at the right to the width of the
    // button's contents; when it had to be cut (or always-tooltip is set) the tool tip
    // is "<a>full text</a>" (markup in the text shown literally), otherwise empty; an
    // empty text has no tool tip. Hides QAbstractButton::setText, so call
    // it on a VelaBaseButton pointer.
    void setText(const QString &text);
    // The text as set, before eliding.
    QString FullText() const;

    void SetAlwaysTooltip(bool alwaysTooltip);
    bool AlwaysTooltip() const;

    // A line that the tool tip always shows (what the button does, its key): alone
    // while the text fits, under the full text when the text is cut. Empty removes it.
    void SetHint(const QString &hint);
    QString Hint() const;

    // The size the full text needs ("XXXX" when the text is empty), so layouts offer
    // room for the whole text while the button itself shows what fits.
    QSize sizeHint() const override;

signals:
    void SigMouseEnter();
    void SigMouseLeave();

protected:
    bool event(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;

    // The width available to the text inside the style's padding and borders.
    int TextWidth() const;

private:
    void Init();

    QString m_fullText;
    QString m_hint;
    bool m_alwaysTooltip;
};

// A base button with a drop shadow companion (a VelaButtonShadow beside it in its
// parent). noShadow builds the button without one.
class VelaShadowButton : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaShadowButton(QWidget *parent = nullptr, bool noShadow = false);

    // The shadow companion; null when built without one or once it is gone.
    VelaShadow *Shadow() const;

private:
    QPointer<VelaShadow> m_shadow;
};

// The standard grey button.
class VelaButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaButton(QWidget *parent = nullptr, bool noShadow = false);
    VelaButton(const QString &text, QWidget *parent = nullptr, bool noShadow = false);
};

// Colour buttons: the style sheet colours them by class; each is at least the skin's
// colourful-button width (vela_button / colorful_btn_min_width) wide.
class VelaWhiteButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaWhiteButton(QWidget *parent = nullptr);
};

// The primary (blue) button; the bottom bar's OK, Save, Apply... and message boxes use it.
class VelaBlueButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaBlueButton(QWidget *parent = nullptr);
};

class VelaRedButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaRedButton(QWidget *parent = nullptr);
};

class VelaYellowButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaYellowButton(QWidget *parent = nullptr);
};

// A checkable shadowed button.
class VelaToggleButton : public VelaShadowButton
{
    Q_OBJECT

public:
    explicit VelaToggleButton(QWidget *parent = nullptr);
};

// A link-like button without a frame.
class VelaFlatButton : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaFlatButton(QWidget *parent = nullptr);
};

// A frameless button that shows an icon; the owner sets icon, icon size and, when it
// needs one, its own fixed size.
class VelaIconButton : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaIconButton(QWidget *parent = nullptr);
};

// An entry of an option list (a menu-like panel of buttons).
class VelaOption : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaOption(QWidget *parent = nullptr);
};

// A checkable list entry; the style sheet marks the checked one.
class VelaTickButton : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaTickButton(QWidget *parent = nullptr);
    VelaTickButton(const QString &text, QWidget *parent = nullptr);
};

// A thin horizontal rule between option entries: expands horizontally, fixed height,
// disabled (so it takes no clicks and shows the arrow cursor).
class VelaMenuSeparator : public VelaBaseButton
{
    Q_OBJECT

public:
    explicit VelaMenuSeparator(QWidget *parent = nullptr);
};

// The face of a drop-down: a framed, checkable button that shows its text at the left
// and an arrow at the right (pointing up while checked, that is, while the drop-down
// is open). Its full text is always in the tool tip. Legal false draws the frame in
// the warning colour, like an illegal line edit.
class VelaTriggerButton : public VelaBaseButton
{
    Q_OBJECT
    Q_PROPERTY(bool Legal READ IsLegal WRITE SetLegal)

public:
    explicit VelaTriggerButton(QWidget *parent = nullptr);

    bool IsLegal() const;
    // Stores the flag and re-polishes, so that style rules on [Legal] apply.
    void SetLegal(bool legal);

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    bool m_legal = true;
};
