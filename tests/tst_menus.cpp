// The menu bar and its commands: actions as designed, the two information
// boxes, the service links, copy, quit, the print preview and printing to PDF,
// and the Chinese translation of the menus.
#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "app/webview.h"
#include "core/appinfo.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWebPage>
#include <QWebView>

#include <memory>

namespace {

// What a message box showed when the window ran it.
struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QWidget* parent = nullptr;
};

// Receives the URLs the program hands to the system's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("http", this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("http"); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Height of the first word box that pdftotext reports for `word`; -1 when absent.
double wordHeight(const QString& pdf, const QString& word) {
    const QString xml = run("pdftotext", {"-bbox", pdf, "-"});
    const QRegularExpression pattern("<word xMin=\"[0-9.]+\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">" +
                                     QRegularExpression::escape(word) + "</word>");
    const QRegularExpressionMatch match = pattern.match(xml);
    return match.hasMatch() ? match.captured(2).toDouble() - match.captured(1).toDouble() : -1;
}

// The article text drawn directly in the given face and size, as a yardstick.
QString referencePdf(const QString& dir, const QFont& font) {
    const QString path = dir + QString("/reference-%1.pdf").arg(font.pointSize());
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    painter.setFont(font);
    painter.drawText(QPointF(1000, 1000), "Wiese");
    return path;
}

const QString article = "<h1>Der Hund</h1><p>Der kleine Hund läuft über die Wiese.</p>";

} // namespace

class TestMenus : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void menusInOrder();
    void actions_data();
    void actions();
    void shortcutBoxListsTheTwelveKeys();
    void aboutBox();
    void serviceLinksOpenInTheBrowser_data();
    void serviceLinksOpenInTheBrowser();
    void copyPutsTheSelectionOnTheClipboard_data();
    void copyPutsTheSelectionOnTheClipboard();
    void quitClosesWindowsAndEndsTheLoop();
    void printNeedsADocument();
    void previewsReuseOnePrinterAndResetIt();
    void printPageWritesTimesElevenOnA4_data();
    void printPageWritesTimesElevenOnA4();
    void menusAreTranslated();

private:
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    // Makes the window record message boxes instead of running them.
    void catchBoxes();

    std::unique_ptr<MainWindow> window;
    QList<ShownBox> boxes;
};

void TestMenus::init() {
    TestSupport::useCleanDataDirectory();
    window = std::make_unique<MainWindow>(nullptr);
    boxes.clear();
}

void TestMenus::cleanup() {
    Desktop::setExec(nullptr);
    window.reset();
    TestSupport::deleteTopLevelWindows();
}

void TestMenus::catchBoxes() {
    Desktop::setExec([this](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (!box)
            return 0;
        ShownBox shown{box->windowTitle(), box->text(), box->icon(), {}, box->parentWidget()};
        for (QAbstractButton* button : box->buttons())
            shown.buttons << button->text();
        boxes << shown;
        return 0;
    });
}

void TestMenus::menusInOrder() {
    // Guards against a menu or an action in the wrong place (users find commands by position).
    QStringList bar;
    for (QAction* a : window->menuBar()->actions())
        bar << a->menu()->objectName() + " " + a->text();
    QCOMPARE(bar, (QStringList{"menu_File &File", "menuEdit &Edit", "menu_Help &Help"}));

    auto entries = [this](const char* menu) {
        QStringList out;
        for (QAction* a : window->findChild<QMenu*>(menu)->actions())
            out << (a->isSeparator() ? QString("-") : a->objectName());
        return out;
    };
    QCOMPARE(entries("menu_File"), (QStringList{"action_OpenMedia", "-", "action_Preferences", "-", "action_Proxy", "-",
                                                "action_Print", "-", "action_Quit"}));
    QCOMPARE(entries("menuEdit"), QStringList{"action_Copy"});
    QCOMPARE(entries("menu_Help"), (QStringList{"action_Homepage", "action_Support", "action_Shortcuts", "-",
                                                "action_update", "action_About"}));
}

