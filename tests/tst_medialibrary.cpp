// The media library database: what it remembers across restarts, files that
// change or vanish, damaged databases, and a process killed while writing.
#include "library/medialibrary.h"
#include "library/shadowingattempts.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

namespace {

const QString samples = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);

QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

// A stored item as the importer would give it, with many sentences so that
// storing it takes many page writes.
MediaItem bulkyItem(const QString& path, int sentences, const QString& version = "alt") {
    MediaItem item;
    const QFileInfo info(path);
    item.path = info.canonicalFilePath();
    item.id = mediaItemId(item.path);
    item.title = info.completeBaseName();
    item.mediaType = "audio";
    item.sentenceSource = "sidecar";
    item.fileSize = info.size();
    item.fileModified = info.lastModified().toMSecsSinceEpoch();
    for (int i = 0; i < sentences; ++i)
        item.sentences.append(
            {i * 1000, i * 1000 + 900, QString("Satz %1 (%2)").arg(i).arg(version), QString("第%1句").arg(i)});
    item.duration = sentences * 1000;
    return item;
}

QString makeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
        return QString();
    return path;
}

// As the bridge imports, without its worker thread: the stored item, else read and kept.
MediaImportResult importOrGet(MediaLibrary& library, const QString& path) {
    if (std::optional<MediaItem> stored = library.storedItem(path))
        return {*stored, QString()};
    return library.keep(importMedia(path));
}

QJsonObject entry(const QJsonArray& list, const QString& id) {
    for (const QJsonValue& v : list)
        if (v.toObject().value("id").toString() == id)
            return v.toObject();
    return QJsonObject();
}

// SQLite's own file layer with one change: once armed, the n-th write stops the
// process for good, in the middle of a transaction, until it is killed.
namespace StallingFiles {

sqlite3_vfs* real = nullptr;
sqlite3_vfs vfs;
sqlite3_io_methods methods;
int writesLeft = 0; // 0: not armed

struct File {
    sqlite3_file base;
    sqlite3_file* inner;
};

sqlite3_file* inner(sqlite3_file* f) {
    return reinterpret_cast<File*>(f)->inner;
}

int write(sqlite3_file* f, const void* data, int size, sqlite3_int64 offset) {
    if (writesLeft > 0 && --writesLeft == 0) {
        std::puts("stalled");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1); // killed here
    }
    return inner(f)->pMethods->xWrite(inner(f), data, size, offset);
}

int open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    auto* file = reinterpret_cast<File*>(f);
    file->inner = reinterpret_cast<sqlite3_file*>(file + 1);
    const int result = real->xOpen(real, name, file->inner, flags, outFlags);
    file->base.pMethods = file->inner->pMethods ? &methods : nullptr;
    return result;
}

void install() {
    real = sqlite3_vfs_find(nullptr);
    vfs = *real;
    vfs.zName = "stalling";
    vfs.szOsFile = int(sizeof(File)) + real->szOsFile;
    vfs.xOpen = open;
    // Everything but writing goes straight to the real methods.
    methods.iVersion = 3;
    methods.xClose = [](sqlite3_file* f) { return inner(f)->pMethods->xClose(inner(f)); };
    methods.xRead = [](sqlite3_file* f, void* d, int n, sqlite3_int64 o) {
        return inner(f)->pMethods->xRead(inner(f), d, n, o);
    };
    methods.xWrite = write;
    methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 n) { return inner(f)->pMethods->xTruncate(inner(f), n); };
    methods.xSync = [](sqlite3_file* f, int flags) { return inner(f)->pMethods->xSync(inner(f), flags); };
    methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* n) { return inner(f)->pMethods->xFileSize(inner(f), n); };
    methods.xLock = [](sqlite3_file* f, int l) { return inner(f)->pMethods->xLock(inner(f), l); };
    methods.xUnlock = [](sqlite3_file* f, int l) { return inner(f)->pMethods->xUnlock(inner(f), l); };
    methods.xCheckReservedLock = [](sqlite3_file* f, int* r) {
        return inner(f)->pMethods->xCheckReservedLock(inner(f), r);
    };
    methods.xFileControl = [](sqlite3_file* f, int op, void* a) {
        return inner(f)->pMethods->xFileControl(inner(f), op, a);
    };
    methods.xSectorSize = [](sqlite3_file* f) { return inner(f)->pMethods->xSectorSize(inner(f)); };
    methods.xDeviceCharacteristics = [](sqlite3_file* f) {
        return inner(f)->pMethods->xDeviceCharacteristics(inner(f));
    };
    methods.xShmMap = [](sqlite3_file* f, int i, int n, int w, void volatile** p) {
        return inner(f)->pMethods->xShmMap(inner(f), i, n, w, p);
    };
    methods.xShmLock = [](sqlite3_file* f, int o, int n, int fl) {
        return inner(f)->pMethods->xShmLock(inner(f), o, n, fl);
    };
    methods.xShmBarrier = [](sqlite3_file* f) { inner(f)->pMethods->xShmBarrier(inner(f)); };
    methods.xShmUnmap = [](sqlite3_file* f, int d) { return inner(f)->pMethods->xShmUnmap(inner(f), d); };
    methods.xFetch = [](sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
        return inner(f)->pMethods->xFetch(inner(f), o, n, p);
    };
    methods.xUnfetch = [](sqlite3_file* f, sqlite3_int64 o, void* p) {
        return inner(f)->pMethods->xUnfetch(inner(f), o, p);
    };
    sqlite3_vfs_register(&vfs, 1);
}

} // namespace StallingFiles

