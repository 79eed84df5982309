#include "speech/microphone.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/simple.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>

#include <chrono>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Shadowing", text);
}

QString noMicrophone() {
    return tr("No microphone was found. Connect one, or choose it in the preferences.");
}

struct Listing {
    InputDevices devices;
    int pending = 0;
    bool failed = false;
};

} // namespace

InputDevices listInputDevices(int timeoutMs) {
    Listing listing;
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = loop ? pa_context_new(pa_mainloop_get_api(loop), "Tavrolin") : nullptr;
    if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        listing.devices.error = tr("The sound server cannot be reached.");
        if (context)
            pa_context_unref(context);
        if (loop)
            pa_mainloop_free(loop);
        return listing.devices;
    }
    QElapsedTimer clock;
    clock.start();
    bool asked = false;
    auto turn = [&] {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || pa_mainloop_prepare(loop, int(left * 1000)) < 0 || pa_mainloop_poll(loop) < 0 ||
            pa_mainloop_dispatch(loop) < 0)
            return false;
        return true;
    };
    while (turn()) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            listing.failed = true;
            break;
        }
        if (state == PA_CONTEXT_READY && !asked) {
            asked = true;
            listing.pending = 2;
            pa_operation_unref(pa_context_get_server_info(
                context,
                [](pa_context*, const pa_server_info* info, void* data) {
                    auto* l = static_cast<Listing*>(data);
                    if (info && info->default_source_name)
                        l->devices.defaultSource = QString::fromUtf8(info->default_source_name);
                    --l->pending;
                },
                &listing));
            pa_operation_unref(pa_context_get_source_info_list(
                context,
                [](pa_context*, const pa_source_info* info, int eol, void* data) {
                    auto* l = static_cast<Listing*>(data);
                    if (eol) {
                        l->failed = l->failed || eol < 0;
                        --l->pending;
                        return;
                    }
                    if (info->monitor_of_sink == PA_INVALID_INDEX)
                        l->devices.microphones.append(
                            {QString::fromUtf8(info->name), QString::fromUtf8(info->description)});
                },
                &listing));
        }
        if (asked && listing.pending == 0)
            break;
    }
    if (listing.failed || !asked || listing.pending != 0) {
        listing.devices.microphones.clear();
        listing.devices.error = tr("The sound server cannot be reached.");
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return listing.devices;
}

QString pickMicrophone(const InputDevices& devices, const QString& preferred) {
    auto present = [&](const QString& name) {
        return !name.isEmpty() && std::any_of(devices.microphones.begin(), devices.microphones.end(),
                                              [&](const InputDevice& d) { return d.name == name; });
    };
    if (present(preferred))
        return preferred;
    if (present(devices.defaultSource))
        return devices.defaultSource;
    return devices.microphones.isEmpty() ? QString() : devices.microphones.first().name;
}

MicrophoneRecording::MicrophoneRecording(const QString& preferred, Callbacks calls)
    : callbacks(std::move(calls)), context(callbacks.context) {
    worker = std::thread([this, preferred] { run(preferred); });
}

MicrophoneRecording::~MicrophoneRecording() {
    *alive = false;
    stopping = true;
    if (worker.joinable())
        worker.join();
}

namespace {

qint64 monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void MicrophoneRecording::begin(int maxMs, int silenceMs) {
    begunAtNs = monotonicNs();
    silenceFrames = std::max(1, silenceMs / Speech::frameMs);
    keepFrames = std::max(1, maxMs / Speech::frameMs);
}

void MicrophoneRecording::stop() {
    stopping = true;
}

void MicrophoneRecording::post(std::function<void()> call) {
    if (!context)
        return;
    std::shared_ptr<std::atomic_bool> living = alive;
    QMetaObject::invokeMethod(
        context.data(),
        [living, call = std::move(call)] {
            if (*living)
                call();
        },
        Qt::QueuedConnection);
}

void MicrophoneRecording::run(QString preferred) {
    const InputDevices devices = listInputDevices();
    const QString device = pickMicrophone(devices, preferred);
    if (device.isEmpty()) {
        const QString reason = devices.error.isEmpty() ? noMicrophone() : devices.error;
        post([this, reason] { callbacks.failed(reason); });
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(Speech::sampleRate), 1};
    pa_buffer_attr buffer;
    buffer.maxlength = uint32_t(-1);
    buffer.tlength = uint32_t(-1);
    buffer.prebuf = uint32_t(-1);
    buffer.minreq = uint32_t(-1);
    buffer.fragsize = uint32_t(Speech::frameSamples * sizeof(float)); // a frame at a time: little delay
    int error = 0;
    const QByteArray name = device.toUtf8();
    pa_simple* stream = pa_simple_new(nullptr, "Tavrolin", PA_STREAM_RECORD, name.constData(), "Nachsprechen", &format,
                                      nullptr, &buffer, &error);
    if (!stream) {
        QString reason;
        if (error == PA_ERR_ACCESS)
            reason = tr("Access to the microphone was refused.");
        else if (error == PA_ERR_NOENTITY)
            reason = noMicrophone();
        else
            reason = tr("The microphone cannot be opened (%1).").arg(QString::fromUtf8(pa_strerror(error)));
        post([this, reason] { callbacks.failed(reason); });
        return;
    }
    post([this] {
        if (callbacks.opened)
            callbacks.opened();
    });

    auto take = std::make_shared<Take>();
    VoiceAnalyser analyser;
    SpeechEndDetector detector(silenceFrames * Speech::frameMs);
    std::vector<float> frame(Speech::frameSamples);
    bool begun = false;
    while (!stopping) {
        if (pa_simple_read(stream, frame.data(), frame.size() * sizeof(float), &error) < 0) {
            take->error = tr("The recording broke off (%1).").arg(QString::fromUtf8(pa_strerror(error)));
            break;
        }
        const int limit = keepFrames;
        if (limit == 0)
            continue; // not begun: the stream only runs
        if (!begun) {
            begun = true;
            detector = SpeechEndDetector(silenceFrames * Speech::frameMs);
            // The frame just read began one frame and the stream's latency ago.
            const pa_usec_t latency = pa_simple_get_latency(stream, &error);
            const double heardNs = double(monotonicNs()) - double(latency) * 1000.0 - Speech::frameMs * 1e6;
            take->startDelayMs = (heardNs - double(begunAtNs.load())) / 1e6;
        }
        take->samples.insert(take->samples.end(), frame.begin(), frame.end());
        analyser.feed(frame.data(), frame.size());
        if (detector.feed(analyser.frame(analyser.frameCount() - 1).levelDb) || analyser.frameCount() >= limit)
            break;
    }
    pa_simple_free(stream);
    if (!*alive)
        return;
    post([this] {
        if (callbacks.stopped)
            callbacks.stopped();
    });
    take->features = analyser.finish();
    post([this, take] { callbacks.finished(take); });
}
