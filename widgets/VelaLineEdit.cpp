// The text field: type rules, the validation chain and its verdict, the clear button,
// focus, show and enable behaviour, save and revert.
#include "VelaLineEdit.h"

#include "CursorMgr.h"
#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaFieldTypes.h"
#include "VelaLineEditValidator.h"
#include "VelaSkin.h"
#include "VelaWidgetUtil.h"

#include <QApplication>
#include <QPushButton>
#include <QRegExpValidator>

#include <limits>

VelaLineEdit::VelaLineEdit(QWidget *parent, int type, bool allowEmpty, int maximumLength)
    : QLineEdit(parent)
    , m_allowEmpty(allowEmpty)
    , m_type(type)
    , m_maximumLength(maximumLength)
    , m_doubleMinimum(std::numeric_limits<double>::lowest())
    , m_doubleMaximum(std::numeric_limits<double>::max())
    , m_intMinimum(std::numeric_limits<int>::min())
    , m_intMaximum(std::numeric_limits<int>::max())
{
    const VelaFieldTypes::TypeRules rules = VelaFieldTypes::RulesOf(m_type);
    if (!rules.filter.isEmpty())
        setValidator(new QRegExpValidator(QRegExp(rules.filter, Qt::CaseSensitive), this));
    if (m_type == Port)
        SetIntRange(1, 65535);
    m_pattern = QRegExp(rules.pattern, Qt::CaseSensitive);
    m_alternativePattern = QRegExp(rules.alternativePattern, Qt::CaseSensitive);
    m_numeric = rules.numeric;
    m_keyboardLayout = rules.keyboardLayout;

    setContextMenuPolicy(Qt::NoContextMenu);
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    setFixedHeight(VelaSkin::Instance()->GetInt(Skin::VELA_LINE_EDIT::VELALINEEDIT_HEIGHT));
    if (m_maximumLength == -1)
        m_maximumLength = rules.defaultMaximum;

    connect(this, &QLineEdit::textEdited, this, &VelaLineEdit::SlotTextEdited);
    QEvent styleChange(QEvent::StyleChange);
    QApplication::sendEvent(this, &styleChange);
}

int VelaLineEdit::Type() const
{
    return m_type;
}

int VelaLineEdit::MaximumLength() const
{
    return m_maximumLength;
}

bool VelaLineEdit::AllowEmpty() const
{
    return m_allowEmpty;
}

void VelaLineEdit::SetAllowEmpty(bool allowEmpty)
{
    m_allowEmpty = allowEmpty;
}

// ---------------------------------------------------------------- validation

bool VelaLineEdit::Validate()
{
    QString errorText;
    int code = CheckText(text(), errorText);
    if (code == ErrorNone && m_type == Ipv4Address)
        NormaliseIpv4();
    if (code == ErrorNone) {
        for (const QPointer<VelaLineEditValidator> &validator : qAsConst(m_validators)) {
            if (validator && !validator->validate(text(), errorText)) {
                code = ErrorValidator;
                break;
            }
        }
    }

    m_errorCode = code;
    const bool legal = code == ErrorNone;
    const QString toolTip = legal ? QString() : errorText;
    ApplyVerdict(legal, toolTip);
    emit SigValidated(legal, toolTip);
    return legal;
}

int VelaLineEdit::CheckText(const QString &text, QString &errorText) const
{
    if (text.isEmpty()) {
        if (m_allowEmpty)
            return ErrorNone;
        errorText = TextById(TextId::WL_COMMON_NOT_EMPTY);
        return ErrorEmpty;
    }

    const QString invalidFormat = TextById(TextId::WL_COMMON_INVALID_FORMAT);
    if (const int code = CheckPatternAndRange(text)) {
        errorText = invalidFormat;
        return code;
    }
    if (m_maximumLength != 0 && m_maximumLength < text.length()) {
        errorText = TextById(TextId::WL_COMMON_LENGTH_EXCEEDED);
        return ErrorTooLong;
    }
    if (m_refusedValues.contains(text)) {
        errorText = m_refusedText.isEmpty() ? invalidFormat : m_refusedText;
        return ErrorRefused;
    }
    if (m_type == HostOrName) {
        if (const int code = CheckHostName(text)) {
            errorText = invalidFormat;
            return code;
        }
    }
    return ErrorNone;
}

