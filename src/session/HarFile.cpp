#include "session/HarFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

qsizetype HarConnection::sentCount() const
{
    qsizetype count = 0;
    for (const HarMessage& message : messages)
        count += message.sent ? 1 : 0;
    return count;
}

namespace {

QList<HarConnection::Header> headersOf(const QJsonValue& value)
{
    QList<HarConnection::Header> headers;
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject header = item.toObject();
        const QJsonValue name = header.value(QLatin1String("name"));
        if (name.isString())
            headers.append({name.toString(), header.value(QLatin1String("value")).toString()});
    }
    return headers;
}

QJsonArray headersJson(const QList<HarConnection::Header>& headers)
{
    QJsonArray array;
    for (const auto& [name, value] : headers)
        array.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("value"), value}});
    return array;
}

bool isWebSocketEntry(const QJsonObject& entry)
{
    return entry.value(QLatin1String("_resourceType")).toString() == QLatin1String("websocket") ||
           entry.value(QLatin1String("_webSocketMessages")).isArray();
}

// Seconds since the epoch as a decimal, to the millisecond.
bool msecsOf(const QJsonValue& time, qint64* msecs)
{
    if (!time.isDouble())
        return false;
    const double seconds = time.toDouble();
    // Beyond what a QDateTime holds a value is no time at all.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12)
        return false;
    *msecs = qint64(std::llround(seconds * 1000.0));
    return true;
}

// One message, or why it cannot be read. A message missing one of the four
// fields is skipped, as the browsers' importer does; one with a field of the
// wrong kind makes the file unreadable.
enum class MessageRead
{
    Ok,
    Skip,
    Wrong
};

MessageRead readMessage(const QJsonObject& object, HarMessage* message, QString* why)
{
    const QJsonValue type = object.value(QLatin1String("type"));
    const QJsonValue time = object.value(QLatin1String("time"));
    const QJsonValue opcode = object.value(QLatin1String("opcode"));
    const QJsonValue data = object.value(QLatin1String("data"));
    if (type.isUndefined() || time.isUndefined() || opcode.isUndefined() || data.isUndefined())
        return MessageRead::Skip;
    if (type.toString() == QLatin1String("send"))
        message->sent = true;
    else if (type.toString() == QLatin1String("receive"))
        message->sent = false;
    else {
        *why = QStringLiteral("type 不是 send 或 receive");
        return MessageRead::Wrong;
    }
    if (!msecsOf(time, &message->msecs)) {
        *why = QStringLiteral("time 不是时间");
        return MessageRead::Wrong;
    }
    const double code = opcode.toDouble(-1);
    if (!opcode.isDouble() || (code != 1 && code != 2)) {
        // Control frames are no messages: some tools write them anyway.
        if (code == 8 || code == 9 || code == 10)
            return MessageRead::Skip;
        *why = QStringLiteral("opcode 不是 1 或 2");
        return MessageRead::Wrong;
    }
    if (!data.isString()) {
        *why = QStringLiteral("data 不是字符串");
        return MessageRead::Wrong;
    }
    message->binary = code == 2;
    if (!message->binary) {
        message->data = data.toString().toUtf8();
    } else {
        auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        // Latin-1 turns other characters into '?', which Base64 refuses.
        if (!decoded) {
            *why = QStringLiteral("data 不是有效的 Base64");
            return MessageRead::Wrong;
        }
        message->data = *decoded;
    }
    message->peer = object.value(QLatin1String("_peer")).toString();
    return MessageRead::Ok;
}

} // namespace

HarFile::ReadResult HarFile::parse(const QByteArray& json)
{
    QByteArray copy = json;
    return parse(std::move(copy));
}

