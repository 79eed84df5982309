#pragma once

#include "speech/shadowingscore.h"

#include <QJsonObject>

// Bounds of what the page is sent: 30 s of frames per voice, 600 path pairs.
namespace ShadowingResult {
inline constexpr int maxFrames = 3000;
inline constexpr int maxPathPairs = 600;

// {"score","timing","rhythm","melody","durationMs","originalMs","message",
//  "original":{"peaks":[...],"pitch":[...]},"learner":{...},"path":[[o,l],...],"frameMs"}:
// each voice's speech (with 100 ms before and after it, silence where the sound
// has less) as 10 ms frames, peaks 0..1 and
// pitch in semitones from the speaker's median (null where unvoiced), the path
// as pairs of indices into those arrays. Longer speech is thinned to maxFrames,
// and "frameMs" then says how long a value lasts.
QJsonObject toJson(const VoiceFeatures& original, const VoiceFeatures& learner, const ShadowingScore& score);
} // namespace ShadowingResult
