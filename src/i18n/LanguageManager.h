#pragma once

#include <QMap>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>

class QObject;

// Process-wide language state: the flag (Chinese or English), the fixed
// Chinese-to-English dictionary and the parties told about a switch.
// Used from the GUI thread; only the first creation is guarded.
class LanguageManager
{
public:
    static LanguageManager& instance();

    static bool isEnglish();
    // Exact, case-sensitive lookup in English mode; the text unchanged otherwise.
    static QString translate(const QString& text);
    // Stores the flag first, then calls the listeners in registration order.
    // Setting the current value does nothing.
    static void setEnglish(bool english);
    // The listener runs on every effective change while `context` lives; listeners whose
    // context was destroyed are skipped. A null context means the listener always runs.
    static void addListener(QObject* context, std::function<void()> listener);
    static int dictionarySize();
    // Listeners kept, those of destroyed contexts included until the next addListener().
    static int listenerCount();

    LanguageManager(const LanguageManager&) = delete;
    LanguageManager& operator=(const LanguageManager&) = delete;

private:
    LanguageManager();
    ~LanguageManager() = default;

    struct Listener
    {
        QPointer<QObject> context;
        bool hasContext = false;
        std::function<void()> callback;
    };

    int m_language = 0; // 0 Chinese, 1 English
    QVector<Listener> m_listeners;
    QMap<QString, QString> m_dictionary;
};
