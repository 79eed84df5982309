// The signing network manager: headers on every request, cookies, take-over of the old manager, installation on the
// pages.
#include "app/mainwindow.h"
#include "app/webview.h"
#include "core/net/networkaccessmanager.h"
#include "core/settings.h"
#include "core/signing.h"
#include "support/fakeservice.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QMessageAuthenticationCode>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

using TestSupport::FakeService;

namespace {

const QByteArray identity = "/kendro_vorb_de_desktop/3.3.1/127.0.0.1/";
const QByteArray stamp = "MTcyNzM0MDUxOQ=="; // 1700000000 + offset

// What the service expects in Authorization for a signed text, computed independently of the code under test.
QByteArray expectedAuthorization(const QString& signedText, const QByteArray& token, const QByteArray& userid) {
    const QByteArray sign =
        QMessageAuthenticationCode::hash(signedText.toUtf8(), "%7Kbmqx4Tde81r", QCryptographicHash::Sha1).toBase64();
    const QByteArray json = "{\"t\":\"" + stamp + "\",\"token\":\"" + token + "\",\"urlsign\":\"" + sign +
                            "\",\"userid\":\"" + userid + "\"}";
    return "QYN " + json.toBase64();
}

} // namespace

class TestNetworkAccessManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pageRequestsCarrySignatureAndIdentity_data();
    void pageRequestsCarrySignatureAndIdentity();
    void cookieFromOneResponseSignsTheNext();
    void onlyTheServiceIsSigned_data();
    void onlyTheServiceIsSigned();
    void pagesReadOnlyTheirOwnFolders_data();
    void pagesReadOnlyTheirOwnFolders();
    void takesOverProxyAndCache();
    void jarsAreSeparatePerManager();
    void pagesOfMainAndDataWindowsSign();
};

void TestNetworkAccessManager::initTestCase() {
    TestSupport::useCleanDataDirectory();
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    Signing::setAddressSource([] { return QList<QHostAddress>{QHostAddress("127.0.0.1")}; });
    Signing::setClock([] { return qint64(1700000000); });
}

void TestNetworkAccessManager::cleanupTestCase() {
    Signing::setAddressSource(nullptr);
    Signing::setClock(nullptr);
}

void TestNetworkAccessManager::pageRequestsCarrySignatureAndIdentity_data() {
    QTest::addColumn<QString>("path");       // as the page asks for it
    QTest::addColumn<QString>("signedPath"); // after the port, as the service must rebuild it
    QTest::newRow("plain API path") << "/api/v4/vorb/sentence/abc"
                                    << "/api/v4/vorb/sentence/abc";
    QTest::newRow("query") << "/api/v4/vorb/archive/abc?type=0"
                           << "/api/v4/vorb/archive/abc?type=0";
    QTest::newRow("encoded query is signed decoded") << "/api/x?q=%C3%A4%20b"
                                                     << "/api/x?q=ä b";
}

void TestNetworkAccessManager::pageRequestsCarrySignatureAndIdentity() {
    // Guards against unsigned page loads, signing the wire form, or dropping the port from the signed text.
    QFETCH(QString, path);
    QFETCH(QString, signedPath);
    FakeService service;
    FakeService::Reply page;
    page.contentType = "text/html";
    page.body = "<html><body>signed</body></html>";
    service.setHandler([page](const FakeService::Request&) { return page; });
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service.port()));

    QWebView view;
    view.page()->setNetworkAccessManager(new NetworkAccessManager(view.page()->networkAccessManager(), view.page()));
    QVERIFY(TestSupport::loadAndWait(&view, QUrl(service.url(path))));

    const FakeService::Request request = service.requests().first();
    QCOMPARE(request.header("Authorization"),
             expectedAuthorization(":" + QString::number(service.port()) + signedPath, "", ""));
    QCOMPARE(request.header("User-Agent"), identity);
    QCOMPARE(request.header("MarloUserAgent"), identity);
}

void TestNetworkAccessManager::cookieFromOneResponseSignsTheNext() {
    // Guards against cookies read once and cached, or the jar not seeing the pages' responses.
    FakeService service(FakeService::Tls::Trusted);
    FakeService::Reply signin;
    signin.headers = {{"Set-Cookie", "token=t0k3n; Path=/"}, {"Set-Cookie", "userid=4711; Path=/"}};
    signin.body = "{}";
    service.setReply("/api/signin", signin);
    service.setReply("/api/catalogue", FakeService::Reply());
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.port()));

    QNetworkAccessManager old;
    NetworkAccessManager manager(&old, nullptr);
    for (const char* path : {"/api/signin", "/api/catalogue"}) {
        QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(service.url(path))));
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10000));
        delete reply;
    }
    const QString port = ":" + QString::number(service.port());
    QCOMPARE(service.requestsFor("/api/signin").first().header("Authorization"),
             expectedAuthorization(port + "/api/signin", "", ""));
    QCOMPARE(service.requestsFor("/api/catalogue").first().header("Authorization"),
             expectedAuthorization(port + "/api/catalogue", "t0k3n", "4711"));
    QCOMPARE(manager.cookieJar->allCookies().size(), 2);
}

