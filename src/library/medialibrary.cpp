#include "library/medialibrary.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtDebug>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("MediaLibrary", text);
}

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString compact(const QJsonArray& array) {
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QJsonArray parseArray(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

const char itemColumns[] = "id, path, size, modified, title, media_type, duration, sentence_source, sentences, "
                           "skipped_cues, warnings, last_sentence, sync, original_times";

QJsonObject parseObject(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// An item from a query of itemColumns.
MediaItem readItem(const QSqlQuery& query) {
    MediaItem item;
    item.id = query.value(0).toString();
    item.path = query.value(1).toString();
    item.fileSize = query.value(2).toLongLong();
    item.fileModified = query.value(3).toLongLong();
    item.title = query.value(4).toString();
    item.mediaType = query.value(5).toString();
    item.duration = query.value(6).toLongLong();
    item.sentenceSource = query.value(7).toString();
    item.sentences = MediaItem::sentencesFromJson(parseArray(query.value(8).toString()));
    item.skippedCues = query.value(9).toInt();
    for (const QJsonValue& warning : parseArray(query.value(10).toString()))
        item.warnings << warning.toString();
    item.lastSentence = query.value(11).toInt();
    item.sync = MediaSync::fromJson(parseObject(query.value(12).toString()));
    item.originalTimes = MediaItem::spansFromJson(parseArray(query.value(13).toString()));
    return item;
}

} // namespace

MediaLibrary::MediaLibrary(const QString& directory)
    : path(QDir(directory).filePath(fileName())),
      // Unique while this object lives, which is as long as the connection does.
      connection(QStringLiteral("tavrolin-medialibrary-%1").arg(quintptr(this), 0, 16)) {
    if (!QDir().mkpath(directory)) {
        fail(tr("The media library cannot be created in %1.").arg(QDir::toNativeSeparators(directory)), QString());
        return;
    }
    usable = open();
}

MediaLibrary::~MediaLibrary() {
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }
}

bool MediaLibrary::fail(const QString& what, const QString& detail) {
    error = detail.isEmpty() ? what : what + QStringLiteral(" (") + detail + QLatin1Char(')');
    qWarning("Media library %s: %s", qPrintable(path), qPrintable(error));
    return false;
}

bool MediaLibrary::open() {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(tr("The media library needs the SQLite driver of Qt (libqt5sql5-sqlite)."), QString());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(tr("The media library cannot be opened."), db.lastError().text());
    QSqlQuery query(db);
    // The first read also finds a file that is not a database at all.
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(tr("The media library cannot be read; it was left as it is."), query.lastError().text());
    const int version = query.value(0).toInt();
    if (version > schemaVersion)
        return fail(tr("The media library was written by a newer version of this program; it was left as it is."),
                    QString());
    if (!query.exec(QStringLiteral("PRAGMA quick_check(1)")) || !query.next() ||
        query.value(0).toString() != QLatin1String("ok"))
        return fail(tr("The media library is damaged; it was left as it is."),
                    query.lastError().isValid() ? query.lastError().text() : query.value(0).toString());
    // Write-ahead log: a commit is one append, and a process killed while writing
    // leaves every earlier commit intact. Without it (some file systems) the
    // rollback journal keeps the same promise, only slower.
    query.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return version == schemaVersion || migrate(version);
}

bool MediaLibrary::migrate(int from) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.transaction())
        return fail(tr("The media library cannot be set up."), db.lastError().text());
    QSqlQuery query(db);
    QStringList steps;
    if (from < 1) {
        steps << QStringLiteral("CREATE TABLE items ("
                                "id TEXT PRIMARY KEY,"
                                "path TEXT NOT NULL UNIQUE,"
                                "size INTEGER NOT NULL,"
                                "modified INTEGER NOT NULL,"
                                "title TEXT NOT NULL,"
                                "media_type TEXT NOT NULL,"
                                "duration INTEGER NOT NULL,"
                                "sentence_source TEXT NOT NULL,"
                                "sentence_count INTEGER NOT NULL,"
                                "sentences TEXT NOT NULL,"
                                "skipped_cues INTEGER NOT NULL DEFAULT 0,"
                                "warnings TEXT NOT NULL DEFAULT '[]',"
                                "last_sentence INTEGER NOT NULL DEFAULT 0,"
                                "last_opened INTEGER NOT NULL,"
                                "added INTEGER NOT NULL)")
              << QStringLiteral("CREATE INDEX items_last_opened ON items (last_opened)");
    }
    if (from < 2) {
        // Sentence times fitted to the speech: how, the times as read, and where speech was heard.
        steps << QStringLiteral("ALTER TABLE items ADD COLUMN sync TEXT NOT NULL DEFAULT '{}'")
              << QStringLiteral("ALTER TABLE items ADD COLUMN original_times TEXT NOT NULL DEFAULT '[]'")
              << QStringLiteral("ALTER TABLE items ADD COLUMN speech TEXT NOT NULL DEFAULT '[]'");
    }
    if (from < 3) {
        // Kept sentences with their review schedule (ReviewDeck), and every answer.
        steps << QStringLiteral("CREATE TABLE kept_cards ("
                                "id TEXT PRIMARY KEY,"
                                "text TEXT NOT NULL,"
                                "translation TEXT NOT NULL,"
                                "title TEXT NOT NULL,"
                                "source_kind TEXT NOT NULL,"
                                "source_id TEXT NOT NULL,"
                                "media TEXT NOT NULL,"
                                "sentence INTEGER NOT NULL,"
                                "start_ms INTEGER NOT NULL,"
                                "end_ms INTEGER NOT NULL,"
                                "clip TEXT NOT NULL,"
                                "created INTEGER NOT NULL,"
                                "state TEXT NOT NULL,"
                                "due INTEGER NOT NULL,"
                                "last_review INTEGER NOT NULL,"
                                "stability REAL NOT NULL,"
                                "difficulty REAL NOT NULL,"
                                "step INTEGER NOT NULL,"
                                "reps INTEGER NOT NULL,"
                                "lapses INTEGER NOT NULL)")
              << QStringLiteral("CREATE INDEX kept_cards_due ON kept_cards (due)")
              << QStringLiteral("CREATE INDEX kept_cards_source ON kept_cards (source_kind, source_id)")
              << QStringLiteral("CREATE TABLE kept_reviews ("
                                "card TEXT NOT NULL,"
                                "at INTEGER NOT NULL,"
                                "rating INTEGER NOT NULL,"
                                "state_before TEXT NOT NULL)")
              << QStringLiteral("CREATE INDEX kept_reviews_at ON kept_reviews (at)");
    }
    if (from < 4) {
        // The learner's shadowing attempts (ShadowingAttempts); the recordings are
        // files beside the database, the result is what the page draws again.
        steps << QStringLiteral("CREATE TABLE shadowing_attempts ("
                                "id TEXT PRIMARY KEY,"
                                "media TEXT NOT NULL,"
                                "sentence INTEGER NOT NULL,"
                                "source TEXT NOT NULL,"
                                "start_ms INTEGER NOT NULL,"
                                "end_ms INTEGER NOT NULL,"
                                "recorded INTEGER NOT NULL,"
                                "recording TEXT NOT NULL,"
                                "duration_ms INTEGER NOT NULL,"
                                "score INTEGER NOT NULL,"
                                "timing INTEGER NOT NULL,"
                                "rhythm INTEGER NOT NULL,"
                                "melody INTEGER NOT NULL,"
                                "loudness REAL NOT NULL,"
                                "original_loudness REAL NOT NULL,"
                                "result TEXT NOT NULL)")
              << QStringLiteral(
                     "CREATE INDEX shadowing_attempts_sentence ON shadowing_attempts (media, sentence, recorded)");
    }
    steps << QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion);
    for (const QString& step : steps) {
        if (!query.exec(step)) {
            const QString detail = query.lastError().text();
            db.rollback();
            return fail(tr("The media library cannot be set up."), detail);
        }
    }
    if (!db.commit()) {
        const QString detail = db.lastError().text();
        db.rollback();
        return fail(tr("The media library cannot be set up."), detail);
    }
    return true;
}

