// Binary payloads against JSON text on the chart's path: 100,000 frames of a
// small reading, encoded beforehand with the send box's encoders, read as
// the rules read them. Rows:
//   json          the text frame as a JSON rule reads it (lines, one parse)
//   cbor, msgpack FrameDecoder alone
//   cbor+rule, msgpack+rule  the binary frame as a rule reads it: decoded,
//                 its JSON on one line, then that line as above
// Prints frames/s per row and the ratios to json as one JSON object.
//
//   bench_decode [--frames N]
#include "chart/ChartRule.h"
#include "chart/RuleEvaluator.h"
#include "comm/TextCodec.h"
#include "decode/FrameDecoder.h"
#include "decode/FrameEncoder.h"
#include "decode/RuleInput.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <functional>

namespace {

QString reading(qint64 k)
{
    return QStringLiteral("{\"temp\":21.5,\"hum\":40,\"n\":%1,\"id\":\"dev-7\"}").arg(k);
}

QList<QByteArray> encoded(FrameEncoder::Format format, qint64 frames)
{
    const FrameEncoder encoder(format);
    QList<QByteArray> out;
    out.reserve(frames);
    for (qint64 k = 0; k < frames; ++k) {
        QByteArray payload;
        QString problem;
        if (!encoder.encode(reading(k), &payload, &problem)) {
            std::fprintf(stderr, "bench_decode: %s\n", qPrintable(problem));
            std::exit(1);
        }
        out.append(payload);
    }
    return out;
}

// A benchmark of wrong values would measure nothing: a few frames checked.
void verify(const FrameDecoder& decoder, const QList<QByteArray>& frames)
{
    for (qint64 k : {qint64(0), qint64(1), frames.size() / 2, frames.size() - 1}) {
        const DecodedFrame frame = decoder.decode(frames.at(k));
        const QJsonObject want = QJsonDocument::fromJson(reading(k).toUtf8()).object();
        if (!frame.ok || frame.json.toObject() != want) {
            std::fprintf(stderr, "bench_decode: %s frame %lld reads %s\n",
                         qPrintable(FrameDecoder::name(decoder.kind())), static_cast<long long>(k),
                         qPrintable(frame.compact()));
            std::exit(1);
        }
    }
}

// As ReceiveRouter feeds a frame's text to the rules.
double feed(const RuleEvaluator& evaluator, const QString& text, const QByteArray& utf8)
{
    double sum = 0;
    const QStringList lines = splitChartLines(text);
    for (const QString& line : lines) {
        const bool whole = lines.size() == 1 && line.size() == text.size();
        for (const std::optional<double>& value :
             evaluator.valuesIn(line, whole ? utf8 : QByteArray())) {
            if (value)
                sum += *value;
        }
    }
    return sum;
}

// Frames per second of `run` over every frame, the best of three rounds.
double rate(qint64 frames, const std::function<double(qint64)>& run, double expected)
{
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        double sum = 0;
        for (qint64 k = 0; k < frames; ++k)
            sum += run(k);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (sum != expected) {
            std::fprintf(stderr, "bench_decode: the rule found %g, not %g\n", sum, expected);
            std::exit(1);
        }
        best = std::max(best, frames / seconds);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Frames per row."), QStringLiteral("n"),
                                          QStringLiteral("100000"));
    parser.addOption(framesOption);
    parser.process(app);
    const qint64 frames = std::max<qint64>(4, parser.value(framesOption).toLongLong());

    QList<QString> texts;
    texts.reserve(frames);
    for (qint64 k = 0; k < frames; ++k)
        texts.append(reading(k));
    const QList<QByteArray> cbor = encoded(FrameEncoder::Format::Cbor, frames);
    const QList<QByteArray> msgpack = encoded(FrameEncoder::Format::MessagePack, frames);
    const FrameDecoder cborDecoder(DecoderKind::Cbor, {}, {}, DecodeLimits::forRows());
    const FrameDecoder msgpackDecoder(DecoderKind::MessagePack, {}, {}, DecodeLimits::forRows());
    verify(cborDecoder, cbor);
    verify(msgpackDecoder, msgpack);

    const RuleEvaluator evaluator(
        {ChartRule{QStringLiteral("temp"), JsonPath, QStringLiteral("temp"), LeftAxis}});
    const double expected = 21.5 * double(frames);
    // A text frame arrives as a QString; the router forms its UTF-8 once.
    const double json = rate(
        frames, [&](qint64 k) { return feed(evaluator, texts.at(k), compactUtf8(texts.at(k))); },
        expected);
    const auto decodeOnly = [&](const FrameDecoder& decoder, const QList<QByteArray>& bytes) {
        return rate(
            frames,
            [&](qint64 k) {
                return decoder.decode(bytes.at(k)).json[QLatin1String("temp")].toDouble();
            },
            expected);
    };
    const auto withRule = [&](const FrameDecoder& decoder, const QList<QByteArray>& bytes) {
        return rate(
            frames,
            [&](qint64 k) {
                const QString line =
                    RuleInput::forFrame(bytes.at(k), LogEntry::FrameKind::Binary, decoder);
                return feed(evaluator, line, QByteArray());
            },
            expected);
    };
    const double cborRate = decodeOnly(cborDecoder, cbor);
    const double msgpackRate = decodeOnly(msgpackDecoder, msgpack);
    const double cborRule = withRule(cborDecoder, cbor);
    const double msgpackRule = withRule(msgpackDecoder, msgpack);

    std::printf("decode: %lld frames of %s (json %lld bytes, cbor %lld, msgpack %lld), Qt %s\n",
                static_cast<long long>(frames), qPrintable(reading(frames - 1)),
                static_cast<long long>(texts.last().size()),
                static_cast<long long>(cbor.last().size()),
                static_cast<long long>(msgpack.last().size()), qVersion());
    std::printf("%-14s %12s %8s\n", "row", "frames/s", "/json");
    const QList<std::pair<const char*, double>> rows = {{"json", json},
                                                        {"cbor", cborRate},
                                                        {"msgpack", msgpackRate},
                                                        {"cbor+rule", cborRule},
                                                        {"msgpack+rule", msgpackRule}};
    QJsonObject summary;
    summary.insert(QStringLiteral("frames"), frames);
    for (const auto& [name, value] : rows) {
        std::printf("%-14s %12.0f %8.3f\n", name, value, value / json);
        const QString key = QString::fromLatin1(name).replace(QLatin1Char('+'), QLatin1Char('_'));
        summary.insert(key + QStringLiteral("_per_s"), qRound64(value));
        if (value != json)
            summary.insert(key + QStringLiteral("/json"), qRound(value / json * 1000) / 1000.0);
    }
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    return 0;
}
