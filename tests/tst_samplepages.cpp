// The sample pages, loaded in real web views: with the real main window and
// bridge (start-up synchronisation, settings, catalogue, stored data, page
// changes) and with a recording bridge that stands in for the slots the pages
// call during practice and downloads.

#include "app/mainwindow.h"
#include "app/setdialog.h"
#include "app/webview.h"
#include "bridge/pagescript.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/net/networkaccessmanager.h"
#include "core/settings.h"
#include "support/fakeservice.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QWebView>
#include <QtTest>

#include <memory>

using PageScript::Page;

namespace {

// Accepts TLS connections with the test certificate, as the service's https port does.
class TlsServer : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const QString data = QFileInfo(TestSupport::FakeService::caFile()).path();
        socket->setLocalCertificate(QSslCertificate::fromPath(data + "/test-server-cert.pem").value(0));
        QFile key(data + "/test-server-key.pem");
        key.open(QIODevice::ReadOnly);
        socket->setPrivateKey(QSslKey(&key, QSsl::Rsa));
        socket->setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificate, whatever the default says
        addPendingConnection(socket);
        socket->startServerEncryption();
    }
};

// A tiny HTTPS server for the catalogue and sentence data.
class JsonService : public QObject {
    Q_OBJECT

public:
    JsonService() {
        connect(&server, &QTcpServer::newConnection, this, &JsonService::accept);
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
    QHash<QString, QByteArray> routes;
    QHash<QString, QByteArray> redirects; // path -> location
    QHash<QString, QByteArray> cookies;   // path -> Set-Cookie value
    QStringList requests;
    QList<QByteArray> heads; // of every request, headers included

private slots:
    void accept() {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray head = socket->peek(8192);
                if (!head.contains("\r\n\r\n"))
                    return;
                socket->readAll();
                const QString path = QString::fromLatin1(head.split(' ').value(1));
                requests << path;
                heads << head.left(head.indexOf("\r\n\r\n"));
                if (redirects.contains(path)) {
                    socket->write("HTTP/1.1 302 Found\r\nLocation: " + redirects.value(path) + "\r\n" + cors(head) +
                                  "Content-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                    return;
                }
                const bool found = routes.contains(path);
                const QByteArray body = routes.value(path, "{}");
                const QByteArray type = path.startsWith("/files/") ? "audio/mpeg" : "application/json; charset=utf-8";
                const QByteArray cookie =
                    cookies.contains(path) ? "Set-Cookie: " + cookies.value(path) + "\r\n" : QByteArray();
                socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                              QByteArray("Content-Type: ") + type + "\r\n" + cors(head) + cookie +
                              "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                              (head.startsWith("HEAD") ? "" : body));
                socket->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

private:
    // Like the sample service: the page's origin is echoed so that requests with credentials pass.
    static QByteArray cors(const QByteArray& head) {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("origin:"))
                return "Access-Control-Allow-Origin: " + line.mid(7).trimmed() +
                       "\r\nAccess-Control-Allow-Credentials: true\r\n";
        }
        return "Access-Control-Allow-Origin: *\r\n";
    }
    TlsServer server;
};

// Stands in for the bridge and records every call as "name(arg, arg)".
class RecordingBridge : public QObject {
    Q_OBJECT

public:
    explicit RecordingBridge(QWebView* view, const QString& name) : QObject(view), frame(view->page()->mainFrame()) {
        auto publish = [this, name] { frame->addToJavaScriptWindowObject(name, this); };
        connect(frame, &QWebFrame::javaScriptWindowObjectCleared, this, publish);
    }
    QStringList calls;
    QHash<QString, QString> files; // "id/type" -> content for getFileContent
    QString zipDir;

    int count(const QString& call) const { return calls.count(call); }
    QStringList matching(const QString& prefix) const {
        QStringList out;
        for (const QString& c : calls) {
            if (c.startsWith(prefix))
                out << c;
        }
        return out;
    }

public slots:
    void openBrowser(const QString& url) { rec("openBrowser", {url}); }
    void setSetDialog() { rec("setSetDialog", {}); }
    void pageLoaded(const QString& frameName) { rec("pageLoaded", {frameName}); }
    void setHtmlPage(const QString& html, const QString& title) {
        rec("setHtmlPage", {QString::number(html.size() > 0), title});
    }
    void setParagaraph(const QString& type, const QString& text) { rec("setParagaraph", {type, text}); }
    void setPrintAble(bool able) { rec("setPrintAble", {able ? "true" : "false"}); }
    void setDownloadingList(const QString& list) { rec("setDownloadingList", {list}); }
    void downloadArticle(const QString& data) { rec("downloadArticle", {data}); }
    void downloadChannel(const QString& data) { rec("downloadChannel", {data}); }
    void setDownloadChannel(const QString& data) { rec("setDownloadChannel", {data}); }
    void setDownloadArticle(const QString& data, const QString& state) { rec("setDownloadArticle", {data, state}); }
    void deleteArticleData(const QString& id, const QString& channel) { rec("deleteArticleData", {id, channel}); }
    void deleteChannelData(const QString& id) { rec("deleteChannelData", {id}); }
    void setDeleteArticleId(const QString& id) { rec("setDeleteArticleId", {id}); }
    void historyLoaded() { rec("historyLoaded", {}); }
    void delDownloadArticleId(const QString& id) { rec("delDownloadArticleId", {id}); }
    void getDataFinished(const QString& type) { rec("getDataFinished", {type}); }
    void gotoLocal(const QString& channel, const QString& id) { rec("gotoLocal", {channel, id}); }
    void saveData(const QString& key, const QString& value) { rec("saveData", {key, value}); }
    QString getFileContent(const QString& id, const QString& type) {
        rec("getFileContent", {id, type});
        return files.value(id + QLatin1Char('/') + type, QStringLiteral("error"));
    }
    void gotoOnline() { rec("gotoOnline", {}); }
    void getZipDir() {
        rec("getZipDir", {});
        PageFrames().run(frame, QStringLiteral("setZipDir('%1');"), {zipDir});
    }
    void initPlay(const QString& src, const QString& type, const QList<int>& starts, const QString& mediaType) {
        QStringList times;
        for (int t : starts)
            times << QString::number(t);
        rec("initPlay", {src, type, QLatin1Char('[') + times.join(QLatin1Char(' ')) + QLatin1Char(']'), mediaType});
    }
    void setFmId(const QString& id) { rec("setFmId", {id}); }
    void setState(const QString& name, const QString& state) { rec("setState", {name, state}); }
    void cancelPlay() { rec("cancelPlay", {}); }
    void play(qint64 position) { rec("play", {QString::number(position)}); }
    void pause() { rec("pause", {}); }
    void setClickState(const QString& state) { rec("setClickState", {state}); }
    void setVolume(int volume) { rec("setVolume", {QString::number(volume)}); }
    void loadPosition(int position) { rec("loadPosition", {QString::number(position)}); }
    void setDictationIndex(int index) { rec("setDictationIndex", {QString::number(index)}); }
    void setFillwordIndex(int index) { rec("setFillwordIndex", {QString::number(index)}); }
    void fillwordSuccessAction() { rec("fillwordSuccessAction", {}); }
    void setPlayIndex(int index) { rec("setPlayIndex", {QString::number(index)}); }
    void setSpeed(double speed) { rec("setSpeed", {QString::number(speed)}); }
    void setTranslationState(const QString& state) { rec("setTranslationState", {state}); }
    void setDesktopState(const QString& state) { rec("setDesktopState", {state}); }
    void setVideoFullscreen(const QString& state) { rec("setVideoFullscreen", {state}); }
    void paraSetState(const QString& type, const QString& state) { rec("paraSetState", {type, state}); }
    void setHideDisplayTipIndex(const QString& index) { rec("setHideDisplayTipIndex", {index}); }
    void setDragState(const QString& state) { rec("setDragState", {state}); }
    void paragraphFillwordSuccess() { rec("paragraphFillwordSuccess", {}); }

private:
    void rec(const char* name, const QStringList& args) {
        calls << QString::fromLatin1(name) + QLatin1Char('(') + args.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    QWebFrame* frame;
};

QVariant js(QWebFrame* frame, const QString& script) {
    return PageFrames().evaluate(frame, script);
}

QVariant js(QWebView* view, const QString& script) {
    return js(view->page()->mainFrame(), script);
}

QString pageUrl(const QString& path) {
    return AppInfo::pageUrl(path);
}

QByteArray sentenceJson() {
    return QStringLiteral("{\"sentences\":[{\"start\":0,\"text\":\"Es ist sieben Uhr.\",\"chinese\":\"七点了。\"},"
                          "{\"start\":2500,\"text\":\"Er sagt: \\\"Geht's?\\\"\",\"chinese\":\"他说：“还好吗？”\"},"
                          "{\"start\":5200,\"text\":\"Die Bäckerei hat geöffnet.\",\"chinese\":\"面包店开门了。\"}]}")
        .toUtf8();
}

} // namespace

class TestSamplePages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startupSynchronisesThenCopiesDownloadState();
    void readingSettingsAreApplied_data();
    void readingSettingsAreApplied();
    void catalogueFromService();
    void preferencesAndWebsite();
    void signInKeepsUserInfo();
    void offlineDataSurvivesReload();
    void sharedKeysKeepTheirText_data();
    void sharedKeysKeepTheirText();
    void localPageAndBack();
    void paragraphPageDecodesQuotes();

