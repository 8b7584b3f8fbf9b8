// Skin store lookups and merging, display scale, style sheet reading and the shipped
// resources.
#include "SkinStoreTest.h"

#include "SkinKeys.h"
#include "SkinPaths.h"
#include "VelaLanguage.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QFile>
#include <QImage>
#include <QMovie>
#include <QRegularExpression>
#include <QTest>

Q_DECLARE_METATYPE(SkinKey)
Q_DECLARE_METATYPE(QMargins)

namespace {

const QString Missing = QStringLiteral(":/no/such/skin.json");

} // namespace

void SkinStoreTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void SkinStoreTest::cleanup()
{
    // Tests overlay values on the shipped skin; put the shipped values back.
    VelaSkin::Instance()->LoadSkin(SkinPaths::Geometry, SkinPaths::Color, SkinPaths::Image);
}

QString SkinStoreTest::WriteSkin(const QString &name, const QByteArray &json)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        return QString();
    return path;
}

void SkinStoreTest::shippedValuesAreRead_data()
{
    QTest::addColumn<SkinKey>("key");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("font size") << Skin::GENERAL::FONT_SIZE_NORMAL << QVariant(12);
    QTest::newRow("button height") << Skin::VELA_BUTTON::BTN_MIN_HEIGHT << QVariant(28);
    QTest::newRow("colour button width") << Skin::VELA_BUTTON::COLORFUL_BTN_MIN_WIDTH << QVariant(80);
    QTest::newRow("line edit height") << Skin::VELA_LINE_EDIT::VELALINEEDIT_HEIGHT << QVariant(28);
    QTest::newRow("bottom bar spacing") << Skin::VELA_BOTTOM_BAR::BUTTON_STATUS_SPACING << QVariant(4);
    QTest::newRow("number as text") << Skin::VELA_TOOL_TIP::TOOL_TIP_OPACITY << QVariant(191);
    QTest::newRow("text colour") << Skin::GENERAL::PRIMARY_TEXT_COLOR << QVariant(QColor("#36434D"));
    QTest::newRow("border colour") << Skin::GENERAL::COLOR_BORDER << QVariant(QColor("#B2B2B2"));
    QTest::newRow("hint panel") << Skin::VELA_HINT_PANEL::GL14_BG_COLOR << QVariant(QColor("#FAFAFA"));
    QTest::newRow("colour with alpha") << Skin::VELA_LOADING_MASK::MASK_COLOR << QVariant(QColor(0, 0, 0, 128));
    QTest::newRow("gif size") << Skin::VELA_LOADING_MASK::LOADING_GIF_SIZE << QVariant(QSize(24, 24));
    QTest::newRow("mask size") << Skin::VELA_LOADING_MASK::MASK_MIN_SIZE << QVariant(QSize(150, 80));
    QTest::newRow("shadow offset") << Skin::VELA_SHADOW::WINDOW_SHADOW_OFFSET << QVariant(QPoint(0, 4));
    QTest::newRow("style fragment") << Skin::VELA_DIALOG::MASK_STYLE << QVariant(QString("rgba(0, 0, 0, 0.7)"));
    QTest::newRow("image") << Skin::ICON::ICON_INFO
                           << QVariant(QString(":/ux/images/1x/indicator/icon_indicator_status_info.png"));
}

void SkinStoreTest::shippedValuesAreRead()
{
    QFETCH(SkinKey, key);
    QFETCH(QVariant, expected);
    const VelaSkin *skin = VelaSkin::Instance();
    switch (static_cast<int>(expected.type())) {
    case QMetaType::Int:
        QCOMPARE(skin->GetInt(key), expected.toInt());
        break;
    case QMetaType::QColor:
        QCOMPARE(skin->GetColor(key).rgba(), expected.value<QColor>().rgba());
        break;
    case QMetaType::QSize:
        QCOMPARE(skin->GetSize(key), expected.toSize());
        break;
    case QMetaType::QPoint:
        QCOMPARE(skin->GetPoint(key), expected.toPoint());
        break;
    case QMetaType::QString:
        if (expected.toString().startsWith(":/"))
            QCOMPARE(skin->GetImage(key), expected.toString());
        else
            QCOMPARE(skin->GetString(key), expected.toString());
        break;
    default:
        QFAIL("unexpected value type in the table");
    }
}

