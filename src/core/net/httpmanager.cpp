#include "core/net/httpmanager.h"

#include "core/pageprotocol.h"
#include "core/serviceconfig.h"
#include "core/signing.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include <memory>

namespace {

const QString cannotWriteFile = QStringLiteral("Cannot Write File");

// Caps what the network layer buffers ahead of our writes to the file.
constexpr qint64 downloadBufferSize = 1024 * 1024;

// True once the caller's context object is gone; never true without a context.
std::function<bool()> abandonedWith(QObject* context) {
    if (!context)
        return [] { return false; };
    const QPointer<QObject> alive(context);
    return [alive] { return alive.isNull(); };
}

// The callback, skipped once the context is gone.
template <typename... Args>
std::function<void(Args...)> guarded(QObject* context, std::function<void(Args...)> callback) {
    if (!context)
        return callback;
    const std::function<bool()> abandoned = abandonedWith(context);
    return [abandoned, callback](Args... args) {
        if (!abandoned())
            callback(args...);
    };
}

} // namespace

HttpManager* HttpManager::instance() {
    static HttpManager* manager = new HttpManager; // lives for the whole run
    return manager;
}

HttpManager::HttpManager() : network(new QNetworkAccessManager(nullptr)), timeoutMs(5000), cancelRequested(false) {
    ServiceConfig::installTlsDefaults();
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery());
    if (!proxies.isEmpty())
        network->setProxy(proxies.first());
}

void HttpManager::prepareRequest(const QString& path, QNetworkRequest& request) {
    request.setUrl(QUrl(ServiceConfig::httpsBase() + path, QUrl::TolerantMode));
    const QByteArray identity = clientIdentity();
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromUtf8(identity.constData()));
    request.setRawHeader(ServiceProtocol::userAgentHeader, QString::fromUtf8(identity).toUtf8());
}

void HttpManager::getRequest(const QString& path, std::function<void(QNetworkReply*, NetwordReplyType)> callback,
                             QObject* context) {
    callback = guarded(context, std::move(callback));
    QNetworkRequest request;
    prepareRequest(path, request);
    QNetworkReply* reply = network->get(request);
    const QPointer<QNetworkReply> guard(reply);

    // Not tied to any object: every request ends with this call, finished or not.
    QTimer::singleShot(timeoutMs, [guard, callback] {
        if (!guard) {
            qWarning() << "HTTP reply vanished before its time-out";
            return;
        }
        if (!guard->isFinished())
            guard->abort();
        callback(guard.data(), ReplyTimeout);
        guard->deleteLater();
    });
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, callback] { callback(reply, ReplyFinished); },
        Qt::DirectConnection);
    QObject::connect(
        reply, &QNetworkReply::errorOccurred, reply, [reply, callback] { callback(reply, ReplyError); },
        Qt::DirectConnection);
}

void HttpManager::resolveRedirect(const QString& url, std::function<void(bool, QString)> callback, QObject* context) {
    callback = guarded(context, std::move(callback));
    QNetworkReply* reply = network->head(QNetworkRequest(QUrl(url)));
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, url, callback] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        reply->deleteLater();
        if (status == 301 || status == 302) {
            // A relative Location means nothing to the player; make it absolute.
            QString target =
                reply->url().resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl()).toString();
            target.replace(QStringLiteral("%2F"), QStringLiteral("%2f"));
            target.replace(QStringLiteral("%3D"), QStringLiteral("%3d"));
            callback(true, target);
        } else {
            callback(false, url);
        }
    });
}

void HttpManager::checkUpdate(std::function<void(bool, QString)> callback, QObject* context) {
    callback = guarded(context, std::move(callback));
    getRequest(ServiceProtocol::checkVersionPath, [callback](QNetworkReply* reply, NetwordReplyType type) {
        if (type != ReplyFinished)
            return;
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
            callback(false, QString());
            return;
        }
        const QString body = QString::fromUtf8(reply->readAll());
        if (body == QString::fromUtf8(ServiceProtocol::noUpdateAnswer))
            callback(false, QString());
        else
            callback(true, body);
    });
}

void HttpManager::downloadFile(const QString& url, const QString& path, std::function<void(qint64, qint64)> progress,
                               std::function<void(bool, QString)> finished, QObject* context) {
    cancelRequested = false;
    progress = guarded(context, std::move(progress));
    finished = guarded(context, std::move(finished));
    const std::function<bool()> abandoned = abandonedWith(context);
    resolveRedirect(url, [this, path, progress, finished, abandoned](bool, const QString& resolved) {
        if (!abandoned())
            startDownload(resolved, path, progress, finished, abandoned);
    });
}

void HttpManager::startDownload(const QString& url, const QString& path, std::function<void(qint64, qint64)> progress,
                                std::function<void(bool, QString)> finished, const std::function<bool()>& abandoned) {
    const QString temporary = path + QStringLiteral(".tmp");
    if (QFile::exists(temporary) && !QFile::remove(temporary)) {
        finished(false, cannotWriteFile);
        return;
    }
    // Shared by the reply's handlers; whichever ends the transfer closes it.
    auto file = std::make_shared<QFile>(temporary);
    if (!file->open(QIODevice::WriteOnly)) {
        finished(false, cannotWriteFile);
        return;
    }

    QNetworkReply* reply = network->get(QNetworkRequest(QUrl(url)));
    reply->setReadBufferSize(downloadBufferSize);
    auto writeFailed = std::make_shared<bool>(false);
    auto written = std::make_shared<qint64>(0);

    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, file, writeFailed, written] {
        const QByteArray chunk = reply->readAll();
        if (*writeFailed)
            return;
        if (file->write(chunk) != chunk.size()) {
            *writeFailed = true;
            reply->abort();
        }
        *written += chunk.size();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [this, reply, file, progress, abandoned](qint64 received, qint64 total) {
                         progress(received, total);
                         if (!cancelRequested && !abandoned())
                             return;
                         // A cancel ends the transfer quietly: no finished report, nothing left behind.
                         QObject::disconnect(reply, nullptr, reply, nullptr);
                         reply->abort();
                         reply->deleteLater();
                         file->close();
                         file->remove();
                     });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, file, path, finished, writeFailed, written] {
        reply->deleteLater();
        if (reply->bytesAvailable() > 0 && !*writeFailed) {
            const QByteArray rest = reply->readAll();
            *writeFailed = file->write(rest) != rest.size();
            *written += rest.size();
        }
        file->close();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A connection closed early can end without an error; the announced length tells.
        // (With a content encoding the length counts the encoded bytes, not what we wrote.)
        bool lengthKnown = false;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&lengthKnown);
        lengthKnown = lengthKnown && !reply->hasRawHeader(QByteArrayLiteral("Content-Encoding"));
        QString failure;
        if (*writeFailed)
            failure = cannotWriteFile;
        else if (reply->error() != QNetworkReply::NoError)
            failure = reply->errorString();
        else if (status >= 400)
            failure = QStringLiteral("HTTP status %1").arg(status);
        else if (lengthKnown && *written != announced)
            failure = QStringLiteral("Incomplete transfer: %1 of %2 bytes").arg(*written).arg(announced);
        if (!failure.isEmpty()) {
            file->remove();
            finished(false, failure);
            return;
        }
        if (QFile::exists(path) && !QFile::remove(path)) {
            file->remove();
            finished(false, cannotWriteFile);
            return;
        }
        if (!file->rename(path)) {
            file->remove();
            finished(false, cannotWriteFile);
            return;
        }
        finished(true, path);
    });
}

void HttpManager::cancelDownload() {
    cancelRequested = true;
}
