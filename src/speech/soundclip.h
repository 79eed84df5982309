#pragma once

#include <QString>

#include <atomic>
#include <vector>

// Shadowing works on mono sound at one rate, in frames of 10 ms: the learner's
// recording comes in at this rate, and a sentence of the practised media is
// decoded to it.
namespace Speech {
inline constexpr int sampleRate = 16000;
inline constexpr int frameSamples = sampleRate / 100; // 10 ms
inline constexpr int frameMs = 10;
// Longer sentences are cut here: nobody speaks a minute back, and the alignment's
// cost grows with the square of the length.
inline constexpr qint64 maxSentenceMs = 30000;
} // namespace Speech

struct SoundClip {
    std::vector<float> samples; // mono, Speech::sampleRate
    QString error;

    bool ok() const { return error.isEmpty(); }
    qint64 durationMs() const { return qint64(samples.size()) * 1000 / Speech::sampleRate; }
};

struct DecodeOptions {
    QString caFile;        // extra trusted certificates (PEM) for an https source
    int timeoutMs = 10000; // a network source that stalls this long fails
    const std::atomic_bool* cancel = nullptr;
};

// The sound from startMs to endMs (player time, ms) of a media file or URL, mixed
// down to mono at Speech::sampleRate; at most Speech::maxSentenceMs of it. An end
// at or before the start means "to the end of the media".
SoundClip decodeSentence(const QString& source, qint64 startMs, qint64 endMs, const DecodeOptions& options = {});
