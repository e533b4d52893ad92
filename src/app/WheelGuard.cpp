#include "app/WheelGuard.h"

#include <QAbstractSpinBox>
#include <QChildEvent>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

WheelGuard::WheelGuard(QWidget* root)
    : QObject(root)
{}

WheelGuard* WheelGuard::install(QWidget* root)
{
    auto* guard = new WheelGuard(root);
    guard->watch(root);
    return guard;
}

void WheelGuard::watch(QWidget* widget)
{
    // Every widget is watched, not only the guarded kinds: a later child is
    // announced to its parent before its own type exists, and gets its focus
    // policy when it is polished.
    widget->installEventFilter(this);
    takeFocusOnlyByClickOrTab(widget);
    const auto descendants = widget->findChildren<QWidget*>();
    for (QWidget* child : descendants) {
        child->installEventFilter(this);
        takeFocusOnlyByClickOrTab(child);
    }
}

bool WheelGuard::isGuarded(const QObject* object)
{
    return qobject_cast<const QComboBox*>(object) || qobject_cast<const QAbstractSpinBox*>(object);
}

void WheelGuard::takeFocusOnlyByClickOrTab(QWidget* widget)
{
    // With the default wheel focus the wheel would hand them the focus first.
    if (isGuarded(widget) && widget->focusPolicy() == Qt::WheelFocus)
        widget->setFocusPolicy(Qt::StrongFocus);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            watch(static_cast<QWidget*>(child));
        break;
    }
    case QEvent::Polish:
        takeFocusOnlyByClickOrTab(static_cast<QWidget*>(watched));
        break;
    case QEvent::Wheel:
        if (isGuarded(watched) && !static_cast<QWidget*>(watched)->hasFocus()) {
            // Ignored and filtered: the widget never sees it, and the
            // application offers it to the parents in turn.
            event->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
