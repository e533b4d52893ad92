#pragma once

#include "chart/ChartEngine.h"
#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"
#include "websocket/ConnectionManager.h"
#include "websocket/WebSocketWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

// The window's controls as a user reaches them, found by their object names.
struct WindowControls
{
    explicit WindowControls(WebSocketWidget* window)
        : window(window)
    {
        auto* connGroup = find<QGroupBox>("connGroup");
        auto* sendGroup = find<QGroupBox>("sendGroup");
        connectButton = connGroup->findChild<QPushButton*>(QStringLiteral("accentButton"));
        sendButton = sendGroup->findChild<QPushButton*>(QStringLiteral("accentButton"));
        clientsGroup = find<QGroupBox>("clientsGroup");
        disconnectClientButton =
            clientsGroup->findChild<QPushButton*>(QStringLiteral("dangerButton"));
    }

    template<typename T> T* find(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    bool isConnected() const { return connection->isActive(); }
    QString statusText() const { return find<QLabel>("connStatus")->text(); }

    WebSocketWidget* window;
    QPushButton* connectButton = nullptr;
    QPushButton* sendButton = nullptr;
    QGroupBox* clientsGroup = nullptr;
    QPushButton* disconnectClientButton = nullptr;
    ConnectionManager* connection = window->connection();
    CommunicationBase* comm = window->findChild<CommunicationBase*>();
    LogViewWidget* logView = find<LogViewWidget>("logView");
    ChartEngine* chartEngine = find<ChartEngine>("chartEngine");
    QTabWidget* tabWidget = find<QTabWidget>("tabWidget");
    QScrollArea* settingsScroll = find<QScrollArea>("settingsScroll");
    QWidget* clientBox = find<QWidget>("clientBox");
    QWidget* serverBox = find<QWidget>("serverBox");
    QRadioButton* clientRadio = find<QRadioButton>("clientRadio");
    QRadioButton* serverRadio = find<QRadioButton>("serverRadio");
    QLineEdit* urlEdit = find<QLineEdit>("urlEdit");
    QSpinBox* portSpin = find<QSpinBox>("portSpin");
    QLineEdit* pathEdit = find<QLineEdit>("pathEdit");
    QComboBox* encodingCombo = find<QComboBox>("encodingCombo");
    QComboBox* languageCombo = find<QComboBox>("languageCombo");
    QListWidget* clientList = find<QListWidget>("clientList");
    QCheckBox* hexDisplayCheck = find<QCheckBox>("hexDisplayCheck");
    QCheckBox* timestampCheck = find<QCheckBox>("timestampCheck");
    QCheckBox* autoScrollCheck = find<QCheckBox>("autoScrollCheck");
    QSpinBox* lineSpacingSpin = find<QSpinBox>("lineSpacingSpin");
    QSpinBox* fontSizeSpin = find<QSpinBox>("fontSizeSpin");
    QPlainTextEdit* sendEdit = find<QPlainTextEdit>("sendEdit");
    QCheckBox* hexSendCheck = find<QCheckBox>("hexSendCheck");
    QCheckBox* enterSendCheck = find<QCheckBox>("enterSendCheck");
    QRadioButton* textRadio = find<QRadioButton>("textRadio");
    QRadioButton* binaryRadio = find<QRadioButton>("binaryRadio");
    QCheckBox* autoSendCheck = find<QCheckBox>("autoSendCheck");
    QSpinBox* intervalSpin = find<QSpinBox>("intervalSpin");
    QTimer* autoSendTimer = window->findChild<QTimer*>(QStringLiteral("autoSendTimer"));

    // The texts of the log's system entries, from entry `from` on.
    QStringList systemTexts(int from = 0) const
    {
        QStringList texts;
        for (const LogEntry& entry : comm->entries().mid(from)) {
            if (entry.direction() == LogEntry::SYS)
                texts.append(entry.text());
        }
        return texts;
    }
};
