#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>

// What the timeline asks of the media engine: libmpv through the video widget
// (PlayManager), a fake in the tests.
class TimelineEngine {
public:
    virtual ~TimelineEngine() = default;
    virtual void seekExact(double seconds) = 0;
    virtual void setPaused(bool paused) = 0;
    virtual void setSpeed(double speed) = 0;
    // Where the engine stops by itself, to the sample, as at the end of the file
    // (none: at the end of the file).
    virtual void setStop(std::optional<double> seconds) { Q_UNUSED(seconds); }
    // Where the engine stands right now (a blocking query), if it can tell.
    virtual std::optional<double> standing() = 0;
};

// The player's timeline, kept in one place: where the player stands (its last
// exact position carried forward at the playing speed), the life of a seek
// (requested, landed, or superseded by the next), pause, the real end of the
// file and the speed. The playback manager feeds it the engine's reports; the
// practice asks it and commands the player through it.
class PlayerTimeline : public QObject {
    Q_OBJECT

public:
    explicit PlayerTimeline(TimelineEngine* engine, QObject* parent = nullptr);

    // Commands.
    // An exact seek; while a file loads it is made once the file is there.
    void seek(double seconds);
    // Pausing counts at once; playing once the engine reports that it plays.
    void setPaused(bool paused);
    void setSpeed(double speed);
    // The engine stops by itself at `seconds`, exactly, and pauses there (none:
    // at the end of the file). A seek to it or past it lifts it.
    void setStop(std::optional<double> seconds);
    // A new file is on its way (a source being resolved counts): reports until
    // it has loaded are the previous file's, and seeks wait for it.
    void expectFile();

    // Where the player stands now, in seconds (the target while a seek is under way).
    double position() const;
    // Before acting on the clock: when the engine has not reported for a while
    // it may have stalled (a video's first frames, a busy machine) and stand
    // behind the clock; ask it, and carry on from where it really is.
    void confirmPosition();
    bool isPaused() const { return paused; }
    bool isSeeking() const { return seeking; }
    bool isLoading() const { return load != Load::Loaded; }
    // The position moves: playing, landed, before the end.
    bool isAdvancing() const { return !paused && !seeking && load == Load::Loaded && !endReached; }
    // The engine played to the end of the file and stopped there (until the next seek or play).
    bool atEnd() const { return endReached; }
    double speed() const { return rate; }
    // Of the file, in seconds; 0 while unknown.
    double duration() const { return length; }

    // Reports of the engine.
    void fileStarting();
    void fileLoaded(bool video);
    void fileEnded();
    // Playback restarts: where a seek lands.
    void restarted();
    void positionReported(double seconds);
    void pausedReported(bool paused);
    void speedReported(double speed);
    void eofReported(bool reached);
    void durationReported(double seconds);
    void seekableReported(bool seekable);

    // A seek gives up waiting for its landing after this long.
    static constexpr int seekTimeoutMs = 2000;
    // A seek has landed when the player restarts this close to its target (a video frame's time and more).
    static constexpr double landingTolerance = 0.25;
    // Paused this close to its stop, the engine stands at it.
    static constexpr double stopTolerance = 0.05;
    // A report further ahead of the clock than this is doubted (see positionReported).
    static constexpr double aheadTolerance = 0.12;
    // A playing engine reports at least this often (every audio block or frame).
    static constexpr int quietReportsMs = 200;

signals:
    // A trustworthy exact position: never one from before a seek's landing or from the previous file.
    void positionChanged(double seconds);
    void pausedChanged(bool paused);
    void speedChanged(double speed);
    // The player's real end of the file (not a pause near it).
    void ended();
    // The engine stopped by itself at the stop set (setStop) and is paused there.
    void stopReached();
    // Asked for, before the engine hears of it (the benchmarks measure from here).
    void seekRequested(double seconds);
    void pauseRequested();

private:
    void anchorAt(double seconds);
    void freeze();
    void land(double seconds);
    void checkEnd();

    enum class Load { None, Loading, Loaded };

    TimelineEngine* engine;
    Load load = Load::None;
    bool video = false;
    double pendingSeek = -1; // made once the loading file is there

    bool seeking = false;
    double target = 0;
    QTimer seekWatch; // a seek the engine never completes must not silence the reports for good
    bool seekable = true;
    // Paused after a seek: the engine stands at the target whatever it reports.
    bool holdAtTarget = false;
    // Just after a landing a report from before it can still be on its way (when
    // the restart came from an earlier seek and the engine had moved on to the
    // latest): such reports are dropped until one fits the landing.
    bool settling = false;
    double landedAt = 0;
    QElapsedTimer landedClock;
    bool aheadOnce = false; // the last report was doubted

    // The position `anchorSeconds` at `anchorClock`, moving at `rate` while advancing.
    double anchorSeconds = 0;
    QElapsedTimer anchorClock;
    double rate = 1.0;
    double length = 0;

    bool paused = true;       // as far as the position is concerned
    bool enginePaused = true; // as the engine last said
    bool pauseWanted = false; // the pause is ours, not the engine's at the end of the file
    bool eofReached = false;
    bool endReached = false;
    std::optional<double> stopAt;
};
