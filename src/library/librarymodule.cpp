// The library module's root object: the interfaces of library/librarymodule.h
// over the code of this folder. Built only into the module.
#include "library/librarymodule.h"

#include "library/mediaimporter.h"
#include "library/medialibrary.h"

#include <QtPlugin>

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

private:
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
