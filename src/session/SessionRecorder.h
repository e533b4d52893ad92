#pragma once

#include "comm/LogEntry.h"
#include "session/HarModel.h"
#include "websocket/ConnectionManager.h"

#include <QList>
#include <QMap>
#include <QObject>

// What went over a connection without a window, kept for a HAR file: the
// client connection of client mode, or one connection per client of the
// server. Received frames are taken from the connection; sent ones are told.
class SessionRecorder : public QObject
{
    Q_OBJECT

public:
    explicit SessionRecorder(ConnectionManager* connection, QObject* parent = nullptr);

    // A frame that left for `recipients` as the connection named them (a
    // client, or every client of the server).
    void recordSent(const QByteArray& data, LogEntry::FrameKind kind, const QString& recipients);

    QList<HarConnection> connections() const { return m_connections.values(); }
    bool save(const QString& path, QString* error) const;

private:
    void open(ConnectionManager::ClientId id, const QString& peer, const QString& url);
    void add(ConnectionManager::ClientId id, bool sent, const QByteArray& data, bool binary,
             const QString& peer);

    ConnectionManager* m_connection;
    // Keyed by the order they opened in; `m_open` maps the ones open to it.
    QMap<int, HarConnection> m_connections;
    QMap<ConnectionManager::ClientId, int> m_open;
    int m_opened = 0;
};
