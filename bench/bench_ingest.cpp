// Ingest under a flood: how many frames a second the window logs, counts and
// shows, as a ratio to a bare QWebSocket that only counts them, with the
// longest event-loop stall and the peak memory of each run; and how the
// program copes with hostile peers.
//
// Run without arguments (scripts/bench.sh does so) it starts floodserver and
// runs every measurement in a child process of its own, side by side:
//   bare    a QWebSocket counting frames and bytes (several runs, best kept)
//   window  the real window in client mode, driven through its own controls
//   rules   the same with the chart template "JSON 多字段" chosen
//   rules-cbor  the same rules with the flood's frames CBOR in binary frames
//           and the row decoder set to CBOR, so that the rules read them decoded
//   rss     the window taking 1,000,000 frames: memory after 200,000 and at the end
//   large   the window taking 8 text frames of 1 MiB (large-text), then, in a
//           fresh process, 2 binary frames of 16 MiB (large-bin): every byte
//           counted, the newest entries stored whole, rows kept short
//   accept  the window in server mode, 1000 clients (--clients) connecting at
//           once from another process: time until all are in its client list,
//           the longest stall, and the kernel's listen overflows meanwhile
//           (ListenOverflows of /proc/net/netstat, the whole machine's)
//   feed, picture  the notice banner against feedserver, whose feed (or only
//           picture) never ends: when the banner gives up, when the server
//           sees the connection closed, what it sent, and the memory it cost
//   find    the window's find bar over 100000 rows (no flood): the next match
//           from the top, and the filter switched on, printed as the rows
//           "find" and "filter"
//   filter-flood  the window taking 40000 text frames of 8 KiB while the find bar's
//           filter hides every row: peak memory, and the most entries queued
// Only with --only fdlimit: the window in server mode in a process that may
// open 200 descriptors, 400 clients: its CPU seconds, the clients listed,
// and whether it is still alive after 60 s (or how it ended).
// Options: --frames N, --timeout S (per run), --bare-runs N, --with-rss / --no-rss,
// --no-large, --clients N, --only RUN,RUN (e.g. --only accept). The flood runs
// end with the line
//   ingest: window/bare=R1 rules/bare=R2 stall_ms=S rss_mb=M
// and, with rules-cbor, "cbor: rules-cbor/rules=R".
#include "app/StartUp.h"
#include "banner/AdBanner.h"
#include "chart/ChartEngine.h"
#include "comm/CommunicationBase.h"
#include "comm/FindBar.h"
#include "comm/LogViewWidget.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint64 kRssFrames = 1000000;
constexpr qint64 kRssEarlyFrames = 200000;

struct LargeRun
{
    qint64 frames;
    qint64 frameBytes;
    bool binary;
};
constexpr LargeRun kLargeText = {8, qint64(1) << 20, false};
constexpr LargeRun kLargeBinary = {2, qint64(16) << 20, true};
// A shortened row: its prefix, the ellipsis, the size, time and direction.
constexpr int kMaxRowChars = 600;

// The banner's endless downloads: the longest a run is watched, and the memory
// growth at which it is stopped early.
constexpr qint64 kBannerLimitMs = 10000;
constexpr qint64 kBannerRunawayKb = 3 * 1024 * 1024;

// Running out of descriptors: clients against a window that may open this many.
// Past the log's 256 MiB budget, and each frame larger than a row's queued prefix.
constexpr qint64 kFilterFrames = 40000;
constexpr qint64 kFilterFrameBytes = 8192;
constexpr int kFdLimit = 200;
constexpr int kFdClients = 400;
constexpr qint64 kFdSeconds = 60;

struct Options
{
    QString mode;
    quint16 port = 0;
    qint64 frames = 200000;
    qint64 frameBytes = 0;
    qint64 cborFrameBytes = 0;
    int timeoutSeconds = 600;
    int bareRuns = 3;
    bool withRss = true;
    bool withLarge = true;
    int clients = 1000;
    QStringList only;
};

// VmHWM (peak) or VmRSS (current) of this process or another, in KiB.
qint64 statusKb(const char* key, qint64 pid = 0)
{
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid)
                         : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QUrl floodUrl(const Options& o, qint64 frames, bool cbor = false)
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/?frames=%2%3")
                    .arg(QString::number(o.port), QString::number(frames),
                         cbor ? QStringLiteral("&cbor=1") : QString()));
}

QUrl largeUrl(const Options& o, const LargeRun& run)
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/?frames=%2&size=%3&binary=%4")
                    .arg(QString::number(o.port), QString::number(run.frames),
                         QString::number(run.frameBytes),
                         run.binary ? QStringLiteral("1") : QStringLiteral("0")));
}

double msSince(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

void printResult(const QList<std::pair<const char*, QString>>& fields)
{
    QString line = QStringLiteral("RESULT");
    for (const auto& [key, value] : fields)
        line += QLatin1Char(' ') + QLatin1String(key) + QLatin1Char('=') + value;
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

// ------------------------------------------------------------------ bare

int runBare(const Options& o)
{
    QWebSocket socket;
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 frames = 0;
    qint64 units = 0;
    double doneMs = -1;
    QString failure;

    auto count = [&](qint64 size) {
        units += size;
        if (++frames == o.frames) {
            doneMs = msSince(clock);
            loop.quit();
        }
    };
    // Text is counted in characters, the same as bytes for the ASCII payload.
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop,
                     [&](const QString& message) { count(message.size()); });
    QObject::connect(&socket, &QWebSocket::binaryMessageReceived, &loop,
                     [&](const QByteArray& message) { count(message.size()); });
    QObject::connect(&socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error),
                     &loop, [&](QAbstractSocket::SocketError) {
                         failure = socket.errorString();
                         loop.quit();
                     });
    QTimer::singleShot(o.timeoutSeconds * 1000, &loop, &QEventLoop::quit);

    clock.start();
    socket.open(floodUrl(o, o.frames));
    loop.exec();
    const double elapsed = msSince(clock);
    socket.abort();

    const bool done = doneMs >= 0;
    printResult({{"mode", QStringLiteral("bare")},
                 {"frames", QString::number(o.frames)},
                 {"received", QString::number(frames)},
                 {"units", QString::number(units)},
                 {"counted_ms", ms(done ? doneMs : elapsed)},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"status", done ? QStringLiteral("ok")
                                 : (failure.isEmpty() ? QStringLiteral("timeout")
                                                      : QStringLiteral("error"))}});
    if (!failure.isEmpty())
        std::fprintf(stderr, "bare: %s\n", qPrintable(failure));
    return done ? 0 : 1;
}

// ---------------------------------------------------------------- window

// The connect button by its own object name; where it shares "accentButton"
// with the send button, the accent button in the group that holds `field`
// (the address field or the port).
QPushButton* findConnectButton(QWidget& window, QWidget* field)
{
    if (auto* named = window.findChild<QPushButton*>(QStringLiteral("connectButton")))
        return named;
    const auto accents = window.findChildren<QPushButton*>(QStringLiteral("accentButton"));
    for (QPushButton* button : accents) {
        if (button->text() == QStringLiteral("连接"))
            return button;
    }
    for (QWidget* w = field->parentWidget(); w; w = w->parentWidget()) {
        if (auto* group = qobject_cast<QGroupBox*>(w)) {
            const auto inGroup = group->findChildren<QPushButton*>(QStringLiteral("accentButton"));
            return inGroup.size() == 1 ? inGroup.first() : nullptr;
        }
    }
    return nullptr;
}

// Chooses the template the way a user does: enable the chart, pick the entry.
bool chooseChartTemplate(WebSocketWidget& window, const QString& name)
{
    auto* engine = window.findChild<ChartEngine*>(QStringLiteral("chartEngine"));
    if (!engine)
        return false;
    if (!engine->enableCheckBox()->isChecked())
        engine->enableCheckBox()->click();
    QComboBox* combo = engine->templateCombo();
    const int index = combo->findText(name);
    if (index < 0)
        return false;
    combo->setCurrentIndex(index);
    return !engine->rules().isEmpty();
}

struct Controls
{
    CommunicationBase* comm = nullptr;
    LogViewWidget* view = nullptr;
    QListWidget* rows = nullptr;
    QLineEdit* urlEdit = nullptr;
    QPushButton* connectButton = nullptr;
};

