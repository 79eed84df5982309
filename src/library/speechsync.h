#pragma once

#include "library/mediaitem.h"

#include <QString>
#include <QVector>

// Sentence times fitted to the speech in the sound: subtitles shifted by
// seconds, running ahead or behind over an hour (another frame rate, a cut),
// or ending before the last syllable is spoken.
namespace SpeechSync {

// The sound's level is measured in frames of this length.
constexpr int frameMs = 10;

// Where speech is heard: stretches clearly louder than the file's own noise
// floor, from the mean square level of each 10 ms frame (full scale 1). Gaps
// shorter than a pause within a word are closed. Nothing for sound without
// such contrast (noise, silence).
QVector<TimeSpan> speechActivity(const QVector<float>& framePower);

// How the sentence times relate to the speech: t' = t * scale + offsetMs.
struct Estimate {
    double scale = 1;
    qint64 offsetMs = 0;
    // The share of sentences whose start meets a speech onset after the correction.
    double confidence = 0;
    // The correction moves times noticeably and fits clearly better than none.
    bool clear = false;
};

// Searches offset and drift of sentences read from subtitles against the
// speech: the cue occupancy is correlated with the speech over the whole file
// (for a few likely drifts: none, and the usual frame rate changes), then the
// drift is fitted on matched sentence starts and speech onsets, robust to
// outliers.
Estimate estimate(const QVector<MediaSentence>& sentences, const QVector<TimeSpan>& speech, qint64 durationMs);

// Every time t becomes t * scale + offsetMs, kept inside the media and in order.
void shift(QVector<MediaSentence>& sentences, double scale, qint64 offsetMs, qint64 durationMs);

// Moves each start to the speech onset within 300 ms and each end to the end
// of the speech the sentence covers, never into the next sentence's speech and
// at least 20 ms before the next start. Returns how many sentences moved.
int tighten(QVector<MediaSentence>& sentences, const QVector<TimeSpan>& speech, qint64 durationMs);

// Sets the item's sentence times from its original ones for a mode: "auto"
// (offset and drift when they clearly fit better, subtitles only; then
// tightened), "original" (the file's own times, untouched) or "offset:<ms>"
// (a shift of the whole file chosen by the learner; then tightened). Fills
// item.sync. False for an unknown mode, leaving the item as it was.
bool retime(MediaItem& item, const QString& mode);

// One sentence's times as the learner sets them: inside the media, the start
// before the end, not crossing the sentences before and after. Returns why
// not, for the learner; empty when they were set.
QString setSentenceTiming(MediaItem& item, int index, qint64 startMs, qint64 endMs);

} // namespace SpeechSync
