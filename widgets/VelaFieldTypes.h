// The field types of VelaLineEdit: for each, the keystroke filter, the whole-text
// pattern, the numeric check, the default maximum length and the on-screen keyboard
// layout. The type is fixed when the field is built; VelaLineEdit is the only user.
#pragma once

#include <QString>

namespace VelaFieldTypes {

// What the numeric check of a type compares with the field's range.
enum class Numeric {
    None,
    Int,       // the text as an int within the field's int range
    Double     // the text as a double within the field's double range
};

// On-screen keyboard layouts; types 1 to 21 choose theirs, every other type gets the
// full keyboard.
enum KeyboardLayout {
    KeyboardDigits = 1,
    KeyboardDecimal = 2,
    KeyboardHex = 3,
    KeyboardHostName = 4,
    KeyboardColour = 5,
    KeyboardFull = 6
};

struct TypeRules
{
    QString filter;             // QRegExp for QRegExpValidator; empty: no filter
    QString pattern;            // exact-match QRegExp; empty: no pattern
    QString alternativePattern; // a second pattern that is accepted as well
    Numeric numeric = Numeric::None;
    int defaultMaximum = 0;     // 0: no limit
    int keyboardLayout = KeyboardFull;
};

// The rules of a type; types without rules of their own get the defaults (no filter,
// no pattern, no limit, the full keyboard).
TypeRules RulesOf(int type);

// Host address: first part 1 to 223 except 127, then two parts 0 to 255, the last
// part 1 to 255. Also used by the host-or-name type's further checks.
QString HostAddressPattern();

} // namespace VelaFieldTypes