    void paragraphButtonsAndDrag();
    void downloadListsCrossPages();
    void onlinePracticeCallsBridge();
    void dictationAndFillword();
    void dictationWordAlignment_data();
    void dictationWordAlignment();
    void articleEndFollowsRepeat_data();
    void articleEndFollowsRepeat();
    void practiceObjectsToleratePrematureCalls();
    void localPagePlaysStoredMedia();
    void hostileLocalArticleRunsNothing();
    void serviceUnreachable();
    void removingAnOwnFileAsksFirstAndRowsStayPut();

private:
    std::unique_ptr<JsonService> service;
    std::unique_ptr<TestSupport::ScriptRecorder> recorder;
    MainWindow* window = nullptr;
    const PageFrames& pages() const { return window->context().pages; }
    QWebFrame* mainFrame() const { return pages().frame(Page::Main); }
    std::unique_ptr<QWebView> openWithBridge(const QString& url, const QString& name, RecordingBridge** bridge);
};

void TestSamplePages::initTestCase() {
    TestSupport::useCleanDataDirectory();
    service = std::make_unique<JsonService>();
    QVERIFY(service->port() != 0);
    // The fake is the service, on its https port only: the pages must reach it there.
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", "1");
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service->port()));
    qputenv("TAVROLIN_SERVICE_CA", TestSupport::FakeService::caFile().toUtf8());
    service->routes.insert(
        QStringLiteral("/api/catalogue"),
        "{\"channels\":[{\"uuid\":\"c1\",\"title\":\"Alltag\",\"thumbnail_url\":\"\",\"articles\":["
        "{\"uuid\":\"a1\",\"title\":\"Ein Morgen\",\"image_url_thumbnail\":\"\",\"media\":\"audio\",\"sentences\":3,"
        "\"media_url\":\"/media/a1.mp3\"},"
        "{\"uuid\":\"a2\",\"title\":\"Bahnfahrt\",\"image_url_thumbnail\":\"\",\"media\":\"video\",\"sentences\":3},"
        "{\"uuid\":\"a3\",\"title\":\"Umgeleitet\",\"image_url_thumbnail\":\"\",\"media\":\"audio\"},"
        "{\"uuid\":\"a4\",\"title\":\"Ohne Adresse\",\"image_url_thumbnail\":\"\",\"media\":\"audio\"}]}]}");
    // The service names a2's media file in a JSON text; a3's media answer tells nothing.
    service->routes.insert(QStringLiteral("/api/v3/media/Mp3/a2"), "\"/files/a2.mp4\"");
    service->redirects.insert(QStringLiteral("/api/v3/media/Mp3/a3"), "/files/a3.mp3");
    service->routes.insert(QStringLiteral("/files/a3.mp3"), "ID3");
    service->routes.insert(QStringLiteral("/api/v4/vorb/sentence/a1"), sentenceJson());
    service->routes.insert(QStringLiteral("/api/v4/vorb/sentence/a2"), sentenceJson());
    QVERIFY(TestSupport::installPages(1, service->port()));

    recorder = std::make_unique<TestSupport::ScriptRecorder>();
    window = new MainWindow(nullptr);
    // The index page reports itself twice; the second copies the download state.
    QTRY_VERIFY_WITH_TIMEOUT(recorder->snippets(Page::Main).join('\n').contains("setData('downloadState'"), 15000);
}

void TestSamplePages::cleanupTestCase() {
    delete window;
    recorder.reset();
}

std::unique_ptr<QWebView> TestSamplePages::openWithBridge(const QString& url, const QString& name,
                                                          RecordingBridge** bridge) {
    auto view = std::make_unique<QWebView>();
    *bridge = new RecordingBridge(view.get(), name);
    view->resize(1000, 800);
    view->show();
    if (!TestSupport::loadAndWait(view.get(), QUrl(url, QUrl::TolerantMode)))
        return nullptr;
    return view;
}

// Guards against the index page skipping the full synchronisation, calling it twice, or
// reporting "index" first (which would leave settings and lists unsent).
void TestSamplePages::startupSynchronisesThenCopiesDownloadState() {
    const QStringList data = recorder->snippets(Page::Data);
    QCOMPARE(data.count("ListenDb.getDownloadData();"), 1);
    QCOMPARE(data.count("ListenDb.getArticleData();"), 1);
    QVERIFY(data.indexOf("ListenDb.getArticleData();") < data.indexOf("getData('downloadState');"));
    // The offline-data page relays its (empty) lists to the main page while it synchronises.
    QStringList main = recorder->snippets(Page::Main);
    QCOMPARE(main.filter("downloadData.").size(), 2);
    QVERIFY(main.contains("if(window.downloadData){downloadData.getDataFinished('channelData');}"));
    QVERIFY(main.contains("if(window.downloadData){downloadData.getDataFinished('articleData');}"));
    main = main.filter(QRegularExpression("^(?!if\\(window\\.downloadData\\))"));
    QVERIFY(main.contains("setSet('Medium', 'Normal', 'on', 'close', 'highlight', 'Arial', 'justify');"));
    QCOMPARE(main.mid(main.size() - 4), QStringList({"setData('volume', '0');", "setData('userInfo', '');",
                                                     "setData('repeatState', '');", "setData('downloadState', '');"}));
    QCOMPARE(js(mainFrame(), "getData('volume')").toString(), QString("0"));
    // The paragraph page reports itself too; the shell answers with the language.
    QTRY_VERIFY(recorder->snippets(Page::Paragraph).contains("paragraph.setLang('de');"));
}