int VelaLineEdit::CheckPatternAndRange(const QString &text) const
{
    if (!m_pattern.isEmpty()) {
        // QRegExp::exactMatch is not const; match on copies.
        QRegExp pattern(m_pattern);
        QRegExp alternative(m_alternativePattern);
        if (!pattern.exactMatch(text) && (alternative.isEmpty() || !alternative.exactMatch(text)))
            return ErrorFormat;
    }

    bool ok = true;
    switch (m_numeric) {
    case VelaFieldTypes::Numeric::Int: {
        const int value = text.toInt(&ok);
        if (!ok || value < m_intMinimum || value > m_intMaximum)
            return ErrorRange;
        break;
    }
    case VelaFieldTypes::Numeric::Double: {
        // The decimal pattern lets a lone "." through; as a number it is no value.
        const double value = text.toDouble(&ok);
        if (!ok || value < m_doubleMinimum || value > m_doubleMaximum)
            return ErrorRange;
        break;
    }
    case VelaFieldTypes::Numeric::None:
        break;
    }
    return ErrorNone;
}

int VelaLineEdit::CheckHostName(const QString &text) const
{
    if (QRegExp(VelaFieldTypes::HostAddressPattern()).exactMatch(text))
        return ErrorNone;

    // The name pattern lets dotted numbers through ("300.1.1.1", "10.1.1"): they are
    // meant as addresses and are not valid ones.
    if (QRegExp(QStringLiteral("[0-9.]*")).exactMatch(text))
        return ErrorAddress;
    const QStringList labels = text.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.length() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return ErrorHostName;
    }
    return ErrorNone;
}

void VelaLineEdit::NormaliseIpv4()
{
    QStringList parts = text().split(QLatin1Char('.'));
    for (QString &part : parts) {
        while (part.length() > 1 && part.startsWith(QLatin1Char('0')))
            part.remove(0, 1);
    }
    const QString normalised = parts.join(QLatin1Char('.'));
    if (normalised == text())
        return;
    const bool blocked = blockSignals(true);
    QLineEdit::setText(normalised);
    blockSignals(blocked);
}

void VelaLineEdit::ApplyVerdict(bool legal, const QString &toolTip)
{
    setToolTip(toolTip);
    if (legal == m_legal)
        return;
    m_legal = legal;
    VelaWidgetUtil::Repolish(this);
}

int VelaLineEdit::ErrorCode() const
{
    return m_errorCode;
}

bool VelaLineEdit::IsLegal() const
{
    return m_legal;
}

void VelaLineEdit::SetLegal(bool legal, const QString &toolTip, bool richToolTip)
{
    m_errorCode = legal ? ErrorNone : ErrorSetIllegal;
    QString tip;
    if (!toolTip.isEmpty())
        tip = richToolTip ? QStringLiteral("<a>%1</a>").arg(toolTip) : toolTip;
    ApplyVerdict(legal, tip);
}

void VelaLineEdit::SetValidateOnFocusOut(bool validate)
{
    m_validateOnFocusOut = validate;
}

void VelaLineEdit::SetIntRange(int minimum, int maximum)
{
    m_intMinimum = minimum;
    m_intMaximum = maximum;
}

void VelaLineEdit::SetDoubleRange(double minimum, double maximum)
{
    m_doubleMinimum = minimum;
    m_doubleMaximum = maximum;
}

void VelaLineEdit::SetRefusedValues(const QStringList &values, const QString &errorText)
{
    m_refusedValues = values;
    m_refusedText = errorText;
}

void VelaLineEdit::AddValidator(VelaLineEditValidator *validator)
{
    if (!validator)
        return;
    if (!validator->parent())
        validator->setParent(this);
    m_validators.append(validator);
}

int VelaLineEdit::KeyboardLayout() const
{
    return m_keyboardLayout;
}

// ---------------------------------------------------------------- clear button

void VelaLineEdit::EnableClearButton(bool enable)
{
    m_clearButtonEnabled = enable;
    if (enable && !m_clearButton) {
        const VelaSkin *skin = VelaSkin::Instance();
        m_clearButton = new QPushButton(this);
        m_clearButton->setObjectName(QStringLiteral("LineEditCloseBtn"));
        m_clearButton->setFixedSize(skin->GetInt(Skin::VELA_LINE_EDIT::KEYBOARD_ICON_WIDTH),
                                    skin->GetInt(Skin::VELA_LINE_EDIT::KEYBOARD_ICON_HEIGHT));
        m_clearButton->setFocusPolicy(Qt::NoFocus);
        m_clearButton->hide();
        if (const CursorMgr *cursors = CursorMgr::Instance())
            m_clearButton->setCursor(cursors->GetCursor(CursorMgr::PointingHand));
        connect(m_clearButton, &QPushButton::clicked, this, &VelaLineEdit::SlotEmtpyText);
        connect(m_clearButton, &QPushButton::clicked, this, &VelaLineEdit::SigClean);
        connect(this, &QLineEdit::textChanged, this, &VelaLineEdit::SlotUpdateBtn);
    }
    SlotUpdateBtn();
}

