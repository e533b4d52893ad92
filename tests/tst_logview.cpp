#include "comm/CommunicationBase.h"
#include "comm/ExportDialogs.h"
#include "comm/LogViewWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// A log that keeps few entries, so the row and queue limits are cheap to reach.
class SmallLog : public CommunicationBase
{
public:
    int maxEntries() const override { return 50; }
};

LogEntry stamped(LogEntry entry, int ms)
{
    entry.timestamp = QDateTime(QDate(2024, 3, 15), QTime(14, 3, 7, ms));
    return entry;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private:
    static QListWidget* list(LogViewWidget& view)
    {
        return view.findChild<QListWidget*>(QStringLiteral("logOutput"));
    }
    static QPushButton* button(LogViewWidget& view, const QString& text)
    {
        const QList<QPushButton*> buttons = view.findChildren<QPushButton*>();
        for (QPushButton* b : buttons) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    static QStringList rowTexts(LogViewWidget& view)
    {
        QStringList texts;
        QListWidget* rows = list(view);
        for (int i = 0; i < rows->count(); ++i)
            texts.append(rows->item(i)->text());
        return texts;
    }
    // Opens the row menu at pos; once it shows, picks the action named
    // choice (or closes it when choice is empty). Returns whether a menu showed.
    bool runContextMenu(LogViewWidget& view, QPoint pos, const QString& choice)
    {
        bool fired = false;
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            fired = true;
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            shown = true;
            QAction* target = nullptr;
            const QList<QAction*> actions = menu->actions();
            for (QAction* action : actions) {
                if (action->text() == choice)
                    target = action;
            }
            if (target) {
                menu->setActiveAction(target);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
        });
        emit list(view)->customContextMenuRequested(pos);
        [&] {
            QTRY_VERIFY(fired);
        }();
        return shown;
    }

    QString dialogCaption;
    QString dialogInitialPath;
    QString dialogFilters;
    int dialogCalls = 0;
    QString answerPath;
    QStringList warnings;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        dialogCalls = 0;
        answerPath.clear();
        warnings.clear();
        ExportDialogs::getSaveFileName = [this](QWidget*, const QString& caption,
                                                const QString& initialPath,
                                                const QString& filters) {
            ++dialogCalls;
            dialogCaption = caption;
            dialogInitialPath = initialPath;
            dialogFilters = filters;
            return answerPath;
        };
        ExportDialogs::warning = [this](QWidget*, const QString& title, const QString& text) {
            warnings.append(title + QLatin1Char('|') + text);
        };
    }

    void cleanup() { ExportDialogs::restoreDefaults(); }

    void shouldShowSingleEntryOnlyAfterFlushTimer()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        auto* timer = view.findChild<QTimer*>(QStringLiteral("flushTimer"));
        QVERIFY(timer);

        comm.logSystem(QStringLiteral("已连接"));
        QCOMPARE(list(view)->count(), 0);
        QVERIFY(timer->isActive());
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 50);

        QSignalSpy fired(timer, &QTimer::timeout);
        QVERIFY(fired.wait(1000));
        QCOMPARE(list(view)->count(), 1);
        QVERIFY(!timer->isActive());
    }

    void shouldShowTwoHundredRowsPerFlushAndDrainBacklogWithoutNewEntry()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        auto* timer = view.findChild<QTimer*>(QStringLiteral("flushTimer"));
        QList<int> countsAfterTimer;
        connect(timer, &QTimer::timeout, this,
                [&] { countsAfterTimer.append(list(view)->count()); });

        for (int i = 0; i < 500; ++i)
            comm.logReceived(QByteArray::number(i));
        QTRY_COMPARE(list(view)->count(), 500);

        // One timer run for the whole burst, adding exactly one batch.
        QCOMPARE(countsAfterTimer, QList<int>{200});
        QCOMPARE(view.pendingCount(), 0);
        QVERIFY(list(view)->item(499)->text().endsWith(QStringLiteral("[RX]  499")));
        QVERIFY(list(view)->item(0)->text().endsWith(QStringLiteral("[RX]  0")));

        // The cycle is idle again: the next entry waits for the timer.
        comm.logSent("x");
        QVERIFY(timer->isActive());
    }

    void shouldBuildRowTextFromTimestampTagAndData()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);

        comm.logReceived("hello");
        QTRY_COMPARE(list(view)->count(), 1);
        const QRegularExpression stampedRow(
            QStringLiteral("^\\d{2}:\\d{2}:\\d{2}\\.\\d{3}  \\[RX\\]  hello$"));
        QVERIFY2(stampedRow.match(list(view)->item(0)->text()).hasMatch(),
                 qPrintable(list(view)->item(0)->text()));

        comm.setShowTimestamp(false);
        comm.logReceived("hello");
        QTRY_COMPARE(list(view)->count(), 2);
        comm.setHexDisplay(true);
        comm.logSent("Hi\n");
        comm.logSystem(QStringLiteral("服务器已启动"));
        QTRY_COMPARE(list(view)->count(), 4);

        // Rows keep the form they were added in.
        QVERIFY(stampedRow.match(list(view)->item(0)->text()).hasMatch());
        QCOMPARE(rowTexts(view).mid(1),
                 (QStringList{QStringLiteral("[RX]  hello"), QStringLiteral("[TX]  48 69 0A"),
                              QStringLiteral("[SYS]  服务器已启动")}));
    }

    void shouldColourRowsByDirection()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSent("a");
        comm.logReceived("b");
        comm.logSystem(QStringLiteral("c"));
        QTRY_COMPARE(list(view)->count(), 3);

        QCOMPARE(list(view)->item(0)->foreground().color(), QColor(0xFF, 0xD7, 0x00));
        QCOMPARE(list(view)->item(1)->foreground().color(), QColor(0x00, 0xFF, 0xC8));
        QCOMPARE(list(view)->item(2)->foreground().color(), QColor(0x88, 0x92, 0xA0));
        QCOMPARE(list(view)->item(2)->foreground().style(), Qt::SolidPattern);
        QCOMPARE(LogViewWidget::directionColor(static_cast<LogEntry::Direction>(7)),
                 QColor(0xE0, 0xE0, 0xE0));
    }

    void shouldFollowNewRowsOnlyWhenWithinTenPixelsOfBottom()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        for (int i = 0; i < 100; ++i)
            comm.logReceived("row");
        QTRY_COMPARE(list(view)->count(), 100);
        QScrollBar* bar = list(view)->verticalScrollBar();
        QVERIFY(bar->maximum() > 100);
        QCOMPARE(bar->value(), bar->maximum());

        // Nearly at the bottom: follows.
        bar->setValue(bar->maximum() - 8);
        comm.logReceived("near");
        QTRY_COMPARE(list(view)->count(), 101);
        QCOMPARE(bar->value(), bar->maximum());

        // Scrolled further up: stays put.
        const int readingAt = bar->maximum() - 40;
        bar->setValue(readingAt);
        comm.logReceived("far");
        QTRY_COMPARE(list(view)->count(), 102);
        QCOMPARE(bar->value(), readingAt);

        // Auto scroll off: even a view at the bottom stays.
        comm.setAutoScroll(false);
        bar->setValue(bar->maximum());
        const int oldBottom = bar->value();
        comm.logReceived("off");
        QTRY_COMPARE(list(view)->count(), 103);
        QTRY_VERIFY(bar->maximum() > oldBottom);
        QCOMPARE(bar->value(), oldBottom);
    }

    void shouldClampFontSizeAndLineSpacingIntoItemStyle()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        QCOMPARE(
            list(view)->styleSheet(),
            QStringLiteral("QListWidget::item { padding: 2px 6px 2px 6px; font-size: 11pt; }"));
        comm.logSent("a");
        QTRY_COMPARE(list(view)->count(), 1);

        view.setFontSize(30);
        QCOMPARE(view.fontSize(), 18);
        QCOMPARE(list(view)->font().pointSize(), 18);
        QCOMPARE(list(view)->item(0)->font().pointSize(), 18);
        view.setLineSpacing(-20);
        QCOMPARE(view.lineSpacing(), -10);
        QCOMPARE(
            list(view)->styleSheet(),
            QStringLiteral("QListWidget::item { padding: -8px 6px -8px 6px; font-size: 18pt; }"));

        view.setFontSize(2);
        view.setLineSpacing(99);
        QCOMPARE(view.fontSize(), 7);
        QCOMPARE(view.lineSpacing(), 10);
        QCOMPARE(list(view)->item(0)->font().pointSize(), 7);
        QCOMPARE(
            list(view)->styleSheet(),
            QStringLiteral("QListWidget::item { padding: 12px 6px 12px 6px; font-size: 7pt; }"));
    }

    void shouldKeepCountersOnClearAndRowsOnReset()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        auto* tx = view.findChild<QLabel*>(QStringLiteral("txLabel"));
        auto* rx = view.findChild<QLabel*>(QStringLiteral("rxLabel"));
        QCOMPARE(tx->text(), QStringLiteral("TX: 0 bytes"));

        comm.logSent(QByteArray(12345, 'x'));
        comm.logReceived("abc");
        QCOMPARE(tx->text(), QStringLiteral("TX: 12345 bytes"));
        QCOMPARE(rx->text(), QStringLiteral("RX: 3 bytes"));
        QTRY_COMPARE(list(view)->count(), 2);

        button(view, QStringLiteral("清除日志"))->click();
        QCOMPARE(list(view)->count(), 0);
        QVERIFY(comm.entries().isEmpty());
        QCOMPARE(tx->text(), QStringLiteral("TX: 12345 bytes"));
        QCOMPARE(rx->text(), QStringLiteral("RX: 3 bytes"));

        comm.logReceived("d");
        QTRY_COMPARE(list(view)->count(), 1);
        button(view, QStringLiteral("重置计数"))->click();
        QCOMPARE(tx->text(), QStringLiteral("TX: 0 bytes"));
        QCOMPARE(rx->text(), QStringLiteral("RX: 0 bytes"));
        QCOMPARE(list(view)->count(), 1);
    }

    void shouldNotShowEntriesQueuedBeforeClear()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logReceived("old 1");
        comm.logReceived("old 2");
        button(view, QStringLiteral("清除日志"))->click();
        comm.logReceived("new");
        QTRY_COMPARE(list(view)->count(), 1);
        QVERIFY(list(view)->item(0)->text().endsWith(QStringLiteral("new")));

        // Any clearing of the log, not only the button, drops the queue.
        comm.logReceived("old 3");
        comm.clearLog();
        QCOMPARE(view.pendingCount(), 0);
        comm.logReceived("newer");
        QTRY_COMPARE(list(view)->count(), 1);
        QVERIFY(list(view)->item(0)->text().endsWith(QStringLiteral("newer")));
    }

    void shouldKeepNoMoreRowsOrQueuedEntriesThanTheLog()
    {
        SmallLog comm;
        LogViewWidget view(&comm);
        for (int i = 0; i < 120; ++i)
            comm.logReceived("msg " + QByteArray::number(i));
        QCOMPARE(view.pendingCount(), 50);
        QTRY_COMPARE(view.pendingCount(), 0);
        QCOMPARE(list(view)->count(), 50);
        QVERIFY(list(view)->item(0)->text().endsWith(QStringLiteral("msg 70")));

        for (int i = 120; i < 150; ++i)
            comm.logReceived("msg " + QByteArray::number(i));
        QTRY_VERIFY(list(view)->item(49)->text().endsWith(QStringLiteral("msg 149")));
        QCOMPARE(list(view)->count(), 50);
        QVERIFY(list(view)->item(0)->text().endsWith(QStringLiteral("msg 100")));
        // The store and counters are the log's own business.
        QCOMPARE(comm.entries().size(), 50);
        QCOMPARE(comm.rxBytes(), qint64(10 * 5 + 90 * 6 + 50 * 7));
    }

    void shouldCopySelectedAndAllRowsToClipboard()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(500, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        comm.setShowTimestamp(false);
        comm.logSent("one");
        comm.logReceived("two");
        comm.logSystem(QStringLiteral("三"));
        QTRY_COMPARE(list(view)->count(), 3);

        list(view)->item(0)->setSelected(true);
        list(view)->item(2)->setSelected(true);
        const QPoint onRow = list(view)->visualItemRect(list(view)->item(1)).center();
        QClipboard* clipboard = QGuiApplication::clipboard();

        clipboard->setText(QStringLiteral("untouched"));
        QVERIFY(runContextMenu(view, onRow, QString()));
        QCOMPARE(clipboard->text(), QStringLiteral("untouched"));

        QVERIFY(runContextMenu(view, onRow, QStringLiteral("复制")));
        QCOMPARE(clipboard->text(QClipboard::Clipboard), QStringLiteral("[TX]  one\n[SYS]  三"));

        QVERIFY(runContextMenu(view, onRow, QStringLiteral("复制全部")));
        QCOMPARE(clipboard->text(QClipboard::Clipboard),
                 QStringLiteral("[TX]  one\n[RX]  two\n[SYS]  三"));

        list(view)->clearSelection();
        QVERIFY(runContextMenu(view, onRow, QStringLiteral("复制")));
        QCOMPARE(clipboard->text(QClipboard::Clipboard), QString());
    }

    void shouldShowNoMenuBelowTheLastRow()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(500, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        comm.logSent("only");
        QTRY_COMPARE(list(view)->count(), 1);

        const QRect last = list(view)->visualItemRect(list(view)->item(0));
        const QPoint below(last.center().x(), last.bottom() + 60);
        QVERIFY(list(view)->viewport()->rect().contains(below));
        QVERIFY(!runContextMenu(view, below, QStringLiteral("复制全部")));
        QVERIFY(runContextMenu(view, last.center(), QString()));
    }
    void shouldExportTextAndCsvByteForByte()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.addEntry(
            stamped(LogEntry(LogEntry::TX, "say \"hi\", ok\nbye", QStringLiteral("UTF-8")), 5));
        comm.addEntry(stamped(LogEntry(LogEntry::RX, "a,b", QStringLiteral("UTF-8")), 215));
        comm.addEntry(stamped(LogEntry(QStringLiteral("已连接 \"x\"")), 999));
        // The export writes time stamps whatever the view shows.
        comm.setShowTimestamp(false);

        answerPath = dir.filePath(QStringLiteral("log.txt"));
        button(view, QStringLiteral("导出"))->click();
        QCOMPARE(readAll(answerPath),
                 QByteArray("14:03:07.005 [TX] say \"hi\", ok\nbye\n"
                            "14:03:07.215 [RX] a,b\n"
                            "14:03:07.999 [SYS] \xE5\xB7\xB2\xE8\xBF\x9E\xE6\x8E\xA5 \"x\"\n"));

        answerPath = dir.filePath(QStringLiteral("log.csv"));
        button(view, QStringLiteral("导出"))->click();
        const QString confirmation =
            QStringLiteral("日志已导出: ") + dir.filePath(QStringLiteral("log.txt"));
        const QByteArray expectedCsv =
            QByteArray(
                "Timestamp,Direction,Data\n"
                "\"14:03:07.005\",\"[TX]\",\"say \"\"hi\"\", ok\nbye\"\n"
                "\"14:03:07.215\",\"[RX]\",\"a,b\"\n"
                "\"14:03:07.999\",\"[SYS]\",\"\xE5\xB7\xB2\xE8\xBF\x9E\xE6\x8E\xA5 \"\"x\"\"\"\n"
                "\"") +
            comm.entries().at(3).timeString().toUtf8() + "\",\"[SYS]\",\"" + confirmation.toUtf8() +
            "\"\n";
        QCOMPARE(readAll(answerPath), expectedCsv);

        // Hexadecimal display: data bytes in hex, system messages still words.
        comm.setHexDisplay(true);
        answerPath = dir.filePath(QStringLiteral("hex.log"));
        button(view, QStringLiteral("导出"))->click();
        const QList<QByteArray> lines = readAll(answerPath).split('\n');
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(0),
                 QByteArray("14:03:07.005 [TX] 73 61 79 20 22 68 69 22 2C 20 6F 6B 0A 62 79 65"));
        QCOMPARE(lines.at(1), QByteArray("14:03:07.215 [RX] 61 2C 62"));
        QCOMPARE(lines.at(2),
                 QByteArray("14:03:07.999 [SYS] \xE5\xB7\xB2\xE8\xBF\x9E\xE6\x8E\xA5 \"x\""));
        const QByteArray csvConfirmation = QStringLiteral("[SYS] 日志已导出: %1")
                                               .arg(dir.filePath(QStringLiteral("log.csv")))
                                               .toUtf8();
        QVERIFY(lines.at(4).endsWith(csvConfirmation));
        QCOMPARE(warnings, QStringList());

        // Each confirmation follows its export and shows in the view.
        const QList<LogEntry> stored = comm.entries();
        QCOMPARE(stored.size(), 6);
        QCOMPARE(stored.last().direction, LogEntry::SYS);
        QCOMPARE(stored.last().text, QStringLiteral("日志已导出: ") + answerPath);
        QTRY_VERIFY(rowTexts(view).contains(QStringLiteral("[SYS]  日志已导出: ") + answerPath));
    }

    void shouldChooseCsvByEndingInAnyCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("csv");
        QTest::newRow("lower") << QStringLiteral("a.csv") << true;
        QTest::newRow("upper") << QStringLiteral("a.CSV") << true;
        QTest::newRow("mixed") << QStringLiteral("a.cSv") << true;
        QTest::newRow("txt") << QStringLiteral("a.txt") << false;
        QTest::newRow("log") << QStringLiteral("a.log") << false;
        QTest::newRow("none") << QStringLiteral("a") << false;
        QTest::newRow("csv inside") << QStringLiteral("a.csv.txt") << false;
    }

    void shouldChooseCsvByEndingInAnyCase()
    {
        QFETCH(QString, name);
        QFETCH(bool, csv);
        QTemporaryDir dir;
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.addEntry(stamped(LogEntry(LogEntry::RX, "v", QString()), 1));
        answerPath = dir.filePath(name);
        button(view, QStringLiteral("导出"))->click();
        QCOMPARE(QFileInfo(answerPath).fileName(), name);
        const QByteArray written = readAll(answerPath);
        QCOMPARE(written,
                 csv ? QByteArray("Timestamp,Direction,Data\n\"14:03:07.001\",\"[RX]\",\"v\"\n")
                     : QByteArray("14:03:07.001 [RX] v\n"));
    }

    void shouldReplaceAnEarlierExportOfTheSamePath()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("again.txt"));
        CommunicationBase comm;
        comm.addEntry(stamped(LogEntry(LogEntry::TX, "a much longer first payload", QString()), 1));
        QVERIFY(comm.exportToFile(path, false, false));
        comm.clearLog();
        QVERIFY(comm.exportToFile(path, false, true));
        QCOMPARE(readAll(path), QByteArray("Timestamp,Direction,Data\n"));
        comm.addEntry(stamped(LogEntry(LogEntry::RX, "b", QString()), 2));
        QVERIFY(comm.exportToFile(path, false, false));
        QCOMPARE(readAll(path), QByteArray("14:03:07.002 [RX] b\n"));
        // Nothing but the export is left in the directory.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("again.txt")});
    }

    void shouldOfferDefaultNameAndFiltersAndDoNothingWhenCancelled()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSent("a");
        answerPath.clear();
        button(view, QStringLiteral("导出"))->click();
        QCOMPARE(dialogCalls, 1);
        QCOMPARE(dialogCaption, QStringLiteral("导出日志"));
        QCOMPARE(dialogFilters, QStringLiteral("文本文件 (*.txt);;CSV文件 (*.csv)"));
        QVERIFY2(QRegularExpression(QStringLiteral("^Communication_Log_\\d{8}_\\d{6}$"))
                     .match(dialogInitialPath)
                     .hasMatch(),
                 qPrintable(dialogInitialPath));
        QCOMPARE(comm.entries().size(), 1);
        QCOMPARE(warnings, QStringList());
    }

    void shouldWarnAndAddNoEntryWhenExportFails()
    {
        QTemporaryDir dir;
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSent("payload");

        answerPath = dir.filePath(QStringLiteral("missing/dir/log.txt"));
        button(view, QStringLiteral("导出"))->click();
        QCOMPARE(warnings, QStringList{QStringLiteral("导出失败|无法写入文件: ") + answerPath});
        QCOMPARE(comm.entries().size(), 1);

        // A full disk fails while writing, after the file was opened.
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this system");
        warnings.clear();
        answerPath = QStringLiteral("/dev/full");
        button(view, QStringLiteral("导出"))->click();
        QCOMPARE(warnings, QStringList{QStringLiteral("导出失败|无法写入文件: /dev/full")});
        QCOMPARE(comm.entries().size(), 1);
        QVERIFY(!comm.exportToFile(answerPath, false, true));
        // The device is written in place, never replaced by a file.
        QVERIFY(!QFileInfo(answerPath).isFile());
        QVERIFY(QFileInfo(answerPath).exists());
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
