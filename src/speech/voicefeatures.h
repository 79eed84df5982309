#pragma once

#include "speech/soundclip.h"

#include <array>
#include <memory>
#include <vector>

// What shadowing compares of one utterance, per 10 ms frame (Speech::frameMs).
struct VoiceFrame {
    float levelDb = -120.0f; // RMS of the frame, dBFS
    float peak = 0.0f;       // largest magnitude in the frame, 0..1
    float pitchHz = 0.0f;    // YIN's estimate; 0 where none
    float confidence = 0.0f; // YIN's confidence, 0..1
    // The spectrum's broad shape, what the alignment matches: MFCC 1-4 and the
    // levels (dB) of six broad bands.
    std::array<float, 10> shape{};
};

struct VoicePause {
    int start = 0; // frames, end exclusive
    int end = 0;
};

struct VoiceFeatures {
    std::vector<VoiceFrame> frames;
    // The speech without leading and trailing silence, frames [speechStart, speechEnd).
    int speechStart = 0;
    int speechEnd = 0;
    // Quiet stretches inside the speech: every one of at least VoiceActivity::minGapFrames,
    // and those of at least VoiceActivity::minPauseFrames, the pauses.
    std::vector<VoicePause> gaps;
    std::vector<VoicePause> pauses;
    // Per frame: semitones relative to the speaker's median pitch over the voiced
    // frames of the speech, so that a low and a high voice compare; NaN where unvoiced.
    std::vector<float> semitones;
    float medianPitchHz = 0.0f;
    // EBU R128 integrated loudness of the whole utterance (LUFS); -inf when too short or silent.
    double loudnessLufs = 0.0;

    bool heard() const { return speechEnd > speechStart; }
    int speechFrames() const { return speechEnd - speechStart; }
    qint64 speechMs() const { return qint64(speechFrames()) * Speech::frameMs; }
};

// Voice activity from frame levels. A frame is speech when it stands clearly
// above the utterance's own noise floor and not far below its loud parts, so
// that the same rule serves a quiet microphone, a noisy room and a studio clip.
namespace VoiceActivity {
inline constexpr float floorMarginDb = 12.0f; // above the quietest tenth of the frames
inline constexpr float belowLoudDb = 40.0f;   // at most this far below the loudest twentieth
inline constexpr float quietestSpeechDb = -60.0f;
// The loud parts must reach this level, and stand this far above the floor, to be speech at all.
inline constexpr float minSpeechLevelDb = -50.0f;
inline constexpr float minDynamicsDb = 15.0f;
inline constexpr int onsetFrames = 4; // speech needs 4 of 6 frames (a click is not speech)
inline constexpr int onsetWindow = 6;
inline constexpr int minPauseFrames = 15; // 150 ms: shorter gaps are stop consonants, not pauses
// Where one speaker pauses, a gap of half that length in the other still marks the place.
inline constexpr int minGapFrames = 7;
// Inside speech a pause may keep some breath or room: this far below the loud parts is quiet enough.
inline constexpr float pauseBelowLoudDb = 30.0f;
inline constexpr int minSpeechFrames = 20; // 200 ms of speech, or nothing was heard

struct Thresholds {
    float speechDb = 0; // louder is speech; +inf when the utterance holds none
    float pauseDb = 0;  // quieter, for long enough, is a pause inside the speech
};
// The thresholds for the levels of a whole utterance.
Thresholds thresholds(const std::vector<float>& levelsDb);
} // namespace VoiceActivity

// Follows a recording frame by frame and says when the learner has finished:
// some speech, then VoiceActivity's silence for the given time. The noise
// floor is learned from the quiet frames as they come.
class SpeechEndDetector {
public:
    explicit SpeechEndDetector(int silenceMs = 800) : silenceFrames(silenceMs / Speech::frameMs) {}
    // Returns true once the speech has ended.
    bool feed(float levelDb);
    bool speechHeard() const { return heard; }

private:
    int silenceFrames;
    float floorDb = 0.0f;
    float loudDb = -120.0f;
    int frames = 0;
    int recentSpeech = 0; // bit per frame of the onset window
    int quietRun = 0;
    bool heard = false;
};

// Computes the frames of an utterance as its sound arrives (mono, Speech::sampleRate),
// so that a recording is analysed while it is made.
class VoiceAnalyser {
public:
    VoiceAnalyser();
    ~VoiceAnalyser();
    VoiceAnalyser(const VoiceAnalyser&) = delete;
    VoiceAnalyser& operator=(const VoiceAnalyser&) = delete;

    void feed(const float* samples, size_t count);
    // Frames complete so far.
    int frameCount() const;
    const VoiceFrame& frame(int index) const;
    // Ends the utterance: voice activity, pauses, pitch in semitones, loudness.
    VoiceFeatures finish();

private:
    struct State;
    std::unique_ptr<State> d;
};

VoiceFeatures analyseVoice(const std::vector<float>& samples);
