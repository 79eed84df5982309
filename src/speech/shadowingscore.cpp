#include "speech/shadowingscore.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Shadowing", text);
}

using Shape = std::array<float, 10>;
using Shapes = std::vector<Shape>;

// The speech frames' shapes, each dimension moved to mean 0 and spread 1 over the utterance.
Shapes normalised(const VoiceFeatures& v) {
    Shapes out;
    for (int i = v.speechStart; i < v.speechEnd; ++i)
        out.push_back(v.frames[size_t(i)].shape);
    if (out.empty())
        return out;
    for (size_t c = 0; c < Shape().size(); ++c) {
        double sum = 0, squares = 0;
        for (const Shape& f : out) {
            sum += f[c];
            squares += double(f[c]) * f[c];
        }
        const double mean = sum / double(out.size());
        const double spread = std::sqrt(std::max(1e-9, squares / double(out.size()) - mean * mean));
        for (Shape& f : out)
            f[c] = float((f[c] - mean) / spread);
    }
    return out;
}

float distance(const Shape& a, const Shape& b) {
    float sum = 0;
    for (size_t c = 0; c < a.size(); ++c)
        sum += (a[c] - b[c]) * (a[c] - b[c]);
    return std::sqrt(sum / float(a.size()));
}

// Dynamic time warping with symmetric steps (a diagonal step counts its frame
// twice, so no direction is cheaper), within a band around the line from the
// first frames to the last; `path` is filled when asked for.
double warp(const Shapes& x, const Shapes& y, std::vector<std::pair<int, int>>* path) {
    const int n = int(x.size());
    const int m = int(y.size());
    const double slope = n > 1 ? double(m - 1) / double(n - 1) : 0.0;
    const int band = std::max(30, int(0.3 * std::max(n, m)));
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> previous(size_t(m), inf), current(size_t(m), inf);
    // 0 start, 1 diagonal, 2 from (i-1, j), 3 from (i, j-1)
    std::vector<uint8_t> steps(path ? size_t(n) * size_t(m) : 0, 0);
    for (int i = 0; i < n; ++i) {
        std::fill(current.begin(), current.end(), inf);
        const int centre = int(std::lround(i * slope));
        const int to = std::min(m - 1, centre + band);
        for (int j = std::max(0, centre - band); j <= to; ++j) {
            const float d = distance(x[size_t(i)], y[size_t(j)]);
            float best = i == 0 && j == 0 ? 2 * d : inf;
            uint8_t how = 0;
            if (i > 0 && j > 0 && previous[size_t(j - 1)] + 2 * d < best) {
                best = previous[size_t(j - 1)] + 2 * d;
                how = 1;
            }
            if (i > 0 && previous[size_t(j)] + d < best) {
                best = previous[size_t(j)] + d;
                how = 2;
            }
            if (j > 0 && current[size_t(j - 1)] + d < best) {
                best = current[size_t(j - 1)] + d;
                how = 3;
            }
            current[size_t(j)] = best;
            if (path)
                steps[size_t(i) * size_t(m) + size_t(j)] = how;
        }
        std::swap(previous, current);
    }
    if (path) {
        path->clear();
        for (int i = n - 1, j = m - 1;;) {
            path->emplace_back(i, j);
            const uint8_t how = steps[size_t(i) * size_t(m) + size_t(j)];
            if (how == 0)
                break;
            i -= how != 3;
            j -= how != 2;
        }
        std::reverse(path->begin(), path->end());
    }
    return double(previous[size_t(m - 1)]) / double(n + m);
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = a.size();
    double ma = 0, mb = 0;
    for (size_t k = 0; k < n; ++k) {
        ma += a[k];
        mb += b[k];
    }
    ma /= double(std::max<size_t>(n, 1));
    mb /= double(std::max<size_t>(n, 1));
    double sab = 0, saa = 0, sbb = 0;
    for (size_t k = 0; k < n; ++k) {
        sab += (a[k] - ma) * (b[k] - mb);
        saa += (a[k] - ma) * (a[k] - ma);
        sbb += (b[k] - mb) * (b[k] - mb);
    }
    return saa > 1e-12 && sbb > 1e-12 ? sab / std::sqrt(saa * sbb) : 0;
}

// Moving average over 2 * radius + 1 values.
std::vector<double> smoothed(const std::vector<double>& v, int radius) {
    std::vector<double> out(v.size());
    for (size_t k = 0; k < v.size(); ++k) {
        const size_t from = k >= size_t(radius) ? k - size_t(radius) : 0;
        const size_t to = std::min(v.size() - 1, k + size_t(radius));
        double sum = 0;
        for (size_t w = from; w <= to; ++w)
            sum += v[w];
        out[k] = sum / double(to - from + 1);
    }
    return out;
}

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

