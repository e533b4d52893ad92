#include "comm/BottomFollower.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

BottomFollower::BottomFollower(QAbstractScrollArea* area, std::function<bool()> enabled)
    : QObject(area)
    , m_bar(area->verticalScrollBar())
    , m_enabled(std::move(enabled))
{
    m_atBottom = m_bar->value() >= m_bar->maximum() - tolerancePx;
    connect(m_bar, &QScrollBar::valueChanged, this, &BottomFollower::onValueChanged);
    connect(m_bar, &QScrollBar::rangeChanged, this, &BottomFollower::onRangeChanged);
}

void BottomFollower::onValueChanged(int value)
{
    m_atBottom = value >= m_bar->maximum() - tolerancePx;
}

void BottomFollower::onRangeChanged(int, int maximum)
{
    // The slider announces a new range before it clamps its value, so the
    // position noted here is still the one from before the change.
    if (m_atBottom && m_enabled && m_enabled())
        m_bar->setValue(maximum);
    else
        m_atBottom = m_bar->value() >= maximum - tolerancePx;
}
