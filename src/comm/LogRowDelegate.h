#pragma once

#include "comm/LogSearch.h"

#include <QCache>
#include <QList>
#include <QString>
#include <QStyledItemDelegate>

// Draws each row as one unwrapped line centred vertically, whatever padding
// the item style sheet adds. Rows keep their text as UTF-8; the text of the
// rows painted last is kept decoded, a bounded number of them, so that a
// repaint of the visible rows decodes none and a first paint decodes once.
class LogRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // More rows than a screen shows, under half a megabyte of text.
    static constexpr int cachedRowLimit = 384;

    explicit LogRowDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // One line of the row font plus the style's padding, whatever the row
    // holds; as wide as the widest row measured or painted so far, since the
    // view sizes every row like the one it samples.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The text a row is painted with.
    QString rowText(const QModelIndex& index) const;

    // The search whose matches are marked in the rows' data; an empty
    // pattern marks none.
    void setSearch(const LogSearch& search) { m_search = search; }
    // The parts of a row's text painted as matches, as (start, length)
    // pairs in rowText(). Rows of a direction left out get none.
    QList<std::pair<qsizetype, qsizetype>> highlightedRanges(const QModelIndex& index) const;
    int cachedRows() const { return int(m_texts.size()); }

private:
    // By the row's serial: serials are never reused, so a text never goes stale.
    mutable QCache<quint64, QString> m_texts;
    LogSearch m_search;
    mutable int m_widest = 0;
    mutable bool m_relayoutQueued = false;
};
