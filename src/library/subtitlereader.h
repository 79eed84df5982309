#pragma once

#include "library/subtitletext.h"

#include <QString>
#include <QVector>

struct AVFormatContext;
namespace Ffmpeg {
class Progress;
}

// One subtitle stream or file, decoded by FFmpeg.
struct SubtitleTrack {
    QString language; // lower-case tag of the stream or file name; may be empty
    QVector<SubtitleCue> cues;
    int skipped = 0; // cues that could not be read
    int leftOut = 0; // karaoke, signs and drawings (SubtitleText::leaveOutNonDialogue)
    QString error;   // set when nothing could be read at all
};

// A SubRip, WebVTT or ASS/SSA file (told apart by content), read with FFmpeg's
// demuxer and decoder after the character set and unreadable cues are dealt
// with (see SubtitleText).
SubtitleTrack readSubtitleFile(const QString& path);

// Whether stream `index` of an opened file is a subtitle stream of text (SubRip,
// ASS, WebVTT, mov_text, ...), as opposed to pictures.
bool isTextSubtitleStream(const AVFormatContext* format, int index);

// The given text subtitle streams of an opened file, in one pass over it, in
// the order given. Times are relative to the file's start as a player shows them.
QVector<SubtitleTrack> readEmbeddedSubtitles(AVFormatContext* format, const QVector<int>& streams,
                                             Ffmpeg::Progress& progress, int progressFrom, int progressTo);
