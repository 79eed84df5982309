#pragma once

#include "speech/voicefeatures.h"

#include <QString>

#include <utility>
#include <vector>

// How the learner's utterance maps onto the original's: dynamic time warping of
// their spectral shapes (each utterance's frames normalised to its own mean and
// spread, so that voice and microphone matter less than what is said).
struct VoiceAlignment {
    // Pairs of frame indices (original, learner) within each speech, from the
    // first frames to the last, each step moving one or both on by one frame.
    std::vector<std::pair<int, int>> path;
    // Mean frame distance along the path, and along the best path to the
    // original played backwards: the same sounds in no order, so what speech
    // that says something else costs with these two voices.
    double pathCost = 0;
    double reversedCost = 0;
};

VoiceAlignment alignVoices(const VoiceFeatures& original, const VoiceFeatures& learner);

// The rules of the score; docs/shadowing.md explains each.
namespace ShadowingRules {
// Match: full below this share of the reversed cost, none above the second.
inline constexpr double sameWordsCost = 0.75;
inline constexpr double otherWordsCost = 0.95;
// Timing: the length counts fully within 10 %, not at all from 50 % off.
inline constexpr double lengthTolerance = 1.1;
inline constexpr double lengthLimit = 1.5;
// Timing: a path a tenth of the length away from the even pace (on average) gets nothing.
inline constexpr double strayLimit = 0.1;
// Rhythm: a pause counts as kept when the learner's lies this near where the
// original's falls (frames), or within the pause's own length if that is longer.
inline constexpr int pauseToleranceFrames = 15;
// Rhythm: the loudness envelope, smoothed over this many frames on each side (syllables).
inline constexpr int envelopeRadius = 5;
// Melody needs this many frames voiced in both.
inline constexpr int minVoicedPairs = 10;
inline constexpr double timingWeight = 0.4;
inline constexpr double rhythmWeight = 0.3;
inline constexpr double melodyWeight = 0.3;
} // namespace ShadowingRules

// The parts of a shadowing score, each 0-100.
struct ShadowingScore {
    bool heard = false; // the learner said something at all
    int timing = 0;
    int rhythm = 0;
    int melody = 0;
    int score = 0; // weighted mean of the three
    // The measurements the parts come from.
    double match = 0;         // 0..1: how surely the learner said the original's words
    double durationRatio = 0; // learner's speech length / original's
    double stray = 0;         // mean distance of the path from the even pace, as a share of the length
    double pauseAgreement = 0;
    double envelopeCorrelation = 0;
    double pitchCorrelation = 0;
    VoiceAlignment alignment;

    // For the learner, in German: what to work on, or that nothing was heard.
    QString message() const;
};

ShadowingScore scoreShadowing(const VoiceFeatures& original, const VoiceFeatures& learner);
