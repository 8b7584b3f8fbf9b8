#pragma once

#include <QObject>

class TextTableTest : public QObject
{
    Q_OBJECT

private slots:
    void pinnedIdsKeepTheirKeys_data();
    void pinnedIdsKeepTheirKeys();
    void tableHoldsEveryIdInByteOrder();
    void underscoreSortsBeforeLetters();
    void widgetKeysAreInTheTable_data();
    void widgetKeysAreInTheTable();
    void idsPastTheTableGiveEmptyText();
    void placeholdersAreReplacedInOrder_data();
    void placeholdersAreReplacedInOrder();
    void missingTranslationShowsTheKey();
    void localeNamesMapToLanguageCodes_data();
    void localeNamesMapToLanguageCodes();
    void aliasesAndUnknownCodesResolve_data();
    void aliasesAndUnknownCodesResolve();
    void languageNameIds_data();
    void languageNameIds();
    void koreanUsesWenQuanYiOthersVerdana_data();
    void koreanUsesWenQuanYiOthersVerdana();
    void everyShownTextIsTranslatedInEveryLanguage();
    void everyLanguageRendersWithoutMissingGlyphs();
};
