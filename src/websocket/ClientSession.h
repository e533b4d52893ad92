#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebSocket>

class QUrl;

// Client mode's one socket: opening it, its frames, and how it ends. Every
// event the user should read in the log comes out as a notice.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    explicit ClientSession(QObject* parent = nullptr);
    ~ClientSession() override;

    bool isPending() const;
    bool isOpen() const;
    QWebSocket* socket() const { return m_socket; }
    // The server as entries name it: the address without credentials or query.
    QString peer() const { return m_peer; }

    // Drops an attempt or connection still there, silently, and starts a new one.
    void open(const QUrl& url);
    // Closes with 1000 and lets the socket go; its later notices are not news.
    void close();
    // Drops the socket at once without a word (an attempt the user replaced).
    void abort();

    // Bytes of payload handed to the socket; 0 when it is not open.
    qint64 sendText(const QString& text);
    qint64 sendBinary(const QByteArray& data);

    static QString peerOf(const QUrl& url);

signals:
    void connected();
    // The socket went without the user asking (server close, lost connection,
    // failed attempt); its notices come first.
    void disconnected();
    void notice(const QString& text);
    void textReceived(const QString& text, const QString& peer);
    void binaryReceived(const QByteArray& data, const QString& peer);

private slots:
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);

private:
    QWebSocket* release(bool keepErrorReport = false);

    QPointer<QWebSocket> m_socket;
    QString m_peer;
};
