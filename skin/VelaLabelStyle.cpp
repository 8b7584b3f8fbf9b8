// Label proxy style: switches off the engraved look of disabled text.
#include "VelaLabelStyle.h"

VelaLabelStyle::VelaLabelStyle(QStyle *baseStyle)
    : QProxyStyle(baseStyle)
{
}

int VelaLabelStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                              QStyleHintReturn *returnData) const
{
    if (hint == QStyle::SH_EtchDisabledText || hint == QStyle::SH_DitherDisabledText)
        return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}
