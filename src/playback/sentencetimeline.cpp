#include "playback/sentencetimeline.h"

#include <algorithm>

int SentenceTimeline::indexAt(double ms) const {
    // The first start after `ms`; the sentence before it is the one playing.
    const auto after =
        std::upper_bound(startMs.begin(), startMs.end(), ms, [](double t, int start) { return t < start; });
    return int(after - startMs.begin()) - 1;
}

std::optional<double> SentenceTimeline::endSeconds(int index, double mediaEnd) const {
    if (index < -1 || index >= count())
        return std::nullopt;
    if (index == -1)
        return isEmpty() ? std::nullopt : std::optional<double>(startMs.first() / 1000.0);
    const bool last = index == count() - 1;
    const int start = startMs.at(index);
    const bool ownEnd =
        index < endMs.size() && endMs.at(index) > start && (last || endMs.at(index) < startMs.at(index + 1));
    if (ownEnd && (!last || mediaEnd <= 0 || endMs.at(index) / 1000.0 < mediaEnd))
        return endMs.at(index) / 1000.0;
    if (!last)
        return startMs.at(index + 1) / 1000.0;
    if (mediaEnd > 0)
        return mediaEnd;
    return std::nullopt;
}

std::optional<double> SentenceTimeline::nextStartAfter(double seconds) const {
    const double ms = seconds * 1000.0;
    for (int start : startMs)
        if (start > ms)
            return start / 1000.0;
    return std::nullopt;
}