void TestMenus::actions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("enabled");
    const int text = QAction::TextHeuristicRole;
    QTest::newRow("OpenMedia") << "action_OpenMedia"
                               << "Open media file..."
                               << "Ctrl+O" << text << true;
    QTest::newRow("Preferences") << "action_Preferences"
                                 << "&Preferences..."
                                 << "Ctrl+," << int(QAction::PreferencesRole) << true;
    QTest::newRow("Proxy") << "action_Proxy"
                           << "&Proxy"
                           << "Ctrl+." << text << true;
    QTest::newRow("Print") << "action_Print"
                           << "&Print"
                           << "Ctrl+P" << text << false;
    QTest::newRow("Quit") << "action_Quit"
                          << "&Quit"
                          << "Ctrl+Q" << int(QAction::QuitRole) << true;
    QTest::newRow("Copy") << "action_Copy"
                          << "&Copy"
                          << "Ctrl+C" << text << true;
    QTest::newRow("Homepage") << "action_Homepage"
                              << "&Homepage..."
                              << "" << text << true;
    QTest::newRow("Support") << "action_Support"
                             << "&Support..."
                             << "" << text << true;
    QTest::newRow("Shortcuts") << "action_Shortcuts"
                               << "快捷键介绍"
                               << "Ctrl+S" << text << true;
    QTest::newRow("update") << "action_update"
                            << "检查更新..."
                            << "" << text << true;
    QTest::newRow("About") << "action_About"
                           << "&About"
                           << "" << int(QAction::AboutRole) << true;
}

void TestMenus::actions() {
    // Guards against wrong texts, shortcuts, roles or a start state that allows printing nothing.
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(int, role);
    QFETCH(bool, enabled);
    QAction* a = action(name.toLatin1().constData());
    QVERIFY(a);
    QCOMPARE(a->text(), text);
    QCOMPARE(a->shortcut(), QKeySequence(shortcut));
    QCOMPARE(int(a->menuRole()), role);
    QCOMPARE(a->isEnabled(), enabled);
    QVERIFY(!a->isCheckable());
    if (name == "action_Preferences") {
        QCOMPARE(a->iconText(), QString("Preferences"));
        QCOMPARE(a->toolTip(), QString("Preferences"));
    }
    if (name == "action_Shortcuts")
        QCOMPARE(a->toolTip(), QString("Shortcuts"));
}

void TestMenus::shortcutBoxListsTheTwelveKeys() {
    // Guards against a missing, extra or reordered key line.
    catchBoxes();
    action("action_Shortcuts")->trigger();
    QCOMPARE(boxes.size(), 1);
    const ShownBox& box = boxes.first();
    QCOMPARE(box.title, QString("Tavrolin"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList{"确定"});
    QCOMPARE(box.parent, window.get());
    const QStringList lines = box.text.split("\r\n");
    QCOMPARE(lines.mid(0, 2), (QStringList{"《Tavrolin》桌面版快捷键介绍", ""}));
    QCOMPARE(lines.mid(2),
             (QStringList{"播放/暂停 （空格键）", "上一句 （←）", "下一句 （→）", "增大音量 （↑）", "减小音量 （↓）",
                          "上一篇 （Shift + ←）", "下一篇 （Shift + →）", "桌面显示 （d）", "听力模式 （m）",
                          "播放方式 （r）", "向上翻页 （pageUp）", "向下翻页 （pageDown）", ""}));
}

void TestMenus::aboutBox() {
    // Guards against a wrong version or web address in the about box.
    catchBoxes();
    action("action_About")->trigger();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QString("Tavrolin"));
    QCOMPARE(boxes.first().icon, QMessageBox::Information);
    QCOMPARE(boxes.first().buttons, QStringList{"确定"});
    QCOMPARE(boxes.first().parent, window.get());
    QCOMPARE(boxes.first().text,
             QString("《Tavrolin》桌面版\r\n\r\n版本： 3.3.1\r\n官方网站： ") + AppInfo::serviceWebsiteUrl());
    QCOMPARE(AppInfo::serviceWebsiteUrl(),
             QString("http://%1:%2/").arg(TAVROLIN_DEFAULT_SERVICE_HOST).arg(TAVROLIN_DEFAULT_SERVICE_HTTP_PORT));
}

void TestMenus::serviceLinksOpenInTheBrowser_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url");
    QTest::newRow("Homepage") << "action_Homepage" << AppInfo::serviceWebsiteUrl();
    QTest::newRow("Support") << "action_Support" << AppInfo::serviceWebsiteUrl() + "support";
}

void TestMenus::serviceLinksOpenInTheBrowser() {
    // Guards against the links pointing anywhere but the service's own pages.
    QFETCH(QString, name);
    QFETCH(QString, url);
    UrlCatcher catcher;
    action(name.toLatin1().constData())->trigger();
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl(url)});
}

void TestMenus::copyPutsTheSelectionOnTheClipboard_data() {
    QTest::addColumn<bool>("select");
    QTest::addColumn<QString>("expected");
    QTest::newRow("selection") << true << "Der kleine Hund";
    QTest::newRow("nothing selected") << false << "";
}

