// Offline downloads: the part requests, the reply router, progress and completion reports, the list relays and the
// deleted-id list, against the fake service, a process killed mid-download, and the real sample service.
#include "bridge/contentstore.h"
#include "bridge/pagescript.h"
#include "bridge/webapi.h"
#include "core/net/networkaccessmanager.h"
#include "core/net/timeouts.h"
#include "core/settings.h"
#include "support/fakeservice.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

using PageScript::Page;
using TestSupport::FakeService;

namespace {

const QByteArray zipBytes = "PK\x03\x04 the archive of a1";
const QByteArray mediaBytes = "ID3 the media of a1";
const QByteArray sentenceJson = R"({"sentences":[{"start":0,"text":"Guten Tag."}]})";

// Sentence data of a long article, several blocks on the wire.
QByteArray longSentenceJson() {
    QByteArray json = R"({"sentences":[)";
    for (int i = 0; i < 4000; ++i)
        json += (i ? "," : "") + QByteArray(R"({"start":)") + QByteArray::number(i * 1500) +
                R"(,"text":"Jeden Samstag gehe ich auf den Wochenmarkt."})";
    return json + "]}";
}

QString finished(const QString& id) {
    return "if(window.downloadData){downloadData.downloadFinished('" + id + "');}";
}

QString record(const QString& id, const QString& thumbnail = QString()) {
    QJsonObject object{{"uuid", id}, {"title", "Titel"}};
    if (!thumbnail.isEmpty())
        object.insert("thumbnail_url", thumbnail);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeService::Reply answer(const QByteArray& type, const QByteArray& body) {
    FakeService::Reply reply;
    reply.contentType = type;
    reply.body = body;
    return reply;
}

FakeService::Reply redirect(const QByteArray& location) {
    FakeService::Reply reply;
    reply.status = 302;
    reply.contentType = "text/html";
    reply.location = location;
    return reply;
}

QStringList dataFiles() {
    return QDir(dataDirectory()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

using TestSupport::fileBytes;

struct Progress {
    qint64 received;
    qint64 total;
    QString kind;
    QString id;
};

QList<Progress> progressReports(const QStringList& snippets) {
    static const QRegularExpression pattern(
        R"(^if\(window\.downloadData && downloadData\.downloadProgress\)\{downloadData\.downloadProgress\('(-?\d+)', '(-?\d+)', '(\w+)', '([^']*)'\);\}$)");
    QList<Progress> out;
    for (const QString& snippet : snippets) {
        const QRegularExpressionMatch match = pattern.match(snippet);
        if (match.hasMatch())
            out << Progress{match.captured(1).toLongLong(), match.captured(2).toLongLong(), match.captured(3),
                            match.captured(4)};
    }
    return out;
}

// The offline-data window as the application builds it: a view in a widget named "dataDialog", its page on a signing
// manager, and a bridge attached to it.
struct DataWindow {
    QWidget dialog;
    QWebView* view;
    WebApi* api;
    DataWindow() : view(new QWebView(&dialog)) {
        dialog.setObjectName("dataDialog");
        view->page()->setNetworkAccessManager(
            new NetworkAccessManager(view->page()->networkAccessManager(), view->page()));
        api = new WebApi(BridgeContext::create(), view);
        api->attachView(view);
    }
};

} // namespace

class TestDownloads : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { NetworkTimeouts::setRetryDelay(nullptr); }
    void init();
    void cleanup();
    void articleDownloadsThroughEveryMediaRoute_data();
    void articleDownloadsThroughEveryMediaRoute();
    void redirectToOtherMediaIsNotFollowed();
    void followUpIsNotFollowedAgain();
    void sentenceDataNeedsJsonAtASentenceUrl_data();
    void sentenceDataNeedsJsonAtASentenceUrl();
    void progressWithoutLengthReportsMinusOne_data();
    void progressWithoutLengthReportsMinusOne();
    void repeatedDownloadReportsAgainAndWritesNothing();
    void brokenTransferStoresNothing();
    void notReadyRecordsOnly();
    void downloadingListRequestsPartsOverHttpsSentence();
    void unusableIdsAreNeverRequested_data();
    void unusableIdsAreNeverRequested();
    void thumbnailsAreStoredWithoutArticleId_data();
    void thumbnailsAreStoredWithoutArticleId();
    void pageOwnLoadsAreLeftToTheEngine();
    void relaysReachTheirPages_data();
    void relaysReachTheirPages();
    void deletedIdList_data();
    void deletedIdList();
    void scriptRecordsChangeNothing_data();
    void scriptRecordsChangeNothing();
    void hugeRecordIsRefusedUnread();
    void failedPartIsTriedAgainThenReported_data();
    void failedPartIsTriedAgainThenReported();
    void killedMidDownloadLeavesNoPartAndCompletesLater();
    void tokenGoesOnlyToTheHttpsService();
    void endlessBodyFailsAtTheCeilingAndShowsWhileItGrows();
    void announcedLengthMustFitOnTheDisk();
    void downloadsARealArticleFromTheSampleService();

private:
    void serveArticle(const QString& id);
    // Waits until a reply for this URL path has passed the router.
    bool waitFinished(const QString& path, int timeoutMs = 15000);
    // Sends a request behind everything queued so far and waits for its answer.
    bool drain();
    QList<Progress> progress() const { return progressReports(recorder->snippets(Page::Main)); }

    std::unique_ptr<DataWindow> window;
    std::unique_ptr<FakeService> service; // the service's https port
    std::unique_ptr<FakeService> plain;   // its http port
    std::unique_ptr<TestSupport::ScriptRecorder> recorder;
    QTemporaryFile trusted;
    QStringList finishedUrls;
    QList<bool> completeWhenReported;
    int markers = 0;
};

void TestDownloads::initTestCase() {
    TestSupport::useCleanDataDirectory();
    // Failed parts are tried again at once here; the pauses are the same code path.
    NetworkTimeouts::setRetryDelay([](int) { return 20; });
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    // Both the fakes' and the sample service's certificates: the parts come over https from either.
    QVERIFY(trusted.open());
    trusted.write(fileBytes(FakeService::caFile()) + "\n" + fileBytes(TestSupport::SampleService::certificateFile()));
    trusted.close();
    qputenv("TAVROLIN_SERVICE_CA", trusted.fileName().toLocal8Bit());
    window = std::make_unique<DataWindow>();
    QVERIFY(window->api->downloads()->network() == window->view->page()->networkAccessManager());
    // Connected after the bridge's router, so a URL shows here once the router has dealt with its reply.
    connect(window->api->downloads()->network(), &QNetworkAccessManager::finished, this,
            [this](QNetworkReply* reply) { finishedUrls << reply->url().path(); });
}

void TestDownloads::init() {
    TestSupport::useCleanDataDirectory();
    // Everything that is signed goes to the service's https port; its http port gets nothing signed with the token.
    service = std::make_unique<FakeService>(FakeService::Tls::Trusted);
    plain = std::make_unique<FakeService>();
    QVERIFY(service->isListening() && plain->isListening());
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(plain->port()));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service->port()));
    recorder = std::make_unique<TestSupport::ScriptRecorder>();
    completeWhenReported.clear();
    recorder->answer = [this](const PageScript::Call& call) {
        if (call.snippet.contains("downloadData.downloadFinished('a1')"))
            completeWhenReported << ContentStore().isComplete("a1");
        return QVariant(QString()); // the test view has no page functions to call
    };
    finishedUrls.clear();
    window->api->downloads()->setReady(true);
    window->api->context().deletedArticleIds.clear();
}

