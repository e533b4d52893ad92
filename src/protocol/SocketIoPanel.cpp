#include "protocol/SocketIoPanel.h"

#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"
#include "protocol/SocketIoPacket.h"
#include "websocket/ConnectionManager.h"
#include "websocket/ReceiveRouter.h"
#include "websocket/SendArea.h"
#include "websocket/SendController.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

// The event's document; empty (not null) for packets that are no event, so
// that rules find nothing in a handshake; null for what is no packet.
QString documentOf(const QString& frame)
{
    const std::optional<SocketIoPacket> packet = SocketIoPacket::parse(frame.toUtf8());
    if (!packet)
        return QString();
    return packet->isEvent() ? QString::fromUtf8(packet->document()) : QStringLiteral("");
}

} // namespace

SocketIoPanel::SocketIoPanel(const Parts& parts, QObject* parent)
    : QObject(parent)
    , m_parts(parts)
{
    m_fields = new QWidget(parts.sendArea);
    m_fields->setObjectName(QStringLiteral("socketIoFields"));
    auto* row = new QHBoxLayout(m_fields);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("事件"), m_fields));
    m_eventEdit = new QLineEdit(m_fields);
    m_eventEdit->setObjectName(QStringLiteral("eventEdit"));
    m_eventEdit->setPlaceholderText(QStringLiteral("事件名称，如 chat"));
    row->addWidget(m_eventEdit, 1);
    m_ackCheck = new QCheckBox(QStringLiteral("需要确认"), m_fields);
    m_ackCheck->setObjectName(QStringLiteral("ackCheck"));
    row->addWidget(m_ackCheck);
    if (auto* layout = qobject_cast<QVBoxLayout*>(parts.sendArea->layout()))
        layout->insertWidget(0, m_fields);
    updateFields();

    connect(parts.connection, &ConnectionManager::clientOptionsChanged, this,
            &SocketIoPanel::updateFields);
    parts.sender->setMessageFields([this] {
        OutgoingMessage message;
        message.name = m_eventEdit->text();
        message.wantAnswer = m_ackCheck->isChecked();
        return message;
    });
    connect(
        parts.connection, &ConnectionManager::protocolSent, parts.log,
        [log = parts.log](const QByteArray& data, LogEntry::FrameKind kind, const QString& peer) {
            log->logFrame(LogEntry::TX, data, kind, peer);
        });
    connect(parts.log, &CommunicationBase::logEntryAdded, this, &SocketIoPanel::noteEntry);
    connect(parts.log, &CommunicationBase::logCleared, this, [this] {
        m_ranges.clear();
        m_rangeOpen = false;
    });
    parts.logView->setEntryReader([this](const LogEntry& entry) { return read(entry); });
    parts.router->setDocumentReader([connection = parts.connection](const QString& frame) {
        return connection->speaksProtocol() ? documentOf(frame) : QString();
    });
}

void SocketIoPanel::updateFields()
{
    m_fields->setVisible(m_parts.connection->clientOptions().protocol.isSocketIo());
}

void SocketIoPanel::noteEntry(const LogEntry& entry)
{
    if (entry.direction() == LogEntry::SYS)
        return;
    if (!m_parts.connection->speaksProtocol()) {
        m_rangeOpen = false;
        return;
    }
    if (m_rangeOpen && !m_ranges.isEmpty())
        m_ranges.last().second = entry.serial();
    else
        m_ranges.append({entry.serial(), entry.serial()});
    m_rangeOpen = true;
}

bool SocketIoPanel::isSocketIoEntry(const LogEntry& entry) const
{
    if (entry.direction() == LogEntry::SYS || entry.frameKind() != LogEntry::FrameKind::Text)
        return false;
    for (auto it = m_ranges.crbegin(); it != m_ranges.crend(); ++it) {
        if (entry.serial() >= it->first && entry.serial() <= it->second)
            return true;
    }
    return false;
}

std::optional<EntryReading> SocketIoPanel::read(const LogEntry& entry) const
{
    if (!isSocketIoEntry(entry))
        return std::nullopt;
    const std::optional<SocketIoPacket> packet = SocketIoPacket::parse(entry.rawData());
    if (!packet)
        return std::nullopt;
    EntryReading reading{QStringLiteral("Socket.IO"), QString(), packet->describe()};
    if (packet->isEvent())
        reading.summary = QStringLiteral("事件: ") + packet->eventName().value_or(QString());
    else if (packet->isAck())
        reading.summary = QStringLiteral("确认 #") + QString::number(packet->id);
    return reading;
}

std::function<QString(const LogEntry&)> SocketIoPanel::textReader() const
{
    return [this](const LogEntry& entry) {
        if (!isSocketIoEntry(entry))
            return entry.text();
        const QString document = documentOf(entry.text());
        return document.isNull() ? entry.text() : document;
    };
}
