#pragma once

#include "playback/practiceplayer.h"
#include "playback/sentencetimeline.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class PracticePage;
class PlayerTimeline;

// The practice rules: which sentence is current, what happens at its end in
// each mode (loop it, hear it again after a pause in dictation, stop for the
// missing word), and what the page is told. The bridge's practice slots
// delegate here, with the page's words already turned into the types below.
//
// Where the player stands, its seeks, pauses, end and speed are its timeline's
// (PlayerTimeline); this class asks it. The whole-second reports feed the
// page's progress; every decision about a sentence boundary uses the timeline's
// exact position and a precise timer armed for the moment the boundary is due.
class PracticeController : public QObject {
    Q_OBJECT

public:
    // Shadowing: sentences play on through; the one to speak back plays by playSentenceOnce.
    enum class Mode { Read, Dictation, Fillword, Shadowing };
    Q_ENUM(Mode)
    enum class Repeat {
        Once,
        Article,          // start the article over at its end
        NextArticle,      // go on with the next article at its end
        Sentence,         // loop the current sentence
        NoMediaEndReplay, // dictation: the end of the media is not heard again
    };
    Q_ENUM(Repeat)
    enum class PlayState { Stopped, Playing, Paused };
    Q_ENUM(PlayState)

    // How a sentence is heard: how many times (0: until the learner leaves it)
    // and the pause after the hearing just heard. Decided in one place (plan()).
    struct HearingPlan {
        int hearings = 1;
        int gapMs = 0;
    };

    // The learner's repetition plan ("Wiederholplan") for the modes that repeat
    // a sentence (its loop and dictation): hearing k plays at speeds[k] (the
    // last speed holds in a loop, which goes on), and each hearing is followed
    // by a pause of pauseFactor times its length, for speaking along. In
    // dictation the plan's length is the number of hearings. Without speeds
    // there is none.
    struct RepetitionPlan {
        QList<double> speeds;
        double pauseFactor = 0;

        bool isEmpty() const { return speeds.isEmpty(); }
        // Speeds within slowest .. fastest, at most maxHearings of them, a pause factor within 0 .. maxPauseFactor.
        bool isValid() const;
        bool operator==(const RepetitionPlan& other) const {
            return speeds == other.speeds && pauseFactor == other.pauseFactor;
        }
    };
    static constexpr int maxHearings = 10;
    static constexpr double maxPauseFactor = 3.0;

    explicit PracticeController(QObject* parent = nullptr);
    ~PracticeController() override;

    // Collaborators, set by the owner.
    // Creates the player on the first initPlay (null when it cannot be created).
    std::function<std::unique_ptr<PracticePlayer>()> createPlayer;
    // Resolves an online source (one redirect step) and calls back with the URL to play.
    std::function<void(const QString& url, std::function<void(const QString&)> done)> resolveOnline;
    // Places the video surface over the page's video frame.
    std::function<void()> placeVideo;

    // Where the script calls go; without one they are dropped.
    void setPage(PracticePage* target) { pageTarget = target; }
    PracticePlayer* player() const { return playManager.get(); }

    void initPlay(const QString& src, const QString& type, const QList<int>& startTime, const QString& mediaType);
    // Where each sentence ends (ms), for media whose sentences are followed by a
    // gap: practice stops there instead of at the next start. After initPlay, which clears them.
    void setEndTimes(const QList<int>& endTime);
    // New times for the sentences of the media playing (the learner moved them),
    // taken at once; ignored when the count differs (another media's).
    void setSentenceTimes(const QList<int>& starts, const QList<int>& ends);
    // The source of the last initPlay.
    QString source() const { return playingSource; }
    // The player's whole-second reports, for the page's progress.
    void positionChanged(qint64 position);
    void durationChanged(qint64 value);
    void mediaStatusChanged(int status);
    // Milliseconds (or seconds, see setPositionsInSeconds); 0: from where the player stands.
    void play(qint64 position);
    void pause();
    void cancelPlay();
    void resetMedia();
    void fillwordSuccessAction();
    void setPlayIndex(int index);
    void setMode(Mode mode);
    void setRepeat(Repeat repeat);
    // How often a dictation sentence is heard (the reading setting).
    void setDictationHearings(int hearings);
    // The page's play positions are seconds (it says so while it seeks by the progress bar).
    void setPositionsInSeconds(bool seconds) { positionsInSeconds = seconds; }
    // The page is moving the position itself: sentence ends are not acted on meanwhile.
    void setLoadingPosition(bool loading);
    void setVolume(int volume);
    void loadPosition(int percent);
    void setDictationIndex(int index);
    void setFillwordIndex(int index);
    // 0.5 .. 2.0; kept for the next player too.
    void setSpeed(double speed);
    // The learner's speed: the player's, unless a repetition plan has it for the moment.
    double speed() const;
    // Taken from the next hearing on; an empty plan gives the chosen speed back
    // at once. False, and nothing changed, for an invalid one.
    bool setRepetitionPlan(const RepetitionPlan& plan);
    const RepetitionPlan& repetitionPlan() const { return repetition; }

