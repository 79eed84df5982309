#pragma once

#include "playback/practiceplayer.h"

#include <QStringList>
#include <QWidget>

#include <memory>

// A player that records what it is asked to do, for practice tests without libmpv.
class FakePlayer : public PracticePlayer {
public:
    QStringList calls;
    bool paused = true;
    double currentSpeed = 1.0;
    int currentVolume = 100;
    QString sentence, translation;
    bool subtitlesVisible = false;
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();

    QWidget* playerWidget() override { return widget.get(); }
    void loadMedia(const QString& source) override { calls << "load " + source; }
    void play() override {
        paused = false;
        calls << "play";
    }
    void setPaused(bool p) override {
        paused = p;
        calls << (p ? "pause" : "resume");
    }
    bool isPaused() const override { return paused; }
    void seekToIfNonNegative(double seconds) override {
        if (seconds >= 0)
            calls << "seek " + QString::number(seconds);
    }
    double speed() override { return currentSpeed; }
    void setSpeed(double s) override {
        currentSpeed = s;
        calls << "speed " + QString::number(s);
    }
    int volume() override { return currentVolume; }
    void setVolume(int v) override {
        currentVolume = v;
        calls << "volume " + QString::number(v);
    }
    void setSentenceSubtitle(const QString& text) override { sentence = text; }
    void setTranslationSubtitle(const QString& text) override { translation = text; }
    void setSubtitlesVisible(bool visible) override { subtitlesVisible = visible; }
};
