#include "playback/playertimeline.h"

#include <algorithm>
#include <cmath>
#include <utility>

PlayerTimeline::PlayerTimeline(TimelineEngine* engine, QObject* parent) : QObject(parent), engine(engine) {
    seekWatch.setSingleShot(true);
    seekWatch.setInterval(seekTimeoutMs);
    connect(&seekWatch, &QTimer::timeout, this, [this] { seeking = false; });
    anchorClock.start();
}

double PlayerTimeline::position() const {
    if (seeking)
        return target;
    if (!isAdvancing())
        return anchorSeconds;
    return anchorSeconds + anchorClock.nsecsElapsed() / 1e9 * rate;
}

void PlayerTimeline::confirmPosition() {
    if (!isAdvancing() || anchorClock.elapsed() < quietReportsMs)
        return;
    const std::optional<double> at = engine->standing();
    if (at && *at + stopTolerance < position())
        anchorAt(std::max(*at, anchorSeconds));
}

void PlayerTimeline::anchorAt(double seconds) {
    anchorSeconds = seconds;
    anchorClock.restart();
}

void PlayerTimeline::freeze() {
    anchorAt(position());
}

void PlayerTimeline::seek(double seconds) {
    // The engine reads a negative absolute time from the end of the media.
    seconds = std::max(seconds, 0.0);
    // Landing on its stop (or past it) the engine would stop at once.
    if (stopAt && seconds >= *stopAt - landingTolerance)
        setStop(std::nullopt);
    emit seekRequested(seconds);
    settling = false;
    aheadOnce = false;
    endReached = false;
    target = seconds;
    anchorAt(seconds);
    if (load != Load::Loaded) {
        pendingSeek = seconds;
        seeking = true;
        return;
    }
    if (seekable) {
        seeking = true;
        seekWatch.start();
    }
    // Exactly to the start: a video starts on the first frame at or after it,
    // as the player's own command line does, so nothing before it is heard.
    engine->seekExact(seconds);
}

void PlayerTimeline::setPaused(bool value) {
    // Standing at its stop the engine has nothing more to play: from here on,
    // without it (the next stop is set afresh).
    if (!value && stopAt && load == Load::Loaded && position() >= *stopAt - stopTolerance)
        seek(position());
    pauseWanted = value;
    if (value) {
        emit pauseRequested();
        if (!paused) {
            freeze();
            paused = true;
            emit pausedChanged(true);
        }
    } else if (!enginePaused && paused) {
        // The engine never stopped (a pause and a play in quick succession): it plays on.
        paused = false;
        holdAtTarget = false;
        anchorAt(anchorSeconds);
        emit pausedChanged(false);
    }
    engine->setPaused(value);
}

void PlayerTimeline::setSpeed(double speed) {
    engine->setSpeed(speed);
}

void PlayerTimeline::setStop(std::optional<double> seconds) {
    if (seconds == stopAt)
        return;
    stopAt = seconds;
    engine->setStop(seconds);
}

void PlayerTimeline::expectFile() {
    setStop(std::nullopt); // the engine keeps it from file to file
    load = Load::Loading;
    pendingSeek = -1;
    seeking = false;
    seekWatch.stop();
    settling = false;
    holdAtTarget = false;
    eofReached = false;
    endReached = false;
    length = 0;
    anchorAt(0);
}

void PlayerTimeline::fileStarting() {
    if (load == Load::Loaded)
        expectFile(); // not one we asked for
    seeking = pendingSeek >= 0;
    settling = false;
    eofReached = false;
    endReached = false;
}

void PlayerTimeline::fileLoaded(bool isVideo) {
    load = Load::Loaded;
    video = isVideo;
    if (pendingSeek >= 0)
        seek(std::exchange(pendingSeek, -1.0));
}

void PlayerTimeline::fileEnded() {
    // A seek into a file that has gone never lands (one for the next file waits).
    seeking = pendingSeek >= 0;
}

