#pragma once

#include <QObject>

#include <functional>

class QAbstractScrollArea;
class QScrollBar;

// Keeps a scroll area at the bottom whenever its scroll range changes (rows
// added, a new font or row spacing, a resize) while it was at the bottom
// before: the scroll value stays put on such a change, so without this a
// view at the bottom finds itself above it and stops following.
class BottomFollower : public QObject
{
    Q_OBJECT

public:
    // Within this many pixels of the end counts as at the bottom.
    static constexpr int tolerancePx = 10;

    // Follows while `enabled` says so; parented to the area.
    BottomFollower(QAbstractScrollArea* area, std::function<bool()> enabled);

    bool atBottom() const { return m_atBottom; }

private:
    void onValueChanged(int value);
    void onRangeChanged(int minimum, int maximum);

    QScrollBar* m_bar = nullptr;
    std::function<bool()> m_enabled;
    bool m_atBottom = true;
};
