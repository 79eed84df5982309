#include "app/mainwindow.h"

#include "app/datadialog.h"
#include "app/mediaopening.h"
#include "app/paragraph.h"
#include "app/proxydialog.h"
#include "app/setdialog.h"
#include "app/vorblayout.h"
#include "app/webview.h"
#include "bridge/mediafiles.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/net/networkaccessmanager.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "desktop/screens.h"
#include "ui_mainwindow.h"
#include "update/obupdatedialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QMoveEvent>
#include <QNetworkProxy>
#include <QPageSize>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QSettings>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTranslator>
#include <QWebPage>
#include <QWebSettings>
#include <QWindow>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), bridgeContext(BridgeContext::create()), ui(new Ui::MainWindow), translator(new QTranslator),
      qtTranslator(new QTranslator) {
    narrowDataDirectory();
    Desktop::ensureResources();
    // A missing file leaves the form's own (English) texts.
    translator->load(AppInfo::applicationDirectory() + QStringLiteral("/locale/zh_CN.qm"));
    QCoreApplication::installTranslator(translator.get());
    // Qt's file, print and message boxes speak the same language as the
    // program's windows (Debian's qttranslations5-l10n).
    const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (qtTranslator->load(QStringLiteral("qtbase_zh_CN"), qtTranslations))
        QCoreApplication::installTranslator(qtTranslator.get());
    else
        qWarning("No qtbase_zh_CN.qm in %s: Qt's own dialogs stay in English", qUtf8Printable(qtTranslations));

    ui->setupUi(this);
    Desktop::setMainWindow(this);
    loadSettings();
    setWindowTitle(QString::fromLatin1(AppInfo::productName));

    // Before any page exists: a page takes its local storage location when it
    // is created, and the offline-data page keeps the download lists there.
    configureWebEngine();
    new DataDialog(bridgeContext, nullptr); // lives for the whole run, hidden
    printBrowser = new QTextBrowser(nullptr);

    initPageSide();
}

MainWindow::~MainWindow() {
    if (!stateSaved)
        saveWindowState();
    ui.reset();
    delete webApi;
    delete printer;
}

void MainWindow::saveWindowState() {
    stateSaved = true;
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    // Full screen is the video's: what counts is the state beneath it.
    const bool maximized = isFullScreen() ? windowState().testFlag(Qt::WindowMaximized) : isMaximized();
    if (maximized) {
        settings.setValue(Settings::MainWindowIsMax, true);
    } else if (isMinimized()) {
        settings.setValue(Settings::MainWindowIsMax, false);
    } else {
        settings.setValue(Settings::MainWindowIsMax, false);
        settings.setValue(Settings::MainWindowRect, isFullScreen() ? normalGeometry() : geometry());
    }
}

void MainWindow::loadSettings() {
    readingSettings = ReadingSettings::load();
    proxySettings = ProxySettings::load();

    // The form's minimum (920 x 685) is lowered before the stored geometry is
    // applied, so a 675-pixel-high window is restored as it was saved.
    fitMinimumSize();
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    // Where it was left, unless its title bar is out of reach or most of it
    // off the screens now, or it is larger than the screen now (a higher scale
    // factor); the default is fitted
    // onto the screen (at 150 % it would reach below it).
    const QVariant stored = settings.value(Settings::MainWindowRect);
    const QRect wanted = stored.isValid() ? stored.toRect() : Settings::mainWindowRectDefault();
    const QList<QRect> areas = Screens::availableAreas();
    // The title bar, not known before the window manager frames the window, is
    // taken to be at most this high.
    constexpr int titleBar = 32;
    QRect placed =
        stored.isValid() ? Screens::reachable(wanted, QRect(0, -titleBar, wanted.width(), titleBar), areas) : wanted;
    const QSize room = Screens::nearestArea(placed, areas).size();
    if (!stored.isValid() || placed.width() > room.width() || placed.height() > room.height())
        placed = Screens::inside(placed, areas);
    if (placed == wanted) {
        setGeometry(wanted);
    } else {
        // Placed by the frame's corner, so the title bar is on the screen; once
        // the window manager has put its frame around it, the whole frame is
        // brought onto the screen (moveEvent).
        resize(placed.size());
        move(placed.topLeft());
        fitFrameOnScreen = true;
    }
    if (settings.value(Settings::MainWindowIsMax, false).toBool())
        showMaximized();
    else
        showNormal();
}

