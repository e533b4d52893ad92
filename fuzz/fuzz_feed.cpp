// The banner's notice feed: a reply body from a web service we do not control.
#include "banner/AdBanner.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "feed invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<AdItem> notices = AdBanner::parseNotices(body);

    // Never more notices than the feed lists, and none from a failed feed.
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const bool success =
        doc.isObject() && doc.object().value(QStringLiteral("success")).toBool(false);
    if (!success)
        check(notices.isEmpty(), "a failed feed gives no notices");
    else
        check(notices.size() <= doc.object().value(QStringLiteral("ads")).toArray().size(),
              "at most one notice per listed entry");
    check(AdBanner::parseNotices(body).size() == notices.size(), "parsing keeps no state");

    // Whatever the feed says, only web links with a host are ever followed.
    for (const AdItem& notice : notices) {
        for (const QString& link : {notice.linkUrl, notice.imageUrl}) {
            if (!AdBanner::isOpenableLink(link))
                continue;
            const QUrl url(link);
            const QString scheme = url.scheme().toLower();
            check(scheme == QLatin1String("http") || scheme == QLatin1String("https"),
                  "followed links are web links");
            check(!url.host().isEmpty(), "followed links name a host");
        }
    }
    return 0;
}
