#include "comm/CommunicationBase.h"
#include "comm/HexText.h"
#include "comm/LogEntry.h"
#include "comm/TextCodec.h"

#include <QSignalSpy>
#include <QStringList>
#include <QtTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray allByteValues()
{
    QByteArray out;
    for (int b = 0; b < 256; ++b)
        out.append(char(b));
    return out;
}

class SmallLog : public CommunicationBase
{
public:
    explicit SmallLog(int cap)
        : m_cap(cap)
    {}
    int maxEntries() const override { return m_cap; }

private:
    int m_cap;
};

QStringList texts(const QList<LogEntry>& entries)
{
    QStringList out;
    for (const LogEntry& e : entries)
        out << e.text;
    return out;
}

} // namespace

class TestComm : public QObject
{
    Q_OBJECT

private slots:
    void shouldRoundTripEveryByteThroughHexText();
    void shouldAcceptOnlyDigitsSpacesAndHyphensAsHexInput_data();
    void shouldAcceptOnlyDigitsSpacesAndHyphensAsHexInput();
    void shouldPairDigitsIgnoringEverythingElse_data();
    void shouldPairDigitsIgnoringEverythingElse();

    void shouldConvertEachEncodingBothWays_data();
    void shouldConvertEachEncodingBothWays();
    void shouldHonourUtf16ByteOrderMarksAndDropOddByte();
    void shouldSubstituteQuestionMarkForNonLatin1();
    void shouldTreatUnknownEncodingNamesAsUtf8();
    void shouldReplaceMalformedBytesInsteadOfDroppingThem_data();
    void shouldReplaceMalformedBytesInsteadOfDroppingThem();
    void shouldGiveEmptyResultsForEmptyInputInEveryEncoding();

    void shouldBuildEntriesWithTagsTimesAndHexText();
    void shouldKeepOnlyTheNewestEntriesUpToTheCap();
    void shouldCapAtOneHundredThousandEntriesByDefault();
    void shouldAnnounceEntryBeforeCounters();
    void shouldLetReceiversCallBackIntoTheLog();
    void shouldDeliverEntriesThroughQueuedConnections();
    void shouldClearEntriesAndResetCountersIndependently();
    void shouldNotAlterStoredEntriesWhenSettingsChange();
};

void TestComm::shouldRoundTripEveryByteThroughHexText()
{
    QCOMPARE(bytesToHex(QByteArray()), QString());
    QCOMPARE(bytesToHex(bytes({0x48, 0x65, 0x0A})), QStringLiteral("48 65 0A"));
    // Sizes around a table-driven loop's edges, each checked against Qt's own hex.
    for (int n : {1, 2, 3, 255, 256, 1000}) {
        QByteArray data;
        for (int i = 0; i < n; ++i)
            data.append(char((i * 37 + 11) & 0xFF));
        const QString hex = bytesToHex(data);
        QCOMPARE(hex.size(), 3 * n - 1);
        QCOMPARE(hex, QString::fromLatin1(data.toHex(' ').toUpper()));
        QVERIFY(isValidHex(hex));
        QCOMPARE(hexToBytes(hex), data);
    }
    const QByteArray all = allByteValues();
    QCOMPARE(hexToBytes(bytesToHex(all)), all);
    QCOMPARE(hexToBytes(bytesToHex(all).toLower()), all);
}

void TestComm::shouldAcceptOnlyDigitsSpacesAndHyphensAsHexInput_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("spaces only") << QStringLiteral("   ") << false;
    QTest::newRow("single digit") << QStringLiteral("4") << false;
    QTest::newRow("odd digit count") << QStringLiteral("48 6") << false;
    QTest::newRow("pair") << QStringLiteral("48") << true;
    QTest::newRow("hyphen separated") << QStringLiteral("48-65") << true;
    QTest::newRow("mixed case") << QStringLiteral("48 65 6c") << true;
    QTest::newRow("unpaired groups") << QStringLiteral("486 5") << true;
    QTest::newRow("0x prefix") << QStringLiteral("0x48") << false;
    QTest::newRow("tab") << QStringLiteral("48\t65") << false;
    QTest::newRow("line break") << QStringLiteral("48\n65") << false;
    QTest::newRow("non-breaking space")
        << (QStringLiteral("48") + QChar(0x00A0) + QStringLiteral("65")) << false;
    QTest::newRow("full-width digits") << QStringLiteral("４８") << false;
    QTest::newRow("arabic-indic digits") << QStringLiteral("٤٨") << false;
}

