// The article files in the data directory: storing, reading back, deleting, and the bridge slots over them.
#include "bridge/archive.h"
#include "bridge/contentcipher.h"
#include "bridge/contentstore.h"
#include "bridge/webapi.h"
#include "support/testsupport.h"

#include "core/settings.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <cstdio>

using PageScript::Page;
using Part = ContentStore::Part;
using Result = ContentStore::StoreResult;

namespace {

const QByteArray sentenceJson =
    "{\"sentences\":[{\"start\":0,\"text\":\"Guten Tag.\"},{\"start\":1800,\"text\":\"Wie geht's?\"}]}";

// A finished download as the reply router hands it over.
class FakeReply : public QNetworkReply {
public:
    FakeReply(const QString& url, const QByteArray& articleId, const QByteArray& body) : body(body) {
        QNetworkRequest request{QUrl(url)};
        if (!articleId.isNull())
            request.setRawHeader("articleId", articleId);
        setRequest(request);
        setUrl(QUrl(url));
        open(QIODevice::ReadOnly);
        setFinished(true);
    }
    void abort() override {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return body.size() - offset + QIODevice::bytesAvailable(); }
    // The connection drops after `at` bytes.
    void breakAt(qint64 at) {
        brokenAt = at;
        setError(RemoteHostClosedError, "Connection closed");
    }
    void announceLength(qint64 length) { setHeader(QNetworkRequest::ContentLengthHeader, length); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (brokenAt >= 0 && offset >= brokenAt)
            return -1;
        const qint64 n = qMin(maxSize, qint64(body.size()) - offset);
        memcpy(data, body.constData() + offset, size_t(n));
        offset += n;
        return n;
    }

private:
    QByteArray body;
    qint64 offset = 0;
    qint64 brokenAt = -1;
};

// A download that breaks off: some bytes, then a read error.
class BrokenSource : public QIODevice {
public:
    BrokenSource() { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (sent >= 300000)
            return -1;
        const qint64 n = qMin<qint64>(maxSize, 100000);
        memset(data, 'm', size_t(n));
        sent += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 sent = 0;
};

// Endless media that announces itself once a good part is written, then stalls.
class StallingSource : public QIODevice {
public:
    StallingSource() { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (sent >= 8 * 1024 * 1024) {
            std::puts("writing");
            std::fflush(stdout);
            for (;;)
                QThread::sleep(1); // killed here
        }
        const qint64 n = qMin<qint64>(maxSize, 1024 * 1024);
        memset(data, 'v', size_t(n));
        sent += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 sent = 0;
};

using TestSupport::fileBytes;

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray zipWithIndex(const QByteArray& html) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QuaZip zip(&buffer);
    zip.open(QuaZip::mdCreate);
    QuaZipFile file(&zip);
    file.open(QIODevice::WriteOnly, QuaZipNewInfo("index.html"), nullptr, 0);
    file.write(html);
    file.close();
    zip.close();
    return bytes;
}

QStringList dataFiles() {
    return QDir(dataDirectory()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestContentStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void sentenceDataRoundTrip();
    void storedFileHasTheDesignedHeader();
    void damagedSentenceDataReadsAsError_data();
    void damagedSentenceDataReadsAsError();
    void fileTypes_data();
    void fileTypes();
    void articleReadsTheUnpackedIndex();
    void readTextNormalisesLineEnds();
    void existingPartIsNeverOverwritten();
    void brokenDownloadLeavesNoPartFile();
    void killedWhileStoringLeavesNoPartFile();
    void unusableIdsTouchNothing_data();
    void unusableIdsTouchNothing();
    void thumbnailPath_data();
    void thumbnailPath();
    void thumbnailIsSavedAsPicture();
    void oversizedThumbnailsAreSkipped_data();
    void oversizedThumbnailsAreSkipped();
    void bridgeReportsCompletionPerStoredPart();
    void failedPartIsLoggedAndCompletesNothing_data();
    void failedPartIsLoggedAndCompletesNothing();
    void bridgeDeletesRecordAndFiles();
};

void TestContentStore::init() {
    TestSupport::useCleanDataDirectory();
}

void TestContentStore::sentenceDataRoundTrip() {
    // Guards against sentence data that cannot be read back, or a deleted file still reading as data.
    ContentStore store;
    QCOMPARE(store.storePart("a1", Part::SentenceData, sentenceJson), Result::Stored);
    QVERIFY(fileBytes(dataDirectory() + "a1.bin") != sentenceJson);
    QCOMPARE(store.getFileContent("a1", "lrc"), QString::fromUtf8(sentenceJson));
    store.deleteDiskArticleData("a1");
    QCOMPARE(store.getFileContent("a1", "lrc"), QString("error"));
}

void TestContentStore::storedFileHasTheDesignedHeader() {
    // Guards against storing with other modes than compression and SHA-1 (flags 0x05), or another key.
    ContentStore store;
    store.storePart("a1", Part::SentenceData, sentenceJson);
    const QByteArray bytes = fileBytes(dataDirectory() + "a1.bin");
    QCOMPARE(bytes.left(2), QByteArray("\x03\x05", 2));
    ContentCipher cipher(ContentStore::programKey());
    QCOMPARE(cipher.decrypt(bytes), sentenceJson);
}

void TestContentStore::damagedSentenceDataReadsAsError_data() {
    QTest::addColumn<int>("offset");
    QTest::newRow("version byte") << 0;
    QTest::newRow("digest") << 5;
    QTest::newRow("last byte") << -1;
}

void TestContentStore::damagedSentenceDataReadsAsError() {
    // Guards against handing damaged sentence data to the page, or as "" that the page takes for an empty article.
    QFETCH(int, offset);
    ContentStore store;
    store.storePart("a1", Part::SentenceData, sentenceJson);
    QByteArray bytes = fileBytes(dataDirectory() + "a1.bin");
    const int at = offset >= 0 ? offset : bytes.size() + offset;
    bytes[at] = char(bytes.at(at) ^ 0x01);
    writeFile(dataDirectory() + "a1.bin", bytes);
    if (offset == 0)
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Sentence data .*a1.bin does not decipher"));
    QCOMPARE(store.getFileContent("a1", "lrc"), QString("error"));
}

void TestContentStore::fileTypes_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lrc") << "lrc" << QString::fromUtf8(sentenceJson);
    QTest::newRow("capitals") << "LRC"
                              << "error";
    QTest::newRow("unknown") << "mp3"
                             << "error";
    QTest::newRow("empty") << ""
                           << "error";
}

void TestContentStore::fileTypes() {
    // Guards against a type test that is not exact.
    QFETCH(QString, type);
    QFETCH(QString, expected);
    ContentStore store;
    store.storePart("a1", Part::SentenceData, sentenceJson);
    QCOMPARE(store.getFileContent("a1", type), expected);
}

void TestContentStore::articleReadsTheUnpackedIndex() {
    // Guards against losing the article text, and against showing another article's text when its own archive is
    // missing or damaged.
    ContentStore store;
    QCOMPARE(store.getFileContent("a1", "article"), QString("error")); // nothing unpacked ever

    QCOMPARE(store.storePart("a1", Part::Archive, zipWithIndex("<p>Erster Artikel</p>")), Result::Stored);
    QCOMPARE(store.getFileContent("a1", "article"), QString("<p>Erster Artikel</p>"));

    QCOMPARE(store.getFileContent("a2", "article"), QString("error")); // a2 has no archive
    QVERIFY(!QFileInfo::exists(store.articleContentDir()));
    QCOMPARE(store.getFileContent("a1", "article"), QString("<p>Erster Artikel</p>"));
    writeFile(dataDirectory() + "a3.zip", zipWithIndex("<p>Dritter</p>").left(40)); // cut off
    QCOMPARE(store.getFileContent("a3", "article"), QString("error"));
    QVERIFY(!QFileInfo::exists(store.articleContentDir()));

    store.storePart("a2", Part::Archive, zipWithIndex("<p>Zweiter</p>"));
    QCOMPARE(store.getFileContent("a2", "article"), QString("<p>Zweiter</p>"));
    QCOMPARE(QDir(store.articleContentDir()).entryList(QDir::Files), QStringList{"index.html"});
}

void TestContentStore::readTextNormalisesLineEnds() {
    // Guards against CR characters or bytes after a NUL reaching the page.
    writeFile(dataDirectory() + "t.html", QByteArray("Zeile 1\r\nZeile 2\nÄ\0danach", 27));
    QCOMPARE(ContentStore::readText(dataDirectory() + "t.html"), QString::fromUtf8("Zeile 1\nZeile 2\nÄ"));
    QCOMPARE(ContentStore::readText(dataDirectory() + "none.html"), QString("error"));
}

void TestContentStore::existingPartIsNeverOverwritten() {
    // Guards against a repeated download replacing a stored part.
    ContentStore store;
    QCOMPARE(store.storePart("a1", Part::Media, QByteArray("first")), Result::Stored);
    QCOMPARE(store.storePart("a1", Part::Media, QByteArray("second")), Result::Exists);
    QCOMPARE(fileBytes(dataDirectory() + "a1.rar"), QByteArray("first"));
}

void TestContentStore::brokenDownloadLeavesNoPartFile() {
    // Guards against a half-written part file that would count the article as complete.
    ContentStore store;
    store.storePart("a1", Part::Archive, zipWithIndex("x"));
    store.storePart("a1", Part::SentenceData, sentenceJson);
    BrokenSource source;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot write .*a1.rar"));
    QCOMPARE(store.storePart("a1", Part::Media, &source), Result::Failed);
    QCOMPARE(dataFiles(), (QStringList{"a1.bin", "a1.zip"}));
    QVERIFY(!store.isComplete("a1"));
    QCOMPARE(store.storePart("a1", Part::Media, QByteArray("media")), Result::Stored);
    QVERIFY(store.isComplete("a1"));
}

void TestContentStore::killedWhileStoringLeavesNoPartFile() {
    // Guards against a crash in the middle of a large media part leaving a short file behind.
    ContentStore store;
    store.storePart("a1", Part::Archive, zipWithIndex("x"));
    store.storePart("a1", Part::SentenceData, sentenceJson);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--store-stalling-media", "a1"});
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(
        (output += child.readAllStandardOutput()).contains("writing") || child.state() == QProcess::NotRunning, 30000);
    QVERIFY2(child.state() == QProcess::Running, child.readAllStandardError().constData());
    QVERIFY(output.contains("into " + dataDirectory().toUtf8())); // the same folder as ours
    child.kill();                                                 // SIGKILL
    QVERIFY(child.waitForFinished());

    QCOMPARE(dataFiles(), (QStringList{"a1.bin", "a1.zip"}));
    QVERIFY(!store.isComplete("a1"));
    QCOMPARE(store.storePart("a1", Part::Media, QByteArray("media")), Result::Stored);
    QVERIFY(store.isComplete("a1"));
}

void TestContentStore::unusableIdsTouchNothing_data() {
    QTest::addColumn<QString>("id");
    QTest::newRow("empty") << "";
    QTest::newRow("parent") << "../victim";
    QTest::newRow("slash") << "sub/victim";
    QTest::newRow("backslash") << "..\\victim";
    QTest::newRow("dots") << "a..b";
    QTest::newRow("colon") << "C:victim";
    QTest::newRow("NUL") << QString("victim") + QChar(0);
}

void TestContentStore::unusableIdsTouchNothing() {
    // Guards against ids from the pages or a reply header reaching files outside the data directory.
    QFETCH(QString, id);
    const QString parent = QDir::cleanPath(dataDirectory() + "..") + "/";
    writeFile(parent + "victim.zip", "keep");
    writeFile(dataDirectory() + "victim.rar", "keep");
    QDir().mkpath(dataDirectory() + "sub");
    writeFile(dataDirectory() + "sub/victim.bin", "keep");
    const QStringList before = dataFiles();

    ContentStore store;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Refused"));
    QCOMPARE(store.storePart(id, Part::Media, QByteArray("evil")), Result::Refused);
    store.deleteDiskArticleData(id);
    QCOMPARE(store.getFileContent(id, "lrc"), QString("error"));
    QCOMPARE(store.getFileContent(id, "article"), QString("error"));
    QVERIFY(!store.isComplete(id));

    QCOMPARE(dataFiles(), before);
    QCOMPARE(fileBytes(parent + "victim.zip"), QByteArray("keep"));
    QCOMPARE(fileBytes(dataDirectory() + "victim.rar"), QByteArray("keep"));
    QCOMPARE(fileBytes(dataDirectory() + "sub/victim.bin"), QByteArray("keep"));
    QVERIFY(!QFile::exists(parent + "victim.rar"));
    QFile::remove(parent + "victim.zip");
}

void TestContentStore::thumbnailPath_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path"); // below the data directory; empty: skipped
    QTest::newRow("designed example") << "http://h/pool/ab/cd.jpg?x=1"
                                      << "ab//cd.jpg";
    QTest::newRow("lower-cased") << "http://h/Pool/AB/Cd.JPG"
                                 << "ab//cd.jpg";
    QTest::newRow("deeper name") << "http://h/pool/ab/cd/e.png"
                                 << "ab//cd/e.png";
    QTest::newRow("no pool") << "http://h/images/cd.jpg"
                             << "";
    QTest::newRow("no folder") << "http://h/pool/cd.jpg"
                               << "";
    QTest::newRow("empty rest") << "http://h/pool/"
                                << "";
    QTest::newRow("empty folder") << "http://h/pool//cd.jpg"
                                  << "";
    QTest::newRow("empty name") << "http://h/pool/ab/"
                                << "";
    QTest::newRow("parent folder") << "http://h/pool/../cd.jpg"
                                   << "";
    QTest::newRow("parent in name") << "http://h/pool/ab/../../cd.jpg"
                                    << "";
    QTest::newRow("query with slash") << "http://h/pool/ab?x=/cd.jpg"
                                      << "";
}

void TestContentStore::thumbnailPath() {
    // Guards against pictures landing outside the data directory or under mangled names.
    QFETCH(QString, url);
    QFETCH(QString, path);
    QCOMPARE(ContentStore().thumbnailPath(url), path.isEmpty() ? QString() : dataDirectory() + path);
}

void TestContentStore::thumbnailIsSavedAsPicture() {
    // Guards against saving something that is not a picture, or failing on the designed folder layout.
    const QByteArray png = TestSupport::pngBytes(4, 3, Qt::red);

    ContentStore store;
    QVERIFY(store.storeThumbnail("http://h/pool/ab/cd.jpg?x=1", png));
    QImage saved(dataDirectory() + "ab/cd.jpg", "JPG");
    QCOMPARE(saved.size(), QSize(4, 3));
    QVERIFY(!store.storeThumbnail("http://h/pool/ab/ef.jpg", "<html>not found</html>"));
    QVERIFY(!QFile::exists(dataDirectory() + "ab/ef.jpg"));
}

void TestContentStore::oversizedThumbnailsAreSkipped_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("padding"); // bytes after the picture, which decoders ignore
    QTest::addColumn<bool>("saved");
    QTest::newRow("4096 wide is kept") << QSize(4096, 1) << 0 << true;
    QTest::newRow("4097 wide") << QSize(4097, 1) << 0 << false;
    QTest::newRow("4097 high") << QSize(1, 4097) << 0 << false;
    QTest::newRow("more than 16 MiB") << QSize(4, 4) << 16 * 1024 * 1024 << false;
}

