#include "session/SessionMockOptions.h"

#include "reply/MockServer.h"
#include "reply/ReplyHost.h"
#include "session/HarFile.h"
#include "session/RecordingResponder.h"
#include "session/SessionRecorder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QPointer>

#include <cstdio>
#include <memory>

namespace {

// Owns the recording's responder for the server's life.
class RecordingHolder : public QObject
{
public:
    RecordingHolder(ReplyHost* host, QObject* parent)
        : QObject(parent)
        , m_host(host)
    {}
    ~RecordingHolder() override
    {
        if (m_host)
            m_host->chain().remove(&responder);
    }
    RecordingResponder responder;

private:
    QPointer<ReplyHost> m_host;
};

} // namespace

void SessionMockOptions::declare(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("har"),
                      QStringLiteral("Serve this recording's server side (rules answer the rest)"),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("connection"),
                      QStringLiteral("Which WebSocket connection of the recording (from 1)"),
                      QStringLiteral("N"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("recorded-gaps"),
                      QStringLiteral("Keep the recording's pauses between frames")});
    parser.addOption({QStringLiteral("save"),
                      QStringLiteral("Write what went over the wire when it ends"),
                      QStringLiteral("OUT.har")});
}

bool SessionMockOptions::servesRecording(const QCommandLineParser& parser)
{
    return parser.isSet(QStringLiteral("har"));
}

QString SessionMockOptions::setUp(const QCommandLineParser& parser, MockServer& server)
{
    if (parser.isSet(QStringLiteral("save"))) {
        auto* recorder = new SessionRecorder(server.connection(), &server);
        QObject::connect(server.host(), &ReplyHost::replySent, recorder,
                         [recorder](const ReplyHost::Sent& sent) {
                             recorder->recordSent(sent.data, sent.kind, sent.recipients);
                         });
        const QString path = parser.value(QStringLiteral("save"));
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, recorder,
                         [recorder, path] {
                             QString error;
                             if (recorder->save(path, &error))
                                 return;
                             const QByteArray line =
                                 QStringLiteral("sockwise: mock: cannot write %1: %2\n")
                                     .arg(path, error)
                                     .toUtf8();
                             std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
                         });
    }
    if (!servesRecording(parser))
        return QString();
    const QString file = parser.value(QStringLiteral("har"));
    bool ok = false;
    const int index = parser.value(QStringLiteral("connection")).toInt(&ok);
    if (!ok || index < 1)
        return QStringLiteral("mock: --connection takes a number from 1");
    const HarFile::ReadResult read = HarFile::read(file);
    if (!read.ok())
        return QStringLiteral("mock: %1: %2").arg(file, read.error);
    if (index > read.connections.size())
        return QStringLiteral("mock: %1 has %2 WebSocket connection(s)")
            .arg(file)
            .arg(read.connections.size());
    auto* holder = new RecordingHolder(server.host(), &server);
    holder->responder.setRecording(RecordedExchange(read.connections[index - 1]),
                                   parser.isSet(QStringLiteral("recorded-gaps")));
    // Ahead of the rules: they answer what the recording does not cover.
    server.host()->chain().insert(0, &holder->responder);
    return QString();
}
