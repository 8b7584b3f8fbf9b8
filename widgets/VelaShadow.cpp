// Shadows: placement around the target, following it, and nine-patch painting.
#include "VelaShadow.h"

#include "SkinKeys.h"
#include "VelaListener.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int PieceCount = 9;

// Edges of the three columns (or rows) of a nine-patch: start, two cuts, end.
QVector<int> Cuts(int length, int before, int after)
{
    before = qBound(0, before, length);
    after = qBound(0, after, length - before);
    return {0, before, length - after, length};
}

QVector<QRect> Pieces(const QVector<int> &xs, const QVector<int> &ys)
{
    QVector<QRect> pieces;
    pieces.reserve(PieceCount);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            pieces.append(QRect(xs[column], ys[row], xs[column + 1] - xs[column], ys[row + 1] - ys[row]));
    }
    return pieces;
}

} // namespace

VelaShadow::VelaShadow(QWidget *target)
    : QWidget(target ? target->parentWidget() : nullptr)
    , m_target(target)
    , m_followsTargetParent(true)
{
    Listen();
}

VelaShadow::VelaShadow(QWidget *target, QWidget *parent)
    : QWidget(parent)
    , m_target(target)
    , m_followsTargetParent(false)
{
    Listen();
}

void VelaShadow::Listen()
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Hidden until the target is shown: a shadow must never appear on its own, for
    // example when the parent is shown before the target's first show.
    hide();
    if (!m_target)
        return;

    auto *listener = new VelaListener(m_target);
    connect(listener, &VelaListener::SigResizeListened, this, &VelaShadow::SlotWidgetResized);
    connect(listener, &VelaListener::SigShowListened, this, &VelaShadow::SlotWidgetShown);
    connect(listener, &VelaListener::SigMoveListened, this, &VelaShadow::SlotWidgetMoved);
    connect(listener, &VelaListener::SigHideListened, this, &VelaShadow::SlotWidgetHidden);
    connect(listener, &VelaListener::SigHideToParentListened, this, &VelaShadow::SlotWidgetHidden);
    connect(listener, &VelaListener::SigParentChangedListened, this, &VelaShadow::SlotWidgetParentChanged);
    connect(listener, &VelaListener::SigZOrderChangedListened, this, &VelaShadow::SlotWidgetZOrderChanged);
    connect(m_target, &QObject::destroyed, this, &QObject::deleteLater);
}

QWidget *VelaShadow::Target() const
{
    return m_target;
}

QMargins VelaShadow::Borders() const
{
    return m_borders;
}

void VelaShadow::SetNinePatch(const QString &imagePath, const QMargins &borders)
{
    m_image = QImage(imagePath).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_image.setDevicePixelRatio(VelaWidgetUtil::ImageScale());
    SetBorders(borders);
}

void VelaShadow::SetBorders(const QMargins &borders)
{
    m_borders = borders;
    UpdatePlacement();
    if (m_target && m_target->isVisible())
        ShowUnderTarget();
}

void VelaShadow::SlotWidgetResized(QWidget *pWidget)
{
    if (pWidget == m_target)
        UpdatePlacement();
}

void VelaShadow::SlotWidgetMoved(QWidget *pWidget)
{
    if (pWidget == m_target)
        UpdatePlacement();
}

void VelaShadow::SlotWidgetShown(QWidget *pWidget)
{
    if (pWidget == m_target)
        ShowUnderTarget();
}

void VelaShadow::SlotWidgetHidden(QWidget *pWidget)
{
    if (pWidget == m_target)
        hide();
}

void VelaShadow::SlotWidgetParentChanged(QWidget *pWidget)
{
    if (pWidget != m_target || !m_followsTargetParent)
        return;
    if (parentWidget() != m_target->parentWidget())
        setParent(m_target->parentWidget());    // leaves the shadow hidden
    UpdatePlacement();
    if (m_target->isVisible())
        ShowUnderTarget();
}

void VelaShadow::SlotWidgetZOrderChanged(QWidget *pWidget)
{
    if (pWidget == m_target && isVisible() && parentWidget() == m_target->parentWidget())
        stackUnder(m_target);
}

void VelaShadow::ShowUnderTarget()
{
    if (!m_target || !parentWidget())
        return;
    UpdatePlacement();
    if (parentWidget() == m_target->parentWidget())
        stackUnder(m_target);
    show();
}

