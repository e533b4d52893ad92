#pragma once

#include <QSplitter>

// The settings column beside the log, its border draggable. The width the
// user gave the column is kept across starts; the log takes what the window
// gains.
class BodySplitter : public QSplitter
{
    Q_OBJECT

public:
    BodySplitter(QWidget* column, QWidget* rest, QWidget* parent = nullptr);

    // The column's width as last dragged or set; 0 while it has its default.
    int columnWidth() const { return m_columnWidth; }
    void setColumnWidth(int width);

signals:
    void columnWidthChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The dragged width, else the column's minimum.
    int targetWidth() const;
    void applyColumnWidth();

    int m_columnWidth = 0;
};
