#include "bridge/downloadrouter.h"

#include "core/net/downloadfailure.h"
#include "core/net/timeouts.h"
#include "core/pageprotocol.h"
#include "core/serviceconfig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include <memory>

namespace Word = PageProtocol;
namespace Service = ServiceProtocol;

namespace {

// What the network layer reads ahead of us, and the most an answer read whole
// (sentence data, a media link, a picture) may hold.
constexpr qint64 readAhead = 1024 * 1024;
constexpr qint64 maxBuffered = ContentStore::maxThumbnailBytes;

} // namespace

// One request of the router, from its first try to its end: what was asked for,
// the body as it arrives, and what a retry needs to resume. It hangs on the
// reply it waits for (on the router between tries), so it lives exactly as long
// as the request.
class PartTransfer : public QObject {
    Q_OBJECT

public:
    enum class Body {
        Discard, // a redirect, an error page, or a part file that exists already
        Stream,  // media or archive, straight into the part file
        Buffer,  // sentence data, a media link or a picture, read when complete
    };

    PartTransfer(std::shared_ptr<BridgeContext> context, const QString& url, const QString& articleId, const char* kind,
                 bool reportsProgress, bool followUp)
        : context(std::move(context)), url(url), articleId(articleId),
          kind(kind ? QString::fromLatin1(kind) : QString()), reportsProgress(reportsProgress), followUp(followUp) {
        ++this->context->transfersInProgress;
    }
    ~PartTransfer() override { --context->transfersInProgress; }

    // Takes the reply's headers and then its body as they come.
    void follow(QNetworkReply* reply) {
        setParent(reply);
        headersSeen = false;
        body = Body::Discard;
        buffer.clear();
        offset = 0;
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { headers(reply); });
        connect(reply, &QNetworkReply::readyRead, this, [this, reply] { take(reply); });
    }

    // Everything still waiting in the reply.
    void take(QNetworkReply* reply) {
        if (!headersSeen)
            headers(reply);
        if (!reply->isOpen())
            return; // aborted
        const QByteArray data = reply->readAll();
        if (data.isEmpty() || !storeError.isEmpty())
            return;
        if (body == Body::Stream) {
            // A body that goes on past what was announced (or past the ceiling) would fill the disk.
            if (file->size() - offset + data.size() > limit) {
                storeFailed(limitCause, limitText);
                reply->abort();
                return;
            }
            if (!file->write(data)) {
                storeFailed(DownloadFailure::ofFileError(file->errorNumber()), file->errorString());
                reply->abort();
            }
        } else if (body == Body::Buffer) {
            buffer += data;
            if (buffer.size() > maxBuffered) {
                storeFailed(DownloadCause::TooLarge,
                            QStringLiteral("the answer is larger than %1 bytes").arg(maxBuffered));
                buffer.clear();
                reply->abort();
            }
        }
    }

    bool streaming() const { return body == Body::Stream; }

    // Kept by the transfer: it may end after the windows that started it.
    const std::shared_ptr<BridgeContext> context;
    const QString url;
    const QString articleId;
    const QString kind; // the part's progress word; empty for thumbnails and plain fetches
    const bool reportsProgress;
    const bool followUp;
    int retries = 0;

    Body body = Body::Discard;
    bool headersSeen = false;
    ContentStore::Part part = ContentStore::Part::Media;
    std::unique_ptr<PartFile> file;
    bool partExisted = false;
    QByteArray buffer;
    // A failure on our side (a write, a limit): not worth another try.
    QString storeError;
    DownloadCause storeCause = DownloadCause::CannotStore;
    // Resuming: where this reply's body starts in the part file, and what the
    // server needs to send the rest of the same file.
    qint64 offset = 0;
    bool resumable = false;
    QByteArray validator;
    // The most this reply's body may bring into the part file, and why.
    qint64 limit = 0;
    DownloadCause limitCause = DownloadCause::TooLarge;
    QString limitText;

    void storeFailed(DownloadCause cause, const QString& reason) {
        storeCause = cause;
        storeError = reason;
    }

