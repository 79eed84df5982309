#include "library/reviewdeck.h"

#include "library/librarymodule.h"
#include "library/medialibrary.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtDebug>

#include <algorithm>

namespace {

const char cardColumns[] = "id, text, translation, title, source_kind, source_id, media, sentence, start_ms, end_ms, "
                           "clip, created, state, due, last_review, stability, difficulty, step, reps, lapses";

KeptCard readCard(const QSqlQuery& q) {
    KeptCard c;
    c.id = q.value(0).toString();
    c.text = q.value(1).toString();
    c.translation = q.value(2).toString();
    c.title = q.value(3).toString();
    c.sourceKind = q.value(4).toString();
    c.sourceId = q.value(5).toString();
    c.media = q.value(6).toString();
    c.sentence = q.value(7).toInt();
    c.startMs = q.value(8).toLongLong();
    c.endMs = q.value(9).toLongLong();
    c.clip = q.value(10).toString();
    c.created = q.value(11).toLongLong();
    c.schedule.state = Fsrs::stateFromName(q.value(12).toString());
    c.schedule.due = q.value(13).toLongLong();
    c.schedule.lastReview = q.value(14).toLongLong();
    c.schedule.stability = q.value(15).toDouble();
    c.schedule.difficulty = q.value(16).toDouble();
    c.schedule.step = q.value(17).toInt();
    c.schedule.reps = q.value(18).toInt();
    c.schedule.lapses = q.value(19).toInt();
    return c;
}

qint64 endOfLocalDay(qint64 now) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(now);
    return QDateTime(local.date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
}

// Empty rather than NULL for the NOT NULL columns.
QVariant text(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QString isoTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace

QJsonObject KeptCard::toJson(bool audio) const {
    return QJsonObject{{"id", id},
                       {"text", text},
                       {"translation", translation},
                       {"title", title},
                       {"source", QJsonObject{{"kind", sourceKind}, {"id", sourceId}}},
                       {"sentence", sentence},
                       {"start", startMs},
                       {"end", endMs},
                       {"audio", audio},
                       {"state", Fsrs::stateName(schedule.state)},
                       {"due", isoTime(schedule.due)},
                       {"stability", schedule.stability},
                       {"difficulty", schedule.difficulty},
                       {"reps", schedule.reps},
                       {"lapses", schedule.lapses},
                       {"created", created}};
}

ReviewDeck::ReviewDeck(MediaLibrary& library) : library(library) {}

QString ReviewDeck::cardId(const QString& sourceKind, const QString& sourceId, int sentence) {
    return KeptCardIds::cardId(sourceKind, sourceId, sentence);
}

bool ReviewDeck::isCardId(const QString& id) {
    return KeptCardIds::isCardId(id);
}

bool ReviewDeck::isOpen() const {
    return library.isOpen();
}

bool ReviewDeck::fail(const QString& what) {
    error = what;
    qWarning("Kept sentences: %s", qPrintable(what));
    return false;
}

std::optional<KeptCard> ReviewDeck::keep(KeptCard c, qint64 now) {
    if (!isOpen() || !isCardId(c.id))
        return std::nullopt;
    if (const auto old = card(c.id)) {
        c.created = old->created;
        c.schedule = old->schedule;
    } else {
        c.created = now;
        c.schedule = Fsrs::Card{};
        c.schedule.due = now;
    }
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO kept_cards (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                             "?, ?, ?, ?, ?, ?, ?)")
                  .arg(QLatin1String(cardColumns)));
    for (const QVariant& v : {text(c.id),
                              text(c.text),
                              text(c.translation),
                              text(c.title),
                              text(c.sourceKind),
                              text(c.sourceId),
                              text(c.media),
                              QVariant(c.sentence),
                              QVariant(c.startMs),
                              QVariant(c.endMs),
                              text(c.clip),
                              QVariant(c.created),
                              QVariant(Fsrs::stateName(c.schedule.state)),
                              QVariant(c.schedule.due),
                              QVariant(c.schedule.lastReview),
                              QVariant(c.schedule.stability),
                              QVariant(c.schedule.difficulty),
                              QVariant(c.schedule.step),
                              QVariant(c.schedule.reps),
                              QVariant(c.schedule.lapses)})
        q.addBindValue(v);
    if (!q.exec()) {
        fail(q.lastError().text());
        return std::nullopt;
    }
    return c;
}

std::optional<KeptCard> ReviewDeck::card(const QString& id) {
    if (!isOpen() || !isCardId(id))
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.prepare(QStringLiteral("SELECT %1 FROM kept_cards WHERE id = ?").arg(QLatin1String(cardColumns)));
    q.addBindValue(id);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return readCard(q);
}

bool ReviewDeck::forget(const QString& id, QString* clip) {
    const auto c = card(id);
    if (!c)
        return false;
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.prepare(QStringLiteral("DELETE FROM kept_cards WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec())
        return fail(q.lastError().text());
    if (clip)
        *clip = c->clip;
    return true;
}

bool ReviewDeck::setClip(const QString& id, const QString& clip) {
    if (!isOpen() || !isCardId(id))
        return false;
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.prepare(QStringLiteral("UPDATE kept_cards SET clip = ? WHERE id = ?"));
    q.addBindValue(clip);
    q.addBindValue(id);
    return q.exec() && q.numRowsAffected() == 1;
}

QVector<QPair<int, QString>> ReviewDeck::keptFrom(const QString& sourceKind, const QString& sourceId) {
    QVector<QPair<int, QString>> out;
    if (!isOpen())
        return out;
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.prepare(QStringLiteral("SELECT sentence, id FROM kept_cards WHERE source_kind = ? AND source_id = ? "
                             "ORDER BY sentence"));
    q.addBindValue(sourceKind);
    q.addBindValue(sourceId);
    if (q.exec())
        while (q.next())
            out.append({q.value(0).toInt(), q.value(1).toString()});
    return out;
}

QVector<KeptCard> ReviewDeck::all() {
    QVector<KeptCard> out;
    if (!isOpen())
        return out;
    QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT %1 FROM kept_cards ORDER BY created, id").arg(QLatin1String(cardColumns))))
        while (q.next())
            out.append(readCard(q));
    return out;
}

ReviewDeck::Due ReviewDeck::due(qint64 now, int limit) {
    Due out;
    if (!isOpen())
        return out;
    const QString due = QStringLiteral("(state = 'new' OR (state = 'review' AND due < :endOfDay) OR "
                                       "(state IN ('learning', 'relearning') AND due <= :ahead))");
    QSqlDatabase db = QSqlDatabase::database(library.connectionName(), false);
    QSqlQuery count(db);
    count.prepare(QStringLiteral("SELECT state, COUNT(*) FROM kept_cards WHERE %1 GROUP BY state").arg(due));
    count.bindValue(QStringLiteral(":endOfDay"), endOfLocalDay(now));
    count.bindValue(QStringLiteral(":ahead"), now + learnAheadMs);
    if (!count.exec()) {
        fail(count.lastError().text());
        return out;
    }
    while (count.next()) {
        const Fsrs::State state = Fsrs::stateFromName(count.value(0).toString());
        const int n = count.value(1).toInt();
        (state == Fsrs::State::New ? out.fresh : state == Fsrs::State::Review ? out.review : out.learning) += n;
    }
    // Learning cards already due come first, then reviews, then new cards; those
    // only due within the learn-ahead window wait behind everything else.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM kept_cards WHERE %2 ORDER BY CASE "
                             "WHEN state IN ('learning', 'relearning') AND due <= :now THEN 0 "
                             "WHEN state = 'review' THEN 1 WHEN state = 'new' THEN 2 ELSE 3 END, "
                             "CASE WHEN state = 'new' THEN created ELSE due END, id LIMIT :limit")
                  .arg(QLatin1String(cardColumns), due));
    q.bindValue(QStringLiteral(":endOfDay"), endOfLocalDay(now));
    q.bindValue(QStringLiteral(":ahead"), now + learnAheadMs);
    q.bindValue(QStringLiteral(":now"), now);
    q.bindValue(QStringLiteral(":limit"), limit);
    if (!q.exec()) {
        fail(q.lastError().text());
        return out;
    }
    while (q.next())
        out.cards.append(readCard(q));
    return out;
}

std::optional<KeptCard> ReviewDeck::answer(const QString& id, int rating, qint64 now) {
    if (rating < Fsrs::Again || rating > Fsrs::Easy)
        return std::nullopt;
    auto c = card(id);
    if (!c)
        return std::nullopt;
    const QString before = Fsrs::stateName(c->schedule.state);
    c->schedule = Fsrs::Scheduler().next(c->schedule, now, rating);
    QSqlDatabase db = QSqlDatabase::database(library.connectionName(), false);
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE kept_cards SET state = ?, due = ?, last_review = ?, stability = ?, "
                             "difficulty = ?, step = ?, reps = ?, lapses = ? WHERE id = ?"));
    for (const QVariant& v :
         {QVariant(Fsrs::stateName(c->schedule.state)), QVariant(c->schedule.due), QVariant(c->schedule.lastReview),
          QVariant(c->schedule.stability), QVariant(c->schedule.difficulty), QVariant(c->schedule.step),
          QVariant(c->schedule.reps), QVariant(c->schedule.lapses), QVariant(id)})
        q.addBindValue(v);
    bool ok = q.exec();
    QSqlQuery log(db);
    log.prepare(QStringLiteral("INSERT INTO kept_reviews (card, at, rating, state_before) VALUES (?, ?, ?, ?)"));
    log.addBindValue(id);
    log.addBindValue(now);
    log.addBindValue(rating);
    log.addBindValue(before);
    ok = ok && log.exec();
    if (!ok || !db.commit()) {
        fail(ok ? db.lastError().text() : q.lastError().text() + log.lastError().text());
        db.rollback();
        return std::nullopt;
    }
    return c;
}

