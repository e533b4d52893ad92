#pragma once

#include "comm/LogEntry.h"
#include "session/HarModel.h"

#include <QList>
#include <QString>

// Between the communication log and recorded connections: what "保存会话…"
// writes and what "打开会话…" puts back into the log.
class SessionCapture
{
public:
    // A client of the server while it was connected: log serials from
    // `joined` up to `left` (0: still connected).
    struct ClientSpan
    {
        QString peer;
        QString url;
        quint64 joined = 0;
        quint64 left = 0;
    };

    // Client mode: every frame and system entry in one connection to `url`.
    static HarConnection clientConnection(const QList<LogEntry>& entries, const QString& url,
                                          const QList<HarConnection::Header>& requestHeaders);
    // Server mode: one connection per client. A frame sent to every client
    // goes into each one connected then; a system entry into those connected
    // then, or the latest client when none was.
    static QList<HarConnection> serverConnections(const QList<LogEntry>& entries,
                                                  const QList<ClientSpan>& clients);

    // The connection's frames and system entries as log entries, in their
    // order, with their recorded times.
    // Binary frames read with `encodingName`.
    static QList<LogEntry> logEntries(const HarConnection& connection, const QString& encodingName);

    static HarMessage messageOf(const LogEntry& entry);

    SessionCapture() = delete;
};
