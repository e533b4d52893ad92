// A loopback WebSocket peer that floods every client with N frames of one
// payload as fast as the socket takes them, then leaves the connection open
// for the client to close. Prints "FRAMES <n> FRAME_BYTES <b> TOTAL <t>" and
// then "PORT <port>" on stdout once it listens.
//
//   floodserver [--port P] [--frames N] [--payload TEXT] [--frame-size N]
//               [--binary] [--cbor] [--verbose]
//
// "{seq}" in the payload becomes a seven-digit sequence number, so every
// frame has the same length and the client knows the exact byte total.
// --frame-size N replaces the payload with a generated one of exactly N bytes:
// ASCII JSON-like text, or varied bytes with --binary. Each message goes out
// as one frame whatever its size. A client may ask for other settings in its
// URL: "?frames=N", "&size=N", "&binary=1" (binary=0 for text).
// --cbor (or "&cbor=1") sends the JSON payload as CBOR in binary frames, the
// sequence number as a CBOR integer; "CBOR_FRAME_BYTES <b>" before "PORT"
// gives their size.
#include <QCborValue>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

const QString kSeqMark = QStringLiteral("{seq}");
constexpr int kSeqBase = 1000000; // seven digits from here to 9999999
constexpr int kSeqSpan = 9000000;
// Enough to keep the kernel busy, small enough that a slow client never
// makes us hold the whole flood in memory.
constexpr qint64 kHighWater = 4 * 1024 * 1024;
// Generated payloads are built in memory once per client: keep a typo from
// asking for gigabytes.
constexpr qint64 kMaxFrameSize = qint64(256) * 1024 * 1024;

struct Payload
{
    QString head;
    QString tail;
    bool numbered = false;
    bool binary = false;
    // Set for a generated binary payload: sent as it is, shared by every frame.
    QByteArray bytes;
    // The CBOR form, its sequence number (a 32-bit integer) at `seqAt`.
    QByteArray cbor;
    qsizetype seqAt = -1;

