// The bridge against real web frames: publishing, page synchronisation,
// settings push, navigation and safe transport of hostile text.
#include "app/webview.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/serviceconfig.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "playback/practicecontroller.h"
#include "support/fakeservice.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>

#include <cmath>
#include <utility>

using TestSupport::FakeService;

namespace {

// Tells which bridges the page sees, in its title.
const QByteArray bridgeReport = "<html><head><script>document.title = [typeof window.WebApi, typeof window.ListenApi, "
                                "typeof window.ParagraphApi].join(',');</script></head><body>page</body></html>";

FakeService::Reply html(const QByteArray& body) {
    FakeService::Reply reply;
    reply.contentType = "text/html";
    reply.body = body;
    return reply;
}

QStringList warnings;
QtMessageHandler testHandler = nullptr;
void keepWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg)
        warnings << message;
    testHandler(type, context, message);
}

// One web view inside a host window whose object name selects the bridge's role.
struct Host {
    Host(const QString& name, std::shared_ptr<BridgeContext> context, bool mainKind = false) {
        window.setObjectName(name);
        view = mainKind ? new WebView(&window) : new QWebView(&window);
        bridge = new WebApi(std::move(context), view);
        bridge->attachView(view);
    }
    QWidget window;
    QWebView* view = nullptr;
    WebApi* bridge = nullptr;

    QVariant eval(const QString& script) { return view->page()->mainFrame()->evaluateJavaScript(script); }
    // The calls the page recorded, as "name(arg|arg)" lines.
    QStringList calls() {
        QStringList out;
        const QJsonArray list = QJsonDocument::fromJson(eval("JSON.stringify(calls)").toString().toUtf8()).array();
        for (const QJsonValue& call : list) {
            QStringList args;
            for (const QJsonValue& a : call.toObject().value("a").toArray())
                args << a.toString();
            out << call.toObject().value("f").toString() + "(" + args.join("|") + ")";
        }
        return out;
    }
    QJsonArray lastArgs() {
        const QJsonArray list = QJsonDocument::fromJson(eval("JSON.stringify(calls)").toString().toUtf8()).array();
        return list.isEmpty() ? QJsonArray() : list.last().toObject().value("a").toArray();
    }
    void clear() { eval("calls = [];"); }
};

} // namespace

class TestWebApi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void publishesByParentNameAndAgainAfterReload();
    void indexPageOnlyCopiesDownloadState();
    void paragraphPageGetsItsLanguage();
    void fullSynchronisation_data();
    void fullSynchronisation();
    void saveDataReachesDataAndParagraphPages();
    void hostileTextArrivesUnchanged_data();
    void hostileTextArrivesUnchanged();
    void pushReadingSettingsArgumentOrder();
    void translationStateSurvivesAPageLoad();
    void gotoLocalComposesTheQuery_data();
    void gotoLocalComposesTheQuery();
    void gotoFromOtherPagesDoesNothing();
    void zipDirHasNoTrailingSeparator();
    void popupFromMainPageIsSeparateAndBridgeless();
    void popupFromDataPageOpensNothing();
    void showInfoWithoutWindowAncestorsStillShows();
    void bridgeViewsStayOnOurPages_data();
    void bridgeViewsStayOnOurPages();
    void bridgeOnlyInOurPages_data();
    void bridgeOnlyInOurPages();
    void desktopGetsWebAndMailAddressesOnly_data();
    void desktopGetsWebAndMailAddressesOnly();
    void speedKeptForTheNextRun();
    void repetitionPlanTakenWholeOrNotAtAll();

private:
    // What the three bridges share, as a main window's do.
    std::shared_ptr<BridgeContext> context;
    std::unique_ptr<Host> mainHost, dataHost, paragraphHost;
};

void TestWebApi::initTestCase() {
    TestSupport::useCleanDataDirectory();
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    QVERIFY(ServiceConfig::installTlsDefaults());
    QWebSettings::globalSettings()->setAttribute(QWebSettings::JavascriptCanOpenWindows, true);
}

void TestWebApi::init() {
    context = BridgeContext::create();
    mainHost = std::make_unique<Host>("MainWindow", context, true);
    dataHost = std::make_unique<Host>("dataDialog", context);
    paragraphHost = std::make_unique<Host>("paragraph", context);
    for (Host* host : {mainHost.get(), dataHost.get(), paragraphHost.get()})
        QVERIFY(TestSupport::loadAndWait(host->view, TestSupport::appPageUrl("pages/recorder.html")));
    mainHost->bridge->downloads()->setReady(false);
}

