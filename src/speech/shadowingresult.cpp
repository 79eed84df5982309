#include "speech/shadowingresult.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace {

constexpr int marginFrames = 10;

struct Span {
    int from = 0;
    int to = 0;
};

// Both voices start the same margin before their speech (silence where the
// recording has less), so that the two speeches start at the same place.
Span shown(const VoiceFeatures& v) {
    return {v.speechStart - marginFrames, v.speechEnd + marginFrames};
}

double rounded(double value, double step) {
    return std::round(value / step) * step;
}

QJsonObject voice(const VoiceFeatures& v, Span span, int step) {
    QJsonArray peaks, pitch;
    for (int i = span.from; i < span.to; i += step) {
        float peak = 0;
        double semitones = 0;
        int voiced = 0;
        for (int k = std::max(0, i); k < std::min({span.to, i + step, int(v.frames.size())}); ++k) {
            peak = std::max(peak, v.frames[size_t(k)].peak);
            if (!std::isnan(v.semitones[size_t(k)])) {
                semitones += v.semitones[size_t(k)];
                ++voiced;
            }
        }
        peaks.append(rounded(peak, 0.001));
        pitch.append(voiced ? QJsonValue(rounded(semitones / voiced, 0.1)) : QJsonValue(QJsonValue::Null));
    }
    return QJsonObject{{QStringLiteral("peaks"), peaks}, {QStringLiteral("pitch"), pitch}};
}

} // namespace

QJsonObject ShadowingResult::toJson(const VoiceFeatures& original, const VoiceFeatures& learner,
                                    const ShadowingScore& score) {
    const Span o = shown(original), l = shown(learner);
    const int longest = std::max(o.to - o.from, l.to - l.from);
    const int step = std::max(1, (longest + maxFrames - 1) / maxFrames);
    QJsonArray path;
    const auto& pairs = score.alignment.path;
    const size_t stride = std::max<size_t>(1, (pairs.size() + maxPathPairs - 1) / maxPathPairs);
    for (size_t k = 0; k < pairs.size(); k += stride) {
        // The path counts from each speech's start; the arrays from a little before it.
        path.append(QJsonArray{(pairs[k].first + original.speechStart - o.from) / step,
                               (pairs[k].second + learner.speechStart - l.from) / step});
    }
    return QJsonObject{{QStringLiteral("score"), score.score},
                       {QStringLiteral("timing"), score.timing},
                       {QStringLiteral("rhythm"), score.rhythm},
                       {QStringLiteral("melody"), score.melody},
                       {QStringLiteral("durationMs"), learner.speechMs()},
                       {QStringLiteral("originalMs"), original.speechMs()},
                       {QStringLiteral("message"), score.message()},
                       {QStringLiteral("frameMs"), step * Speech::frameMs},
                       {QStringLiteral("original"), voice(original, o, step)},
                       {QStringLiteral("learner"), voice(learner, l, step)},
                       {QStringLiteral("path"), path}};
}