void TestSamplePages::readingSettingsAreApplied_data() {
    QTest::addColumn<QStringList>("settings"); // fontLevel theme textAlign fontFamily explain tip translation
    QTest::addColumn<QString>("fontSize");
    QTest::addColumn<QString>("bodyClass");
    QTest::addColumn<QString>("chip");
    QTest::newRow("defaults") << QStringList{"Medium", "Normal", "justify", "Arial", "close", "highlight", "on"}
                              << "15px"
                              << "theme-Normal"
                              << "Schrift: mittel";
    QTest::newRow("night large tap") << QStringList{"Large",  "Night",   "left", "DejaVu Serif",
                                                    "middle", "explain", "tap"}
                                     << "17px"
                                     << "theme-Night translation-tap"
                                     << "Übersetzung: antippen";
    QTest::newRow("largest parchment off")
        << QStringList{"Largest", "Parchment", "justify", "DejaVu Sans", "senior", "highlight", "off"} << "22px"
        << "theme-Parchment translation-off explain-highlight"
        << "Worterklärung: Fortgeschritten";
}

// Guards against settings that are shown but not applied, or applied in the wrong argument order.
void TestSamplePages::readingSettingsAreApplied() {
    QFETCH(QStringList, settings);
    QFETCH(QString, fontSize);
    QFETCH(QString, bodyClass);
    QFETCH(QString, chip);
    window->bridge()->pushReadingSettings(
        {settings[0], settings[1], settings[2], settings[3], settings[4], settings[5], settings[6], "3"});
    QCOMPARE(js(mainFrame(), "document.body.style.fontSize").toString(), fontSize);
    const QString classes = js(mainFrame(), "document.body.className").toString();
    for (const QString& c : bodyClass.split(' '))
        QVERIFY2(classes.split(' ').contains(c), qPrintable(classes));
    QVERIFY(js(mainFrame(), "document.body.style.fontFamily").toString().contains(settings[3]));
    QVERIFY(js(mainFrame(), "document.getElementById('readingStyle').textContent").toString().contains(settings[2]));
    QVERIFY(js(mainFrame(), "document.getElementById('settingsChips').textContent").toString().contains(chip));
    const QString bg = js(mainFrame(), "getComputedStyle(document.body).backgroundColor").toString();
    QVERIFY(!bg.isEmpty());
}

// Guards against a catalogue that is fetched but not shown (or shown without its actions).
void TestSamplePages::catalogueFromService() {
    QTRY_COMPARE(js(mainFrame(), "document.querySelectorAll('.article-card').length").toInt(), 4);
    QCOMPARE(js(mainFrame(), "document.querySelector('.channel h2').textContent").toString(), QString("Alltag"));
    QVERIFY(js(mainFrame(), "document.getElementById('catalogueNote').className").toString().contains("hidden"));
    QCOMPARE(js(mainFrame(), "document.querySelector('.article-card[data-id=\"a2\"] .badge').textContent").toString(),
             QString("▶ Video"));
}

namespace {
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};
} // namespace

// Guards against dead Preferences/Website buttons in the real main window.
void TestSamplePages::preferencesAndWebsite() {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    js(mainFrame(), "document.getElementById('prefsBtn').click()");
    QTRY_VERIFY(window->preferencesDialog()->isVisible());
    window->preferencesDialog()->hide();
    js(mainFrame(), "document.getElementById('websiteBtn').click()");
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first().toString(), QString("https://127.0.0.1:%1/").arg(service->port()));
}

// Guards against a sign-in whose user information never reaches the shared store, and against the pages asking the
// service over plain http, where the shell must send their requests without the session token.
void TestSamplePages::signInKeepsUserInfo() {
    service->routes.insert(QStringLiteral("/api/signin?name=J%C3%B6rg"),
                           QStringLiteral("{\"userid\":\"1234\",\"token\":\"t0k3n\",\"name\":\"Jörg\"}").toUtf8());
    service->cookies.insert(QStringLiteral("/api/signin?name=J%C3%B6rg"), "token=t0k3n; Path=/");
    static QStringList withheld;
    withheld.clear();
    static QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (message.contains("without the session token"))
                withheld << message;
            previous(type, context, message);
        });
    struct Restore {
        ~Restore() { qInstallMessageHandler(previous); }
    } restore;
    js(mainFrame(), "document.getElementById('userName').value = 'Jörg';"
                    "document.getElementById('signInBtn').click();");
    const QString expected = QStringLiteral("{\"name\":\"Jörg\",\"userid\":\"1234\"}");
    QTRY_COMPARE(pages().evaluate(Page::Data, "getData('userInfo');").toString(), expected);
    QVERIFY(js(mainFrame(), "document.getElementById('greeting').textContent").toString().contains("Jörg"));
    // Signed in, the page's next request to the service carries the token.
    const int before = service->heads.size();
    js(mainFrame(), "Tav.getJson(Tav.serviceUrl('/api/catalogue'), function () {});");
    QTRY_COMPARE(service->heads.size(), before + 1);
    const QByteArray head = service->heads.last();
    QVERIFY2(head.startsWith("GET /api/catalogue "), head.constData());
    const int at = head.indexOf("Authorization: QYN ");
    QVERIFY2(at >= 0, head.constData());
    const QByteArray token = head.mid(at + 19, head.indexOf('\r', at) - at - 19);
    QCOMPARE(QJsonDocument::fromJson(QByteArray::fromBase64(token)).object().value("token").toString(),
             QString("t0k3n"));
    QCOMPARE(withheld, QStringList());
    js(mainFrame(), "document.getElementById('signOutBtn').click()");
    QCOMPARE(pages().evaluate(Page::Data, "getData('userInfo');").toString(), QString());
    QVERIFY(!js(mainFrame(), "document.getElementById('greeting').textContent").toString().contains("Jörg"));
}

// Guards against lost or mangled offline data: records go in as base64 of UTF-8 and must
// come back intact from local storage after the page reloads.
void TestSamplePages::offlineDataSurvivesReload() {
    QWebFrame* data = pages().frame(Page::Data);
    QVERIFY(data);
    js(data, "localStorage.clear()");
    const QByteArray article = QByteArray(R"({"uuid":"x1","title":"Größe – 大小 'q' \"d\"","channel_uuid":"c1"})");
    const QByteArray channel = QByteArray(R"({"uuid":"c1","title":"Kanäle"})");
    pages().run(Page::Data, "ListenDb.insertArticleData('%1');", {QString::fromLatin1(article.toBase64())});
    pages().run(Page::Data, "ListenDb.insertArticleData('%1');",
                {QString::fromLatin1(QByteArray(R"({"uuid":"x2","title":"Zwei"})").toBase64())});
    pages().run(Page::Data, "ListenDb.insertChannelData('%1');", {QString::fromLatin1(channel.toBase64())});
    pages().run(Page::Data, "ListenDb.setDownloadState('%1');", {"x1"});
    pages().run(Page::Data, "ListenDb.updateArticleData('%1', '%2');",
                {"x2", QString::fromLatin1(QByteArray(R"({"title":"Zwei neu"})").toBase64())});
    pages().run(Page::Data, "ListenDb.insertArticleData('%1');", {"not base64 at all!"});

    QSignalSpy loaded(data, &QWebFrame::loadFinished);
    data->page()->triggerAction(QWebPage::Reload);
    QVERIFY(loaded.wait(10000));

    const QString articles = js(data, "localStorage.getItem('tavrolin.articles')").toString();
    const QJsonDocument doc = QJsonDocument::fromJson(articles.toUtf8());
    QCOMPARE(doc.array().size(), 2);
    QCOMPARE(doc.array().at(0).toObject().value("title").toString(), QString::fromUtf8("Größe – 大小 'q' \"d\""));
    QCOMPARE(doc.array().at(0).toObject().value("downloadState").toString(), QString("finished"));
    QCOMPARE(doc.array().at(1).toObject().value("title").toString(), QString("Zwei neu"));
    QCOMPARE(doc.array().at(1).toObject().value("downloadState").toString(), QString("downloading"));
    QCOMPARE(js(data, "JSON.parse(getData('downloadState')).x1").toString(), QString("finished"));

    pages().run(Page::Data, "ListenDb.deleteArticleData('%1', '%2');", {"x1", "c1"});
    pages().run(Page::Data, "ListenDb.deleteChannelData('%1');", {"c1"});
    QCOMPARE(js(data, "JSON.parse(localStorage.getItem('tavrolin.articles')).length").toInt(), 1);
    QCOMPARE(js(data, "JSON.parse(localStorage.getItem('tavrolin.channels')).length").toInt(), 0);
    QCOMPARE(js(data, "JSON.parse(getData('downloadState')).x1 === undefined").toBool(), true);
    js(data, "localStorage.clear()");
}

