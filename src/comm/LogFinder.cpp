#include "comm/LogFinder.h"

#include "comm/CommunicationBase.h"
#include "comm/LogRowItem.h"

#include <QListWidget>
#include <QTimer>

LogFinder::LogFinder(QListWidget* rows, const CommunicationBase* comm, QObject* parent)
    : QObject(parent)
    , m_rows(rows)
    , m_comm(comm)
{
    m_countTimer = new QTimer(this);
    m_countTimer->setSingleShot(true);
    m_countTimer->setInterval(0);
    connect(m_countTimer, &QTimer::timeout, this, &LogFinder::announceCount);
}

bool LogFinder::matches(const QListWidgetItem* item) const
{
    const LogRowItem* row = LogRowItem::from(item);
    if (!row)
        return m_search.matchesText(item->text());
    if (!m_search.includes(row->direction()))
        return false;
    if (m_search.pattern().isEmpty())
        return true;
    // A row that shows its entry shortened or on one line is searched in the
    // whole entry while the log keeps it.
    if (row->rowDiffers() && m_comm) {
        const LogEntry entry = m_comm->entryBySerial(row->serial());
        if (entry.serial() != 0)
            return m_search.matchesText(row->isHex() ? entry.hexText() : entry.text());
    }
    return m_search.matchesText(row->shownData());
}

bool LogFinder::find(int step)
{
    const int count = m_rows->count();
    if (count == 0 || !m_search.isValid())
        return false;
    const int current = m_rows->currentRow();
    const int start = current >= 0 ? current : (step > 0 ? count - 1 : 0);
    for (int k = 1; k <= count; ++k) {
        const int row = ((start + step * k) % count + count) % count;
        // Hidden rows are the filter's misses.
        if (m_filtering && m_rows->isRowHidden(row))
            continue;
        QListWidgetItem* item = m_rows->item(row);
        if (!matches(item))
            continue;
        m_rows->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
        m_rows->scrollToItem(item, QAbstractItemView::PositionAtCenter);
        return true;
    }
    return false;
}

void LogFinder::setSearch(const LogSearch& search)
{
    if (search == m_search)
        return;
    m_search = search;
    if (m_filtering)
        refilter();
}

void LogFinder::setFiltering(bool on)
{
    if (on == m_filtering)
        return;
    m_filtering = on;
    if (on) {
        const QAbstractItemModel* model = m_rows->model();
        m_modelConnections = {
            connect(model, &QAbstractItemModel::rowsInserted, this, &LogFinder::onRowsInserted),
            connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                    &LogFinder::onRowsAboutToBeRemoved),
            connect(model, &QAbstractItemModel::modelReset, this, &LogFinder::onModelReset)};
        refilter();
        return;
    }
    for (const QMetaObject::Connection& connection : std::as_const(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_countTimer->stop();
    for (int row = 0; row < m_rows->count(); ++row) {
        if (m_rows->isRowHidden(row))
            m_rows->setRowHidden(row, false);
    }
    m_matched = 0;
    if (QListWidgetItem* current = m_rows->currentItem())
        m_rows->scrollToItem(current, QAbstractItemView::PositionAtCenter);
}

void LogFinder::refilter()
{
    m_matched = 0;
    const int count = m_rows->count();
    for (int row = 0; row < count; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        if (LogRowItem* logRow = LogRowItem::from(item))
            logRow->setMatched(hit);
        m_matched += hit;
        // Only changes: hiding a row costs the view a persistent index.
        if (m_rows->isRowHidden(row) == hit)
            m_rows->setRowHidden(row, !hit);
    }
    announceCount();
}

void LogFinder::onRowsInserted(const QModelIndex&, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        if (LogRowItem* logRow = LogRowItem::from(item))
            logRow->setMatched(hit);
        if (hit)
            ++m_matched;
        else
            m_rows->setRowHidden(row, true);
    }
    announceCountLater();
}

void LogFinder::onRowsAboutToBeRemoved(const QModelIndex&, int first, int last)
{
    // The view forgets which of these rows it hid before this runs: the
    // rows' own marks tell which were shown.
    for (int row = first; row <= last; ++row) {
        const LogRowItem* logRow = LogRowItem::from(m_rows->item(row));
        if (logRow ? logRow->matched() : !m_rows->isRowHidden(row))
            --m_matched;
    }
    announceCountLater();
}

void LogFinder::onModelReset()
{
    m_matched = 0;
    announceCountLater();
}

void LogFinder::announceCountLater()
{
    if (!m_countTimer->isActive())
        m_countTimer->start();
}

void LogFinder::announceCount()
{
    m_countTimer->stop();
    if (m_filtering)
        emit matchCountChanged(m_matched, m_rows->count());
}
