#include "VelaLabels.h"

#include "SkinKeys.h"
#include "VelaLabelStyle.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QFontMetricsF>
#include <QPixmap>
#include <QTextDocument>
#include <QtMath>

#include <limits>

namespace {

constexpr int NoElideWidth = std::numeric_limits<int>::min();

} // namespace

VelaElideLabel::VelaElideLabel(QWidget *parent)
    : QLabel(parent)
    , m_elideWidth(NoElideWidth)
{
    setMinimumSize(0, VelaSkin::Instance()->GetInt(Skin::VELA_ELIDE_LABEL::MIN_HEIGHT));
    auto *labelStyle = new VelaLabelStyle;
    labelStyle->setParent(this);
    setStyle(labelStyle);
}

VelaElideLabel::VelaElideLabel(const QString &text, QWidget *parent)
    : VelaElideLabel(parent)
{
    setText(text);
}

QString VelaElideLabel::FullText() const
{
    return m_fullText;
}

void VelaElideLabel::setText(QString strText)
{
    // The full text is kept here rather than read back from the tool tip: a tool tip
    // the owner set, or one left over from an earlier plain text, must never come back
    // as the label's text on the next resize.
    const bool changed = strText != m_fullText;
    m_fullText = strText;
    m_empty = strText.isEmpty();

    QString displayed = strText;
    if (Elides()) {
        const QFontMetrics metrics(font());
        QString toolTip;
        if (m_empty) {
            displayed = metrics.elidedText(m_placeholder, Qt::ElideRight, ElideWidth());
        } else {
            displayed = metrics.elidedText(strText, Qt::ElideRight, ElideWidth());
            if (m_alwaysTooltip || displayed != strText)
                toolTip = VelaWidgetUtil::ElidedTextToolTip(strText);
        }
        setToolTip(toolTip);
        m_ownToolTip = true;
    } else if (m_ownToolTip) {
        setToolTip(QString());
        m_ownToolTip = false;
    }

    QLabel::setText(displayed);
    if (changed)
        updateGeometry();
}

bool VelaElideLabel::Elides() const
{
    return !Qt::mightBeRichText(m_fullText) && !wordWrap();
}

int VelaElideLabel::ElideWidth() const
{
    return m_elideWidth != NoElideWidth ? m_elideWidth : contentsRect().width();
}

void VelaElideLabel::SetAlwaysTooltip(bool alwaysTooltip)
{
    m_alwaysTooltip = alwaysTooltip;
    setText(m_fullText);
}

void VelaElideLabel::SetPlaceholderText(const QString &placeholder)
{
    m_placeholder = placeholder;
    setText(m_fullText);
}

void VelaElideLabel::SetHighlight(bool highlight)
{
    if (highlight == m_highlight)
        return;
    m_highlight = highlight;
    VelaWidgetUtil::Repolish(this);
}

bool VelaElideLabel::IsHighlight() const
{
    return m_highlight;
}

void VelaElideLabel::SetUserData(const QVariant &data)
{
    m_userData = data;
}

QVariant VelaElideLabel::UserData() const
{
    return m_userData;
}

void VelaElideLabel::SetElideWidth(int width)
{
    m_elideWidth = width < 0 ? NoElideWidth : width;
    setText(m_fullText);
}

QSize VelaElideLabel::sizeHint() const
{
    const QSize base = QLabel::sizeHint();
    if (!Elides())
        return base;
    const QString measured = m_empty ? m_placeholder : m_fullText;
    const int frame = width() - contentsRect().width();
    // Rounded up: the eliding compares the fractional width, so a width rounded down
    // would cut the last letter of a text that was meant to fit.
    const int textWidth = qCeil(QFontMetricsF(font()).horizontalAdvance(measured)) + 2 * margin() + frame;
    return QSize(qMax(base.width(), textWidth), base.height());
}

QSize VelaElideLabel::minimumSizeHint() const
{
    if (!Elides())
        return QLabel::minimumSizeHint();
    return QSize(0, QLabel::minimumSizeHint().height());
}

void VelaElideLabel::resizeEvent(QResizeEvent *e)
{
    QLabel::resizeEvent(e);
    if (pixmap(Qt::ReturnByValue).isNull())
        setText(m_fullText);
}

VelaNoteLabel::VelaNoteLabel(QWidget *parent)
    : VelaElideLabel(parent)
{
    setMinimumHeight(VelaSkin::Instance()->GetInt(Skin::VELA_NOTE_LABEL::MIN_HEIGHT));
}

VelaNoteLabel::VelaNoteLabel(const QString &text, QWidget *parent)
    : VelaNoteLabel(parent)
{
    setText(text);
}
