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

// The network manager of the main and offline-data pages: every request it
// sends carries the signed Authorization header and the client identification.
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
