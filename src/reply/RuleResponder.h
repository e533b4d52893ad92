#pragma once

#include "reply/JsonValuePath.h"
#include "reply/ReplyRule.h"
#include "reply/Responder.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>
#include <QRegularExpression>

#include <optional>

// The auto-reply rules as a responder: the first enabled rule that matches
// answers, its templates filled in, within its replies-a-second guard.
class RuleResponder : public Responder
{
public:
    RuleResponder();

    // Takes rules that RuleFile::problem() passes; counters start again.
    void setRules(const QList<ReplyRule>& rules);
    const QList<ReplyRule>& rules() const { return m_rules; }

    Replies connected(quint64 client, const QString& peer) override;
    std::optional<Replies> received(const Incoming& frame) override;
    QList<int> timerIntervals() const override;
    Replies timerFired(int index) override;
    QStringList takeNotices() override;

    // A Socket.IO server's acknowledgement request answered by the first
    // rule that matches {"event": name, "args": [...]}: its first reply's
    // content as the acknowledgement's arguments (a JSON array, or one value,
    // or a string). Nothing when no rule matches.
    std::optional<QByteArray> acknowledgement(const QString& event, const QJsonArray& args);

    // What a frame would get, counting nothing: the rule's index (-1: none)
    // and its replies as they would be sent now.
    struct Preview
    {
        int rule = -1;
        Replies replies;
    };
    Preview preview(const Incoming& frame) const;

private:
    struct Prepared
    {
        QRegularExpression pattern;
        QByteArray bytes; // hex match value
        std::optional<JsonValuePath> path;
        // Its replies fill in {{json:…}}.
        bool readsJson = false;
        qint64 seq = 0;
        // When its latest replies left (a ring of maxPerSecond), for the guard.
        QList<qint64> sent;
        qsizetype next = 0;
        qint64 lastDrop = -1;
    };
    struct Hit
    {
        int rule = -1;
        QStringList captures;
    };

    Hit firstMatch(const Incoming& frame, QByteArray* json) const;
    Replies fire(int index, const Incoming* frame, const Hit* hit, const QByteArray& json);
    // Replies that cannot go are left out and said in `notices`.
    Replies build(int index, qint64 seq, const Incoming* frame, const QStringList& captures,
                  const QByteArray& json, QStringList* notices) const;
    // Whether `count` more replies fit the rule's guard now; records them.
    bool admit(int index, int count);

    QList<ReplyRule> m_rules;
    QList<Prepared> m_prepared;
    QList<int> m_timerRules;
    QStringList m_notices;
    QElapsedTimer m_clock;
};
