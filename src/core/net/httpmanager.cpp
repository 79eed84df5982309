#include "core/net/httpmanager.h"

#include "core/net/downloadfailure.h"
#include "core/net/timeouts.h"
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

#include <cerrno>
#include <memory>

namespace {

const QString cannotWriteFile = QStringLiteral("Cannot Write File");

// Caps what the network layer buffers ahead of our writes to the file.
constexpr qint64 downloadBufferSize = 1024 * 1024;
// Redirect steps an installer download follows.
constexpr int maxRedirects = 5;

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
    // A server that never answers ends as "no redirect" rather than never.
    NetworkTimeouts::watch(reply);
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
        // Only the service's own word says there is no update; anything else that is no offer is a failed check.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::OperationCanceledError) {
            callback(false, QStringLiteral("no answer within %1 s").arg(HttpManager::instance()->timeoutMs / 1000.0));
            return;
        }
        if (status == 0) {
            callback(false, reply->errorString());
            return;
        }
        if (status != 200) {
            callback(false, QStringLiteral("HTTP status %1").arg(status));
            return;
        }
        const QString body = QString::fromUtf8(reply->readAll());
        if (body == QString::fromUtf8(ServiceProtocol::noUpdateAnswer))
            callback(false, QString());
        else
            callback(true, body);
    });
}

// One installer download: the file it is written to and the callbacks, shared
// by the requests of its redirect steps.
struct HttpManager::Download {
    QString path;
    std::shared_ptr<QFile> file;
    std::function<void(qint64, qint64)> progress;
    std::function<void(bool, QString, DownloadCause)> finished;
    std::function<bool()> abandoned;
    int redirects = 0;

    void fail(DownloadCause cause, const QString& reason) {
        file->close();
        file->remove();
        finished(false, reason, cause);
    }
};

void HttpManager::downloadFile(const QString& url, const QString& path, std::function<void(qint64, qint64)> progress,
                               std::function<void(bool, QString, DownloadCause)> finished, QObject* context) {
    cancelRequested = false;
    auto download = std::make_shared<Download>();
    download->path = path;
    download->progress = guarded(context, std::move(progress));
    download->finished = guarded(context, std::move(finished));
    download->abandoned = abandonedWith(context);
    // Answered from the event loop, as every outcome of a download is.
    QTimer::singleShot(0, network, [this, url, download] {
        if (download->abandoned())
            return;
        const QString temporary = download->path + QStringLiteral(".tmp");
        if (QFile::exists(temporary) && !QFile::remove(temporary)) {
            download->finished(false, cannotWriteFile, DownloadCause::CannotStore);
            return;
        }
        download->file = std::make_shared<QFile>(temporary);
        if (!download->file->open(QIODevice::WriteOnly)) {
            const int error = errno;
            download->finished(false, cannotWriteFile, DownloadFailure::ofFileError(error));
            return;
        }
        startDownload(QUrl(url), download);
    });
}

