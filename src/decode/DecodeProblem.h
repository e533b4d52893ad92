#pragma once

#include <QString>
#include <QStringList>

// The words a decoder stops with, in the active language:
// "MessagePack: 第 12 字节处长度 4294967295 超出帧长度".
class DecodeProblem
{
public:
    // `chinese` holds %1.. for `args`; the offset is where the reader stood.
    static QString at(const QString& decoder, qint64 offset, const QString& chinese,
                      const QStringList& args = {});
    static QString plain(const QString& decoder, const QString& chinese,
                         const QStringList& args = {});

    DecodeProblem() = delete;
};
