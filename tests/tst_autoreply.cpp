// The "自动回复" tab in the window: replies to clients and to the server,
// logged as TX entries that name their rule; the editor, the file, the test
// line, and templates in the send box.
#include "PythonPeer.h"
#include "WindowControls.h"
#include "comm/EntryDetail.h"
#include "comm/ExportDialogs.h"
#include "reply/AutoReplyPanel.h"
#include "reply/RuleFile.h"

#include <QTcpServer>
#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString example = QStringLiteral(SOCKWISE_TESTS_DIR "/data/auto-reply-example.json");

QList<ReplyRule> exampleRules()
{
    return RuleFile::readFile(example, nullptr).value_or(QList<ReplyRule>());
}

} // namespace

class AutoReplyTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    QTemporaryDir dir;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    AutoReplyPanel* panel = nullptr;

    template<typename T> T* in(const char* name) const
    {
        return panel->findChild<T*>(QString::fromLatin1(name));
    }
    quint16 listen()
    {
        c->serverRadio->setChecked(true);
        for (int attempt = 0; attempt < 5 && !c->isConnected(); ++attempt) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, 0)) {
                c->portSpin->setValue(probe.serverPort());
                probe.close();
                c->connectButton->click();
            }
        }
        return c->isConnected() ? quint16(c->portSpin->value()) : 0;
    }
    QList<LogEntry> sentEntries() const
    {
        QList<LogEntry> sent;
        for (const LogEntry& entry : c->comm->entries()) {
            if (entry.direction() == LogEntry::TX)
                sent.append(entry);
        }
        return sent;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        pythonReady = PythonPeer::available();
        QVERIFY(dir.isValid());
    }
    void init()
    {
        window = std::make_unique<WebSocketWidget>();
        c = std::make_unique<WindowControls>(window.get());
        panel = c->find<AutoReplyPanel>("autoReplyPanel");
        QVERIFY(panel);
    }
    void cleanup()
    {
        c.reset();
        window.reset();
        ExportDialogs::restoreDefaults();
    }

    void shouldAnswerClientsOnlyWhileSwitchedOnAndNameTheRule()
    {
        REQUIRE_PYTHON();
        panel->setRules(exampleRules());
        const quint16 port = listen();
        QVERIFY(port);
        PythonPeer client(u"reply_client.py"_s, {u"ws://127.0.0.1:%1/"_s.arg(port)});
        QVERIFY(client.waitForLine(u"OPEN"_s));
        client.send(u"text ping"_s);
        // Off, as it starts: the window stays as it always was.
        QTRY_COMPARE(c->comm->rxBytes(), 4);
        QVERIFY(sentEntries().isEmpty());

        in<QCheckBox>("autoReplyEnabled")->setChecked(true);
        client.send(u"text ping"_s);
        QVERIFY(client.waitForLine(u"TEXT \"pong\""_s));
        QTRY_COMPARE(sentEntries().size(), 1);
        const LogEntry reply = sentEntries().first();
        QCOMPARE(reply.text(), u"pong"_s);
        QCOMPARE(reply.source(), u"自动回复: ping"_s);
        QVERIFY(reply.peer().startsWith(u"127.0.0.1:"_s));
        QVERIFY(c->logView->rowToolTip(reply.serial()).contains(u"自动回复: ping"_s));
        QVERIFY(EntryDetail(reply).peerText().endsWith(u"(自动回复: ping)"_s));
        QCOMPARE(c->comm->txBytes(), 4);
        // A tick goes to every client.
        QTRY_VERIFY_WITH_TIMEOUT(!client.linesWith(u"TEXT \"{\\\"temp\\\":"_s).isEmpty(), 5000);
    }

    void shouldAnswerTheServerInClientMode()
    {
        REQUIRE_PYTHON();
        ReplyRule hello;
        hello.name = u"hi"_s;
        hello.match.type = ReplyRule::MatchType::Connect;
        hello.replies.first().content = u"hello {{seq}}"_s;
        ReplyRule echo;
        echo.name = u"echoed"_s;
        echo.match.type = ReplyRule::MatchType::Regex;
        echo.match.value = u"^hello (\\d)$"_s;
        echo.replies.first().content = u"got {{1}}"_s;
        echo.replies.first().frame = LogEntry::FrameKind::Binary;
        panel->setRules({hello, echo});
        in<QCheckBox>("autoReplyEnabled")->setChecked(true);
        PythonPeer server(u"echo_server.py"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(!server.linesWith(u"PORT "_s).isEmpty(),
                                 PythonPeer::defaultTimeout);
        c->urlEdit->setText(u"ws://127.0.0.1:%1/"_s.arg(server.linesWith(u"PORT "_s).first()));
        c->connectButton->click();
        // The echo of "hello 1" comes back and is answered once, in binary.
        QVERIFY(
            server.waitForLine(u"TEXT "_s + QString::fromLatin1(QByteArray("hello 1").toHex())));
        QVERIFY(
            server.waitForLine(u"BINARY "_s + QString::fromLatin1(QByteArray("got 1").toHex())));
        QTRY_COMPARE(sentEntries().size(), 2);
        QCOMPARE(sentEntries().at(1).source(), u"自动回复: echoed"_s);
    }

    void shouldKeepARuleThatCannotWorkOutAndTryMessages()
    {
        panel->setRules(exampleRules());
        auto* list = in<QListWidget>("autoReplyRules");
        QCOMPARE(list->count(), 6);
        list->setCurrentRow(3); // "at"
        in<QLineEdit>("ruleMatchValue")->setText(u"^AT+("_s);
        in<QPushButton>("autoReplySave")->click();
        QVERIFY(in<QLabel>("autoReplyStatus")->text().contains(u"match.value"_s));
        QCOMPARE(panel->rules(), exampleRules());

        in<QLineEdit>("ruleMatchValue")->setText(u"^AT$"_s);
        in<QPlainTextEdit>("ruleReplyContent")->setPlainText(u"{{nope}} {{seq}}"_s);
        in<QPushButton>("autoReplySave")->click();
        QVERIFY(in<QLabel>("autoReplyStatus")->text().contains(u"{{nope}}"_s));
        QCOMPARE(panel->rules().at(3).match.value, u"^AT$"_s);

        in<QPushButton>("autoReplyUp")->click();
        QCOMPARE(panel->rules().at(2).name, u"at"_s);
        in<QLineEdit>("autoReplyTryInput")->setText(u"AT"_s);
        in<QPushButton>("autoReplyTry")->click();
        QCOMPARE(in<QLabel>("autoReplyTryResult")->text(), u"自动回复: at\n→ {{nope}} 1"_s);
        in<QLineEdit>("autoReplyTryInput")->setText(u"pong"_s);
        in<QPushButton>("autoReplyTry")->click();
        QCOMPARE(in<QLabel>("autoReplyTryResult")->text(), u"没有规则匹配"_s);
    }

    void shouldImportWholeFilesOnlyAndKeepRulesAcrossStarts()
    {
        const QString settings = dir.filePath(u"settings.ini"_s);
        window->useSettingsFile(settings);
        QString warned;
        ExportDialogs::warning = [&](QWidget*, const QString&, const QString& text) {
            warned = text;
        };
        QString chosen = example;
        ExportDialogs::getOpenFileName = [&](QWidget*, const QString&, const QString&,
                                             const QString&) {
            return chosen;
        };
        in<QPushButton>("autoReplyImport")->click();
        QCOMPARE(panel->rules(), exampleRules());

        QFile broken(dir.filePath(u"broken.json"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(
            "{\"format\":\"sockwise-auto-reply\",\"version\":1,\"rules\":[{\"name\":\"x\"}]}");
        broken.close();
        chosen = broken.fileName();
        in<QPushButton>("autoReplyImport")->click();
        QVERIFY2(warned.contains(u"规则 1 \"x\" 的 match"_s), qPrintable(warned));
        QCOMPARE(panel->rules(), exampleRules());
        in<QCheckBox>("autoReplyEnabled")->setChecked(true);

        cleanup();
        init();
        window->useSettingsFile(settings);
        QCOMPARE(panel->rules(), exampleRules());
        QVERIFY(in<QCheckBox>("autoReplyEnabled")->isChecked());
    }

    void shouldFillTheSendBoxOnlyWhenAsked()
    {
        REQUIRE_PYTHON();
        const quint16 port = listen();
        QVERIFY(port);
        PythonPeer client(u"reply_client.py"_s, {u"ws://127.0.0.1:%1/"_s.arg(port)});
        QVERIFY(client.waitForLine(u"OPEN"_s));
        QTRY_COMPARE(c->clientList->count(), 1);
        c->sendEdit->setPlainText(u"n={{seq}}"_s);
        c->sendButton->click();
        QVERIFY(client.waitForLine(u"TEXT \"n={{seq}}\""_s));
        c->find<QCheckBox>("templateCheck")->setChecked(true);
        c->sendButton->click();
        c->sendButton->click();
        QVERIFY(client.waitForLine(u"TEXT \"n=2\""_s));
        QVERIFY(client.lines.contains(u"TEXT \"n=1\""_s));
        QCOMPARE(c->sendEdit->toPlainText(), u"n={{seq}}"_s);
    }
};

QTEST_MAIN(AutoReplyTest)
#include "tst_autoreply.moc"