void TestSamplePages::sharedKeysKeepTheirText_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("volume") << "volume"
                            << "40";
    QTest::newRow("json text") << "userInfo"
                               << R"({"name":"Jörg","id":7})";
    QTest::newRow("quoted number") << "volume"
                                   << "\"80\"";
    QTest::newRow("quotes and newline") << "repeatState"
                                        << "it's \"x\"\nnext";
}

// Guards against getData parsing or re-encoding what saveData stored (the shell reads it as text).
void TestSamplePages::sharedKeysKeepTheirText() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    window->bridge()->saveData(key, value);
    QCOMPARE(pages().run(Page::Data, "getData('%1');", {key}).toString(), value);
}

// Guards against the local page not asking for its directory or not reporting itself, and a
// dead way back to the online page.
void TestSamplePages::localPageAndBack() {
    recorder->clear();
    QSignalSpy loaded(window->view(), &QWebView::loadFinished);
    window->bridge()->gotoLocal("c1", "a1");
    QVERIFY(loaded.wait(10000));
    QVERIFY(window->view()->url().toString().contains("/local/local.html?lang=de&channelId=c1&articleId=a1"));
    QString dir = dataDirectory();
    dir.chop(1);
    const QStringList main = recorder->snippets(Page::Main);
    QVERIFY(main.contains(QStringLiteral("setZipDir('%1');").arg(dir)));
    QVERIFY(recorder->snippets(Page::Data).contains("ListenDb.getArticleData();"));
    QCOMPARE(js(mainFrame(), "Tav.zipDir").toString(), dir);
    // Nothing stored for a1: the page says so instead of failing.
    QVERIFY(js(mainFrame(), "document.querySelector('.note').textContent").toString().contains("Satzdaten"));

    loaded.clear();
    js(mainFrame(), "document.getElementById('onlineBtn').click()");
    QVERIFY(loaded.wait(10000));
    QVERIFY(window->view()->url().toString().contains("/static/index.html"));
    QTRY_VERIFY(recorder->snippets(Page::Main).join('\n').contains("setData('downloadState'"));
}

// Guards against paragraph text shown with its transport encoding, and a paragraph page
// that never reports itself loaded.
void TestSamplePages::paragraphPageDecodesQuotes() {
    QWebFrame* para = pages().frame(Page::Paragraph);
    QVERIFY(para);
    QTRY_COMPARE(js(para, "document.documentElement.getAttribute('lang')").toString(), QString("de"));
    pages().run(Page::Paragraph, "paragraph.setParagraph('%1');", {"Er sagt: ;;;;;;Geht======s?;;;;;;"});
    pages().run(Page::Paragraph, "paragraph.setDictTrans('%1');", {"他说：还好吗"});
    QCOMPARE(js(para, "document.getElementById('sentence').textContent").toString(), QString("Er sagt: \"Geht's?\""));
    QCOMPARE(js(para, "document.getElementById('translation').textContent").toString(), QString("他说：还好吗"));
    QCOMPARE(js(para, "getComputedStyle(document.body).backgroundColor").toString(), QString("rgba(0, 0, 0, 0)"));
}

// Guards against paragraph buttons that send the wrong play state or drag messages.
void TestSamplePages::paragraphButtonsAndDrag() {
    RecordingBridge* bridge = nullptr;
    auto view = openWithBridge(pageUrl("/local/paragraph.html"), "ParagraphApi", &bridge);
    QVERIFY(view);
    QCOMPARE(bridge->calls.value(0), QString("pageLoaded(paragraph)"));
    bridge->calls.clear();
    const char* clicks[] = {"playBtn", "nextBtn", "preBtn", "transBtn", "repeatBtn", "modeBtn", "closeBtn"};
    js(view.get(), "paragraph.saveState('repeatState', 'repeatSen')");
    for (const char* id : clicks)
        js(view.get(), QStringLiteral("document.getElementById('%1').click()").arg(id));
    js(view.get(), "paragraph.setPlayState('pause')");
    js(view.get(), "document.getElementById('playBtn').click()");
    QCOMPARE(bridge->calls, QStringList({"paraSetState(play, play)", "paraSetState(play, next)",
                                         "paraSetState(play, pre)", "paraSetState(translateState, on)",
                                         "paraSetState(repeatState, repeatSen)", "paraSetState(modeState, read)",
                                         "paraSetState(desktopState, off)", "paraSetState(play, pause)"}));

    bridge->calls.clear();
    const QPoint handle(
        js(view.get(), "document.getElementById('dragHandle').getBoundingClientRect().left + 5").toInt(),
        js(view.get(), "document.getElementById('dragHandle').getBoundingClientRect().top + 5").toInt());
    QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, handle);
    QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier, handle + QPoint(30, 0));
    QCOMPARE(bridge->calls, QStringList({"setDragState(start)", "setDragState(end)"}));

    // A gap filled in the paragraph window is reported once it is right.
    bridge->calls.clear();
    js(view.get(), "paragraph.setFillword('Ich {{gehe}} nach Hause.')");
    js(view.get(), "var g = document.querySelector('.gap'); g.value = 'falsch';"
                   "var e = document.createEvent('Event'); e.initEvent('keydown', true, true); e.keyCode = 13;"
                   "g.dispatchEvent(e); g.value = 'Gehe'; g.dispatchEvent(e);");
    QCOMPARE(bridge->calls, QStringList({"paragraphFillwordSuccess()"}));
}

