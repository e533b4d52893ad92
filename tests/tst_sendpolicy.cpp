#include "comm/CommunicationBase.h"
#include "websocket/AutoSendPolicy.h"
#include "websocket/SendComposer.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class SendPolicyTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldComposeWhatTheBoxHolds_data();
    void shouldComposeWhatTheBoxHolds();
    void shouldTickOnlyWhileArmedAndUp();
    void shouldReportAFailingStretchOnceAndEachNewReason();
};

void SendPolicyTest::shouldComposeWhatTheBoxHolds_data()
{
    QTest::addColumn<SendBoxContent>("content");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("binary");

    using O = SendComposition::Outcome;
    QTest::newRow("empty") << SendBoxContent{} << "UTF-8" << int(O::Empty) << QByteArray() << false;
    QTest::newRow("bad hex refused") << SendBoxContent{QStringLiteral("4g"), true, false} << "UTF-8"
                                     << int(O::Refused) << QByteArray() << false;
    QTest::newRow("odd hex refused") << SendBoxContent{QStringLiteral("414"), true, true} << "UTF-8"
                                     << int(O::Refused) << QByteArray() << true;
    QTest::newRow("hex text frame") << SendBoxContent{QStringLiteral("41 42"), true, false} << "GBK"
                                    << int(O::Ready) << QByteArray("AB") << false;
    // A text frame is UTF-8 whatever encoding is selected; binary takes it.
    QTest::newRow("text frame ignores encoding")
        << SendBoxContent{QStringLiteral("中"), false, false} << "GBK" << int(O::Ready)
        << QByteArray("\xe4\xb8\xad") << false;
    QTest::newRow("binary frame in encoding")
        << SendBoxContent{QStringLiteral("中"), false, true} << "GBK" << int(O::Ready)
        << QByteArray("\xd6\xd0") << true;
}

void SendPolicyTest::shouldComposeWhatTheBoxHolds()
{
    QFETCH(SendBoxContent, content);
    QFETCH(QString, encoding);
    QFETCH(int, outcome);
    QFETCH(QByteArray, payload);
    QFETCH(bool, binary);

    CommunicationBase codec;
    codec.setEncoding(encoding);
    const SendComposition c = SendComposer::compose(content, codec);
    QCOMPARE(int(c.outcome), outcome);
    QCOMPARE(c.problem.isEmpty(), c.outcome != SendComposition::Outcome::Refused);
    if (c.outcome == SendComposition::Outcome::Refused)
        QVERIFY(c.problem.startsWith(QStringLiteral("无效的十六进制数据: ")));
    QCOMPARE(c.payload, payload);
    if (c.outcome == SendComposition::Outcome::Ready) {
        QCOMPARE(c.kind == LogEntry::FrameKind::Binary, binary);
        // Only plain text frames go as text, where non-UTF-8 can be refused.
        QCOMPARE(c.asText, !binary && !content.hex);
    }
}

void SendPolicyTest::shouldTickOnlyWhileArmedAndUp()
{
    AutoSendPolicy policy;
    policy.setInterval(10);
    policy.setArmed(true);
    QVERIFY(!policy.isRunning());
    policy.setLinkUp(true);
    QVERIFY(policy.isRunning());
    QSignalSpy ticks(&policy, &AutoSendPolicy::tick);
    QVERIFY(ticks.wait());

    policy.setInterval(25);
    QCOMPARE(policy.timer()->interval(), 25);
    policy.setLinkUp(false);
    QVERIFY(!policy.isRunning());
    policy.setLinkUp(true);
    policy.setArmed(false);
    QVERIFY(!policy.isRunning());
}

void SendPolicyTest::shouldReportAFailingStretchOnceAndEachNewReason()
{
    AutoSendPolicy policy;
    const QString a = QStringLiteral("a"), b = QStringLiteral("b");
    QVERIFY(policy.shouldReport(a));
    QVERIFY(!policy.shouldReport(a));
    QVERIFY(policy.shouldReport(b));
    QVERIFY(!policy.shouldReport(b));
    policy.tickSent();
    QVERIFY(policy.shouldReport(b));
    // A restart begins a new stretch.
    policy.setArmed(true);
    policy.setLinkUp(true);
    QVERIFY(policy.shouldReport(b));
}

QTEST_GUILESS_MAIN(SendPolicyTest)
#include "tst_sendpolicy.moc"