void TestDownloads::cleanup() {
    // Nothing of this test may reach the next one's pages or services.
    QTRY_COMPARE_WITH_TIMEOUT(window->api->downloads()->transfersInProgress(), 0, 30000);
    NetworkTimeouts::setStall(nullptr);
    NetworkTimeouts::setMinimumRate(nullptr);
    recorder.reset();
    service.reset();
    plain.reset();
}

void TestDownloads::serveArticle(const QString& id) {
    const QByteArray i = id.toUtf8();
    service->setReply("/api/v4/vorb/archive/" + i, redirect(service->url("/files/" + id + ".zip").toUtf8()));
    service->setReply("/files/" + i + ".zip", answer("application/zip", zipBytes));
    service->setReply("/api/v3/media/Mp3/" + i, answer("audio/mpeg", mediaBytes));
    for (FakeService* port : {service.get(), plain.get()})
        port->setReply("/api/v4/vorb/sentence/" + i, answer("application/json; charset=utf-8", sentenceJson));
}

bool TestDownloads::waitFinished(const QString& path, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!finishedUrls.contains(path)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool TestDownloads::drain() {
    const QString path = "/marker/" + QString::number(++markers);
    window->api->downloads()->network()->get(QNetworkRequest(QUrl(service->url(path))));
    return waitFinished(path);
}

void TestDownloads::articleDownloadsThroughEveryMediaRoute_data() {
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");     // "{base}" stands for the service's address
    QTest::addColumn<QByteArray>("location"); // of a redirect
    QTest::addColumn<bool>("followed");       // the media comes from /files/a1.mp3
    QTest::newRow("JSON body naming the media")
        << QByteArray("application/json") << QByteArray("\"{base}/files/a1.mp3\"") << QByteArray() << true;
    QTest::newRow("media itself") << QByteArray("audio/mpeg") << mediaBytes << QByteArray() << false;
    QTest::newRow("video stored like audio") << QByteArray("video/mp4") << mediaBytes << QByteArray() << false;
    QTest::newRow("redirect to .mp3") << QByteArray("text/html") << QByteArray() << QByteArray("{base}/files/a1.mp3")
                                      << true;
    QTest::newRow("relative redirect to .mp3")
        << QByteArray("text/html") << QByteArray() << QByteArray("/files/a1.mp3") << true;
}

void TestDownloads::articleDownloadsThroughEveryMediaRoute() {
    // Guards against a media route not reaching the .rar file, a lost articleId header on a follow-up request,
    // completion reported before all three parts exist or more than once, and missing progress reports.
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, location);
    QFETCH(bool, followed);
    const QByteArray base = service->baseUrl().toUtf8();
    serveArticle("a1");
    // The sentence data comes last, so completion waits for it.
    FakeService::Reply sentence = answer("application/json; charset=utf-8", sentenceJson);
    sentence.delayMs = 300;
    service->setReply("/api/v4/vorb/sentence/a1", sentence);
    FakeService::Reply media = answer(type, body.replace("{base}", base));
    if (!location.isEmpty()) {
        media.status = 302;
        media.location = location.replace("{base}", base);
    }
    service->setReply("/api/v3/media/Mp3/a1", media);
    service->setReply("/files/a1.mp3", answer("audio/mpeg", mediaBytes));

    window->api->downloadArticle(record("a1"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);
    QVERIFY(drain());
    QCOMPARE(recorder->snippets(Page::Main).count(finished("a1")), 1);
    QCOMPARE(completeWhenReported, QList<bool>{true});
    QVERIFY(recorder->snippets(Page::Data).contains("ListenDb.setDownloadState('a1');"));

    const QString dir = dataDirectory();
    QCOMPARE(fileBytes(dir + "a1.rar"), mediaBytes);
    QCOMPARE(fileBytes(dir + "a1.zip"), zipBytes);
    QCOMPARE(window->api->getFileContent("a1", "lrc"), QString::fromUtf8(sentenceJson));

    QStringList paths{"/api/v4/vorb/archive/a1", "/files/a1.zip", "/api/v3/media/Mp3/a1", "/api/v4/vorb/sentence/a1"};
    if (followed)
        paths << "/files/a1.mp3";
    for (const QString& path : paths) {
        const auto requests = service->requestsFor(path.toUtf8());
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().header("articleId"), QByteArray("a1"));
    }
    QCOMPARE(service->requestsFor("/api/v4/vorb/archive/a1").first().target,
             QByteArray("/api/v4/vorb/archive/a1?type=0"));

    // Progress: always for the sentence data and the redirected archive, for the media only on a follow-up.
    QMap<QString, qint64> last;
    for (const Progress& report : progress()) {
        QCOMPARE(report.id, QString("a1"));
        last[report.kind] = report.received;
    }
    QCOMPARE(last.value("lrc"), qint64(sentenceJson.size()));
    QCOMPARE(last.value("archive"), qint64(zipBytes.size()));
    QCOMPARE(last.contains("mp3"), followed);
    if (followed)
        QCOMPARE(last.value("mp3"), qint64(mediaBytes.size()));
}

