#include "websocket/QuickSendSplitter.h"

#include "websocket/QuickSendPanel.h"

#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

QuickSendSplitter::QuickSendSplitter(QWidget* log, QuickSendPanel* panel, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_panel(panel)
{
    setObjectName(QStringLiteral("quickSendSplitter"));
    setChildrenCollapsible(false);
    addWidget(log);
    addWidget(panel);
    setCollapsible(1, true);
    setStretchFactor(0, 1);
    setStretchFactor(1, 0);
    panel->setMinimumWidth(220);
    panel->hide();

    m_toggle = new QPushButton(QStringLiteral("快捷发送"), this);
    m_toggle->setObjectName(QStringLiteral("quickSendToggle"));
    m_toggle->setCheckable(true);
    connect(m_toggle, &QPushButton::toggled, this, &QuickSendSplitter::setPanelOpen);
    connect(this, &QSplitter::splitterMoved, this, &QuickSendSplitter::followHandle);
}

bool QuickSendSplitter::isPanelOpen() const
{
    return !m_panel->isHidden() && sizes().value(1) > 0;
}

void QuickSendSplitter::setPanelOpen(bool open)
{
    if (open != m_toggle->isChecked()) {
        const QSignalBlocker blocker(m_toggle);
        m_toggle->setChecked(open);
    }
    if (open == isPanelOpen())
        return;
    if (!open) {
        m_panelWidth = sizes().value(1, m_panelWidth);
        m_panel->hide();
        return;
    }
    m_panel->show();
    makeRoomForPanel();
    // Back at the width it had, the log keeping the rest.
    const int total = sizes().value(0) + sizes().value(1);
    int width = m_panelWidth;
    if (total > 0)
        width = std::min(width, std::max(total / 2, m_panel->minimumWidth()));
    setSizes({std::max(total - width, 1), width});
}

void QuickSendSplitter::followHandle()
{
    // Dragged to the edge, the panel is closed as if by its button.
    const int width = sizes().value(1);
    if (width == 0 && !m_panel->isHidden()) {
        m_panel->hide();
        const QSignalBlocker blocker(m_toggle);
        m_toggle->setChecked(false);
    } else if (width > 0) {
        m_panelWidth = width;
    }
}

void QuickSendSplitter::makeRoomForPanel()
{
    // The window's minimum is set below what its layout needs (the settings
    // column scrolls), so a window too narrow for the log bar beside the panel
    // would squeeze the bar's buttons: it widens instead, as far as the
    // screen allows.
    QWidget* top = window();
    if (!top || top->isMaximized() || top->isFullScreen())
        return;
    // The panel just shown is not in the layouts' cached sizes yet.
    updateGeometry();
    int missing = 0;
    for (QWidget* w = this; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (QLayout* layout = w->layout()) {
            layout->activate();
            missing = std::max(missing, layout->totalMinimumSize().width() - w->width());
        }
    }
    if (missing <= 0)
        return;
    int width = top->width() + missing;
    if (const QScreen* screen = top->screen()) {
        const int frame = top->frameGeometry().width() - top->width();
        width = std::min(width, screen->availableGeometry().width() - frame);
    }
    if (width > top->width())
        top->resize(width, top->height());
}
