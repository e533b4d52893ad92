#include "banner/CappedReply.h"

#include <QNetworkReply>
#include <QNetworkRequest>

CappedReply::CappedReply(QNetworkReply* reply, qint64 maxBytes)
    : QObject(reply)
    , m_reply(reply)
    , m_max(maxBytes)
{
    // Without a limit Qt's network thread buffers everything the server sends,
    // and while it is busy doing so an abort does not reach it.
    reply->setReadBufferSize(readBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, &CappedReply::checkAnnouncedLength);
    connect(reply, &QNetworkReply::readyRead, this, &CappedReply::readAvailable);
}

CappedReply* CappedReply::watch(QNetworkReply* reply, qint64 maxBytes)
{
    return new CappedReply(reply, maxBytes);
}

bool CappedReply::takeBody(QNetworkReply* reply, qint64 maxBytes, QByteArray* body)
{
    auto* watcher = reply->findChild<CappedReply*>(QString(), Qt::FindDirectChildrenOnly);
    if (!watcher) {
        *body = reply->read(maxBytes + 1);
        return body->size() <= maxBytes && reply->bytesAvailable() == 0;
    }
    // Whatever arrived with the end of the reply.
    watcher->readAvailable();
    if (watcher->m_exceeded)
        return false;
    *body = std::move(watcher->m_body);
    watcher->m_body.clear();
    return true;
}

void CappedReply::readAvailable()
{
    if (m_exceeded)
        return;
    // One byte past the cap is enough to know the body is too large.
    const qint64 room = m_max + 1 - m_body.size();
    const qint64 available = m_reply->bytesAvailable();
    if (available <= 0)
        return;
    m_body += m_reply->read(qMin(available, room));
    if (m_body.size() > m_max)
        giveUp();
}

void CappedReply::checkAnnouncedLength()
{
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_max)
        giveUp();
}

void CappedReply::giveUp()
{
    if (m_exceeded)
        return;
    m_exceeded = true;
    m_body = QByteArray();
    if (m_reply->isRunning())
        m_reply->abort();
}