void HttpManager::startDownload(const QUrl& url, const std::shared_ptr<Download>& download) {
    // Whatever runs afterwards must have come over an authenticated connection.
    if (url.scheme() != QLatin1String("https")) {
        download->fail(DownloadCause::Insecure,
                       download->redirects ? QStringLiteral("Refused a redirect to %1: not https").arg(url.toString())
                                           : QStringLiteral("Refused %1: not https").arg(url.toString()));
        return;
    }
    QNetworkReply* reply = network->get(QNetworkRequest(url));
    reply->setReadBufferSize(downloadBufferSize);
    NetworkTimeouts::watch(reply);
    auto writeFailed = std::make_shared<bool>(false);
    auto writeError = std::make_shared<int>(0);
    auto tooLarge = std::make_shared<bool>(false);
    auto written = std::make_shared<qint64>(0);
    // A redirect's own body is never part of the file.
    auto redirecting = [reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return status >= 300 && status < 400;
    };

    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [reply, download, writeFailed, writeError, tooLarge, written, redirecting] {
                         const QByteArray chunk = reply->readAll();
                         if (*writeFailed || *tooLarge || redirecting())
                             return;
                         // A body that never ends would fill the disk.
                         if (*written + chunk.size() > NetworkTimeouts::bodyLimit(reply)) {
                             *tooLarge = true;
                             reply->abort();
                             return;
                         }
                         if (download->file->write(chunk) != chunk.size()) {
                             *writeError = errno;
                             *writeFailed = true;
                             reply->abort();
                         }
                         *written += chunk.size();
                     });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [this, reply, download, redirecting](qint64 received, qint64 total) {
                         if (!redirecting())
                             download->progress(received, total);
                         if (!cancelRequested && !download->abandoned())
                             return;
                         // A cancel ends the transfer quietly: no finished report, nothing left behind.
                         QObject::disconnect(reply, nullptr, reply, nullptr);
                         reply->abort();
                         reply->deleteLater();
                         download->file->close();
                         download->file->remove();
                     });
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [this, reply, download, writeFailed, writeError, tooLarge, written] {
            reply->deleteLater();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (status >= 300 && status < 400 && reply->error() == QNetworkReply::NoError) {
                const QUrl target =
                    reply->url().resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
                if (!reply->hasRawHeader("Location") || !target.isValid())
                    download->fail(DownloadCause::BadAnswer,
                                   QStringLiteral("HTTP status %1 without a new address").arg(status));
                else if (++download->redirects > maxRedirects)
                    download->fail(DownloadCause::BadAnswer,
                                   QStringLiteral("More than %1 redirects").arg(maxRedirects));
                else
                    startDownload(target, download);
                return;
            }
            if (reply->bytesAvailable() > 0 && !*writeFailed && !*tooLarge) {
                const QByteArray rest = reply->readAll();
                if (*written + rest.size() > NetworkTimeouts::bodyLimit(reply))
                    *tooLarge = true;
                else if (download->file->write(rest) != rest.size()) {
                    *writeError = errno;
                    *writeFailed = true;
                }
                *written += rest.size();
            }
            // Buffered bytes reach the disk here, so a full disk may only show now.
            if (!*writeFailed && !download->file->flush()) {
                *writeError = errno;
                *writeFailed = true;
            }
            download->file->close();
            // A connection closed early can end without an error; the announced length tells.
            // (With a content encoding the length counts the encoded bytes, not what we wrote.)
            bool lengthKnown = false;
            const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&lengthKnown);
            lengthKnown = lengthKnown && !reply->hasRawHeader(QByteArrayLiteral("Content-Encoding"));
            QString failure;
            DownloadCause cause = DownloadCause::BadAnswer;
            if (*writeFailed) {
                failure = cannotWriteFile;
                cause = DownloadFailure::ofFileError(*writeError);
            } else if (*tooLarge) {
                failure = QStringLiteral("Larger than %1 bytes").arg(NetworkTimeouts::bodyLimit(reply));
                cause = lengthKnown ? DownloadCause::LongerThanAnnounced : DownloadCause::TooLarge;
            } else if (reply->error() != QNetworkReply::NoError) {
                failure = NetworkTimeouts::failure(reply);
                failure = failure.isEmpty() ? QStringLiteral("Network error %1").arg(int(reply->error()))
                                            : failure.left(1).toUpper() + failure.mid(1);
                cause = DownloadFailure::ofReply(reply);
            } else if (status >= 300) {
                failure = QStringLiteral("HTTP status %1").arg(status);
            } else if (lengthKnown && *written != announced) {
                failure = QStringLiteral("Incomplete transfer: %1 of %2 bytes").arg(*written).arg(announced);
                cause = DownloadCause::Incomplete;
            }
            if (!failure.isEmpty()) {
                download->fail(cause, failure);
                return;
            }
            const QString& path = download->path;
            if ((QFile::exists(path) && !QFile::remove(path)) || !download->file->rename(path)) {
                download->fail(DownloadCause::CannotStore, cannotWriteFile);
                return;
            }
            download->finished(true, path, DownloadCause::BadAnswer);
        });
}

void HttpManager::cancelDownload() {
    cancelRequested = true;
}
