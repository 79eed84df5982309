// The bridge against real web frames: publishing, page synchronisation,
// settings push, navigation and safe transport of hostile text.
#include "app/webview.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/settings.h"
#include "playback/practicecontroller.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTest>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>

namespace {

// One web view inside a host window whose object name selects the bridge's role.
struct Host {
    explicit Host(const QString& name, bool mainKind = false) {
        window.setObjectName(name);
        view = mainKind ? new WebView(&window) : new QWebView(&window);
        bridge = new WebApi(view);
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

private:
    std::unique_ptr<Host> mainHost, dataHost, paragraphHost;
};

void TestWebApi::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QWebSettings::globalSettings()->setAttribute(QWebSettings::JavascriptCanOpenWindows, true);
}

void TestWebApi::init() {
    mainHost = std::make_unique<Host>("MainWindow", true);
    dataHost = std::make_unique<Host>("dataDialog");
    paragraphHost = std::make_unique<Host>("paragraph");
    for (Host* host : {mainHost.get(), dataHost.get(), paragraphHost.get()})
        QVERIFY(TestSupport::loadAndWait(host->view, TestSupport::dataUrl("pages/recorder.html")));
    DownloadRouter::setReady(false);
}

void TestWebApi::cleanup() {
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
            QVERIFY(TestSupport::loadAndWait(host->view, TestSupport::dataUrl("pages/recorder.html")));
    }
    QCOMPARE(PageScript::frame(PageScript::Page::Main), mainHost->view->page()->mainFrame());
    QCOMPARE(DownloadRouter::network(), dataHost->view->page()->networkAccessManager());

    Host other("somethingElse");
    QVERIFY(TestSupport::loadAndWait(other.view, TestSupport::dataUrl("pages/recorder.html")));
    QCOMPARE(other.eval("bridges()").toString(), QString("undefined,undefined,undefined"));
}

void TestWebApi::indexPageOnlyCopiesDownloadState() {
    // Guards against the index report running the full synchronisation.
    dataHost->eval("store.downloadState = 'a1,a2';");
    mainHost->bridge->pageLoaded("index");
    QCOMPARE(mainHost->calls(), QStringList{"setData(downloadState|a1,a2)"});
    QCOMPARE(dataHost->calls(), QStringList{"getData(downloadState)"});
    QVERIFY(paragraphHost->calls().isEmpty());
    QVERIFY(!DownloadRouter::isReady());
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

    QCOMPARE(mainHost->calls(), (QStringList{"setSet(Large|Night|tap|middle|explain|Verdana|left)",
                                             "setData(volume|80)", "setData(userInfo|{\"name\":\"Ann\"})",
                                             "setData(repeatState|repeat)"}));
    QCOMPARE(dataHost->calls(), (QStringList{"ListenDb.getDownloadData()", "getData(volume)", "getData(userInfo)",
                                             "getData(repeatState)", "ListenDb.getArticleData()"}));
    QCOMPARE(paragraphHost->calls(), QStringList{"paragraph.saveState(explainTipState|explain)"});
    QCOMPARE(bridge->volume(), 80);
    QCOMPARE(bridge->userInfo(), QString("{\"name\":\"Ann\"}"));
    QCOMPARE(bridge->practice()->repeatState, QString("repeat"));
    QVERIFY(DownloadRouter::isReady());
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
    QTest::newRow("ids") << "c1" << "a1" << "lang=de&channelId=c1&articleId=a1";
    QTest::newRow("empty") << "" << "" << "lang=de&channelId=&articleId=";
}

void TestWebApi::gotoLocalComposesTheQuery() {
    QFETCH(QString, channel);
    QFETCH(QString, article);
    QFETCH(QString, query);
    DownloadRouter::setReady(true);
    mainHost->bridge->gotoLocal(channel, article);
    const QUrl url = mainHost->view->page()->mainFrame()->requestedUrl();
    QCOMPARE(url.query(), query);
    QVERIFY(url.path().endsWith("/local/local.html"));
    QCOMPARE(mainHost->bridge->pageMode(), QString("local"));
    QVERIFY(!DownloadRouter::isReady());
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
    mainHost->eval(QString("window.open('%1');").arg(TestSupport::dataUrl("pages/popup.html").toString()));
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
    dataHost->eval(QString("window.open('%1');").arg(TestSupport::dataUrl("pages/popup.html").toString()));
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

QTEST_MAIN(TestWebApi)
#include "tst_webapi.moc"
