// The message box: 350 x 140, the application name as title, the message word-wrapped
// across the box's width, the OK button centred below.
#include "ConverterMsgBox.h"

#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaLabels.h"

#include <QVBoxLayout>

namespace {

constexpr int BoxWidth = 350;
constexpr int BoxHeight = 140;
constexpr int SideMargin = 12;

} // namespace

ConverterMsgBox::ConverterMsgBox(QWidget *parent, const QString &text)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(BoxWidth, BoxHeight);
    setWindowTitle(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));

    m_okButton = new VelaBlueButton(this);
    m_okButton->setText(TextById(TextId::WL_COMMON_COMMON_OK));

    m_messageLabel = new VelaElideLabel(text, this);
    m_messageLabel->setWordWrap(true);
    // The text wraps inside the side margins; as wide as the whole box, its lines
    // would run past the right edge and lose their last letters.
    m_messageLabel->setFixedWidth(width() - 2 * SideMargin);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(SideMargin, 20, SideMargin, 20);
    layout->addWidget(m_messageLabel, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(m_okButton, 0, Qt::AlignHCenter);

    connect(m_okButton, &QPushButton::clicked, this, &QWidget::close);
    m_messageLabel->adjustSize();
}
