// Checks a VelaLineEdit runs after its own built-in ones (VelaLineEdit::AddValidator).
// Each returns true when the text is acceptable, and otherwise fills the error text
// that becomes the field's tool tip.
//
//     field->AddValidator(new VelaLineEditLambdaValidator([](const QString &text, QString &error) {
//         if (QFileInfo::exists(text)) return true;
//         error = TextById(TextId::WL_COMMON_INVALID_FORMAT);
//         return false;
//     }));
#pragma once

#include <QObject>
#include <QRegularExpression>
#include <QUrl>

#include <functional>

class VelaLineEditValidator : public QObject
{
    Q_OBJECT

public:
    explicit VelaLineEditValidator(QObject *parent = nullptr);

    virtual bool validate(const QString &text, QString &errorText) = 0;
};

// Accepts a text in which the expression finds a match (anchor it with ^ and $ to
// require the whole text).
class VelaRegularExpressionValidator : public VelaLineEditValidator
{
    Q_OBJECT

public:
    VelaRegularExpressionValidator(const QRegularExpression &expression, const QString &errorText,
                                   QObject *parent = nullptr);

    bool validate(const QString &text, QString &errorText) override;

private:
    QRegularExpression m_expression;
    QString m_errorText;
};

// Delegates to a function; accepts everything while no function is set.
class VelaLineEditLambdaValidator : public VelaLineEditValidator
{
    Q_OBJECT

public:
    using Check = std::function<bool(const QString &text, QString &errorText)>;

    explicit VelaLineEditLambdaValidator(Check check = Check(), QObject *parent = nullptr);
    void SetCheck(Check check);

    bool validate(const QString &text, QString &errorText) override;

private:
    Check m_check;
};

// Accepts a stream address: the text must make a valid URL after "http://". The error
// text is "Invalid format." in the user's language.
class VelaStreamPathValidator : public VelaLineEditValidator
{
    Q_OBJECT

public:
    explicit VelaStreamPathValidator(QObject *parent = nullptr);

    bool validate(const QString &text, QString &errorText) override;

private:
    QUrl m_url;
};
