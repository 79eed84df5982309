#include "library/clipcutter.h"

#include "library/ffmpeg.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <climits>

using namespace Ffmpeg;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ClipCutter", text);
}

struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

class Cutter {
public:
    Cutter(const QString& input, qint64 startMs, qint64 endMs, const QString& output)
        : input(input), startMs(startMs), endMs(endMs), output(output) {}

    ClipCutter::Result run() {
        ClipCutter::Result result;
        const QString part = output + QStringLiteral(".part");
        QFile::remove(part);
        result.ok = openInput() && cutInto(part);
        if (!result.ok) {
            closeOutput();
            QFile::remove(part);
            result.error = error;
            return result;
        }
        QFile::remove(output);
        QFile::setPermissions(part, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!QFile::rename(part, output)) {
            QFile::remove(part);
            result.ok = false;
            result.error = tr("The sound clip could not be stored.");
            return result;
        }
        result.durationMs = written * 1000 / encoder->sample_rate;
        return result;
    }

private:
    bool fail(const QString& text, int code = 0) {
        error = code ? text + QStringLiteral(" (") + errorText(code) + QLatin1Char(')') : text;
        return false;
    }

    bool openInput() {
        if (endMs <= startMs || startMs < 0)
            return fail(tr("The sentence has no length."));
        AVFormatContext* raw = nullptr;
        int rc = avformat_open_input(&raw, QFile::encodeName(input).constData(), nullptr, nullptr);
        if (rc < 0)
            return fail(tr("The media file could not be opened."), rc);
        in.reset(raw);
        if ((rc = avformat_find_stream_info(in.get(), nullptr)) < 0)
            return fail(tr("The media file could not be read."), rc);
        const AVCodec* codec = nullptr;
        streamIndex = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (streamIndex < 0 || !codec)
            return fail(tr("The media file has no sound."));
        stream = in->streams[streamIndex];
        decoder.reset(avcodec_alloc_context3(codec));
        if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
            return fail(tr("The media file's sound cannot be decoded."));
        decoder->pkt_timebase = stream->time_base;
        if ((rc = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
            return fail(tr("The media file's sound cannot be decoded."), rc);
        originMs = playbackOrigin(in.get());
        return true;
    }

    bool openOutput(const QString& path, const AVFrame* frame) {
        const bool mp3 = output.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive);
        const AVCodec* codec = avcodec_find_encoder_by_name(mp3 ? "libmp3lame" : "libopus");
        if (!codec)
            codec = avcodec_find_encoder(mp3 ? AV_CODEC_ID_MP3 : AV_CODEC_ID_OPUS);
        if (!codec)
            return fail(tr("No encoder for the sound clip is installed."));
        AVFormatContext* raw = nullptr;
        int rc = avformat_alloc_output_context2(&raw, nullptr, mp3 ? "mp3" : "ogg", nullptr);
        if (rc < 0)
            return fail(tr("The sound clip could not be written."), rc);
        out.reset(raw);
        encoder.reset(avcodec_alloc_context3(codec));
        if (!encoder)
            return fail(tr("The sound clip could not be written."), AVERROR(ENOMEM));
        av_channel_layout_default(&encoder->ch_layout, std::min(2, std::max(1, frame->ch_layout.nb_channels)));
        encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        encoder->sample_rate = pickRate(codec, frame->sample_rate);
        encoder->bit_rate = encoder->ch_layout.nb_channels > 1 ? 64000 : 40000; // speech: plenty for Opus
        // A short clip is stored while the learner waits: a middle effort encodes it
        // several times faster than the highest, at a quality nobody hears apart.
        encoder->compression_level = 5;
        encoder->time_base = AVRational{1, encoder->sample_rate};
        encoder->strict_std_compliance =
            FF_COMPLIANCE_EXPERIMENTAL; // the native Opus encoder, where libopus is missing
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if ((rc = avcodec_open2(encoder.get(), codec, nullptr)) < 0)
            return fail(tr("The sound clip could not be encoded."), rc);
        AVStream* s = avformat_new_stream(out.get(), nullptr);
        if (!s || avcodec_parameters_from_context(s->codecpar, encoder.get()) < 0)
            return fail(tr("The sound clip could not be written."), AVERROR(ENOMEM));
        s->time_base = encoder->time_base;
        if ((rc = avio_open(&out->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE)) < 0)
            return fail(tr("The sound clip could not be written."), rc);
        if ((rc = avformat_write_header(out.get(), nullptr)) < 0)
            return fail(tr("The sound clip could not be written."), rc);

        AVChannelLayout inLayout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels == 0)
            av_channel_layout_default(&inLayout, std::max(1, frame->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        SwrContext* swr = nullptr;
        rc = swr_alloc_set_opts2(&swr, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate, &inLayout,
                                 AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        resampler.reset(swr);
        if (rc < 0 || (rc = swr_init(swr)) < 0)
            return fail(tr("The sound clip could not be encoded."), rc);
        frameSize = encoder->frame_size > 0 ? encoder->frame_size : 960;
        fifo.reset(av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels, frameSize * 4));
        return fifo ? true : fail(tr("The sound clip could not be encoded."), AVERROR(ENOMEM));
    }

    static int pickRate(const AVCodec* codec, int wanted) {
        if (!codec->supported_samplerates)
            return wanted > 0 ? wanted : 48000;
        int best = codec->supported_samplerates[0];
        for (const int* r = codec->supported_samplerates; *r; ++r) {
            if (*r == wanted)
                return *r;
            if (*r > best)
                best = *r; // the highest: resampling up loses nothing
        }
        return best;
    }

    void closeOutput() {
        fifo.reset();
        resampler.reset();
        encoder.reset();
        out.reset();
    }

    // Decodes from a little before the start and keeps exactly the sentence's
    // samples. A demuxer whose seek lands late (estimated positions) is asked
    // again from further back, and finally from the beginning.
    bool cutInto(const QString& part) {
        for (const qint64 preroll : {qint64(500), qint64(5000), qint64(-1)}) {
            const qint64 from = preroll < 0 ? 0 : startMs - preroll;
            if (from > 0) {
                const int64_t ts = (from + originMs) * 1000;
                if (avformat_seek_file(in.get(), -1, INT64_MIN, ts, ts, 0) < 0)
                    continue;
            } else if (avformat_seek_file(in.get(), -1, INT64_MIN,
                                          in->start_time == AV_NOPTS_VALUE ? 0 : in->start_time, INT64_MAX, 0) < 0 &&
                       preroll >= 0) {
                continue;
            }
            avcodec_flush_buffers(decoder.get());
            landedLate = false;
            if (!decodeAll(part))
                return false;
            if (!landedLate)
                break;
            if (preroll < 0)
                return fail(tr("The media file could not be read at the sentence."));
        }
        if (!out)
            return fail(tr("The sentence lies beyond the end of the media file."));
        return finish();
    }

    bool decodeAll(const QString& part) {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame)
            return fail(tr("The sound clip could not be encoded."), AVERROR(ENOMEM));
        nextSample = AV_NOPTS_VALUE;
        bool done = false;
        bool flushing = false;
        while (!done) {
            if (!flushing) {
                const int rc = av_read_frame(in.get(), packet.get());
                if (rc == AVERROR_EOF) {
                    flushing = true;
                    avcodec_send_packet(decoder.get(), nullptr);
                } else if (rc < 0) {
                    return fail(tr("The media file could not be read."), rc);
                } else {
                    const bool ours = packet->stream_index == streamIndex;
                    if (ours)
                        avcodec_send_packet(decoder.get(), packet.get()); // a broken packet is skipped
                    av_packet_unref(packet.get());
                    if (!ours)
                        continue;
                }
            }
            while (!done) {
                const int rc = avcodec_receive_frame(decoder.get(), frame.get());
                if (rc == AVERROR(EAGAIN))
                    break;
                if (rc == AVERROR_EOF)
                    return true;
                if (rc < 0)
                    return fail(tr("The media file's sound cannot be decoded."), rc);
                bool ok = take(frame.get(), part, &done);
                av_frame_unref(frame.get());
                if (!ok)
                    return false;
            }
        }
        return true;
    }

    // Keeps the part of a decoded frame that lies inside the sentence.
    bool take(AVFrame* frame, const QString& part, bool* done) {
        const int rate = frame->sample_rate;
        if (rate <= 0 || frame->nb_samples <= 0)
            return true;
        qint64 first = nextSample;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            first = av_rescale_q(frame->best_effort_timestamp, stream->time_base, AVRational{1, rate}) -
                    originMs * rate / 1000;
        if (first == AV_NOPTS_VALUE)
            first = 0;
        nextSample = first + frame->nb_samples;
        const qint64 startSample = startMs * rate / 1000;
        const qint64 endSample = endMs * rate / 1000;
        if (!out && first > startSample + rate / 1000) {
            landedLate = true;
            *done = true;
            return true;
        }
        if (first >= endSample) {
            *done = true;
            return true;
        }
        const qint64 from = std::max(first, startSample);
        const qint64 to = std::min(first + frame->nb_samples, endSample);
        if (to <= from)
            return true;
        if (!out && !openOutput(part, frame))
            return false;
        const int offset = int(from - first);
        const int count = int(to - from);
        const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
        const int channels = frame->ch_layout.nb_channels;
        const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
        if (av_sample_fmt_is_planar(AVSampleFormat(frame->format))) {
            for (int c = 0; c < channels && c < AV_NUM_DATA_POINTERS; ++c)
                planes[c] = frame->extended_data[c] + size_t(offset) * size_t(bytes);
        } else {
            planes[0] = frame->extended_data[0] + size_t(offset) * size_t(bytes) * size_t(channels);
        }
        return resample(planes, count);
    }

    bool resample(const uint8_t** planes, int count) {
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room < 0)
            return fail(tr("The sound clip could not be encoded."), room);
        if (room == 0)
            return true;
        uint8_t** buffer = nullptr;
        int rc = av_samples_alloc_array_and_samples(&buffer, nullptr, encoder->ch_layout.nb_channels, room,
                                                    encoder->sample_fmt, 0);
        if (rc < 0)
            return fail(tr("The sound clip could not be encoded."), rc);
        rc = swr_convert(resampler.get(), buffer, room, planes, count);
        if (rc > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(buffer), rc) < rc)
            rc = AVERROR(ENOMEM);
        av_freep(&buffer[0]);
        av_freep(&buffer);
        if (rc < 0)
            return fail(tr("The sound clip could not be encoded."), rc);
        return encodeFrames(false);
    }

    bool encodeFrames(bool last) {
        while (av_audio_fifo_size(fifo.get()) >= frameSize || (last && av_audio_fifo_size(fifo.get()) > 0)) {
            FramePtr frame(av_frame_alloc());
            const int n = std::min(frameSize, av_audio_fifo_size(fifo.get()));
            frame->nb_samples = n;
            frame->format = encoder->sample_fmt;
            frame->sample_rate = encoder->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
            if (av_frame_get_buffer(frame.get(), 0) < 0)
                return fail(tr("The sound clip could not be encoded."), AVERROR(ENOMEM));
            if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), n) < n)
                return fail(tr("The sound clip could not be encoded."));
            frame->pts = written;
            written += n;
            if (!send(frame.get()))
                return false;
        }
        return true;
    }

    bool send(const AVFrame* frame) {
        int rc = avcodec_send_frame(encoder.get(), frame);
        if (rc < 0)
            return fail(tr("The sound clip could not be encoded."), rc);
        PacketPtr packet(av_packet_alloc());
        while ((rc = avcodec_receive_packet(encoder.get(), packet.get())) >= 0) {
            av_packet_rescale_ts(packet.get(), encoder->time_base, out->streams[0]->time_base);
            packet->stream_index = 0;
            if ((rc = av_interleaved_write_frame(out.get(), packet.get())) < 0)
                return fail(tr("The sound clip could not be written."), rc);
        }
        return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF ? true : fail(tr("The sound clip could not be encoded."), rc);
    }

    bool finish() {
        // What the resampler still holds, then the encoder's tail.
        const int room = swr_get_out_samples(resampler.get(), 0);
        if (room > 0) {
            uint8_t** buffer = nullptr;
            if (av_samples_alloc_array_and_samples(&buffer, nullptr, encoder->ch_layout.nb_channels, room,
                                                   encoder->sample_fmt, 0) >= 0) {
                const int n = swr_convert(resampler.get(), buffer, room, nullptr, 0);
                if (n > 0)
                    av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(buffer), n);
                av_freep(&buffer[0]);
                av_freep(&buffer);
            }
        }
        if (!encodeFrames(true) || !send(nullptr))
            return false;
        int rc = av_write_trailer(out.get());
        if (rc < 0)
            return fail(tr("The sound clip could not be written."), rc);
        avio_flush(out->pb);
        if (out->pb->error < 0)
            return fail(tr("The sound clip could not be written."), out->pb->error);
        if ((rc = avio_closep(&out->pb)) < 0)
            return fail(tr("The sound clip could not be written."), rc);
        return true;
    }

    QString input;
    qint64 startMs;
    qint64 endMs;
    QString output;
    QString error;

    FormatPtr in;
    AVStream* stream = nullptr;
    int streamIndex = -1;
    CodecPtr decoder;
    qint64 originMs = 0;
    qint64 nextSample = AV_NOPTS_VALUE;
    bool landedLate = false;

    std::unique_ptr<AVFormatContext, OutputCloser> out;
    CodecPtr encoder;
    std::unique_ptr<SwrContext, SwrFreer> resampler;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo;
    int frameSize = 960;
    qint64 written = 0;
};

} // namespace

namespace ClipCutter {

Result cut(const QString& input, qint64 startMs, qint64 endMs, const QString& output) {
    return Cutter(input, startMs, endMs, output).run();
}

} // namespace ClipCutter