std::optional<MediaItem> MediaLibrary::storedItem(const QString& mediaPath) {
    const QFileInfo info(mediaPath);
    if (!usable || !info.isFile())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("SELECT %1 FROM items WHERE path = ?").arg(QLatin1String(itemColumns)));
    query.addBindValue(info.canonicalFilePath());
    if (!query.exec() || !query.next())
        return std::nullopt;
    MediaItem item = readItem(query);
    if (item.fileSize != info.size() || item.fileModified != info.lastModified().toMSecsSinceEpoch())
        return std::nullopt; // changed since it was read: read it again
    query.finish();

    QSqlQuery touch(QSqlDatabase::database(connection, false));
    touch.prepare(QStringLiteral("UPDATE items SET last_opened = ? WHERE id = ?"));
    touch.addBindValue(now());
    touch.addBindValue(item.id);
    if (!touch.exec())
        qWarning("Media library: cannot note the opening of %s: %s", qPrintable(item.path),
                 qPrintable(touch.lastError().text()));
    return item;
}

bool MediaLibrary::store(const MediaItem& item) {
    if (!usable)
        return false;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    // One statement, so one transaction: the earlier reading stays whole until this one is.
    query.prepare(QStringLiteral(
        "INSERT INTO items (id, path, size, modified, title, media_type, duration, sentence_source, sentence_count, "
        "sentences, skipped_cues, warnings, last_sentence, last_opened, added, sync, original_times, speech) "
        "VALUES (:id, :path, :size, :modified, :title, :media_type, :duration, :sentence_source, :sentence_count, "
        ":sentences, :skipped_cues, :warnings, :last_sentence, :opened, :added, :sync, :original_times, :speech) "
        "ON CONFLICT (id) DO UPDATE SET path = excluded.path, size = excluded.size, modified = excluded.modified, "
        "title = excluded.title, media_type = excluded.media_type, duration = excluded.duration, "
        "sentence_source = excluded.sentence_source, sentence_count = excluded.sentence_count, "
        "sentences = excluded.sentences, skipped_cues = excluded.skipped_cues, warnings = excluded.warnings, "
        "last_sentence = MAX(0, MIN(items.last_sentence, excluded.sentence_count - 1)), "
        "last_opened = excluded.last_opened, sync = excluded.sync, original_times = excluded.original_times, "
        "speech = excluded.speech"));
    query.bindValue(QStringLiteral(":id"), item.id);
    query.bindValue(QStringLiteral(":path"), item.path);
    query.bindValue(QStringLiteral(":size"), item.fileSize);
    query.bindValue(QStringLiteral(":modified"), item.fileModified);
    query.bindValue(QStringLiteral(":title"), item.title);
    query.bindValue(QStringLiteral(":media_type"), item.mediaType);
    query.bindValue(QStringLiteral(":duration"), item.duration);
    query.bindValue(QStringLiteral(":sentence_source"), item.sentenceSource);
    query.bindValue(QStringLiteral(":sentence_count"), item.sentences.size());
    query.bindValue(QStringLiteral(":sentences"), compact(MediaItem::sentencesToJson(item.sentences)));
    query.bindValue(QStringLiteral(":skipped_cues"), item.skippedCues);
    query.bindValue(QStringLiteral(":warnings"), compact(QJsonArray::fromStringList(item.warnings)));
    query.bindValue(QStringLiteral(":last_sentence"),
                    qBound(0, item.lastSentence, std::max(0, int(item.sentences.size()) - 1)));
    const qint64 time = now();
    query.bindValue(QStringLiteral(":opened"), time);
    query.bindValue(QStringLiteral(":added"), time);
    query.bindValue(QStringLiteral(":sync"),
                    QString::fromUtf8(QJsonDocument(item.sync.toJson()).toJson(QJsonDocument::Compact)));
    query.bindValue(QStringLiteral(":original_times"), compact(MediaItem::spansToJson(item.originalTimes)));
    query.bindValue(QStringLiteral(":speech"), compact(MediaItem::spansToJson(item.speech)));
    if (!query.exec()) {
        writeError = query.lastError().text();
        qWarning("Media library: cannot store %s: %s", qPrintable(item.path), qPrintable(writeError));
        return false;
    }
    return true;
}

