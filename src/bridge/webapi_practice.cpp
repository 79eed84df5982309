// The bridge's practice, paragraph and video slots. The state machine itself
// is the PracticeController; these slots route page calls to it, to the
// paragraph window and to the video surface.
#include "bridge/webapi.h"

#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "bridge/pagescript.h"
#include "core/signing.h"
#include "playback/practicecontroller.h"
#include "playback/videoeventfilter.h"

#include <QCoreApplication>
#include <QLayout>
#include <QWebFrame>
#include <QWindow>

using PageScript::Page;

void WebApi::setParagaraph(const QString& type, const QString& paragraph) {
    PracticePlayer* player = practice()->player();
    QString templ;
    if (type == QLatin1String("sentence") || type == QLatin1String("dictation")) {
        templ = QStringLiteral("paragraph.setParagraph('%1');");
        if (player)
            player->setSentenceSubtitle(paragraph);
    } else if (type == QLatin1String("chinese") || type == QLatin1String("dictTrans") ||
               type == QLatin1String("trans")) {
        templ = QStringLiteral("paragraph.setDictTrans('%1');");
        if (player)
            player->setTranslationSubtitle(paragraph);
        qDebug() << paragraph;
    } else if (type == QLatin1String("fillword")) {
        templ = QStringLiteral("paragraph.setFillword('%1');");
    } else if (type == QLatin1String("choised")) {
        templ = QStringLiteral("paragraph.setChoised('%1');");
    }
    PageScript::run(Page::Paragraph, templ, {paragraph});
}

void WebApi::resetMedia() {
    practice()->resetMedia();
}

void WebApi::initPlay(const QString& src, const QString& type, const QList<int>& startTime, const QString& mediaType) {
    practice()->initPlay(src, type, startTime, mediaType);
}

void WebApi::initPlay(const QString& src, const QString& type, const QList<int>& startTime) {
    initPlay(src, type, startTime, QStringLiteral("audio"));
}

void WebApi::setFmId(const QString& fmArticleId) {
    // The article's audio from the service, without sentence times.
    initPlay(signedMediaUrl(fmArticleId), QStringLiteral("online"), {}, QString());
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
    volume = value;
    PageScript::run(Page::Data, QStringLiteral("setData('volume', '%1');"), {value});
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
    if (mainWindow && mainWindow->centralWidget() && mainWindow->centralWidget()->layout())
        mainWindow->centralWidget()->layout()->addWidget(widget);

    auto* filter = new VideoEventFilter(practice(), this);
    eventFilterObject = filter;
    QCoreApplication::instance()->installEventFilter(filter);

    connect(manager.get(), &ObDataBase::PlayManager::positionChanged, this, &WebApi::positionChanged);
    connect(manager.get(), &ObDataBase::PlayManager::durationChanged, this, &WebApi::durationChanged);
    connect(manager.get(), &ObDataBase::PlayManager::mediaStatusChanged, this, &WebApi::mediaStatusChanged);
    return manager;
}

void WebApi::setTranslationState(const QString& translationState) {
    if (mainWindow)
        mainWindow->setTranslationState(translationState);
}

void WebApi::setDesktopState(const QString& desktopState) {
    if (!paragraphWindow)
        return;
    if (desktopState.contains(QLatin1String("desktopOn")))
        paragraphWindow->show();
    if (desktopState.contains(QLatin1String("desktopOff")) || desktopState.contains(QLatin1String("off")))
        paragraphWindow->hide();
}

void WebApi::jumpToNextSentence() {
    PageScript::evaluate(webFrame, QStringLiteral("media.nextSentence();"));
}

void WebApi::jumpToPreviousSentence() {
    PageScript::evaluate(webFrame, QStringLiteral("media.previousSentence();"));
}

