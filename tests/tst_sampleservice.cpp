// The bundled sample service as a real peer: every route, its answers, and its signature checks.
#include "core/net/httpmanager.h"
#include "core/net/networkaccessmanager.h"
#include "core/signing.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"
#include "update/installercheck.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Answer {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray contentType;
    QByteArray location;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray& name) const {
        for (const auto& pair : headers) {
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
                return pair.second;
        }
        return QByteArray();
    }
};

Answer fetch(QNetworkAccessManager& manager, const QNetworkRequest& request, const QByteArray& verb = "GET") {
    QNetworkReply* reply = manager.sendCustomRequest(request, verb);
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(15000);
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.error = reply->error();
    answer.contentType = reply->rawHeader("Content-Type");
    answer.location = reply->rawHeader("Location");
    answer.body = reply->readAll();
    answer.headers = reply->rawHeaderPairs();
    delete reply;
    return answer;
}

Answer fetch(QNetworkAccessManager& manager, const QString& url) {
    return fetch(manager, QNetworkRequest(QUrl(url)));
}

} // namespace

class TestSampleService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void catalogueListsChannelsAndArticles();
    void archiveRedirectsToPasswordProtectedZip();
    void mediaRouteGivesAllThreeAnswers();
    void sentenceDataIsTimedJson();
    void signedMediaUrlRedirectsToTheMedia();
    void versionCheckSaysNoUpdateOverHttps();
    void offeredUpdateNamesADownloadableInstaller();
    void badSignaturesGet401_data();
    void badSignaturesGet401();
    void signInCookiesSignLaterRequestsAndAreLogged();
    void corsLetsFilePagesCall();

private:
    QString http(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(path); }
    QString https(const QString& path) const {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(httpsPort).arg(path);
    }
    QList<QJsonObject> articles();

    TestSupport::SampleService service;
    int httpPort = 0;
    int httpsPort = 0;
    std::unique_ptr<NetworkAccessManager> signing;
    QNetworkAccessManager plain;
};

void TestSampleService::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QVERIFY2(service.start(), service.output().constData());
    service.exportLocation();
    httpPort = service.httpPort();
    httpsPort = service.httpsPort();
    signing = std::make_unique<NetworkAccessManager>(&plain, nullptr);
}

void TestSampleService::cleanupTestCase() {
    signing.reset();
    service.stop();
}

QList<QJsonObject> TestSampleService::articles() {
    const Answer answer = fetch(*signing, http("/api/catalogue"));
    QList<QJsonObject> out;
    for (const QJsonValue& channel : QJsonDocument::fromJson(answer.body).object().value("channels").toArray()) {
        for (const QJsonValue& article : channel.toObject().value("articles").toArray())
            out << article.toObject();
    }
    return out;
}

void TestSampleService::catalogueListsChannelsAndArticles() {
    // Guards against a catalogue the sample pages cannot show (missing ids, titles or pictures).
    const Answer answer = fetch(*signing, http("/api/catalogue"));
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.contentType.startsWith("application/json"));
    const QJsonArray channels = QJsonDocument::fromJson(answer.body).object().value("channels").toArray();
    QVERIFY(channels.size() >= 1);
    int audio = 0;
    int video = 0;
    for (const QJsonValue& value : channels) {
        const QJsonObject channel = value.toObject();
        QVERIFY(!channel.value("uuid").toString().isEmpty());
        QVERIFY(!channel.value("title").toString().isEmpty());
        QCOMPARE(fetch(plain, channel.value("thumbnail_url").toString()).contentType, QByteArray("image/png"));
        for (const QJsonValue& a : channel.value("articles").toArray()) {
            const QJsonObject article = a.toObject();
            QVERIFY(!article.value("uuid").toString().isEmpty());
            QVERIFY(!article.value("title").toString().isEmpty());
            QVERIFY(article.value("sentences").toInt() >= 4 && article.value("sentences").toInt() <= 8);
            const Answer picture = fetch(plain, article.value("image_url_thumbnail").toString());
            QCOMPARE(picture.status, 200);
            QVERIFY(picture.body.startsWith("\x89PNG"));
            (article.value("media").toString() == "video" ? video : audio)++;
        }
    }
    QVERIFY(audio >= 4);
    QCOMPARE(video, 1);

    // Over HTTPS the signed text carries the HTTPS port.
    const Answer secure = fetch(*signing, QStringLiteral("https://127.0.0.1:%1/api/catalogue").arg(httpsPort));
    QCOMPARE(secure.status, 200);
    QVERIFY(secure.body.contains(QStringLiteral("https://127.0.0.1:%1/pool/").arg(httpsPort).toUtf8()));
}

