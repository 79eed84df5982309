#include "library/silencesplitter.h"

#include "library/ffmpeg.h"

#include <QCoreApplication>
#include <QFile>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <list>

using namespace Ffmpeg;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("MediaImporter", text);
}

// Follows the level sample by sample: a pause is a run of at least minPause
// samples quiet on every channel; a segment runs from the first loud sample
// after a pause to the last loud sample before the next. On the way it sums
// the power of each 10 ms, for the finer measure of speech (SpeechSync).
class PauseFinder {
public:
    PauseFinder(double thresholdDb, int minPauseMs, bool measureLevels)
        : amplitude(std::pow(10.0, thresholdDb / 20.0)), minPauseMs(minPauseMs), measureLevels(measureLevels) {}

    void feed(const AVFrame* frame, qint64 frameStartMs) {
        if (frame->sample_rate <= 0 || frame->nb_samples <= 0)
            return;
        if (rate == 0) {
            originMs = std::max<qint64>(frameStartMs, 0);
            if (measureLevels)
                levels.fill(0, int(originMs / levelMs)); // nothing heard before the sound starts
        } else if (frame->sample_rate != rate) {
            // Keep the time reached and go on counting at the new rate.
            const qint64 lastLoudMs = ms(lastLoud);
            originMs = ms(counted);
            originSample = counted;
            quietRun = quietRun * frame->sample_rate / rate;
            lastLoud = originSample + (lastLoudMs - originMs) * frame->sample_rate / 1000;
        }
        rate = frame->sample_rate;
        levelEnd = std::max(counted + 1, sampleAt((qint64(levels.size()) + 1) * levelMs));
        minPause = std::max<qint64>(1, qint64(minPauseMs) * rate / 1000);
        const int channels = frame->ch_layout.nb_channels;
        const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
        switch (av_get_packed_sample_fmt(AVSampleFormat(frame->format))) {
        case AV_SAMPLE_FMT_U8: {
            const int limit = int(std::ceil(amplitude * 128.0));
            scan<uint8_t>(
                frame, channels, planar, [limit](uint8_t v) { return std::abs(int(v) - 128) >= limit; },
                [](uint8_t v) { return (float(v) - 128.0f) / 128.0f; });
        } break;
        case AV_SAMPLE_FMT_S16:
            scanInteger<int16_t>(frame, channels, planar, 32768.0);
            break;
        case AV_SAMPLE_FMT_S32:
            scanInteger<int32_t>(frame, channels, planar, 2147483648.0);
            break;
        case AV_SAMPLE_FMT_S64:
            scanInteger<int64_t>(frame, channels, planar, 9223372036854775808.0L);
            break;
        case AV_SAMPLE_FMT_FLT:
            scanFloat<float>(frame, channels, planar);
            break;
        case AV_SAMPLE_FMT_DBL:
            scanFloat<double>(frame, channels, planar);
            break;
        default:
            for (int k = 0; measureLevels && k < frame->nb_samples; ++k)
                addPower(0, counted + k); // unknown layout: time goes on, nothing heard
            counted += frame->nb_samples;
            break;
        }
    }

    // Closes the last segment.
    QVector<SpeechSegment> finish() {
        if (open)
            segments.append({segmentStartMs, ms(lastLoud + 1)});
        open = false;
        if (measureLevels && levelSamples > 0)
            levels.append(float(levelSum / levelSamples));
        levelSamples = 0;
        return segments;
    }

    // Mean square of every 10 ms from the start of the media.
    QVector<float> levels;

    qint64 durationMs() const { return rate ? ms(counted) : 0; }

private:
    static constexpr int levelMs = 10;

    qint64 ms(qint64 sample) const { return originMs + (sample - originSample) * 1000 / rate; }
    // The first sample at or after a time.
    qint64 sampleAt(qint64 timeMs) const { return originSample + ((timeMs - originMs) * rate + 999) / 1000; }

    void addPower(double power, qint64 sample) {
        levelSum += power;
        ++levelSamples;
        if (sample + 1 >= levelEnd) {
            levels.append(float(levelSum / levelSamples));
            levelSum = 0;
            levelSamples = 0;
            levelEnd = std::max(sample + 2, sampleAt((qint64(levels.size()) + 1) * levelMs));
        }
    }

    void loud(qint64 sample) {
        if (!open) {
            open = true;
            segmentStartMs = ms(sample);
        } else if (quietRun >= minPause) {
            segments.append({segmentStartMs, ms(lastLoud + 1)});
            segmentStartMs = ms(sample);
        }
        quietRun = 0;
        lastLoud = sample;
    }

    template <typename T, typename IsLoud, typename Value>
    void scan(const AVFrame* frame, int channels, bool planar, IsLoud isLoud, Value value) {
        if (measureLevels)
            scanAll<true, T>(frame, channels, planar, isLoud, value);
        else
            scanAll<false, T>(frame, channels, planar, isLoud, value);
    }

    template <bool Levels, typename T, typename IsLoud, typename Value>
    void scanAll(const AVFrame* frame, int channels, bool planar, IsLoud isLoud, Value value) {
        const int n = frame->nb_samples;
        const size_t stride = size_t(channels);
        const float perChannel = 1.0f / float(channels);
        for (int k = 0; k < n; ++k) {
            bool heard = false;
            float power = 0;
            for (int c = 0; c < channels; ++c) {
                const T v = planar
                                ? reinterpret_cast<const T*>(frame->extended_data[c])[k]
                                : reinterpret_cast<const T*>(frame->extended_data[0])[size_t(k) * stride + size_t(c)];
                if constexpr (Levels) {
                    heard = heard || isLoud(v);
                    const float x = value(v);
                    power += x * x;
                } else if (isLoud(v)) {
                    heard = true;
                    break;
                }
            }
            if (heard)
                loud(counted + k);
            else
                ++quietRun;
            if constexpr (Levels)
                addPower(power * perChannel, counted + k);
        }
        counted += n;
    }