private:
    void headers(QNetworkReply* reply) {
        if (headersSeen)
            return;
        headersSeen = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 300 && status != 0)
            return; // a redirect or an error page is never a part
        const QString type = QString::fromUtf8(reply->rawHeader("Content-Type"));
        const bool media = type.contains(Service::audioType) || type.contains(Service::videoType);
        if (!media && !type.contains(Service::zipType)) {
            body = Body::Buffer;
            return;
        }
        part = media ? ContentStore::Part::Media : ContentStore::Part::Archive;
        const QString path = context->store.partPath(articleId, part);
        if (path.isEmpty() || QFile::exists(path)) {
            // Stored already (or no usable id): the router reports it at the end.
            partExisted = !path.isEmpty();
            return;
        }
        body = Body::Stream;
        const bool partial = status == 206;
        offset = partial ? rangeStart(reply) : 0;
        if (file && partial && offset == file->size()) {
            // The rest of what we have.
        } else if (file) {
            offset = 0;
            if (partial) // a range we did not ask for
                storeFailed(DownloadCause::BadAnswer, QStringLiteral("the server sent an unexpected range"));
            else if (!file->restart())
                storeFailed(DownloadFailure::ofFileError(file->errorNumber()), file->errorString());
        } else {
            file = std::make_unique<PartFile>(path);
            offset = 0;
            if (!file->open())
                storeFailed(DownloadFailure::ofFileError(file->errorNumber()), file->errorString());
        }
        limit = NetworkTimeouts::bodyLimit(reply);
        const bool announced = limit != NetworkTimeouts::downloadCeiling();
        limitCause = announced ? DownloadCause::LongerThanAnnounced : DownloadCause::TooLarge;
        limitText = announced ? QStringLiteral("longer than the %1 bytes announced").arg(limit)
                              : QStringLiteral("larger than the download ceiling of %1 bytes").arg(limit);
        // What is announced must fit on the disk before the first byte is written.
        const qint64 free = QStorageInfo(QFileInfo(path).absolutePath()).bytesAvailable();
        if (storeError.isEmpty() && announced && free >= 0 && free < limit)
            storeFailed(DownloadCause::DiskFull,
                        QStringLiteral("not enough free disk space: %1 MiB needed, %2 MiB free")
                            .arg((limit + 1048575) / 1048576)
                            .arg(free / 1048576));
        if (!storeError.isEmpty()) {
            reply->abort();
            return;
        }
        // Only a server that names the version of what it sends can be asked for the rest of it.
        const QByteArray etag = reply->rawHeader("ETag");
        const QByteArray modified = reply->rawHeader("Last-Modified");
        if (status == 200) {
            validator = !etag.isEmpty() && !etag.startsWith("W/") ? etag : modified;
            resumable = reply->rawHeader("Accept-Ranges").trimmed() == "bytes" && !validator.isEmpty() &&
                        !reply->hasRawHeader("Content-Encoding");
        }
    }

    // The first byte of a 206 answer ("bytes first-last/total").
    static qint64 rangeStart(const QNetworkReply* reply) {
        const QByteArray range = reply->rawHeader("Content-Range").trimmed();
        if (!range.startsWith("bytes "))
            return -1;
        bool ok = false;
        const qint64 first = range.mid(6, range.indexOf('-') - 6).toLongLong(&ok);
        return ok ? first : -1;
    }
};

namespace {

// Marks requests sent on the service's word (a redirect or a named media URL).
const auto followUpAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 23);

// Signed requests carry the session token, so they go over https only.
QString archiveUrl(const QString& id) {
    return ServiceConfig::httpsBase() + Service::archivePath + id + Service::archiveQuery;
}

QString mediaUrl(const QString& id) {
    return ServiceConfig::httpsBase() + Service::mediaPath + id;
}

