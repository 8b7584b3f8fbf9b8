// The process-wide skin store. Every size, colour and image path that the widgets and
// windows use is read here by SkinKey; nothing of that kind is written into widget code.
//
// Start-up creates the VelaScale first (image paths depend on it), then calls
// LoadSkin once with the geometry, colour and image files. Lookups are plain index
// operations; each converts the stored text on every call.
//
//     VelaSkin *skin = VelaSkin::Instance();
//     int height = skin->GetInt(Skin::VELA_BUTTON::BTN_MIN_HEIGHT);
//     QString gif = skin->GetImage(Skin::VELA_STATUS_WIDGET::STYLE_PLAYER_LOADING_GIF);
//
// GUI thread only (the first Instance() call is guarded, loading and lookups are not).
#pragma once

#include "SkinKey.h"

#include <QColor>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>
#include <QVector>

class VelaSkin
{
public:
    // The store, created with its section and key names on the first call; it lives
    // until the process ends.
    static VelaSkin *Instance();

    // Reads the three skin files and fills the values. A file that cannot be read adds
    // nothing; where two files hold the same key the later one wins; keys the files do
    // not mention keep the value they had. Sections and keys unknown to the table are
    // ignored.
    void LoadSkin(const QString &geometryPath, const QString &colorPath, const QString &imagePath);

    // Typed lookups. Each returns the stated fallback when the key has no value or its
    // text does not have the expected form.
    int GetInt(SkinKey key) const;              // 0
    QColor GetColor(SkinKey key) const;         // invalid colour; "#RRGGBB" or "#AARRGGBB"
    QString GetString(SkinKey key) const;       // empty string
    QString GetImage(SkinKey key) const;        // empty string; "%x/" resolved for the display
    QSize GetSize(SkinKey key) const;           // QSize(-1, -1); "w, h"
    QPoint GetPoint(SkinKey key) const;         // QPoint(0, 0); "x, y"
    QMargins GetMargins(SkinKey key) const;     // QMargins(); "left, top, right, bottom"
    QRect GetRect(SkinKey key) const;           // QRect(); "x, y, width, height"
    QVariant GetVariant(SkinKey key) const;     // invalid QVariant

    // The key table, for diagnostics and tests.
    int SectionCount() const;
    int KeyCount(int section) const;
    QString SectionName(int section) const;
    QString KeyName(SkinKey key) const;

private:
    VelaSkin();
    VelaSkin(const VelaSkin &) = delete;
    VelaSkin &operator=(const VelaSkin &) = delete;

    void InitKeyTable();    // generated from the skin files
    const QVariant &Value(SkinKey key) const;
    bool NumberList(SkinKey key, int count, QVector<int> &numbers) const;

    QVector<QString> m_sectionNames;
    QVector<QVector<QString>> m_keyNames;
    QVector<QVector<QVariant>> m_values;
};
