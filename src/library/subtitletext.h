#pragma once

#include "library/mediaitem.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// A subtitle cue as decoded: times in ms, end -1 when the file gives none. An
// end at the start is a cue its author meant not to show.
struct SubtitleCue {
    qint64 start = 0;
    qint64 end = -1;
    QString text; // plain, see SubtitleText::plainText

    // ASS/SSA only: the line's style, and whether it is karaoke or a sign rather than speech.
    enum class Mark { None, Karaoke, Sign };
    QString style;
    Mark mark = Mark::None;
};

// Text handling around FFmpeg's subtitle demuxers and decoders: what they leave
// to the caller (markup, character sets, unreadable cues) and turning cues into
// practice sentences.
namespace SubtitleText {

// Plain one-line text of an ASS event's text field, the form FFmpeg's decoders
// give for every text subtitle format: override blocks {...} and drawings go,
// \N, \n and \h become spaces, left-over tags (<i>, <c.x>, <v Name>, timestamps)
// go, the common entities are decoded, and runs of white space become one space.
QString plainText(const QString& assText);

// Subtitle file bytes as text: UTF-8 (with or without byte order mark), UTF-16
// and UTF-32 with byte order mark, and anything else as Windows-1252. legacy is
// set for the last case.
QString decode(const QByteArray& bytes, bool* legacy = nullptr);
// An embedded cue's bytes as UTF-8: valid UTF-8 stays, anything else is read as Windows-1252.
QByteArray packetToUtf8(const QByteArray& bytes);
bool isValidUtf8(const char* data, int size);

enum class Format { SubRip, WebVtt, Ass };
// By content: "WEBVTT" first, an "[Events]" or "[Script Info]" section, otherwise SubRip.
Format detectFormat(const QString& text);

// FFmpeg's SubRip reader folds a cue whose timing line it cannot read into the
// text of the cue before, and its WebVTT reader stops at the first such cue (or
// at a STYLE block). Removes those cues (counted in skipped) and the style and
// region blocks, so that the readers see only cues they can read.
QString dropUnreadableCues(const QString& text, Format format, int* skipped);
// Dialogue lines of an ASS/SSA file: FFmpeg's reader drops broken ones silently,
// so the difference to the cues read is the number skipped.
int assDialogueCount(const QString& text);
// FFmpeg's ASS reader takes every Dialogue line as the standard ten fields
// (Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text);
// older tools write fewer, named by the [Events] section's own Format line.
// Rewrites such lines into the standard order; other files come back as they are.
QString standardAssEvents(const QString& text);

// The plain text of a WebVTT cue's payload as the W3C cue text rules read it:
// tags (<i>, <c.x>, <v Name>, <00:01.000>, ...) go, character references are
// read once, a ">" on its own is text, and line breaks become spaces.
QString webVttText(const QString& payload);

// Karaoke, signs and drawings of an ASS event ("ReadOrder,Layer,Style,Name,
// MarginL,MarginR,MarginV,Effect,Text"): a line with an Effect or a drawing
// (\p1) is a sign, one timed by syllables (\k, \kf, \ko) is karaoke.
SubtitleCue::Mark assEventMark(const QString& effect, const QString& text);
// Leaves out what is shown but not spoken: signs, and the lines of a style
// that holds mostly karaoke and signs (an opening's syllables and effect
// layers). A karaoke-timed line among ordinary dialogue is a sung sentence and
// stays. Returns the number left out.
int leaveOutNonDialogue(QVector<SubtitleCue>& cues);

// Practice sentences from the cues of the text track: empty cues are left out
// (counted in skipped), zero-length ones too (not counted: they are not meant
// to be shown); cues are sorted by start; cues with the same start, or
// overlapping by at least half of the longer one (two lines shown together),
// become one sentence; a missing end, or one before the start, is the next
// start (the duration for the last); an end past the next start is cut there.
QVector<MediaSentence> sentencesFromCues(QVector<SubtitleCue> cues, qint64 duration, int* skipped);

// Each translation cue goes to the sentence it overlaps most (joined by a space
// when several do); cues overlapping no sentence are left out.
void attachTranslations(QVector<MediaSentence>& sentences, QVector<SubtitleCue> cues);

} // namespace SubtitleText