void TestComm::shouldAcceptOnlyDigitsSpacesAndHyphensAsHexInput()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidHex(text), valid);
}

void TestComm::shouldPairDigitsIgnoringEverythingElse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("odd count") << QStringLiteral("123") << QByteArray();
    QTest::newRow("split pair") << QStringLiteral("4 8") << bytes({0x48});
    QTest::newRow("mixed case") << QStringLiteral("0a0B") << bytes({0x0A, 0x0B});
    QTest::newRow("hyphens") << QStringLiteral("de-AD-be-EF") << bytes({0xDE, 0xAD, 0xBE, 0xEF});
    QTest::newRow("unpaired groups") << QStringLiteral("486 5") << bytes({0x48, 0x65});
    // The x is skipped but the 0 counts, leaving an odd count.
    QTest::newRow("0x prefix") << QStringLiteral("0x48") << QByteArray();
    QTest::newRow("0x prefixes paired") << QStringLiteral("0x0 0x1") << bytes({0x00, 0x01});
    QTest::newRow("tabs and line breaks")
        << QStringLiteral("48\t65\r\n6C") << bytes({0x48, 0x65, 0x6C});
    // Non-ASCII digits are not hexadecimal digits, whatever their numeric value.
    QTest::newRow("full-width digits ignored") << QStringLiteral("４８41") << bytes({0x41});
    QTest::newRow("arabic-indic digits ignored") << QStringLiteral("٤41٨") << bytes({0x41});
}

void TestComm::shouldPairDigitsIgnoringEverythingElse()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(hexToBytes(text), expected);
}

void TestComm::shouldConvertEachEncodingBothWays_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("UTF-8 Chinese") << QStringLiteral("UTF-8") << QStringLiteral("中文")
                                   << bytes({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87});
    QTest::newRow("empty name is UTF-8") << QString() << QStringLiteral("é") << bytes({0xC3, 0xA9});
    QTest::newRow("GBK Chinese") << QStringLiteral("GBK") << QStringLiteral("中文")
                                 << bytes({0xD6, 0xD0, 0xCE, 0xC4});
    QTest::newRow("GBK mixed") << QStringLiteral("GBK") << QStringLiteral("温度:25℃")
                               << (bytes({0xCE, 0xC2, 0xB6, 0xC8}) + QByteArray(":25") +
                                   bytes({0xA1, 0xE6}));
    QTest::newRow("GB2312 Chinese")
        << QStringLiteral("GB2312") << QStringLiteral("中文") << bytes({0xD6, 0xD0, 0xCE, 0xC4});
    QTest::newRow("ASCII means Latin-1")
        << QStringLiteral("ASCII") << QStringLiteral("café") << bytes({0x63, 0x61, 0x66, 0xE9});
    QTest::newRow("Unicode little-endian")
        << QStringLiteral("Unicode") << QStringLiteral("A中") << bytes({0x41, 0x00, 0x2D, 0x4E});
    QTest::newRow("Unicode surrogate pair")
        << QStringLiteral("Unicode") << QString::fromUcs4(U"\U0001F600", 1)
        << bytes({0x3D, 0xD8, 0x00, 0xDE});
}

void TestComm::shouldConvertEachEncodingBothWays()
{
    QFETCH(QString, encoding);
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);

    QCOMPARE(encodeText(text, encoding), encoded);
    QCOMPARE(decodeBytes(encoded, encoding), text);

    // The object's conversions follow whatever name is selected.
    CommunicationBase comm;
    comm.setEncoding(encoding);
    QCOMPARE(comm.encoding(), encoding);
    QCOMPARE(comm.encode(text), encoded);
    QCOMPARE(comm.decode(encoded), text);
}

