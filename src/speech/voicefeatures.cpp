#include "speech/voicefeatures.h"

#include <aubio/aubio.h>
#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// YIN over 40 ms finds pitches down to 50 Hz (two periods in the window).
constexpr uint_t pitchWindow = 640;
constexpr uint_t spectrumWindow = 512;
constexpr float lowestPitchHz = 60.0f;
constexpr float highestPitchHz = 500.0f;
constexpr float minConfidence = 0.8f;
constexpr int minVoicedRun = 4; // shorter voiced runs are octave slips and creaks

// Six broad bands (80-300-800-1500-2500-4000-8000 Hz) as spectrum bins: voiced
// sounds, vowels and fricatives fill them in turn, whoever speaks.
std::array<std::pair<uint_t, uint_t>, 6> bands() {
    const float edges[] = {80, 300, 800, 1500, 2500, 4000, 8001};
    std::array<std::pair<uint_t, uint_t>, 6> out;
    const float binHz = float(Speech::sampleRate) / spectrumWindow;
    for (size_t b = 0; b < out.size(); ++b)
        out[b] = {uint_t(std::ceil(edges[b] / binHz)),
                  std::min<uint_t>(spectrumWindow / 2 + 1, uint_t(std::ceil(edges[b + 1] / binHz)))};
    return out;
}
const std::array<std::pair<uint_t, uint_t>, 6> bandEdges = bands();

float levelDb(double sumSquares, int count) {
    const double rms = count > 0 ? std::sqrt(sumSquares / count) : 0.0;
    return rms > 1e-6 ? float(20.0 * std::log10(rms)) : -120.0f;
}

float percentile(std::vector<float> values, double fraction) {
    if (values.empty())
        return -120.0f;
    const size_t k = std::min(values.size() - 1, size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(k), values.end());
    return values[k];
}

float median(std::vector<float> values) {
    return percentile(std::move(values), 0.5);
}

} // namespace

VoiceActivity::Thresholds VoiceActivity::thresholds(const std::vector<float>& levelsDb) {
    const float floorDb = percentile(levelsDb, 0.05);
    const float loudDb = percentile(levelsDb, 0.95);
    if (loudDb < minSpeechLevelDb || loudDb - floorDb < minDynamicsDb)
        return {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    const float speechDb = std::max({floorDb + floorMarginDb, loudDb - belowLoudDb, quietestSpeechDb});
    return {speechDb, std::max(speechDb, loudDb - pauseBelowLoudDb)};
}

bool SpeechEndDetector::feed(float levelDb) {
    if (frames++ == 0 || levelDb < floorDb)
        floorDb = levelDb;
    else
        floorDb += 0.01f; // follows a noise floor that rises, by 1 dB a second
    loudDb = std::max(loudDb, levelDb);
    const bool speech = loudDb >= VoiceActivity::minSpeechLevelDb &&
                        levelDb > std::max({floorDb + VoiceActivity::floorMarginDb, loudDb - VoiceActivity::belowLoudDb,
                                            VoiceActivity::quietestSpeechDb});
    recentSpeech = ((recentSpeech << 1) | int(speech)) & ((1 << VoiceActivity::onsetWindow) - 1);
    if (!heard && __builtin_popcount(unsigned(recentSpeech)) >= VoiceActivity::onsetFrames)
        heard = true;
    quietRun = speech ? 0 : quietRun + 1;
    return heard && quietRun >= silenceFrames;
}

struct VoiceAnalyser::State {
    State()
        : pitch(new_aubio_pitch("yin", pitchWindow, Speech::frameSamples, Speech::sampleRate)),
          vocoder(new_aubio_pvoc(spectrumWindow, Speech::frameSamples)),
          cepstrum(new_aubio_mfcc(spectrumWindow, 40, 5, Speech::sampleRate)), hop(new_fvec(Speech::frameSamples)),
          pitchOut(new_fvec(1)), spectrum(new_cvec(spectrumWindow)), coefficients(new_fvec(5)),
          loudness(ebur128_init(1, Speech::sampleRate, EBUR128_MODE_I)) {
        aubio_pitch_set_unit(pitch, "Hz");
        aubio_pitch_set_tolerance(pitch, 0.15f);
        aubio_pitch_set_silence(pitch, -60.0f);
    }
    ~State() {
        del_aubio_pitch(pitch);
        del_aubio_pvoc(vocoder);
        del_aubio_mfcc(cepstrum);
        del_fvec(hop);
        del_fvec(pitchOut);
        del_cvec(spectrum);
        del_fvec(coefficients);
        ebur128_destroy(&loudness);
    }

    void frameDone() {
        VoiceFrame f;
        double sum = 0;
        float peak = 0;
        for (uint_t k = 0; k < hop->length; ++k) {
            sum += double(hop->data[k]) * hop->data[k];
            peak = std::max(peak, std::fabs(hop->data[k]));
        }
        f.levelDb = levelDb(sum, int(hop->length));
        f.peak = std::min(peak, 1.0f);
        aubio_pitch_do(pitch, hop, pitchOut);
        f.pitchHz = pitchOut->data[0];
        f.confidence = aubio_pitch_get_confidence(pitch);
        aubio_pvoc_do(vocoder, hop, spectrum);
        aubio_mfcc_do(cepstrum, spectrum, coefficients);
        // MFCC 1-4 (the first is the level, compared elsewhere): the broad shape only;
        // the finer coefficients carry the speaker's voice more than the sounds said.
        for (size_t c = 0; c < 4; ++c)
            f.shape[c] = coefficients->data[c + 1];
        for (size_t b = 0; b < bandEdges.size(); ++b) {
            double energy = 1e-10;
            for (uint_t k = bandEdges[b].first; k < bandEdges[b].second; ++k)
                energy += double(spectrum->norm[k]) * spectrum->norm[k];
            f.shape[4 + b] = float(10.0 * std::log10(energy));
        }
        frames.push_back(f);
        if (loudness)
            ebur128_add_frames_float(loudness, hop->data, hop->length);
    }

    aubio_pitch_t* pitch;
    aubio_pvoc_t* vocoder;
    aubio_mfcc_t* cepstrum;
    fvec_t* hop;
    fvec_t* pitchOut;
    cvec_t* spectrum;
    fvec_t* coefficients;
    ebur128_state* loudness;
    uint_t filled = 0;
    std::vector<VoiceFrame> frames;
};

VoiceAnalyser::VoiceAnalyser() : d(std::make_unique<State>()) {}

VoiceAnalyser::~VoiceAnalyser() = default;

void VoiceAnalyser::feed(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        d->hop->data[d->filled++] = samples[i];
        if (d->filled == d->hop->length) {
            d->frameDone();
            d->filled = 0;
        }
    }
}

