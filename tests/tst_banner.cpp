#include "banner/AdBanner.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

namespace {

struct Route
{
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    bool sendLength = true;
    bool silent = false; // accept the request, never answer
    bool held = false;   // answer only when released
};

struct SeenRequest
{
    QString path;
    QString query;
    QMap<QByteArray, QByteArray> headers;
};

// A tiny in-process HTTP/1.1 server on loopback, one request per connection.
class LocalHttpServer : public QObject
{
public:
    LocalHttpServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this,
                         &LocalHttpServer::acceptPending);
    }

    bool start() { return m_server.listen(QHostAddress::LocalHost); }
    QUrl baseUrl() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    }
    QString url(const QString& path) const { return baseUrl().toString() + path; }

    void reset()
    {
        m_routes.clear();
        m_requests.clear();
        m_held.clear();
    }
    void setRoute(const QString& path, const Route& route) { m_routes.insert(path, route); }
    QList<SeenRequest> requests() const { return m_requests; }

    void release(const QString& path)
    {
        const QList<QTcpSocket*> sockets = m_held.values(path);
        m_held.remove(path);
        Route route = m_routes.value(path);
        route.held = false;
        for (QTcpSocket* socket : sockets)
            answer(socket, route);
    }

private:
    void acceptPending()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, this,
                             [this, socket]() { readRequest(socket); });
        }
    }

    void readRequest(QTcpSocket* socket)
    {
        QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
        socket->setProperty("buffered", buffered);
        const qsizetype end = buffered.indexOf("\r\n\r\n");
        if (end < 0 || socket->property("handled").toBool())
            return;
        socket->setProperty("handled", true);

        const QList<QByteArray> lines = buffered.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        const QUrl target(QString::fromLatin1(first.value(1)));
        SeenRequest seen;
        seen.path = target.path();
        seen.query = target.query();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                seen.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        }
        m_requests.append(seen);

        Route route;
        if (m_routes.contains(seen.path)) {
            route = m_routes.value(seen.path);
        } else {
            route.status = 404;
            route.body = "not found";
        }
        if (route.silent)
            return;
        if (route.held) {
            m_held.insert(seen.path, socket);
            return;
        }
        answer(socket, route);
    }

    static void answer(QTcpSocket* socket, const Route& route)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) +
                          " X\r\nContent-Type: " + route.contentType + "\r\nConnection: close\r\n";
        if (route.sendLength)
            head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        socket->write(head + "\r\n" + route.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QMap<QString, Route> m_routes;
    QList<SeenRequest> m_requests;
    QMultiMap<QString, QTcpSocket*> m_held;
};

class ProbeBanner : public AdBanner
{
public:
    using AdBanner::AdBanner;
    using AdBanner::eventFilter;
};

// What the label shows once its rich text is laid out.
struct Rendered
{
    QString plain;
    QStringList hrefs;
    bool hasFormattedRun = false; // bold or italic from the data
};

Rendered render(const QString& html)
{
    QTextDocument doc;
    doc.setHtml(html);
    Rendered out;
    out.plain = doc.toPlainText();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !out.hrefs.contains(format.anchorHref()))
                out.hrefs.append(format.anchorHref());
            if (format.fontWeight() >= QFont::Bold || format.fontItalic())
                out.hasFormattedRun = true;
        }
    }
    return out;
}

QJsonObject notice(const QString& title, const QJsonValue& status = 1)
{
    QJsonObject obj;
    obj.insert(QStringLiteral("id"), 7);
    obj.insert(QStringLiteral("status"), status);
    obj.insert(QStringLiteral("target_type"), QStringLiteral("product"));
    obj.insert(QStringLiteral("ad_type"), QStringLiteral("text"));
    obj.insert(QStringLiteral("title"), title);
    obj.insert(QStringLiteral("link_url"),
               QString(QStringLiteral("https://notice.example/") + title));
    return obj;
}

QJsonObject pictureNotice(const QString& title, const QString& imageUrl)
{
    QJsonObject obj = notice(title);
    obj.insert(QStringLiteral("ad_type"), QStringLiteral("image"));
    obj.insert(QStringLiteral("image_url"), imageUrl);
    return obj;
}