// Shows the window styled as the application does.
void showStyled(QWidget& window)
{
    QStandardPaths::setTestModeEnabled(true);
    StartUp::applyStyleSheet(StartUp::resourceStyleSheetPath(), StartUp::fallbackStyleSheetPath());
    window.show();
    QCoreApplication::processEvents();
}

// Shows the window and finds what a user uses.
bool prepareWindow(WebSocketWidget& window, Controls& c)
{
    showStyled(window);

    c.comm = window.findChild<CommunicationBase*>();
    c.view = window.findChild<LogViewWidget*>(QStringLiteral("logView"));
    c.rows = c.view ? c.view->findChild<QListWidget*>(QStringLiteral("logOutput")) : nullptr;
    c.urlEdit = window.findChild<QLineEdit*>(QStringLiteral("urlEdit"));
    c.connectButton = c.urlEdit ? findConnectButton(window, c.urlEdit) : nullptr;
    if (c.comm && c.view && c.rows && c.urlEdit && c.connectButton)
        return true;
    std::fprintf(stderr, "window: controls not found\n");
    return false;
}

// Runs `start` and the loop until `done` holds or `limitMs` passes, checking
// on every tick of a 5 ms timer; the longest gap between ticks is the longest
// time the event loop could not run. False on timeout.
bool watchUntil(QEventLoop& loop, QElapsedTimer& clock, QElapsedTimer& gap,
                const std::function<void()>& start, qint64 limitMs, qint64& worstGapMs,
                const std::function<bool()>& done)
{
    bool finished = false;
    QTimer ticker;
    ticker.setInterval(5);
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        worstGapMs = std::max(worstGapMs, gap.restart());
        if (done()) {
            finished = true;
            loop.quit();
        } else if (clock.elapsed() > limitMs) {
            loop.quit();
        }
    });
    clock.start();
    gap.start();
    ticker.start();
    start();
    loop.exec();
    ticker.stop();
    worstGapMs = std::max(worstGapMs, gap.elapsed());
    return finished;
}

int runWindow(const Options& o, bool withRules, bool rssRun, bool cbor = false)
{
    WebSocketWidget window;
    Controls controls;
    if (!prepareWindow(window, controls))
        return 1;
    CommunicationBase* comm = controls.comm;
    LogViewWidget* view = controls.view;
    QListWidget* rows = controls.rows;
    QLineEdit* urlEdit = controls.urlEdit;
    QPushButton* connectButton = controls.connectButton;
    if (withRules && !chooseChartTemplate(window, QStringLiteral("JSON 多字段"))) {
        std::fprintf(stderr, "window: chart template not found or gave no rules\n");
        return 1;
    }

    const qint64 frames = rssRun ? kRssFrames : o.frames;
    const qint64 expected = frames * o.frameBytes;
    urlEdit->setText(floodUrl(o, frames, cbor).toString());
    // Chosen for the address: the decoding is kept per address.
    if (cbor) {
        auto* decoder = window.findChild<QComboBox*>(QStringLiteral("rowDecoderCombo"));
        if (decoder)
            decoder->setCurrentText(QStringLiteral("CBOR"));
        if (!decoder || decoder->currentText() != QStringLiteral("CBOR")) {
            std::fprintf(stderr, "window: no row decoder CBOR to choose\n");
            return 1;
        }
    }

    qint64 entries = 0;
    QObject::connect(comm, &CommunicationBase::logEntryAdded, &window, [&] { ++entries; });
    QObject::connect(comm, &CommunicationBase::logCleared, &window, [&] { entries = 0; });

    QEventLoop loop;
    QElapsedTimer clock;
    double countedMs = -1;
    double shownMs = -1;
    qint64 rssEarlyKb = -1;
    qint64 rssCountedKb = -1;
    bool timedOut = false;

    QElapsedTimer gap;
    qint64 worstGapMs = 0;
    const qint64 limitMs = qint64(o.timeoutSeconds) * 1000;

    auto report = [&]() -> int {
        const double elapsed = msSince(clock);
        const qint64 stored = comm->entries().size();
        const qint64 rx = comm->rxBytes();
        const QString lastSeq = QString::number(1000000 + (frames - 1) % 9000000);
        const bool lastRowIsNewest =
            rows->count() > 0 && rows->item(rows->count() - 1)->text().contains(lastSeq);
        QString status = QStringLiteral("ok");
        if (timedOut)
            status = QStringLiteral("timeout");
        else if (rx != expected)
            status = QStringLiteral("rx_mismatch");

        printResult(
            {{"mode", rssRun      ? QStringLiteral("rss")
                      : cbor      ? QStringLiteral("rules-cbor")
                      : withRules ? QStringLiteral("rules")
                                  : QStringLiteral("window")},
             {"frames", QString::number(frames)},
             {"received", QString::number(o.frameBytes > 0 ? rx / o.frameBytes : 0)},
             {"rx_bytes", QString::number(rx)},
             {"expected_bytes", QString::number(expected)},
             {"counted_ms", ms(countedMs >= 0 ? countedMs : elapsed)},
             {"shown_ms", ms(shownMs >= 0 ? shownMs : elapsed)},
             {"stall_ms", QString::number(worstGapMs)},
             {"entries", QString::number(entries)},
             {"stored", QString::number(stored)},
             {"rows", QString::number(rows->count())},
             {"last_row_newest", lastRowIsNewest ? QStringLiteral("yes") : QStringLiteral("no")},
             {"rss_early_kb", QString::number(rssEarlyKb)},
             {"rss_counted_kb", QString::number(rssCountedKb)},
             {"rss_end_kb", QString::number(statusKb("VmRSS"))},
             {"hwm_kb", QString::number(statusKb("VmHWM"))},
             {"status", status}});
        return status == QStringLiteral("ok") ? 0 : 1;
    };

    // Called per frame, also while one event hands over a whole read buffer
    // and the loop cannot run: a run past its limit ends here, with the
    // figures reached so far.
    auto checkCounted = [&] {
        const qint64 rx = comm->rxBytes();
        if (rssRun && rssEarlyKb < 0 && rx >= kRssEarlyFrames * o.frameBytes)
            rssEarlyKb = statusKb("VmRSS");
        if (countedMs < 0 && rx >= expected) {
            countedMs = msSince(clock);
            rssCountedKb = statusKb("VmRSS");
        }
        if (countedMs < 0 && clock.elapsed() > limitMs) {
            worstGapMs = std::max(worstGapMs, gap.elapsed());
            timedOut = true;
            report();
            std::_Exit(1);
        }
    };
    QObject::connect(comm, &CommunicationBase::countersUpdated, &loop, checkCounted);

    const auto connect = [&] {
        connectButton->click();
    };
    const bool shown = watchUntil(loop, clock, gap, connect, limitMs, worstGapMs, [&] {
        checkCounted();
        return countedMs >= 0 && view->pendingCount() == 0 &&
               rows->count() == std::min<qint64>(entries, comm->maxEntries());
    });
    if (shown)
        shownMs = msSince(clock);
    else
        timedOut = true;
    return report();
}

// ----------------------------------------------------------------- large