QString replyArticleId(const QNetworkReply* reply) {
    return QString::fromUtf8(reply->request().rawHeader(Service::articleIdHeader));
}

// A member of a page record as text; empty when it is missing or null.
QString member(const QJsonObject& record, const char* name) {
    const QJsonValue value = record.value(QLatin1String(name));
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QString();
}

bool usableId(const QString& articleId) {
    if (ContentStore::isValidArticleId(articleId))
        return true;
    qWarning("Refused the article id \"%s\"", qUtf8Printable(articleId));
    return false;
}

const char* partName(ContentStore::Part part) {
    switch (part) {
    case ContentStore::Part::Media:
        return "media";
    case ContentStore::Part::Archive:
        return "archive";
    case ContentStore::Part::SentenceData:
        return "sentence data";
    }
    return "";
}

// Worth another try: the connection, the server's own trouble, a time-out. A
// refusal (404, 401, ...) will not change by asking again.
bool isPassing(const QNetworkReply* reply) {
    const QNetworkReply::NetworkError error = reply->error();
    if (NetworkTimeouts::timedOut(reply) || (error > QNetworkReply::NoError && error < 100))
        return true;
    if (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError)
        return true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status == 408 || status == 416 || status == 429;
}

} // namespace

DownloadRouter::DownloadRouter(std::shared_ptr<BridgeContext> context, QObject* parent)
    : QObject(parent), context(std::move(context)) {}

void DownloadRouter::attach(QNetworkAccessManager* manager) {
    context->dataNetwork = manager;
    connect(manager, &QNetworkAccessManager::finished, this, &DownloadRouter::route);
}

QNetworkAccessManager* DownloadRouter::network() const {
    return context->dataNetwork;
}

bool DownloadRouter::isReady() const {
    return context->dataPageReady;
}

void DownloadRouter::setReady(bool ready) {
    context->dataPageReady = ready;
}

int DownloadRouter::transfersInProgress() const {
    return context->transfersInProgress;
}

std::optional<QJsonObject> DownloadRouter::parseRecord(const QString& text) {
    // Parsed, a record takes some thirty times its size in memory: a page's
    // record is a few kilobytes, so one this large is refused unread.
    if (text.size() > maxRecordChars) {
        qWarning("Refused a download record of %lld characters (at most %lld are read)", qint64(text.size()),
                 qint64(maxRecordChars));
        return std::nullopt;
    }
    // Data, never code: a record that is not a JSON object is refused as it stands.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (!document.isObject()) {
        qWarning("Refused a download record that is not a JSON object (%s): %s",
                 qUtf8Printable(error.error != QJsonParseError::NoError ? error.errorString()
                                                                        : QStringLiteral("another JSON value")),
                 qUtf8Printable(text.left(80)));
        return std::nullopt;
    }
    return document.object();
}

void DownloadRouter::requestPart(const QString& url, const QString& articleId, const char* part, bool progress,
                                 bool followUp) {
    if (!context->dataNetwork)
        return;
    send(new PartTransfer(context, url, articleId, part, progress, followUp));
}

void DownloadRouter::send(PartTransfer* transfer) {
    QNetworkRequest request{QUrl(transfer->url)};
    if (!transfer->articleId.isEmpty())
        request.setRawHeader(Service::articleIdHeader, transfer->articleId.toUtf8());
    if (transfer->followUp)
        request.setAttribute(followUpAttribute, true);
    if (transfer->file && transfer->resumable && transfer->file->size() > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(transfer->file->size()) + '-');
        request.setRawHeader("If-Range", transfer->validator);
    }
    QNetworkReply* reply = context->dataNetwork->get(request);
    // The network layer reads ahead only this far: a large part passes through memory, it never gathers there.
    reply->setReadBufferSize(readAhead);
    transfer->follow(reply);
    NetworkTimeouts::watch(reply);
    if (!transfer->reportsProgress)
        return;
    // A resumed body counts on from what is there already.
    const QPointer<DownloadRouter> router(this);
    connect(reply, &QNetworkReply::downloadProgress, transfer, [router, transfer](qint64 received, qint64 total) {
        const qint64 before = transfer->streaming() ? transfer->offset : 0;
        if (router)
            emit router->progress(transfer->kind, before + received, total < 0 ? -1 : before + total,
                                  transfer->articleId);
    });
}

