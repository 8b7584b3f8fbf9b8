// Small helpers the widget families share: images at the display's scale, the
// re-polish that makes dynamic-property rules of the style sheet apply, the rich-text
// tool tip of elided texts, and QMovie playback on a label at the display's scale.
#pragma once

#include <QString>

class QLabel;
class QMovie;
class QPixmap;
class QWidget;

namespace VelaWidgetUtil {

// The image scale of the display (1 while no VelaScale exists).
int ImageScale();

// A pixmap of an image resource marked with the image scale, so that a 2x image is
// drawn at its 1x size in device-independent pixels.
QPixmap ScaledPixmap(const QString &path);

// Re-applies the style sheet to a widget after one of its dynamic properties changed.
void Repolish(QWidget *widget);

// "<a>text</a>", the tool tip of an elided text; rich text so that long tool tips wrap,
// with the text's own markup characters escaped so it shows literally.
QString ElidedTextToolTip(const QString &text);

// Shows the frames of movie on label, each marked with the image scale.
void ShowMovieOnLabel(QMovie *movie, QLabel *label);

} // namespace VelaWidgetUtil
