// The bridge's practice, paragraph and video slots. The state machine itself
// is the PracticeController; these slots route page calls to it, to the
// paragraph page and window, and to the video surface.
#include "bridge/webapi.h"

#include "bridge/keptsentences.h"
#include "bridge/shadowing.h"
#include "bridge/shellwindow.h"
#include "core/pageprotocol.h"
#include "core/signing.h"
#include "playback/practicecontroller.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QtDebug>

#include <cmath>
#include <optional>

using PageScript::Page;
namespace Script = PageProtocol::Script;
namespace Word = PageProtocol;

namespace {

// The page's words, read once here; the practice works with its own types.
std::optional<PracticeController::Mode> modeFromWord(const QString& word) {
    if (word == Word::readMode)
        return PracticeController::Mode::Read;
    if (word == Word::dictationMode)
        return PracticeController::Mode::Dictation;
    if (word == Word::fillwordMode)
        return PracticeController::Mode::Fillword;
    if (word == Word::shadowingMode)
        return PracticeController::Mode::Shadowing;
    return std::nullopt;
}

PracticeController::Repeat repeatFromWord(const QString& word) {
    if (word == Word::repeatAll)
        return PracticeController::Repeat::Article;
    if (word == Word::repeatArticle)
        return PracticeController::Repeat::NextArticle;
    if (word == Word::repeatSentence)
        return PracticeController::Repeat::Sentence;
    if (word == Word::repeatSentenceDictation)
        return PracticeController::Repeat::NoMediaEndReplay;
    return PracticeController::Repeat::Once;
}

using RepetitionPlan = PracticeController::RepetitionPlan;

// The longest plan text a page may send (ten speeds and a factor need far less).
constexpr int maxPlanText = 1000;

// The page's plan in the practice's type, or the reason (German, for the page) why it is none.
std::optional<RepetitionPlan> planFromJson(const QString& text, QString* error) {
    const QString invalid = QStringLiteral("Ungültiger Wiederholplan: ");
    if (text.size() > maxPlanText) {
        *error = invalid + QStringLiteral("Die Angaben sind zu lang.");
        return std::nullopt;
    }
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("null"))
        return RepetitionPlan{};
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed.toUtf8(), &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isObject()) {
        *error = invalid + QStringLiteral("Die Angaben sind nicht lesbar.");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue speeds = object.value(QLatin1String("speeds"));
    const QJsonValue factor = object.value(QLatin1String("pauseFactor"));
    RepetitionPlan plan;
    if (!speeds.isUndefined() && !speeds.isNull()) {
        if (!speeds.isArray()) {
            *error = invalid + QStringLiteral("Die Tempi müssen eine Liste sein.");
            return std::nullopt;
        }
        for (const QJsonValue& speed : speeds.toArray()) {
            if (!speed.isDouble() || !(speed.toDouble() >= PracticeController::slowest) ||
                !(speed.toDouble() <= PracticeController::fastest)) {
                *error = invalid + QStringLiteral("Jedes Tempo muss zwischen 0,5 und 2,0 liegen.");
                return std::nullopt;
            }
            plan.speeds << std::round(speed.toDouble() * 100) / 100;
        }
    }
    if (plan.speeds.size() > PracticeController::maxHearings) {
        *error = invalid + QStringLiteral("Höchstens %1 Durchgänge.").arg(PracticeController::maxHearings);
        return std::nullopt;
    }
    if (!factor.isUndefined() && !factor.isNull()) {
        if (!factor.isDouble() || !(factor.toDouble() >= 0) ||
            !(factor.toDouble() <= PracticeController::maxPauseFactor)) {
            *error = invalid + QStringLiteral("Die Pause darf höchstens dreimal so lang sein wie der Satz.");
            return std::nullopt;
        }
        plan.pauseFactor = factor.toDouble();
    }
    if (plan.speeds.isEmpty())
        plan.pauseFactor = 0; // no plan: nothing to pause after
    return plan;
}

QString planAnswer(const RepetitionPlan& plan) {
    QJsonArray speeds;
    for (double speed : plan.speeds)
        speeds << speed;
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"ok", true}, {"speeds", speeds}, {"pauseFactor", plan.pauseFactor}})
            .toJson(QJsonDocument::Compact));
}

QString planRefused(const QString& error) {
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"ok", false}, {"error", error}}).toJson(QJsonDocument::Compact));
}

} // namespace

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
    if (speaking)
        speaking->cancel();
    practice()->initPlay(src, type, startTime, mediaType);
    if (KeptSentences* sentences = keptCards())
        sentences->setPracticeItem(src, type, startTime);
}

void WebApi::initPlay(const QString& src, const QString& type, const QList<int>& startTime) {
    initPlay(src, type, startTime, Word::audioMediaType);
}

void WebApi::setEndTimes(const QList<int>& endTime) {
    practice()->setEndTimes(endTime);
    if (KeptSentences* sentences = keptCards())
        sentences->setEndTimes(endTime);
}

void WebApi::setFmId(const QString& fmArticleId) {
    // The article's audio from the service, without sentence times.
    initPlay(signedMediaUrl(fmArticleId), Word::online, {}, QString());
}

void WebApi::setState(const QString& stateName, const QString& state) {
    if (stateName == Word::repeatStateName) {
        practice()->setRepeat(repeatFromWord(state));
    } else if (stateName == Word::modeStateName) {
        if (const std::optional<PracticeController::Mode> mode = modeFromWord(state))
            practice()->setMode(*mode);
    }
}

void WebApi::cancelPlay() {
    if (speaking)
        speaking->cancel();
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
    practice()->setPositionsInSeconds(state == Word::yes);
}

void WebApi::setVolume(int value) {
    practice()->setVolume(value);
    pageVolume = value;
    pages().run(Page::Data, Script::setVolume, {value});
}

void WebApi::setLoadPositionState(const QString& state) {
    practice()->setLoadingPosition(state == Word::yes);
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
    // The exact timing the practice takes from the player's timeline itself.
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
    // Space while shadowing ends the recording (or drops the take), it does not play.
    if (speaking && speaking->isActive()) {
        speaking->stop();
        return;
    }
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

// Speed ------------------------------------------------------------------------

void WebApi::setSpeed(double speed) {
    practice()->setSpeed(speed);
}

QString WebApi::setRepetitionPlan(const QString& json) {
    if (!mainView)
        return planRefused(QStringLiteral("Den Wiederholplan gibt es nur auf der Hauptseite."));
    QString error;
    const std::optional<RepetitionPlan> plan = planFromJson(json, &error);
    if (!plan || !practice()->setRepetitionPlan(*plan))
        return planRefused(error.isEmpty() ? QStringLiteral("Ungültiger Wiederholplan.") : error);
    return planAnswer(practice()->repetitionPlan());
}

QString WebApi::repetitionPlan() {
    if (!mainView)
        return planRefused(QStringLiteral("Den Wiederholplan gibt es nur auf der Hauptseite."));
    return planAnswer(practice()->repetitionPlan());
}
