#include "library/ffmpeg.h"

#include <QCoreApplication>
#include <QtDebug>

#include <cstring>

namespace Ffmpeg {

QString errorText(int code) {
    // FFmpeg's own words are English; the learner reads a translated cause, the log keeps the raw one.
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    qWarning("FFmpeg: %s (%d)", text, code);
    const char* cause = nullptr;
    switch (code) {
    case AVERROR_INVALIDDATA:
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "its data is damaged or of an unknown kind");
        break;
    case AVERROR_EOF:
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "it ends too early");
        break;
    case AVERROR(ENOENT):
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "it does not exist");
        break;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "there is no permission to read it");
        break;
    case AVERROR(EIO):
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "the disk could not read it");
        break;
    case AVERROR(ENOMEM):
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "there is not enough memory");
        break;
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
    case AVERROR(ENOSYS):
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "its format is not supported");
        break;
    case AVERROR_STREAM_NOT_FOUND:
        cause = QT_TRANSLATE_NOOP("Ffmpeg", "it has nothing that can be played");
        break;
    default:
        return QCoreApplication::translate("Ffmpeg", "an unexpected error (FFmpeg %1)").arg(code);
    }
    return QCoreApplication::translate("Ffmpeg", cause);
}

qint64 toMs(int64_t ts, AVRational timeBase) {
    if (ts == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q_rnd(ts, timeBase, AVRational{1, 1000}, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

qint64 playbackOrigin(const AVFormatContext* format) {
    return format->start_time != AV_NOPTS_VALUE && format->start_time > 0 ? format->start_time / 1000 : 0;
}

bool Progress::report(double fraction, int from, int to) {
    if (stop)
        return false;
    if (!callback)
        return true;
    const int percent = from + int(qBound(0.0, fraction, 1.0) * (to - from));
    if (percent != last) {
        last = percent;
        stop = !callback(percent);
    }
    return !stop;
}

AVIOInterruptCB Progress::interruptCallback() {
    return AVIOInterruptCB{[](void* opaque) { return int(static_cast<Progress*>(opaque)->stop); }, this};
}

MemoryInput::MemoryInput(QByteArray bytes, const char* formatName, QString* error) : data(std::move(bytes)) {
    const int bufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    io = buffer ? avio_alloc_context(buffer, bufferSize, 0, this, &MemoryInput::read, nullptr, &MemoryInput::seek)
                : nullptr;
    if (!io) {
        av_free(buffer);
        *error = errorText(AVERROR(ENOMEM));
        return;
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        *error = errorText(AVERROR(ENOMEM));
        return;
    }
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    const int result = avformat_open_input(&context, nullptr, av_find_input_format(formatName), nullptr);
    if (result < 0) {
        *error = errorText(result); // avformat_open_input has freed the context
        return;
    }
    format = context;
}

MemoryInput::~MemoryInput() {
    avformat_close_input(&format);
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

int MemoryInput::read(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<MemoryInput*>(opaque);
    const qint64 n = qMin<qint64>(size, self->data.size() - self->position);
    if (n <= 0)
        return AVERROR_EOF;
    std::memcpy(buffer, self->data.constData() + self->position, size_t(n));
    self->position += n;
    return int(n);
}

int64_t MemoryInput::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<MemoryInput*>(opaque);
    const qint64 size = self->data.size();
    qint64 target;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = self->position + offset;
        break;
    case SEEK_END:
        target = size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0 || target > size)
        return AVERROR(EINVAL);
    self->position = target;
    return target;
}

} // namespace Ffmpeg