// Child mode: stores `count` items, telling each once it is committed, then
// stalls in the middle of writing one more ("add") or of replacing the first
// with a longer new version ("replace").
int writeAndStall(const QString& dataDir, const QString& mediaDir, int count, const QString& last) {
    StallingFiles::install();
    MediaLibrary library(dataDir);
    if (!library.isOpen()) {
        std::fprintf(stderr, "%s\n", qPrintable(library.errorString()));
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const QString path = makeFile(QString("%1/datei-%2.mp3").arg(mediaDir).arg(i));
        if (path.isEmpty() || !library.store(bulkyItem(path, 2000)) || !library.setProgress(mediaItemId(path), i))
            return 1;
        std::printf("stored %s\n", qPrintable(path));
        std::fflush(stdout);
    }
    const MediaItem item = last == "add" ? bulkyItem(makeFile(mediaDir + "/neu.mp3"), 3000, "neu")
                                         : bulkyItem(mediaDir + "/datei-0.mp3", 3000, "neu");
    StallingFiles::writesLeft = 12;
    library.store(item);
    std::fprintf(stderr, "the write did not stall\n");
    return 1;
}

} // namespace

class TestMediaLibrary : public QObject {
    Q_OBJECT

private slots:
    void init();
    void unchangedFileIsNotReadAgain();
    void progressSurvivesRestart();
    void vanishedFileIsListedMissingAndRemovable();
    void unusableDatabaseIsLeftAsItIs_data();
    void unusableDatabaseIsLeftAsItIs();
    void upgradesFromEveryEarlierVersion_data();
    void upgradesFromEveryEarlierVersion();
    void killedWhileWritingLosesNothing_data();
    void killedWhileWritingLosesNothing();
    void itemsOfTheFirstVersionStay();
    void shadowingKeepsTheLastFiveAttempts();

private:
    QString copySample(const QString& name, const QString& as = QString());

    std::unique_ptr<QTemporaryDir> media;
    std::unique_ptr<QTemporaryDir> data;
};

void TestMediaLibrary::init() {
    media = std::make_unique<QTemporaryDir>();
    data = std::make_unique<QTemporaryDir>();
    QVERIFY(media->isValid() && data->isValid());
}

QString TestMediaLibrary::copySample(const QString& name, const QString& as) {
    const QString target = media->filePath(as.isEmpty() ? name : as);
    QFile::copy(samples + "/" + name, target);
    return target;
}

void TestMediaLibrary::unchangedFileIsNotReadAgain() {
    // Guards against re-reading every file on each opening, and against a changed file never being read again.
    const QString audio = copySample("gespraech.mp3");
    copySample("gespraech.de.srt");
    MediaLibrary library(data->path());
    QVERIFY2(library.isOpen(), qPrintable(library.errorString()));

    const MediaImportResult first = importOrGet(library, audio);
    QVERIFY2(first.ok(), qPrintable(first.error));
    QCOMPARE(first.item.sentenceSource, QString("sidecar"));

    QVERIFY(QFile::remove(media->filePath("gespraech.de.srt"))); // reading again would now find pauses
    const MediaImportResult stored = importOrGet(library, audio);
    QVERIFY(stored.ok());
    QCOMPARE(stored.toJson(), first.toJson());

    QFile file(audio);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QFileInfo(audio).lastModified().addSecs(10), QFileDevice::FileModificationTime));
    file.close();
    const MediaImportResult reread = importOrGet(library, audio);
    QVERIFY(reread.ok());
    QCOMPARE(reread.item.sentenceSource, QString("silence"));
    QCOMPARE(reread.item.id, first.item.id);
}

