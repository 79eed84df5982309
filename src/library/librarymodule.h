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
};

#define TavrolinLibraryModule_iid "org.tavrolin.LibraryModule/1"
Q_DECLARE_INTERFACE(LibraryModule, TavrolinLibraryModule_iid)