void TestWebApi::cleanup() {
    Desktop::setOpenUrl(nullptr);
    if (testHandler)
        qInstallMessageHandler(std::exchange(testHandler, nullptr));
    mainHost.reset();
    dataHost.reset();
    paragraphHost.reset();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QWebView*>(w))
            w->deleteLater();
    }
}

void TestWebApi::publishesByParentNameAndAgainAfterReload() {
    // Guards against a bridge published under the wrong name or lost on reload.
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(mainHost->eval("bridges()").toString(), QString("object,undefined,undefined"));
        QCOMPARE(dataHost->eval("bridges()").toString(), QString("undefined,object,undefined"));
        QCOMPARE(paragraphHost->eval("bridges()").toString(), QString("undefined,undefined,object"));
        for (Host* host : {mainHost.get(), dataHost.get(), paragraphHost.get()})
            QVERIFY(TestSupport::loadAndWait(host->view, TestSupport::appPageUrl("pages/recorder.html")));
    }
    QCOMPARE(context->pages.frame(PageScript::Page::Main), mainHost->view->page()->mainFrame());
    QCOMPARE(mainHost->bridge->downloads()->network(), dataHost->view->page()->networkAccessManager());

    Host other("somethingElse", context);
    QVERIFY(TestSupport::loadAndWait(other.view, TestSupport::appPageUrl("pages/recorder.html")));
    QCOMPARE(other.eval("bridges()").toString(), QString("undefined,undefined,undefined"));
}

void TestWebApi::indexPageOnlyCopiesDownloadState() {
    // Guards against the index report running the full synchronisation.
    dataHost->eval("store.downloadState = 'a1,a2';");
    mainHost->bridge->pageLoaded("index");
    QCOMPARE(mainHost->calls(), QStringList{"setData(downloadState|a1,a2)"});
    QCOMPARE(dataHost->calls(), QStringList{"getData(downloadState)"});
    QVERIFY(paragraphHost->calls().isEmpty());
    QVERIFY(!mainHost->bridge->downloads()->isReady());
}

void TestWebApi::paragraphPageGetsItsLanguage() {
    paragraphHost->bridge->pageLoaded("paragraph");
    QCOMPARE(paragraphHost->calls(), QStringList{"paragraph.setLang(de)"});
    QVERIFY(mainHost->calls().isEmpty());
    QVERIFY(dataHost->calls().isEmpty());
}

void TestWebApi::fullSynchronisation_data() {
    QTest::addColumn<QString>("frame");
    QTest::newRow("offline-data page") << "listen";
    QTest::newRow("empty name") << "";
    QTest::newRow("Index in capitals") << "Index";
}

void TestWebApi::fullSynchronisation() {
    // Guards against a wrong order, lost quotes in userInfo or a volume that stays 0.
    QFETCH(QString, frame);
    dataHost->eval("store.volume = '\"80\"'; store.userInfo = '{\"name\":\"Ann\"}'; store.repeatState = '\"repeat\"';");
    WebApi* bridge = mainHost->bridge;
    bridge->setReadingSettings({"Large", "Night", "left", "Verdana", "middle", "explain", "tap", "4"});

    bridge->pageLoaded(frame);

    QCOMPARE(mainHost->calls(),
             (QStringList{"setSet(Large|Night|tap|middle|explain|Verdana|left)", "setData(volume|80)",
                          "setData(userInfo|{\"name\":\"Ann\"})", "setData(repeatState|repeat)"}));
    QCOMPARE(dataHost->calls(), (QStringList{"ListenDb.getDownloadData()", "getData(volume)", "getData(userInfo)",
                                             "getData(repeatState)", "ListenDb.getArticleData()"}));
    QCOMPARE(paragraphHost->calls(), QStringList{"paragraph.saveState(explainTipState|explain)"});
    QCOMPARE(bridge->volume(), 80);
    QCOMPARE(bridge->userInfo(), QString("{\"name\":\"Ann\"}"));
    QCOMPARE(bridge->practice()->repeat(), PracticeController::Repeat::NextArticle);
    QVERIFY(mainHost->bridge->downloads()->isReady());
}

