#include "session/ReplayRunner.h"

#include "websocket/ConnectionManager.h"

#include <QTimer>

#include <cmath>

namespace {
// As fast as possible still returns to the event loop between batches, so
// that replies are read and the window stays live.
constexpr int fastBatch = 64;
} // namespace

ReplayRunner::ReplayRunner(ConnectionManager* connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_timer(new QTimer(this))
    , m_replyTimer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_replyTimer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ReplayRunner::step);
    connect(m_replyTimer, &QTimer::timeout, this, [this] {
        if (!m_running)
            return;
        if (m_waitingForReplies) {
            finish(QString());
            return;
        }
        emit notice(QStringLiteral("回放: 等待回复超时 (#%1)").arg(m_next + 1));
        // The replay goes on; the replies that did not come are differences.
        const qsizetype due = m_exchange.receivedBefore(m_next);
        for (; m_receivedCount < due; ++m_receivedCount)
            reportMissing(m_receivedCount);
        step();
    });
    connect(m_connection, &ConnectionManager::textReceived, this,
            [this](const QString& text, const QString&) { received(text.toUtf8(), false); });
    connect(m_connection, &ConnectionManager::binaryReceived, this,
            [this](const QByteArray& data, const QString&) { received(data, true); });
    connect(m_connection, &ConnectionManager::stateChanged, this,
            [this](ConnectionManager::State state) {
                if (m_running && state != ConnectionManager::Connected)
                    finish(QStringLiteral("连接已断开"));
            });
}

bool ReplayRunner::start(const RecordedExchange& exchange, const Options& options)
{
    if (m_running || m_connection->state() != ConnectionManager::Connected)
        return false;
    m_exchange = exchange;
    m_options = options;
    m_next = 0;
    m_receivedCount = 0;
    m_differences = 0;
    m_matched = 0;
    m_paused = false;
    m_waitingForReplies = false;
    m_running = true;
    emit progress(0, total());
    scheduleNext();
    return true;
}

void ReplayRunner::pause()
{
    if (!m_running || m_paused)
        return;
    m_paused = true;
    m_timer->stop();
    m_replyTimer->stop();
}

void ReplayRunner::resume()
{
    if (!m_running || !m_paused)
        return;
    m_paused = false;
    scheduleNext();
}

void ReplayRunner::stop()
{
    if (m_running)
        finish(QStringLiteral("已停止"));
}

void ReplayRunner::scheduleNext()
{
    if (!m_running || m_paused)
        return;
    if (m_next >= m_exchange.sent().size()) {
        checkDone();
        return;
    }
    if (m_options.lockstep) {
        if (m_receivedCount < m_exchange.receivedBefore(m_next)) {
            m_replyTimer->start(m_options.replyTimeoutMs);
            return;
        }
        m_timer->start(0);
        return;
    }
    const qint64 gap = m_exchange.gapBeforeSend(m_next);
    const int wait =
        m_options.speed > 0
            ? int(std::min<double>(std::llround(double(gap) / m_options.speed), 24.0 * 3600 * 1000))
            : 0;
    m_timer->start(wait);
}

void ReplayRunner::step()
{
    if (!m_running || m_paused)
        return;
    m_replyTimer->stop();
    const bool fast = !m_options.lockstep && m_options.speed <= 0;
    for (int batch = 0; batch < (fast ? fastBatch : 1) && m_next < m_exchange.sent().size();
         ++batch) {
        const HarMessage& message = m_exchange.sent()[m_next];
        const LogEntry::FrameKind kind =
            message.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text;
        const ConnectionManager::SendResult result = m_connection->send(message.data, kind);
        if (result.status != ConnectionManager::SendStatus::Sent) {
            finish(QStringLiteral("第 %1 条未能发送").arg(m_next + 1));
            return;
        }
        ++m_next;
        emit frameSent(message.data, kind, result.recipients);
        emit progress(int(m_next), total());
        if (!m_running)
            return;
    }
    scheduleNext();
}

void ReplayRunner::received(const QByteArray& data, bool binary)
{
    if (!m_running)
        return;
    const qsizetype index = m_receivedCount++;
    if (m_options.compare) {
        const QList<HarMessage>& expected = m_exchange.received();
        if (index < expected.size() && RecordedExchange::matches(expected[index], data, binary)) {
            ++m_matched;
        } else {
            ++m_differences;
            const QString want =
                index < expected.size()
                    ? RecordedExchange::shortText(expected[index].data, expected[index].binary)
                    : QStringLiteral("(无)");
            emit notice(QStringLiteral("回复不同 #%1: 期望 %2 收到 %3")
                            .arg(index + 1)
                            .arg(want, RecordedExchange::shortText(data, binary)));
        }
    }
    if (m_paused)
        return;
    if (m_options.lockstep && m_replyTimer->isActive() && m_next < m_exchange.sent().size() &&
        m_receivedCount >= m_exchange.receivedBefore(m_next)) {
        m_replyTimer->stop();
        m_timer->start(0);
    }
    if (m_waitingForReplies)
        checkDone();
}

void ReplayRunner::checkDone()
{
    const bool repliesDue = m_options.compare || m_options.lockstep;
    if (repliesDue && m_receivedCount < m_exchange.received().size()) {
        if (!m_waitingForReplies) {
            m_waitingForReplies = true;
            m_replyTimer->start(m_options.replyTimeoutMs);
        }
        return;
    }
    finish(QString());
}

void ReplayRunner::reportMissing(qsizetype index)
{
    if (!m_options.compare)
        return;
    ++m_differences;
    const HarMessage& expected = m_exchange.received()[index];
    emit notice(QStringLiteral("回复不同 #%1: 期望 %2 收到 (无)")
                    .arg(index + 1)
                    .arg(RecordedExchange::shortText(expected.data, expected.binary)));
}

void ReplayRunner::finish(const QString& why)
{
    m_running = false;
    m_paused = false;
    m_timer->stop();
    m_replyTimer->stop();
    const int sent = int(m_next);
    if (m_options.compare) {
        // Replies that never came are differences too.
        const qsizetype expected = m_exchange.received().size();
        for (qsizetype i = m_receivedCount; why.isEmpty() && i < expected; ++i)
            reportMissing(i);
    }
    QString text =
        why.isEmpty()
            ? QStringLiteral("回放结束: 已发送 %1 / %2").arg(sent).arg(total())
            : QStringLiteral("回放中止 (%1): 已发送 %2 / %3").arg(why).arg(sent).arg(total());
    if (m_options.compare)
        text += QStringLiteral("，回复相同 %1 / %2")
                    .arg(m_matched)
                    .arg(std::max<qsizetype>(m_exchange.received().size(), m_receivedCount));
    emit notice(text);
    emit finished(why.isEmpty() && m_differences == 0);
}