void TestMediaLibrary::progressSurvivesRestart() {
    // Guards against losing the learner's place on a restart or when the file is read again.
    const QString audio = copySample("gespraech.mp3");
    copySample("gespraech.de.srt");
    QString id;
    {
        MediaLibrary library(data->path());
        id = importOrGet(library, audio).item.id;
        QVERIFY(library.setProgress(id, 3));
        QVERIFY(!library.setProgress("unbekannt", 1));
    }
    MediaLibrary library(data->path());
    QCOMPARE(importOrGet(library, audio).item.lastSentence, 3);
    QVERIFY(library.setProgress(id, 99)); // past the end: the last sentence
    QCOMPARE(entry(library.list(), id).value("lastSentence").toInt(), 4);

    QFile file(audio);
    QVERIFY(file.open(QIODevice::Append) && file.write("\0", 1) == 1); // changed: read again
    file.close();
    const MediaImportResult reread = importOrGet(library, audio);
    QVERIFY(reread.ok());
    QCOMPARE(reread.item.lastSentence, 4);
}

void TestMediaLibrary::vanishedFileIsListedMissingAndRemovable() {
    // Guards against a deleted file vanishing from the list silently, or its removal taking others along.
    const QString gone = copySample("pausen.opus", "weg.opus");
    const QString kept = copySample("pausen.opus", "bleibt.opus");
    MediaLibrary library(data->path());
    const QString goneId = importOrGet(library, gone).item.id;
    const QString keptId = importOrGet(library, kept).item.id;
    QVERIFY(!goneId.isEmpty() && goneId != keptId);

    QJsonArray list = library.list();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).toObject().keys(),
             (QStringList{"duration", "id", "lastOpened", "lastSentence", "mediaType", "missing", "path",
                          "sentenceCount", "sentenceSource", "skippedCues", "title"}));
    QCOMPARE(entry(list, keptId).value("sentenceCount").toInt(), 5);

    QVERIFY(QFile::remove(gone));
    list = library.list();
    QCOMPARE(entry(list, goneId).value("missing").toBool(), true);
    QCOMPARE(entry(list, keptId).value("missing").toBool(), false);
    QVERIFY(!importOrGet(library, gone).ok());

    QVERIFY(library.forget(goneId));
    QVERIFY(!library.forget(goneId));
    list = library.list();
    QCOMPARE(list.size(), 1);
    QCOMPARE(entry(list, keptId).value("sentenceCount").toInt(), 5);
    const std::optional<MediaItem> stored = library.storedItem(kept);
    QVERIFY(stored);
    QCOMPARE(stored->sentences.size(), 5);
}

void TestMediaLibrary::upgradesFromEveryEarlierVersion_data() {
    QTest::addColumn<int>("version");
    for (int version = 0; version < MediaLibrary::schemaVersion; ++version)
        QTest::addRow("from %d", version) << version;
}