void WebApi::paraSetState(const QString& type, const QString& state) {
    QString snippet;
    if (type == QLatin1String("play")) {
        if (state == QLatin1String("next"))
            snippet = QStringLiteral("media.next();");
        else if (state == QLatin1String("pre"))
            snippet = QStringLiteral("media.pre();");
        else if (state == QLatin1String("play"))
            snippet = QStringLiteral("media.pause();");
        else if (state == QLatin1String("pause"))
            snippet = QStringLiteral("media.play(0, true);");
    } else if (type == QLatin1String("translateState")) {
        snippet = QStringLiteral("media.translateControl();");
    } else if (type == QLatin1String("repeatState")) {
        snippet = QStringLiteral("media.repeatControl();");
    } else if (type == QLatin1String("modeState")) {
        snippet = QStringLiteral("media.modeControl();");
    } else if (type == QLatin1String("desktopState")) {
        snippet = QStringLiteral("media.desktopControl()");
    }
    if (pageMode == QLatin1String("online"))
        PageScript::evaluate(Page::Main, snippet);
    else if (pageMode == QLatin1String("local"))
        PageScript::evaluate(Page::Data, snippet);
}

void WebApi::setHideDisplayTipIndex(const QString& index) {
    PageScript::run(Page::Main, QStringLiteral("article.setHideDisplayTipIndex('%1');"), {index});
}

void WebApi::setDragState(const QString& state) {
    QObject* grandparent = parent() ? parent()->parent() : nullptr;
    auto* window = qobject_cast<Paragraph*>(grandparent);
    if (!window)
        return;
    if (state == QLatin1String("start"))
        window->enableDrag();
    else if (state == QLatin1String("end"))
        window->saveRect();
}

void WebApi::paragraphFillwordSuccess() {
    PageScript::evaluate(Page::Main, QStringLiteral("article.paragraphFillwordSuccess();"));
}

// The video surface -------------------------------------------------------------

namespace {

QWidget* visibleVideo(PracticeController* practice) {
    PracticePlayer* player = practice->player();
    QWidget* widget = player ? player->playerWidget() : nullptr;
    return widget && widget->isVisible() ? widget : nullptr;
}

} // namespace

void WebApi::updateVideoFrameGeometry() {
    QWidget* widget = practice()->isVideo ? visibleVideo(practice()) : nullptr;
    if (!widget || !mainWindow)
        return;
    if (mainWindow->isFullScreen()) {
        widget->setGeometry(0, 0, mainWindow->width(), mainWindow->height());
        return;
    }
    const QStringList parts =
        PageScript::evaluate(webFrame, QStringLiteral("media.showVideoFrame();")).toString().split(QLatin1Char(','));
    if (parts.size() != 4)
        return;
    // A one-pixel nudge that alternates on every placement forces a repaint of the surface.
    frameOffset = frameOffset != 1 ? 1 : -1;
    const int x = int(parts.at(0).toDouble() + frameOffset);
    const int y = int(parts.at(1).toDouble());
    const int width = int(parts.at(2).toDouble());
    const int height = int(parts.at(3).toDouble());
    widget->setGeometry(x, y, width, height);
}

void WebApi::raiseVideoFrame() {
    if (PracticePlayer* player = practice()->player())
        player->playerWidget()->raise();
}

void WebApi::lowerVideoFrame() {
    if (PracticePlayer* player = practice()->player())
        player->playerWidget()->lower();
}

void WebApi::setVideoFullscreen(const QString& state) {
    Q_UNUSED(state); // the call toggles
    if (!mainWindow || !practice()->player())
        return;
    if (!mainWindow->isFullScreen()) {
        setFullScreen(true);
    } else {
        exitVideoFullscreen();
        updateVideoFrameGeometry();
    }
}

void WebApi::setFullScreen(bool on) {
    PracticePlayer* player = practice()->player();
    if (!on) {
        exitVideoFullscreen();
        return;
    }
    if (!mainWindow || !player)
        return;
    if (QWindow* handle = mainWindow->windowHandle())
        handle->setScreen(handle->screen());
    mainWindow->showFullScreen();
    mainWindow->setMenuBarVisible(false);
    player->setSubtitlesVisible(true);
    updateVideoFrameGeometry();
}

void WebApi::askPageToPlay(bool play) {
    // The paragraph page's play button: "pause" asks the page to play, "play" to pause.
    paraSetState(QStringLiteral("play"), play ? QStringLiteral("pause") : QStringLiteral("play"));
}

void WebApi::exitVideoFullscreen() {
    PracticePlayer* player = practice()->player();
    if (!mainWindow || !player)
        return;
    mainWindow->showNormal();
    mainWindow->setMenuBarVisible(true);
    player->setSubtitlesVisible(false);
}
