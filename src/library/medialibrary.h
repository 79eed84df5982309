#pragma once

#include "library/librarymodule.h"
#include "library/mediaimporter.h"
#include "library/mediaitem.h"

#include <QJsonArray>
#include <QString>

#include <optional>

// The learner's imported media, kept in an SQLite database in a directory (the
// data directory): for each file its path, size and modification time, what was
// read from it, the last practised sentence and when it was last opened.
//
// A library object uses its own database connection, which belongs to the thread
// that created it: call it from that thread only. For long files, look up the
// stored item here, run importMedia() on a worker thread, and keep() the result.
//
// Every write is one transaction in write-ahead-log mode, so a process killed
// while writing leaves a database with every earlier write intact. A database
// that cannot be opened, is damaged or comes from a newer version is left as it
// is: the library reports it through errorString() and stores nothing.
class MediaLibrary {
public:
    explicit MediaLibrary(const QString& directory);
    ~MediaLibrary();
    MediaLibrary(const MediaLibrary&) = delete;
    MediaLibrary& operator=(const MediaLibrary&) = delete;

    static QString fileName() { return LibraryModule::mediaLibraryFileName(); }
    static constexpr int schemaVersion = 4;

    bool isOpen() const { return usable; }
    // The database connection, for the classes that keep their own tables in it
    // (ReviewDeck, ShadowingAttempts); same thread only.
    const QString& connectionName() const { return connection; }
    // Why the library cannot be used, for the learner; empty when it can.
    QString errorString() const { return error; }

    // The stored item of a file that has not changed since it was read (same
    // size and modification time), with its last opened time set to now.
    std::optional<MediaItem> storedItem(const QString& mediaPath);
    // Stores an item read by importMedia(), replacing an earlier reading of the
    // same file but keeping its last practised sentence where it still exists.
    bool store(const MediaItem& item);
    // store() for a successful importMedia(), taking over the sentence the learner
    // had reached. When the library cannot keep the item the result becomes a
    // failure that says why.
    MediaImportResult keep(MediaImportResult result);

    // Every item without its sentences, last opened first:
    // {"id","path","title","mediaType","duration","sentenceSource","sentenceCount","lastSentence","lastOpened"
    // (ms since the epoch),"missing","skippedCues"}. "missing" is true when the file is no longer there.
    QJsonArray list();
    bool forget(const QString& id);
    // Remembers the last practised sentence (clamped to the item's sentences).
    bool setProgress(const QString& id, int sentence);
    // A stored item by id, with where speech was heard (item.speech), changed
    // file or not; missing is set when the file is gone.
    std::optional<MediaItem> item(const QString& id);
    // Keeps new sentence times of a stored item (fitted again, or set by the
    // learner); false when it is unknown or its sentences are not these.
    bool setTiming(const QString& id, const QVector<MediaSentence>& sentences, const MediaSync& sync);

private:
    bool open();
    bool migrate(int from);
    bool fail(const QString& what, const QString& detail);

    QString path;
    QString connection;
    QString error;
    QString writeError;
    bool usable = false;
};
