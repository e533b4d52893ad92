#pragma once

#include "decode/FrameDecoder.h"

#include <QByteArray>
#include <QWidget>

#include <memory>

class DetailTextView;
class LogEntry;
class ProtoSchema;
class QComboBox;
class QLabel;
class QThreadPool;

// The detail pane's "解码" tab: the entry's bytes read by the decoder picked
// here (Auto by default, saying which one it took), the value indented, and
// a button that copies it as JSON.
class DecodePage : public QWidget
{
    Q_OBJECT

public:
    explicit DecodePage(QWidget* parent = nullptr);

    // A binary frame, or a text frame that is all Base64.
    static bool offers(const LogEntry& entry);

    void showFrame(const QByteArray& bytes, bool textFrame);
    // The .proto and type that "Protobuf (.proto)" reads with.
    void setSchema(std::shared_ptr<const ProtoSchema> schema, const QString& messageType);

    // Frames up to this size decode at once; larger ones on a worker, so
    // inflating megabytes does not hold the window.
    static constexpr qsizetype inlineBytes = 64 * 1024;

private:
    void decode();
    void show(const DecodedFrame& decoded, DecoderKind kind);

    QComboBox* m_kind = nullptr;
    QLabel* m_status = nullptr;
    DetailTextView* m_view = nullptr;
    QByteArray m_bytes;
    bool m_textFrame = false;
    // Nothing to read before the first frame.
    bool m_shown = false;
    std::shared_ptr<const ProtoSchema> m_schema;
    QString m_type;
    DecodedFrame m_decoded;
    QThreadPool* m_pool = nullptr;
    // Counts decodings asked for: a worker's result for an earlier one is dropped.
    quint64 m_generation = 0;
};