QByteArray feed(const QJsonArray& ads, const QJsonValue& success = true)
{
    QJsonObject root;
    root.insert(QStringLiteral("success"), success);
    root.insert(QStringLiteral("ads"), ads);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The picture embedded in the label, or a null image when there is none.
QImage shownPicture(const QLabel* label)
{
    static const QRegularExpression dataUrl(
        QStringLiteral("data:image/png;base64,([A-Za-z0-9+/=]+)"));
    const QRegularExpressionMatch match = dataUrl.match(label->text());
    if (!match.hasMatch())
        return {};
    return QImage::fromData(QByteArray::fromBase64(match.captured(1).toLatin1()), "PNG");
}

QStringList titlesOf(const AdBanner& banner)
{
    QStringList titles;
    const QList<AdItem> ads = banner.notices();
    for (const AdItem& ad : ads)
        titles.append(ad.title);
    return titles;
}

const QStringList builtInTitles = {
    QStringLiteral("🚀 Oxlen Pro — 专业调试工具套件"),
    QStringLiteral("📖 在线文档 — 查看完整使用指南"),
    QStringLiteral("⭐ 更多工具 — 探索 Gaugely 全系产品"),
};

QMouseEvent leftPress()
{
    return QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
}

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl& url) { opened.append(url); }
};

class TestBanner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void shouldStayLoadingUntilFeedAnswersThenRedrawSingleNotice();
    void shouldRotateActiveNoticesInFeedOrder();
    void shouldFallBackToBuiltInNotices_data();
    void shouldFallBackToBuiltInNotices();
    void shouldShowBuiltInNoticesSoonWhenNetworkIsSilent();
    void shouldTreatOversizedFeedAsFailed_data();
    void shouldTreatOversizedFeedAsFailed();
    void shouldShowPictureWhenItsNoticeIsCurrent();
    void shouldScalePicturesToFitHeader_data();
    void shouldScalePicturesToFitHeader();
    void shouldNotCacheBrokenOrOversizedPictures();
    void shouldChooseBadgeByExactTargetType();
    void shouldShowTitleAndDescriptionAsPlainText();
    void shouldOpenLinkOnPressOnlyWhenThereIsOne();
    void shouldKeepInjectedLinksInert();

private:
    void serveFeed(const QJsonArray& ads)
    {
        Route route;
        route.body = feed(ads);
        m_server.setRoute(QStringLiteral("/api/ads"), route);
    }
    void servePicture(const QString& path, const QByteArray& body, bool held = false)
    {
        Route route;
        route.contentType = "image/png";
        route.body = body;
        route.held = held;
        m_server.setRoute(path, route);
    }

    LocalHttpServer m_server;
    UrlRecorder m_urls;
    const QStringList m_schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                   QStringLiteral("javascript"), QStringLiteral("file")};
};

void TestBanner::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QVERIFY(m_server.start());
    for (const QString& scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, &m_urls, "openUrl");
}

void TestBanner::init()
{
    m_server.reset();
    m_urls.opened.clear();
}

