// The library module's root object: the interfaces of library/librarymodule.h
// over the code of this folder. Built only into the module.
#include "library/librarymodule.h"

#include "library/clipcutter.h"
#include "library/deckexport.h"
#include "library/mediaimporter.h"
#include "library/medialibrary.h"
#include "library/reviewdeck.h"
#include "library/shadowingstudio.h"
#include "library/speechsync.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
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

class ReviewStoreImpl : public ReviewStore {
public:
    ReviewStoreImpl(const QString& directory, const QString& clipsDirectory)
        : db(directory), deck(db), clips(clipsDirectory) {}

    QString errorString() const override { return db.errorString(); }

    QJsonObject keep(const QJsonObject& in, qint64 now) override {
        KeptCard c;
        c.id = in.value("id").toString();
        c.text = in.value("text").toString();
        c.translation = in.value("translation").toString();
        c.title = in.value("title").toString();
        c.sourceKind = in.value("sourceKind").toString();
        c.sourceId = in.value("sourceId").toString();
        c.media = in.value("media").toString();
        c.sentence = in.value("sentence").toInt();
        c.startMs = qint64(in.value("start").toDouble());
        c.endMs = qint64(in.value("end").toDouble());
        c.clip = in.value("clip").toString();
        const auto stored = deck.keep(c, now);
        return stored ? stored->toJson(hasClip(stored->clip)) : QJsonObject();
    }

    QJsonObject card(const QString& id) override {
        const auto c = deck.card(id);
        if (!c)
            return QJsonObject();
        QJsonObject out = c->toJson(hasClip(c->clip));
        out.insert("clip", c->clip);
        return out;
    }

    bool forget(const QString& id, QString* clip) override { return deck.forget(id, clip); }

    QJsonArray keptFrom(const QString& sourceKind, const QString& sourceId) override {
        QJsonArray out;
        for (const auto& [index, id] : deck.keptFrom(sourceKind, sourceId))
            out.append(QJsonObject{{"index", index}, {"id", id}});
        return out;
    }

    QJsonObject due(qint64 now) override {
        const ReviewDeck::Due due = deck.due(now);
        // One listing of the clips folder instead of a look-up per card.
        const QStringList names = QDir(clips).entryList(QDir::Files);
        const QSet<QString> present(names.begin(), names.end());
        QJsonArray list;
        for (const KeptCard& c : due.cards)
            list.append(c.toJson(!c.clip.isEmpty() && present.contains(c.clip)));
        QJsonObject out{{"due", list}, {"counts", counts(due)}};
        if (!due.cards.isEmpty())
            out.insert("intervals", intervals(due.cards.first().schedule, now));
        return out;
    }

    QJsonObject answer(const QString& id, int rating, qint64 now) override {
        const auto answered = deck.answer(id, rating, now);
        if (!answered)
            return QJsonObject();
        QJsonObject out{{"card", answered->toJson(hasClip(answered->clip))}};
        const ReviewDeck::Due due = deck.due(now);
        if (!due.cards.isEmpty()) {
            out.insert("next", due.cards.first().id);
            out.insert("intervals", intervals(due.cards.first().schedule, now));
        }
        out.insert("counts", counts(due));
        return out;
    }

    QJsonObject stats(qint64 now) override { return deck.stats(now); }

    QJsonArray exportNotes() override {
        QJsonArray out;
        for (const KeptCard& c : deck.all())
            out.append(QJsonObject{{"id", c.id},
                                   {"text", c.text},
                                   {"translation", c.translation},
                                   {"source", c.title.isEmpty() ? c.sourceKind : c.title},
                                   {"clip", c.clip.isEmpty() ? QString() : QDir(clips).filePath(c.clip)},
                                   {"created", c.created}});
        return out;
    }

private:
    bool hasClip(const QString& clip) const {
        return !clip.isEmpty() && QFileInfo(QDir(clips).filePath(clip)).isFile();
    }
    static QJsonObject counts(const ReviewDeck::Due& due) {
        return QJsonObject{{"new", due.fresh}, {"learning", due.learning}, {"review", due.review}};
    }
    static QJsonArray intervals(const Fsrs::Card& card, qint64 now) {
        QJsonArray out;
        for (const qint64 ms : Fsrs::Scheduler().intervals(card, now))
            out.append(ms);
        return out;
    }

    MediaLibrary db;
    ReviewDeck deck;
    QString clips;
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
    QString mediaItemId(const QString& canonicalPath) const override { return ::mediaItemId(canonicalPath); }

    std::unique_ptr<ReviewStore> openReviewStore(const QString& directory, const QString& clipsDirectory) override {
        return std::make_unique<ReviewStoreImpl>(directory, clipsDirectory);
    }

    QJsonObject cutClip(const QString& input, qint64 startMs, qint64 endMs, const QString& output) override {
        const ClipCutter::Result r = ClipCutter::cut(input, startMs, endMs, output);
        return QJsonObject{{"ok", r.ok}, {"error", r.error}, {"duration", r.durationMs}};
    }

    QJsonObject exportDeck(const QString& format, const QString& path, const QJsonArray& notes,
                           const LibraryWork::Progress& progress) override {
        QVector<DeckExport::Note> list;
        list.reserve(notes.size());
        for (const QJsonValue& v : notes) {
            const QJsonObject n = v.toObject();
            list.append({n.value("id").toString(), n.value("text").toString(), n.value("translation").toString(),
                         n.value("source").toString(), n.value("clip").toString(),
                         qint64(n.value("created").toDouble())});
        }
        const auto each = [&progress, total = notes.size()](int done) {
            return !progress || progress(total ? done * 100 / total : 100);
        };
        const DeckExport::Result r = format == QLatin1String("apkg") ? DeckExport::writeApkg(path, list, each)
                                                                     : DeckExport::writeTsv(path, list, each);
        return QJsonObject{{"ok", r.ok}, {"error", r.error}, {"notes", r.notes}, {"sounds", r.sounds}};
    }

    std::unique_ptr<ShadowingStudio> openShadowing(const QString& directory) override {
        return openShadowingStudio(directory);
    }
};

#include "librarymodule.moc"
