#include "comm/DetailTextView.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

namespace {

// Marks a block that continues the line of the block before it.
constexpr int kPiece = 1;

bool isBreak(QChar c)
{
    // A paragraph separator would start a block of its own in the document.
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

} // namespace

DetailTextView::DetailTextView(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    m_timer = new QTimer(this);
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, [this] { appendPart(stepChars); });
}

void DetailTextView::setFullText(const QString& text)
{
    m_timer->stop();
    m_text = text;
    m_shown = 0;
    m_cut = false;
    clear();
    appendPart(firstPartChars);
}

void DetailTextView::showAll()
{
    if (!isComplete())
        m_timer->start();
}

void DetailTextView::appendPart(qsizetype chars)
{
    const bool firstPart = m_shown == 0;
    QString part;
    part.reserve(std::min(m_text.size() - m_shown, chars + chars / 8));
    QList<bool> pieces;
    const qsizetype size = m_text.size();
    qsizetype pos = m_shown;
    while (pos < size && part.size() < chars) {
        const qsizetype limit = std::min(size, pos + maxLineChars);
        qsizetype end = pos;
        while (end < limit && !isBreak(m_text.at(end)))
            ++end;
        if (!pieces.isEmpty())
            part += QLatin1Char('\n');
        part += QStringView(m_text).mid(pos, end - pos);
        pieces.append(m_cut);
        m_cut = end < size && !isBreak(m_text.at(end));
        pos = end;
        if (!m_cut && pos < size) {
            // One line break, CR LF counting as one.
            if (m_text.at(pos) == QLatin1Char('\r') && pos + 1 < size &&
                m_text.at(pos + 1) == QLatin1Char('\n'))
                ++pos;
            ++pos;
        }
    }
    // A text that ends in a line break ends in an empty line.
    if (pos == size && size > 0 && !m_cut && isBreak(m_text.at(size - 1))) {
        part += QLatin1Char('\n');
        pieces.append(false);
    }
    m_shown = pos;

    const int firstBlock = firstPart ? 0 : blockCount();
    if (firstPart)
        setPlainText(part);
    else
        appendPlainText(part);
    QTextBlock block = document()->findBlockByNumber(firstBlock);
    for (qsizetype i = 0; i < pieces.size() && block.isValid(); ++i, block = block.next())
        block.setUserState(pieces.at(i) ? kPiece : -1);

    if (isComplete()) {
        m_timer->stop();
        emit completed();
    }
}

QMimeData* DetailTextView::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return QPlainTextEdit::createMimeDataFromSelection();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QString text;
    const QTextBlock first = document()->findBlock(start);
    for (QTextBlock block = first; block.isValid() && block.position() <= end;
         block = block.next()) {
        if (block != first && block.userState() != kPiece)
            text += QLatin1Char('\n');
        const int from = std::max(start - block.position(), 0);
        const int to = std::min(end - block.position(), block.length() - 1);
        if (to > from)
            text += block.text().mid(from, to - from);
    }
    auto* mime = new QMimeData;
    mime->setText(text);
    return mime;
}
