#include "websocket/OptionMap.h"

namespace {

bool isText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

} // namespace

void OptionMap::reject(const char* key) const
{
    if (m_rejected)
        m_rejected->append(QString::fromLatin1(key));
}

void OptionMap::read(const char* key, QString* target) const
{
    const QVariant value = m_map.value(QString::fromLatin1(key));
    if (!value.isValid())
        return;
    if (isText(value))
        *target = value.toString();
    else
        reject(key);
}

void OptionMap::read(const char* key, QStringList* target) const
{
    const QVariant value = m_map.value(QString::fromLatin1(key));
    if (!value.isValid())
        return;
    // QSettings gives a one-element list back as a plain string.
    if (isText(value)) {
        *target = QStringList{value.toString()};
    } else if (value.typeId() == QMetaType::QStringList ||
               value.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& item : value.toList()) {
            if (!isText(item))
                return reject(key);
            list.append(item.toString());
        }
        *target = list;
    } else {
        reject(key);
    }
}

void OptionMap::read(const char* key, bool* target) const
{
    const QVariant value = m_map.value(QString::fromLatin1(key));
    if (!value.isValid())
        return;
    // Settings files keep booleans as the words true and false.
    const QString text = value.toString();
    if (value.typeId() == QMetaType::Bool)
        *target = value.toBool();
    else if (text == u"true" || text == u"false")
        *target = text == u"true";
    else
        reject(key);
}

void OptionMap::read(const char* key, int* target, int min, int max) const
{
    const QVariant value = m_map.value(QString::fromLatin1(key));
    if (!value.isValid())
        return;
    bool ok = false;
    const qlonglong number = value.toString().toLongLong(&ok);
    if (ok && number >= min && number <= max)
        *target = int(number);
    else
        reject(key);
}

void OptionMap::readChoice(const char* key, int* target, const QStringList& names) const
{
    const QVariant value = m_map.value(QString::fromLatin1(key));
    if (!value.isValid())
        return;
    const qsizetype index = names.indexOf(value.toString());
    if (index >= 0)
        *target = int(index);
    else
        reject(key);
}
