// The library's single-line text field.
//
// A field type, fixed at construction, chooses a keystroke filter, a whole-text pattern
// and a default maximum length (VelaFieldTypes.h). Validate() runs a fixed chain of
// checks and then the attached validators; the verdict sets the dynamic property
// `Legal` (the style sheet draws an illegal field with a red border), the tool tip
// (the reason) and emits SigValidated.
//
//     auto *field = new VelaLineEdit(parent, VelaLineEdit::Text, false, -1);
//     connect(field, &QLineEdit::textChanged, field, [field]() { field->Validate(); });
//     field->setText(path);            // cursor at the start: the path's head shows
//
// The chain, first failure wins (ErrorCode()):
//   empty text while empty is not allowed                      ErrorEmpty (2)
//   the type's pattern / numeric range                         ErrorFormat (1) / ErrorRange (5)
//   longer than the maximum length (0 = no limit)              ErrorTooLong (3)
//   one of the refused values                                  ErrorRefused (4)
//   host-or-name type: dotted numbers that are no host address ErrorAddress (7);
//                      an empty, over-long or dash-edged label ErrorHostName (9)
//   an attached validator says no                              ErrorValidator (6)
// An empty text that is allowed passes the type's checks (a field may be optional).
// When the type's checks pass, an IPv4 field drops the leading zeros of each part
// (010.001.000.001 becomes 10.1.0.1) without emitting textChanged.
//
// A disabled field is always legal: disabling clears the error look. Focus-out
// validates (unless turned off) and shows the start of the text. GUI thread only.
#pragma once

#include "VelaConditionData.h"
#include "VelaFieldTypes.h"
#include "VelaRevertable.h"

#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QRegExp>
#include <QStringList>

class QPushButton;
class VelaLineEditValidator;

class VelaLineEdit : public QLineEdit, public VelaRevertable, public VelaVarNameConditionData
{
    Q_OBJECT
    Q_PROPERTY(bool Legal READ IsLegal WRITE SetLegal)

public:
    // Field types (the constructor's type argument).
    enum FieldType {
        Text = 0,               // anything
        Name = 1,               // a name: no special characters, no blank at either end
        PathName = 2,           // as Name, "\", "." and "@" allowed
        NoBackslash = 3,        // anything but "\" and line breaks
        Ipv4Address = 4,        // leading zeros are dropped after validation
        HostAddress = 5,        // a unicast IPv4 host address
        Ipv6Address = 6,
        Netmask = 7,
        HostOrName = 8,         // a host address or a host name
        Port = 9,               // 1 to 65535
        Digits = 10,
        Colour = 11,            // #RGB or #RRGGBB
        Description = 14,
        MinutesOrSeconds = 16,  // 0 to 59
        Hours = 17,             // 0 to 23
        ShortDigits = 18,       // up to 8 digits
        NoAmpersand = 19,
        Decimal = 20,
        Alphanumeric = 21,
        UpperAlphanumeric = 22,
        ModelCode = 23,
        MacAddress = 24
    };

    enum ErrorCode {
        ErrorNone = 0,
        ErrorFormat = 1,
        ErrorEmpty = 2,
        ErrorTooLong = 3,
        ErrorRefused = 4,
        ErrorRange = 5,
        ErrorValidator = 6,
        ErrorAddress = 7,
        ErrorHostName = 9,
        ErrorSetIllegal = 10    // SetLegal(false) from outside
    };

    // maximumLength -1 takes the type's default maximum (0 = no limit).
    explicit VelaLineEdit(QWidget *parent = nullptr, int type = Text, bool allowEmpty = true,
                          int maximumLength = -1);

    int Type() const;
    int MaximumLength() const;
    bool AllowEmpty() const;
    void SetAllowEmpty(bool allowEmpty);

    // Runs the chain, stores the error code, sets `Legal` and the tool tip and emits
    // SigValidated. Returns whether the text is legal.
    bool Validate();
    int ErrorCode() const;
    bool IsLegal() const;
    // Sets the verdict from outside: `Legal`, the tool tip (wrapped in "<a>%1</a>" when
    // richToolTip is set; empty clears it) and the error code (0 or ErrorSetIllegal).
    void SetLegal(bool legal, const QString &toolTip = QString(), bool richToolTip = false);

    void SetValidateOnFocusOut(bool validate);
    // Ranges of the numeric types (the port type starts at 1 to 65535).
    void SetIntRange(int minimum, int maximum);
    void SetDoubleRange(double minimum, double maximum);
    // Texts the field refuses (names already taken...); errorText is the tool tip,
    // "Invalid format." when empty.
    void SetRefusedValues(const QStringList &values, const QString &errorText = QString());
    // Attaches a validator; the field becomes its parent when it has none.
    void AddValidator(VelaLineEditValidator *validator);

    // The clear button inside the field (created on first use), shown while the field
    // has text; it empties the field, focuses it and emits SigClean.
    void EnableClearButton(bool enable);
    QPushButton *ClearButton() const;

    // The on-screen keyboard layout that suits the type (VelaFieldTypes::KeyboardLayout).
    int KeyboardLayout() const;

    // VelaRevertable
    void SaveValue() override;
    void Revert() override;
    void Reset() override;
    bool IsChanged() const override;
    QString SavedValue() const;

    // VelaConditionData
    QVariant ConditionValue() const override;

signals:
    void SigValidated(bool blLegal, QString strToolTip);
    void SigClean();

public slots:
    // QLineEdit::setText, then the cursor to the start.
    void setText(QString strText);
    void SlotUpdateBtn();
    void SlotEmtpyText();

private slots:
    void SlotPasswordChanged();
    void SlotTextEdited();

protected:
    bool event(QEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void changeEvent(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

    // Width a subclass keeps free at the right for its own button.
    virtual int RightReservedWidth() const;
    // Places the clear button and sets the text margins; subclasses place their own
    // buttons after calling it.
    virtual void LayoutButtons();

private:
    int CheckText(const QString &text, QString &errorText) const;
    int CheckPatternAndRange(const QString &text) const;
    int CheckHostName(const QString &text) const;
    void NormaliseIpv4();
    void ApplyVerdict(bool legal, const QString &toolTip);
    void ApplyPlaceholderColour();

    bool m_allowEmpty;
    bool m_clearButtonEnabled = false;
    bool m_validateOnFocusOut = true;
    int m_type;
    int m_maximumLength;
    double m_doubleMinimum;
    double m_doubleMaximum;
    int m_intMinimum;
    int m_intMaximum;
    int m_keyboardLayout;
    QPushButton *m_clearButton = nullptr;
    int m_errorCode = ErrorNone;
    bool m_legal = true;
    QString m_savedValue;
    QList<QPointer<VelaLineEditValidator>> m_validators;
    QStringList m_refusedValues;
    QString m_refusedText;
    QRegExp m_pattern;
    QRegExp m_alternativePattern;
    VelaFieldTypes::Numeric m_numeric;
};
