// Start-up and shutdown of the main window: settings defaults, geometry (kept
// within reach of the screens), proxy, the end of the program, the small
// operations the bridge and dialogs call.
#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "app/proxydialog.h"
#include "app/setdialog.h"
#include "app/webview.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "desktop/screens.h"
#include "playback/practicecontroller.h"
#include "support/fakeplayer.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>
#include <QX11Info>

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
    void startNarrowsAnOpenDataDirectory();
    void qtDialogsSpeakChinese();
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
    void closingEndsTheProgram();
    void reachableRectangles_data();
    void reachableRectangles();
    void offScreenWindowsComeBackOnScreen();
    void windowsBarelyOnScreenComeBackWithinReach();
    void webEngineSettingsAndStorage();
    void preferencesAreCentredOnTheWindow();
};

void TestMainWindow::init() {
    TestSupport::useCleanDataDirectory();
}

void TestMainWindow::startNarrowsAnOpenDataDirectory() {
    // Guards against a data directory left open by an older version or a loose umask keeping the log, downloads and
    // media library readable by every user; a folder it links to is not ours to change.
    const QString dir = QDir::cleanPath(dataDirectory());
    QVERIFY(QDir().mkpath(dir + "/articleContent/images"));
    QTemporaryDir elsewhere;
    QVERIFY(QFile::link(elsewhere.path(), dir + "/linked"));
    const auto open = QFileDevice::Permissions(0x7055); // rwxr-xr-x
    for (const QString& folder : {dir, dir + "/articleContent", dir + "/articleContent/images", elsewhere.path()})
        QVERIFY(QFile::setPermissions(folder, open));
    auto window = std::make_unique<MainWindow>(nullptr);
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const auto others = QFileDevice::Permissions(0x0077);
    for (const QString& folder : {dir, dir + "/articleContent", dir + "/articleContent/images"}) {
        const QFileDevice::Permissions now = QFileInfo(folder).permissions();
        QVERIFY2((now & ownerOnly) == ownerOnly && !(now & others), qPrintable(folder));
    }
    QCOMPARE(QFileInfo(elsewhere.path()).permissions() & others, others & open);
}

void TestMainWindow::qtDialogsSpeakChinese() {
    // Guards against Qt's own file dialog (and print and message boxes) showing English in a Chinese program.
    auto window = std::make_unique<MainWindow>(nullptr);
    QFileDialog dialog(window.get());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QLabel* lookIn = dialog.findChild<QLabel*>("lookInLabel");
    QVERIFY(lookIn);
    QCOMPARE(lookIn->text(), QString("查找范围："));
    QCOMPARE(QCoreApplication::translate("QPrintPreviewDialog", "Print Preview"), QString("打印预览"));
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
    // A strip a third of the screen wide, not a card over most of the practice view.
    QCOMPARE(Settings::componentRectDefault(QSize(1920, 1040)), QRect(640, 830, 640, 150));
    QCOMPARE(Settings::componentRectDefault(QSize(1281, 1024)), QRect(427, 814, 427, 150));
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
    // Transparent only where a compositor blends it; black corners otherwise.
    QCOMPARE(paragraph->testAttribute(Qt::WA_TranslucentBackground), QX11Info::isCompositingManagerRunning());
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
    QCOMPARE(window.bridge()->shell(), static_cast<ShellWindow*>(&window));
    QCOMPARE(window.bridge()->readingSettings().playRepeatTimes, QString("5"));
}

void TestMainWindow::applyProxy_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("all empty") << QStringList{"", "", "", ""} << int(QNetworkProxy::NoProxy) << "" << 0;
    QTest::newRow("host and port") << QStringList{"proxy", "8080", "u", "p"} << int(QNetworkProxy::HttpProxy) << "proxy"
                                   << 8080;
    // Stored by hand or by an older version: such a proxy would cut the network off, so none is used.
    QTest::newRow("only a port") << QStringList{"", "8080", "", ""} << int(QNetworkProxy::NoProxy) << "" << 0;
    QTest::newRow("only a host") << QStringList{"proxy", "", "", ""} << int(QNetworkProxy::NoProxy) << "" << 0;
    QTest::newRow("port not a number") << QStringList{"proxy", "80a", "", ""} << int(QNetworkProxy::NoProxy) << "" << 0;
    QTest::newRow("port above 16 bits") << QStringList{"proxy", "70000", "u", "p"} << int(QNetworkProxy::NoProxy) << ""
                                        << 0;
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
    QCOMPARE(proxy.user(), type == QNetworkProxy::HttpProxy ? fields[2] : QString());
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

