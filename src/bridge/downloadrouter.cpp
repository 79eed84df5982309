#include "bridge/downloadrouter.h"

#include "core/pageprotocol.h"
#include "core/serviceconfig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScriptEngine>
#include <QScriptValue>
#include <QScriptValueIterator>
#include <QUrl>
#include <QtDebug>

namespace Word = PageProtocol;
namespace Service = ServiceProtocol;

namespace {

QNetworkAccessManager* dataNetworkManager = nullptr;
bool dataPageReady = false;

// Marks requests sent on the service's word (a redirect or a named media URL).
const auto followUpAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 23);

QString archiveUrl(const QString& id) {
    return ServiceConfig::httpBase() + Service::archivePath + id + Service::archiveQuery;
}

QString mediaUrl(const QString& id) {
    return ServiceConfig::httpBase() + Service::mediaPath + id;
}

QString replyArticleId(const QNetworkReply* reply) {
    return QString::fromUtf8(reply->request().rawHeader(Service::articleIdHeader));
}

// A member of a page record as text; empty when it is missing or null.
QString member(const QScriptValue& record, const char* name) {
    const QScriptValue value = record.property(QLatin1String(name));
    if (!value.isValid() || value.isUndefined() || value.isNull())
        return QString();
    return value.toString();
}

// Page records arrive as JSON text; the pages' own notation is what we read them with.
QScriptValue parseRecord(QScriptEngine& engine, const QString& text) {
    const QScriptValue value = engine.evaluate(QStringLiteral("value=") + text);
    if (engine.hasUncaughtException()) {
        qWarning("Unreadable download record: %s", qUtf8Printable(engine.uncaughtException().toString()));
        engine.clearExceptions();
        return QScriptValue();
    }
    return value;
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

} // namespace

DownloadRouter::DownloadRouter(QObject* parent) : QObject(parent) {}

void DownloadRouter::attach(QNetworkAccessManager* manager) {
    dataNetworkManager = manager;
    connect(manager, &QNetworkAccessManager::finished, this, &DownloadRouter::route);
}

QNetworkAccessManager* DownloadRouter::network() {
    return dataNetworkManager;
}

bool DownloadRouter::isReady() {
    return dataPageReady;
}

void DownloadRouter::setReady(bool ready) {
    dataPageReady = ready;
}

void DownloadRouter::requestPart(const QString& url, const QString& articleId, const char* progressKind,
                                 bool followUp) {
    if (!dataNetworkManager)
        return;
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader(Service::articleIdHeader, articleId.toUtf8());
    if (followUp)
        request.setAttribute(followUpAttribute, true);
    QNetworkReply* reply = dataNetworkManager->get(request);
    if (!progressKind)
        return;
    const QString kind = QString::fromLatin1(progressKind);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, kind, articleId](qint64 received, qint64 total) {
        emit progress(kind, received, total, articleId);
    });
}

void DownloadRouter::requestArticle(const QString& id, const QString& sentenceBase) {
    requestPart(archiveUrl(id), id);
    requestPart(mediaUrl(id), id);
    requestPart(sentenceBase + Service::sentencePath + id, id, Word::sentenceProgress);
}

void DownloadRouter::downloadRecord(const QString& type, const QString& record) {
    const bool article = type == Word::articleRecord;
    if (!dataPageReady || (!article && type != Word::channelRecord))
        return;
    QScriptEngine engine;
    const QScriptValue value = parseRecord(engine, record);
    if (!value.isValid())
        return;

    const QString id = article ? member(value, Word::recordId) : QString();
    if (article && !usableId(id))
        return;
    QString picture = member(value, Word::recordThumbnail);
    if (picture.isEmpty())
        picture = member(value, Word::recordThumbnailAlternative);
    if (!picture.isEmpty())
        fetch(picture);
    if (article)
        requestArticle(id, ServiceConfig::httpBase());
}

void DownloadRouter::downloadList(const QString& articleList) {
    QScriptEngine engine;
    const QScriptValue list = parseRecord(engine, articleList);
    if (!list.isObject())
        return;
    for (QScriptValueIterator it(list); dataPageReady && it.hasNext();) {
        it.next();
        // An array's length and the like are not article ids.
        if (it.flags() & QScriptValue::SkipInEnumeration)
            continue;
        const QString id = it.name();
        if (usableId(id))
            requestArticle(id, ServiceConfig::httpsBase());
    }
}

void DownloadRouter::fetch(const QString& url) {
    if (dataNetworkManager)
        dataNetworkManager->get(QNetworkRequest(QUrl(url)));
}

void DownloadRouter::store(ContentStore::Part part, QNetworkReply* reply) {
    const QString id = replyArticleId(reply);
    ContentStore store;
    const ContentStore::StoreResult result = store.storePart(id, part, reply);
    reply->close();
    switch (result) {
    case ContentStore::StoreResult::Stored:
    case ContentStore::StoreResult::Exists:
        // Each stored part asks again, so a repeated download is reported complete once more.
        if (store.isComplete(id))
            emit articleComplete(id);
        break;
    case ContentStore::StoreResult::Refused:
        break; // the store has said why
    case ContentStore::StoreResult::Failed:
        qWarning("The %s of article %s was not stored: %s", partName(part), qUtf8Printable(id),
                 qUtf8Printable(store.errorString()));
        break;
    }
}

void DownloadRouter::storeThumbnail(QNetworkReply* reply) {
    ContentStore().storeThumbnail(reply->url().toString(), reply->readAll());
}

void DownloadRouter::route(QNetworkReply* reply) {
    // The page's own loads belong to the web engine, which reads and frees them itself.
    if (reply->request().originatingObject())
        return;
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        if (!reply->url().toString().isEmpty())
            qDebug("Error in %s: %s", qUtf8Printable(reply->url().toString()), qUtf8Printable(reply->errorString()));
        return;
    }

    const QString id = replyArticleId(reply);
    if (!id.isEmpty() && !usableId(id))
        return;
    const QString contentType = QString::fromUtf8(reply->rawHeader("Content-Type"));
    const QString location = QString::fromUtf8(reply->rawHeader("Location"));
    const QString url = reply->url().toString();
    // One hop only: a service answering a follow-up with yet another pointer would never end.
    const bool mayFollow = !reply->request().attribute(followUpAttribute).toBool();

    // Each test below stands on its own; a reply may meet more than one.
    if (contentType.contains(Service::jsonType)) {
        if (url.toLower().contains(Service::mediaUrlMark) && mayFollow) {
            // The media API may answer with the media's URL as a JSON string.
            QString target = QString::fromUtf8(reply->readAll().constData());
            target.remove(QLatin1Char('"'));
            requestPart(target.trimmed(), id, Word::mediaProgress, true);
        }
        if (url.contains(Service::sentenceUrlMark))
            store(ContentStore::Part::SentenceData, reply);
    }
    if (contentType.contains(Service::audioType) || contentType.contains(Service::videoType))
        store(ContentStore::Part::Media, reply);
    if (contentType.contains(Service::imageType))
        storeThumbnail(reply);
    if (contentType.contains(Service::zipType))
        store(ContentStore::Part::Archive, reply);
    if (!location.isEmpty() && mayFollow) {
        // A relative target is taken against the URL that answered.
        const QString target = reply->url().resolved(QUrl(location)).toString();
        if (location.contains(Service::archiveLocationMark))
            requestPart(target, id, Word::archiveProgress, true);
        else if (location.contains(Service::mediaLocationMark))
            requestPart(target, id, Word::mediaProgress, true);
    }
}
