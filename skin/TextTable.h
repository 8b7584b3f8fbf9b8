// The text table: every text the program shows is addressed by a text id, the index of
// its translation key in the table. Keys are sorted in byte order and generated from the
// project's text list together with the translation files, so ids only change when the
// list does; the named ids are in the generated TextIds.h (TextId::WL_COMMON_COMMON_OK).
//
// TextById() fetches a text through the installed translator (VelaLanguage) at the
// moment it is shown. Without a translation the key itself is returned, which makes a
// missing translation visible.
#pragma once

#include <QString>

class TextTable
{
public:
    static constexpr unsigned int Size = 7185;

    // Fills the table; start-up calls it before any text is fetched. Later calls, and
    // the lookups below, fill it first if that has not happened yet.
    static void Fill();

    // The key of an id, or nullptr for an id past the end of the table.
    static const char *Key(unsigned int id);

    // The id of a key, or -1 when the table has no such key.
    static int IdOfKey(const QByteArray &key);

private:
    static void FillKeys(const char **keys);    // generated, one assignment per entry
};

// The translated text of an id with its placeholders replaced, in this order: the
// two-character sequences backslash-n and backslash-t by a line feed and a tab, "@LTS@"
// by "<", "@GTS@" by ">", "@AND@" by "&" and "_OSNAME_" by "ZMX". Empty for an id past
// the end of the table.
QString TextById(unsigned int id);