void DownloadRouter::requestArticle(const QString& id, const QString& sentenceBase) {
    // Only the sentence data reports progress from the start; the others once the service has pointed on.
    requestPart(archiveUrl(id), id, Word::archiveProgress, false);
    requestPart(mediaUrl(id), id, Word::mediaProgress, false);
    requestPart(sentenceBase + Service::sentencePath + id, id, Word::sentenceProgress, true);
}

bool DownloadRouter::downloadRecord(const QString& type, const QString& record) {
    const std::optional<QJsonObject> parsed = parseRecord(record);
    if (!parsed)
        return false;
    const QJsonObject& value = *parsed;
    const bool article = type == Word::articleRecord;
    if (!context->dataPageReady || (!article && type != Word::channelRecord))
        return true;

    const QString id = article ? member(value, Word::recordId) : QString();
    if (article && !usableId(id))
        return true;
    QString picture = member(value, Word::recordThumbnail);
    if (picture.isEmpty())
        picture = member(value, Word::recordThumbnailAlternative);
    if (!picture.isEmpty())
        fetch(picture);
    if (article)
        requestArticle(id, ServiceConfig::httpsBase());
    return true;
}

bool DownloadRouter::downloadList(const QString& articleList) {
    const std::optional<QJsonObject> parsed = parseRecord(articleList);
    if (!parsed)
        return false;
    const QJsonObject& list = *parsed;
    for (auto it = list.constBegin(); context->dataPageReady && it != list.constEnd(); ++it) {
        if (usableId(it.key()))
            requestArticle(it.key(), ServiceConfig::httpsBase());
    }
    return true;
}

void DownloadRouter::fetch(const QString& url) {
    requestPart(url, QString(), nullptr, false);
}

bool DownloadRouter::store(ContentStore::Part part, QNetworkReply* reply) {
    const QString id = replyArticleId(reply);
    ContentStore& store = context->store;
    const ContentStore::StoreResult result = store.storePart(id, part, reply);
    reply->close();
    if (result == ContentStore::StoreResult::Failed)
        qWarning("The %s of article %s was not stored: %s", partName(part), qUtf8Printable(id),
                 qUtf8Printable(store.errorString()));
    reportStored(id, result);
    return result == ContentStore::StoreResult::Stored || result == ContentStore::StoreResult::Exists;
}

void DownloadRouter::reportStored(const QString& articleId, ContentStore::StoreResult result) {
    // Each stored part asks again, so a repeated download is reported complete once more.
    if ((result == ContentStore::StoreResult::Stored || result == ContentStore::StoreResult::Exists) &&
        context->store.isComplete(articleId))
        emit articleComplete(articleId);
}

void DownloadRouter::storeThumbnail(QNetworkReply* reply) {
    context->store.storeThumbnail(reply->url().toString(), reply->readAll());
}

void DownloadRouter::route(QNetworkReply* reply) {
    // The page's own loads belong to the web engine, which reads and frees them itself.
    if (reply->request().originatingObject())
        return;
    reply->deleteLater();
    PartTransfer* transfer = reply->findChild<PartTransfer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!transfer) {
        if (reply->error() != QNetworkReply::NoError && !reply->url().toString().isEmpty())
            qDebug("Error in %s: %s", qUtf8Printable(reply->url().toString()), qUtf8Printable(reply->errorString()));
        return;
    }
    transfer->take(reply);
    // Off the reply, which goes now: kept by this router while it waits for another try.
    transfer->setParent(this);
    if (!conclude(transfer, reply))
        delete transfer;
}

