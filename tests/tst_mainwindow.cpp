// Start-up and shutdown of the main window: settings defaults, geometry,
// proxy, the small operations the bridge and dialogs call.
#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "app/proxydialog.h"
#include "app/setdialog.h"
#include "app/webview.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>

#include <memory>

namespace {

QSettings settingsFile() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { TestSupport::deleteTopLevelWindows(); }
    void firstStartWritesOnlyTheReadingDefaults();
    void emptyStoredValueIsReplacedByItsDefault();
    void geometryIsSavedByWindowState_data();
    void geometryIsSavedByWindowState();
    void maximizedStateIsRestored();
    void componentRectDefault();
    void paragraphWindowUsesStoredGeometry();
    void dialogsAreFilledFromTheStoredSettings();
    void applyProxy_data();
    void applyProxy();
    void translationStateIsStoredAndSelected();
    void hasTranslationControlsTheOption();
    void printActionFollowsThePage();
    void closingClosesTheParagraphWindow();
    void webEngineSettingsAndStorage();
    void preferencesAreCentredOnTheWindow();
};

void TestMainWindow::init() {
    TestSupport::useCleanDataDirectory();
}

void TestMainWindow::firstStartWritesOnlyTheReadingDefaults() {
    // Guards against defaults not being written back, or geometry/proxy keys written at start.
    auto window = std::make_unique<MainWindow>(nullptr);
    QCOMPARE(window->windowTitle(), QString("Tavrolin"));
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMaximized());
    QCOMPARE(window->geometry(), QRect(100, 100, 920, 675));
    QCOMPARE(window->minimumSize(), QSize(912, 675));
    QVERIFY(window->indexPageUrl().endsWith("/static/index.html?lang=de&version=3.3.1"));
    QVERIFY(window->indexPageUrl().startsWith("file:///"));

    QSettings s = settingsFile();
    QStringList keys = s.allKeys();
    keys.sort();
    QCOMPARE(keys, (QStringList{"ExplainState", "ExplainTipState", "FontFamily", "FontLevel", "PlayRepeatTimes",
                                "TextAlign", "Theme", "TranslationState"}));
    for (const auto& entry : Settings::readingSettings)
        QCOMPARE(s.value(entry.key).toString(), QString(entry.value));

    // Exactly one hidden offline-data window.
    int dataWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "dataDialog") {
            ++dataWindows;
            QVERIFY(!w->isVisible());
        }
    }
    QCOMPARE(dataWindows, 1);
}

void TestMainWindow::emptyStoredValueIsReplacedByItsDefault() {
    {
        QSettings s = settingsFile();
        s.setValue(Settings::Theme, "");
        s.setValue(Settings::FontLevel, "Larger");
    }
    auto window = std::make_unique<MainWindow>(nullptr);
    QSettings s = settingsFile();
    QCOMPARE(s.value(Settings::Theme).toString(), QString("Normal"));
    QCOMPARE(s.value(Settings::FontLevel).toString(), QString("Larger"));
    QCOMPARE(window->bridge()->readingSettings().theme, QString("Normal"));
    QCOMPARE(window->bridge()->readingSettings().fontLevel, QString("Larger"));
}

void TestMainWindow::geometryIsSavedByWindowState_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("storedMax");
    QTest::addColumn<bool>("rectWritten");
    QTest::newRow("normal") << int(Qt::WindowNoState) << false << true;
    QTest::newRow("maximized") << int(Qt::WindowMaximized) << true << false;
    QTest::newRow("minimized") << int(Qt::WindowMinimized) << false << false;
}

void TestMainWindow::geometryIsSavedByWindowState() {
    // Guards against a maximized or minimized geometry overwriting the normal one.
    QFETCH(int, state);
    QFETCH(bool, storedMax);
    QFETCH(bool, rectWritten);
    const QRect previous(50, 60, 930, 700);
    {
        QSettings s = settingsFile();
        s.setValue(Settings::MainWindowRect, previous);
    }
    auto window = std::make_unique<MainWindow>(nullptr);
    QCOMPARE(window->geometry(), previous);
    const QRect moved(120, 130, 1000, 720);
    window->setGeometry(moved);
    if (state == Qt::WindowMaximized)
        window->showMaximized();
    else if (state == Qt::WindowMinimized)
        window->showMinimized();
    window.reset();

    QSettings s = settingsFile();
    QCOMPARE(s.value(Settings::MainWindowIsMax).toBool(), storedMax);
    QVERIFY(s.contains(Settings::MainWindowIsMax));
    QCOMPARE(s.value(Settings::MainWindowRect).toRect(), rectWritten ? moved : previous);
}

