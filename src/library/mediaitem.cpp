#include "library/mediaitem.h"

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
    };
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
