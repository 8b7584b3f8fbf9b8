// The message box: 350 x 140, the application name as title, the message word-wrapped
// across the box's width, the button (or the question's two) centred below. A report
// is 420 wide and as tall as its message and list need, the list at most 200 tall.
#include "ConverterMsgBox.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaSkin.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int SideMargin = 12;
constexpr int TopBottomMargin = 20;
constexpr int ButtonSpacing = 10;
// Inside the report's list: around the entries, between them, and between an
// entry's name and its line.
constexpr int ListPadding = 8;
constexpr int EntrySpacing = 10;
constexpr int NameLineSpacing = 2;
constexpr int ListGap = 10;

QWidget *ListEntryWidget(const ConverterMsgBox::ListEntry &entry, QWidget *parent)
{
    const VelaSkin *skin = VelaSkin::Instance();
    auto *widget = new QWidget(parent);
    auto *name = new VelaElideLabel(entry.name, widget);
    name->setObjectName(QStringLiteral("ListEntryName"));
    name->setStyleSheet(QStringLiteral("QLabel{color: %1; font-weight: bold;}")
                            .arg(skin->GetString(Skin::GENERAL::PRIMARY_TEXT_COLOR)));
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    name->setToolTip(entry.name);
    // The application style's label font, as the message above has.
    // Wrapping before the text comes: a text set first would be elided to the label's
    // first width and measured so.
    auto *line = new VelaElideLabel(widget);
    line->setObjectName(QStringLiteral("ListEntryLine"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setText(entry.line);
    line->setStyleSheet(QStringLiteral("QLabel{color: %1;}").arg(skin->GetString(Skin::GENERAL::SECONDARY_TEXT_COLOR)));
    // As tall as their text: the labels' usual row height would part a name from its line.
    name->setMinimumHeight(0);
    line->setMinimumHeight(0);
    auto *column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(NameLineSpacing);
    column->addWidget(name);
    column->addWidget(line);
    return widget;
}

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

ConverterMsgBox::ConverterMsgBox(QWidget *parent, const QString &text, const QVector<ListEntry> &entries)
    : QDialog(parent)
{
    m_okButton = new VelaBlueButton(this);
    m_okButton->setText(TextById(TextId::WL_COMMON_COMMON_OK));
    BuildList(entries);
    Build(text);
    connect(m_okButton, &QPushButton::clicked, this, &QWidget::close);
}

QScrollArea *ConverterMsgBox::List() const
{
    return m_list;
}

void ConverterMsgBox::BuildList(const QVector<ListEntry> &entries)
{
    const VelaSkin *skin = VelaSkin::Instance();
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("ListContent"));
    content->setStyleSheet(QStringLiteral("QWidget#ListContent{background-color: %1;}")
                               .arg(skin->GetString(Skin::GENERAL::WINDOW_BG_COLOR)));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(ListPadding, ListPadding, ListPadding, ListPadding);
    column->setSpacing(EntrySpacing);
    for (const ListEntry &entry : entries)
        column->addWidget(ListEntryWidget(entry, content));
    column->addStretch(1);

    m_list = new QScrollArea(this);
    m_list->setObjectName(QStringLiteral("MsgBoxList"));
    m_list->setStyleSheet(QStringLiteral("QScrollArea#MsgBoxList{border: 1px solid %1; background-color: %2;}")
                              .arg(skin->GetString(Skin::GENERAL::COLOR_BORDER),
                                   skin->GetString(Skin::GENERAL::WINDOW_BG_COLOR)));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setWidgetResizable(true);
    m_list->setWidget(content);
    // Measured in the fonts the style sheet gives the labels.
    content->ensurePolished();
    // As tall as the entries need at the list's width, up to the limit; beyond it the
    // list scrolls. The scroll bar is there from the start or never: one that came
    // and went would change the width the lines wrap at after they were laid out.
    const int inner = ListBoxWidth - 2 * SideMargin - 2 * m_list->frameWidth();
    const int needed = content->heightForWidth(inner) + 2 * m_list->frameWidth();
    const bool scrolls = needed > ListMaxHeight;
    m_list->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_list->setFixedHeight(qMin(needed, ListMaxHeight));
    // The scroll area sizes its widget by the size hint, which counts a wrapped line
    // once: the entries get the height their lines need at the width they will have.
    const int contentWidth = inner - (scrolls ? m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                                               m_list->verticalScrollBar())
                                              : 0);
    content->setMinimumHeight(content->heightForWidth(contentWidth));
}

void ConverterMsgBox::Build(const QString &text)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const int boxWidth = m_list ? ListBoxWidth : BoxWidth;
    setFixedSize(boxWidth, BoxHeight);
    setWindowTitle(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));

    m_messageLabel = new VelaElideLabel(text, this);
    m_messageLabel->setWordWrap(true);
    // Set again now that it wraps: made before, the label elided it to one line,
    // and every height measured before the first resize would be that line's.
    m_messageLabel->setText(text);
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
    layout->setContentsMargins(SideMargin, TopBottomMargin, SideMargin, TopBottomMargin);
    layout->addWidget(m_messageLabel, 0, Qt::AlignHCenter);
    if (m_list) {
        layout->addSpacing(ListGap);
        layout->addWidget(m_list);
        layout->addSpacing(ListGap);
    }
    layout->addStretch(1);
    layout->addLayout(buttons);

    // Enter and Space answer with the focused button; it is also the default one.
    m_okButton->setDefault(true);
    m_okButton->setFocus(Qt::OtherFocusReason);
    m_messageLabel->adjustSize();
    if (m_list) {
        // The message's lines, the list and the button, with the margins between.
        layout->activate();
        setFixedSize(boxWidth, qMax(BoxHeight, layout->totalHeightForWidth(boxWidth)));
    }
}