void TestMainWindow::closingEndsTheProgram() {
    // Guards against windows without the main window as parent (proxy window, information box,
    // pop-up view) keeping the program running after its main window has closed.
    auto* window = new MainWindow(nullptr);
    FakePlayer* player = nullptr;
    window->bridge()->practice()->createPlayer = [&player] {
        auto made = std::make_unique<FakePlayer>();
        player = made.get();
        return std::unique_ptr<PracticePlayer>(std::move(made));
    };
    window->bridge()->initPlay("/data/a.mp3", "local", {0, 1000});
    QVERIFY(player);
    player->fileLoads(); // playing

    window->showCentred(window->proxyWindow());
    window->bridge()->showInfo("Fertig");
    QMessageBox* info = window->bridge()->infoBox();
    QVERIFY(info->isVisible());
    const bool blocking = QApplication::activeModalWidget();
    window->paragraphWindow()->show();
    window->view()->page()->mainFrame()->evaluateJavaScript("window.open('data:text/html,<p>pop-up</p>');");
    QWidget* popup = nullptr;
    QTRY_VERIFY([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QWebView*>(w) && w->isVisible())
                popup = w;
        return popup;
    }());
    QList<QWidget*> owners;
    for (QWidget* w : {static_cast<QWidget*>(window->proxyWindow()), static_cast<QWidget*>(info), popup})
        owners << w->parentWidget();

    const QRect placed(130, 140, 1000, 700);
    window->setGeometry(placed);
    QTRY_COMPARE(window->geometry(), placed);

    // The user closes the main window while the program runs its event loop.
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    stuck.start(15000);
    QCOMPARE(QApplication::exec(), 0);
    stuck.stop();

    // The windows belong to the main window; the box informs without blocking any window.
    QCOMPARE(owners, (QList<QWidget*>{window, window, window}));
    QVERIFY(!blocking);

    // Playback stopped and the place was kept as the window closed, not when it was destroyed.
    QVERIFY(player->line.isPaused() && player->calls.contains("pause"));
    QCOMPARE(settingsFile().value(Settings::MainWindowRect).toRect(), placed);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->metaObject()->className()));
    delete window;
}

void TestMainWindow::reachableRectangles_data() {
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("grip"); // relative to the stored rectangle
    QTest::addColumn<QRect>("restored");
    QTest::addColumn<QRect>("inside");
    const QList<QRect> two{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
    const QRect plain(100, 100, 920, 675);
    const QRect titleBar(0, -30, 920, 30);
    const QRect handle(0, 0, 800, 40);
    QTest::newRow("on a screen") << two << plain << titleBar << plain << plain;
    QTest::newRow("a corner on the second")
        << two << QRect(3000, 900, 800, 500) << handle << QRect(2400, 524, 800, 500) << QRect(2400, 524, 800, 500);
    QTest::newRow("right of the second (a third unplugged)")
        << two << QRect(3500, 300, 800, 500) << handle << QRect(2400, 300, 800, 500) << QRect(2400, 300, 800, 500);
    QTest::newRow("below both, nearer the first")
        << two << QRect(200, 1500, 800, 500) << handle << QRect(200, 540, 800, 500) << QRect(200, 540, 800, 500);
    QTest::newRow("left of the first, larger than it")
        << two << QRect(-4000, -50, 2500, 1200) << handle << QRect(0, 0, 1920, 1040) << QRect(0, 0, 1920, 1040);
    QTest::newRow("the old default paragraph rectangle, 60 % below the screen")
        << QList<QRect>{QRect(0, 0, 1920, 1040)} << QRect(560, 840, 800, 500) << handle << QRect(560, 540, 800, 500)
        << QRect(560, 540, 800, 500);
    QTest::newRow("from 100 % to 150 %: buttons off the right edge")
        << QList<QRect>{QRect(0, 0, 1280, 720)} << QRect(560, 580, 800, 120) << handle << QRect(480, 580, 800, 120)
        << QRect(480, 580, 800, 120);
    QTest::newRow("from 100 % to 150 %: mostly below the bottom")
        << QList<QRect>{QRect(0, 0, 1280, 720)} << QRect(100, 600, 920, 675) << titleBar << QRect(100, 45, 920, 675)
        << QRect(100, 45, 920, 675);
    QTest::newRow("title bar above the screen") << QList<QRect>{QRect(0, 0, 1920, 1040)} << QRect(100, 10, 920, 675)
                                                << titleBar << QRect(100, 30, 920, 675) << QRect(100, 10, 920, 675);
    QTest::newRow("title bar across two screens")
        << two << QRect(1500, 100, 920, 675) << titleBar << QRect(1920, 100, 920, 675) << QRect(1920, 100, 920, 675);
    QTest::newRow("screens with an origin") << QList<QRect>{QRect(1280, 24, 1920, 1056)} << QRect(0, 0, 800, 500)
                                            << handle << QRect(1280, 24, 800, 500) << QRect(1280, 24, 800, 500);
    QTest::newRow("no screens") << QList<QRect>{} << QRect(5000, 5000, 800, 500) << handle
                                << QRect(5000, 5000, 800, 500) << QRect(5000, 5000, 800, 500);
}

void TestMainWindow::reachableRectangles() {
    // Guards against windows restored where no screen shows them or where only a corner or a few pixels of them
    // show (their title bar or buttons out of reach), and against moving them although they are on one.
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, stored);
    QFETCH(QRect, grip);
    QFETCH(QRect, restored);
    QFETCH(QRect, inside);
    QCOMPARE(Screens::reachable(stored, grip, screens), restored);
    QCOMPARE(Screens::inside(stored, screens), inside);
}

