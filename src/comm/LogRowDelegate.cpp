#include "comm/LogRowDelegate.h"

#include "comm/LogRowItem.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QTimer>

namespace {

// The text's start and the item's right padding.
constexpr int kTextMargins = 4 + 6;

} // namespace

LogRowDelegate::LogRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
    , m_texts(cachedRowLimit)
{}

QString LogRowDelegate::rowText(const QModelIndex& index) const
{
    const quint64 serial = index.data(LogRowItem::SerialRole).toULongLong();
    if (serial == 0)
        return index.data(Qt::DisplayRole).toString();
    if (const QString* kept = m_texts.object(serial))
        return *kept;
    const QString text = index.data(Qt::DisplayRole).toString();
    m_texts.insert(serial, new QString(text));
    return text;
}

QList<std::pair<qsizetype, qsizetype>>
LogRowDelegate::highlightedRanges(const QModelIndex& index) const
{
    if (m_search.pattern().isEmpty())
        return {};
    const QVariant direction = index.data(LogRowItem::DirectionRole);
    if (direction.isValid() && !m_search.includes(LogEntry::Direction(direction.toInt())))
        return {};
    // The time stamp and the tag are not what was searched.
    const qsizetype start = index.data(LogRowItem::DataStartRole).toInt();
    const QString text = rowText(index);
    auto ranges = m_search.matchRanges(QStringView(text).mid(start));
    for (auto& range : ranges)
        range.first += start;
    return ranges;
}

QSize LogRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The style's height of an item with one short line: its padding and
    // the line as the style measures it.
    QStyleOptionViewItem opt = option;
    opt.index = index;
    opt.features |= QStyleOptionViewItem::HasDisplay;
    opt.features &= ~QStyleOptionViewItem::WrapText;
    opt.text = QStringLiteral("M");
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    const QSize line = style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget);
    const int width = opt.fontMetrics.horizontalAdvance(rowText(index)) + kTextMargins;
    m_widest = std::max(m_widest, width);
    return QSize(m_widest, line.height());
}

void LogRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    // What the base's initStyleOption would take from the row, but for its
    // text (decoding it there would be a second decode per paint): rows carry
    // no font, alignment, check state or icon.
    QStyleOptionViewItem opt = option;
    opt.index = index;
    opt.features |= QStyleOptionViewItem::HasDisplay;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.canConvert<QBrush>())
        opt.palette.setBrush(QPalette::Text, qvariant_cast<QBrush>(foreground));
    opt.backgroundBrush = qvariant_cast<QBrush>(index.data(Qt::BackgroundRole));
    opt.styleObject = nullptr;

    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, opt.widget);

    painter->save();
    painter->setFont(opt.font);
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    QPalette::ColorGroup group = QPalette::Disabled;
    if (opt.state.testFlag(QStyle::State_Enabled))
        group = opt.state.testFlag(QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
    painter->setPen(
        opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));

    const QString text = rowText(index);
    const QRect bounds = opt.fontMetrics.boundingRect(text);
    const int x = opt.rect.left() + 4;
    const int y = opt.rect.top() + (opt.rect.height() - bounds.height()) / 2 - bounds.top();
    const QStringView view(text);
    for (const auto& [start, length] : highlightedRanges(index)) {
        const int left = x + opt.fontMetrics.horizontalAdvance(view.left(start).toString());
        const int width = opt.fontMetrics.horizontalAdvance(view.mid(start, length).toString());
        painter->fillRect(QRect(left, opt.rect.top() + 1, width, opt.rect.height() - 2),
                          QColor(250, 204, 21, 96));
    }
    painter->drawText(QPoint(x, y), text);
    painter->restore();

    // A row wider than the view's rows: lay them out again, once, so the
    // horizontal scroll reaches its end.
    const int width = bounds.width() + kTextMargins;
    if (width > m_widest) {
        m_widest = width;
        auto* view = qobject_cast<QAbstractItemView*>(const_cast<QWidget*>(opt.widget));
        if (view && !m_relayoutQueued) {
            m_relayoutQueued = true;
            QTimer::singleShot(0, view, [this, view] {
                m_relayoutQueued = false;
                view->doItemsLayout();
            });
        }
    }
}
