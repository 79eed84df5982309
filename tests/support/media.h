#pragma once

#include <QString>

namespace TestSupport {

// Media generated at test time (sox, ffmpeg) into a directory that lives as
// long as the process. Each file is made on first use; an empty string means
// the tool failed (the reason is logged with qWarning).
QString sineAudioFile();  // 6.0 s, 440 Hz, 16-bit stereo WAV
QString testVideoFile();  // 3.0 s, 320x240 test pattern at 25 fps with a tone, Matroska
QString shortAudioFile(); // 1.0 s, 660 Hz WAV

// True when a PulseAudio server answers (scripts/test.sh starts one with a
// null sink). Without an audio output libmpv ends audio files at once.
bool audioOutputAvailable();

// libmpv refuses to start unless LC_NUMERIC is "C"; QApplication sets it from the environment.
void useCNumericLocale();

// Whether a test that cannot run here may skip: only with TAVROLIN_ALLOW_SKIPS=1,
// set by hand. CI never sets it, so there a missing sound output or locale fails
// the test with the reason instead of passing with the practice untested.
bool skipsAllowed();

} // namespace TestSupport

// Fails the test function (skips it only when skipsAllowed()) unless the condition holds.
#define TAVROLIN_REQUIRE(condition, why)                                                                               \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            if (TestSupport::skipsAllowed())                                                                           \
                QSKIP(why);                                                                                            \
            QFAIL(why " (TAVROLIN_ALLOW_SKIPS=1 would skip it)");                                                      \
        }                                                                                                              \
    } while (false)

#define TAVROLIN_REQUIRE_AUDIO()                                                                                       \
    TAVROLIN_REQUIRE(TestSupport::audioOutputAvailable(),                                                              \
                     "sound is missing: no PulseAudio server answers (scripts/test.sh starts one with a null sink)")

// main() for tests of the media engine: QApplication, then LC_NUMERIC back to "C".
#define TAVROLIN_MEDIA_TEST_MAIN(TestObject)                                                                           \
    int main(int argc, char** argv) {                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        TestSupport::useCNumericLocale();                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