    template <typename T> void scanInteger(const AVFrame* frame, int channels, bool planar, long double fullScale) {
        // Compared as integers: no conversion for the test. -min cannot be negated, so both signs are tested.
        const long double limit = std::ceil(static_cast<long double>(amplitude) * fullScale);
        const T threshold = limit >= fullScale ? std::numeric_limits<T>::max() : static_cast<T>(limit);
        const float unit = float(1.0L / fullScale);
        scan<T>(
            frame, channels, planar, [threshold](T v) { return v >= threshold || v <= -threshold; },
            [unit](T v) { return float(v) * unit; });
    }

    template <typename T> void scanFloat(const AVFrame* frame, int channels, bool planar) {
        const T a = static_cast<T>(amplitude);
        scan<T>(
            frame, channels, planar, [a](T v) { return v >= a || v <= -a; }, [](T v) { return float(v); });
    }

    const double amplitude;
    const int minPauseMs;
    const bool measureLevels;
    int rate = 0;
    qint64 minPause = 1;
    qint64 counted = 0;
    qint64 originSample = 0;
    qint64 originMs = 0;
    qint64 quietRun = 0;
    qint64 lastLoud = 0;
    qint64 segmentStartMs = 0;
    bool open = false;
    QVector<SpeechSegment> segments;
    double levelSum = 0;
    qint64 levelSamples = 0;
    qint64 levelEnd = 0; // the sample that starts the next 10 ms
};

} // namespace

SilenceSplit splitAtSilence(const QString& path, const SilenceOptions& options, Progress& progress, int progressFrom,
                            int progressTo, bool measureLevels) {
    SilenceSplit split;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        split.error = errorText(AVERROR(ENOMEM));
        return split;
    }
    raw->interrupt_callback = progress.interruptCallback();
    int result = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (result < 0) {
        split.error = errorText(result);
        return split;
    }
    FormatPtr format(raw);
    result = avformat_find_stream_info(format.get(), nullptr);
    if (result < 0) {
        split.error = errorText(result);
        return split;
    }
    const AVCodec* codec = nullptr;
    const int audio = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (audio < 0 || !codec) {
        split.error = audio == AVERROR_DECODER_NOT_FOUND ? tr("no decoder for its sound") : tr("it has no sound");
        return split;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* stream = format->streams[audio];
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        split.error = errorText(AVERROR(ENOMEM));
        return split;
    }
    result = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->pkt_timebase = stream->time_base;
    if (result >= 0)
        result = avcodec_open2(decoder.get(), codec, nullptr);
    if (result < 0) {
        split.error = errorText(result);
        return split;
    }

    const qint64 startMs = playbackOrigin(format.get());
    const int64_t fileSize = format->pb ? avio_size(format->pb) : -1;
    PauseFinder finder(options.thresholdDb, options.minPauseMs, measureLevels);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const qint64 at = toMs(frame->best_effort_timestamp, stream->time_base);
            finder.feed(frame.get(), at == AV_NOPTS_VALUE ? 0 : at - startMs);
            av_frame_unref(frame.get());
        }
    };
    for (int count = 0;; ++count) {
        result = av_read_frame(format.get(), packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0)
            break; // the end, or a damaged rest: what was decoded counts
        if (packet->stream_index == audio) {
            const int64_t position = packet->pos;
            // A damaged packet is skipped; the decoder goes on with the next.
            if (avcodec_send_packet(decoder.get(), packet.get()) == AVERROR(EAGAIN)) {
                drain();
                avcodec_send_packet(decoder.get(), packet.get());
            }
            drain();
            if (count % 256 == 0 && fileSize > 0 && position >= 0 &&
                !progress.report(double(position) / double(fileSize), progressFrom, progressTo))
                break;
        }
        av_packet_unref(packet.get());
    }
    if (progress.cancelled()) {
        split.error = tr("cancelled");
        return split;
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    split.segments = mergeShortSegments(finder.finish(), options.minSegmentMs);
    split.duration = finder.durationMs();
    split.levels = std::move(finder.levels);
    return split;
}

QVector<SpeechSegment> mergeShortSegments(QVector<SpeechSegment> segments, qint64 minimumMs) {
    std::list<SpeechSegment> list(segments.begin(), segments.end());
    auto length = [](const SpeechSegment& s) { return s.end - s.start; };
    for (auto it = list.begin(); it != list.end() && list.size() > 1;) {
        if (length(*it) >= minimumMs) {
            ++it;
            continue;
        }
        const auto next = std::next(it);
        const qint64 pauseBefore = it != list.begin() ? it->start - std::prev(it)->end : INT64_MAX;
        const qint64 pauseAfter = next != list.end() ? next->start - it->end : INT64_MAX;
        if (pauseBefore <= pauseAfter) {
            // The one before was long enough already and stays so.
            std::prev(it)->end = it->end;
            it = list.erase(it);
        } else {
            it->end = next->end;
            list.erase(next); // look at the grown segment again
        }
    }
    return QVector<SpeechSegment>(list.begin(), list.end());
}

QVector<MediaSentence> sentencesFromSegments(const QVector<SpeechSegment>& segments, const SilenceOptions& options) {
    QVector<MediaSentence> sentences;
    sentences.reserve(segments.size());
    qint64 previousEnd = 0;
    for (const SpeechSegment& s : segments) {
        const qint64 start = std::max(s.start - options.leadInMs, previousEnd);
        sentences.append({start, s.end, QString(), QString()});
        previousEnd = s.end;
    }
    return sentences;
}
