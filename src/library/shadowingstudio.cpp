#include "library/shadowingstudio.h"

#include "library/medialibrary.h"
#include "library/shadowingattempts.h"
#include "speech/microphone.h"
#include "speech/shadowingresult.h"
#include "speech/shadowingscore.h"
#include "speech/soundclip.h"
#include "speech/soundoutput.h"
#include "speech/wavefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <thread>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Shadowing", text);
}

// A sentence of the media, decoded and analysed once for all its takes and replays.
struct Original {
    QString key;
    std::shared_ptr<const std::vector<float>> samples;
    VoiceFeatures features;
    QString error;
};
using OriginalPtr = std::shared_ptr<const Original>;

QString originalKey(const QString& source, qint64 startMs, qint64 endMs) {
    return QStringLiteral("%1\n%2\n%3").arg(source).arg(startMs).arg(endMs);
}

OriginalPtr loadOriginal(const ShadowingSentence& s, const std::atomic_bool* cancel) {
    DecodeOptions options;
    options.caFile = s.caFile;
    options.cancel = cancel;
    SoundClip clip = decodeSentence(s.source, s.startMs, s.endMs, options);
    auto out = std::make_shared<Original>();
    out->key = originalKey(s.source, s.startMs, s.endMs);
    if (!clip.ok()) {
        out->error = clip.error;
        return out;
    }
    out->features = analyseVoice(clip.samples);
    if (!out->features.heard())
        out->error = tr("The sentence has no speech to compare with.");
    out->samples = std::make_shared<const std::vector<float>>(std::move(clip.samples));
    return out;
}

void post(QObject* target, std::function<void()> call) {
    QMetaObject::invokeMethod(target, std::move(call), Qt::QueuedConnection);
}

// The gain that brings a recording of `peak` from one loudness to another
// without clipping.
double matchedGainDb(double fromLufs, double toLufs, float peak) {
    const double gain = loudnessGainDb(fromLufs, toLufs);
    return peak > 0 ? std::min(gain, -20.0 * std::log10(double(peak) / 0.98)) : gain;
}

class Studio;

class Take : public ShadowingTake {
public:
    Take(Studio& studio, const ShadowingSentence& sentence, const QString& device, const ShadowingEvents& events);
    ~Take() override;

    void record(int maxMs) override { recording->begin(maxMs); }
    void stop() override { recording->stop(); }

private:
    void fail(const QString& message);
    void finishIfReady();

    Studio& studio;
    const ShadowingSentence sentence;
    const ShadowingEvents events;
    QObject anchor; // what the threads post to; their calls die with the take
    std::atomic_bool cancel{false};
    OriginalPtr original;
    std::shared_ptr<MicrophoneRecording::Take> learner;
    bool over = false;
    std::thread decoder;
    std::thread finisher;
    std::unique_ptr<MicrophoneRecording> recording;
};

class Studio : public ShadowingStudio {
public:
    explicit Studio(const QString& directory)
        : db(directory), store(db), folder(QDir(directory).filePath(QStringLiteral("shadowing"))), output(&anchor) {}

    ~Studio() override { stopPlaying(); }

    QJsonObject microphones() override {
        const InputDevices devices = listInputDevices();
        QJsonArray list;
        for (const InputDevice& d : devices.microphones)
            list.append(QJsonObject{{QStringLiteral("name"), d.name}, {QStringLiteral("description"), d.description}});
        QJsonObject out{{QStringLiteral("microphones"), list},
                        {QStringLiteral("default"), pickMicrophone(devices, QString())}};
        if (!devices.error.isEmpty())
            out.insert(QStringLiteral("error"), devices.error);
        return out;
    }

    std::unique_ptr<ShadowingTake> begin(const ShadowingSentence& sentence, const QString& device,
                                         const ShadowingEvents& events) override {
        return std::make_unique<Take>(*this, sentence, device, events);
    }

    QJsonArray attempts(const QString& mediaKey, int index) override { return store.list(mediaKey, index); }

