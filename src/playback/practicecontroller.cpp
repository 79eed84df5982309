#include "playback/practicecontroller.h"

#include "core/pageprotocol.h"
#include "core/scripttext.h"
#include "playback/practicepage.h"

#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

namespace Script = PageProtocol::Script;
using PageScript::build;
namespace Word = PageProtocol;

PracticeController::PracticeController(QObject* parent) : QObject(parent) {
    dictationGap.setSingleShot(true);
    dictationGap.setTimerType(Qt::PreciseTimer);
    dictationGap.setInterval(dictationGapMs);
    connect(&dictationGap, &QTimer::timeout, this, &PracticeController::replayDictationSentence);
    boundary.setSingleShot(true);
    boundary.setTimerType(Qt::PreciseTimer);
    connect(&boundary, &QTimer::timeout, this, &PracticeController::boundaryDue);
}

PracticeController::~PracticeController() = default;

void PracticeController::page(const QString& snippet) {
    if (pageTarget)
        pageTarget->runInOwnPage(snippet);
}

void PracticeController::paragraphPage(const QString& snippet) {
    if (pageTarget)
        pageTarget->runInParagraphPage(snippet);
}

qint64 PracticeController::startMsAt(int index) const {
    return index >= 0 && index < startTimes.size() ? startTimes.at(index) : 0;
}

double PracticeController::sentenceEndSeconds(int index) const {
    const qint64 next = startTimes.at(index + 1);
    if (index >= 0 && index < endTimes.size() && endTimes.at(index) > startTimes.at(index) && endTimes.at(index) < next)
        return endTimes.at(index) / 1000.0;
    return next / 1000.0;
}

void PracticeController::setEndTimes(const QList<int>& endTime) {
    endTimes = endTime;
    scheduleBoundary();
}

void PracticeController::setSentenceTimes(const QList<int>& starts, const QList<int>& ends) {
    if (starts.size() != startTimes.size())
        return;
    startTimes = starts;
    endTimes = ends;
    scheduleBoundary();
}

double PracticeController::sentenceStartSeconds(int index) const {
    if (index == -1)
        index = currentIndex;
    return startMsAt(index) / 1000.0;
}

void PracticeController::initPlay(const QString& src, const QString& type, const QList<int>& startTime,
                                  const QString& mediaType) {
    playState = Word::stopped;
    loadPositionState = Word::no;
    mediaEnded = false;
    currentIndex = 0;
    repeatCount = 0;
    playingSource = src;
    startTimes = startTime;
    endTimes.clear();
    dictationGap.stop();
    boundary.stop();
    anchorSeconds = 0;
    advancing = false;
    awaitingSeek = false;
    actedAt = -1;
    lastHighlightSent = false;
    resolving = false;
    seekAfterResolve = -1;
    const int generation = ++loadGeneration;

    if (!playManager && createPlayer)
        playManager = createPlayer();

    QWidget* widget = playManager ? playManager->playerWidget() : nullptr;
    isVideo = src.toLower().indexOf(Word::videoSourceMark, 1) >= 1 || mediaType == Word::videoMediaType;
    if (isVideo) {
        if (widget)
            widget->show();
        if (placeVideo)
            placeVideo();
    } else {
        page(Script::hideVideoFrame);
        if (widget)
            widget->hide();
    }

    if (!playManager)
        return;
    if (type == Word::online) {
        if (!resolveOnline) {
            playManager->loadMedia(src);
            return;
        }
        QPointer<PracticeController> self(this);
        resolving = true;
        resolveOnline(src, [self, generation](const QString& url) {
            // An answer for an article the page has left behind is not loaded.
            if (!self || !self->playManager || self->loadGeneration != generation)
                return;
            self->resolving = false;
            self->playManager->loadMedia(url);
            if (self->seekAfterResolve >= 0)
                self->playManager->seekToIfNonNegative(std::exchange(self->seekAfterResolve, -1.0));
        });
    } else if (type == Word::local) {
        QString path = src;
#ifdef Q_OS_WIN
        path.remove(QStringLiteral("file:///"));
#else
        // Keep the root of an absolute path: "file:///home/x" is "/home/x" here.
        path.replace(QStringLiteral("file:///"), QStringLiteral("/"));
#endif
        playManager->loadMedia(path);
    }
}

