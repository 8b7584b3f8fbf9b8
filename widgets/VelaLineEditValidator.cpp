#include "VelaLineEditValidator.h"

#include "TextIds.h"
#include "TextTable.h"

VelaLineEditValidator::VelaLineEditValidator(QObject *parent)
    : QObject(parent)
{
}

VelaRegularExpressionValidator::VelaRegularExpressionValidator(const QRegularExpression &expression,
                                                               const QString &errorText, QObject *parent)
    : VelaLineEditValidator(parent)
    , m_expression(expression)
    , m_errorText(errorText)
{
}

bool VelaRegularExpressionValidator::validate(const QString &text, QString &errorText)
{
    if (m_expression.match(text).hasMatch())
        return true;
    errorText = m_errorText;
    return false;
}

VelaLineEditLambdaValidator::VelaLineEditLambdaValidator(Check check, QObject *parent)
    : VelaLineEditValidator(parent)
    , m_check(std::move(check))
{
}

void VelaLineEditLambdaValidator::SetCheck(Check check)
{
    m_check = std::move(check);
}

bool VelaLineEditLambdaValidator::validate(const QString &text, QString &errorText)
{
    return m_check ? m_check(text, errorText) : true;
}

VelaStreamPathValidator::VelaStreamPathValidator(QObject *parent)
    : VelaLineEditValidator(parent)
{
}

bool VelaStreamPathValidator::validate(const QString &text, QString &errorText)
{
    m_url.setUrl(QStringLiteral("http://%1").arg(text));
    if (m_url.isValid())
        return true;
    errorText = TextById(TextId::WL_COMMON_INVALID_FORMAT);
    return false;
}
