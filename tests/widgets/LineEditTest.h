#pragma once

#include <QObject>

class LineEditTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fieldTypesAcceptAndRefuse_data();
    void fieldTypesAcceptAndRefuse();
    void keystrokeFiltersDropRefusedCharacters_data();
    void keystrokeFiltersDropRefusedCharacters();
    void ipv4PartsLoseTheirLeadingZeros_data();
    void ipv4PartsLoseTheirLeadingZeros();

    void requiredFieldIsIllegalWhenEmptiedAndLegalAgain();
    void typingFixesAnIllegalFieldAtOnce();
    void disablingAnIllegalFieldMakesItLegal();
    void verdictSetFromOutsideCarriesItsCode();
    void focusOutValidatesAndShowsTheStart();
    void clearButtonEmptiesAndFocusesTheField();
    void validatorsRunAfterTheBuiltInChecksInOrder();
    void revertRestoresTheSavedValue();
    void placeholderKeepsItsColourThroughVerdicts();
};