void TestMenus::copyPutsTheSelectionOnTheClipboard() {
    // Guards against copying into the selection buffer, or leaving stale text when nothing is selected.
    QFETCH(bool, select);
    QFETCH(QString, expected);
    QSignalSpy loaded(window->view(), &QWebView::loadFinished);
    window->view()->setHtml("<p>Der kleine Hund</p>");
    QVERIFY(!loaded.isEmpty() || loaded.wait(5000));
    if (select)
        window->view()->page()->triggerAction(QWebPage::SelectAll);
    QApplication::clipboard()->setText("stale", QClipboard::Clipboard);
    action("action_Copy")->trigger();
    QCOMPARE(QApplication::clipboard()->text(QClipboard::Clipboard).trimmed(), expected);
}

void TestMenus::quitClosesWindowsAndEndsTheLoop() {
    // Guards against Quit leaving the paragraph window open or the event loop running.
    window->paragraphWindow()->show();
    QEventLoop loop;
    QTimer::singleShot(0, this, [this] { action("action_Quit")->trigger(); });
    QTimer safety;
    bool timedOut = false;
    safety.singleShot(20000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec();
    QVERIFY(!timedOut);
    QVERIFY(!window->isVisible());
    QVERIFY(!window->paragraphWindow()->isVisible());
    window.reset();
    QVERIFY(QSettings(Settings::settingsFilePath(), QSettings::IniFormat).contains(Settings::MainWindowIsMax));
}

void TestMenus::printNeedsADocument() {
    // Guards against a preview of an empty document before the page handed one over.
    int previews = 0;
    Desktop::setExec([&](QDialog*) { return ++previews, 0; });
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(previews, 0);
    window->setHtmlPage(article, "Der Hund");
    QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(previews, 1);
}

void TestMenus::previewsReuseOnePrinterAndResetIt() {
    // Guards against a new printer per preview, or a previous preview's choices leaking into page set-up.
    window->setHtmlPage(article, "Der Hund");
    struct Seen {
        QPrinter* printer;
        QString title;
        QWidget* parent;
        QPageSize::PageSizeId size;
        QPageLayout::Orientation orientation;
        bool fullPage;
        QString docName;
        int pages;
    };
    QList<Seen> seen;
    Desktop::setExec([&](QDialog* dialog) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(dialog);
        if (!preview)
            return 0;
        QPrinter* printer = preview->printer();
        preview->show(); // lays out the preview, which asks for the pages
        auto* pages = preview->findChild<QPrintPreviewWidget*>();
        seen << Seen{printer,
                     preview->windowTitle(),
                     preview->parentWidget(),
                     printer->pageLayout().pageSize().id(),
                     printer->pageLayout().orientation(),
                     printer->fullPage(),
                     printer->docName(),
                     pages ? pages->pageCount() : -1};
        // What a user might choose in the preview.
        printer->setPageOrientation(QPageLayout::Landscape);
        printer->setPageSize(QPageSize(QPageSize::Letter));
        printer->setFullPage(false);
        preview->close();
        return 0;
    });
    action("action_Print")->trigger();
    window->setHtmlPage(article, "Die Katze");
    action("action_Print")->trigger();

    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].printer, seen[1].printer);
    QCOMPARE(seen[1].printer, window->printPrinter());
    for (const Seen& s : seen) {
        QCOMPARE(s.title, QString("打印文章预览"));
        QCOMPARE(s.parent, window.get());
        QCOMPARE(s.size, QPageSize::A4);
        QCOMPARE(s.orientation, QPageLayout::Portrait);
        QVERIFY(s.fullPage);
        QVERIFY(s.pages >= 1); // the preview's page requests reach printPage
    }
    QCOMPARE(seen[0].docName, QString("Der Hund"));
    QCOMPARE(seen[1].docName, QString("Die Katze"));
    QCOMPARE(window->findChildren<QPrintPreviewDialog*>().size(), 0); // each preview is gone after it closes
}

void TestMenus::printPageWritesTimesElevenOnA4_data() {
    QTest::addColumn<bool>("throughPreview");
    QTest::newRow("preview's printer") << true;
    QTest::newRow("own PDF printer on Letter") << false;
}

