#pragma once

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTextStream>

// The per-user start-up trace: one header per start and a time-stamped line
// per milestone, always appended. Failures are silent; the program runs on
// without a log.
class RunLog
{
public:
    // Created on first use (thread-safe), destroyed at process exit.
    static RunLog& instance();

    // Opens <data location>/logs/<name>.log and writes the start header.
    static void open(const QString& name);
    // The same below an explicit directory, created when missing.
    static void openIn(const QString& directory, const QString& name);
    // Appends "hh:mm:ss.zzz message" and flushes; nothing when not open.
    static void write(const QString& message);

    static bool isOpen();
    static QString fileName();

    static QString formatHeader(const QDateTime& when, const QString& name);
    static QString formatEntry(const QDateTime& when, const QString& message);

    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

private:
    RunLog() = default;
    ~RunLog() = default;

    // Declared in this order so the stream is destroyed (and flushed) before
    // the file closes.
    QFile m_file;
    QTextStream m_stream;
    QMutex m_mutex;
};
