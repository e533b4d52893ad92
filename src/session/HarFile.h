#pragma once

#include "session/HarModel.h"

#include <QByteArray>
#include <QList>
#include <QString>

// HAR 1.2 documents with WebSocket entries, as Chromium-based browsers write
// them ("_resourceType": "websocket", "_webSocketMessages"). Reading keeps
// only the WebSocket entries; the log's system entries travel in a
// "_sockwise" field other tools ignore.
class HarFile
{
public:
    // Files over this size are refused unread.
    static constexpr qint64 maxFileBytes = qint64(256) * 1024 * 1024;

    struct ReadResult
    {
        QList<HarConnection> connections;
        // Why nothing could be read; empty on success.
        QString error;
        bool ok() const { return error.isEmpty(); }
    };

    static ReadResult parse(const QByteArray& json);
    // As parse(); the bytes are released as soon as they are read.
    static ReadResult parse(QByteArray&& json);
    static ReadResult read(const QString& path);

    static QByteArray serialize(const QList<HarConnection>& connections);
    // False with `error` set when the file could not be written completely;
    // an existing file is only replaced by a complete one.
    static bool write(const QString& path, const QList<HarConnection>& connections,
                      QString* error = nullptr);

    HarFile() = delete;
};
