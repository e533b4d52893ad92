#pragma once

#include "websocket/WindowSettings.h"

#include <QObject>

class AddressOptionsController;
class BodySplitter;
class ConnectionManager;
class QAbstractButton;
class QComboBox;
class QuickSendPanel;
class RecentAddresses;
class SendArea;
class SendController;
class SettingsPanel;

// WindowSettings to and from the window's controls, and one signal whenever
// anything kept across starts changes.
class SettingsBinder : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        QWidget* window = nullptr;
        SettingsPanel* panel = nullptr;
        SendArea* sendArea = nullptr;
        QuickSendPanel* quickSend = nullptr;
        QComboBox* languageCombo = nullptr;
        ConnectionManager* connection = nullptr;
        SendController* sender = nullptr;
        RecentAddresses* recentAddresses = nullptr;
        AddressOptionsController* addressOptions = nullptr;
        BodySplitter* splitter = nullptr;
        QAbstractButton* detailToggle = nullptr;
    };

    explicit SettingsBinder(const Parts& parts, QObject* parent = nullptr);

    WindowSettings read() const;
    // What cannot be used (a geometry the window refuses) is named in `rejected`.
    void apply(const WindowSettings& settings, QStringList* rejected);
    // From now on changed() follows the controls, the options and the rules.
    void watch();

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Parts m;
};