void TestMainWindow::maximizedStateIsRestored() {
    {
        QSettings s = settingsFile();
        s.setValue(Settings::MainWindowRect, QRect(70, 80, 940, 690));
        s.setValue(Settings::MainWindowIsMax, true);
    }
    MainWindow window(nullptr);
    QVERIFY(window.isMaximized());
    QCOMPARE(window.normalGeometry(), QRect(70, 80, 940, 690));
}

void TestMainWindow::componentRectDefault() {
    QCOMPARE(Settings::componentRectDefault(QSize(1920, 1040)), QRect(560, 840, 800, 500));
    QCOMPARE(Settings::componentRectDefault(QSize(1281, 1024)), QRect(240, 824, 800, 500));
}

void TestMainWindow::paragraphWindowUsesStoredGeometry() {
    {
        QSettings s = settingsFile();
        s.setValue(Settings::ComponentRect, QRect(11, 22, 640, 120));
    }
    MainWindow window(nullptr);
    Paragraph* paragraph = window.paragraphWindow();
    QCOMPARE(paragraph->geometry(), QRect(11, 22, 640, 120));
    QCOMPARE(paragraph->objectName(), QString("paragraph"));
    QVERIFY(!paragraph->isVisible());
    QVERIFY(paragraph->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(int(paragraph->windowFlags()), 0x40c0b);
    QCOMPARE(window.bridge()->shell(), static_cast<ShellWindow*>(&window));
    QVERIFY(!settingsFile().value(Settings::ComponentRect).isNull());
}

void TestMainWindow::dialogsAreFilledFromTheStoredSettings() {
    // Guards against the boxes and the dialog's strings drifting apart at start-up.
    {
        QSettings s = settingsFile();
        s.setValue(Settings::FontLevel, "Largest");
        s.setValue(Settings::Theme, "Sepia");
        s.setValue(Settings::TextAlign, "left");
        s.setValue(Settings::FontFamily, "Verdana");
        s.setValue(Settings::ExplainState, "close");
        s.setValue(Settings::ExplainTipState, "explain");
        s.setValue(Settings::TranslationState, "off");
        s.setValue(Settings::PlayRepeatTimes, "5");
        s.setValue(Settings::ProxyHost, "proxy.local");
        s.setValue(Settings::ProxyPassword, "p@ss:w/rd\"");
    }
    MainWindow window(nullptr);
    SetDialog* dialog = window.preferencesDialog();
    QCOMPARE(dialog->box("fontsize")->currentIndex(), 4);
    QCOMPARE(dialog->box("theme")->currentIndex(), 2);
    QCOMPARE(dialog->box("textAlign")->currentIndex(), 1);
    QCOMPARE(dialog->box("fontFamily")->currentText(), QString("Verdana"));
    QCOMPARE(dialog->box("translationState")->currentIndex(), 2);
    QCOMPARE(dialog->box("explainState")->currentIndex(), 0);
    QCOMPARE(dialog->box("explainTipState")->currentIndex(), 1);
    QVERIFY(!dialog->box("explainTipState")->isEnabled());
    QCOMPARE(dialog->box("playRepeatTimes")->currentIndex(), 2);
    QCOMPARE(dialog->bridge(), window.bridge());
    QCOMPARE(window.proxyWindow()->findChild<QLineEdit*>("host")->text(), QString("proxy.local"));
    QCOMPARE(window.proxyWindow()->findChild<QLineEdit*>("password")->text(), QString("p@ss:w/rd\""));
    QCOMPARE(window.proxyWindow()->mainWindow(), &window);
    QCOMPARE(window.bridge()->shell(), static_cast<ShellWindow*>(&window));
    QCOMPARE(window.bridge()->readingSettings().playRepeatTimes, QString("5"));
}

void TestMainWindow::applyProxy_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("all empty") << QStringList{"", "", "", ""} << int(QNetworkProxy::NoProxy) << "" << 0;
    QTest::newRow("only a port") << QStringList{"", "8080", "", ""} << int(QNetworkProxy::HttpProxy) << "" << 8080;
    QTest::newRow("only a host") << QStringList{"proxy", "", "", ""} << int(QNetworkProxy::HttpProxy) << "proxy" << 0;
    QTest::newRow("port not a number") << QStringList{"proxy", "80a", "", ""} << int(QNetworkProxy::HttpProxy)
                                       << "proxy" << 0;
    QTest::newRow("port above 16 bits") << QStringList{"proxy", "70000", "u", "p"} << int(QNetworkProxy::HttpProxy)
                                        << "proxy" << (70000 & 0xFFFF);
}