void TestDownloads::redirectToOtherMediaIsNotFollowed() {
    // Guards against following every redirect of the media API (only .zip and .mp3 targets are parts).
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1", redirect(service->url("/files/a1.m4a").toUtf8()));
    service->setReply("/files/a1.m4a", answer("audio/mp4", mediaBytes));
    window->api->downloadArticle(record("a1"));
    QVERIFY(waitFinished("/api/v3/media/Mp3/a1"));
    QVERIFY(waitFinished("/api/v4/vorb/sentence/a1"));
    QVERIFY(waitFinished("/files/a1.zip"));
    QVERIFY(drain());
    QVERIFY(service->requestsFor("/files/a1.m4a").isEmpty());
    QCOMPARE(dataFiles(), (QStringList{"a1.bin", "a1.zip"}));
    QCOMPARE(recorder->snippets(Page::Main).count(finished("a1")), 0);
}

void TestDownloads::followUpIsNotFollowedAgain() {
    // Guards against a request loop when the service answers a followed media URL with yet another pointer.
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1",
                      answer("application/json", "\"" + service->url("/files/a1.mp3").toUtf8() + "\""));
    service->setReply("/files/a1.mp3",
                      answer("application/json", "\"" + service->url("/files/a1.mp3").toUtf8() + "\""));
    service->setReply("/api/v4/vorb/archive/a1", redirect(service->url("/files/a1.zip").toUtf8()));
    service->setReply("/files/a1.zip", redirect(service->url("/files/a1.zip").toUtf8()));
    window->api->downloadArticle(record("a1"));
    QVERIFY(waitFinished("/files/a1.mp3"));
    QVERIFY(waitFinished("/files/a1.zip"));
    QVERIFY(drain());
    QCOMPARE(service->requestsFor("/files/a1.mp3").size(), 1);
    QCOMPARE(service->requestsFor("/files/a1.zip").size(), 1);
}

void TestDownloads::sentenceDataNeedsJsonAtASentenceUrl_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("archiveType"); // the archive route answers directly with this type
    QTest::addColumn<QByteArray>("sentenceType");
    QTest::addColumn<bool>("stored");
    QTest::newRow("JSON with charset") << "a1" << QByteArray("application/zip")
                                       << QByteArray("application/json; charset=utf-8") << true;
    QTest::newRow("plain JSON") << "a1" << QByteArray("application/zip") << QByteArray("application/json") << true;
    QTest::newRow("text") << "a1" << QByteArray("application/zip") << QByteArray("text/plain") << false;
    QTest::newRow("JSON at a URL without sentence") << "a1" << QByteArray("application/json") << QByteArray() << false;
    // Its sentence URL holds "mp3" too: sentence data, not a media link.
    QTest::newRow("an id holding mp3") << "mp3a1" << QByteArray("application/zip") << QByteArray("application/json")
                                       << true;
}

void TestDownloads::sentenceDataNeedsJsonAtASentenceUrl() {
    // Guards against an exact content-type comparison (the charset parameter), against any JSON reply of an
    // article being taken for its sentence data, and against sentence data taken for a media link.
    QFETCH(QString, id);
    QFETCH(QByteArray, archiveType);
    QFETCH(QByteArray, sentenceType);
    QFETCH(bool, stored);
    const QByteArray i = id.toUtf8();
    serveArticle(id);
    service->setReply("/api/v4/vorb/archive/" + i, answer(archiveType, sentenceJson));
    FakeService::Reply sentence = answer(sentenceType, sentenceJson);
    if (sentenceType.isEmpty())
        sentence.status = 404;
    service->setReply("/api/v4/vorb/sentence/" + i, sentence);
    window->api->downloadArticle(record(id));
    QVERIFY(waitFinished("/api/v4/vorb/archive/" + id));
    QVERIFY(waitFinished("/api/v4/vorb/sentence/" + id));
    QVERIFY(waitFinished("/api/v3/media/Mp3/" + id));
    QVERIFY(drain());
    QCOMPARE(QFile::exists(dataDirectory() + id + ".bin"), stored);
    if (stored)
        QCOMPARE(window->api->getFileContent(id, "lrc"), QString::fromUtf8(sentenceJson));
    QCOMPARE(service->requests().size(), 4); // archive, media, sentence data and the marker: nothing followed
}

void TestDownloads::progressWithoutLengthReportsMinusOne_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("path"); // answered without a length
    QTest::addColumn<QString>("file");
    QTest::newRow("sentence data") << "lrc" << QByteArray("/api/v4/vorb/sentence/a1") << "a1.bin";
    QTest::newRow("archive") << "archive" << QByteArray("/files/a1.zip") << "a1.zip";
    QTest::newRow("media") << "mp3" << QByteArray("/files/a1.mp3") << "a1.rar";
}