PracticeController::Step PracticeController::step() const {
    if (loadPositionState == Word::yes || (repeatState != Word::repeatSentence && mode == Word::readMode))
        return Step::Tracking;
    if (loadPositionState == Word::no)
        return Step::SentenceEnd;
    return Step::None;
}

void PracticeController::positionChanged(qint64 position) {
    // During the pause between dictation replays, reports of the paused player are
    // ignored, so the same sentence end is not handled twice.
    if (dictationGap.isActive())
        return;
    // Nor are the reports of the previous media while an online source is resolved.
    if (duration == 0 || resolving)
        return;
    page(build(Script::setPlaying, {qint64(position * 100 / duration)}));
    // Sentence changes are sent at the exact moment (exactPositionChanged and the
    // boundary timer); here only the highlight that the last sentence repeats.
    if (step() == Step::Tracking) {
        if (startTimes.isEmpty()) {
            currentIndex = -1;
            page(build(Script::highlight, {-1}));
            return;
        }
        track(exactPosition(), true);
    }
}

void PracticeController::durationChanged(qint64 value) {
    duration = value;
    scheduleBoundary();
}

double PracticeController::exactPosition() const {
    if (!advancing)
        return anchorSeconds;
    return anchorSeconds + anchorClock.nsecsElapsed() / 1e9 * rate;
}

void PracticeController::freezeClock() {
    anchorSeconds = exactPosition();
    advancing = false;
    boundary.stop();
}

void PracticeController::exactPositionChanged(double seconds) {
    if (resolving)
        return;
    anchorSeconds = seconds;
    anchorClock.restart();
    awaitingSeek = false;
    advancing = !playerPaused;
    // Back before the sentence end acted on: it may be acted on again.
    if (actedAt >= 0 && seconds + boundaryToleranceSeconds < actedAt)
        actedAt = -1;
    if (dictationGap.isActive() || duration == 0)
        return;
    if (step() == Step::Tracking && !startTimes.isEmpty())
        track(seconds, false);
    scheduleBoundary();
}

void PracticeController::speedChanged(double speed) {
    anchorSeconds = exactPosition();
    anchorClock.restart();
    rate = speed > 0 ? speed : 1.0;
    scheduleBoundary();
}

void PracticeController::pausedChanged(bool paused) {
    playerPaused = paused;
    if (paused) {
        freezeClock();
    } else if (!awaitingSeek && !advancing) {
        anchorClock.restart();
        advancing = true;
        scheduleBoundary();
    }
}

void PracticeController::setPlayerPaused(bool paused) {
    if (!playManager)
        return;
    playManager->setPaused(paused);
    // Stopping counts at once; playing counts once the player reports it.
    if (paused)
        pausedChanged(true);
    else
        playerPaused = false;
}

void PracticeController::seekTo(double seconds) {
    if (!playManager || seconds < 0)
        return;
    anchorSeconds = seconds;
    advancing = false;
    awaitingSeek = true;
    actedAt = -1;
    boundary.stop();
    if (resolving) {
        seekAfterResolve = seconds;
        return;
    }
    playManager->seekToIfNonNegative(seconds);
}

std::optional<double> PracticeController::nextBoundary(double seconds) const {
    const int n = startTimes.size();
    switch (step()) {
    case Step::Tracking: {
        // The next sentence start ahead of the position.
        const double ms = (seconds + boundaryToleranceSeconds) * 1000.0;
        for (int start : startTimes)
            if (start > ms)
                return start / 1000.0;
        return std::nullopt;
    }
    case Step::SentenceEnd: {
        // The last sentence ends with the media; an index outside -1 .. n-2 has no next start.
        if (currentIndex < -1 || currentIndex >= n - 1)
            return std::nullopt;
        const double end = sentenceEndSeconds(currentIndex);
        if (end == actedAt)
            return std::nullopt;
        return end;
    }
    case Step::None:
        break;
    }
    return std::nullopt;
}

