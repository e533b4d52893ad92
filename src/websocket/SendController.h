#pragma once

#include "decode/FrameEncoder.h"
#include "websocket/ConnectionManager.h"
#include "websocket/SendBoxContent.h"
#include "websocket/SendHistory.h"

#include <QObject>

class AutoSendPolicy;
class CommunicationBase;

// A send from the box, a saved message or an auto-send tick: composed, handed
// to the connection, logged as what left, or logged as why it did not.
class SendController : public QObject
{
    Q_OBJECT

public:
    SendController(ConnectionManager* connection, CommunicationBase* log, AutoSendPolicy* autoSend,
                   QObject* parent = nullptr);

    // Returns whether the frame left. A send by the user that reaches nobody
    // says so; an auto-send tick stays quiet about it.
    bool send(const SendBoxContent& content, ConnectionManager::ClientId target, bool byUser);
    // As send(); what the user sent from the box is kept in the history.
    void sendFromBox(const SendBoxContent& content, ConnectionManager::ClientId target,
                     bool byUser);

    // Binary frames' plain text goes as this encoding of its JSON.
    void setEncoder(const FrameEncoder& encoder) { m_encoder = encoder; }

    SendHistory& history() { return m_history; }
    const SendHistory& history() const { return m_history; }

signals:
    void historyChanged();

private:
    void reportProblem(const QString& text, bool byUser);

    ConnectionManager* m_connection;
    CommunicationBase* m_log;
    AutoSendPolicy* m_autoSend;
    SendHistory m_history;
    FrameEncoder m_encoder;
    bool m_largePayloadReported = false;
};