void TestMainWindow::offScreenWindowsComeBackOnScreen() {
    // Guards against both windows being mapped with no pixel on screen after a monitor has gone.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        QSettings s = settingsFile();
        s.setValue(Settings::MainWindowRect, QRect(screen.right() + 600, 200, 920, 675));
        s.setValue(Settings::ComponentRect, QRect(300, screen.bottom() + 900, 800, 300));
    }
    auto window = std::make_unique<MainWindow>(nullptr);
    // Placed on the screen by the program, whatever a window manager would do.
    QVERIFY(screen.contains(window->geometry()));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Frame and title bar included, once a window manager has framed it.
    QTRY_VERIFY(screen.contains(window->frameGeometry()));
    QCOMPARE(window->size(), QSize(920, 675));
    // No larger than the default strip of this screen.
    QCOMPARE(window->paragraphWindow()->geometry(), QRect(300, screen.bottom() + 1 - 150, screen.width() / 3, 150));
    window.reset();
    TestSupport::deleteTopLevelWindows();

    // On first use the paragraph window lies wholly on the screen.
    TestSupport::useCleanDataDirectory();
    window = std::make_unique<MainWindow>(nullptr);
    QVERIFY(screen.contains(window->paragraphWindow()->geometry()));
    QCOMPARE(window->paragraphWindow()->size(), QSize(screen.width() / 3, 150));
}

void TestMainWindow::windowsBarelyOnScreenComeBackWithinReach() {
    // Guards against windows restored with a few pixels on the screen (as after a change to a higher scale factor):
    // the main window mostly below the screen, the desktop window with its buttons past the edge.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        QSettings s = settingsFile();
        s.setValue(Settings::MainWindowRect, QRect(100, screen.bottom() - 40, 920, 675));
        s.setValue(Settings::ComponentRect, QRect(screen.right() - 300, screen.bottom() - 200, 640, 150));
    }
    auto window = std::make_unique<MainWindow>(nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY(screen.contains(window->frameGeometry()));
    QCOMPARE(window->size(), QSize(920, 675));
    QCOMPARE(window->paragraphWindow()->geometry(), QRect(screen.right() + 1 - 640, screen.bottom() - 200, 640, 150));
}

void TestMainWindow::webEngineSettingsAndStorage() {
    // Guards against the pages losing their local storage (offline lists live there), and against plug-ins (foreign
    // code in our process) being switched on.
    QWebSettings::globalSettings()->setAttribute(QWebSettings::PluginsEnabled, true);
    MainWindow window(nullptr);
    QWebSettings* web = QWebSettings::globalSettings();
    for (auto attribute : {QWebSettings::LocalStorageEnabled, QWebSettings::OfflineStorageDatabaseEnabled,
                           QWebSettings::OfflineWebApplicationCacheEnabled, QWebSettings::DeveloperExtrasEnabled,
                           QWebSettings::JavascriptEnabled, QWebSettings::JavascriptCanOpenWindows})
        QVERIFY(web->testAttribute(attribute));
    QVERIFY(!web->testAttribute(QWebSettings::PluginsEnabled));
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
