// The HTTP helper: identification, version check, redirect resolution, time-outs and downloads.
#include "core/net/httpmanager.h"
#include "core/net/timeouts.h"
#include "core/settings.h"
#include "core/signing.h"
#include "support/fakeservice.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"

#include <QDir>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::FakeService;

namespace {

const QByteArray identity = "/kendro_vorb_de_desktop/3.3.1/127.0.0.1/";

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

struct Outcome {
    int calls = 0;
    bool ok = false;
    QString text;
    void record(bool okValue, const QString& textValue) {
        ++calls;
        ok = okValue;
        text = textValue;
    }
};

} // namespace

class TestHttpManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() {
        NetworkTimeouts::setStall(nullptr);
        QFile::remove(Settings::settingsFilePath());
    }
    void prepareRequestTargetsServiceOverHttps();
    void checkUpdateReadsTheAnswer_data();
    void checkUpdateReadsTheAnswer();
    void getRequestEndsWithOneTimeout_data();
    void getRequestEndsWithOneTimeout();
    void resolveRedirectReportsOneStep_data();
    void resolveRedirectReportsOneStep();
    void downloadReplacesTargetAndLeavesNoTemporary_data();
    void downloadReplacesTargetAndLeavesNoTemporary();
    void failedDownloadKeepsOldTarget_data();
    void failedDownloadKeepsOldTarget();
    void unwritableTemporaryReportsCannotWrite_data();
    void unwritableTemporaryReportsCannotWrite();
    void cancelStopsQuietlyAndNextDownloadRuns_data();
    void cancelStopsQuietlyAndNextDownloadRuns();
    void callbacksOfADestroyedContextAreSkipped();

private:
    QTemporaryDir dir;
    HttpManager* http = nullptr;
};

void TestHttpManager::initTestCase() {
    TestSupport::useCleanDataDirectory();
    Signing::setAddressSource([] { return QList<QHostAddress>{QHostAddress("127.0.0.1")}; });
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    http = HttpManager::instance();
    QVERIFY(http == HttpManager::instance());
    QVERIFY(dir.isValid());
}

void TestHttpManager::init() {
    http->timeoutMs = 300;
}

void TestHttpManager::prepareRequestTargetsServiceOverHttps() {
    // Guards against the helper going to another host, scheme or port than the configured service.
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", "9443");
    QNetworkRequest request;
    http->prepareRequest("/api/v2/appsupport/CheckVersion", request);
    QCOMPARE(request.url(), QUrl("https://127.0.0.1:9443/api/v2/appsupport/CheckVersion"));
    QCOMPARE(request.header(QNetworkRequest::UserAgentHeader).toString(), QString::fromLatin1(identity));
    QCOMPARE(request.rawHeader("MarloUserAgent"), identity);
    QVERIFY(!request.hasRawHeader("Authorization"));
}

void TestHttpManager::checkUpdateReadsTheAnswer_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("text");
    const QByteArray update = "{\"version\":\"3.3.2\",\"publish_date\":\"2026-12-01\",\"info\":\"x\",\"url\":\"u\"}";
    QTest::newRow("quoted no-update text") << 200 << QString("\"暂无更新\"").toUtf8() << false << QString();
    QTest::newRow("unquoted text") << 200 << QString("暂无更新").toUtf8() << true << QString("暂无更新");
    QTest::newRow("404 is a failed check")
        << 404 << QString("\"暂无更新\"").toUtf8() << false << QString("HTTP status 404");
    QTest::newRow("500 is a failed check") << 500 << QByteArray() << false << QString("HTTP status 500");
    QTest::newRow("nothing listening is a failed check") << 0 << QByteArray() << false << QString("refused");
    QTest::newRow("update object") << 200 << update << true << QString::fromUtf8(update);
}

void TestHttpManager::checkUpdateReadsTheAnswer() {
    // Guards against misreading the no-update answer, treating an error page as an update, and a failed check
    // passing for "no update".
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, available);
    QFETCH(QString, text);
    http->timeoutMs = 5000;
    FakeService service(FakeService::Tls::Trusted);
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT",
            QByteArray::number(status ? service.port() : TestSupport::freePorts().first));
    FakeService::Reply reply;
    reply.status = status;
    reply.contentType = "application/json; charset=utf-8";
    reply.body = body;
    service.setReply("/api/v2/appsupport/CheckVersion", reply);

    Outcome outcome;
    http->checkUpdate([&outcome](bool ok, const QString& t) { outcome.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000);
    QCOMPARE(outcome.ok, available);
    if (status == 0) {
        QVERIFY2(outcome.text.contains(text), qPrintable(outcome.text));
        return;
    }
    QCOMPARE(outcome.text, text);
    const FakeService::Request request = service.requests().first();
    QCOMPARE(request.header("User-Agent"), identity);
    QCOMPARE(request.header("MarloUserAgent"), identity);
    QVERIFY(request.header("Authorization").isEmpty());
}