int runLarge(const Options& o, const LargeRun& run)
{
    WebSocketWidget window;
    Controls c;
    if (!prepareWindow(window, c))
        return 1;
    const qint64 expected = run.frames * run.frameBytes;
    c.urlEdit->setText(largeUrl(o, run).toString());

    qint64 entries = 0;
    QObject::connect(c.comm, &CommunicationBase::logEntryAdded, &window, [&] { ++entries; });

    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    qint64 worstGapMs = 0;
    double countedMs = -1;
    double shownMs = -1;
    bool timedOut = false;
    const qint64 limitMs = qint64(o.timeoutSeconds) * 1000;

    QObject::connect(c.comm, &CommunicationBase::countersUpdated, &loop, [&] {
        if (countedMs < 0 && c.comm->rxBytes() >= expected)
            countedMs = msSince(clock);
    });
    const auto connect = [&] {
        c.connectButton->click();
    };
    const bool shown = watchUntil(loop, clock, gap, connect, limitMs, worstGapMs, [&] {
        return countedMs >= 0 && c.view->pendingCount() == 0 && c.rows->count() == entries;
    });
    if (shown)
        shownMs = msSince(clock);
    else
        timedOut = true;
    const double elapsed = msSince(clock);

    // The store may drop the oldest large entries to stay in its memory
    // budget, but what it keeps must be whole, and the newest always kept.
    const QList<LogEntry> stored = c.comm->entries();
    qint64 received = 0;
    qint64 kept = 0;
    qint64 cut = 0;
    // What the log counts against its budget: an entry keeps its bytes, and
    // forms its text and hexadecimal text only when asked for.
    const qint64 storeBytes = c.comm->storedBytes();
    for (const LogEntry& entry : stored) {
        if (entry.direction() != LogEntry::RX)
            continue;
        ++received;
        if (entry.rawData().size() == run.frameBytes)
            ++kept;
        else
            ++cut;
    }
    const bool newestWhole = [&] {
        for (auto it = stored.crbegin(); it != stored.crend(); ++it) {
            if (it->direction() == LogEntry::RX)
                return it->rawData().size() == run.frameBytes;
        }
        return false;
    }();
    qsizetype longestRow = 0;
    for (int i = 0; i < c.rows->count(); ++i)
        longestRow = std::max(longestRow, c.rows->item(i)->text().size());

    const qint64 rx = c.comm->rxBytes();
    QString status = QStringLiteral("ok");
    if (timedOut)
        status = QStringLiteral("timeout");
    else if (rx != expected)
        status = QStringLiteral("rx_mismatch");
    else if (!newestWhole || cut > 0)
        status = QStringLiteral("not_stored_whole");
    else if (longestRow > kMaxRowChars)
        status = QStringLiteral("row_too_long");

    printResult({{"mode", run.binary ? QStringLiteral("large-bin") : QStringLiteral("large-text")},
                 {"frames", QString::number(run.frames)},
                 {"frame_bytes", QString::number(run.frameBytes)},
                 {"received", QString::number(rx / run.frameBytes)},
                 {"rx_bytes", QString::number(rx)},
                 {"expected_bytes", QString::number(expected)},
                 {"counted_ms", ms(countedMs >= 0 ? countedMs : elapsed)},
                 {"shown_ms", ms(shownMs >= 0 ? shownMs : elapsed)},
                 {"stall_ms", QString::number(worstGapMs)},
                 {"stored", QString::number(stored.size())},
                 {"stored_rx", QString::number(received)},
                 {"stored_whole", QString::number(kept)},
                 {"stored_mb", QString::number(double(storeBytes) / (1 << 20), 'f', 1)},
                 {"newest_whole", newestWhole ? QStringLiteral("yes") : QStringLiteral("no")},
                 {"rows", QString::number(c.rows->count())},
                 {"longest_row", QString::number(longestRow)},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"status", status}});
    return status == QStringLiteral("ok") ? 0 : 1;
}

// ---------------------------------------------------------------- banner

// The first line of `process` whose first word is `word`, split into words;
// earlier lines go to `seen`. Empty when none came within `limitMs`.
QList<QByteArray> waitForLine(QProcess& process, const QByteArray& word, int limitMs,
                              QByteArray* seen = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            const QList<QByteArray> words = line.split(' ');
            if (words.value(0) == word)
                return words;
            if (seen)
                *seen += line + '\n';
        }
        if (!process.waitForReadyRead(100) && process.state() != QProcess::Running)
            break;
    }
    return {};
}

// The banner against a server whose feed (or, with `picture`, whose only
// picture) never ends: when the banner gives up, when the server sees its
// connection closed, how much it could send, and the memory it cost.
int runBanner(bool picture)
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(SOCKWISE_FEEDSERVER), QStringList());
    const quint16 port = quint16(waitForLine(server, "PORT", 10000).value(1).toUInt());
    if (port == 0) {
        std::fprintf(stderr, "banner: feedserver gave no port\n");
        return 1;
    }
    const QUrl base(
        QStringLiteral("http://127.0.0.1:%1%2")
            .arg(QString::number(port), picture ? QStringLiteral("/picture") : QString()));

    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    qint64 worstGapMs = 0;
    double gaveUpMs = -1;
    double closedMs = -1;
    qint64 sentBytes = 0;
    int finished = 0;
    bool runaway = false;
    QObject::connect(&server, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (server.canReadLine()) {
            const QList<QByteArray> words = server.readLine().trimmed().split(' ');
            if (words.value(0) == "SENT" || words.value(0) == "CLOSED")
                sentBytes = std::max(sentBytes, words.value(1).toLongLong());
            if (words.value(0) == "CLOSED" && closedMs < 0)
                closedMs = msSince(clock);
        }
    });

    const qint64 rssStartKb = statusKb("VmRSS");
    std::unique_ptr<AdBanner> banner;
    const auto start = [&] {
        banner = std::make_unique<AdBanner>(QStringLiteral("sockwise"), nullptr, base);
        QObject::connect(banner->networkManager(), &QNetworkAccessManager::finished, &loop,
                         [&] { ++finished; });
    };
    // Watched until a second after both ends gave up; a run whose memory
    // runs away is stopped early.
    watchUntil(loop, clock, gap, start, kBannerLimitMs, worstGapMs, [&] {
        const bool gaveUp = picture ? finished >= 2 : !banner->notices().isEmpty();
        if (gaveUp && gaveUpMs < 0)
            gaveUpMs = msSince(clock);
        runaway = statusKb("VmRSS") - rssStartKb > kBannerRunawayKb;
        return runaway || (gaveUpMs >= 0 && closedMs >= 0 &&
                           msSince(clock) > std::max(gaveUpMs, closedMs) + 1000);
    });
    const qint64 rssEndKb = statusKb("VmRSS");
    banner.reset();
    server.kill();
    server.waitForFinished();

    QString status = QStringLiteral("ok");
    if (runaway)
        status = QStringLiteral("runaway");
    else if (gaveUpMs < 0)
        status = QStringLiteral("no_give_up");
    else if (closedMs < 0)
        status = QStringLiteral("not_closed");
    printResult({{"mode", picture ? QStringLiteral("picture") : QStringLiteral("feed")},
                 {"gave_up_ms", ms(gaveUpMs)},
                 {"closed_ms", ms(closedMs)},
                 {"run_ms", ms(msSince(clock))},
                 {"sent_bytes", QString::number(sentBytes)},
                 {"rss_start_kb", QString::number(rssStartKb)},
                 {"rss_end_kb", QString::number(rssEndKb)},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"stall_ms", QString::number(worstGapMs)},
                 {"status", status}});
    return status == QStringLiteral("ok") ? 0 : 1;
}

// ---------------------------------------------------------------- server

qint64 monotonicMs()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference(); // the same clock in every process
}

// Whether anything on this machine listens on the TCP port.
bool listensOn(quint16 port)
{
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields.at(1).endsWith(local) && fields.at(3) == "0A")
                return true;
        }
    }
    return false;
}

// The window in server mode, set up through its controls: prints
// "LISTENING <port>", then "LISTED <rows> <monotonic ms>" as its client list
// grows (at most every 100 ms, and when it holds --clients rows), then its
// RESULT once all are listed or its time is up.
int runServerWindow(const Options& o)
{
    WebSocketWidget window;
    showStyled(window);
    auto* serverRadio = window.findChild<QAbstractButton*>(QStringLiteral("serverRadio"));
    auto* portSpin = window.findChild<QSpinBox*>(QStringLiteral("portSpin"));
    auto* clientList = window.findChild<QListWidget*>(QStringLiteral("clientList"));
    QPushButton* connectButton = portSpin ? findConnectButton(window, portSpin) : nullptr;
    if (!serverRadio || !portSpin || !clientList || !connectButton) {
        std::fprintf(stderr, "server: controls not found\n");
        return 1;
    }
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any))
        return 1;
    const quint16 port = probe.serverPort();
    probe.close();
    serverRadio->click();
    portSpin->setValue(port);
    connectButton->click();
    QCoreApplication::processEvents();
    if (!listensOn(port)) {
        std::fprintf(stderr, "server: the window does not listen on %u\n", unsigned(port));
        return 1;
    }
    std::printf("LISTENING %u\n", unsigned(port));
    std::fflush(stdout);

    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    QElapsedTimer sinceReport;
    sinceReport.start();
    qint64 worstGapMs = 0;
    int reported = 0;
    qint64 allListedAt = -1;
    const bool all = watchUntil(
        loop, clock, gap, [] {}, qint64(o.timeoutSeconds) * 1000, worstGapMs,
        [&] {
            const int rows = clientList->count();
            const bool done = rows >= o.clients;
            if (rows != reported && (done || sinceReport.elapsed() >= 100)) {
                if (done)
                    allListedAt = monotonicMs();
                std::printf("LISTED %d %lld\n", rows, static_cast<long long>(monotonicMs()));
                std::fflush(stdout);
                reported = rows;
                sinceReport.restart();
            }
            return done;
        });
    printResult({{"mode", QStringLiteral("server")},
                 {"listed", QString::number(clientList->count())},
                 {"all_listed_at", QString::number(allListedAt)},
                 {"stall_ms", QString::number(worstGapMs)},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"status", all ? QStringLiteral("ok") : QStringLiteral("timeout")}});
    return all ? 0 : 1;
}

