#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

#include <memory>

// The cookies of one main window's pages, in memory only and gone at exit. Each
// page's manager has a jar of its own (a manager owns its jar and deletes it)
// that keeps its cookies here, so a sign-in on the main page signs the
// offline-data page's downloads too.
class CookieStore : public QNetworkCookieJar {
public:
    CookieStore() : QNetworkCookieJar(nullptr) {}
    using QNetworkCookieJar::allCookies;
};

// A cookie jar that lets its owner read every cookie, kept in a store it may
// share with the jars of the window's other pages. The session token cookie is
// sent only to the service's https origin: the jar would otherwise hand it to
// every port and scheme of the service's host.
class MyCookieJar : public QNetworkCookieJar {
    Q_OBJECT

public:
    // Without a store the jar keeps its cookies to itself.
    explicit MyCookieJar(QObject* parent, std::shared_ptr<CookieStore> shared = nullptr);

    QList<QNetworkCookie> allCookies() const;
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;
    bool insertCookie(const QNetworkCookie& cookie) override;
    bool updateCookie(const QNetworkCookie& cookie) override;
    bool deleteCookie(const QNetworkCookie& cookie) override;
    // A token cookie that a request to url would carry if the jar let it.
    bool withholdsTokenFrom(const QUrl& url) const;

private:
    const std::shared_ptr<CookieStore> store;
};

// The network manager of the main and offline-data pages. Requests to the
// configured service carry the signed Authorization header and the client
// identification, with the token and user id of the service's cookies; the
// token only over https (a plain http request is signed without it, with a
// log line); every other request goes out as the page made it. file: loads outside the folders
// pages may read are refused.
class NetworkAccessManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    // Takes over the old manager's cache, proxy and proxy factory and installs
    // a cookie jar of its own, on the window's shared cookies when given.
    NetworkAccessManager(QNetworkAccessManager* oldManager, QObject* parent,
                         std::shared_ptr<CookieStore> cookies = nullptr);
    ~NetworkAccessManager() override;

    MyCookieJar* cookieJar;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;
};

// The network manager of the views that sign nothing (the paragraph page and
// pop-ups): it only refuses file: loads outside the folders pages may read.
class PageNetworkManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    // With cookies, its jar keeps them with the window's other pages.
    explicit PageNetworkManager(QObject* parent, std::shared_ptr<CookieStore> cookies = nullptr);

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;
};
