#include "i18n/QtTranslations.h"

#include "i18n/LanguageManager.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QtTranslations::QtTranslations(const QString& directory, QObject* parent)
    : QObject(parent)
    , m_chinese(new QTranslator(this))
{
    // qtbase holds everything Widgets shows; the other modules this program
    // uses have no texts of their own.
    m_loaded = m_chinese->load(QStringLiteral("qtbase_zh_CN"), directory);
    follow();
    LanguageManager::addListener(this, [this] { follow(); });
}

QString QtTranslations::systemDirectory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

void QtTranslations::follow()
{
    if (!m_loaded)
        return;
    // Both calls tell every widget of the change, so open dialogs follow too.
    if (LanguageManager::isEnglish())
        QCoreApplication::removeTranslator(m_chinese);
    else
        QCoreApplication::installTranslator(m_chinese);
}
