#include "decode/DecodePage.h"

#include "comm/BarButton.h"
#include "comm/DetailTextView.h"
#include "comm/LogEntry.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QClipboard>
#include <QComboBox>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPromise>
#include <QThreadPool>

#include <QVBoxLayout>
#include <memory>

DecodePage::DecodePage(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(4);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(8);
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("detailDecoder"));
    for (const DecoderKind kind : FrameDecoder::kinds()) {
        if (kind != DecoderKind::None)
            m_kind->addItem(FrameDecoder::name(kind), int(kind));
    }
    bar->addWidget(m_kind);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("detailDecodeStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(m_status, 1);
    layout->addLayout(bar);

    m_view = new DetailTextView(this);
    m_view->setObjectName(QStringLiteral("detailDecoded"));
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(m_view, 1);

    auto* footer = new QHBoxLayout;
    footer->addStretch();
    QPushButton* copy =
        makeBarButton(QStringLiteral("复制 JSON"), QStringLiteral("detailDecodedCopy"), this);
    footer->addWidget(copy);
    layout->addLayout(footer);

    m_pool = new QThreadPool(this);
    m_pool->setMaxThreadCount(1);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &DecodePage::decode);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (m_decoded.ok)
            QGuiApplication::clipboard()->setText(m_decoded.indented(), QClipboard::Clipboard);
    });
    LanguageManager::addListener(this, [this] {
        if (m_shown)
            decode();
    });
}

bool DecodePage::offers(const LogEntry& entry)
{
    if (entry.direction() == LogEntry::SYS)
        return false;
    if (entry.frameKind() == LogEntry::FrameKind::Binary)
        return true;
    return entry.frameKind() == LogEntry::FrameKind::Text &&
           FrameDecoder::isBase64(entry.rawData());
}

void DecodePage::showFrame(const QByteArray& bytes, bool textFrame)
{
    m_bytes = bytes;
    m_textFrame = textFrame;
    m_shown = true;
    decode();
}

void DecodePage::setSchema(std::shared_ptr<const ProtoSchema> schema, const QString& messageType)
{
    m_schema = std::move(schema);
    m_type = messageType;
    if (m_shown)
        decode();
}

void DecodePage::decode()
{
    const auto kind = DecoderKind(m_kind->currentData().toInt());
    const FrameDecoder decoder(kind, m_schema, m_type);
    const quint64 generation = ++m_generation;
    if (m_bytes.size() <= inlineBytes) {
        show(decoder.decode(m_bytes, m_textFrame), kind);
        return;
    }
    // Until the worker is done nothing stale shows, nor can be copied.
    m_decoded = DecodedFrame();
    setRuntimeText(m_status, QString(), QString());
    m_view->setFullText(QString());
    auto promise = std::make_shared<QPromise<DecodedFrame>>();
    promise->start();
    auto* watcher = new QFutureWatcher<DecodedFrame>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, kind, generation] {
        watcher->deleteLater();
        if (m_generation == generation && watcher->future().resultCount() > 0)
            show(watcher->result(), kind);
    });
    watcher->setFuture(promise->future());
    m_pool->start([promise, decoder, bytes = m_bytes, textFrame = m_textFrame] {
        promise->addResult(decoder.decode(bytes, textFrame));
        promise->finish();
    });
}

void DecodePage::show(const DecodedFrame& decoded, DecoderKind kind)
{
    m_decoded = decoded;
    QString chinese;
    QString english;
    if (m_decoded.ok) {
        const QString form =
            kind == DecoderKind::Auto ? QStringLiteral("自动选择：%1") : QStringLiteral("解码：%1");
        chinese = form.arg(m_decoded.decoder);
        english = LanguageManager::translate(form).arg(m_decoded.decoder);
        // JSON cannot say everything CBOR can: its own notation does.
        if (!m_decoded.exact) {
            const QString note = QStringLiteral("（部分值 JSON 无法表示，按原格式显示）");
            chinese += note;
            english += QLatin1Char(' ') + LanguageManager::translate(note);
        }
    } else {
        chinese = english = m_decoded.problem;
    }
    setRuntimeText(m_status, chinese, english);
    m_view->setFullText(m_decoded.ok ? m_decoded.shown : QString());
}