bool DownloadRouter::conclude(PartTransfer* transfer, QNetworkReply* reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!transfer->storeError.isEmpty())
        return fail(transfer, {transfer->storeCause, transfer->storeError});
    if (reply->error() != QNetworkReply::NoError) {
        if (status == 416)
            transfer->resumable = false; // the rest is not there as asked: start over
        return retryOrFail(transfer, {DownloadFailure::ofReply(reply), NetworkTimeouts::failure(reply), status},
                           isPassing(reply));
    }
    if (transfer->streaming())
        return storeStreamed(transfer, reply);
    if (transfer->partExisted) {
        reportStored(transfer->articleId, ContentStore::StoreResult::Exists);
        return false;
    }
    const QString id = transfer->articleId;
    if (!id.isEmpty() && !usableId(id))
        return false;
    if (!routeBody(transfer, reply) && !transfer->kind.isEmpty())
        return fail(transfer, {DownloadCause::BadAnswer,
                               QStringLiteral("unexpected answer (HTTP %1, %2)")
                                   .arg(status)
                                   .arg(QString::fromUtf8(reply->rawHeader("Content-Type"))),
                               status});
    return false;
}

bool DownloadRouter::storeStreamed(PartTransfer* transfer, QNetworkReply* reply) {
    // A connection closed early can end a reply without an error; the announced length tells.
    // (With a content encoding it counts the encoded bytes, not what arrives here.)
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    const qint64 received = transfer->file->size() - transfer->offset;
    if (known && !reply->hasRawHeader("Content-Encoding") && received != announced)
        return retryOrFail(transfer,
                           {DownloadCause::Incomplete,
                            QStringLiteral("incomplete transfer: %1 of %2 bytes").arg(received).arg(announced)},
                           true);
    // Another download of the same article may have stored it meanwhile: the first one stays.
    if (QFile::exists(context->store.partPath(transfer->articleId, transfer->part))) {
        transfer->file.reset();
        reportStored(transfer->articleId, ContentStore::StoreResult::Exists);
        return false;
    }
    if (!transfer->file->commit())
        return fail(transfer,
                    {DownloadFailure::ofFileError(transfer->file->errorNumber()), transfer->file->errorString()});
    transfer->file.reset();
    reportStored(transfer->articleId, ContentStore::StoreResult::Stored);
    return false;
}

bool DownloadRouter::routeBody(PartTransfer* transfer, QNetworkReply* reply) {
    const QString id = transfer->articleId;
    const QString contentType = QString::fromUtf8(reply->rawHeader("Content-Type"));
    const QString location = QString::fromUtf8(reply->rawHeader("Location"));
    const QString url = reply->url().toString();
    // One hop only: a service answering a follow-up with yet another pointer would never end.
    const bool mayFollow = !transfer->followUp;
    bool taken = false;

    // Each test below stands on its own; a reply may meet more than one.
    if (contentType.contains(Service::jsonType)) {
        // The sentence data first: an article whose id holds "mp3" still has sentence data, not a media link.
        if (url.contains(Service::sentenceUrlMark)) {
            storeSentenceData(transfer);
            taken = true;
        } else if (url.toLower().contains(Service::mediaUrlMark) && mayFollow) {
            // The media API may answer with the media's URL as a JSON string.
            QString target = QString::fromUtf8(transfer->buffer.constData());
            target.remove(QLatin1Char('"'));
            requestPart(target.trimmed(), id, Word::mediaProgress, true, true);
            taken = true;
        }
    }
    if (contentType.contains(Service::imageType)) {
        context->store.storeThumbnail(url, transfer->buffer);
        taken = true;
    }
    if (!location.isEmpty() && mayFollow) {
        // A relative target is taken against the URL that answered.
        const QString target = reply->url().resolved(QUrl(location)).toString();
        if (location.contains(Service::archiveLocationMark)) {
            requestPart(target, id, Word::archiveProgress, true, true);
            taken = true;
        } else if (location.contains(Service::mediaLocationMark)) {
            requestPart(target, id, Word::mediaProgress, true, true);
            taken = true;
        }
    }
    return taken;
}

