#pragma once

#include "comm/EntryReading.h"
#include "comm/LogEntry.h"
#include "comm/LogSearch.h"
#include "decode/FrameDecoder.h"

#include <QList>
#include <QMutex>
#include <QPoint>
#include <QWidget>

class CommunicationBase;
class EntryDetailPane;
class FindBar;
class LogFinder;
class LogRowDelegate;
class QAbstractItemView;
class QMenu;
class QHBoxLayout;
class QLabel;
class QListView;
class QListWidgetItem;
class QListWidget;
class QModelIndex;
class QStackedWidget;
class QPushButton;
class QSplitter;
class QTimer;

// An entry waiting for its row (see LogViewWidget::pending).
struct PendingLogEntry
{
    LogEntry entry;
    qint64 cutSize = -1;
    // Decided on the whole frame: a cut one may end inside a character.
    bool asHex = false;
};
// A flood queues entries by the ten thousand: moved as bytes, not one by one.
Q_DECLARE_TYPEINFO(PendingLogEntry, Q_RELOCATABLE_TYPE);

// The rows of one communication log plus its counter bar. Rows are built
// from the log's signals and added in timed batches so that a flood of
// frames never stalls the window.
class LogViewWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LogViewWidget(CommunicationBase* comm, QWidget* parent = nullptr);

    static QColor directionColor(LogEntry::Direction direction);

    // Rows show at most this many characters of an entry's text; the rest is
    // replaced by an ellipsis and the full size, and copying takes it whole.
    static constexpr int maxRowChars = 512;
    // The shown form of data with this many bytes: line breaks (CR LF counting
    // as one) become "\u21B5", and data too long is cut short.
    static QString rowData(const QString& data, qint64 byteCount, bool isMessage);
    static bool hasLineBreak(const QString& data);
    // The shown form of the start of some data, `cut` when there was more.
    static QString shownData(const QString& prefix, bool cut, qint64 size, bool isMessage);

public slots:
    void onNewLogEntry(LogEntry entry);
    void onCountersUpdated();
    void flushPendingItems();

    void setLineSpacing(int px);
    void setFontSize(int pt);

public:
    int lineSpacing() const { return m_lineSpacing; }
    int fontSize() const { return m_fontSize; }
    // Entries announced but not shown yet.
    int pendingCount() const;
    // Estimated heap use of the queue and the rows, counted in the log's budget.
    qint64 keptBytes() const;
    // Who sent or got the entry and in which kind of frame; empty for system
    // messages and entries the log no longer keeps.
    QString rowToolTip(quint64 serial) const;
    // Another button on the counter bar, after the log's own.
    void addBarButton(QPushButton* button);

    // "详情": whether choosing a row shows its entry in the detail pane.
    QPushButton* detailToggle() const { return m_detailToggle; }
    // The rows' context menu for the row at `index` of the rows shown, built
    // but not shown: the caller owns it.
    QMenu* createRowMenu(const QModelIndex& index, QWidget* parent);

    // What a protocol reads in an entry: a line of the tooltip, a detail tab.
    void setEntryReader(const EntryReader& reader);

    // Binary rows added from now on show their decoded value on one line;
    // copies and exports keep the bytes.
    void setRowDecoder(const FrameDecoder& decoder) { m_rowDecoder = decoder; }
    EntryDetailPane* entryDetailPane() const { return detailPane; }

signals:
    // "重新发送": the entry's bytes, whole, to go out again in the same kind of frame.
    void resendRequested(const LogEntry& entry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void exportLog();
    void handleContextMenu(QPoint pos);
    void endCounterDeferral();
    void flushBacklog();

private:
    QWidget* createCounterBar();
    void applyItemStyle();
    void clearAll();
    void copySelected();
    void copyAll();
    void copyData();
    void saveData(quint64 serial);
    void setHighlight(const LogSearch& search);
    void closeDetailIfHidden();
    QString fullRowText(const QListWidgetItem* item) const;
    void updateCounterLabels();
    void discardRowsAndQueue();
    int rowLimit() const;
    qint64 queueBudget() const;
    void reportKeptBytes();
    void trimRows();
    // The rows on screen: the whole list, or the filtered view while the filter is on.
    QAbstractItemView* shownView() const;
    QListWidgetItem* shownItem(const QModelIndex& index) const;
    void showFiltered(bool on);
    // The find bar (Ctrl+F) and the pane that shows the selected row's entry.
    void setUpFindAndDetail();
    void showCurrentEntry();

    CommunicationBase* comm;
    QListWidget* logOutput = nullptr;
    QListView* filteredLog = nullptr;
    QStackedWidget* rowStack = nullptr;
    QLabel* txLabel = nullptr;
    QLabel* rxLabel = nullptr;
    QPushButton* clearButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* resetButton = nullptr;
    QHBoxLayout* barLayout = nullptr;
    QTimer* flushTimer = nullptr;
    QTimer* counterTimer = nullptr;
    FindBar* findBar = nullptr;
    LogFinder* finder = nullptr;
    QSplitter* splitter = nullptr;
    EntryDetailPane* detailPane = nullptr;
    QPushButton* m_detailToggle = nullptr;
    EntryReader m_reader;

    // Entries wait here for their row. A large frame waits with only the
    // start of its bytes (cutSize is then its whole size), so the queue never
    // holds large frames; rows that show their entry shortened or on one line
    // copy it whole from the log, found by its serial.
    using PendingEntry = PendingLogEntry;
    QList<PendingEntry> pending;
    qint64 pendingBytes = 0;
    mutable QMutex pendingMutex;
    // The rows' estimated heap use, guarded by pendingMutex as well.
    qint64 rowBytes = 0;
    bool flushScheduled = false;
    bool backlogFlush = false;
    // The counter labels are set at most every 100 ms under a flood.
    bool countersDirty = false;
    int m_lineSpacing = 0;
    int m_fontSize = 11;
    FrameDecoder m_rowDecoder;
};
