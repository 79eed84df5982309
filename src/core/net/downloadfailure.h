#pragma once

class QNetworkReply;

// Why a download failed, in a word each audience is told in its own language:
// the pages in German, the program's windows in Chinese. The exact wording,
// in English, goes to the log only.
enum class DownloadCause {
    DiskFull,            // no room left on the disk, or too little for what was announced
    TooLarge,            // a body of unknown length past the ceiling, or a reply too large to read whole
    LongerThanAnnounced, // more than the server announced
    TooSlow,             // below the minimum rate
    Stalled,             // nothing arrived for the stall time
    NoConnection,        // the server could not be reached, or the connection broke
    ServerError,         // the server's own trouble (HTTP 5xx)
    Refused,             // the server said no (another HTTP error status)
    Incomplete,          // ended before its announced length
    CannotStore,         // the file could not be created or written, for another reason than room
    Insecure,            // not over https where it must be
    BadAnswer,           // an answer that is no such download
};

namespace DownloadFailure {

// The cause of a reply that ended with an error, its own time-outs
// (NetworkTimeouts) included.
DownloadCause ofReply(const QNetworkReply* reply);
// The cause of a failed write or file creation, from its errno.
DownloadCause ofFileError(int error);

} // namespace DownloadFailure
