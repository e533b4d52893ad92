#include "app/StartUp.h"

#include "app/RunLog.h"
#include "i18n/LanguageManager.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QTextStream>
#include <QWidget>

QString StartUp::resourceStyleSheetPath()
{
    return QStringLiteral(":/styles/DarkTheme.qss");
}

QString StartUp::fallbackStyleSheetPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/DarkTheme.qss");
}

void StartUp::setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Sockwise"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
}

bool StartUp::applyStyleSheet(const QString& resourcePath, const QString& fallbackPath)
{
    // The file beside the executable is only a stand-in for a missing
    // resource, never an override.
    QFile file(QFile::exists(resourcePath) ? resourcePath : fallbackPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    QTextStream in(&file);
    qApp->setStyleSheet(in.readAll());
    file.close();
    RunLog::write(QStringLiteral("DarkTheme QSS loaded"));
    return true;
}

void StartUp::showMainWindow(QWidget& window)
{
    // In the language restored from the settings, if any.
    window.setWindowTitle(LanguageManager::translate(QStringLiteral("WebSocket调试助手")));
    window.setWindowIcon(QIcon(QStringLiteral(":/icon/WebSocket.ico")));
    window.show();
    RunLog::write(QStringLiteral("Window shown"));
}