// Guards against a list format that does not survive the shell dropping the first and last
// character, and against a main page that never asks to resume unfinished downloads.
void TestSamplePages::downloadListsCrossPages() {
    RecordingBridge* listen = nullptr;
    auto data = openWithBridge(pageUrl("/local/listen.html"), "ListenApi", &listen);
    QVERIFY(data);
    js(data.get(), "localStorage.clear()");
    const QString rec1 =
        QString::fromLatin1(QByteArray(R"({"uuid":"a1","title":"Müde – 累","channel_uuid":"c1"})").toBase64());
    const QString rec2 =
        QString::fromLatin1(QByteArray(R"({"uuid":"a2","title":"Zwei","channel_uuid":"c1"})").toBase64());
    const QString ch = QString::fromLatin1(QByteArray(R"({"uuid":"c1","title":"Alltag"})").toBase64());
    PageFrames().run(data->page()->mainFrame(),
                     "ListenDb.insertArticleData('%1');ListenDb.insertArticleData('%2');"
                     "ListenDb.insertChannelData('%3');ListenDb.setDownloadState('a1');",
                     {rec1, rec2, ch});
    js(data.get(), "ListenDb.getDownloadData(); ListenDb.getArticleData();");
    QCOMPARE(listen->matching("getDataFinished"),
             QStringList({"getDataFinished(channelData)", "getDataFinished(articleData)"}));
    const QStringList articles = listen->matching("setDownloadArticle(");
    QCOMPARE(articles.size(), 2);
    QVERIFY(articles[0].endsWith(", finished)"));
    QVERIFY(articles[1].endsWith(", downloading)"));
    QString channels = listen->matching("setDownloadChannel(").value(0);
    js(data.get(), "localStorage.clear()");

    RecordingBridge* main = nullptr;
    auto index = openWithBridge(pageUrl("/static/index.html?lang=de&version=3.3.1"), "WebApi", &main);
    QVERIFY(index);
    // What the shell does with the data: drop the first and last character, pass it on.
    auto relay = [](const QString& call) {
        QString data = call.mid(call.indexOf('(') + 1).section(", ", 0, 0);
        return data.mid(1, data.size() - 2);
    };
    channels = channels.mid(QString("setDownloadChannel(").size());
    channels.chop(1);
    PageFrames().run(index->page()->mainFrame(), "downloadData.appendData('channelData', '%1');",
                     {channels.mid(1, channels.size() - 2)});
    PageFrames().run(index->page()->mainFrame(), "downloadData.appendData('articleData', '%1', '%2');",
                     {relay(articles[0]), "finished"});
    PageFrames().run(index->page()->mainFrame(), "downloadData.appendData('articleData', '%1', '%2');",
                     {relay(articles[1]), "downloading"});
    main->calls.clear();
    js(index.get(), "downloadData.getDataFinished('articleData')");
    QCOMPARE(js(index.get(), "Downloads.articles.a1.title").toString(), QString::fromUtf8("Müde – 累"));
    QCOMPARE(js(index.get(), "Downloads.channels.c1.title").toString(), QString("Alltag"));
    QCOMPARE(main->calls, QStringList({"historyLoaded()", "setDownloadingList({\"a2\":\"Zwei\"})"}));
    QCOMPARE(js(index.get(), "document.querySelectorAll('.download-row').length").toInt(), 2);

    // Progress and completion reach the list; a deleted id disappears.
    js(index.get(), "downloadData.downloadProgress('50', '100', 'mp3', 'a2')");
    QVERIFY(js(index.get(), "document.querySelector('.download-row[data-id=\"a2\"]').textContent")
                .toString()
                .contains("17 %"));
    js(index.get(), "downloadData.downloadProgress('10', '-1', 'lrc', 'a2')");
    QCOMPARE(js(index.get(), "Downloads.percent('a2')").toInt(), 17);

    // A part that failed for good shows why, and its retry asks the shell for the article again.
    const QString row = "document.querySelector('.download-row[data-id=\"a2\"]').textContent";
    js(index.get(), "downloadData.downloadFailed('a2', 'mp3', 'Der Server antwortet nicht mehr')");
    QVERIFY(js(index.get(), row).toString().contains("Fehlgeschlagen: Der Server antwortet nicht mehr"));
    main->calls.clear();
    js(index.get(), "document.querySelector('.download-row[data-id=\"a2\"] .retry').click()");
    QCOMPARE(main->calls.size(), 1);
    const QJsonObject again = QJsonDocument::fromJson(main->calls.first().mid(16).chopped(1).toUtf8()).object();
    QVERIFY2(main->calls.first().startsWith("downloadArticle("), qPrintable(main->calls.first()));
    QCOMPARE(again.value("uuid").toString(), QString("a2"));
    QCOMPARE(again.value("channel_uuid").toString(), QString("c1"));
    QVERIFY(!again.contains("downloadState"));
    QVERIFY(js(index.get(), row).toString().contains("Lädt…"));

    js(index.get(), "downloadData.downloadFinished('a2')");
    QVERIFY(js(index.get(), "document.querySelector('.download-row[data-id=\"a2\"]').textContent")
                .toString()
                .contains("Fertig"));
    js(index.get(), "historyChannel.setDeletedArticleId('a1,zz')");
    QCOMPARE(js(index.get(), "document.querySelectorAll('.download-row').length").toInt(), 1);

    // Deleting from the list tells the shell about the article and its now empty channel.
    main->calls.clear();
    js(index.get(), "document.querySelector('.download-row[data-id=\"a2\"] .btn:last-child').click()");
    QCOMPARE(main->calls,
             QStringList({"deleteArticleData(a2, c1)", "setDeleteArticleId(a2)", "deleteChannelData(c1)"}));
}

