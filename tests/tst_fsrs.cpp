// The FSRS-6 scheduler against a table of the reference scheduler (ts-fsrs 5.2.3,
// default parameters, retention 0.9, no fuzz, steps 1m/10m, relearning 10m):
// 20 review histories with mixed ratings at irregular times, up to 30 answers each.
#include "library/fsrs.h"

#include <QFile>
#include <QTest>

#include <cmath>

class TestFsrs : public QObject {
    Q_OBJECT
private slots:
    void matchesReference_data();
    void matchesReference();
    void badRatingChangesNothing();
};

namespace {
bool sameToDigits(double a, double b, int digits) {
    if (a == b)
        return true;
    const double scale = std::pow(10.0, digits - 1 - std::floor(std::log10(std::fabs(b))));
    return std::fabs(a - b) * scale < 0.5;
}
} // namespace

void TestFsrs::matchesReference_data() {
    QTest::addColumn<QList<QStringList>>("rows");
    QFile file(QStringLiteral(TAVROLIN_TEST_DATA "/fsrs-reference.tsv"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    file.readLine(); // header
    QMap<int, QList<QStringList>> histories;
    while (!file.atEnd()) {
        const QStringList row = QString::fromUtf8(file.readLine()).trimmed().split('\t');
        QCOMPARE(row.size(), 9);
        histories[row[0].toInt()].append(row);
    }
    QCOMPARE(histories.size(), 20);
    for (auto it = histories.cbegin(); it != histories.cend(); ++it)
        QTest::addRow("history %d (%d answers)", it.key(), int(it.value().size())) << it.value();
}

void TestFsrs::matchesReference() {
    QFETCH(QList<QStringList>, rows);
    const Fsrs::Scheduler scheduler;
    Fsrs::Card card;
    for (const QStringList& row : rows) {
        const qint64 now = row[1].toLongLong();
        card = scheduler.next(card, now, row[2].toInt());
        const QString where = QStringLiteral("answer %1 at %2").arg(card.reps).arg(now);
        // Due to the minute.
        QVERIFY2(std::llabs(card.due - row[3].toLongLong()) < 60000,
                 qPrintable(where + QStringLiteral(": due %1").arg(card.due)));
        QVERIFY2(sameToDigits(card.stability, row[4].toDouble(), 4),
                 qPrintable(where + QStringLiteral(": stability %1").arg(card.stability, 0, 'g', 10)));
        QVERIFY2(sameToDigits(card.difficulty, row[5].toDouble(), 4),
                 qPrintable(where + QStringLiteral(": difficulty %1").arg(card.difficulty, 0, 'g', 10)));
        QCOMPARE(Fsrs::stateName(card.state), row[6]);
        QCOMPARE(card.reps, row[7].toInt());
        QCOMPARE(card.lapses, row[8].toInt());
    }
}

// A rating outside 1-4 must not move the card (nor count as a review).
void TestFsrs::badRatingChangesNothing() {
    const Fsrs::Scheduler scheduler;
    const Fsrs::Card card = scheduler.next(Fsrs::Card{}, 1700000000000, Fsrs::Good);
    for (int rating : {0, 5, -1}) {
        const Fsrs::Card same = scheduler.next(card, 1700000600000, rating);
        QCOMPARE(same.reps, card.reps);
        QCOMPARE(same.due, card.due);
    }
}

QTEST_GUILESS_MAIN(TestFsrs)
#include "tst_fsrs.moc"
