#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QSettings;

// The settings file and when it is written: a burst of changes becomes one
// write saveDelayMs after the first of them, so the file is written at most
// once per saveDelayMs; flush() writes at once. The file is replaced whole
// (never left half written), readable by its owner only, and written from
// scratch whatever state the old one is in.
class SettingsStore : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<void(QSettings& file)>;

    static constexpr int saveDelayMs = 1000;

    // "Sockwise.conf" in the platform's per-user configuration location.
    static QString defaultFilePath();

    SettingsStore(const QString& filePath, Writer writer, QObject* parent = nullptr);

    QString filePath() const { return m_filePath; }
    bool isSavePending() const { return m_timer.isActive(); }

public slots:
    void scheduleSave();
    // Writes now (also when nothing is pending) and cancels a pending write.
    void flush();

signals:
    void saved(bool ok);

private:
    bool write();

    QString m_filePath;
    Writer m_writer;
    QTimer m_timer;
};
