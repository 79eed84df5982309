#include "bridge/bridgepage.h"

#include "core/trust.h"
#include "desktop/desktop.h"

#include <QNetworkRequest>
#include <QUrl>
#include <QWebFrame>
#include <QtDebug>

BridgePage::BridgePage(QObject* parent) : QWebPage(parent) {}

bool BridgePage::acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type) {
    const QUrl url = request.url();
    // Frames inside a page never see a bridge; only where the window goes matters.
    if (frame != mainFrame() || Trust::isOwnPage(url))
        return QWebPage::acceptNavigationRequest(frame, request, type);
    // An empty document (setHtml) carries no bridge and reads nothing.
    if (url.toString() == QLatin1String("about:blank"))
        return QWebPage::acceptNavigationRequest(frame, request, type);
    if (Trust::mayOpenInBrowser(url))
        Desktop::openUrl(url);
    else
        qWarning("Refused to leave the page for %s", qUtf8Printable(url.toString()));
    return false;
}
