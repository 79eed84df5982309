#pragma once

#include "bridge/pagescript.h"
#include "core/settings.h"
#include "playback/playmanager.h"
#include "playback/videocommands.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class MainWindow;
class Paragraph;
class PracticeController;
class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QWebFrame;
class QWebView;

// The script bridge: one instance per web view, published into its page as
// "WebApi" (main window), "ListenApi" (offline-data window) or "ParagraphApi"
// (paragraph window). The pages call its slots; it answers by running short
// snippets in the pages (see PageScript). The slots stay thin: the work lives
// in the collaborators they call.
class WebApi : public QObject, public VideoCommands {
    Q_OBJECT

public:
    explicit WebApi(QObject* parent);
    ~WebApi() override;

    // Publishes this bridge into the view's page, chosen by the object name of
    // the view's parent; call while the parent is still the creating window.
    void attachView(QWebView* view);

    // The reading settings this bridge sends when its page has loaded.
    void setReadingSettings(const ReadingSettings& values) { reading = values; }
    const ReadingSettings& readingSettings() const { return reading; }
    // Sends reading settings to the main page (setSet) and the paragraph page;
    // the repeat count stays here, for the dictation replays.
    void pushReadingSettings(const ReadingSettings& values);

    // Stores a finished download reply as the article's part file (the id is the
    // request's "articleId" header) unless it exists, then checks completion.
    void storeMedia(QNetworkReply* reply);
    void storeArchive(QNetworkReply* reply);
    void storeSentenceData(QNetworkReply* reply);
    // Saves a thumbnail picture under the data directory (no completion check).
    void storeThumbnail(QNetworkReply* reply);
    // Tells both pages that the article is complete once all three part files exist.
    void checkDownloadComplete(const QString& articleId);

    // Places the video surface over the page's video frame (or the whole
    // window in full screen). Called on every layout pass of the main window.
    void updateVideoFrameGeometry();

    int volume = 0;
    QString userInfo;
    MainWindow* mainWindow = nullptr;
    Paragraph* paragraphWindow = nullptr;
    QString pageMode;
    QMessageBox* infoBox = nullptr;
    QWebView* mainView = nullptr;
    QWebFrame* webFrame = nullptr;
    QObject* eventFilterObject = nullptr;
    int frameOffset = 0;

    // Sentence tracking and practice state (playState, mode, repeatState,
    // currentIndex, startTimes, ...) and the player live here.
    PracticeController* practice() const { return practiceController.get(); }

    // The video surface's keys and menu (VideoCommands).
    void askPageToPlay(bool play) override;
    void setFullScreen(bool on) override;

    // Process-wide state shared by all bridges (the frame registers live in PageScript).
    static QNetworkAccessManager* dataNetworkManager;
    static bool dataPageReady;
    static QString deletedArticleIds;

public slots:
    void openBrowser(const QString& param);
    void showInfo(const QString& info);
    void setSetDialog();
    void captureWord(const QString& url);
    void pageLoaded(const QString& frame);
    void setHtmlPage(const QString& htmlData, const QString& titleName);
    void setParagaraph(const QString& type, const QString& paragraph);
    void setPrintAble(bool able);
    void setDownloadingList(const QString& articleList);
    void downloadArticle(const QString& articleData);
    void downloadChannel(const QString& channelData);
    void updateArticleData(const QString& articleId, const QString& articleData);
    void downloadFinished(const QString& articleId);
    void setDownloadChannel(const QString& data);
    void setDownloadArticle(const QString& data, const QString& downloadState);
    void deleteArticleData(const QString& articleId, const QString& channelId);
    void deleteChannelData(const QString& channelId);
    void deleteDiskArticleData(const QString& articleId);
    void setDeleteArticleId(const QString& articleId);
    void historyLoaded();
    void delDownloadArticleId(const QString& articleId);
    void getDataFinished(const QString& type);
    void gotoLocal(const QString& channelId, const QString& articleId);
    void saveData(const QString& key, const QString& value);
    QString getFileContent(const QString& articleId, const QString& fileType);
    void gotoOnline();
    void getZipDir();
    void resetMedia();
    void initPlay(const QString& src, const QString& type, const QList<int>& startTime, const QString& mediaType);
    void initPlay(const QString& src, const QString& type, const QList<int>& startTime);
    void setFmId(const QString& fmArticleId);
    void setState(const QString& stateName, const QString& state);
    void cancelPlay();
    void positionChanged(qint64 position);
    void play(qint64 position);
    void pause();
    void setClickState(const QString& state);
    void setVolume(int volume);
    void setLoadPositionState(const QString& loadPositionState);
    void loadPosition(int position);
    void setDictationIndex(int index);
    void setFillwordIndex(int index);
    void fillwordSuccessAction();
    void setPlayIndex(int index);
    void setTranslationState(const QString& translationState);
    void setDesktopState(const QString& desktopState);
    void raiseVideoFrame();
    void lowerVideoFrame();
    void jumpToNextSentence() override;
    void jumpToPreviousSentence() override;
    void queryState(const QString& type);
    void paraSetState(const QString& type, const QString& state);
    void setHideDisplayTipIndex(const QString& index);
    void setDragState(const QString& state);
    void paragraphFillwordSuccess();
    void saveExportFile(const QString& srouce, const QString& fileName);
    void setVideoFullscreen(const QString& state);
    void exitVideoFullscreen();

private slots:
    void attachMainObject();
    void attachDataObject();
    void attachParagraphObject();
    void downloadManager(QNetworkReply* reply);
    void dealLrcDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void dealMp3DownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void dealArchiveDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void durationChanged(qint64 duration);
    void mediaStatusChanged(ObDataBase::PlayManager::MediaStatus mediaStatus);

private:
    ReadingSettings reading;
    // Declared before the controller that calls it, so it outlives the controller.
    PracticePageScript practicePage;
    std::unique_ptr<PracticeController> practiceController;

    // Creates the player on the first initPlay: the video surface goes into the
    // main window's central layout and the video keys are installed.
    std::unique_ptr<PracticePlayer> createPlayManager();
    // Sends the requests of an "article" (thumbnail and the three parts) or a
    // "channel" (thumbnail only) described by a page record.
    void startDownload(const QString& type, const QString& data);
    // Sends one part request carrying the "articleId" header through the
    // offline-data page's manager; progress, when given, is reported by that
    // slot. A follow-up (a redirect or a media URL the service named) is not
    // followed any further.
    using ProgressSlot = void (WebApi::*)(qint64, qint64);
    void requestPart(const QString& url, const QString& articleId, ProgressSlot progress = nullptr,
                     bool followUp = false);
    void reportProgress(const char* kind, qint64 bytesReceived, qint64 bytesTotal);

    // The window that owns the main page, wherever this bridge lives.
    static MainWindow* applicationMainWindow();
};