void TestContentStore::oversizedThumbnailsAreSkipped() {
    // Guards against a small file that claims a huge picture (or a huge file) being decoded on the GUI thread.
    QFETCH(QSize, size);
    QFETCH(int, padding);
    QFETCH(bool, saved);
    QByteArray png = TestSupport::pngBytes(size.width(), size.height(), Qt::green);
    png.append(QByteArray(padding, '\0'));
    if (!saved)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Skipped the thumbnail .*pool/ab/big.png"));
    QCOMPARE(ContentStore().storeThumbnail("http://h/pool/ab/big.png", png), saved);
    QCOMPARE(QFile::exists(dataDirectory() + "ab/big.png"), saved);
}

void TestContentStore::bridgeReportsCompletionPerStoredPart() {
    // Guards against reporting completion early, never, or only once for a repeated download.
    TestSupport::ScriptRecorder recorder;
    WebApi api(BridgeContext::create(), nullptr);
    const QStringList finished{"if(window.downloadData){downloadData.downloadFinished('a1');}"};
    const QStringList state{"ListenDb.setDownloadState('a1');"};

    FakeReply media("http://h/media/a1.mp3", "a1", "media bytes");
    api.downloads()->store(Part::Media, &media);
    FakeReply archive("http://h/a1.zip", "a1", zipWithIndex("<p>A</p>"));
    api.downloads()->store(Part::Archive, &archive);
    QVERIFY(recorder.calls.isEmpty());
    FakeReply sentences("http://h/api/v4/vorb/sentence/a1", "a1", sentenceJson);
    api.downloads()->store(Part::SentenceData, &sentences);
    QCOMPARE(recorder.snippets(Page::Main), finished);
    QCOMPARE(recorder.snippets(Page::Data), state);
    QCOMPARE(api.getFileContent("a1", "lrc"), QString::fromUtf8(sentenceJson));
    QCOMPARE(api.getFileContent("a1", "article"), QString("<p>A</p>"));
    QCOMPARE(fileBytes(dataDirectory() + "a1.rar"), QByteArray("media bytes"));

    recorder.clear();
    FakeReply again("http://h/media/a1.mp3", "a1", "other bytes");
    api.downloads()->store(Part::Media, &again);
    QCOMPARE(recorder.snippets(Page::Main), finished);
    QCOMPARE(fileBytes(dataDirectory() + "a1.rar"), QByteArray("media bytes"));

    recorder.clear();
    FakeReply thumbnail("http://h/pool/ab/a1.png", QByteArray(), "no picture");
    api.downloads()->storeThumbnail(&thumbnail);
    QVERIFY(recorder.calls.isEmpty());
}