// --clients WebSocket clients opened at once on ws://127.0.0.1:--port/ws, each
// tried again up to three times when refused or dropped before it opened.
// Prints "START <monotonic ms>" just before, then "OPEN <n> RETRIES <r>" as
// they open; runs until killed.
int runClients(const Options& o)
{
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/ws").arg(QString::number(o.port)));
    int open = 0;
    int retries = 0;
    QObject owner;
    std::printf("START %lld\n", static_cast<long long>(monotonicMs()));
    std::fflush(stdout);
    for (int i = 0; i < o.clients; ++i) {
        auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, &owner);
        QObject::connect(socket, &QWebSocket::connected, &owner, [&open, socket] {
            ++open;
            socket->setProperty("opened", true);
        });
        QObject::connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error),
                         &owner, [&, socket](QAbstractSocket::SocketError) {
                             const int tries = socket->property("tries").toInt();
                             if (socket->property("opened").toBool() || tries >= 3)
                                 return;
                             socket->setProperty("tries", tries + 1);
                             ++retries;
                             // Not from within the socket's own error handling.
                             QTimer::singleShot(0, socket, [socket, &url] { socket->open(url); });
                         });
        socket->open(url);
    }
    QTimer report;
    int shown = -1;
    QObject::connect(&report, &QTimer::timeout, &owner, [&] {
        if (open != shown) {
            std::printf("OPEN %d RETRIES %d\n", open, retries);
            std::fflush(stdout);
            shown = open;
        }
    });
    report.start(100);
    return QCoreApplication::exec();
}

// ---------------------------------------------------------------- filter

int runFilterFlood(const Options& o)
{
    WebSocketWidget window;
    Controls c;
    if (!prepareWindow(window, c))
        return 1;
    auto* bar = window.findChild<FindBar*>(QStringLiteral("findBar"));
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("findEdit"));
    auto* filter = window.findChild<QCheckBox*>(QStringLiteral("findFilter"));
    if (!bar || !edit || !filter) {
        std::fprintf(stderr, "filter-flood: find bar controls not found\n");
        return 1;
    }
    bar->open();
    edit->setText(QStringLiteral("no frame holds this"));
    filter->setChecked(true);
    QCoreApplication::processEvents();

    const qint64 expected = kFilterFrames * kFilterFrameBytes;
    c.urlEdit->setText(QStringLiteral("ws://127.0.0.1:%1/?frames=%2&size=%3&binary=0")
                           .arg(QString::number(o.port), QString::number(kFilterFrames),
                                QString::number(kFilterFrameBytes)));
    int mostQueued = 0;
    QObject::connect(c.comm, &CommunicationBase::countersUpdated, &window,
                     [&] { mostQueued = std::max(mostQueued, c.view->pendingCount()); });
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    qint64 worstGapMs = 0;
    const bool done = watchUntil(
        loop, clock, gap, [&] { c.connectButton->click(); }, qint64(o.timeoutSeconds) * 1000,
        worstGapMs, [&] { return c.comm->rxBytes() >= expected && c.view->pendingCount() == 0; });
    printResult({{"mode", QStringLiteral("filter-flood")},
                 {"frames", QString::number(kFilterFrames)},
                 {"rx_bytes", QString::number(c.comm->rxBytes())},
                 {"counted_ms", ms(msSince(clock))},
                 {"stall_ms", QString::number(worstGapMs)},
                 {"most_queued", QString::number(mostQueued)},
                 {"stored", QString::number(c.comm->entryCount())},
                 {"stored_mb", QString::number(c.comm->storedBytes() / double(1 << 20), 'f', 1)},
                 {"rows", QString::number(c.rows->count())},
                 {"rss_end_kb", QString::number(statusKb("VmRSS"))},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"status", done ? QStringLiteral("ok") : QStringLiteral("timeout")}});
    return done ? 0 : 1;
}

// ------------------------------------------------------------------ find

constexpr int kFindRows = 100000;
constexpr int kFindArriving = 20000;
constexpr double kFindLimitMs = 300;

QByteArray findPayload(int i)
{
    return "{\"seq\":" + QByteArray::number(1000000 + i) +
           ",\"temperature\":23.5,\"status\":\"ok\"}";
}

// What a user waits for: the click, the events it leaves (the list lays out
// its rows on a zero timer) and the repaint.
double timedClick(QAbstractButton* button, QWidget* shown)
{
    QElapsedTimer clock;
    clock.start();
    button->click();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    shown->repaint();
    return msSince(clock);
}

// Logs `count` entries from `first` in bursts, each burst on its own
// event-loop turn, and waits until the view shows them all.
bool logForFind(Controls& c, int first, int count, int timeoutSeconds, qint64& worstGapMs)
{
    int next = first;
    QTimer producer;
    producer.setInterval(0);
    QObject::connect(&producer, &QTimer::timeout, &producer, [&] {
        for (int i = 0; i < 500 && next < first + count; ++i, ++next)
            c.comm->logReceived(findPayload(next));
        if (next >= first + count)
            producer.stop();
    });
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    return watchUntil(
        loop, clock, gap, [&] { producer.start(); }, qint64(timeoutSeconds) * 1000, worstGapMs,
        [&] {
            return next >= first + count && c.view->pendingCount() == 0 &&
                   c.comm->entryCount() == std::min(first + count, c.comm->maxEntries()) &&
                   c.rows->count() == c.comm->entryCount();
        });
}

