// Skin store: loading and merging the JSON skin files, typed lookups. The section and
// key names come from the generated InitKeyTable() (SkinKeyTable.cpp).
#include "VelaSkin.h"

#include "VelaScale.h"

#include <QFile>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <json/json.h>

#include <memory>

namespace {

Json::Value ReadSkinFile(const QString &path)
{
    Json::Value root;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return root;
    QByteArray bytes;
    while (!file.atEnd())
        bytes += file.readLine();

    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    // A damaged file keeps whatever the reader built before the damage.
    reader->parse(bytes.constData(), bytes.constData() + bytes.size(), &root, &errors);
    return root;
}

QVariant ToVariant(const Json::Value &value)
{
    switch (value.type()) {
    case Json::intValue:
        return QVariant(static_cast<qlonglong>(value.asInt64()));
    case Json::uintValue:
        return QVariant(static_cast<qulonglong>(value.asUInt64()));
    case Json::realValue:
        return QVariant(value.asDouble());
    case Json::stringValue:
        return QVariant(QString::fromUtf8(value.asCString()));
    case Json::booleanValue:
        return QVariant(value.asBool());
    case Json::arrayValue: {
        QVariantList list;
        for (const Json::Value &item : value)
            list.append(ToVariant(item));
        return list;
    }
    case Json::objectValue: {
        QVariantMap map;
        for (const std::string &name : value.getMemberNames())
            map.insert(QString::fromStdString(name), ToVariant(value[name]));
        return map;
    }
    case Json::nullValue:
        break;
    }
    return QVariant();
}

} // namespace

VelaSkin *VelaSkin::Instance()
{
    static VelaSkin skin;
    return &skin;
}

VelaSkin::VelaSkin()
{
    InitKeyTable();
}

void VelaSkin::LoadSkin(const QString &geometryPath, const QString &colorPath, const QString &imagePath)
{
    Json::Value merged(Json::objectValue);
    for (const QString &path : {geometryPath, colorPath, imagePath}) {
        const Json::Value root = ReadSkinFile(path);
        if (!root.isObject())
            continue;
        for (const std::string &section : root.getMemberNames()) {
            const Json::Value &keys = root[section];
            if (!keys.isObject())
                continue;
            for (const std::string &key : keys.getMemberNames())
                merged[section][key] = keys[key];
        }
    }

    for (int section = 0; section < m_sectionNames.size(); ++section) {
        QVector<QVariant> &values = m_values[section];
        values.resize(m_keyNames[section].size());
        const std::string sectionName = m_sectionNames[section].toStdString();
        if (!merged.isMember(sectionName))
            continue;
        Json::Value &keys = merged[sectionName];
        for (int key = 0; key < values.size(); ++key) {
            const std::string keyName = m_keyNames[section][key].toStdString();
            if (!keys.isMember(keyName))
                continue;
            values[key] = ToVariant(keys[keyName]);
            keys.removeMember(keyName);
        }
        merged.removeMember(sectionName);
    }
}

const QVariant &VelaSkin::Value(SkinKey key) const
{
    static const QVariant none;
    // Out-of-range keys and lookups made before LoadSkin fall back instead of
    // reading past the tables.
    if (key.section < 0 || key.section >= m_values.size())
        return none;
    const QVector<QVariant> &values = m_values[key.section];
    if (key.key < 0 || key.key >= values.size())
        return none;
    return values[key.key];
}

bool VelaSkin::NumberList(SkinKey key, int count, QVector<int> &numbers) const
{
    const QStringList parts = Value(key).toString().split(QLatin1Char(','));
    if (parts.size() != count)
        return false;
    numbers.clear();
    for (const QString &part : parts)
        numbers.append(part.trimmed().toInt());   // not a number: 0
    return true;
}

int VelaSkin::GetInt(SkinKey key) const
{
    return Value(key).toInt();
}

QColor VelaSkin::GetColor(SkinKey key) const
{
    QColor color;
    const QVariant &value = Value(key);
    if (value.isValid())
        color.setNamedColor(value.toString());
    return color;
}

QString VelaSkin::GetString(SkinKey key) const
{
    return Value(key).toString();
}

QString VelaSkin::GetImage(SkinKey key) const
{
    return VelaScale::ResolveScalePath(Value(key).toString(), 0);
}

QSize VelaSkin::GetSize(SkinKey key) const
{
    QVector<int> n;
    if (!NumberList(key, 2, n))
        return QSize(-1, -1);
    return QSize(n[0], n[1]);
}

QPoint VelaSkin::GetPoint(SkinKey key) const
{
    QVector<int> n;
    if (!NumberList(key, 2, n))
        return QPoint(0, 0);
    return QPoint(n[0], n[1]);
}

QMargins VelaSkin::GetMargins(SkinKey key) const
{
    QVector<int> n;
    if (!NumberList(key, 4, n))
        return QMargins(0, 0, 0, 0);
    return QMargins(n[0], n[1], n[2], n[3]);
}

QRect VelaSkin::GetRect(SkinKey key) const
{
    QVector<int> n;
    if (!NumberList(key, 4, n))
        return QRect();
    return QRect(n[0], n[1], n[2], n[3]);
}

QVariant VelaSkin::GetVariant(SkinKey key) const
{
    return Value(key);
}

int VelaSkin::SectionCount() const
{
    return m_sectionNames.size();
}

int VelaSkin::KeyCount(int section) const
{
    if (section < 0 || section >= m_keyNames.size())
        return 0;
    return m_keyNames[section].size();
}

QString VelaSkin::SectionName(int section) const
{
    if (section < 0 || section >= m_sectionNames.size())
        return QString();
    return m_sectionNames[section];
}

QString VelaSkin::KeyName(SkinKey key) const
{
    if (key.key < 0 || key.key >= KeyCount(key.section))
        return QString();
    return m_keyNames[key.section][key.key];
}
