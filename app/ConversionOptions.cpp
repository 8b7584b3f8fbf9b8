// The window's four check boxes and their settings; see ConversionOptions.h.
#include "ConversionOptions.h"

#include "TextIds.h"
#include "TextTable.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QSettings>

const char ConversionOptions::KeepVideoKey[] = "choices/keep_video";
const char ConversionOptions::EvidenceKey[] = "choices/evidence";
const char ConversionOptions::JoinKey[] = "choices/join";
const char ConversionOptions::TimeKey[] = "choices/time_in_picture";

namespace {

constexpr int ColumnSpacing = 16;
constexpr int RowSpacing = 2;

} // namespace

ConversionOptions::ConversionOptions(QWidget *parent)
    : QWidget(parent)
{
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(ColumnSpacing);
    m_grid->setVerticalSpacing(RowSpacing);
    // What a conversion keeps or writes in the first row, what it makes of the
    // recordings in the second; each column as wide as its longer text.
    m_keepVideo = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_KEEP_VIDEO,
                         TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_KEEP_VIDEO_TIP, KeepVideoKey, 0, 0);
    m_evidence = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_EVIDENCE,
                        TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_EVIDENCE_TIP, EvidenceKey, 0, 1);
    m_join = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_JOIN, TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_JOIN_TIP,
                    JoinKey, 1, 0);
    m_time = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME, TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_TIP,
                    TimeKey, 1, 1);
    m_grid->setColumnStretch(2, 1);
}

QCheckBox *ConversionOptions::AddBox(unsigned int textId, unsigned int tipId, const char *key, int row, int column)
{
    auto *box = new QCheckBox(TextById(textId), this);
    box->setToolTip(TextById(tipId));
    // Off unless the user ticked it before: the converter's own conversion.
    box->setChecked(QSettings().value(QLatin1String(key), false).toBool());
    connect(box, &QCheckBox::toggled, this, [key](bool checked) { QSettings().setValue(QLatin1String(key), checked); });
    m_grid->addWidget(box, row, column);
    return box;
}

ConversionChoices ConversionOptions::Choices() const
{
    ConversionChoices choices;
    choices.keep_video = m_keepVideo->isChecked();
    choices.evidence = m_evidence->isChecked();
    choices.time_in_picture =
        m_time->isChecked() ? ConversionChoices::TimeInPicture::Local : ConversionChoices::TimeInPicture::Off;
    return choices;
}

bool ConversionOptions::Joins() const
{
    return m_join->isChecked();
}

QCheckBox *ConversionOptions::KeepVideoBox() const
{
    return m_keepVideo;
}

QCheckBox *ConversionOptions::EvidenceBox() const
{
    return m_evidence;
}

QCheckBox *ConversionOptions::JoinBox() const
{
    return m_join;
}

QCheckBox *ConversionOptions::TimeBox() const
{
    return m_time;
}
