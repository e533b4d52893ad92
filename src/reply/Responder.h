#pragma once

#include "comm/LogEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Something that answers what a peer sends: the rules, a recorded session, a
// protocol's acknowledgements. It only decides; ReplyHost sends, on time.
// Client ids are the connection layer's; in client mode the one server is 0.
class Responder
{
public:
    struct Incoming
    {
        quint64 client = 0;
        QString peer;
        LogEntry::FrameKind kind = LogEntry::FrameKind::Text;
        // The bytes on the wire (a text frame's UTF-8) and a text frame's text.
        QByteArray data;
        QString text;
    };

    struct Reply
    {
        QByteArray data;
        LogEntry::FrameKind kind = LogEntry::FrameKind::Text;
        // Counted from the reply before it, so that a list leaves in order.
        int delayMs = 0;
        bool toAll = false;
        // What the log names as the reply's origin, e.g. "自动回复: rpc".
        QString source;
    };
    using Replies = QList<Reply>;

    virtual ~Responder() = default;

    // A client connected (in client mode: the connection opened).
    virtual Replies connected(quint64 client, const QString& peer)
    {
        Q_UNUSED(client);
        Q_UNUSED(peer);
        return {};
    }
    // Nothing when the frame is not this responder's to answer; an empty list
    // when it is, but nothing goes out (the chain stops here either way).
    virtual std::optional<Replies> received(const Incoming& frame) = 0;
    virtual void left(quint64 client) { Q_UNUSED(client); }

    // Periodic replies to every client: their intervals, and what timer
    // `index` of that list sends when it fires.
    virtual QList<int> timerIntervals() const { return {}; }
    virtual Replies timerFired(int index)
    {
        Q_UNUSED(index);
        return {};
    }

    // What the user should read (a guard that tripped, say), since last asked.
    virtual QStringList takeNotices() { return {}; }
};

// Responders asked in order; the first that answers a frame wins. Every one
// hears of connections and departures; their timers are all run. It owns none.
class ResponderChain : public Responder
{
public:
    void insert(int index, Responder* responder) { m_links.insert(index, responder); }
    void append(Responder* responder) { m_links.append(responder); }
    void remove(Responder* responder) { m_links.removeAll(responder); }
    const QList<Responder*>& links() const { return m_links; }

    Replies connected(quint64 client, const QString& peer) override
    {
        Replies all;
        for (Responder* link : std::as_const(m_links))
            all += link->connected(client, peer);
        return all;
    }
    std::optional<Replies> received(const Incoming& frame) override
    {
        for (Responder* link : std::as_const(m_links)) {
            if (std::optional<Replies> answer = link->received(frame))
                return answer;
        }
        return std::nullopt;
    }
    void left(quint64 client) override
    {
        for (Responder* link : std::as_const(m_links))
            link->left(client);
    }
    QList<int> timerIntervals() const override
    {
        QList<int> all;
        for (Responder* link : m_links)
            all += link->timerIntervals();
        return all;
    }
    Replies timerFired(int index) override
    {
        for (Responder* link : std::as_const(m_links)) {
            const int count = int(link->timerIntervals().size());
            if (index < count)
                return link->timerFired(index);
            index -= count;
        }
        return {};
    }
    QStringList takeNotices() override
    {
        QStringList all;
        for (Responder* link : std::as_const(m_links))
            all += link->takeNotices();
        return all;
    }

private:
    QList<Responder*> m_links;
};
