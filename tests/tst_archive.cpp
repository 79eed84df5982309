// Unpacking article archives: passwords, hostile entries, size caps and the all-or-nothing move.
#include "bridge/archive.h"
#include "support/testsupport.h"

#include "core/settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <zlib.h>

namespace {

struct Entry {
    QString name;
    QByteArray data;
    bool encrypted = true;
    bool symlink = false;
};

bool makeZip(const QString& path, const QList<Entry>& entries, const QByteArray& password = Archive::password()) {
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const Entry& entry : entries) {
        QuaZipNewInfo info(entry.name);
        if (entry.symlink)
            info.externalAttr = 0120777u << 16;
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef*>(entry.data.constData()), uInt(entry.data.size())));
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info, entry.encrypted ? password.constData() : nullptr, crc))
            return false;
        file.write(entry.data);
        file.close();
        if (file.getZipError() != UNZ_OK)
            return false;
    }
    zip.close();
    return zip.getZipError() == UNZ_OK;
}

// Every file and folder below a directory with its size, so any change shows.
QStringList listing(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << it.filePath().mid(root.size()) + QLatin1Char(' ') + QString::number(it.fileInfo().size());
    }
    out.sort();
    return out;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A ZIP whose one entry is stored as it is, with one byte of it flipped: only
// the entry's CRC tells.
QByteArray storedZipWithFlippedByte() {
    const QByteArray text("<p>Jedes Byte dieses Satzes z\xc3\xa4hlt.</p>");
    QTemporaryDir dir;
    {
        QuaZip zip(dir.filePath("s.zip"));
        QuaZipFile file(&zip);
        if (!zip.open(QuaZip::mdCreate) ||
            !file.open(QIODevice::WriteOnly, QuaZipNewInfo("index.html"), nullptr, 0, 0 /* stored */))
            return QByteArray();
        file.write(text);
        file.close();
        zip.close();
    }
    QByteArray bytes = readAll(dir.filePath("s.zip"));
    const int at = bytes.indexOf(text);
    if (at < 0)
        return QByteArray();
    bytes[at + 10] = char(bytes.at(at + 10) ^ 0x20);
    return bytes;
}

qint64 peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(Entry)
Q_DECLARE_METATYPE(QList<Entry>)

class TestArchive : public QObject {
    Q_OBJECT

private:
    QString zipPath;
    QString dest;
    QString outside; // the data directory's parent

    void putOldContent() {
        QDir().mkpath(dest);
        QFile file(dest + "/index.html");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old article");
    }

private slots:
    void init();
    void unpacks_data();
    void unpacks();
    void successReplacesTheWholeFolder();
    void leftoversOfAKilledRunAreRemoved();
    void failureKeepsTheOldFolder_data();
    void failureKeepsTheOldFolder();
    void hostileEntriesAreRefused_data();
    void hostileEntriesAreRefused();
    void limitsAreExact_data();
    void limitsAreExact();
    void zipBombStopsAtTheCap();
};

void TestArchive::init() {
    TestSupport::useCleanDataDirectory();
    zipPath = dataDirectory() + "a1.zip";
    dest = dataDirectory() + "articleContent";
    outside = QDir::cleanPath(dataDirectory() + "..");
}

void TestArchive::unpacks_data() {
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected"); // "name=content"
    QTest::newRow("encrypted") << QList<Entry>{{"index.html", "<p>Hallo</p>"}, {"img/a.png", "PNG"}} << QString()
                               << QStringList{"img/a.png=PNG", "index.html=<p>Hallo</p>"};
    QTest::newRow("plain") << QList<Entry>{{"index.html", "<p>x</p>", false}} << QString()
                           << QStringList{"index.html=<p>x</p>"};
    QTest::newRow("folder entries") << QList<Entry>{{"img/", ""}, {"img/sub/b.gif", "GIF"}, {"index.html", "i"}}
                                    << QString() << QStringList{"img/sub/b.gif=GIF", "index.html=i"};
    QTest::newRow("name filter") << QList<Entry>{{"index.html", "i"}, {"img/a.png", "P"}} << QString("img")
                                 << QStringList{"img/a.png=P"};
    QTest::newRow("dots inside names") << QList<Entry>{{"a..b/.hidden", "h"}, {"v1.2.html", "v"}} << QString()
                                       << QStringList{"a..b/.hidden=h", "v1.2.html=v"};
}

void TestArchive::unpacks() {
    // Guards against losing entries, sub-folders or the password handling of the service's archives.
    QFETCH(QList<Entry>, entries);
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QVERIFY(makeZip(zipPath, entries));
    QVERIFY(extractArchive(zipPath, dest, Archive::password(), filter));
    QStringList found;
    QDirIterator it(dest, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found << path.mid(dest.size() + 1) + "=" + readAll(path);
    }
    found.sort();
    QCOMPARE(found, expected);
    QCOMPARE(QDir(dataDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"articleContent"});
}

void TestArchive::successReplacesTheWholeFolder() {
    // Guards against a folder that mixes the files of two articles.
    putOldContent();
    QFile extra(dest + "/only-old.png");
    QVERIFY(extra.open(QIODevice::WriteOnly));
    extra.close();
    QVERIFY(makeZip(zipPath, {{"index.html", "new article"}}));
    QVERIFY(extractArchive(zipPath, dest, Archive::password(), QString()));
    QCOMPARE(QDir(dest).entryList(QDir::Files), QStringList{"index.html"});
    QCOMPARE(readAll(dest + "/index.html"), QByteArray("new article"));
}

