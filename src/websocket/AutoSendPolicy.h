#pragma once

#include <QObject>
#include <QString>

class QTimer;

// When auto-send ticks: while it is armed (the box ticked) and something is up.
// A failing tick is logged once per stretch of failing ticks, and again when
// its reason changes: one entry per interval would flood the log.
class AutoSendPolicy : public QObject
{
    Q_OBJECT

public:
    explicit AutoSendPolicy(QObject* parent = nullptr);

    void setArmed(bool armed);
    void setLinkUp(bool up);
    // Applies to a running timer at once.
    void setInterval(int ms);
    bool isRunning() const;
    QTimer* timer() const { return m_timer; }

    // Whether a failing tick logs `problem`.
    bool shouldReport(const QString& problem);
    // A tick that sent ends the failing stretch.
    void tickSent() { m_problem.clear(); }

signals:
    void tick();

private:
    void update();

    QTimer* m_timer = nullptr;
    bool m_armed = false;
    bool m_linkUp = false;
    int m_interval = 1000;
    QString m_problem;
};
