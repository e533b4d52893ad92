#pragma once

#include <QList>
#include <QMap>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One notice of the header banner, as the feed describes it.
struct AdItem
{
    int id = 0;
    QString targetType;
    QString adType;
    QString title;
    QString imageUrl;
    QString linkUrl;
    QString description;
};

// The header's rotating notices: fetched once from the vendor service, with
// three built-in notices whenever the feed cannot be had.
class AdBanner : public QWidget
{
    Q_OBJECT

public:
    // The vendor's web service: notice feed, pictures and documentation.
    static QUrl vendorBaseUrl() { return QUrl(QStringLiteral("https://gaugely.example")); }

    explicit AdBanner(const QString& product, QWidget* parent = nullptr,
                      const QUrl& baseUrl = vendorBaseUrl());
    ~AdBanner() override;

    // A silent network must not keep the loading line up for minutes.
    static constexpr int feedTimeoutMs = 8000;
    static constexpr int pictureTimeoutMs = 30000;
    // Larger feed bodies and pictures are treated like failed replies; their
    // download stops there.
    static constexpr qint64 maxReplyBytes = 4 * 1024 * 1024;
    static constexpr int maxPictureHeight = 36;
    static constexpr int maxPictureWidth = 500;

    QLabel* label() const { return m_label; }
    QTimer* rotationTimer() const { return m_rotationTimer; }
    QNetworkAccessManager* networkManager() const { return m_network; }
    QString product() const { return m_product; }
    QList<AdItem> notices() const { return m_ads; }
    int currentIndex() const { return m_currentIndex; }
    bool hasCachedPicture(const QString& imageUrl) const { return m_imageCache.contains(imageUrl); }

    // Only web links are followed; anything else from the feed is ignored.
    static bool isOpenableLink(const QString& link);

    // The active notices of a feed reply body, in feed order; empty when the
    // body is no successful feed or lists none (the built-in notices show then).
    static QList<AdItem> parseNotices(const QByteArray& body);

public slots:
    void onAdsLoaded(QNetworkReply* reply);
    void onImageLoaded(QNetworkReply* reply);
    void rotateAd();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fetchAds();
    void requestImage(const AdItem& ad);
    void showAd(const AdItem& ad);
    void loadDefaultAds();

    QLabel* m_label = nullptr;
    QTimer* m_rotationTimer = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    QString m_product;
    QList<AdItem> m_ads;
    int m_currentIndex = 0;
    QMap<QString, QPixmap> m_imageCache;
    QUrl m_baseUrl;
};