// A database of every earlier layout opens with its items, and every later
// table is there to write to. Guards against a step that is skipped (two
// steps under one number) or that throws the learner's items away.
void TestMediaLibrary::upgradesFromEveryEarlierVersion() {
    QFETCH(int, version);
    const QString database = QDir(data->path()).filePath(MediaLibrary::fileName());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(database);
        QVERIFY(db.open());
        QSqlQuery q(db);
        if (version >= 1) { // the items as the first layout wrote them
            QVERIFY(q.exec("CREATE TABLE items (id TEXT PRIMARY KEY, path TEXT NOT NULL UNIQUE, size INTEGER NOT "
                           "NULL, modified INTEGER NOT NULL, title TEXT NOT NULL, media_type TEXT NOT NULL, duration "
                           "INTEGER NOT NULL, sentence_source TEXT NOT NULL, sentence_count INTEGER NOT NULL, "
                           "sentences TEXT NOT NULL, skipped_cues INTEGER NOT NULL DEFAULT 0, warnings TEXT NOT NULL "
                           "DEFAULT '[]', last_sentence INTEGER NOT NULL DEFAULT 0, last_opened INTEGER NOT NULL, "
                           "added INTEGER NOT NULL)"));
            QVERIFY(q.exec("INSERT INTO items VALUES ('0123456789abcdef', '/nirgends/alt.mp3', 1, 1, 'Alt', "
                           "'audio/mpeg', 4000, 'pauses', 2, '[]', 0, '[]', 1, 1, 1)"));
        }
        if (version >= 2) { // sentence times fitted to the speech
            for (const char* column : {"sync TEXT NOT NULL DEFAULT '{}'", "original_times TEXT NOT NULL DEFAULT '[]'",
                                       "speech TEXT NOT NULL DEFAULT '[]'"})
                QVERIFY(q.exec(QString("ALTER TABLE items ADD COLUMN %1").arg(column)));
        }
        if (version >= 3) { // kept sentences
            QVERIFY(q.exec("CREATE TABLE kept_cards (id TEXT PRIMARY KEY, text TEXT NOT NULL, translation TEXT NOT "
                           "NULL, title TEXT NOT NULL, source_kind TEXT NOT NULL, source_id TEXT NOT NULL, media TEXT "
                           "NOT NULL, sentence INTEGER NOT NULL, start_ms INTEGER NOT NULL, end_ms INTEGER NOT NULL, "
                           "clip TEXT NOT NULL, created INTEGER NOT NULL, state TEXT NOT NULL, due INTEGER NOT NULL, "
                           "last_review INTEGER NOT NULL, stability REAL NOT NULL, difficulty REAL NOT NULL, step "
                           "INTEGER NOT NULL, reps INTEGER NOT NULL, lapses INTEGER NOT NULL)"));
            QVERIFY(q.exec("CREATE TABLE kept_reviews (card TEXT NOT NULL, at INTEGER NOT NULL, rating INTEGER NOT "
                           "NULL, state_before TEXT NOT NULL)"));
        }
        QVERIFY(q.exec(QString("PRAGMA user_version = %1").arg(version)));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("old");

    {
        MediaLibrary library(data->path());
        QVERIFY2(library.isOpen(), qPrintable(library.errorString()));
        QCOMPARE(library.list().size(), version >= 1 ? 1 : 0);
        QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), MediaLibrary::schemaVersion);
        // The kept sentences' tables take a card and an answer.
        QVERIFY2(q.exec("INSERT INTO kept_cards VALUES ('fedcba9876543210', 'Satz', '', '', 'file', "
                        "'0123456789abcdef', '/nirgends/alt.mp3', 0, 0, 1000, '', 1, 'new', 1, 0, 0, 0, 0, 0, 0)"),
                 qPrintable(q.lastError().text()));
        QVERIFY(q.exec("INSERT INTO kept_reviews VALUES ('fedcba9876543210', 2, 3, 'new')"));
        // And the shadowing attempts' table is there.
        QVERIFY2(q.exec("SELECT count(*) FROM shadowing_attempts"), qPrintable(q.lastError().text()));
    }
}

void TestMediaLibrary::unusableDatabaseIsLeftAsItIs_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a database") << "garbage"
                                    << "cannot be read";
    QTest::newRow("newer schema") << "newer"
                                  << "newer version";
    QTest::newRow("damaged page") << "page"
                                  << "damaged";
}