void DownloadRouter::storeSentenceData(PartTransfer* transfer) {
    if (transfer->buffer.isEmpty()) {
        fail(transfer, {DownloadCause::BadAnswer, QStringLiteral("empty sentence data")});
        return;
    }
    ContentStore& store = context->store;
    const ContentStore::StoreResult result =
        store.storePart(transfer->articleId, ContentStore::Part::SentenceData, transfer->buffer);
    if (result == ContentStore::StoreResult::Failed)
        fail(transfer, {DownloadCause::CannotStore, store.errorString()});
    else
        reportStored(transfer->articleId, result);
}

bool DownloadRouter::retryOrFail(PartTransfer* transfer, const Failure& reason, bool retryable) {
    // Parts only: a thumbnail or a looked-up word is not worth the wait.
    if (!retryable || transfer->kind.isEmpty() || transfer->retries >= NetworkTimeouts::maxRetries)
        return fail(transfer, reason);
    ++transfer->retries;
    qWarning("%s failed (%s); trying again (%d of %d)", qUtf8Printable(transfer->url), qUtf8Printable(reason.log),
             transfer->retries, NetworkTimeouts::maxRetries);
    QTimer::singleShot(NetworkTimeouts::retryDelayMs(transfer->retries), transfer, [this, transfer] {
        if (context->dataNetwork)
            send(transfer);
        else
            delete transfer;
    });
    return true;
}

bool DownloadRouter::fail(PartTransfer* transfer, const Failure& reason) {
    qWarning("Download of %s failed: %s", qUtf8Printable(transfer->url), qUtf8Printable(reason.log));
    // Thumbnails and plain fetches belong to no part the page waits for.
    if (!transfer->kind.isEmpty() && !transfer->articleId.isEmpty())
        emit partFailed(transfer->articleId, transfer->kind, pageText(reason.cause, reason.status));
    return false;
}

QString DownloadRouter::pageText(DownloadCause cause, int status) {
    // The learner reads these on the page, after "Fehlgeschlagen: ".
    const QString http = status > 0 ? QStringLiteral(" (HTTP %1)").arg(status) : QString();
    switch (cause) {
    case DownloadCause::DiskFull:
        return QStringLiteral("Nicht genug freier Speicherplatz auf dem Datenträger");
    case DownloadCause::TooLarge:
        return QStringLiteral("Die Datei ist größer als die erlaubte Höchstgröße");
    case DownloadCause::LongerThanAnnounced:
        return QStringLiteral("Der Server hat mehr Daten geschickt als angekündigt");
    case DownloadCause::TooSlow:
        return QStringLiteral("Die Verbindung ist zu langsam");
    case DownloadCause::Stalled:
        return QStringLiteral("Der Server antwortet nicht mehr");
    case DownloadCause::NoConnection:
        return QStringLiteral("Keine Verbindung zum Server");
    case DownloadCause::ServerError:
        return QStringLiteral("Fehler auf dem Server") + http;
    case DownloadCause::Refused:
        return QStringLiteral("Der Server verweigert die Datei") + http;
    case DownloadCause::Incomplete:
        return QStringLiteral("Die Übertragung brach vorzeitig ab");
    case DownloadCause::CannotStore:
        return QStringLiteral("Die Datei kann nicht gespeichert werden");
    case DownloadCause::Insecure:
        return QStringLiteral("Keine sichere Verbindung (https)");
    case DownloadCause::BadAnswer:
        break;
    }
    return QStringLiteral("Unerwartete Antwort des Servers") + http;
}

#include "downloadrouter.moc"
