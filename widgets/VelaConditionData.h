// Values that a form's rule checker reads: a field offers its current value, and a
// field with a variable name can be referred to by that name in the rules ("enable the
// port field when the protocol field is not empty").
#pragma once

#include <QString>
#include <QVariant>

class VelaConditionData
{
public:
    virtual ~VelaConditionData() = default;

    // The value the rules test.
    virtual QVariant ConditionValue() const = 0;
};

class VelaVarNameConditionData : public VelaConditionData
{
public:
    void SetVarName(const QString &varName) { m_varName = varName; }
    QString VarName() const { return m_varName; }

private:
    QString m_varName;
};
