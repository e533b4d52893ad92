#include "websocket/SendController.h"

#include "comm/CommunicationBase.h"
#include "reply/TemplateExpander.h"
#include "websocket/AutoSendPolicy.h"
#include "websocket/SendComposer.h"

SendController::SendController(ConnectionManager* connection, CommunicationBase* log,
                               AutoSendPolicy* autoSend, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_log(log)
    , m_autoSend(autoSend)
{}

void SendController::sendFromBox(const SendBoxContent& content, ConnectionManager::ClientId target,
                                 bool byUser)
{
    SendBoxContent filled = content;
    if (m_templates && TemplateExpander::hasVariables(content.text)) {
        TemplateExpander::Context context;
        context.seq = ++m_boxSeq;
        filled.text = TemplateExpander::expand(content.text, context);
    }
    if (!send(filled, target, byUser) || !byUser)
        return;
    if (m_history.record(content)) {
        emit historyChanged();
    } else if (!m_largePayloadReported) {
        m_largePayloadReported = true;
        m_log->logSystem(QStringLiteral("超过 %1 KiB 的内容不记入发送历史")
                             .arg(SendHistory::maxEntryBytes / 1024));
    }
}

bool SendController::send(const SendBoxContent& content, ConnectionManager::ClientId target,
                          bool byUser)
{
    const SendComposition c = SendComposer::compose(content, *m_log, m_encoder);
    if (c.outcome == SendComposition::Outcome::Empty)
        return false;
    if (c.outcome == SendComposition::Outcome::Refused) {
        reportProblem(c.problem, byUser);
        return false;
    }
    ConnectionManager::SendResult result;
    if (m_connection->speaksProtocol()) {
        OutgoingMessage message = m_fields ? m_fields() : OutgoingMessage();
        // Hex bytes go as a binary argument; anything else is JSON text.
        message.binary = content.hex;
        message.payload = content.hex ? c.payload : content.text.toUtf8();
        result = m_connection->sendMessage(message);
    } else {
        result = c.asText ? m_connection->sendText(c.text, target)
                          : m_connection->send(c.payload, c.kind, target);
    }
    return conclude(result, c.payload, c.kind, byUser);
}

bool SendController::resend(const QByteArray& data, LogEntry::FrameKind kind,
                            ConnectionManager::ClientId target)
{
    if (kind == LogEntry::FrameKind::Unknown)
        return false;
    return conclude(m_connection->send(data, kind, target), data, kind, true);
}

bool SendController::conclude(const ConnectionManager::SendResult& result,
                              const QByteArray& payload, LogEntry::FrameKind kind, bool byUser)
{
    using Status = ConnectionManager::SendStatus;
    switch (result.status) {
    case Status::Sent:
        if (result.shown.isEmpty())
            m_log->logFrame(LogEntry::TX, payload, kind, result.recipients);
        for (const auto& [data, shownKind] : result.shown)
            m_log->logFrame(LogEntry::TX, data, shownKind, result.recipients);
        if (!byUser)
            m_autoSend->tickSent();
        return true;
    case Status::Refused:
        reportProblem(result.problem, byUser);
        return false;
    case Status::NotText:
        reportProblem(QStringLiteral("未发送：数据不是有效的 UTF-8，不能作为文本帧发送"), byUser);
        return false;
    case Status::NotConnected:
    case Status::NoClients:
    case Status::Failed:
        break;
    }
    // Auto-send ticks that reach nobody stay quiet: one message per tick
    // would flood the log.
    if (!byUser)
        return false;
    if (result.status == Status::NoClients)
        m_log->logSystem(QStringLiteral("未发送：没有已连接的客户端"));
    else if (result.status == Status::Failed)
        m_log->logSystem(QStringLiteral("未发送：连接未接收数据"));
    else
        m_log->logSystem(QStringLiteral("未发送：未连接"));
    return false;
}

void SendController::reportProblem(const QString& text, bool byUser)
{
    if (!byUser && !m_autoSend->shouldReport(text))
        return;
    m_log->logSystem(text);
}
