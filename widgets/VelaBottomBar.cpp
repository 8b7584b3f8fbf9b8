#include "VelaBottomBar.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaSkin.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyleOption>
#include <QVBoxLayout>

namespace {

enum class RoleClass { White, Blue, Red };

struct RoleEntry
{
    RoleClass buttonClass;
    int textId;    // -1: no text
};

// Indexed by role.
const RoleEntry Roles[VelaBottomBar::RoleCount] = {
    {RoleClass::White, TextId::WL_COMMON_COMMON_CANCEL},
    {RoleClass::Blue, TextId::CAMERA_NEXT_STEP},
    {RoleClass::White, TextId::CAMERA_PREVIOUS_STEP},
    {RoleClass::Blue, TextId::WL_COMMON_COMMON_FINISH},
    {RoleClass::Blue, TextId::WL_COMMON_COMMON_SAVE},
    {RoleClass::White, TextId::WL_COMMON_CLOSE},
    {RoleClass::Blue, -1},
    {RoleClass::Blue, TextId::WL_COMMON_COMMON_OPEN},
    {RoleClass::Blue, TextId::WL_COMMON_COMMON_OK},
    {RoleClass::White, TextId::CAMERA_CAMERA_SEARCH_BTN},
    {RoleClass::White, TextId::WL_COMMON_COMMON_RESET},
    {RoleClass::Blue, TextId::EVENT_ARCHIVE_YES},
    {RoleClass::White, TextId::EVENT_ARCHIVE_NO},
    {RoleClass::Blue, TextId::KIOSKVIEW_KV_UPGRADE},
    {RoleClass::Blue, TextId::WL_COMMON_CHOOSE},
    {RoleClass::Red, TextId::WL_COMMON_SUBMIT},
    {RoleClass::Blue, TextId::WL_COMMON_COMMON_APPLY},
    {RoleClass::Blue, TextId::EVENT_EVENT_EXPORT},
    {RoleClass::White, TextId::WL_COMMON_COMMON_EDIT},
    {RoleClass::Blue, TextId::TRANSACTIONS_TEXT_FILTER_REPLACE},
    {RoleClass::Blue, -1},
};

bool ValidRole(int role)
{
    return role >= 0 && role < VelaBottomBar::RoleCount;
}

} // namespace

VelaBottomBar::VelaBottomBar(QWidget *parent)
    : QWidget(parent)
    , m_statusWidget(new VelaStatusWidget(this))
    , m_statusLayout(new QHBoxLayout)
    , m_leftLayout(new QHBoxLayout)
    , m_rightLayout(new QHBoxLayout)
    , m_buttons(RoleCount)
{
    const VelaSkin *skin = VelaSkin::Instance();
    const int buttonMargin = skin->GetInt(Skin::VELA_BOTTOM_BAR::BUTTON_LEFT_RIGHT_MARGIN);
    const int verticalMargin = skin->GetInt(Skin::VELA_BOTTOM_BAR::BUTTON_TOP_BOTTOM_MARGIN);

    auto *shadowStrip = new QWidget(this);
    shadowStrip->setObjectName(QStringLiteral("BottomBarShadow"));
    shadowStrip->setMinimumSize(skin->GetInt(Skin::VELA_BOTTOM_BAR::SHADOW_MIN_WIDTH),
                                skin->GetInt(Skin::VELA_SHADOW::SHADOW_TOP_HEIGHT));
    shadowStrip->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    shadowStrip->setFixedHeight(skin->GetInt(Skin::VELA_SHADOW::SHADOW_TOP_HEIGHT));
    shadowStrip->setStyleSheet(QStringLiteral("QWidget{margin: 0px 0px; border-image: url(%1);}")
                                   .arg(skin->GetImage(Skin::VELA_SHADOW::SHADOW_TOP)));

    const int statusMargin = skin->GetInt(Skin::VELA_BOTTOM_BAR::STATUS_WIDGET_MARGIN);
    m_statusLayout->setContentsMargins(statusMargin, 0, statusMargin, 0);
    m_statusLayout->addWidget(m_statusWidget);

    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    setMinimumSize(skin->GetInt(Skin::VELA_BOTTOM_BAR::BOTTOM_BAR_MIN_WIDTH),
                   skin->GetInt(Skin::VELA_BOTTOM_BAR::BOTTOM_BAR_MIN_HEIGHT));

    m_leftLayout->setContentsMargins(0, 0, 0, 0);
    m_leftLayout->setSpacing(buttonMargin);
    m_rightLayout->setContentsMargins(0, 0, 0, 0);
    m_rightLayout->setSpacing(buttonMargin);
    m_rightLayout->setDirection(QBoxLayout::RightToLeft);

    auto *contentRow = new QHBoxLayout;
    contentRow->setContentsMargins(0, verticalMargin, buttonMargin, verticalMargin);
    contentRow->setSpacing(0);
    contentRow->addLayout(m_leftLayout);
    contentRow->addLayout(m_statusLayout);
    // Stretch factor 1: the stretch alone takes the spare width, so the buttons keep
    // their natural width instead of sharing it.
    contentRow->addStretch(1);
    contentRow->addLayout(m_rightLayout);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    mainLayout->addWidget(shadowStrip);
    mainLayout->addLayout(contentRow);

    for (int role = 0; role < RoleCount; ++role)
        m_roleTexts.insert(role, QString());
    Retranslate();
    qRegisterMetaType<WIDGET_STATUS_ID>("WIDGET_STATUS_ID");
}

