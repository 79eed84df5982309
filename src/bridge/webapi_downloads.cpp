// The bridge's download slots: the requests for an article's parts, the router
// that hands finished replies to the content store, progress and completion
// reports, and the list data relayed between the offline-data and main pages.
#include "bridge/webapi.h"

#include "bridge/contentstore.h"
#include "bridge/pagescript.h"
#include "core/serviceconfig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScriptEngine>
#include <QScriptValue>
#include <QScriptValueIterator>
#include <QUrl>
#include <QtDebug>

using PageScript::Page;

namespace {

const char articleIdHeader[] = "articleId";
// Marks requests sent on the service's word (a redirect or a named media URL).
const auto followUpAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 23);

QString archiveUrl(const QString& id) {
    return ServiceConfig::httpBase() + QStringLiteral("/api/v4/vorb/archive/") + id + QStringLiteral("?type=0");
}

QString mediaUrl(const QString& id) {
    return ServiceConfig::httpBase() + QStringLiteral("/api/v3/media/Mp3/") + id;
}

QString sentenceUrl(const QString& base, const QString& id) {
    return base + QStringLiteral("/api/v4/vorb/sentence/") + id;
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

QString base64(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toBase64());
}

// The record without its enclosing characters (the offline-data page quotes it).
QString withoutEnds(const QString& data) {
    return data.size() >= 2 ? data.mid(1, data.size() - 2) : QString();
}

} // namespace

void WebApi::requestPart(const QString& url, const QString& articleId, ProgressSlot progress, bool followUp) {
    if (!dataNetworkManager)
        return;
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader(articleIdHeader, articleId.toUtf8());
    if (followUp)
        request.setAttribute(followUpAttribute, true);
    QNetworkReply* reply = dataNetworkManager->get(request);
    if (progress)
        connect(reply, &QNetworkReply::downloadProgress, this, progress);
}

void WebApi::startDownload(const QString& type, const QString& data) {
    const bool article = type == QLatin1String("article");
    if (!article && type != QLatin1String("channel"))
        return;
    QScriptEngine engine;
    const QScriptValue record = parseRecord(engine, data);
    if (!record.isValid())
        return;

    const QString id = article ? member(record, "uuid") : QString();
    if (article && !usableId(id))
        return;
    QString picture = member(record, "thumbnail_url");
    if (picture.isEmpty())
        picture = member(record, "image_url_thumbnail");
    if (!picture.isEmpty() && dataNetworkManager)
        dataNetworkManager->get(QNetworkRequest(QUrl(picture)));
    if (!article)
        return;

    requestPart(archiveUrl(id), id);
    requestPart(mediaUrl(id), id);
    requestPart(sentenceUrl(ServiceConfig::httpBase(), id), id, &WebApi::dealLrcDownloadProgress);
}

void WebApi::setDownloadingList(const QString& articleList) {
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
        if (!usableId(id))
            continue;
        requestPart(archiveUrl(id), id);
        requestPart(mediaUrl(id), id);
        requestPart(sentenceUrl(ServiceConfig::httpsBase(), id), id, &WebApi::dealLrcDownloadProgress);
    }
}

void WebApi::downloadArticle(const QString& articleData) {
    if (dataPageReady)
        startDownload(QStringLiteral("article"), articleData);
    PageScript::run(Page::Data, QStringLiteral("ListenDb.insertArticleData('%1');"), {base64(articleData)});
}

void WebApi::downloadChannel(const QString& channelData) {
    if (dataPageReady)
        startDownload(QStringLiteral("channel"), channelData);
    PageScript::run(Page::Data, QStringLiteral("ListenDb.insertChannelData('%1');"), {base64(channelData)});
}

void WebApi::updateArticleData(const QString& articleId, const QString& articleData) {
    PageScript::run(Page::Data, QStringLiteral("ListenDb.updateArticleData('%1', '%2');"),
                    {articleId, base64(articleData)});
}

void WebApi::setDownloadChannel(const QString& data) {
    PageScript::run(Page::Main,
                    QStringLiteral("if(window.downloadData){downloadData.appendData('channelData', '%1');}"),
                    {withoutEnds(data)});
}