void TestWebApi::saveDataReachesDataAndParagraphPages() {
    mainHost->bridge->saveData("hasTranslation", "true"); // no main window here: only the page calls
    mainHost->bridge->saveData("fontSize", "3");
    QCOMPARE(dataHost->calls(), (QStringList{"setData(hasTranslation|true)", "setData(fontSize|3)"}));
    QCOMPARE(paragraphHost->calls(),
             (QStringList{"paragraph.saveState(hasTranslation|true)", "paragraph.saveState(fontSize|3)"}));
}

void TestWebApi::hostileTextArrivesUnchanged_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << "it's \"quoted\"";
    QTest::newRow("break out") << "');window.pwned=1;('";
    QTest::newRow("backslash") << "C:\\dir\\file\\";
    QTest::newRow("CR LF") << "line1\r\nline2";
    QTest::newRow("U+2028 U+2029") << QString("a") + QChar(0x2028) + "b" + QChar(0x2029) + "c";
    QTest::newRow("script end tag") << "</script><script>window.pwned=1</script>";
}

void TestWebApi::hostileTextArrivesUnchanged() {
    // Guards against values that end the script literal and run as code.
    QFETCH(QString, value);
    mainHost->bridge->saveData("note", value);
    QCOMPARE(dataHost->lastArgs().at(1).toString(), value);
    QCOMPARE(paragraphHost->lastArgs().at(1).toString(), value);
    QVERIFY(!dataHost->eval("window.pwned").isValid() || dataHost->eval("window.pwned").isNull());
}

void TestWebApi::pushReadingSettingsArgumentOrder() {
    mainHost->bridge->pushReadingSettings({"Medium", "Night", "left", "Arial", "close", "highlight", "tap", "3"});
    QCOMPARE(mainHost->calls(), QStringList{"setSet(Medium|Night|tap|close|highlight|Arial|left)"});
    QCOMPARE(paragraphHost->calls(), QStringList{"paragraph.saveState(explainTipState|highlight)"});
}

void TestWebApi::translationStateSurvivesAPageLoad() {
    // Guards against the next page load pushing the translation state the page had turned off back on.
    mainHost->bridge->setReadingSettings({"Medium", "Normal", "justify", "Arial", "close", "highlight", "on", "3"});
    mainHost->eval("WebApi.setTranslationState('off');");
    mainHost->clear();
    mainHost->bridge->pageLoaded("listen");
    QCOMPARE(mainHost->calls().value(0), QString("setSet(Medium|Normal|off|close|highlight|Arial|justify)"));
}

void TestWebApi::gotoLocalComposesTheQuery_data() {
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("article");
    QTest::addColumn<QString>("query");
    QTest::newRow("ids") << "c1"
                         << "a1"
                         << "lang=de&channelId=c1&articleId=a1";
    QTest::newRow("empty") << ""
                           << ""
                           << "lang=de&channelId=&articleId=";
}

void TestWebApi::gotoLocalComposesTheQuery() {
    QFETCH(QString, channel);
    QFETCH(QString, article);
    QFETCH(QString, query);
    mainHost->bridge->downloads()->setReady(true);
    mainHost->bridge->gotoLocal(channel, article);
    const QUrl url = mainHost->view->page()->mainFrame()->requestedUrl();
    QCOMPARE(url.query(), query);
    QVERIFY(url.path().endsWith("/local/local.html"));
    QCOMPARE(mainHost->bridge->pageMode(), QString("local"));
    QVERIFY(!mainHost->bridge->downloads()->isReady());
}

void TestWebApi::gotoFromOtherPagesDoesNothing() {
    // Only the main page's bridge knows the main view.
    const QUrl before = dataHost->view->url();
    dataHost->bridge->gotoLocal("c", "a");
    dataHost->bridge->gotoOnline();
    QCOMPARE(dataHost->view->url(), before);
    QCOMPARE(dataHost->bridge->pageMode(), QString("online"));
}

void TestWebApi::zipDirHasNoTrailingSeparator() {
    mainHost->bridge->getZipDir();
    QString expected = dataDirectory();
    expected.chop(1);
    QCOMPARE(mainHost->calls(), QStringList{"setZipDir(" + expected + ")"});
    QVERIFY(!expected.endsWith('/'));
}

