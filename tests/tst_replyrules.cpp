// The auto-reply rules without a connection: which rule answers what, the
// templates, the rules file and the guard.
#include "reply/RuleFile.h"
#include "reply/RuleResponder.h"
#include "reply/TemplateExpander.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray fileOf(const QByteArray& rules)
{
    return "{\"format\": \"sockwise-auto-reply\", \"version\": 1, \"rules\": [" + rules + "]}";
}

QList<ReplyRule> rulesOf(const QByteArray& rules)
{
    QString error;
    const std::optional<QList<ReplyRule>> read = RuleFile::read(fileOf(rules), &error);
    if (!read)
        qWarning() << error;
    return read.value_or(QList<ReplyRule>());
}

Responder::Incoming textFrame(const QString& text)
{
    Responder::Incoming frame;
    frame.text = text;
    frame.data = text.toUtf8();
    frame.peer = u"127.0.0.1:5000"_s;
    return frame;
}

// The replies as "text" or "binary:HEX", joined by " | "; "-" for none.
QString answerOf(RuleResponder& responder, const Responder::Incoming& frame)
{
    const std::optional<Responder::Replies> replies = responder.received(frame);
    if (!replies)
        return u"-"_s;
    QStringList texts;
    for (const Responder::Reply& reply : *replies)
        texts << (reply.kind == LogEntry::FrameKind::Binary
                      ? u"binary:"_s + QString::fromLatin1(reply.data.toHex())
                      : QString::fromUtf8(reply.data));
    return texts.join(u" | "_s);
}

