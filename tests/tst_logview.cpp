#include "comm/CommunicationBase.h"
#include "comm/ExportDialogs.h"
#include "comm/FilteredLogModel.h"
#include "comm/HexDump.h"
#include "comm/LogRowDelegate.h"
#include "comm/LogViewWidget.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// A log whose cap a test can lower, so the row and queue limits are cheap to reach.
class Log : public CommunicationBase
{
public:
    int maxEntries() const override { return cap; }
    qint64 maxEntryBytes() const override { return budget; }
    int cap = 100000;
    qint64 budget = qint64(256) * 1024 * 1024;
};

LogEntry stamped(LogEntry entry, int ms)
{
    entry.setTimestamp(QDateTime(QDate(2024, 3, 15), QTime(14, 3, 7, ms)));
    return entry;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

    std::unique_ptr<Log> comm;
    std::unique_ptr<LogViewWidget> view;
    QStringList dialogArgs, warnings;
    QString answerPath, answerFilter;

    QListWidget* rows() { return view->findChild<QListWidget*>(QStringLiteral("logOutput")); }
    QString row(int i) { return rows()->item(i)->text(); }
    // Pixel lines of row i that hold text in the RX colour, as painted.
    int glyphHeight(int i)
    {
        const QImage image = rows()->viewport()->grab().toImage();
        const QRect rect = rows()->visualItemRect(rows()->item(i)) & image.rect();
        int height = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            bool ink = false;
            for (int x = rect.left(); x <= rect.right() && !ink; ++x)
                ink = image.pixelColor(x, y).green() > 200 && image.pixelColor(x, y).red() < 60;
            height += ink;
        }
        return height;
    }
    // The view shown with `count` rows; its scroll bar, or null on failure.
    QScrollBar* showRowsAtTheBottom(int count)
    {
        view->resize(500, 400);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            return nullptr;
        for (int i = 0; i < count; ++i)
            comm->logReceived("row");
        return QTest::qWaitFor([&] { return rows()->count() == count; })
                   ? rows()->verticalScrollBar()
                   : nullptr;
    }
    void click(const QString& text)
    {
        for (QPushButton* b : view->findChildren<QPushButton*>()) {
            if (b->text() == text)
                return b->click();
        }
        QFAIL(qPrintable(QStringLiteral("no button ") + text));
    }
    // Opens the row menu at pos and picks `choice` once it shows. Returns
    // whether a menu showed.
    bool runContextMenu(QPoint pos, const QString& choice)
    {
        bool fired = false;
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            fired = true;
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                shown = true;
                for (QAction* action : menu->actions()) {
                    if (action->text() == choice)
                        menu->setActiveAction(action);
                }
                QTest::keyClick(menu, Qt::Key_Return);
            }
        });
        emit rows()->customContextMenuRequested(pos);
        return QTest::qWaitFor([&] { return fired; }) && shown;
    }

    template<class T> T* child(const char* name)
    {
        return view->findChild<T*>(QLatin1String(name));
    }
    // Shown, active and with `texts` logged (time stamps off), all as rows.
    bool showActiveWith(const QList<QByteArray>& texts)
    {
        view->resize(700, 500);
        view->show();
        view->activateWindow();
        if (!QTest::qWaitForWindowActive(view.get()))
            return false;
        comm->setShowTimestamp(false);
        for (const QByteArray& text : texts)
            comm->logReceived(text);
        return QTest::qWaitFor([&] { return rows()->count() == texts.size(); });
    }
    // The rows on screen: while the filter is on, those of its own view.
    QListView* filtered() { return child<QListView>("filteredLog"); }
    QAbstractItemView* shown()
    {
        return filtered()->isVisible() ? static_cast<QAbstractItemView*>(filtered()) : rows();
    }
    QStringList shownRows()
    {
        const QAbstractItemModel* model = shown()->model();
        QStringList out;
        for (int i = 0; i < model->rowCount(); ++i)
            out << model->index(i, 0).data().toString();
        return out;
    }
    QString copiedFrom(const char* button)
    {
        child<QPushButton>(button)->click();
        return QGuiApplication::clipboard()->text();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        view.reset();
        comm = std::make_unique<Log>();
        view = std::make_unique<LogViewWidget>(comm.get());
        answerPath.clear();
        answerFilter.clear();
        dialogArgs.clear();
        warnings.clear();
        ExportDialogs::getSaveFileName = [this](QWidget*, const QString& caption,
                                                const QString& initialPath, const QString& filters,
                                                QString* filter) {
            dialogArgs = QStringList{caption, initialPath, filters};
            *filter = answerFilter;
            return answerPath;
        };
        ExportDialogs::warning = [this](QWidget*, const QString& title, const QString& text) {
            warnings.append(title + QLatin1Char('|') + text);
        };
    }

    void cleanup()
    {
        ExportDialogs::restoreDefaults();
        qApp->setStyleSheet(QString());
    }

    void shouldBatchRowsBehindTheTimerAndDrainABacklogWithoutNewEntries()
    {
        auto* timer = view->findChild<QTimer*>(QStringLiteral("flushTimer"));
        QVERIFY(timer);
        comm->logSystem(QStringLiteral("已连接"));
        QCOMPARE(rows()->count(), 0);
        QVERIFY(timer->isActive() && timer->isSingleShot());
        QCOMPARE(timer->interval(), 50);
        QSignalSpy fired(timer, &QTimer::timeout);
        QVERIFY(fired.wait(1000));
        QCOMPARE(rows()->count(), 1);

        // A burst of 500 then silence: one timer run adds 200 rows, the rest
        // follows without another entry or another timer run.
        QList<int> countsAfterTimer;
        connect(timer, &QTimer::timeout, this, [&] { countsAfterTimer.append(rows()->count()); });
        for (int i = 0; i < 500; ++i)
            comm->logReceived(QByteArray::number(i));
        QTRY_COMPARE(rows()->count(), 501);
        QCOMPARE(countsAfterTimer, QList<int>{201});
        QCOMPARE(view->pendingCount(), 0);
        QVERIFY(row(500).endsWith(QStringLiteral("[RX]  499")));

        comm->logSent("x");
        QVERIFY(timer->isActive());
    }

    void shouldBuildRowTextsAndColoursFromTheSettingsAtArrival()
    {
        comm->logReceived("hello");
        QTRY_COMPARE(rows()->count(), 1);
        comm->setShowTimestamp(false);
        comm->logReceived("hello");
        QTRY_COMPARE(rows()->count(), 2);
        comm->setHexDisplay(true);
        comm->logSent("Hi\n");
        comm->logSystem(QStringLiteral("服务器已启动"));
        QTRY_COMPARE(rows()->count(), 4);

        QCOMPARE(row(0), comm->entries().at(0).timeString() + QStringLiteral("  [RX]  hello"));
        QCOMPARE(row(1), QStringLiteral("[RX]  hello"));
        QCOMPARE(row(2), QStringLiteral("[TX]  48 69 0A"));
        QCOMPARE(row(3), QStringLiteral("[SYS]  服务器已启动"));
        QCOMPARE(rows()->item(1)->foreground().color(), QColor(0x00, 0xFF, 0xC8));
        QCOMPARE(rows()->item(2)->foreground().color(), QColor(0xFF, 0xD7, 0x00));
        QCOMPARE(rows()->item(3)->foreground().color(), QColor(0x88, 0x92, 0xA0));
    }

    void shouldPaintRowsFromABoundedCacheOfTheirText()
    {
        view->resize(500, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        comm->setShowTimestamp(false);
        const int count = LogRowDelegate::cachedRowLimit * 2;
        for (int i = 0; i < count; ++i)
            comm->logFrame(LogEntry::RX, "r\xC3\xA9" + QByteArray::number(i),
                           LogEntry::FrameKind::Text, u"peer"_s);
        comm->logFrame(LogEntry::RX, "a\nb", LogEntry::FrameKind::Text, u"peer"_s);
        comm->logFrame(LogEntry::RX, QByteArray(600, 'x'), LogEntry::FrameKind::Text, u"peer"_s);
        QTRY_COMPARE(rows()->count(), count + 2);
        QCOMPARE(row(7), u"[RX]  ré7"_s);
        QCOMPARE(row(count), u"[RX]  a\u21B5b"_s);
        QVERIFY(row(count + 1).endsWith(u"\u2026 (600 bytes)"_s));

        const auto* delegate = qobject_cast<const LogRowDelegate*>(rows()->itemDelegate());
        QVERIFY(delegate);
        for (int i = 0; i < rows()->count(); i += 20) {
            rows()->scrollToItem(rows()->item(i));
            rows()->viewport()->grab();
        }
        QVERIFY(delegate->cachedRows() > 0);
        QVERIFY(delegate->cachedRows() <= LogRowDelegate::cachedRowLimit);
        for (int i : {0, 7, count - 1, count, count + 1}) {
            // Painted twice: once decoded, once kept.
            QCOMPARE(delegate->rowText(rows()->model()->index(i, 0)), row(i));
            QCOMPARE(delegate->rowText(rows()->model()->index(i, 0)), row(i));
        }
    }

    void shouldFollowNewRowsOnlyWithinTenPixelsOfTheBottom()
    {
        QScrollBar* bar = showRowsAtTheBottom(100);
        QVERIFY(bar);
        QVERIFY(bar->maximum() > 100);
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(bar->maximum() - 8);
        comm->logReceived("near");
        QTRY_COMPARE(rows()->count(), 101);
        QCOMPARE(bar->value(), bar->maximum());

        const int readingAt = bar->maximum() - 40;
        bar->setValue(readingAt);
        comm->logReceived("far");
        QTRY_COMPARE(rows()->count(), 102);
        QCOMPARE(bar->value(), readingAt);

        // Switched off, even a view at the bottom stays.
        comm->setAutoScroll(false);
        bar->setValue(bar->maximum());
        const int oldBottom = bar->value();
        comm->logReceived("off");
        QTRY_COMPARE(rows()->count(), 103);
        QTRY_VERIFY(bar->maximum() > oldBottom);
        QCOMPARE(bar->value(), oldBottom);
    }

    void shouldTellPeerAndFrameKindInTheRowToolTip()
    {
        comm->logFrame(LogEntry::RX, "hi", LogEntry::FrameKind::Text,
                       QStringLiteral("127.0.0.1:52344"));
        comm->logFrame(LogEntry::TX, "\x01\x02\x03", LogEntry::FrameKind::Binary,
                       QStringLiteral("全部 (3)"));
        comm->logSystem(QStringLiteral("WebSocket已连接"));
        QTRY_COMPARE(rows()->count(), 3);
        auto tip = [this](int i) {
            return rows()->item(i)->data(Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(0), QStringLiteral("来自: 127.0.0.1:52344\n文本帧，2 字节"));
        QCOMPARE(tip(1), QStringLiteral("发往: 全部 (3)\n二进制帧，3 字节"));
        QVERIFY(tip(2).isEmpty());
        // The row's own text is unchanged: peer and kind are shown on demand.
        QVERIFY(row(0).endsWith(QStringLiteral("[RX]  hi")));
        // Asked for while English is active, it answers in English.
        LanguageManager::setEnglish(true);
        QCOMPARE(tip(0), QStringLiteral("From: 127.0.0.1:52344\ntext frame, 2 bytes"));
        LanguageManager::setEnglish(false);
    }

    void shouldClampFontSizeAndLineSpacingIntoTheItemStyle()
    {
        const QString style =
            QStringLiteral("QListWidget#logOutput { font-size: %2pt; }"
                           "QListWidget::item { padding: %1px 6px %1px 6px; font-size: %2pt; }");
        QCOMPARE(rows()->styleSheet(), style.arg(2).arg(11));
        view->setFontSize(30);
        view->setLineSpacing(-20);
        QCOMPARE(rows()->styleSheet(), style.arg(-8).arg(18));
        view->setFontSize(2);
        view->setLineSpacing(99);
        QCOMPARE(rows()->styleSheet(), style.arg(12).arg(7));
    }

    void shouldDrawOldAndNewRowsInTheChosenSizeOverTheApplicationSheet()
    {
        // The theme gives the list a size of its own, which beat the view's
        // font for every row that carried none.
        QFile qss(QStringLiteral(":/styles/DarkTheme.qss"));
        QVERIFY(qss.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(qss.readAll()));
        view = std::make_unique<LogViewWidget>(comm.get());
        view->resize(500, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        comm->setShowTimestamp(false);
        comm->logReceived("HHHH");
        QTRY_COMPARE(rows()->count(), 1);
        const int before = glyphHeight(0);
        view->setFontSize(18);
        comm->logReceived("HHHH");
        QTRY_COMPARE(rows()->count(), 2);
        const int oldRow = glyphHeight(0), newRow = glyphHeight(1);
        QVERIFY2(oldRow > before + 4, qPrintable(QStringLiteral("%1 %2").arg(before).arg(oldRow)));
        QCOMPARE(newRow, oldRow);
        QVERIFY(!rows()->item(0)->data(Qt::FontRole).isValid());
    }

    void shouldStayAtTheBottomAcrossFontSpacingAndSizeChanges()
    {
        QScrollBar* bar = showRowsAtTheBottom(100);
        QVERIFY(bar);
        QCOMPARE(bar->value(), bar->maximum());

        const auto atBottomAfter = [&](const std::function<void()>& change) {
            const int oldMaximum = bar->maximum();
            change();
            return QTest::qWaitFor([&] { return bar->maximum() != oldMaximum; }) &&
                   bar->value() == bar->maximum();
        };
        QVERIFY(atBottomAfter([&] { view->setFontSize(16); }));
        QVERIFY(atBottomAfter([&] { view->setLineSpacing(6); }));
        QVERIFY(atBottomAfter([&] { view->resize(500, 250); }));
        // ...and keeps following.
        comm->logReceived("next");
        QTRY_COMPARE(rows()->count(), 101);
        QCOMPARE(bar->value(), bar->maximum());

        // A view scrolled up stays where it is.
        bar->setValue(bar->maximum() - 40);
        const int reading = bar->value();
        view->setFontSize(18);
        QTRY_VERIFY(bar->maximum() > reading + 40);
        QCOMPARE(bar->value(), reading);
    }

    void shouldClearRowsQueueAndStoreButKeepCountersUntilReset()
    {
        auto* tx = view->findChild<QLabel*>(QStringLiteral("txLabel"));
        auto* rx = view->findChild<QLabel*>(QStringLiteral("rxLabel"));
        comm->logSent(QByteArray(12345, 'x'));
        comm->logReceived("abc");
        QTRY_COMPARE(rows()->count(), 2);
        comm->logReceived("queued 1");
        comm->logReceived("queued 2");

        // Nothing logged before the click may show afterwards.
        click(QStringLiteral("清除日志"));
        QCOMPARE(rows()->count(), 0);
        QVERIFY(comm->entries().isEmpty());
        QTRY_COMPARE(tx->text(), QStringLiteral("TX: 12345 bytes"));
        QTRY_COMPARE(rx->text(), QStringLiteral("RX: 19 bytes"));
        comm->logReceived("new");
        QTRY_COMPARE(rows()->count(), 1);
        QVERIFY(row(0).endsWith(QStringLiteral("]  new")));

        click(QStringLiteral("重置计数"));
        QTRY_COMPARE(tx->text(), QStringLiteral("TX: 0 bytes"));
        QTRY_COMPARE(rx->text(), QStringLiteral("RX: 0 bytes"));
        QCOMPARE(rows()->count(), 1);

        // Any clearing of the log drops the queue, not only the button.
        comm->logReceived("queued 3");
        comm->clearLog();
        QCOMPARE(view->pendingCount(), 0);
    }

    void shouldShowCountersAtOnceButNotRelayOutPerFrame()
    {
        auto* rx = view->findChild<QLabel*>(QStringLiteral("rxLabel"));
        comm->logReceived("12345");
        QCOMPARE(rx->text(), QStringLiteral("RX: 5 bytes"));
        // A flood: the label keeps its text until the event loop runs...
        QSignalSpy updates(comm.get(), &CommunicationBase::countersUpdated);
        for (int i = 0; i < 1000; ++i)
            comm->logReceived("abc");
        QCOMPARE(updates.count(), 1000);
        QCOMPARE(rx->text(), QStringLiteral("RX: 5 bytes"));
        // ...and then shows the final count.
        QTRY_COMPARE(rx->text(), QStringLiteral("RX: 3005 bytes"));
    }

    void shouldShowTheNewestCountAfterALanguageRoundTrip()
    {
        auto* rx = view->findChild<QLabel*>(QStringLiteral("rxLabel"));
        comm->logReceived("12345");
        LanguageManager::setEnglish(true);
        retranslateWidgetTree(view.get());
        comm->logReceived("678");
        QTRY_COMPARE(rx->text(), QStringLiteral("RX: 8 bytes"));
        LanguageManager::setEnglish(false);
        retranslateWidgetTree(view.get());
        QCOMPARE(rx->text(), QStringLiteral("RX: 8 bytes"));
    }

    void shouldKeepStoreQueueAndRowsWithinTheLogsBudget()
    {
        // 8 KiB frames flooding while the filter hides every row.
        comm->budget = 2 * 1024 * 1024;
        QVERIFY(showActiveWith({}));
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>("findEdit"), QStringLiteral("never"));
        child<QCheckBox>("findFilter")->click();
        for (int i = 0; i < 2000; ++i)
            comm->logReceived(QByteArray(8 * 1024, 'x'));
        // The queue took 2000 prefixes of 4 KiB, four times the whole budget.
        QVERIFY(view->pendingCount() < 2000 / 8);
        QVERIFY(comm->storedBytes() + view->keptBytes() <= comm->budget);
        QTRY_COMPARE(view->pendingCount(), 0);
        comm->logReceived("last");
        QVERIFY(comm->storedBytes() + view->keptBytes() <= comm->budget);
    }

    void shouldKeepNoMoreRowsOrQueuedEntriesThanTheLog()
    {
        comm->cap = 50;
        for (int i = 0; i < 120; ++i)
            comm->logReceived("msg " + QByteArray::number(i));
        QCOMPARE(view->pendingCount(), 50);
        QTRY_COMPARE(view->pendingCount(), 0);
        QCOMPARE(rows()->count(), 50);
        QVERIFY(row(0).endsWith(QStringLiteral("msg 70")));

        for (int i = 120; i < 150; ++i)
            comm->logReceived("msg " + QByteArray::number(i));
        QTRY_VERIFY(row(49).endsWith(QStringLiteral("msg 149")));
        QCOMPARE(rows()->count(), 50);
        QVERIFY(row(0).endsWith(QStringLiteral("msg 100")));
        // The store and counters are the log's own business.
        QCOMPARE(comm->entries().size(), 50);
        QCOMPARE(comm->rxBytes(), qint64(10 * 5 + 90 * 6 + 50 * 7));
    }

    void shouldCopySelectedOrAllRowsFromAMenuOnRowsOnly()
    {
        view->resize(500, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        comm->setShowTimestamp(false);
        comm->logSent("one");
        comm->logReceived("two");
        comm->logSystem(QStringLiteral("三"));
        QTRY_COMPARE(rows()->count(), 3);
        rows()->item(0)->setSelected(true);
        rows()->item(2)->setSelected(true);
        const QPoint onRow = rows()->visualItemRect(rows()->item(1)).center();
        QClipboard* clipboard = QGuiApplication::clipboard();

        QVERIFY(runContextMenu(onRow, QStringLiteral("复制")));
        QCOMPARE(clipboard->text(), QStringLiteral("[TX]  one\n[SYS]  三"));
        QVERIFY(runContextMenu(onRow, QStringLiteral("复制全部")));
        QCOMPARE(clipboard->text(), QStringLiteral("[TX]  one\n[RX]  two\n[SYS]  三"));

        const QRect last = rows()->visualItemRect(rows()->item(2));
        const QPoint below(last.center().x(), last.bottom() + 60);
        QVERIFY(rows()->viewport()->rect().contains(below));
        QVERIFY(!runContextMenu(below, QStringLiteral("复制")));
    }

    void shouldShowLongEntriesShortenedButCopyThemWhole()
    {
        view->resize(500, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        comm->setShowTimestamp(false);
        const QByteArray text = QByteArray(1 << 20, 'a') + "END";
        QByteArray binary(16 << 20, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 7);
        comm->logReceived(text);
        QTRY_COMPARE(rows()->count(), 1);
        comm->setHexDisplay(true);
        comm->logSent(binary);
        comm->logSystem(QString(600, u'x'));
        QTRY_COMPARE(rows()->count(), 3);
        const QString cut = QStringLiteral(" \u2026 (");
        QCOMPARE(row(0), QStringLiteral("[RX]  ") + QString(512, u'a') + cut +
                             QStringLiteral("1048579 bytes)"));
        const QString hex = comm->entries().at(1).hexText();
        QCOMPARE(row(1), QStringLiteral("[TX]  ") + hex.left(512) + cut +
                             QStringLiteral("16777216 bytes)"));
        QCOMPARE(row(2), QStringLiteral("[SYS]  ") + QString(512, u'x') + cut +
                             QStringLiteral("600 characters)"));

        // Copies take the whole entry, in the form its row shows.
        const QPoint onRow = rows()->visualItemRect(rows()->item(0)).center();
        QVERIFY(runContextMenu(onRow, QStringLiteral("复制全部")));
        QString expected = QStringLiteral("[RX]  ") + QString::fromLatin1(text) +
                           QStringLiteral("\n[TX]  ") + hex + QStringLiteral("\n[SYS]  ") +
                           QString(600, u'x');
        QVERIFY(QGuiApplication::clipboard()->text() == expected);
        rows()->item(1)->setSelected(true);
        QVERIFY(runContextMenu(onRow, QStringLiteral("复制")));
        QVERIFY(QGuiApplication::clipboard()->text() == QStringLiteral("[TX]  ") + hex);

        // Once the log no longer holds an entry, its row is all there is to copy.
        comm->cap = 2;
        comm->logSystem(QStringLiteral("newest"));
        QTRY_COMPARE(rows()->count(), 2);
        QVERIFY(runContextMenu(rows()->visualItemRect(rows()->item(0)).center(),
                               QStringLiteral("复制全部")));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("[SYS]  ") +
                                                           QString(600, u'x') +
                                                           QStringLiteral("\n[SYS]  newest"));
        comm->cap = 1;
        comm->logSystem(QStringLiteral("last"));
        QTRY_COMPARE(rows()->count(), 1);
        QVERIFY(runContextMenu(rows()->visualItemRect(rows()->item(0)).center(),
                               QStringLiteral("复制全部")));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("[SYS]  last"));
    }

    // The export writes the entries, line breaks and all (see the byte-for-byte test).
    void shouldKeepEveryRowOneLineHighWithALongRowPresent()
    {
        // The long row arrives last, so the list measures its rows by it.
        QVERIFY(showActiveWith({"a", "w", QByteArray(3000, 'w') + "END"}));
        view->setLineSpacing(3);
        const int line = QFontMetrics(rows()->font()).height() + 2 * (3 + 2);
        const int rowWidth = QFontMetrics(rows()->font()).horizontalAdvance(row(2)) + 4;
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>("findEdit"), QStringLiteral("w"));
        for (bool filter : {false, true}) {
            if (filter)
                child<QCheckBox>("findFilter")->click();
            QAbstractItemView* rowsView = shown();
            // One line and the padding; the style may round the line up a pixel.
            for (int i = 0; i < rowsView->model()->rowCount(); ++i) {
                const int height = rowsView->visualRect(rowsView->model()->index(i, 0)).height();
                QVERIFY2(height == line || height == line + 1, qPrintable(QString::number(height)));
            }
            // With the horizontal bar at its end, the long row's end and its mark show.
            QTRY_VERIFY(rowsView->horizontalScrollBar()->maximum() +
                            rowsView->viewport()->width() >=
                        rowWidth);
        }
    }

    void shouldShowCopyAndExportBinaryFramesThatAreNoTextAsHex()
    {
        QTemporaryDir dir;
        QVERIFY(showActiveWith({}));
        for (const QByteArray& bytes : {QByteArray("\x00\x01\xFF\x7F\x80", 5), QByteArray("ok")})
            comm->addEntry(stamped(
                LogEntry(LogEntry::RX, bytes, LogEntry::FrameKind::Binary, QString(), u"UTF-8"_s),
                1));
        comm->logReceived("hi");
        QTRY_COMPARE(rows()->count(), 3);
        QCOMPARE(row(0), QStringLiteral("[RX]  00 01 FF 7F 80"));
        QVERIFY(runContextMenu(rows()->visualItemRect(rows()->item(0)).center(), u"复制全部"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"[RX]  00 01 FF 7F 80\n[RX]  ok\n[RX]  hi"_s);
        answerPath = dir.filePath(QStringLiteral("bin.txt"));
        click(QStringLiteral("导出"));
        QVERIFY(readAll(answerPath)
                    .startsWith("14:03:07.001 [RX] 00 01 FF 7F 80\n"
                                "14:03:07.001 [RX] ok\n"));
        answerPath = dir.filePath(QStringLiteral("bin.csv"));
        click(QStringLiteral("导出"));
        QVERIFY(readAll(answerPath)
                    .startsWith("Timestamp,Direction,Data\n"
                                "\"14:03:07.001\",\"[RX]\",\"00 01 FF 7F 80\"\n"
                                "\"14:03:07.001\",\"[RX]\",\"ok\"\n"));
    }

    void shouldMarkLineBreaksInRowsButCopyThemAsTheyCame()
    {
        view->resize(500, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        comm->setShowTimestamp(false);
        comm->logReceived("test\nline2\r\nline3\r");
        comm->logSystem(QStringLiteral("a\n\nb"));
        QTRY_COMPARE(rows()->count(), 2);
        QCOMPARE(row(0), QStringLiteral("[RX]  test\u21B5line2\u21B5line3\u21B5"));
        QCOMPARE(row(1), QStringLiteral("[SYS]  a\u21B5\u21B5b"));
        QCOMPARE(comm->entries().at(0).text(), QStringLiteral("test\nline2\r\nline3\r"));

        QVERIFY(runContextMenu(rows()->visualItemRect(rows()->item(0)).center(),
                               QStringLiteral("复制全部")));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("[RX]  test\nline2\r\nline3\r\n[SYS]  a\n\nb"));
    }

    void shouldStepThroughMatchesByTextExpressionCaseAndDirection()
    {
        QVERIFY(showActiveWith(
            {"Alpha one", "alpha two", "beta", "x\nalpha", QByteArray(600, 'z') + "needle"}));
        comm->logSystem(QStringLiteral("ALPHA sys"));
        QTRY_COMPARE(rows()->count(), 6);
        auto* edit = child<QLineEdit>("findEdit");
        auto* status = child<QLabel>("findStatus");
        QVERIFY(!child<QWidget>("findBar")->isVisible());
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(child<QWidget>("findBar")->isVisible());
        QTRY_VERIFY(edit->hasFocus());

        // Enter steps forward, Shift+Enter back, both wrapping; the whole of
        // a row shown on one line is searched.
        QTest::keyClicks(edit, QStringLiteral("alpha"));
        QList<int> visited;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(edit, Qt::Key_Return);
            visited << rows()->currentRow();
        }
        QCOMPARE(visited, (QList<int>{0, 1, 3, 5, 0}));
        QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(rows()->currentRow(), 5);
        QCOMPARE(rows()->selectedItems(), QList<QListWidgetItem*>{rows()->item(5)});

        child<QCheckBox>("findCase")->click();
        child<QCheckBox>("findRx")->click();
        child<QPushButton>("findNext")->click();
        QCOMPARE(status->text(), QStringLiteral("无匹配"));
        QCOMPARE(rows()->currentRow(), 5);

        // Beyond the 512 characters a row shows.
        child<QCheckBox>("findRx")->click();
        edit->setText(QStringLiteral("needle"));
        child<QPushButton>("findPrevious")->click();
        QCOMPARE(rows()->currentRow(), 4);

        child<QCheckBox>("findRegex")->click();
        edit->setText(QStringLiteral("^a.*a (one|two)$"));
        child<QPushButton>("findNext")->click();
        QCOMPARE(rows()->currentRow(), 1);
        edit->setText(QStringLiteral("(unclosed"));
        child<QPushButton>("findNext")->click();
        QCOMPARE(status->text(), QStringLiteral("表达式无效"));
        QVERIFY(!status->toolTip().isEmpty());
        QVERIFY(edit->property("invalid").toBool());
        QCOMPARE(rows()->currentRow(), 1);
    }

    // A filtered full log keeps no more rows than the log, its filtered rows
    // leaving with them, and hides none of the list's rows.
    void shouldTrimToTheCapWhileFilteringAndAfterwards()
    {
        comm->cap = 100;
        QList<QByteArray> texts;
        for (int i = 0; i < 100; ++i)
            texts << QByteArray(i % 10 ? "miss " : "hit ") + QByteArray::number(i);
        QVERIFY(showActiveWith(texts));
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>("findEdit"), QStringLiteral("hit"));
        child<QCheckBox>("findFilter")->click();

        int most = 0;
        for (int i = 100; i < 110; ++i) {
            comm->logReceived("miss " + QByteArray::number(i));
            QTRY_COMPARE(view->pendingCount(), 0);
            most = std::max(most, rows()->count());
        }
        QCOMPARE(most, 100);
        QTRY_COMPARE(child<QLabel>("findStatus")->text(), QStringLiteral("9 / 100"));
        QCOMPARE(shownRows().first(), QStringLiteral("[RX]  hit 10"));
        for (int i = 0; i < rows()->count(); ++i)
            QVERIFY(!rows()->isRowHidden(i));

        child<QCheckBox>("findFilter")->click();
        QCOMPARE(rows()->count(), 100);
        QCOMPARE(row(0), QStringLiteral("[RX]  hit 10"));
    }

    void shouldInsertStagedRowsAtOnceAndDropRemovedRunsFromTheFilteredModel()
    {
        QListWidget list;
        for (int i = 0; i < 6; ++i)
            list.addItem(QStringLiteral("r%1").arg(i));
        list.item(3)->setForeground(Qt::red);
        FilteredLogModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        for (const int i : {0, 2, 3, 5})
            model.stage(list.item(i));
        QCOMPARE(model.rowCount(), 0);
        model.commit();
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.at(0).at(2).toInt(), 3);
        QCOMPARE(model.index(1).data().toString(), QStringLiteral("r2"));
        QCOMPARE(model.index(2).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));

        // Gone rows leave in runs; a staged one never arrives.
        model.stage(list.item(4));
        model.removeItems({list.item(0), list.item(2), list.item(4), list.item(5)});
        QCOMPARE(removed.size(), 2);
        model.commit();
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.item(0), list.item(3));
    }

    void shouldFilterRowsAsTheyComeAndCopyOnlyWhatShows()
    {
        comm->cap = 10;
        QVERIFY(showActiveWith({"hit 0", "miss 1", "miss 2", "hit 3", "miss 4", "miss 5"}));
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>("findEdit"), QStringLiteral("hit"));
        child<QCheckBox>("findFilter")->click();
        auto* status = child<QLabel>("findStatus");
        QCOMPARE(status->text(), QStringLiteral("2 / 6"));
        QCOMPARE(shownRows(), QStringList({u"[RX]  hit 0"_s, u"[RX]  hit 3"_s}));

        // Six more: the oldest two leave the log, one of them a match.
        for (const char* text : {"hit 6", "miss 7", "hit 8", "miss 9", "miss 10", "miss 11"})
            comm->logReceived(text);
        QTRY_COMPARE(status->text(), QStringLiteral("3 / 10"));
        QCOMPARE(shownRows(), QStringList({u"[RX]  hit 3"_s, u"[RX]  hit 6"_s, u"[RX]  hit 8"_s}));

        // A new word re-filters once typing pauses.
        QTest::keyClicks(child<QLineEdit>("findEdit"), QStringLiteral(" 8"));
        QTRY_COMPARE(status->text(), QStringLiteral("1 / 10"));

        // Ctrl+A selects the rows shown, Ctrl+C copies them.
        shown()->setFocus();
        QTest::keyClick(shown(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(shown()->selectionModel()->selectedIndexes().size(), 1);
        QTest::keyClick(shown(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("[RX]  hit 8"));

        QTest::keyClick(shown(), Qt::Key_Escape);
        QVERIFY(!child<QWidget>("findBar")->isVisible());
        QVERIFY(!child<QCheckBox>("findFilter")->isChecked());
        QCOMPARE(shownRows().size(), 10);
        QTest::keyClick(rows(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(rows(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text().count(QLatin1Char('\n')), 9);

        // Rows selected before the filter hid them are not copied.
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        child<QCheckBox>("findFilter")->click();
        QCOMPARE(status->text(), QStringLiteral("1 / 10"));
        QTest::keyClick(shown(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("[RX]  hit 8"));
    }

    void shouldShowTheSelectedEntryWholeWithHexDumpAndIndentedJson()
    {
        QVERIFY(showActiveWith({}));
        const QByteArray json =
            "{\"b\":[1, {}],\"a\":12345678901234567890,\"s\":\"x,{\\\"y\\\":1}\"}";
        comm->logFrame(LogEntry::RX, json, LogEntry::FrameKind::Text,
                       QStringLiteral("127.0.0.1:5000"));
        QByteArray binary;
        for (int b = 0; b < 18; ++b)
            binary.append(char(b * 15));
        comm->logFrame(LogEntry::TX, binary, LogEntry::FrameKind::Binary,
                       QStringLiteral("全部 (2)"));
        comm->logSystem(QStringLiteral("已连接"));
        QTRY_COMPARE(rows()->count(), 3);
        auto* pane = child<QWidget>("detailPane");
        auto* tabs = child<QTabWidget>("detailTabs");
        auto* hex = child<QTableView>("detailHex");
        const auto field = [this](const char* name) {
            return child<QLineEdit>(name)->text();
        };
        // A click on a row opens the pane only once "详情" has opened it.
        rows()->setCurrentRow(0);
        QVERIFY(!pane->isVisible());
        child<QPushButton>("detailToggle")->click();
        QVERIFY(pane->isVisible());
        const LogEntry entry = comm->entries().at(0);
        QCOMPARE(field("detailTime"),
                 entry.timestamp().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        QCOMPARE(field("detailDirection"), QStringLiteral("RX"));
        QCOMPARE(field("detailPeer"), QStringLiteral("127.0.0.1:5000"));
        QCOMPARE(field("detailFrame"), QStringLiteral("文本帧"));
        QCOMPARE(field("detailSize"), QStringLiteral("%1 字节").arg(json.size()));
        QCOMPARE(child<QPlainTextEdit>("detailText")->toPlainText(), QString::fromUtf8(json));
        // Key order, numbers and strings stay as they came.
        const QString indented = QStringLiteral(
            "{\n    \"b\": [\n        1,\n        {}\n    ],\n    \"a\": 12345678901234567890,\n"
            "    \"s\": \"x,{\\\"y\\\":1}\"\n}");
        QVERIFY(tabs->isTabVisible(2));
        QCOMPARE(child<QPlainTextEdit>("detailJson")->toPlainText(), indented);
        QCOMPARE(copiedFrom("detailJsonCopy"), indented);
        QCOMPARE(copiedFrom("detailTextCopy"), QString::fromUtf8(json));
        QVERIFY(copiedFrom("detailInfoCopy").contains(QStringLiteral("对端: 127.0.0.1:5000")));

        rows()->setCurrentRow(1);
        QCOMPARE(field("detailFrame"), QStringLiteral("二进制帧"));
        QVERIFY(!tabs->isTabVisible(2));
        QCOMPARE(hex->model()->rowCount(), 2);
        QCOMPARE(hex->model()->index(0, 0).data().toString(),
                 QStringLiteral("00000000  00 0F 1E 2D 3C 4B 5A 69  78 87 96 A5 B4 C3 D2 E1  "
                                "|...-<KZix.......|"));
        QCOMPARE(hex->model()->index(1, 0).data().toString(), QStringLiteral("00000010  F0 FF") +
                                                                  QString(45, QLatin1Char(' ')) +
                                                                  QStringLiteral("|..|"));
        QCOMPARE(copiedFrom("detailHexCopy"), HexDump::format(binary));

        rows()->setCurrentRow(2);
        QCOMPARE(field("detailFrame"), QStringLiteral("系统消息"));
        QCOMPARE(field("detailSize"), QStringLiteral("3 字符"));
        QVERIFY(!tabs->isTabVisible(1));

        // Every text of the bar and the pane has its English.
        LanguageManager::setEnglish(true);
        retranslateWidgetTree(view.get());
        QCOMPARE(field("detailFrame"), QStringLiteral("System message"));
        QStringList untranslated;
        for (QWidget* part : {child<QWidget>("findBar"), pane}) {
            QStringList texts;
            for (const QLabel* w : part->findChildren<QLabel*>())
                texts << w->text();
            for (const QAbstractButton* w : part->findChildren<QAbstractButton*>())
                texts << w->text();
            for (const QLineEdit* w : part->findChildren<QLineEdit*>())
                texts << w->placeholderText();
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
            for (const QString& t : std::as_const(texts)) {
                if (std::any_of(t.begin(), t.end(), [](QChar c) { return c.unicode() >= 0x4E00; }))
                    untranslated << t;
            }
        }
        QCOMPARE(untranslated, QStringList());
        LanguageManager::setEnglish(false);
        retranslateWidgetTree(view.get());
        QCOMPARE(child<QPushButton>("detailTextCopy")->text(), QStringLiteral("复制文本"));

        // A row whose entry the log dropped before the row went: its text is
        // all there is.
        comm->cap = 3;
        comm->logSystem(QStringLiteral("newest"));
        rows()->setCurrentRow(0);
        QVERIFY(child<QLabel>("detailGone")->isVisible());
        QCOMPARE(child<QPlainTextEdit>("detailText")->toPlainText(), row(0));
        QVERIFY(!tabs->isTabVisible(1) && !tabs->isTabVisible(2));
    }

    // Matches are marked in the data, never in the time stamp or tag, and
    // counted as rows come; the pane closes on an entry the filter hides.
    void shouldMarkAndCountMatchesWithTheFilterOffAndCloseTheDetailItHides()
    {
        QVERIFY(showActiveWith({"alpha beta alpha", "gamma", "ALPHA"}));
        QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
        auto* edit = child<QLineEdit>("findEdit");
        auto* status = child<QLabel>("findStatus");
        auto* painter = qobject_cast<LogRowDelegate*>(rows()->itemDelegate());
        const auto marks = [&](int i) {
            return painter->highlightedRanges(rows()->model()->index(i, 0));
        };
        using Ranges = QList<std::pair<qsizetype, qsizetype>>;
        QTest::keyClicks(edit, QStringLiteral("RX"));
        QTRY_COMPARE(status->text(), QStringLiteral("0 / 3"));
        QCOMPARE(marks(0), Ranges());

        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("alpha"));
        QTRY_COMPARE(status->text(), QStringLiteral("2 / 3"));
        QCOMPARE(marks(0), (Ranges{{6, 5}, {17, 5}}));
        QCOMPARE(marks(1), Ranges());
        QCOMPARE(marks(2), (Ranges{{6, 5}}));
        comm->logReceived("alpha 4");
        QTRY_COMPARE(status->text(), QStringLiteral("3 / 4"));

        child<QPushButton>("detailToggle")->click();
        rows()->setCurrentRow(1);
        auto* pane = child<QWidget>("detailPane");
        QVERIFY(pane->isVisible());
        child<QCheckBox>("findFilter")->click();
        QCOMPARE(status->text(), QStringLiteral("3 / 4"));
        QVERIFY(!pane->isVisible());
        QVERIFY(child<QPushButton>("detailToggle")->isChecked());

        child<QPushButton>("findClose")->click();
        QCOMPARE(marks(0), Ranges());
    }

    void shouldKeepTheDetailPanesButtonsWholeAtItsSmallestAndCloseItsToggle()
    {
        QFile sheet(QStringLiteral(":/styles/DarkTheme.qss"));
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
        QVERIFY(showActiveWith({"one", "two"}));
        child<QPushButton>("detailToggle")->click();
        rows()->setCurrentRow(0);
        auto* pane = child<QWidget>("detailPane");
        child<QSplitter>("logSplitter")->setSizes({10000, 0});
        QCoreApplication::processEvents();
        for (QPushButton* button : pane->findChildren<QPushButton*>()) {
            if (button->isVisible())
                QCOMPARE(button->visibleRegion().boundingRect().size(), button->size());
        }

        child<QPushButton>("detailClose")->click();
        QVERIFY(!child<QPushButton>("detailToggle")->isChecked());
        rows()->setCurrentRow(1);
        QVERIFY(!pane->isVisible());
    }

    // The data alone, whole, and a binary frame's bytes in a file; the row
    // queue keeps only the start of a large frame.
    void shouldCopyDataAndSaveABinaryFrameWholeFromTheRowMenu()
    {
        QVERIFY(showActiveWith({}));
        comm->setShowTimestamp(true);
        QByteArray binary(10000, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 7);
        comm->logFrame(LogEntry::TX, "one", LogEntry::FrameKind::Text, u"peer"_s);
        comm->logFrame(LogEntry::RX, binary, LogEntry::FrameKind::Binary, u"peer"_s);
        comm->logSystem(QStringLiteral("三"));
        QTRY_COMPARE(rows()->count(), 3);
        rows()->item(0)->setSelected(true);
        rows()->item(2)->setSelected(true);
        QVERIFY(runContextMenu(rows()->visualItemRect(rows()->item(0)).center(), u"复制数据"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("one\n三"));

        const auto menuFor = [this](int i) {
            return std::unique_ptr<QMenu>(
                view->createRowMenu(rows()->model()->index(i, 0), view.get()));
        };
        QVERIFY(!menuFor(0)->findChild<QAction*>(u"saveDataAction"_s));
        QVERIFY(!menuFor(2)->findChild<QAction*>(u"resendAction"_s)->isEnabled());
        QSignalSpy resend(view.get(), &LogViewWidget::resendRequested);
        menuFor(1)->findChild<QAction*>(u"resendAction"_s)->trigger();
        QCOMPARE(resend.at(0).at(0).value<LogEntry>().rawData(), binary);

        QTemporaryDir dir;
        answerPath = dir.filePath(u"frame.bin"_s);
        menuFor(1)->findChild<QAction*>(u"saveDataAction"_s)->trigger();
        QCOMPARE(dialogArgs.value(0), u"保存为文件…"_s);
        QVERIFY(readAll(answerPath) == binary);
        answerPath = dir.path();
        menuFor(1)->findChild<QAction*>(u"saveDataAction"_s)->trigger();
        QCOMPARE(warnings, QStringList(u"保存失败|无法写入文件: "_s + dir.path()));
        QCOMPARE(comm->entries().last().text(),
                 u"已保存 10000 字节: %1"_s.arg(dir.filePath(u"frame.bin"_s)));
    }

    void shouldShowANestedFrameAsItCameWhenIndentingWouldMultiplyIt_data()
    {
        QTest::addColumn<int>("kib");
        // Indented, 64 KiB made 131 million characters; 1 MiB needed gigabytes.
        QTest::newRow("64 KiB, on the GUI thread") << 64;
        QTest::newRow("1 MiB, on the worker") << 1024;
    }

    void shouldShowANestedFrameAsItCameWhenIndentingWouldMultiplyIt()
    {
        QFETCH(int, kib);
        QVERIFY(showActiveWith({}));
        const int depth = 1000;
        const QByteArray frame = QByteArray(depth, '[') +
                                 QByteArray("0,").repeated((kib * 1024 - 2 * depth) / 2 - 1) + "0" +
                                 QByteArray(depth, ']');
        comm->logReceived(frame);
        comm->logReceived("{\"a\":1}");
        QTRY_COMPARE(rows()->count(), 2);
        auto* tabs = child<QTabWidget>("detailTabs");
        auto* reason = child<QLabel>("detailJsonReason");
        child<QPushButton>("detailToggle")->setChecked(true);
        QElapsedTimer clock;
        clock.start();
        rows()->setCurrentRow(0);
        QTRY_VERIFY(tabs->isTabVisible(2));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(copiedFrom("detailJsonCopy") == QString::fromLatin1(frame));
        QVERIFY(!reason->isHidden());
        QCOMPARE(reason->text(), u"缩进后的文本过大，这里按原样显示。"_s);
        // A selection made while the worker runs keeps its own result.
        rows()->setCurrentRow(0);
        rows()->setCurrentRow(1);
        QTRY_COMPARE(child<QWidget>("detailPane")->findChild<QThreadPool*>()->activeThreadCount(),
                     0);
        QCoreApplication::processEvents();
        QVERIFY(reason->isHidden());
        QCOMPARE(copiedFrom("detailJsonCopy"), u"{\n    \"a\": 1\n}"_s);
    }

    void shouldOpenASixteenMebibyteEntryInPartsAndCopyItWhole()
    {
        QVERIFY(showActiveWith({}));
        const QByteArray big = QByteArray(16 << 20, 'a') + "\nEND";
        comm->logReceived(big);
        QTRY_COMPARE(rows()->count(), 1);
        child<QPushButton>("detailToggle")->setChecked(true);
        rows()->setCurrentRow(0);
        auto* text = child<QPlainTextEdit>("detailText");
        auto* showAll = child<QPushButton>("detailTextAll");
        // The first part at once, in lines short enough to lay out.
        QVERIFY(showAll->isVisible());
        QVERIFY(text->document()->characterCount() < 70 * 1024);
        QCOMPARE(text->document()->firstBlock().length(), 2001);
        QCOMPARE(child<QTableView>("detailHex")->model()->rowCount(), (big.size() + 15) / 16);
        QVERIFY(copiedFrom("detailTextCopy") == QString::fromLatin1(big));

        showAll->click();
        QTRY_VERIFY_WITH_TIMEOUT(!showAll->isVisible(), 60000);
        QCOMPARE(text->document()->lastBlock().text(), QStringLiteral("END"));
        // A selection copied joins the pieces of the long line again.
        text->selectAll();
        text->copy();
        QVERIFY(QGuiApplication::clipboard()->text() == QString::fromLatin1(big));

        // A large JSON text is indented on a worker; its tab follows.
        comm->logReceived("[" + QByteArray("1,").repeated(40000) + "2]");
        QTRY_COMPARE(rows()->count(), 2);
        rows()->setCurrentRow(1);
        QTRY_VERIFY(child<QTabWidget>("detailTabs")->isTabVisible(2));
        const QTextBlock first = child<QPlainTextEdit>("detailJson")->document()->firstBlock();
        QCOMPARE(first.text() + first.next().text(), QStringLiteral("[    1,"));
    }

    void shouldExportTextAndCsvByteForByte()
    {
        QTemporaryDir dir;
        comm->addEntry(
            stamped(LogEntry(LogEntry::TX, "say \"hi\", ok\nbye", QStringLiteral("UTF-8")), 5));
        comm->addEntry(stamped(LogEntry(LogEntry::RX, "a,b", QStringLiteral("UTF-8")), 215));
        comm->addEntry(stamped(LogEntry(QStringLiteral("已连接 \"x\"")), 999));
        // Time stamps are written whatever the view shows.
        comm->setShowTimestamp(false);

        const QString txt = dir.filePath(QStringLiteral("log.txt"));
        answerPath = txt;
        click(QStringLiteral("导出"));
        QCOMPARE(readAll(txt), QByteArray("14:03:07.005 [TX] say \"hi\", ok\nbye\n"
                                          "14:03:07.215 [RX] a,b\n"
                                          "14:03:07.999 [SYS] 已连接 \"x\"\n"));

        // The confirmation of the first export is the fourth entry.
        answerPath = dir.filePath(QStringLiteral("log.csv"));
        click(QStringLiteral("导出"));
        QCOMPARE(readAll(answerPath),
                 QByteArray("Timestamp,Direction,Data\n"
                            "\"14:03:07.005\",\"[TX]\",\"say \"\"hi\"\", ok\nbye\"\n"
                            "\"14:03:07.215\",\"[RX]\",\"a,b\"\n"
                            "\"14:03:07.999\",\"[SYS]\",\"已连接 \"\"x\"\"\"\n\"") +
                     comm->entries().at(3).timeString().toUtf8() +
                     "\",\"[SYS]\",\"日志已导出: " + txt.toUtf8() + "\"\n");

        // Hex display: data bytes in hex, system messages still words.
        comm->setHexDisplay(true);
        answerPath = dir.filePath(QStringLiteral("hex.log"));
        click(QStringLiteral("导出"));
        const QList<QByteArray> lines = readAll(answerPath).split('\n');
        QCOMPARE(lines.size(), 6);
        QCOMPARE(
            lines.mid(0, 3),
            (QList<QByteArray>{"14:03:07.005 [TX] 73 61 79 20 22 68 69 22 2C 20 6F 6B 0A 62 79 65",
                               "14:03:07.215 [RX] 61 2C 62", "14:03:07.999 [SYS] 已连接 \"x\""}));
        QCOMPARE(warnings, QStringList());
        QTRY_COMPARE(rows()->count(), 6);
        QCOMPARE(row(5), QStringLiteral("[SYS]  日志已导出: ") + answerPath);
    }

    void shouldExportACsvCellThatWouldStartAFormulaWithAnApostrophe()
    {
        const QList<QByteArray> payloads{"=HYPERLINK(\"http://x\")",
                                         "=cmd|' /C calc'!A0",
                                         "+1",
                                         "-1",
                                         "@SUM(A1)",
                                         "\t=1",
                                         "\r=1",
                                         "a=1",
                                         "'x"};
        for (const QByteArray& payload : payloads)
            comm->addEntry(stamped(LogEntry(LogEntry::RX, payload, QStringLiteral("UTF-8")), 1));
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("log.csv"));
        QVERIFY(comm->exportToFile(csv, false, true));
        QList<QByteArray> cells;
        for (const QByteArray& line : readAll(csv).split('\n').mid(1, payloads.size()))
            cells << line.mid(line.indexOf("[RX]") + 7).chopped(1);
        QCOMPARE(cells,
                 (QList<QByteArray>{"'=HYPERLINK(\"\"http://x\"\")", "'=cmd|' /C calc'!A0", "'+1",
                                    "'-1", "'@SUM(A1)", "'\t=1", "'\r=1", "a=1", "'x"}));
        // The plain text stays as it came.
        QVERIFY(comm->exportToFile(csv, false, false));
        QVERIFY(readAll(csv).startsWith("14:03:07.001 [RX] =HYPERLINK(\"http://x\")\n"));
    }

    void shouldReplaceAnEarlierExportInTheFormatOfItsEndingOrElseItsFilter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("csv");
        const char* text = "文本文件 (*.txt)";
        const char* csv = "CSV文件 (*.csv)";
        const auto row = [](const char* tag, const char* name, const char* filter,
                            const char* written, bool isCsv) {
            QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(filter)
                               << QString::fromUtf8(written) << isCsv;
        };
        row("csv ending, any case", "a.CSV", text, "a.CSV", true);
        row("txt ending beats the filter", "a.txt", csv, "a.txt", false);
        row("csv inside", "a.csv.txt", csv, "a.csv.txt", false);
        row("no ending, csv filter", "a", csv, "a.csv", true);
        row("no ending, text filter", "a", text, "a.txt", false);
        row("other ending, csv filter", "a.log", csv, "a.log", true);
        row("no filter reported", "a", "", "a", false);
    }

    void shouldReplaceAnEarlierExportInTheFormatOfItsEndingOrElseItsFilter()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(QString, written);
        QFETCH(bool, csv);
        QTemporaryDir dir;
        answerPath = dir.filePath(name);
        answerFilter = filter;
        comm->addEntry(stamped(LogEntry(LogEntry::TX, "a much longer first payload", {}), 9));
        click(QStringLiteral("导出"));
        comm->clearLog();
        comm->addEntry(stamped(LogEntry(LogEntry::RX, "v", {}), 1));
        click(QStringLiteral("导出"));
        QCOMPARE(readAll(dir.filePath(written)),
                 csv ? QByteArray("Timestamp,Direction,Data\n\"14:03:07.001\",\"[RX]\",\"v\"\n")
                     : QByteArray("14:03:07.001 [RX] v\n"));
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{written});
        QVERIFY(comm->entries().last().text().endsWith(dir.filePath(written)));
    }

    void shouldOfferTheDialogAndWarnWithoutConfirmationWhenExportFails()
    {
        QTemporaryDir dir;
        comm->logSent("payload");
        click(QStringLiteral("导出")); // cancelled
        QCOMPARE(dialogArgs.size(), 3);
        QCOMPARE(dialogArgs.at(0), QStringLiteral("导出日志"));
        QVERIFY(QDateTime::fromString(dialogArgs.at(1),
                                      QStringLiteral("'Communication_Log_'yyyyMMdd_HHmmss"))
                    .isValid());
        QCOMPARE(dialogArgs.at(2), QStringLiteral("文本文件 (*.txt);;CSV文件 (*.csv)"));
        QCOMPARE(warnings, QStringList());

        answerPath = dir.filePath(QStringLiteral("missing/dir/log.txt"));
        click(QStringLiteral("导出"));
        QCOMPARE(warnings, QStringList{QStringLiteral("导出失败|无法写入文件: ") + answerPath});

        // A FIFO without a reader blocked the window in open(); a device is
        // not a file either, and neither is replaced by one.
        const QString fifo = dir.filePath(QStringLiteral("pipe.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QStringList refused{fifo};
        if (QFileInfo::exists(QStringLiteral("/dev/full")))
            refused << QStringLiteral("/dev/full");
        for (const QString& path : std::as_const(refused)) {
            answerPath = path;
            click(QStringLiteral("导出"));
            QCOMPARE(warnings.last(), QStringLiteral("导出失败|无法写入文件: ") + path);
            QVERIFY(!comm->exportToFile(path, false, true));
            QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
        }
        QCOMPARE(warnings.size(), 1 + refused.size());
        QCOMPARE(comm->entries().size(), 1);
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
