#pragma once

#include <QObject>
#include <QString>

class QTranslator;

// Qt's own texts (standard dialog buttons, the file dialog, context menus of
// editors) in the interface language: Qt's Chinese catalogue is installed
// while Chinese is active and removed while English is. Without the
// catalogue Qt's English texts stay, in both languages.
class QtTranslations : public QObject
{
    Q_OBJECT

public:
    // Loads the catalogue from directory and follows every language switch
    // while this object lives.
    explicit QtTranslations(const QString& directory = systemDirectory(),
                            QObject* parent = nullptr);

    bool isLoaded() const { return m_loaded; }

    // Where Qt keeps its catalogues (/usr/share/qt6/translations on Debian).
    static QString systemDirectory();

private:
    void follow();

    // A child: it leaves the application when this object is destroyed.
    QTranslator* m_chinese = nullptr;
    bool m_loaded = false;
};
