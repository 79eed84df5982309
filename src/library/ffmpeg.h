#pragma once

// The FFmpeg pieces the importer shares: owners for FFmpeg objects, reading a
// file kept in memory, and progress with cancellation. Only the library's own
// sources include this header.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace Ffmpeg {

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

QString errorText(int code);

// ms of a timestamp in a time base; AV_NOPTS_VALUE stays AV_NOPTS_VALUE.
qint64 toMs(int64_t ts, AVRational timeBase);

// Where a player's clock starts in the file's timestamps, in ms. A positive start
// (a stream cut from a broadcast) is moved to zero, as players show it; a small
// negative one (an audio codec's priming samples) stays.
qint64 playbackOrigin(const AVFormatContext* format);

// Reports 0..100 to the caller's callback when the figure changes; the callback
// returning false cancels, and FFmpeg's blocking reads see it through interruptCallback().
class Progress {
public:
    explicit Progress(std::function<bool(int)> callback = {}) : callback(std::move(callback)) {}
    // fraction of the part [from, to] of the whole work
    bool report(double fraction, int from = 0, int to = 100);
    bool cancelled() const { return stop; }
    AVIOInterruptCB interruptCallback();

private:
    std::function<bool(int)> callback;
    int last = -1;
    bool stop = false;
};

// Opens a file of the given FFmpeg input format from bytes in memory.
class MemoryInput {
public:
    MemoryInput(QByteArray data, const char* formatName, QString* error);
    ~MemoryInput();
    MemoryInput(const MemoryInput&) = delete;
    MemoryInput& operator=(const MemoryInput&) = delete;

    AVFormatContext* context() const { return format; }

private:
    static int read(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    QByteArray data;
    qint64 position = 0;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
};

} // namespace Ffmpeg
