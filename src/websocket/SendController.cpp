#include "websocket/SendController.h"

#include "comm/CommunicationBase.h"
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
    if (!send(content, target, byUser) || !byUser)
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
    const ConnectionManager::SendResult result =
        c.asText ? m_connection->sendText(c.text, target)
                 : m_connection->send(c.payload, c.kind, target);

    using Status = ConnectionManager::SendStatus;
    switch (result.status) {
    case Status::Sent:
        m_log->logFrame(LogEntry::TX, c.payload, c.kind, result.recipients);
        if (!byUser)
            m_autoSend->tickSent();
        return true;
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
