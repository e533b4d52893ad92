// The detail pane's JSON indentation of a deeply nested frame: characters
// produced, time and peak memory of this process. One frame per run, so that
// the peak is its own, e.g.
//   bench/bench_json          (64 KiB: 1000 nested arrays around 31000 numbers)
//   bench/bench_json 1024     (the same nesting grown to about 1 MiB)
#include "comm/EntryDetail.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

namespace {

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qsizetype kib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 64;
    const int depth = 1000;
    const qsizetype numbers = (kib * 1024 - 2 * depth) / 2;
    QString frame(depth, QLatin1Char('['));
    frame += QStringLiteral("0,").repeated(numbers - 1) + QLatin1Char('0');
    frame += QString(depth, QLatin1Char(']'));

    const qint64 before = peakKb();
    QElapsedTimer clock;
    clock.start();
    bool tooLarge = false;
    const QString indented = EntryDetail::prettyJson(frame, &tooLarge);
    const qint64 ms = clock.elapsed();
    QTextStream(stdout) << "input_chars=" << frame.size() << " output_chars=" << indented.size()
                        << " too_large=" << tooLarge << " ms=" << ms << " hwm_kb_before=" << before
                        << " hwm_kb=" << peakKb() << '\n';
    return 0;
}