int runFind(const Options& o)
{
    WebSocketWidget window;
    Controls c;
    if (!prepareWindow(window, c))
        return 1;
    auto* bar = window.findChild<FindBar*>(QStringLiteral("findBar"));
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("findEdit"));
    auto* regex = window.findChild<QCheckBox*>(QStringLiteral("findRegex"));
    auto* next = window.findChild<QPushButton*>(QStringLiteral("findNext"));
    auto* filter = window.findChild<QCheckBox*>(QStringLiteral("findFilter"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("findStatus"));
    auto* filtered = window.findChild<QListView*>(QStringLiteral("filteredLog"));
    if (!bar || !edit || !regex || !next || !filter || !status || !filtered) {
        std::fprintf(stderr, "find: find bar controls not found\n");
        return 1;
    }

    qint64 fillGapMs = 0;
    if (!logForFind(c, 0, kFindRows, o.timeoutSeconds, fillGapMs)) {
        std::fprintf(stderr, "find: the rows did not show\n");
        return 1;
    }
    // Entries arriving past the log's cap, rows trimmed at the top: the time
    // it takes, and the longest stall.
    int logged = kFindRows;
    const auto arrive = [&](double& took, qint64& stallMs) {
        QElapsedTimer clock;
        clock.start();
        const bool done = logForFind(c, logged, kFindArriving, o.timeoutSeconds, stallMs);
        took = msSince(clock);
        logged += kFindArriving;
        return done;
    };
    double plainArrivingMs = 0;
    qint64 plainArrivingGapMs = 0;
    const bool plainArrived = arrive(plainArrivingMs, plainArrivingGapMs);

    bar->open();
    QCoreApplication::processEvents();

    // The only match is ten rows from the end; the search starts at the top.
    const int target = kFindRows - 10;
    const int targetSeq = 1000000 + logged - kFindRows + target;
    const auto findFromTop = [&](const QString& pattern, bool isRegex) {
        regex->setChecked(isRegex);
        edit->setText(pattern);
        c.rows->setCurrentRow(0);
        const double took = timedClick(next, c.rows->viewport());
        return c.rows->currentRow() == target ? took : -1.0;
    };
    const double findMs = findFromTop(QStringLiteral("\"seq\":%1,").arg(targetSeq), false);
    const double findRegexMs =
        findFromTop(QStringLiteral("\"seq\":%1\\d,").arg(targetSeq / 10), true);

    // Seven-digit numbers ending in 00: one row in a hundred.
    regex->setChecked(false);
    edit->setText(QStringLiteral("00,\"temp"));
    const double filterMs = timedClick(filter, filtered->viewport());
    const QString filterCount = status->text();
    const int expectedShown = kFindRows / 100;
    const QString expectedCount = QStringLiteral("%1 / %2").arg(expectedShown).arg(kFindRows);
    const bool filterOk = filterCount == expectedCount;

    // The same with the filter on: each is matched as it comes, and rows
    // trimmed at the top leave the count.
    double arrivingMs = 0;
    qint64 arrivingGapMs = 0;
    const bool arrived = arrive(arrivingMs, arrivingGapMs);
    QCoreApplication::processEvents();
    // The filter's rows come and go with the log's; the list hides none.
    const int shownNow = filtered->model()->rowCount();
    bool noneHidden = true;
    for (int row = 0; row < c.rows->count() && noneHidden; ++row)
        noneHidden = !c.rows->isRowHidden(row);
    const QString arrivedCount = QStringLiteral("%1 / %2").arg(shownNow).arg(c.rows->count());
    const bool arrivingOk = plainArrived && arrived && status->text() == arrivedCount &&
                            shownNow == expectedShown && noneHidden;

    const double unfilterMs = timedClick(filter, c.rows->viewport());

    QString state = QStringLiteral("ok");
    if (findMs < 0 || findRegexMs < 0)
        state = QStringLiteral("find_missed");
    else if (!filterOk)
        state = QStringLiteral("filter_count_") + QString(filterCount).remove(QLatin1Char(' '));
    else if (!arrivingOk)
        state =
            QStringLiteral("arriving_count_") + QString(status->text()).remove(QLatin1Char(' '));
    printResult({{"mode", QStringLiteral("find")},
                 {"rows", QString::number(kFindRows)},
                 {"find_ms", ms(findMs)},
                 {"find_regex_ms", ms(findRegexMs)},
                 {"filter_ms", ms(filterMs)},
                 {"filter_shown", QString::number(expectedShown)},
                 {"unfilter_ms", ms(unfilterMs)},
                 {"arriving", QString::number(kFindArriving)},
                 {"arriving_ms", ms(arrivingMs)},
                 {"arriving_stall_ms", QString::number(arrivingGapMs)},
                 {"plain_arriving_ms", ms(plainArrivingMs)},
                 {"plain_arriving_stall_ms", QString::number(plainArrivingGapMs)},
                 {"hwm_kb", QString::number(statusKb("VmHWM"))},
                 {"status", state}});
    return state == QStringLiteral("ok") ? 0 : 1;
}

// ---------------------------------------------------------------- driver

using Fields = QMap<QString, QString>;

Fields parseResult(const QByteArray& output)
{
    Fields fields;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("RESULT "))
            continue;
        const QList<QByteArray> pairs = line.mid(7).split(' ');
        for (const QByteArray& pair : pairs) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                fields.insert(QString::fromUtf8(pair.left(eq)),
                              QString::fromUtf8(pair.mid(eq + 1)));
        }
    }
    return fields;
}

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// CPU seconds a process has used so far (user and system), -1 once it is gone.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the command name, which may hold blanks: state is the first,
    // user and system time the 12th and 13th.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

// The window in server mode in a child process of its own and `clients`
// clients opened at once by another: watched until the window has listed them
// all, or has ended, or `limitMs` passed. With `fdLimit` the window's process
// may open only that many descriptors (soft and hard limit, as "ulimit -n"
// sets them).
// TcpExt ListenOverflows of /proc/net/netstat: connections the kernel dropped
// because an accept queue was full, on the whole machine; -1 when unknown.
qint64 listenOverflows()
{
    QFile file(QStringLiteral("/proc/net/netstat"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines.at(i).startsWith("TcpExt:") || !lines.at(i + 1).startsWith("TcpExt:"))
            continue;
        const QList<QByteArray> names = lines.at(i).simplified().split(' ');
        const QList<QByteArray> values = lines.at(i + 1).simplified().split(' ');
        const qsizetype at = names.indexOf("ListenOverflows");
        if (at > 0 && at < values.size())
            return values.at(at).toLongLong();
    }
    return -1;
}

Fields runServerScenario(const QString& mode, int clients, int fdLimit, qint64 limitMs)
{
    Fields f;
    f.insert(QStringLiteral("mode"), mode);
    f.insert(QStringLiteral("frames"), QString::number(clients));
    f.insert(QStringLiteral("status"), QStringLiteral("failed"));
    const QString self = QCoreApplication::applicationFilePath();
    QProcess window;
    window.setProcessEnvironment(childEnvironment());
    if (fdLimit > 0) {
        window.setChildProcessModifier([fdLimit] {
            const rlimit limit{rlim_t(fdLimit), rlim_t(fdLimit)};
            setrlimit(RLIMIT_NOFILE, &limit);
        });
    }
    window.start(self, {QStringLiteral("--mode"), QStringLiteral("server"),
                        QStringLiteral("--clients"), QString::number(clients),
                        QStringLiteral("--timeout"), QString::number(limitMs / 1000 + 30)});
    const quint16 port = quint16(waitForLine(window, "LISTENING", 30000).value(1).toUInt());
    if (port == 0) {
        std::fprintf(stderr, "%s: the window did not listen:\n%s\n", qPrintable(mode),
                     window.readAllStandardError().right(4000).constData());
        window.kill();
        window.waitForFinished();
        return f;
    }
    const qint64 pid = window.processId();
    const qint64 overflowsBefore = listenOverflows();
    QProcess swarm;
    swarm.setProcessEnvironment(childEnvironment());
    swarm.start(self,
                {QStringLiteral("--mode"), QStringLiteral("clients"), QStringLiteral("--port"),
                 QString::number(port), QStringLiteral("--clients"), QString::number(clients)});

    QEventLoop loop;
    QElapsedTimer wall;
    qint64 startedAt = -1;
    qint64 allListedAt = -1;
    int listedMax = 0;
    int listedEnd = 0;
    qint64 lastChangeMs = 0;
    double cpu = 0;
    qint64 peakKb = 0;
    QByteArray errors;
    Fields result;
    QObject::connect(&window, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (window.canReadLine()) {
            const QByteArray line = window.readLine();
            const QList<QByteArray> words = line.trimmed().split(' ');
            if (words.value(0) == "LISTED") {
                listedEnd = words.value(1).toInt();
                listedMax = std::max(listedMax, listedEnd);
                lastChangeMs = wall.elapsed();
            } else if (words.value(0) == "RESULT") {
                result = parseResult(line);
            }
        }
    });
    QObject::connect(&window, &QProcess::readyReadStandardError, &loop, [&] {
        errors += window.readAllStandardError();
        errors = errors.right(8192);
    });
    QObject::connect(&swarm, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (swarm.canReadLine()) {
            const QList<QByteArray> words = swarm.readLine().trimmed().split(' ');
            if (words.value(0) == "START")
                startedAt = words.value(1).toLongLong();
            else if (words.value(0) == "OPEN")
                f.insert(QStringLiteral("retries"), QString::fromLatin1(words.value(3)));
        }
    });
    QObject::connect(&window, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &loop, [&] {
        cpu = std::max(cpu, cpuSeconds(pid));
        peakKb = std::max(peakKb, statusKb("VmHWM", pid));
        if (wall.elapsed() > limitMs)
            loop.quit();
    });
    wall.start();
    sampler.start(100);
    loop.exec();
    const double wallSeconds = double(wall.elapsed()) / 1000.0;
    const qint64 overflowsAfter = listenOverflows();
    f.insert(QStringLiteral("listen_overflows"),
             overflowsBefore < 0 || overflowsAfter < 0
                 ? QStringLiteral("?")
                 : QString::number(overflowsAfter - overflowsBefore));
    const bool alive = window.state() == QProcess::Running;
    cpu = std::max(cpu, cpuSeconds(pid));
    window.kill();
    window.waitForFinished();
    swarm.kill();
    swarm.waitForFinished();

    QString outcome;
    if (alive)
        outcome = QStringLiteral("alive");
    else if (window.exitStatus() == QProcess::CrashExit)
        outcome = QStringLiteral("died:signal_%1(%2)")
                      .arg(QString::number(window.exitCode()),
                           QString::fromLocal8Bit(strsignal(window.exitCode()))
                               .replace(QLatin1Char(' '), QLatin1Char('_')));
    else
        outcome = QStringLiteral("exited:%1").arg(window.exitCode());
    QByteArray lastError;
    for (const QByteArray& line : errors.split('\n')) {
        if (!line.trimmed().isEmpty())
            lastError = line.trimmed();
    }
    allListedAt = result.value(QStringLiteral("all_listed_at"), QStringLiteral("-1")).toLongLong();
    const bool allListed = allListedAt >= 0 && startedAt >= 0;
    f.insert(QStringLiteral("received"), QString::number(listedMax));
    f.insert(QStringLiteral("listed_end"), QString::number(listedEnd));
    f.insert(QStringLiteral("last_listed_s"),
             QString::number(double(lastChangeMs) / 1000.0, 'f', 2));
    f.insert(QStringLiteral("counted_ms"),
             QString::number(allListed ? allListedAt - startedAt : wall.elapsed()));
    f.insert(QStringLiteral("stall_ms"),
             result.value(QStringLiteral("stall_ms"), QStringLiteral("-")));
    f.insert(QStringLiteral("hwm_kb"),
             result.value(QStringLiteral("hwm_kb"), QString::number(peakKb)));
    f.insert(QStringLiteral("cpu_s"), QString::number(cpu, 'f', 2));
    f.insert(QStringLiteral("wall_s"), QString::number(wallSeconds, 'f', 2));
    f.insert(QStringLiteral("outcome"), outcome);
    f.insert(QStringLiteral("last_error"), QString::fromLocal8Bit(lastError));
    f.insert(QStringLiteral("status"),
             allListed ? QStringLiteral("ok") : (alive ? QStringLiteral("timeout") : outcome));
    return f;
}

