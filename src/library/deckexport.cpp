#include "library/deckexport.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <set>

namespace DeckExport {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("DeckExport", text);
}

// Fixed ids, so that every export lands in the same note type and deck of a
// collection it is imported into again.
constexpr qint64 modelId = 1718000000001;
constexpr qint64 deckId = 1718000000002;
const QStringList fieldNames{QStringLiteral("Satz"), QStringLiteral("Übersetzung"), QStringLiteral("Ton"),
                             QStringLiteral("Quelle")};

Result failure(const QString& text) {
    Result r;
    r.error = text;
    return r;
}

QString html(const QString& text) {
    return text.toHtmlEscaped();
}

QString soundTag(const Note& note, bool hasSound) {
    return hasSound ? QStringLiteral("[sound:%1]").arg(soundName(note)) : QString();
}

bool hasClip(const Note& note) {
    return !note.clipPath.isEmpty() && QFileInfo(note.clipPath).isFile();
}

QJsonObject model(qint64 now) {
    QJsonArray fields;
    for (int i = 0; i < fieldNames.size(); ++i)
        fields.append(QJsonObject{{"name", fieldNames[i]},
                                  {"ord", i},
                                  {"sticky", false},
                                  {"rtl", false},
                                  {"font", "Arial"},
                                  {"size", 20},
                                  {"media", QJsonArray()}});
    // Listening first: the sound on the front (the sentence where a note has no sound).
    const QJsonObject card{
        {"name", "Hören"},
        {"ord", 0},
        {"qfmt", "{{#Ton}}{{Ton}}{{/Ton}}{{^Ton}}{{Satz}}{{/Ton}}"},
        {"afmt",
         "{{FrontSide}}<hr id=answer><div class=satz>{{Satz}}</div><div class=uebersetzung>{{Übersetzung}}</div>"
         "<div class=quelle>{{Quelle}}</div>"},
        {"bqfmt", ""},
        {"bafmt", ""},
        {"did", QJsonValue::Null},
        {"bfont", ""},
        {"bsize", 0}};
    return QJsonObject{{"id", modelId},
                       {"name", "Tavrolin Satz"},
                       {"type", 0},
                       {"mod", now / 1000},
                       {"usn", -1},
                       {"sortf", 0},
                       {"did", deckId},
                       {"tmpls", QJsonArray{card}},
                       {"flds", fields},
                       {"css", ".card { font-family: Arial; font-size: 22px; text-align: center; }\n"
                               ".uebersetzung { color: #555; margin-top: .5em; }\n"
                               ".quelle { color: #888; font-size: 14px; margin-top: 1em; }\n"},
                       {"latexPre",
                        "\\documentclass[12pt]{article}\n\\special{papersize=3in,5in}\n\\usepackage{amssymb,"
                        "amsmath}\n\\pagestyle{empty}\n\\setlength{\\parindent}{0in}\n\\begin{document}\n"},
                       {"latexPost", "\\end{document}"},
                       {"latexsvg", false},
                       {"req", QJsonArray{QJsonArray{0, "any", QJsonArray{0, 2}}}},
                       {"tags", QJsonArray()},
                       {"vers", QJsonArray()}};
}

QJsonObject deck(qint64 id, const QString& name, qint64 now) {
    return QJsonObject{{"id", id},
                       {"name", name},
                       {"mod", now / 1000},
                       {"usn", -1},
                       {"desc", ""},
                       {"dyn", 0},
                       {"conf", 1},
                       {"collapsed", false},
                       {"browserCollapsed", false},
                       {"newToday", QJsonArray{0, 0}},
                       {"revToday", QJsonArray{0, 0}},
                       {"lrnToday", QJsonArray{0, 0}},
                       {"timeToday", QJsonArray{0, 0}},
                       {"extendNew", 10},
                       {"extendRev", 50}};
}

