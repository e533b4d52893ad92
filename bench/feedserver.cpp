// A loopback HTTP server for the notice banner's worst case: every request is
// answered with a chunked body that never ends, sent as fast as the client
// takes it. Prints "PORT <port>" once it listens, then "SENT <bytes> OPEN <n>"
// every 100 ms while something streams (bytes over all connections), and
// "CLOSED <bytes> <ms>" when a client closes a stream (bytes sent on it and
// how long it lasted).
//
//   feedserver [--port P]
//
// Below "/picture" a finite feed is served instead: "/picture/api/ads" lists
// one picture notice whose picture, "/picture/endless.png", never ends.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

// Enough to keep the kernel busy without holding much here.
constexpr qint64 kHighWater = 1024 * 1024;
constexpr int kChunkBytes = 64 * 1024;

QByteArray chunked(const QByteArray& data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

class FeedServer : public QTcpServer
{
public:
    FeedServer()
    {
        // A feed that opens validly, then lists inactive notices for ever.
        QByteArray filler;
        while (filler.size() < kChunkBytes)
            filler += "{\"id\":1,\"status\":0},";
        m_chunk = chunked(filler);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
        m_report.setInterval(100);
        connect(&m_report, &QTimer::timeout, this, [this] {
            if (m_open > 0)
                print("SENT %lld OPEN %d\n", m_sent, m_open);
        });
        m_report.start();
    }

private:
    template<typename... Args> static void print(const char* format, Args... args)
    {
        std::printf(format, args...);
        std::fflush(stdout);
    }

    void answer(QTcpSocket* socket)
    {
        QByteArray head = socket->property("head").toByteArray() + socket->readAll();
        socket->setProperty("head", head);
        if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        const QString path = QUrl(QString::fromLatin1(head.split(' ').value(1))).path();
        if (path == QLatin1String("/picture/api/ads")) {
            const QByteArray feed =
                "{\"success\":true,\"ads\":[{\"id\":1,\"status\":1,\"ad_type\":\"image\","
                "\"title\":\"P\",\"image_url\":\"http://127.0.0.1:" +
                QByteArray::number(serverPort()) + "/picture/endless.png\"}]}";
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(feed.size()) +
                          "\r\nConnection: close\r\n\r\n" + feed);
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            return;
        }
        const bool picture = path.startsWith(QLatin1String("/picture/"));
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " +
                      QByteArray(picture ? "image/png" : "application/json") +
                      "\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      chunked(picture ? QByteArray("\x89PNG\r\n\x1a\n", 8)
                                      : QByteArray("{\"success\":true,\"ads\":[")));
        stream(socket);
    }

    void stream(QTcpSocket* socket)
    {
        ++m_open;
        QElapsedTimer clock;
        clock.start();
        const auto topUp = [this, socket] {
            qint64 sent = socket->property("sent").toLongLong();
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < kHighWater) {
                const qint64 written = socket->write(m_chunk);
                if (written <= 0)
                    break;
                sent += written;
                m_sent += written;
            }
            socket->setProperty("sent", sent);
        };
        connect(socket, &QTcpSocket::bytesWritten, this, topUp);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, clock] {
            --m_open;
            print("CLOSED %lld %lld\n", socket->property("sent").toLongLong(), clock.elapsed());
            socket->deleteLater();
        });
        topUp();
    }

    QByteArray m_chunk;
    QTimer m_report;
    qint64 m_sent = 0;
    int m_open = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Answers every request with an endless body."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    parser.addOption(portOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "feedserver: bad --port\n");
        return 2;
    }
    FeedServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "feedserver: cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("PORT %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
