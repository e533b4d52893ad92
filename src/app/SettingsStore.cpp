#include "app/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSettings file(m_filePath, QSettings::IniFormat);
    m_writer(file);
    file.sync();
    emit saved(file.status() == QSettings::NoError);
}