void TestDownloads::progressWithoutLengthReportsMinusOne() {
    // Guards against progress being dropped or made up while the size of a part is unknown.
    QFETCH(QString, kind);
    QFETCH(QByteArray, path);
    QFETCH(QString, file);
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1", redirect(service->url("/files/a1.mp3").toUtf8()));
    service->setReply("/files/a1.mp3", answer("audio/mpeg", mediaBytes));
    const QByteArray json = longSentenceJson();
    FakeService::Reply unsized = answer(kind == "lrc"   ? "application/json; charset=utf-8"
                                        : kind == "mp3" ? "audio/mpeg"
                                                        : "application/zip",
                                        json);
    if (kind != "lrc")
        unsized.generatedSize = 300 * 1024; // larger than one read of the store
    unsized.chunked = true;
    unsized.blockDelayMs = 50; // the reply reports progress at most every 100 ms
    service->setReply(path, unsized);
    window->api->downloadArticle(record("a1"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);
    QVERIFY(QFile::exists(dataDirectory() + file));

    bool unknownTotal = false;
    qint64 received = 0;
    for (const Progress& report : progress()) {
        if (report.kind != kind)
            continue;
        unknownTotal = unknownTotal || report.total == -1;
        QVERIFY(report.received >= received);
        received = report.received;
    }
    QVERIFY(unknownTotal);
    QCOMPARE(received, kind == "lrc" ? qint64(json.size()) : qint64(300 * 1024));
    if (kind == "lrc")
        QCOMPARE(window->api->getFileContent("a1", "lrc"), QString::fromUtf8(json));
    else
        QCOMPARE(QFileInfo(dataDirectory() + file).size(), qint64(300 * 1024));
}

void TestDownloads::repeatedDownloadReportsAgainAndWritesNothing() {
    // Guards against a second download overwriting stored parts or staying silent about completion.
    serveArticle("a1");
    window->api->downloadArticle(record("a1"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);

    service->setReply("/api/v3/media/Mp3/a1", answer("audio/mpeg", "different media"));
    window->api->downloadArticle(record("a1"));
    // Each part store checks completion once more.
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 4, 15000);
    QVERIFY(drain());
    QCOMPARE(recorder->snippets(Page::Main).count(finished("a1")), 4);
    QCOMPARE(recorder->snippets(Page::Data).count("ListenDb.setDownloadState('a1');"), 4);
    QCOMPARE(fileBytes(dataDirectory() + "a1.rar"), mediaBytes);
}

void TestDownloads::brokenTransferStoresNothing() {
    // Guards against a media file cut off by a dropped connection being stored and counted as complete.
    serveArticle("a1");
    FakeService::Reply broken = answer("audio/mpeg", QByteArray(512 * 1024, 'm'));
    broken.dropConnection = true;
    service->setReply("/api/v3/media/Mp3/a1", broken);
    window->api->downloadArticle(record("a1"));
    QVERIFY(waitFinished("/api/v3/media/Mp3/a1"));
    // Never under the part's name; what came waits in a temporary file for the next try.
    QVERIFY(!QFile::exists(dataDirectory() + "a1.rar"));
    // After the last try, nothing of it is left.
    QTRY_COMPARE_WITH_TIMEOUT(window->api->downloads()->transfersInProgress(), 0, 30000);
    QCOMPARE(dataFiles(), (QStringList{"a1.bin", "a1.zip"}));
    QVERIFY(recorder->snippets(Page::Main).filter("downloadFinished").isEmpty());
}

void TestDownloads::notReadyRecordsOnly() {
    // Guards against downloads starting before the offline-data page is synchronised.
    window->api->downloads()->setReady(false);
    serveArticle("a1");
    service->setReply("/pool/ab/cd.png", answer("image/png", "png"));
    const QString article = record("a1", service->url("/pool/ab/cd.png"));
    const QString channel = R"({"uuid":"c1","thumbnail_url":")" + service->url("/pool/ab/cd.png") + "\"}";
    window->api->downloadArticle(article);
    window->api->downloadChannel(channel);
    window->api->setDownloadingList(R"({"a1":1})");
    QVERIFY(drain());
    QCOMPARE(service->requests().size(), 1); // the marker
    QVERIFY(plain->requests().isEmpty());
    QCOMPARE(recorder->snippets(Page::Data),
             (QStringList{"ListenDb.insertArticleData('" + article.toUtf8().toBase64() + "');",
                          "ListenDb.insertChannelData('" + channel.toUtf8().toBase64() + "');"}));
    QVERIFY(recorder->snippets(Page::Main).isEmpty());
}

void TestDownloads::downloadingListRequestsPartsOverHttpsSentence() {
    // Guards against the restart list fetching thumbnails, recording again, or using plain HTTP for any part.
    serveArticle("a1");
    serveArticle("a2");
    window->api->setDownloadingList(R"({"a1":1,"a2":{"title":"x"}})");
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a2")), 1, 15000);
    QCOMPARE(service->requestsFor("/api/v4/vorb/sentence/a1").size(), 1);
    QCOMPARE(service->requestsFor("/api/v4/vorb/sentence/a2").first().header("articleId"), QByteArray("a2"));
    QVERIFY(plain->requests().isEmpty());
    QCOMPARE(service->requests().size(), 8); // archive, its .zip, media and sentence data for each
    QCOMPARE(recorder->snippets(Page::Data).filter("insert").size(), 0);
    QCOMPARE(window->api->getFileContent("a2", "lrc"), QString::fromUtf8(sentenceJson));
}

void TestDownloads::unusableIdsAreNeverRequested_data() {
    QTest::addColumn<bool>("asList"); // setDownloadingList instead of downloadArticle
    QTest::addColumn<QString>("id");
    QTest::newRow("article to a parent folder") << false << "../a1";
    QTest::newRow("article with a backslash") << false << "..\\a1";
    QTest::newRow("article without id") << false << "";
    QTest::newRow("list entry to a parent folder") << true << "../a1";
    QTest::newRow("list entry with a drive") << true << "C:a1";
}

void TestDownloads::unusableIdsAreNeverRequested() {
    // Guards against ids from the pages reaching request URLs and file names unchecked.
    QFETCH(bool, asList);
    QFETCH(QString, id);
    service->setHandler([](const FakeService::Request& request) {
        FakeService::Reply reply = answer("audio/mpeg", mediaBytes);
        if (request.path.startsWith("/marker/"))
            reply.status = 404;
        return reply;
    });
    const QStringList before = QDir(dataDirectory() + "..").entryList();
    if (asList)
        window->api->setDownloadingList(QJsonDocument(QJsonObject{{id, 1}}).toJson(QJsonDocument::Compact));
    else
        window->api->downloadArticle(record(id));
    QVERIFY(drain());
    QCOMPARE(service->requests().size(), 1); // the marker
    QVERIFY(plain->requests().isEmpty());
    QVERIFY(dataFiles().isEmpty());
    QCOMPARE(QDir(dataDirectory() + "..").entryList(), before);
    QCOMPARE(recorder->snippets(Page::Data).size(), asList ? 0 : 1); // the record is still kept
}

