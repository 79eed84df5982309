#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// One practice sentence of a local media file. Times are milliseconds from the
// start of the media; starts ascend strictly and an end never passes the next
// start, as the practice controller expects.
struct MediaSentence {
    qint64 start = 0;
    qint64 end = 0;
    QString text;        // empty for sentences found by pauses
    QString translation; // empty when there is none
};

// A stretch of a media file, in ms from its start.
struct TimeSpan {
    qint64 start = 0;
    qint64 end = 0;
};

// How the sentence times were fitted to the speech (library/speechsync.h).
struct MediaSync {
    QString mode = QStringLiteral("original"); // "auto" | "original" | "offset" (chosen by the learner)
    qint64 offsetMs = 0;                       // added to the file's times (at its start)
    double driftPpm = 0;                       // and the rate they were stretched by
    bool applied = false;                      // offset and drift were applied
    int tightened = 0;                         // sentences whose start or end moved to the speech
    double confidence = 0;                     // 0..1: the share of starts that meet speech onsets

    // {"mode","offsetMs","driftPpm","applied","tightened","confidence"}
    QJsonObject toJson() const;
    static MediaSync fromJson(const QJsonObject& object);
};

// A local audio or video file made ready for practice.
struct MediaItem {
    QString id; // stable for the file's path
    QString path;
    QString title;
    QString mediaType;      // "audio" | "video"
    qint64 duration = 0;    // ms
    QString sentenceSource; // "sidecar" | "embedded" | "silence"
    QVector<MediaSentence> sentences;
    int lastSentence = 0;
    bool missing = false;
    int skippedCues = 0;  // unreadable or empty cues left out
    QStringList warnings; // for the learner: what was read in place of what
    MediaSync sync;
    QVector<TimeSpan> originalTimes; // each sentence's times as read, before any fitting
    QVector<TimeSpan> speech;        // where speech was heard, to fit the times again

    // What the file looked like when it was read; a change means reading it again.
    qint64 fileSize = 0;
    qint64 fileModified = 0; // ms since the epoch

    // {"id","path","title","mediaType","duration","sentenceSource","sentences":[{"start","end","text",
    // "translation"}],"lastSentence","missing","skippedCues","warnings","sync"}
    QJsonObject toJson() const;
    static QJsonArray sentencesToJson(const QVector<MediaSentence>& sentences);
    static QVector<MediaSentence> sentencesFromJson(const QJsonArray& array);
    // Times as [[start,end],...].
    static QJsonArray spansToJson(const QVector<TimeSpan>& spans);
    static QVector<TimeSpan> spansFromJson(const QJsonArray& array);
};
