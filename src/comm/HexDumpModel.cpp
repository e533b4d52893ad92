#include "comm/HexDumpModel.h"

#include "comm/HexDump.h"

#include <limits>

void HexDumpModel::setBytes(const QByteArray& bytes)
{
    beginResetModel();
    m_bytes = bytes;
    endResetModel();
}

int HexDumpModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    const qsizetype lines = (m_bytes.size() + HexDump::bytesPerLine - 1) / HexDump::bytesPerLine;
    return int(std::min<qsizetype>(lines, std::numeric_limits<int>::max()));
}

QVariant HexDumpModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return QVariant();
    QString line = HexDump::format(m_bytes, qsizetype(index.row()) * HexDump::bytesPerLine,
                                   HexDump::bytesPerLine);
    line.chop(1); // the line feed
    return line;
}
