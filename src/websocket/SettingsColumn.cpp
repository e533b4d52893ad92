#include "websocket/SettingsColumn.h"

#include <QEvent>
#include <QLayout>

#include <algorithm>

SettingsColumn::SettingsColumn(QWidget* panel, QWidget* parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("settingsScroll"));
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidget(panel);
    panel->installEventFilter(this);
    viewport()->installEventFilter(this);
}

bool SettingsColumn::eventFilter(QObject* watched, QEvent* event)
{
    // A group shown or hidden asks for a new layout; the column was resized.
    if ((watched == widget() && event->type() == QEvent::LayoutRequest) ||
        (watched == viewport() && event->type() == QEvent::Resize))
        fitPanel();
    return QScrollArea::eventFilter(watched, event);
}

void SettingsColumn::fitPanel()
{
    QWidget* panel = widget();
    if (!panel)
        return;
    if (QLayout* layout = panel->layout())
        layout->activate();
    const int width = std::max(viewport()->width(), panel->minimumWidth());
    const int height =
        panel->hasHeightForWidth() ? panel->heightForWidth(width) : panel->sizeHint().height();
    if (panel->size() != QSize(width, height))
        panel->resize(width, height);
}