void TestDownloads::thumbnailsAreStoredWithoutArticleId_data() {
    QTest::addColumn<bool>("channel");
    QTest::addColumn<QString>("members"); // "{url}" is the picture's URL
    QTest::newRow("channel") << true << R"("thumbnail_url":"{url}")";
    QTest::newRow("article with image_url_thumbnail") << false << R"("image_url_thumbnail":"{url}")";
    QTest::newRow("article with an empty thumbnail_url")
        << false << R"("thumbnail_url":"","image_url_thumbnail":"{url}")";
}

void TestDownloads::thumbnailsAreStoredWithoutArticleId() {
    // Guards against the wrong picture member, a thumbnail carrying an article id, or a channel fetching parts.
    QFETCH(bool, channel);
    QFETCH(QString, members);
    serveArticle("a1");
    const QByteArray png = TestSupport::pngBytes(4, 4, Qt::red);
    service->setReply("/pool/ab/CD.png", answer("image/png", png));
    const QString data =
        "{\"uuid\":\"a1\"," + QString(members).replace("{url}", service->url("/pool/ab/CD.png?x=1")) + "}";
    if (channel)
        window->api->downloadChannel(data);
    else
        window->api->downloadArticle(data);
    QVERIFY(waitFinished("/pool/ab/CD.png"));
    QVERIFY(QFile::exists(dataDirectory() + "ab//cd.png"));
    const FakeService::Request request = service->requestsFor("/pool/ab/CD.png").first();
    QVERIFY(!request.headers.contains("articleid"));
    if (channel) {
        QVERIFY(drain());
        QCOMPARE(service->requests().size(), 2); // the picture and the marker
    }
}

void TestDownloads::pageOwnLoadsAreLeftToTheEngine() {
    // Guards against the router reading or freeing the replies of the offline-data page's own loads (broken pictures,
    // use after free, pictures stored as thumbnails).
    const QByteArray png = TestSupport::pngBytes(4, 3, Qt::blue);
    service->setReply("/pool/ab/pic.png", answer("image/png", png));
    FakeService::Reply page = answer("text/html", "<html><body><img src=\"/pool/ab/pic.png\"></body></html>");
    service->setReply("/page.html", page);

    QWebView view;
    view.page()->setNetworkAccessManager(window->api->downloads()->network());
    QVERIFY(TestSupport::loadAndWait(&view, QUrl(service->url("/page.html"))));
    QCOMPARE(view.page()->mainFrame()->evaluateJavaScript("document.images[0].naturalWidth").toInt(), 4);
    QVERIFY(!QFileInfo::exists(dataDirectory() + "ab"));
    view.page()->setNetworkAccessManager(nullptr);
}

void TestDownloads::relaysReachTheirPages_data() {
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("snippet");
    QTest::newRow("channel list, quotes dropped")
        << "setDownloadChannel" << QStringList{"\"W3siYSI6MX1d\""} << "main"
        << "if(window.downloadData){downloadData.appendData('channelData', 'W3siYSI6MX1d');}";
    QTest::newRow("article with its state")
        << "setDownloadArticle" << QStringList{"\"eyJ1dWlkIjoiYTEifQ==\"", "finished"} << "main"
        << "if(window.downloadData){downloadData.appendData('articleData', 'eyJ1dWlkIjoiYTEifQ==', 'finished');}";
    QTest::newRow("list finished") << "getDataFinished" << QStringList{"articleData"} << "main"
                                   << "if(window.downloadData){downloadData.getDataFinished('articleData');}";
    QTest::newRow("update, %2 in the id stays") << "updateArticleData" << QStringList{"a%2", "{\"a\":1}"} << "data"
                                                << "ListenDb.updateArticleData('a%2', 'eyJhIjoxfQ==');";
    QTest::newRow("channel deleted") << "deleteChannelData" << QStringList{"c'1"} << "data"
                                     << "ListenDb.deleteChannelData('c\\'1');";
}

void TestDownloads::relaysReachTheirPages() {
    // Guards against a relay reaching the wrong page, keeping the enclosing quotes, or breaking out of its literal.
    QFETCH(QString, slot);
    QFETCH(QStringList, args);
    QFETCH(QString, page);
    QFETCH(QString, snippet);
    const QByteArray name = slot.toLatin1();
    bool ok = args.size() == 1 ? QMetaObject::invokeMethod(window->api, name, Q_ARG(QString, args.at(0)))
                               : QMetaObject::invokeMethod(window->api, name, Q_ARG(QString, args.at(0)),
                                                           Q_ARG(QString, args.at(1)));
    QVERIFY(ok);
    QCOMPARE(recorder->all(), QStringList{page + ": " + snippet});
}

void TestDownloads::deletedIdList_data() {
    QTest::addColumn<QStringList>("steps"); // "+id" remembers, "-id" forgets
    QTest::addColumn<QString>("list");
    QTest::newRow("a then b, forget a") << QStringList{"+a", "+b", "-a"} << "b";
    QTest::newRow("forget the last leaves no comma") << QStringList{"+a", "+b", "-b"} << "a";
    QTest::newRow("forget the middle") << QStringList{"+a", "+b", "+c", "-b"} << "a,c";
    QTest::newRow("a longer id is kept") << QStringList{"+ab", "+a", "-a"} << "ab";
    QTest::newRow("regex characters are plain") << QStringList{"+a.c", "+abc", "-a.c"} << "abc";
    QTest::newRow("forget everything") << QStringList{"+a", "-a"} << "";
    QTest::newRow("forget an unknown id") << QStringList{"+a", "-x"} << "a";
}

void TestDownloads::deletedIdList() {
    // Guards against forgetting one id damaging others (partial matches, stray commas) and against sending or clearing
    // the list at the wrong time.
    QFETCH(QStringList, steps);
    QFETCH(QString, list);
    for (const QString& step : steps) {
        if (step.startsWith('+'))
            window->api->setDeleteArticleId(step.mid(1));
        else
            window->api->delDownloadArticleId(step.mid(1));
    }
    QCOMPARE(window->api->context().deletedArticleIds, list);
    window->api->historyLoaded();
    window->api->historyLoaded();
    const QString sent = "historyChannel.setDeletedArticleId('" + list + "');";
    const QStringList expected = list.isEmpty() ? QStringList() : QStringList{sent, sent};
    QCOMPARE(recorder->snippets(Page::Main), expected);
}