void MainWindow::initPageSide() {
    indexUrl = AppInfo::indexPageUrl();

    webView = new WebView(this);
    QWebPage* page = webView->page();
    page->setNetworkAccessManager(new NetworkAccessManager(page->networkAccessManager(), nullptr));
    page->setForwardUnsupportedContent(true);

    // attachView reads the view's parent name, so the bridge is attached
    // before the layout takes the view into the central widget.
    webApi = new WebApi(bridgeContext, webView);
    webApi->attachView(webView);
    webApi->setShell(this);

    paragraph = new Paragraph(bridgeContext, nullptr);

    applyProxy(proxySettings.host, proxySettings.port, proxySettings.user, proxySettings.password);
    webApi->setReadingSettings(readingSettings);

    // Both belong to this window: they stay above it and end with it.
    setDialog = new SetDialog(this);
    proxyDialog = new ProxyDialog(this);
    setDialog->setBridge(webApi);
    connect(proxyDialog, &ProxyDialog::proxyAccepted, this, [this](const ProxySettings& values) {
        applyProxy(values.host, values.port, values.user, values.password);
    });
    fillDialogs();

    webView->setContextMenuPolicy(Qt::NoContextMenu);

    // Media files dropped anywhere on the window, the page's view included.
    setAcceptDrops(true);
    auto* drops = new MediaOpening::DropFilter([this](const QStringList& files) { openMediaFiles(files); }, this);
    installEventFilter(drops);
    webView->installEventFilter(drops);

    vorbLayout = new VorbLayout([bridge = QPointer<WebApi>(webApi)] {
        if (bridge)
            bridge->updateVideoFrameGeometry();
    });
    ui->centralwidget->setLayout(vorbLayout);
    vorbLayout->addWidget(webView);
    vorbLayout->setContentsMargins(0, 0, 0, 0);

    // Shown by now, so the window has its native handle.
    connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::fitMinimumSize);
}

void MainWindow::fitMinimumSize() {
    // 912 x 675 where the screen has room for it; on a smaller area (1920 x 1080
    // at 200 % leaves 960 x 540) a larger minimum would hold part of the window
    // beyond the screen's edge, out of reach. The frame counts once it is known.
    const QScreen* screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize frame = frameGeometry().size() - size();
    setMinimumSize(QSize(912, 675).boundedTo(screen->availableGeometry().size() - frame));
}

void MainWindow::fillDialogs() {
    setDialog->setValues(readingSettings);
    proxyDialog->setFields(proxySettings);
    webApi->pushReadingSettings(readingSettings);
}

void MainWindow::configureWebEngine() {
    QWebSettings* web = QWebSettings::globalSettings();
    web->setAttribute(QWebSettings::LocalStorageEnabled, true);
    web->setAttribute(QWebSettings::OfflineStorageDatabaseEnabled, true);
    web->setAttribute(QWebSettings::OfflineWebApplicationCacheEnabled, true);
    web->setAttribute(QWebSettings::DeveloperExtrasEnabled, true);
    // No plug-ins: nothing in the pages needs one, and each is foreign code in our process.
    web->setAttribute(QWebSettings::PluginsEnabled, false);
    web->setAttribute(QWebSettings::JavascriptEnabled, true);
    web->setAttribute(QWebSettings::JavascriptCanOpenWindows, true);
    QWebSettings::setOfflineStorageDefaultQuota(104857600);
    const QString dir = dataDirectory();
    web->setLocalStoragePath(dir);
    QWebSettings::setOfflineStoragePath(dir);
}

void MainWindow::applyProxy(const QString& host, const QString& port, const QString& user, const QString& password) {
    const ProxySettings wanted{host, port, user, password};
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    if (wanted.fault() != ProxySettings::Fault::None) {
        // Stored by an older version or by hand: such a proxy would cut the
        // program off the network without a word, so none is used.
        qWarning("Proxy settings not applied: a proxy needs a host and a port from 1 to 65535");
    } else if (!wanted.isEmpty()) {
        proxy = QNetworkProxy(QNetworkProxy::HttpProxy, host.trimmed(), wanted.portNumber(), user, password);
    }
    QNetworkProxy::setApplicationProxy(proxy);
    webView->load(QUrl(indexUrl, QUrl::TolerantMode));
}

void MainWindow::setTranslationState(const QString& state) {
    readingSettings.translationState = state;
    setDialog->selectTranslationState(state);
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    settings.setValue(Settings::TranslationState, state);
}

void MainWindow::setTranslationSelectable(const QString& flag) {
    setDialog->box("translationState")->setEnabled(flag == QLatin1String("true"));
}

void MainWindow::setHtmlPage(const QString& html, const QString& title) {
    printBrowser->setHtml(html);
    printTitle = title;
    ui->action_Print->setEnabled(true);
}

void MainWindow::setPrintEnabled(bool flag) {
    ui->action_Print->setEnabled(flag);
}

void MainWindow::setMenuBarVisible(bool flag) {
    ui->menuBar->setVisible(flag);
}

void MainWindow::setParagraphWindowVisible(bool visible) {
    paragraph->setVisible(visible);
}

void MainWindow::addVideoSurface(QWidget* surface) {
    vorbLayout->addWidget(surface);
}

void MainWindow::relayoutVideoSurface() {
    vorbLayout->invalidate();
}

void MainWindow::setVideoFullScreen(bool on) {
    if (on) {
        // Full screen on the screen the window is on now.
        if (QWindow* handle = windowHandle())
            handle->setScreen(handle->screen());
        // Only full screen is added and taken away again, so a maximised window comes back maximised.
        setWindowState(windowState() | Qt::WindowFullScreen);
        setMenuBarVisible(false);
    } else {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setMenuBarVisible(true);
    }
}

void MainWindow::showPreferences() {
    showCentred(setDialog);
}

