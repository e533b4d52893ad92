#include "websocket/EventFormatter.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Code = ConnectionEvent::Code;

// The log's texts of connection events, where their particulars shape them.
class EventFormatterTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldWriteEachEventsParticulars_data()
    {
        QTest::addColumn<ConnectionEvent>("event");
        QTest::addColumn<QString>("text");

        ConnectionEvent retry(Code::RetryScheduled, QString(), QString(), 1500);
        retry.attempt = 2;
        QTest::newRow("retry after a fraction of a second") << retry << u"1.5 秒后第 2 次重连"_s;
        ConnectionEvent reconnecting(Code::Reconnecting, u"ws://h:1/"_s);
        reconnecting.attempt = 3;
        QTest::newRow("reconnecting") << reconnecting << u"第 3 次重连：正在连接 ws://h:1/..."_s;

        ConnectionEvent closed(Code::ClosedWith);
        closed.closeCode = 1009;
        QTest::newRow("close without reason") << closed << u"关闭代码 1009"_s;
        ConnectionEvent clientClosed(Code::ClientClosedWith, u"127.0.0.1:5"_s, u"bye"_s);
        clientClosed.closeCode = 4000;
        QTest::newRow("client close with reason")
            << clientClosed << u"客户端 127.0.0.1:5 关闭代码 4000，原因: bye"_s;
        ConnectionEvent stopped(Code::RetryStoppedByClose);
        stopped.closeCode = 1002;
        QTest::newRow("final close") << stopped << u"已停止自动重连：关闭代码 1002，重连无法解决"_s;

        QTest::newRow("refusal with reason")
            << ConnectionEvent(Code::UpgradeRefused, QString(), u"Unauthorized"_s, 401)
            << u"服务器拒绝升级: HTTP 401 Unauthorized"_s;
        QTest::newRow("refusal without reason")
            << ConnectionEvent(Code::UpgradeRefused, QString(), QString(), 500)
            << u"服务器拒绝升级: HTTP 500"_s;

        QTest::newRow("joined") << ConnectionEvent(Code::ClientJoined, u"[::1]:7"_s)
                                << u"客户端连接 [::1]:7"_s;
        QTest::newRow("joined with subprotocol")
            << ConnectionEvent(Code::ClientJoined, u"[::1]:7"_s, u"chat"_s)
            << u"客户端连接 [::1]:7，子协议: chat"_s;
        QTest::newRow("client handshake timeout")
            << ConnectionEvent(Code::ClientHandshakeTimeout, u"a:1"_s, QString(), 2500)
            << u"客户端 a:1 未在 2.5 秒内完成握手，已断开"_s;

        ConnectionEvent options(Code::OptionsInUse);
        options.items = {{u"自动重连"_s, QString()}, {u"心跳"_s, u"5 秒"_s}};
        QTest::newRow("client options") << options << u"连接选项: 自动重连；心跳: 5 秒"_s;
        ConnectionEvent serverOptions(Code::ServerOptionsInUse);
        serverOptions.items = {{u"监听"_s, u"127.0.0.1"_s}, {u"子协议"_s, u"a, b"_s}};
        QTest::newRow("server options")
            << serverOptions << u"服务选项: 监听 127.0.0.1；子协议 a, b"_s;

        // Only a number is quoted: other text there may be part of a password.
        QTest::newRow("port that is a number")
            << ConnectionEvent(Code::AddressBadPort, QString(), u"70000"_s)
            << u"端口 70000 无效，应为 1 到 65535 之间的数字"_s;
        QTest::newRow("port that is not a number")
            << ConnectionEvent(Code::AddressBadPort) << u"端口无效，应为 1 到 65535 之间的数字"_s;
        QTest::newRow("system proxy")
            << ConnectionEvent(Code::SystemProxy, u"proxy.lan"_s, u"SOCKS5"_s, 1080)
            << u"系统代理: SOCKS5 proxy.lan:1080"_s;
        QTest::newRow("unreadable key")
            << ConnectionEvent(Code::ListenUnreadable, u"/k.pem"_s, u"No such file"_s, 1)
            << u"监听失败: 无法读取私钥文件 /k.pem: No such file"_s;
        QTest::newRow("stalled") << ConnectionEvent(Code::PeerStalled, u"a:1"_s, QString(),
                                                    16 * 1024 * 1024 + 512)
                                 << u"对方未读取数据，已暂停向 a:1 发送（待发送 16 MiB）"_s;
        QTest::newRow("pong under a millisecond")
            << ConnectionEvent(Code::Pong, QString(), QString(), 210) << u"Pong 0.21 ms"_s;
        QTest::newRow("pong of tens of milliseconds")
            << ConnectionEvent(Code::Pong, QString(), QString(), 42460) << u"Pong 42.5 ms"_s;
        QTest::newRow("slow pong")
            << ConnectionEvent(Code::Pong, QString(), QString(), 1250400) << u"Pong 1250 ms"_s;
        QTest::newRow("accept failed")
            << ConnectionEvent(Code::AcceptFailed, QString(), u"Too many open files"_s, 1)
            << u"接受连接失败: Too many open files；暂停接受新连接，描述符释放后或 1 秒后重试"_s;
    }

    void shouldWriteEachEventsParticulars()
    {
        QFETCH(ConnectionEvent, event);
        QFETCH(QString, text);
        QCOMPARE(EventFormatter::text(event), text);
    }

    void shouldGiveSizesInTheirLargestUnit_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("bytes") << qint64(300) << u"300 B"_s;
        QTest::newRow("kibibytes") << qint64(1536) << u"1.5 KiB"_s;
        QTest::newRow("whole mebibytes") << qint64(16 * 1024 * 1024) << u"16 MiB"_s;
        QTest::newRow("ten mebibytes") << qint64(10 * 1024 * 1024) << u"10 MiB"_s;
    }

    void shouldGiveSizesInTheirLargestUnit()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(EventFormatter::sizeText(bytes), text);
    }
};

QTEST_GUILESS_MAIN(EventFormatterTest)
#include "tst_eventformatter.moc"
