#include "comm/LogViewWidget.h"

#include "comm/BottomFollower.h"
#include "comm/CommunicationBase.h"
#include "comm/EntryDetailPane.h"
#include "comm/ExportDialogs.h"
#include "comm/FindBar.h"
#include "comm/LogFinder.h"
#include "comm/LogRowDelegate.h"
#include "comm/LogRowItem.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMutexLocker>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kFlushIntervalMs = 50;
constexpr int kRowsPerFlush = 200;
// Each flush re-lays out every row of the list (QListView does so on any
// insert), so a backlog drains in batches as large as a short time allows:
// the fewer flushes, the fewer relayouts of a long list.
constexpr int kBacklogFlushBudgetMs = 15;
// Between backlog batches the frames are read; each batch lays out the whole
// list again, and entries that wait longer may be trimmed before they cost a row.
constexpr int kBacklogGapMs = 25;
constexpr int kBottomTolerancePx = BottomFollower::tolerancePx;
constexpr int kCounterIntervalMs = 100;
// Enough of a frame's bytes for the longest row any encoding or the
// hexadecimal form makes of them.
constexpr qsizetype kQueuedBytes = 4096;

} // namespace

LogViewWidget::LogViewWidget(CommunicationBase* comm, QWidget* parent)
    : QWidget(parent)
    , comm(comm)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    rowStack = new QStackedWidget(this);
    logOutput = new QListWidget(rowStack);
    logOutput->setObjectName(QStringLiteral("logOutput"));
    // While the filter is on its rows show here instead: the list hides none.
    filteredLog = new QListView(rowStack);
    filteredLog->setObjectName(QStringLiteral("filteredLog"));
    for (QListView* rows : {static_cast<QListView*>(logOutput), filteredLog}) {
        rows->setFont(QFont(QStringLiteral("Consolas"), 11));
        rows->setAlternatingRowColors(false);
        rows->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Rows are one line each; wrapping would let one long row set the
        // height of every row.
        rows->setWordWrap(false);
        // Rows are painted as single lines, so they all share one height; without
        // this the list re-measures every row on each insert and a long log stalls.
        rows->setUniformItemSizes(true);
        rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        rows->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        rows->setFrameShape(QFrame::NoFrame);
        rows->setItemDelegate(new LogRowDelegate(rows));
        new BottomFollower(rows, [comm] { return !comm || comm->autoScroll(); });
        rows->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(rows, &QWidget::customContextMenuRequested, this,
                &LogViewWidget::handleContextMenu);
        rowStack->addWidget(rows);
    }

    findBar = new FindBar(this);
    findBar->hide();
    layout->addWidget(findBar, 0);
    splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("logSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(rowStack);
    layout->addWidget(splitter, 1);

    layout->addWidget(createCounterBar(), 0);

    applyItemStyle();

    counterTimer = new QTimer(this);
    counterTimer->setSingleShot(true);
    counterTimer->setInterval(kCounterIntervalMs);
    connect(counterTimer, &QTimer::timeout, this, &LogViewWidget::endCounterDeferral);

    flushTimer = new QTimer(this);
    flushTimer->setObjectName(QStringLiteral("flushTimer"));
    flushTimer->setSingleShot(true);
    flushTimer->setInterval(kFlushIntervalMs);
    connect(flushTimer, &QTimer::timeout, this, &LogViewWidget::flushPendingItems);

    if (comm) {
        connect(comm, &CommunicationBase::logEntryAdded, this, &LogViewWidget::onNewLogEntry);
        connect(comm, &CommunicationBase::countersUpdated, this, &LogViewWidget::onCountersUpdated);
        connect(comm, &CommunicationBase::logCleared, this, &LogViewWidget::discardRowsAndQueue);
    }

    setUpFindAndDetail();
}

