#include "bridge/webapi.h"

#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "bridge/contentstore.h"
#include "bridge/mediaexport.h"
#include "bridge/pagescript.h"
#include "core/appinfo.h"
#include "core/net/httpmanager.h"
#include "core/settings.h"
#include "playback/practicecontroller.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLayout>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

using PageScript::Page;

QNetworkAccessManager* WebApi::dataNetworkManager = nullptr;
bool WebApi::dataPageReady = false;
QString WebApi::deletedArticleIds;

WebApi::WebApi(QObject* parent)
    : QObject(parent), pageMode(QStringLiteral("online")), infoBox(new QMessageBox),
      practiceController(std::make_unique<PracticeController>()) {
    practice()->setPage(&practicePage);
    practice()->createPlayer = [this] { return createPlayManager(); };
    // An online source is resolved through one redirect step before it is played.
    practice()->resolveOnline = [this](const QString& url, std::function<void(const QString&)> done) {
        HttpManager::instance()->resolveRedirect(
            url, [done](bool, const QString& target) { done(target); }, this);
    };
    practice()->placeVideo = [this] {
        updateVideoFrameGeometry();
        if (mainWindow && mainWindow->centralWidget() && mainWindow->centralWidget()->layout())
            mainWindow->centralWidget()->layout()->invalidate();
    };
}

WebApi::~WebApi() {
    if (eventFilterObject)
        QCoreApplication::instance()->removeEventFilter(eventFilterObject);
    delete eventFilterObject;
    delete infoBox;
}

void WebApi::attachView(QWebView* view) {
    // Each test reads the parent's name afresh, as the windows may rename themselves.
    auto parentName = [view] { return view->parent() ? view->parent()->objectName() : QString(); };

    if (parentName() == QLatin1String("MainWindow")) {
        webFrame = view->page()->mainFrame();
        mainView = view;
        PageScript::setFrame(Page::Main, webFrame);
        attachMainObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachMainObject);
    }
    if (parentName() == QLatin1String("dataDialog")) {
        webFrame = view->page()->mainFrame();
        PageScript::setFrame(Page::Data, webFrame);
        dataNetworkManager = view->page()->networkAccessManager();
        connect(dataNetworkManager, &QNetworkAccessManager::finished, this, &WebApi::downloadManager);
        attachDataObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachDataObject);
    }
    if (parentName() == QLatin1String("paragraph")) {
        webFrame = view->page()->mainFrame();
        PageScript::setFrame(Page::Paragraph, webFrame);
        attachParagraphObject();
        connect(webFrame, &QWebFrame::javaScriptWindowObjectCleared, this, &WebApi::attachParagraphObject);
    }
    practicePage.setOwnFrame(webFrame);
}

void WebApi::attachMainObject() {
    if (QWebFrame* frame = PageScript::frame(Page::Main))
        frame->addToJavaScriptWindowObject(QStringLiteral("WebApi"), this, QWebFrame::QtOwnership);
}

void WebApi::attachDataObject() {
    if (QWebFrame* frame = PageScript::frame(Page::Data))
        frame->addToJavaScriptWindowObject(QStringLiteral("ListenApi"), this, QWebFrame::QtOwnership);
}

void WebApi::attachParagraphObject() {
    if (QWebFrame* frame = PageScript::frame(Page::Paragraph))
        frame->addToJavaScriptWindowObject(QStringLiteral("ParagraphApi"), this, QWebFrame::QtOwnership);
}

void WebApi::pushReadingSettings(const ReadingSettings& values) {
    // The page is not told the repeat count; the dictation replays need it here.
    practice()->playRepeatTimes = values.playRepeatTimes;
    PageScript::run(Page::Main, QStringLiteral("setSet('%1', '%2', '%3', '%4', '%5', '%6', '%7');"),
                    {values.fontLevel, values.theme, values.translationState, values.explainState,
                     values.explainTipState, values.fontFamily, values.textAlign});
    PageScript::run(Page::Paragraph, QStringLiteral("paragraph.saveState('explainTipState', '%1');"),
                    {values.explainTipState});
}

void WebApi::openBrowser(const QString& param) {
    QDesktopServices::openUrl(QUrl(param, QUrl::TolerantMode));
}

MainWindow* WebApi::applicationMainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            return window;
    }
    return nullptr;
}

void WebApi::showInfo(const QString& info) {
    infoBox->setFont(QFont(QStringLiteral("Microsoft YaHei UI")));
    infoBox->setWindowTitle(QString::fromLatin1(AppInfo::productName));
    infoBox->setIcon(QMessageBox::Information);
    infoBox->setText(info);
    infoBox->show();

    // Centre on the window three levels up (web view, central widget, main
    // window); a bridge that does not sit that deep centres on the main window.
    QObject* anchor = parent() && parent()->parent() ? parent()->parent()->parent() : nullptr;
    if (!anchor)
        anchor = applicationMainWindow();
    if (!anchor)
        return;
    const int x = anchor->property("x").toInt();
    const int y = anchor->property("y").toInt();
    const int width = anchor->property("width").toInt();
    const int height = anchor->property("height").toInt();
    const int w = infoBox->width();
    const int h = infoBox->height();
    infoBox->setGeometry(width / 2 + x - w / 2, height / 2 + y - h / 2, w, h);
}

void WebApi::setSetDialog() {
    if (mainWindow)
        mainWindow->showPreferences();
}

void WebApi::captureWord(const QString& url) {
    if (dataNetworkManager)
        dataNetworkManager->get(QNetworkRequest(QUrl(url)));
}