HarFile::ReadResult HarFile::parse(QByteArray&& json)
{
    ReadResult result;
    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    // The file's bytes are not needed beside their document: a large file
    // would otherwise be held twice while its messages are taken out.
    json = QByteArray();
    if (document.isNull()) {
        result.error = QStringLiteral("不是 JSON 文件: %1 (第 %2 字节)")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return result;
    }
    const QJsonValue entries =
        document.object().value(QLatin1String("log")).toObject().value(QLatin1String("entries"));
    if (!entries.isArray()) {
        result.error = QStringLiteral("不是 HAR 文件: 没有 log.entries");
        return result;
    }
    const QJsonArray entryArray = entries.toArray();
    for (qsizetype e = 0; e < entryArray.size(); ++e) {
        const QJsonObject entry = entryArray.at(e).toObject();
        if (!isWebSocketEntry(entry))
            continue;
        HarConnection connection;
        const QJsonObject request = entry.value(QLatin1String("request")).toObject();
        const QJsonObject response = entry.value(QLatin1String("response")).toObject();
        connection.url = request.value(QLatin1String("url")).toString();
        connection.httpVersion =
            request.value(QLatin1String("httpVersion")).toString(connection.httpVersion);
        connection.requestHeaders = headersOf(request.value(QLatin1String("headers")));
        connection.status = response.value(QLatin1String("status")).toInt(101);
        connection.responseHeaders = headersOf(response.value(QLatin1String("headers")));
        connection.started = QDateTime::fromString(
            entry.value(QLatin1String("startedDateTime")).toString(), Qt::ISODateWithMs);

        const QJsonArray messages = entry.value(QLatin1String("_webSocketMessages")).toArray();
        connection.messages.reserve(messages.size());
        for (qsizetype m = 0; m < messages.size(); ++m) {
            HarMessage message;
            QString why = QStringLiteral("不是对象");
            const MessageRead read = messages.at(m).isObject()
                                         ? readMessage(messages.at(m).toObject(), &message, &why)
                                         : MessageRead::Wrong;
            switch (read) {
            case MessageRead::Ok:
                connection.messages.append(std::move(message));
                break;
            case MessageRead::Skip:
                break;
            case MessageRead::Wrong:
                result.connections.clear();
                result.error = QStringLiteral("第 %1 个条目的第 %2 条消息有误: %3")
                                   .arg(e + 1)
                                   .arg(m + 1)
                                   .arg(why);
                return result;
            }
        }

        const QJsonObject own = entry.value(QLatin1String("_sockwise")).toObject();
        connection.peer = own.value(QLatin1String("peer")).toString();
        for (const QJsonValue& item : own.value(QLatin1String("system")).toArray()) {
            const QJsonObject object = item.toObject();
            HarNote note;
            if (!msecsOf(object.value(QLatin1String("time")), &note.msecs))
                continue;
            note.text = object.value(QLatin1String("text")).toString();
            note.beforeMessage =
                std::clamp<qsizetype>(qsizetype(object.value(QLatin1String("before")).toDouble()),
                                      0, connection.messages.size());
            connection.notes.append(note);
        }
        std::stable_sort(
            connection.notes.begin(), connection.notes.end(),
            [](const HarNote& a, const HarNote& b) { return a.beforeMessage < b.beforeMessage; });
        if (!connection.started.isValid()) {
            const qint64 first = connection.messages.isEmpty() ? 0 : connection.messages[0].msecs;
            connection.started = QDateTime::fromMSecsSinceEpoch(first, QTimeZone::utc());
        }
        result.connections.append(std::move(connection));
    }
    if (result.connections.isEmpty())
        result.error = QStringLiteral("文件中没有 WebSocket 连接");
    return result;
}

HarFile::ReadResult HarFile::read(const QString& path)
{
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("无法打开文件: %1").arg(file.errorString());
        return result;
    }
    if (file.size() > maxFileBytes) {
        result.error =
            QStringLiteral("文件太大 (%1 MiB，最多 256 MiB)").arg(file.size() / (1024 * 1024));
        return result;
    }
    QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        result.error = QStringLiteral("无法读取文件: %1").arg(file.errorString());
        return result;
    }
    return parse(std::move(bytes));
}

