#pragma once

#include "chart/ChartRule.h"
#include "websocket/AddressOptions.h"
#include "websocket/ClientOptions.h"
#include "websocket/SavedMessages.h"
#include "websocket/SendBoxContent.h"
#include "websocket/ServerOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QSettings;

// What the window keeps across starts. Every member at its default is the
// window of a first start.
struct WindowSettings
{
    // Connection
    bool serverMode = false;
    QString address = QStringLiteral("ws://127.0.0.1:8080/ws");
    int port = 8080;
    QString path = QStringLiteral("/ws");
    QString encoding = QStringLiteral("UTF-8");
    // Whether credentials, tokens, secret header values and the proxy
    // password are written at all.
    bool rememberSecrets = false;
    QStringList recentAddresses;
    // The options in effect, those of the address shown.
    ClientOptions clientOptions;
    // Every address's own options (AddressOptions keys), most recent first.
    QList<AddressOptions::Entry> addressOptions;
    ServerOptions serverOptions;

    // Display
    bool hexDisplay = false;
    bool showTimestamp = true;
    bool autoScroll = true;
    // Whether choosing a row shows its entry below the rows ("详情").
    bool detailPane = false;
    int lineSpacing = 0;
    int fontSize = 11;

    // Sending. Whether auto send is ticked is not kept: it would start sending
    // by itself at the next start.
    bool hexSend = false;
    bool binarySend = false;
    bool enterSends = true;
    int autoSendIntervalMs = 1000;
    QList<SendBoxContent> sendHistory; // newest first
    QList<SavedMessage> savedMessages;

    // Chart
    bool chartEnabled = false;
    // The template shown in the combo box; its rules are those in chartRules.
    int chartTemplate = 0;
    int chartType = 0;
    int timeWindowSeconds = 60;
    QList<ChartRule> chartRules;

    // Window
    bool english = false;
    QByteArray geometry;
    // The settings column as the user widened it; 0: its default width.
    int settingsWidth = 0;

    bool operator==(const WindowSettings& other) const;
    bool operator!=(const WindowSettings& other) const { return !(*this == other); }

    // Values of the wrong type or out of range keep their defaults and are
    // named ("group/key") in `rejected`; so is an unreadable file ("file").
    static WindowSettings read(QSettings& file, QStringList* rejected);
    // Replaces everything in the file. Secrets only with rememberSecrets.
    void write(QSettings& file) const;
};
