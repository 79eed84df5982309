#pragma once

#include "bridge/contentstore.h"

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Offline downloads. Sends the requests of an article's parts (archive, media,
// sentence data) and of thumbnails through the offline-data page's network
// manager, which signs them; routes the finished replies into the content store
// by content type, URL and redirect location; and reports progress and
// completed articles as signals. Every bridge has one for the downloads its
// page asks for; the one of the offline-data page's bridge routes the replies.
class DownloadRouter : public QObject {
    Q_OBJECT

public:
    explicit DownloadRouter(QObject* parent = nullptr);

    // Makes `manager` the one every download goes through, and this router the
    // one that routes its finished replies.
    void attach(QNetworkAccessManager* manager);
    static QNetworkAccessManager* network();

    // Downloads start only while the offline-data page is synchronised.
    static bool isReady();
    static void setReady(bool ready);

    // Thumbnail and parts of an "article" record, the thumbnail of a "channel"
    // record (records are the pages' JSON text).
    void downloadRecord(const QString& type, const QString& record);
    // The parts of every article whose id is a member of the list record.
    void downloadList(const QString& articleList);
    // A plain GET; its answer is routed like every other reply.
    void fetch(const QString& url);

    // Stores a finished part reply (the article id is the request's "articleId"
    // header) unless its file exists, then reports the article complete once all
    // three part files exist. A part that could not be stored is logged with its
    // cause and completes nothing.
    void store(ContentStore::Part part, QNetworkReply* reply);
    // Saves a thumbnail picture under the data directory (no completion check).
    void storeThumbnail(QNetworkReply* reply);

signals:
    // kind: "lrc", "mp3" or "archive"; total is -1 while unknown.
    void progress(const QString& kind, qint64 received, qint64 total, const QString& articleId);
    void articleComplete(const QString& articleId);

private:
    void route(QNetworkReply* reply);
    // One request carrying the "articleId" header; progress, when a kind is
    // given, is reported for it. A follow-up (a redirect or a media URL the
    // service named) is not followed any further.
    void requestPart(const QString& url, const QString& articleId, const char* progressKind = nullptr,
                     bool followUp = false);
    void requestArticle(const QString& articleId, const QString& sentenceBase);
};