void PracticeController::scheduleBoundary() {
    boundary.stop();
    if (!advancing || dictationGap.isActive() || duration == 0)
        return;
    const double now = exactPosition();
    const std::optional<double> due = nextBoundary(now);
    if (!due)
        return;
    const double wait = (*due - now - boundaryToleranceSeconds) / rate;
    if (wait <= 0)
        boundaryDue(); // already there (a report at or past the boundary)
    else
        boundary.start(int(std::ceil(wait * 1000.0)));
}

void PracticeController::boundaryDue() {
    if (!advancing || dictationGap.isActive() || duration == 0)
        return;
    const double now = exactPosition();
    if (step() == Step::Tracking) {
        track(now, false);
        scheduleBoundary();
        return;
    }
    const std::optional<double> due = nextBoundary(now);
    if (!due)
        return;
    if (now + boundaryToleranceSeconds < *due) {
        // Early (the clock was corrected meanwhile): wait for the rest.
        scheduleBoundary();
        return;
    }
    sentenceEnd();
    // Acting paused the player or sent it back: nothing is armed until it reports again.
    scheduleBoundary();
}

void PracticeController::track(double seconds, bool repeatLast) {
    const int n = startTimes.size();
    if (n == 0)
        return;
    const double ms = (seconds + boundaryToleranceSeconds) * 1000.0;
    int index = -1;
    if (ms >= startTimes.at(0)) {
        int i = 1;
        while (i < n && ms >= startTimes.at(i))
            ++i;
        index = i - 1;
    }
    if (index == n - 1 && repeatLast) {
        // In the last sentence the highlight is repeated on every whole-second
        // report; the first of them was sent at the exact start already.
        currentIndex = index;
        if (!std::exchange(lastHighlightSent, false))
            page(build(Script::highlight, {index}));
        return;
    }
    if (index == currentIndex)
        return;
    currentIndex = index;
    lastHighlightSent = index == n - 1;
    page(build(Script::highlight, {index}));
}

void PracticeController::sentenceEnd() {
    actedAt = sentenceEndSeconds(currentIndex);
    if (mode == Word::dictationMode) {
        ++repeatCount;
        if (QString::number(repeatCount) == playRepeatTimes) {
            repeatCount = 0;
            page(Script::pause);
            page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
            seekTo(sentenceStartSeconds(currentIndex));
        } else {
            // Stopped at the end, back at the start while paused, and played
            // again after the gap: nothing of the next sentence is heard.
            pause();
            seekTo(sentenceStartSeconds(currentIndex));
            dictationGap.start();
        }
    } else if (mode == Word::fillwordMode) {
        page(Script::pause);
        page(Script::setFillwordState);
    } else if (repeatState == Word::repeatSentence) {
        seekTo(sentenceStartSeconds(currentIndex));
    }
}

void PracticeController::replayDictationSentence() {
    // The player waits at the sentence start (sentenceEnd); the page plays it.
    page(Script::playFromStart);
    page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
}

void PracticeController::mediaStatusChanged(int status) {
    switch (status) {
    case MediaStatusCode::LoadingMedia:
        page(Script::loadingStart);
        break;
    case MediaStatusCode::LoadedMedia:
        page(Script::loadingEnd);
        page(Script::playFromStart);
        page(Script::highlightFirst);
        break;
    case MediaStatusCode::EndOfMedia:
        playState = Word::stopped;
        if (mode == Word::dictationMode) {
            if (repeatState == Word::repeatSentenceDictation)
                break;
            ++repeatCount;
            if (QString::number(repeatCount) == playRepeatTimes) {
                if (repeatState == Word::repeatArticle) {
                    page(Script::next);
                } else if (repeatState == Word::repeatAll) {
                    currentIndex = 0;
                    repeatCount = 0;
                    page(Script::initDictation);
                }
            }
            // The current sentence again, from its start (not the whole media).
            mediaEnded = true;
            playAt(startMsAt(currentIndex) / 1000.0);
            page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
        } else if (mode == Word::fillwordMode) {
            page(Script::pause);
        } else {
            mediaEnded = true;
            // The paragraph window offers to play again; told first, so that a page
            // that starts over (repeat) leaves it showing pause.
            paragraphPage(Script::offerPlay);
            page(Script::playEnd);
        }
        break;
    default:
        break;
    }
}

