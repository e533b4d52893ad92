#include "app/RunLog.h"

#include <QDir>
#include <QMutexLocker>
#include <QStandardPaths>

RunLog& RunLog::instance()
{
    // Function-local static: one-time creation is thread-safe since C++11.
    static RunLog log;
    return log;
}

void RunLog::open(const QString& name)
{
    // Taken before the application name is set, so the directory is named
    // after the executable.
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    openIn(location + QStringLiteral("/logs"), name);
}

void RunLog::openIn(const QString& directory, const QString& name)
{
    RunLog& log = instance();
    QMutexLocker lock(&log.m_mutex);

    // A second open must not leave entries going to the previous file.
    if (log.m_file.isOpen()) {
        log.m_stream.flush();
        log.m_stream.setDevice(nullptr);
        log.m_file.close();
    }

    QDir().mkpath(directory);
    log.m_file.setFileName(directory + QLatin1Char('/') + name + QStringLiteral(".log"));
    if (!log.m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        log.m_stream.setDevice(nullptr);
        return;
    }

    log.m_stream.setDevice(&log.m_file);
    // No flush: the header reaches the disk with the first entry.
    log.m_stream << QLatin1Char('\n') << formatHeader(QDateTime::currentDateTime(), name)
                 << QLatin1Char('\n');
}

void RunLog::write(const QString& message)
{
    RunLog& log = instance();
    QMutexLocker lock(&log.m_mutex);
    if (!log.m_file.isOpen())
        return;
    log.m_stream << formatEntry(QDateTime::currentDateTime(), message) << QLatin1Char('\n');
    log.m_stream.flush();
}

bool RunLog::isOpen()
{
    RunLog& log = instance();
    QMutexLocker lock(&log.m_mutex);
    return log.m_file.isOpen();
}

QString RunLog::fileName()
{
    RunLog& log = instance();
    QMutexLocker lock(&log.m_mutex);
    return log.m_file.fileName();
}

QString RunLog::formatHeader(const QDateTime& when, const QString& name)
{
    return QStringLiteral("=== ") + when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QLatin1Char(' ') + name + QStringLiteral(" ===");
}

QString RunLog::formatEntry(const QDateTime& when, const QString& message)
{
    return when.toString(QStringLiteral("hh:mm:ss.zzz")) + QLatin1Char(' ') + message;
}
