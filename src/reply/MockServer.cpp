#include "reply/MockServer.h"

#include "comm/HexText.h"
#include "reply/ReplyHost.h"
#include "reply/RuleResponder.h"
#include "websocket/ConnectionManager.h"
#include "websocket/EventFormatter.h"

#include <QTime>

namespace {

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

// One frame, one line: what would break the line is written as an escape.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

MockServer::MockServer(LineSink sink, QObject* parent)
    : QObject(parent)
    , m_sink(std::move(sink))
    , m_connection(new ConnectionManager(this))
    , m_host(new ReplyHost(m_connection, this))
    , m_rules(std::make_unique<RuleResponder>())
{
    m_host->chain().append(m_rules.get());
    m_host->setEnabled(true);
    connect(m_connection, &ConnectionManager::happened, this, [this](const ConnectionEvent& event) {
        print(QStringLiteral("[SYS]"), EventFormatter::text(event));
    });
    connect(m_connection, &ConnectionManager::textReceived, this,
            [this](const QString& text, const QString& peer) {
                m_sink(frameLine(QStringLiteral("[RX]"), peer, text.toUtf8(), false));
            });
    connect(m_connection, &ConnectionManager::binaryReceived, this,
            [this](const QByteArray& data, const QString& peer) {
                m_sink(frameLine(QStringLiteral("[RX]"), peer, data, true));
            });
    connect(m_host, &ReplyHost::replySent, this, [this](const ReplyHost::Sent& sent) {
        m_sink(frameLine(QStringLiteral("[TX]"), sent.recipients, sent.data,
                         sent.kind == LogEntry::FrameKind::Binary) +
               QStringLiteral(" (%1)").arg(sent.source));
    });
    connect(m_host, &ReplyHost::notice, this,
            [this](const QString& text) { print(QStringLiteral("[SYS]"), text); });
}

MockServer::~MockServer()
{
    // The host must not reach the rules while the connection closes.
    m_host->chain().remove(m_rules.get());
}

bool MockServer::listen(const QString& address, quint16 port, const QString& path, QString* error)
{
    ServerOptions options;
    options.bind = ServerOptions::Bind::Address;
    options.address = address;
    options.restrictPath = !path.isEmpty();
    m_connection->setServerOptions(options);
    // What listening says is held back: a failure goes to the caller alone.
    m_quiet = true;
    m_held.clear();
    m_heldText.clear();
    const bool ok = m_connection->listen(port, path.isEmpty() ? QStringLiteral("/") : path);
    m_quiet = false;
    if (!ok) {
        if (error)
            *error = m_heldText.isEmpty() ? QStringLiteral("监听失败") : m_heldText;
        return false;
    }
    for (const QString& line : std::as_const(m_held))
        m_sink(line);
    m_held.clear();
    return true;
}

QString MockServer::frameLine(const QString& tag, const QString& peer, const QByteArray& data,
                              bool binary)
{
    const QString payload = binary ? bytesToHex(data) : escaped(QString::fromUtf8(data));
    return now() + QLatin1Char(' ') + tag + QLatin1Char(' ') + peer + QLatin1Char(' ') +
           (binary ? QLatin1String("binary ") : QLatin1String("text ")) + payload;
}

void MockServer::print(const QString& tag, const QString& rest)
{
    const QString line = now() + QLatin1Char(' ') + tag + QLatin1Char(' ') + escaped(rest);
    if (m_quiet) {
        m_held.append(line);
        m_heldText = rest;
    } else
        m_sink(line);
}
