// Runs the skin and style test classes in one application, loaded the way start-up
// loads the look and feel: text table, scale, skin files.
#include "SkinStoreTest.h"
#include "StyleTest.h"
#include "TextTableTest.h"

#include "SkinPaths.h"
#include "TextTable.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QApplication>
#include <QTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TextTable::Fill();
    VelaScale scale(1.0);
    VelaSkin::Instance()->LoadSkin(SkinPaths::Geometry, SkinPaths::Color, SkinPaths::Image);

    int failures = 0;
    TextTableTest textTable;
    failures += QTest::qExec(&textTable, argc, argv);
    SkinStoreTest skinStore;
    failures += QTest::qExec(&skinStore, argc, argv);
    StyleTest style;
    failures += QTest::qExec(&style, argc, argv);
    return failures == 0 ? 0 : 1;
}
