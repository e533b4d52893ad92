#include "decode/DecodedFrame.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString jsonText(const QJsonValue& value, QJsonDocument::JsonFormat format)
{
    // A document holds only an object or an array: a scalar goes in one and
    // comes out of its brackets.
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(format)).trimmed();
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(format)).trimmed();
    const QString wrapped =
        QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return wrapped.mid(1, wrapped.size() - 2);
}

} // namespace

QString DecodedFrame::compact() const
{
    return ok ? jsonText(json, QJsonDocument::Compact) : QString();
}

QString DecodedFrame::indented() const
{
    return ok ? jsonText(json, QJsonDocument::Indented) : QString();
}

QJsonObject DecodedFrame::objectOf(Members members)
{
    std::stable_sort(members.begin(), members.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QJsonObject object;
    for (qsizetype k = 0; k < members.size(); ++k) {
        // Of equal keys the last read wins, as an insert in order would have it.
        if (k + 1 < members.size() && members.at(k + 1).first == members.at(k).first)
            continue;
        object.insert(members.at(k).first, members.at(k).second);
    }
    return object;
}