Fields runChild(const Options& o, const QString& mode)
{
    QProcess child;
    child.setProcessEnvironment(childEnvironment());
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--mode"), mode, QStringLiteral("--port"), QString::number(o.port),
         QStringLiteral("--frames"), QString::number(o.frames), QStringLiteral("--frame-bytes"),
         QString::number(mode == QStringLiteral("rules-cbor") ? o.cborFrameBytes : o.frameBytes),
         QStringLiteral("--timeout"), QString::number(o.timeoutSeconds)});
    // The child keeps its own time limit; this one only catches a hang.
    if (!child.waitForFinished((o.timeoutSeconds + 120) * 1000)) {
        child.kill();
        child.waitForFinished();
    }
    Fields fields = parseResult(child.readAllStandardOutput());
    if (fields.value(QStringLiteral("status")) != QStringLiteral("ok")) {
        const QByteArray errors = child.readAllStandardError();
        std::fprintf(stderr, "%s run failed (exit %d):\n%s\n", qPrintable(mode), child.exitCode(),
                     errors.right(4000).constData());
        if (fields.isEmpty())
            fields.insert(QStringLiteral("status"), QStringLiteral("failed"));
    }
    fields.insert(QStringLiteral("mode"), mode);
    return fields;
}

double number(const Fields& f, const char* key, double fallback = -1)
{
    bool ok = false;
    const double v = f.value(QLatin1String(key)).toDouble(&ok);
    return ok ? v : fallback;
}

// Three decimals, or two significant digits for a ratio too small for them.
QByteArray ratioText(double ratio)
{
    return QByteArray::number(ratio, ratio >= 0.01 || ratio == 0 ? 'f' : 'g',
                              ratio >= 0.01 ? 3 : 2);
}

double framesPerSecond(const Fields& f)
{
    const double seconds = number(f, "counted_ms") / 1000.0;
    const double received = number(f, "received", 0);
    return seconds > 0 ? received / seconds : 0.0;
}

bool startFloodServer(QProcess& server, Options& o)
{
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(SOCKWISE_FLOODSERVER),
                 {QStringLiteral("--frames"), QString::number(o.frames)});
    if (!server.waitForStarted(10000))
        return false;
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        while (server.canReadLine()) {
            const QByteArray line = server.readLine().trimmed();
            seen += line + '\n';
            const QList<QByteArray> words = line.split(' ');
            if (words.value(0) == "FRAMES" && words.value(2) == "FRAME_BYTES")
                o.frameBytes = words.value(3).toLongLong();
            if (words.value(0) == "CBOR_FRAME_BYTES")
                o.cborFrameBytes = words.value(1).toLongLong();
            if (words.value(0) == "PORT") {
                o.port = quint16(words.value(1).toUInt());
                return o.port != 0 && o.frameBytes > 0;
            }
        }
        if (!server.waitForReadyRead(1000) && server.state() != QProcess::Running)
            break;
    }
    std::fprintf(stderr, "floodserver gave no port:\n%s", seen.constData());
    return false;
}

// The rows "find" and "filter": times in ms against their limit.
QStringList findRunLines(const Fields& f)
{
    const auto verdict = [](double value) {
        return value >= 0 && value <= kFindLimitMs ? QStringLiteral("ok") : QStringLiteral("OVER");
    };
    const double find = number(f, "find_ms");
    const double filter = number(f, "filter_ms");
    const QString rows = f.value(QStringLiteral("rows"), QStringLiteral("?"));
    const QString limit = QString::number(kFindLimitMs);
    return {QStringLiteral("find   %1 ms (%2, limit %3): next match from the top over %4 rows, "
                           "the only one near the end; as a regular expression %5 ms")
                .arg(ms(find), verdict(find), limit, rows, ms(number(f, "find_regex_ms"))),
            QStringLiteral("filter %1 ms (%2, limit %3): on over %4 rows for 1 % of them; off "
                           "%5 ms; %6 more entries arriving past the cap with it on: %7 ms, "
                           "longest stall %8 ms (with it off: %9 ms, longest stall %10 ms); %11")
                .arg(ms(filter), verdict(filter), limit, rows, ms(number(f, "unfilter_ms")),
                     f.value(QStringLiteral("arriving")), ms(number(f, "arriving_ms")),
                     f.value(QStringLiteral("arriving_stall_ms"), QStringLiteral("-")),
                     ms(number(f, "plain_arriving_ms")),
                     f.value(QStringLiteral("plain_arriving_stall_ms"), QStringLiteral("-")),
                     f.value(QStringLiteral("status")))};
}

// The one-line report of a run outside the table.
QString otherRunLine(const Fields& f)
{
    const QString mode = f.value(QStringLiteral("mode"));
    const auto mb = [&f](const char* key) {
        return QString::number(number(f, key, 0) / 1024.0, 'f', 1);
    };
    const auto seconds = [&f](const char* key) {
        const double value = number(f, key, -1);
        return value < 0 ? QStringLiteral("never") : QString::number(value / 1000.0, 'f', 3);
    };
    if (mode == QStringLiteral("filter-flood"))
        return QStringLiteral("filter-flood: frames=%1 of %2 bytes, every row hidden: peak_mb=%3 "
                              "end_mb=%4 most_queued=%5 stored=%6 store_mb=%7 rows=%8 "
                              "counted_s=%9 stall_ms=%10 status=%11")
            .arg(f.value(QStringLiteral("frames")), QString::number(kFilterFrameBytes),
                 mb("hwm_kb"), mb("rss_end_kb"), f.value(QStringLiteral("most_queued")),
                 f.value(QStringLiteral("stored")), f.value(QStringLiteral("stored_mb")),
                 f.value(QStringLiteral("rows")), seconds("counted_ms"),
                 f.value(QStringLiteral("stall_ms")), f.value(QStringLiteral("status")));
    if (mode == QStringLiteral("fdlimit"))
        return QStringLiteral("fdlimit: descriptor_limit=%1 clients=%2 listed_max=%3 listed_end=%4 "
                              "last_listed_s=%9 cpu_s=%5 wall_s=%6 outcome=%7 last_error=\"%8\"")
            .arg(QString::number(kFdLimit), f.value(QStringLiteral("frames")),
                 f.value(QStringLiteral("received")), f.value(QStringLiteral("listed_end")),
                 f.value(QStringLiteral("cpu_s")), f.value(QStringLiteral("wall_s")),
                 f.value(QStringLiteral("outcome")), f.value(QStringLiteral("last_error")),
                 f.value(QStringLiteral("last_listed_s")));
    return QStringLiteral("banner-%1: gave_up_s=%2 closed_s=%3 server_sent_mb=%4 start_mb=%5 "
                          "peak_mb=%6 grown_mb=%7 end_mb=%8 stall_ms=%9 run_s=%10 status=%11")
        .arg(mode, seconds("gave_up_ms"), seconds("closed_ms"),
             QString::number(number(f, "sent_bytes", 0) / double(1 << 20), 'f', 1),
             mb("rss_start_kb"), mb("hwm_kb"),
             QString::number((number(f, "hwm_kb", 0) - number(f, "rss_start_kb", 0)) / 1024.0, 'f',
                             1),
             mb("rss_end_kb"), f.value(QStringLiteral("stall_ms")), seconds("run_ms"),
             f.value(QStringLiteral("status")));
}