void TestBanner::cleanupTestCase()
{
    for (const QString& scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestBanner::shouldStayLoadingUntilFeedAnswersThenRedrawSingleNotice()
{
    Route route;
    route.held = true;
    route.body = feed({notice(QStringLiteral("A"))});
    m_server.setRoute(QStringLiteral("/api/ads"), route);

    ProbeBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QCOMPARE(banner.label()->objectName(), QStringLiteral("adBanner"));
    QTRY_COMPARE(m_server.requests().size(), 1);
    const SeenRequest seen = m_server.requests().first();
    QCOMPARE(seen.path, QStringLiteral("/api/ads"));
    QCOMPARE(seen.query, QStringLiteral("product=sockwise"));
    QCOMPARE(seen.headers.value("content-type"), QByteArray("application/json"));

    QVERIFY(banner.label()->text().contains(QStringLiteral("广告加载中")));
    QVERIFY(!banner.rotationTimer()->isActive());
    auto press = leftPress();
    QVERIFY(!banner.eventFilter(banner.label(), &press));
    banner.rotateAd();
    QCOMPARE(banner.currentIndex(), 0);

    m_server.release(QStringLiteral("/api/ads"));
    QTRY_COMPARE(titlesOf(banner), QStringList{QStringLiteral("A")});
    QVERIFY(banner.rotationTimer()->isActive());
    QCOMPARE(banner.rotationTimer()->interval(), 5000);

    // A lone notice is drawn again on every rotation (e.g. after a language switch).
    const QString shown = banner.label()->text();
    banner.label()->setText(QStringLiteral("Only in English"));
    banner.rotateAd();
    QCOMPARE(banner.currentIndex(), 0);
    QCOMPARE(banner.label()->text(), shown);
    QCOMPARE(m_server.requests().size(), 1);
}

void TestBanner::shouldRotateActiveNoticesInFeedOrder()
{
    QJsonObject second = notice(QStringLiteral("Second"), 1.0);
    second.insert(QStringLiteral("id"), 42);
    serveFeed({notice(QStringLiteral("First")), notice(QStringLiteral("Off"), 0),
               notice(QStringLiteral("AsText"), QStringLiteral("1")), 17, second,
               notice(QStringLiteral("Fraction"), 1.5), notice(QStringLiteral("True"), true)});

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(titlesOf(banner),
                 (QStringList{QStringLiteral("First"), QStringLiteral("Second")}));
    const AdItem read = banner.notices().at(1);
    QCOMPARE(read.id, 42);
    QCOMPARE(read.targetType, QStringLiteral("product"));
    QCOMPARE(read.linkUrl, QStringLiteral("https://notice.example/Second"));

    const QStringList expected = {QStringLiteral("First"), QStringLiteral("Second"),
                                  QStringLiteral("First")};
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(banner.currentIndex(), int(i % 2));
        QCOMPARE(render(banner.label()->text()).plain, QStringLiteral("品") + expected.at(i));
        banner.rotateAd();
    }

    // The timer drives the same rotation.
    banner.rotationTimer()->setInterval(20);
    QTRY_COMPARE(banner.currentIndex(), 0);
    QTRY_COMPARE(banner.currentIndex(), 1);
}

void TestBanner::shouldFallBackToBuiltInNotices_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    const QJsonArray one = {notice(QStringLiteral("A"))};
    QTest::newRow("success as number") << 200 << feed(one, 1);
    QTest::newRow("success as text") << 200 << feed(one, QStringLiteral("true"));
    QTest::newRow("only status as text")
        << 200 << feed({notice(QStringLiteral("A"), QStringLiteral("1")), 3});
    QTest::newRow("array body") << 200 << QByteArray(R"([{"success":true}])");
    QTest::newRow("broken json") << 200 << QByteArray(R"({"success":true,"ads":[)");
    QTest::newRow("server error") << 500 << feed(one);
}

void TestBanner::shouldFallBackToBuiltInNotices()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    Route route;
    route.status = status;
    route.body = body;
    m_server.setRoute(QStringLiteral("/api/ads"), route);

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(titlesOf(banner), builtInTitles);
    const QList<AdItem> ads = banner.notices();
    QCOMPARE(ads.at(0).linkUrl, m_server.url(QStringLiteral("/")));
    QCOMPARE(ads.at(1).linkUrl, m_server.url(QStringLiteral("/docs/gaugely")));
    QCOMPARE(ads.at(2).linkUrl, m_server.url(QStringLiteral("/")));
    QVERIFY(banner.rotationTimer()->isActive());
    const QString text = banner.label()->text();
    QVERIFY(text.contains(QStringLiteral("background:#64748B")));
    QCOMPARE(render(text).plain, QStringLiteral("AD") + builtInTitles.first());
}

void TestBanner::shouldShowBuiltInNoticesSoonWhenNetworkIsSilent()
{
    Route route;
    route.silent = true;
    m_server.setRoute(QStringLiteral("/api/ads"), route);

    QElapsedTimer clock;
    clock.start();
    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(m_server.requests().size(), 1);
    QVERIFY(banner.label()->text().contains(QStringLiteral("广告加载中")));
    QTRY_COMPARE_WITH_TIMEOUT(titlesOf(banner), builtInTitles, 15000);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));

    banner.rotationTimer()->setInterval(20);
    QTRY_COMPARE(banner.currentIndex(), 1);
    QVERIFY(render(banner.label()->text()).plain.endsWith(builtInTitles.at(1)));
    QTRY_COMPARE(banner.currentIndex(), 2);
}

