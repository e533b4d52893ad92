#pragma once

#include "comm/LogEntry.h"

#include <QList>
#include <QMutex>
#include <QPoint>
#include <QWidget>

class CommunicationBase;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

// The rows of one communication log plus its counter bar. Rows are built
// from the log's signals and added in timed batches so that a flood of
// frames never stalls the window.
class LogViewWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LogViewWidget(CommunicationBase* comm, QWidget* parent = nullptr);

    static QColor directionColor(LogEntry::Direction direction);

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

private slots:
    void exportLog();
    void handleContextMenu(QPoint pos);

private:
    QWidget* createCounterBar();
    void applyItemStyle();
    void clearAll();
    void copySelected();
    void copyAll();
    void discardRowsAndQueue();
    int rowLimit() const;

    CommunicationBase* comm;
    QListWidget* logOutput = nullptr;
    QLabel* txLabel = nullptr;
    QLabel* rxLabel = nullptr;
    QPushButton* clearButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* resetButton = nullptr;
    QTimer* flushTimer = nullptr;

    QList<LogEntry> pending;
    mutable QMutex pendingMutex;
    bool flushScheduled = false;
    int m_lineSpacing = 0;
    int m_fontSize = 11;
};
