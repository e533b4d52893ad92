#include "RunLogText.h"

#include "app/RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The run log's file, without the program around it.
class RunLogTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString logIn(const QString& subdir)
    {
        return m_dir.filePath(subdir + QStringLiteral("/Sockwise.log"));
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void shouldFormatHeaderAndEntriesInTwentyFourHourTime()
    {
        const QDateTime when(QDate(2024, 1, 2), QTime(23, 5, 3, 9));
        QCOMPARE(RunLog::formatHeader(when, QStringLiteral("Sockwise")),
                 QStringLiteral("=== 2024-01-02 23:05:03 Sockwise ==="));
        QCOMPARE(RunLog::formatEntry(when, QStringLiteral("Window shown")),
                 QStringLiteral("23:05:03.009 Window shown"));
    }

    void shouldAppendOneBlockPerOpenAndKeepEarlierContent()
    {
        const QString dir = m_dir.filePath(QStringLiteral("append"));
        QVERIFY(QDir().mkpath(dir));
        writeFile(logIn(QStringLiteral("append")), "older content\n");
        RunLog::openIn(dir, QStringLiteral("Sockwise"));
        QCOMPARE(RunLog::fileName(), logIn(QStringLiteral("append")));
        RunLog::write(QStringLiteral("DarkTheme QSS loaded"));
        RunLog::write(QStringLiteral("Window shown"));
        RunLog::openIn(dir, QStringLiteral("Sockwise"));
        RunLog::write(QStringLiteral("Window shown"));
        QCOMPARE(normalised(readAll(logIn(QStringLiteral("append")))),
                 QStringLiteral("older content\n"
                                "\n=== D Sockwise ===\nT DarkTheme QSS loaded\nT Window shown\n"
                                "\n=== D Sockwise ===\nT Window shown\n"));
    }

    void shouldStampHeadersAndEntriesWithLocalTime()
    {
        // A zone far from UTC tells local time from UTC.
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "ABC-9");
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(before.offsetFromUtc(), 9 * 3600);
        RunLog::openIn(m_dir.filePath(QStringLiteral("local")), QStringLiteral("Sockwise"));
        RunLog::write(QStringLiteral("tick"));
        const QDateTime after = QDateTime::currentDateTime();
        oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);

        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("=== (.{19}) Sockwise ===\n(.{12}) tick\n"))
                .match(readAll(logIn(QStringLiteral("local"))));
        QVERIFY(match.hasMatch());
        const QDateTime started =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(started >= before.addMSecs(-before.time().msec()) && started <= after,
                 qPrintable(match.captured(1)));
        const QTime entry = QTime::fromString(match.captured(2), QStringLiteral("hh:mm:ss.zzz"));
        QVERIFY2(entry >= before.time() && entry <= after.time(), qPrintable(match.captured(2)));
    }

    void shouldWriteNothingWhenTheLocationIsUnwritable()
    {
        RunLog::openIn(m_dir.filePath(QStringLiteral("before")), QStringLiteral("Sockwise"));
        RunLog::write(QStringLiteral("first"));
        const QString earlier = readAll(logIn(QStringLiteral("before")));

        // A plain file where the directory should be: no directory, no log.
        const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
        writeFile(blocker, "not a directory");
        RunLog::openIn(blocker + QStringLiteral("/logs"), QStringLiteral("Sockwise"));
        QVERIFY(!RunLog::isOpen());
        RunLog::write(QStringLiteral("lost"));
        QCOMPARE(readAll(blocker), QStringLiteral("not a directory"));
        // Entries after the failed open must not land in the previous file.
        QCOMPARE(readAll(logIn(QStringLiteral("before"))), earlier);
    }
};

QTEST_GUILESS_MAIN(RunLogTest)
#include "tst_runlog.moc"