void PracticeController::play(qint64 position) {
    // Milliseconds, exact to the millisecond, unless the page has said seconds.
    const bool seconds = clickState == Word::yes;
    std::optional<double> target;
    if (position > 0 || (position == 0 && seconds))
        target = seconds ? double(position) : position / 1000.0;
    playAt(target);
}

void PracticeController::playAt(std::optional<double> seconds) {
    if (!playManager)
        return;
    if (mediaEnded) {
        // Over again: from the start, or straight to the position asked for.
        if (!seconds)
            seekTo(0.0);
        playManager->play();
        mediaEnded = false;
    }
    if (seconds)
        seekTo(*seconds);
    setPlayerPaused(false);
    playState = Word::playing;
    paragraphPage(Script::offerPause);
}

void PracticeController::pause() {
    if (!playManager)
        return;
    setPlayerPaused(true);
    playState = Word::paused;
    paragraphPage(Script::offerPlay);
}

void PracticeController::cancelPlay() {
    if (!playManager)
        return;
    dictationGap.stop();
    setPlayerPaused(true);
    if (QWidget* widget = playManager->playerWidget())
        widget->hide();
}

void PracticeController::resetMedia() {
    if (!playManager)
        return;
    if (QWidget* widget = playManager->playerWidget())
        widget->hide();
}

void PracticeController::fillwordSuccessAction() {
    ++currentIndex;
    if (currentIndex == startTimes.size()) {
        if (repeatState == Word::repeatAll) {
            currentIndex = 0;
            seekTo(0.0);
        } else {
            page(Script::next);
        }
    }
    // Paused at the sentence end, which is where the next sentence starts.
    if (playManager) {
        playManager->play();
        playerPaused = false;
    }
    page(build(Script::initFillwordIndex, {currentIndex}));
    page(Script::play);
    scheduleBoundary();
}

void PracticeController::setPlayIndex(int index) {
    currentIndex = index;
    loadPositionState = Word::no;
    scheduleBoundary();
}

void PracticeController::setState(const QString& stateName, const QString& state) {
    if (stateName == Word::repeatStateName) {
        repeatState = state;
    } else if (stateName == Word::modeStateName) {
        mode = state;
        if (state == Word::readMode) {
            if (playState == Word::paused) {
                play(startMsAt(currentIndex));
                page(Script::updatePlayStateIfMedia);
            }
            page(build(Script::highlightIfMedia, {currentIndex}));
        }
    }
    scheduleBoundary();
}

void PracticeController::setVolume(int volume) {
    if (playManager)
        playManager->setVolume(volume);
}

void PracticeController::loadPosition(int position) {
    const int n = startTimes.size();
    int shown = 0;
    qint64 playValue = 0;
    if (position == 0) {
        currentIndex = 0;
        shown = 0;
        playValue = 1;
    } else if (position == 99) {
        currentIndex = n - 1;
        shown = n - 1;
        playValue = startMsAt(n - 1);
    } else {
        const qint64 seconds = qint64(float(duration) * position / 100);
        playValue = seconds;
        if (n > 0) {
            const qint64 ms = seconds * 1000;
            if (ms < startTimes.at(0)) {
                currentIndex = -1;
                repeatCount = 0;
            } else {
                for (int i = 1; i < n; ++i) {
                    if (ms < startTimes.at(i)) {
                        currentIndex = i - 1;
                        repeatCount = 0;
                        break;
                    }
                }
            }
        }
        shown = currentIndex;
    }
    page(build(Script::showPosition, {shown}));
    if (mode == Word::readMode)
        play(playValue);
    else
        play(startMsAt(currentIndex));
    loadPositionState = Word::no;
}

void PracticeController::setDictationIndex(int index) {
    const int target = index == -1 ? currentIndex : index;
    seekTo(sentenceStartSeconds(target));
    currentIndex = index;
    repeatCount = 0;
}

void PracticeController::setFillwordIndex(int index) {
    const int target = index == -1 ? currentIndex : index;
    seekTo(sentenceStartSeconds(target));
    currentIndex = index;
}