QRect VelaShadow::TargetRectInParent() const
{
    if (!m_target || !parentWidget())
        return QRect();
    if (parentWidget() == m_target->parentWidget())
        return m_target->geometry();
    const QPoint topLeft = parentWidget()->mapFromGlobal(m_target->mapToGlobal(QPoint(0, 0)));
    return QRect(topLeft, m_target->size());
}

void VelaShadow::UpdatePlacement()
{
    const QRect target = TargetRectInParent();
    if (target.isNull())
        return;
    setGeometry(target.marginsAdded(m_borders));
    ComputePieces();
    update();
}

void VelaShadow::ComputePieces()
{
    m_sourcePieces.clear();
    m_destinationPieces.clear();
    if (m_image.isNull())
        return;
    const qreal ratio = m_image.devicePixelRatio();
    m_sourcePieces = Pieces(Cuts(m_image.width(), qRound(m_borders.left() * ratio), qRound(m_borders.right() * ratio)),
                            Cuts(m_image.height(), qRound(m_borders.top() * ratio), qRound(m_borders.bottom() * ratio)));
    m_destinationPieces = Pieces(Cuts(width(), m_borders.left(), m_borders.right()),
                                 Cuts(height(), m_borders.top(), m_borders.bottom()));
}

void VelaShadow::paintEvent(QPaintEvent *)
{
    if (m_sourcePieces.size() != PieceCount || !m_target)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < PieceCount; ++i) {
        if (!m_sourcePieces[i].isEmpty() && !m_destinationPieces[i].isEmpty())
            painter.drawImage(QRectF(m_destinationPieces[i]), m_image, QRectF(m_sourcePieces[i]));
    }
}

VelaButtonShadow::VelaButtonShadow(QWidget *target)
    : VelaShadow(target)
{
    const VelaSkin *skin = VelaSkin::Instance();
    const int width = skin->GetInt(Skin::VELA_SHADOW::BUTTON_SHADOW_WIDTH);
    SetNinePatch(skin->GetImage(Skin::VELA_SHADOW::BUTTON_SHADOW), QMargins(width, width, width, width));
}

VelaWidgetShadow::VelaWidgetShadow(QWidget *target, QWidget *parent)
    : VelaShadow(target, parent)
{
    const VelaSkin *skin = VelaSkin::Instance();
    const int width = skin->GetInt(Skin::VELA_SHADOW::DIALOG_SHADOW_WIDTH);
    SetNinePatch(skin->GetImage(Skin::VELA_SHADOW::DIALOG_SHADOW), QMargins(width, width, width, width));
}

VelaWindowShadow::VelaWindowShadow(QWidget *target)
    : VelaShadow(target)
{
    const VelaSkin *skin = VelaSkin::Instance();
    const int side = skin->GetInt(Skin::VELA_SHADOW::WINDOW_SHADOW_WIDTH);
    SetNinePatch(skin->GetImage(Skin::VELA_SHADOW::WINDOW_SHADOW),
                 QMargins(side, skin->GetInt(Skin::VELA_SHADOW::WINDOW_SHADOW_TOP_HEIGHT), side,
                          skin->GetInt(Skin::VELA_SHADOW::WINDOW_SHADOW_BOTTOM_HEIGHT)));
}

VelaCmbShadow::VelaCmbShadow(QWidget *target)
    : VelaShadow(target)
{
    const int width = VelaSkin::Instance()->GetInt(Skin::VELA_SHADOW::CMB_SHADOW_WIDTH);
    SetBorders(QMargins(width, width, width, width));
}

void VelaCmbShadow::paintEvent(QPaintEvent *)
{
    QPainterPath band;
    band.addRect(rect());
    band.addRect(rect().marginsRemoved(Borders()));    // odd-even fill leaves the inside out
    QPainter painter(this);
    painter.fillPath(band, VelaSkin::Instance()->GetColor(Skin::VELA_SHADOW::CMB_SHADOW_COLOR));
}

VelaDropShadowEffect::VelaDropShadowEffect(QObject *parent)
    : QGraphicsDropShadowEffect(parent)
{
    const VelaSkin *skin = VelaSkin::Instance();
    setBlurRadius(skin->GetInt(Skin::VELA_SHADOW::WINDOW_SHADOW_BLUR_RADIUS));
    setOffset(skin->GetPoint(Skin::VELA_SHADOW::WINDOW_SHADOW_OFFSET));
    setColor(skin->GetColor(Skin::VELA_SHADOW::WINDOW_UMBRA_COLOR));
}