void TestDownloads::scriptRecordsChangeNothing_data() {
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("record");
    QTest::newRow("list: endless loop") << "setDownloadingList"
                                        << "1;while(true){}";
    QTest::newRow("article: endless loop") << "downloadArticle"
                                           << "1;while(true){}";
    QTest::newRow("article: growing string") << "downloadArticle"
                                             << "{\"uuid\":\"a1\"}+(function(){var s='x';for(;;){s+=s;}})()";
    QTest::newRow("channel: a call") << "downloadChannel"
                                     << "{uuid:'c1',thumbnail_url:alert(1)}";
    QTest::newRow("list: an array") << "setDownloadingList"
                                    << "[\"a1\",\"a2\"]";
    QTest::newRow("article: a string") << "downloadArticle"
                                       << "\"a1\"";
}

void TestDownloads::scriptRecordsChangeNothing() {
    // Guards against page records being run as script: a loop that never returns, memory eaten at speed, calls of
    // the page's choosing; and against a record that is not an object starting downloads or being kept.
    QFETCH(QString, slot);
    QFETCH(QString, record);
    serveArticle("a1");
    serveArticle("a2");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Refused a download record that is not a JSON object"));
    QVERIFY(QMetaObject::invokeMethod(window->api, slot.toLatin1(), Q_ARG(QString, record)));
    QCOMPARE(window->api->downloads()->transfersInProgress(), 0);
    QVERIFY(drain());
    QCOMPARE(service->requests().size(), 1); // the marker
    QVERIFY(plain->requests().isEmpty());
    QVERIFY(recorder->calls.isEmpty());
    QVERIFY(dataFiles().isEmpty());
}

void TestDownloads::hugeRecordIsRefusedUnread() {
    // Guards against a page record of 100 MB taking gigabytes of memory to parse.
    serveArticle("a1");
    QString huge = record("a1");
    huge.insert(1, "\"pad\":\"" + QString(DownloadRouter::maxRecordChars, 'x') + "\",");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Refused a download record of \\d+ characters"));
    window->api->downloadArticle(huge);
    QCOMPARE(window->api->downloads()->transfersInProgress(), 0);
    QVERIFY(recorder->snippets(Page::Data).isEmpty()); // not kept either
}

void TestDownloads::failedPartIsTriedAgainThenReported_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("requests");   // of the media file
    QTest::addColumn<QString>("reason"); // in the page's report, German; empty: no report, the article completes
    QTest::addColumn<QString>("logged"); // the exact cause, in the log only
    QTest::newRow("stalled once, resumed") << "stall once" << 2 << ""
                                           << "";
    QTest::newRow("stalled every time") << "stall" << 4 << "Der Server antwortet nicht mehr"
                                        << "no data for 0.5 s";
    QTest::newRow("a trickle, tried like a stall") << "trickle" << 4 << "Die Verbindung ist zu langsam"
                                                   << "fewer than 65536 bytes in 0.6 s";
    QTest::newRow("slow but moving: completes") << "slow" << 1 << ""
                                                << "";
    QTest::newRow("server error every time") << "503" << 4 << "Fehler auf dem Server (HTTP 503)"
                                             << "Service Unavailable";
    QTest::newRow("not found: no second try") << "404" << 1 << "Der Server verweigert die Datei (HTTP 404)"
                                              << "Not Found";
    QTest::newRow("disk full: the write error") << "full" << 1 << "Nicht genug freier Speicherplatz auf dem Datenträger"
                                                << "File too large";
    QTest::newRow("data directory unusable") << "no directory" << 1 << "Die Datei kann nicht gespeichert werden"
                                             << "cannot create";
}

