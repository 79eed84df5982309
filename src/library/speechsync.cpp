#include "library/speechsync.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace SpeechSync {

namespace {

// Speech: louder than the noise floor by this much, and not more than this far below the loud parts.
constexpr double floorMarginDb = 10;
constexpr double belowPeakDb = 45;
// Sound with less contrast than this between quiet and loud parts holds no speech to fit to.
constexpr double minimumContrastDb = 15;
// Quieter stretches shorter than this are within a word; louder ones shorter than that are clicks.
constexpr int closeGapMs = 120;
constexpr int shortestRunMs = 50;

// Offsets searched, and how near a sentence start must come to a speech onset to meet it.
constexpr qint64 searchMs = 60000;
constexpr qint64 coarseStepMs = 100;
constexpr qint64 pairWindowMs = 400;
constexpr qint64 meetMs = 120;
// A correction is applied when it moves some time by at least this much, leaves
// at least this share of the starts meeting an onset, and this much more than before.
constexpr qint64 noticeableMs = 100;
constexpr double sureShare = 0.5;
constexpr double betterShare = 0.2;
constexpr int fewestSentences = 5;

// Tightening: how far a start may move to an onset, how far an end may reach
// past its cue into speech, the pause within a sentence an end may cross, the
// room left before the next start, and the margins around what the level shows.
constexpr qint64 startWindowMs = 300;
constexpr qint64 endReachMs = 600;
constexpr qint64 endBridgeMs = 200;
constexpr qint64 beforeNextMs = 20;
constexpr qint64 leadMs = 10;
constexpr qint64 tailMs = 10;

// Frame rates subtitles are often made for when the film runs at another:
// 23.976 against 24 (or 29.97 against 30), 24 and 23.976 against 25.
const double likelyScales[] = {1.0, 1.001, 1 / 1.001, 25.0 / 24, 24.0 / 25, 25 / 23.976, 23.976 / 25};

double percentile(QVector<float> values, double share) {
    const auto at = values.begin() + qBound<int>(0, int(share * values.size()), values.size() - 1);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The frames of speech, summed, so that any stretch is counted in one step.
class Heard {
public:
    Heard(const QVector<TimeSpan>& speech, qint64 durationMs) : frames(int(durationMs / frameMs) + 1) {
        QVector<int> active(frames, 0);
        for (const TimeSpan& s : speech)
            for (qint64 f = std::max<qint64>(0, s.start / frameMs); f < std::min<qint64>(frames, s.end / frameMs); ++f)
                active[int(f)] = 1;
        sums.resize(frames + 1);
        sums[0] = 0;
        for (int f = 0; f < frames; ++f)
            sums[f + 1] = sums[f] + active[f];
    }

    // Frames heard minus frames not heard in [fromMs, toMs), within the media.
    int agreement(qint64 fromMs, qint64 toMs) const {
        const int a = int(qBound<qint64>(0, fromMs / frameMs, frames));
        const int b = int(qBound<qint64>(0, toMs / frameMs, frames));
        return b > a ? 2 * (sums[b] - sums[a]) - (b - a) : 0;
    }

    const int frames;

private:
    QVector<int> sums;
};

qint64 mapped(qint64 t, double scale, qint64 offsetMs) {
    return qint64(std::llround(double(t) * scale)) + offsetMs;
}

// How well sentences shown at t * scale + offset cover the speech: over the whole file.
qint64 coverage(const Heard& heard, const QVector<MediaSentence>& sentences, double scale, qint64 offsetMs) {
    qint64 sum = 0;
    for (const MediaSentence& s : sentences)
        sum += heard.agreement(mapped(s.start, scale, offsetMs), mapped(s.end, scale, offsetMs));
    return sum;
}

// The onset nearest to t, or -1.
qint64 nearestOnset(const QVector<qint64>& onsets, qint64 t) {
    if (onsets.isEmpty())
        return -1;
    const auto it = std::lower_bound(onsets.begin(), onsets.end(), t);
    if (it == onsets.end())
        return onsets.last();
    if (it == onsets.begin())
        return *it;
    return t - *(it - 1) <= *it - t ? *(it - 1) : *it;
}

double meetingShare(const QVector<MediaSentence>& sentences, const QVector<qint64>& onsets, double scale,
                    qint64 offsetMs) {
    int met = 0;
    for (const MediaSentence& s : sentences) {
        const qint64 t = mapped(s.start, scale, offsetMs);
        const qint64 onset = nearestOnset(onsets, t);
        if (onset >= 0 && std::abs(onset - t) <= meetMs)
            ++met;
    }
    return sentences.isEmpty() ? 0 : double(met) / sentences.size();
}

struct Line {
    double scale;
    double offset;
};

// Least squares of onset = start * scale + offset, leaving out pairs far off the line until it holds.
bool robustFit(const QVector<QPair<qint64, qint64>>& pairs, Line& line) {
    QVector<bool> kept(pairs.size(), true);
    for (int round = 0; round < 5; ++round) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int i = 0; i < pairs.size(); ++i) {
            if (!kept[i])
                continue;
            // Centred on the first start, so that hours in ms lose no precision.
            const double x = double(pairs[i].first - pairs[0].first);
            const double y = double(pairs[i].second - pairs[0].first);
            n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
        }
        if (n < fewestSentences)
            return false;
        const double d = n * sxx - sx * sx;
        const double scale = d > 0 ? (n * sxy - sx * sy) / d : 1;
        const double intercept = (sy - scale * sx) / n;
        line = {scale, intercept + double(pairs[0].first) * (1 - scale)};
        QVector<double> residuals;
        for (const auto& p : pairs)
            residuals.append(std::abs(double(p.second) - (double(p.first) * line.scale + line.offset)));
        QVector<double> sorted = residuals;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double limit = std::max(40.0, 3 * 1.4826 * sorted[sorted.size() / 2]);
        bool changed = false;
        for (int i = 0; i < pairs.size(); ++i) {
            const bool keep = residuals[i] <= limit;
            changed = changed || keep != kept[i];
            kept[i] = keep;
        }
        if (!changed)
            break;
    }
    return std::abs(line.scale - 1) < 0.06;
}

