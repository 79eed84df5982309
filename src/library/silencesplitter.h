#pragma once

#include "library/librarymodule.h"
#include "library/mediaitem.h"

#include <QString>
#include <QVector>

namespace Ffmpeg {
class Progress;
}

// A stretch of sound between pauses, in ms from the start of the media.
using SpeechSegment = TimeSpan;

struct SilenceSplit {
    QVector<SpeechSegment> segments; // ascending, short ones merged
    qint64 duration = 0;             // ms of sound decoded
    QVector<float> levels;           // measureLevels: mean square (full scale 1) of every 10 ms
    QString error;
};

// Decodes the best audio stream of a file and finds the pauses in it, reporting
// progress as the part [progressFrom, progressTo] of the caller's work; with
// measureLevels, also the power of every 10 ms.
SilenceSplit splitAtSilence(const QString& path, const SilenceOptions& options, Ffmpeg::Progress& progress,
                            int progressFrom, int progressTo, bool measureLevels = false);

// Joins each segment shorter than minimumMs to the neighbour across the shorter pause.
QVector<SpeechSegment> mergeShortSegments(QVector<SpeechSegment> segments, qint64 minimumMs);

// Sentences without text, one per segment, each starting options.leadInMs
// early but not before the end of the one before.
QVector<MediaSentence> sentencesFromSegments(const QVector<SpeechSegment>& segments, const SilenceOptions& options);
