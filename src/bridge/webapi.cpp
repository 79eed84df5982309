#include "bridge/webapi.h"

#include "bridge/keptsentences.h"
#include "bridge/mediaexport.h"
#include "bridge/mediafiles.h"
#include "bridge/shadowing.h"
#include "bridge/shellwindow.h"
#include "core/appinfo.h"
#include "core/net/httpmanager.h"
#include "core/pageprotocol.h"
#include "core/trust.h"
#include "desktop/desktop.h"
#include "playback/practicecontroller.h"

#include <QMessageBox>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

using PageScript::Page;
namespace Script = PageProtocol::Script;
namespace Word = PageProtocol;

WebApi::WebApi(std::shared_ptr<BridgeContext> context, QObject* parent)
    : QObject(parent), shared(std::move(context)), mainPageMode(Word::online), box(new QMessageBox),
      practicePage(shared->pages), practiceController(new PracticeController(this)),
      surface(practiceController, shared->pages), router(shared) {
    practice()->setPage(&practicePage);
    practice()->createPlayer = [this] { return createPlayManager(); };
    // An online source is resolved through one redirect step before it is played.
    practice()->resolveOnline = [this](const QString& url, std::function<void(const QString&)> done) {
        HttpManager::instance()->resolveRedirect(
            url, [done](bool, const QString& target) { done(target); }, this);
    };
    practice()->placeVideo = [this] { surface.placeAndRelayout(); };
    // The speed the learner chose last, and each new choice kept for the next run.
    practice()->setSpeed(Settings::playSpeed());
    connect(practice(), &PracticeController::speedChosen, this, [](double speed) { Settings::setPlaySpeed(speed); });

    connect(&router, &DownloadRouter::progress, this,
            [this](const QString& kind, qint64 received, qint64 total, const QString& articleId) {
                pages().run(Page::Main, Script::downloadProgress, {received, total, kind, articleId});
            });
    connect(&router, &DownloadRouter::articleComplete, this, &WebApi::downloadFinished);
    connect(&router, &DownloadRouter::partFailed, this,
            [this](const QString& articleId, const QString& part, const QString& reason) {
                pages().run(Page::Main, Script::downloadFailed, {articleId, part, reason});
            });
}

WebApi::~WebApi() {
    // The controller (a child) outlives the members; it must not call into them.
    practice()->setPage(nullptr);
    delete box.data(); // unless the main window, its parent, has taken it along
    delete kept;       // before the context it was given
    delete speaking;   // before the practice page it was given
}

void WebApi::attachView(QWebView* view) {
    // Each test reads the parent's name afresh, as the windows may rename themselves.
    auto parentName = [view] { return view->parent() ? view->parent()->objectName() : QString(); };

    if (parentName() == Word::mainWindowName) {
        webFrame = view->page()->mainFrame();
        mainView = view;
        shared->pages.setFrame(Page::Main, webFrame);
        attachMainObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachMainObject);
    }
    if (parentName() == Word::dataWindowName) {
        webFrame = view->page()->mainFrame();
        shared->pages.setFrame(Page::Data, webFrame);
        router.attach(view->page()->networkAccessManager());
        attachDataObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachDataObject);
    }
    if (parentName() == Word::paragraphWindowName) {
        webFrame = view->page()->mainFrame();
        shared->pages.setFrame(Page::Paragraph, webFrame);
        attachParagraphObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachParagraphObject);
    }
    practicePage.setOwnFrame(webFrame);
    surface.setPageFrame(webFrame);
}

namespace {

// Only our own pages see a bridge: a page from anywhere else would get the
// whole slot list (stored content, downloads, the desktop's URL opener).
void publish(QWebFrame* frame, QLatin1String name, WebApi* bridge) {
    if (!frame)
        return;
    if (!Trust::isOwnPage(frame->url())) {
        if (!frame->url().isEmpty() && frame->url().toString() != QLatin1String("about:blank"))
            qWarning("No bridge for %s", qUtf8Printable(frame->url().toString()));
        return;
    }
    frame->addToJavaScriptWindowObject(name, bridge, QWebFrame::QtOwnership);
}

} // namespace

void WebApi::attachMainObject() {
    publish(pages().frame(Page::Main), Word::mainObject, this);
    // A new page: opened media files wait until it says it is ready.
    if (files)
        files->setPageReady(false);
}

void WebApi::attachDataObject() {
    publish(pages().frame(Page::Data), Word::dataObject, this);
}

void WebApi::attachParagraphObject() {
    publish(pages().frame(Page::Paragraph), Word::paragraphObject, this);
}

void WebApi::setShell(ShellWindow* window) {
    surface.setShell(window);
}

void WebApi::setDragHandlers(std::function<void()> start, std::function<void()> end) {
    dragStart = std::move(start);
    dragEnd = std::move(end);
}

void WebApi::pushReadingSettings(const ReadingSettings& values) {
    // The page is not told the repeat count; the dictation replays need it here.
    bool number = false;
    const int hearings = values.playRepeatTimes.toInt(&number);
    practice()->setDictationHearings(number && hearings > 0 ? hearings : 3);
    pages().run(Page::Main, Script::setSet,
                {values.fontLevel, values.theme, values.translationState, values.explainState, values.explainTipState,
                 values.fontFamily, values.textAlign});
    pages().run(Page::Paragraph, Script::saveExplainTipState, {values.explainTipState});
}

