#include "core/trust.h"

#include "core/appinfo.h"
#include "core/serviceconfig.h"
#include "core/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace Trust {

namespace {

QString bareHost(QString host) {
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    return host.toLower();
}

// The path with symbolic links resolved; for a file that does not exist, its
// cleaned absolute path (it cannot be read anyway).
QString realPath(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

bool isInside(const QString& path, const QString& directory) {
    QString dir = realPath(directory);
    if (dir.isEmpty())
        return false;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return path.startsWith(dir);
}

// A file: URL's local path, or empty when it names another machine.
QString localPath(const QUrl& url) {
    if (!url.isLocalFile())
        return QString();
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return QString();
    return url.toLocalFile();
}

} // namespace

bool isServiceUrl(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    const bool secure = scheme == QLatin1String("https");
    if (!secure && scheme != QLatin1String("http"))
        return false;
    const ServiceConfig::Location where = ServiceConfig::location();
    if (bareHost(url.host()) != bareHost(where.host))
        return false;
    return secure ? url.port(443) == where.httpsPort : url.port(80) == where.httpPort;
}

bool isOwnPage(const QUrl& url) {
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return isServiceUrl(url);
    const QString path = localPath(url);
    return !path.isEmpty() && isInside(realPath(path), AppInfo::applicationDirectory());
}

bool mayLoadFile(const QUrl& url) {
    if (url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return true;
    const QString local = localPath(url);
    if (local.isEmpty())
        return false;
    const QString path = realPath(local);
    // The proxy password lives in the settings file.
    if (path == realPath(Settings::settingsFilePath()))
        return false;
    return isInside(path, AppInfo::applicationDirectory()) || isInside(path, dataDirectory());
}

bool mayOpenInBrowser(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"));
}

bool mayCapture(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace Trust
