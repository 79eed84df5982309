#include "library/fsrs.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Fsrs {

namespace {

constexpr qint64 minute = 60 * 1000;
constexpr qint64 day = 24 * 60 * minute;
constexpr double minStability = 0.001;
constexpr double maxStability = 36500;
const std::vector<qint64> learningSteps{1 * minute, 10 * minute};
const std::vector<qint64> relearningSteps{10 * minute};

double clampDifficulty(double d) {
    return std::clamp(d, 1.0, 10.0);
}
double clampStability(double s) {
    return std::clamp(s, minStability, maxStability);
}

// Calendar days (UTC) between two reviews, as the reference scheduler counts
// them: an answer at 23:50 and one at 00:10 are a day apart.
qint64 elapsedDays(qint64 from, qint64 to) {
    auto dayOf = [](qint64 ms) { return ms >= 0 ? ms / day : (ms - day + 1) / day; };
    return std::max<qint64>(0, dayOf(to) - dayOf(from));
}

// The delay after an answer to a new or (re)learning card, or -1 when the
// answer graduates it to review. As in the reference scheduler: a new card
// answered Good goes on to the second step; in (re)learning, Good graduates;
// Hard waits halfway between the first two steps (half as long again as a
// single step), rounded to whole minutes.
qint64 stepDelay(const std::vector<qint64>& steps, bool isNew, int rating, int* nextStep) {
    const int count = int(steps.size());
    *nextStep = 0;
    if (count == 0)
        return -1;
    switch (rating) {
    case Again:
        return steps[0];
    case Hard: {
        const double minutes = count == 1 ? steps[0] * 1.5 / minute : (steps[0] + steps[1]) / 2.0 / minute;
        return qint64(std::lround(minutes)) * minute;
    }
    case Good:
        if (isNew && count > 1) {
            *nextStep = 1;
            return steps[1];
        }
        return -1;
    default:
        return -1;
    }
}

} // namespace

const std::array<double, 21> Scheduler::defaultWeights{0.212,  1.2931, 2.3065, 8.2956, 6.4133, 0.8334, 3.0194,
                                                       0.001,  1.8722, 0.1666, 0.796,  1.4835, 0.0614, 0.2629,
                                                       1.6483, 0.6014, 1.8729, 0.5425, 0.0912, 0.0658, 0.1542};

QString stateName(State state) {
    switch (state) {
    case State::New:
        return QStringLiteral("new");
    case State::Learning:
        return QStringLiteral("learning");
    case State::Review:
        return QStringLiteral("review");
    case State::Relearning:
        return QStringLiteral("relearning");
    }
    return QStringLiteral("new");
}

State stateFromName(const QString& name) {
    for (State s : {State::Learning, State::Review, State::Relearning})
        if (name == stateName(s))
            return s;
    return State::New;
}

Scheduler::Scheduler() : w(defaultWeights) {
    decay = -w[20];
    factor = std::pow(0.9, 1.0 / decay) - 1.0;
}

double Scheduler::initStability(int rating) const {
    return std::max(w[size_t(rating - 1)], 0.1);
}

double Scheduler::initDifficulty(int rating) const {
    return w[4] - std::exp((rating - 1) * w[5]) + 1;
}

double Scheduler::nextDifficulty(double d, int rating) const {
    const double delta = -w[6] * (rating - 3);
    const double damped = d + delta * (10 - d) / 9;
    // Mean reversion towards the (unclamped) difficulty of a first Easy.
    return clampDifficulty(w[7] * initDifficulty(Easy) + (1 - w[7]) * damped);
}

double Scheduler::shortTermStability(double s, int rating) const {
    double increase = std::exp(w[17] * (rating - 3 + w[18])) * std::pow(s, -w[19]);
    if (rating >= Good)
        increase = std::max(increase, 1.0);
    return clampStability(s * increase);
}

double Scheduler::recallStability(double d, double s, double r, int rating) const {
    const double hardPenalty = rating == Hard ? w[15] : 1;
    const double easyBonus = rating == Easy ? w[16] : 1;
    return clampStability(s * (1 + std::exp(w[8]) * (11 - d) * std::pow(s, -w[9]) * (std::exp((1 - r) * w[10]) - 1) *
                                       hardPenalty * easyBonus));
}

