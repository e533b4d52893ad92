#include "comm/FilteredLogModel.h"

#include <QListWidgetItem>
#include <QSet>

FilteredLogModel::FilteredLogModel(QObject* parent)
    : QAbstractListModel(parent)
{}

int FilteredLogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant FilteredLogModel::data(const QModelIndex& index, int role) const
{
    // The row answers as it does in the list: same text, colour and tooltip.
    const QListWidgetItem* row = item(index.row());
    return row && index.isValid() ? row->data(role) : QVariant();
}

Qt::ItemFlags FilteredLogModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QListWidgetItem* FilteredLogModel::item(int row) const
{
    return row >= 0 && row < m_items.size() ? m_items.at(row) : nullptr;
}

int FilteredLogModel::rowOf(const QListWidgetItem* item) const
{
    return item ? int(m_items.indexOf(item)) : -1;
}

void FilteredLogModel::stage(QListWidgetItem* item)
{
    m_staged.append(item);
}

void FilteredLogModel::commit()
{
    if (m_staged.isEmpty())
        return;
    const int first = int(m_items.size());
    beginInsertRows(QModelIndex(), first, first + int(m_staged.size()) - 1);
    m_items.append(m_staged);
    endInsertRows();
    m_staged.clear();
}

void FilteredLogModel::removeItems(const QList<QListWidgetItem*>& gone)
{
    if (gone.isEmpty())
        return;
    const QSet<QListWidgetItem*> set(gone.cbegin(), gone.cend());
    m_staged.removeIf([&set](QListWidgetItem* row) { return set.contains(row); });
    // Removed in runs, from the end so that earlier rows keep their numbers.
    int row = int(m_items.size()) - 1;
    while (row >= 0) {
        if (!set.contains(m_items.at(row))) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && set.contains(m_items.at(row - 1)))
            --row;
        beginRemoveRows(QModelIndex(), row, last);
        m_items.remove(row, last - row + 1);
        endRemoveRows();
        --row;
    }
}

void FilteredLogModel::setItems(const QList<QListWidgetItem*>& items)
{
    beginResetModel();
    m_items = items;
    m_staged.clear();
    endResetModel();
}

void FilteredLogModel::clear()
{
    setItems({});
}
