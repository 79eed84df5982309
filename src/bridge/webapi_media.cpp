// The bridge's slots for the learner's own media files. The work is MediaFiles';
// only the main page's bridge has them.
#include "bridge/mediafiles.h"
#include "bridge/webapi.h"
#include "core/pageprotocol.h"

#include <QJsonDocument>

namespace {

QString notHere(BridgeContext& context) {
    qWarning("Local media files are reached from the main page only");
    context.loadPageTranslation();
    const QString text = MediaFiles::tr("Your own media files can be opened from the main page only.");
    return QString::fromUtf8(QJsonDocument(mediaErrorJson(text)).toJson(QJsonDocument::Compact));
}

} // namespace

MediaFiles* WebApi::mediaFiles() {
    if (!mainView)
        return nullptr;
    if (!files)
        files = new MediaFiles(context(), this);
    return files;
}

void WebApi::openMediaFile(const QString& path) {
    MediaFiles* media = mediaFiles();
    if (!media)
        return;
    if (!media->open(path) && mainPageMode == PageProtocol::local)
        gotoOnline(); // the local article page has no list of files
}

QString WebApi::importMedia(const QString& path) {
    MediaFiles* media = mediaFiles();
    return media ? media->import(path) : notHere(context());
}

QString WebApi::openMediaDialog() {
    MediaFiles* media = mediaFiles();
    return media ? media->chooseAndImport() : notHere(context());
}

QString WebApi::mediaLibrary() {
    MediaFiles* media = mediaFiles();
    return media ? media->list() : QStringLiteral("[]");
}

void WebApi::forgetMedia(const QString& id) {
    if (MediaFiles* media = mediaFiles())
        media->forget(id);
}

void WebApi::setMediaProgress(const QString& id, int sentence) {
    if (MediaFiles* media = mediaFiles())
        media->setProgress(id, sentence);
}