void PlayerTimeline::restarted() {
    if (!seeking || load != Load::Loaded)
        return;
    // A pause asked for just before the seek counts too: the engine takes its
    // commands in order, but its report of the pause can come after the restart.
    if ((enginePaused || pauseWanted) && !video) {
        // Paused, the engine counts the audio it has queued as played and reports
        // up to a tenth of a second early; it stands at the target.
        holdAtTarget = true;
        land(target);
        return;
    }
    // The seek has landed when the engine restarts at its target (a file's first
    // start can come between a seek and its landing).
    const std::optional<double> landed = engine->standing();
    const double goal = length > 0 ? std::min(target, length) : target;
    if (!landed || std::abs(*landed - goal) > landingTolerance)
        return;
    land(*landed);
}

void PlayerTimeline::land(double seconds) {
    seeking = false;
    aheadOnce = false;
    seekWatch.stop();
    settling = true;
    landedAt = seconds;
    landedClock.start();
    anchorAt(seconds);
    emit positionChanged(seconds);
}

void PlayerTimeline::positionReported(double seconds) {
    // No file, a report from before the seek, or from the previous file while one loads.
    if (seconds < 0 || seeking || load != Load::Loaded)
        return;
    if (holdAtTarget && (enginePaused || pauseWanted))
        return;
    if (settling && landedClock.elapsed() < seekTimeoutMs) {
        // From the landing on, the player stands between there and as far as it
        // can have played since.
        const double furthest = landedAt + landedClock.elapsed() / 1000.0 * rate + landingTolerance;
        if (seconds < landedAt - landingTolerance || seconds > furthest)
            return;
    }
    settling = false;
    // The player cannot be ahead of its clock: once it has read the file to its
    // end it reports the end (up to the audio it still holds, a third of a
    // second, early). Such a report counts only when the next one agrees.
    if (isAdvancing() && seconds > position() + aheadTolerance && !std::exchange(aheadOnce, true))
        return;
    aheadOnce = false;
    anchorAt(seconds);
    emit positionChanged(seconds);
}

void PlayerTimeline::pausedReported(bool value) {
    enginePaused = value;
    if (value) {
        if (!paused) {
            freeze();
            paused = true;
            emit pausedChanged(true);
        }
        checkEnd();
        return;
    }
    holdAtTarget = false;
    // A report of playing from before our pause does not start the clock.
    if (pauseWanted || !paused)
        return;
    paused = false;
    anchorAt(anchorSeconds);
    emit pausedChanged(false);
}

void PlayerTimeline::speedReported(double speed) {
    freeze();
    rate = speed > 0 ? speed : 1.0;
    emit speedChanged(rate);
}

void PlayerTimeline::eofReported(bool reached) {
    eofReached = reached;
    if (!reached)
        endReached = false;
    checkEnd();
}

void PlayerTimeline::durationReported(double seconds) {
    length = seconds > 0 ? seconds : 0;
}

void PlayerTimeline::seekableReported(bool value) {
    seekable = value;
}

void PlayerTimeline::checkEnd() {
    // The engine reaches the end of the file before the last of it is heard, and
    // pauses itself once it has been: that is the end. A pause of ours near the
    // end is none.
    if (!eofReached || !enginePaused || pauseWanted || endReached || load != Load::Loaded)
        return;
    if (stopAt && (length <= 0 || *stopAt < length - landingTolerance)) {
        // Stopped at the stop set, before the end of the file: a pause there, as
        // if asked for.
        pauseWanted = true;
        anchorAt(*stopAt);
        emit positionChanged(*stopAt);
        emit stopReached();
        return;
    }
    endReached = true;
    // It stands at the end: a report of it doubted as early is no longer in doubt.
    const std::optional<double> at = length > 0 ? std::optional<double>(length) : engine->standing();
    if (at && *at > anchorSeconds) {
        anchorAt(*at);
        emit positionChanged(*at);
    }
    emit ended();
}