void TestHttpManager::getRequestEndsWithOneTimeout_data() {
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QList<int>>("calls");
    QTest::newRow("answered in time") << 0 << QList<int>{ReplyFinished, ReplyTimeout};
    QTest::newRow("too slow") << 5000 << QList<int>{ReplyError, ReplyFinished, ReplyTimeout};
}

void TestHttpManager::getRequestEndsWithOneTimeout() {
    // Guards against a missing or repeated time-out call and against replies that outlive it.
    QFETCH(int, delayMs);
    QFETCH(QList<int>, calls);
    FakeService service(FakeService::Tls::Trusted);
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.port()));
    FakeService::Reply reply;
    reply.delayMs = delayMs;
    reply.body = "ok";
    service.setReply("/api/x", reply);

    QList<int> seen;
    QPointer<QNetworkReply> last;
    http->getRequest("/api/x", [&seen, &last](QNetworkReply* r, NetwordReplyType type) {
        seen << type;
        last = r;
    });
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), calls.size(), 10000);
    QCOMPARE(seen, calls);
    // Deleted after the time-out call, so nothing can follow it.
    QTRY_VERIFY(last.isNull());
}

void TestHttpManager::resolveRedirectReportsOneStep_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<bool>("redirected");
    QTest::addColumn<QString>("expected"); // "<url>": the URL asked for; "<base>": the service
    QTest::newRow("302 escapes lower-cased") << 302 << QByteArray("http://cdn.example/m/a%2Fb%3D%3D.mp3?k=%2F%3D")
                                             << true << QString("http://cdn.example/m/a%2fb%3d%3d.mp3?k=%2f%3d");
    QTest::newRow("301") << 301 << QByteArray("http://cdn.example/x.mp3") << true
                         << QString("http://cdn.example/x.mp3");
    QTest::newRow("relative location made absolute")
        << 302 << QByteArray("/files/x.mp3") << true << QString("<base>/files/x.mp3");
    QTest::newRow("307 is not followed") << 307 << QByteArray("http://cdn.example/x.mp3") << false << QString("<url>");
    QTest::newRow("200") << 200 << QByteArray() << false << QString("<url>");
    // A server that takes the request and never answers.
    QTest::newRow("no answer") << -1 << QByteArray() << false << QString("<url>");
}

