#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkCookie>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkRequest;

// Request signing shared with the service: the client identification, the
// time stamp, the HMAC-SHA1 URL signature and the token JSON that the
// Authorization header and the signed media URL carry.

// "/kendro_vorb_de_desktop/<version>/<first address, colons removed, 12 characters>/".
// The address list is read at most once a second.
QByteArray clientIdentity();

// Current time in seconds plus the stamp offset, in decimal, base64-encoded.
QString signatureStamp();

// Base64 of HMAC-SHA1(key, message): 28 characters.
QString urlSignature(const QByteArray& key, const QByteArray& message);

// "http://<service>/api/v3/media/mp3/<id>?agent=<identity>&token=QYN <token>".
QString signedMediaUrl(const QString& articleId);

namespace Signing {

// The HMAC key and the offset added to the clock; both are shared with the service.
inline constexpr const char salt[] = "%7Kbmqx4Tde81r";
inline constexpr qint64 stampOffset = 27340519;

QByteArray saltBytes();

// The address part of the identification for an address list (empty list: empty part).
QByteArray identityFor(const QList<QHostAddress>& addresses);

// The stamp for a given clock value in seconds.
QString stampFor(qint64 seconds);

// {"t":…,"token":…,"urlsign":…,"userid":…} without whitespace. Values are
// written as JSON strings, so a quote or backslash in a cookie stays inside
// its member; ordinary values come out exactly as they are.
QByteArray tokenJson(const QString& stamp, const QString& token, const QString& urlsign, const QString& userid);

// "QYN " + base64 of the token JSON.
QByteArray authorization(const QByteArray& tokenJson);

// The text a request URL is signed over: the URL in its default (pretty-decoded)
// form with every "scheme://host" removed, so a port stays in front of the path.
QString pathText(const QUrl& url);

// Adds Authorization, User-Agent and MarloUserAgent to a request, taking the
// token and user id from the first cookies of those names.
void signRequest(QNetworkRequest& request, const QList<QNetworkCookie>& cookies);

// Test seams: replace the address list or the clock; pass nullptr to restore.
void setAddressSource(std::function<QList<QHostAddress>()> source);
void setClock(std::function<qint64()> clock);

} // namespace Signing