void WebApi::setDownloadArticle(const QString& data, const QString& downloadState) {
    PageScript::run(Page::Main,
                    QStringLiteral("if(window.downloadData){downloadData.appendData('articleData', '%1', '%2');}"),
                    {withoutEnds(data), downloadState});
}

void WebApi::getDataFinished(const QString& type) {
    PageScript::run(Page::Main, QStringLiteral("if(window.downloadData){downloadData.getDataFinished('%1');}"), {type});
}

void WebApi::deleteChannelData(const QString& channelId) {
    PageScript::run(Page::Data, QStringLiteral("ListenDb.deleteChannelData('%1');"), {channelId});
}

void WebApi::setDeleteArticleId(const QString& articleId) {
    if (!deletedArticleIds.isEmpty())
        deletedArticleIds += QLatin1Char(',');
    deletedArticleIds += articleId;
}

void WebApi::historyLoaded() {
    if (!deletedArticleIds.isEmpty())
        PageScript::run(Page::Main, QStringLiteral("historyChannel.setDeletedArticleId('%1');"), {deletedArticleIds});
}

void WebApi::delDownloadArticleId(const QString& articleId) {
    // Whole entries only: forgetting "a" must not eat into "ab", nor leave a stray comma.
    QStringList ids = deletedArticleIds.split(QLatin1Char(','));
    ids.removeAll(articleId);
    deletedArticleIds = ids.join(QLatin1Char(','));
}

void WebApi::reportProgress(const char* kind, qint64 bytesReceived, qint64 bytesTotal) {
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    PageScript::run(Page::Main,
                    QStringLiteral("if(window.downloadData && downloadData.downloadProgress)"
                                   "{downloadData.downloadProgress('%1', '%2', '%3', '%4');}"),
                    {bytesReceived, bytesTotal, kind, QString::fromUtf8(reply->request().rawHeader(articleIdHeader))});
}

void WebApi::dealLrcDownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    reportProgress("lrc", bytesReceived, bytesTotal);
}

void WebApi::dealMp3DownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    reportProgress("mp3", bytesReceived, bytesTotal);
}

void WebApi::dealArchiveDownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    reportProgress("archive", bytesReceived, bytesTotal);
}

void WebApi::downloadManager(QNetworkReply* reply) {
    // The page's own loads belong to the web engine, which reads and frees them itself.
    if (reply->request().originatingObject())
        return;
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        if (!reply->url().toString().isEmpty())
            qDebug("Error in %s: %s", qUtf8Printable(reply->url().toString()), qUtf8Printable(reply->errorString()));
        return;
    }

    const QString id = QString::fromUtf8(reply->request().rawHeader(articleIdHeader));
    if (!id.isEmpty() && !usableId(id))
        return;
    const QString contentType = QString::fromUtf8(reply->rawHeader("Content-Type"));
    const QString location = QString::fromUtf8(reply->rawHeader("Location"));
    const QString url = reply->url().toString();
    // One hop only: a service answering a follow-up with yet another pointer would never end.
    const bool mayFollow = !reply->request().attribute(followUpAttribute).toBool();

    // Each test below stands on its own; a reply may meet more than one.
    if (contentType.contains(QLatin1String("application/json"))) {
        if (url.toLower().contains(QLatin1String("mp3")) && mayFollow) {
            // The media API may answer with the media's URL as a JSON string.
            QString target = QString::fromUtf8(reply->readAll().constData());
            target.remove(QLatin1Char('"'));
            requestPart(target.trimmed(), id, &WebApi::dealMp3DownloadProgress, true);
        }
        if (url.contains(QLatin1String("sentence")))
            storeSentenceData(reply);
    }
    if (contentType.contains(QLatin1String("audio")) || contentType.contains(QLatin1String("video")))
        storeMedia(reply);
    if (contentType.contains(QLatin1String("image")))
        storeThumbnail(reply);
    if (contentType.contains(QLatin1String("zip")))
        storeArchive(reply);
    if (!location.isEmpty() && mayFollow) {
        // A relative target is taken against the URL that answered.
        const QString target = reply->url().resolved(QUrl(location)).toString();
        if (location.contains(QLatin1String(".zip")))
            requestPart(target, id, &WebApi::dealArchiveDownloadProgress, true);
        else if (location.contains(QLatin1String(".mp3")))
            requestPart(target, id, &WebApi::dealMp3DownloadProgress, true);
    }
}
