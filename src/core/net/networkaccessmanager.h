#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

// A cookie jar that lets its owner read every cookie; cookies live in memory
// only and are gone at exit.
class MyCookieJar : public QNetworkCookieJar {
    Q_OBJECT

public:
    explicit MyCookieJar(QObject* parent);

    QList<QNetworkCookie> allCookies() const;
};

// The network manager of the main and offline-data pages. Requests to the
// configured service carry the signed Authorization header and the client
// identification, with the token and user id of the service's cookies; every
// other request goes out as the page made it. file: loads outside the folders
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
