#include "app/RunLog.h"
#include "app/StartUp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

const QRegularExpression
    headerPattern(QStringLiteral("^=== (\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}) (\\S+) ===$"));
const QRegularExpression entryPattern(QStringLiteral("^(\\d{2}:\\d{2}:\\d{2}\\.\\d{3}) (.*)$"));

// The blocks of a run log: each an empty line, a header and entries.
struct Block
{
    QDateTime started;
    QString name;
    QStringList messages;
};

bool parseBlocks(const QString& content, QList<Block>* blocks, QString* problem)
{
    QStringList lines = content.split(QLatin1Char('\n'));
    if (lines.isEmpty() || !lines.last().isEmpty()) {
        *problem = QStringLiteral("log does not end with a line break");
        return false;
    }
    lines.removeLast();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines.at(i).isEmpty()) {
            *problem = QStringLiteral("expected an empty line at ") + QString::number(i);
            return false;
        }
        if (++i >= lines.size()) {
            *problem = QStringLiteral("empty line without header");
            return false;
        }
        const QRegularExpressionMatch header = headerPattern.match(lines.at(i));
        if (!header.hasMatch()) {
            *problem = QStringLiteral("bad header: ") + lines.at(i);
            return false;
        }
        Block block;
        block.started =
            QDateTime::fromString(header.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        block.name = header.captured(2);
        while (i + 1 < lines.size() && !lines.at(i + 1).isEmpty()) {
            const QRegularExpressionMatch entry = entryPattern.match(lines.at(++i));
            if (!entry.hasMatch()) {
                *problem = QStringLiteral("bad entry: ") + lines.at(i);
                return false;
            }
            block.messages << entry.captured(2);
        }
        blocks->append(block);
    }
    return true;
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void shouldFormatHeaderAndEntriesInTwentyFourHourTime();
    void shouldAppendOneBlockPerOpen();
    void shouldStampHeadersAndEntriesWithLocalTime();
    void shouldWriteNothingWhenTheLocationIsUnwritable();
    void shouldPreferTheEmbeddedStyleSheetOverTheFileBesideTheProgram();
    void shouldFallBackToTheFileBesideTheProgramWhenTheResourceIsMissing();
    void shouldApplyNothingWithoutAnyStyleSheet();
    void shouldLogTwoStartsOfTheRealProgram();

private:
    QTemporaryDir m_dir;
};

void TestApp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void TestApp::shouldFormatHeaderAndEntriesInTwentyFourHourTime()
{
    const QDateTime morning(QDate(2024, 1, 2), QTime(7, 5, 3, 9));
    QCOMPARE(RunLog::formatHeader(morning, QStringLiteral("Sockwise")),
             QStringLiteral("=== 2024-01-02 07:05:03 Sockwise ==="));
    QCOMPARE(RunLog::formatEntry(morning, QStringLiteral("Window shown")),
             QStringLiteral("07:05:03.009 Window shown"));

    const QDateTime evening(QDate(2024, 12, 31), QTime(23, 59, 58, 40));
    QCOMPARE(RunLog::formatEntry(evening, QStringLiteral("x")), QStringLiteral("23:59:58.040 x"));
    QCOMPARE(RunLog::formatEntry(QDateTime(QDate(2024, 6, 1), QTime(13, 0, 0, 999)), QString()),
             QStringLiteral("13:00:00.999 "));
}