    QString textFor(qint64 index) const
    {
        if (!numbered)
            return head;
        return head + QString::number(kSeqBase + index % kSeqSpan) + tail;
    }
    QByteArray bytesFor(qint64 index) const
    {
        if (!cbor.isEmpty()) {
            if (seqAt < 0)
                return cbor;
            QByteArray frame = cbor;
            qToBigEndian(quint32(kSeqBase + index % kSeqSpan), frame.data() + seqAt);
            return frame;
        }
        return bytes.isEmpty() ? textFor(index).toUtf8() : bytes;
    }
    qint64 frameBytes() const { return binary ? bytesFor(0).size() : textFor(0).toUtf8().size(); }
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
                socket->sendBinaryMessage(payload.bytesFor(sent));
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

// The payload's JSON as CBOR, encoded once: every sequence number takes the
// same five bytes (0x1a and 32 bits), patched per frame. False when the
// payload is no JSON or its number is not where a plain value would be.
bool makeCbor(Payload& p)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(p.textFor(0).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    p.binary = true;
    p.cbor = (doc.isObject() ? QCborValue::fromJsonValue(doc.object())
                             : QCborValue::fromJsonValue(doc.array()))
                 .toCbor();
    if (!p.numbered)
        return true;
    char seq[5] = {char(0x1a)};
    qToBigEndian(quint32(kSeqBase), seq + 1);
    const qsizetype at = p.cbor.indexOf(QByteArrayView(seq, 5));
    if (at < 0 || p.cbor.indexOf(QByteArrayView(seq, 5), at + 1) >= 0)
        return false;
    p.seqAt = at + 1;
    return true;
}

// Exactly `size` bytes. Text is numbered JSON padded with ASCII letters (plain
// letters when too short for the JSON); binary is pseudo-random, so that no
// byte value or short pattern is favoured.
Payload makeSizedPayload(qint64 size, bool binary)
{
    Payload p;
    p.binary = binary;
    if (binary) {
        p.bytes.resize(size);
        char* out = p.bytes.data();
        quint32 state = 0x9e3779b9u;
        for (qint64 i = 0; i < size; ++i) {
            state = state * 1664525u + 1013904223u;
            out[i] = char(state >> 24);
        }
        return p;
    }
    const QString head = QStringLiteral("{\"seq\":");
    const QString middle = QStringLiteral(",\"pad\":\"");
    const QString end = QStringLiteral("\"}");
    const qint64 fixed = head.size() + 7 + middle.size() + end.size();
    if (size < fixed) {
        p.head = QString(size, QLatin1Char('x'));
        return p;
    }
    QString pad(size - fixed, Qt::Uninitialized);
    for (qsizetype i = 0; i < pad.size(); ++i)
        pad[i] = QLatin1Char(char('a' + i % 26));
    p.numbered = true;
    p.head = head;
    p.tail = middle % pad % end;
    return p;
}

// Reads a non-negative integer setting; false when present but malformed.
bool querySize(const QUrlQuery& query, const QString& key, qint64 max, qint64& value)
{
    if (!query.hasQueryItem(key))
        return true;
    bool valid = false;
    const qint64 asked = query.queryItemValue(key).toLongLong(&valid);
    if (!valid || asked < 0 || asked > max)
        return false;
    value = asked;
    return true;
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
    const QCommandLineOption frameSizeOption(
        QStringLiteral("frame-size"),
        QStringLiteral("Generate a payload of exactly this many bytes instead."),
        QStringLiteral("bytes"));
    const QCommandLineOption binaryOption(QStringLiteral("binary"),
                                          QStringLiteral("Send binary frames."));
    const QCommandLineOption cborOption(QStringLiteral("cbor"),
                                        QStringLiteral("Send the JSON payload as CBOR."));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Report each client on stderr."));
    parser.addOptions({portOption, framesOption, payloadOption, frameSizeOption, binaryOption,
                       cborOption, verboseOption});
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
    const bool binary = parser.isSet(binaryOption);
    qint64 frameSize = -1;
    if (parser.isSet(frameSizeOption)) {
        frameSize = parser.value(frameSizeOption).toLongLong(&ok);
        if (!ok || frameSize < 0 || frameSize > kMaxFrameSize) {
            std::fprintf(stderr, "floodserver: bad --frame-size (0 to %lld)\n",
                         static_cast<long long>(kMaxFrameSize));
            return 2;
        }
    }
    const bool cbor = parser.isSet(cborOption);
    Payload payload = frameSize >= 0 ? makeSizedPayload(frameSize, binary)
                                     : makePayload(parser.value(payloadOption), binary);
    Payload cborPayload = makePayload(parser.value(payloadOption), true);
    const bool cborFits = makeCbor(cborPayload);
    if (cbor) {
        if (frameSize >= 0 || !cborFits) {
            std::fprintf(stderr, "floodserver: --cbor needs a JSON --payload\n");
            return 2;
        }
        payload = cborPayload;
    }
    const bool verbose = parser.isSet(verboseOption);

    QWebSocketServer server(QStringLiteral("floodserver"), QWebSocketServer::NonSecureMode);
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "floodserver: cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&] {
        while (QWebSocket* socket = server.nextPendingConnection()) {
            const QUrlQuery query(socket->requestUrl());
            qint64 count = frames;
            qint64 size = frameSize;
            qint64 binaryAsked = binary ? 1 : 0;
            qint64 cborAsked = cbor ? 1 : 0;
            const bool valid = querySize(query, QStringLiteral("frames"),
                                         std::numeric_limits<qint64>::max(), count) &&
                               querySize(query, QStringLiteral("size"), kMaxFrameSize, size) &&
                               querySize(query, QStringLiteral("binary"), 1, binaryAsked) &&
                               querySize(query, QStringLiteral("cbor"), 1, cborAsked) &&
                               (cborAsked == 0 || (cborFits && size < 0));
            if (!valid) {
                // Flooding with the defaults instead would hide the mistake.
                std::fprintf(stderr, "floodserver: bad query in %s\n",
                             qPrintable(socket->requestUrl().toString()));
                socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                              QStringLiteral("bad query"));
                socket->deleteLater();
                continue;
            }
            const bool ownSettings =
                size != frameSize || (binaryAsked != 0) != binary || (cborAsked != 0) != cbor;
            const Payload own = !ownSettings     ? payload
                                : cborAsked != 0 ? cborPayload
                                : size >= 0
                                    ? makeSizedPayload(size, binaryAsked != 0)
                                    : makePayload(parser.value(payloadOption), binaryAsked != 0);
            // One frame per message, as a peer sending large frames would.
            const qint64 ownBytes = own.frameBytes();
            if (quint64(ownBytes) > socket->outgoingFrameSize())
                socket->setOutgoingFrameSize(
                    std::min(quint64(ownBytes), QWebSocket::maxOutgoingFrameSize()));
            new Flood(socket, own, count, verbose);
        }
    });

    const qint64 frameBytes = payload.frameBytes();
    std::printf("FRAMES %lld FRAME_BYTES %lld TOTAL %lld\n", static_cast<long long>(frames),
                static_cast<long long>(frameBytes), static_cast<long long>(frames * frameBytes));
    if (cborFits)
        std::printf("CBOR_FRAME_BYTES %lld\n", static_cast<long long>(cborPayload.frameBytes()));
    std::printf("PORT %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