void TestContentStore::failedPartIsLoggedAndCompletesNothing_data() {
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<QString>("cause");
    QTest::newRow("connection dropped") << true << "Connection closed";
    // Qt can end a reply cut off by the server without an error.
    QTest::newRow("ended short of its length") << false << "incomplete transfer: 100000 of 300000 bytes";
}

void TestContentStore::failedPartIsLoggedAndCompletesNothing() {
    // Guards against a part that could not be stored (or arrived cut off) passing silently or counting the article
    // as complete.
    QFETCH(bool, dropped);
    QFETCH(QString, cause);
    TestSupport::ScriptRecorder recorder;
    WebApi api(BridgeContext::create(), nullptr);
    QSignalSpy complete(api.downloads(), &DownloadRouter::articleComplete);
    FakeReply archive("http://h/a1.zip", "a1", zipWithIndex("<p>A</p>"));
    api.downloads()->store(Part::Archive, &archive);
    FakeReply sentences("http://h/api/v4/vorb/sentence/a1", "a1", sentenceJson);
    api.downloads()->store(Part::SentenceData, &sentences);
    FakeReply media("http://h/media/a1.mp3", "a1", QByteArray(dropped ? 300000 : 100000, 'm'));
    media.announceLength(300000);
    if (dropped)
        media.breakAt(100000);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot write .*a1.rar: .*" + cause));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("media of article a1 was not stored: .*" + cause));
    api.downloads()->store(Part::Media, &media);
    QCOMPARE(complete.size(), 0);
    QVERIFY(recorder.calls.isEmpty());
    QVERIFY(!QFile::exists(dataDirectory() + "a1.rar"));
}

