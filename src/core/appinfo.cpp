#include "core/appinfo.h"

#include "core/pageprotocol.h"
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
    return pageUrl(PageProtocol::indexPage + QString::fromLatin1(version));
}

QString localArticlePageUrl(const QString& channelId, const QString& articleId) {
    return pageUrl(QString(PageProtocol::localArticlePage) + PageProtocol::channelIdQuery + channelId +
                   PageProtocol::articleIdQuery + articleId);
}

QString listenPageUrl() {
    return pageUrl(PageProtocol::listenPage);
}

QString paragraphPageUrl() {
    return pageUrl(PageProtocol::paragraphPage);
}

QString serviceWebsiteUrl() {
    // The service's own pages live on its HTTP side.
    return ServiceConfig::httpBase() + QStringLiteral("/");
}

QString serviceSupportUrl() {
    return serviceWebsiteUrl() + QStringLiteral("support");
}

} // namespace AppInfo
