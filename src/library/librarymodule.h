#pragma once

// The library layer as the rest of the program reaches it. Everything behind
// these interfaces (FFmpeg, Qt SQL and whatever later capabilities need) is
// built into one module beside the executable, which the bridge loads the first
// time one of them is used (bridge/libraryloader.h): a start that never opens
// the learner's files loads none of it. So this header includes Qt Core alone,
// and what crosses it is plain values, JSON and the abstract classes below.
//
// Adding a capability: a method here (in a block of its own with a comment
// line), its implementation in library/librarymodule.cpp over the code of the
// library folder, and the bridge calls it through LibraryLoader::module().

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// How sentences are found in sound without subtitles. The defaults suit speech
// recorded with little background noise.
struct SilenceOptions {
    double thresholdDb = -35.0; // quieter than this (dBFS, on every channel) is a pause
    int minPauseMs = 400;       // shorter quiet stretches are pauses within a sentence
    int minSegmentMs = 1000;    // shorter stretches of sound join the nearer neighbour
    int leadInMs = 50;          // a sentence starts this much before its sound, inside the pause
};

// {"error": text}: how every failure reaches the page.
inline QJsonObject mediaErrorJson(const QString& text) {
    return QJsonObject{{QStringLiteral("error"), text}};
}

// Long work of the library (reading a whole file, ...) runs where the caller
// says, so that the window stays responsive and the learner can cancel.
namespace LibraryWork {
// Takes 0..100 as the work goes on; returns false once the learner has cancelled.
using Progress = std::function<bool(int percent)>;
using Work = std::function<void(const Progress& progress)>;
// Runs the work (on a worker thread, showing its progress) and returns when it
// has returned. An empty runner means: run it here, without progress.
using Runner = std::function<void(const Work& work)>;
} // namespace LibraryWork

// The learner's imported media, kept in an SQLite database in a directory. One
// database connection: use it from the thread that opened it only.
class MediaLibraryStore {
public:
    virtual ~MediaLibraryStore() = default;

    // Why the library cannot be used, for the learner; empty when it can. A
    // library that cannot be used still reads files, it only keeps nothing.
    virtual QString errorString() const = 0;

    // The item of a local file as the page gets it ({"id", "title", "sentences", ...}
    // or {"error": text}): the stored one while the file is unchanged, else read
    // through `runner` and stored, keeping the sentence the learner had reached.
    virtual QJsonObject import(const QString& path, const SilenceOptions& silence,
                               const LibraryWork::Runner& runner) = 0;
    // Every item without its sentences, last opened first.
    virtual QJsonArray list() = 0;
    virtual bool forget(const QString& id) = 0;
    // Remembers the last practised sentence (clamped to the item's sentences).
    virtual bool setProgress(const QString& id, int sentence) = 0;

    // Sentence times fitted to the speech (library/speechsync.h); both give the
    // whole item as import() does, or {"error": text}. mode: "auto" (measured
    // again), "original" (the file's own times) or "offset:<ms>" (a shift of the
    // whole file).
    virtual QJsonObject resync(const QString& id, const QString& mode) = 0;
    // One sentence's times, set by the learner: inside the media, the start
    // before the end, not crossing the sentences before and after.
    virtual QJsonObject setSentenceTiming(const QString& id, int index, int startMs, int endMs) = 0;
};

// Kept sentences: their clips, their review schedule (FSRS-6) and the export for
// Anki. A card is JSON: {"id","text","translation","title","source":{"kind","id"},
// "sentence","start","end","audio","state","due" (ISO 8601),"stability","difficulty",
// "reps","lapses","created"}; "audio" is true while its clip file exists.
namespace KeptCardIds {
// 16 lower-case hex digits from where a sentence comes from and its index, so
// that keeping the same sentence again finds the same card.
inline QString cardId(const QString& sourceKind, const QString& sourceId, int sentence) {
    const QByteArray key = sourceKind.toUtf8() + '\n' + sourceId.toUtf8() + '\n' + QByteArray::number(sentence);
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
}
inline bool isCardId(const QString& id) {
    if (id.size() != 16)
        return false;
    for (const QChar c : id)
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return false;
    return true;
}
} // namespace KeptCardIds

// The kept sentences of a directory's database (the media library's, tables of
// their own), whose clips lie in a folder given when it is opened. One
// connection: the opening thread only. Times are ms since the epoch.
class ReviewStore {
public:
    virtual ~ReviewStore() = default;
    virtual QString errorString() const = 0;

    // Stores {"id","text","translation","title","sourceKind","sourceId","media","sentence","start","end","clip"}
    // as a new card, or updates the texts and clip of the card kept for the same
    // sentence, keeping its schedule. The card, or {} when it cannot be stored.
    virtual QJsonObject keep(const QJsonObject& card, qint64 now) = 0;
    // The card with its "clip" file name; {} for an unknown id.
    virtual QJsonObject card(const QString& id) = 0;
    // Removes the card; its clip's file name through `clip`.
    virtual bool forget(const QString& id, QString* clip) = 0;
    // The kept sentences of one source: [{"index","id"}].
    virtual QJsonArray keptFrom(const QString& sourceKind, const QString& sourceId) = 0;
    // {"due":[card...],"counts":{"new","learning","review"},"intervals":[ms x4 for the first card]}: the
    // counts of all due cards, the first 100 of them in the order they come.
    virtual QJsonObject due(qint64 now) = 0;
    // Answers a card with a rating 1-4: {"card","next" (id),"intervals","counts"}; {} for a bad id or rating.
    virtual QJsonObject answer(const QString& id, int rating, qint64 now) = 0;
    // {"days":[{"date","reviews"} x 84],"today":{"due","new","reviews"},"streak","goodShare","reviews","cards"}
    virtual QJsonObject stats(qint64 now) = 0;
    // Every card for the export: [{"id","text","translation","source","clip" (path or ""),"created"}].
    virtual QJsonArray exportNotes() = 0;
};

