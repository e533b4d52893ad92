// Hostile frames: every decoder stops with where and why, within its limits.
#include "decode/DecodeLimits.h"
#include "decode/FrameDecoder.h"
#include "decode/FrameEncoder.h"
#include "decode/ProtoSchema.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class DecodersTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldStopHostileFramesSayingWhere_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("problem");
        const int cbor = int(DecoderKind::Cbor);
        const int msgpack = int(DecoderKind::MessagePack);
        const int proto = int(DecoderKind::Protobuf);
        QTest::newRow("msgpack length past frame")
            << msgpack << QByteArray::fromHex("dbffffffff41")
            << u"MessagePack: 第 0 字节处长度 4294967295 超出帧长度"_s;
        QTest::newRow("msgpack array count past frame")
            << msgpack << QByteArray::fromHex("ddffffffff") << u"长度 4294967295 超出帧长度"_s;
        QTest::newRow("msgpack truncated") << msgpack << QByteArray::fromHex("82a174cb4035")
                                           << u"MessagePack: 第 3 字节处长度 8 超出帧长度"_s;
        QTest::newRow("msgpack never-used byte")
            << msgpack << QByteArray::fromHex("c1") << u"类型字节 0xc1 无效"_s;
        QTest::newRow("msgpack depth bomb")
            << msgpack << QByteArray(1000, char(0x91)) + '\x01' << u"嵌套超过 256 层"_s;
        QTest::newRow("msgpack trailing")
            << msgpack << QByteArray::fromHex("0102") << u"之后还有 1 字节不属于这个值"_s;
        QTest::newRow("cbor map past frame")
            << cbor << QByteArray::fromHex("bbffffffffffffffff") << u"超出帧长度"_s;
        QTest::newRow("cbor string past frame")
            << cbor << QByteArray::fromHex("7a7fffffff61") << u"超出帧长度"_s;
        QTest::newRow("cbor depth bomb") << cbor << QByteArray(1000, char(0x81)) + '\x01'
                                         << u"CBOR: 第 257 字节处嵌套超过 256 层"_s;
        QTest::newRow("cbor indefinite without end")
            << cbor << QByteArray::fromHex("9f0102") << u"CBOR: "_s;
        QTest::newRow("proto wrong wire type")
            << proto << QByteArray::fromHex("0b01") << u"字段 1 的线路类型 3 无效"_s;
        QTest::newRow("proto length past frame")
            << proto << QByteArray::fromHex("0a8f0101") << u"长度 143 超出帧长度"_s;
        QTest::newRow("proto varint cut off")
            << proto << QByteArray::fromHex("08ff") << u"变长整数在帧末尾被截断"_s;
        QByteArray nested = "\x08\x01";
        for (int k = 0; k < 150; ++k) {
            QByteArray outer("\x0a");
            // Lengths up to 127 take one byte, past it two.
            const int n = int(nested.size());
            if (n < 128)
                outer.append(char(n));
            else
                outer.append(char(0x80 | (n & 0x7f))).append(char(n >> 7));
            nested = outer + nested;
        }
        QTest::newRow("proto depth bomb") << proto << nested << u"嵌套超过 100 层"_s;
    }
    void shouldStopHostileFramesSayingWhere()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, frame);
        QFETCH(QString, problem);
        const DecodedFrame decoded = FrameDecoder(DecoderKind(kind)).decode(frame);
        QVERIFY(!decoded.ok);
        QVERIFY2(decoded.problem.contains(problem), qPrintable(decoded.problem));
    }

    void shouldStopInflationBombs()
    {
        // qCompress writes a zlib stream after its four bytes of length.
        const QByteArray zeros = qCompress(QByteArray(8 * 1024 * 1024, '\0')).mid(4);
        DecodedFrame decoded = FrameDecoder(DecoderKind::Auto).decode(zeros);
        QVERIFY(!decoded.ok);
        QVERIFY2(decoded.problem.contains(u"疑似压缩炸弹"_s), qPrintable(decoded.problem));

        QByteArray noise(2 * 1024 * 1024, '\0');
        quint32 x = 1;
        for (char& byte : noise) {
            x = x * 1103515245u + 12345u;
            byte = char(x >> 24);
        }
        DecodeLimits small;
        small.maxInflated = 1024 * 1024;
        decoded = FrameDecoder(DecoderKind::Cbor, {}, {}, small).decode(qCompress(noise).mid(4));
        QVERIFY(!decoded.ok);
        QVERIFY2(decoded.problem.contains(u"解压后超过 1 MiB"_s), qPrintable(decoded.problem));
    }

    void shouldReadIntegersAtTheEdgesOfSixtyFourBits_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("json");
        QTest::addColumn<bool>("exact");
        const int cbor = int(DecoderKind::Cbor);
        QTest::newRow("cbor -2^64") << cbor << QByteArray::fromHex("3bffffffffffffffff")
                                    << u"\"-18446744073709551616\""_s << false;
        QTest::newRow("cbor -2^63") << cbor << QByteArray::fromHex("3b7fffffffffffffff")
                                    << u"-9223372036854775808"_s << true;
        QTest::newRow("cbor 2^64-1") << cbor << QByteArray::fromHex("1bffffffffffffffff")
                                     << u"\"18446744073709551615\""_s << false;
    }
    void shouldReadIntegersAtTheEdgesOfSixtyFourBits()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, frame);
        QFETCH(QString, json);
        QFETCH(bool, exact);
        const DecodedFrame decoded = FrameDecoder(DecoderKind(kind)).decode(frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.problem));
        QCOMPARE(decoded.compact(), json);
        QCOMPARE(decoded.exact, exact);
        // The pane's notation writes big numbers as the integers they are.
        QCOMPARE(decoded.shown, QString(json).remove(u'"'));
    }

    void shouldEncodeEverySixtyFourBitIntegerExactly_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("decoder");
        QTest::addColumn<QString>("json");
        for (const QString& json : {u"9223372036854775807"_s, u"[-9223372036854775808,1]"_s}) {
            QTest::addRow("cbor %s", qPrintable(json))
                << int(FrameEncoder::Format::Cbor) << int(DecoderKind::Cbor) << json;
            QTest::addRow("msgpack %s", qPrintable(json))
                << int(FrameEncoder::Format::MessagePack) << int(DecoderKind::MessagePack) << json;
        }
    }
    void shouldEncodeEverySixtyFourBitIntegerExactly()
    {
        QFETCH(int, format);
        QFETCH(int, decoder);
        QFETCH(QString, json);
        QByteArray payload;
        QString problem;
        QVERIFY(FrameEncoder(FrameEncoder::Format(format)).encode(json, &payload, &problem));
        const DecodedFrame decoded = FrameDecoder(DecoderKind(decoder)).decode(payload);
        QCOMPARE(decoded.compact(), json);
        QVERIFY(decoded.exact);
    }

    void shouldKeepMapsKeyedByMapsSmall()
    {
        // {{{…{nil: nil}…: nil}: nil}: each level escapes the key below it again.
        const QByteArray frame = QByteArray(40, char(0x81)) + QByteArray(41, char(0xc0));
        const DecodedFrame decoded = FrameDecoder(DecoderKind::MessagePack).decode(frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.problem));
        QVERIFY(!decoded.exact);
        QVERIFY2(decoded.compact().size() < 4096, qPrintable(decoded.compact().left(300)));
    }

    void shouldReadAFieldRepeatedManyTimesInOnePass()
    {
        // Field 1 as 40000 varints: the row's whole budget of values.
        QByteArray frame;
        for (int k = 0; k < 40000; ++k)
            frame.append("\x08").append(char(k % 100));
        QElapsedTimer clock;
        clock.start();
        const DecodedFrame decoded =
            FrameDecoder(DecoderKind::Protobuf, {}, {}, DecodeLimits::forRows()).decode(frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.problem));
        const QJsonArray values = decoded.json[QLatin1String("1")].toArray();
        QCOMPARE(values.size(), 40000);
        QCOMPARE(values.last()[QLatin1String("varint")].toInt(), 99);
        // Rows decode on the window's thread; this took 15 s.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    void shouldReadALargeCborMapInOnePass()
    {
        // 40000 entries: Qt's map insert looks each key up, and this took seconds.
        QByteArray frame = QByteArray::fromHex("b99c40");
        for (int k = 0; k < 40000; ++k)
            frame += QCborValue(k).toCbor() + QCborValue(QByteArray(1, char(k))).toCbor();
        QElapsedTimer clock;
        clock.start();
        const DecodedFrame decoded =
            FrameDecoder(DecoderKind::Cbor, {}, {}, DecodeLimits::forRows()).decode(frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.problem));
        QCOMPARE(decoded.json.toObject().size(), 40000);
        QCOMPARE(decoded.json[QLatin1String("39999")].toString(), u"3f"_s);
        QVERIFY(decoded.shown.isEmpty());
        // The pane's reading also writes the notation out.
        QVERIFY(FrameDecoder(DecoderKind::Cbor).decode(frame).shown.contains(u"39999: h'3f'"_s));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        // The tag that marks maps inside is refused in a frame.
        const DecodedFrame marked =
            FrameDecoder(DecoderKind::Cbor).decode(QByteArray::fromHex("dbffffffffffffffff80"));
        QVERIFY(!marked.ok && marked.problem.contains(u"标签 18446744073709551615 无效"_s));
    }

    void shouldRefuseFieldsTheProtoDoesNotDefineAtAnyDepth()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"r.proto"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("syntax = \"proto3\";\nmessage R { message I { uint64 id = 1; }\n"
                   "  string name = 1; repeated I items = 2; }\n");
        file.close();
        QString error;
        const std::shared_ptr<const ProtoSchema> schema =
            ProtoSchema::load(file.fileName(), &error);
        QVERIFY2(schema, qPrintable(error));
        const FrameDecoder decoder(DecoderKind::ProtobufSchema, schema, u"R"_s);
        // items[0].id = 5, then items[1] with field 2 that I lacks.
        DecodedFrame decoded = decoder.decode(QByteArray::fromHex("0a01781202080512021005"));
        QVERIFY(!decoded.ok);
        QVERIFY2(decoded.problem.contains(u"fields R does not define"_s),
                 qPrintable(decoded.problem));
        decoded = decoder.decode(QByteArray::fromHex("0a0178120208051202080a"));
        QVERIFY2(decoded.ok, qPrintable(decoded.problem));
        QCOMPARE(decoded.compact(),
                 u"{\"items\":[{\"id\":\"5\"},{\"id\":\"10\"}],\"name\":\"x\"}"_s);
    }

    void shouldReadBase64TextFramesOnly_data()
    {
        QTest::addColumn<QByteArray>("text");
        // Empty: the frame is not read at all.
        QTest::addColumn<QString>("json");
        // cbor2's {"n": 7} and {"z": [255, 254]}, standard and URL-safe, padded and not.
        QTest::newRow("standard") << QByteArray("oWFuBw==") << u"{\"n\":7}"_s;
        QTest::newRow("url-safe") << QByteArray("oWF6ghj_GP4=") << u"{\"z\":[255,254]}"_s;
        QTest::newRow("unpadded") << QByteArray("oWF6ghj_GP4") << u"{\"z\":[255,254]}"_s;
        QTest::newRow("too short") << QByteArray("oWFuBw") << QString();
        QTest::newRow("not base64") << QByteArray("hello world!") << QString();
        QTest::newRow("base64 of no CBOR") << QByteArray("v2FhAmFi_2Fj_w==") << QString();
    }
    void shouldReadBase64TextFramesOnly()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, json);
        const DecodedFrame decoded = FrameDecoder(DecoderKind::Cbor).decode(text, true);
        QCOMPARE(decoded.ok, !json.isEmpty());
        if (decoded.ok) {
            QCOMPARE(decoded.decoder, u"Base64 \u2192 CBOR"_s);
            QCOMPARE(decoded.compact(), json);
        }
    }
};

QTEST_GUILESS_MAIN(DecodersTest)
#include "tst_decoders.moc"