QByteArray HarFile::serialize(const QList<HarConnection>& connections)
{
    QJsonArray entries;
    for (const HarConnection& connection : connections) {
        QJsonArray messages;
        for (const HarMessage& message : connection.messages) {
            QJsonObject object{{QStringLiteral("type"),
                                message.sent ? QStringLiteral("send") : QStringLiteral("receive")},
                               {QStringLiteral("time"), double(message.msecs) / 1000.0},
                               {QStringLiteral("opcode"), message.binary ? 2 : 1},
                               {QStringLiteral("data"),
                                message.binary ? QString::fromLatin1(message.data.toBase64())
                                               : QString::fromUtf8(message.data)}};
            if (!message.peer.isEmpty() && message.peer != connection.peer)
                object.insert(QStringLiteral("_peer"), message.peer);
            messages.append(object);
        }
        QJsonArray notes;
        for (const HarNote& note : connection.notes)
            notes.append(QJsonObject{{QStringLiteral("time"), double(note.msecs) / 1000.0},
                                     {QStringLiteral("before"), double(note.beforeMessage)},
                                     {QStringLiteral("text"), note.text}});
        const QJsonObject request{
            {QStringLiteral("method"), QStringLiteral("GET")},
            {QStringLiteral("url"), connection.url},
            {QStringLiteral("httpVersion"), connection.httpVersion},
            {QStringLiteral("headers"), headersJson(connection.requestHeaders)},
            {QStringLiteral("queryString"), QJsonArray()},
            {QStringLiteral("cookies"), QJsonArray()},
            {QStringLiteral("headersSize"), -1},
            {QStringLiteral("bodySize"), 0}};
        const QJsonObject response{
            {QStringLiteral("status"), connection.status},
            {QStringLiteral("statusText"), QStringLiteral("Switching Protocols")},
            {QStringLiteral("httpVersion"), connection.httpVersion},
            {QStringLiteral("headers"), headersJson(connection.responseHeaders)},
            {QStringLiteral("cookies"), QJsonArray()},
            {QStringLiteral("content"),
             QJsonObject{{QStringLiteral("size"), 0}, {QStringLiteral("mimeType"), QString()}}},
            {QStringLiteral("redirectURL"), QString()},
            {QStringLiteral("headersSize"), -1},
            {QStringLiteral("bodySize"), 0}};
        QJsonObject entry{{QStringLiteral("startedDateTime"),
                           connection.started.toUTC().toString(Qt::ISODateWithMs)},
                          {QStringLiteral("time"), 0},
                          {QStringLiteral("request"), request},
                          {QStringLiteral("response"), response},
                          {QStringLiteral("cache"), QJsonObject()},
                          {QStringLiteral("timings"), QJsonObject{{QStringLiteral("send"), 0},
                                                                  {QStringLiteral("wait"), 0},
                                                                  {QStringLiteral("receive"), 0}}},
                          {QStringLiteral("_resourceType"), QStringLiteral("websocket")},
                          {QStringLiteral("_webSocketMessages"), messages}};
        if (!connection.peer.isEmpty() || !notes.isEmpty())
            entry.insert(QStringLiteral("_sockwise"),
                         QJsonObject{{QStringLiteral("peer"), connection.peer},
                                     {QStringLiteral("system"), notes}});
        entries.append(entry);
    }
    QString version = QCoreApplication::applicationVersion();
    const QJsonObject log{{QStringLiteral("version"), QStringLiteral("1.2")},
                          {QStringLiteral("creator"),
                           QJsonObject{{QStringLiteral("name"), QStringLiteral("Sockwise")},
                                       {QStringLiteral("version"),
                                        version.isEmpty() ? QStringLiteral("1") : version}}},
                          {QStringLiteral("pages"), QJsonArray()},
                          {QStringLiteral("entries"), entries}};
    return QJsonDocument(QJsonObject{{QStringLiteral("log"), log}}).toJson(QJsonDocument::Indented);
}

bool HarFile::write(const QString& path, const QList<HarConnection>& connections, QString* error)
{
    QSaveFile file(path);
    const QByteArray bytes = serialize(connections);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
