#include "library/subtitlereader.h"

#include "library/ffmpeg.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstring>

using namespace Ffmpeg;

namespace {

// Subtitle files are read whole; anything this large is no subtitle file.
const qint64 maximumSubtitleFileSize = 64 * 1024 * 1024;

QString tr(const char* text) {
    return QCoreApplication::translate("MediaImporter", text);
}

// The fields of an ASS event "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text"
// that tell speech from karaoke and signs.
struct AssEvent {
    QString style;
    QString effect;
    QString text;
};

AssEvent assEvent(const char* event) {
    const char* fields[9] = {event};
    int count = 1;
    for (const char* p = event; count < 9 && (p = std::strchr(p, ',')); ++count)
        fields[count] = ++p;
    if (count < 9)
        return {QString(), QString(), QString::fromUtf8(event)};
    auto field = [&fields](int i) { return QString::fromUtf8(fields[i], int(fields[i + 1] - fields[i] - 1)); };
    return {field(2).trimmed(), field(7), QString::fromUtf8(fields[8])};
}

class StreamDecoder {
public:
    // A sidecar's cues come from FFmpeg's readers of text files: UTF-8 already,
    // and each with the duration its file gives, zero or less included.
    StreamDecoder(AVStream* stream, qint64 offsetMs, bool sidecar)
        : stream(stream), offsetMs(offsetMs), sidecar(sidecar) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        context.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!context) {
            track.error = tr("no decoder for %1").arg(QString::fromUtf8(avcodec_get_name(stream->codecpar->codec_id)));
            return;
        }
        int result = avcodec_parameters_to_context(context.get(), stream->codecpar);
        context->pkt_timebase = stream->time_base;
        if (result >= 0)
            result = avcodec_open2(context.get(), codec, nullptr);
        if (result < 0) {
            track.error = errorText(result);
            context.reset();
        }
        if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
            track.language = QString::fromUtf8(language->value).toLower();
    }

    bool usable() const { return bool(context); }

    void decode(AVPacket* packet) {
        AVPacket* input = packet;
        PacketPtr repaired;
        if (!sidecar && packet->data &&
            !SubtitleText::isValidUtf8(reinterpret_cast<const char*>(packet->data), packet->size)) {
            // FFmpeg's decoders refuse text that is not UTF-8; old files are Windows-1252.
            const QByteArray utf8 = SubtitleText::packetToUtf8(
                QByteArray::fromRawData(reinterpret_cast<const char*>(packet->data), packet->size));
            repaired.reset(av_packet_alloc());
            if (repaired && av_new_packet(repaired.get(), int(utf8.size())) == 0 &&
                av_packet_copy_props(repaired.get(), packet) == 0) {
                std::memcpy(repaired->data, utf8.constData(), size_t(utf8.size()));
                input = repaired.get();
            }
        }
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const qint64 base = pts == AV_NOPTS_VALUE ? 0 : toMs(pts, stream->time_base) - offsetMs;
        SubtitleCue cue;
        cue.start = base;
        if (stream->codecpar->codec_id == AV_CODEC_ID_WEBVTT) {
            // FFmpeg's WebVTT decoder decodes entities a second time and drops a lone ">":
            // the cue text is read from the packet by the format's own rules instead.
            if (pts == AV_NOPTS_VALUE || !input->data) {
                ++track.skipped;
                return;
            }
            cue.text = SubtitleText::webVttText(
                QString::fromUtf8(reinterpret_cast<const char*>(input->data), int(input->size)));
        } else {
            AVSubtitle subtitle{};
            int got = 0;
            const int result = avcodec_decode_subtitle2(context.get(), &subtitle, &got, input);
            if (result < 0 || !got || pts == AV_NOPTS_VALUE) {
                ++track.skipped;
                if (got)
                    avsubtitle_free(&subtitle);
                return;
            }
            for (unsigned i = 0; i < subtitle.num_rects; ++i) {
                const AVSubtitleRect* rect = subtitle.rects[i];
                QString part;
                if (rect->ass) {
                    const AssEvent event = assEvent(rect->ass);
                    part = SubtitleText::plainText(event.text);
                    cue.style = event.style;
                    cue.mark = std::max(cue.mark, SubtitleText::assEventMark(event.effect, event.text));
                } else if (rect->text) {
                    part = SubtitleText::plainText(QString::fromUtf8(rect->text));
                }
                if (!part.isEmpty())
                    cue.text += cue.text.isEmpty() ? part : QLatin1Char(' ') + part;
            }
            cue.start += subtitle.start_display_time;
            if (packet->duration <= 0 && subtitle.end_display_time > subtitle.start_display_time &&
                subtitle.end_display_time != UINT32_MAX)
                cue.end = base + subtitle.end_display_time;
            avsubtitle_free(&subtitle);
        }
        if (packet->duration > 0 || (sidecar && cue.end < 0))
            cue.end = base + toMs(packet->duration, stream->time_base);
        track.cues.append(cue);
    }

    SubtitleTrack track;

