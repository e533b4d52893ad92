#include "websocket/SavedMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString formatName = QStringLiteral("sockwise-quick-send");
constexpr int nameLength = 32;

QString frameName(bool binary)
{
    return binary ? QStringLiteral("binary") : QStringLiteral("text");
}

// One message of a file, or a reason why it is not one.
std::optional<SavedMessage> messageFromJson(const QJsonValue& value, QString* error)
{
    const QJsonObject object = value.toObject();
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue content = object.value(QStringLiteral("content"));
    const QJsonValue hex = object.value(QStringLiteral("hex"));
    const QJsonValue frame = object.value(QStringLiteral("frame"));
    if (!value.isObject() || !name.isString() || name.toString().trimmed().isEmpty())
        *error = QStringLiteral("缺少名称");
    else if (!content.isString())
        *error = QStringLiteral("缺少内容");
    else if (!hex.isBool())
        *error = QStringLiteral("hex 必须是 true 或 false");
    else if (frame.toString() != frameName(false) && frame.toString() != frameName(true))
        *error = QStringLiteral("frame 必须是 text 或 binary");
    else
        return SavedMessage{name.toString(),
                            {content.toString(), hex.toBool(), frame.toString() == u"binary"}};
    return std::nullopt;
}

} // namespace

int SavedMessages::add(SavedMessage message)
{
    if (message.name.trimmed().isEmpty())
        message.name = defaultName(message.content);
    m_items.append(message);
    return int(m_items.size()) - 1;
}

void SavedMessages::replace(int row, const SavedMessage& message)
{
    if (isRow(row))
        m_items[row] = message;
}

bool SavedMessages::move(int row, int offset)
{
    const int target = row + offset;
    if (!isRow(row) || !isRow(target))
        return false;
    m_items.move(row, target);
    return true;
}

void SavedMessages::remove(int row)
{
    if (isRow(row))
        m_items.removeAt(row);
}

QByteArray SavedMessages::toJson() const
{
    QJsonArray messages;
    for (const SavedMessage& message : m_items) {
        messages.append(QJsonObject{{QStringLiteral("name"), message.name},
                                    {QStringLiteral("content"), message.content.text},
                                    {QStringLiteral("hex"), message.content.hex},
                                    {QStringLiteral("frame"), frameName(message.content.binary)}});
    }
    const QJsonObject root{{QStringLiteral("format"), formatName},
                           {QStringLiteral("version"), 1},
                           {QStringLiteral("messages"), messages}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<QList<SavedMessage>> SavedMessages::fromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("不是有效的 JSON（位置 %1: %2）")
                     .arg(parse.offset)
                     .arg(parse.errorString());
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != formatName ||
        !root.value(QStringLiteral("messages")).isArray()) {
        *error = QStringLiteral("不是快捷发送文件（需要 \"format\": \"%1\" 和 \"messages\" 列表）")
                     .arg(formatName);
        return std::nullopt;
    }
    const QJsonArray messages = root.value(QStringLiteral("messages")).toArray();
    QList<SavedMessage> read;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        QString reason;
        const std::optional<SavedMessage> message = messageFromJson(messages.at(i), &reason);
        if (!message) {
            *error = QStringLiteral("第 %1 条消息: %2").arg(i + 1).arg(reason);
            return std::nullopt;
        }
        read.append(*message);
    }
    return read;
}

QString SavedMessages::defaultName(const SendBoxContent& content)
{
    const QString firstLine = content.text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (firstLine.isEmpty())
        return QStringLiteral("未命名");
    if (firstLine.size() <= nameLength)
        return firstLine;
    return firstLine.left(nameLength - 1) + QStringLiteral("…");
}
