#include "comm/LogFinder.h"

#include "comm/CommunicationBase.h"
#include "comm/FilteredLogModel.h"
#include "comm/LogRowItem.h"

#include <QListView>
#include <QListWidget>
#include <QSet>
#include <QTimer>

LogFinder::LogFinder(QListWidget* rows, QListView* filtered, const CommunicationBase* comm,
                     QObject* parent)
    : QObject(parent)
    , m_rows(rows)
    , m_filtered(filtered)
    , m_model(new FilteredLogModel(this))
    , m_comm(comm)
{
    m_filtered->setModel(m_model);
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
            return m_search.matchesText(entry.shownText(row->isHex()));
    }
    return m_search.matchesText(row->shownData());
}

bool LogFinder::find(int step)
{
    if (!m_search.isValid())
        return false;
    if (m_filtering) {
        commitRows();
        const int count = m_model->rowCount();
        if (count == 0)
            return false;
        const int current = m_filtered->currentIndex().row();
        const int start = current >= 0 ? current : (step > 0 ? count - 1 : 0);
        for (int k = 1; k <= count; ++k) {
            const int row = ((start + step * k) % count + count) % count;
            if (!matches(m_model->item(row)))
                continue;
            const QModelIndex index = m_model->index(row);
            m_filtered->selectionModel()->setCurrentIndex(index,
                                                          QItemSelectionModel::ClearAndSelect);
            m_filtered->scrollTo(index, QAbstractItemView::PositionAtCenter);
            return true;
        }
        return false;
    }
    const int count = m_rows->count();
    if (count == 0)
        return false;
    const int current = m_rows->currentRow();
    const int start = current >= 0 ? current : (step > 0 ? count - 1 : 0);
    for (int k = 1; k <= count; ++k) {
        const int row = ((start + step * k) % count + count) % count;
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
        refilter(true);
        return;
    }
    for (const QMetaObject::Connection& connection : std::as_const(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_countTimer->stop();
    // The row chosen among the filtered ones stays chosen in the whole log.
    QListWidgetItem* chosen = m_model->item(m_filtered->currentIndex().row());
    if (chosen && !m_filtered->selectionModel()->isSelected(m_filtered->currentIndex()))
        chosen = nullptr;
    m_model->clear();
    m_matched = 0;
    if (chosen)
        m_rows->setCurrentItem(chosen, QItemSelectionModel::ClearAndSelect);
    if (QListWidgetItem* current = m_rows->currentItem())
        m_rows->scrollToItem(current, QAbstractItemView::PositionAtCenter);
}

void LogFinder::refilter(bool fromList)
{
    // The rows selected stay selected: those of the whole log when the
    // filter comes on, those of the filtered view when the search changes.
    const bool fresh = fromList;
    QSet<const QListWidgetItem*> selected;
    const QListWidgetItem* current = nullptr;
    if (!fresh) {
        m_model->commit();
        for (const QModelIndex& index : m_filtered->selectionModel()->selectedIndexes())
            selected.insert(m_model->item(index.row()));
        current = m_model->item(m_filtered->currentIndex().row());
    } else {
        current = m_rows->currentItem();
    }
    const QItemSelectionModel* listSelection = m_rows->selectionModel();
    const bool listHasSelection = fresh && listSelection->hasSelection();

    m_matched = 0;
    QList<QListWidgetItem*> shown;
    QList<int> selectedRows;
    int currentRow = -1;
    const int count = m_rows->count();
    for (int row = 0; row < count; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        if (LogRowItem* logRow = LogRowItem::from(item))
            logRow->setMatched(hit);
        if (!hit)
            continue;
        if (item == current)
            currentRow = int(shown.size());
        if (listHasSelection ? listSelection->isSelected(m_rows->model()->index(row, 0))
                             : selected.contains(item))
            selectedRows.append(int(shown.size()));
        shown.append(item);
    }
    m_matched = int(shown.size());
    m_model->setItems(shown);

    QItemSelection selection;
    for (const int row : std::as_const(selectedRows)) {
        const QModelIndex index = m_model->index(row);
        selection.merge(QItemSelection(index, index), QItemSelectionModel::Select);
    }
    QItemSelectionModel* filteredSelection = m_filtered->selectionModel();
    if (currentRow >= 0)
        filteredSelection->setCurrentIndex(m_model->index(currentRow),
                                           QItemSelectionModel::NoUpdate);
    filteredSelection->select(selection, QItemSelectionModel::ClearAndSelect);
    announceCount();
}

void LogFinder::onRowsInserted(const QModelIndex&, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        if (LogRowItem* logRow = LogRowItem::from(item))
            logRow->setMatched(hit);
        if (hit) {
            ++m_matched;
            m_model->stage(item);
        }
    }
    announceCountLater();
}

void LogFinder::onRowsAboutToBeRemoved(const QModelIndex&, int first, int last)
{
    // The rows' own marks tell which were shown; those leave the filtered
    // view before the list deletes them.
    QList<QListWidgetItem*> gone;
    for (int row = first; row <= last; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const LogRowItem* logRow = LogRowItem::from(item);
        if (logRow ? logRow->matched() : m_model->rowOf(item) >= 0)
            gone.append(item);
    }
    m_matched -= int(gone.size());
    m_model->commit();
    m_model->removeItems(gone);
    announceCountLater();
}

void LogFinder::onModelReset()
{
    m_matched = 0;
    m_model->clear();
    announceCountLater();
}

QListWidgetItem* LogFinder::filteredItem(int row) const
{
    return m_model->item(row);
}

void LogFinder::commitRows()
{
    if (m_filtering)
        m_model->commit();
}

void LogFinder::announceCountLater()
{
    if (!m_countTimer->isActive())
        m_countTimer->start();
}

void LogFinder::announceCount()
{
    m_countTimer->stop();
    commitRows();
    if (m_filtering)
        emit matchCountChanged(m_matched, m_rows->count());
}
