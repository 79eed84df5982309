#pragma once

#include <QString>

// Cuts the sound of one sentence out of a media file: exactly the samples from
// `startMs` to `endMs` on the player's clock (the timeline the sentence times
// use), encoded as Opus in Ogg, or MP3 when `output` ends in ".mp3". The file is
// written under a temporary name and renamed when complete, owner-only, so a
// failure (a full disk, a vanished source) leaves no half clip behind.
//
// Blocking and reentrant: run it on a worker thread.
namespace ClipCutter {

struct Result {
    bool ok = false;
    QString error;         // for the learner, when !ok
    qint64 durationMs = 0; // of the written clip
};

Result cut(const QString& input, qint64 startMs, qint64 endMs, const QString& output);

} // namespace ClipCutter