QJsonObject deckConfig() {
    return QJsonObject{
        {"id", 1},
        {"name", "Default"},
        {"mod", 0},
        {"usn", 0},
        {"maxTaken", 60},
        {"autoplay", true},
        {"timer", 0},
        {"replayq", true},
        {"dyn", false},
        {"new", QJsonObject{{"delays", QJsonArray{1, 10}},
                            {"ints", QJsonArray{1, 4, 0}},
                            {"initialFactor", 2500},
                            {"order", 1},
                            {"perDay", 20},
                            {"bury", false}}},
        {"lapse",
         QJsonObject{{"delays", QJsonArray{10}}, {"mult", 0}, {"minInt", 1}, {"leechFails", 8}, {"leechAction", 1}}},
        {"rev",
         QJsonObject{
             {"perDay", 200}, {"ease4", 1.3}, {"ivlFct", 1}, {"maxIvl", 36500}, {"bury", false}, {"hardFactor", 1.2}}}};
}

const char* const schema[] = {
    "CREATE TABLE col (id integer primary key, crt integer not null, mod integer not null, scm integer not null,"
    " ver integer not null, dty integer not null, usn integer not null, ls integer not null, conf text not null,"
    " models text not null, decks text not null, dconf text not null, tags text not null)",
    "CREATE TABLE notes (id integer primary key, guid text not null, mid integer not null, mod integer not null,"
    " usn integer not null, tags text not null, flds text not null, sfld integer not null, csum integer not null,"
    " flags integer not null, data text not null)",
    "CREATE TABLE cards (id integer primary key, nid integer not null, did integer not null, ord integer not null,"
    " mod integer not null, usn integer not null, type integer not null, queue integer not null, due integer not null,"
    " ivl integer not null, factor integer not null, reps integer not null, lapses integer not null,"
    " left integer not null, odue integer not null, odid integer not null, flags integer not null,"
    " data text not null)",
    "CREATE TABLE revlog (id integer primary key, cid integer not null, usn integer not null, ease integer not null,"
    " ivl integer not null, lastIvl integer not null, factor integer not null, time integer not null,"
    " type integer not null)",
    "CREATE TABLE graves (usn integer not null, oid integer not null, type integer not null)",
    "CREATE INDEX ix_notes_usn on notes (usn)",
    "CREATE INDEX ix_cards_usn on cards (usn)",
    "CREATE INDEX ix_revlog_usn on revlog (usn)",
    "CREATE INDEX ix_cards_nid on cards (nid)",
    "CREATE INDEX ix_cards_sched on cards (did, queue, due)",
    "CREATE INDEX ix_revlog_cid on revlog (cid)",
    "CREATE INDEX ix_notes_csum on notes (csum)",
};

// The first 8 hex digits of the SHA-1 of the sort field, as Anki finds duplicates.
qint64 checksum(const QString& sortField) {
    return QCryptographicHash::hash(sortField.toUtf8(), QCryptographicHash::Sha1)
        .toHex()
        .left(8)
        .toLongLong(nullptr, 16);
}

