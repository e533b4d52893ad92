#include "app/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

// The folder may hold remembered secrets: only its owner gets in. A folder
// other than our own is tightened only when we made it.
bool prepareFolder(const QString& folder)
{
    const bool existed = QFileInfo::exists(folder);
    if (!existed && !QDir().mkpath(folder))
        return false;
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!existed || QDir(folder) == QDir(own))
        QFile::setPermissions(folder, ownerOnly | QFile::ExeOwner);
    return true;
}

} // namespace

QString SettingsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/Sockwise.conf");
}

SettingsStore::SettingsStore(const QString& filePath, Writer writer, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_writer(std::move(writer))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(saveDelayMs);
    // Never early: the delay is also the bound on how often the file is written.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SettingsStore::flush);
}

void SettingsStore::scheduleSave()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void SettingsStore::flush()
{
    m_timer.stop();
    emit saved(write());
}

bool SettingsStore::write()
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!prepareFolder(folder))
        return false;

    // QSettings writes a fresh scratch file, never the real one: a damaged
    // file must not stand in the way, and a crash must not leave half a file.
    QByteArray content;
    {
        const QString scratchPath =
            folder + QStringLiteral("/.Sockwise-%1.conf")
                         .arg(QRandomGenerator::global()->generate64(), 0, 16);
        QFile scratch(scratchPath);
        if (!scratch.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
            return false;
        scratch.close();
        {
            QSettings file(scratchPath, QSettings::IniFormat);
            m_writer(file);
            file.sync();
            if (file.status() != QSettings::NoError) {
                QFile::remove(scratchPath);
                return false;
            }
        }
        const bool read = scratch.open(QIODevice::ReadOnly);
        content = scratch.readAll();
        scratch.close();
        QFile::remove(scratchPath);
        if (!read)
            return false;
    }

    QFile current(m_filePath);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == content) {
        // Unchanged: no rewrite, but an old file readable by others is closed.
        current.close();
        return current.setPermissions(ownerOnly);
    }
    current.close();
    QSaveFile out(m_filePath);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.setPermissions(ownerOnly);
    out.write(content);
    return out.commit() && QFile::setPermissions(m_filePath, ownerOnly);
}
