#include "playback/practicecontroller.h"

#include "core/pageprotocol.h"
#include "core/scripttext.h"
#include "playback/playertimeline.h"
#include "playback/practicepage.h"

#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace Script = PageProtocol::Script;
using PageScript::build;
namespace Word = PageProtocol;

namespace {

// "1.0", "0.7", "1.25": a speed as the page shows it.
QString speedText(double speed) {
    QString text = QString::number(speed, 'f', 2);
    if (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    return text;
}

} // namespace

PracticeController::PracticeController(QObject* parent) : QObject(parent) {
    gap.setSingleShot(true);
    gap.setTimerType(Qt::PreciseTimer);
    connect(&gap, &QTimer::timeout, this, &PracticeController::replay);
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

PlayerTimeline* PracticeController::line() const {
    return playManager ? playManager->timeline() : nullptr;
}

PracticeController::HearingPlan PracticeController::plan() const {
    const bool planned = planApplies();
    // After the first hearing `heard` is 1: the pause follows hearing heard - 1.
    const int pauseMs = planned ? speakingPauseMs(std::max(0, heard - 1)) : 0;
    if (practiceMode == Mode::Dictation) {
        // The plan says how often; the pause for writing stays at least as long as without one.
        if (planned)
            return {int(repetition.speeds.size()), std::max(dictationGapMs, pauseMs)};
        return {dictationHearings, dictationGapMs};
    }
    if (practiceMode == Mode::Read && repeatSetting == Repeat::Sentence)
        return {0, pauseMs};
    return {1, 0};
}

bool PracticeController::RepetitionPlan::isValid() const {
    if (speeds.size() > maxHearings || !std::isfinite(pauseFactor) || pauseFactor < 0 || pauseFactor > maxPauseFactor)
        return false;
    return std::all_of(speeds.begin(), speeds.end(),
                       [](double s) { return std::isfinite(s) && s >= slowest && s <= fastest; });
}

bool PracticeController::planApplies() const {
    if (repetition.isEmpty() || onceHeard)
        return false;
    return practiceMode == Mode::Dictation || (practiceMode == Mode::Read && repeatSetting == Repeat::Sentence);
}

double PracticeController::hearingSpeed(int hearing) const {
    if (!planApplies())
        return wantedSpeed;
    return repetition.speeds.at(std::clamp(hearing, 0, int(repetition.speeds.size()) - 1));
}

int PracticeController::speakingPauseMs(int hearing) const {
    const std::optional<double> end = endOf(current);
    if (!end || repetition.pauseFactor <= 0)
        return 0;
    // As long as the sentence sounded: its length at the hearing's speed.
    const double heardSeconds = std::max(0.0, *end - sentenceStartSeconds(current)) / hearingSpeed(hearing);
    return int(std::lround(repetition.pauseFactor * heardSeconds * 1000.0));
}

bool PracticeController::setRepetitionPlan(const RepetitionPlan& plan) {
    if (!plan.isValid())
        return false;
    repetition = plan;
    if (!planApplies())
        endPlan();
    return true;
}

void PracticeController::playAtSpeed(double value) {
    PlayerTimeline* l = line();
    if (!l || value == speedAsked)
        return;
    speedAsked = value;
    l->setSpeed(value);
}

void PracticeController::startHearing() {
    if (!planApplies()) {
        endPlan();
        return;
    }
    playAtSpeed(hearingSpeed(heard));
    const HearingPlan hearings = plan();
    hearingShown = true;
    page(build(Script::showHearing, {heard + 1, hearings.hearings, speedText(hearingSpeed(heard))}));
}

void PracticeController::endPlan() {
    playAtSpeed(wantedSpeed);
    if (std::exchange(hearingShown, false))
        page(build(Script::showHearing, {0, 0, speedText(wantedSpeed)}));
}

std::optional<double> PracticeController::endOf(int index) const {
    const PlayerTimeline* l = line();
    return timeline.endSeconds(index, l ? l->duration() : 0.0);
}

void PracticeController::setSentenceTimes(const QList<int>& starts, const QList<int>& ends) {
    if (starts.size() != timeline.count())
        return;
    timeline = SentenceTimeline(starts, ends);
    scheduleBoundary();
}

double PracticeController::sentenceStartSeconds(int index) const {
    return timeline.startSeconds(index == -1 ? current : index);
}

void PracticeController::setEndTimes(const QList<int>& endTime) {
    timeline.setEnds(endTime);
    scheduleBoundary();
}

void PracticeController::connectTimeline() {
    PlayerTimeline* l = line();
    connect(l, &PlayerTimeline::positionChanged, this, &PracticeController::timelinePosition);
    connect(l, &PlayerTimeline::pausedChanged, this, [this] { scheduleBoundary(); });
    connect(l, &PlayerTimeline::speedChanged, this, &PracticeController::timelineSpeed);
    connect(l, &PlayerTimeline::stopReached, this, &PracticeController::playerStopped);
    speedAsked = 1.0; // a new player plays at normal speed
    playAtSpeed(wantedSpeed);
}

void PracticeController::initPlay(const QString& src, const QString& type, const QList<int>& startTime,
                                  const QString& mediaType) {
    state = PlayState::Stopped;
    loadingPosition = false;
    current = 0;
    heard = 0;
    playingSource = src;
    timeline = SentenceTimeline(startTime);
    gap.stop();
    boundary.stop();
    actedAt = -1;
    lastHighlightSent = false;
    onceHeard = nullptr;
    hearingShown = false; // a new page, perhaps
    endPlan();
    const int generation = ++loadGeneration;

    if (!playManager && createPlayer) {
        playManager = createPlayer();
        if (playManager)
            connectTimeline();
    }

    QWidget* widget = playManager ? playManager->playerWidget() : nullptr;
    video = src.toLower().indexOf(Word::videoSourceMark, 1) >= 1 || mediaType == Word::videoMediaType;
    if (video) {
        if (widget)
            widget->show();
        if (placeVideo)
            placeVideo();
    } else {
        page(Script::hideVideoFrame);
        if (widget)
            widget->hide();
    }
    // The page (perhaps a new one) shows the speed the player plays at.
    speedSent.clear();
    sendSpeed(wantedSpeed);

    if (!playManager)
        return;
    // The program shows the sentences itself (the page, its own line in full
    // screen): the player's own subtitles would give the dictation away.
    playManager->setPlayerSubtitlesVisible(timeline.isEmpty());
    loadedSource.clear();
    if (type == Word::online) {
        line()->expectFile(); // seeks meanwhile wait for the file
        if (!resolveOnline) {
            loadedSource = src;
            playManager->loadMedia(src);
            return;
        }
        QPointer<PracticeController> self(this);
        resolveOnline(src, [self, generation](const QString& url) {
            // An answer for an article the page has left behind is not loaded.
            if (!self || !self->playManager || self->loadGeneration != generation)
                return;
            self->loadedSource = url;
            self->playManager->loadMedia(url);
        });
    } else if (type == Word::local) {
        QString path = src;
#ifdef Q_OS_WIN
        path.remove(QStringLiteral("file:///"));
#else
        // Keep the root of an absolute path: "file:///home/x" is "/home/x" here.
        path.replace(QStringLiteral("file:///"), QStringLiteral("/"));
#endif
        line()->expectFile();
        loadedSource = path;
        playManager->loadMedia(path);
    }
}

qint64 PracticeController::sentenceEndMs(int index) const {
    // Without the media's length the last sentence ends only where it has an end of its own.
    const std::optional<double> end = timeline.contains(index) ? timeline.endSeconds(index, 0.0) : std::nullopt;
    return end ? qint64(std::llround(*end * 1000.0)) : 0;
}

PracticeController::Step PracticeController::step() const {
    if (onceHeard)
        return Step::SentenceEnd;
    if (loadingPosition || (repeatSetting != Repeat::Sentence && practiceMode == Mode::Read))
        return Step::Tracking;
    return Step::SentenceEnd;
}

void PracticeController::positionChanged(qint64 position) {
    // During the pause between two hearings the player stands still; its reports change nothing.
    if (gap.isActive() || wholeDuration == 0 || !line() || line()->isLoading())
        return;
    page(build(Script::setPlaying, {qint64(position * 100 / wholeDuration)}));
    // Sentence changes are sent at the exact moment (timelinePosition and the
    // boundary timer); here only the highlight that the last sentence repeats.
    if (step() == Step::Tracking) {
        if (timeline.isEmpty()) {
            current = -1;
            page(build(Script::highlight, {-1}));
            return;
        }
        track(exactPosition(), true);
    }
}

void PracticeController::durationChanged(qint64 value) {
    wholeDuration = value;
    scheduleBoundary();
}

double PracticeController::exactPosition() const {
    return line() ? line()->position() : 0.0;
}

void PracticeController::timelinePosition(double seconds) {
    // Back before the sentence end acted on: it may be acted on again.
    if (actedAt >= 0 && seconds + boundaryToleranceSeconds < actedAt)
        actedAt = -1;
    if (gap.isActive() || wholeDuration == 0)
        return;
    if (step() == Step::Tracking && !timeline.isEmpty())
        track(seconds, false);
    scheduleBoundary();
}

void PracticeController::timelineSpeed(double speed) {
    speedAsked = speed;
    sendSpeed(speed);
    scheduleBoundary();
}

void PracticeController::sendSpeed(double speed) {
    // The page shows the speed as it is.
    const QString text = speedText(speed);
    if (text == speedSent)
        return;
    speedSent = text;
    page(build(Script::setSpeed, {text}));
}

void PracticeController::setSpeed(double value) {
    if (!std::isfinite(value))
        return;
    wantedSpeed = std::clamp(std::round(value * 100) / 100, slowest, fastest);
    // The page hears of it when the player has changed (or when practice starts).
    // A plan's hearing plays at it from now; the plan's next one at its own.
    if (PlayerTimeline* l = line()) {
        speedAsked = wantedSpeed;
        l->setSpeed(wantedSpeed);
    }
    emit speedChosen(wantedSpeed);
}

double PracticeController::speed() const {
    const PlayerTimeline* l = line();
    return l && !planApplies() ? l->speed() : wantedSpeed;
}

void PracticeController::setPlayerPaused(bool paused) {
    if (PlayerTimeline* l = line())
        l->setPaused(paused);
    scheduleBoundary();
}

void PracticeController::seekTo(double seconds) {
    PlayerTimeline* l = line();
    if (!l || seconds < 0)
        return;
    actedAt = -1;
    boundary.stop();
    l->seek(seconds);
}

std::optional<double> PracticeController::nextBoundary(double seconds) const {
    if (step() == Step::Tracking)
        return timeline.nextStartAfter(seconds + boundaryToleranceSeconds);
    const std::optional<double> end = endOf(current);
    if (!end || *end == actedAt)
        return std::nullopt;
    return end;
}

void PracticeController::scheduleBoundary() {
    boundary.stop();
    PlayerTimeline* l = line();
    if (!l)
        return;
    // The player itself stops at the sentence end, to the sample, should the
    // pause come late; the end of the media is its own end.
    std::optional<double> stop;
    if (step() == Step::SentenceEnd) {
        stop = endOf(current);
        if (stop && (l->duration() > 0 ? *stop >= l->duration() - PlayerTimeline::landingTolerance : isLast(current)))
            stop.reset();
    }
    l->setStop(stop);
    if (!l->isAdvancing() || gap.isActive() || wholeDuration == 0)
        return;
    const double now = l->position();
    const std::optional<double> due = nextBoundary(now);
    if (!due)
        return;
    const double wait = (*due - now - boundaryToleranceSeconds) / l->speed();
    if (wait <= 0)
        boundaryDue(); // already there (a report at or past the boundary)
    else
        boundary.start(int(std::ceil(wait * 1000.0)));
}

void PracticeController::boundaryDue() {
    PlayerTimeline* l = line();
    if (!l || !l->isAdvancing() || gap.isActive() || wholeDuration == 0)
        return;
    l->confirmPosition();
    const double now = l->position();
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

void PracticeController::playerStopped() {
    if (step() != Step::SentenceEnd || gap.isActive())
        return;
    // Stopped before the boundary timer acted: the end, as the timer would have had it.
    if (endOf(current) != actedAt)
        sentenceEnd();
    // A loop without a pause between hearings plays on (its seek back may have
    // come after the stop).
    if (practiceMode == Mode::Read && repeatSetting == Repeat::Sentence && !onceHeard && !gap.isActive())
        setPlayerPaused(false);
    scheduleBoundary();
}

void PracticeController::track(double seconds, bool repeatLast) {
    const int n = timeline.count();
    if (n == 0)
        return;
    const int index = timeline.indexAt((seconds + boundaryToleranceSeconds) * 1000.0);
    if (index == n - 1 && repeatLast) {
        // In the last sentence the highlight is repeated on every whole-second
        // report; the first of them was sent at the exact start already.
        current = index;
        if (!std::exchange(lastHighlightSent, false))
            page(build(Script::highlight, {index}));
        return;
    }
    if (index == current)
        return;
    current = index;
    lastHighlightSent = index == n - 1;
    page(build(Script::highlight, {index}));
}

// The current sentence has been heard to its end (its own end, the next start,
// or for the last one the end of the media): the mode decides what comes next.
void PracticeController::sentenceEnd() {
    actedAt = endOf(current).value_or(-1);
    if (onceHeard) {
        page(Script::pause);
        pause();
        std::exchange(onceHeard, nullptr)();
        return;
    }
    const bool atMediaEnd = line() && line()->atEnd();
    if (practiceMode == Mode::Dictation) {
        if (repeatSetting == Repeat::NoMediaEndReplay && isLast(current)) {
            setPlayerPaused(true);
            state = PlayState::Stopped;
            endPlan();
            return;
        }
        ++heard;
        const HearingPlan hearing = plan();
        if (hearing.hearings > 0 && heard >= hearing.hearings) {
            finalHearing();
            return;
        }
        // Stopped at the end, back at the start while paused, and heard again
        // after the gap: nothing of the next sentence is heard.
        pause();
        seekTo(sentenceStartSeconds(current));
        playAtSpeed(hearingSpeed(heard));
        gap.start(hearing.gapMs);
    } else if (practiceMode == Mode::Fillword) {
        // Stopped here, not by the page (which is told): its answer comes too late.
        pause();
        page(Script::pause);
        page(Script::setFillwordState);
    } else if (repeatSetting == Repeat::Sentence) {
        ++heard;
        if (planApplies()) {
            // Paused at the end, back at the start at the next hearing's speed,
            // and on after the pause for speaking along (replay()).
            const HearingPlan hearing = plan();
            setPlayerPaused(true);
            seekTo(sentenceStartSeconds(current));
            playAtSpeed(hearingSpeed(heard));
            gap.start(hearing.gapMs);
            return;
        }
        seekTo(sentenceStartSeconds(current));
        if (atMediaEnd) // the player stopped itself at the end of the media
            setPlayerPaused(false);
    }
}

void PracticeController::finalHearing() {
    heard = 0;
    if (isLast(current) && repeatSetting == Repeat::Article) {
        // The article once more, from its first sentence.
        current = 0;
        page(Script::initDictation);
        page(build(Script::setPlayTimes, {current, heard}));
        playAt(sentenceStartSeconds(current));
        return;
    }
    // The learner's turn: the player waits at the sentence start, at the chosen speed.
    endPlan();
    pause();
    page(Script::pause);
    page(build(Script::setPlayTimes, {current, heard}));
    if (isLast(current) && repeatSetting == Repeat::NextArticle)
        page(Script::next);
    else
        seekTo(sentenceStartSeconds(current));
}

void PracticeController::replay() {
    if (practiceMode != Mode::Dictation) {
        // A loop's next hearing after the pause, unless the learner paused meanwhile.
        if (state == PlayState::Playing)
            playAt(std::nullopt);
        return;
    }
    // The player waits at the sentence start (sentenceEnd); the page plays it.
    page(Script::playFromStart);
    page(build(Script::setPlayTimes, {current, heard}));
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
        if (onceHeard) {
            // The sentence played once heard to the media's end.
            state = PlayState::Stopped;
            actedAt = endOf(current).value_or(-1);
            page(Script::pause);
            std::exchange(onceHeard, nullptr)();
            return;
        }
        // The last sentence ends with the media: its end, unless acted on already
        // (the boundary comes first when the media's length is known).
        if (step() == Step::SentenceEnd && isLast(current)) {
            if (!gap.isActive() && endOf(current) != actedAt)
                sentenceEnd();
            return;
        }
        state = PlayState::Stopped;
        if (practiceMode == Mode::Dictation) {
            // Before the first sentence or without sentences: the media once more.
            if (repeatSetting != Repeat::NoMediaEndReplay)
                playAt(sentenceStartSeconds(current));
        } else if (practiceMode == Mode::Fillword) {
            page(Script::pause);
        } else {
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
    std::optional<double> target;
    if (position > 0 || (position == 0 && positionsInSeconds))
        target = positionsInSeconds ? double(position) : position / 1000.0;
    playAt(target);
}

void PracticeController::playAt(std::optional<double> seconds) {
    PlayerTimeline* l = line();
    if (!l)
        return;
    // Over again from the start, unless a place was chosen since the end.
    if (!seconds && l->atEnd())
        seconds = 0.0;
    // Played now: a pause between two hearings is over.
    gap.stop();
    if (seconds)
        seekTo(*seconds);
    startHearing();
    setPlayerPaused(false);
    state = PlayState::Playing;
    paragraphPage(Script::offerPause);
}

void PracticeController::pause() {
    if (!line())
        return;
    setPlayerPaused(true);
    state = PlayState::Paused;
    paragraphPage(Script::offerPlay);
}

void PracticeController::cancelPlay() {
    if (!playManager)
        return;
    gap.stop();
    setPlayerPaused(true);
    endPlan();
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
    ++current;
    if (current == timeline.count()) {
        if (repeatSetting == Repeat::Article) {
            current = 0;
            seekTo(0.0);
        } else {
            page(Script::next);
        }
    }
    // Paused at the sentence end, which is where the next sentence starts.
    setPlayerPaused(false);
    page(build(Script::initFillwordIndex, {current}));
    page(Script::play);
}

void PracticeController::setPlayIndex(int index) {
    if (index != current)
        heard = 0; // a loop's plan starts over with the sentence
    current = index;
    loadingPosition = false;
    scheduleBoundary();
}

void PracticeController::setMode(Mode mode) {
    if (mode != practiceMode)
        heard = 0;
    practiceMode = mode;
    if (!planApplies())
        endPlan();
    if (mode == Mode::Read) {
        if (state == PlayState::Paused) {
            play(timeline.startOf(current));
            page(Script::updatePlayStateIfMedia);
        }
        page(build(Script::highlightIfMedia, {current}));
    }
    scheduleBoundary();
}

void PracticeController::setRepeat(Repeat repeat) {
    repeatSetting = repeat;
    if (!planApplies())
        endPlan();
    scheduleBoundary();
}

void PracticeController::setDictationHearings(int hearings) {
    dictationHearings = std::max(1, hearings);
}

void PracticeController::setLoadingPosition(bool loading) {
    loadingPosition = loading;
    scheduleBoundary();
}

void PracticeController::setVolume(int volume) {
    if (playManager)
        playManager->setVolume(volume);
}

void PracticeController::loadPosition(int position) {
    const int n = timeline.count();
    int shown = 0;
    qint64 playValue = 0;
    if (position == 0) {
        current = 0;
        shown = 0;
        playValue = 1;
    } else if (position == 99) {
        current = n - 1;
        shown = n - 1;
        playValue = timeline.startOf(n - 1);
    } else {
        const qint64 seconds = qint64(float(wholeDuration) * position / 100);
        playValue = seconds;
        if (n > 0) {
            current = timeline.indexAt(seconds * 1000.0);
            heard = 0;
        }
        shown = current;
    }
    page(build(Script::showPosition, {shown}));
    if (practiceMode == Mode::Read)
        play(playValue);
    else
        play(timeline.startOf(current));
    loadingPosition = false;
}

void PracticeController::setDictationIndex(int index) {
    const int target = index == -1 ? current : index;
    seekTo(sentenceStartSeconds(target));
    current = index;
    heard = 0;
}

void PracticeController::playSentenceOnce(int index, std::function<void()> then) {
    if (!playManager || !timeline.contains(index))
        return;
    gap.stop();
    onceHeard = std::move(then);
    current = index;
    heard = 0;
    playAt(sentenceStartSeconds(index));
    page(build(Script::highlight, {index}));
}

void PracticeController::cancelHearing() {
    if (!std::exchange(onceHeard, nullptr))
        return;
    page(Script::pause);
    pause();
}

void PracticeController::setFillwordIndex(int index) {
    const int target = index == -1 ? current : index;
    seekTo(sentenceStartSeconds(target));
    current = index;
}