void TestWebApi::popupFromMainPageIsSeparateAndBridgeless() {
    const int before = QApplication::topLevelWidgets().size();
    mainHost->eval(QString("window.open('%1');").arg(TestSupport::appPageUrl("pages/popup.html").toString()));
    QWebView* popup = nullptr;
    QTRY_VERIFY((popup = [&]() -> QWebView* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<QWebView*>(w); v && v->url().fileName() == "popup.html")
                return v;
        return nullptr;
    }()));
    QVERIFY(QApplication::topLevelWidgets().size() > before);
    QCOMPARE(popup->parent(), &mainHost->window); // a window of its own that ends with the main window
    QVERIFY(popup->isWindow());
    QTRY_COMPARE(popup->page()->mainFrame()->evaluateJavaScript("document.getElementById('b').textContent").toString(),
                 QString("undefined"));
}

void TestWebApi::popupFromDataPageOpensNothing() {
    const int before = QApplication::topLevelWidgets().size();
    dataHost->eval(QString("window.open('%1');").arg(TestSupport::appPageUrl("pages/popup.html").toString()));
    QTest::qWait(200); // a pop-up would be created synchronously; give any load a moment anyway
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
}

void TestWebApi::showInfoWithoutWindowAncestorsStillShows() {
    // A bridge directly under a host window has fewer than three ancestors.
    dataHost->bridge->showInfo("Fertig");
    QVERIFY(dataHost->bridge->infoBox()->isVisible());
    QCOMPARE(dataHost->bridge->infoBox()->text(), QString("Fertig"));
    QCOMPARE(dataHost->bridge->infoBox()->windowTitle(), QString("Tavrolin"));
    dataHost->bridge->infoBox()->hide();
}

void TestWebApi::bridgeViewsStayOnOurPages_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("toBrowser");
    QTest::newRow("script in the page") << "script" << true;
    QTest::newRow("a foreign frame moving the top window") << "frame" << true;
    QTest::newRow("loaded by the program") << "program" << true;
    QTest::newRow("the service over plain http") << "service" << true;
    QTest::newRow("a file outside the application directory") << "file" << false;
}

void TestWebApi::bridgeViewsStayOnOurPages() {
    // Guards against a link, a script or a foreign frame taking the main view, and its bridge, to another origin.
    QFETCH(QString, how);
    QFETCH(bool, toBrowser);
    FakeService foreign;
    FakeService service;
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service.port()));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", "1");
    foreign.setReply("/foreign.html", html(bridgeReport));
    service.setReply("/foreign.html", html(bridgeReport));
    const QString target = (how == "service" ? service : foreign).url("/foreign.html");
    foreign.setReply("/frame.html", html("<script>top.location.href = '" + target.toUtf8() + "';</script>"));
    QList<QUrl> opened;
    Desktop::setOpenUrl([&opened](const QUrl& url) {
        opened << url;
        return true;
    });
    warnings.clear();
    testHandler = qInstallMessageHandler(keepWarnings);

    const QUrl own = mainHost->view->url();
    if (how == "script" || how == "service")
        mainHost->eval("location.href = '" + target + "';");
    else if (how == "frame")
        mainHost->eval("var f = document.createElement('iframe'); f.src = '" + foreign.url("/frame.html") +
                       "'; document.body.appendChild(f);");
    else if (how == "program")
        mainHost->view->load(QUrl(target));
    else
        mainHost->eval("location.href = 'file:///etc/hostname';");
    if (toBrowser)
        QTRY_COMPARE_WITH_TIMEOUT(opened, QList<QUrl>{QUrl(target)}, 10000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(!warnings.filter("Refused to leave the page for file:///etc/hostname").isEmpty(),
                                 10000);

    QCOMPARE(mainHost->view->url(), own);
    QVERIFY(foreign.requestsFor("/foreign.html").isEmpty());
    QVERIFY(service.requestsFor("/foreign.html").isEmpty());
    QCOMPARE(mainHost->eval("bridges()").toString(), QString("object,undefined,undefined"));
}

void TestWebApi::bridgeOnlyInOurPages_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("bridges");
    QTest::newRow("a page on another port") << "foreign"
                                            << "undefined,undefined,undefined";
    QTest::newRow("the service over plain http") << "http"
                                                 << "undefined,undefined,undefined";
    QTest::newRow("the service over https") << "https"
                                            << "undefined,object,undefined";
    QTest::newRow("a file outside the application directory") << "file"
                                                              << "undefined,undefined,undefined";
    QTest::newRow("a sibling folder sharing the application folder's name") << "sibling"
                                                                            << "undefined,undefined,undefined";
}