void WebApi::pageLoaded(const QString& frame) {
    qDebug("page loaded: %s", qPrintable(frame));
    if (frame == QLatin1String("index")) {
        const QString state = PageScript::evaluate(Page::Data, QStringLiteral("getData('downloadState');")).toString();
        PageScript::run(Page::Main, QStringLiteral("setData('downloadState', '%1');"), {state});
        return;
    }
    if (frame == QLatin1String("paragraph")) {
        PageScript::run(Page::Paragraph, QStringLiteral("paragraph.setLang('%1');"), {"de"});
        return;
    }

    pushReadingSettings(reading);
    PageScript::evaluate(Page::Data, QStringLiteral("ListenDb.getDownloadData();"));

    QString volumeText = PageScript::evaluate(Page::Data, QStringLiteral("getData('volume');")).toString();
    volumeText.remove(QLatin1Char('"'));
    volume = volumeText.toInt(); // 0 when it is not a number
    PageScript::run(Page::Main, QStringLiteral("setData('volume', '%1');"), {volume});

    userInfo = PageScript::evaluate(Page::Data, QStringLiteral("getData('userInfo');")).toString();
    PageScript::run(Page::Main, QStringLiteral("setData('userInfo', '%1');"), {userInfo});

    QString repeatState = PageScript::evaluate(Page::Data, QStringLiteral("getData('repeatState');")).toString();
    repeatState.remove(QLatin1Char('"'));
    practice()->repeatState = repeatState;
    PageScript::run(Page::Main, QStringLiteral("setData('repeatState', '%1');"), {repeatState});

    dataPageReady = true;
    PageScript::evaluate(Page::Data, QStringLiteral("ListenDb.getArticleData();"));
}

void WebApi::setHtmlPage(const QString& htmlData, const QString& titleName) {
    if (mainWindow)
        mainWindow->setHtmlPage(htmlData, titleName);
}

void WebApi::setPrintAble(bool able) {
    if (mainWindow)
        mainWindow->setPrintEnabled(able);
}

void WebApi::gotoLocal(const QString& channelId, const QString& articleId) {
    if (!mainView)
        return; // only the main page navigates the main view
    pageMode = QStringLiteral("local");
    dataPageReady = false;
    mainView->load(QUrl(AppInfo::localArticlePageUrl(channelId, articleId), QUrl::TolerantMode));
}

void WebApi::saveData(const QString& key, const QString& value) {
    if (key == QLatin1String("hasTranslation") && mainWindow)
        mainWindow->setTranslationSelectable(value);
    PageScript::run(Page::Data, QStringLiteral("setData('%1', '%2');"), {key, value});
    PageScript::run(Page::Paragraph, QStringLiteral("paragraph.saveState('%1', '%2');"), {key, value});
}

void WebApi::gotoOnline() {
    if (!mainView)
        return;
    if (paragraphWindow)
        paragraphWindow->hide();
    pageMode = QStringLiteral("online");
    dataPageReady = false;
    mainView->load(QUrl(AppInfo::indexPageUrl(), QUrl::TolerantMode));
}

void WebApi::getZipDir() {
    QString dir = dataDirectory();
    dir.chop(1);
    PageScript::run(Page::Main, QStringLiteral("setZipDir('%1');"), {dir});
}

void WebApi::queryState(const QString& type) {
    Q_UNUSED(type);
}

namespace {

QString replyArticleId(QNetworkReply* reply) {
    return QString::fromUtf8(reply->request().rawHeader("articleId"));
}

} // namespace

void WebApi::storeMedia(QNetworkReply* reply) {
    const QString id = replyArticleId(reply);
    ContentStore().storePart(id, ContentStore::Part::Media, reply);
    reply->close();
    checkDownloadComplete(id);
}

void WebApi::storeArchive(QNetworkReply* reply) {
    const QString id = replyArticleId(reply);
    ContentStore().storePart(id, ContentStore::Part::Archive, reply);
    reply->close();
    checkDownloadComplete(id);
}

void WebApi::storeSentenceData(QNetworkReply* reply) {
    const QString id = replyArticleId(reply);
    ContentStore().storePart(id, ContentStore::Part::SentenceData, reply);
    reply->close();
    checkDownloadComplete(id);
}

void WebApi::storeThumbnail(QNetworkReply* reply) {
    ContentStore().storeThumbnail(reply->url().toString(), reply->readAll());
}

void WebApi::checkDownloadComplete(const QString& articleId) {
    if (ContentStore().isComplete(articleId))
        downloadFinished(articleId);
}

void WebApi::downloadFinished(const QString& articleId) {
    PageScript::run(Page::Main, QStringLiteral("if(window.downloadData){downloadData.downloadFinished('%1');}"),
                    {articleId});
    PageScript::run(Page::Data, QStringLiteral("ListenDb.setDownloadState('%1');"), {articleId});
}

void WebApi::deleteArticleData(const QString& articleId, const QString& channelId) {
    PageScript::run(Page::Data, QStringLiteral("ListenDb.deleteArticleData('%1', '%2');"), {articleId, channelId});
    deleteDiskArticleData(articleId);
}

void WebApi::deleteDiskArticleData(const QString& articleId) {
    ContentStore().deleteDiskArticleData(articleId);
}

QString WebApi::getFileContent(const QString& articleId, const QString& fileType) {
    return ContentStore().getFileContent(articleId, fileType);
}

void WebApi::saveExportFile(const QString& srouce, const QString& fileName) {
    const QString text = MediaExport::outcomeText(MediaExport::saveExportFile(srouce, fileName));
    if (!text.isEmpty())
        showInfo(text);
}