QWidget* LogViewWidget::createCounterBar()
{
    auto* bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("statusBar"));
    barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(12, 4, 12, 4);
    barLayout->setSpacing(8);

    txLabel = new QLabel(QStringLiteral("TX: 0 bytes"), bar);
    txLabel->setObjectName(QStringLiteral("txLabel"));
    auto* separator = new QLabel(QStringLiteral("\u2502"), bar);
    separator->setStyleSheet(QStringLiteral("color: #2A3444; font-size: 16px; padding: 0 4px;"));
    rxLabel = new QLabel(QStringLiteral("RX: 0 bytes"), bar);
    rxLabel->setObjectName(QStringLiteral("rxLabel"));

    m_detailToggle = new QPushButton(QStringLiteral("详情"), bar);
    m_detailToggle->setObjectName(QStringLiteral("detailToggle"));
    m_detailToggle->setCheckable(true);
    m_detailToggle->setFixedHeight(24);
    resetButton = new QPushButton(QStringLiteral("重置计数"), bar);
    clearButton = new QPushButton(QStringLiteral("清除日志"), bar);
    exportButton = new QPushButton(QStringLiteral("导出"), bar);

    barLayout->addWidget(txLabel);
    barLayout->addWidget(separator);
    barLayout->addWidget(rxLabel);
    barLayout->addStretch();
    barLayout->addWidget(m_detailToggle);
    for (QPushButton* button : {resetButton, clearButton, exportButton}) {
        button->setObjectName(QStringLiteral("smallButton"));
        button->setFixedHeight(24);
        barLayout->addWidget(button);
    }

    if (comm)
        connect(resetButton, &QPushButton::clicked, comm, &CommunicationBase::resetCounters);
    connect(clearButton, &QPushButton::clicked, this, &LogViewWidget::clearAll);
    connect(exportButton, &QPushButton::clicked, this, &LogViewWidget::exportLog);
    return bar;
}

void LogViewWidget::addBarButton(QPushButton* button)
{
    button->setParent(barLayout->parentWidget());
    barLayout->addWidget(button);
}

QColor LogViewWidget::directionColor(LogEntry::Direction direction)
{
    switch (direction) {
    case LogEntry::TX:
        return QColor(255, 215, 0);
    case LogEntry::RX:
        return QColor(0, 255, 200);
    case LogEntry::SYS:
        return QColor(136, 146, 160);
    }
    return QColor(224, 224, 224);
}

int LogViewWidget::rowLimit() const
{
    const int cap = comm ? comm->maxEntries() : 100000;
    return std::max(cap, 1);
}

qint64 LogViewWidget::queueBudget() const
{
    // An eighth of the log's budget: many rows' worth, and the store keeps the rest.
    const qint64 total = comm ? comm->maxEntryBytes() : 0;
    return total > 0 ? std::max<qint64>(total / 8, 1) : 0;
}

qint64 LogViewWidget::keptBytes() const
{
    QMutexLocker lock(&pendingMutex);
    return pendingBytes + rowBytes;
}

void LogViewWidget::reportKeptBytes()
{
    if (comm)
        comm->setViewBytes(keptBytes());
}

namespace {

qint64 queuedCost(const PendingLogEntry& queued)
{
    return qint64(sizeof(PendingLogEntry)) + queued.entry.memoryCost();
}

// Whether a row shows a text frame's bytes unchanged: short enough that no
// character count can cut them (a character takes a byte at least), on one line.
bool rowSharesBytes(const LogEntry& entry)
{
    const QByteArray& bytes = entry.rawData();
    return entry.frameKind() == LogEntry::FrameKind::Text && entry.direction() != LogEntry::SYS &&
           bytes.size() <= LogViewWidget::maxRowChars && !bytes.contains('\n') &&
           !bytes.contains('\r');
}

} // namespace

int LogViewWidget::pendingCount() const
{
    QMutexLocker lock(&pendingMutex);
    return int(pending.size());
}

bool LogViewWidget::hasLineBreak(const QString& data)
{
    return data.contains(QLatin1Char('\n')) || data.contains(QLatin1Char('\r'));
}

QString LogViewWidget::rowData(const QString& data, qint64 byteCount, bool isMessage)
{
    const bool cut = data.size() > maxRowChars;
    return shownData(cut ? data.left(maxRowChars) : data, cut, byteCount, isMessage);
}

