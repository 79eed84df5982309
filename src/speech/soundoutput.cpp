#include "speech/soundoutput.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cmath>

SoundOutput::SoundOutput(QObject* ctx) : context(ctx) {}

SoundOutput::~SoundOutput() {
    stop();
}

void SoundOutput::stop() {
    if (stopFlag)
        *stopFlag = true;
    if (worker.joinable())
        worker.join();
}

void SoundOutput::play(std::vector<Part> parts, std::function<void(const QString&)> done) {
    stop();
    stopFlag = std::make_shared<std::atomic_bool>(false);
    finished = false;
    worker =
        std::thread([this, parts = std::move(parts), done = std::move(done), stopped = stopFlag, target = context] {
            QString error;
            const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(Speech::sampleRate), 1};
            int code = 0;
            pa_simple* stream = pa_simple_new(nullptr, "Tavrolin", PA_STREAM_PLAYBACK, nullptr, "Nachsprechen", &format,
                                              nullptr, nullptr, &code);
            if (!stream) {
                error = QCoreApplication::translate("Shadowing", "The sound cannot be played (%1).")
                            .arg(QString::fromUtf8(pa_strerror(code)));
            } else {
                std::vector<float> block;
                const size_t blockSamples = Speech::frameSamples * 5; // 50 ms: a stop is heard at once
                for (const Part& part : parts) {
                    const float gain = float(std::pow(10.0, part.gainDb / 20.0));
                    const std::vector<float>& in = part.samples ? *part.samples : std::vector<float>();
                    const size_t total = in.size() + size_t(part.pauseAfterMs) * Speech::sampleRate / 1000;
                    for (size_t at = 0; at < total && !*stopped; at += blockSamples) {
                        block.assign(std::min(blockSamples, total - at), 0.0f);
                        for (size_t k = 0; k < block.size() && at + k < in.size(); ++k)
                            block[k] = std::clamp(in[at + k] * gain, -1.0f, 1.0f);
                        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &code) < 0) {
                            error = QCoreApplication::translate("Shadowing", "The sound cannot be played (%1).")
                                        .arg(QString::fromUtf8(pa_strerror(code)));
                            break;
                        }
                    }
                    if (*stopped || !error.isEmpty())
                        break;
                }
                if (*stopped)
                    pa_simple_flush(stream, &code);
                else if (error.isEmpty())
                    pa_simple_drain(stream, &code);
                pa_simple_free(stream);
            }
            finished = true;
            if (!*stopped && done && target)
                QMetaObject::invokeMethod(
                    target.data(),
                    [done, error, stopped] {
                        if (!*stopped)
                            done(error);
                    },
                    Qt::QueuedConnection);
        });
}

double loudnessGainDb(double fromLufs, double toLufs) {
    if (!std::isfinite(fromLufs) || !std::isfinite(toLufs))
        return 0;
    return std::clamp(toLufs - fromLufs, -20.0, 20.0);
}
