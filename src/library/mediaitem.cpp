#include "library/mediaitem.h"

#include <cmath>

QJsonObject MediaItem::toJson() const {
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("path"), path},
        {QStringLiteral("title"), title},
        {QStringLiteral("mediaType"), mediaType},
        {QStringLiteral("duration"), duration},
        {QStringLiteral("sentenceSource"), sentenceSource},
        {QStringLiteral("sentences"), sentencesToJson(sentences)},
        {QStringLiteral("lastSentence"), lastSentence},
        {QStringLiteral("missing"), missing},
        {QStringLiteral("skippedCues"), skippedCues},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(warnings)},
        {QStringLiteral("sync"), sync.toJson()},
    };
}

QJsonObject MediaSync::toJson() const {
    return QJsonObject{
        {QStringLiteral("mode"), mode},
        {QStringLiteral("offsetMs"), offsetMs},
        {QStringLiteral("driftPpm"), std::round(driftPpm * 10) / 10},
        {QStringLiteral("applied"), applied},
        {QStringLiteral("tightened"), tightened},
        {QStringLiteral("confidence"), std::round(confidence * 1000) / 1000},
    };
}

MediaSync MediaSync::fromJson(const QJsonObject& object) {
    MediaSync sync;
    const QString mode = object.value(QStringLiteral("mode")).toString();
    if (mode == QLatin1String("auto") || mode == QLatin1String("offset"))
        sync.mode = mode;
    sync.offsetMs = qint64(object.value(QStringLiteral("offsetMs")).toDouble());
    sync.driftPpm = object.value(QStringLiteral("driftPpm")).toDouble();
    sync.applied = object.value(QStringLiteral("applied")).toBool();
    sync.tightened = object.value(QStringLiteral("tightened")).toInt();
    sync.confidence = qBound(0.0, object.value(QStringLiteral("confidence")).toDouble(), 1.0);
    return sync;
}

QJsonArray MediaItem::spansToJson(const QVector<TimeSpan>& spans) {
    QJsonArray array;
    for (const TimeSpan& s : spans)
        array.append(QJsonArray{s.start, s.end});
    return array;
}

QVector<TimeSpan> MediaItem::spansFromJson(const QJsonArray& array) {
    QVector<TimeSpan> spans;
    spans.reserve(array.size());
    for (const QJsonValue& value : array) {
        const QJsonArray pair = value.toArray();
        spans.append({qint64(pair.at(0).toDouble()), qint64(pair.at(1).toDouble())});
    }
    return spans;
}

QJsonArray MediaItem::sentencesToJson(const QVector<MediaSentence>& sentences) {
    QJsonArray array;
    for (const MediaSentence& s : sentences)
        array.append(QJsonObject{{QStringLiteral("start"), s.start},
                                 {QStringLiteral("end"), s.end},
                                 {QStringLiteral("text"), s.text},
                                 {QStringLiteral("translation"), s.translation}});
    return array;
}

QVector<MediaSentence> MediaItem::sentencesFromJson(const QJsonArray& array) {
    QVector<MediaSentence> sentences;
    sentences.reserve(array.size());
    for (const QJsonValue& value : array) {
        const QJsonObject o = value.toObject();
        sentences.append({qint64(o.value(QStringLiteral("start")).toDouble()),
                          qint64(o.value(QStringLiteral("end")).toDouble()), o.value(QStringLiteral("text")).toString(),
                          o.value(QStringLiteral("translation")).toString()});
    }
    return sentences;
}