QString LogViewWidget::shownData(const QString& prefix, bool cut, qint64 size, bool isMessage)
{
    // Measuring and painting a row of megabytes would freeze the window.
    QString shown = prefix;
    // A row is one line: its line breaks would run the lines together.
    if (hasLineBreak(shown)) {
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\u21B5"));
        shown.replace(QLatin1Char('\r'), QChar(0x21B5));
        shown.replace(QLatin1Char('\n'), QChar(0x21B5));
    }
    if (!cut)
        return shown;
    return shown % QStringLiteral(" \u2026 (") % QString::number(size) %
           (isMessage ? QStringLiteral(" characters)") : QStringLiteral(" bytes)"));
}

void LogViewWidget::onNewLogEntry(LogEntry entry)
{
    // A send to every client names them all, not one peer.
    if (entry.direction() == LogEntry::RX ||
        (entry.direction() == LogEntry::TX && !entry.peer().startsWith(QStringLiteral("全部 ("))))
        findBar->addPeer(entry.peer());
    PendingEntry queued;
    queued.asHex = entry.readsAsHex();
    // A row needs no more than the start of a large frame; the log keeps the
    // rest, and the queue must not keep a frame the log has let go.
    if (entry.rawData().size() > kQueuedBytes) {
        queued.cutSize = entry.rawData().size();
        queued.entry = entry.withDataPrefix(kQueuedBytes);
    } else {
        queued.entry = std::move(entry);
    }
    {
        QMutexLocker lock(&pendingMutex);
        pendingBytes += queuedCost(queued);
        pending.append(std::move(queued));
        // A flood faster than the view drains must not queue without bound,
        // in count or in bytes; the oldest would be trimmed from the rows anyway.
        const qint64 budget = queueBudget();
        qsizetype excess = std::max<qsizetype>(0, pending.size() - rowLimit());
        qint64 dropped = 0;
        for (qsizetype i = 0; i < excess; ++i)
            dropped += queuedCost(pending.at(i));
        while (budget > 0 && excess + 1 < pending.size() && pendingBytes - dropped > budget)
            dropped += queuedCost(pending.at(excess++));
        if (excess > 0) {
            pending.remove(0, excess);
            pendingBytes -= dropped;
        }
    }
    reportKeptBytes();
    if (!flushScheduled) {
        flushScheduled = true;
        flushTimer->start();
    }
}

void LogViewWidget::onCountersUpdated()
{
    // A flood changes the counters per frame, and each label change lays out
    // the window again: a quarter of the cost of a frame. The first change
    // shows at once, later ones at most every 100 ms, the last one always.
    countersDirty = true;
    if (counterTimer->isActive())
        return;
    updateCounterLabels();
    counterTimer->start();
}

void LogViewWidget::endCounterDeferral()
{
    if (countersDirty) {
        updateCounterLabels();
        counterTimer->start();
    }
}

void LogViewWidget::updateCounterLabels()
{
    countersDirty = false;
    if (!comm)
        return;
    // The same in both languages; kept as the text a switch back puts up, so
    // that it never puts up an old count.
    const QString tx = QStringLiteral("TX: %1 bytes").arg(comm->txBytes());
    const QString rx = QStringLiteral("RX: %1 bytes").arg(comm->rxBytes());
    setRuntimeText(txLabel, tx, tx);
    setRuntimeText(rxLabel, rx, rx);
}

void LogViewWidget::flushBacklog()
{
    backlogFlush = true;
    flushPendingItems();
}

