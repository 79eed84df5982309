#pragma once

#include "bridge/bridgecontext.h"
#include "bridge/downloadrouter.h"
#include "bridge/pagescript.h"
#include "bridge/videosurface.h"
#include "core/settings.h"
#include "playback/playmanager.h"
#include "playback/videocommands.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class KeptSentences;
class MediaFiles;
class Shadowing;
class PracticeController;
class QMessageBox;
class QWebFrame;
class QWebView;
class ShellWindow;

// The script bridge: one instance per web view, published into its page as
// "WebApi" (main window), "ListenApi" (offline-data window) or "ParagraphApi"
// (paragraph window). The pages call its slots, whose names and signatures are
// fixed by the page contract; it answers by running snippets in the pages
// (PageScript, with the templates of core/pageprotocol.h). The slots stay thin:
// the work lives in the collaborators they call (PracticeController,
// DownloadRouter, VideoSurface, ContentStore, MediaExport) and in the window
// around the main page (ShellWindow). What the bridges of one main window
// share (the pages' frames, the downloads' state, the content store, the
// library module) is their BridgeContext.
class WebApi : public QObject, public VideoCommands {
    Q_OBJECT

public:
    WebApi(std::shared_ptr<BridgeContext> context, QObject* parent);
    ~WebApi() override;

    BridgeContext& context() const { return *shared; }
    const PageFrames& pages() const { return shared->pages; }

    // Publishes this bridge into the view's page, chosen by the object name of
    // the view's parent; call while the parent is still the creating window.
    void attachView(QWebView* view);

    // The main window, for the main page's bridge only.
    void setShell(ShellWindow* window);
    ShellWindow* shell() const { return surface.shellWindow(); }
    // The paragraph window's drag, for the paragraph page's bridge only.
    void setDragHandlers(std::function<void()> start, std::function<void()> end);

    // The reading settings this bridge sends when its page has loaded.
    void setReadingSettings(const ReadingSettings& values) { reading = values; }
    const ReadingSettings& readingSettings() const { return reading; }
    // Sends reading settings to the main page (setSet) and the paragraph page;
    // the repeat count stays here, for the dictation replays.
    void pushReadingSettings(const ReadingSettings& values);

    // Places the video surface over the page's video frame (or the whole
    // window in full screen). Called on every layout pass of the main window.
    void updateVideoFrameGeometry();

    // The practice rules and their typed state (mode, repeat, play state, the
    // sentence timeline and current sentence, dictation hearings, speed) and
    // the player, whose timeline owns position, seeks and the end, live here.
    PracticeController* practice() const { return practiceController; }
    DownloadRouter* downloads() { return &router; }
    QObject* videoEventFilter() const { return surface.keyFilter(); }
    // The learner's own media files; the main page's bridge only (null for the others).
    MediaFiles* mediaFiles();
    // The kept sentences and their reviews; the main page's bridge only (null for the others).
    KeptSentences* keptCards();
    // Shadowing ("Nachsprechen"); the main page's bridge only (null for the others).
    Shadowing* shadowing();
    // A file opened from the desktop (menu, drop, command line): imported and
    // shown by the index page, which is loaded for it when another page is up.
    void openMediaFile(const QString& path);

    int volume() const { return pageVolume; }
    const QString& userInfo() const { return storedUserInfo; }
    // "online" or "local": which page holds the main view, and so where the
    // paragraph page's commands go.
    const QString& pageMode() const { return mainPageMode; }
    void setPageMode(const QString& mode) { mainPageMode = mode; }
    QMessageBox* infoBox() const;

    // VideoCommands: the video surface's keys and menu.
    void askPageToPlay(bool play) override;
    void setFullScreen(bool on) override;
    bool isFullScreen() const override;

public slots:
    void openBrowser(const QString& param);
    void showInfo(const QString& info);
    void setSetDialog();
    void captureWord(const QString& url);
    void pageLoaded(const QString& frame);
    void setHtmlPage(const QString& htmlData, const QString& titleName);
    // Spelt so by the page contract.
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
    // After initPlay, for sentences that end before the next one starts (own media files).
    void setEndTimes(const QList<int>& endTime);
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
    // "srouce" is spelt so by the page contract.
    void saveExportFile(const QString& srouce, const QString& fileName);
    void setVideoFullscreen(const QString& state);
    void exitVideoFullscreen();
    // Local media files: JSON text in and out (webapi_media.cpp).
    QString importMedia(const QString& path);
    QString openMediaDialog();
    QString mediaLibrary();
    void forgetMedia(const QString& id);
    void setMediaProgress(const QString& id, int sentence);
    // Sentence times of local media fitted to the speech, or set by the learner:
    // the item as JSON text; a file being practised plays by the new times at once.
    QString resyncMedia(const QString& id, const QString& mode);
    QString setSentenceTiming(const QString& id, int index, int startMs, int endMs);
    // The playing speed, 0.5 to 2.0 (the voice keeps its pitch); kept in settings.ini (webapi_practice.cpp).
    void setSpeed(double speed);
    // The repetition plan ("Wiederholplan") of the modes that repeat a sentence,
    // {"speeds":[0.75,1,1],"pauseFactor":1.0}; empty text, null, {} or no speeds
    // clear it. Answers {"ok":true,"speeds":[..],"pauseFactor":x} with the plan
    // in force, or {"ok":false,"error":"<German>"} and the plan stays as it was.
    // Kept for the session only; the main page's bridge only (webapi_practice.cpp).
    QString setRepetitionPlan(const QString& json);
    QString repetitionPlan();
    // Kept sentences, their reviews and the export for Anki: JSON text in and out (webapi_review.cpp).
    QString keepSentence(int index, const QString& json);
    QString forgetCard(const QString& id);
    QString keptSentences();
    QString reviewDue();
    QString answerReview(const QString& id, int rating);
    QString playCard(const QString& id);
    QString reviewStats();
    QString exportDeck(const QString& format);
    // Shadowing ("Nachsprechen"): the page hears of it through shadowing.state()
    // and shadowing.result() (webapi_shadowing.cpp).
    void startShadowing(int index);
    void stopShadowing();
    void playAttempt(const QString& id);
    void playComparison(const QString& id);
    void playShadowingSentence(int index);
    QString shadowingAttempts(int index);
    void deleteAttempt(const QString& id);

private slots:
    void attachMainObject();
    void attachDataObject();
    void attachParagraphObject();
    void durationChanged(qint64 duration);
    void mediaStatusChanged(ObDataBase::PlayManager::MediaStatus mediaStatus);

private:
    // Creates the player on the first initPlay: the video surface goes into the
    // shell window's central area and the video keys are installed.
    std::unique_ptr<PracticePlayer> createPlayManager();

    const std::shared_ptr<BridgeContext> shared;
    ReadingSettings reading;
    int pageVolume = 0;
    QString storedUserInfo;
    QString mainPageMode;
    QPointer<QMessageBox> box;
    QWebView* mainView = nullptr;
    QPointer<QWebFrame> webFrame;
    std::function<void()> dragStart;
    std::function<void()> dragEnd;

    PracticePageScript practicePage;
    // A child, so it goes after this object's connections (the player's reports) are gone.
    PracticeController* practiceController;
    VideoSurface surface;
    DownloadRouter router;
    MediaFiles* files = nullptr;
    KeptSentences* kept = nullptr;
    Shadowing* speaking = nullptr;
};