MediaImportResult MediaLibrary::keep(MediaImportResult result) {
    if (!result.ok())
        return result;
    // Nothing stored is no success: the learner would find the file gone next time.
    if (!usable) {
        result.error = tr("The file could not be added to your files: %1").arg(error);
    } else if (!store(result.item)) {
        result.error =
            tr("The file could not be added to your files: the media library cannot store it (%1).").arg(writeError);
    } else {
        // A file read again keeps the sentence the learner had reached.
        QSqlQuery query(QSqlDatabase::database(connection, false));
        query.prepare(QStringLiteral("SELECT last_sentence FROM items WHERE id = ?"));
        query.addBindValue(result.item.id);
        if (query.exec() && query.next())
            result.item.lastSentence = query.value(0).toInt();
    }
    return result;
}

QJsonArray MediaLibrary::list() {
    QJsonArray items;
    if (!usable)
        return items;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, path, title, media_type, duration, sentence_source, sentence_count, "
                                   "last_sentence, last_opened, skipped_cues FROM items ORDER BY last_opened DESC"))) {
        qWarning("Media library: cannot list: %s", qPrintable(query.lastError().text()));
        return items;
    }
    while (query.next()) {
        const QString file = query.value(1).toString();
        items.append(QJsonObject{
            {QStringLiteral("id"), query.value(0).toString()},
            {QStringLiteral("path"), file},
            {QStringLiteral("title"), query.value(2).toString()},
            {QStringLiteral("mediaType"), query.value(3).toString()},
            {QStringLiteral("duration"), query.value(4).toLongLong()},
            {QStringLiteral("sentenceSource"), query.value(5).toString()},
            {QStringLiteral("sentenceCount"), query.value(6).toInt()},
            {QStringLiteral("lastSentence"), query.value(7).toInt()},
            {QStringLiteral("lastOpened"), query.value(8).toLongLong()},
            {QStringLiteral("skippedCues"), query.value(9).toInt()},
            {QStringLiteral("missing"), !QFileInfo::exists(file)},
        });
    }
    return items;
}

