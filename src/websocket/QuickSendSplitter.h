#pragma once

#include <QSplitter>

class QPushButton;
class QuickSendPanel;

// The log's tabs with the "快捷发送" panel beside them, so that a reply to a
// saved message shows while the next one is picked. The panel starts closed;
// its button opens and closes it, and dragging the handle to the edge closes
// it too.
class QuickSendSplitter : public QSplitter
{
    Q_OBJECT

public:
    QuickSendSplitter(QWidget* log, QuickSendPanel* panel, QWidget* parent = nullptr);

    // Checkable, for the corner of the log's tab bar.
    QPushButton* toggleButton() const { return m_toggle; }
    bool isPanelOpen() const;

public slots:
    void setPanelOpen(bool open);

private:
    void makeRoomForPanel();
    void followHandle();

    QuickSendPanel* m_panel;
    QPushButton* m_toggle;
    int m_panelWidth = 300;
};
