// The program's language: picks a language code from the system locale (or takes a
// given one), loads its translation resource ":/<code>.qm" and chooses the application
// font that renders it.
//
// Start-up creates one VelaLanguage with SystemCode ("def"), installs it with
// QCoreApplication::installTranslator and passes Font() to QApplication::setFont; it
// lives until the process ends.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <QTranslator>

class VelaLanguage : public QTranslator
{
    Q_OBJECT

public:
    static const QString SystemCode;     // "def": follow the system locale
    static const QString FallbackCode;   // "enu": used when the locale is not known

    // Resolves an alias ("ger", "fre", "spn"); an unsupported code means SystemCode.
    // Loads ":/<code>.qm" when it exists, else the language of the system locale.
    explicit VelaLanguage(const QString &code, QObject *parent = nullptr);

    // The effective language code, one of SupportedCodes().
    QString Code() const;
    // The application font for this language (see FontFor).
    QFont Font() const;

    // The 21 language codes that ship a translation.
    static const QStringList &SupportedCodes();
    // The code an alias stands for; any other code unchanged.
    static QString ResolveAlias(const QString &code);
    // The language code of a locale name such as "zh_TW": the lower-case name is
    // looked up in the locale map, then its part before the first "_", then
    // FallbackCode is used.
    static QString CodeForLocale(const QString &localeName);
    // The application font of a language: Verdana, or WenQuanYi Zen Hei for Korean,
    // each with substitutes registered for machines that lack the family.
    static QFont FontFor(const QString &code);
    // The text id of a language's name, -1 for an unknown code. Aliases are accepted.
    static int LanguageNameId(const QString &code);

private:
    QString m_code;
};