QJsonObject ReviewDeck::stats(qint64 now) {
    const int days = 84;
    const QDate today = QDateTime::fromMSecsSinceEpoch(now).date();
    const QDate first = today.addDays(-(days - 1));
    QHash<QDate, int> perDay;
    int answers = 0;
    int good = 0;
    QSet<QDate> reviewedDays;
    if (isOpen()) {
        QSqlQuery q(QSqlDatabase::database(library.connectionName(), false));
        q.setForwardOnly(true);
        // Every day with a review counts for the streak, however long ago.
        if (q.exec(QStringLiteral("SELECT at, rating FROM kept_reviews ORDER BY at")))
            while (q.next()) {
                const QDate day = QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong()).date();
                reviewedDays.insert(day);
                if (day < first || day > today)
                    continue;
                ++perDay[day];
                ++answers;
                good += q.value(1).toInt() >= Fsrs::Good;
            }
    }
    QJsonArray series;
    for (QDate d = first; d <= today; d = d.addDays(1))
        series.append(QJsonObject{{"date", d.toString(Qt::ISODate)}, {"reviews", perDay.value(d)}});
    // The streak runs up to today, or up to yesterday while today has no review yet.
    int streak = 0;
    for (QDate d = reviewedDays.contains(today) ? today : today.addDays(-1); reviewedDays.contains(d);
         d = d.addDays(-1))
        ++streak;
    const Due pending = due(now, 0);
    int cards = 0;
    QSqlQuery count(QSqlDatabase::database(library.connectionName(), false));
    if (isOpen() && count.exec(QStringLiteral("SELECT COUNT(*) FROM kept_cards")) && count.next())
        cards = count.value(0).toInt();
    return QJsonObject{{"days", series},
                       {"today", QJsonObject{{"due", pending.fresh + pending.learning + pending.review},
                                             {"new", pending.fresh},
                                             {"reviews", perDay.value(today)}}},
                       {"streak", streak},
                       {"goodShare", answers ? double(good) / answers : 0.0},
                       {"reviews", answers},
                       {"cards", cards}};
}