void TestWebApi::bridgeOnlyInOurPages() {
    // Guards against a page from anywhere else getting the bridge: stored content, downloads, exports, the desktop's
    // URL opener.
    QFETCH(QString, page);
    QFETCH(QString, bridges);
    FakeService foreign;
    FakeService http;
    FakeService https(FakeService::Tls::Trusted);
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(http.port()));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(https.port()));
    for (FakeService* service : {&foreign, &http, &https})
        service->setReply("/page.html", html(bridgeReport));
    // <application folder>-old, as an older copy beside the program would be.
    QDir sibling(QCoreApplication::applicationDirPath() + "-old");
    auto removeSibling = qScopeGuard([&sibling] { sibling.removeRecursively(); });
    if (page == "sibling") {
        QVERIFY(sibling.mkpath("."));
        QFile::remove(sibling.filePath("recorder.html"));
        QVERIFY(QFile::copy(TestSupport::dataPath("pages/recorder.html"), sibling.filePath("recorder.html")));
    }
    const QMap<QString, QUrl> urls{{"foreign", foreign.url("/page.html")},
                                   {"http", http.url("/page.html")},
                                   {"https", https.url("/page.html")},
                                   {"file", TestSupport::dataUrl("pages/recorder.html")},
                                   {"sibling", QUrl::fromLocalFile(sibling.filePath("recorder.html"))}};
    // A view without the navigation guard: what decides is the bridge itself.
    QVERIFY(TestSupport::loadAndWait(dataHost->view, urls.value(page)));
    const QString seen = page == "file" || page == "sibling" ? dataHost->eval("bridges()").toString()
                                                             : dataHost->view->page()->mainFrame()->title();
    QCOMPARE(seen, bridges);
}

void TestWebApi::desktopGetsWebAndMailAddressesOnly_data() {
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("passed");
    QTest::newRow("browser: http") << "openBrowser"
                                   << "http://example.org/a?b=1" << true;
    QTest::newRow("browser: https") << "openBrowser"
                                    << "https://example.org/" << true;
    QTest::newRow("browser: mail") << "openBrowser"
                                   << "mailto:hilfe@example.org" << true;
    QTest::newRow("browser: a file") << "openBrowser"
                                     << "file:///usr/bin/xterm" << false;
    QTest::newRow("browser: a path") << "openBrowser"
                                     << "/usr/bin/xterm" << false;
    QTest::newRow("browser: script") << "openBrowser"
                                     << "javascript:alert(1)" << false;
    QTest::newRow("browser: another scheme") << "openBrowser"
                                             << "smb://host/share" << false;
    QTest::newRow("capture: http") << "captureWord"
                                   << "http://127.0.0.1:1/word" << true;
    QTest::newRow("capture: a file") << "captureWord"
                                     << "file:///etc/hostname" << false;
    QTest::newRow("capture: data") << "captureWord"
                                   << "data:text/plain,x" << false;
}