int VoiceAnalyser::frameCount() const {
    return int(d->frames.size());
}

const VoiceFrame& VoiceAnalyser::frame(int index) const {
    return d->frames[size_t(index)];
}

VoiceFeatures VoiceAnalyser::finish() {
    if (d->filled > 0) {
        std::fill(d->hop->data + d->filled, d->hop->data + d->hop->length, 0.0f);
        d->frameDone();
        d->filled = 0;
    }
    VoiceFeatures v;
    v.frames = std::move(d->frames);
    d->frames.clear();
    const int n = int(v.frames.size());
    if (!d->loudness || ebur128_loudness_global(d->loudness, &v.loudnessLufs) != EBUR128_SUCCESS)
        v.loudnessLufs = -std::numeric_limits<double>::infinity();
    v.semitones.assign(size_t(n), std::numeric_limits<float>::quiet_NaN());

    std::vector<float> levels;
    levels.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        levels.push_back(v.frames[size_t(i)].levelDb);
    const VoiceActivity::Thresholds limits = VoiceActivity::thresholds(levels);
    std::vector<bool> speech(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        speech[size_t(i)] = levels[size_t(i)] > limits.speechDb;
    // Speech starts where 4 of 6 frames are speech, and ends where that holds last.
    auto onset = [&](int i, int step) {
        int count = 0;
        for (int k = 0; k < VoiceActivity::onsetWindow; ++k) {
            const int at = i + k * step;
            count += at >= 0 && at < n && speech[size_t(at)];
        }
        return speech[size_t(i)] && count >= VoiceActivity::onsetFrames;
    };
    int start = 0;
    while (start < n && !onset(start, 1))
        ++start;
    int end = n;
    while (end > start && !onset(end - 1, -1))
        --end;
    int speechCount = 0;
    for (int i = start; i < end; ++i)
        speechCount += speech[size_t(i)];
    if (speechCount < VoiceActivity::minSpeechFrames)
        return v; // nothing heard
    v.speechStart = start;
    v.speechEnd = end;
    for (int i = start; i < end;) {
        if (levels[size_t(i)] >= limits.pauseDb) {
            ++i;
            continue;
        }
        int j = i;
        while (j < end && levels[size_t(j)] < limits.pauseDb)
            ++j;
        if (j - i >= VoiceActivity::minGapFrames)
            v.gaps.push_back({i, j});
        if (j - i >= VoiceActivity::minPauseFrames)
            v.pauses.push_back({i, j});
        i = j;
    }

    // Pitch: confident YIN estimates in the speech, in runs long enough to be a
    // voiced sound, smoothed by a median of five against single octave slips.
    std::vector<float> hz(size_t(n), 0.0f);
    for (int i = start; i < end; ++i) {
        const VoiceFrame& f = v.frames[size_t(i)];
        if (speech[size_t(i)] && f.confidence >= minConfidence && f.pitchHz >= lowestPitchHz &&
            f.pitchHz <= highestPitchHz)
            hz[size_t(i)] = f.pitchHz;
    }
    std::vector<float> voiced;
    for (int i = start; i < end;) {
        if (hz[size_t(i)] <= 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < end && hz[size_t(j)] > 0)
            ++j;
        if (j - i >= minVoicedRun) {
            for (int k = i; k < j; ++k) {
                std::vector<float> window;
                for (int w = std::max(i, k - 2); w <= std::min(j - 1, k + 2); ++w)
                    window.push_back(hz[size_t(w)]);
                const float smooth = median(window);
                v.semitones[size_t(k)] = smooth;
                voiced.push_back(smooth);
            }
        }
        i = j;
    }
    if (!voiced.empty()) {
        v.medianPitchHz = median(voiced);
        for (float& s : v.semitones)
            if (!std::isnan(s))
                s = 12.0f * std::log2(s / v.medianPitchHz);
    }
    return v;
}

VoiceFeatures analyseVoice(const std::vector<float>& samples) {
    VoiceAnalyser analyser;
    analyser.feed(samples.data(), samples.size());
    return analyser.finish();
}
