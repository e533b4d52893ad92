#pragma once

#include "comm/LogSearch.h"

#include <QList>
#include <QMetaObject>
#include <QObject>

class CommunicationBase;
class QListWidget;
class QListWidgetItem;
class QModelIndex;
class QTimer;

// Finds the log view's rows that match a search: jumps to the next or
// previous one, or hides every other row. While the filter is on, each row is
// matched once, as it is added, so that a flood costs one match per frame.
class LogFinder : public QObject
{
    Q_OBJECT

public:
    LogFinder(QListWidget* rows, const CommunicationBase* comm, QObject* parent = nullptr);

    // Rows are matched again only when the filter is on.
    void setSearch(const LogSearch& search);
    const LogSearch& search() const { return m_search; }

    // Selects the next matching row after the current one (or the previous
    // one before it), wrapping around at the ends; false when none matches.
    bool findNext() { return find(1); }
    bool findPrevious() { return find(-1); }

    void setFiltering(bool on);
    bool isFiltering() const { return m_filtering; }
    // Rows the filter shows.
    int matchedRows() const { return m_matched; }

    bool matches(const QListWidgetItem* item) const;

signals:
    // While filtering: rows shown and rows there are. Told at once when the
    // filter or the search changes, once per event-loop turn as rows come
    // and go.
    void matchCountChanged(int matched, int total);

private:
    bool find(int step);
    void refilter();
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void onModelReset();
    void announceCount();
    void announceCountLater();

    QListWidget* m_rows;
    const CommunicationBase* m_comm;
    LogSearch m_search;
    bool m_filtering = false;
    int m_matched = 0;
    QTimer* m_countTimer = nullptr;
    QList<QMetaObject::Connection> m_modelConnections;
};
