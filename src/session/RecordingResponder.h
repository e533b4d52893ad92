#pragma once

#include "reply/Responder.h"
#include "session/RecordedExchange.h"

#include <QHash>

// A recording's server side as a responder: what the server sent before the
// first client frame goes out on connect, and after a client's k-th frame
// what it sent after the recording's k-th. A client frame that differs from
// the recording is noted and the play goes on; frames past the recording's
// last are left to the responders after it.
class RecordingResponder : public Responder
{
public:
    // With `recordedGaps` the frames keep the recording's pauses; otherwise
    // they go out at once.
    void setRecording(const RecordedExchange& exchange, bool recordedGaps);

    Replies connected(quint64 client, const QString& peer) override;
    std::optional<Replies> received(const Incoming& frame) override;
    void left(quint64 client) override;
    QStringList takeNotices() override;

private:
    Replies repliesAfter(qsizetype clientFrames) const;

    RecordedExchange m_exchange;
    bool m_recordedGaps = false;
    // How many frames each client has sent.
    QHash<quint64, qsizetype> m_clientFrames;
    QStringList m_notices;
};