void LogViewWidget::flushPendingItems()
{
    flushScheduled = false;

    QMutexLocker lock(&pendingMutex);
    if (pending.isEmpty())
        return;

    const bool showTimestamp = comm ? comm->showTimestamp() : true;
    const bool hexDisplay = comm ? comm->hexDisplay() : false;
    const bool autoScroll = comm ? comm->autoScroll() : true;

    QAbstractItemView* shown = shownView();
    bool atBottom = true;
    if (autoScroll) {
        const QScrollBar* bar = shown->verticalScrollBar();
        if (bar && bar->maximum() > 0)
            atBottom = bar->value() >= bar->maximum() - kBottomTolerancePx;
    }

    logOutput->setUpdatesEnabled(false);
    const qsizetype limit =
        backlogFlush ? pending.size() : std::min<qsizetype>(pending.size(), kRowsPerFlush);
    backlogFlush = false;
    QElapsedTimer clock;
    clock.start();
    qsizetype batch = 0;
    for (; batch < limit; ++batch) {
        // Rows may cost more than usual (a search matches each one as it is
        // added): the budget holds from the start.
        if (batch > 0 && batch % 64 == 0 && clock.elapsed() >= kBacklogFlushBudgetMs)
            break;
        const qsizetype i = batch;
        const PendingEntry& queued = pending.at(i);
        const LogEntry& entry = queued.entry;
        // A frame cut short in the queue would not decode: it shows as before.
        if (m_rowDecoder.isOn() && queued.cutSize < 0 &&
            entry.frameKind() == LogEntry::FrameKind::Binary) {
            const DecodedFrame decoded = m_rowDecoder.decode(entry.rawData());
            if (decoded.ok) {
                const QString value = decoded.compact();
                const bool cut = value.size() > maxRowChars;
                const QString shown = shownData(cut ? value.left(maxRowChars) : value, cut,
                                                entry.rawData().size(), false);
                auto* item =
                    new LogRowItem(shown, entry, showTimestamp, true, hexDisplay || queued.asHex);
                rowBytes += item->memoryCost();
                pendingBytes -= queuedCost(queued);
                logOutput->addItem(item);
                continue;
            }
        }
        if (!hexDisplay && queued.cutSize < 0 && rowSharesBytes(entry)) {
            auto* item = new LogRowItem(entry.rawData(), entry, showTimestamp);
            rowBytes += item->memoryCost();
            pendingBytes -= queuedCost(queued);
            logOutput->addItem(item);
            continue;
        }
        const bool message = entry.direction() == LogEntry::SYS && entry.rawData().isEmpty();
        bool more = false;
        const bool hex = hexDisplay || queued.asHex;
        const QString data =
            hex ? entry.hexPrefix(maxRowChars, &more) : entry.textPrefix(maxRowChars, &more);
        const bool cut = more || queued.cutSize >= 0;
        const qint64 size = message
                                ? entry.text().size()
                                : (queued.cutSize >= 0 ? queued.cutSize : entry.rawData().size());
        const QString shown = shownData(data, cut, size, message);
        auto* item = new LogRowItem(shown, entry, showTimestamp, cut || hasLineBreak(data), hex);
        rowBytes += item->memoryCost();
        pendingBytes -= queuedCost(queued);
        logOutput->addItem(item);
    }
    pending.remove(0, batch);
    const bool more = !pending.isEmpty();
    lock.unlock();

    trimRows();
    finder->commitRows();
    reportKeptBytes();

    logOutput->setUpdatesEnabled(true);

    if (autoScroll && atBottom)
        shown->scrollToBottom();

    // A backlog drains batch by batch without waiting for the next entry,
    // letting the event loop run in between.
    if (more && !flushScheduled) {
        flushScheduled = true;
        QTimer::singleShot(kBacklogGapMs, this, &LogViewWidget::flushBacklog);
    }
}

void LogViewWidget::trimRows()
{
    // The view keeps no more rows than the log keeps entries.
    const int excessRows = logOutput->count() - rowLimit();
    if (excessRows <= 0)
        return;
    qint64 removed = 0;
    for (int i = 0; i < excessRows; ++i) {
        if (const LogRowItem* row = LogRowItem::from(logOutput->item(i)))
            removed += row->memoryCost();
    }
    logOutput->model()->removeRows(0, excessRows);
    QMutexLocker lock(&pendingMutex);
    rowBytes -= removed;
}