void TestNetworkAccessManager::onlyTheServiceIsSigned_data() {
    QTest::addColumn<QString>("target"); // which server is asked
    QTest::addColumn<bool>("followRedirects");
    QTest::addColumn<bool>("signedThere");
    QTest::newRow("service over http: signed without the token") << "http" << false << true;
    QTest::newRow("service over https") << "https" << false << true;
    QTest::newRow("another port of the same host") << "other" << false << false;
    QTest::newRow("the same port under another name") << "localhost" << false << false;
    QTest::newRow("the service redirecting to another port") << "redirect" << false << false;
    QTest::newRow("the same, with redirects followed by the network layer") << "redirect" << true << false;
}

void TestNetworkAccessManager::onlyTheServiceIsSigned() {
    // Guards against the session token going to any host but the configured service (thumbnails, media URLs the
    // service names, redirect targets, other pages) and against it travelling in clear text, in the Authorization
    // header or as a cookie, to the service's own plain http port.
    QFETCH(QString, target);
    QFETCH(bool, followRedirects);
    QFETCH(bool, signedThere);
    FakeService http;
    FakeService https(FakeService::Tls::Trusted);
    FakeService other;
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(http.port()));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(https.port()));
    FakeService::Reply moved;
    moved.status = 302;
    moved.location = other.url("/files/a1.mp3").toUtf8();
    http.setReply("/api/v3/media/Mp3/a1", moved);
    for (FakeService* service : {&http, &https, &other})
        service->setReply("/files/a1.mp3", FakeService::Reply());

    NetworkAccessManager manager(nullptr, nullptr);
    manager.cookieJar->setCookiesFromUrl({QNetworkCookie("token", "t0k3n"), QNetworkCookie("userid", "4711")},
                                         QUrl(http.url("/")));
    const QMap<QString, QString> urls{
        {"http", http.url("/files/a1.mp3")},
        {"https", https.url("/files/a1.mp3")},
        {"other", other.url("/files/a1.mp3")},
        {"localhost", "http://localhost:" + QString::number(http.port()) + "/files/a1.mp3"},
        {"redirect", http.url("/api/v3/media/Mp3/a1")}};
    QNetworkRequest request{QUrl(urls.value(target))};
    if (target == "http" || target == "redirect")
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Sent http://.* without the session token"));
    if (followRedirects)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(10000));
    if (target == "redirect" && !followRedirects) {
        // What the downloads and the web engine do with a redirect: a request of its own.
        delete reply;
        reply = manager.get(QNetworkRequest(QUrl(other.url("/files/a1.mp3"))));
        QSignalSpy followed(reply, &QNetworkReply::finished);
        QVERIFY(followed.wait(10000));
    }
    delete reply;

    QList<FakeService::Request> seen = (target == "https"                           ? https
                                        : target == "other" || target == "redirect" ? other
                                                                                    : http)
                                           .requestsFor("/files/a1.mp3");
    if (target == "redirect" && followRedirects) {
        // Either not followed at all, or followed without the token.
        QVERIFY(seen.isEmpty() || seen.first().header("Authorization").isEmpty());
        return;
    }
    QCOMPARE(seen.size(), 1);
    QCOMPARE(!seen.first().header("Authorization").isEmpty(), signedThere);
    QCOMPARE(seen.first().header("MarloUserAgent") == identity, signedThere);
    const QByteArray token = target == "https" ? "t0k3n" : "";
    if (signedThere)
        QVERIFY(QByteArray::fromBase64(seen.first().header("Authorization").mid(4))
                    .contains("\"token\":\"" + token + "\""));
    QCOMPARE(seen.first().header("Cookie").contains("token=t0k3n"), target == "https");
}

void TestNetworkAccessManager::pagesReadOnlyTheirOwnFolders_data() {
    QTest::addColumn<QString>("file"); // "<app>" and "<data>" stand for the two folders
    QTest::addColumn<bool>("readable");
    QTest::newRow("a system file") << "/etc/hostname" << false;
    QTest::newRow("a page file") << "<app>/testdata/pages/recorder.html" << true;
    QTest::newRow("a stored picture") << "<data>ab/cd.png" << true;
    QTest::newRow("the settings file") << "<data>settings.ini" << false;
    QTest::newRow("out of the folder with ..") << "<app>/testdata/../../../../../../../../etc/hostname" << false;
    QTest::newRow("a link leading out") << "<app>/testdata/link-to-hostname" << false;
    QTest::newRow("a sibling folder sharing the application folder's name") << "<app>-old/notes.txt" << false;
}

