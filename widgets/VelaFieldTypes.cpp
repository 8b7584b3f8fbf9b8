// Filters and patterns of the line-edit field types, in QRegExp syntax.
#include "VelaFieldTypes.h"

namespace VelaFieldTypes {

namespace {

// Characters a name may not contain. Names of type 2 may also hold "\", "." and "@"
// (paths and mail-like names); descriptions (type 14) "$", "." and line breaks.
const QString NameExcluded = QStringLiteral(R"(\\{}|\^\[\]?=:+/*()$!."#%&',;<>@`~\n)");
const QString PathNameExcluded = QStringLiteral(R"({}|\^\[\]?=:+/*()$!"#%&',;<>`~\n)");
const QString DescriptionExcluded = QStringLiteral(R"(\\{}|\^\[\]?=:+/*()!"#%&',;<>@`~)");

QString AnyOf(const QString &excluded)
{
    return QStringLiteral("[^%1]*").arg(excluded);
}

// One allowed non-blank character, or allowed characters between an allowed
// non-blank first and last one.
QString NoBlankAtEitherEnd(const QString &excluded)
{
    const QString edge = QStringLiteral("[^%1 \\t]").arg(excluded);
    return QStringLiteral("%1|%1[^%2]*%1").arg(edge, excluded);
}

const QString Ipv4Address = QStringLiteral(
    R"(^((25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])\.){3}(25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])$)");

const QString Ipv6Address = QStringLiteral(
    R"(^((([0-9a-fA-F]{1,4}:){7}[0-9a-fA-F]{1,4})|(([0-9a-fA-F]{1,4}:){1,7}:))"
    R"(|(([0-9a-fA-F]{1,4}:){1,6}:[0-9a-fA-F]{1,4}))"
    R"(|(([0-9a-fA-F]{1,4}:){1,5}:([0-9a-fA-F]{1,4}:){0,1}[0-9a-fA-F]{1,4}))"
    R"(|(([0-9a-fA-F]{1,4}:){1,4}:([0-9a-fA-F]{1,4}:){0,2}[0-9a-fA-F]{1,4}))"
    R"(|(([0-9a-fA-F]{1,4}:){1,3}:([0-9a-fA-F]{1,4}:){0,3}[0-9a-fA-F]{1,4}))"
    R"(|(([0-9a-fA-F]{1,4}:){1,2}:([0-9a-fA-F]{1,4}:){0,4}[0-9a-fA-F]{1,4}))"
    R"(|([0-9a-fA-F]{1,4}::([0-9a-fA-F]{1,4}:){0,5}[0-9a-fA-F]{1,4}))"
    R"(|(::([0-9a-fA-F]{1,4}:){0,6}[0-9a-fA-F]{1,4}))$)");

// k leading parts of 255, one part of a contiguous mask, then zeros; at least one bit
// set and at most 30, so 0.0.0.0 and the host masks 255.255.255.254/255 are refused.
const QString Netmask = QStringLiteral(
    R"(^((128|192|224|240|248|252|254|255)\.0\.0\.0)"
    R"(|255\.(0|128|192|224|240|248|252|254|255)\.0\.0)"
    R"(|255\.255\.(0|128|192|224|240|248|252|254|255)\.0)"
    R"(|255\.255\.255\.(0|128|192|224|240|248|252))$)");

const QString Colour = QStringLiteral("^#([A-Fa-f0-9]{6}|[A-Fa-f0-9]{3})");
const QString MinutesOrSeconds = QStringLiteral("[0-9]|0[0-9]|[0-5][0-9]");
const QString Hours = QStringLiteral("[0-9]|0[0-9]|1[0-9]|2[0-3]");
const QString DecimalNumber = QStringLiteral("[0-9]+|[0-9]+[.][0-9]*|[.][0-9]*");
const QString HostName = QStringLiteral(R"(^[a-zA-Z0-9][\-.a-zA-Z0-9]{0,254}$)");
const QString MacAddress = QStringLiteral("^([0-9A-Fa-f]{2}[:-]){5}([0-9A-Fa-f]{2})$");

TypeRules Rules(const QString &filter, const QString &pattern, int defaultMaximum, int keyboardLayout,
                Numeric numeric = Numeric::None)
{
    TypeRules rules;
    rules.filter = filter;
    rules.pattern = pattern;
    rules.defaultMaximum = defaultMaximum;
    rules.keyboardLayout = keyboardLayout;
    rules.numeric = numeric;
    return rules;
}

} // namespace

QString HostAddressPattern()
{
    return QStringLiteral(
        R"(^(22[0-3]|2[01][0-9]|1[3-9][0-9]|12[0-689]|1[01][0-9]|[1-9][0-9]|[1-9]))"
        R"(\.((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\.){2})"
        R"((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[1-9])$)");
}

TypeRules RulesOf(int type)
{
    const QString digitsAndDots = QStringLiteral("[0-9.]*");
    switch (type) {
    case 1:
        return Rules(AnyOf(NameExcluded), NoBlankAtEitherEnd(NameExcluded), 32, KeyboardFull);
    case 2:
        return Rules(AnyOf(PathNameExcluded), NoBlankAtEitherEnd(PathNameExcluded), 0, KeyboardFull);
    case 3:
        return Rules(QStringLiteral("[^\\\\\\n]*"), QString(), 0, KeyboardFull);
    case 4:
        return Rules(digitsAndDots, Ipv4Address, 15, KeyboardDecimal);
    case 5:
        return Rules(digitsAndDots, HostAddressPattern(), 15, KeyboardDecimal);
    case 6:
        return Rules(QStringLiteral("[:0-9A-Fa-f]*"), Ipv6Address, 39, KeyboardHex);
    case 7:
        return Rules(digitsAndDots, Netmask, 15, KeyboardDecimal);
    case 8: {
        TypeRules rules = Rules(QStringLiteral(R"([\-.a-zA-Z0-9]*)"), HostAddressPattern(), 128, KeyboardHostName);
        rules.alternativePattern = HostName;
        return rules;
    }
    case 9:
        return Rules(QStringLiteral("[0-9]{0,5}"), QStringLiteral("[0-9]*"), 5, KeyboardDigits, Numeric::Int);
    case 10:
        return Rules(QStringLiteral("[0-9]*"), QStringLiteral("[0-9]*"), 9, KeyboardDigits, Numeric::Int);
    case 11:
        return Rules(QStringLiteral("^#[A-Fa-f0-9]{6}"), Colour, 7, KeyboardColour);
    case 14:
        return Rules(AnyOf(DescriptionExcluded), QString(), 32, KeyboardFull);
    case 16:
        return Rules(QString(), MinutesOrSeconds, 2, KeyboardDigits);
    case 17:
        return Rules(QString(), Hours, 2, KeyboardDigits);
    case 18:
        return Rules(QStringLiteral("^[0-9]{0,8}$"), QString(), 0, KeyboardDigits);
    case 19:
        return Rules(QStringLiteral("[^&]*"), QStringLiteral("[^&]*"), 0, KeyboardFull);
    case 20:
        return Rules(DecimalNumber, DecimalNumber, 9, KeyboardDecimal, Numeric::Double);
    case 21:
        return Rules(QStringLiteral("[a-zA-Z0-9]*"), QStringLiteral("[a-zA-Z0-9]*"), 0, KeyboardFull);
    case 22:
        return Rules(QStringLiteral("[A-Z0-9]*"), QString(), 0, KeyboardFull);
    case 23:
        return Rules(QStringLiteral("[A-Z0-9]*[xsjplayseirlm]{0,4}[+]{0,1}[I]{0,2}"), QString(), 0, KeyboardFull);
    case 24:
        return Rules(QStringLiteral("[-0-9a-fA-F:]*"), MacAddress, 0, KeyboardFull);
    default:
        return TypeRules();
    }
}

} // namespace VelaFieldTypes
