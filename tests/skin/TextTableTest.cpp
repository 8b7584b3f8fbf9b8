// Text table numbering, TextById, language choice, translations and language fonts.
#include "TextTableTest.h"

#include "TextIds.h"
#include "TextTable.h"
#include "VelaLanguage.h"

#include <QApplication>
#include <QGlyphRun>
#include <QHash>
#include <QLocale>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>

#include <cstring>
#include <memory>

namespace {

// The keys the converter window, its message box and the widget library show, listed
// here independently of the text list so that a text dropped from the list is caught.
const char *const ShownKeys[] = {
    // window and message box
    "wl_client_change_folder", "wl_client_msg_about", "wl_client_video_transcoder_file_location",
    "wl_client_video_transcoder_name", "wl_client_video_transcoder_transcode_failed",
    "wl_client_video_transcoder_transcode_success", "wl_client_video_transcoder_transcoding",
    "wl_common_choose", "wl_common_common_ok", "wl_common_invalid_format", "wl_common_source",
    // bottom-bar status codes and the loading text
    "wl_common_setting_nochange", "wl_common_press_save_to_apply", "wl_common_forminvalid",
    "wl_common_error_system", "wl_common_common_loading", "wl_common_common_saving",
    "wl_common_searching2", "wl_common_common_creating", "camera_conn_status_configuring",
    "wl_common_uploading", "wl_common_setting_applied",
    // bottom-bar buttons
    "wl_common_common_cancel", "camera_next_step", "camera_previous_step", "wl_common_common_finish",
    "wl_common_common_save", "wl_common_close", "wl_common_common_open", "camera_camera_search_btn",
    "wl_common_common_reset", "event_archive_yes", "event_archive_no", "kioskview_kv_upgrade",
    "wl_common_submit", "wl_common_common_apply", "event_event_export", "wl_common_common_edit",
    "transactions_text_filter_replace",
};

QList<unsigned int> ShownIds()
{
    QList<unsigned int> ids;
    for (const char *key : ShownKeys)
        ids.append(static_cast<unsigned int>(TextTable::IdOfKey(key)));
    for (unsigned int id = 4690; id <= 4710; ++id)   // language names
        ids.append(id);
    return ids;
}

// Answers every lookup of one key with a fixed text, for the placeholder cases.
class FixedTranslator : public QTranslator
{
public:
    FixedTranslator(const char *key, const QString &text) : m_key(key), m_text(text) {}
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *sourceText, const char *, int) const override
    {
        return std::strcmp(sourceText, m_key) == 0 ? m_text : QString();
    }

private:
    const char *m_key;
    QString m_text;
};

// Installs a translator for the life of a test step.
class InstalledTranslator
{
public:
    explicit InstalledTranslator(QTranslator *translator) : m_translator(translator)
    {
        QCoreApplication::installTranslator(m_translator.get());
    }
    ~InstalledTranslator() { QCoreApplication::removeTranslator(m_translator.get()); }

private:
    std::unique_ptr<QTranslator> m_translator;
};

} // namespace

void TextTableTest::pinnedIdsKeepTheirKeys_data()
{
    QTest::addColumn<unsigned int>("id");
    QTest::addColumn<QString>("key");
    const QList<QPair<unsigned int, const char *>> pinned = {
        {0, "action_rule_access_controller"},
        {4304, "wl_client_change_folder"},
        {4370, "wl_client_msg_about"},
        {4425, "wl_client_video_transcoder_file_location"},
        {4426, "wl_client_video_transcoder_name"},
        {4427, "wl_client_video_transcoder_transcode_failed"},
        {4428, "wl_client_video_transcoder_transcode_success"},
        {4429, "wl_client_video_transcoder_transcoding"},
        {4475, "wl_common_choose"},
        {4558, "wl_common_common_ok"},
        {4675, "wl_common_invalid_format"},
        {4690, "wl_common_language_chs"},
        {4694, "wl_common_language_enu"},
        {4700, "wl_common_language_krn"},
        {4710, "wl_common_language_trk"},
        {4822, "wl_common_source"},
        {7184, "youtube_live_youtube_settings_desc"},
    };
    for (const auto &entry : pinned)
        QTest::newRow(entry.second) << entry.first << QString(entry.second);
}

void TextTableTest::pinnedIdsKeepTheirKeys()
{
    QFETCH(unsigned int, id);
    QFETCH(QString, key);
    QCOMPARE(QString(TextTable::Key(id)), key);
    QCOMPARE(TextTable::IdOfKey(key.toUtf8()), static_cast<int>(id));
}