void TestApp::shouldAppendOneBlockPerOpen()
{
    const QString dir = m_dir.filePath(QStringLiteral("append/logs"));
    const QString path = dir + QStringLiteral("/Sockwise.log");

    RunLog::openIn(dir, QStringLiteral("Sockwise"));
    QVERIFY(RunLog::isOpen());
    QCOMPARE(RunLog::fileName(), path);
    RunLog::write(QStringLiteral("DarkTheme QSS loaded"));
    RunLog::write(QStringLiteral("Window shown"));
    const QString first = readAll(path);

    RunLog::openIn(dir, QStringLiteral("Sockwise"));
    RunLog::write(QStringLiteral("Window shown"));
    const QString both = readAll(path);
    QVERIFY2(both.startsWith(first), "the second start rewrote the first block");

    QList<Block> blocks;
    QString problem;
    QVERIFY2(parseBlocks(both, &blocks, &problem), qPrintable(problem));
    QCOMPARE(blocks.size(), 2);
    QCOMPARE(blocks.at(0).name, QStringLiteral("Sockwise"));
    QCOMPARE(blocks.at(0).messages,
             (QStringList{QStringLiteral("DarkTheme QSS loaded"), QStringLiteral("Window shown")}));
    QCOMPARE(blocks.at(1).messages, QStringList{QStringLiteral("Window shown")});

    // Content written by someone else before is kept as well.
    const QString otherDir = m_dir.filePath(QStringLiteral("kept"));
    QVERIFY(QDir().mkpath(otherDir));
    writeFile(otherDir + QStringLiteral("/Tool.log"), "older content\n");
    RunLog::openIn(otherDir, QStringLiteral("Tool"));
    RunLog::write(QStringLiteral("one"));
    const QString kept = readAll(otherDir + QStringLiteral("/Tool.log"));
    QVERIFY2(kept.startsWith(QStringLiteral("older content\n\n=== ")), qPrintable(kept));
    QVERIFY(kept.contains(QStringLiteral(" Tool ===\n")));
    QVERIFY(kept.endsWith(QStringLiteral(" one\n")));
}

void TestApp::shouldStampHeadersAndEntriesWithLocalTime()
{
    // A zone far from UTC tells local time from UTC.
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "ABC-9");
    const QDateTime before = QDateTime::currentDateTime();
    QCOMPARE(before.offsetFromUtc(), 9 * 3600);

    const QString dir = m_dir.filePath(QStringLiteral("local"));
    RunLog::openIn(dir, QStringLiteral("Clock"));
    RunLog::write(QStringLiteral("tick"));
    const QDateTime after = QDateTime::currentDateTime();
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);

    QList<Block> blocks;
    QString problem;
    QVERIFY2(parseBlocks(readAll(dir + QStringLiteral("/Clock.log")), &blocks, &problem),
             qPrintable(problem));
    QCOMPARE(blocks.size(), 1);
    const QDateTime started = blocks.at(0).started;
    QVERIFY2(started >= before.addMSecs(-before.time().msec() - 1000) && started <= after,
             qPrintable(started.toString(Qt::ISODate)));

    const QStringList line = readAll(dir + QStringLiteral("/Clock.log"))
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                 .last()
                                 .split(QLatin1Char(' '));
    const QTime entryTime = QTime::fromString(line.first(), QStringLiteral("hh:mm:ss.zzz"));
    QVERIFY(entryTime.isValid());
    const int drift = qAbs(entryTime.msecsTo(after.time()));
    QVERIFY2(drift < 5000 || drift > 86400000 - 5000, qPrintable(line.first()));
}

void TestApp::shouldWriteNothingWhenTheLocationIsUnwritable()
{
    const QString good = m_dir.filePath(QStringLiteral("before"));
    RunLog::openIn(good, QStringLiteral("Sockwise"));
    RunLog::write(QStringLiteral("first"));
    const QString earlier = readAll(good + QStringLiteral("/Sockwise.log"));

    // A plain file where the directory should be: no directory, no log.
    const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
    writeFile(blocker, "not a directory");
    const QString dir = blocker + QStringLiteral("/logs");
    RunLog::openIn(dir, QStringLiteral("Sockwise"));
    QVERIFY(!RunLog::isOpen());
    RunLog::write(QStringLiteral("lost"));

    QVERIFY(!QFile::exists(dir + QStringLiteral("/Sockwise.log")));
    QCOMPARE(readAll(blocker), QStringLiteral("not a directory"));
    // Entries after the failed open must not land in the previous file.
    QCOMPARE(readAll(good + QStringLiteral("/Sockwise.log")), earlier);
}

