#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTest>

// One python peer from tests/peers, run on Debian's interpreter (which has
// python3-websockets, whatever python3 is first on PATH); its stdout is
// collected line by line.
class PythonPeer : public QObject
{
public:
    static constexpr int defaultTimeout = 15000;

    static QString interpreter() { return QStringLiteral("/usr/bin/python3"); }

    // Whether the interpreter can import websockets at all.
    static bool available()
    {
        QProcess probe;
        probe.start(interpreter(), {QStringLiteral("-c"), QStringLiteral("import websockets")});
        return probe.waitForFinished(defaultTimeout) &&
               probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }

    PythonPeer(const QString& script, const QStringList& args)
        : PythonPeer(QStringList{interpreter(), QStringLiteral("-u"),
                                 QStringLiteral(SOCKWISE_TESTS_DIR "/peers/") + script} +
                     args)
    {}
    // Any other program read the same way (node's peers): the program, then
    // its arguments.
    explicit PythonPeer(const QStringList& command)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(&process, &QProcess::readyReadStandardOutput, this, [this] {
            buffer += process.readAllStandardOutput();
            for (qsizetype end; (end = buffer.indexOf('\n')) >= 0; buffer.remove(0, end + 1))
                lines.append(QString::fromUtf8(buffer.left(end)));
        });
        process.start(command.value(0), command.mid(1));
    }
    ~PythonPeer() override
    {
        process.kill();
        process.waitForFinished(defaultTimeout);
    }
    void send(const QString& line) { process.write((line + QLatin1Char('\n')).toUtf8()); }
    bool waitForLine(const QString& line, int timeout = defaultTimeout)
    {
        return QTest::qWaitFor([&] { return lines.contains(line); }, timeout);
    }
    // The lines that begin with the prefix, the prefix removed.
    QStringList linesWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        }
        return found;
    }

    QProcess process;
    QStringList lines;
    QByteArray buffer;
};

// Skips a test of a class whose pythonReady member says the peers cannot run.
#define REQUIRE_PYTHON()                                                                           \
    do {                                                                                           \
        if (!pythonReady)                                                                          \
            QSKIP("/usr/bin/python3 lacks websockets (Debian's python3-websockets)");              \
    } while (false)