void TextTableTest::tableHoldsEveryIdInByteOrder()
{
    QCOMPARE(TextTable::Size, 7185u);
    QVERIFY(TextTable::Key(TextTable::Size - 1) != nullptr);
    QVERIFY(TextTable::Key(TextTable::Size) == nullptr);
    for (unsigned int id = 0; id + 1 < TextTable::Size; ++id) {
        const char *key = TextTable::Key(id);
        QVERIFY2(std::strcmp(key, TextTable::Key(id + 1)) < 0, key);
        for (const char *c = key; *c; ++c)
            QVERIFY2((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '_', key);
    }
}

void TextTableTest::underscoreSortsBeforeLetters()
{
    // Byte order, not a locale's collation: "_" (0x5F) precedes every lower-case letter.
    QVERIFY(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS < TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING);
    QVERIFY(TextId::WL_COMMON_CLOSE < TextId::WL_COMMON_COMMON_APPLY);
    QVERIFY(TextTable::IdOfKey("wl_common_searching2") < TextTable::IdOfKey("wl_common_setting_applied"));
}

void TextTableTest::widgetKeysAreInTheTable_data()
{
    QTest::addColumn<QByteArray>("key");
    for (const char *key : ShownKeys)
        QTest::newRow(key) << QByteArray(key);
}

void TextTableTest::widgetKeysAreInTheTable()
{
    QFETCH(QByteArray, key);
    const int id = TextTable::IdOfKey(key);
    QVERIFY(id >= 0);
    QCOMPARE(QByteArray(TextTable::Key(static_cast<unsigned int>(id))), key);
}

void TextTableTest::idsPastTheTableGiveEmptyText()
{
    QVERIFY(TextById(7185).isEmpty());
    QVERIFY(TextById(0xFFFFFFFFu).isEmpty());
    InstalledTranslator english(new VelaLanguage("enu"));
    QCOMPARE(TextById(0), QString("Access controller"));
    QCOMPARE(TextById(4426), QString("Quenmark Video Converter"));
    QCOMPARE(TextById(7185), QString());
}

void TextTableTest::placeholdersAreReplacedInOrder_data()
{
    QTest::addColumn<QString>("translation");
    QTest::addColumn<QString>("shown");
    QTest::newRow("angle brackets") << "A@LTS@b@GTS@" << "A<b>";
    QTest::newRow("line feed") << "first\\nsecond" << "first\nsecond";
    QTest::newRow("tab") << "name\\tvalue" << "name\tvalue";
    QTest::newRow("ampersand") << "Save @AND@ apply" << "Save & apply";
    QTest::newRow("system name") << "_OSNAME_ client" << "ZMX client";
    // "<" is replaced before "&": the "@LTS@" inside is found first.
    QTest::newRow("brackets before ampersand") << "@AND@LTS@" << "@AND<";
    QTest::newRow("plain text unchanged") << "100% done" << "100% done";
}

void TextTableTest::placeholdersAreReplacedInOrder()
{
    QFETCH(QString, translation);
    QFETCH(QString, shown);
    InstalledTranslator fixed(new FixedTranslator("wl_common_source", translation));
    QCOMPARE(TextById(TextId::WL_COMMON_SOURCE), shown);
}

void TextTableTest::missingTranslationShowsTheKey()
{
    QCOMPARE(TextById(TextId::WL_COMMON_SOURCE), QString("wl_common_source"));
    InstalledTranslator english(new VelaLanguage("enu"));
    // Id 1 is a key that no language translates.
    QCOMPARE(TextById(1), QString(TextTable::Key(1)));
    QCOMPARE(TextById(TextId::WL_COMMON_SOURCE), QString("Source"));
}

void TextTableTest::localeNamesMapToLanguageCodes_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("code");
    QTest::newRow("simplified chinese") << "zh_CN" << "chs";
    QTest::newRow("taiwan") << "zh_TW" << "cht";
    QTest::newRow("hong kong") << "zh_HK" << "cht";
    QTest::newRow("brazil has its own translation") << "pt_BR" << "ptb";
    QTest::newRow("portugal") << "pt_PT" << "ptg";
    QTest::newRow("other portuguese") << "pt_AO" << "ptg";
    QTest::newRow("english") << "en_US" << "enu";
    QTest::newRow("norwegian bokmal") << "nb_NO" << "nor";
    QTest::newRow("bare language") << "de" << "deu";
    QTest::newRow("upper case") << "KO_KR" << "krn";
    QTest::newRow("unknown locale") << "xx_YY" << "enu";
    QTest::newRow("c locale") << "C" << "enu";
    QTest::newRow("empty") << "" << "enu";
}

