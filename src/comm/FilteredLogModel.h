#pragma once

#include <QAbstractListModel>
#include <QList>

class QListWidgetItem;

// The log's rows that match the filter, in the log's order, as a model of
// their own: the full list hides none of its rows (Qt would keep a persistent
// index for each hidden one and move them all on every trim). The rows stay
// owned by the list; the list's owner takes them out here before it deletes
// them. Rows staged as they match arrive in one insertion per batch.
class FilteredLogModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit FilteredLogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QListWidgetItem* item(int row) const;
    int rowOf(const QListWidgetItem* item) const;

    // Rows to append at the next commit().
    void stage(QListWidgetItem* item);
    void commit();
    // The list is about to delete these rows: they leave this model first.
    void removeItems(const QList<QListWidgetItem*>& gone);
    void setItems(const QList<QListWidgetItem*>& items);
    void clear();

private:
    // Rows leave at the top far more often than elsewhere: the front of the
    // list is dropped without moving the rest.
    QList<QListWidgetItem*> m_items;
    QList<QListWidgetItem*> m_staged;
};
