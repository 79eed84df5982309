#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

// A cookie jar that lets its owner read every cookie; cookies live in memory
// only and are gone at exit. The session token cookie is sent only to the
// service's https origin: the jar would otherwise hand it to every port and
// scheme of the service's host.
class MyCookieJar : public QNetworkCookieJar {
    Q_OBJECT

public:
    explicit MyCookieJar(QObject* parent);

    QList<QNetworkCookie> allCookies() const;
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    // A token cookie that a request to url would carry if the jar let it.
    bool withholdsTokenFrom(const QUrl& url) const;
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
    // a fresh cookie jar of its own.
    NetworkAccessManager(QNetworkAccessManager* oldManager, QObject* parent);
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
    explicit PageNetworkManager(QObject* parent);

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;
};
