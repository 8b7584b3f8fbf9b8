// The shipped skin files, as start-up loads them.
#pragma once

#include <QString>

namespace SkinPaths {
const QString Geometry = QStringLiteral(":/skin/wlx/wlx_geometry.json");
const QString Color = QStringLiteral(":/skin/wlx/wlx_color.json");
const QString Image = QStringLiteral(":/skin/wlx/wlx_image.json");
}
