#pragma once

#include <QPushButton>

// The small buttons of the log's bars and panes: 24 pixels high, named for
// the tests and the style sheet, never taking Enter from the fields beside.
inline QPushButton* makeBarButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFixedHeight(24);
    button->setAutoDefault(false);
    return button;
}