void TestSampleService::archiveRedirectsToPasswordProtectedZip() {
    // Guards against archives the content store cannot open with its password.
    QTemporaryDir dir;
    for (const QJsonObject& article : articles()) {
        const QString id = article.value("uuid").toString();
        const Answer redirect = fetch(*signing, http("/api/v4/vorb/archive/" + id + "?type=0"));
        QCOMPARE(redirect.status, 302);
        QVERIFY(redirect.location.contains(".zip"));
        const Answer zip = fetch(plain, QString::fromUtf8(redirect.location));
        QCOMPARE(zip.status, 200);
        const QString path = dir.filePath(id + ".zip");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(zip.body);
        file.close();

        QuaZip archive(path);
        QVERIFY(archive.open(QuaZip::mdUnzip));
        QVERIFY(archive.setCurrentFile("index.html"));
        // The reader may open with a wrong password; the data then does not come out.
        QuaZipFile wrong(&archive);
        if (wrong.open(QIODevice::ReadOnly, "not the password"))
            QVERIFY(!wrong.readAll().contains("<html"));
        QuaZipFile entry(&archive);
        QVERIFY(entry.open(QIODevice::ReadOnly, "LEXAstoreJS_@vantol456"));
        const QString html = QString::fromUtf8(entry.readAll());
        entry.close();
        QCOMPARE(entry.getZipError(), 0); // CRC checked on close
        QVERIFY(html.contains(article.value("title").toString().toHtmlEscaped()));
    }
}

void TestSampleService::mediaRouteGivesAllThreeAnswers() {
    // Guards against the client's three media paths (JSON URL, direct content, .mp3 redirect) going untested.
    QSet<QString> kinds;
    for (const QJsonObject& article : articles()) {
        const QString id = article.value("uuid").toString();
        const Answer answer = fetch(*signing, http("/api/v3/media/Mp3/" + id));
        if (answer.status == 302) {
            QVERIFY(answer.location.contains(".mp3"));
            QCOMPARE(fetch(plain, QString::fromUtf8(answer.location)).contentType, QByteArray("audio/mpeg"));
            kinds << "redirect";
        } else if (answer.contentType.contains("application/json")) {
            const QString url = QString::fromUtf8(answer.body).remove('"');
            const Answer media = fetch(plain, url);
            QCOMPARE(media.status, 200);
            QVERIFY(media.contentType.contains("audio") || media.contentType.contains("video"));
            kinds << "json";
        } else {
            QCOMPARE(answer.status, 200);
            QVERIFY(answer.contentType.contains("audio") || answer.contentType.contains("video"));
            QVERIFY(answer.body.size() > 1000);
            kinds << "direct";
        }
    }
    QCOMPARE(kinds, (QSet<QString>{"json", "direct", "redirect"}));
}

