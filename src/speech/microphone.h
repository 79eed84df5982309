#pragma once

#include "speech/voicefeatures.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// The sound server's capture sources. A monitor (what an output plays) is no
// microphone: recording it would give back the program's own sound, so only
// the others are offered and used.
struct InputDevice {
    QString name; // the server's name for it
    QString description;
};

struct InputDevices {
    QList<InputDevice> microphones;
    QString defaultSource; // the server's default, possibly a monitor
    QString error;         // no sound server could be asked
};

InputDevices listInputDevices(int timeoutMs = 2000);

// The source to record from: the preferred one while it is there, else the
// server's default when it is a microphone, else the first microphone; empty
// when there is none.
QString pickMicrophone(const InputDevices& devices, const QString& preferred);

// Records one utterance from a microphone (PulseAudio), mono float at
// Speech::sampleRate, on its own thread: the preferred one, else as
// pickMicrophone() chooses. The stream opens at once and runs
// without keeping anything, so that begin() starts the take within one frame;
// from then on every frame is kept and analysed as it comes, and the take ends
// after the learner's speech and a silence, at a length limit, or on stop().
// The callbacks run on the thread of `context`; none runs once the object is gone.
class MicrophoneRecording {
public:
    struct Take {
        std::vector<float> samples;
        VoiceFeatures features;
        QString error; // the stream broke off
        // When the first sample kept was heard by the microphone, in ms after
        // begin() (negative: a little before it, from the stream's buffer).
        double startDelayMs = 0;
    };
    struct Callbacks {
        QObject* context = nullptr;
        std::function<void()> opened;               // recording is possible
        std::function<void()> stopped;              // the take has ended; its analysis follows
        std::function<void(const QString&)> failed; // it is not: the reason, for the learner
        std::function<void(std::shared_ptr<Take>)> finished;
    };

    MicrophoneRecording(const QString& preferred, Callbacks callbacks);
    ~MicrophoneRecording();
    MicrophoneRecording(const MicrophoneRecording&) = delete;
    MicrophoneRecording& operator=(const MicrophoneRecording&) = delete;

    // Keeps what comes from now on; ends after `silenceMs` of silence following
    // speech, or at `maxMs`.
    void begin(int maxMs, int silenceMs = 800);
    // Ends the take now (finished() follows); before begin(), an empty take.
    void stop();

private:
    void run(QString preferred);
    void post(std::function<void()> call);

    Callbacks callbacks;
    QPointer<QObject> context;
    std::shared_ptr<std::atomic_bool> alive = std::make_shared<std::atomic_bool>(true);
    std::atomic_bool stopping{false};
    std::atomic_int keepFrames{0}; // 0: not begun; else the most frames to keep
    std::atomic_int silenceFrames{80};
    std::atomic<qint64> begunAtNs{0};
    std::thread worker;
};
