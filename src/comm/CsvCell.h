#pragma once

#include <QString>

// A CSV cell's text, quotes doubled (the caller writes the enclosing quotes).
// A spreadsheet takes a cell that starts like a formula for one, and peers
// choose what payloads and JSON keys start with, so such a cell starts with
// an apostrophe.
inline QString csvCellText(const QString& text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    QString cell = text;
    if (!cell.isEmpty() && formulaStarts.contains(cell.at(0)))
        cell.prepend(QLatin1Char('\''));
    cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return cell;
}