// Guards against practice controls that call the wrong slots, with the wrong units, or
// paragraph text sent with raw quotes.
void TestSamplePages::onlinePracticeCallsBridge() {
    RecordingBridge* bridge = nullptr;
    auto view = openWithBridge(pageUrl("/static/index.html?lang=de&version=3.3.1"), "WebApi", &bridge);
    QVERIFY(view);
    QCOMPARE(bridge->calls.mid(0, 2), QStringList({"pageLoaded(online)", "pageLoaded(index)"}));
    QTRY_COMPARE(js(view.get(), "document.querySelectorAll('.article-card').length").toInt(), 4);

    // Downloading an article records its channel first, then the article.
    bridge->calls.clear();
    js(view.get(), "document.querySelector('.article-card[data-id=\"a1\"] .dl-btn').click()");
    QCOMPARE(bridge->calls.size(), 3);
    QVERIFY(bridge->calls[0].startsWith("downloadChannel({\"uuid\":\"c1\""));
    QCOMPARE(bridge->calls[1], QString("delDownloadArticleId(a1)"));
    QVERIFY(bridge->calls[2].startsWith("downloadArticle({\"uuid\":\"a1\""));
    QVERIFY(bridge->calls[2].contains("\"channel_uuid\":\"c1\""));

    bridge->calls.clear();
    js(view.get(), "document.querySelector('.article-card[data-id=\"a1\"] .btn.primary').click()");
    QTRY_VERIFY(!bridge->matching("initPlay(").isEmpty());
    QCOMPARE(bridge->matching("initPlay("),
             QStringList({QString("initPlay(https://127.0.0.1:%1/media/a1.mp3, online, [0 2500 5200], audio)")
                              .arg(service->port())}));
    QVERIFY(bridge->calls.contains("setClickState(false)"));
    QVERIFY(bridge->calls.contains("setPrintAble(true)"));
    QCOMPARE(js(view.get(), "document.querySelectorAll('.sentence').length").toInt(), 3);

    // The shell highlights sentence 1: the row is marked, the paragraph gets encoded quotes.
    bridge->calls.clear();
    js(view.get(), "media.highlight('1')");
    QCOMPARE(js(view.get(), "document.querySelector('.sentence.current').getAttribute('data-index')").toString(),
             QString("1"));
    QCOMPARE(bridge->calls, QStringList({"setParagaraph(sentence, Er sagt: ;;;;;;Geht======s?;;;;;;)",
                                         "setParagaraph(chinese, 他说：“还好吗？”)"}));

    bridge->calls.clear();
    js(view.get(), "media.nextSentence()");
    QCOMPARE(bridge->calls.mid(0, 2), QStringList({"setPlayIndex(2)", "play(5200)"}));
    bridge->calls.clear();
    js(view.get(), "media.previousSentence(); media.previousSentence();");
    // Sentence 0 starts at 0 ms; 1 ms makes the shell seek there rather than play on.
    QCOMPARE(bridge->matching("play("), QStringList({"play(2500)", "play(1)"}));

    bridge->calls.clear();
    js(view.get(), "media.setPlaying('40'); media.pause(); media.play(0);");
    QCOMPARE(js(view.get(), "document.getElementById('pFill').style.width").toString(), QString("40%"));
    QCOMPARE(bridge->calls, QStringList({"pause()", "play(0)"}));
    QVERIFY(js(view.get(), "document.getElementById('pPlay').textContent").toString().contains("Pause"));

    bridge->calls.clear();
    js(view.get(), "media.repeatControl(); media.translateControl(); media.desktopControl();");
    QCOMPARE(bridge->calls.mid(0, 6),
             QStringList({"setState(repeat, repeatSen)", "saveData(repeatState, repeatSen)", "setTranslationState(tap)",
                          "saveData(translationState, tap)", "setDesktopState(desktopOn)",
                          "setParagaraph(sentence, Es ist sieben Uhr.)"}));

    // Seeking inside the bar in reading mode passes seconds, so the unit is switched around it.
    bridge->calls.clear();
    js(view.get(), "Practice.seekPercent(50); Practice.seekPercent(0);");
    QCOMPARE(bridge->calls,
             QStringList({"setClickState(true)", "loadPosition(50)", "setClickState(false)", "loadPosition(0)"}));

    // Reopened where the learner left off (sentence 2), the learner picks sentence 1 while the media still loads:
    // the end of the load does not jump back to sentence 2.
    QCOMPARE(js(view.get(), "Practice.current").toInt(), 0);
    js(view.get(), "Practice.resumeAt = 2; media.loadingStart();");
    js(view.get(), "document.querySelector('.sentence[data-index=\"1\"]').click()");
    bridge->calls.clear();
    js(view.get(), "media.loadingEnd(); media.setPlaying('0');");
    QTest::qWait(50); // the load's own resume runs after its end
    QCOMPARE(js(view.get(), "Practice.current").toInt(), 1);
    QVERIFY2(bridge->matching("setPlayIndex(").isEmpty(), qPrintable(bridge->calls.join(", ")));

    // The speed control offers 0.5 to 2.0 in tenths and a reset; it shows the shell's speed, whoever set it.
    bridge->calls.clear();
    QCOMPARE(js(view.get(), "document.getElementById('pSpeed').options.length").toInt(), 16);
    js(view.get(), "var s = document.getElementById('pSpeed'); s.value = '0.70'; s.onchange();");
    js(view.get(), "document.getElementById('pSpeedReset').click()");
    QCOMPARE(bridge->calls, QStringList({"setSpeed(0.7)", "setSpeed(1)"}));
    js(view.get(), "media.setSpeed('1.5')");
    QCOMPARE(js(view.get(), "document.getElementById('pSpeed').value").toString(), QString("1.50"));
    QVERIFY(js(view.get(), "document.getElementById('pSpeedReset').className").toString().contains("active"));

    // The video article shows its placeholder and reports its rectangle.
    js(view.get(), "document.getElementById('pBack').click()");
    QVERIFY(bridge->calls.contains("cancelPlay()"));
    bridge->calls.clear();
    js(view.get(), "document.querySelector('.article-card[data-id=\"a2\"] .btn.primary').click()");
    QTRY_VERIFY(!bridge->matching("initPlay(").isEmpty());
    QCOMPARE(
        bridge->matching("initPlay("),
        QStringList(
            {QString("initPlay(https://127.0.0.1:%1/files/a2.mp4, online, [0 2500 5200], 4)").arg(service->port())}));
    const QStringList rect = js(view.get(), "media.showVideoFrame()").toString().split(',');
    QCOMPARE(rect.size(), 4);
    const int w = rect[2].toInt();
    const int h = rect[3].toInt();
    QVERIFY2(h > 100 && qAbs(w * 9 - h * 16) < 32, qPrintable(rect.join(','))); // a visible 16:9 frame
    js(view.get(), "media.hideVideoFrame()");
    QVERIFY(js(view.get(), "document.getElementById('videoFrame').className").toString().contains("hidden"));

    // A media answer that redirects: the target is played.
    js(view.get(), "document.getElementById('pBack').click()");
    bridge->calls.clear();
    js(view.get(), "document.querySelector('.article-card[data-id=\"a3\"] .btn.primary').click()");
    QTRY_VERIFY(!bridge->matching("initPlay(").isEmpty());
    QCOMPARE(
        bridge->matching("initPlay("),
        QStringList({QString("initPlay(https://127.0.0.1:%1/files/a3.mp3, online, [], audio)").arg(service->port())}));

    // Without a media address the shell's signed media URL plays instead.
    js(view.get(), "document.getElementById('pBack').click()");
    bridge->calls.clear();
    js(view.get(), "document.querySelector('.article-card[data-id=\"a4\"] .btn.primary').click()");
    QTRY_COMPARE(bridge->matching("setFmId("), QStringList({"setFmId(a4)"}));
    QVERIFY(bridge->matching("initPlay(").isEmpty());
}

// Guards against dictation and fill-in answers that are never checked or reported.
void TestSamplePages::dictationAndFillword() {
    RecordingBridge* bridge = nullptr;
    auto view = openWithBridge(pageUrl("/static/index.html?lang=de&version=3.3.1"), "WebApi", &bridge);
    QVERIFY(view);
    QTRY_COMPARE(js(view.get(), "document.querySelectorAll('.article-card').length").toInt(), 4);
    js(view.get(), "document.querySelector('.article-card[data-id=\"a1\"] .btn.primary').click()");
    QTRY_COMPARE(js(view.get(), "document.querySelectorAll('.sentence').length").toInt(), 3);

    bridge->calls.clear();
    js(view.get(), "document.querySelector('#pModes [data-mode=\"dictation\"]').click()");
    QCOMPARE(bridge->calls.mid(0, 4), QStringList({"setState(mode, dictation)", "saveData(mode, dictation)",
                                                   "setDictationIndex(0)", "play(0)"}));
    QVERIFY(bridge->calls.contains("setParagaraph(dictation, __ ___ ______ ___.)"));
    QCOMPARE(js(view.get(), "document.querySelector('.sentence.current .de').textContent").toString(),
             QString("__ ___ ______ ___."));
    js(view.get(), "article.setPlayTimes('0', '2')");
    QCOMPARE(js(view.get(), "document.getElementById('pTimes').textContent").toString(), QString("2× gehört"));

    bridge->calls.clear();
    QCOMPARE(js(view.get(), "Practice.checkDictation(0, 'es ist acht uhr')").toBool(), false);
    QVERIFY(js(view.get(), "document.getElementById('pFeedback').innerHTML")
                .toString()
                .contains("class=\"bad\">acht</span><span class=\"expected\" title=\"richtig\">sieben"));
    QVERIFY(bridge->calls.isEmpty());
    QCOMPARE(js(view.get(), "Practice.checkDictation(0, 'Es ist sieben  Uhr')").toBool(), true);
    QCOMPARE(bridge->calls.mid(bridge->calls.indexOf("setDictationIndex(1)"), 2),
             QStringList({"setDictationIndex(1)", "play(0)"}));

    bridge->calls.clear();
    js(view.get(), "media.modeControl()");
    QCOMPARE(bridge->calls.mid(0, 4),
             QStringList({"setState(mode, fillword)", "saveData(mode, fillword)", "setFillwordIndex(1)", "play(0)"}));
    QVERIFY(bridge->calls.contains("setParagaraph(fillword, Er {{sagt}}: ;;;;;;Geht======s?;;;;;;)"));
    bridge->calls.clear();
    js(view.get(), "media.setFillwordState(true)");
    QCOMPARE(js(view.get(), "document.activeElement.id").toString(), QString("pAnswer"));
    QCOMPARE(js(view.get(), "Practice.checkFillword(1, 'sagen')").toBool(), false);
    QCOMPARE(js(view.get(), "Practice.checkFillword(1, 'Sagt')").toBool(), true);
    QCOMPARE(bridge->matching("fillwordSuccessAction"), QStringList({"fillwordSuccessAction()"}));
    js(view.get(), "article.initIndex('2', 'fillword'); media.play();");
    QCOMPARE(js(view.get(), "Practice.current").toInt(), 2);
    QCOMPARE(bridge->calls.last(), QString("play(0)"));

    // Solved in the paragraph window before the sentence ended: reported when it ends.
    bridge->calls.clear();
    js(view.get(), "article.paragraphFillwordSuccess()");
    QVERIFY(bridge->matching("fillwordSuccessAction").isEmpty());
    js(view.get(), "media.setFillwordState('true')");
    QCOMPARE(bridge->matching("fillwordSuccessAction"), QStringList({"fillwordSuccessAction()"}));
}