void TestBanner::shouldTreatOversizedFeedAsFailed_data()
{
    QTest::addColumn<bool>("sendLength");
    QTest::newRow("announced length") << true;
    QTest::newRow("until close") << false;
}

void TestBanner::shouldTreatOversizedFeedAsFailed()
{
    QFETCH(bool, sendLength);
    // Valid and active, only too big: without a cap it would be shown.
    QJsonObject huge = notice(QStringLiteral("Huge"));
    huge.insert(QStringLiteral("description"),
                QString(int(AdBanner::maxReplyBytes) + 1024, QLatin1Char('x')));
    Route route;
    route.sendLength = sendLength;
    route.body = feed({huge});
    m_server.setRoute(QStringLiteral("/api/ads"), route);

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE_WITH_TIMEOUT(titlesOf(banner), builtInTitles, 10000);

    // A feed just under the cap is still read.
    huge.insert(QStringLiteral("description"),
                QString(int(AdBanner::maxReplyBytes) - 4096, QLatin1Char('x')));
    route.body = feed({huge});
    m_server.setRoute(QStringLiteral("/api/ads"), route);
    AdBanner accepted(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE_WITH_TIMEOUT(titlesOf(accepted), QStringList{QStringLiteral("Huge")}, 10000);
}

void TestBanner::shouldShowPictureWhenItsNoticeIsCurrent()
{
    const QString urlA = m_server.url(QStringLiteral("/img/a.png"));
    const QString urlB = m_server.url(QStringLiteral("/img/b.png"));
    serveFeed({pictureNotice(QStringLiteral("A"), urlA), pictureNotice(QStringLiteral("B"), urlB)});
    servePicture(QStringLiteral("/img/a.png"), png(40, 20), true);
    servePicture(QStringLiteral("/img/b.png"), png(30, 30), true);

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(m_server.requests().size(), 3);
    const Rendered waiting = render(banner.label()->text());
    QCOMPARE(waiting.plain, QStringLiteral("品A — 图片加载中..."));
    QCOMPARE(waiting.hrefs, QStringList{QStringLiteral("https://notice.example/A")});
    banner.rotateAd();
    const QString showingB = banner.label()->text();
    QCOMPARE(render(showingB).plain, QStringLiteral("品B — 图片加载中..."));

    // A's picture arrives while B is shown: cached, but B stays.
    m_server.release(QStringLiteral("/img/a.png"));
    QTRY_VERIFY(banner.hasCachedPicture(urlA));
    QCOMPARE(banner.label()->text(), showingB);

    // B's arrives while B is current: swapped in at once, still linked.
    m_server.release(QStringLiteral("/img/b.png"));
    QTRY_VERIFY(!shownPicture(banner.label()).isNull());
    QCOMPARE(shownPicture(banner.label()).size(), QSize(30, 30));
    QCOMPARE(render(banner.label()->text()).hrefs,
             QStringList{QStringLiteral("https://notice.example/B")});

    banner.rotateAd();
    QCOMPARE(shownPicture(banner.label()).size(), QSize(40, 20));
}

void TestBanner::shouldScalePicturesToFitHeader_data()
{
    QTest::addColumn<QSize>("original");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("tall") << QSize(1000, 100) << QSize(360, 36);
    QTest::newRow("wide") << QSize(2000, 40) << QSize(500, 10);
    QTest::newRow("small") << QSize(20, 10) << QSize(20, 10);
    QTest::newRow("exact") << QSize(500, 36) << QSize(500, 36);
}

void TestBanner::shouldScalePicturesToFitHeader()
{
    QFETCH(QSize, original);
    QFETCH(QSize, shown);
    serveFeed({pictureNotice(QStringLiteral("Pic"), m_server.url(QStringLiteral("/img/s.png")))});
    servePicture(QStringLiteral("/img/s.png"), png(original.width(), original.height()));

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_VERIFY(!shownPicture(banner.label()).isNull());
    QCOMPARE(shownPicture(banner.label()).size(), shown);
}

void TestBanner::shouldNotCacheBrokenOrOversizedPictures()
{
    const QString junkUrl = m_server.url(QStringLiteral("/img/junk.png"));
    const QString bigUrl = m_server.url(QStringLiteral("/img/big.png"));
    const QString paddedUrl = m_server.url(QStringLiteral("/img/padded.png"));
    const QString missingUrl = m_server.url(QStringLiteral("/img/missing.png"));
    const QString localUrl = QStringLiteral("file:///etc/hostname");
    serveFeed({pictureNotice(QStringLiteral("Junk"), junkUrl),
               pictureNotice(QStringLiteral("Big"), bigUrl),
               pictureNotice(QStringLiteral("Padded"), paddedUrl),
               pictureNotice(QStringLiteral("Missing"), missingUrl),
               pictureNotice(QStringLiteral("Local"), localUrl)});
    servePicture(QStringLiteral("/img/junk.png"), "definitely not a picture");
    // A decodable picture dragging megabytes of trailing bytes behind it.
    Route big;
    big.sendLength = false;
    big.body = png(10, 10) + QByteArray(int(AdBanner::maxReplyBytes) + 1024, 'z');
    m_server.setRoute(QStringLiteral("/img/big.png"), big);
    servePicture(QStringLiteral("/img/padded.png"), png(10, 10) + QByteArray(1024, 'z'));

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QSignalSpy finished(banner.networkManager(), &QNetworkAccessManager::finished);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 5, 10000);

    QVERIFY(banner.hasCachedPicture(paddedUrl)); // trailing bytes alone are no reason
    for (const QString& url : {junkUrl, bigUrl, missingUrl, localUrl})
        QVERIFY2(!banner.hasCachedPicture(url), qPrintable(url));
    QCOMPARE(m_server.requests().size(), 5); // the local file is never asked for

    QVERIFY(render(banner.label()->text()).plain.endsWith(QStringLiteral("图片加载中...")));
    banner.rotateAd();
    QVERIFY(render(banner.label()->text()).plain.endsWith(QStringLiteral("图片加载中...")));
}

