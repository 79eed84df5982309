#pragma once

#include "speech/soundclip.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Plays clips (mono, Speech::sampleRate) one after the other through the sound
// server's default output, each at its own gain, on its own thread: the
// learner's recordings and the original for comparison. A new play() or the
// end of the object stops what is playing.
class SoundOutput {
public:
    struct Part {
        std::shared_ptr<const std::vector<float>> samples;
        double gainDb = 0;
        int pauseAfterMs = 0;
    };

    explicit SoundOutput(QObject* context);
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // `done` runs on the context's thread when the parts have been heard, with an
    // error text when they could not be played; not when stopped.
    void play(std::vector<Part> parts, std::function<void(const QString& error)> done = {});
    void stop();
    bool isPlaying() const { return worker.joinable() && !finished; }

private:
    QPointer<QObject> context;
    std::shared_ptr<std::atomic_bool> stopFlag;
    std::atomic_bool finished{true};
    std::thread worker;
};

// The gain (dB) that brings sound of `fromLufs` to `toLufs`, within ±20 dB;
// 0 when either is unknown.
double loudnessGainDb(double fromLufs, double toLufs);