double Scheduler::forgetStability(double d, double s, double r) const {
    const double forget = w[11] * std::pow(d, -w[12]) * (std::pow(s + 1, w[13]) - 1) * std::exp((1 - r) * w[14]);
    return clampStability(std::min(std::max(forget, 0.01), s / std::exp(w[17] * w[18])));
}

double Scheduler::forgettingCurve(double elapsedDays, double s) const {
    return std::pow(1 + factor * elapsedDays / s, decay);
}

int Scheduler::nextInterval(double s) const {
    const double interval = s / factor * (std::pow(retention, 1.0 / decay) - 1);
    return int(std::clamp<double>(std::round(interval), 1, maximumInterval));
}

double Scheduler::retrievability(const Card& card, qint64 now) const {
    if (card.state == State::New || card.stability <= 0)
        return 1;
    return forgettingCurve(double(elapsedDays(card.lastReview, now)), card.stability);
}

Card Scheduler::next(const Card& card, qint64 now, int rating) const {
    if (rating < Again || rating > Easy)
        return card;
    Card out = card;
    out.reps = card.reps + 1;
    out.lastReview = now;

    if (card.state == State::New) {
        out.stability = clampStability(initStability(rating));
        out.difficulty = clampDifficulty(initDifficulty(rating));
        int nextStep = 0;
        const qint64 delay = stepDelay(learningSteps, true, rating, &nextStep);
        if (delay >= 0) {
            out.state = State::Learning;
            out.step = nextStep;
            out.due = now + delay;
            return out;
        }
        out.state = State::Review;
        out.step = 0;
        out.due = now + nextInterval(out.stability) * day;
        return out;
    }

    const qint64 days = elapsedDays(card.lastReview, now);
    const double r = forgettingCurve(double(days), card.stability);
    auto stabilityAfter = [&](int g) {
        if (card.state != State::Review)
            return shortTermStability(card.stability, g);
        return g == Again ? forgetStability(card.difficulty, card.stability, r)
                          : recallStability(card.difficulty, card.stability, r, g);
    };
    out.stability = stabilityAfter(rating);
    out.difficulty = nextDifficulty(card.difficulty, rating);

    if (card.state == State::Review) {
        if (rating == Again) {
            out.lapses = card.lapses + 1;
            int nextStep = 0;
            const qint64 delay = stepDelay(relearningSteps, false, Again, &nextStep);
            if (delay >= 0) {
                out.state = State::Relearning;
                out.step = nextStep;
                out.due = now + delay;
                return out;
            }
            out.due = now + nextInterval(out.stability) * day;
            return out;
        }
        int hard = nextInterval(stabilityAfter(Hard));
        int good = nextInterval(stabilityAfter(Good));
        hard = std::min(hard, good);
        good = std::max(good, hard + 1);
        const int easy = std::max(nextInterval(stabilityAfter(Easy)), good + 1);
        out.due = now + (rating == Hard ? hard : rating == Good ? good : easy) * day;
        out.step = 0;
        return out;
    }

    // Learning or relearning.
    const auto& steps = card.state == State::Learning ? learningSteps : relearningSteps;
    int nextStep = 0;
    const qint64 delay = stepDelay(steps, false, rating, &nextStep);
    if (delay >= 0) {
        out.step = nextStep;
        out.due = now + delay;
        return out;
    }
    // Graduating: the interval of the new stability alone (no ordering against
    // the other answers here, unlike in review).
    out.state = State::Review;
    out.step = 0;
    out.due = now + nextInterval(out.stability) * day;
    return out;
}

std::array<qint64, 4> Scheduler::intervals(const Card& card, qint64 now) const {
    std::array<qint64, 4> out{};
    for (int g = Again; g <= Easy; ++g)
        out[size_t(g - 1)] = next(card, now, g).due - now;
    return out;
}

} // namespace Fsrs