// The times as read may run past the media's end; the sentences end with it.
void withinMedia(MediaItem& item) {
    if (item.duration > 0)
        for (MediaSentence& s : item.sentences)
            s.end = std::max(s.start, std::min(s.end, item.duration));
}

bool parseOffset(const QString& mode, qint64& offsetMs) {
    if (!mode.startsWith(QLatin1String("offset:")))
        return false;
    bool ok = false;
    const qint64 value = mode.mid(7).trimmed().toLongLong(&ok);
    // A whole file moved by more than an hour is no correction of its subtitles.
    if (!ok || std::abs(value) > 3600 * 1000)
        return false;
    offsetMs = value;
    return true;
}

} // namespace

QVector<TimeSpan> speechActivity(const QVector<float>& framePower) {
    QVector<TimeSpan> runs;
    const int n = int(framePower.size());
    if (n < 10)
        return runs;
    QVector<float> db(n);
    for (int i = 0; i < n; ++i)
        db[i] = float(10 * std::log10(std::max(double(framePower[i]), 1e-12)));
    const double floorDb = percentile(db, 0.05);
    const double peakDb = percentile(db, 0.97);
    if (peakDb - floorDb < minimumContrastDb)
        return runs;
    const double threshold = std::max(floorDb + floorMarginDb, peakDb - belowPeakDb);
    const int closeGap = closeGapMs / frameMs;
    for (int i = 0; i < n;) {
        if (db[i] <= threshold) {
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < n && db[end] > threshold)
            ++end;
        if (!runs.isEmpty() && i - runs.last().end / frameMs < closeGap)
            runs.last().end = qint64(end) * frameMs;
        else
            runs.append({qint64(i) * frameMs, qint64(end) * frameMs});
        i = end;
    }
    runs.erase(
        std::remove_if(runs.begin(), runs.end(), [](const TimeSpan& r) { return r.end - r.start < shortestRunMs; }),
        runs.end());
    return runs;
}