void TestComm::shouldHonourUtf16ByteOrderMarksAndDropOddByte()
{
    const QString unicode = QStringLiteral("Unicode");
    QCOMPARE(decodeBytes(bytes({0xFF, 0xFE, 0x41, 0x00}), unicode), QStringLiteral("A"));
    QCOMPARE(decodeBytes(bytes({0xFE, 0xFF, 0x00, 0x41, 0x4E, 0x2D}), unicode),
             QStringLiteral("A中"));
    // Without a mark the units are little-endian.
    QCOMPARE(decodeBytes(bytes({0x00, 0x41}), unicode), QString(QChar(0x4100)));
    QCOMPARE(decodeBytes(bytes({0x41, 0x00, 0x42}), unicode), QStringLiteral("A"));
    QCOMPARE(decodeBytes(bytes({0xFE, 0xFF, 0x00, 0x41, 0x42}), unicode), QStringLiteral("A"));
    QCOMPARE(decodeBytes(bytes({0x41}), unicode), QString());
    QCOMPARE(decodeBytes(bytes({0xFF, 0xFE}), unicode), QString());
    // Only a leading mark is a mark.
    QCOMPARE(decodeBytes(bytes({0x41, 0x00, 0xFF, 0xFE}), unicode),
             QStringLiteral("A") + QChar(0xFEFF));
    // Encoding writes no mark.
    QCOMPARE(encodeText(QStringLiteral("A"), unicode), bytes({0x41, 0x00}));
}

void TestComm::shouldSubstituteQuestionMarkForNonLatin1()
{
    const QString ascii = QStringLiteral("ASCII");
    QCOMPARE(decodeBytes(bytes({0xE9}), ascii), QString(QChar(0x00E9)));
    QCOMPARE(encodeText(QStringLiteral("中"), ascii), QByteArray("?"));
    QCOMPARE(encodeText(QStringLiteral("a中b€"), ascii), QByteArray("a?b?"));
    // No byte is rejected: all 256 come back unchanged.
    const QByteArray all = allByteValues();
    const QString decoded = decodeBytes(all, ascii);
    QCOMPARE(decoded.size(), 256);
    QCOMPARE(encodeText(decoded, ascii), all);
}

void TestComm::shouldTreatUnknownEncodingNamesAsUtf8()
{
    for (const QString& name : {QStringLiteral("NoSuchCodec"), QStringLiteral("Klingon-1")}) {
        QCOMPARE(encodeText(QStringLiteral("中文"), name), QStringLiteral("中文").toUtf8());
        QCOMPARE(decodeBytes(QStringLiteral("中文").toUtf8(), name), QStringLiteral("中文"));
    }
}

void TestComm::shouldReplaceMalformedBytesInsteadOfDroppingThem_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("UTF-8 stray byte") << QStringLiteral("UTF-8") << bytes({0x41, 0xFF, 0x42})
                                      << QStringLiteral("A") << QStringLiteral("B");
    QTest::newRow("UTF-8 cut sequence")
        << QStringLiteral("UTF-8") << bytes({0x41, 0xE4, 0xB8}) << QStringLiteral("A") << QString();
    // A frame ending in half a GBK character must still show that something came.
    QTest::newRow("GBK cut character")
        << QStringLiteral("GBK") << bytes({0xD6, 0xD0, 0xCE}) << QStringLiteral("中") << QString();
    QTest::newRow("GB2312 cut character")
        << QStringLiteral("GB2312") << bytes({0x41, 0xD6}) << QStringLiteral("A") << QString();
}

void TestComm::shouldReplaceMalformedBytesInsteadOfDroppingThem()
{
    QFETCH(QString, encoding);
    QFETCH(QByteArray, data);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);

    // Between the good parts: at least one replacement character and nothing else.
    const QString text = decodeBytes(data, encoding);
    QVERIFY2(text.startsWith(prefix) && text.endsWith(suffix), qPrintable(text));
    const QString middle = text.mid(prefix.size(), text.size() - prefix.size() - suffix.size());
    QVERIFY2(!middle.isEmpty(), qPrintable(text));
    for (const QChar c : middle)
        QCOMPARE(c, QChar(QChar::ReplacementCharacter));
}

void TestComm::shouldGiveEmptyResultsForEmptyInputInEveryEncoding()
{
    QStringList names = CommunicationBase::supportedEncodings();
    names << QString() << QStringLiteral("NoSuchCodec");
    for (const QString& name : std::as_const(names)) {
        QVERIFY2(decodeBytes(QByteArray(), name).isEmpty(), qPrintable(name));
        QVERIFY2(encodeText(QString(), name).isEmpty(), qPrintable(name));
    }
}

