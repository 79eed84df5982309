#pragma once

#include "library/mediaitem.h"
#include "library/silencesplitter.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

struct MediaImportOptions {
    SilenceOptions silence;
    // Sentence times fitted to the speech heard (SpeechSync): offset and drift
    // of subtitles, and every start and end tightened.
    bool fitToSpeech = true;
    // Called from the importing thread with 0..100 as the work goes on; returning
    // false cancels the import.
    std::function<bool(int percent)> progress;
};

struct MediaImportResult {
    MediaItem item;
    QString error; // for the learner; empty on success

    bool ok() const { return error.isEmpty(); }
    // The item, or {"error": text}.
    QJsonObject toJson() const;
};

// Turns a local audio or video file into a practice item. The sentences come
// from, in this order: a subtitle file beside it with the same base name
// ("name.srt", "name.de.srt"; another language tag such as "name.zh.srt" gives
// the translations), a text subtitle stream inside it (the German one, else the
// first; another language gives the translations), or the pauses in its sound.
// Reads only the files: no shared state, so it may run on any thread.
// Sentences are kept within the media's length (cues starting after its end
// are left out, with a warning; one running past it is cut there), and a file
// with more than maxMediaSentences is refused.
MediaImportResult importMedia(const QString& path, const MediaImportOptions& options = {});
inline constexpr int maxMediaSentences = 20000;

// Suffixes (lower case, without the dot) importMedia accepts.
QStringList mediaAudioSuffixes();
QStringList mediaVideoSuffixes();
// Suffixes of the subtitle files looked for beside a media file.
QStringList subtitleSuffixes();

// The item id of a file: derived from its canonical path, so importing the same
// file again gives the same id.
QString mediaItemId(const QString& canonicalPath);