void TestSamplePages::dictationWordAlignment_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("words"); // status:typed/expected
    QTest::newRow("dropped") << "der Zug Köln fährt um acht Uhr ab"
                             << "right:der/Der right:Zug/Zug missing:/nach right:Köln/Köln right:fährt/fährt "
                                "right:um/um right:acht/acht right:Uhr/Uhr right:ab/ab";
    QTest::newRow("added") << "Der Zug nach Köln fährt heute um acht Uhr ab."
                           << "right:Der/Der right:Zug/Zug right:nach/nach right:Köln/Köln right:fährt/fährt "
                              "extra:heute/ right:um/um right:acht/acht right:Uhr/Uhr right:ab/ab";
    QTest::newRow("swapped") << "Der Zug nach Köln um fährt acht Uhr ab"
                             << "right:Der/Der right:Zug/Zug right:nach/nach right:Köln/Köln wrong:um/fährt "
                                "wrong:fährt/um right:acht/acht right:Uhr/Uhr right:ab/ab";
}

// Guards against a dictation checked word by position, where one dropped or added word marks every later word wrong.
void TestSamplePages::dictationWordAlignment() {
    QFETCH(QString, typed);
    QFETCH(QString, words);
    QWebView view;
    QVERIFY(TestSupport::loadAndWait(&view, QUrl(pageUrl("/static/index.html"), QUrl::TolerantMode)));
    const QString compare =
        PageScript::build("WordAlign.compare('%1', '%2').map(function (w) {"
                          "  return w.status + ':' + (w.word || '') + '/' + (w.expected || ''); }).join(' ')",
                          {"Der Zug nach Köln fährt um acht Uhr ab.", typed});
    QCOMPARE(js(&view, compare).toString(), words);
}

void TestSamplePages::articleEndFollowsRepeat_data() {
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<QString>("expected"); // the first bridge call after the end, "" for none
    QTest::newRow("once") << ""
                          << "";
    QTest::newRow("article loop") << "repeated"
                                  << "setPlayIndex(0)";
    QTest::newRow("next article") << "repeat"
                                  << "setClickState(false)";
    QTest::newRow("sentence loop") << "repeatSen"
                                   << "";
}

// Guards against the repeat setting being ignored at the end of an article in reading mode.
void TestSamplePages::articleEndFollowsRepeat() {
    QFETCH(QString, repeat);
    QFETCH(QString, expected);
    RecordingBridge* bridge = nullptr;
    auto view = openWithBridge(pageUrl("/static/index.html"), "WebApi", &bridge);
    QVERIFY(view);
    QTRY_COMPARE(js(view.get(), "document.querySelectorAll('.article-card').length").toInt(), 4);
    js(view.get(), "document.querySelector('.article-card[data-id=\"a1\"] .btn.primary').click()");
    QTRY_COMPARE(js(view.get(), "document.querySelectorAll('.sentence').length").toInt(), 3);
    PageFrames().run(view->page()->mainFrame(), "setData('repeatState', '%1');", {repeat});
    bridge->calls.clear();
    js(view.get(), "media.playEnd()");
    if (expected.isEmpty()) {
        QVERIFY(bridge->calls.isEmpty());
        QCOMPARE(js(view.get(), "document.getElementById('pStatus').textContent").toString(), QString("Ende"));
    } else {
        QTRY_VERIFY(!bridge->calls.isEmpty());
        QCOMPARE(bridge->calls.first(), expected);
    }
    if (repeat == "repeat")
        QTRY_COMPARE(js(view.get(), "Practice.article.uuid").toString(), QString("a2"));
}

// Guards against page functions that throw when the shell calls them before any article is open.
void TestSamplePages::practiceObjectsToleratePrematureCalls() {
    QWebView view;
    QVERIFY(TestSupport::loadAndWait(&view, QUrl(pageUrl("/static/index.html"), QUrl::TolerantMode)));
    const QString calls = QStringLiteral(
        "media.highlight('3'); media.setPlaying('10'); media.loadingStart(); media.loadingEnd();"
        "media.bufferingStart(); media.bufferingEnd(); media.playEnd(); media.updatePlayState();"
        "media.setFillwordState(true); media.next(); media.pre(); media.nextSentence(); media.previousSentence();"
        "media.play(0, true); media.pause(); media.hideVideoFrame(); media.translateControl(); media.repeatControl();"
        "media.modeControl(); media.desktopControl();"
        "article.setPlayTimes('0', '1'); article.initDictation(0); article.initIndex('1', 'fillword');"
        "article.setHideDisplayTipIndex('0'); article.paragraphFillwordSuccess();"
        "downloadData.downloadProgress('1', '-1', 'lrc', 'q'); downloadData.downloadFinished('q');"
        "downloadData.appendData('articleData', ''); downloadData.getDataFinished('articleData');"
        "historyChannel.setDeletedArticleId(''); setData('volume', '5'); setZipDir('/x');");
    QCOMPARE(js(&view, "try {" + calls + " 'ok'; } catch (e) { String(e); }").toString(), QString("ok"));
    QCOMPARE(js(&view, "getData('volume') + '|' + getData('missing')").toString(), QString("5|"));
    QCOMPARE(js(&view, "media.showVideoFrame().split(',').length").toInt(), 4);
}

