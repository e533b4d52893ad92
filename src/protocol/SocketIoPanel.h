#pragma once

#include "comm/EntryReading.h"

#include <QList>
#include <QObject>
#include <QPair>

#include <functional>

class CommunicationBase;
class ConnectionManager;
class LogViewWidget;
class QCheckBox;
class QLineEdit;
class QWidget;
class ReceiveRouter;
class SendArea;
class SendController;

// The window's Socket.IO: the "事件" field and "需要确认" in the send area
// while the client options choose Socket.IO, the frames the protocol sends by
// itself in the log, and what the log, the detail pane, the chart rules and
// the analysis read of the entries of a Socket.IO connection.
class SocketIoPanel : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        ConnectionManager* connection;
        CommunicationBase* log;
        LogViewWidget* logView;
        SendArea* sendArea;
        SendController* sender;
        ReceiveRouter* router;
    };

    SocketIoPanel(const Parts& parts, QObject* parent = nullptr);

    QLineEdit* eventEdit() const { return m_eventEdit; }
    QCheckBox* ackCheck() const { return m_ackCheck; }

    // What the analysis reads of an entry: a Socket.IO event as its document.
    std::function<QString(const LogEntry&)> textReader() const;

private:
    bool isSocketIoEntry(const LogEntry& entry) const;
    std::optional<EntryReading> read(const LogEntry& entry) const;
    void noteEntry(const LogEntry& entry);
    void updateFields();

    Parts m_parts;
    QWidget* m_fields = nullptr;
    QLineEdit* m_eventEdit = nullptr;
    QCheckBox* m_ackCheck = nullptr;
    // Serials of the log's entries made while a Socket.IO connection was
    // open, as ranges (first, last); system entries inside are no frames.
    QList<QPair<quint64, quint64>> m_ranges;
    bool m_rangeOpen = false;
};