void MainWindow::showCentred(QWidget* window) {
    window->show();
    const int x = this->x() + width() / 2 - window->width() / 2;
    const int y = this->y() + height() / 2 - window->height() / 2;
    window->setGeometry(x, y, window->width(), window->height());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program: playback stops, the window's
    // place is kept now, and every other window goes with it (a window still
    // open would keep the event loop, and so the program, running).
    if (webApi)
        webApi->cancelPlay();
    saveWindowState();
    paragraph->close();
    QList<QPointer<QWidget>> others;
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != this && other->isVisible() && !other->inherits("QMenu"))
            others << other;
    }
    for (const QPointer<QWidget>& other : others) {
        if (other)
            other->close();
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    const QRect frame = frameGeometry();
    const Qt::WindowStates sized = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    if (frame.size() == size() || (windowState() & sized))
        return; // not framed yet, or minimized, maximized or full screen
    // With the frame's margins, on the screen the window has moved to.
    fitMinimumSize();
    if (!fitFrameOnScreen)
        return; // placed by the user or restored as it was
    fitFrameOnScreen = false;
    const QRect inside = Screens::inside(frame, Screens::availableAreas());
    if (inside.size() != frame.size())
        resize(size() - (frame.size() - inside.size()));
    if (inside.topLeft() != frame.topLeft())
        move(inside.topLeft());
}

void MainWindow::receiveCommandLine(const QStringList& arguments, const QString& workingDirectory) {
    // Started again: the running program comes forward instead.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    openMediaFiles(MediaOpening::filesFromCommandLine(arguments, workingDirectory));
}

void MainWindow::openMediaFiles(const QStringList& files) {
    for (const QString& file : files)
        webApi->openMediaFile(file);
}

void MainWindow::on_action_OpenMedia_triggered() {
    if (MediaFiles* media = webApi->mediaFiles()) {
        const QString chosen = media->choose();
        if (!chosen.isEmpty())
            openMediaFiles({chosen});
    }
}

void MainWindow::on_action_Preferences_triggered() {
    showPreferences();
}

void MainWindow::on_action_Proxy_triggered() {
    showCentred(proxyDialog);
}

void MainWindow::printPage(QPrinter* target) {
    printBrowser->document()->setDefaultFont(QFont(QStringLiteral("Times New Roman"), 11));
    if (!target || !target->isValid())
        return;
    target->setFullPage(true);
    target->setPageSize(QPageSize(QPageSize::A4));
    printBrowser->print(target);
}

void MainWindow::showInformation(const QString& text) {
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(AppInfo::productName), text, QMessageBox::NoButton,
                    this);
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    Desktop::exec(&box);
}

void MainWindow::on_action_About_triggered() {
    showInformation(QStringLiteral("《") + tr("Tavrolin") + QStringLiteral("》桌面版\r\n\r\n版本： ") +
                    QLatin1String(AppInfo::version) + QStringLiteral("\r\n官方网站： ") + AppInfo::serviceWebsiteUrl());
}

void MainWindow::on_action_Shortcuts_triggered() {
    // Only a list: the keys themselves belong to the video surface and the pages.
    static const char* const lines[] = {
        "播放/暂停 （空格键）", "上一句 （←）",         "下一句 （→）",         "增大音量 （↑）",
        "减小音量 （↓）",       "上一篇 （Shift + ←）", "下一篇 （Shift + →）", "桌面显示 （d）",
        "听力模式 （m）",       "播放方式 （r）",       "向上翻页 （pageUp）",  "向下翻页 （pageDown）",
    };
    QString text = QStringLiteral("《") + tr("Tavrolin") + QStringLiteral("》桌面版快捷键介绍\r\n\r\n");
    for (const char* line : lines)
        text += QString::fromUtf8(line) + QStringLiteral("\r\n");
    showInformation(text);
}

void MainWindow::on_action_Support_triggered() {
    Desktop::openUrl(QUrl(AppInfo::serviceSupportUrl()));
}

void MainWindow::on_action_Copy_triggered() {
    QApplication::clipboard()->setText(webView->selectedText(), QClipboard::Clipboard);
}

void MainWindow::on_action_Homepage_triggered() {
    Desktop::openUrl(QUrl(AppInfo::serviceWebsiteUrl()));
}

void MainWindow::on_action_Print_triggered() {
    // One printer for the whole run, so choices made in a preview carry over;
    // page size, orientation, full page and name are reset for each preview.
    if (!printer)
        printer = new QPrinter(QPrinter::ScreenResolution);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(QPageLayout::Portrait);
    printer->setFullPage(true);
    printer->setDocName(printTitle);

    QPrintPreviewDialog preview(printer, this);
    preview.setWindowTitle(QStringLiteral("打印文章预览"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &MainWindow::printPage);
    Desktop::exec(&preview);
}

void MainWindow::on_action_Quit_triggered() {
    // The action's close() connection has closed the window already.
    Desktop::exit(0);
}

void MainWindow::on_action_update_triggered() {
    // A new dialog per check; it deletes itself when closed.
    auto* dialog = new ObUpdateDialog(this);
    dialog->show();
}
