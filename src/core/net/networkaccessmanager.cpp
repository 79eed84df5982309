#include "core/net/networkaccessmanager.h"

#include "core/serviceconfig.h"
#include "core/signing.h"

#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QSslConfiguration>

MyCookieJar::MyCookieJar(QObject* parent) : QNetworkCookieJar(parent) {}

QList<QNetworkCookie> MyCookieJar::allCookies() const {
    return QNetworkCookieJar::allCookies();
}

NetworkAccessManager::NetworkAccessManager(QNetworkAccessManager* oldManager, QObject* parent)
    : QNetworkAccessManager(parent), cookieJar(new MyCookieJar(nullptr)) {
    ServiceConfig::installTlsDefaults();
    if (oldManager) {
        setCache(oldManager->cache());
        // Setting a factory (even none) clears the proxy and vice versa, so take
        // over whichever of the two the old manager actually uses.
        if (QNetworkProxyFactory* factory = oldManager->proxyFactory())
            setProxyFactory(factory);
        else
            setProxy(oldManager->proxy());
    }
    // setCookieJar makes the manager the jar's parent, so the jar goes with it.
    setCookieJar(cookieJar);
}

NetworkAccessManager::~NetworkAccessManager() = default;

QNetworkReply* NetworkAccessManager::createRequest(Operation op, const QNetworkRequest& request,
                                                   QIODevice* outgoingData) {
    QNetworkRequest signedRequest(request);
    // Peers are always verified; only TLS 1.2 or later.
    QSslConfiguration ssl = request.sslConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
    ssl.setProtocol(QSsl::TlsV1_2OrLater);
    signedRequest.setSslConfiguration(ssl);

    // Cookies are read afresh, so one set by a response signs the next request.
    Signing::signRequest(signedRequest, cookieJar->allCookies());
    return QNetworkAccessManager::createRequest(op, signedRequest, outgoingData);
}