void LogViewWidget::setLineSpacing(int px)
{
    m_lineSpacing = std::clamp(px, -10, 10);
    applyItemStyle();
}

void LogViewWidget::setFontSize(int pt)
{
    m_fontSize = std::clamp(pt, 7, 18);
    applyItemStyle();
}

void LogViewWidget::applyItemStyle()
{
    const int padding = m_lineSpacing + 2;
    // The size goes on the list itself: the list's own sheet outranks the
    // application's (which gives the list a size of its own), and every row,
    // old or new, is drawn in the list's font. No row carries a font.
    logOutput->setStyleSheet(
        QStringLiteral("QListWidget#logOutput { font-size: %3pt; }"
                       "QListWidget::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
            .arg(padding)
            .arg(padding)
            .arg(m_fontSize));
    logOutput->setFont(QFont(QStringLiteral("Consolas"), m_fontSize));
    filteredLog->setStyleSheet(
        QStringLiteral("QListView#filteredLog { font-size: %3pt; }"
                       "QListView::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
            .arg(padding)
            .arg(padding)
            .arg(m_fontSize));
    filteredLog->setFont(QFont(QStringLiteral("Consolas"), m_fontSize));
}

void LogViewWidget::discardRowsAndQueue()
{
    {
        QMutexLocker lock(&pendingMutex);
        pending.clear();
        pendingBytes = 0;
    }
    logOutput->clear();
    {
        QMutexLocker lock(&pendingMutex);
        rowBytes = 0;
    }
    reportKeptBytes();
}

void LogViewWidget::clearAll()
{
    discardRowsAndQueue();
    if (comm)
        comm->clearLog();
}

QString LogViewWidget::rowToolTip(quint64 serial) const
{
    const LogEntry entry = comm ? comm->entryBySerial(serial) : LogEntry();
    if (entry.serial() == 0 || entry.direction() == LogEntry::SYS)
        return QString();
    const bool english = LanguageManager::isEnglish();
    QStringList lines;
    if (!entry.peer().isEmpty()) {
        const bool sent = entry.direction() == LogEntry::TX;
        lines.append(english ? (sent ? QStringLiteral("To: ") : QStringLiteral("From: "))
                             : (sent ? QStringLiteral("发往: ") : QStringLiteral("来自: ")));
        lines.last() += entry.peer();
    }
    QString frame;
    if (entry.frameKind() == LogEntry::FrameKind::Text)
        frame = english ? QStringLiteral("text frame, ") : QStringLiteral("文本帧，");
    else if (entry.frameKind() == LogEntry::FrameKind::Binary)
        frame = english ? QStringLiteral("binary frame, ") : QStringLiteral("二进制帧，");
    lines.append(frame + (english ? QStringLiteral("%1 bytes") : QStringLiteral("%1 字节"))
                             .arg(entry.rawData().size()));
    if (!entry.source().isEmpty())
        lines.append(entry.source());
    if (m_reader) {
        if (const std::optional<EntryReading> reading = m_reader(entry);
            reading && !reading->summary.isEmpty())
            lines.append(reading->summary);
    }
    if (m_rowDecoder.isOn() && entry.frameKind() == LogEntry::FrameKind::Binary) {
        const DecodedFrame decoded = m_rowDecoder.decode(entry.rawData());
        if (decoded.ok)
            lines.append((english ? QStringLiteral("Decoded: ") : QStringLiteral("解码: ")) +
                         decoded.decoder);
    }
    return lines.join(QLatin1Char('\n'));
}

void LogViewWidget::setEntryReader(const EntryReader& reader)
{
    m_reader = reader;
    detailPane->setReader(reader);
}

QString LogViewWidget::fullRowText(const QListWidgetItem* item) const
{
    const LogRowItem* row = LogRowItem::from(item);
    if (!row || !row->rowDiffers() || !comm)
        return item->text();
    const LogEntry entry = comm->entryBySerial(row->serial());
    if (entry.serial() == 0)
        return item->text(); // no longer in the log: the row is all that is left
    // The row's time stamp and tag stay as shown; only the data differs.
    return row->linePrefix() + entry.shownText(row->isHex());
}

void LogViewWidget::copySelected()
{
    QStringList lines;
    // In the order the view reports its selected rows; while the filter is
    // on, only the rows it shows: the user does not see the others.
    const QModelIndexList selected = shownView()->selectionModel()->selectedIndexes();
    lines.reserve(selected.size());
    for (const QModelIndex& index : selected) {
        if (const QListWidgetItem* item = shownItem(index))
            lines.append(fullRowText(item));
    }
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')), QClipboard::Clipboard);
}

void LogViewWidget::copyAll()
{
    QStringList lines;
    lines.reserve(logOutput->count());
    for (int i = 0; i < logOutput->count(); ++i)
        lines.append(fullRowText(logOutput->item(i)));
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')), QClipboard::Clipboard);
}

void LogViewWidget::copyData()
{
    // The entries' data alone, whole, without time stamp or tag.
    QStringList lines;
    const QModelIndexList selected = shownView()->selectionModel()->selectedIndexes();
    lines.reserve(selected.size());
    for (const QModelIndex& index : selected) {
        const QListWidgetItem* item = shownItem(index);
        const LogRowItem* row = LogRowItem::from(item);
        if (!row) {
            if (item)
                lines.append(item->text());
            continue;
        }
        const LogEntry entry = comm ? comm->entryBySerial(row->serial()) : LogEntry();
        lines.append(entry.serial() != 0 ? entry.shownText(row->isHex()) : row->shownData());
    }
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')), QClipboard::Clipboard);
}

void LogViewWidget::saveData(quint64 serial)
{
    const LogEntry entry = comm ? comm->entryBySerial(serial) : LogEntry();
    if (entry.serial() == 0)
        return;
    QString filter;
    const QString path = ExportDialogs::getSaveFileName(
        this, QStringLiteral("保存为文件…"), QStringLiteral("frame_%1.bin").arg(entry.serial()),
        QStringLiteral("二进制文件 (*.bin);;所有文件 (*)"), &filter);
    if (path.isEmpty())
        return;
    // Written whole or not at all: a half-written file would pass for the frame.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(entry.rawData()) == entry.rawData().size() &&
        file.commit()) {
        comm->logSystem(QStringLiteral("已保存 %1 字节: %2").arg(entry.rawData().size()).arg(path));
        return;
    }
    ExportDialogs::warning(this, QStringLiteral("保存失败"),
                           QStringLiteral("无法写入文件: ") + path);
}

QMenu* LogViewWidget::createRowMenu(const QModelIndex& index, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setStyleSheet(
        QStringLiteral("QMenu { background: #1F2937; color: #F1F5F9; border: 1px solid "
                       "#1E3A5F; padding: 4px; }QMenu::item { padding: 6px 20px; "
                       "border-radius: 3px; }QMenu::item:selected { background: #0E4A6F; }"
                       "QMenu::item:disabled { color: #64748B; }"));
    auto add = [this, menu](const QString& text, const char* name, auto slot) {
        QAction* action = menu->addAction(LanguageManager::translate(text));
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(QStringLiteral("复制"), "copyRowsAction", [this] { copySelected(); });
    add(QStringLiteral("复制全部"), "copyAllAction", [this] { copyAll(); });
    add(QStringLiteral("复制数据"), "copyDataAction", [this] { copyData(); });

    // The clicked row's entry, whole, as the log keeps it.
    const LogRowItem* row = LogRowItem::from(shownItem(index));
    const LogEntry entry = row && comm ? comm->entryBySerial(row->serial()) : LogEntry();
    const bool frame = entry.serial() != 0 && entry.direction() != LogEntry::SYS &&
                       entry.frameKind() != LogEntry::FrameKind::Unknown;
    menu->addSeparator();
    QAction* resend = add(QStringLiteral("重新发送"), "resendAction",
                          [this, entry] { emit resendRequested(entry); });
    resend->setEnabled(frame);
    if (frame && entry.frameKind() == LogEntry::FrameKind::Binary) {
        const quint64 serial = entry.serial();
        add(QStringLiteral("保存为文件…"), "saveDataAction", [this, serial] { saveData(serial); });
    }
    return menu;
}

void LogViewWidget::handleContextMenu(QPoint pos)
{
    QAbstractItemView* shown = shownView();
    const QModelIndex index = shown->indexAt(pos);
    if (!shownItem(index))
        return;
    QMenu* menu = createRowMenu(index, this);
    menu->exec(shown->viewport()->mapToGlobal(pos));
    delete menu;
}

void LogViewWidget::exportLog()
{
    if (!comm)
        return;
    const QString defaultName =
        QStringLiteral("Communication_Log_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString filter;
    QString path = ExportDialogs::getSaveFileName(
        this, QStringLiteral("导出日志"), defaultName,
        QStringLiteral("文本文件 (*.txt);;CSV文件 (*.csv)"), &filter);
    if (path.isEmpty())
        return;

    // A name ending in .csv or .txt decides; otherwise the chosen filter does,
    // and a name without any extension gets the filter's.
    bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    if (!csv && !path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)) {
        const QString suffix = ExportDialogs::filterSuffix(filter);
        csv = suffix.compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
        if (!suffix.isEmpty() && !QFileInfo(path).fileName().contains(QLatin1Char('.')))
            path += QLatin1Char('.') + suffix;
    }
    if (comm->exportToFile(path, comm->hexDisplay(), csv))
        comm->logSystem(QStringLiteral("日志已导出: %1").arg(path));
    else
        ExportDialogs::warning(this, QStringLiteral("导出失败"),
                               QStringLiteral("无法写入文件: ") + path);
}

// ---------------------------------------------------------------------------
// Search and the entry's whole content

void LogViewWidget::setUpFindAndDetail()
{
    finder = new LogFinder(logOutput, filteredLog, comm, this);
    detailPane = new EntryDetailPane(splitter);
    detailPane->hide();
    splitter->addWidget(detailPane);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    connect(findBar, &FindBar::searchChanged, finder, &LogFinder::setSearch);
    connect(findBar, &FindBar::filteringChanged, finder, &LogFinder::setFiltering);
    connect(finder, &LogFinder::filteringChanged, this, &LogViewWidget::showFiltered);
    // After the finder: the pane's entry may have left the rows shown.
    connect(findBar, &FindBar::searchChanged, this, &LogViewWidget::closeDetailIfHidden);
    connect(findBar, &FindBar::filteringChanged, this, &LogViewWidget::closeDetailIfHidden);
    // Matches are marked while the bar is open.
    connect(findBar, &FindBar::searchChanged, this, &LogViewWidget::setHighlight);
    // A closed bar costs a flood nothing: rows are counted while it is open.
    connect(findBar, &FindBar::opened, this, [this] {
        finder->setSearch(findBar->search());
        setHighlight(findBar->search());
    });
    connect(findBar, &FindBar::closed, this, [this] {
        finder->setSearch(LogSearch());
        setHighlight(LogSearch());
    });
    connect(findBar, &FindBar::nextRequested, this, [this] {
        if (!finder->findNext())
            findBar->showNotFound();
    });
    connect(findBar, &FindBar::previousRequested, this, [this] {
        if (!finder->findPrevious())
            findBar->showNotFound();
    });
    connect(findBar, &FindBar::closed, this, [this] { shownView()->setFocus(); });
    connect(finder, &LogFinder::matchCountChanged, findBar, &FindBar::showMatchCount);

    auto* openFind = new QShortcut(QKeySequence::Find, this);
    openFind->setContext(Qt::WindowShortcut);
    connect(openFind, &QShortcut::activated, findBar, &FindBar::open);
    // Esc belongs to the bar only while it is open.
    auto* closeFind = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    closeFind->setContext(Qt::WidgetWithChildrenShortcut);
    closeFind->setEnabled(false);
    connect(closeFind, &QShortcut::activated, findBar, &FindBar::close);
    connect(findBar, &FindBar::opened, closeFind, [closeFind] { closeFind->setEnabled(true); });
    connect(findBar, &FindBar::closed, closeFind, [closeFind] { closeFind->setEnabled(false); });
    // The list's own Ctrl+C copies the current row only.
    logOutput->installEventFilter(this);
    filteredLog->installEventFilter(this);

    connect(logOutput, &QListWidget::itemSelectionChanged, this, &LogViewWidget::showCurrentEntry);
    connect(filteredLog->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LogViewWidget::showCurrentEntry);
    connect(detailPane, &EntryDetailPane::closeRequested, m_detailToggle,
            [this] { m_detailToggle->setChecked(false); });
    connect(m_detailToggle, &QPushButton::toggled, this, [this](bool on) {
        if (on)
            showCurrentEntry();
        else
            detailPane->hide();
    });
    // A cleared log takes the pane's entry with it, and the peers it named.
    connect(logOutput->model(), &QAbstractItemModel::modelReset, detailPane, &QWidget::hide);
    connect(logOutput->model(), &QAbstractItemModel::modelReset, findBar, &FindBar::forgetPeers);
}

void LogViewWidget::setHighlight(const LogSearch& search)
{
    const LogSearch shown = findBar->isHidden() ? LogSearch() : search;
    for (QAbstractItemView* rows : {static_cast<QAbstractItemView*>(logOutput),
                                    static_cast<QAbstractItemView*>(filteredLog)}) {
        if (auto* painter = qobject_cast<LogRowDelegate*>(rows->itemDelegate()))
            painter->setSearch(shown);
        rows->viewport()->update();
    }
}

void LogViewWidget::closeDetailIfHidden()
{
    // An entry the rows no longer show is not left on screen as if chosen.
    if (!detailPane->isHidden() && !finder->showsSerial(detailPane->entrySerial()))
        detailPane->hide();
}

QAbstractItemView* LogViewWidget::shownView() const
{
    return finder && finder->isFiltering() ? static_cast<QAbstractItemView*>(filteredLog)
                                           : logOutput;
}

QListWidgetItem* LogViewWidget::shownItem(const QModelIndex& index) const
{
    if (!index.isValid())
        return nullptr;
    return index.model() == filteredLog->model() ? finder->filteredItem(index.row())
                                                 : logOutput->item(index.row());
}

void LogViewWidget::showFiltered(bool on)
{
    const bool hadFocus = rowStack->currentWidget()->hasFocus();
    rowStack->setCurrentWidget(on ? static_cast<QWidget*>(filteredLog) : logOutput);
    if (hadFocus)
        rowStack->currentWidget()->setFocus();
}

void LogViewWidget::showCurrentEntry()
{
    // A click that only puts the focus on the log leaves the rows their room.
    if (!m_detailToggle->isChecked())
        return;
    const QAbstractItemView* shown = shownView();
    QListWidgetItem* item = shownItem(shown->currentIndex());
    if (!item || !shown->selectionModel()->isSelected(shown->currentIndex()))
        return;
    const LogRowItem* row = LogRowItem::from(item);
    const LogEntry entry = row && comm ? comm->entryBySerial(row->serial()) : LogEntry();
    if (entry.serial() != 0)
        detailPane->showEntry(entry);
    else
        detailPane->showGoneRow(item->text());
    if (detailPane->isHidden()) {
        // The rows keep the larger part when the pane opens.
        const int height = splitter->height();
        detailPane->show();
        const int pane = std::max(height * 9 / 20, detailPane->minimumSizeHint().height());
        splitter->setSizes({height - pane, pane});
        // The rows shrink; the chosen one stays in sight once they are laid out.
        QTimer::singleShot(0, this, [this] {
            QAbstractItemView* rows = shownView();
            if (rows->currentIndex().isValid())
                rows->scrollTo(rows->currentIndex());
        });
    }
}

bool LogViewWidget::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == logOutput || watched == filteredLog) && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