    QJsonObject result(const QString& id) override {
        const std::optional<ShadowingAttempt> a = store.attempt(id);
        if (!a)
            return QJsonObject();
        QJsonObject result = a->result;
        result.insert(QStringLiteral("attempt"), a->id);
        result.insert(QStringLiteral("index"), a->sentence);
        return result;
    }

    bool deleteAttempt(const QString& id) override {
        QString recording;
        if (!store.remove(id, &recording))
            return false;
        QFile::remove(QDir(folder).filePath(recording));
        return true;
    }

    bool play(const QString& id, bool original, bool comparison, std::function<void(const QString&)> done) override {
        const std::optional<ShadowingAttempt> a = store.attempt(id);
        if (!a)
            return false;
        stopPlaying();
        auto recording = std::make_shared<std::vector<float>>();
        if (!original) {
            QString error;
            *recording = readWave(QDir(folder).filePath(a->recording), &error);
            if (recording->empty()) {
                done(error);
                return true;
            }
        }
        const float peak =
            recording->empty() ? 0.0f : *std::max_element(recording->begin(), recording->end(), [](float x, float y) {
                return std::fabs(x) < std::fabs(y);
            });
        const double gain = matchedGainDb(a->loudness, a->originalLoudness, std::fabs(peak));
        auto start = [this, recording, gain, original, comparison, done](OriginalPtr sound) {
            std::vector<SoundOutput::Part> parts;
            if (original || comparison) {
                if (!sound || !sound->samples) {
                    done(sound ? sound->error : tr("The original cannot be played."));
                    return;
                }
                parts.push_back({sound->samples, 0.0, comparison ? 600 : 0});
            }
            if (!original)
                parts.push_back({recording, gain, 0});
            output.play(std::move(parts), done);
        };
        if (!original && !comparison) {
            start(nullptr);
            return true;
        }
        ShadowingSentence sentence;
        sentence.source = a->source;
        sentence.startMs = a->startMs;
        sentence.endMs = a->endMs;
        if (OriginalPtr known = cached(originalKey(a->source, a->startMs, a->endMs))) {
            start(known);
            return true;
        }
        // Decoded on a thread (the media may be a network stream), played once there.
        auto stopped = std::make_shared<std::atomic_bool>(false);
        playCancel = stopped;
        playDecoder = std::thread([this, sentence, stopped, start] {
            OriginalPtr sound = loadOriginal(sentence, stopped.get());
            post(&anchor, [this, sound, stopped, start] {
                if (*stopped)
                    return;
                remember(sound);
                start(sound);
            });
        });
        return true;
    }

    void stopPlaying() override {
        if (playCancel)
            *playCancel = true;
        if (playDecoder.joinable())
            playDecoder.join();
        output.stop();
    }

    OriginalPtr cached(const QString& key) const {
        for (const OriginalPtr& o : originals)
            if (o->key == key && o->error.isEmpty())
                return o;
        return nullptr;
    }

    void remember(const OriginalPtr& o) {
        if (!o || !o->error.isEmpty() || cached(o->key))
            return;
        originals.push_front(o);
        if (originals.size() > 3)
            originals.pop_back();
    }

    // Stores the attempt; its recording is already in the folder. The attempts it
    // pushes out go with their recordings.
    bool keep(const ShadowingAttempt& attempt) {
        QStringList dropped;
        if (!store.add(attempt, &dropped))
            return false;
        for (const QString& file : dropped)
            QFile::remove(QDir(folder).filePath(file));
        return true;
    }

    const QString& recordings() const { return folder; }

private:
    QObject anchor;
    MediaLibrary db;
    ShadowingAttempts store;
    const QString folder;
    SoundOutput output;
    std::deque<OriginalPtr> originals;
    std::shared_ptr<std::atomic_bool> playCancel;
    std::thread playDecoder;
};

