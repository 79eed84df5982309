#pragma once

#include <QString>
#include <QVector>

#include <functional>

// Writing the kept sentences for another program: an Anki package (.apkg: a zip
// holding the classic `collection.anki2` SQLite collection every Anki 2.1
// imports, the `media` map and the numbered sound files) or a tab-separated file
// with a folder of sound files beside it.
//
// Both are written under temporary names and put in place only when complete:
// a failure (a full disk, a vanished clip is not one) leaves nothing behind.
namespace DeckExport {

struct Note {
    QString id; // the card's 16 hex digits; the note keeps it as its guid
    QString text;
    QString translation;
    QString source;   // what the learner reads as the source
    QString clipPath; // the sound file; empty or missing: a note without sound
    qint64 created = 0;
};

struct Result {
    bool ok = false;
    QString error;
    int notes = 0;
    int sounds = 0;
};

// `progress` (0..notes) may be empty; it returning false cancels.
Result writeApkg(const QString& path, const QVector<Note>& notes, const std::function<bool(int)>& progress = {});
// `path` is the .tsv file; the sounds go into the folder `soundFolder(path)`.
Result writeTsv(const QString& path, const QVector<Note>& notes, const std::function<bool(int)>& progress = {});
QString soundFolder(const QString& tsvPath);
// The name a clip has inside the export: the card's id, so that a second export
// into the same Anki collection replaces instead of doubling.
QString soundName(const Note& note);

} // namespace DeckExport
