#pragma once

#include "decode/FrameEncoder.h"
#include "websocket/ConnectionManager.h"
#include "websocket/SendBoxContent.h"
#include "websocket/SendHistory.h"

#include <QObject>

#include <functional>

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

    // The bytes of a logged frame again, in the same kind of frame, logged
    // as any send by the user; returns whether it left.
    bool resend(const QByteArray& data, LogEntry::FrameKind kind,
                ConnectionManager::ClientId target);
    // On: the box's text is a template, filled in anew at each send (the
    // history keeps the template).
    void setTemplates(bool on) { m_templates = on; }
    // The name and answer request of a message in a protocol of its own
    // (Socket.IO's event field and "需要确认").
    void setMessageFields(std::function<OutgoingMessage()> fields) { m_fields = std::move(fields); }
    // Binary frames' plain text goes as this encoding of its JSON.
    void setEncoder(const FrameEncoder& encoder) { m_encoder = encoder; }

    SendHistory& history() { return m_history; }
    const SendHistory& history() const { return m_history; }

signals:
    void historyChanged();

private:
    void reportProblem(const QString& text, bool byUser);
    bool conclude(const ConnectionManager::SendResult& result, const QByteArray& payload,
                  LogEntry::FrameKind kind, bool byUser);

    ConnectionManager* m_connection;
    CommunicationBase* m_log;
    AutoSendPolicy* m_autoSend;
    SendHistory m_history;
    FrameEncoder m_encoder;
    bool m_largePayloadReported = false;
    bool m_templates = false;
    qint64 m_boxSeq = 0;
    std::function<OutgoingMessage()> m_fields;
};