void SkinStoreTest::keyTableIsNumberedInByteOrder()
{
    const VelaSkin *skin = VelaSkin::Instance();
    QCOMPARE(skin->SectionCount(), static_cast<int>(SkinSection::Count));
    for (int section = 0; section < skin->SectionCount(); ++section) {
        if (section > 0)
            QVERIFY(skin->SectionName(section - 1).toLatin1() < skin->SectionName(section).toLatin1());
        for (int key = 1; key < skin->KeyCount(section); ++key)
            QVERIFY(skin->KeyName({section, key - 1}).toLatin1() < skin->KeyName({section, key}).toLatin1());
    }
    QCOMPARE(skin->SectionName(Skin::GENERAL::FONT_SIZE_NORMAL.section), QString("general"));
    QCOMPARE(skin->KeyName(Skin::GENERAL::FONT_SIZE_NORMAL), QString("font_size_normal"));
    // "_" sorts before letters, so the shadow width follows the shadow image directly.
    QCOMPARE(Skin::VELA_SHADOW::BUTTON_SHADOW_WIDTH.key, Skin::VELA_SHADOW::BUTTON_SHADOW.key + 1);
    QCOMPARE(Skin::VELA_BOTTOM_BAR::BUTTON_LEFT_RIGHT_MARGIN.key, 2);
    QCOMPARE(Skin::VELA_STATUS_WIDGET::WARN_ICON.key, 4);
}

void SkinStoreTest::numberListsNeedTheirPartCount_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QMargins>("margins");
    QTest::addColumn<QRect>("rect");
    const QSize noSize(-1, -1);
    QTest::newRow("two numbers") << QByteArray("24, 24") << QSize(24, 24) << QPoint(24, 24) << QMargins() << QRect();
    QTest::newRow("no blank") << QByteArray("26,26") << QSize(26, 26) << QPoint(26, 26) << QMargins() << QRect();
    QTest::newRow("three parts") << QByteArray("1, 2, 3") << noSize << QPoint() << QMargins() << QRect();
    QTest::newRow("four numbers") << QByteArray("10, 20, 30, 40") << noSize << QPoint()
                                  << QMargins(10, 20, 30, 40) << QRect(QPoint(10, 20), QPoint(39, 59));
    QTest::newRow("not a number is 0") << QByteArray("x, 5") << QSize(0, 5) << QPoint(0, 5) << QMargins() << QRect();
    QTest::newRow("empty part kept") << QByteArray("5,") << QSize(5, 0) << QPoint(5, 0) << QMargins() << QRect();
    QTest::newRow("empty text") << QByteArray("") << noSize << QPoint() << QMargins() << QRect();
}

void SkinStoreTest::numberListsNeedTheirPartCount()
{
    QFETCH(QByteArray, text);
    QFETCH(QSize, size);
    QFETCH(QPoint, point);
    QFETCH(QMargins, margins);
    QFETCH(QRect, rect);
    const QString path = WriteSkin("lists.json", "{ \"vela_dialog\": { \"content_margin\": \"" + text + "\" } }");
    VelaSkin *skin = VelaSkin::Instance();
    skin->LoadSkin(path, Missing, Missing);
    const SkinKey key = Skin::VELA_DIALOG::CONTENT_MARGIN;
    QCOMPARE(skin->GetSize(key), size);
    QCOMPARE(skin->GetPoint(key), point);
    QCOMPARE(skin->GetMargins(key), margins);
    QCOMPARE(skin->GetRect(key), rect);
}

