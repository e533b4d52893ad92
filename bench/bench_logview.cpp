// Log view under a full log: how long the event loop is blocked while the
// view takes 100000 entries, while the log is exported and while the view is
// scrolled. Run from the build directory, e.g.
//   QT_QPA_PLATFORM=offscreen bench/bench_logview
#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

// Records the longest gap between ticks of a 5 ms timer: the longest time the
// event loop could not run.
class StallMonitor : public QObject
{
public:
    StallMonitor()
    {
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, this, &StallMonitor::tick);
    }
    void start()
    {
        worst = 0;
        clock.start();
        ticker.start();
    }
    qint64 stop()
    {
        ticker.stop();
        return std::max(worst, clock.elapsed());
    }

private:
    void tick() { worst = std::max(worst, clock.restart()); }
    QTimer ticker;
    QElapsedTimer clock;
    qint64 worst = 0;
};

void runUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start();
    loop.exec();
}

QByteArray payload(int i)
{
    return "{\"seq\":" + QByteArray::number(i) + ",\"temperature\":23.5,\"status\":\"ok\"}";
}

struct Figures
{
    qint64 fillMs = 0;
    qint64 fillStallMs = 0;
};

// Logs count entries in bursts of burst per event-loop turn and waits until
// the view shows them all.
Figures fill(CommunicationBase& comm, LogViewWidget& view, QListWidget* rows, int first, int count,
             int burst, int expectedRows)
{
    StallMonitor monitor;
    QElapsedTimer clock;
    clock.start();
    monitor.start();
    int next = first;
    QTimer producer;
    producer.setInterval(0);
    QObject::connect(&producer, &QTimer::timeout, &producer, [&] {
        for (int i = 0; i < burst && next < first + count; ++i, ++next) {
            if (next % 2)
                comm.logReceived(payload(next));
            else
                comm.logSent(payload(next));
        }
        if (next >= first + count)
            producer.stop();
    });
    producer.start();
    runUntil([&] {
        return next >= first + count && view.pendingCount() == 0 && rows->count() == expectedRows;
    });
    Figures f;
    f.fillStallMs = monitor.stop();
    f.fillMs = clock.elapsed();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;

    const int total = 100000;
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(1000, 700);
        view.show();
        auto* rows = view.findChild<QListWidget*>(QStringLiteral("logOutput"));

        const Figures f = fill(comm, view, rows, 0, total, 500, total);
        out << "fill " << total << " entries (bursts of 500): " << f.fillMs << " ms, longest stall "
            << f.fillStallMs << " ms\n";

        const Figures g = fill(comm, view, rows, total, 20000, 500, total);
        // The last row must be the newest entry once trimming has run.
        const bool trimmed = rows->count() == total &&
                             rows->item(total - 1)->text().contains(QStringLiteral("119999"));
        out << "20000 more past the limit (rows trimmed, " << (trimmed ? "ok" : "WRONG")
            << "): " << g.fillMs << " ms, longest stall " << g.fillStallMs << " ms\n";

        QElapsedTimer clock;
        clock.start();
        const bool textOk =
            comm.exportToFile(dir.filePath(QStringLiteral("log.txt")), false, false);
        const qint64 textMs = clock.restart();
        const bool csvOk = comm.exportToFile(dir.filePath(QStringLiteral("log.csv")), false, true);
        const qint64 csvMs = clock.restart();
        const bool hexOk = comm.exportToFile(dir.filePath(QStringLiteral("hex.csv")), true, true);
        const qint64 hexMs = clock.restart();
        out << "export text " << textMs << " ms" << (textOk ? "" : " FAILED") << ", csv " << csvMs
            << " ms" << (csvOk ? "" : " FAILED") << ", hex csv " << hexMs << " ms"
            << (hexOk ? "" : " FAILED") << "\n";

        QScrollBar* bar = rows->verticalScrollBar();
        qint64 worstScroll = 0;
        auto timedGrab = [&](const std::function<void()>& move) {
            QElapsedTimer t;
            t.start();
            move();
            const QPixmap shot = view.grab();
            app.processEvents();
            worstScroll = std::max(worstScroll, t.elapsed());
            return !shot.isNull();
        };
        timedGrab([&] { rows->scrollToTop(); });
        timedGrab([&] { rows->scrollToBottom(); });
        timedGrab([&] { bar->setValue(bar->maximum() / 2); });
        for (int i = 0; i < 20; ++i)
            timedGrab([&] { bar->triggerAction(QAbstractSlider::SliderPageStepSub); });
        timedGrab([&] { rows->scrollToItem(rows->item(total / 3)); });
        out << "scroll top/bottom/middle/page x20 with repaint: worst " << worstScroll << " ms\n";

        StallMonitor monitor;
        monitor.start();
        QElapsedTimer clearClock;
        clearClock.start();
        comm.clearLog();
        runUntil([] { return true; });
        out << "clear " << total << " rows: " << clearClock.elapsed() << " ms, longest stall "
            << monitor.stop() << " ms\n";
    }

    // Why the rows share one height: the same fill with the list measuring
    // every row, on a smaller log.
    const int small = 10000;
    qint64 uniformMs = 0;
    qint64 measuredMs = 0;
    for (const bool uniform : {true, false}) {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(1000, 700);
        view.show();
        auto* rows = view.findChild<QListWidget*>(QStringLiteral("logOutput"));
        rows->setUniformItemSizes(uniform);
        const Figures f = fill(comm, view, rows, 0, small, 500, small);
        out << "fill " << small << (uniform ? " uniform rows: " : " measured rows: ") << f.fillMs
            << " ms, longest stall " << f.fillStallMs << " ms\n";
        (uniform ? uniformMs : measuredMs) = f.fillMs;
    }
    out << "measured / uniform fill time: "
        << double(measuredMs) / double(std::max<qint64>(uniformMs, 1)) << "\n";
    return 0;
}