void TestMainWindow::applyProxy() {
    QFETCH(QStringList, fields);
    QFETCH(int, type);
    QFETCH(QString, host);
    QFETCH(int, port);
    MainWindow window(nullptr);
    window.applyProxy(fields[0], fields[1], fields[2], fields[3]);
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    QCOMPARE(int(proxy.type()), type);
    QCOMPARE(proxy.hostName(), host);
    QCOMPARE(int(proxy.port()), port);
    QCOMPARE(proxy.user(), fields[2]);
    QCOMPARE(window.view()->page()->mainFrame()->requestedUrl().toString(), window.indexPageUrl());
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestMainWindow::translationStateIsStoredAndSelected() {
    MainWindow window(nullptr);
    QComboBox* box = window.preferencesDialog()->box("translationState");
    window.setTranslationState("tap");
    QCOMPARE(box->currentIndex(), 1);
    QCOMPARE(settingsFile().value(Settings::TranslationState).toString(), QString("tap"));
    window.setTranslationState("sideways"); // not a box value: stored, box unchanged
    QCOMPARE(box->currentIndex(), 1);
    QCOMPARE(settingsFile().value(Settings::TranslationState).toString(), QString("sideways"));
}

void TestMainWindow::hasTranslationControlsTheOption() {
    MainWindow window(nullptr);
    QComboBox* box = window.preferencesDialog()->box("translationState");
    window.bridge()->saveData("hasTranslation", "false");
    QVERIFY(!box->isEnabled());
    window.bridge()->saveData("hasTranslation", "true");
    QVERIFY(box->isEnabled());
    window.bridge()->saveData("hasTranslation", "TRUE");
    QVERIFY(!box->isEnabled());
}

void TestMainWindow::printActionFollowsThePage() {
    MainWindow window(nullptr);
    auto* print = window.findChild<QAction*>("action_Print");
    QVERIFY(!print->isEnabled());
    window.bridge()->setHtmlPage("<h1>Der Hund</h1>", "Der Hund");
    QVERIFY(print->isEnabled());
    QCOMPARE(window.printTitleText(), QString("Der Hund"));
    QVERIFY(window.printDocument()->toPlainText().contains("Der Hund"));
    window.bridge()->setPrintAble(false);
    QVERIFY(!print->isEnabled());
    window.bridge()->setPrintAble(true);
    QVERIFY(print->isEnabled());
}

void TestMainWindow::closingClosesTheParagraphWindow() {
    MainWindow window(nullptr);
    window.paragraphWindow()->show();
    QVERIFY(window.close());
    QVERIFY(!window.paragraphWindow()->isVisible());
}

void TestMainWindow::webEngineSettingsAndStorage() {
    // Guards against the pages losing their local storage (offline lists live there).
    MainWindow window(nullptr);
    QWebSettings* web = QWebSettings::globalSettings();
    for (auto attribute : {QWebSettings::LocalStorageEnabled, QWebSettings::OfflineStorageDatabaseEnabled,
                           QWebSettings::OfflineWebApplicationCacheEnabled, QWebSettings::DeveloperExtrasEnabled,
                           QWebSettings::PluginsEnabled, QWebSettings::JavascriptEnabled,
                           QWebSettings::JavascriptCanOpenWindows})
        QVERIFY(web->testAttribute(attribute));
    QCOMPARE(QWebSettings::offlineStorageDefaultQuota(), qint64(104857600));
    QCOMPARE(web->localStoragePath(), dataDirectory());
    QCOMPARE(QWebSettings::offlineStoragePath(), dataDirectory());
    QCOMPARE(window.view()->contextMenuPolicy(), Qt::NoContextMenu);
}

void TestMainWindow::preferencesAreCentredOnTheWindow() {
    MainWindow window(nullptr);
    window.setGeometry(200, 150, 1000, 700);
    window.showPreferences();
    SetDialog* dialog = window.preferencesDialog();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->size(), QSize(440, 350));
    QCOMPARE(dialog->x(), window.x() + window.width() / 2 - dialog->width() / 2);
    QCOMPARE(dialog->y(), window.y() + window.height() / 2 - dialog->height() / 2);
    QCOMPARE(dialog->windowTitle(), QString("偏好设置"));
    dialog->hide();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