void TestApp::shouldPreferTheEmbeddedStyleSheetOverTheFileBesideTheProgram()
{
    const QString resource = StartUp::resourceStyleSheetPath();
    QVERIFY2(QFile::exists(resource), "the style sheet is not embedded");
    const QString embedded = readAll(resource);

    const QString fallback = m_dir.filePath(QStringLiteral("beside.qss"));
    writeFile(fallback, "QWidget { color: #123456; }");

    const QString logDir = m_dir.filePath(QStringLiteral("qss-resource"));
    RunLog::openIn(logDir, QStringLiteral("Sockwise"));
    qApp->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    QVERIFY(StartUp::applyStyleSheet(resource, fallback));
    QCOMPARE(qApp->styleSheet(), embedded);
    QVERIFY(readAll(logDir + QStringLiteral("/Sockwise.log"))
                .endsWith(QStringLiteral(" DarkTheme QSS loaded\n")));
}

void TestApp::shouldFallBackToTheFileBesideTheProgramWhenTheResourceIsMissing()
{
    const QString fallback = m_dir.filePath(QStringLiteral("fallback.qss"));
    writeFile(fallback, "QPushButton {\n    color: #abcdef;\n}\n");

    const QString logDir = m_dir.filePath(QStringLiteral("qss-fallback"));
    RunLog::openIn(logDir, QStringLiteral("Sockwise"));
    qApp->setStyleSheet(QString());
    QVERIFY(StartUp::applyStyleSheet(QStringLiteral(":/styles/Missing.qss"), fallback));
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QPushButton {\n    color: #abcdef;\n}\n"));

    QList<Block> blocks;
    QString problem;
    QVERIFY2(parseBlocks(readAll(logDir + QStringLiteral("/Sockwise.log")), &blocks, &problem),
             qPrintable(problem));
    QCOMPARE(blocks.size(), 1);
    QCOMPARE(blocks.at(0).messages, QStringList{QStringLiteral("DarkTheme QSS loaded")});
}

void TestApp::shouldApplyNothingWithoutAnyStyleSheet()
{
    const QString logDir = m_dir.filePath(QStringLiteral("qss-none"));
    RunLog::openIn(logDir, QStringLiteral("Sockwise"));
    qApp->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    QVERIFY(!StartUp::applyStyleSheet(QStringLiteral(":/styles/Missing.qss"),
                                      m_dir.filePath(QStringLiteral("missing.qss"))));
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: red; }"));
    RunLog::write(QStringLiteral("Window shown"));

    QList<Block> blocks;
    QString problem;
    QVERIFY2(parseBlocks(readAll(logDir + QStringLiteral("/Sockwise.log")), &blocks, &problem),
             qPrintable(problem));
    QCOMPARE(blocks.size(), 1);
    QCOMPARE(blocks.at(0).messages, QStringList{QStringLiteral("Window shown")});
    qApp->setStyleSheet(QString());
}

void TestApp::shouldLogTwoStartsOfTheRealProgram()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    // Where proxies from the environment are honoured, this keeps the notice
    // feed's request on loopback.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"})
        env.insert(QString::fromLatin1(name), QStringLiteral("http://127.0.0.1:9"));

    // The location is named after the executable: the program's name is set later.
    const QString log = home.filePath(QStringLiteral("data/sockwise/logs/Sockwise.log"));

    for (int start = 1; start <= 2; ++start) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(SOCKWISE_BINARY), QStringList());
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).count(QStringLiteral(" Window shown\n")) == start ||
                                     program.state() == QProcess::NotRunning,
                                 30000);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        if (!program.waitForFinished(10000)) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    QList<Block> blocks;
    QString problem;
    const QString content = readAll(log);
    QVERIFY2(parseBlocks(content, &blocks, &problem),
             qPrintable(problem + QLatin1Char('\n') + content));
    QCOMPARE(blocks.size(), 2);
    for (const Block& block : std::as_const(blocks)) {
        QCOMPARE(block.name, QStringLiteral("Sockwise"));
        QCOMPARE(block.messages, (QStringList{QStringLiteral("DarkTheme QSS loaded"),
                                              QStringLiteral("Window shown")}));
    }
    QVERIFY(blocks.at(0).started <= blocks.at(1).started);
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