void TestMenus::printPageWritesTimesElevenOnA4() {
    // Guards against the article printed in another face or size, on another paper, or not at all.
    QFETCH(bool, throughPreview);
    QTemporaryDir dir;
    window->setHtmlPage(article, "Der Hund");
    const QString pdf = dir.path() + "/article.pdf";
    if (throughPreview) {
        // Through the preview's own connection, onto a PDF file.
        Desktop::setExec([&](QDialog* dialog) {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(dialog);
            preview->printer()->setOutputFormat(QPrinter::PdfFormat);
            preview->printer()->setOutputFileName(pdf);
            emit preview->paintRequested(preview->printer());
            return 0;
        });
        action("action_Print")->trigger();
    } else {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        window->printPage(&printer);
    }
    QVERIFY(QFile::exists(pdf));

    const QFont requested = window->printDocument()->document()->defaultFont();
    QCOMPARE(requested.family(), QString("Times New Roman"));
    QCOMPARE(requested.pointSize(), 11);

    QVERIFY(run("pdftotext", {pdf, "-"}).simplified().contains("Der kleine Hund läuft über die Wiese."));
    const QRegularExpressionMatch page =
        QRegularExpression("Page size:\\s+([0-9.]+) x ([0-9.]+) pts").match(run("pdfinfo", {pdf}));
    QVERIFY(page.hasMatch());
    QVERIFY(qAbs(page.captured(1).toDouble() - 595.28) < 1); // A4 portrait: 210 x 297 mm
    QVERIFY(qAbs(page.captured(2).toDouble() - 841.89) < 1);

    // The face in the PDF is the one this system gives for "Times New Roman", and that is a Times-metric face.
    const QString substitute = QFontInfo(QFont("Times New Roman")).family().remove(QRegularExpression("\\s*\\[.*\\]"));
    const QStringList timesLike{"Times New Roman", "Liberation Serif", "Nimbus Roman", "Nimbus Roman No9 L",
                                "Tinos",           "TeX Gyre Termes",  "Times"};
    QVERIFY2(timesLike.contains(substitute), qPrintable("no Times-metric font installed, got " + substitute));
    const QString fonts = run("pdffonts", {pdf});
    QString compact = substitute;
    compact.remove(' ');
    QVERIFY2(
        fonts.contains(QRegularExpression("^(\\w{6}\\+)?" + compact + "-Regular", QRegularExpression::MultilineOption)),
        qPrintable(fonts));

    // 11 pt: a word in the body is as tall as the same word set in 11 pt directly, and unlike 10 or 12 pt.
    const double body = wordHeight(pdf, "Wiese.");
    const double eleven = wordHeight(referencePdf(dir.path(), QFont("Times New Roman", 11)), "Wiese");
    QVERIFY(body > 0 && eleven > 0);
    QVERIFY2(qAbs(body - eleven) / eleven < 0.04, qPrintable(QString("%1 vs %2").arg(body).arg(eleven)));
}

void TestMenus::menusAreTranslated() {
    // Guards against the translation not being built, not found beside the program, or missing an entry.
    const QString built = QStringLiteral(TAVROLIN_BUILD_LOCALE_DIR) + "/zh_CN.qm";
    QVERIFY2(QFile::exists(built), qPrintable(built));
    const QString localeDir = QCoreApplication::applicationDirPath() + "/locale";
    QDir().mkpath(localeDir);
    QFile::remove(localeDir + "/zh_CN.qm");
    QVERIFY(QFile::copy(built, localeDir + "/zh_CN.qm"));
    window.reset();
    TestSupport::deleteTopLevelWindows();
    window = std::make_unique<MainWindow>(nullptr);
    QDir(localeDir).removeRecursively();

    const QHash<QString, QString> expected{
        {"menu_File", "文件(&F)"},
        {"menuEdit", "编辑(&E)"},
        {"menu_Help", "帮助(&H)"},
        {"action_OpenMedia", "打开媒体文件..."},
        {"action_Preferences", "偏好设置(&S)..."},
        {"action_Proxy", "代理设置(&X)"},
        {"action_Print", "打印(&P)"},
        {"action_Quit", "退出(&Q)"},
        {"action_Copy", "复制(&C)"},
        {"action_Homepage", "官方网站(&H)..."},
        {"action_Support", "技术支持(&S)..."},
        {"action_Shortcuts", "快捷键介绍"},
        {"action_update", "检查更新..."},
        {"action_About", "关于(&A)"},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QString shown;
        if (auto* menu = window->findChild<QMenu*>(it.key()))
            shown = menu->title();
        else
            shown = window->findChild<QAction*>(it.key())->text();
        QCOMPARE(shown, it.value());
    }
    QCOMPARE(action("action_Shortcuts")->toolTip(), QString("快捷键介绍"));
    QCOMPARE(action("action_Preferences")->toolTip(), QString("偏好设置"));
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
