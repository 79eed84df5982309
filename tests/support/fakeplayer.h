#pragma once

#include "playback/playertimeline.h"
#include "playback/practiceplayer.h"

#include <QStringList>
#include <QWidget>

#include <memory>

// A player that records what it is asked to do, for practice tests without
// libmpv. Its timeline is the real one, over an engine that records the
// commands; the test reports for the engine through `timeline`.
class FakePlayer : public PracticePlayer, private TimelineEngine {
public:
    QStringList calls;
    int currentVolume = 100;
    QString sentence, translation;
    bool subtitlesVisible = false;
    bool playerSubtitlesVisible = true;
    // Where the engine is stuck, when set: it stands there whatever the clock says.
    std::optional<double> stalledAt;
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
    PlayerTimeline line{this};

    QWidget* playerWidget() override { return widget.get(); }
    PlayerTimeline* timeline() override { return &line; }
    void loadMedia(const QString& source) override { calls << "load " + source; }
    int volume() override { return currentVolume; }
    void setVolume(int v) override {
        currentVolume = v;
        calls << "volume " + QString::number(v);
    }
    void setSentenceSubtitle(const QString& text) override { sentence = text; }
    void setTranslationSubtitle(const QString& text) override { translation = text; }
    void setSubtitlesVisible(bool visible) override { subtitlesVisible = visible; }
    void setPlayerSubtitlesVisible(bool visible) override { playerSubtitlesVisible = visible; }

    // The engine plays the file that was asked for (from its start, unpaused).
    void fileLoads(double length = 20) {
        line.fileStarting();
        line.durationReported(length);
        line.fileLoaded(false);
        line.pausedReported(false);
    }
    // The engine reaches the end of the file and stops there by itself.
    void endOfFile() {
        line.eofReported(true);
        line.pausedReported(true);
    }

private:
    // The engine does at once what it is asked; a seek lands where it was going
    // when the test restarts the playback.
    void seekExact(double seconds) override { calls << "seek " + QString::number(seconds); }
    void setPaused(bool p) override {
        calls << (p ? "pause" : "resume");
        line.pausedReported(p);
    }
    void setSpeed(double s) override {
        calls << "speed " + QString::number(s);
        line.speedReported(s);
    }
    // Where it stands: as the clock has it, unless the test stalled it.
    std::optional<double> standing() override { return stalledAt ? stalledAt : line.position(); }
};