void TestNetworkAccessManager::pagesReadOnlyTheirOwnFolders() {
    // Guards against script in a page reading the user's files (and sending them anywhere), in the signing views and
    // in the plain ones (pop-ups, the paragraph page).
    QFETCH(QString, file);
    QFETCH(bool, readable);
    const QUrl page = TestSupport::appPageUrl("pages/recorder.html");
    const QString app = QCoreApplication::applicationDirPath();
    QFile::remove(app + "/testdata/link-to-hostname");
    QVERIFY(QFile::link("/etc/hostname", app + "/testdata/link-to-hostname"));
    QDir().mkpath(dataDirectory() + "ab");
    QFile picture(dataDirectory() + "ab/cd.png");
    QVERIFY(picture.open(QIODevice::WriteOnly));
    picture.write(TestSupport::pngBytes(2, 2, Qt::red));
    picture.close();
    // The tests' data folder lies inside the application folder, so only the
    // application folder's sibling can tell whether the rule ends at the name.
    QDir sibling(app + "-old");
    QVERIFY(sibling.mkpath("."));
    QFile notes(sibling.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("Notizen");
    notes.close();
    auto removeSibling = qScopeGuard([&sibling] { sibling.removeRecursively(); });
    ReadingSettings::load(); // writes settings.ini
    QVERIFY(QFile::exists(Settings::settingsFilePath()));
    const QString path = QString(file).replace("<app>", app).replace("<data>", dataDirectory());
    QVERIFY(QFileInfo(path).size() > 0);

    for (bool signing : {true, false}) {
        QWebView view;
        view.page()->setNetworkAccessManager(signing ? static_cast<QNetworkAccessManager*>(new NetworkAccessManager(
                                                           view.page()->networkAccessManager(), view.page()))
                                                     : new PageNetworkManager(view.page()));
        QVERIFY(TestSupport::loadAndWait(&view, page));
        const QString script = "(function(){try{var x=new XMLHttpRequest();x.open('GET','%1',false);x.send(null);"
                               "return 'read '+x.responseText.length;}catch(e){return 'failed';}})()";
        const QString result =
            view.page()->mainFrame()->evaluateJavaScript(script.arg(QUrl::fromLocalFile(path).toString())).toString();
        // Refused, the request ends as an empty answer or an error, never with the file's text.
        QVERIFY2((result.startsWith("read ") && result != "read 0") == readable, qPrintable(result));
    }
}

void TestNetworkAccessManager::takesOverProxyAndCache() {
    // Guards against the page losing its proxy (a factory set after it clears it) or its cache.
    QTemporaryDir dir;
    QNetworkAccessManager old;
    const QNetworkProxy proxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, "me", "pw");
    old.setProxy(proxy);
    auto* cache = new QNetworkDiskCache;
    cache->setCacheDirectory(dir.path());
    old.setCache(cache);
    NetworkAccessManager manager(&old, nullptr);
    QCOMPARE(manager.proxy(), proxy);
    QCOMPARE(manager.cache(), static_cast<QAbstractNetworkCache*>(cache));
    QCOMPARE(manager.QNetworkAccessManager::cookieJar(), static_cast<QNetworkCookieJar*>(manager.cookieJar));
}

void TestNetworkAccessManager::jarsAreSeparatePerManager() {
    // Guards against the main and offline-data pages sharing one session.
    NetworkAccessManager first(nullptr, nullptr);
    NetworkAccessManager second(nullptr, nullptr);
    const QUrl url("http://127.0.0.1/");
    first.cookieJar->setCookiesFromUrl({QNetworkCookie("token", "a")}, url);
    QCOMPARE(first.cookieJar->allCookies().size(), 1);
    QVERIFY(second.cookieJar->allCookies().isEmpty());
}

void TestNetworkAccessManager::pagesOfMainAndDataWindowsSign() {
    // Guards against the main or offline-data page keeping the engine's unsigned manager.
    MainWindow window(nullptr);
    auto* mainManager = qobject_cast<NetworkAccessManager*>(window.view()->page()->networkAccessManager());
    QVERIFY(mainManager);
    NetworkAccessManager* dataManager = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QLatin1String("dataDialog")) {
            const auto views = top->findChildren<QWebView*>();
            QCOMPARE(views.size(), 1);
            dataManager = qobject_cast<NetworkAccessManager*>(views.first()->page()->networkAccessManager());
        }
    }
    QVERIFY(dataManager);
    QVERIFY(dataManager != mainManager);
    QVERIFY(dataManager->cookieJar != mainManager->cookieJar);

    // A page of the service over https: the main view may show it, and its requests are signed.
    FakeService service(FakeService::Tls::Trusted);
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.port()));
    FakeService::Reply page;
    page.contentType = "text/html";
    page.body = "<html><body>main</body></html>";
    service.setReply("/static/page.html", page);
    // The window's own start page may still be loading; only the request matters here.
    window.view()->load(QUrl(service.url("/static/page.html")));
    QTRY_VERIFY_WITH_TIMEOUT(!service.requestsFor("/static/page.html").isEmpty(), 10000);
    QCOMPARE(service.requestsFor("/static/page.html").first().header("Authorization"),
             expectedAuthorization(":" + QString::number(service.port()) + "/static/page.html", "", ""));
}

QTEST_MAIN(TestNetworkAccessManager)
#include "tst_networkaccessmanager.moc"