void SkinStoreTest::laterSkinFileWins()
{
    const QString first = WriteSkin("first.json", "{ \"general\": { \"primary_text_color\": \"#111111\" } }");
    const QString second = WriteSkin("second.json", "{ \"general\": { \"primary_text_color\": \"#222222\","
                                                    " \"font_size_normal\": 15 } }");
    const QString third = WriteSkin("third.json", "{ \"general\": { \"primary_text_color\": \"#333333\" } }");
    VelaSkin *skin = VelaSkin::Instance();

    skin->LoadSkin(first, second, third);
    QCOMPARE(skin->GetColor(Skin::GENERAL::PRIMARY_TEXT_COLOR), QColor("#333333"));
    QCOMPARE(skin->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL), 15);
    skin->LoadSkin(first, second, Missing);
    QCOMPARE(skin->GetColor(Skin::GENERAL::PRIMARY_TEXT_COLOR), QColor("#222222"));
    skin->LoadSkin(second, first, Missing);
    QCOMPARE(skin->GetColor(Skin::GENERAL::PRIMARY_TEXT_COLOR), QColor("#111111"));
}

void SkinStoreTest::unreadableFilesAndUnknownKeysChangeNothing()
{
    VelaSkin *skin = VelaSkin::Instance();
    const QString odd = WriteSkin("odd.json", "{ \"no_such_section\": { \"a\": 1 },"
                                              " \"general\": { \"no_such_key\": 2 }, \"icon\": 7 }");
    skin->LoadSkin(Missing, odd, Missing);
    QCOMPARE(skin->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL), 12);
    QCOMPARE(skin->GetImage(Skin::ICON::ICON_INFO), QString(":/ux/images/1x/indicator/icon_indicator_status_info.png"));

    // A damaged file contributes what was read before the damage.
    const QString broken = WriteSkin("broken.json", "{ \"general\": { \"font_size_normal\": 14, \"primary_text_color\": ");
    skin->LoadSkin(broken, Missing, Missing);
    QCOMPARE(skin->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL), 14);
    QCOMPARE(skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_HEIGHT), 28);
}

void SkinStoreTest::lookupsWithoutValueFallBack()
{
    const VelaSkin *skin = VelaSkin::Instance();
    for (const SkinKey key : {SkinKey{SkinSection::Count, 0}, SkinKey{-1, 0}, SkinKey{SkinSection::GENERAL, 999}}) {
        QCOMPARE(skin->GetInt(key), 0);
        QVERIFY(!skin->GetColor(key).isValid());
        QVERIFY(skin->GetString(key).isEmpty());
        QVERIFY(skin->GetImage(key).isEmpty());
        QCOMPARE(skin->GetSize(key), QSize(-1, -1));
        QCOMPARE(skin->GetPoint(key), QPoint(0, 0));
        QCOMPARE(skin->GetMargins(key), QMargins(0, 0, 0, 0));
        QVERIFY(skin->GetRect(key).isNull());
        QVERIFY(!skin->GetVariant(key).isValid());
    }
    // A value of the wrong form gives the fallback of the lookup, too.
    QVERIFY(!skin->GetColor(Skin::VELA_DIALOG::MASK_STYLE).isValid());
    QCOMPARE(skin->GetSize(Skin::GENERAL::PRIMARY_TEXT_COLOR), QSize(-1, -1));
}

void SkinStoreTest::imagePathsFollowTheImageScale_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("resolved");
    const QString info = ":/ux/images/%x/indicator/icon_indicator_status_info.png";
    QTest::newRow("scale 1") << 1.0 << info << ":/ux/images/1x/indicator/icon_indicator_status_info.png";
    QTest::newRow("scale 2") << 2.0 << info << ":/ux/images/2x/indicator/icon_indicator_status_info.png";
    QTest::newRow("every occurrence") << 2.0 << "%x/a/%x/b" << "2x/a/2x/b";
    QTest::newRow("caller placeholders kept") << 2.0 << ":/skin/%x/layoutpanel/%1_normal.png"
                                              << ":/skin/2x/layoutpanel/%1_normal.png";
    QTest::newRow("no placeholder") << 2.0 << ":/css/VelaStyleSheet.css" << ":/css/VelaStyleSheet.css";
    QTest::newRow("only with a slash") << 2.0 << "size %x" << "size %x";
}

void SkinStoreTest::imagePathsFollowTheImageScale()
{
    QFETCH(double, ratio);
    QFETCH(QString, text);
    QFETCH(QString, resolved);
    VelaScale scale(ratio);
    QCOMPARE(VelaScale::ResolveScalePath(text), resolved);
    QCOMPARE(VelaScale::ResolveScalePath(text, 3), QString(text).replace("%x/", "3x/"));
    if (text.startsWith(":/ux"))
        QCOMPARE(VelaSkin::Instance()->GetImage(Skin::ICON::ICON_INFO), resolved);
}