void TestHttpManager::resolveRedirectReportsOneStep() {
    // Guards against following more than one step, redirects other than 301/302 being taken, and waiting for ever.
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QFETCH(bool, redirected);
    QFETCH(QString, expected);
    NetworkTimeouts::setStall([] { return 300; });
    FakeService service;
    FakeService::Reply reply;
    reply.status = status < 0 ? 200 : status;
    reply.delayMs = status < 0 ? 60000 : 0;
    reply.location = location;
    service.setReply("/api/v3/media/mp3/a", reply);
    const QString url = service.url("/api/v3/media/mp3/a?agent=x");

    Outcome outcome;
    http->resolveRedirect(url, [&outcome](bool ok, const QString& t) { outcome.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000);
    QCOMPARE(outcome.ok, redirected);
    QCOMPARE(outcome.text, expected == "<url>" ? url : QString(expected).replace("<base>", service.baseUrl()));
    QCOMPARE(service.requests().size(), 1);
    QCOMPARE(service.requests().first().method, QByteArray("HEAD"));
}

void TestHttpManager::downloadReplacesTargetAndLeavesNoTemporary_data() {
    QTest::addColumn<bool>("oldTarget");
    QTest::addColumn<bool>("leftoverTemporary");
    QTest::addColumn<bool>("viaRedirect");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("new file") << false << false << false << QByteArray("application/octet-stream");
    QTest::newRow("replaces existing target") << true << false << false << QByteArray("application/octet-stream");
    QTest::newRow("removes leftover .tmp") << true << true << false << QByteArray("application/octet-stream");
    QTest::newRow("after one redirect") << false << false << true << QByteArray("application/octet-stream");
    // Sent compressed: the announced length is not the length written.
    QTest::newRow("compressed text") << false << false << false << QByteArray("text/plain");
}

void TestHttpManager::downloadReplacesTargetAndLeavesNoTemporary() {
    // Guards against appending to old files, keeping stale temporaries, or saving a redirect page.
    QFETCH(bool, oldTarget);
    QFETCH(bool, leftoverTemporary);
    QFETCH(bool, viaRedirect);
    QFETCH(QByteArray, contentType);
    FakeService service(FakeService::Tls::Trusted);
    FakeService::Reply file;
    file.contentType = contentType;
    file.body = QByteArray(300 * 1024, 'n');
    service.setReply("/files/setup.run", file);
    FakeService::Reply redirect;
    redirect.status = 302;
    redirect.location = service.url("/files/setup.run").toUtf8();
    service.setReply("/get/setup", redirect);

    const QString target = dir.filePath("setup.run");
    QFile::remove(target);
    if (oldTarget)
        writeAll(target, QByteArray(400 * 1024, 'o'));
    if (leftoverTemporary)
        writeAll(target + ".tmp", QByteArray(500 * 1024, 't'));

    Outcome outcome;
    qint64 lastReceived = -1;
    qint64 lastTotal = -1;
    http->downloadFile(
        service.url(viaRedirect ? "/get/setup" : "/files/setup.run"), target,
        [&](qint64 received, qint64 total) {
            lastReceived = received;
            lastTotal = total;
        },
        [&outcome](bool ok, const QString& t, DownloadCause) { outcome.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000);
    QVERIFY2(outcome.ok, qPrintable(outcome.text));
    QCOMPARE(outcome.text, target);
    QCOMPARE(readAll(target), file.body);
    QVERIFY(!QFile::exists(target + ".tmp"));
    if (contentType == "application/octet-stream") {
        QCOMPARE(lastReceived, qint64(file.body.size()));
        QCOMPARE(lastTotal, qint64(file.body.size()));
    }
}

void TestHttpManager::failedDownloadKeepsOldTarget_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("server error") << "500"
                                  << "server replied";
    QTest::newRow("not found") << "404"
                               << "server replied";
    QTest::newRow("dropped connection") << "drop"
                                        << "";
    QTest::newRow("stalled") << "stall"
                             << "No data for 0.5 s";
    QTest::newRow("over plain http") << "http"
                                     << "not https";
    QTest::newRow("redirected to plain http") << "redirect to http"
                                              << "not https";
    QTest::newRow("a redirect without an address") << "307 without location"
                                                   << "without a new address";
    QTest::newRow("six redirects") << "loop"
                                   << "More than 5 redirects";
    QTest::newRow("a body that never ends") << "endless"
                                            << "Larger than 1048576 bytes";
}

void TestHttpManager::failedDownloadKeepsOldTarget() {
    // Guards against an error page, a truncated or stalled transfer, a redirect's own body or anything that came over
    // plain http replacing a good installer, or a download that never ends.
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    NetworkTimeouts::setStall([] { return 500; });
    FakeService service(FakeService::Tls::Trusted);
    FakeService plain;
    FakeService::Reply reply;
    reply.body = QByteArray(256 * 1024, 'e');
    if (fault == "500" || fault == "404")
        reply.status = fault.toInt();
    reply.dropConnection = fault == "drop";
    if (fault == "stall")
        reply.stallAfter = 1000;
    if (fault == "endless") {
        QSettings(Settings::settingsFilePath(), QSettings::IniFormat).setValue(Settings::MaxDownloadMiB, 1);
        reply.chunked = true;
        reply.generatedSize = qint64(1) << 40;
    }
    service.setReply("/files/setup.run", reply);
    plain.setReply("/files/setup.run", FakeService::Reply());
    FakeService::Reply moved;
    moved.status = 307;
    moved.body = "#!/bin/sh\necho the redirect's own body\n";
    moved.location = fault == "redirect to http"       ? plain.url("/files/setup.run").toUtf8()
                     : fault == "307 without location" ? QByteArray()
                                                       : service.url("/get/setup").toUtf8();
    service.setReply("/get/setup", moved);

    const QString target = dir.filePath("kept.run");
    writeAll(target, "good old installer");
    Outcome outcome;
    const bool redirected = fault.contains("redirect") || fault.startsWith("307") || fault == "loop";
    http->downloadFile(
        fault == "http" ? plain.url("/files/setup.run") : service.url(redirected ? "/get/setup" : "/files/setup.run"),
        target, [](qint64, qint64) {}, [&outcome](bool ok, const QString& t, DownloadCause) { outcome.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.text.contains(reason), qPrintable(outcome.text));
    QCOMPARE(readAll(target), QByteArray("good old installer"));
    QVERIFY(!QFile::exists(target + ".tmp"));
    QVERIFY(plain.requests().isEmpty());
    if (fault == "loop")
        QCOMPARE(service.requestsFor("/get/setup").size(), 6);
}

void TestHttpManager::unwritableTemporaryReportsCannotWrite_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("temporaryIsDirectory");
    QTest::newRow("missing directory") << "no/such/dir/setup.run" << false;
    QTest::newRow(".tmp cannot be removed") << "blocked.run" << true;
}

void TestHttpManager::unwritableTemporaryReportsCannotWrite() {
    // Guards against a download that cannot be stored being reported as a success or failing silently.
    QFETCH(QString, target);
    QFETCH(bool, temporaryIsDirectory);
    FakeService service(FakeService::Tls::Trusted);
    service.setReply("/files/setup.run", FakeService::Reply());
    const QString path = dir.filePath(target);
    if (temporaryIsDirectory) {
        QVERIFY(QDir().mkpath(path + ".tmp/inner"));
        writeAll(path, "old");
    }
    Outcome outcome;
    http->downloadFile(
        service.url("/files/setup.run"), path, [](qint64, qint64) {},
        [&outcome](bool ok, const QString& t, DownloadCause) { outcome.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.text, QString("Cannot Write File"));
    if (temporaryIsDirectory)
        QCOMPARE(readAll(path), QByteArray("old"));
}

void TestHttpManager::cancelStopsQuietlyAndNextDownloadRuns_data() {
    QTest::addColumn<bool>("destroyOwner");
    QTest::newRow("cancelDownload") << false;
    QTest::newRow("owner destroyed") << true;
}

void TestHttpManager::cancelStopsQuietlyAndNextDownloadRuns() {
    // Guards against a cancelled (or orphaned) transfer leaving a .tmp or reporting, and a stale cancel stopping the
    // next one.
    QFETCH(bool, destroyOwner);
    auto* owner = new QObject;
    FakeService service(FakeService::Tls::Trusted);
    FakeService::Reply big;
    big.contentType = "application/octet-stream";
    big.generatedSize = 64 * 1024 * 1024;
    service.setReply("/files/big.bin", big);
    FakeService::Reply small;
    small.body = "small";
    service.setReply("/files/small.bin", small);

    const QString target = dir.filePath("big.bin");
    Outcome cancelled;
    int progressCalls = 0;
    http->downloadFile(
        service.url("/files/big.bin"), target,
        [&](qint64, qint64) {
            ++progressCalls;
            if (destroyOwner)
                delete owner;
            else
                http->cancelDownload();
        },
        [&cancelled](bool ok, const QString& t, DownloadCause) { cancelled.record(ok, t); }, owner);
    QTRY_VERIFY_WITH_TIMEOUT(progressCalls > 0, 10000);
    QTRY_VERIFY(!QFile::exists(target + ".tmp"));
    QCOMPARE(progressCalls, 1);

    Outcome next;
    http->downloadFile(
        service.url("/files/small.bin"), dir.filePath("small.bin"), [](qint64, qint64) {},
        [&next](bool ok, const QString& t, DownloadCause) { next.record(ok, t); });
    QTRY_COMPARE_WITH_TIMEOUT(next.calls, 1, 10000);
    QVERIFY(next.ok);
    QCOMPARE(readAll(dir.filePath("small.bin")), QByteArray("small"));
    QCOMPARE(cancelled.calls, 0);
    QVERIFY(!QFile::exists(target));
    if (!destroyOwner)
        delete owner;
}

void TestHttpManager::callbacksOfADestroyedContextAreSkipped() {
    // Guards against the late time-out call reaching an object that is already gone.
    FakeService service(FakeService::Tls::Trusted);
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.port()));
    service.setReply("/api/x", FakeService::Reply());
    auto* owner = new QObject;
    int orphanCalls = 0;
    QList<int> witness;
    http->getRequest(
        "/api/x", [&orphanCalls](QNetworkReply*, NetwordReplyType) { ++orphanCalls; }, owner);
    http->getRequest("/api/x", [&witness](QNetworkReply*, NetwordReplyType type) { witness << type; });
    delete owner;
    // Both time-outs are due at the same moment, the orphan's first.
    QTRY_VERIFY_WITH_TIMEOUT(witness.contains(ReplyTimeout), 10000);
    QCOMPARE(orphanCalls, 0);
}

QTEST_MAIN(TestHttpManager)
#include "tst_httpmanager.moc"
