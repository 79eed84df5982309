// The signing network manager: headers on every request, cookies, take-over of the old manager, installation on the
// pages.
#include "app/mainwindow.h"
#include "app/webview.h"
#include "core/net/networkaccessmanager.h"
#include "core/signing.h"
#include "support/fakeservice.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QMessageAuthenticationCode>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
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
    void localFileLoadIsSignedToo();
    void takesOverProxyAndCache();
    void jarsAreSeparatePerManager();
    void pagesOfMainAndDataWindowsSign();
};

void TestNetworkAccessManager::initTestCase() {
    TestSupport::useCleanDataDirectory();
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
    FakeService service;
    FakeService::Reply signin;
    signin.headers = {{"Set-Cookie", "token=t0k3n; Path=/"}, {"Set-Cookie", "userid=4711; Path=/"}};
    signin.body = "{}";
    service.setReply("/api/signin", signin);
    service.setReply("/api/catalogue", FakeService::Reply());

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

void TestNetworkAccessManager::localFileLoadIsSignedToo() {
    // Guards against a scheme test that leaves the page's own file loads unsigned.
    QTemporaryDir dir;
    QFile file(dir.filePath("page.html"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html><body>local</body></html>");
    file.close();

    QWebView view;
    auto* manager = new NetworkAccessManager(view.page()->networkAccessManager(), view.page());
    view.page()->setNetworkAccessManager(manager);
    QList<QNetworkRequest> sent;
    connect(manager, &QNetworkAccessManager::finished, this,
            [&sent](QNetworkReply* reply) { sent << reply->request(); });
    const QUrl url = QUrl::fromLocalFile(file.fileName());
    QVERIFY(TestSupport::loadAndWait(&view, url));
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent.first().url(), url);
    QCOMPARE(sent.first().rawHeader("Authorization"), expectedAuthorization(file.fileName(), "", ""));
    QCOMPARE(sent.first().rawHeader("MarloUserAgent"), identity);
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

    FakeService service;
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
