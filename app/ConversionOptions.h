// The window's choices beyond the converter's own conversion, as two check boxes in
// a row: "Keep the original picture" (ConversionChoices::keep_video) and "Write an
// evidence record" (ConversionChoices::evidence). Both are off until the user ticks
// them; each tick is remembered at once in the application's settings (QSettings
// with the organisation and application names TranscoderApp sets, keys KeepVideoKey
// and EvidenceKey), so the next window starts with the same choices.
//
//     auto *options = new ConversionOptions(content);
//     emit SigTranscode(source, output, options->Choices());
//
// GUI thread only.
#pragma once

#include "conversion.h"

#include <QWidget>

class QCheckBox;

class ConversionOptions : public QWidget
{
    Q_OBJECT

public:
    static const char KeepVideoKey[];
    static const char EvidenceKey[];

    explicit ConversionOptions(QWidget *parent = nullptr);

    // The choices as the boxes show them.
    ConversionChoices Choices() const;
    QCheckBox *KeepVideoBox() const;
    QCheckBox *EvidenceBox() const;

private:
    // One check box for a remembered setting.
    QCheckBox *AddBox(unsigned int textId, unsigned int tipId, const char *key);

    QCheckBox *m_keepVideo = nullptr;
    QCheckBox *m_evidence = nullptr;
};
