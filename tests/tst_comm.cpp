#include "comm/CommunicationBase.h"
#include "comm/EntryDetail.h"
#include "comm/HexText.h"
#include "comm/LogEntry.h"
#include "comm/TextCodec.h"

#include <QSignalSpy>
#include <QStringList>
#include <QtTest>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

// A log with a budget small enough to reach in a test.
class BudgetLog : public CommunicationBase
{
public:
    qint64 maxEntryBytes() const override { return qint64(48) << 20; }
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

class SmallLog : public CommunicationBase
{
public:
    int maxEntries() const override { return 3; }
};

QStringList texts(const QList<LogEntry>& entries)
{
    QStringList out;
    for (const LogEntry& e : entries)
        out << e.text();
    return out;
}

} // namespace

class TestComm : public QObject
{
    Q_OBJECT

private slots:
    void shouldRoundTripEveryByteThroughHexText()
    {
        QCOMPARE(bytesToHex(QByteArray()), QString());
        // Sizes around the table's edges (256 and more cover every byte value),
        // each checked against Qt's own hex.
        for (int n : {1, 2, 3, 255, 256, 1000}) {
            QByteArray data;
            for (int i = 0; i < n; ++i)
                data.append(char((i * 37 + 11) & 0xFF));
            const QString hex = bytesToHex(data);
            QCOMPARE(hex, QString::fromLatin1(data.toHex(' ').toUpper()));
            QVERIFY(isValidHex(hex));
            QCOMPARE(hexToBytes(hex), data);
            QCOMPARE(hexToBytes(hex.toLower()), data);
        }
    }

    void shouldValidateAndPairHexDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("parsed");

