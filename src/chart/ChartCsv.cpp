#include "chart/ChartCsv.h"

#include "comm/CsvCell.h"

#include <QLocale>

#include <algorithm>

namespace {

QByteArray quoted(const QString& text)
{
    return '"' + csvCellText(text).toUtf8() + '"';
}

struct Row
{
    qint64 ms;
    qsizetype series;
    const DataPoint* point;
};

} // namespace

QByteArray ChartCsv::toCsv(const QList<const SeriesPoints*>& series)
{
    QList<Row> rows;
    QList<QByteArray> names;
    for (qsizetype s = 0; s < series.size(); ++s) {
        names.append(quoted(series.at(s)->name));
        for (const DataPoint& point : series.at(s)->points)
            rows.append(Row{point.time.toMSecsSinceEpoch(), s, &point});
    }
    // Series keep their order among points of the same millisecond.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.ms < b.ms; });

    QByteArray csv = "time,series,value\n";
    csv.reserve(csv.size() + rows.size() * 48);
    const QLocale c = QLocale::c();
    for (const Row& row : std::as_const(rows)) {
        csv += row.point->time.toString(Qt::ISODateWithMs).toLatin1();
        csv += ',';
        csv += names.at(row.series);
        csv += ',';
        csv += c.toString(row.point->value, 'g', QLocale::FloatingPointShortest).toLatin1();
        csv += '\n';
    }
    return csv;
}