void TestBanner::shouldChooseBadgeByExactTargetType()
{
    const QStringList types = {QStringLiteral("product"), QStringLiteral("line"),
                               QStringLiteral("Product"), QString()};
    const QStringList colors = {QStringLiteral("#10B981"), QStringLiteral("#8B5CF6"),
                                QStringLiteral("#64748B"), QStringLiteral("#64748B")};
    const QStringList badges = {QStringLiteral("品"), QStringLiteral("线"), QStringLiteral("AD"),
                                QStringLiteral("AD")};
    QJsonArray ads;
    for (qsizetype i = 0; i < types.size(); ++i) {
        QJsonObject obj = notice(QStringLiteral("T%1").arg(i));
        if (types.at(i).isEmpty())
            obj.remove(QStringLiteral("target_type"));
        else
            obj.insert(QStringLiteral("target_type"), types.at(i));
        ads.append(obj);
    }
    serveFeed(ads);

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(banner.notices().size(), 4);
    for (qsizetype i = 0; i < types.size(); ++i) {
        const QString text = banner.label()->text();
        QVERIFY2(text.contains(QStringLiteral("background:") + colors.at(i)), qPrintable(text));
        QCOMPARE(render(text).plain, badges.at(i) + QStringLiteral("T%1").arg(i));
        banner.rotateAd();
    }
}

void TestBanner::shouldShowTitleAndDescriptionAsPlainText()
{
    const QString title = QStringLiteral("50%1 off <b>now</b> & \"more\" 'x' %2");
    const QString description = QStringLiteral("<i>%1</i> – see </span>");
    QJsonObject obj = notice(title);
    obj.insert(QStringLiteral("description"), description);
    serveFeed({obj, notice(QStringLiteral("Bare"))});

    AdBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(banner.notices().size(), 2);
    const Rendered shown = render(banner.label()->text());
    QCOMPARE(shown.plain, QStringLiteral("品") + title + QStringLiteral(" — ") + description);
    QVERIFY(!shown.hasFormattedRun);
    QVERIFY(banner.label()->text().contains(QStringLiteral("color:#94A3B8")));

    banner.rotateAd();
    QCOMPARE(render(banner.label()->text()).plain, QStringLiteral("品Bare"));
}