void TestMediaLibrary::unusableDatabaseIsLeftAsItIs() {
    // Guards against a crash on a bad database, or the program "repairing" it by throwing the learner's data away.
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString database = QDir(data->path()).filePath(MediaLibrary::fileName());
    if (damage == "garbage") {
        QFile file(database);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 1000; ++i)
            file.write("Das ist keine Datenbank. ");
    } else {
        {
            MediaLibrary library(data->path());
            for (int i = 0; i < 20; ++i) {
                QFile file(media->filePath(QString("d%1.mp3").arg(i)));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
                file.close();
                QVERIFY(library.store(bulkyItem(file.fileName(), 200)));
            }
        }
        if (damage == "newer") {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
            db.setDatabaseName(database);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("PRAGMA user_version = 99"));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase("newer");
        } else {
            QFile file(database);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 8 * 4096);
            file.seek(4 * 4096); // a page in the middle
            QVERIFY(file.write(QByteArray(4096, '\xAB')) == 4096);
        }
    }
    const QByteArray before = fileHash(database);
    const QStringList filesBefore = QDir(data->path()).entryList(QDir::Files);

    {
        MediaLibrary library(data->path());
        QVERIFY(!library.isOpen());
        QVERIFY2(library.errorString().contains(message), qPrintable(library.errorString()));
        // An import that stores nothing is a failure that says why, never a success.
        const MediaImportResult result = importOrGet(library, copySample("pausen.opus"));
        QVERIFY(!result.ok());
        QVERIFY2(result.error.contains("could not be added") && result.error.contains(library.errorString()),
                 qPrintable(result.error));
        QVERIFY(!library.store(result.item));
        QVERIFY(!library.setProgress(result.item.id, 1));
        QVERIFY(!library.forget(result.item.id));
        QVERIFY(library.list().isEmpty());
    }
    QCOMPARE(fileHash(database), before);
    QCOMPARE(QDir(data->path()).entryList(QDir::Files), filesBefore);
}

void TestMediaLibrary::killedWhileWritingLosesNothing_data() {
    QTest::addColumn<QString>("last");
    QTest::newRow("adding an item") << "add";
    QTest::newRow("replacing an item") << "replace";
}

void TestMediaLibrary::killedWhileWritingLosesNothing() {
    // Guards against a kill in the middle of a write corrupting the database, losing items stored before it,
    // or leaving an item half old and half new.
    QFETCH(QString, last);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--write-and-stall", data->path(), media->path(), "6", last});
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(
        (output += child.readAllStandardOutput()).contains("stalled") || child.state() == QProcess::NotRunning, 60000);
    QVERIFY2(child.state() == QProcess::Running, child.readAllStandardError().constData());
    child.kill(); // SIGKILL
    QVERIFY(child.waitForFinished());
    QStringList stored;
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("stored "))
            stored << QString::fromUtf8(line.mid(7));
    QCOMPARE(stored.size(), 6);

    MediaLibrary library(data->path());
    QVERIFY2(library.isOpen(), qPrintable(library.errorString())); // opening includes an integrity check
    for (int i = 0; i < stored.size(); ++i) {
        const std::optional<MediaItem> item = library.storedItem(stored.at(i));
        QVERIFY2(item, qPrintable(stored.at(i) + " was lost"));
        QCOMPARE(item->sentences.size(), 2000); // the old version: the new one was never committed
        QCOMPARE(item->sentences.first().text, QString("Satz 0 (alt)"));
        QCOMPARE(item->sentences.last().text, QString("Satz 1999 (alt)"));
        QCOMPARE(item->lastSentence, i);
    }
    QCOMPARE(library.list().size(), 6);
    // The interrupted write is simply not there, and the library takes the next one.
    QVERIFY(library.store(bulkyItem(makeFile(media->filePath("danach.mp3")), 10)));
    QCOMPARE(library.list().size(), 7);
}

void TestMediaLibrary::itemsOfTheFirstVersionStay() {
    // Guards against a learner's files lost, or unreadable, when the sentence times gained their columns.
    const QString audio = makeFile(media->filePath("alt.mp3"));
    const MediaItem old = bulkyItem(audio, 3);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "first-version");
        db.setDatabaseName(QDir(data->path()).filePath(MediaLibrary::fileName()));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(
            query.exec("CREATE TABLE items (id TEXT PRIMARY KEY, path TEXT NOT NULL UNIQUE, size INTEGER NOT NULL, "
                       "modified INTEGER NOT NULL, title TEXT NOT NULL, media_type TEXT NOT NULL, duration INTEGER "
                       "NOT NULL, sentence_source TEXT NOT NULL, sentence_count INTEGER NOT NULL, sentences TEXT NOT "
                       "NULL, skipped_cues INTEGER NOT NULL DEFAULT 0, warnings TEXT NOT NULL DEFAULT '[]', "
                       "last_sentence INTEGER NOT NULL DEFAULT 0, last_opened INTEGER NOT NULL, added INTEGER NOT "
                       "NULL)"));
        query.prepare("INSERT INTO items VALUES (?, ?, ?, ?, 'alt', 'audio', 3000, 'sidecar', 3, ?, 0, '[]', 2, 0, 0)");
        query.addBindValue(old.id);
        query.addBindValue(old.path);
        query.addBindValue(old.fileSize);
        query.addBindValue(old.fileModified);
        query.addBindValue(QString::fromUtf8(QJsonDocument(MediaItem::sentencesToJson(old.sentences)).toJson()));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QVERIFY(query.exec("PRAGMA user_version = 1"));
        db.close();
    }
    QSqlDatabase::removeDatabase("first-version");

    MediaLibrary library(data->path());
    QVERIFY2(library.isOpen(), qPrintable(library.errorString()));
    std::optional<MediaItem> item = library.storedItem(audio);
    QVERIFY(item);
    QCOMPARE(item->sentences.size(), 3);
    QCOMPARE(item->lastSentence, 2);
    QCOMPARE(item->sync.mode, QString("original"));
    item->sentences[1].start = 1100;
    QVERIFY(library.setTiming(item->id, item->sentences, item->sync));
    QCOMPARE(library.item(item->id)->sentences[1].start, 1100);
}

