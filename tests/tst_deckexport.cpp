// The exports for other programs, read back with independent tools (unzip,
// sqlite3): every note with its fields and its sound, the media map naming every
// sound; the tab-separated file with the same texts; and a full disk leaving
// nothing behind.
#include "library/deckexport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QByteArray tool(const QString& program, const QStringList& args, bool* ok = nullptr) {
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    return p.readAllStandardOutput();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestDeckExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void apkgReadsBack();
    void tsvReadsBack();
    void fullDiskLeavesNothing_data();
    void fullDiskLeavesNothing();

private:
    QTemporaryDir dir;
    QVector<DeckExport::Note> notes;
};

void TestDeckExport::initTestCase() {
    QVERIFY(dir.isValid());
    const QList<QStringList> rows{
        {"0123456789abcdef", "Der Zug fährt um acht Uhr ab.", "火车八点出发。", "Nachrichten: Bahn"},
        {"fedcba9876543210", "Er sagt: \"<b>Tab\there</b>\"\nund geht.", "他说。", "Meine Datei.mp4"},
        {"00000000000000aa", "Ohne Ton.", "", "Quelle ohne Ton"}};
    for (int i = 0; i < rows.size(); ++i) {
        DeckExport::Note n{rows[i][0], rows[i][1], rows[i][2], rows[i][3], QString(), 1718000000000 + i};
        if (i < 2) {
            n.clipPath = dir.filePath(rows[i][0] + ".ogg");
            QVERIFY(writeFile(n.clipPath, QByteArray("OggS clip ") + rows[i][0].toLatin1()));
        } else {
            n.clipPath = dir.filePath("vanished.ogg"); // the card stays, without its sound
        }
        notes.append(n);
    }
}

void TestDeckExport::apkgReadsBack() {
    const QString apkg = dir.filePath("Sätze.apkg");
    const DeckExport::Result result = DeckExport::writeApkg(apkg, notes);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.notes, 3);
    QCOMPARE(result.sounds, 2);

    const QString out = dir.filePath("unpacked");
    bool ok = false;
    tool("unzip", {"-q", "-o", apkg, "-d", out}, &ok);
    QVERIFY(ok);
    const QJsonObject media = QJsonDocument::fromJson(tool("cat", {out + "/media"})).object();
    QCOMPARE(media.size(), 2);

    // Hex, so that fields with line breaks stay on their line.
    const QByteArray rows =
        tool("sqlite3",
             {out + "/collection.anki2",
              "SELECT hex(n.guid), hex(n.flds) FROM notes n JOIN cards c ON c.nid = n.id ORDER BY n.id"},
             &ok);
    QVERIFY(ok);
    const QList<QByteArray> records = rows.trimmed().split('\n');
    QCOMPARE(records.size(), 3);
    for (int i = 0; i < notes.size(); ++i) {
        const QList<QByteArray> columns = records[i].split('|');
        QCOMPARE(columns.size(), 2);
        QCOMPARE(QString::fromUtf8(QByteArray::fromHex(columns[0])), "tavrolin-" + notes[i].id);
        const QStringList fields = QString::fromUtf8(QByteArray::fromHex(columns[1])).split(QChar(0x1f));
        QCOMPARE(fields.size(), 4);
        QCOMPARE(fields[0], notes[i].text.toHtmlEscaped());
        QCOMPARE(fields[1], notes[i].translation.toHtmlEscaped());
        QCOMPARE(fields[3], notes[i].source.toHtmlEscaped());
        if (i == 2) {
            QCOMPARE(fields[2], QString());
            continue;
        }
        // [sound:name] names a file of the media map whose numbered entry holds the clip
        QVERIFY(fields[2].startsWith("[sound:") && fields[2].endsWith("]"));
        const QString name = fields[2].mid(7).chopped(1);
        QString entry;
        for (auto it = media.begin(); it != media.end(); ++it)
            if (it.value().toString() == name)
                entry = it.key();
        QVERIFY2(!entry.isEmpty(), qPrintable(name));
        QFile clip(out + "/" + entry);
        QVERIFY(clip.open(QIODevice::ReadOnly));
        QCOMPARE(clip.readAll(), QByteArray("OggS clip ") + notes[i].id.toLatin1());
    }
    // What Anki reads before the notes: the collection version and the note type's fields
    const QByteArray col = tool("sqlite3", {out + "/collection.anki2", "SELECT ver, models FROM col"});
    QVERIFY(col.startsWith("11|"));
    const QJsonObject models = QJsonDocument::fromJson(col.mid(3)).object();
    QCOMPARE(models.size(), 1);
    QCOMPARE(models.begin()->toObject().value("flds").toArray().size(), 4);
    QVERIFY(QDir(dir.path()).entryList({".tavrolin-export-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

void TestDeckExport::tsvReadsBack() {
    const QString tsv = dir.filePath("Sätze.tsv");
    const DeckExport::Result result = DeckExport::writeTsv(tsv, notes);
    QVERIFY2(result.ok, qPrintable(result.error));
    QFile file(tsv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    while (!lines.isEmpty() && lines.first().startsWith('#'))
        lines.removeFirst();
    QCOMPARE(lines.size(), notes.size());
    for (int i = 0; i < notes.size(); ++i) {
        const QStringList f = lines[i].split('\t');
        QCOMPARE(f.size(), 4);
        QCOMPARE(f[0], QString(notes[i].text).replace('\t', ' ').replace('\n', ' '));
        QCOMPARE(f[1], notes[i].translation);
        QCOMPARE(f[3], notes[i].source);
        if (i < 2) {
            QFile clip(DeckExport::soundFolder(tsv) + "/" + f[2].mid(7).chopped(1));
            QVERIFY2(clip.open(QIODevice::ReadOnly), qPrintable(f[2]));
            QCOMPARE(clip.readAll(), QByteArray("OggS clip ") + notes[i].id.toLatin1());
        } else {
            QCOMPARE(f[2], QString());
        }
    }
}

void TestDeckExport::fullDiskLeavesNothing_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("apkg") << "apkg";
    QTest::newRow("tsv") << "tsv";
}

// A disk that fills up in the middle of the export: an error, and no half file
// (nor a temporary one) left in the folder.
void TestDeckExport::fullDiskLeavesNothing() {
    QFETCH(QString, format);
    QVERIFY2(geteuid() == 0, "mounting the small file system needs root, as in CI");
    // A mount namespace of our own: the small file system is seen by this test alone
    // and goes away with it.
    QVERIFY2(unshare(CLONE_NEWNS) == 0, strerror(errno));
    QVERIFY(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
    const QString small = dir.filePath("small-" + format);
    QVERIFY(QDir().mkpath(small));
    QVERIFY2(mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") == 0, strerror(errno));

    QVector<DeckExport::Note> big = notes;
    big.resize(2);
    for (int i = 0; i < big.size(); ++i) {
        big[i].clipPath = dir.filePath(QString("big%1.ogg").arg(i));
        QByteArray noise(200 * 1024, 0);
        for (int k = 0; k < noise.size(); ++k)
            noise[k] = char((k * 7919 + i) ^ (k >> 3)); // no zip deflate can squeeze it under the limit
        QVERIFY(writeFile(big[i].clipPath, noise));
    }
    const QString path = small + "/Sätze." + format;
    const DeckExport::Result result =
        format == "apkg" ? DeckExport::writeApkg(path, big) : DeckExport::writeTsv(path, big);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    const QStringList left = QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    umount(QFile::encodeName(small).constData());
}

QTEST_GUILESS_MAIN(TestDeckExport)
#include "tst_deckexport.moc"