QWidget *VelaBottomBar::button(int role)
{
    if (!ValidRole(role))
        return nullptr;
    if (!m_buttons[role])
        m_buttons[role] = CreateButton(role);
    return m_buttons[role];
}

QWidget *VelaBottomBar::CreateButton(int role)
{
    VelaBaseButton *created = nullptr;
    switch (Roles[role].buttonClass) {
    case RoleClass::White:
        created = new VelaWhiteButton(this);
        break;
    case RoleClass::Blue:
        created = new VelaBlueButton(this);
        break;
    case RoleClass::Red:
        created = new VelaRedButton(this);
        break;
    }
    created->setText(m_roleTexts.value(role));
    created->hide();
    return created;
}

void VelaBottomBar::AddRightButton(int role)
{
    if (QWidget *widget = button(role))
        AddToLayout(m_rightLayout, widget);
}

void VelaBottomBar::AddLeftButton(int role)
{
    QWidget *widget = button(role);
    if (!widget)
        return;
    const VelaSkin *skin = VelaSkin::Instance();
    m_leftLayout->setContentsMargins(skin->GetInt(Skin::VELA_BOTTOM_BAR::BUTTON_LEFT_RIGHT_MARGIN), 0,
                                     skin->GetInt(Skin::VELA_BOTTOM_BAR::BUTTON_STATUS_SPACING), 0);
    AddToLayout(m_leftLayout, widget);
}

void VelaBottomBar::AddRightWidget(QWidget *widget)
{
    if (widget)
        AddToLayout(m_rightLayout, widget);
}

void VelaBottomBar::AddToLayout(QHBoxLayout *layout, QWidget *widget)
{
    // Adding a widget twice would give it two layout items fighting over its geometry;
    // a second add moves it to the end of the requested side instead.
    m_leftLayout->removeWidget(widget);
    m_rightLayout->removeWidget(widget);
    layout->addWidget(widget);
    widget->show();
    UpdateStatusWidth();
}

void VelaBottomBar::UpdateStatusWidth()
{
    int used = 0;
    for (QHBoxLayout *layout : {m_leftLayout, m_rightLayout}) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->isEmpty())
                continue;
            // Before the layout has run, an item's width is the one it will get.
            const int width = item->geometry().width() > 0 ? item->geometry().width() : item->sizeHint().width();
            used += width + layout->spacing();
        }
    }
    const QMargins left = m_leftLayout->contentsMargins();
    used += left.left() + left.right();
    used += VelaSkin::Instance()->GetInt(Skin::VELA_BOTTOM_BAR::BUTTON_LEFT_RIGHT_MARGIN);
    m_statusWidget->SetAvailableWidth(width() - used);
}

void VelaBottomBar::Retranslate()
{
    for (int role = 0; role < RoleCount; ++role) {
        const int id = Roles[role].textId;
        m_roleTexts[role] = id < 0 ? QString() : TextById(static_cast<unsigned int>(id));
        if (auto *existing = qobject_cast<VelaBaseButton *>(m_buttons[role].data()))
            existing->setText(m_roleTexts[role]);
    }
}

QString VelaBottomBar::RoleText(int role) const
{
    return m_roleTexts.value(role);
}

VelaStatusWidget *VelaBottomBar::StatusWidget() const
{
    return m_statusWidget;
}

void VelaBottomBar::SlotShowWarning(QString strText, int DisplayMsec)
{
    m_statusWidget->ShowWarning(strText, DisplayMsec);
}

void VelaBottomBar::SlotShowWarning(WIDGET_STATUS_ID Id, int DisplayMsec)
{
    m_statusWidget->ShowWarning(Id, DisplayMsec);
}

void VelaBottomBar::SlotShowLoading(QString strText, int DisplayMsec)
{
    m_statusWidget->ShowLoading(strText, DisplayMsec);
}

void VelaBottomBar::SlotShowSuccess(QString strText, int DisplayMsec)
{
    m_statusWidget->ShowSuccess(strText, DisplayMsec);
}

void VelaBottomBar::SlotShowInfo(QString strText, int DisplayMsec)
{
    m_statusWidget->ShowInfo(strText, DisplayMsec);
}

void VelaBottomBar::SlotClearStatus(int WaitMsec)
{
    m_statusWidget->ClearStatus(WaitMsec);
}

void VelaBottomBar::SlotShowStatus(WIDGET_STATUS_ID Id)
{
    m_statusWidget->ShowStatus(Id);
}

void VelaBottomBar::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    UpdateStatusWidth();
}

void VelaBottomBar::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(e);
}

void VelaBottomBar::paintEvent(QPaintEvent *)
{
    // Lets the style sheet give the bar a background.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
