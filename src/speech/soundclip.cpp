#include "speech/soundclip.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <QCoreApplication>
#include <QFile>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Shadowing", text);
}

QString errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

struct ResamplerFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFreer>;

struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

bool isUrl(const QString& source) {
    const QString scheme = QUrl(source).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

SoundClip decodeSentence(const QString& source, qint64 startMs, qint64 endMs, const DecodeOptions& options) {
    SoundClip clip;
    startMs = std::max<qint64>(0, startMs);
    if (endMs <= startMs || endMs - startMs > Speech::maxSentenceMs)
        endMs = startMs + Speech::maxSentenceMs;

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        clip.error = errorText(AVERROR(ENOMEM));
        return clip;
    }
    if (options.cancel)
        raw->interrupt_callback =
            AVIOInterruptCB{[](void* flag) { return int(static_cast<const std::atomic_bool*>(flag)->load()); },
                            const_cast<std::atomic_bool*>(options.cancel)};
    AVDictionary* settings = nullptr;
    QByteArray location;
    if (isUrl(source)) {
        location = source.toUtf8();
        av_dict_set_int(&settings, "rw_timeout", qint64(options.timeoutMs) * 1000, 0);
        av_dict_set_int(&settings, "timeout", qint64(options.timeoutMs) * 1000, 0);
        av_dict_set(&settings, "tls_verify", "1", 0);
        if (!options.caFile.isEmpty())
            av_dict_set(&settings, "ca_file", QFile::encodeName(options.caFile).constData(), 0);
    } else {
        location = QFile::encodeName(QUrl(source).isLocalFile() ? QUrl(source).toLocalFile() : source);
    }
    int result = avformat_open_input(&raw, location.constData(), nullptr, &settings);
    std::unique_ptr<AVDictionary, DictionaryFreer> leftover(settings);
    if (result < 0) {
        clip.error = tr("The sentence's sound cannot be read (%1).").arg(errorText(result));
        return clip;
    }
    FormatPtr format(raw);
    result = avformat_find_stream_info(format.get(), nullptr);
    const AVCodec* codec = nullptr;
    const int audio = result < 0 ? result : av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (audio < 0 || !codec) {
        clip.error = tr("The media has no sound to compare with.");
        return clip;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* stream = format->streams[audio];
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        clip.error = errorText(AVERROR(ENOMEM));
        return clip;
    }
    result = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->pkt_timebase = stream->time_base;
    if (result >= 0)
        result = avcodec_open2(decoder.get(), codec, nullptr);
    if (result < 0) {
        clip.error = tr("The sentence's sound cannot be decoded (%1).").arg(errorText(result));
        return clip;
    }

    // Player time 0 is the file's start time when that is positive (a stream cut
    // from a broadcast), as the player shows it and the sentence times count.
    const qint64 origin =
        format->start_time != AV_NOPTS_VALUE && format->start_time > 0 ? format->start_time / 1000 : 0;
    // A little before the start, so that a seek landing late still covers it.
    const qint64 seekMs = std::max<qint64>(0, startMs - 500);
    if (seekMs > 0) {
        const int64_t target = (seekMs + origin) * (AV_TIME_BASE / 1000);
        avformat_seek_file(format.get(), -1, INT64_MIN, target, target, 0);
    }

    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    ResamplerPtr resampler;
    int resamplerRate = 0;
    AVSampleFormat resamplerFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout resamplerLayout{};
    // Output sample index (at Speech::sampleRate, player time) of the next converted sample.
    qint64 position = -1;
    const qint64 first = startMs * Speech::sampleRate / 1000;
    const qint64 last = endMs * Speech::sampleRate / 1000;
    std::vector<float> converted;
    bool done = false;

    auto take = [&](const float* data, int count) {
        for (int k = 0; k < count; ++k, ++position) {
            if (position >= last) {
                done = true;
                return;
            }
            if (position >= first)
                clip.samples.push_back(data[k]);
        }
    };

    auto convert = [&](const AVFrame* frame) -> bool {
        if (!resampler || frame->sample_rate != resamplerRate || frame->format != resamplerFormat ||
            av_channel_layout_compare(&frame->ch_layout, &resamplerLayout) != 0) {
            SwrContext* s = nullptr;
            AVChannelLayout in{};
            av_channel_layout_copy(&in, &frame->ch_layout);
            const int made = swr_alloc_set_opts2(&s, &mono, AV_SAMPLE_FMT_FLT, Speech::sampleRate, &in,
                                                 AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&in);
            if (made < 0 || swr_init(s) < 0) {
                swr_free(&s);
                return false;
            }
            resampler.reset(s);
            resamplerRate = frame->sample_rate;
            resamplerFormat = AVSampleFormat(frame->format);
            av_channel_layout_uninit(&resamplerLayout);
            av_channel_layout_copy(&resamplerLayout, &frame->ch_layout);
        }
        if (position < 0) {
            const int64_t ts = frame->best_effort_timestamp;
            const qint64 ms =
                ts == AV_NOPTS_VALUE ? seekMs : av_rescale_q(ts, stream->time_base, AVRational{1, 1000}) - origin;
            position = ms * Speech::sampleRate / 1000;
        }
        const int room = swr_get_out_samples(resampler.get(), frame->nb_samples);
        converted.resize(size_t(std::max(room, 0)));
        auto* out = reinterpret_cast<uint8_t*>(converted.data());
        const int count = swr_convert(resampler.get(), &out, room, const_cast<const uint8_t**>(frame->extended_data),
                                      frame->nb_samples);
        if (count > 0)
            take(converted.data(), count);
        return count >= 0;
    };

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    bool failed = false;
    auto drain = [&] {
        while (!done && avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            failed = !convert(frame.get()) || failed;
            av_frame_unref(frame.get());
        }
    };
    while (!done && !failed) {
        result = av_read_frame(format.get(), packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0)
            break;
        if (packet->stream_index == audio) {
            if (avcodec_send_packet(decoder.get(), packet.get()) == AVERROR(EAGAIN)) {
                drain();
                avcodec_send_packet(decoder.get(), packet.get());
            }
            drain();
        }
        av_packet_unref(packet.get());
    }
    av_channel_layout_uninit(&resamplerLayout);
    if (options.cancel && options.cancel->load()) {
        clip.error = tr("cancelled");
        clip.samples.clear();
        return clip;
    }
    if (failed) {
        clip.error = tr("The sentence's sound cannot be converted.");
        clip.samples.clear();
        return clip;
    }
    if (!done) {
        avcodec_send_packet(decoder.get(), nullptr);
        drain();
        if (!done && resampler) {
            // The resampler's last few samples.
            const int room = swr_get_out_samples(resampler.get(), 0);
            converted.resize(size_t(std::max(room, 0)));
            auto* out = reinterpret_cast<uint8_t*>(converted.data());
            const int count = swr_convert(resampler.get(), &out, room, nullptr, 0);
            if (count > 0)
                take(converted.data(), count);
        }
    }
    if (clip.samples.empty())
        clip.error = tr("The sentence has no sound at this place of the media.");
    return clip;
}
