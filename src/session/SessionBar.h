#pragma once

#include "session/HarModel.h"
#include "session/RecordedExchange.h"
#include "session/RecordingResponder.h"
#include "session/SessionCapture.h"
#include "websocket/ConnectionManager.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class CommunicationBase;
class LogViewWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class ReplyHost;
class ReplayRunner;
class SendArea;

// Sessions in the window: "保存会话…" and "打开会话…" on the log bar, the
// replay row (replay, pause, stop, the recording as a mock server) and
// "发送文件…" in the send area.
class SessionBar : public QWidget
{
    Q_OBJECT

public:
    struct Parts
    {
        CommunicationBase* log = nullptr;
        ConnectionManager* connection = nullptr;
        LogViewWidget* logView = nullptr;
        SendArea* sendArea = nullptr;
        std::function<bool()> clientMode = [] {
            return true;
        };
        std::function<ConnectionManager::ClientId()> target = [] {
            return ConnectionManager::everyClient;
        };
        // Each entry opened from a recording, after it is in the log (for the chart).
        std::function<void(const LogEntry&)> opened = [](const LogEntry&) {
        };
    };

    // Picks one of several connections of a file ("" items: cancelled with
    // -1). Replaceable so that tests answer it without a dialog.
    using ChooseHook = std::function<int(QWidget* parent, const QStringList& items)>;
    static ChooseHook chooseConnection;

    static constexpr qint64 maxFileFrameBytes = qint64(32) * 1024 * 1024;

    SessionBar(const Parts& parts, QWidget* parent = nullptr);

    // What "保存会话…" would write now.
    QList<HarConnection> recordedConnections() const;
    // Opens a file as "打开会话…" does after its dialog; false with a warning
    // shown when it cannot be used.
    bool openFile(const QString& path);
    bool saveFile(const QString& path);
    // Sends a file as "发送文件…" does after its dialog.
    bool sendFile(const QString& path);

    ReplayRunner* runner() const { return m_runner; }
    // The host the recording answers through while "作为模拟服务器" is on,
    // ahead of whatever else it holds (the auto-reply rules).
    ReplyHost* replyHost() const { return m_host; }
    void useReplyHost(ReplyHost* host);

private:
    void save();
    void open();
    void chooseFileToSend();
    void startReplay();
    void togglePause();
    void updateControls();
    void logSent(const QByteArray& data, LogEntry::FrameKind kind, const QString& recipients);
    void rememberClientAddress();
    void updateMock();

    Parts m_parts;
    ReplayRunner* m_runner;
    ReplyHost* m_host;
    RecordingResponder m_responder;
    QPushButton* m_saveButton;
    QPushButton* m_openButton;
    QPushButton* m_sendFileButton;
    QLabel* m_sessionLabel;
    QPushButton* m_replayButton;
    QComboBox* m_speedCombo;
    QCheckBox* m_lockstepCheck;
    QCheckBox* m_compareCheck;
    QProgressBar* m_progress;
    QPushButton* m_pauseButton;
    QPushButton* m_stopButton;
    QCheckBox* m_mockCheck;

    bool m_opened = false;
    RecordedExchange m_exchange;
    // Where the client connected, masked, and the handshake it sent.
    QString m_clientUrl;
    QList<HarConnection::Header> m_clientHeaders;
    QList<SessionCapture::ClientSpan> m_clients;
    quint64 m_lastSerial = 0;
};
