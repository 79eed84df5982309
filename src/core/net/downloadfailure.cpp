#include "core/net/downloadfailure.h"

#include "core/net/timeouts.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <cerrno>

namespace DownloadFailure {

DownloadCause ofReply(const QNetworkReply* reply) {
    if (NetworkTimeouts::timedOut(reply))
        return NetworkTimeouts::tooSlow(reply) ? DownloadCause::TooSlow : DownloadCause::Stalled;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 500)
        return DownloadCause::ServerError;
    if (status >= 400)
        return DownloadCause::Refused;
    const QNetworkReply::NetworkError error = reply->error();
    // Connection and proxy errors: nothing (or not all) came from the server.
    if (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        return DownloadCause::NoConnection;
    return DownloadCause::BadAnswer;
}

DownloadCause ofFileError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? DownloadCause::DiskFull : DownloadCause::CannotStore;
}

} // namespace DownloadFailure