void TestDownloads::failedPartIsTriedAgainThenReported() {
    // Guards against a download that hangs for ever on a stalled server, gives up on the first broken connection,
    // starts a broken media file over instead of resuming it, and a part that fails (a full disk, say) without the
    // page being told, or told a made-up reason, or an English one.
    QFETCH(QString, fault);
    QFETCH(int, requests);
    QFETCH(QString, reason);
    QFETCH(QString, logged);
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Download of \\S+/files/a1\\.mp3 failed: .*" +
                                                              QRegularExpression::escape(logged)));
    NetworkTimeouts::setStall([] { return 500; });
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1", redirect(service->url("/files/a1.mp3").toUtf8()));
    QByteArray media(512 * 1024, Qt::Uninitialized);
    for (int i = 0; i < media.size(); ++i)
        media[i] = char('a' + (i * 7 + i / 1000) % 26);
    const int stallAt = 100 * 1024;
    service->setHandler([=](const FakeService::Request& request) {
        FakeService::Reply reply = answer("audio/mpeg", media);
        reply.headers = {{"Accept-Ranges", "bytes"}, {"ETag", "\"v1\""}};
        const bool first = request.header("Range").isEmpty();
        if (fault == "stall" || (fault == "stall once" && first))
            reply.stallAfter = stallAt;
        if (fault == "503" || fault == "404")
            reply.status = fault.toInt();
        if (fault == "trickle" || fault == "slow") {
            // 160 bytes a second never reach the minimum; 160 KiB a second keep well above it.
            reply.blockSize = fault == "trickle" ? 16 : 16 * 1024;
            reply.blockDelayMs = 100;
        }
        return reply;
    });
    NetworkTimeouts::setMinimumRate([] { return NetworkTimeouts::MinimumRate{64 * 1024, 600}; });
    // Undone however the test ends.
    struct Restore {
        struct rlimit limit {};
        Restore() { getrlimit(RLIMIT_FSIZE, &limit); }
        ~Restore() {
            setrlimit(RLIMIT_FSIZE, &limit);
            if (QFileInfo(QDir::cleanPath(dataDirectory())).isFile())
                QFile::remove(QDir::cleanPath(dataDirectory()));
        }
    } restore;
    if (fault == "full") {
        std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        struct rlimit small = restore.limit;
        small.rlim_cur = 200 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    if (fault == "no directory") {
        QDir(dataDirectory()).removeRecursively();
        QFile blocker(QDir::cleanPath(dataDirectory()));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    window->api->downloadArticle(record("a1"));
    if (reason.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);
        QCOMPARE(fileBytes(dataDirectory() + "a1.rar"), media);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!recorder->snippets(Page::Main).filter("downloadFailed('a1', 'mp3'").isEmpty(), 15000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(window->api->downloads()->transfersInProgress(), 0, 15000);

    const QList<FakeService::Request> tries = service->requestsFor("/files/a1.mp3");
    QCOMPARE(tries.size(), requests);
    if (fault.startsWith("stall")) {
        // Each try asks for the rest of the same file, and only if it is still the same.
        for (int i = 1; i < tries.size(); ++i) {
            QCOMPARE(tries.at(i).header("Range"), "bytes=" + QByteArray::number(qint64(stallAt) * i) + "-");
            QCOMPARE(tries.at(i).header("If-Range"), QByteArray("\"v1\""));
        }
    }
    const QStringList failures = recorder->snippets(Page::Main).filter("downloadFailed");
    if (reason.isEmpty()) {
        QVERIFY(failures.isEmpty());
        return;
    }
    QCOMPARE(failures.filter("'mp3'").size(), 1);
    static const QRegularExpression call(
        R"(^if\(window\.downloadData && downloadData\.downloadFailed\)\{downloadData\.downloadFailed\('a1', 'mp3', '(.*)'\);\}$)");
    const QRegularExpressionMatch match = call.match(failures.filter("'mp3'").first());
    QVERIFY2(match.hasMatch(), qPrintable(failures.first()));
    QCOMPARE(match.captured(1), reason);
    QVERIFY(!QFile::exists(dataDirectory() + "a1.rar"));
    QVERIFY(recorder->snippets(Page::Main).filter("downloadFinished").isEmpty());
}

void TestDownloads::killedMidDownloadLeavesNoPartAndCompletesLater() {
    // Guards against a crash in the middle of a large media download leaving a part file that passes for complete.
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1", redirect(service->url("/files/a1.mp3").toUtf8()));
    FakeService::Reply slow = answer("audio/mpeg", QByteArray());
    slow.generatedSize = 64 * 1024 * 1024;
    slow.blockDelayMs = 10;
    service->setReply("/files/a1.mp3", slow);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--download-article", record("a1")});
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += child.readAllStandardOutput()).contains("receiving") ||
                                 child.state() == QProcess::NotRunning,
                             60000);
    QVERIFY2(child.state() == QProcess::Running, child.readAllStandardError().constData());
    QVERIFY(output.contains("into " + dataDirectory().toUtf8())); // the same folder as ours
    child.kill();                                                 // SIGKILL
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    // What it had received lies in a temporary file beside the part, never under the part's name.
    QCOMPARE(dataFiles().filter(QRegularExpression(R"(^a1\.rar\.\w+\.part$)")).size(), 1);
    QCOMPARE(dataFiles().filter(QRegularExpression(R"(^a1\.(bin|zip|rar)$)")), (QStringList{"a1.bin", "a1.zip"}));
    QVERIFY(!ContentStore().isComplete("a1"));

    FakeService::Reply whole = answer("audio/mpeg", QByteArray());
    whole.generatedSize = 8 * 1024 * 1024;
    service->setReply("/files/a1.mp3", whole);
    window->api->downloadArticle(record("a1"));
    // Every part store checks completion, so the report may come up to three times.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dataDirectory() + "a1.rar"), 30000);
    QVERIFY(recorder->snippets(Page::Main).contains(finished("a1")));
    QCOMPARE(QFileInfo(dataDirectory() + "a1.rar").size(), whole.generatedSize);
    QCOMPARE(dataFiles(), (QStringList{"a1.bin", "a1.rar", "a1.zip"})); // the left-over went when it started again
}

void TestDownloads::tokenGoesOnlyToTheHttpsService() {
    // Guards against the session token travelling in clear text (signed requests over plain http) and against the
    // token cookie reaching plain http or another port of the service's host (follow-ups, thumbnails, captureWord).
    auto* manager = static_cast<NetworkAccessManager*>(window->api->downloads()->network());
    manager->cookieJar->setCookiesFromUrl({QNetworkCookie("token", "s3cret"), QNetworkCookie("userid", "u7")},
                                          QUrl(service->baseUrl()));
    FakeService other; // another port of the same host
    serveArticle("a1");
    service->setReply("/api/v4/vorb/archive/a1", redirect(plain->url("/files/a1.zip").toUtf8()));
    plain->setReply("/files/a1.zip", answer("application/zip", zipBytes));
    other.setReply("/pool/ab/cd.png", answer("image/png", "png"));
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Sent http://127.0.0.1:\\d+/(files/a1.zip|wort) without "
                                                              "the session token: it goes over https only$"));
    window->api->downloadArticle(record("a1", other.url("/pool/ab/cd.png")));
    window->api->captureWord(plain->url("/wort"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished("a1")), 1, 15000);
    QVERIFY(drain());
    QVERIFY(waitFinished("/wort"));
    QVERIFY(waitFinished("/pool/ab/cd.png"));

    auto token = [](const FakeService::Request& request) {
        const QByteArray header = request.header("Authorization");
        if (!header.startsWith("QYN "))
            return QString();
        return QJsonDocument::fromJson(QByteArray::fromBase64(header.mid(4))).object().value("token").toString();
    };
    for (const char* path : {"/api/v4/vorb/archive/a1", "/api/v3/media/Mp3/a1", "/api/v4/vorb/sentence/a1"}) {
        const QList<FakeService::Request> sent = service->requestsFor(path);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(token(sent.first()), QString("s3cret"));
    }
    QCOMPARE(plain->requestsFor("/files/a1.zip").size(), 1);
    QCOMPARE(plain->requestsFor("/wort").size(), 1);
    QCOMPARE(other.requests().size(), 1);
    for (const QList<FakeService::Request>& elsewhere : {plain->requests(), other.requests()}) {
        for (const FakeService::Request& request : elsewhere) {
            QVERIFY2(!request.header("Cookie").contains("s3cret"), request.target.constData());
            QCOMPARE(token(request), QString());
        }
    }
    for (const QNetworkCookie& cookie : manager->cookieJar->allCookies())
        manager->cookieJar->deleteCookie(cookie);
}

