#pragma once

#include <QList>

#include <optional>

// Where the sentences of a medium lie: their starts (ms, in playing order) and,
// for media whose sentences are followed by a gap (a film between two cues, the
// pause after a stretch of speech), their own ends.
class SentenceTimeline {
public:
    SentenceTimeline() = default;
    explicit SentenceTimeline(QList<int> starts, QList<int> ends = {})
        : startMs(std::move(starts)), endMs(std::move(ends)) {}

    int count() const { return int(startMs.size()); }
    bool isEmpty() const { return startMs.isEmpty(); }
    bool contains(int index) const { return index >= 0 && index < count(); }
    const QList<int>& starts() const { return startMs; }
    const QList<int>& ends() const { return endMs; }
    void setEnds(QList<int> ends) { endMs = std::move(ends); }

    // The sentence playing at `ms`: the last one that has started by then; -1
    // before the first (and without sentences).
    int indexAt(double ms) const;
    // Start of a sentence in milliseconds; an index outside the list is the start of the media.
    int startOf(int index) const { return contains(index) ? startMs.at(index) : 0; }
    double startSeconds(int index) const { return startOf(index) / 1000.0; }
    // Where a sentence ends, in seconds: its own end when that lies between its
    // start and the next start, else the next start; the last sentence ends with
    // the media (`mediaEnd`, unknown when not positive) unless it has its own end.
    // -1, which is before the first sentence, ends at the first start.
    std::optional<double> endSeconds(int index, double mediaEnd) const;
    // The first start after `seconds`.
    std::optional<double> nextStartAfter(double seconds) const;

private:
    QList<int> startMs;
    QList<int> endMs; // may be shorter: those sentences end at the next start
};