// Writes the collection database; the connection is closed before returning.
QString writeCollection(const QString& file, const QVector<Note>& notes, const std::vector<bool>& sounds) {
    const QString name = QStringLiteral("deckexport-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            auto run = [&](const QString& sql) {
                if (error.isEmpty() && !q.exec(sql))
                    error = q.lastError().text();
            };
            run(QStringLiteral("PRAGMA journal_mode = OFF"));
            db.transaction();
            for (const char* statement : schema)
                run(QString::fromLatin1(statement));
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            const QJsonObject conf{{"nextPos", notes.size() + 1},
                                   {"estTimes", true},
                                   {"activeDecks", QJsonArray{deckId}},
                                   {"sortType", "noteFld"},
                                   {"timeLim", 0},
                                   {"sortBackwards", false},
                                   {"addToCur", true},
                                   {"curDeck", deckId},
                                   {"newBury", true},
                                   {"newSpread", 0},
                                   {"dueCounts", true},
                                   {"curModel", QString::number(modelId)},
                                   {"collapseTime", 1200}};
            const QJsonObject models{{QString::number(modelId), model(now)}};
            const QJsonObject decks{{"1", deck(1, "Default", now)},
                                    {QString::number(deckId), deck(deckId, "Tavrolin", now)}};
            const QJsonObject dconf{{"1", deckConfig()}};
            if (error.isEmpty()) {
                q.prepare(QStringLiteral("INSERT INTO col VALUES (1, ?, ?, ?, 11, 0, 0, 0, ?, ?, ?, ?, '{}')"));
                q.addBindValue(now / 1000 / 86400 * 86400);
                q.addBindValue(now);
                q.addBindValue(now);
                q.addBindValue(QString::fromUtf8(QJsonDocument(conf).toJson(QJsonDocument::Compact)));
                q.addBindValue(QString::fromUtf8(QJsonDocument(models).toJson(QJsonDocument::Compact)));
                q.addBindValue(QString::fromUtf8(QJsonDocument(decks).toJson(QJsonDocument::Compact)));
                q.addBindValue(QString::fromUtf8(QJsonDocument(dconf).toJson(QJsonDocument::Compact)));
                if (!q.exec())
                    error = q.lastError().text();
            }
            QSqlQuery note(db);
            QSqlQuery card(db);
            note.prepare(QStringLiteral("INSERT INTO notes VALUES (?, ?, ?, ?, -1, '', ?, ?, ?, 0, '')"));
            card.prepare(
                QStringLiteral("INSERT INTO cards VALUES (?, ?, ?, 0, ?, -1, 0, 0, ?, 0, 0, 0, 0, 0, 0, 0, 0, '')"));
            std::set<qint64> used;
            auto uniqueId = [&used](qint64 id) {
                while (!used.insert(id).second)
                    ++id;
                return id;
            };
            for (int i = 0; i < notes.size() && error.isEmpty(); ++i) {
                const Note& n = notes[i];
                const qint64 noteId = uniqueId(n.created > 0 ? n.created : now + i);
                const QStringList fields{html(n.text), html(n.translation), soundTag(n, sounds[size_t(i)]),
                                         html(n.source)};
                note.addBindValue(noteId);
                note.addBindValue(QStringLiteral("tavrolin-") + n.id);
                note.addBindValue(modelId);
                note.addBindValue(now / 1000);
                note.addBindValue(fields.join(QChar(0x1f)));
                note.addBindValue(n.text);
                note.addBindValue(checksum(n.text));
                if (!note.exec()) {
                    error = note.lastError().text();
                    break;
                }
                card.addBindValue(uniqueId(noteId + 1));
                card.addBindValue(noteId);
                card.addBindValue(deckId);
                card.addBindValue(now / 1000);
                card.addBindValue(i + 1);
                if (!card.exec())
                    error = card.lastError().text();
            }
            if (error.isEmpty() && !db.commit())
                error = db.lastError().text();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

// Everything left in one device into another; false on a read or write error.
bool pour(QIODevice& from, QIODevice& to) {
    char buffer[64 * 1024];
    qint64 n;
    while ((n = from.read(buffer, sizeof buffer)) > 0)
        if (to.write(buffer, n) != n)
            return false;
    return n == 0;
}

bool addToZip(QuaZip& zip, const QString& name, QIODevice& source, bool compress) {
    QuaZipFile entry(&zip);
    QuaZipNewInfo info(name);
    info.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!entry.open(QIODevice::WriteOnly, info, nullptr, 0, compress ? Z_DEFLATED : 0, compress ? 6 : 0))
        return false;
    const bool copied = pour(source, entry);
    entry.close();
    return copied && entry.getZipError() == ZIP_OK;
}

bool addFileToZip(QuaZip& zip, const QString& name, const QString& path, bool compress) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && addToZip(zip, name, file, compress);
}

// A plain copy: QFile::copy goes through a temporary file of its own per file.
bool copyFile(const QString& from, const QString& to) {
    QFile in(from);
    QFile out(to);
    return in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly) && pour(in, out) && out.flush();
}

bool putInPlace(const QString& part, const QString& path) {
    QFile::remove(path);
    if (!QFile::rename(part, path))
        return false;
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

} // namespace

QString soundName(const Note& note) {
    return QStringLiteral("tavrolin-%1.%2").arg(note.id, QFileInfo(note.clipPath).suffix());
}

