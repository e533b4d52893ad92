#include "app/StartUp.h"

#include "app/RunLog.h"
#include "i18n/LanguageManager.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QTextStream>
#include <QWidget>

#include <limits>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

qint64 StartUp::raiseFileLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    rlim_t wanted = limit.rlim_max;
    if (wanted == RLIM_INFINITY) {
        // Linux refuses a soft limit above fs.nr_open even when the hard one is unlimited.
        QFile nrOpen(QStringLiteral("/proc/sys/fs/nr_open"));
        bool ok = false;
        const qint64 ceiling =
            nrOpen.open(QIODevice::ReadOnly) ? nrOpen.readAll().trimmed().toLongLong(&ok) : 0;
        if (ok && ceiling > 0)
            wanted = rlim_t(ceiling);
    }
    if (limit.rlim_cur < wanted && wanted != RLIM_INFINITY) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max()
                                           : qint64(limit.rlim_cur);
#else
    return -1;
#endif
}

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
