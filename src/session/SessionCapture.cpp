#include "session/SessionCapture.h"

#include <QTimeZone>

#include <algorithm>

namespace {

QDateTime startOf(const QList<LogEntry>& entries)
{
    return entries.isEmpty() ? QDateTime::currentDateTimeUtc() : entries.first().timestamp();
}

void addNote(HarConnection* connection, const LogEntry& entry)
{
    connection->notes.append(
        {entry.timestamp().toMSecsSinceEpoch(), connection->messages.size(), entry.text()});
}

} // namespace

HarMessage SessionCapture::messageOf(const LogEntry& entry)
{
    HarMessage message;
    message.sent = entry.direction() == LogEntry::TX;
    message.msecs = entry.timestamp().toMSecsSinceEpoch();
    // A frame logged without its kind is kept as bytes: its text may not be UTF-8.
    message.binary = entry.frameKind() != LogEntry::FrameKind::Text;
    message.data = entry.rawData();
    message.peer = entry.peer();
    return message;
}

HarConnection SessionCapture::clientConnection(const QList<LogEntry>& entries, const QString& url,
                                               const QList<HarConnection::Header>& requestHeaders)
{
    HarConnection connection;
    connection.url = url;
    connection.requestHeaders = requestHeaders;
    connection.started = startOf(entries);
    for (const LogEntry& entry : entries) {
        if (entry.direction() == LogEntry::SYS) {
            addNote(&connection, entry);
            continue;
        }
        if (connection.peer.isEmpty())
            connection.peer = entry.peer();
        connection.messages.append(messageOf(entry));
    }
    // Without a connection of this run, the log's frames name the server.
    if (connection.url.isEmpty())
        connection.url = connection.peer;
    return connection;
}

QList<HarConnection> SessionCapture::serverConnections(const QList<LogEntry>& entries,
                                                       const QList<ClientSpan>& clients)
{
    QList<HarConnection> connections;
    for (const ClientSpan& client : clients) {
        HarConnection connection;
        connection.url = client.url;
        connection.peer = client.peer;
        connections.append(connection);
    }
    auto connectedAt = [&clients](qsizetype i, quint64 serial) {
        return clients[i].joined <= serial && (clients[i].left == 0 || serial <= clients[i].left);
    };
    auto isClient = [&clients](const QString& peer) {
        return std::any_of(clients.begin(), clients.end(),
                           [&peer](const ClientSpan& client) { return client.peer == peer; });
    };
    for (const LogEntry& entry : entries) {
        const quint64 serial = entry.serial();
        QList<qsizetype> targets;
        qsizetype latest = -1;
        for (qsizetype i = 0; i < clients.size(); ++i) {
            if (clients[i].joined <= serial)
                latest = i;
            if (!connectedAt(i, serial))
                continue;
            // A frame of one client belongs to its own connection only.
            if (entry.direction() == LogEntry::SYS || entry.peer() == clients[i].peer ||
                (entry.direction() == LogEntry::TX && !isClient(entry.peer())))
                targets.append(i);
        }
        if (entry.direction() == LogEntry::SYS && targets.isEmpty() && !clients.isEmpty())
            targets.append(latest >= 0 ? latest : 0);
        for (qsizetype i : targets) {
            HarConnection& connection = connections[i];
            if (!connection.started.isValid())
                connection.started = entry.timestamp();
            if (entry.direction() == LogEntry::SYS)
                addNote(&connection, entry);
            else
                connection.messages.append(messageOf(entry));
        }
    }
    for (HarConnection& connection : connections) {
        if (!connection.started.isValid())
            connection.started = startOf(entries);
    }
    return connections;
}

QList<LogEntry> SessionCapture::logEntries(const HarConnection& connection,
                                           const QString& encodingName)
{
    QList<LogEntry> entries;
    entries.reserve(connection.messages.size() + connection.notes.size());
    auto timeOf = [](qint64 msecs) {
        return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::systemTimeZone());
    };
    qsizetype note = 0;
    auto notesBefore = [&](qsizetype message) {
        for (; note < connection.notes.size() && connection.notes[note].beforeMessage <= message;
             ++note) {
            LogEntry entry(connection.notes[note].text);
            entry.setTimestamp(timeOf(connection.notes[note].msecs));
            entries.append(entry);
        }
    };
    const QString serverPeer = connection.peer.isEmpty() ? connection.url : connection.peer;
    for (qsizetype i = 0; i < connection.messages.size(); ++i) {
        notesBefore(i);
        const HarMessage& message = connection.messages[i];
        const QString peer = message.peer.isEmpty() ? serverPeer : message.peer;
        LogEntry entry(message.sent ? LogEntry::TX : LogEntry::RX, message.data,
                       message.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text,
                       peer, encodingName);
        entry.setTimestamp(timeOf(message.msecs));
        entries.append(entry);
    }
    notesBefore(connection.messages.size());
    return entries;
}
