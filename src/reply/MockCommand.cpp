#include "reply/MockCommand.h"

#include "app/CommandLine.h"
#include "reply/MockServer.h"
#include "reply/ReplyHost.h"
#include "reply/RuleFile.h"
#include "reply/RuleResponder.h"
#include "reply/TemplateExpander.h"
#include "session/SessionMockOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTime>

#include <cstdio>

namespace {

void printLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

QString MockCommand::summary()
{
    return QStringLiteral("Answer by rules on a server without a window");
}

void MockCommand::declare(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("rules"), QStringLiteral("The rules file"), QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("port"), QStringLiteral("The port to listen on"), QStringLiteral("N")});
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("The address to listen on (default 127.0.0.1)"),
                      QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1")});
    parser.addOption({QStringLiteral("path"),
                      QStringLiteral("Serve only this path (default: every path)"),
                      QStringLiteral("PATH")});
    SessionMockOptions::declare(parser);
}

QString MockCommand::setUp(const QCommandLineParser& parser, MockServer& server)
{
    if (!parser.isSet(QStringLiteral("rules")) && !SessionMockOptions::servesRecording(parser))
        return QStringLiteral("mock: --rules FILE or --har FILE is required");
    if (!parser.isSet(QStringLiteral("rules")))
        return SessionMockOptions::setUp(parser, server);
    QString error;
    const QString path = parser.value(QStringLiteral("rules"));
    const std::optional<QList<ReplyRule>> rules = RuleFile::readFile(path, &error);
    if (!rules)
        return QStringLiteral("mock: %1: %2").arg(path, error);
    server.rules()->setRules(*rules);
    for (const ReplyRule& rule : *rules) {
        for (const ReplyRule::Reply& reply : rule.replies) {
            const QStringList unknown = TemplateExpander::unknownNames(reply.content);
            if (!unknown.isEmpty())
                printLine(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) +
                          QStringLiteral("[SYS] 自动回复 \"%1\": 未知变量 %2")
                              .arg(rule.name, unknown.join(QStringLiteral(", "))));
        }
    }
    return SessionMockOptions::setUp(parser, server);
}

int MockCommand::run(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(summary());
    parser.addHelpOption();
    declare(parser);
    if (!parser.parse(QStringList{QStringLiteral("sockwise mock")} + args))
        return CommandLine::refuse(QStringLiteral("mock: ") + parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return CommandLine::refuse(QStringLiteral("mock: unexpected argument %1")
                                       .arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("help"))) {
        printLine(CommandLine::commandHelp(parser, QStringLiteral("mock")));
        std::fflush(stdout);
        return 0;
    }
    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    if (!parser.isSet(QStringLiteral("port")) || !portOk || port == 0 || port > 65535)
        return CommandLine::refuse(QStringLiteral("mock: --port N (1-65535) is required"));

    // Line-buffered even into a pipe, so a CI log shows each line as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    MockServer server(printLine);
    if (const QString problem = setUp(parser, server); !problem.isEmpty())
        return CommandLine::refuse(problem);
    QString error;
    if (!server.listen(parser.value(QStringLiteral("listen")), quint16(port),
                       parser.value(QStringLiteral("path")), &error))
        return CommandLine::refuse(QStringLiteral("mock: ") + error);
    CommandLine::quitOnTerminationSignals();
    const int code = QCoreApplication::exec();
    server.connection()->closeAll();
    std::fflush(stdout);
    return code;
}
