// The window's choices beyond the converter's own conversion, as four check boxes
// in two rows of two: "Keep the original picture" (ConversionChoices::keep_video)
// and "Write an evidence record" (ConversionChoices::evidence) above "Join into one
// file" (Joins(): several recordings become one file, run_join) and "Show the
// recording's time in the picture" (ConversionChoices::time_in_picture, local time).
// All are off until the user ticks them; each tick is remembered at once in the
// application's settings (QSettings with the organisation and application names
// TranscoderApp sets, keys KeepVideoKey, EvidenceKey, JoinKey and TimeKey), so the
// next window starts with the same choices.
//
//     auto *options = new ConversionOptions(content);
//     emit SigTranscode(source, output, options->Choices());
//
// GUI thread only.
#pragma once

#include "conversion.h"

#include <QWidget>

class QCheckBox;
class QGridLayout;

class ConversionOptions : public QWidget
{
    Q_OBJECT

public:
    static const char KeepVideoKey[];
    static const char EvidenceKey[];
    static const char JoinKey[];
    static const char TimeKey[];

    explicit ConversionOptions(QWidget *parent = nullptr);

    // The choices as the boxes show them (the time box: TimeInPicture::Local).
    ConversionChoices Choices() const;
    // Whether several recordings are to become one file.
    bool Joins() const;
    QCheckBox *KeepVideoBox() const;
    QCheckBox *EvidenceBox() const;
    QCheckBox *JoinBox() const;
    QCheckBox *TimeBox() const;

private:
    // One check box for a remembered setting, at `row` and `column` of the grid.
    QCheckBox *AddBox(unsigned int textId, unsigned int tipId, const char *key, int row, int column);

    QGridLayout *m_grid = nullptr;
    QCheckBox *m_keepVideo = nullptr;
    QCheckBox *m_evidence = nullptr;
    QCheckBox *m_join = nullptr;
    QCheckBox *m_time = nullptr;
};