Estimate estimate(const QVector<MediaSentence>& sentences, const QVector<TimeSpan>& speech, qint64 durationMs) {
    Estimate result;
    if (sentences.size() < fewestSentences || speech.size() < fewestSentences || durationMs <= 0)
        return result;
    QVector<qint64> onsets;
    onsets.reserve(speech.size());
    for (const TimeSpan& s : speech)
        onsets.append(s.start);

    // The whole file first: where do the cues cover the speech best?
    const Heard heard(speech, durationMs);
    const qint64 range = std::min(searchMs, durationMs);
    qint64 bestScore = std::numeric_limits<qint64>::min();
    double bestScale = 1;
    qint64 bestOffset = 0;
    for (const double scale : likelyScales) {
        qint64 offset = 0;
        qint64 top = std::numeric_limits<qint64>::min();
        for (qint64 o = -range; o <= range; o += coarseStepMs) {
            const qint64 c = coverage(heard, sentences, scale, o);
            if (c > top)
                top = c, offset = o;
        }
        for (qint64 o = offset - coarseStepMs + frameMs; o < offset + coarseStepMs; o += frameMs) {
            const qint64 c = coverage(heard, sentences, scale, o);
            if (c > top)
                top = c, offset = o;
        }
        if (top > bestScore)
            bestScore = top, bestScale = scale, bestOffset = offset;
    }

    // Then the drift, from sentence starts and the speech onsets they meet.
    QVector<QPair<qint64, qint64>> pairs;
    for (const MediaSentence& s : sentences) {
        const qint64 t = mapped(s.start, bestScale, bestOffset);
        const qint64 onset = nearestOnset(onsets, t);
        if (onset >= 0 && std::abs(onset - t) <= pairWindowMs)
            pairs.append({s.start, onset});
    }
    Line line{bestScale, double(bestOffset)};
    if (pairs.size() >= fewestSentences && robustFit(pairs, line)) {
        bestScale = line.scale;
        bestOffset = qint64(std::llround(line.offset));
    }

    const double before = meetingShare(sentences, onsets, 1, 0);
    result.scale = bestScale;
    result.offsetMs = bestOffset;
    result.confidence = meetingShare(sentences, onsets, bestScale, bestOffset);
    const qint64 moves =
        std::max(std::abs(mapped(sentences.first().start, bestScale, bestOffset) - sentences.first().start),
                 std::abs(mapped(sentences.last().end, bestScale, bestOffset) - sentences.last().end));
    result.clear = moves >= noticeableMs && result.confidence >= sureShare && result.confidence >= before + betterShare;
    return result;
}

void shift(QVector<MediaSentence>& sentences, double scale, qint64 offsetMs, qint64 durationMs) {
    const qint64 last = std::max<qint64>(durationMs, 1);
    qint64 previous = -1;
    for (MediaSentence& s : sentences) {
        const qint64 length = s.end - s.start;
        s.start = std::max(previous + 1, qBound<qint64>(0, mapped(s.start, scale, offsetMs), last));
        s.end = std::max(s.start, qBound<qint64>(0, s.start + qint64(std::llround(double(length) * scale)), last));
        previous = s.start;
    }
    for (int i = 0; i + 1 < sentences.size(); ++i)
        sentences[i].end = std::min(sentences[i].end, sentences[i + 1].start);
}

