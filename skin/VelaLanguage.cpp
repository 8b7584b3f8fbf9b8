// Language choice, translation loading and the language font.
#include "VelaLanguage.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QLocale>

const QString VelaLanguage::SystemCode = QStringLiteral("def");
const QString VelaLanguage::FallbackCode = QStringLiteral("enu");

namespace {

const QHash<QString, QString> &Aliases()
{
    static const QHash<QString, QString> aliases{
        {"ger", "deu"}, {"fre", "fra"}, {"spn", "esn"},
    };
    return aliases;
}

// Locale names (lower case) and bare language names to language codes. Brazilian
// Portuguese has a translation of its own, so "pt_br" leads there rather than to the
// European one that a bare "pt" means.
const QHash<QString, QString> &LocaleMap()
{
    static const QHash<QString, QString> map{
        {"en", "enu"}, {"zh", "chs"}, {"zh_tw", "cht"}, {"zh_hk", "cht"}, {"zh_mo", "cht"},
        {"th", "tha"}, {"ja", "jpn"}, {"de", "deu"}, {"ko", "krn"}, {"fr", "fra"},
        {"it", "ita"}, {"es", "esn"}, {"pt", "ptg"}, {"pt_pt", "ptg"}, {"pt_br", "ptb"},
        {"ru", "rus"}, {"da", "dan"}, {"no", "nor"}, {"nb", "nor"}, {"nn", "nor"},
        {"sv", "sve"}, {"nl", "nld"}, {"pl", "plk"}, {"hu", "hun"}, {"tr", "trk"},
        {"cs", "csy"},
    };
    return map;
}

const QHash<QString, int> &LanguageNameIds()
{
    static const QHash<QString, int> ids{
        {"chs", 4690}, {"cht", 4691}, {"csy", 4692}, {"dan", 4693}, {"enu", 4694},
        {"fra", 4695}, {"fre", 4695}, {"deu", 4696}, {"ger", 4696}, {"hun", 4697},
        {"ita", 4698}, {"jpn", 4699}, {"krn", 4700}, {"nld", 4701}, {"nor", 4702},
        {"plk", 4703}, {"ptb", 4704}, {"ptg", 4705}, {"rus", 4706}, {"esn", 4707},
        {"spn", 4707}, {"sve", 4708}, {"tha", 4709}, {"trk", 4710},
    };
    return ids;
}

QString TranslationPath(const QString &code)
{
    return QStringLiteral(":/") + code + QStringLiteral(".qm");
}

} // namespace

VelaLanguage::VelaLanguage(const QString &code, QObject *parent)
    : QTranslator(parent)
{
    QString wanted = ResolveAlias(code);
    if (!SupportedCodes().contains(wanted))
        wanted = SystemCode;
    if (!wanted.isEmpty() && QFile::exists(TranslationPath(wanted)))
        m_code = wanted;
    else
        m_code = CodeForLocale(QLocale::system().name());
    load(m_code + QStringLiteral(".qm"), QStringLiteral(":/"));
}

QString VelaLanguage::Code() const
{
    return m_code;
}

QFont VelaLanguage::Font() const
{
    return FontFor(m_code);
}

const QStringList &VelaLanguage::SupportedCodes()
{
    static const QStringList codes{
        "chs", "cht", "csy", "dan", "deu", "enu", "esn", "fra", "hun", "ita", "jpn",
        "krn", "nld", "nor", "plk", "ptb", "ptg", "rus", "sve", "tha", "trk",
    };
    return codes;
}

QString VelaLanguage::ResolveAlias(const QString &code)
{
    return Aliases().value(code, code);
}

QString VelaLanguage::CodeForLocale(const QString &localeName)
{
    const QString name = localeName.toLower();
    QString code = LocaleMap().value(name);
    if (code.isEmpty())
        code = LocaleMap().value(name.section(QLatin1Char('_'), 0, 0));
    if (code.isEmpty() || !SupportedCodes().contains(code))
        code = FallbackCode;
    return code;
}

QFont VelaLanguage::FontFor(const QString &code)
{
    // Verdana and the Korean family are not on every machine. The substitutes give,
    // in order, a sans-serif in the spirit of Verdana for Latin, Greek and Cyrillic, a
    // face with Chinese, Japanese and Korean glyphs, and the product fonts; scripts
    // none of them cover (Thai) come from the system's fallback fonts.
    static const QString latinFamily = QStringLiteral("Verdana");
    static const QString koreanFamily = QStringLiteral("WenQuanYi Zen Hei");
    QFont font = QApplication::font();
    QFont::removeSubstitutions(font.family());
    if (code != QLatin1String("krn")) {
        font.setFamily(latinFamily);
        QFont::removeSubstitutions(latinFamily);
        QFont::insertSubstitutions(latinFamily, {"DejaVu Sans", "Noto Sans", koreanFamily, "Univers Else"});
    } else {
        font.setFamily(koreanFamily);
        QFont::removeSubstitutions(koreanFamily);
        QFont::insertSubstitutions(koreanFamily, {"Univers Else", "Roboto", "Noto Sans CJK KR"});
    }
    return font;
}

int VelaLanguage::LanguageNameId(const QString &code)
{
    return LanguageNameIds().value(code, -1);
}