    Mode mode() const { return practiceMode; }
    Repeat repeat() const { return repeatSetting; }
    PlayState playState() const { return state; }
    int currentIndex() const { return current; }
    int repeatCount() const { return heard; }
    qint64 duration() const { return wholeDuration; }
    bool isVideo() const { return video; }
    const SentenceTimeline& sentences() const { return timeline; }
    HearingPlan plan() const;

    // Shadowing: plays sentence `index` once from its exact start, pauses at
    // its exact end (the media's end for the last one) and calls `heard`, when
    // the learner speaks. A new practice (initPlay) or cancelHearing() drops it.
    void playSentenceOnce(int index, std::function<void()> then);
    void cancelHearing();
    bool inHearing() const { return bool(onceHeard); }
    // What the player was given to play (an online source once resolved); empty before.
    const QString& mediaSource() const { return loadedSource; }
    // Where sentence `index` ends (ms): its own end, else the next start; 0 for
    // the last one, which ends with the media.
    qint64 sentenceEndMs(int index) const;

    // Start of a sentence in seconds; -1 means the current one, an index outside
    // the list the start of the media.
    double sentenceStartSeconds(int index = -1) const;
    bool inDictationGap() const { return gap.isActive(); }
    // Where the player stands now (seconds).
    double exactPosition() const;
    // When the next sentence boundary is due, in ms from now; -1 when none is armed.
    int boundaryDueMs() const { return boundary.isActive() ? boundary.remainingTime() : -1; }

    // The pause between two hearings of a dictation sentence.
    static constexpr int dictationGapMs = 1500;
    // A boundary this close ahead counts as reached (timers and reports are
    // not finer than this).
    static constexpr double boundaryToleranceSeconds = 0.002;
    static constexpr double slowest = 0.5, fastest = 2.0;

signals:
    // The learner chose a speed (by the page, the keys, ...): it is kept for the next run.
    void speedChosen(double speed);

private:
    // What the position reports do in the current state.
    enum class Step { Tracking, SentenceEnd };
    Step step() const;

    void page(const QString& snippet);
    void paragraphPage(const QString& snippet);
    PlayerTimeline* line() const;
    void connectTimeline();
    void timelinePosition(double seconds);
    void timelineSpeed(double speed);
    // Tracking at `seconds`; `repeatLast` repeats the highlight in the last sentence.
    void track(double seconds, bool repeatLast);
    void sentenceEnd();
    void finalHearing();
    void replay();
    bool isLast(int index) const { return index >= 0 && index == timeline.count() - 1; }
    std::optional<double> endOf(int index) const;

    // Every seek of the practice goes here: to the exact time (held by the
    // timeline while a file is on its way).
    void seekTo(double seconds);
    void setPlayerPaused(bool paused);
    // play() with the target in seconds (none: from where the player stands).
    void playAt(std::optional<double> seconds);
    // The next boundary the current step acts on (seconds), if any.
    std::optional<double> nextBoundary(double seconds) const;
    // Re-arms the boundary timer from the exact position (or acts when due).
    void scheduleBoundary();
    void boundaryDue();
    // The player stopped itself at the sentence end (PlayerTimeline::setStop).
    void playerStopped();
    void sendSpeed(double speed);
    // The repetition plan is followed now: a mode that repeats, a plan, no single hearing.
    bool planApplies() const;
    // The speed hearing `hearing` (0: the first) of the current sentence plays at.
    double hearingSpeed(int hearing) const;
    // The pause after hearing `hearing` for speaking along (ms).
    int speakingPauseMs(int hearing) const;
    // Before a hearing plays: its speed, and the page shows which hearing it is.
    void startHearing();
    // The plan is over (or no longer followed): the chosen speed again.
    void endPlan();
    void playAtSpeed(double speed);

    std::unique_ptr<PracticePlayer> playManager;
    PracticePage* pageTarget = nullptr;

    Mode practiceMode = Mode::Read;
    Repeat repeatSetting = Repeat::Once;
    PlayState state = PlayState::Stopped;
    int dictationHearings = 3;
    bool positionsInSeconds = false;
    bool loadingPosition = false;
    SentenceTimeline timeline;
    qint64 wholeDuration = 0;
    int current = 0;
    int heard = 0; // hearings of the current sentence so far
    bool video = false;
    double wantedSpeed = 1.0;
    double speedAsked = 1.0; // of the player, last asked for or reported
    RepetitionPlan repetition;
    bool hearingShown = false; // the page shows a hearing of the plan
    QString speedSent;
    QString playingSource;

    QTimer gap;
    QTimer boundary;
    // The sentence end (seconds) acted on last; not again until the player has
    // gone back before it or the sentence changes.
    double actedAt = -1;
    // The highlight of the last sentence went out at its exact start; the next
    // whole-second report does not repeat it.
    bool lastHighlightSent = false;

    // What to do when the sentence played once has ended (playSentenceOnce).
    std::function<void()> onceHeard;
    QString loadedSource;

    // Each initPlay starts a new load; an online source resolved for an older one is dropped.
    int loadGeneration = 0;
};