void TestSampleService::sentenceDataIsTimedJson() {
    // Guards against sentence data without measured, increasing start times or translations.
    for (const QJsonObject& article : articles()) {
        const Answer answer = fetch(*signing, http("/api/v4/vorb/sentence/" + article.value("uuid").toString()));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.contentType, QByteArray("application/json; charset=utf-8"));
        const QJsonArray sentences = QJsonDocument::fromJson(answer.body).object().value("sentences").toArray();
        QCOMPARE(sentences.size(), article.value("sentences").toInt());
        qint64 previous = -1;
        for (const QJsonValue& value : sentences) {
            const QJsonObject sentence = value.toObject();
            const qint64 start = sentence.value("start").toVariant().toLongLong();
            QVERIFY(previous < 0 ? start == 0 : start > previous + 500);
            previous = start;
            QVERIFY(!sentence.value("text").toString().isEmpty());
            QVERIFY(!sentence.value("chinese").toString().isEmpty());
        }
    }
}

void TestSampleService::signedMediaUrlRedirectsToTheMedia() {
    // Guards against the player's signed URL being refused, or any token being accepted.
    const QString id = articles().first().value("uuid").toString();
    const QString url = signedMediaUrl(id);
    bool redirected = false;
    QString target;
    int calls = 0;
    HttpManager::instance()->resolveRedirect(url, [&](bool ok, const QString& t) {
        redirected = ok;
        target = t;
        ++calls;
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QVERIFY2(redirected, qPrintable(url));
    QVERIFY(target.contains("/files/media/" + id));
    QCOMPARE(fetch(plain, target).status, 200);

    QString forged = url;
    forged.replace("agent=/kendro", "agent=/kandro");
    QCOMPARE(fetch(plain, forged).status, 401);
    QCOMPARE(fetch(plain, url.left(url.indexOf("&token="))).status, 401);
}

void TestSampleService::versionCheckSaysNoUpdateOverHttps() {
    // Guards against the version check failing over TLS with the service's generated certificate.
    int calls = 0;
    bool available = true;
    QString text = "x";
    HttpManager::instance()->checkUpdate([&](bool ok, const QString& t) {
        available = ok;
        text = t;
        ++calls;
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QVERIFY(!available);
    QVERIFY(text.isEmpty());
}

void TestSampleService::offeredUpdateNamesADownloadableInstaller() {
    // Guards against an update answer without the members the update dialog reads, an installer that is not there,
    // or one the program would refuse (not signed with the key it is built with).
    TestSupport::SampleService updating;
    QVERIFY2(updating.start({"--offer-update"}), updating.output().constData());
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(updating.httpsPort()));
    int calls = 0;
    bool available = false;
    QString body;
    HttpManager::instance()->checkUpdate([&](bool ok, const QString& t) {
        available = ok;
        body = t;
        ++calls;
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(httpsPort));
    QVERIFY(available);
    const QJsonObject update = QJsonDocument::fromJson(body.toUtf8()).object();
    for (const char* member : {"version", "publish_date", "info", "url", "sha256", "signature"})
        QVERIFY2(!update.value(member).toString().isEmpty(), member);

    QTemporaryDir dir;
    const QString path = dir.filePath("setup.run");
    int finished = 0;
    bool ok = false;
    HttpManager::instance()->downloadFile(
        update.value("url").toString(), path, [](qint64, qint64) {},
        [&](bool success, const QString&, DownloadCause) {
            ok = success;
            ++finished;
        });
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 10000);
    QVERIFY(ok);
    QFile installer(path);
    QVERIFY(installer.open(QIODevice::ReadOnly));
    QVERIFY(installer.readAll().startsWith("#!"));
    QCOMPARE(InstallerCheck::verify(path, update.value("sha256").toString(), update.value("signature").toString()),
             InstallerCheck::Result::Valid);
}

void TestSampleService::badSignaturesGet401_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("valid") << "valid";
    QTest::newRow("missing") << "missing";
    QTest::newRow("signed for another path") << "other path";
    QTest::newRow("signed without the port") << "no port";
    QTest::newRow("stale stamp") << "stale";
    QTest::newRow("not base64 JSON") << "garbage";
}

void TestSampleService::badSignaturesGet401() {
    // Guards against a service that lets unsigned or wrongly signed API requests through, or refuses good ones.
    QFETCH(QString, kind);
    const QString id = articles().first().value("uuid").toString();
    const QStringList paths{"/api/catalogue", "/api/v4/vorb/archive/" + id + "?type=0", "/api/v3/media/Mp3/" + id,
                            "/api/v4/vorb/sentence/" + id};
    for (const QString& path : paths) {
        QNetworkRequest request(QUrl(http(path)));
        QString signedText = ":" + QString::number(httpPort) + path;
        QString stamp = signatureStamp();
        if (kind == "other path")
            signedText += "x";
        else if (kind == "no port")
            signedText = path;
        else if (kind == "stale")
            stamp = Signing::stampFor(QDateTime::currentSecsSinceEpoch() - 7200);
        const QByteArray json =
            Signing::tokenJson(stamp, "", urlSignature(Signing::saltBytes(), signedText.toUtf8()), "");
        if (kind == "garbage")
            request.setRawHeader("Authorization", "QYN !!!");
        else if (kind != "missing")
            request.setRawHeader("Authorization", Signing::authorization(json));
        const Answer answer = fetch(plain, request);
        if (kind == "valid")
            QVERIFY2(answer.status == 200 || answer.status == 302, qPrintable(path));
        else
            QVERIFY2(answer.status == 401, qPrintable(path + ": " + QString::number(answer.status)));
    }
}

void TestSampleService::signInCookiesSignLaterRequestsAndAreLogged() {
    // Guards against sign-in cookies that never reach the signature of an https request, and a log without the
    // client's headers.
    NetworkAccessManager manager(&plain, nullptr);
    QCOMPARE(fetch(manager, http("/api/signin?name=anna")).status, 200);
    QString token;
    QString userid;
    for (const QNetworkCookie& cookie : manager.cookieJar->allCookies()) {
        if (cookie.name() == "token")
            token = QString::fromUtf8(cookie.value());
        if (cookie.name() == "userid")
            userid = QString::fromUtf8(cookie.value());
    }
    QVERIFY(!token.isEmpty());
    QVERIFY(!userid.isEmpty());
    service.readLog();
    // The token signs requests over https only.
    QCOMPARE(fetch(manager, https("/api/catalogue")).status, 200);

    QByteArray log;
    QTRY_VERIFY((log += service.readLog()).contains("/api/catalogue"));
    const QByteArray line = log.mid(log.indexOf("GET /api/catalogue")).split('\n').first();
    QVERIFY2(line.contains("| User-Agent: " + clientIdentity()), line.constData());
    QVERIFY2(line.contains("| MarloUserAgent: " + clientIdentity()), line.constData());
    const int at = line.indexOf("Authorization: QYN ") + 19;
    const QByteArray json = QByteArray::fromBase64(line.mid(at, line.indexOf(' ', at) - at));
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    QCOMPARE(object.value("token").toString(), token);
    QCOMPARE(object.value("userid").toString(), userid);
}

void TestSampleService::corsLetsFilePagesCall() {
    // Guards against the file:// pages being blocked by the engine's cross-origin checks.
    QNetworkRequest preflight(QUrl(http("/api/catalogue")));
    preflight.setRawHeader("Origin", "null");
    preflight.setRawHeader("Access-Control-Request-Method", "GET");
    preflight.setRawHeader("Access-Control-Request-Headers", "authorization");
    const Answer options = fetch(plain, preflight, "OPTIONS");
    QVERIFY(options.status == 200 || options.status == 204);
    QCOMPARE(options.header("Access-Control-Allow-Origin"), QByteArray("null"));
    QVERIFY(options.header("Access-Control-Allow-Headers").toLower().contains("authorization"));

    QNetworkRequest get(QUrl(http("/api/catalogue")));
    get.setRawHeader("Origin", "null");
    const Answer answer = fetch(*signing, get);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.header("Access-Control-Allow-Origin"), QByteArray("null"));
    QCOMPARE(answer.header("Access-Control-Allow-Credentials"), QByteArray("true"));
}

QTEST_MAIN(TestSampleService)
#include "tst_sampleservice.moc"
