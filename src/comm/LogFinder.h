#pragma once

#include "comm/LogSearch.h"

#include <QList>
#include <QMetaObject>
#include <QObject>

class CommunicationBase;
class FilteredLogModel;
class QListView;
class QListWidget;
class QListWidgetItem;
class QModelIndex;
class QTimer;

// Finds the log view's rows that match a search: jumps to the next or
// previous one, counts them, or fills the filtered view with the matching
// rows alone (or one peer's rows, when the search names a peer). While rows
// are counted, each is matched once, as it is added, so that a flood costs
// one match per frame.
class LogFinder : public QObject
{
    Q_OBJECT

public:
    // `filtered` shows the filter's rows (the finder gives it its model).
    LogFinder(QListWidget* rows, QListView* filtered, const CommunicationBase* comm,
              QObject* parent = nullptr);

    // Rows are matched again only while they are counted or filtered.
    void setSearch(const LogSearch& search);
    const LogSearch& search() const { return m_search; }

    // Selects the next matching row after the current one (or the previous
    // one before it), wrapping around at the ends; false when none matches.
    bool findNext() { return find(1); }
    bool findPrevious() { return find(-1); }

    // Whether the rows that miss the pattern are left out of the filtered view.
    void setFiltering(bool on);
    // Whether the filtered view shows the rows: the filter is on or one
    // peer's rows are chosen.
    bool isFiltering() const { return m_filtering || !m_search.peer().isEmpty(); }
    // Rows that match the search, counted while a pattern is set or the view
    // is filtered.
    int matchedRows() const { return m_matched; }

    bool matches(const QListWidgetItem* item) const;
    // Whether the filtered view shows the row of this entry.
    bool showsSerial(quint64 serial) const;

    // Rows matched since the last batch go to the filtered view at once.
    void commitRows();
    // The list's row shown in the filtered view's row `row`, or null.
    QListWidgetItem* filteredItem(int row) const;

signals:
    // While filtering: rows shown and rows there are. Told at once when the
    // filter or the search changes, once per event-loop turn as rows come
    // and go.
    void matchCountChanged(int matched, int total);
    // The filtered view took over from the whole list, or gave it back.
    void filteringChanged(bool on);

private:
    bool find(int step);
    bool counting() const { return isFiltering() || !m_search.pattern().isEmpty(); }
    bool includesPeer(const QListWidgetItem* item) const;
    bool shows(const QListWidgetItem* item) const;
    void update(bool wasFiltering);
    void leaveFilteredView();
    void recount();
    void refilter(bool fromList = false);
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void onModelReset();
    void announceCount();
    void announceCountLater();

    QListWidget* m_rows;
    QListView* m_filtered;
    FilteredLogModel* m_model;
    const CommunicationBase* m_comm;
    LogSearch m_search;
    bool m_filtering = false;
    int m_matched = 0;
    // Every row's counted mark and m_matched hold for the search: the filter
    // goes on or off without matching a row again.
    bool m_marksValid = false;
    QTimer* m_countTimer = nullptr;
};