// Guards against a local page that plays the wrong file or reads the wrong content.
void TestSamplePages::localPagePlaysStoredMedia() {
    QWebView view;
    auto* bridge = new RecordingBridge(&view, "WebApi");
    bridge->zipDir = "/data/vorb_de";
    bridge->files.insert("a9/article", "<html><head><title>Der Titel</title><script>window.bad=1</script></head>"
                                       "<body><h1 onclick=\"bad=2\">Der Titel</h1><p>Text</p></body></html>");
    bridge->files.insert("a9/lrc", QString::fromUtf8(sentenceJson()));
    view.resize(1000, 800);
    QVERIFY(TestSupport::loadAndWait(
        &view, QUrl(pageUrl("/local/local.html?lang=de&channelId=c9&articleId=a9"), QUrl::TolerantMode)));
    QCOMPARE(bridge->calls.mid(0, 4), QStringList({"getZipDir()", "getFileContent(a9, article)",
                                                   "getFileContent(a9, lrc)", "pageLoaded(local)"}));
    QCOMPARE(bridge->matching("initPlay("),
             QStringList({"initPlay(/data/vorb_de/a9.rar, local, [0 2500 5200], audio)"}));
    QCOMPARE(js(&view, "document.getElementById('pTitle').textContent").toString(), QString("Der Titel"));
    QCOMPARE(js(&view, "document.querySelectorAll('#pArticleHtml script, #pArticleHtml [onclick]').length").toInt(), 0);
    QCOMPARE(js(&view, "typeof window.bad").toString(), QString("undefined"));
    QCOMPARE(js(&view, "document.querySelectorAll('.sentence').length").toInt(), 3);
    bridge->calls.clear();
    js(&view, "document.getElementById('pBack').click()");
    QVERIFY(bridge->calls.contains("gotoOnline()"));
}

// Guards against an archive's article running code in the local page (which holds the bridge) or losing its text.
void TestSamplePages::hostileLocalArticleRunsNothing() {
    QWebView view;
    auto* bridge = new RecordingBridge(&view, "WebApi");
    bridge->files.insert("a8/article",
                         R"(<html><head><title>Im Park</title><script>ran='script'</script>
<meta http-equiv="refresh" content="0;url=javascript:ran='meta'"><base href="javascript:ran='base'//">
</head><body onload="ran='body'"><h1>Im Park</h1><p>Die Sonne <b>scheint</b>.</p>
<img src="missing.png" onerror="ran='onerror'" alt="Bild">
<a id="link" href=" JaVaScRiPt:ran='link'">weiter</a>
<noscript><p title="</noscript><img src=missing.png onerror=ran='noscript'>"></p></noscript>
<svg><a id="svglink" xlink:href="javascript:ran='svg'"><text y="20">Bild</text></a></svg>
<iframe srcdoc="<script>parent.ran='iframe'</script>"></iframe>
<object data="javascript:ran='object'"></object>
<form action="javascript:ran='form'"><button id="send">Senden</button></form></body></html>)");
    bridge->files.insert("a8/lrc", QString::fromUtf8(sentenceJson()));
    view.resize(1000, 800);
    QVERIFY(TestSupport::loadAndWait(
        &view, QUrl(pageUrl("/local/local.html?lang=de&channelId=c8&articleId=a8"), QUrl::TolerantMode)));
    // The picture stays; once it has failed to load, any handler on it would have run.
    QTRY_VERIFY(js(&view, "document.querySelector('#pArticleHtml img[alt=Bild]').complete").toBool());
    js(&view, "document.getElementById('link').click(); document.getElementById('send').click();"
              "var e = document.createEvent('MouseEvents'); e.initEvent('click', true, true);"
              "document.getElementById('svglink').dispatchEvent(e);"
              "setTimeout(function () { window.settled = true; }, 100);");
    // A form submission or a frame's script would run from the event loop, before this timer.
    QTRY_VERIFY(js(&view, "window.settled === true").toBool());
    QCOMPARE(js(&view, "typeof ran === 'undefined' ? '' : String(ran)").toString(), QString());
    QVERIFY(view.url().path().endsWith("/local/local.html"));
    QCOMPARE(js(&view, "document.getElementById('pTitle').textContent").toString(), QString("Im Park"));
    QCOMPARE(js(&view, "document.querySelector('#pArticleHtml p b').textContent").toString(), QString("scheint"));
    QVERIFY(js(&view, "document.getElementById('pArticleHtml').textContent").toString().contains("Die Sonne scheint."));
}

// Guards against a blank page when the service is down.
void TestSamplePages::serviceUnreachable() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    QVERIFY(TestSupport::installPages(1, port));
    QWebSettings::clearMemoryCaches(); // config.js is cached from earlier loads
    QWebView view;
    QVERIFY(TestSupport::loadAndWait(&view, QUrl(pageUrl("/static/index.html"), QUrl::TolerantMode)));
    QTRY_VERIFY(
        js(&view, "document.getElementById('catalogueNote').textContent").toString().contains("nicht erreichbar"));
    QCOMPARE(js(&view, "document.querySelectorAll('.article-card').length").toInt(), 0);
    QVERIFY(TestSupport::installPages(1, service->port()));
}

void TestSamplePages::removingAnOwnFileAsksFirstAndRowsStayPut() {
    // Guards against one click forgetting a file with the learner's progress, and against rows reordering after
    // practice so that the next click removes another file.
    QTemporaryDir dir;
    const QString sample = QStringLiteral(TAVROLIN_SAMPLE_MEDIA) + "/gespraech";
    for (const char* name : {"Erste", "Zweite"}) {
        for (const char* suffix : {".mp3", ".de.srt"})
            QVERIFY(QFile::copy(sample + suffix, dir.filePath(name + QString(suffix))));
    }
    WebApi* bridge = window->bridge();
    auto idOf = [bridge](const QString& path) {
        return QJsonDocument::fromJson(bridge->importMedia(path).toUtf8()).object().value("id").toString();
    };
    auto library = [bridge] {
        QStringList ids;
        for (const QJsonValue& item : QJsonDocument::fromJson(bridge->mediaLibrary().toUtf8()).array())
            ids << item.toObject().value("id").toString();
        return ids;
    };
    auto rows = [this] {
        return js(mainFrame(), "Array.prototype.map.call(document.querySelectorAll('.media-row'),"
                               " function (r) { return r.getAttribute('data-id'); }).join(' ')")
            .toString();
    };
    const QString first = idOf(dir.filePath("Erste.mp3"));
    bridge->setMediaProgress(first, 3);
    QTest::qWait(5);
    const QString second = idOf(dir.filePath("Zweite.mp3"));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    js(mainFrame(), "mediaFiles.refresh()");
    QCOMPARE(rows(), second + " " + first); // last opened first

    // Practised again, the first is the library's first now; on the page it stays where it was.
    QTest::qWait(5);
    idOf(dir.filePath("Erste.mp3"));
    QCOMPARE(library(), (QStringList{first, second}));
    js(mainFrame(), "mediaFiles.refresh()");
    QCOMPARE(rows(), second + " " + first);

    // Removing asks first and says what goes; keeping it changes nothing.
    const QString row = "document.querySelector('.media-row[data-id=\"" + first + "\"]')";
    js(mainFrame(), row + ".querySelector('.remove').click()");
    const QString question = js(mainFrame(), row + ".querySelector('.question').textContent").toString();
    QVERIFY2(question.contains("„Erste“") && question.contains("zuletzt Satz 4 von 5"), qPrintable(question));
    QCOMPARE(library().size(), 2);
    js(mainFrame(), row + ".querySelector('.keep').click()");
    QCOMPARE(js(mainFrame(), "document.querySelectorAll('.media-row.asking').length").toInt(), 0);
    QCOMPARE(library().size(), 2);

    js(mainFrame(), row + ".querySelector('.remove').click()");
    js(mainFrame(), row + ".querySelector('.confirm-remove').click()");
    QCOMPARE(library(), QStringList{second});
    QCOMPARE(rows(), second);
    bridge->forgetMedia(second);
}

QTEST_MAIN(TestSamplePages)
#include "tst_samplepages.moc"
