#pragma once

#include "bridge/bridgecontext.h"
#include "bridge/contentstore.h"
#include "core/net/downloadfailure.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class PartTransfer;

// Offline downloads. Sends the requests of an article's parts (archive, media,
// sentence data) and of thumbnails through the offline-data page's network
// manager, which signs those to the service; routes the replies into the
// content store by content type, URL and redirect location; and reports
// progress, completed articles and failed parts as signals. Every bridge has
// one for the downloads its page asks for; the one of the offline-data page's
// bridge routes the finished replies.
//
// Media and archives are written to their part file as they arrive. A request
// that receives nothing for a while fails (NetworkTimeouts); a part that fails
// on the way is tried again up to three times, after growing pauses, resuming
// where it broke off when the server allows ranges. A part that fails for good
// is reported once, with the reason.
//
// What all routers of a main window share (the network manager, whether the
// offline-data page is synchronised, the transfers, the content store) is in
// their BridgeContext.
class DownloadRouter : public QObject {
    Q_OBJECT

public:
    explicit DownloadRouter(std::shared_ptr<BridgeContext> context, QObject* parent = nullptr);

    // Makes `manager` the one every download goes through, and this router the
    // one that routes its finished replies.
    void attach(QNetworkAccessManager* manager);
    QNetworkAccessManager* network() const;

    // Downloads start only while the offline-data page is synchronised.
    bool isReady() const;
    void setReady(bool ready);

    // Thumbnail and parts of an "article" record, the thumbnail of a "channel"
    // record. Records are the pages' JSON text: anything but a JSON object is
    // refused with a log line, and false returned.
    bool downloadRecord(const QString& type, const QString& record);
    // The parts of every article whose id is a member of the list, a JSON
    // object; false when it is not one.
    bool downloadList(const QString& articleList);
    // A plain GET; its answer is routed like every other reply.
    void fetch(const QString& url);

    // Stores a finished part reply (the article id is the request's "articleId"
    // header) unless its file exists, then reports the article complete once all
    // three part files exist. False when it could not be stored.
    bool store(ContentStore::Part part, QNetworkReply* reply);
    // Saves a thumbnail picture under the data directory (no completion check).
    void storeThumbnail(QNetworkReply* reply);

    // Requests sent or waiting for another try, not yet ended.
    int transfersInProgress() const;

    // A record as the pages send it: a JSON object; nothing (and a log line)
    // for anything else, and for a text over 16 MiB, which is not even parsed.
    static std::optional<QJsonObject> parseRecord(const QString& text);
    static constexpr int maxRecordChars = 16 * 1024 * 1024;

    // What the page is told of a failed part, in German; status is the HTTP
    // status of the answer that failed, 0 when there was none.
    static QString pageText(DownloadCause cause, int status = 0);

signals:
    // kind: "lrc", "mp3" or "archive"; total is -1 while unknown.
    void progress(const QString& kind, qint64 received, qint64 total, const QString& articleId);
    void articleComplete(const QString& articleId);
    // After the last try of a part; part is its progress word, reason the
    // cause in German (the exact one is in the log).
    void partFailed(const QString& articleId, const QString& part, const QString& reason);

private:
    // Why one try failed: the cause, and the exact words for the log.
    struct Failure {
        DownloadCause cause;
        QString log;
        int status = 0;
    };

    void route(QNetworkReply* reply);
    // One request carrying the "articleId" header, for the part of that
    // progress word (none for thumbnails and plain fetches); progress is
    // reported when asked. A follow-up (a redirect or a media URL the service
    // named) is not followed any further.
    void requestPart(const QString& url, const QString& articleId, const char* part, bool progress,
                     bool followUp = false);
    void requestArticle(const QString& articleId, const QString& sentenceBase);
    // Sends (or sends again) the request of a transfer.
    void send(PartTransfer* transfer);
    // The end of one try of a transfer: true when it waits for another try,
    // false when it is done (stored, passed on or failed for good).
    bool conclude(PartTransfer* transfer, QNetworkReply* reply);
    bool retryOrFail(PartTransfer* transfer, const Failure& reason, bool retryable);
    bool fail(PartTransfer* transfer, const Failure& reason);
    // Routes a finished body by content type, URL and location; false when
    // nothing took it.
    bool routeBody(PartTransfer* transfer, QNetworkReply* reply);
    bool storeStreamed(PartTransfer* transfer, QNetworkReply* reply);
    void storeSentenceData(PartTransfer* transfer);
    void reportStored(const QString& articleId, ContentStore::StoreResult result);

    const std::shared_ptr<BridgeContext> context;
};
