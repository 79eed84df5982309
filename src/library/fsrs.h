#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// FSRS-6, the free spaced-repetition scheduler that Anki uses, with its published
// default parameters, desired retention 0.9, no fuzz, learning steps of 1 and 10
// minutes and a relearning step of 10 minutes. Times are milliseconds since the
// epoch (UTC); intervals of the review state are whole days.
//
// As in the reference scheduler (ts-fsrs 5.2.3), answers during (re)learning use
// the short-term stability, and a card in review the long-term model with the
// calendar days (UTC) since its last review.
namespace Fsrs {

enum class State { New = 0, Learning = 1, Review = 2, Relearning = 3 };
enum Rating { Again = 1, Hard = 2, Good = 3, Easy = 4 };

struct Card {
    State state = State::New;
    qint64 due = 0;        // ms since the epoch
    qint64 lastReview = 0; // 0 before the first review
    double stability = 0;
    double difficulty = 0;
    int step = 0; // index into the (re)learning steps
    int reps = 0;
    int lapses = 0;
};

QString stateName(State state);
// The state for a stored name; New for anything else.
State stateFromName(const QString& name);

class Scheduler {
public:
    static const std::array<double, 21> defaultWeights;

    Scheduler();

    // The card after answering it at `now` with a rating 1-4; the card unchanged
    // for any other rating.
    Card next(const Card& card, qint64 now, int rating) const;
    // What each answer at `now` would schedule: the time until the next due, in ms,
    // for Again, Hard, Good, Easy.
    std::array<qint64, 4> intervals(const Card& card, qint64 now) const;
    // Probability of recall at `now`, 0..1 (1 for a card never reviewed).
    double retrievability(const Card& card, qint64 now) const;

private:
    double initStability(int rating) const;
    double initDifficulty(int rating) const;
    double nextDifficulty(double d, int rating) const;
    double shortTermStability(double s, int rating) const;
    double recallStability(double d, double s, double r, int rating) const;
    double forgetStability(double d, double s, double r) const;
    double forgettingCurve(double elapsedDays, double s) const;
    int nextInterval(double s) const;

    std::array<double, 21> w;
    double retention = 0.9;
    int maximumInterval = 36500;
    double decay;
    double factor;
};

} // namespace Fsrs