bool MediaLibrary::forget(const QString& id) {
    if (!usable)
        return false;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("DELETE FROM items WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec()) {
        qWarning("Media library: cannot forget %s: %s", qPrintable(id), qPrintable(query.lastError().text()));
        return false;
    }
    return query.numRowsAffected() > 0;
}

std::optional<MediaItem> MediaLibrary::item(const QString& id) {
    if (!usable)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("SELECT %1, speech FROM items WHERE id = ?").arg(QLatin1String(itemColumns)));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    MediaItem item = readItem(query);
    item.speech = MediaItem::spansFromJson(parseArray(query.value(14).toString()));
    item.missing = !QFileInfo::exists(item.path);
    return item;
}

bool MediaLibrary::setTiming(const QString& id, const QVector<MediaSentence>& sentences, const MediaSync& sync) {
    if (!usable)
        return false;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    // The count stays: times change, sentences do not come or go.
    query.prepare(QStringLiteral("UPDATE items SET sentences = ?, sync = ? WHERE id = ? AND sentence_count = ?"));
    query.addBindValue(compact(MediaItem::sentencesToJson(sentences)));
    query.addBindValue(QString::fromUtf8(QJsonDocument(sync.toJson()).toJson(QJsonDocument::Compact)));
    query.addBindValue(id);
    query.addBindValue(sentences.size());
    if (!query.exec()) {
        writeError = query.lastError().text();
        qWarning("Media library: cannot store the timing of %s: %s", qPrintable(id), qPrintable(writeError));
        return false;
    }
    return query.numRowsAffected() > 0;
}

bool MediaLibrary::setProgress(const QString& id, int sentence) {
    if (!usable)
        return false;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("UPDATE items SET last_sentence = MAX(0, MIN(?, sentence_count - 1)), "
                                 "last_opened = ? WHERE id = ?"));
    query.addBindValue(sentence);
    query.addBindValue(now());
    query.addBindValue(id);
    if (!query.exec()) {
        qWarning("Media library: cannot note progress of %s: %s", qPrintable(id), qPrintable(query.lastError().text()));
        return false;
    }
    return query.numRowsAffected() > 0;
}
