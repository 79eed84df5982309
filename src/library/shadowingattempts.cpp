#include "library/shadowingattempts.h"

#include "library/medialibrary.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char columns[] = "id, media, sentence, source, start_ms, end_ms, recorded, recording, duration_ms, score, "
                       "timing, rhythm, melody, loudness, original_loudness, result";

ShadowingAttempt fromQuery(const QSqlQuery& q) {
    ShadowingAttempt a;
    a.id = q.value(0).toString();
    a.media = q.value(1).toString();
    a.sentence = q.value(2).toInt();
    a.source = q.value(3).toString();
    a.startMs = q.value(4).toLongLong();
    a.endMs = q.value(5).toLongLong();
    a.recorded = q.value(6).toLongLong();
    a.recording = q.value(7).toString();
    a.durationMs = q.value(8).toLongLong();
    a.score = q.value(9).toInt();
    a.timing = q.value(10).toInt();
    a.rhythm = q.value(11).toInt();
    a.melody = q.value(12).toInt();
    a.loudness = q.value(13).toDouble();
    a.originalLoudness = q.value(14).toDouble();
    a.result = QJsonDocument::fromJson(q.value(15).toString().toUtf8()).object();
    return a;
}

// A null QString binds as NULL, which the NOT NULL columns refuse.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

} // namespace

QJsonObject ShadowingAttempt::summary() const {
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("index"), sentence},
                       {QStringLiteral("recorded"), recorded},
                       {QStringLiteral("score"), score},
                       {QStringLiteral("timing"), timing},
                       {QStringLiteral("rhythm"), rhythm},
                       {QStringLiteral("melody"), melody},
                       {QStringLiteral("durationMs"), durationMs}};
}

ShadowingAttempts::ShadowingAttempts(MediaLibrary& library) : library(library) {}

QString ShadowingAttempts::newId() {
    return QString::number(QRandomGenerator::system()->generate64() | (quint64(1) << 63), 16).right(16);
}

bool ShadowingAttempts::isId(const QString& id) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{16}$"));
    return pattern.match(id).hasMatch();
}

bool ShadowingAttempts::add(const ShadowingAttempt& a, QStringList* dropped) {
    if (!library.isOpen())
        return false;
    QSqlDatabase db = QSqlDatabase::database(library.connectionName(), false);
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("INSERT INTO shadowing_attempts (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, ?)")
            .arg(QLatin1String(columns)));
    for (const QVariant& v :
         {text(a.id), text(a.media), QVariant(a.sentence), text(a.source), QVariant(a.startMs), QVariant(a.endMs),
          QVariant(a.recorded), text(a.recording), QVariant(a.durationMs), QVariant(a.score), QVariant(a.timing),
          QVariant(a.rhythm), QVariant(a.melody), QVariant(a.loudness), QVariant(a.originalLoudness),
          QVariant(QString::fromUtf8(QJsonDocument(a.result).toJson(QJsonDocument::Compact)))})
        query.addBindValue(v);
    bool ok = query.exec();
    QString why = query.lastError().text();
    QStringList old;
    if (ok) {
        QSqlQuery oldest(db);
        oldest.prepare(QStringLiteral("SELECT id, recording FROM shadowing_attempts WHERE media = ? AND sentence = ? "
                                      "ORDER BY recorded DESC, rowid DESC LIMIT -1 OFFSET ?"));
        oldest.addBindValue(a.media);
        oldest.addBindValue(a.sentence);
        oldest.addBindValue(keptPerSentence);
        ok = oldest.exec();
        if (!ok)
            why = oldest.lastError().text();
        QStringList ids;
        while (ok && oldest.next()) {
            ids << oldest.value(0).toString();
            old << oldest.value(1).toString();
        }
        for (const QString& id : ids) {
            QSqlQuery drop(db);
            drop.prepare(QStringLiteral("DELETE FROM shadowing_attempts WHERE id = ?"));
            drop.addBindValue(id);
            ok = ok && drop.exec();
            if (!ok && why.isEmpty())
                why = drop.lastError().text();
        }
    }
    if (!ok || !db.commit()) {
        qWarning("Shadowing attempts: cannot store %s: %s", qPrintable(a.id),
                 qPrintable(ok ? db.lastError().text() : why));
        db.rollback();
        return false;
    }
    if (dropped)
        *dropped = old;
    return true;
}

QJsonArray ShadowingAttempts::list(const QString& media, int sentence) {
    QJsonArray out;
    if (!library.isOpen())
        return out;
    QSqlQuery query(QSqlDatabase::database(library.connectionName(), false));
    query.prepare(QStringLiteral("SELECT %1 FROM shadowing_attempts WHERE media = ? AND sentence = ? "
                                 "ORDER BY recorded DESC, rowid DESC")
                      .arg(QLatin1String(columns)));
    query.addBindValue(media);
    query.addBindValue(sentence);
    if (!query.exec())
        qWarning("Shadowing attempts: cannot list: %s", qPrintable(query.lastError().text()));
    while (query.next())
        out.append(fromQuery(query).summary());
    return out;
}

std::optional<ShadowingAttempt> ShadowingAttempts::attempt(const QString& id) {
    if (!library.isOpen() || !isId(id))
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(library.connectionName(), false));
    query.prepare(QStringLiteral("SELECT %1 FROM shadowing_attempts WHERE id = ?").arg(QLatin1String(columns)));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return fromQuery(query);
}

bool ShadowingAttempts::remove(const QString& id, QString* recording) {
    const std::optional<ShadowingAttempt> a = attempt(id);
    if (!a)
        return false;
    QSqlQuery query(QSqlDatabase::database(library.connectionName(), false));
    query.prepare(QStringLiteral("DELETE FROM shadowing_attempts WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec() || query.numRowsAffected() != 1)
        return false;
    if (recording)
        *recording = a->recording;
    return true;
}