void TestArchive::leftoversOfAKilledRunAreRemoved() {
    // Guards against folders of an unpack that never finished piling up in the data directory.
    QDir().mkpath(dest + ".new-a1B2c3/img");
    QDir().mkpath(dest + ".old-XyZ987");
    QDir().mkpath(dataDirectory() + "pool-ab");
    QVERIFY(makeZip(zipPath, {{"index.html", "i"}}));
    QVERIFY(extractArchive(zipPath, dest, Archive::password(), QString()));
    QCOMPARE(QDir(dataDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"articleContent", "pool-ab"}));
}

void TestArchive::failureKeepsTheOldFolder_data() {
    QTest::addColumn<QByteArray>("zipBytes"); // empty: build a ZIP with another password
    QTest::newRow("wrong password") << QByteArray();
    QTest::newRow("not a zip") << QByteArray("this is no archive");
    QTest::newRow("missing file") << QByteArray("-");
    const QByteArray flipped = storedZipWithFlippedByte();
    QVERIFY(flipped.startsWith("PK"));
    QTest::newRow("one flipped byte in a stored entry") << flipped;
}

void TestArchive::failureKeepsTheOldFolder() {
    // Guards against a failed unpack leaving half an article (or none) in the folder.
    QFETCH(QByteArray, zipBytes);
    putOldContent();
    if (zipBytes.isEmpty()) {
        QVERIFY(makeZip(zipPath, {{"index.html", "new"}, {"b.png", "B"}}, "another password"));
    } else if (zipBytes != "-") {
        QFile file(zipPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(zipBytes);
    }
    const QStringList before = listing(outside);
    QVERIFY(!extractArchive(zipPath, dest, Archive::password(), QString()));
    QCOMPARE(listing(outside), before);
    QCOMPARE(readAll(dest + "/index.html"), QByteArray("old article"));
}

void TestArchive::hostileEntriesAreRefused_data() {
    QTest::addColumn<Entry>("hostile");
    QTest::newRow("parent") << Entry{"../x", "evil"};
    QTest::newRow("absolute") << Entry{"/tmp/tavrolin-archive-test-x", "evil"};
    QTest::newRow("drive letter") << Entry{"C:\\x", "evil"};
    QTest::newRow("backslashes") << Entry{"a\\..\\..\\x", "evil"};
    QTest::newRow("dot segments") << Entry{".../../x", "evil"};
    QTest::newRow("stripped traversal") << Entry{"..././x", "evil"};
    QTest::newRow("deep parent") << Entry{"img/../../../x", "evil"};
    QTest::newRow("symbolic link") << Entry{"link", "/etc/passwd", true, true};
}

void TestArchive::hostileEntriesAreRefused() {
    // Guards against writing outside the folder, through a link, or keeping the harmless part of a hostile archive.
    QFETCH(Entry, hostile);
    putOldContent();
    QVERIFY(makeZip(zipPath, {{"index.html", "harmless"}, hostile, {"z.txt", "after"}}));
    const QStringList before = listing(outside);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused entry"));
    QVERIFY(!extractArchive(zipPath, dest, Archive::password(), QString()));
    QCOMPARE(listing(outside), before);
    QVERIFY(!QFile::exists("/tmp/tavrolin-archive-test-x"));
    QCOMPARE(readAll(dest + "/index.html"), QByteArray("old article"));
}

void TestArchive::limitsAreExact_data() {
    QTest::addColumn<int>("entryCount");
    QTest::addColumn<int>("entrySize");
    QTest::addColumn<bool>("ok");
    // limits: 3 entries, 3000 bytes
    QTest::newRow("at both limits") << 3 << 1000 << true;
    QTest::newRow("one entry too many") << 4 << 10 << false;
    QTest::newRow("one byte too many") << 3 << 1001 << false;
    QTest::newRow("one big entry") << 1 << 3001 << false;
}

void TestArchive::limitsAreExact() {
    // Guards against off-by-one caps that refuse good archives or let one more entry or byte through.
    QFETCH(int, entryCount);
    QFETCH(int, entrySize);
    QFETCH(bool, ok);
    QList<Entry> entries;
    for (int i = 0; i < entryCount; ++i)
        entries.append({QString("f%1.txt").arg(i), QByteArray(entrySize, 'a' + i)});
    QVERIFY(makeZip(zipPath, entries));
    Archive::Limits limits;
    limits.maxEntries = 3;
    limits.maxTotalBytes = 3000;
    const QStringList before = listing(outside);
    if (!ok)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("extractArchive\\(\\): (more than|unpacks to)"));
    QCOMPARE(extractArchive(zipPath, dest, Archive::password(), QString(), limits), ok);
    if (!ok)
        QCOMPARE(listing(outside), before);
    else
        QCOMPARE(QDir(dest).entryList(QDir::Files).size(), entryCount);
}

void TestArchive::zipBombStopsAtTheCap() {
    // Guards against a small archive filling the disk or the memory.
    {
        QuaZip zip(zipPath);
        QVERIFY(zip.open(QuaZip::mdCreate));
        QuaZipFile file(&zip);
        QVERIFY(file.open(QIODevice::WriteOnly, QuaZipNewInfo("index.html"), nullptr, 0, Z_DEFLATED, 9));
        const QByteArray zeros(1024 * 1024, '\0');
        for (int i = 0; i < 260; ++i)
            QCOMPARE(file.write(zeros), qint64(zeros.size()));
        file.close();
        zip.close();
    }
    QVERIFY(QFileInfo(zipPath).size() < 1024 * 1024);
    const QStringList before = listing(outside);
    const qint64 peakBefore = peakResidentKiB();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unpacks to more than 268435456 bytes"));
    QVERIFY(!extractArchive(zipPath, dest, Archive::password(), QString()));
    QCOMPARE(listing(outside), before);
    QVERIFY2(peakResidentKiB() - peakBefore < 32 * 1024, "unpacking held the data in memory");
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
