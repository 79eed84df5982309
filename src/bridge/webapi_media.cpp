// The bridge's slots for the learner's own media files. The work is MediaFiles';
// only the main page's bridge has them.
#include "bridge/mediafiles.h"
#include "bridge/webapi.h"
#include "core/pageprotocol.h"
#include "playback/practicecontroller.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The practice follows new times of the file it plays.
void followTiming(PracticeController* practice, const QString& itemJson) {
    const QJsonObject item = QJsonDocument::fromJson(itemJson.toUtf8()).object();
    if (item.contains(QStringLiteral("error")) || practice->source() != item.value(QStringLiteral("path")).toString())
        return;
    QList<int> starts, ends;
    for (const QJsonValue& value : item.value(QStringLiteral("sentences")).toArray()) {
        starts << value.toObject().value(QStringLiteral("start")).toInt();
        ends << value.toObject().value(QStringLiteral("end")).toInt();
    }
    practice->setSentenceTimes(starts, ends);
}

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

QString WebApi::resyncMedia(const QString& id, const QString& mode) {
    MediaFiles* media = mediaFiles();
    if (!media)
        return notHere(context());
    const QString item = media->resync(id, mode);
    followTiming(practice(), item);
    return item;
}

QString WebApi::setSentenceTiming(const QString& id, int index, int startMs, int endMs) {
    MediaFiles* media = mediaFiles();
    if (!media)
        return notHere(context());
    const QString item = media->setSentenceTiming(id, index, startMs, endMs);
    followTiming(practice(), item);
    return item;
}