// Share of the pauses that the other speaker makes at the same place: each
// pause, carried to the other's time by the path, is kept when the other has a
// gap (a shorter quiet stretch will do) near it. 1 when neither pauses.
double pauseAgreement(const VoiceFeatures& original, const VoiceFeatures& learner,
                      const std::vector<std::pair<int, int>>& path) {
    const size_t count = original.pauses.size() + learner.pauses.size();
    if (count == 0)
        return 1;
    // For each frame of one, the mean frame of the other that the path pairs it with.
    std::vector<double> toLearner(size_t(original.speechFrames()), 0), hitsO(toLearner.size(), 0);
    std::vector<double> toOriginal(size_t(learner.speechFrames()), 0), hitsL(toOriginal.size(), 0);
    for (const auto& [i, j] : path) {
        toLearner[size_t(i)] += j;
        hitsO[size_t(i)] += 1;
        toOriginal[size_t(j)] += i;
        hitsL[size_t(j)] += 1;
    }
    auto kept = [](const VoiceFeatures& from, const VoiceFeatures& to, const std::vector<double>& map,
                   const std::vector<double>& hits) {
        int count = 0;
        for (const VoicePause& p : from.pauses) {
            const size_t at = size_t(std::clamp((p.start + p.end) / 2 - from.speechStart, 0, int(map.size()) - 1));
            const double expected = map[at] / std::max(1.0, hits[at]);
            const double tolerance = std::max(ShadowingRules::pauseToleranceFrames, p.end - p.start);
            count += std::any_of(to.gaps.begin(), to.gaps.end(), [&](const VoicePause& g) {
                return std::fabs((g.start + g.end) / 2.0 - to.speechStart - expected) <= tolerance;
            });
        }
        return count;
    };
    return double(kept(original, learner, toLearner, hitsO) + kept(learner, original, toOriginal, hitsL)) /
           double(count);
}

} // namespace

VoiceAlignment alignVoices(const VoiceFeatures& original, const VoiceFeatures& learner) {
    VoiceAlignment a;
    const Shapes x = normalised(original);
    const Shapes y = normalised(learner);
    if (x.empty() || y.empty())
        return a;
    a.pathCost = warp(x, y, &a.path);
    a.reversedCost = warp(Shapes(x.rbegin(), x.rend()), y, nullptr);
    return a;
}

ShadowingScore scoreShadowing(const VoiceFeatures& original, const VoiceFeatures& learner) {
    using namespace ShadowingRules;
    ShadowingScore s;
    s.heard = learner.heard();
    if (!s.heard || !original.heard())
        return s;
    s.alignment = alignVoices(original, learner);
    const auto& path = s.alignment.path;
    const int n = original.speechFrames();
    const int m = learner.speechFrames();

    const double costShare = s.alignment.reversedCost > 0 ? s.alignment.pathCost / s.alignment.reversedCost : 1.0;
    s.match = clamp01((otherWordsCost - costShare) / (otherWordsCost - sameWordsCost));

    s.durationRatio = double(m) / double(n);
    const double lengthOff = std::fabs(std::log(s.durationRatio));
    const double lengthPart =
        clamp01(1 - (lengthOff - std::log(lengthTolerance)) / (std::log(lengthLimit) - std::log(lengthTolerance)));
    double stray = 0;
    for (const auto& [i, j] : path)
        stray += std::fabs(double(j) / m - double(i) / n);
    s.stray = stray / double(path.size());
    const double pacePart = clamp01(1 - s.stray / strayLimit);

    s.pauseAgreement = pauseAgreement(original, learner, path);
    std::vector<double> levelsO, levelsL, pitchO, pitchL;
    for (const auto& [i, j] : path) {
        const size_t fi = size_t(original.speechStart + i), fj = size_t(learner.speechStart + j);
        levelsO.push_back(original.frames[fi].levelDb);
        levelsL.push_back(learner.frames[fj].levelDb);
        if (!std::isnan(original.semitones[fi]) && !std::isnan(learner.semitones[fj])) {
            pitchO.push_back(original.semitones[fi]);
            pitchL.push_back(learner.semitones[fj]);
        }
    }
    s.envelopeCorrelation = correlation(smoothed(levelsO, envelopeRadius), smoothed(levelsL, envelopeRadius));
    s.pitchCorrelation = int(pitchO.size()) >= minVoicedPairs ? correlation(pitchO, pitchL) : 0;

    const double timing = s.match * (lengthPart + pacePart) / 2;
    const double rhythm = s.match * (s.pauseAgreement + std::max(0.0, s.envelopeCorrelation)) / 2;
    const double melody = s.match * std::max(0.0, s.pitchCorrelation);
    s.timing = int(std::lround(100 * timing));
    s.rhythm = int(std::lround(100 * rhythm));
    s.melody = int(std::lround(100 * melody));
    s.score = int(std::lround(100 * (timingWeight * timing + rhythmWeight * rhythm + melodyWeight * melody)));
    return s;
}

QString ShadowingScore::message() const {
    if (!heard)
        return tr("Nothing was heard. Speak the sentence back when asked to, close to the microphone.");
    if (match < 0.5)
        return tr("That sounded like another sentence. Listen to the original once more.");
    if (score >= 85)
        return tr("Very good: close to the original.");
    if (timing <= rhythm && timing <= melody) {
        if (durationRatio > ShadowingRules::lengthTolerance)
            return tr("A little slow: keep to the original's pace.");
        if (durationRatio < 1 / ShadowingRules::lengthTolerance)
            return tr("A little fast: keep to the original's pace.");
        return tr("Keep to the original's pace, without stopping in between.");
    }
    if (rhythm <= melody)
        return tr("Mind the pauses and the stressed syllables.");
    return tr("Mind the melody: where the voice rises and falls.");
}