        QTest::newRow("empty") << QString() << false << QByteArray();
        QTest::newRow("spaces only") << QStringLiteral("   ") << false << QByteArray();
        QTest::newRow("odd digit count") << QStringLiteral("48 6") << false << QByteArray();
        QTest::newRow("split pair") << QStringLiteral("4 8") << true << bytes({0x48});
        QTest::newRow("unpaired groups") << QStringLiteral("486 5") << true << bytes({0x48, 0x65});
        QTest::newRow("hyphens, mixed case")
            << QStringLiteral("de-AD-be-EF") << true << bytes({0xDE, 0xAD, 0xBE, 0xEF});
        // The x is skipped but the 0 counts, leaving an odd count.
        QTest::newRow("0x prefix") << QStringLiteral("0x48") << false << QByteArray();
        QTest::newRow("0x prefixes paired")
            << QStringLiteral("0x0 0x1") << false << bytes({0x00, 0x01});
        QTest::newRow("tabs and line breaks")
            << QStringLiteral("48\t65\r\n6C") << false << bytes({0x48, 0x65, 0x6C});
        QTest::newRow("non-breaking space")
            << (QStringLiteral("48") + QChar(0x00A0) + QStringLiteral("65")) << false
            << bytes({0x48, 0x65});
        // Non-ASCII digits are no hexadecimal digits, whatever their numeric value.
        QTest::newRow("full-width digits") << QStringLiteral("４８41") << false << bytes({0x41});
        QTest::newRow("arabic-indic digits") << QStringLiteral("٤41٨") << false << bytes({0x41});
    }

    void shouldValidateAndPairHexDigits()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QByteArray, parsed);
        QCOMPARE(isValidHex(text), valid);
        QCOMPARE(hexToBytes(text), parsed);
    }

    void shouldNameWhereHexGoesWrong()
    {
        // Positions in characters as the user sees them; invisible ones by code point.
        QCOMPARE(hexProblem(QStringLiteral("41😀z")), QStringLiteral("第 3 个字符 '😀'"));
        QCOMPARE(hexProblem(QStringLiteral("48\t65")), QStringLiteral("第 3 个字符 U+0009"));
        QCOMPARE(hexProblem(QStringLiteral(" -")), QStringLiteral("没有十六进制数字"));
    }

    void shouldConvertEachEncodingBothWays_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("encoded");

        const QByteArray zhongwenGbk = bytes({0xD6, 0xD0, 0xCE, 0xC4});
        QTest::newRow("UTF-8 Chinese") << QStringLiteral("UTF-8") << QStringLiteral("中文")
                                       << bytes({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87});
        QTest::newRow("empty name is UTF-8")
            << QString() << QStringLiteral("é") << bytes({0xC3, 0xA9});
        QTest::newRow("unknown name is UTF-8")
            << QStringLiteral("NoSuchCodec") << QStringLiteral("中") << bytes({0xE4, 0xB8, 0xAD});
        QTest::newRow("GBK Chinese")
            << QStringLiteral("GBK") << QStringLiteral("中文") << zhongwenGbk;
        QTest::newRow("GBK mixed")
            << QStringLiteral("GBK") << QStringLiteral("温度:25℃")
            << (bytes({0xCE, 0xC2, 0xB6, 0xC8}) + QByteArray(":25") + bytes({0xA1, 0xE6}));
        QTest::newRow("GB2312 Chinese")
            << QStringLiteral("GB2312") << QStringLiteral("中文") << zhongwenGbk;
        QTest::newRow("GBK empty") << QStringLiteral("GBK") << QString() << QByteArray();
        QTest::newRow("ASCII means Latin-1")
            << QStringLiteral("ASCII") << QStringLiteral("café") << bytes({0x63, 0x61, 0x66, 0xE9});
        QTest::newRow("Unicode little-endian, no mark")
            << QStringLiteral("Unicode") << QStringLiteral("A中")
            << bytes({0x41, 0x00, 0x2D, 0x4E});
        QTest::newRow("Unicode surrogate pair")
            << QStringLiteral("Unicode") << QString::fromUcs4(U"\U0001F600", 1)
            << bytes({0x3D, 0xD8, 0x00, 0xDE});
    }

    void shouldConvertEachEncodingBothWays()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, text);
        QFETCH(QByteArray, encoded);

        QCOMPARE(encodeText(text, encoding), encoded);
        QCOMPARE(decodeBytes(encoded, encoding), text);

        // The log converts with whatever name is selected, and a received frame is
        // decoded once, on arrival.
        CommunicationBase comm;
        comm.setEncoding(encoding);
        QCOMPARE(comm.encode(text), encoded);
        QCOMPARE(comm.decode(encoded), text);
        comm.logReceived(encoded);
        comm.setEncoding(QStringLiteral("ASCII"));
        QCOMPARE(comm.entries().at(0).text(), text);

        // What a text frame's entry keeps: the same bytes, without spare room.
        const QByteArray utf8 = compactUtf8(text);
        QCOMPARE(utf8, text.toUtf8());
        QCOMPARE(utf8.capacity(), utf8.size());
    }

    void shouldHonourUtf16ByteOrderMarksAndDropOddByte()
    {
        const struct
        {
            QByteArray data;
            QString text;
        } cases[] = {
            {bytes({0xFF, 0xFE, 0x41, 0x00}), QStringLiteral("A")},
            {bytes({0xFE, 0xFF, 0x00, 0x41, 0x4E, 0x2D}), QStringLiteral("A中")},
            {bytes({0x00, 0x41}), QString(QChar(0x4100))}, // no mark: little-endian
            {bytes({0x41, 0x00, 0x42}), QStringLiteral("A")},
            {bytes({0xFE, 0xFF, 0x00, 0x41, 0x42}), QStringLiteral("A")},
            {bytes({0x41}), QString()},
            {bytes({0xFF, 0xFE}), QString()},
            // Only a leading mark is a mark.
            {bytes({0x41, 0x00, 0xFF, 0xFE}), QStringLiteral("A") + QChar(0xFEFF)},
        };
        for (const auto& c : cases)
            QCOMPARE(decodeBytes(c.data, QStringLiteral("Unicode")), c.text);
    }

    void shouldSubstituteQuestionMarkForNonLatin1()
    {
        const QString ascii = QStringLiteral("ASCII");
        QCOMPARE(encodeText(QStringLiteral("a中b€"), ascii), QByteArray("a?b?"));
        // No byte is rejected: all 256 come back unchanged.
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(decodeBytes(all, ascii).size(), 256);
        QCOMPARE(encodeText(decodeBytes(all, ascii), ascii), all);
    }

    void shouldReplaceMalformedBytesInsteadOfDroppingThem_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("suffix");

        QTest::newRow("UTF-8 stray byte") << QStringLiteral("UTF-8") << bytes({0x41, 0xFF, 0x42})
                                          << QStringLiteral("A") << QStringLiteral("B");
        QTest::newRow("UTF-8 cut sequence") << QStringLiteral("UTF-8") << bytes({0x41, 0xE4, 0xB8})
                                            << QStringLiteral("A") << QString();
        // A frame ending in half a GBK character must still show that something came.
        QTest::newRow("GBK cut character") << QStringLiteral("GBK") << bytes({0xD6, 0xD0, 0xCE})
                                           << QStringLiteral("中") << QString();
        QTest::newRow("GB2312 cut character")
            << QStringLiteral("GB2312") << bytes({0x41, 0xD6}) << QStringLiteral("A") << QString();
    }

    void shouldReplaceMalformedBytesInsteadOfDroppingThem()
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

    void shouldTellWhichBinaryFramesReadAsHex_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("clean");
        QTest::newRow("UTF-8 text")
            << QStringLiteral("UTF-8") << QByteArray("a\tb\r\n\xE4\xB8\xAD") << true;
        QTest::newRow("UTF-8 mixed")
            << QStringLiteral("UTF-8") << bytes({0x00, 0x01, 0xFF, 0x7F, 0x80}) << false;
        QTest::newRow("Latin-1 letters") << QStringLiteral("ASCII") << bytes({0x41, 0xE9}) << true;
        QTest::newRow("Latin-1 C1 control")
            << QStringLiteral("ASCII") << bytes({0x41, 0x80}) << false;
        QTest::newRow("UTF-16 odd byte")
            << QStringLiteral("Unicode") << bytes({0x41, 0x00, 0x42}) << false;
    }

    void shouldTellWhichBinaryFramesReadAsHex()
    {
        QFETCH(QString, encoding);
        QFETCH(QByteArray, data);
        QFETCH(bool, clean);
        const LogEntry binary(LogEntry::RX, data, LogEntry::FrameKind::Binary, QString(), encoding);
        QCOMPARE(binary.shownText(false), clean ? binary.text() : bytesToHex(data));
        // A text frame shows as it came, whatever it holds.
        const LogEntry text(LogEntry::RX, data, LogEntry::FrameKind::Text, QString(), encoding);
        QCOMPARE(text.shownText(false), QString::fromUtf8(data));
    }

    void shouldBuildEntriesWithTagsTimesAndHexText()
    {
        const QDateTime before = QDateTime::currentDateTime();
        const LogEntry sys(QStringLiteral("已连接 ws://x"));
        QCOMPARE(sys.directionTag(), QStringLiteral("[SYS]"));
        QCOMPARE(sys.hexText(), sys.text());
        QVERIFY(sys.timestamp() >= before && sys.timestamp() <= QDateTime::currentDateTime());
        // Local wall time, also after the zone changes (checked within a second).
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "UTC-9");
        tzset();
        QTRY_COMPARE(LogEntry(QString()).timestamp().offsetFromUtc(), 9 * 3600);
        const LogEntry east(QStringLiteral("x"));
        const QString wallTime =
            QDateTime::fromMSecsSinceEpoch(east.timestamp().toMSecsSinceEpoch())
                .toString(QStringLiteral("HH:mm:ss.zzz"));
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        tzset();
        QCOMPARE(east.timeString(), wallTime);

        const LogEntry rx(LogEntry::RX, bytes({0xD6, 0xD0}), QStringLiteral("GBK"));
        QCOMPARE(rx.directionTag(), QStringLiteral("[RX]"));
        QCOMPARE(rx.text(), QStringLiteral("中"));
        QCOMPARE(rx.hexText(), QStringLiteral("D6 D0"));
        QCOMPARE(LogEntry(LogEntry::TX, "hi", QString()).directionTag(), QStringLiteral("[TX]"));
        // Only sent and received data are decoded.
        const LogEntry other(LogEntry::SYS, QByteArray("hi"), QStringLiteral("UTF-8"));
        QVERIFY(other.text().isEmpty());
        QCOMPARE(other.hexText(), QStringLiteral("68 69"));

        // 24-hour time with three millisecond digits.
        LogEntry timed;
        timed.setTimestamp(QDateTime(QDate(2024, 3, 9), QTime(23, 5, 3, 9)));
        QCOMPARE(timed.timeString(), QStringLiteral("23:05:03.009"));
    }

    void shouldListAWrappedLogOldestFirstWhateverItsReadersDo()
    {
        SmallLog log;
        const CommunicationBase& reader = log;
        QStringList sent;
        for (int i = 1; i <= 8; ++i) {
            log.logSystem(QString::number(i));
            sent.append(QString::number(i));
            // Each read starts where the ring does, at every turn of it.
            QCOMPARE(texts(reader.entries()), sent.mid(std::max(0, i - 3)));
            QCOMPARE(reader.entryBySerial(quint64(i)).text(), QString::number(i));
        }
    }

    void shouldKeepOnlyTheNewestEntriesUpToTheCap()
    {
        SmallLog log;
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

        CommunicationBase full;
        QCOMPARE(full.maxEntries(), 100000);
        for (int i = 0; i <= 100000; ++i)
            full.addEntry(LogEntry(QString::number(i)));
        const QList<LogEntry> kept = full.entries();
        QCOMPARE(kept.size(), 100000);
        QCOMPARE(kept.first().text(), QStringLiteral("1"));
        QCOMPARE(kept.last().text(), QStringLiteral("100000"));
    }

    void shouldBoundStoredEntriesByMemoryKeepingTheNewest()
    {
        // 100000 entries of 1 MiB frames would need ~100 GiB: the store must
        // evict by size as well as by count. An entry costs about its bytes.
        QCOMPARE(CommunicationBase().maxEntryBytes(), qint64(256) << 20);
        BudgetLog log;
        const qint64 budget = log.maxEntryBytes();
        const QByteArray frame(4 << 20, 'x');
        const int frames = int(budget / frame.size()) + 4;
        for (int i = 0; i < frames; ++i) {
            QByteArray data = frame;
            data[0] = char('A' + i);
            log.logReceived(data);
        }
        QCOMPARE(log.rxBytes(), qint64(frames) * frame.size());
        QList<LogEntry> kept = log.entries();
        QVERIFY(kept.size() < frames);
        QVERIFY(kept.size() >= frames - 6);
        QVERIFY(log.storedBytes() <= budget);
        qint64 sum = 0;
        for (qsizetype i = 0; i < kept.size(); ++i) {
            // The newest ones, in order, each whole.
            QCOMPARE(kept.at(i).rawData().at(0), char('A' + frames - kept.size() + i));
            QCOMPARE(kept.at(i).rawData().size(), frame.size());
            QCOMPARE(kept.at(i).serial(), kept.first().serial() + quint64(i));
            sum += kept.at(i).memoryCost();
        }
        QCOMPARE(kept.last().hexText().size(), frame.size() * 3 - 1);
        QCOMPARE(log.storedBytes(), sum);
        QCOMPARE(log.entryBySerial(kept.last().serial()).rawData(), kept.last().rawData());
        QCOMPARE(log.entryBySerial(kept.first().serial() - 1).serial(), quint64(0));
        kept.clear();

        // A frame larger than the whole budget is still kept, alone.
        const QByteArray huge(budget + 1, 'y');
        log.logSent(huge);
        QCOMPARE(log.entryCount(), 1);
        QVERIFY(log.entries().first().rawData() == huge);
        // The next entry takes it over the budget, so it goes.
        log.logSystem(QStringLiteral("after"));
        QCOMPARE(log.entryCount(), 1);
        QCOMPARE(log.entries().first().text(), QStringLiteral("after"));
        log.clearLog();
        QCOMPARE(log.storedBytes(), 0);
        QCOMPARE(log.entryBySerial(1).serial(), quint64(0));
    }

    void shouldAnnounceEntryBeforeCountersWithTheLockReleased()
    {
        CommunicationBase log;
        QStringList order, queued;
        // Entries cross threads as a registered type.
        connect(
            &log, &CommunicationBase::logEntryAdded, this,
            [&](const LogEntry& entry) { queued << entry.hexText(); }, Qt::QueuedConnection);
        connect(&log, &CommunicationBase::logEntryAdded, this, [&](const LogEntry& entry) {
            // Calling back in would deadlock if the entry lock were still held.
            order << entry.directionTag() + QString::number(log.entries().size()) +
                         QLatin1Char(' ') + QString::number(log.txBytes() + log.rxBytes());
            if (entry.direction() == LogEntry::RX)
                log.logSystem(QStringLiteral("reply"));
        });
        connect(&log, &CommunicationBase::countersUpdated, this, [&] {
            order << QStringLiteral("counters ") + QString::number(log.txBytes()) +
                         QLatin1Char('/') + QString::number(log.rxBytes());
        });
        connect(&log, &CommunicationBase::logCleared, this,
                [&] { log.logSystem(QStringLiteral("cleared")); });

        log.logSent("abc");
        log.logReceived("12345");
        log.logSent(QByteArray());
        QVERIFY(queued.isEmpty());
        QTRY_COMPARE(queued,
                     (QStringList{QStringLiteral("61 62 63"), QStringLiteral("31 32 33 34 35"),
                                  QStringLiteral("reply"), QString()}));
        QCOMPARE(order, (QStringList{QStringLiteral("[TX]1 0"), QStringLiteral("counters 3/0"),
                                     QStringLiteral("[RX]2 3"), QStringLiteral("[SYS]3 3"),
                                     QStringLiteral("counters 3/5"), QStringLiteral("[TX]4 8"),
                                     QStringLiteral("counters 3/5")}));
        log.clearLog();
        QCOMPARE(texts(log.entries()), QStringList{QStringLiteral("cleared")});
    }

    void shouldIndentOnlyValidJsonKeepingEscapesAndBlanksInStrings()
    {
        // An escaped backslash before the closing quote, braces and blanks
        // inside strings, blanks of every kind between tokens.
        const QString text = QStringLiteral("\t{\"p\" : \"C:\\\\\",\r\n\"q\":\"{ a ,b }\"}");
        QCOMPARE(EntryDetail::prettyJson(text),
                 QStringLiteral("{\n    \"p\": \"C:\\\\\",\n    \"q\": \"{ a ,b }\"\n}"));
        for (const char* notJson : {"{oops", "[1,]", "42", "\"text\"", ""})
            QCOMPARE(EntryDetail::prettyJson(QString::fromLatin1(notJson)), QString());
    }

    void shouldShowUnicodeEscapesAsTheirCharacters_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("shown");
        QTest::newRow("chinese") << u"[\"\\u6e29\\u5EA6\"]"_s << u"[\n    \"温度\"\n]"_s;
        QTest::newRow("surrogate pair") << u"[\"\\ud83d\\ude00!\"]"_s << u"[\n    \"😀!\"\n]"_s;
        // What would change the string's reading or show nothing stays escaped.
        for (const QString& kept :
             {u"\\u0022"_s, u"\\u005c"_s, u"\\u000a"_s, u"\\ud800x"_s, u"\\\\u0041"_s})
            QTest::newRow(qPrintable(kept))
                << u"[\"%1\"]"_s.arg(kept) << u"[\n    \"%1\"\n]"_s.arg(kept);
    }
    void shouldShowUnicodeEscapesAsTheirCharacters()
    {
        QFETCH(QString, json);
        QFETCH(QString, shown);
        QCOMPARE(EntryDetail::prettyJson(json), shown);
    }

    void shouldTellByteCountsGroupedAndInTheirLargestUnit_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("bytes") << qint64(300) << QStringLiteral("300 字节");
        QTest::newRow("kibibytes") << qint64(1536) << QStringLiteral("1,536 字节 (1.5 KiB)");
        QTest::newRow("mebibytes")
            << qint64(5 * 1024 * 1024) << QStringLiteral("5,242,880 字节 (5.0 MiB)");
    }
    void shouldTellByteCountsGroupedAndInTheirLargestUnit()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(EntryDetail::byteCountText(bytes), text);
    }

    void shouldClearEntriesAndResetCountersIndependently()
    {
        CommunicationBase log;
        QCOMPARE(log.encoding(), QStringLiteral("UTF-8"));
        QVERIFY(log.showTimestamp() && log.autoScroll() && !log.hexDisplay());
        log.logSent("12");
        log.logReceived("345");
        QSignalSpy cleared(&log, &CommunicationBase::logCleared);
        QSignalSpy counters(&log, &CommunicationBase::countersUpdated);

        log.clearLog();
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(counters.count(), 0);
        QVERIFY(log.entries().isEmpty());
        QCOMPARE(log.txBytes() + log.rxBytes(), 5);

        log.logSent("6");
        log.resetCounters();
        QCOMPARE(counters.count(), 2);
        QCOMPARE(log.txBytes() + log.rxBytes(), 0);
        QCOMPARE(texts(log.entries()), QStringList{QStringLiteral("6")});
        QCOMPARE(cleared.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestComm)
#include "tst_comm.moc"