int tighten(QVector<MediaSentence>& sentences, const QVector<TimeSpan>& speech, qint64 durationMs) {
    if (speech.isEmpty() || sentences.isEmpty())
        return 0;
    const QVector<MediaSentence> before = sentences;
    // The first run that ends after t.
    auto runAfter = [&speech](qint64 t) {
        return std::upper_bound(speech.begin(), speech.end(), t, [](qint64 v, const TimeSpan& r) { return v < r.end; });
    };

    // Starts: to the onset of the speech that begins within reach.
    for (int i = 0; i < sentences.size(); ++i) {
        const qint64 s = before[i].start;
        const auto at = runAfter(s);
        qint64 onset = -1;
        if (at != speech.end() && at->start <= s) {
            if (s - at->start <= startWindowMs)
                onset = at->start; // the cue starts late, inside its speech
        } else {
            // In a pause: the speech after it, or a short one that began just before.
            const qint64 next = at != speech.end() ? at->start - s : std::numeric_limits<qint64>::max();
            const qint64 back = at != speech.begin() ? s - (at - 1)->start : std::numeric_limits<qint64>::max();
            if (std::min(next, back) <= startWindowMs)
                onset = next <= back ? at->start : (at - 1)->start;
        }
        if (onset < 0)
            continue;
        const qint64 start = std::max<qint64>(0, onset - leadMs);
        const qint64 floor = i > 0 ? sentences[i - 1].start + 1 : 0;
        const qint64 ceiling = before[i].end > before[i].start ? before[i].end - 1 : before[i].start;
        if (start >= floor && start <= std::max(ceiling, before[i].start))
            sentences[i].start = start;
    }

    // Ends: to the end of the speech the sentence covers.
    for (int i = 0; i < sentences.size(); ++i) {
        MediaSentence& s = sentences[i];
        const bool hasNext = i + 1 < sentences.size();
        const qint64 limit = hasNext ? sentences[i + 1].start - beforeNextMs : durationMs;
        const qint64 e = before[i].end;
        auto at = runAfter(e);
        qint64 end = e;
        if (at != speech.end() && at->start <= e) {
            end = std::min(at->end + tailMs, e + endReachMs); // the cue ends inside its speech
        } else if (at != speech.end() && at->start - e <= endBridgeMs && at->start < limit) {
            end = std::min(at->end + tailMs, e + endReachMs); // before a last word after a short pause
        } else if (at != speech.begin() && (at - 1)->end > s.start) {
            end = (at - 1)->end + tailMs; // lingering after its speech
        }
        end = std::min(end, limit);
        if (end <= s.start)
            end = std::min(std::max(e, s.start + 1), hasNext ? sentences[i + 1].start : std::max(durationMs, e));
        s.end = std::max(end, s.start);
    }

    int moved = 0;
    for (int i = 0; i < sentences.size(); ++i)
        if (std::abs(sentences[i].start - before[i].start) >= frameMs ||
            std::abs(sentences[i].end - before[i].end) >= frameMs)
            ++moved;
    return moved;
}

bool retime(MediaItem& item, const QString& mode) {
    qint64 offsetMs = 0;
    const bool manual = parseOffset(mode, offsetMs);
    if (!manual && mode != QLatin1String("auto") && mode != QLatin1String("original"))
        return false;
    if (item.originalTimes.size() != item.sentences.size()) {
        // Kept before its times were fitted: what it has is what was read.
        item.originalTimes.clear();
        for (const MediaSentence& s : item.sentences)
            item.originalTimes.append({s.start, s.end});
    }
    for (int i = 0; i < item.sentences.size(); ++i) {
        item.sentences[i].start = item.originalTimes[i].start;
        item.sentences[i].end = item.originalTimes[i].end;
    }
    MediaSync sync;
    sync.mode = manual ? QStringLiteral("offset") : mode;
    if (mode == QLatin1String("original") || item.sentences.isEmpty()) {
        withinMedia(item);
        item.sync = sync;
        return true;
    }
    // The last cue may run past the media's end: the estimate and the shift
    // see it whole (a late file's last sentence keeps its length), cut where it lands.
    if (manual) {
        shift(item.sentences, 1, offsetMs, item.duration);
        sync.offsetMs = offsetMs;
        sync.applied = offsetMs != 0;
    } else if (item.sentenceSource != QLatin1String("silence")) {
        const Estimate e = estimate(item.sentences, item.speech, item.duration);
        sync.confidence = e.confidence;
        if (e.clear) {
            shift(item.sentences, e.scale, e.offsetMs, item.duration);
            sync.offsetMs = e.offsetMs;
            sync.driftPpm = (e.scale - 1) * 1e6;
            sync.applied = true;
        }
    }
    withinMedia(item);
    sync.tightened = tighten(item.sentences, item.speech, item.duration);
    item.sync = sync;
    return true;
}

QString setSentenceTiming(MediaItem& item, int index, qint64 startMs, qint64 endMs) {
    auto tr = [](const char* text) { return QCoreApplication::translate("SpeechSync", text); };
    if (index < 0 || index >= item.sentences.size())
        return tr("There is no such sentence.");
    if (startMs < 0 || endMs > item.duration)
        return tr("The times lie outside the media.");
    if (startMs >= endMs)
        return tr("A sentence must start before it ends.");
    if (index > 0 && startMs < item.sentences.at(index - 1).end)
        return tr("The sentence would start inside the one before it.");
    if (index + 1 < item.sentences.size() && endMs > item.sentences.at(index + 1).start)
        return tr("The sentence would end inside the one after it.");
    item.sentences[index].start = startMs;
    item.sentences[index].end = endMs;
    return QString();
}

} // namespace SpeechSync