void TestDownloads::endlessBodyFailsAtTheCeilingAndShowsWhileItGrows() {
    // Guards against a server that never ends its body filling the disk and the part being reported finished, and
    // against the growing part being invisible meanwhile.
    QSettings(Settings::settingsFilePath(), QSettings::IniFormat).setValue(Settings::MaxDownloadMiB, 1);
    serveArticle("a1");
    service->setReply("/api/v3/media/Mp3/a1", redirect(service->url("/files/a1.mp3").toUtf8()));
    FakeService::Reply endless = answer("audio/mpeg", QByteArray());
    endless.chunked = true;
    endless.generatedSize = qint64(1) << 40;
    endless.blockSize = 16 * 1024;
    endless.blockDelayMs = 20;
    service->setReply("/files/a1.mp3", endless);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Download of .* failed: larger than the download ceiling "
                                                          "of 1048576 bytes$"));
    window->api->downloadArticle(record("a1"));
    const QRegularExpression growing(R"(^a1\.rar\.\w+\.part$)");
    QTRY_VERIFY_WITH_TIMEOUT(!dataFiles().filter(growing).isEmpty(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder->snippets(Page::Main).filter("downloadFailed('a1', 'mp3'").isEmpty(), 30000);
    const QString failure = recorder->snippets(Page::Main).filter("downloadFailed('a1', 'mp3'").first();
    QVERIFY2(failure.endsWith("'Die Datei ist größer als die erlaubte Höchstgröße');}"), qPrintable(failure));
    QTRY_COMPARE(window->api->downloads()->transfersInProgress(), 0);
    QCOMPARE(dataFiles().filter(QRegularExpression("^a1\\.rar")), QStringList());
    QCOMPARE(service->requestsFor("/files/a1.mp3").size(), 1); // not worth another try
}

void TestDownloads::announcedLengthMustFitOnTheDisk() {
    // Guards against a part the disk cannot hold being started anyway, found out only once the disk is full.
    serveArticle("a1");
    FakeService::Reply huge = answer("audio/mpeg", QByteArray());
    huge.generatedSize = qint64(1) << 50; // a pebibyte, announced
    service->setReply("/api/v3/media/Mp3/a1", huge);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Download of .* failed: not enough free disk space: "
                                                          "1073741824 MiB needed, \\d+ MiB free$"));
    window->api->downloadArticle(record("a1"));
    QTRY_VERIFY_WITH_TIMEOUT(!recorder->snippets(Page::Main).filter("downloadFailed('a1', 'mp3'").isEmpty(), 15000);
    const QString failure = recorder->snippets(Page::Main).filter("downloadFailed('a1', 'mp3'").first();
    QVERIFY2(failure.endsWith("'Nicht genug freier Speicherplatz auf dem Datenträger');}"), qPrintable(failure));
    QTRY_COMPARE(window->api->downloads()->transfersInProgress(), 0);
    QCOMPARE(dataFiles().filter(QRegularExpression("^a1\\.rar")), QStringList());
}

void TestDownloads::downloadsARealArticleFromTheSampleService() {
    // Guards against the download requests failing the real service's signature checks or routes, and against
    // stored parts that cannot be read back.
    TestSupport::SampleService service;
    QVERIFY2(service.start(), service.output().constData());
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service.httpPort()));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.httpsPort()));
    const QString base = service.httpBase();

    QNetworkAccessManager plain;
    NetworkAccessManager signing(&plain, nullptr);
    QNetworkReply* reply = signing.get(QNetworkRequest(QUrl(base + "/api/catalogue")));
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(15000));
    const QJsonObject catalogue = QJsonDocument::fromJson(reply->readAll()).object();
    delete reply;
    const QJsonObject article =
        catalogue.value("channels").toArray().first().toObject().value("articles").toArray().first().toObject();
    const QString id = article.value("uuid").toString();
    QVERIFY(!id.isEmpty());

    window->api->downloadArticle(QString::fromUtf8(QJsonDocument(article).toJson(QJsonDocument::Compact)));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->snippets(Page::Main).count(finished(id)), 1, 30000);

    const QString lrc = window->api->getFileContent(id, "lrc");
    QCOMPARE(lrc, QString::fromUtf8(
                      fileBytes(TestSupport::SampleService::contentDirectory() + "/sentence/" + id + ".json")));
    QCOMPARE(QJsonDocument::fromJson(lrc.toUtf8()).object().value("sentences").toArray().size(),
             article.value("sentences").toInt());
    const QString html = window->api->getFileContent(id, "article");
    QVERIFY2(html.contains(article.value("title").toString()), qPrintable(html.left(300)));
    QVERIFY(html.contains("class=\"sentence\""));
    QVERIFY(QFileInfo(dataDirectory() + id + ".rar").size() > 1000);
}

// The child mode downloads one article through its own offline-data window until it is killed; it says "receiving"
// once the other two parts are stored and the media is well under way.
int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--download-article") == 0) {
        QApplication app(argc, argv);
        QStandardPaths::setTestModeEnabled(true);
        std::printf("into %s\n", qPrintable(dataDirectory()));
        std::fflush(stdout);
        DataWindow window;
        window.api->downloads()->setReady(true);
        bool said = false;
        PageScript::setRecorder([&said](const PageScript::Call& call) {
            const QList<Progress> reports = progressReports({call.snippet});
            const ContentStore store;
            if (!said && !reports.isEmpty() && reports.first().kind == "mp3" && reports.first().received > 1000000 &&
                QFile::exists(store.partPath("a1", ContentStore::Part::Archive)) &&
                QFile::exists(store.partPath("a1", ContentStore::Part::SentenceData))) {
                said = true;
                std::puts("receiving");
                std::fflush(stdout);
            }
            return QVariant(QString());
        });
        window.api->downloadArticle(QString::fromUtf8(argv[2]));
        return app.exec();
    }
    QApplication app(argc, argv);
    TestDownloads test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_downloads.moc"
