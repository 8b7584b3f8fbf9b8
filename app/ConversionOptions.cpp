// The window's two check boxes and their settings; see ConversionOptions.h.
#include "ConversionOptions.h"

#include "TextIds.h"
#include "TextTable.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QSettings>

const char ConversionOptions::KeepVideoKey[] = "choices/keep_video";
const char ConversionOptions::EvidenceKey[] = "choices/evidence";

namespace {

constexpr int BoxSpacing = 16;

} // namespace

ConversionOptions::ConversionOptions(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(BoxSpacing);
    m_keepVideo = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_KEEP_VIDEO,
                         TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_KEEP_VIDEO_TIP, KeepVideoKey);
    m_evidence = AddBox(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_EVIDENCE,
                        TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_EVIDENCE_TIP, EvidenceKey);
    row->addStretch(1);
}

QCheckBox *ConversionOptions::AddBox(unsigned int textId, unsigned int tipId, const char *key)
{
    auto *box = new QCheckBox(TextById(textId), this);
    box->setToolTip(TextById(tipId));
    // Off unless the user ticked it before: the converter's own conversion.
    box->setChecked(QSettings().value(QLatin1String(key), false).toBool());
    connect(box, &QCheckBox::toggled, this, [key](bool checked) { QSettings().setValue(QLatin1String(key), checked); });
    layout()->addWidget(box);
    return box;
}

ConversionChoices ConversionOptions::Choices() const
{
    ConversionChoices choices;
    choices.keep_video = m_keepVideo->isChecked();
    choices.evidence = m_evidence->isChecked();
    return choices;
}

QCheckBox *ConversionOptions::KeepVideoBox() const
{
    return m_keepVideo;
}

QCheckBox *ConversionOptions::EvidenceBox() const
{
    return m_evidence;
}
