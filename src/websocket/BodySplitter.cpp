#include "websocket/BodySplitter.h"

#include <algorithm>

BodySplitter::BodySplitter(QWidget* column, QWidget* rest, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent)
{
    setObjectName(QStringLiteral("bodySplitter"));
    setChildrenCollapsible(false);
    setHandleWidth(12);
    addWidget(column);
    addWidget(rest);
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
    connect(this, &QSplitter::splitterMoved, this, [this] {
        m_columnWidth = sizes().value(0);
        emit columnWidthChanged();
    });
}

void BodySplitter::setColumnWidth(int width)
{
    if (width == m_columnWidth)
        return;
    m_columnWidth = width;
    applyColumnWidth();
    emit columnWidthChanged();
}

void BodySplitter::resizeEvent(QResizeEvent* event)
{
    QSplitter::resizeEvent(event);
    // Sizes given before the first layout are not yet in pixels; and the log,
    // not the column, takes what the window gains.
    if (sizes().value(0) != targetWidth())
        applyColumnWidth();
}

int BodySplitter::targetWidth() const
{
    return m_columnWidth > 0 ? m_columnWidth : widget(0)->minimumWidth();
}

void BodySplitter::applyColumnWidth()
{
    const int column = targetWidth();
    const int total = std::max(width() - handleWidth(), column + 1);
    setSizes({column, total - column});
}