void TestWebApi::desktopGetsWebAndMailAddressesOnly() {
    // Guards against a page having the desktop open files or run handlers of other schemes, or fetching local files.
    QFETCH(QString, slot);
    QFETCH(QString, url);
    QFETCH(bool, passed);
    QList<QUrl> opened;
    Desktop::setOpenUrl([&opened](const QUrl& u) {
        opened << u;
        return true;
    });
    const int before = mainHost->bridge->downloads()->transfersInProgress();
    if (slot == "openBrowser")
        mainHost->bridge->openBrowser(url);
    else
        mainHost->bridge->captureWord(url);
    if (slot == "openBrowser") {
        QCOMPARE(opened.size(), passed ? 1 : 0);
    } else {
        QCOMPARE(mainHost->bridge->downloads()->transfersInProgress() - before, passed ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(mainHost->bridge->downloads()->transfersInProgress(), before, 10000);
    }
}

void TestWebApi::speedKeptForTheNextRun() {
    // Guards against the learner's speed forgotten at the next start, and against
    // a value in settings.ini that is no speed reaching the player.
    QSettings ini(Settings::settingsFilePath(), QSettings::IniFormat);
    mainHost->bridge->setSpeed(0.7);
    ini.sync();
    QCOMPARE(ini.value(Settings::PlaySpeed).toString(), QString("0.7"));
    QCOMPARE(WebApi(BridgeContext::create(), nullptr).practice()->speed(), 0.7);
    const QList<std::pair<QString, double>> rows{{"schnell", 1.0}, {"9", 2.0}, {"nan", 1.0}};
    for (const auto& [kept, speed] : rows) {
        ini.setValue(Settings::PlaySpeed, kept);
        ini.sync();
        QCOMPARE(WebApi(BridgeContext::create(), nullptr).practice()->speed(), speed);
    }
    ini.remove(Settings::PlaySpeed);
}

void TestWebApi::repetitionPlanTakenWholeOrNotAtAll() {
    // Guards against a plan out of range or unreadable reaching the practice in
    // part, a refusal without a German reason, a plan that cannot be cleared,
    // and a plan set from a page other than the main one.
    using Plan = PracticeController::RepetitionPlan;
    PracticeController* practice = mainHost->bridge->practice();
    auto answer = [](WebApi* bridge, const QString& json) {
        return QJsonDocument::fromJson(bridge->setRepetitionPlan(json).toUtf8()).object();
    };
    const Plan valid{{0.75, 1.0, 1.0}, 1.0};
    // As the practice page sends it, through the published bridge.
    const QJsonObject taken =
        QJsonDocument::fromJson(mainHost
                                    ->eval("WebApi.setRepetitionPlan(JSON.stringify({speeds: [0.75, 1, 1], "
                                           "pauseFactor: 1.0}))")
                                    .toString()
                                    .toUtf8())
            .object();
    QCOMPARE(taken.value("ok"), true);
    QCOMPARE(taken.value("speeds").toArray(), (QJsonArray{0.75, 1, 1}));
    QCOMPARE(practice->repetitionPlan(), valid);
    QCOMPARE(answer(mainHost->bridge, "{\"speeds\": [2], \"pauseFactor\": 3}").value("ok"), true);
    QVERIFY(answer(mainHost->bridge, mainHost->bridge->repetitionPlan()).value("ok").toBool());

    const QStringList refused{"{\"speeds\": [0.75, 2.01]}",
                              "{\"speeds\": [0.49]}",
                              "{\"speeds\": [1,1,1,1,1,1,1,1,1,1,1]}",
                              "{\"speeds\": [1], \"pauseFactor\": 3.1}",
                              "{\"speeds\": [1], \"pauseFactor\": -0.5}",
                              "{\"speeds\": [1, \"1\"]}",
                              "{\"speeds\": 1}",
                              "{\"speeds\": [1], \"pauseFactor\": \"1\"}",
                              "{\"speeds\": [1]",
                              "[1, 1]",
                              "langsam",
                              "{\"speeds\": [1]}" + QString(1000, ' ')};
    for (const QString& json : refused) {
        mainHost->bridge->setRepetitionPlan("{\"speeds\": [0.75, 1, 1], \"pauseFactor\": 1}");
        const QJsonObject no = answer(mainHost->bridge, json);
        QVERIFY2(!no.value("ok").toBool(true), qPrintable(json));
        QVERIFY2(no.value("error").toString().startsWith("Ungültiger Wiederholplan: "), qPrintable(json));
        QCOMPARE(practice->repetitionPlan(), valid);
    }
    for (const QString& json : QStringList{"", "null", " {} ", "{\"speeds\": [], \"pauseFactor\": 2}"}) {
        mainHost->bridge->setRepetitionPlan("{\"speeds\": [0.75, 1, 1], \"pauseFactor\": 1}");
        const QJsonObject cleared = answer(mainHost->bridge, json);
        QVERIFY2(cleared.value("ok").toBool() && cleared.value("speeds").toArray().isEmpty(), qPrintable(json));
        QCOMPARE(practice->repetitionPlan(), Plan{});
    }
    // The practice itself refuses what the bridge would not pass.
    QVERIFY(!practice->setRepetitionPlan(Plan{{1.0}, std::nan("")}));
    QVERIFY(!practice->setRepetitionPlan(Plan{QVector<double>(11, 1.0).toList(), 0}));
    for (Host* other : {dataHost.get(), paragraphHost.get()}) {
        const QJsonObject no = answer(other->bridge, "{\"speeds\": [1]}");
        QCOMPARE(no.value("error").toString(), QString("Den Wiederholplan gibt es nur auf der Hauptseite."));
        QVERIFY(other->bridge->practice()->repetitionPlan().isEmpty());
    }
}

QTEST_MAIN(TestWebApi)
#include "tst_webapi.moc"
