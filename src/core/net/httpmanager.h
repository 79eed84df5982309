#pragma once

#include "core/net/downloadfailure.h"

#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QObject;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// Why a request callback runs.
enum NetwordReplyType {
    ReplyFinished = 0,
    ReplyError = 1,
    ReplyTimeout = 2,
};

// A small process-wide HTTP client with callback-style operations, used by the
// update check and by the player's redirect resolution. It does not sign its
// requests; it only identifies the client. Callbacks run from the event loop.
//
// Callbacks may run seconds after the call (every GET ends with a time-out
// call). A caller whose callbacks use an object passes it as `context`: once
// that object is destroyed its callbacks are no longer called (and its
// download stops).
class HttpManager {
public:
    static HttpManager* instance();

    // Points the request at the service's HTTPS endpoint + path and adds the
    // identification headers.
    void prepareRequest(const QString& path, QNetworkRequest& request);

    // GET of a service path. The callback sees ReplyError and ReplyFinished as
    // they happen and, timeoutMs after the request, exactly one ReplyTimeout
    // (the request is aborted first when still running); the reply is deleted
    // after that last call.
    void getRequest(const QString& path, std::function<void(QNetworkReply*, NetwordReplyType)> callback,
                    QObject* context = nullptr);

    // HEAD of url: (true, target) for a 301/302 (with %2F and %3D written in
    // lower case), otherwise (false, url), also when nothing arrives for the
    // stall time (NetworkTimeouts).
    void resolveRedirect(const QString& url, std::function<void(bool, QString)> callback, QObject* context = nullptr);

    // (true, body) when the service offers an update; (false, "") when it says
    // there is none; (false, reason) when the check failed: no connection, no
    // answer in time, an HTTP status other than 200.
    void checkUpdate(std::function<void(bool, QString)> callback, QObject* context = nullptr);

    // Downloads an installer: url over https to path through path + ".tmp",
    // following up to five redirects, each of them to https; a redirect's body
    // is never stored. Only a complete transfer replaces path; any failure
    // (another scheme, nothing arriving for the stall time, an error status, a
    // short body) reports (false, reason, cause), removes the temporary file
    // and leaves path as it was; reason is for the log, cause for the user. A
    // cancelled transfer reports nothing.
    void downloadFile(const QString& url, const QString& path, std::function<void(qint64, qint64)> progress,
                      std::function<void(bool, QString, DownloadCause)> finished, QObject* context = nullptr);

    // Stops the running download at its next progress report.
    void cancelDownload();

    QNetworkAccessManager* network;
    int timeoutMs;
    bool cancelRequested;

private:
    HttpManager();
    HttpManager(const HttpManager&) = delete;
    HttpManager& operator=(const HttpManager&) = delete;

    struct Download;
    // One step of a download: the request to url, then the next step of a redirect.
    void startDownload(const QUrl& url, const std::shared_ptr<Download>& download);
};
