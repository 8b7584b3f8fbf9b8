#include "WidgetTestApp.h"

#include "CursorMgr.h"
#include "TextTable.h"
#include "VelaLanguage.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QApplication>

namespace WidgetTestApp {

void LoadLookAndFeel(QApplication &app)
{
    TextTable::Fill();
    // The display's own ratio: 1 offscreen, 2 with QT_SCALE_FACTOR=2 (a 2x gallery).
    static VelaScale scale;
    VelaSkin::Instance()->LoadSkin(QStringLiteral(":/skin/wlx/wlx_geometry.json"),
                                   QStringLiteral(":/skin/wlx/wlx_color.json"),
                                   QStringLiteral(":/skin/wlx/wlx_image.json"));
    auto *language = new VelaLanguage(QStringLiteral("enu"), &app);
    QCoreApplication::installTranslator(language);
    app.setFont(language->Font());
    app.setStyleSheet(VelaScale::ReadStyleSheet(QStringLiteral(":/css/VelaStyleSheet.css")));
    CursorMgr::Create();
}

} // namespace WidgetTestApp
