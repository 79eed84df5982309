#pragma once

#include "library/fsrs.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <optional>

class MediaLibrary;

// A sentence the learner kept, with its sound clip and its review schedule.
struct KeptCard {
    QString id; // 16 lower-case hex digits, from the source and the sentence
    QString text;
    QString translation;
    QString title;
    QString sourceKind; // "article" | "file"
    QString sourceId;
    QString media; // what the clip was cut from (a path, or the service's URL)
    int sentence = 0;
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString clip; // file name in the clips folder; empty when there is no sound
    qint64 created = 0;
    Fsrs::Card schedule;

    // {"id","text","translation","title","source":{"kind","id"},"sentence","start","end","audio","state",
    //  "due" (ISO 8601),"stability","difficulty","reps","lapses","created"}
    QJsonObject toJson(bool audio) const;
};

// The kept sentences and their reviews, in the media library's database (its own
// tables). Uses the library's connection: the thread that made the library only.
// Times are ms since the epoch; "today" is the local calendar day.
class ReviewDeck {
public:
    explicit ReviewDeck(MediaLibrary& library);

    static QString cardId(const QString& sourceKind, const QString& sourceId, int sentence);
    static bool isCardId(const QString& id);

    bool isOpen() const;
    QString errorString() const { return error; }

    // Stores a new card (scheduled as new), or updates the texts and the clip of
    // the card already kept for the same sentence, keeping its schedule.
    std::optional<KeptCard> keep(KeptCard card, qint64 now);
    std::optional<KeptCard> card(const QString& id);
    // Removes the card; its clip file name (to delete) through `clip`.
    bool forget(const QString& id, QString* clip = nullptr);
    bool setClip(const QString& id, const QString& clip);
    // The cards kept from one source: {sentence index: card id}.
    QVector<QPair<int, QString>> keptFrom(const QString& sourceKind, const QString& sourceId);
    QVector<KeptCard> all();

    struct Due {
        QVector<KeptCard> cards; // learning due now, review, new, then learning due soon
        int fresh = 0;
        int learning = 0;
        int review = 0;
    };
    // What is to be reviewed now: every new card, cards in review due today, and
    // (re)learning cards due within the next 20 minutes (as Anki learns ahead).
    // The counts are of all of them; `cards` holds the first `limit` in the
    // order they come (a session never gets through more before asking again).
    Due due(qint64 now, int limit = dueListLimit);
    static constexpr int dueListLimit = 100;
    // Answers a card (rating 1-4) and logs the review; nothing for a bad rating or id.
    std::optional<KeptCard> answer(const QString& id, int rating, qint64 now);

    // {"days":[{"date":"YYYY-MM-DD","reviews":n} x 84, oldest first],"today":{"due","new","reviews"},
    //  "streak":days,"goodShare":0..1 (Good or Easy among the answers of those 12 weeks),"reviews":n,"cards":n}
    QJsonObject stats(qint64 now);

    static constexpr qint64 learnAheadMs = 20 * 60 * 1000;

private:
    bool fail(const QString& what);

    MediaLibrary& library;
    QString error;
};
