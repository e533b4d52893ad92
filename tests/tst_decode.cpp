// Binary payloads from encoders nobody here wrote (cbor2, msgpack,
// python3-protobuf) over loopback: read in the rows, the detail pane and the
// chart, and the send box's JSON encoded for them to read back.
#include "LoopbackOnly.h"
#include "PythonPeer.h"

#include "WindowControls.h"
#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/ExportDialogs.h"
#include "decode/DecodePage.h"
#include "websocket/WebSocketWidget.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 15000;

QJsonDocument jsonOf(const QString& text)
{
    return QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"));
}

} // namespace

class DecodeTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    std::unique_ptr<PythonPeer> peer;

    template<typename T> T* find(const char* name)
    {
        return window->findChild<T*>(QLatin1String(name));
    }

    QListWidget* rows() { return find<QListWidget>("logOutput"); }
    QList<QListWidgetItem*> receivedRows()
    {
        QList<QListWidgetItem*> found;
        for (int k = 0; k < rows()->count(); ++k) {
            if (rows()->item(k)->text().contains(u"[RX]"_s))
                found.append(rows()->item(k));
        }
        return found;
    }

    bool connectToPeer()
    {
        peer = std::make_unique<PythonPeer>(u"codec_peer.py"_s, QStringList());
        if (!QTest::qWaitFor([&] { return !peer->linesWith(u"PORT "_s).isEmpty(); }, kTimeout))
            return false;
        c->urlEdit->setText(u"ws://127.0.0.1:%1/"_s.arg(peer->linesWith(u"PORT "_s).first()));
        c->connectButton->click();
        return peer->waitForLine(u"OPEN"_s);
    }

    void chooseProto()
    {
        ExportDialogs::getOpenFileName = [](QWidget*, const QString&, const QString&,
                                            const QString&) {
            return QStringLiteral(SOCKWISE_TESTS_DIR "/peers/reading.proto");
        };
        find<QPushButton>("protoFileButton")->click();
        find<QComboBox>("messageTypeCombo")->setCurrentText(u"sw.Reading"_s);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        keepNetworkOnLoopback();
        pythonReady = PythonPeer::available();
    }
    void init()
    {
        window = std::make_unique<WebSocketWidget>();
        c = std::make_unique<WindowControls>(window.get());
        window->show();
    }
    void cleanup()
    {
        peer.reset();
        c.reset();
        window.reset();
        ExportDialogs::restoreDefaults();
    }

    void shouldShowEveryTypeOfThePeersEncodersDecoded()
    {
        REQUIRE_PYTHON();
        QVERIFY(connectToPeer());
        chooseProto();
        find<QComboBox>("rowDecoderCombo")->setCurrentText(u"Auto"_s);
        ChartEngine* chart = c->chartEngine;
        chart->ruleNameEdit()->setText(u"temp"_s);
        chart->expressionEdit()->setText(u"temp"_s);
        chart->onAddRule();

        peer->send(u"push"_s);
        QTRY_COMPARE_WITH_TIMEOUT(peer->linesWith(u"CASE "_s).size(), 10, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(receivedRows().size(), 10, kTimeout);
        const QList<QListWidgetItem*> received = receivedRows();

        const QStringList cases = peer->linesWith(u"CASE "_s);
        for (int k = 0; k < cases.size(); ++k) {
            const QString name = cases.at(k).section(QLatin1Char(' '), 0, 0);
            const QString expected = cases.at(k).section(QLatin1Char(' '), 1);
            QListWidgetItem* row = received.at(k);
            if (name == u"protobuf-schema"_s) {
                // Auto reads the wire format, which protobuf-wire checks.
                continue;
            }
            const QString text = row->text();
            const QString data = text.mid(text.indexOf(u"[RX]  "_s) + 6);
            QVERIFY2(jsonOf(data) == jsonOf(expected), qPrintable(name + u": "_s + data));
            QVERIFY(!row->toolTip().isEmpty());
        }
        QVERIFY(received.at(0)->toolTip().contains(u"解码: CBOR"_s));

        // With the .proto, the detail pane reads the fields by name.
        const int schemaCase = int(cases.indexOf(QRegularExpression(u"protobuf-schema .*"_s)));
        QVERIFY(schemaCase >= 0);
        find<QPushButton>("detailToggle")->setChecked(true);
        rows()->setCurrentItem(received.at(schemaCase));
        auto* tabs = find<QTabWidget>("detailTabs");
        QTRY_VERIFY(tabs->isVisible() &&
                    tabs->isTabVisible(tabs->indexOf(find<QWidget>("detailDecode"))));
        tabs->setCurrentWidget(find<QWidget>("detailDecode"));
        auto* paneDecoder = find<QComboBox>("detailDecoder");
        paneDecoder->setCurrentText(u"Protobuf (.proto)"_s);
        auto* decoded = find<QPlainTextEdit>("detailDecoded");
        QTRY_VERIFY2(jsonOf(decoded->toPlainText()) ==
                         jsonOf(cases.at(schemaCase).section(QLatin1Char(' '), 1)),
                     qPrintable(decoded->toPlainText() + u" / "_s +
                                find<QLabel>("detailDecodeStatus")->text()));
        QVERIFY(received.at(7)->toolTip().contains(u"解码: gzip \u2192 JSON"_s));

        // The rule finds temp in the gzip'ed JSON and the zlib'ed CBOR.
        QList<double> values;
        for (const ChartSeriesData* series : chart->seriesStore()) {
            for (const DataPoint& point : series->points)
                values.append(point.value);
        }
        QCOMPARE(values, (QList<double>{21.5, 21.5}));
        // What is stored and exported is the bytes that came.
        const QList<LogEntry> entries = c->comm->entries();
        QCOMPARE(entries.at(entries.size() - 10).frameKind(), LogEntry::FrameKind::Binary);
    }

    void shouldLeaveBinaryRowsAsTheyWereWithNoDecoderChosen()
    {
        REQUIRE_PYTHON();
        QVERIFY(connectToPeer());
        peer->send(u"push"_s);
        QTRY_COMPARE_WITH_TIMEOUT(receivedRows().size(), 10, kTimeout);
        const LogEntry first = c->comm->entries().at(c->comm->entryCount() - 10);
        QVERIFY(receivedRows().at(0)->text().endsWith(first.hexText()));
    }

    void shouldEncodeTheSendBoxJsonForThePeersDecoder_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("peerFormat");
        QTest::addColumn<QString>("json");
        const QString value = u"{\"temp\":21.5,\"n\":7,\"s\":\"数据\",\"a\":[1,-2,null,true,0.25],"
                              u"\"big\":1234567890123,\"o\":{\"x\":-300}}"_s;
        QTest::newRow("cbor") << u"CBOR"_s << u"cbor"_s << value;
        QTest::newRow("msgpack") << u"MessagePack"_s << u"msgpack"_s << value;
        QTest::newRow("proto")
            << u"Protobuf"_s << u"proto"_s
            << u"{\"name\":\"数据\",\"temp\":21.5,\"n\":-7,\"delta\":\"-3\","
               u"\"samples\":[1,2,300],\"raw\":\"/wA=\",\"inner\":{\"id\":\"5\"},"
               u"\"ok\":true,\"ratio\":0.5,\"kind\":\"K1\"}"_s;
    }
    void shouldEncodeTheSendBoxJsonForThePeersDecoder()
    {
        REQUIRE_PYTHON();
        QFETCH(QString, encoding);
        QFETCH(QString, peerFormat);
        QFETCH(QString, json);
        QVERIFY(connectToPeer());
        chooseProto();
        c->binaryRadio->setChecked(true);
        auto* choice = find<QComboBox>("sendEncodingCombo");
        QVERIFY(choice->isEnabled());
        choice->setCurrentText(encoding);
        peer->send(u"expect "_s + peerFormat);
        QVERIFY(peer->waitForLine(u"EXPECTING "_s + peerFormat));
        c->sendEdit->setPlainText(json);
        c->sendButton->click();
        QTRY_VERIFY2_WITH_TIMEOUT(peer->linesWith(u"GOT "_s).size() == 1,
                                  qPrintable(c->systemTexts().join(u'|')), kTimeout);
        QCOMPARE(jsonOf(peer->linesWith(u"GOT "_s).first()), jsonOf(json));
    }

    void shouldKeepEachConnectionsDecodingWithItAcrossStarts()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"Sockwise.conf"_s);
        window->useSettingsFile(file);
        auto* rowChoice = find<QComboBox>("rowDecoderCombo");
        const QString device = u"ws://127.0.0.1:9/device"_s;
        c->urlEdit->setText(device);
        chooseProto();
        rowChoice->setCurrentText(u"Protobuf (.proto)"_s);
        c->binaryRadio->setChecked(true);
        find<QComboBox>("sendEncodingCombo")->setCurrentText(u"MessagePack"_s);
        QCOMPARE(c->connection->clientOptions().decode.rows, DecoderKind::ProtobufSchema);

        // Another server, and the server mode, start with nothing chosen.
        c->urlEdit->setText(u"ws://127.0.0.1:9/other"_s);
        QCOMPARE(rowChoice->currentText(), u"无"_s);
        QVERIFY(!find<QComboBox>("messageTypeCombo")->isEnabled());
        c->serverRadio->setChecked(true);
        QCOMPARE(rowChoice->currentText(), u"无"_s);
        rowChoice->setCurrentText(u"CBOR"_s);
        c->clientRadio->setChecked(true);
        c->urlEdit->setText(device);
        QCOMPARE(rowChoice->currentText(), u"Protobuf (.proto)"_s);

        c.reset();
        window = std::make_unique<WebSocketWidget>();
        window->useSettingsFile(file);
        c = std::make_unique<WindowControls>(window.get());
        rowChoice = find<QComboBox>("rowDecoderCombo");
        c->urlEdit->setText(device);
        QCOMPARE(rowChoice->currentText(), u"Protobuf (.proto)"_s);
        QCOMPARE(find<QComboBox>("messageTypeCombo")->currentText(), u"sw.Reading"_s);
        QCOMPARE(find<QComboBox>("sendEncodingCombo")->currentText(), u"MessagePack"_s);
        c->serverRadio->setChecked(true);
        QCOMPARE(rowChoice->currentText(), u"CBOR"_s);
        // And the rows read with it.
        c->comm->logFrame(LogEntry::RX, QByteArray::fromHex("a1616101"),
                          LogEntry::FrameKind::Binary, u"peer"_s);
        QTRY_COMPARE(receivedRows().size(), 1);
        QVERIFY2(receivedRows().first()->text().endsWith(u"{\"a\":1}"_s),
                 qPrintable(receivedRows().first()->text()));
    }

    void shouldDecodeLargeFramesOffTheWindowAndShowTheLatestChosen()
    {
        QCborArray many;
        for (int k = 0; k < 40000; ++k)
            many.append(k);
        const QByteArray large = QCborValue(many).toCbor();
        QVERIFY(large.size() > DecodePage::inlineBytes);
        c->comm->logFrame(LogEntry::RX, large, LogEntry::FrameKind::Binary, u"peer"_s);
        c->comm->logFrame(LogEntry::RX, QByteArray::fromHex("a1616101"),
                          LogEntry::FrameKind::Binary, u"peer"_s);
        QTRY_COMPARE(receivedRows().size(), 2);
        find<QPushButton>("detailToggle")->setChecked(true);
        rows()->setCurrentItem(receivedRows().at(0));
        auto* tabs = find<QTabWidget>("detailTabs");
        tabs->setCurrentWidget(find<QWidget>("detailDecode"));
        auto* decoded = find<QPlainTextEdit>("detailDecoded");
        QTRY_VERIFY(!decoded->toPlainText().isEmpty());
        find<QPushButton>("detailDecodedCopy")->click();
        QCOMPARE(
            QJsonDocument::fromJson(QGuiApplication::clipboard()->text().toUtf8()).array().size(),
            40000);
        // A worker still reading the large one must not overwrite the small one.
        find<QComboBox>("detailDecoder")->setCurrentText(u"CBOR"_s);
        rows()->setCurrentItem(receivedRows().at(1));
        QTRY_COMPARE(find<QWidget>("detailDecode")->findChild<QThreadPool*>()->activeThreadCount(),
                     0);
        QCoreApplication::processEvents();
        QCOMPARE(jsonOf(decoded->toPlainText()), jsonOf(u"{\"a\":1}"_s));
    }

    void shouldSayWhyJsonDoesNotFitAndSendNothing_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("why");
        QTest::newRow("not json") << u"CBOR"_s << u"{\"temp\": 21.5,"_s
                                  << u"未发送：CBOR: 发送框的内容不是一个 JSON 值"_s;
        QTest::newRow("unknown field")
            << u"Protobuf"_s << u"{\"nope\": 1}"_s << u"未发送：sw.Reading: "_s;
        QTest::newRow("no object")
            << u"Protobuf"_s << u"[1]"_s << u"未发送：Protobuf: 消息须是一个 JSON 对象"_s;
    }
    void shouldSayWhyJsonDoesNotFitAndSendNothing()
    {
        REQUIRE_PYTHON();
        QFETCH(QString, encoding);
        QFETCH(QString, json);
        QFETCH(QString, why);
        QVERIFY(connectToPeer());
        chooseProto();
        c->binaryRadio->setChecked(true);
        find<QComboBox>("sendEncodingCombo")->setCurrentText(encoding);
        c->sendEdit->setPlainText(json);
        const int entriesBefore = c->comm->entryCount();
        c->sendButton->click();
        QTRY_VERIFY(c->comm->entryCount() > entriesBefore);
        const QStringList said = c->systemTexts(entriesBefore);
        QVERIFY2(!said.isEmpty() && said.last().startsWith(why), qPrintable(said.join(u'|')));
        QCOMPARE(c->comm->txBytes(), 0);
    }
};

QTEST_MAIN(DecodeTest)
#include "tst_decode.moc"
