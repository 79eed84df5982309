// The library module's root object: the interfaces of library/librarymodule.h
// over the code of this folder. Built only into the module.
#include "library/librarymodule.h"

#include "library/mediaimporter.h"
#include "library/medialibrary.h"
#include "library/speechsync.h"

#include <QCoreApplication>

#include <QtPlugin>

#include <functional>
#include <utility>

namespace {

class MediaLibraryStoreImpl : public MediaLibraryStore {
public:
    explicit MediaLibraryStoreImpl(const QString& directory) : db(directory) {}

    QString errorString() const override { return db.errorString(); }

    QJsonObject import(const QString& path, const SilenceOptions& silence, const LibraryWork::Runner& runner) override {
        if (std::optional<MediaItem> stored = db.storedItem(path))
            return stored->toJson();
        MediaImportResult result;
        MediaImportOptions options;
        options.silence = silence;
        const LibraryWork::Work work = [&](const LibraryWork::Progress& progress) {
            options.progress = progress;
            result = importMedia(path, options);
        };
        if (runner)
            runner(work);
        else
            work({});
        return db.keep(std::move(result)).toJson();
    }

    QJsonArray list() override { return db.list(); }
    bool forget(const QString& id) override { return db.forget(id); }
    bool setProgress(const QString& id, int sentence) override { return db.setProgress(id, sentence); }

    QJsonObject resync(const QString& id, const QString& mode) override {
        return retime(id, [&mode](MediaItem& item) {
            return SpeechSync::retime(item, mode) ? QString() : tr("\"%1\" is no way to set the times.").arg(mode);
        });
    }

    QJsonObject setSentenceTiming(const QString& id, int index, int startMs, int endMs) override {
        return retime(id, [=](MediaItem& item) { return SpeechSync::setSentenceTiming(item, index, startMs, endMs); });
    }

private:
    static QString tr(const char* text) { return QCoreApplication::translate("SpeechSync", text); }

    // The stored item with new times from `change` (which says why not), kept.
    QJsonObject retime(const QString& id, const std::function<QString(MediaItem&)>& change) {
        std::optional<MediaItem> item = db.item(id);
        if (!item)
            return mediaErrorJson(db.errorString().isEmpty() ? tr("This file is not in the media library.")
                                                             : db.errorString());
        const QString refused = change(*item);
        if (!refused.isEmpty())
            return mediaErrorJson(refused);
        if (!db.setTiming(id, item->sentences, item->sync))
            return mediaErrorJson(tr("The new times cannot be kept in the media library."));
        return item->toJson();
    }

    MediaLibrary db;
};

} // namespace

class LibraryModuleImpl : public QObject, public LibraryModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TavrolinLibraryModule_iid)
    Q_INTERFACES(LibraryModule)

public:
    QStringList audioSuffixes() const override { return mediaAudioSuffixes(); }
    QStringList videoSuffixes() const override { return mediaVideoSuffixes(); }
    std::unique_ptr<MediaLibraryStore> openMediaLibrary(const QString& directory) override {
        return std::make_unique<MediaLibraryStoreImpl>(directory);
    }
};

#include "librarymodule.moc"
