#pragma once

#include "comm/LogEntry.h"
#include "session/RecordedExchange.h"
#include "websocket/ConnectionManager.h"

#include <QHash>
#include <QObject>

class QTimer;

// The recorded server side, played to every client of the server: what the
// server sent before the first client frame goes out on connect, and after
// a client's k-th frame what it sent after the recording's k-th. A client
// frame that differs from the recording is reported and the play goes on.
class RecordingMock : public QObject
{
    Q_OBJECT

public:
    explicit RecordingMock(ConnectionManager* connection, QObject* parent = nullptr);

    // With `recordedGaps` the frames keep the recording's pauses; otherwise
    // they go out at once.
    void setRecording(const RecordedExchange& exchange, bool recordedGaps);
    // Clients already connected start from the beginning.
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }

    // Whether the recording has an answer to the client's next frame; false
    // once it has played past the recording's last client frame.
    bool covers(ConnectionManager::ClientId id) const;

signals:
    void frameSent(const QByteArray& data, LogEntry::FrameKind kind, const QString& recipients);
    void notice(const QString& text);
    // A client frame beyond what the recording covers, for whoever answers
    // the rest.
    void uncovered(ConnectionManager::ClientId id, const QByteArray& data, bool binary);

private:
    struct Client
    {
        qsizetype clientFrames = 0;
        QList<RecordedExchange::ServerFrame> queue;
        QTimer* timer = nullptr;
    };
    void joined(ConnectionManager::ClientId id);
    void left(ConnectionManager::ClientId id);
    void received(const QString& peer, const QByteArray& data, bool binary);
    void play(ConnectionManager::ClientId id, const QList<RecordedExchange::ServerFrame>& frames);
    void sendDue(ConnectionManager::ClientId id, bool waited);

    ConnectionManager* m_connection;
    RecordedExchange m_exchange;
    bool m_recordedGaps = false;
    bool m_enabled = false;
    QHash<ConnectionManager::ClientId, Client> m_clients;
};