void TestContentStore::bridgeDeletesRecordAndFiles() {
    // Guards against deleting the record but keeping the files (or the reverse), or touching other articles.
    ContentStore store;
    for (const QString id : {"a1", "a2"}) {
        store.storePart(id, Part::Media, QByteArray("m"));
        store.storePart(id, Part::Archive, zipWithIndex("x"));
        store.storePart(id, Part::SentenceData, sentenceJson);
    }
    TestSupport::ScriptRecorder recorder;
    WebApi api(BridgeContext::create(), nullptr);
    api.deleteArticleData("a1", "c1");
    QCOMPARE(recorder.snippets(Page::Data), QStringList{"ListenDb.deleteArticleData('a1', 'c1');"});
    QCOMPARE(dataFiles().filter(QRegularExpression("^a")), (QStringList{"a2.bin", "a2.rar", "a2.zip"}));
    api.deleteDiskArticleData("a1"); // nothing left: nothing happens
    api.deleteDiskArticleData("a2");
    QVERIFY(dataFiles().filter(QRegularExpression("^a")).isEmpty());
    QCOMPARE(recorder.calls.size(), 1);
}

// The child mode stores endless media into the data directory until it is killed.
int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--store-stalling-media") == 0) {
        QCoreApplication app(argc, argv);
        QStandardPaths::setTestModeEnabled(true);
        std::printf("into %s\n", qPrintable(dataDirectory()));
        StallingSource source;
        ContentStore().storePart(QString::fromUtf8(argv[2]), Part::Media, &source);
        return 0;
    }
    QApplication app(argc, argv);
    TestContentStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_contentstore.moc"
