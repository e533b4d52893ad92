#pragma once

#include <QAbstractListModel>
#include <QByteArray>

// The lines of a hex dump (see HexDump), each formed when a view asks for it:
// a dump of 16 MiB is a million lines, shown at once without being made.
class HexDumpModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    void setBytes(const QByteArray& bytes);
    const QByteArray& bytes() const { return m_bytes; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QByteArray m_bytes;
};
