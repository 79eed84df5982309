#pragma once

#include "bridge/shellwindow.h"
#include "core/settings.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

namespace Ui {
class MainWindow;
}
class BridgeContext;
class Paragraph;
class ProxyDialog;
class QPrinter;
class QTextBrowser;
class QTranslator;
class SetDialog;
class VorbLayout;
class WebApi;
class WebView;

// The one main window: menus, the main page with its bridge, and the windows
// and dialogs that live for the whole run. Its bridge reaches it as a ShellWindow.
class MainWindow : public QMainWindow, public ShellWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent);
    ~MainWindow() override;

    // Installs the application-wide proxy (none when all four are empty) and
    // reloads the index page.
    void applyProxy(const QString& host, const QString& port, const QString& user, const QString& password);
    void setMenuBarVisible(bool flag);
    // Imports local media files and has the page open them (drop, command line, menu).
    void openMediaFiles(const QStringList& files);

    // ShellWindow
    void showPreferences() override;
    void setHtmlPage(const QString& html, const QString& title) override;
    void setPrintEnabled(bool flag) override;
    void setTranslationSelectable(const QString& flag) override;
    void setTranslationState(const QString& state) override;
    void setParagraphWindowVisible(bool visible) override;
    void addVideoSurface(QWidget* surface) override;
    void relayoutVideoSurface() override;
    void setVideoFullScreen(bool on) override;
    bool isVideoFullScreen() const override { return isFullScreen(); }
    QRect videoFullScreenRect() const override { return QRect(0, 0, width(), height()); }

    WebApi* bridge() const { return webApi; }
    // What its bridges share: the pages' frames, the downloads, the content store, ...
    BridgeContext& context() const { return *bridgeContext; }
    WebView* view() const { return webView; }
    Paragraph* paragraphWindow() const { return paragraph; }
    SetDialog* preferencesDialog() const { return setDialog; }
    ProxyDialog* proxyWindow() const { return proxyDialog; }
    const QString& indexPageUrl() const { return indexUrl; }
    QTextBrowser* printDocument() const { return printBrowser; }
    const QString& printTitleText() const { return printTitle; }

    QPrinter* printPrinter() const { return printer; }

    // Shows a window of the program centred on this one.
    void showCentred(QWidget* window);

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

public slots:
    // The command line of a later start of the program, handed over to this one
    // (SingleInstance): brings this window forward and opens the files it names.
    void receiveCommandLine(const QStringList& arguments, const QString& workingDirectory);

    void on_action_Preferences_triggered();
    void on_action_Proxy_triggered();
    void printPage(QPrinter* target);

private slots:
    void on_action_OpenMedia_triggered();
    void on_action_About_triggered();
    void on_action_Shortcuts_triggered();
    void on_action_Support_triggered();
    void on_action_Copy_triggered();
    void on_action_Homepage_triggered();
    void on_action_Print_triggered();
    void on_action_Quit_triggered();
    void on_action_update_triggered();

private:
    void showInformation(const QString& text);
    void loadSettings();
    // MainWindow_isMax and MainWindow_Rect, at the close or else at the end.
    void saveWindowState();
    void initPageSide();
    void fillDialogs();
    void configureWebEngine();
    // The minimum size, lowered to fit the available area of the window's screen.
    void fitMinimumSize();

    // Made first, handed to every bridge; the hidden windows keep it too.
    std::shared_ptr<BridgeContext> bridgeContext;
    Paragraph* paragraph = nullptr;
    VorbLayout* vorbLayout = nullptr;
    SetDialog* setDialog = nullptr;
    ProxyDialog* proxyDialog = nullptr;
    WebView* webView = nullptr;
    WebApi* webApi = nullptr;
    QString indexUrl;
    bool stateSaved = false;
    // Placed on the screen by the program: the frame, once known, goes there too.
    bool fitFrameOnScreen = false;

    // As stored at start-up; afterwards only setTranslationState changes them.
    ReadingSettings readingSettings;
    ProxySettings proxySettings;

    QString printTitle;
    QPrinter* printer = nullptr;
    std::unique_ptr<Ui::MainWindow> ui;
    QTextBrowser* printBrowser = nullptr;
    // Kept so that a window's translation leaves with it.
    std::unique_ptr<QTranslator> translator;
    std::unique_ptr<QTranslator> qtTranslator; // Qt's own dialogs and buttons
};