void TestComm::shouldBuildEntriesWithTagsTimesAndHexText()
{
    const LogEntry none;
    QVERIFY(none.timestamp.isNull());
    QCOMPARE(none.direction, LogEntry::TX);
    QVERIFY(none.rawData.isEmpty() && none.text.isEmpty() && none.hexText.isEmpty());

    const QDateTime before = QDateTime::currentDateTime();
    const LogEntry sys(QStringLiteral("已连接 ws://x"));
    QCOMPARE(sys.direction, LogEntry::SYS);
    QCOMPARE(sys.directionTag(), QStringLiteral("[SYS]"));
    QCOMPARE(sys.text, QStringLiteral("已连接 ws://x"));
    QCOMPARE(sys.hexText, sys.text);
    QVERIFY(sys.rawData.isEmpty());
    QVERIFY(sys.timestamp >= before && sys.timestamp <= QDateTime::currentDateTime());
    QCOMPARE(sys.timestamp.timeSpec(), Qt::LocalTime);

    const LogEntry rx(LogEntry::RX, bytes({0xD6, 0xD0}), QStringLiteral("GBK"));
    QCOMPARE(rx.directionTag(), QStringLiteral("[RX]"));
    QCOMPARE(rx.text, QStringLiteral("中"));
    QCOMPARE(rx.hexText, QStringLiteral("D6 D0"));
    QCOMPARE(LogEntry(LogEntry::TX, "hi", QString()).directionTag(), QStringLiteral("[TX]"));

    // Only sent and received data are decoded.
    const LogEntry other(LogEntry::SYS, QByteArray("hi"), QStringLiteral("UTF-8"));
    QVERIFY(other.text.isEmpty());
    QCOMPARE(other.hexText, QStringLiteral("68 69"));

    LogEntry odd;
    odd.direction = static_cast<LogEntry::Direction>(7);
    QCOMPARE(odd.directionTag(), QString());

    // The entry's own time, with hours in 24-hour form and three millisecond digits.
    LogEntry timed;
    timed.timestamp = QDateTime(QDate(2024, 3, 9), QTime(7, 5, 3, 9));
    QCOMPARE(timed.timeString(), QStringLiteral("07:05:03.009"));
    timed.timestamp = QDateTime(QDate(2024, 3, 9), QTime(23, 59, 59, 120));
    QCOMPARE(timed.timeString(), QStringLiteral("23:59:59.120"));
}

void TestComm::shouldKeepOnlyTheNewestEntriesUpToTheCap()
{
    SmallLog log(3);
    QSignalSpy added(&log, &CommunicationBase::logEntryAdded);
    log.logSystem(QStringLiteral("a"));
    log.logSent("b");
    log.logReceived("c");
    log.logSystem(QStringLiteral("d"));
    log.logSent("e");
    QCOMPARE(added.count(), 5);
    QCOMPARE(texts(log.entries()),
             (QStringList{QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("e")}));
    // Trimming does not touch the counters.
    QCOMPARE(log.txBytes(), 2);
    QCOMPARE(log.rxBytes(), 1);

    SmallLog unlimited(0);
    for (int i = 0; i < 10; ++i)
        unlimited.logSystem(QString::number(i));
    QCOMPARE(unlimited.entries().size(), 10);

    SmallLog one(1);
    one.logSystem(QStringLiteral("x"));
    one.logSystem(QStringLiteral("y"));
    QCOMPARE(texts(one.entries()), QStringList{QStringLiteral("y")});
}

void TestComm::shouldCapAtOneHundredThousandEntriesByDefault()
{
    CommunicationBase log;
    QCOMPARE(log.maxEntries(), 100000);
    for (int i = 0; i <= 100000; ++i)
        log.addEntry(LogEntry(QString::number(i)));
    const QList<LogEntry> kept = log.entries();
    QCOMPARE(kept.size(), 100000);
    QCOMPARE(kept.first().text, QStringLiteral("1"));
    QCOMPARE(kept.last().text, QStringLiteral("100000"));
}

void TestComm::shouldAnnounceEntryBeforeCounters()
{
    CommunicationBase log;
    QStringList order;
    qint64 txSeenWithEntry = -1;
    qint64 rxSeenWithEntry = -1;
    connect(&log, &CommunicationBase::logEntryAdded, this, [&](const LogEntry& entry) {
        order << QStringLiteral("entry ") + entry.directionTag();
        txSeenWithEntry = log.txBytes();
        rxSeenWithEntry = log.rxBytes();
    });
    connect(&log, &CommunicationBase::countersUpdated, this, [&] {
        order << QStringLiteral("counters ") + QString::number(log.txBytes()) + QLatin1Char('/') +
                     QString::number(log.rxBytes());
    });

    log.logSent("abc");
    QCOMPARE(txSeenWithEntry, 0);
    log.logReceived("12345");
    QCOMPARE(rxSeenWithEntry, 0);
    QCOMPARE(txSeenWithEntry, 3);
    log.logSystem(QStringLiteral("note"));
    log.logSent(QByteArray());

    QCOMPARE(order, (QStringList{QStringLiteral("entry [TX]"), QStringLiteral("counters 3/0"),
                                 QStringLiteral("entry [RX]"), QStringLiteral("counters 3/5"),
                                 QStringLiteral("entry [SYS]"), QStringLiteral("entry [TX]"),
                                 QStringLiteral("counters 3/5")}));
    // Empty data is still an entry.
    QCOMPARE(log.entries().last().hexText, QString());
    QCOMPARE(log.entries().size(), 4);
}

