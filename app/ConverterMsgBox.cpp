// The message box: 350 x 140, the application name as title, the message word-wrapped
// across the box's width, the button (or the question's two) centred below.
#include "ConverterMsgBox.h"

#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaLabels.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int SideMargin = 12;
constexpr int ButtonSpacing = 10;

} // namespace

ConverterMsgBox::ConverterMsgBox(QWidget *parent, const QString &text)
    : QDialog(parent)
{
    m_okButton = new VelaBlueButton(this);
    m_okButton->setText(TextById(TextId::WL_COMMON_COMMON_OK));
    Build(text);
    connect(m_okButton, &QPushButton::clicked, this, &QWidget::close);
}

ConverterMsgBox::ConverterMsgBox(QWidget *parent, const QString &text, const QString &acceptText,
                                 const QString &rejectText)
    : QDialog(parent)
{
    m_acceptButton = new VelaWhiteButton(this);
    m_acceptButton->setText(acceptText);
    m_acceptButton->setAutoDefault(false);
    m_okButton = new VelaBlueButton(this);
    m_okButton->setText(rejectText);
    Build(text);
    connect(m_acceptButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ConverterMsgBox::Build(const QString &text)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(BoxWidth, BoxHeight);
    setWindowTitle(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));

    m_messageLabel = new VelaElideLabel(text, this);
    m_messageLabel->setWordWrap(true);
    // The text wraps inside the side margins; as wide as the whole box, its lines
    // would run past the right edge and lose their last letters.
    m_messageLabel->setFixedWidth(width() - 2 * SideMargin);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(ButtonSpacing);
    buttons->addStretch(1);
    if (m_acceptButton)
        buttons->addWidget(m_acceptButton);
    buttons->addWidget(m_okButton);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(SideMargin, 20, SideMargin, 20);
    layout->addWidget(m_messageLabel, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addLayout(buttons);

    // Enter and Space answer with the focused button; it is also the default one.
    m_okButton->setDefault(true);
    m_okButton->setFocus(Qt::OtherFocusReason);
    m_messageLabel->adjustSize();
}
