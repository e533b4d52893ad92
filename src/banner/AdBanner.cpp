#include "banner/AdBanner.h"

#include "banner/CappedReply.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>

namespace {

const char* const imageUrlProperty = "adImageUrl";
const char* const imageRequestProperty = "isImageRequest";

// Values placed inside quoted attributes must not be able to close the quote.
// The label's parser reads single-quoted values literally (no entities) but
// honours a backslash before a quote, so both go.
QString attributeEscaped(const QString& value)
{
    QString escaped = value.toHtmlEscaped();
    escaped.replace(QLatin1Char('\''), QStringLiteral("&#39;"));
    escaped.replace(QLatin1Char('\\'), QStringLiteral("&#92;"));
    return escaped;
}

// Links are escaped the URL way, so a plain web link is placed as it is and
// anything that could end the attribute becomes an inert percent sequence.
QString linkEscaped(const QString& link)
{
    QString escaped;
    escaped.reserve(link.size());
    for (const QChar c : link) {
        switch (c.unicode()) {
        case '\'':
            escaped += QStringLiteral("%27");
            break;
        case '"':
            escaped += QStringLiteral("%22");
            break;
        case '\\':
            escaped += QStringLiteral("%5C");
            break;
        case '<':
            escaped += QStringLiteral("%3C");
            break;
        case '>':
            escaped += QStringLiteral("%3E");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QUrl siteUrl(const QUrl& base, const QString& path)
{
    QUrl url = base;
    QString basePath = base.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace

AdBanner::AdBanner(const QString& product, QWidget* parent, const QUrl& baseUrl)
    : QWidget(parent)
    , m_product(product)
    , m_baseUrl(baseUrl)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("adBanner"));
    m_label->setTextFormat(Qt::RichText);
    m_label->setOpenExternalLinks(true);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_label->setMinimumWidth(300);
    m_label->setMaximumHeight(40);
    m_label->setScaledContents(false);
    m_label->setCursor(Qt::PointingHandCursor);
    m_label->installEventFilter(this);
    layout->addWidget(m_label);

    m_network = new QNetworkAccessManager(this);
    connect(m_network, &QNetworkAccessManager::finished, this, &AdBanner::onAdsLoaded);

    m_rotationTimer = new QTimer(this);
    m_rotationTimer->setInterval(5000);
    connect(m_rotationTimer, &QTimer::timeout, this, &AdBanner::rotateAd);

    m_label->setText(QStringLiteral("<span style='color:#64748B;'>▶ 广告加载中...</span>"));
    fetchAds();
}

AdBanner::~AdBanner()
{
    // Replies still pending are torn down with the manager, after our members
    // are gone; none of them may reach the slots then.
    disconnect(m_network, nullptr, this, nullptr);
}

bool AdBanner::isOpenableLink(const QString& link)
{
    if (link.isEmpty())
        return false;
    const QUrl url(link);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QList<AdItem> AdBanner::parseNotices(const QByteArray& body)
{
    QList<AdItem> notices;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject() || !doc.object().value(QStringLiteral("success")).toBool(false))
        return notices;

    const QJsonArray ads = doc.object().value(QStringLiteral("ads")).toArray();
    for (const QJsonValue& value : ads) {
        const QJsonObject obj = value.toObject();
        if (obj.value(QStringLiteral("status")).toInt(0) != 1)
            continue;
        AdItem ad;
        ad.id = obj.value(QStringLiteral("id")).toInt(0);
        ad.targetType = obj.value(QStringLiteral("target_type")).toString();
        ad.adType = obj.value(QStringLiteral("ad_type")).toString();
        ad.title = obj.value(QStringLiteral("title")).toString();
        ad.imageUrl = obj.value(QStringLiteral("image_url")).toString();
        ad.linkUrl = obj.value(QStringLiteral("link_url")).toString();
        ad.description = obj.value(QStringLiteral("description")).toString();
        notices.append(ad);
    }
    return notices;
}

void AdBanner::fetchAds()
{
    QUrl url = siteUrl(m_baseUrl, QStringLiteral("/api/ads"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("product"), m_product);
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(feedTimeoutMs);
    CappedReply::watch(m_network->get(request), maxReplyBytes);
}

void AdBanner::requestImage(const AdItem& ad)
{
    // Pictures come from the network only, never from local files or resources.
    if (!isOpenableLink(ad.imageUrl))
        return;
    QNetworkRequest request{QUrl(ad.imageUrl)};
    request.setTransferTimeout(pictureTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    reply->setProperty(imageUrlProperty, ad.imageUrl);
    reply->setProperty(imageRequestProperty, true);
    CappedReply::watch(reply, maxReplyBytes);
}

void AdBanner::onAdsLoaded(QNetworkReply* reply)
{
    if (reply->property(imageRequestProperty).toBool()) {
        onImageLoaded(reply);
        return;
    }
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        loadDefaultAds();
        return;
    }

    QByteArray body;
    if (!CappedReply::takeBody(reply, maxReplyBytes, &body)) {
        loadDefaultAds();
        return;
    }
    const QList<AdItem> ads = parseNotices(body);
    if (ads.isEmpty()) {
        loadDefaultAds();
        return;
    }
    m_ads = ads;

    for (const AdItem& ad : std::as_const(m_ads)) {
        if (ad.adType == QLatin1String("image") && !ad.imageUrl.isEmpty() &&
            !m_imageCache.contains(ad.imageUrl))
            requestImage(ad);
    }

    m_currentIndex = 0;
    showAd(m_ads.first());
    m_rotationTimer->start();
}

void AdBanner::onImageLoaded(QNetworkReply* reply)
{
    reply->deleteLater();
    const QString url = reply->property(imageUrlProperty).toString();
    if (reply->error() != QNetworkReply::NoError)
        return;

    QByteArray body;
    if (!CappedReply::takeBody(reply, maxReplyBytes, &body))
        return;
    QPixmap picture;
    if (!picture.loadFromData(body))
        return;
    m_imageCache.insert(url, picture);

    if (m_currentIndex < m_ads.size() && m_ads.at(m_currentIndex).imageUrl == url)
        showAd(m_ads.at(m_currentIndex));
}

void AdBanner::rotateAd()
{
    if (m_ads.isEmpty())
        return;
    m_currentIndex = (m_currentIndex + 1) % m_ads.size();
    showAd(m_ads.at(m_currentIndex));
}

void AdBanner::showAd(const AdItem& ad)
{
    QString color = QStringLiteral("#64748B");
    QString badge = QStringLiteral("AD");
    if (ad.targetType == QLatin1String("product")) {
        color = QStringLiteral("#10B981");
        badge = QStringLiteral("品");
    } else if (ad.targetType == QLatin1String("line")) {
        color = QStringLiteral("#8B5CF6");
        badge = QStringLiteral("线");
    }

    // A link that will not be followed must not be followable from the label either.
    const QString link = linkEscaped(isOpenableLink(ad.linkUrl) ? ad.linkUrl : QStringLiteral("#"));
    const bool isPicture = ad.adType == QLatin1String("image") && !ad.imageUrl.isEmpty();

    if (isPicture && m_imageCache.contains(ad.imageUrl)) {
        const QPixmap picture = m_imageCache.value(ad.imageUrl);
        const int height = qMin(picture.height(), maxPictureHeight);
        const int width =
            qMin(picture.width() * height / qMax(picture.height(), 1), maxPictureWidth);
        const QPixmap scaled =
            picture.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "PNG");
        const QString base64 = QString::fromLatin1(png.toBase64());
        m_label->setText(QStringLiteral("<a href='%1' style='text-decoration:none;'><img "
                                        "src='data:image/png;base64,%2' "
                                        "style='max-width:100%;vertical-align:middle;border-"
                                        "radius:3px;'/></a>")
                             .arg(link, base64));
        return;
    }

    const QString head =
        QStringLiteral("<span style='background:%1;color:#fff;padding:0 6px;border-radius:2px;"
                       "font-size:10px;margin-right:6px;'>%2</span><a href='%3' "
                       "style='color:#60A5FA;text-decoration:none;font-size:12px;'>%4</a>")
            .arg(attributeEscaped(color), attributeEscaped(badge), link, ad.title.toHtmlEscaped());
    if (isPicture) {
        m_label->setText(head + QStringLiteral(" <span style='color:#64748B;font-size:11px;'>— "
                                               "图片加载中...</span>"));
        return;
    }
    QString text = head;
    if (!ad.description.isEmpty())
        text += QStringLiteral(" <span style='color:#94A3B8;font-size:11px;'>— %1</span>")
                    .arg(ad.description.toHtmlEscaped());
    m_label->setText(text);
}

void AdBanner::loadDefaultAds()
{
    const QString root = siteUrl(m_baseUrl, QStringLiteral("/")).toString();
    const QString docs = siteUrl(m_baseUrl, QStringLiteral("/docs/gaugely")).toString();
    const QString titles[] = {
        QStringLiteral("🚀 Oxlen Pro — 专业调试工具套件"),
        QStringLiteral("📖 在线文档 — 查看完整使用指南"),
        QStringLiteral("⭐ 更多工具 — 探索 Gaugely 全系产品"),
    };
    const QString links[] = {root, docs, root};

    m_ads.clear();
    for (int i = 0; i < 3; ++i) {
        AdItem ad;
        ad.targetType = QStringLiteral("global");
        ad.adType = QStringLiteral("text");
        ad.title = titles[i];
        ad.linkUrl = links[i];
        m_ads.append(ad);
    }
    m_currentIndex = 0;
    showAd(m_ads.first());
    m_rotationTimer->start();
}

bool AdBanner::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_label && event->type() == QEvent::MouseButtonPress &&
        m_currentIndex < m_ads.size()) {
        const QString link = m_ads.at(m_currentIndex).linkUrl;
        if (isOpenableLink(link)) {
            QDesktopServices::openUrl(QUrl(link));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