Take::Take(Studio& studio, const ShadowingSentence& s, const QString& device, const ShadowingEvents& e)
    : studio(studio), sentence(s), events(e) {
    if (OriginalPtr known = studio.cached(originalKey(s.source, s.startMs, s.endMs))) {
        original = known;
    } else {
        decoder = std::thread([this] {
            OriginalPtr sound = loadOriginal(sentence, &cancel);
            post(&anchor, [this, sound] {
                if (!sound->error.isEmpty()) {
                    fail(sound->error);
                    return;
                }
                this->studio.remember(sound);
                original = sound;
                finishIfReady();
            });
        });
    }
    MicrophoneRecording::Callbacks calls;
    calls.context = &anchor;
    calls.opened = [this] {
        if (!over && events.ready)
            events.ready();
    };
    calls.failed = [this](const QString& why) { fail(why); };
    calls.stopped = [this] {
        if (!over && events.analysing)
            events.analysing();
    };
    calls.finished = [this](std::shared_ptr<MicrophoneRecording::Take> take) {
        if (over)
            return;
        if (!take->error.isEmpty()) {
            fail(take->error);
            return;
        }
        qDebug("Shadowing: the take began %.1f ms after the sentence's end", take->startDelayMs);
        learner = take;
        finishIfReady();
    };
    recording = std::make_unique<MicrophoneRecording>(device, calls);
}

Take::~Take() {
    over = true;
    cancel = true;
    recording.reset();
    if (decoder.joinable())
        decoder.join();
    if (finisher.joinable())
        finisher.join();
}

void Take::fail(const QString& message) {
    if (over)
        return;
    over = true;
    if (recording)
        recording->stop();
    if (events.failed)
        events.failed(message);
}

void Take::finishIfReady() {
    if (over || !original || !learner)
        return;
    over = true;
    // Scoring and saving off the GUI thread; the database is the GUI thread's.
    finisher = std::thread([this] {
        const ShadowingScore score = scoreShadowing(original->features, learner->features);
        QJsonObject result{{QStringLiteral("index"), sentence.index}, {QStringLiteral("attempt"), QString()}};
        if (!score.heard) {
            result.insert(QStringLiteral("message"), score.message());
            post(&anchor, [this, result] { events.done(result); });
            return;
        }
        const QJsonObject shown = ShadowingResult::toJson(original->features, learner->features, score);
        for (auto it = shown.begin(); it != shown.end(); ++it)
            result.insert(it.key(), it.value());
        auto attempt = std::make_shared<ShadowingAttempt>();
        attempt->id = ShadowingAttempts::newId();
        attempt->media = sentence.mediaKey;
        attempt->sentence = sentence.index;
        attempt->source = sentence.source;
        attempt->startMs = sentence.startMs;
        attempt->endMs = sentence.endMs;
        attempt->recorded = QDateTime::currentMSecsSinceEpoch();
        attempt->recording = attempt->id + QStringLiteral(".wav");
        attempt->durationMs = learner->features.speechMs();
        attempt->score = score.score;
        attempt->timing = score.timing;
        attempt->rhythm = score.rhythm;
        attempt->melody = score.melody;
        attempt->loudness = std::isfinite(learner->features.loudnessLufs) ? learner->features.loudnessLufs : -70;
        attempt->originalLoudness =
            std::isfinite(original->features.loudnessLufs) ? original->features.loudnessLufs : -70;
        attempt->result = shown;
        QString error;
        const QString folder = studio.recordings();
        const bool made = QDir().mkpath(folder) &&
                          QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const bool saved = made && writeWave(QDir(folder).filePath(attempt->recording), learner->samples, &error);
        if (!saved && error.isEmpty())
            error = tr("The recording cannot be saved in %1.").arg(folder);
        post(&anchor, [this, attempt, result, saved, error]() mutable {
            if (!saved || !studio.keep(*attempt)) {
                if (saved)
                    QFile::remove(QDir(studio.recordings()).filePath(attempt->recording));
                // The learner still sees the result; only it is not kept.
                result.insert(QStringLiteral("message"),
                              result.value(QStringLiteral("message")).toString() + QLatin1Char(' ') +
                                  (error.isEmpty() ? tr("This attempt could not be kept.") : error));
                events.done(result);
                return;
            }
            result.insert(QStringLiteral("attempt"), attempt->id);
            events.done(result);
        });
    });
}

} // namespace

std::unique_ptr<ShadowingStudio> openShadowingStudio(const QString& directory) {
    return std::make_unique<Studio>(directory);
}
