// Shadows drawn beneath widgets.
//
// A VelaShadow is a mouse-transparent sibling of its target, laid out around the
// target's geometry extended by the shadow's border widths and stacked directly under
// it. It follows the target through a VelaListener: it moves and resizes with it, shows
// and hides with it, follows it to a new parent and is deleted when the target is.
// The variants choose the picture, a nine-patch image from the skin whose border pieces
// are stretched along the target's edges:
//
//   VelaButtonShadow   under buttons (VelaShadowButton creates one)
//   VelaWidgetShadow   under panels, in an explicitly given parent
//   VelaWindowShadow   under window-like panels, deeper at the bottom
//   VelaCmbShadow      a thin band of one colour (drop-down lists)
//
// A target without a parent widget gets no visible shadow until it has one: the shadow
// draws inside the target's parent. VelaDropShadowEffect is the blurred alternative for
// top-level windows. GUI thread only.
#pragma once

#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QMargins>
#include <QPointer>
#include <QVector>
#include <QWidget>

class VelaShadow : public QWidget
{
    Q_OBJECT

public:
    // The shadow lives in the target's parent widget and follows it when it changes.
    explicit VelaShadow(QWidget *target);

    QWidget *Target() const;
    // How far the shadow reaches beyond each edge of the target.
    QMargins Borders() const;

public slots:
    void SlotWidgetResized(QWidget *pWidget);
    void SlotWidgetShown(QWidget *pWidget);
    void SlotWidgetMoved(QWidget *pWidget);
    void SlotWidgetHidden(QWidget *pWidget);
    void SlotWidgetParentChanged(QWidget *pWidget);
    void SlotWidgetZOrderChanged(QWidget *pWidget);

protected:
    // The shadow lives in the given parent, which it keeps when the target moves to
    // another one.
    VelaShadow(QWidget *target, QWidget *parent);

    // Variants call one of these from their constructor; both place the shadow and
    // show it if the target is visible.
    void SetNinePatch(const QString &imagePath, const QMargins &borders);
    void SetBorders(const QMargins &borders);

    void paintEvent(QPaintEvent *e) override;

private:
    void Listen();
    void UpdatePlacement();
    void ShowUnderTarget();
    QRect TargetRectInParent() const;
    void ComputePieces();

    QPointer<QWidget> m_target;
    bool m_followsTargetParent;
    QMargins m_borders;
    QImage m_image;
    QVector<QRect> m_sourcePieces;        // nine pieces of the image, in image pixels
    QVector<QRect> m_destinationPieces;   // where each is drawn, in shadow coordinates
};

// Under buttons: vela_shadow / button_shadow, button_shadow_width on every side.
class VelaButtonShadow : public VelaShadow
{
    Q_OBJECT

public:
    explicit VelaButtonShadow(QWidget *target);
};

// Under panels: vela_shadow / dialog_shadow, dialog_shadow_width on every side.
class VelaWidgetShadow : public VelaShadow
{
    Q_OBJECT

public:
    VelaWidgetShadow(QWidget *target, QWidget *parent);
};

// Under window-like panels: vela_shadow / window_shadow, window_shadow_width at the
// sides, window_shadow_top_height above and window_shadow_bottom_height below.
class VelaWindowShadow : public VelaShadow
{
    Q_OBJECT

public:
    explicit VelaWindowShadow(QWidget *target);
};

// A band of cmb_shadow_width in cmb_shadow_color around the target.
class VelaCmbShadow : public VelaShadow
{
    Q_OBJECT

public:
    explicit VelaCmbShadow(QWidget *target);

protected:
    void paintEvent(QPaintEvent *e) override;
};

// A blurred drop shadow: blur radius window_shadow_blur_radius, offset
// window_shadow_offset, colour window_umbra_color.
class VelaDropShadowEffect : public QGraphicsDropShadowEffect
{
    Q_OBJECT

public:
    explicit VelaDropShadowEffect(QObject *parent = nullptr);
};
