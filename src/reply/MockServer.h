#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ConnectionManager;
class ReplyHost;
class RuleResponder;

// The headless server of `sockwise mock`: a connection layer listening, its
// reply host answering, and one line per frame and event to a sink.
class MockServer : public QObject
{
    Q_OBJECT

public:
    using LineSink = std::function<void(const QString& line)>;

    explicit MockServer(LineSink sink, QObject* parent = nullptr);
    ~MockServer() override;

    ConnectionManager* connection() const { return m_connection; }
    // Enabled from the start; its chain holds the rules, last.
    ReplyHost* host() const { return m_host; }
    RuleResponder* rules() const { return m_rules.get(); }

    // An empty path serves every path. False with `error` set when it cannot
    // listen; nothing is printed then.
    bool listen(const QString& address, quint16 port, const QString& path, QString* error);

    // "12:00:00.123 [RX] 127.0.0.1:50412 text ping": a frame on one line, its
    // control characters escaped, binary frames as hex.
    static QString frameLine(const QString& tag, const QString& peer, const QByteArray& data,
                             bool binary);

private:
    void print(const QString& tag, const QString& rest);

    LineSink m_sink;
    ConnectionManager* m_connection;
    ReplyHost* m_host;
    std::unique_ptr<RuleResponder> m_rules;
    bool m_quiet = false;
    QStringList m_held;
    QString m_heldText;
};
