// The bridge's practice, paragraph and video slots. The state machine itself
// is the PracticeController; these slots route page calls to it, to the
// paragraph page and window, and to the video surface.
#include "bridge/webapi.h"

#include "bridge/shellwindow.h"
#include "core/pageprotocol.h"
#include "core/signing.h"
#include "playback/practicecontroller.h"

#include <QMessageBox>
#include <QtDebug>

using PageScript::Page;
namespace Script = PageProtocol::Script;
namespace Word = PageProtocol;

void WebApi::setParagaraph(const QString& type, const QString& paragraph) {
    PracticePlayer* player = practice()->player();
    QString templ;
    if (type == Word::sentenceText || type == Word::dictationText) {
        templ = Script::setParagraph;
        if (player)
            player->setSentenceSubtitle(paragraph);
    } else if (type == Word::chineseText || type == Word::dictationTranslationText || type == Word::translationText) {
        templ = Script::setDictTrans;
        if (player)
            player->setTranslationSubtitle(paragraph);
        qDebug() << paragraph;
    } else if (type == Word::fillwordText) {
        templ = Script::setFillword;
    } else if (type == Word::chosenWordText) {
        templ = Script::setChoised;
    }
    pages().run(Page::Paragraph, templ, {paragraph});
}

void WebApi::resetMedia() {
    practice()->resetMedia();
}

void WebApi::initPlay(const QString& src, const QString& type, const QList<int>& startTime, const QString& mediaType) {
    practice()->initPlay(src, type, startTime, mediaType);
}

void WebApi::initPlay(const QString& src, const QString& type, const QList<int>& startTime) {
    initPlay(src, type, startTime, Word::audioMediaType);
}

void WebApi::setEndTimes(const QList<int>& endTime) {
    practice()->setEndTimes(endTime);
}

void WebApi::setFmId(const QString& fmArticleId) {
    // The article's audio from the service, without sentence times.
    initPlay(signedMediaUrl(fmArticleId), Word::online, {}, QString());
}

void WebApi::setState(const QString& stateName, const QString& state) {
    practice()->setState(stateName, state);
}

void WebApi::cancelPlay() {
    practice()->cancelPlay();
}

void WebApi::positionChanged(qint64 position) {
    practice()->positionChanged(position);
}

void WebApi::play(qint64 position) {
    practice()->play(position);
}

void WebApi::pause() {
    practice()->pause();
}

void WebApi::setClickState(const QString& state) {
    practice()->clickState = state;
}

void WebApi::setVolume(int value) {
    practice()->setVolume(value);
    pageVolume = value;
    pages().run(Page::Data, Script::setVolume, {value});
}

void WebApi::setLoadPositionState(const QString& state) {
    practice()->loadPositionState = state;
}

void WebApi::loadPosition(int position) {
    practice()->loadPosition(position);
}

void WebApi::setDictationIndex(int index) {
    practice()->setDictationIndex(index);
}

void WebApi::setFillwordIndex(int index) {
    practice()->setFillwordIndex(index);
}

void WebApi::fillwordSuccessAction() {
    practice()->fillwordSuccessAction();
}

void WebApi::setPlayIndex(int index) {
    practice()->setPlayIndex(index);
}

void WebApi::durationChanged(qint64 value) {
    practice()->durationChanged(value);
}

void WebApi::mediaStatusChanged(ObDataBase::PlayManager::MediaStatus mediaStatus) {
    practice()->mediaStatusChanged(int(mediaStatus));
}

