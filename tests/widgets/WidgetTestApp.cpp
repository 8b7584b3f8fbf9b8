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
    static VelaScale scale(1.0);
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