void SkinStoreTest::pixelRatioChoosesImageScale_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("imageScale");
    QTest::newRow("1.0") << 1.0 << 1;
    QTest::newRow("1.25") << 1.25 << 2;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.0") << 2.0 << 2;
    QTest::newRow("3.0") << 3.0 << 2;
    QTest::newRow("0.75") << 0.75 << 1;
}

void SkinStoreTest::pixelRatioChoosesImageScale()
{
    QFETCH(double, ratio);
    QFETCH(int, imageScale);
    VelaScale *outer = VelaScale::Instance();
    {
        VelaScale scale(ratio);
        QCOMPARE(VelaScale::Instance(), &scale);
        QCOMPARE(scale.DevicePixelRatio(), ratio);
        QCOMPARE(scale.ImageScale(), imageScale);
        QCOMPARE(VelaScale::ResolveScalePath("%x/"), QString::number(imageScale) + "x/");
    }
    QCOMPARE(VelaScale::Instance(), outer);
}

void SkinStoreTest::styleSheetIsReadForTheScale()
{
    VelaScale scale(2.0);
    const QString sheet = VelaScale::ReadStyleSheet(":/css/VelaStyleSheet.css");
    QVERIFY(sheet.contains("url(:/ux/images/2x/lineedit/search_cancel_normal.png)"));
    QVERIFY(!sheet.contains("%x/"));
    // Every image the sheet names is shipped at this scale.
    QRegularExpression url("url\\((:/[^)]+)\\)");
    int images = 0;
    for (auto match = url.globalMatch(sheet); match.hasNext(); ++images) {
        const QString path = match.next().captured(1);
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
    }
    QVERIFY(images >= 3);
}

void SkinStoreTest::styleSheetStopsAtNulAndMissingFileIsEmpty()
{
    VelaScale scale(1.0);
    QByteArray bytes("a { image: url(%x/b.png); }");
    bytes.append('\0').append("ignored");
    const QString path = WriteSkin("sheet.css", bytes);
    QCOMPARE(VelaScale::ReadStyleSheet(path), QString("a { image: url(1x/b.png); }"));
    QVERIFY(VelaScale::ReadStyleSheet(":/css/none.css").isEmpty());
}

void SkinStoreTest::versionResourceIsShipped()
{
    QFile version(":/VERSION");
    QVERIFY(version.open(QIODevice::ReadOnly));
    QCOMPARE(version.readAll(), QByteArray("version=\"1.0.2-0011\"\n"));
    for (const QString &code : VelaLanguage::SupportedCodes())
        QVERIFY2(QFile::exists(":/" + code + ".qm"), qPrintable(code));
}

void SkinStoreTest::everySkinImageShipsAtBothScales()
{
    const VelaSkin *skin = VelaSkin::Instance();
    int images = 0;
    for (int section = 0; section < skin->SectionCount(); ++section) {
        for (int key = 0; key < skin->KeyCount(section); ++key) {
            const QString text = skin->GetString({section, key});
            if (!text.startsWith(":/") || !text.contains("%x/") || section == SkinSection::CURSOR)
                continue;
            ++images;
            const QString one = VelaScale::ResolveScalePath(text, 1);
            const QString two = VelaScale::ResolveScalePath(text, 2);
            if (text.endsWith(".gif")) {
                QMovie small(one), large(two);
                QVERIFY2(small.isValid() && small.frameCount() > 1, qPrintable(one));
                QVERIFY2(large.isValid() && large.frameCount() == small.frameCount(), qPrintable(two));
                QVERIFY(small.jumpToFrame(3) && large.jumpToFrame(3));
                QCOMPARE(large.currentImage().size(), small.currentImage().size() * 2);
                continue;
            }
            const QImage small(one), large(two);
            QVERIFY2(!small.isNull(), qPrintable(one));
            QVERIFY2(!large.isNull(), qPrintable(two));
            QCOMPARE(large.size(), small.size() * 2);
        }
    }
    QVERIFY(images >= 10);
}