// Whether a run is part of this invocation: the ones --only names, else the
// default set.
bool asked(const Options& o, const char* mode, bool byDefault)
{
    return o.only.isEmpty() ? byDefault : o.only.contains(QLatin1String(mode));
}

int runDriver(Options o)
{
    // As the program does at start; the children inherit it. The accept run's
    // clients and the window each hold a descriptor per client.
    StartUp::raiseFileLimit();
    const bool window = asked(o, "window", true);
    const bool rules = asked(o, "rules", true);
    const bool rulesCbor = asked(o, "rules-cbor", true);
    const bool rss = asked(o, "rss", o.withRss);
    QStringList order;
    if (window || rules || rulesCbor || rss || asked(o, "bare", false)) {
        // Bare runs between the window runs, so that a machine getting busier
        // shows in the reference as well; the fastest is the reference.
        order << QStringLiteral("bare");
        if (window)
            order << QStringLiteral("window");
        if (o.bareRuns > 1)
            order << QStringLiteral("bare");
        if (rules)
            order << QStringLiteral("rules");
        if (rulesCbor)
            order << QStringLiteral("rules-cbor");
        for (int i = 2; i < o.bareRuns; ++i)
            order << QStringLiteral("bare");
        if (rss)
            order << QStringLiteral("rss");
    }
    for (const char* mode : {"large-text", "large-bin"}) {
        if (asked(o, mode, o.withLarge))
            order << QLatin1String(mode);
    }
    if (asked(o, "filter-flood", true))
        order << QStringLiteral("filter-flood");
    const bool flood = !order.isEmpty();
    for (const char* mode : {"accept", "feed", "picture"}) {
        if (asked(o, mode, true))
            order << QLatin1String(mode);
    }
    if (asked(o, "find", true))
        order << QStringLiteral("find");
    if (asked(o, "fdlimit", false))
        order << QStringLiteral("fdlimit");
    if (order.isEmpty()) {
        std::fprintf(stderr, "--only names no known run\n");
        return 2;
    }

    QProcess server;
    if (flood && !startFloodServer(server, o)) {
        std::fprintf(stderr, "cannot start %s\n", SOCKWISE_FLOODSERVER);
        return 1;
    }
    if (flood)
        std::printf("ingest: %lld text frames of %lld bytes per run from a loopback flood server, "
                    "Qt %s, %d cores\n",
                    static_cast<long long>(o.frames), static_cast<long long>(o.frameBytes),
                    qVersion(), QThread::idealThreadCount());
    else
        std::printf("sockwise benchmark, Qt %s, %d cores\n", qVersion(),
                    QThread::idealThreadCount());
    std::fflush(stdout);

    QList<Fields> runs;
    for (const QString& mode : std::as_const(order)) {
        if (mode == QStringLiteral("accept"))
            runs.append(runServerScenario(mode, o.clients, 0, qint64(o.timeoutSeconds) * 1000));
        else if (mode == QStringLiteral("fdlimit"))
            runs.append(runServerScenario(mode, kFdClients, kFdLimit, kFdSeconds * 1000));
        else
            runs.append(runChild(o, mode));
    }
    if (flood) {
        server.kill();
        server.waitForFinished();
    }

    double bareRate = 0;
    for (const Fields& f : std::as_const(runs)) {
        if (f.value(QStringLiteral("mode")) == QStringLiteral("bare") &&
            f.value(QStringLiteral("status")) == QStringLiteral("ok"))
            bareRate = std::max(bareRate, framesPerSecond(f));
    }

    const QStringList tableModes = {QStringLiteral("bare"),      QStringLiteral("window"),
                                    QStringLiteral("rules"),     QStringLiteral("rules-cbor"),
                                    QStringLiteral("rss"),       QStringLiteral("large-text"),
                                    QStringLiteral("large-bin"), QStringLiteral("accept")};
    bool table = false;
    for (const Fields& f : std::as_const(runs))
        table = table || tableModes.contains(f.value(QStringLiteral("mode")));
    if (table)
        std::printf("\n%-10s %9s %10s %9s %11s %8s %9s %8s  %s\n", "mode", "frames", "counted_s",
                    "shown_s", "frames/s", "/bare", "stall_ms", "peak_mb", "notes");
    double windowRatio = 0;
    double rulesRatio = 0;
    double rulesCborRate = -1;
    double rulesRate = -1;
    qint64 worstStall = 0;
    double worstRssMb = 0;
    double windowEndKb = -1;
    QString rssNote;
    QString largeStall[2] = {QStringLiteral("-"), QStringLiteral("-")};
    QStringList closing;
    for (const Fields& f : std::as_const(runs)) {
        const QString mode = f.value(QStringLiteral("mode"));
        if (mode == QStringLiteral("find")) {
            closing.append(findRunLines(f).join(QLatin1Char('\n')));
            continue;
        }
        if (!tableModes.contains(mode)) {
            closing.append(otherRunLine(f));
            continue;
        }
        const bool isBare = mode == QStringLiteral("bare");
        const bool isLarge = mode.startsWith(QStringLiteral("large-"));
        // Clients accepted: a count and a rate, no ratio to frames.
        const bool isAccept = mode == QStringLiteral("accept");
        const double rate = framesPerSecond(f);
        const double ratio = bareRate > 0 ? rate / bareRate : 0;
        const double peakMb = number(f, "hwm_kb", 0) / 1024.0;
        const QString shown = isBare || isAccept
                                  ? QStringLiteral("-")
                                  : QString::number(number(f, "shown_ms") / 1000.0, 'f', 3);
        const QString stall = isBare ? QStringLiteral("-") : f.value(QStringLiteral("stall_ms"));
        QString notes = f.value(QStringLiteral("status"));
        if (isLarge) {
            const double seconds = number(f, "counted_ms") / 1000.0;
            const double mb = number(f, "rx_bytes", 0) / double(1 << 20);
            notes += QStringLiteral(" frame_bytes=") % f.value(QStringLiteral("frame_bytes")) %
                     QStringLiteral(" MB/s=") %
                     QString::number(seconds > 0 ? mb / seconds : 0.0, 'f', 1) %
                     QStringLiteral(" stored_whole=") % f.value(QStringLiteral("stored_whole")) %
                     QLatin1Char('/') % f.value(QStringLiteral("frames")) %
                     QStringLiteral(" newest_whole=") % f.value(QStringLiteral("newest_whole")) %
                     QStringLiteral(" store_mb=") % f.value(QStringLiteral("stored_mb")) %
                     QStringLiteral(" longest_row=") % f.value(QStringLiteral("longest_row"));
            largeStall[mode == QStringLiteral("large-bin") ? 1 : 0] =
                f.value(QStringLiteral("stall_ms"), QStringLiteral("-"));
        } else if (isAccept) {
            notes += QStringLiteral(" listed=") % f.value(QStringLiteral("received")) %
                     QStringLiteral(" client_retries=") %
                     f.value(QStringLiteral("retries"), QStringLiteral("0"));
            closing.append(
                QStringLiteral("accept: clients=%1 listed=%2 all_listed_s=%3 "
                               "per_s=%4 stall_ms=%5 listen_overflows=%6")
                    .arg(f.value(QStringLiteral("frames")), f.value(QStringLiteral("received")),
                         QString::number(number(f, "counted_ms", 0) / 1000.0, 'f', 3),
                         QString::number(rate, 'f', 0), stall,
                         f.value(QStringLiteral("listen_overflows"), QStringLiteral("?"))));
        } else if (!isBare) {
            notes += QStringLiteral(" rows=") % f.value(QStringLiteral("rows")) %
                     QStringLiteral(" stored=") % f.value(QStringLiteral("stored")) %
                     QStringLiteral(" newest_last=") % f.value(QStringLiteral("last_row_newest"));
        } else if (rate == bareRate && rate > 0) {
            notes += QStringLiteral(" (reference)");
        }
        // A ratio of large frames to small ones would mean nothing.
        std::printf("%-10s %9lld %10.3f %9s %11.0f %8s %9s %8.1f  %s\n", qPrintable(mode),
                    static_cast<long long>(number(f, "frames", 0)),
                    number(f, "counted_ms", 0) / 1000.0, qPrintable(shown), rate,
                    isLarge || isAccept ? "-" : ratioText(ratio).constData(), qPrintable(stall),
                    peakMb, qPrintable(notes));
        if (mode == QStringLiteral("rules"))
            rulesRate = rate;
        if (mode == QStringLiteral("rules-cbor"))
            rulesCborRate = rate;
        if (mode == QStringLiteral("window") || mode == QStringLiteral("rules")) {
            if (mode == QStringLiteral("window"))
                windowRatio = ratio;
            else
                rulesRatio = ratio;
            worstStall = std::max(worstStall, qint64(number(f, "stall_ms", 0)));
            worstRssMb = std::max(worstRssMb, peakMb);
        }
        if (mode == QStringLiteral("rss"))
            rssNote = QString::asprintf(
                "rss: VmRSS %.1f MB after %lld frames, %.1f MB after %lld (%.2fx); once all "
                "rows are shown %.1f MB after %lld frames (window run), %.1f MB after %lld (%.2fx)",
                number(f, "rss_early_kb") / 1024.0, static_cast<long long>(kRssEarlyFrames),
                number(f, "rss_counted_kb") / 1024.0, static_cast<long long>(kRssFrames),
                number(f, "rss_counted_kb") / std::max(1.0, number(f, "rss_early_kb")),
                windowEndKb / 1024.0, static_cast<long long>(o.frames),
                number(f, "rss_end_kb") / 1024.0, static_cast<long long>(kRssFrames),
                number(f, "rss_end_kb") / std::max(1.0, windowEndKb));
        else if (mode == QStringLiteral("window"))
            windowEndKb = number(f, "rss_end_kb");
    }
    if (!rssNote.isEmpty())
        std::printf("\n%s\n", qPrintable(rssNote));
    if (asked(o, "large-text", o.withLarge) || asked(o, "large-bin", o.withLarge))
        std::printf("\nlarge: text_stall_ms=%s bin_stall_ms=%s\n", qPrintable(largeStall[0]),
                    qPrintable(largeStall[1]));
    if (window || rules)
        std::printf("\ningest: window/bare=%s rules/bare=%s stall_ms=%lld rss_mb=%.0f\n",
                    ratioText(windowRatio).constData(), ratioText(rulesRatio).constData(),
                    static_cast<long long>(worstStall), worstRssMb);
    if (rulesCborRate >= 0 && rulesRate > 0)
        std::printf("\ncbor: rules-cbor/rules=%s\n",
                    ratioText(rulesCborRate / rulesRate).constData());
    for (const QString& line : std::as_const(closing))
        std::printf("\n%s\n", qPrintable(line));
    std::fflush(stdout);
    return 0;
}

