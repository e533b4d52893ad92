#include "websocket/AutoSendPolicy.h"

#include <QTimer>

AutoSendPolicy::AutoSendPolicy(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("autoSendTimer"));
    connect(m_timer, &QTimer::timeout, this, &AutoSendPolicy::tick);
}

void AutoSendPolicy::setArmed(bool armed)
{
    m_armed = armed;
    update();
}

void AutoSendPolicy::setLinkUp(bool up)
{
    m_linkUp = up;
    update();
}

void AutoSendPolicy::setInterval(int ms)
{
    m_interval = ms;
    if (m_timer->isActive())
        m_timer->setInterval(ms);
}

bool AutoSendPolicy::isRunning() const
{
    return m_timer->isActive();
}

bool AutoSendPolicy::shouldReport(const QString& problem)
{
    if (problem == m_problem)
        return false;
    m_problem = problem;
    return true;
}

void AutoSendPolicy::update()
{
    if (m_armed && m_linkUp) {
        if (!m_timer->isActive()) {
            m_problem.clear();
            m_timer->start(m_interval);
        }
    } else {
        m_timer->stop();
    }
}