void TestMediaLibrary::shadowingKeepsTheLastFiveAttempts() {
    // Guards against a database of the version before losing its items to the
    // attempts' table, attempts piling up without end, and recordings left
    // behind when their attempt goes. (From the first version:
    // itemsOfTheFirstVersionStay goes through every step.)
    const QString audio = copySample("gespraech.mp3");
    copySample("gespraech.de.srt");
    QString id;
    {
        MediaLibrary library(data->path());
        id = importOrGet(library, audio).item.id;
    }
    {
        // Back to the version before, as the program before shadowing left it.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "version-before");
        db.setDatabaseName(QDir(data->path()).filePath(MediaLibrary::fileName()));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("DROP TABLE shadowing_attempts"));
        QVERIFY(QSqlQuery(db).exec("PRAGMA user_version = 3"));
        db.close();
    }
    QSqlDatabase::removeDatabase("version-before");

    MediaLibrary library(data->path());
    QVERIFY2(library.isOpen(), qPrintable(library.errorString()));
    QCOMPARE(entry(library.list(), id).value("sentenceCount").toInt(), 5);
    ShadowingAttempts attempts(library);
    QStringList dropped;
    QStringList kept;
    for (int i = 0; i < 7; ++i) {
        ShadowingAttempt a;
        a.id = ShadowingAttempts::newId();
        QVERIFY(ShadowingAttempts::isId(a.id));
        a.media = audio;
        a.sentence = 2;
        a.recorded = 1000 + i;
        a.recording = a.id + ".wav";
        a.score = 50 + i;
        a.result = QJsonObject{{"score", a.score}};
        QStringList out;
        QVERIFY(attempts.add(a, &out));
        dropped += out;
        kept.prepend(a.id);
    }
    ShadowingAttempt other;
    other.id = ShadowingAttempts::newId();
    other.media = audio;
    other.sentence = 3;
    other.recording = other.id + ".wav";
    QVERIFY(attempts.add(other, nullptr));

    // The newest five of the sentence, newest first; the two oldest went, with their recordings named.
    const QJsonArray list = attempts.list(audio, 2);
    QCOMPARE(list.size(), ShadowingAttempts::keptPerSentence);
    for (int i = 0; i < list.size(); ++i)
        QCOMPARE(list.at(i).toObject().value("id").toString(), kept.at(i));
    QCOMPARE(list.at(0).toObject().value("score").toInt(), 56);
    QCOMPARE(dropped, (QStringList{kept.at(6) + ".wav", kept.at(5) + ".wav"}));
    QCOMPARE(attempts.list(audio, 3).size(), 1);
    QCOMPARE(attempts.attempt(kept.at(0))->result.value("score").toInt(), 56);

    QString recording;
    QVERIFY(!attempts.remove("' OR 1=1 --", &recording));
    QVERIFY(attempts.remove(kept.at(0), &recording));
    QCOMPARE(recording, kept.at(0) + ".wav");
    QCOMPARE(attempts.list(audio, 2).size(), 4);
}

// The child mode writes into the library and stalls in the middle of a write.
int main(int argc, char** argv) {
    if (argc == 6 && qstrcmp(argv[1], "--write-and-stall") == 0) {
        QCoreApplication app(argc, argv);
        return writeAndStall(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]),
                             QString::fromLocal8Bit(argv[5]));
    }
    QCoreApplication app(argc, argv);
    TestMediaLibrary test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_medialibrary.moc"