std::unique_ptr<PracticePlayer> WebApi::createPlayManager() {
    auto manager = std::make_unique<ObDataBase::PlayManager>(this);
    QWidget* widget = nullptr;
    try {
        widget = manager->playerWidget();
    } catch (const std::exception& failure) {
        // libmpv could not start: say so and go on without playback.
        qCritical("%s", failure.what());
        showInfo(tr("媒体播放器无法启动：%1").arg(QString::fromUtf8(failure.what())));
        return nullptr;
    }
    surface.adopt(widget, this);

    connect(manager.get(), &ObDataBase::PlayManager::positionChanged, this, &WebApi::positionChanged);
    connect(manager.get(), &ObDataBase::PlayManager::durationChanged, this, &WebApi::durationChanged);
    connect(manager.get(), &ObDataBase::PlayManager::mediaStatusChanged, this, &WebApi::mediaStatusChanged);
    // The exact timing goes straight to the practice: it is no page call.
    PracticeController* timing = practice();
    connect(manager.get(), &ObDataBase::PlayManager::exactPositionChanged, timing,
            &PracticeController::exactPositionChanged);
    connect(manager.get(), &ObDataBase::PlayManager::speedChanged, timing, &PracticeController::speedChanged);
    connect(manager.get(), &ObDataBase::PlayManager::pausedChanged, timing, &PracticeController::pausedChanged);
    return manager;
}

void WebApi::setTranslationState(const QString& translationState) {
    // Kept here too, or the next page load would push the old state back.
    reading.translationState = translationState;
    if (ShellWindow* window = shell())
        window->setTranslationState(translationState);
}

void WebApi::setDesktopState(const QString& desktopState) {
    ShellWindow* window = shell();
    if (!window)
        return;
    if (desktopState.contains(Word::desktopOn))
        window->setParagraphWindowVisible(true);
    if (desktopState.contains(Word::desktopOff) || desktopState.contains(Word::off))
        window->setParagraphWindowVisible(false);
}

void WebApi::jumpToNextSentence() {
    pages().evaluate(webFrame.data(), Script::nextSentence);
}

void WebApi::jumpToPreviousSentence() {
    pages().evaluate(webFrame.data(), Script::previousSentence);
}

void WebApi::askPageToPlay(bool play) {
    // The paragraph page's play button: in state "pause" it asks the page to play, in "play" to pause.
    paraSetState(Word::playControl, play ? Word::paused : Word::playing);
}

void WebApi::paraSetState(const QString& type, const QString& state) {
    QString snippet;
    if (type == Word::playControl) {
        if (state == Word::nextState)
            snippet = Script::next;
        else if (state == Word::previousState)
            snippet = Script::previous;
        else if (state == Word::playing)
            snippet = Script::pause;
        else if (state == Word::paused)
            snippet = Script::playFromParagraph;
    } else if (type == Word::translateControl) {
        snippet = Script::translateControl;
    } else if (type == Word::repeatControl) {
        snippet = Script::repeatControl;
    } else if (type == Word::modeControl) {
        snippet = Script::modeControl;
    } else if (type == Word::desktopControl) {
        snippet = Script::desktopControl;
    }
    if (mainPageMode == Word::online)
        pages().evaluate(Page::Main, snippet);
    else if (mainPageMode == Word::local)
        pages().evaluate(Page::Data, snippet);
}

void WebApi::setHideDisplayTipIndex(const QString& index) {
    pages().run(Page::Main, Script::setHideDisplayTipIndex, {index});
}

void WebApi::setDragState(const QString& state) {
    if (state == Word::dragStart && dragStart)
        dragStart();
    else if (state == Word::dragEnd && dragEnd)
        dragEnd();
}

void WebApi::paragraphFillwordSuccess() {
    pages().evaluate(Page::Main, Script::paragraphFillwordSuccess);
}

// The video surface -------------------------------------------------------------

void WebApi::updateVideoFrameGeometry() {
    surface.place();
}

void WebApi::raiseVideoFrame() {
    surface.raise();
}

void WebApi::lowerVideoFrame() {
    surface.lower();
}

void WebApi::setVideoFullscreen(const QString& state) {
    Q_UNUSED(state); // the call toggles
    surface.toggleFullScreen();
}

void WebApi::exitVideoFullscreen() {
    surface.exitFullScreen();
}

bool WebApi::isFullScreen() const {
    return shell() && shell()->isVideoFullScreen();
}

void WebApi::setFullScreen(bool on) {
    if (on)
        surface.enterFullScreen();
    else
        surface.exitFullScreen();
}
