#pragma once

#include <QObject>

class QWidget;

// Keeps the mouse wheel from changing combo boxes and spin boxes that the
// user is not editing: without the keyboard focus they pass the wheel on to
// their parents, so a scroll area around them scrolls instead. Clicking or
// tabbing into one gives it the focus and the wheel works on it again.
class WheelGuard : public QObject
{
    Q_OBJECT

public:
    // Guards the tree under root, including widgets added to it later. The
    // guard is owned by root.
    static WheelGuard* install(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WheelGuard(QWidget* root);

    void watch(QWidget* widget);
    static bool isGuarded(const QObject* object);
    static void takeFocusOnlyByClickOrTab(QWidget* widget);
};
