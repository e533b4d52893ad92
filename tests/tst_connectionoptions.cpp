#include "websocket/ClientOptionsCheck.h"
#include "websocket/ConnectionManager.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// The client options' checks that take the TLS backend, under QCoreApplication.
class ConnectionOptionsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess openssl;
        openssl.start(u"openssl"_s, u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                                    "-nodes -subj /CN=127.0.0.1 -out"_s.split(u' ') +
                                        QStringList{m_dir.filePath(u"cert.pem"_s), u"-keyout"_s,
                                                    m_dir.filePath(u"key.pem"_s)});
        QVERIFY2(openssl.waitForFinished(30000) && openssl.exitCode() == 0, "openssl failed");
    }

    void shouldRefuseToConnectWithACaFileWithoutCertificates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("usable");
        QTest::newRow("certificate") << u"cert.pem"_s << true;
        QTest::newRow("key only") << u"key.pem"_s << false;
        QTest::newRow("missing") << u"missing.pem"_s << false;
    }

    void shouldRefuseToConnectWithACaFileWithoutCertificates()
    {
        QFETCH(QString, file);
        QFETCH(bool, usable);
        ClientOptions options;
        options.headers = u"no colon"_s;
        options.caFile = m_dir.filePath(file);
        // The problems the options tell by themselves come first.
        const QList<OptionProblem> found = ClientOptionsCheck::problems(options);
        QCOMPARE(found.size(), usable ? 1 : 2);
        QCOMPARE(found.first().text(), options.ownProblems().first().text());
        if (!usable)
            QCOMPARE(found.last().text(),
                     u"CA 文件 %1 无法读取或不含 PEM 证书"_s.arg(options.caFile));

        ConnectionManager manager;
        options.headers.clear();
        manager.setClientOptions(options);
        QSignalSpy events(&manager, &ConnectionManager::happened);
        if (usable) {
            QVERIFY(manager.connectTo(u"wss://127.0.0.1:1/"_s));
            manager.closeAll();
        } else {
            QVERIFY(!manager.connectTo(u"wss://127.0.0.1:1/"_s));
            QCOMPARE(events.count(), 1);
            const auto refused = events.first().first().value<ConnectionEvent>();
            QCOMPARE(refused.code, ConnectionEvent::Code::OptionsRefused);
            QCOMPARE(refused.detail, u"CA 文件 %1 无法读取或不含 PEM 证书"_s.arg(options.caFile));
            QCOMPARE(manager.state(), ConnectionManager::Idle);
        }
    }

    // The manager's state is the sessions' own: a refused attempt that is
    // retried reads as reconnecting with the retry's number, a cancel as idle.
    void shouldReadTheStateFromTheClientSession()
    {
        ConnectionManager manager;
        ClientOptions options;
        options.autoReconnect = true;
        manager.setClientOptions(options);
        manager.setReconnectDelays(60000, 60000);
        QSignalSpy states(&manager, &ConnectionManager::stateChanged);
        QSignalSpy retries(&manager, &ConnectionManager::reconnectScheduled);
        QSignalSpy events(&manager, &ConnectionManager::happened);

        QVERIFY(manager.connectTo(u"ws://127.0.0.1:1/"_s));
        QCOMPARE(manager.state(), ConnectionManager::Connecting);
        QVERIFY(retries.wait());
        QCOMPARE(manager.state(), ConnectionManager::Reconnecting);
        QCOMPARE(manager.reconnectAttempt(), 1);
        QVERIFY(!manager.isActive());

        manager.cancelAttempt();
        QCOMPARE(manager.state(), ConnectionManager::Idle);
        QCOMPARE(manager.reconnectAttempt(), 0);
        QCOMPARE(states.last().first().value<ConnectionManager::State>(), ConnectionManager::Idle);
        QCOMPARE(events.last().first().value<ConnectionEvent>().code,
                 ConnectionEvent::Code::AttemptCancelled);
        const auto scheduled = events.at(events.size() - 2).first().value<ConnectionEvent>();
        QCOMPARE(scheduled.code, ConnectionEvent::Code::RetryScheduled);
        QCOMPARE(scheduled.attempt, 1);
        QCOMPARE(scheduled.number, 60000);
    }
};

QTEST_GUILESS_MAIN(ConnectionOptionsTest)
#include "tst_connectionoptions.moc"
