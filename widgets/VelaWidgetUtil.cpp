#include "VelaWidgetUtil.h"

#include "VelaScale.h"

#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QStyle>
#include <QWidget>

namespace VelaWidgetUtil {

int ImageScale()
{
    const VelaScale *scale = VelaScale::Instance();
    return scale ? scale->ImageScale() : 1;
}

QPixmap ScaledPixmap(const QString &path)
{
    QPixmap pixmap(path);
    if (!pixmap.isNull())
        pixmap.setDevicePixelRatio(ImageScale());
    return pixmap;
}

void Repolish(QWidget *widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

QString ElidedTextToolTip(const QString &text)
{
    return QStringLiteral("<a>%1</a>").arg(text.toHtmlEscaped());
}

void ShowMovieOnLabel(QMovie *movie, QLabel *label)
{
    // QLabel::setMovie would draw the 2x frames at twice their size; setting each frame
    // as a scale-marked pixmap keeps them sharp at their intended size.
    QObject::connect(movie, &QMovie::frameChanged, label, [movie, label]() {
        QPixmap frame = movie->currentPixmap();
        frame.setDevicePixelRatio(ImageScale());
        label->setPixmap(frame);
    });
    movie->jumpToFrame(0);
}

} // namespace VelaWidgetUtil
