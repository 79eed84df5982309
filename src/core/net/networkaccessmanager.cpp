#include "core/net/networkaccessmanager.h"

#include "core/serviceconfig.h"
#include "core/signing.h"
#include "core/trust.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QtDebug>

#include <algorithm>

namespace {

// The answer to a refused request: it fails at once, as a missing file would.
class RefusedReply : public QNetworkReply {
public:
    RefusedReply(QNetworkAccessManager::Operation op, const QNetworkRequest& request, QObject* parent)
        : QNetworkReply(parent) {
        setRequest(request);
        setUrl(request.url());
        setOperation(op);
        open(QIODevice::ReadOnly);
        setError(ContentAccessDenied, QStringLiteral("Access to %1 is not allowed").arg(request.url().toString()));
        // Reported from the event loop, once the caller has connected to the reply.
        QTimer::singleShot(0, this, [this] {
            setFinished(true);
            emit errorOccurred(error());
            emit finished();
        });
    }
    void abort() override {}
    qint64 bytesAvailable() const override { return 0; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
};

// A file: load outside the folders pages may read gets a refusal instead.
QNetworkReply* refusal(QNetworkAccessManager::Operation op, const QNetworkRequest& request, QObject* parent) {
    if (Trust::mayLoadFile(request.url()))
        return nullptr;
    qWarning("Refused a page's request for %s", qUtf8Printable(request.url().toString()));
    return new RefusedReply(op, request, parent);
}

bool isToken(const QNetworkCookie& cookie) {
    return cookie.name() == QByteArrayLiteral("token");
}

// The one origin the session token may travel to.
bool isSecureService(const QUrl& url) {
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 && Trust::isServiceUrl(url);
}

} // namespace

MyCookieJar::MyCookieJar(QObject* parent) : QNetworkCookieJar(parent) {}

QList<QNetworkCookie> MyCookieJar::allCookies() const {
    return QNetworkCookieJar::allCookies();
}

QList<QNetworkCookie> MyCookieJar::cookiesForUrl(const QUrl& url) const {
    QList<QNetworkCookie> cookies = QNetworkCookieJar::cookiesForUrl(url);
    if (!isSecureService(url))
        cookies.erase(std::remove_if(cookies.begin(), cookies.end(), isToken), cookies.end());
    return cookies;
}

bool MyCookieJar::withholdsTokenFrom(const QUrl& url) const {
    if (isSecureService(url))
        return false;
    const QList<QNetworkCookie> cookies = QNetworkCookieJar::cookiesForUrl(url);
    return std::any_of(cookies.begin(), cookies.end(), isToken);
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
    if (QNetworkReply* refused = refusal(op, request, this))
        return refused;
    QNetworkRequest sent(request);
    // Peers are always verified; only TLS 1.2 or later.
    QSslConfiguration ssl = request.sslConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
    ssl.setProtocol(QSsl::TlsV1_2OrLater);
    sent.setSslConfiguration(ssl);

    // The token goes to the service alone. A redirect comes back here as a request
    // of its own, so it is judged by where it leads.
    if (Trust::isServiceUrl(sent.url())) {
        sent.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        // Anyone on the network could read it over plain http.
        if (cookieJar->withholdsTokenFrom(sent.url()))
            qWarning("Sent %s without the session token: it goes over https only",
                     qUtf8Printable(sent.url().toString(QUrl::RemoveQuery)));
        // Cookies are read afresh, so one set by a response signs the next request.
        Signing::signRequest(sent, cookieJar->cookiesForUrl(sent.url()));
    }
    return QNetworkAccessManager::createRequest(op, sent, outgoingData);
}

PageNetworkManager::PageNetworkManager(QObject* parent) : QNetworkAccessManager(parent) {
    ServiceConfig::installTlsDefaults();
}

QNetworkReply* PageNetworkManager::createRequest(Operation op, const QNetworkRequest& request,
                                                 QIODevice* outgoingData) {
    if (QNetworkReply* refused = refusal(op, request, this))
        return refused;
    return QNetworkAccessManager::createRequest(op, request, outgoingData);
}
