#include "core/signing.h"

#include "core/appinfo.h"
#include "core/pageprotocol.h"
#include "core/serviceconfig.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMessageAuthenticationCode>
#include <QNetworkInterface>
#include <QNetworkRequest>
#include <QUrl>

#include <ctime>

namespace Signing {

namespace {

std::function<QList<QHostAddress>()>& addressSource() {
    static std::function<QList<QHostAddress>()> source;
    return source;
}

std::function<qint64()>& clock() {
    static std::function<qint64()> source;
    return source;
}

QString firstCookieValue(const QList<QNetworkCookie>& cookies, const QByteArray& name) {
    for (const QNetworkCookie& cookie : cookies) {
        if (cookie.name() == name)
            return QString::fromUtf8(cookie.value());
    }
    return QString();
}

void appendJsonString(QByteArray& out, const QString& value) {
    out += '"';
    // Escaping on the UTF-8 bytes: every byte of a multi-byte sequence is >= 0x80.
    for (const char byte : value.toUtf8()) {
        const auto u = static_cast<unsigned char>(byte);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += byte;
        } else if (u < 0x20) {
            out += "\\u00";
            out += QByteArray::number(u, 16).rightJustified(2, '0');
        } else {
            out += byte;
        }
    }
    out += '"';
}

} // namespace

QByteArray saltBytes() {
    return QByteArray(salt);
}

QByteArray identityFor(const QList<QHostAddress>& addresses) {
    QString address = addresses.isEmpty() ? QString() : addresses.first().toString();
    address.remove(QLatin1Char(':'));
    return QByteArrayLiteral("/kendro_vorb_de_desktop/") + AppInfo::version + '/' + address.left(12).toUtf8() + '/';
}

QString stampFor(qint64 seconds) {
    return QString::fromLatin1(QByteArray::number(seconds + stampOffset).toBase64());
}

QByteArray tokenJson(const QString& stamp, const QString& token, const QString& urlsign, const QString& userid) {
    QByteArray out;
    out.reserve(96 + token.size() + userid.size());
    out += "{\"t\":";
    appendJsonString(out, stamp);
    out += ",\"token\":";
    appendJsonString(out, token);
    out += ",\"urlsign\":";
    appendJsonString(out, urlsign);
    out += ",\"userid\":";
    appendJsonString(out, userid);
    out += '}';
    return out;
}

QByteArray authorization(const QByteArray& json) {
    return QByteArrayLiteral("QYN ") + json.toBase64();
}

QString pathText(const QUrl& url) {
    QString text = url.toString();
    text.remove(url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyDecoded));
    return text;
}

void signRequest(QNetworkRequest& request, const QList<QNetworkCookie>& cookies) {
    const QString token = firstCookieValue(cookies, QByteArrayLiteral("token"));
    const QString userid = firstCookieValue(cookies, QByteArrayLiteral("userid"));
    const QString stamp = signatureStamp();
    const QString urlsign = urlSignature(saltBytes(), pathText(request.url()).toUtf8());
    const QByteArray identity = clientIdentity();
    request.setRawHeader(QByteArrayLiteral("Authorization"), authorization(tokenJson(stamp, token, urlsign, userid)));
    request.setRawHeader(QByteArrayLiteral("User-Agent"), identity);
    request.setRawHeader(ServiceProtocol::userAgentHeader, identity);
}

void setAddressSource(std::function<QList<QHostAddress>()> source) {
    addressSource() = std::move(source);
}

void setClock(std::function<qint64()> source) {
    clock() = std::move(source);
}

} // namespace Signing

QByteArray clientIdentity() {
    const auto& source = Signing::addressSource();
    if (source)
        return Signing::identityFor(source());
    // Enumerating the interfaces costs more than the rest of the signing together
    // (a tenth of a loopback round trip), so the result is reused for a second;
    // a changed address is still picked up promptly.
    static QByteArray identity;
    static QElapsedTimer age;
    if (!age.isValid() || age.hasExpired(1000)) {
        identity = Signing::identityFor(QNetworkInterface::allAddresses());
        age.start();
    }
    return identity;
}

QString signatureStamp() {
    const auto& source = Signing::clock();
    // The service expects the 32-bit seconds of time().
    return Signing::stampFor(source ? source() : qint64(qint32(std::time(nullptr))));
}

QString urlSignature(const QByteArray& key, const QByteArray& message) {
    return QString::fromLatin1(QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha1).toBase64());
}

QString signedMediaUrl(const QString& articleId) {
    const QByteArray identity = clientIdentity();
    const QString path = ServiceProtocol::signedMediaPath + articleId + QStringLiteral("?agent=") +
                         QString::fromUtf8(identity.constData()); // up to the first NUL
    const QString urlsign = urlSignature(Signing::saltBytes(), path.toUtf8());
    const QByteArray json = Signing::tokenJson(signatureStamp(), QString(), urlsign, QStringLiteral(" "));
    return ServiceConfig::httpBase() + path + QStringLiteral("&token=") +
           QString::fromLatin1(Signing::authorization(json));
}