void TestBanner::shouldOpenLinkOnPressOnlyWhenThereIsOne()
{
    const QString link = QStringLiteral("https://notice.example/p?a=1&b=%E4%B8%AD#top");
    QJsonObject linked = notice(QStringLiteral("Go"));
    linked.insert(QStringLiteral("link_url"), link);
    QJsonObject unlinked = notice(QStringLiteral("Nowhere"));
    unlinked.remove(QStringLiteral("link_url"));
    serveFeed({linked, unlinked});

    ProbeBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(banner.notices().size(), 2);
    QCOMPARE(render(banner.label()->text()).hrefs, QStringList{link});

    auto press = leftPress();
    QVERIFY(banner.eventFilter(banner.label(), &press));
    QCOMPARE(m_urls.opened.size(), 1);
    QCOMPARE(m_urls.opened.first().toEncoded(), link.toUtf8());
    // Through ordinary delivery as well; other events are left alone.
    QTest::mousePress(banner.label(), Qt::LeftButton);
    QCOMPARE(m_urls.opened.size(), 2);
    QEvent enter(QEvent::Enter);
    QVERIFY(!banner.eventFilter(banner.label(), &enter));

    banner.rotateAd();
    QCOMPARE(render(banner.label()->text()).hrefs, QStringList{QStringLiteral("#")});
    QVERIFY(!banner.eventFilter(banner.label(), &press));
    QCOMPARE(m_urls.opened.size(), 2);
}

void TestBanner::shouldKeepInjectedLinksInert()
{
    const QString injected = QStringLiteral(
        "https://notice.example/a' style='x'><b>pwn</b><a href=\"https://evil.example/");
    // A trailing backslash would escape the closing quote and let the title's
    // own quote end the attribute instead.
    const QString backslash = QStringLiteral("https://notice.example/b\\");
    const QString quotingTitle = QStringLiteral("it's <i>x</i>' ><b>pwn</b>");
    QJsonObject first = notice(QStringLiteral("One"));
    first.insert(QStringLiteral("link_url"), injected);
    first.insert(QStringLiteral("target_type"), QStringLiteral("line"));
    QJsonObject second = notice(quotingTitle);
    second.insert(QStringLiteral("link_url"), backslash);
    QJsonObject third = notice(QStringLiteral("Script"));
    third.insert(QStringLiteral("link_url"), QStringLiteral("javascript:alert(1)"));
    QJsonObject fourth = notice(QStringLiteral("Local"));
    fourth.insert(QStringLiteral("link_url"), QStringLiteral("file:///etc/passwd"));
    Route route;
    route.body = feed({first, second, third, fourth});
    m_server.setRoute(QStringLiteral("/api/ads"), route);

    ProbeBanner banner(QStringLiteral("sockwise"), nullptr, m_server.baseUrl());
    QTRY_COMPARE(banner.notices().size(), 4);

    // The whole link stays inside its attribute: one anchor, no markup of its own,
    // and the press opens exactly the link of the feed.
    auto press = leftPress();
    const QStringList links = {injected, backslash};
    const QStringList shownText = {QStringLiteral("线One"), QStringLiteral("品") + quotingTitle};
    for (qsizetype i = 0; i < links.size(); ++i) {
        const Rendered shown = render(banner.label()->text());
        QCOMPARE(shown.plain, shownText.at(i));
        QCOMPARE(shown.hrefs.size(), 1);
        QCOMPARE(QUrl::fromPercentEncoding(shown.hrefs.first().toUtf8()), links.at(i));
        QVERIFY(!shown.hasFormattedRun);
        QVERIFY(banner.eventFilter(banner.label(), &press));
        QCOMPARE(m_urls.opened.last(), QUrl(links.at(i)));
        banner.rotateAd();
    }

    // Links that are not web addresses are neither placed nor opened.
    for (const QString& title : {QStringLiteral("Script"), QStringLiteral("Local")}) {
        const Rendered other = render(banner.label()->text());
        QCOMPARE(other.plain, QStringLiteral("品") + title);
        QCOMPARE(other.hrefs, QStringList{QStringLiteral("#")});
        QVERIFY(!banner.eventFilter(banner.label(), &press));
        banner.rotateAd();
    }
    QCOMPARE(m_urls.opened.size(), 2);
}

QTEST_MAIN(TestBanner)
#include "tst_banner.moc"