// The example rules file of the README.
QByteArray exampleRules()
{
    QFile file(QStringLiteral(SOCKWISE_TESTS_DIR "/data/auto-reply-example.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QJsonArray rules =
        QJsonDocument::fromJson(file.readAll()).object().value(u"rules"_s).toArray();
    const QByteArray list = QJsonDocument(rules).toJson(QJsonDocument::Compact);
    return list.mid(1, list.size() - 2);
}

} // namespace

class ReplyRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldAnswerWithTheFirstEnabledRuleThatMatches_data()
    {
        QTest::addColumn<QByteArray>("rules");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("answer");

        const QByteArray two = "{\"name\":\"a\",\"match\":{\"type\":\"contains\",\"value\":\"x\"},"
                               "\"reply\":{\"content\":\"first\"}},"
                               "{\"name\":\"b\",\"match\":{\"type\":\"any\"},\"reply\":[{"
                               "\"content\":\"second\"},{\"content\":\"third\"}]}";
        QTest::newRow("first wins") << two << false << u"xyz"_s << u"first"_s;
        QTest::newRow("array in order") << two << false << u"abc"_s << u"second | third"_s;
        QTest::newRow("disabled skipped")
            << QByteArray("{\"name\":\"a\",\"enabled\":false,\"match\":{\"type\":\"any\"},"
                          "\"reply\":{\"content\":\"no\"}}")
            << false << u"x"_s << u"-"_s;
        QTest::newRow("equals is whole") << exampleRules() << false << u"ping!"_s << u"-"_s;
        QTest::newRow("regex group") << exampleRules() << false << u"AT+GMR"_s << u"OK GMR\r\n"_s;
        QTest::newRow("hex bytes")
            << exampleRules() << true << u"0103000000 0a"_s << u"binary:0103140001"_s;
        QTest::newRow("hex rule, text frame") << exampleRules() << false << u"ping"_s << u"pong"_s;
        QTest::newRow("frame filter")
            << QByteArray("{\"name\":\"t\",\"match\":{\"type\":\"any\",\"frame\":\"text\"},"
                          "\"reply\":{\"content\":\"t\"}}")
            << true << u"00"_s << u"-"_s;
        QTest::newRow("contains hex")
            << QByteArray("{\"name\":\"h\",\"match\":{\"type\":\"contains\",\"hex\":true,\"value\":"
                          "\"FF00\"},\"reply\":{\"content\":\"hit\"}}")
            << true << u"01ff0002"_s << u"hit"_s;
        const QByteArray hexTemplate =
            "{\"name\":\"h\",\"match\":{\"type\":\"any\"},\"reply\":[{\"content\":\"{{payload}}\","
            "\"hex\":true,\"frame\":\"binary\"},{\"content\":\"after\"}]}";
        QTest::newRow("filled hex")
            << hexTemplate << false << u"0a0b"_s << u"binary:0a0b | after"_s;
        QTest::newRow("filled non-hex left out") << hexTemplate << false << u"zz"_s << u"after"_s;
        const QByteArray json =
            "{\"name\":\"j\",\"match\":{\"type\":\"json\",\"path\":\"params.0.id\",\"value\":\"7\"}"
            ",\"reply\":{\"content\":\"{{json:params.0}}\"}},"
            "{\"name\":\"k\",\"match\":{\"type\":\"json\",\"path\":\"on\"},\"reply\":{\"content\":"
            "\"on={{json:on}}\"}}";
        QTest::newRow("json nested value")
            << json << false << u"{\"params\":[{\"id\":7.0}]}"_s << u"{\"id\":7.0}"_s;
        QTest::newRow("json presence") << json << false << u"{\"on\":false}"_s << u"on=false"_s;
        QTest::newRow("json other value")
            << json << false << u"{\"params\":[{\"id\":8}]}"_s << u"-"_s;
        QTest::newRow("not json") << json << false << u"on"_s << u"-"_s;
        QTest::newRow("rpc id digit for digit")
            << exampleRules() << false
            << u"{\"id\": 12345678901234567891, \"method\":\"getTemp\"}"_s
            << u"RPC 12345678901234567891"_s;
    }
    void shouldAnswerWithTheFirstEnabledRuleThatMatches()
    {
        QFETCH(QByteArray, rules);
        QFETCH(bool, binary);
        QFETCH(QString, frame);
        QFETCH(QString, answer);
        RuleResponder responder;
        responder.setRules(rulesOf(rules));
        QVERIFY(!responder.rules().isEmpty());
        Responder::Incoming incoming = textFrame(frame);
        if (binary) {
            incoming.kind = LogEntry::FrameKind::Binary;
            incoming.data = QByteArray::fromHex(frame.toLatin1());
            incoming.text.clear();
        }
        const QString got = answerOf(responder, incoming);
        if (answer.startsWith(u"RPC "_s)) {
            const QRegularExpression rpc(
                u"^\\{\"jsonrpc\":\"2.0\",\"id\":(\\d+),\"result\":(2\\d\\.\\d|30\\.0)\\}$"_s);
            const QRegularExpressionMatch match = rpc.match(got);
            QVERIFY2(match.hasMatch(), qPrintable(got));
            QCOMPARE(match.captured(1), answer.mid(4));
        } else {
            QCOMPARE(got, answer);
        }
    }

    void shouldFillEveryVariable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("seq, payload, peer")
            << u"{{seq}} {{payload}} {{peer}}"_s << u"^42 hi \\{x\\} 10\\.0\\.0\\.1:9$"_s;
        QTest::newRow("now") << u"{{now}}"_s << u"^1\\d{12}$"_s;
        QTest::newRow("time") << u"{{time}}"_s << u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"_s;
        QTest::newRow("iso with offset")
            << u"{{iso}}"_s
            << u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"_s;
        QTest::newRow("uuid") << u"{{uuid}}"_s << u"^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"_s;
        QTest::newRow("random integer") << u"{{random:1-3}}"_s << u"^[123]$"_s;
        QTest::newRow("random decimal") << u"{{ random:-1-1.25 }}"_s << u"^-?[01]\\.\\d\\d$"_s;
        QTest::newRow("groups") << u"{{0}}/{{2}}/{{9}}"_s << u"^AT\\+X/X/$"_s;
        QTest::newRow("json values") << u"{{json:a}} {{json:b.1}} {{json:none}}"_s
                                     << u"^\"x\\\\\"y\" \\{ \"c\": 1 \\} null$"_s;
        QTest::newRow("escaped and unknown")
            << u"\\{{seq}} {{nope}} {{seq"_s << u"^\\{\\{seq\\}\\} \\{\\{nope\\}\\} \\{\\{seq$"_s;
    }
    void shouldFillEveryVariable()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        TemplateExpander::Context context;
        context.seq = 42;
        context.payload = u"hi {x}"_s;
        context.peer = u"10.0.0.1:9"_s;
        context.captures = {u"AT+X"_s, u"AT"_s, u"X"_s};
        context.json = "{\"a\": \"x\\\"y\", \"b\": [0, { \"c\": 1 }]}";
        for (int round = 0; round < 50; ++round) {
            const QString filled = TemplateExpander::expand(text, context);
            QVERIFY2(QRegularExpression(pattern).match(filled).hasMatch(), qPrintable(filled));
        }
    }

    void shouldNameWhatATemplateCannotFill()
    {
        QCOMPARE(
            TemplateExpander::unknownNames(u"{{seq}} {{foo}} {{random:a-b}} {{foo}} \\{{bar}}"_s),
            (QStringList{u"{{foo}}"_s, u"{{random:a-b}}"_s}));
    }

    void shouldRefuseAFileNamingTheRuleAndTheField_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        QTest::newRow("not json") << QByteArray("{") << u"不是 JSON"_s;
        QTest::newRow("other format")
            << QByteArray("{\"format\":\"x\",\"version\":1,\"rules\":[]}") << u"format"_s;
        QTest::newRow("version")
            << QByteArray("{\"format\":\"sockwise-auto-reply\",\"version\":2,\"rules\":[]}")
            << u"version"_s;
        QTest::newRow("wrong type") << fileOf("{\"name\":\"p\",\"match\":{\"type\":\"equals\","
                                              "\"value\":1},\"reply\":{\"content\":\"x\"}}")
                                    << u"规则 1 \"p\" 的 match.value: 应为文本"_s;
        QTest::newRow("bad regex")
            << fileOf(
                   "{\"name\":\"ok\",\"match\":{\"type\":\"any\"},\"reply\":{\"content\":\"x\"}},"
                   "{\"name\":\"r\",\"match\":{\"type\":\"regex\",\"value\":\"(\"},\"reply\":{"
                   "\"content\":\"x\"}}")
            << u"规则 2 \"r\" 的 match.value: 正则表达式无效"_s;
        QTest::newRow("bad path") << fileOf("{\"name\":\"j\",\"match\":{\"type\":\"json\",\"path\":"
                                            "\"a..b\"},\"reply\":{\"content\":\"x\"}}")
                                  << u"规则 1 \"j\" 的 match.path"_s;
        QTest::newRow("delay") << fileOf(
                                      "{\"name\":\"d\",\"match\":{\"type\":\"any\"},\"reply\":[{"
                                      "\"content\":\"x\"},{\"content\":\"y\",\"delayMs\":600001}]}")
                               << u"reply.1.delayMs"_s;
        QTest::newRow("hex reply") << fileOf("{\"name\":\"h\",\"match\":{\"type\":\"any\"},"
                                             "\"reply\":{\"content\":\"0G\",\"hex\":true}}")
                                   << u"reply.0.content: 不是十六进制"_s;
        QTest::newRow("unknown type") << fileOf("{\"name\":\"u\",\"match\":{\"type\":\"sometimes\"}"
                                                ",\"reply\":{\"content\":\"x\"}}")
                                      << u"match.type"_s;
    }
    void shouldRefuseAFileNamingTheRuleAndTheField()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QString got;
        QVERIFY(!RuleFile::read(file, &got));
        QVERIFY2(got.contains(error), qPrintable(got));
    }

    void shouldReadBackWhatItWrites()
    {
        const QList<ReplyRule> rules = rulesOf(exampleRules());
        QCOMPARE(rules.size(), 6);
        QCOMPARE(rules.at(2).replies.at(0).delayMs, 20);
        QVERIFY(rules.at(5).replies.at(0).toAll);
        QString error;
        QCOMPARE(RuleFile::read(RuleFile::write(rules), &error).value_or(QList<ReplyRule>()),
                 rules);
    }

    void shouldCountPerRuleAndHoldToTheGuard()
    {
        RuleResponder responder;
        responder.setRules(rulesOf("{\"name\":\"p\",\"maxPerSecond\":3,\"match\":{\"type\":\"any\"}"
                                   ",\"reply\":{\"content\":\"{{seq}}\"}},"
                                   "{\"name\":\"hello\",\"match\":{\"type\":\"connect\"},\"reply\":"
                                   "{\"content\":\"hi {{seq}} {{peer}}\"}}"));
        QStringList answers;
        for (int i = 0; i < 10; ++i)
            answers << answerOf(responder, textFrame(u"x"_s));
        // Past the limit the rule still answers (nothing else may), with nothing.
        QCOMPARE(answers.join(u','), u"1,2,3,,,,,,,"_s);
        QCOMPARE(responder.takeNotices(), QStringList{u"自动回复 \"p\" 超过每秒 3 次，已暂停"_s});
        QCOMPARE(responder.connected(1, u"a:1"_s).value(0).data, "hi 1 a:1");
        QCOMPARE(responder.preview(textFrame(u"x"_s)).rule, 0);
    }

    void shouldTickTimersToEveryone()
    {
        RuleResponder responder;
        responder.setRules(rulesOf(exampleRules()));
        QCOMPARE(responder.timerIntervals(), QList<int>{1000});
        const Responder::Replies first = responder.timerFired(0);
        QCOMPARE(first.size(), 1);
        QVERIFY(first.at(0).toAll);
        QCOMPARE(first.at(0).source, u"自动回复: tick"_s);
        QVERIFY(QString::fromUtf8(responder.timerFired(0).at(0).data).endsWith(u"\"n\":2}"_s));
    }
};

QTEST_GUILESS_MAIN(ReplyRulesTest)
#include "tst_replyrules.moc"
