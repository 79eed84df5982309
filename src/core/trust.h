#pragma once

#include <QString>

class QUrl;

// Where the program draws its trust boundaries, decided from URLs alone: which
// pages are ours (and so may carry a bridge), which requests belong to the
// service (and so carry its credentials), which local files a page may read,
// and what the pages may hand to the desktop.
namespace Trust {

// A page of our own: a file: URL inside the application directory, or a page
// of the configured service origin over https.
bool isOwnPage(const QUrl& url);

// The configured service: its host with http on its HTTP port or https on its
// HTTPS port. Only such requests are signed.
bool isServiceUrl(const QUrl& url);

// A file: URL that a page may load: inside the application directory or the
// data directory, but never the settings file. Symbolic links are followed
// before the test. URLs of other schemes are not judged here (true).
bool mayLoadFile(const QUrl& url);

// openBrowser passes http, https and mailto URLs to the desktop only.
bool mayOpenInBrowser(const QUrl& url);

// captureWord fetches http and https URLs only.
bool mayCapture(const QUrl& url);

} // namespace Trust
