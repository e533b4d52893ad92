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
    // Cheap while nothing is counted: the handlers return at once.
    const QAbstractItemModel* model = m_rows->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &LogFinder::onRowsInserted);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            &LogFinder::onRowsAboutToBeRemoved);
    connect(model, &QAbstractItemModel::modelReset, this, &LogFinder::onModelReset);
}

bool LogFinder::includesPeer(const QListWidgetItem* item) const
{
    if (m_search.peer().isEmpty())
        return true;
    const LogRowItem* row = LogRowItem::from(item);
    // Only the log knows whom an entry went to or came from.
    const LogEntry entry = row && m_comm ? m_comm->entryBySerial(row->serial()) : LogEntry();
    return entry.serial() != 0 && m_search.includesPeer(entry);
}

bool LogFinder::shows(const QListWidgetItem* item) const
{
    return m_filtering ? matches(item) : includesPeer(item);
}

bool LogFinder::showsSerial(quint64 serial) const
{
    if (!isFiltering())
        return true;
    m_model->commit();
    for (int row = 0, count = m_model->rowCount(); row < count; ++row) {
        if (const LogRowItem* logRow = LogRowItem::from(m_model->item(row));
            logRow && logRow->serial() == serial)
            return true;
    }
    return false;
}

bool LogFinder::matches(const QListWidgetItem* item) const
{
    const LogRowItem* row = LogRowItem::from(item);
    if (!row)
        return m_search.matchesText(item->text());
    if (!m_search.includes(row->direction()) || !includesPeer(item))
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
    if (isFiltering()) {
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
    const bool wasFiltering = isFiltering();
    m_search = search;
    m_marksValid = false;
    update(wasFiltering);
}

void LogFinder::setFiltering(bool on)
{
    if (on == m_filtering)
        return;
    const bool wasFiltering = isFiltering();
    m_filtering = on;
    update(wasFiltering);
}

void LogFinder::update(bool wasFiltering)
{
    if (isFiltering()) {
        refilter(!wasFiltering);
        if (!wasFiltering)
            emit filteringChanged(true);
        return;
    }
    if (wasFiltering)
        leaveFilteredView();
    recount();
    if (wasFiltering)
        emit filteringChanged(false);
}

void LogFinder::leaveFilteredView()
{
    // The row chosen among the filtered ones stays chosen in the whole log.
    QListWidgetItem* chosen = m_model->item(m_filtered->currentIndex().row());
    if (chosen && !m_filtered->selectionModel()->isSelected(m_filtered->currentIndex()))
        chosen = nullptr;
    m_model->clear();
    if (chosen)
        m_rows->setCurrentItem(chosen, QItemSelectionModel::ClearAndSelect);
    if (QListWidgetItem* current = m_rows->currentItem())
        m_rows->scrollToItem(current, QAbstractItemView::PositionAtCenter);
}

void LogFinder::recount()
{
    m_countTimer->stop();
    if (!counting()) {
        m_marksValid = false;
        return;
    }
    if (m_marksValid) {
        announceCount();
        return;
    }
    m_matched = 0;
    for (int row = 0, count = m_rows->count(); row < count; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        if (LogRowItem* logRow = LogRowItem::from(item))
            logRow->setCounted(hit);
        m_matched += hit ? 1 : 0;
    }
    m_marksValid = true;
    announceCount();
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

    const bool marked = m_marksValid;
    if (!marked)
        m_matched = 0;
    QList<QListWidgetItem*> shown;
    QList<int> selectedRows;
    int currentRow = -1;
    const int count = m_rows->count();
    for (int row = 0; row < count; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        LogRowItem* logRow = LogRowItem::from(item);
        const bool hit = marked && logRow ? logRow->counted() : matches(item);
        const bool inView = m_filtering ? hit : includesPeer(item);
        if (logRow) {
            logRow->setMatched(inView);
            logRow->setCounted(hit);
        }
        if (!marked)
            m_matched += hit ? 1 : 0;
        if (!inView)
            continue;
        if (item == current)
            currentRow = int(shown.size());
        if (listHasSelection ? listSelection->isSelected(m_rows->model()->index(row, 0))
                             : selected.contains(item))
            selectedRows.append(int(shown.size()));
        shown.append(item);
    }
    m_model->setItems(shown);
    m_marksValid = true;

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
    if (!counting()) {
        // Rows come unmarked.
        m_marksValid = false;
        return;
    }
    const bool filtering = isFiltering();
    for (int row = first; row <= last; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const bool hit = matches(item);
        const bool inView = filtering && (m_filtering ? hit : includesPeer(item));
        if (LogRowItem* logRow = LogRowItem::from(item)) {
            logRow->setMatched(inView);
            logRow->setCounted(hit);
        }
        m_matched += hit ? 1 : 0;
        if (inView)
            m_model->stage(item);
    }
    announceCountLater();
}

void LogFinder::onRowsAboutToBeRemoved(const QModelIndex&, int first, int last)
{
    if (!counting())
        return;
    // The rows' own marks tell which were shown and counted; the shown leave
    // the filtered view before the list deletes them.
    const bool filtering = isFiltering();
    QList<QListWidgetItem*> gone;
    for (int row = first; row <= last; ++row) {
        QListWidgetItem* item = m_rows->item(row);
        const LogRowItem* logRow = LogRowItem::from(item);
        if (logRow ? logRow->counted() : matches(item))
            --m_matched;
        if (filtering && (logRow ? logRow->matched() : m_model->rowOf(item) >= 0))
            gone.append(item);
    }
    if (!filtering) {
        announceCountLater();
        return;
    }
    m_model->commit();
    m_model->removeItems(gone);
    announceCountLater();
}

void LogFinder::onModelReset()
{
    m_matched = 0;
    m_marksValid = counting();
    m_model->clear();
    announceCountLater();
}

QListWidgetItem* LogFinder::filteredItem(int row) const
{
    return m_model->item(row);
}

void LogFinder::commitRows()
{
    if (isFiltering())
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
    if (counting())
        emit matchCountChanged(m_matched, m_rows->count());
}