// Shadowing ("Nachsprechen", src/speech): the learner says a sentence back
// into the microphone and sees and hears the take next to the original. ------

// The sentence of the practised media, as the player has it.
struct ShadowingSentence {
    QString source;   // what the player plays: a file path or URL
    QString mediaKey; // the same media whatever its URL's signature: attempts are kept under it
    int index = 0;
    qint64 startMs = 0;
    qint64 endMs = 0; // 0 when unknown: up to the longest sentence compared
    QString caFile;   // extra trusted certificates for an https source
};

// One take, from the microphone's opening to its result; dropping it cancels.
class ShadowingTake {
public:
    virtual ~ShadowingTake() = default;
    // The sentence has been heard: what the microphone hears from now on is the
    // take, until the learner has spoken and been silent for 0.8 s, or maxMs.
    virtual void record(int maxMs) = 0;
    // Ends the recording now (the learner pressed Space).
    virtual void stop() = 0;
};

// What a take reports, on the thread of `context`, never after the take is gone.
struct ShadowingEvents {
    QObject* context = nullptr;
    std::function<void()> ready;     // the microphone is open: record() starts at once
    std::function<void()> analysing; // the recording has ended
    // The result for the page: {"index","attempt","score","timing","rhythm","melody",
    // "durationMs","originalMs","message","original":{"peaks","pitch"},"learner":{...},"path"},
    // with "attempt" "" and only the message when nothing was heard (no attempt is kept).
    std::function<void(const QJsonObject& result)> done;
    // No microphone, access refused, the sentence cannot be read: what to tell the learner.
    std::function<void(const QString& message)> failed;
};

// The learner's shadowing in a directory (the data directory): the attempts in
// the media library's database, the recordings beside it. Same thread only.
class ShadowingStudio {
public:
    virtual ~ShadowingStudio() = default;

    // {"microphones":[{"name","description"}],"default": the one used when none is chosen,
    // "error": when the sound server cannot be asked}. Blocks for at most 2 s.
    virtual QJsonObject microphones() = 0;
    // Opens the microphone (`device`, or the system's when empty or gone) and
    // meanwhile decodes and analyses the sentence.
    virtual std::unique_ptr<ShadowingTake> begin(const ShadowingSentence& sentence, const QString& device,
                                                 const ShadowingEvents& events) = 0;
    // The sentence's last attempts, newest first: [{"id","index","recorded","score",...}].
    virtual QJsonArray attempts(const QString& mediaKey, int index) = 0;
    // An attempt's result as the page was shown it; empty when there is none.
    virtual QJsonObject result(const QString& id) = 0;
    virtual bool deleteAttempt(const QString& id) = 0;
    // Plays an attempt's recording, or with `comparison` the original first and
    // then the recording (A/B), at the same loudness; `original` alone plays the
    // original sentence. `done` follows with an error text, "" when all was heard.
    virtual bool play(const QString& id, bool original, bool comparison, std::function<void(const QString&)> done) = 0;
    virtual void stopPlaying() = 0;
};

// The module's root object.
class LibraryModule {
public:
    virtual ~LibraryModule() = default;

    // Local media files: suffixes (lower case, without the dot) that can be
    // practised, and the library database in a directory (the data directory).
    virtual QStringList audioSuffixes() const = 0;
    virtual QStringList videoSuffixes() const = 0;
    virtual std::unique_ptr<MediaLibraryStore> openMediaLibrary(const QString& directory) = 0;
    // The database file openMediaLibrary keeps in its directory: while there is
    // none, nothing was ever imported, and a listing need not load the module.
    static QString mediaLibraryFileName() { return QStringLiteral("medialibrary.sqlite"); }
    // The id of the item of a media file (what import gives as "id").
    virtual QString mediaItemId(const QString& canonicalPath) const = 0;

    // Kept sentences: the store of a directory whose clips lie in `clipsDirectory`.
    virtual std::unique_ptr<ReviewStore> openReviewStore(const QString& directory, const QString& clipsDirectory) = 0;
    // Cuts exactly [startMs, endMs) of a media file's sound into `output` (Opus in
    // Ogg, or MP3 for ".mp3"), owner-only; blocking: {"ok","error","duration" (ms)}.
    virtual QJsonObject cutClip(const QString& input, qint64 startMs, qint64 endMs, const QString& output) = 0;
    // Writes the notes exportNotes() gives as an Anki package ("apkg") or a
    // tab-separated file with a sound folder ("tsv"); nothing is left behind on
    // failure. Blocking: {"ok","error","notes","sounds"}.
    virtual QJsonObject exportDeck(const QString& format, const QString& path, const QJsonArray& notes,
                                   const LibraryWork::Progress& progress) = 0;

    // Shadowing, with the attempts in the media library of a directory (the data directory).
    virtual std::unique_ptr<ShadowingStudio> openShadowing(const QString& directory) = 0;
};

#define TavrolinLibraryModule_iid "org.tavrolin.LibraryModule/2"
Q_DECLARE_INTERFACE(LibraryModule, TavrolinLibraryModule_iid)
