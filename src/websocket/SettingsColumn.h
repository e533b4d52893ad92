#pragma once

#include <QScrollArea>

// The scrolling settings column: its panel as wide as the column is (never
// narrower than the panel's minimum) and as tall as the groups it shows, so
// that hiding a group closes its gap.
class SettingsColumn : public QScrollArea
{
    Q_OBJECT

public:
    explicit SettingsColumn(QWidget* panel, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitPanel();
};
