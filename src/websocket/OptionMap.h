#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// Typed reads from a settings map: a value of the wrong type or out of range
// leaves the target as it is and names its key in `rejected`.
class OptionMap
{
public:
    OptionMap(const QVariantMap& map, QStringList* rejected)
        : m_map(map)
        , m_rejected(rejected)
    {}

    void read(const char* key, QString* target) const;
    void read(const char* key, QStringList* target) const;
    void read(const char* key, bool* target) const;
    void read(const char* key, int* target, int min, int max) const;
    // An index into `names`, stored as the name.
    void readChoice(const char* key, int* target, const QStringList& names) const;

private:
    void reject(const char* key) const;

    const QVariantMap& m_map;
    QStringList* m_rejected;
};
