// How often auto-reconnect knocks on a server that accepts every upgrade and
// closes it at once with 1011: attempts and log entries in a fixed time, with
// the default retry delays. Everything runs in this process, on loopback.
//
//   bench_reconnect [--seconds N] [--code C]
#include "websocket/ClientSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <QWebSocketServer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Run time."), QStringLiteral("N"),
                      QStringLiteral("60")});
    parser.addOption({QStringLiteral("code"), QStringLiteral("Close code."), QStringLiteral("C"),
                      QStringLiteral("1011")});
    parser.process(app);
    const int seconds = parser.value(QStringLiteral("seconds")).toInt();
    const auto code = QWebSocketProtocol::CloseCode(parser.value(QStringLiteral("code")).toInt());

    QWebSocketServer server(QStringLiteral("closer"), QWebSocketServer::NonSecureMode);
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&] {
        while (QWebSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            socket->close(code, QStringLiteral("try again later"));
        }
    });

    ClientSession session;
    int attempts = 0;
    int entries = 0;
    QObject::connect(&session, &ClientSession::attemptStarted, &session, [&] { ++attempts; });
    QObject::connect(&session, &ClientSession::happened, &session, [&] { ++entries; });
    QObject::connect(&session, &ClientSession::disconnected, &app, &QCoreApplication::quit);
    ClientOptions options;
    options.autoReconnect = true;
    session.open(QStringLiteral("ws://127.0.0.1:%1/").arg(server.serverPort()), options);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QElapsedTimer clock;
    clock.start();
    app.exec();
    std::printf("close code %d: %d attempts, %d log entries in %.1f s\n", int(code), attempts,
                entries, clock.elapsed() / 1000.0);
    return 0;
}