QString modeOf(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--mode") == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    }
    return QStringLiteral("driver");
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = modeOf(argc, argv);
    const bool gui = mode == QStringLiteral("window") || mode.startsWith(QStringLiteral("rules")) ||
                     mode == QStringLiteral("rss") || mode.startsWith(QStringLiteral("large-")) ||
                     mode == QStringLiteral("feed") || mode == QStringLiteral("picture") ||
                     mode == QStringLiteral("server") || mode == QStringLiteral("find") ||
                     mode == QStringLiteral("filter-flood");
    std::unique_ptr<QCoreApplication> app(gui ? new QApplication(argc, argv)
                                              : new QCoreApplication(argc, argv));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption modeOption(
        QStringLiteral("mode"),
        QStringLiteral("driver, or one run: bare, window, rules, rules-cbor, rss, large-text, "
                       "large-bin, "
                       "feed, picture, server, clients, find or filter-flood."),
        QStringLiteral("mode"), QStringLiteral("driver"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Flood port."),
                                        QStringLiteral("port"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Frames per run."), QStringLiteral("n"),
                                          QStringLiteral("200000"));
    const QCommandLineOption frameBytesOption(
        QStringLiteral("frame-bytes"), QStringLiteral("Bytes per frame."), QStringLiteral("n"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Seconds per run before giving up."),
                                           QStringLiteral("s"), QStringLiteral("600"));
    const QCommandLineOption bareRunsOption(QStringLiteral("bare-runs"),
                                            QStringLiteral("Bare runs (the fastest counts)."),
                                            QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption withRssOption(QStringLiteral("with-rss"),
                                           QStringLiteral("Also run the memory run (default)."));
    const QCommandLineOption noRssOption(QStringLiteral("no-rss"),
                                         QStringLiteral("Skip the 1,000,000-frame memory run."));
    const QCommandLineOption noLargeOption(
        QStringLiteral("no-large"), QStringLiteral("Skip the runs with 1 MiB and 16 MiB frames."));
    const QCommandLineOption clientsOption(
        QStringLiteral("clients"), QStringLiteral("Clients connecting at once in the accept run."),
        QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption onlyOption(
        QStringLiteral("only"),
        QStringLiteral("Only these runs, comma-separated: bare, window, rules, rules-cbor, rss, "
                       "large-text, "
                       "large-bin, accept, feed, picture, find, filter-flood, fdlimit (never run "
                       "by default)."),
        QStringLiteral("runs"));
    parser.addOptions({modeOption, portOption, framesOption, frameBytesOption, timeoutOption,
                       bareRunsOption, withRssOption, noRssOption, noLargeOption, clientsOption,
                       onlyOption});
    parser.process(*app);

    Options o;
    o.mode = parser.value(modeOption);
    o.port = quint16(parser.value(portOption).toUInt());
    o.frames = std::max<qint64>(1, parser.value(framesOption).toLongLong());
    o.frameBytes = parser.value(frameBytesOption).toLongLong();
    o.timeoutSeconds = std::max(1, parser.value(timeoutOption).toInt());
    o.bareRuns = std::max(1, parser.value(bareRunsOption).toInt());
    o.withRss = !parser.isSet(noRssOption);
    o.withLarge = !parser.isSet(noLargeOption);
    o.clients = std::max(1, parser.value(clientsOption).toInt());
    o.only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);

    if (o.mode == QStringLiteral("driver"))
        return runDriver(o);
    if (o.mode == QStringLiteral("feed") || o.mode == QStringLiteral("picture"))
        return runBanner(o.mode == QStringLiteral("picture"));
    if (o.mode == QStringLiteral("server"))
        return runServerWindow(o);
    if (o.mode == QStringLiteral("clients"))
        return runClients(o);
    if (o.mode == QStringLiteral("find"))
        return runFind(o);
    if (o.port == 0 || o.frameBytes <= 0) {
        std::fprintf(stderr, "--mode %s needs --port and --frame-bytes\n", qPrintable(o.mode));
        return 2;
    }
    if (o.mode == QStringLiteral("bare"))
        return runBare(o);
    if (o.mode == QStringLiteral("filter-flood"))
        return runFilterFlood(o);
    if (o.mode == QStringLiteral("large-text"))
        return runLarge(o, kLargeText);
    if (o.mode == QStringLiteral("large-bin"))
        return runLarge(o, kLargeBinary);
    if (gui)
        return runWindow(o, o.mode.startsWith(QStringLiteral("rules")),
                         o.mode == QStringLiteral("rss"), o.mode == QStringLiteral("rules-cbor"));
    std::fprintf(stderr, "unknown mode %s\n", qPrintable(o.mode));
    return 2;
}
