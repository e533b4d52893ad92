#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTest>

// Reading and writing the files the run log tests look at.

inline QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The log with its start dates shown as "D" and entry times as "T", after
// checking their exact form.
inline QString normalised(const QString& log)
{
    static const QRegularExpression header(
        QStringLiteral("^=== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "),
        QRegularExpression::MultilineOption);
    static const QRegularExpression entry(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "),
                                          QRegularExpression::MultilineOption);
    QString text = log;
    return text.replace(header, QStringLiteral("=== D ")).replace(entry, QStringLiteral("T "));
}
