// A loopback WebSocket peer that floods every client with N frames of one
// payload as fast as the socket takes them, then leaves the connection open
// for the client to close. Prints "FRAMES <n> FRAME_BYTES <b> TOTAL <t>" and
// then "PORT <port>" on stdout once it listens.
//
//   floodserver [--port P] [--frames N] [--payload TEXT] [--binary] [--verbose]
//
// "{seq}" in the payload becomes a seven-digit sequence number, so every
// frame has the same length and the client knows the exact byte total. A
// client may ask for another frame count with "?frames=N" in its URL.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

namespace {

const QString kSeqMark = QStringLiteral("{seq}");
constexpr int kSeqBase = 1000000; // seven digits from here to 9999999
constexpr int kSeqSpan = 9000000;
// Enough to keep the kernel busy, small enough that a slow client never
// makes us hold the whole flood in memory.
constexpr qint64 kHighWater = 4 * 1024 * 1024;

struct Payload
{
    QString head;
    QString tail;
    bool numbered = false;
    bool binary = false;

    QString textFor(qint64 index) const
    {
        if (!numbered)
            return head;
        return head + QString::number(kSeqBase + index % kSeqSpan) + tail;
    }
    qint64 frameBytes() const { return textFor(0).toUtf8().size(); }
};

class Flood : public QObject
{
public:
    Flood(QWebSocket* socket, const Payload& payload, qint64 frames, bool verbose)
        : socket(socket)
        , payload(payload)
        , frames(frames)
        , verbose(verbose)
    {
        socket->setParent(this);
        connect(socket, &QWebSocket::bytesWritten, this, &Flood::pump);
        connect(socket, &QWebSocket::disconnected, this, &Flood::finish);
        clock.start();
        pump();
    }

private:
    void pump()
    {
        while (sent < frames && socket->bytesToWrite() < kHighWater) {
            if (payload.binary)
                socket->sendBinaryMessage(payload.textFor(sent).toUtf8());
            else
                socket->sendTextMessage(payload.textFor(sent));
            ++sent;
        }
        if (sent == frames && !reported) {
            reported = true;
            if (verbose)
                std::fprintf(stderr, "floodserver: %lld frames queued in %lld ms\n",
                             static_cast<long long>(sent), static_cast<long long>(clock.elapsed()));
        }
    }

    void finish()
    {
        if (verbose)
            std::fprintf(stderr, "floodserver: client left after %lld of %lld frames\n",
                         static_cast<long long>(sent), static_cast<long long>(frames));
        sent = frames; // nothing more to send to a closed socket
        deleteLater();
    }

    QWebSocket* socket;
    Payload payload;
    qint64 frames;
    qint64 sent = 0;
    bool verbose;
    bool reported = false;
    QElapsedTimer clock;
};

Payload makePayload(const QString& text, bool binary)
{
    Payload p;
    p.binary = binary;
    const qsizetype mark = text.indexOf(kSeqMark);
    p.numbered = mark >= 0;
    p.head = p.numbered ? text.left(mark) : text;
    if (p.numbered)
        p.tail = text.mid(mark + kSeqMark.size());
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Floods every WebSocket client with frames."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Frames sent to each client."),
                                          QStringLiteral("n"), QStringLiteral("200000"));
    const QCommandLineOption payloadOption(
        QStringLiteral("payload"), QStringLiteral("Frame payload; {seq} is numbered."),
        QStringLiteral("text"), QStringLiteral("{\"field1\":12.5,\"field2\":7,\"seq\":{seq}}"));
    const QCommandLineOption binaryOption(QStringLiteral("binary"),
                                          QStringLiteral("Send binary frames."));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Report each client on stderr."));
    parser.addOptions({portOption, framesOption, payloadOption, binaryOption, verboseOption});
    parser.process(app);

    bool ok = false;
    const qint64 frames = parser.value(framesOption).toLongLong(&ok);
    if (!ok || frames < 0) {
        std::fprintf(stderr, "floodserver: bad --frames\n");
        return 2;
    }
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "floodserver: bad --port\n");
        return 2;
    }
    const Payload payload = makePayload(parser.value(payloadOption), parser.isSet(binaryOption));
    const bool verbose = parser.isSet(verboseOption);

    QWebSocketServer server(QStringLiteral("floodserver"), QWebSocketServer::NonSecureMode);
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "floodserver: cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&] {
        while (QWebSocket* socket = server.nextPendingConnection()) {
            qint64 count = frames;
            const QUrlQuery query(socket->requestUrl());
            if (query.hasQueryItem(QStringLiteral("frames"))) {
                bool valid = false;
                const qint64 asked =
                    query.queryItemValue(QStringLiteral("frames")).toLongLong(&valid);
                if (valid && asked >= 0)
                    count = asked;
            }
            new Flood(socket, payload, count, verbose);
        }
    });

    const qint64 frameBytes = payload.frameBytes();
    std::printf("FRAMES %lld FRAME_BYTES %lld TOTAL %lld\nPORT %u\n",
                static_cast<long long>(frames), static_cast<long long>(frameBytes),
                static_cast<long long>(frames * frameBytes), unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