void TextTableTest::localeNamesMapToLanguageCodes()
{
    QFETCH(QString, locale);
    QFETCH(QString, code);
    QCOMPARE(VelaLanguage::CodeForLocale(locale), code);
}

void TextTableTest::aliasesAndUnknownCodesResolve_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("code");
    const QString system = VelaLanguage::CodeForLocale(QLocale::system().name());
    QTest::newRow("ger") << "ger" << "deu";
    QTest::newRow("fre") << "fre" << "fra";
    QTest::newRow("spn") << "spn" << "esn";
    QTest::newRow("supported") << "tha" << "tha";
    QTest::newRow("def follows the system") << "def" << system;
    QTest::newRow("unsupported follows the system") << "xyz" << system;
    QTest::newRow("empty follows the system") << "" << system;
}

void TextTableTest::aliasesAndUnknownCodesResolve()
{
    QFETCH(QString, requested);
    QFETCH(QString, code);
    VelaLanguage language(requested);
    QCOMPARE(language.Code(), code);
    QVERIFY(!language.isEmpty());
}

void TextTableTest::languageNameIds_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("id");
    // Each code names its language; the old codes name the same one as their aliases.
    QTest::newRow("enu") << "enu" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_ENU);
    QTest::newRow("krn") << "krn" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_KRN);
    QTest::newRow("deu") << "deu" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_GER);
    QTest::newRow("ger") << "ger" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_GER);
    QTest::newRow("fre") << "fre" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_FRE);
    QTest::newRow("esn") << "esn" << static_cast<int>(TextId::WL_COMMON_LANGUAGE_SPN);
    QTest::newRow("unknown") << "xyz" << -1;
    QTest::newRow("def") << "def" << -1;
}

void TextTableTest::languageNameIds()
{
    QFETCH(QString, code);
    QFETCH(int, id);
    QCOMPARE(VelaLanguage::LanguageNameId(code), id);
}

void TextTableTest::koreanUsesWenQuanYiOthersVerdana_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("family");
    for (const QString &code : VelaLanguage::SupportedCodes())
        QTest::newRow(qPrintable(code)) << code << (code == "krn" ? "WenQuanYi Zen Hei" : "Verdana");
}

void TextTableTest::koreanUsesWenQuanYiOthersVerdana()
{
    QFETCH(QString, code);
    QFETCH(QString, family);
    const QFont font = VelaLanguage::FontFor(code);
    QCOMPARE(font.family(), family);
    QVERIFY(!QFont::substitutes(family).isEmpty());
    if (code != "krn")
        QVERIFY(QFont::substitutes(family).contains("WenQuanYi Zen Hei", Qt::CaseInsensitive));
}

void TextTableTest::everyShownTextIsTranslatedInEveryLanguage()
{
    const QList<unsigned int> ids = ShownIds();
    for (const QString &code : VelaLanguage::SupportedCodes()) {
        InstalledTranslator language(new VelaLanguage(code));
        for (unsigned int id : ids) {
            const QString text = TextById(id);
            const QString where = code + " " + TextTable::Key(id);
            QVERIFY2(!text.isEmpty() && text != QLatin1String(TextTable::Key(id)), qPrintable(where));
        }
        QVERIFY2(TextById(TextId::WL_CLIENT_MSG_ABOUT).contains("%1"), qPrintable(code));
        QVERIFY2(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME).contains("Quenmark"), qPrintable(code));
    }
}

void TextTableTest::everyLanguageRendersWithoutMissingGlyphs()
{
    const QList<unsigned int> ids = ShownIds();
    for (const QString &code : VelaLanguage::SupportedCodes()) {
        InstalledTranslator language(new VelaLanguage(code));
        const QFont font = VelaLanguage::FontFor(code);
        for (unsigned int id : ids) {
            QTextLayout layout(TextById(id), font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun &run : layout.glyphRuns()) {
                const QString where = code + " " + TextTable::Key(id) + " in " + run.rawFont().familyName();
                QVERIFY2(!run.glyphIndexes().contains(0), qPrintable(where));
            }
        }
    }
}
