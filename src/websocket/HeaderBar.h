#pragma once

#include <QFrame>

class QComboBox;

// The window's top bar: title, banner, language, documentation and the
// connection status ("connStatus", which the window fills in).
class HeaderBar : public QFrame
{
    Q_OBJECT

public:
    explicit HeaderBar(QWidget* parent = nullptr);

    QComboBox* languageCombo() const { return m_languageCombo; }

signals:
    // For the log: what went wrong, in Chinese.
    void notice(const QString& text);

private:
    void openDocumentation();

    QComboBox* m_languageCombo = nullptr;
};