void TestComm::shouldLetReceiversCallBackIntoTheLog()
{
    // With the entry lock held during the signal this would deadlock.
    CommunicationBase log;
    int seenSize = -1;
    connect(&log, &CommunicationBase::logEntryAdded, this, [&](const LogEntry& entry) {
        if (entry.direction == LogEntry::RX) {
            seenSize = int(log.entries().size());
            log.logSystem(QStringLiteral("reply to ") + entry.text);
        }
    });
    connect(&log, &CommunicationBase::logCleared, this,
            [&] { log.logSystem(QStringLiteral("cleared")); });

    log.logReceived("ping");
    QCOMPARE(seenSize, 1);
    QCOMPARE(texts(log.entries()),
             (QStringList{QStringLiteral("ping"), QStringLiteral("reply to ping")}));
    log.clearLog();
    QCOMPARE(texts(log.entries()), QStringList{QStringLiteral("cleared")});
}

void TestComm::shouldDeliverEntriesThroughQueuedConnections()
{
    CommunicationBase log;
    QStringList received;
    connect(
        &log, &CommunicationBase::logEntryAdded, this,
        [&](const LogEntry& entry) { received << entry.hexText; }, Qt::QueuedConnection);
    QSignalSpy spy(&log, &CommunicationBase::logEntryAdded);
    log.logReceived(bytes({0x01, 0xFE}));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<LogEntry>().hexText, QStringLiteral("01 FE"));
    QVERIFY(received.isEmpty());
    QTRY_COMPARE(received, QStringList{QStringLiteral("01 FE")});
}

void TestComm::shouldClearEntriesAndResetCountersIndependently()
{
    CommunicationBase log;
    log.logSent("12");
    log.logReceived("345");
    QSignalSpy cleared(&log, &CommunicationBase::logCleared);
    QSignalSpy counters(&log, &CommunicationBase::countersUpdated);

    log.clearLog();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(counters.count(), 0);
    QVERIFY(log.entries().isEmpty());
    QCOMPARE(log.txBytes(), 2);
    QCOMPARE(log.rxBytes(), 3);

    log.logSent("6");
    log.resetCounters();
    QCOMPARE(counters.count(), 2);
    QCOMPARE(log.txBytes(), 0);
    QCOMPARE(log.rxBytes(), 0);
    QCOMPARE(texts(log.entries()), QStringList{QStringLiteral("6")});
    QCOMPARE(cleared.count(), 1);
}

void TestComm::shouldNotAlterStoredEntriesWhenSettingsChange()
{
    CommunicationBase log;
    QCOMPARE(log.encoding(), QStringLiteral("UTF-8"));
    QVERIFY(log.showTimestamp() && log.autoScroll() && !log.hexDisplay());

    log.setEncoding(QStringLiteral("GBK"));
    log.logReceived(bytes({0xD6, 0xD0, 0xCE, 0xC4}));
    log.setEncoding(QStringLiteral("UTF-8"));
    log.setHexDisplay(true);
    log.setShowTimestamp(false);
    log.setAutoScroll(false);
    log.logReceived(bytes({0xD6, 0xD0, 0xCE, 0xC4}));

    const QList<LogEntry> entries = log.entries();
    QCOMPARE(entries.at(0).text, QStringLiteral("中文"));
    QCOMPARE(entries.at(0).hexText, QStringLiteral("D6 D0 CE C4"));
    QCOMPARE(entries.at(1).text,
             QString(4, QChar(QChar::ReplacementCharacter)).left(entries.at(1).text.size()));
    QVERIFY(entries.at(1).text != QStringLiteral("中文"));
    QCOMPARE(entries.at(1).rawData, entries.at(0).rawData);
    QVERIFY(log.hexDisplay() && !log.showTimestamp() && !log.autoScroll());
}

QTEST_GUILESS_MAIN(TestComm)
#include "tst_comm.moc"
