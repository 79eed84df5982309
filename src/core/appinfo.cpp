#include "core/appinfo.h"

#include "core/serviceconfig.h"

#include <QCoreApplication>
#include <QUrl>

namespace AppInfo {

QString applicationDirectory() {
    return QCoreApplication::applicationDirPath();
}

QString pageUrl(const QString& pagePath) {
    return QStringLiteral("file:///") + applicationDirectory() + pagePath;
}

QString indexPageUrl() {
    return pageUrl(QStringLiteral("/static/index.html?lang=de&version=") + QLatin1String(version));
}

QString localArticlePageUrl(const QString& channelId, const QString& articleId) {
    return pageUrl(QStringLiteral("/local/local.html?lang=de") + QStringLiteral("&channelId=") + channelId +
                   QStringLiteral("&articleId=") + articleId);
}

QString listenPageUrl() {
    return pageUrl(QStringLiteral("/local/listen.html"));
}

QString paragraphPageUrl() {
    return pageUrl(QStringLiteral("/local/paragraph.html"));
}

QString serviceWebsiteUrl() {
    // The service's own pages live on its HTTP side.
    return ServiceConfig::httpBase() + QStringLiteral("/");
}

QString serviceSupportUrl() {
    return serviceWebsiteUrl() + QStringLiteral("support");
}

} // namespace AppInfo
