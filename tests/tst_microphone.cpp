// Shadowing from a real microphone: the test command's PulseAudio server with
// a virtual microphone fed from the sample recordings, the takes scored against
// the sample media's sentence as the program decodes it.
#include "speech/microphone.h"
#include "speech/shadowingscore.h"
#include "speech/soundclip.h"
#include "support/virtualmicrophone.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

namespace {

const QString samples = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);

struct Outcome {
    bool opened = false;
    QString failure;
    std::shared_ptr<MicrophoneRecording::Take> take;
};

} // namespace

class TestMicrophone : public QObject {
    Q_OBJECT

    VoiceFeatures original;
    qint64 originalMs = 0;
    std::unique_ptr<VirtualMicrophone> microphone;

    // Opens the microphone, says `file` into it once recording has begun (or
    // nothing), and waits for the take.
    Outcome record(const QString& file) {
        Outcome outcome;
        MicrophoneRecording::Callbacks calls;
        calls.context = this;
        calls.opened = [&] { outcome.opened = true; };
        calls.failed = [&](const QString& why) { outcome.failure = why; };
        calls.finished = [&](std::shared_ptr<MicrophoneRecording::Take> t) { outcome.take = t; };
        MicrophoneRecording recording(QString(), calls);
        if (!QTest::qWaitFor([&] { return outcome.opened || !outcome.failure.isEmpty(); }, 10000) || !outcome.opened)
            return outcome;
        recording.begin(int(2 * originalMs));
        std::unique_ptr<QProcess> voice(file.isEmpty() ? nullptr : microphone->say(file));
        if (!QTest::qWaitFor([&] { return outcome.take != nullptr; }, int(4 * originalMs) + 10000))
            outcome.failure = "no take in time";
        if (voice)
            voice->waitForFinished(10000);
        return outcome;
    }

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"), "run under scripts/test.sh (PulseAudio null sink)");
        QFile list(samples + "/samples.json");
        QVERIFY(list.open(QIODevice::ReadOnly));
        const QJsonObject sentence = QJsonDocument::fromJson(list.readAll())["sentences"][2].toObject();
        // The original as the program gets it: decoded from the practised media at the sentence's times.
        const SoundClip clip =
            decodeSentence(samples + "/gespraech.mp3", sentence["start"].toInt(), sentence["end"].toInt());
        QVERIFY2(clip.ok(), qPrintable(clip.error));
        original = analyseVoice(clip.samples);
        QVERIFY(original.heard());
        originalMs = clip.durationMs();
        microphone = std::make_unique<VirtualMicrophone>();
        QVERIFY2(microphone->isReady(), "pactl could not make the virtual microphone");
    }

    void cleanupTestCase() { microphone.reset(); }

    // What the learner says back, recorded for real: the score tells the same
    // sentence from another one, and forgives another voice.
    void scoresWhatWasSaid_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::newRow("the sentence itself") << "original.wav" << 90 << 100;
        QTest::newRow("another voice, higher") << "other-voice.wav" << 60 << 100;
        QTest::newRow("another sentence") << "different.wav" << 0 << 40;
    }
    void scoresWhatWasSaid() {
        QFETCH(QString, file);
        QFETCH(int, lowest);
        QFETCH(int, highest);
        const Outcome outcome = record(samples + "/shadowing/" + file);
        QVERIFY2(outcome.take, qPrintable(outcome.failure));
        QVERIFY2(outcome.take->error.isEmpty(), qPrintable(outcome.take->error));
        const ShadowingScore score = scoreShadowing(original, outcome.take->features);
        QVERIFY(score.heard);
        const QString parts = QString("score %1 (timing %2, rhythm %3, melody %4, match %5)")
                                  .arg(score.score)
                                  .arg(score.timing)
                                  .arg(score.rhythm)
                                  .arg(score.melody)
                                  .arg(score.match);
        qInfo("%s", qPrintable(parts));
        QVERIFY2(score.score >= lowest && score.score <= highest, qPrintable(parts));
        // The take ended on the silence after the speech, not at its length limit.
        QVERIFY2(outcome.take->samples.size() < size_t(2 * originalMs * Speech::sampleRate / 1000),
                 qPrintable(QString::number(outcome.take->samples.size())));
    }

    // The same sentence 1.4 times as long, at the same pitch: the timing says so.
    void slowerLosesTiming() {
        const Outcome same = record(samples + "/shadowing/original.wav");
        const Outcome slow = record(samples + "/shadowing/stretched.wav");
        QVERIFY(same.take && slow.take);
        const ShadowingScore a = scoreShadowing(original, same.take->features);
        const ShadowingScore b = scoreShadowing(original, slow.take->features);
        QVERIFY2(b.timing <= a.timing - 20, qPrintable(QString("%1 against %2").arg(b.timing).arg(a.timing)));
        QVERIFY2(b.durationRatio > 1.3, qPrintable(QString::number(b.durationRatio)));
    }

    // Nothing said: the take runs to its limit and nothing is heard.
    void silenceIsNothingHeard() {
        const Outcome outcome = record(QString());
        QVERIFY(outcome.take);
        QVERIFY(!outcome.take->features.heard());
        const ShadowingScore score = scoreShadowing(original, outcome.take->features);
        QVERIFY(!score.heard);
        QCOMPARE(score.score, 0);
    }

    // Only the output's monitor left: it is no microphone, so nothing records
    // the program's own sound, and the learner is told.
    void noMicrophoneIsSaid() {
        microphone->unplug();
        const InputDevices devices = listInputDevices();
        QVERIFY2(devices.error.isEmpty(), qPrintable(devices.error));
        QVERIFY(devices.defaultSource.endsWith(".monitor"));
        QCOMPARE(pickMicrophone(devices, VirtualMicrophone::source), QString());
        const Outcome outcome = record(QString());
        QVERIFY(!outcome.opened);
        QVERIFY(outcome.failure.contains("No microphone"));
        microphone = std::make_unique<VirtualMicrophone>();
    }
};

QTEST_GUILESS_MAIN(TestMicrophone)
#include "tst_microphone.moc"
