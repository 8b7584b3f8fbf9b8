// Text table storage and TextById. The key assignments are generated
// (TextTableData.cpp) from the committed text list.
#include "TextTable.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

const char *s_keys[TextTable::Size];
std::once_flag s_filled;

} // namespace

void TextTable::Fill()
{
    std::call_once(s_filled, [] { FillKeys(s_keys); });
}

const char *TextTable::Key(unsigned int id)
{
    if (id >= Size)
        return nullptr;
    Fill();
    return s_keys[id];
}

int TextTable::IdOfKey(const QByteArray &key)
{
    Fill();
    const char *const *begin = s_keys;
    const char *const *end = s_keys + Size;
    const char *const *found = std::lower_bound(begin, end, key.constData(), [](const char *a, const char *b) {
        return std::strcmp(a, b) < 0;
    });
    if (found == end || key != *found)
        return -1;
    return static_cast<int>(found - begin);
}

QString TextById(unsigned int id)
{
    const char *key = TextTable::Key(id);
    if (!key)
        return QString();
    QString text = QCoreApplication::translate("global", key);
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\\t"), QLatin1String("\t"));
    text.replace(QLatin1String("@LTS@"), QLatin1String("<"));
    text.replace(QLatin1String("@GTS@"), QLatin1String(">"));
    text.replace(QLatin1String("@AND@"), QLatin1String("&"));
    text.replace(QLatin1String("_OSNAME_"), QLatin1String("ZMX"));
    return text;
}