void WebApi::openBrowser(const QString& param) {
    const QUrl url(param, QUrl::TolerantMode);
    // Web and mail addresses only: a file or another scheme would have the desktop run or open anything.
    if (!Trust::mayOpenInBrowser(url)) {
        qWarning("openBrowser refused %s", qUtf8Printable(param));
        return;
    }
    Desktop::openUrl(url);
}

QMessageBox* WebApi::infoBox() const {
    return box.data();
}

void WebApi::showInfo(const QString& info) {
    // The box belongs to the main window (it stays above it and goes with it),
    // and it informs without blocking any window.
    QWidget* anchor = Desktop::mainWindow();
    if (anchor && box->parentWidget() != anchor)
        box->setParent(anchor, box->windowFlags() | Qt::Dialog);
    box->setWindowModality(Qt::NonModal);
    box->setFont(QFont(QStringLiteral("Microsoft YaHei UI")));
    box->setWindowTitle(QString::fromLatin1(AppInfo::productName));
    box->setIcon(QMessageBox::Information);
    box->setText(info);
    box->show();

    // Centred on the main window, whichever page asked.
    if (!anchor)
        return;
    const int w = box->width();
    const int h = box->height();
    box->setGeometry(anchor->width() / 2 + anchor->x() - w / 2, anchor->height() / 2 + anchor->y() - h / 2, w, h);
}

void WebApi::setSetDialog() {
    if (ShellWindow* window = shell())
        window->showPreferences();
}

void WebApi::captureWord(const QString& url) {
    if (!Trust::mayCapture(QUrl(url))) {
        qWarning("captureWord refused %s", qUtf8Printable(url));
        return;
    }
    router.fetch(url);
}

void WebApi::pageLoaded(const QString& frame) {
    qDebug("page loaded: %s", qPrintable(frame));
    if (frame == Word::loadedIndex) {
        if (MediaFiles* media = mediaFiles())
            media->setPageReady(true);
        const QString state = pages().evaluate(Page::Data, Script::getDownloadState).toString();
        pages().run(Page::Main, Script::setDownloadState, {state});
        return;
    }
    if (frame == Word::loadedParagraph) {
        pages().run(Page::Paragraph, Script::setLang, {Word::language.latin1()});
        return;
    }

    pushReadingSettings(reading);
    pages().evaluate(Page::Data, Script::getDownloadData);

    QString volumeText = pages().evaluate(Page::Data, Script::getVolume).toString();
    volumeText.remove(QLatin1Char('"'));
    pageVolume = volumeText.toInt(); // 0 when it is not a number
    pages().run(Page::Main, Script::setVolume, {pageVolume});

    storedUserInfo = pages().evaluate(Page::Data, Script::getUserInfo).toString();
    pages().run(Page::Main, Script::setUserInfo, {storedUserInfo});

    QString repeatState = pages().evaluate(Page::Data, Script::getRepeatState).toString();
    repeatState.remove(QLatin1Char('"'));
    setState(Word::repeatStateName, repeatState);
    pages().run(Page::Main, Script::setRepeatState, {repeatState});

    router.setReady(true);
    pages().evaluate(Page::Data, Script::getArticleData);
}

void WebApi::setHtmlPage(const QString& htmlData, const QString& titleName) {
    if (ShellWindow* window = shell())
        window->setHtmlPage(htmlData, titleName);
}

void WebApi::setPrintAble(bool able) {
    if (ShellWindow* window = shell())
        window->setPrintEnabled(able);
}

void WebApi::gotoLocal(const QString& channelId, const QString& articleId) {
    if (!mainView)
        return; // only the main page navigates the main view
    mainPageMode = Word::local;
    router.setReady(false);
    mainView->load(QUrl(AppInfo::localArticlePageUrl(channelId, articleId), QUrl::TolerantMode));
}

void WebApi::saveData(const QString& key, const QString& value) {
    if (key == Word::hasTranslationKey && shell())
        shell()->setTranslationSelectable(value);
    pages().run(Page::Data, Script::setData, {key, value});
    pages().run(Page::Paragraph, Script::saveState, {key, value});
}

void WebApi::gotoOnline() {
    if (!mainView)
        return;
    if (ShellWindow* window = shell())
        window->setParagraphWindowVisible(false);
    mainPageMode = Word::online;
    router.setReady(false);
    mainView->load(QUrl(AppInfo::indexPageUrl(), QUrl::TolerantMode));
}

void WebApi::getZipDir() {
    QString dir = dataDirectory();
    dir.chop(1);
    pages().run(Page::Main, Script::setZipDir, {dir});
}

void WebApi::queryState(const QString& type) {
    Q_UNUSED(type);
}

void WebApi::downloadFinished(const QString& articleId) {
    pages().run(Page::Main, Script::downloadFinished, {articleId});
    pages().run(Page::Data, Script::setArticleDownloaded, {articleId});
}

void WebApi::deleteArticleData(const QString& articleId, const QString& channelId) {
    pages().run(Page::Data, Script::deleteArticleData, {articleId, channelId});
    deleteDiskArticleData(articleId);
}

void WebApi::deleteDiskArticleData(const QString& articleId) {
    shared->store.deleteDiskArticleData(articleId);
}

QString WebApi::getFileContent(const QString& articleId, const QString& fileType) {
    return shared->store.getFileContent(articleId, fileType);
}

void WebApi::saveExportFile(const QString& srouce, const QString& fileName) {
    const QString text = MediaExport::outcomeText(MediaExport::saveExportFile(srouce, fileName));
    if (!text.isEmpty())
        showInfo(text);
}