QPushButton *VelaLineEdit::ClearButton() const
{
    return m_clearButton;
}

void VelaLineEdit::SlotUpdateBtn()
{
    if (m_clearButton)
        m_clearButton->setVisible(m_clearButtonEnabled && !text().isEmpty());
    LayoutButtons();
}

void VelaLineEdit::SlotEmtpyText()
{
    setText(QString());
    SlotUpdateBtn();
    setFocus();
}

int VelaLineEdit::RightReservedWidth() const
{
    return 0;
}

void VelaLineEdit::LayoutButtons()
{
    const VelaSkin *skin = VelaSkin::Instance();
    const int buttonMargin = skin->GetInt(Skin::VELA_LINE_EDIT::VELALINEEDIT_RIGHT_BUTTON_MARGIN);
    const int reserved = RightReservedWidth();
    int right = reserved;
    if (m_clearButton) {
        m_clearButton->move(width() - buttonMargin - reserved - m_clearButton->width(),
                            (height() - m_clearButton->height()) / 2);
        if (m_clearButton->isVisibleTo(this))
            right += m_clearButton->width();
    }
    if (right > 0)
        right += skin->GetInt(Skin::VELA_LINE_EDIT::VELALINEEDIT_RIGHT_TEXT_MARGIN);
    const QMargins margins = textMargins();
    if (margins.right() != right)
        setTextMargins(margins.left(), margins.top(), right, margins.bottom());
}

// ---------------------------------------------------------------- events

void VelaLineEdit::setText(QString strText)
{
    QLineEdit::setText(strText);
    home(false);
}

void VelaLineEdit::SlotPasswordChanged()
{
    Validate();
}

void VelaLineEdit::SlotTextEdited()
{
    // An illegal field is re-checked as the user types, so the error look goes as soon
    // as the input is fixed; a legal one waits for focus-out.
    if (!m_legal)
        Validate();
}

bool VelaLineEdit::event(QEvent *e)
{
    const bool result = QLineEdit::event(e);
    // The style sheet sets the palette on every polish and has no placeholder colour
    // of its own, which would leave the placeholder in the text colour.
    const QEvent::Type type = e->type();
    if (type == QEvent::Polish || type == QEvent::StyleChange || type == QEvent::PaletteChange)
        ApplyPlaceholderColour();
    return result;
}

void VelaLineEdit::ApplyPlaceholderColour()
{
    const QColor colour = VelaSkin::Instance()->GetColor(Skin::VELA_LINE_EDIT::VELALINEEDIT_PLACEHOLDER_COLOR);
    if (!colour.isValid() || palette().color(QPalette::PlaceholderText) == colour)
        return;
    QPalette withPlaceholder = palette();
    withPlaceholder.setColor(QPalette::PlaceholderText, colour);
    setPalette(withPlaceholder);
}

void VelaLineEdit::focusInEvent(QFocusEvent *e)
{
    LayoutButtons();
    QLineEdit::focusInEvent(e);
}

void VelaLineEdit::focusOutEvent(QFocusEvent *e)
{
    if (m_validateOnFocusOut)
        Validate();
    LayoutButtons();
    home(false);
    QLineEdit::focusOutEvent(e);
}

void VelaLineEdit::showEvent(QShowEvent *e)
{
    home(false);
    QLineEdit::showEvent(e);
}

void VelaLineEdit::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        SetLegal(true, QString());
    QLineEdit::changeEvent(e);
}

void VelaLineEdit::resizeEvent(QResizeEvent *e)
{
    QLineEdit::resizeEvent(e);
    LayoutButtons();
}

// ---------------------------------------------------------------- save and revert

void VelaLineEdit::SaveValue()
{
    m_savedValue = text();
}

void VelaLineEdit::Revert()
{
    setText(m_savedValue);
    if (m_validateOnFocusOut)
        Validate();
}

void VelaLineEdit::Reset()
{
    m_savedValue.clear();
    setText(m_savedValue);
}

bool VelaLineEdit::IsChanged() const
{
    return text() != m_savedValue;
}

QString VelaLineEdit::SavedValue() const
{
    return m_savedValue;
}

QVariant VelaLineEdit::ConditionValue() const
{
    return text();
}
