#pragma once

#include <QPlainTextEdit>

class QTimer;

// A read-only view for a text of any size. A very long line would be laid
// out as one piece and freeze the window, so lines are shown in pieces of at
// most maxLineChars (copying a selection joins them again); the first part is
// shown at once and the rest on request, appended part by part while the
// window keeps responding.
class DetailTextView : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr int maxLineChars = 2000;
    // Shown at once; the rest follows in steps of about 30 ms each.
    static constexpr qsizetype firstPartChars = 64 * 1024;
    static constexpr qsizetype stepChars = 1024 * 1024;

    explicit DetailTextView(QWidget* parent = nullptr);

    // Shows the first part of `text`.
    void setFullText(const QString& text);
    const QString& fullText() const { return m_text; }
    bool isComplete() const { return m_shown >= m_text.size(); }
    // Appends the rest, one part per event-loop turn.
    void showAll();

signals:
    void completed();

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    void appendPart(qsizetype chars);

    QString m_text;
    qsizetype m_shown = 0;
    // Whether the last line shown was cut short, so the next continues it.
    bool m_cut = false;
    QTimer* m_timer = nullptr;
};