private:
    AVStream* stream;
    qint64 offsetMs;
    bool sidecar;
    CodecPtr context;
};

} // namespace

bool isTextSubtitleStream(const AVFormatContext* format, int index) {
    const AVCodecParameters* parameters = format->streams[index]->codecpar;
    if (parameters->codec_type != AVMEDIA_TYPE_SUBTITLE)
        return false;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters->codec_id);
    return descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB);
}

SubtitleTrack readSubtitleFile(const QString& path) {
    SubtitleTrack track;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        track.error = file.errorString();
        return track;
    }
    if (file.size() > maximumSubtitleFileSize) {
        track.error = tr("larger than a subtitle file can be");
        return track;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) {
        track.error = tr("the file is empty");
        return track;
    }
    QString text = SubtitleText::decode(bytes);
    const SubtitleText::Format format = SubtitleText::detectFormat(text);
    int skipped = 0;
    text = format == SubtitleText::Format::Ass ? SubtitleText::standardAssEvents(text)
                                               : SubtitleText::dropUnreadableCues(text, format, &skipped);
    const char* formatName = format == SubtitleText::Format::WebVtt ? "webvtt"
                             : format == SubtitleText::Format::Ass  ? "ass"
                                                                    : "srt";
    QString error;
    MemoryInput input(text.toUtf8(), formatName, &error);
    AVFormatContext* context = input.context();
    if (!context || context->nb_streams < 1) {
        track.error = error.isEmpty() ? tr("no subtitles in it") : error;
        return track;
    }
    StreamDecoder decoder(context->streams[0], 0, true);
    if (!decoder.usable()) {
        track.error = decoder.track.error;
        return track;
    }
    PacketPtr packet(av_packet_alloc());
    int packets = 0;
    while (av_read_frame(context, packet.get()) >= 0) {
        if (packet->stream_index == 0) {
            ++packets;
            decoder.decode(packet.get());
        }
        av_packet_unref(packet.get());
    }
    track.cues = std::move(decoder.track.cues);
    track.skipped = decoder.track.skipped + skipped;
    if (format == SubtitleText::Format::Ass)
        track.skipped += std::max(0, SubtitleText::assDialogueCount(text) - packets);
    track.leftOut = SubtitleText::leaveOutNonDialogue(track.cues);
    return track;
}

QVector<SubtitleTrack> readEmbeddedSubtitles(AVFormatContext* format, const QVector<int>& streams, Progress& progress,
                                             int progressFrom, int progressTo) {
    const qint64 offsetMs = playbackOrigin(format);
    std::vector<std::unique_ptr<StreamDecoder>> decoders(format->nb_streams);
    for (const int index : streams)
        decoders[size_t(index)] = std::make_unique<StreamDecoder>(format->streams[index], offsetMs, false);
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = decoders[i] && decoders[i]->usable() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    const int64_t fileSize = format->pb ? avio_size(format->pb) : -1;
    PacketPtr packet(av_packet_alloc());
    for (int count = 0;; ++count) {
        const int result = av_read_frame(format, packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0)
            break; // the end, or a damaged rest of the file: keep what was read
        StreamDecoder* decoder = decoders[size_t(packet->stream_index)].get();
        if (decoder && decoder->usable())
            decoder->decode(packet.get());
        const int64_t position = packet->pos;
        av_packet_unref(packet.get());
        if (count % 64 == 0 && fileSize > 0 && position >= 0 &&
            !progress.report(double(position) / double(fileSize), progressFrom, progressTo))
            break;
    }
    QVector<SubtitleTrack> tracks;
    for (const int index : streams) {
        tracks.append(std::move(decoders[size_t(index)]->track));
        tracks.last().leftOut = SubtitleText::leaveOutNonDialogue(tracks.last().cues);
    }
    return tracks;
}
