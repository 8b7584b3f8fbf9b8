// Proxy style for labels: a disabled label draws its text flat, in the colour the
// style sheet gives for ":disabled", instead of the etched or dithered look of the
// platform style. Each eliding label creates its own, parents it to itself and
// installs it with QWidget::setStyle.
#pragma once

#include <QProxyStyle>

class VelaLabelStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // A null base style means the application's style.
    explicit VelaLabelStyle(QStyle *baseStyle = nullptr);

    // 0 for SH_EtchDisabledText and SH_DitherDisabledText, the base answer otherwise.
    int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
};