QString soundFolder(const QString& tsvPath) {
    const QFileInfo info(tsvPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(" Ton"));
}

Result writeApkg(const QString& path, const QVector<Note>& notes, const std::function<bool(int)>& progress) {
    QTemporaryDir work(QFileInfo(path).dir().filePath(QStringLiteral(".tavrolin-export-XXXXXX")));
    if (!work.isValid())
        return failure(tr("The export could not be written to this folder."));
    std::vector<bool> sounds;
    for (const Note& n : notes)
        sounds.push_back(hasClip(n));
    const QString collection = work.filePath(QStringLiteral("collection.anki2"));
    const QString dbError = writeCollection(collection, notes, sounds);
    if (!dbError.isEmpty())
        return failure(tr("The export could not be written (%1).").arg(dbError));

    const QString part = work.filePath(QStringLiteral("deck.apkg"));
    Result result;
    {
        QuaZip zip(part);
        zip.setUtf8Enabled(true);
        if (!zip.open(QuaZip::mdCreate))
            return failure(tr("The export could not be written."));
        bool ok = addFileToZip(zip, QStringLiteral("collection.anki2"), collection, true);
        QJsonObject media;
        int number = 0;
        for (int i = 0; ok && i < notes.size(); ++i) {
            if (progress && !progress(i)) {
                zip.close();
                return failure(tr("The export was cancelled."));
            }
            if (!sounds[size_t(i)])
                continue;
            const QString entry = QString::number(number++);
            ok = addFileToZip(zip, entry, notes[i].clipPath, false);
            media.insert(entry, soundName(notes[i]));
        }
        QByteArray map = QJsonDocument(media).toJson(QJsonDocument::Compact);
        QBuffer buffer(&map);
        buffer.open(QIODevice::ReadOnly);
        ok = ok && addToZip(zip, QStringLiteral("media"), buffer, true);
        zip.close();
        if (!ok || zip.getZipError() != ZIP_OK)
            return failure(tr("The export could not be written; is the disk full?"));
        result.sounds = number;
    }
    if (!putInPlace(part, path))
        return failure(tr("The export could not be put in place."));
    result.ok = true;
    result.notes = notes.size();
    if (progress)
        progress(notes.size());
    return result;
}

Result writeTsv(const QString& path, const QVector<Note>& notes, const std::function<bool(int)>& progress) {
    const QString folder = soundFolder(path);
    QTemporaryDir work(QFileInfo(path).dir().filePath(QStringLiteral(".tavrolin-export-XXXXXX")));
    if (!work.isValid())
        return failure(tr("The export could not be written to this folder."));
    const QString sounds = work.filePath(QStringLiteral("sounds"));
    QDir().mkpath(sounds);
    auto flat = [](QString text) {
        text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return text;
    };
    QByteArray out = "#separator:tab\n#html:false\n#columns:" + fieldNames.join(QLatin1Char('\t')).toUtf8() + '\n';
    Result result;
    for (int i = 0; i < notes.size(); ++i) {
        if (progress && !progress(i))
            return failure(tr("The export was cancelled."));
        const Note& n = notes[i];
        const bool sound = hasClip(n);
        if (sound) {
            if (!copyFile(n.clipPath, sounds + QLatin1Char('/') + soundName(n)))
                return failure(tr("The export could not be written; is the disk full?"));
            ++result.sounds;
        }
        out += QStringList{flat(n.text), flat(n.translation), soundTag(n, sound), flat(n.source)}
                   .join(QLatin1Char('\t'))
                   .toUtf8() +
               '\n';
    }
    const QString part = work.filePath(QStringLiteral("deck.tsv"));
    QFile file(part);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.flush()) {
        file.close();
        return failure(tr("The export could not be written; is the disk full?"));
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return failure(tr("The export could not be written; is the disk full?"));
    // The folder first: a file in place always has its sounds.
    QDir(folder).removeRecursively();
    if (!QDir().rename(sounds, folder) || !putInPlace(part, path))
        return failure(tr("The export could not be put in place."));
    result.ok = true;
    result.notes = notes.size();
    if (progress)
        progress(notes.size());
    return result;
}

} // namespace DeckExport
