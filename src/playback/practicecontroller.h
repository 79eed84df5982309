#pragma once

#include "playback/practiceplayer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class PracticePage;

// Sentence tracking and the practice modes: follows the player's position
// against the sentence start times, tells the page which sentence is current,
// and acts at sentence and media ends (loop a sentence, replay a dictation
// sentence, stop for fill-in-the-word). The bridge's practice slots delegate
// here; the player is anything that implements PracticePlayer.
//
// Two position paths: the whole-second reports feed the page's progress (and
// the repeated highlight of the last sentence); every decision about a sentence
// boundary uses the player's exact position, carried forward at its speed, and
// a precise timer armed for the moment the next boundary is due.
class PracticeController : public QObject {
    Q_OBJECT

public:
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
    // gap (a film between two cues, the pause after a stretch of speech): practice
    // stops there instead of at the next start. Given after initPlay, which clears them.
    void setEndTimes(const QList<int>& endTime);
    // New times for the sentences of the media playing (the learner moved them),
    // taken at once; ignored when the count differs (another media's).
    void setSentenceTimes(const QList<int>& starts, const QList<int>& ends);
    // The source of the last initPlay.
    QString source() const { return playingSource; }
    void positionChanged(qint64 position);
    void durationChanged(qint64 value);
    // The player's exact timing: its position in seconds (after a seek only once
    // it has landed), its speed, its pause state.
    void exactPositionChanged(double seconds);
    void speedChanged(double speed);
    void pausedChanged(bool paused);
    void mediaStatusChanged(int status);
    void play(qint64 position);
    void pause();
    void cancelPlay();
    void resetMedia();
    void fillwordSuccessAction();
    void setPlayIndex(int index);

    void setState(const QString& stateName, const QString& state);
    void setVolume(int volume);
    void loadPosition(int position);
    void setDictationIndex(int index);
    void setFillwordIndex(int index);

    // Start of a sentence in seconds; -1 means the current one, an index outside
    // the list the start of the media.
    double sentenceStartSeconds(int index = -1) const;

    bool inDictationGap() const { return dictationGap.isActive(); }
    // Where the player stands now (seconds): the last exact report carried
    // forward at the playing speed while it plays.
    double exactPosition() const;
    // When the next sentence boundary is due, in ms from now; -1 when none is armed.
    int boundaryDueMs() const { return boundary.isActive() ? boundary.remainingTime() : -1; }

    QString playState;
    QString mode;
    QString repeatState;
    QString playRepeatTimes;
    QString loadPositionState;
    QString clickState;
    qint64 duration = 0;
    int currentIndex = 0;
    int repeatCount = 0;
    bool mediaEnded = false;
    QString playingSource;
    QList<int> startTimes;
    QList<int> endTimes; // may be empty or shorter: those sentences end at the next start
    bool isVideo = false;

    // The pause between two plays of a dictation sentence.
    static constexpr int dictationGapMs = 1500;
    // A boundary this close ahead counts as reached (timers and reports are
    // not finer than this).
    static constexpr double boundaryToleranceSeconds = 0.002;

private:
    // What the position reports do in the current state.
    enum class Step { None, Tracking, SentenceEnd };
    Step step() const;

    void page(const QString& snippet);
    void paragraphPage(const QString& snippet);
    // Tracking at `seconds`; `repeatLast` repeats the highlight in the last sentence.
    void track(double seconds, bool repeatLast);
    void sentenceEnd();
    void replayDictationSentence();
    // Start time in milliseconds of a sentence, 0 for an index outside the list.
    qint64 startMsAt(int index) const;
    // Where sentence `index` (-1 .. n-2) ends, in seconds: its own end when one
    // lies between its start and the next start, else the next start.
    double sentenceEndSeconds(int index) const;

    // Every seek of the practice goes here: to the exact time, held while an
    // online source is still being resolved.
    void seekTo(double seconds);
    void setPlayerPaused(bool paused);
    // play() with the target in seconds (none: from where the player stands).
    void playAt(std::optional<double> seconds);
    // The next boundary the current step acts on (seconds), if any.
    std::optional<double> nextBoundary(double seconds) const;
    // Re-arms the boundary timer from the exact position (or acts when due).
    void scheduleBoundary();
    void boundaryDue();
    void freezeClock();

    std::unique_ptr<PracticePlayer> playManager;
    PracticePage* pageTarget = nullptr;
    QTimer dictationGap;

    // The player's clock: position `anchorSeconds` at `anchorClock`, moving at
    // `rate` while `advancing`.
    double anchorSeconds = 0;
    QElapsedTimer anchorClock;
    double rate = 1.0;
    bool advancing = false;
    bool playerPaused = true;
    // A seek is under way: the clock waits for the player's first report from the target.
    bool awaitingSeek = false;
    QTimer boundary;
    // The sentence end (seconds) acted on last; not again until the player has
    // gone back before it or the sentence changes.
    double actedAt = -1;
    // The highlight of the last sentence went out at its exact start; the next
    // whole-second report does not repeat it.
    bool lastHighlightSent = false;

    // Each initPlay starts a new load; an online source resolved for an older one is dropped.
    int loadGeneration = 0;
    bool resolving = false;
    double seekAfterResolve = -1;
};
