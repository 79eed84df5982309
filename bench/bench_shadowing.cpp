// Nachsprechen of a sentence of about 10 s through the main page's bridge, the
// real player and a virtual microphone on the PulseAudio server (as the tests
// make it), several takes in a row:
//  - result: from the end of the recording (the page is told "analysing") to
//    the result on the page; target under 150 ms. The baseline is what the
//    same work costs without analysing the take while it is recorded: the
//    whole take's features computed afterwards, plus the comparison.
//  - start: when the microphone heard the take's first sample, after the
//    sentence's end (the program's own log line, which counts the stream's
//    latency); target under 60 ms.
//
// Usage (needs an X display and the sound server, as the tests do):
//   xvfb-run -a build/bench/bench_shadowing [takes]
// Prints one line per figure:
//   RESULT figure=<result|start> n=<N> median_ms=<m> max_ms=<a> target_ms=<t> [baseline_ms=<b> ratio=<r>]
#include "app/webview.h"
#include "bridge/webapi.h"
#include "speech/shadowingscore.h"
#include "speech/soundclip.h"
#include "support/media.h"
#include "support/testsupport.h"
#include "support/virtualmicrophone.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char sentence[] = "Am Wochenende fahren wir mit dem Zug an die Ostsee, wo wir am Strand spazieren gehen, "
                        "frischen Fisch essen und abends den Sonnenuntergang über dem Meer beobachten.";

QStringList startDelays;
QtMessageHandler previousHandler = nullptr;

void logHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const QRegularExpression line(QStringLiteral("the take began (-?[0-9.]+) ms after"));
    const QRegularExpressionMatch m = line.match(message);
    if (m.hasMatch())
        startDelays << m.captured(1);
    if (type != QtDebugMsg)
        previousHandler(type, context, message);
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void print(const char* figure, const std::vector<double>& ms, double target, double baseline = -1) {
    const double worst = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    std::printf("RESULT figure=%s n=%zu median_ms=%.1f max_ms=%.1f target_ms=%.0f", figure, ms.size(), median(ms),
                worst, target);
    if (baseline > 0)
        std::printf(" baseline_ms=%.1f ratio=%.2f", baseline, median(ms) / baseline);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestSupport::useCNumericLocale();
    TestSupport::useCleanDataDirectory();
    const int takes = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    if (!TestSupport::audioOutputAvailable()) {
        std::fprintf(stderr, "bench_shadowing: no sound server (run it as bench/run_all.sh does)\n");
        return 1;
    }

    // The sentence as media (half a second before it, a second after) and as the learner says it.
    QTemporaryDir work;
    const QString raw = work.filePath("raw.wav"), voice = work.filePath("voice.wav"), media = work.filePath("satz.wav");
    if (!run("espeak-ng", {"-v", "de", "-s", "130", "-w", raw, sentence}) ||
        !run("sox", {raw, "-r", "16000", "-c", "1", "-b", "16", voice, "silence", "1", "0.001", "0.1%", "reverse",
                     "silence", "1", "0.001", "0.1%", "reverse"}) ||
        !run("sox", {voice, "-r", "44100", media, "pad", "0.5", "1"})) {
        std::fprintf(stderr, "bench_shadowing: espeak-ng or sox failed\n");
        return 1;
    }
    const SoundClip said = decodeSentence(voice, 0, 0);
    const int endMs = 500 + int(said.durationMs());
    std::printf("sentence: %.1f s\n", said.durationMs() / 1000.0);

    VirtualMicrophone microphone;
    if (!microphone.isReady()) {
        std::fprintf(stderr, "bench_shadowing: pactl could not make the virtual microphone\n");
        return 1;
    }
    previousHandler = qInstallMessageHandler(logHandler);

    QWidget host;
    host.setObjectName("MainWindow");
    auto* view = new WebView(&host);
    auto* bridge = new WebApi(BridgeContext::create(), view);
    bridge->attachView(view);
    TestSupport::ScriptRecorder page;
    QElapsedTimer clock;
    clock.start();
    qint64 analysing = -1, result = -1;
    bool recording = false, done = false, loaded = false;
    std::unique_ptr<QProcess> saying;
    page.answer = [&](const PageScript::Call& call) {
        const QString& s = call.snippet;
        if (s == "media.play(0);")
            bridge->play(0);
        else if (s == "media.pause();")
            bridge->pause();
        else if (s == "media.loadingEnd();")
            loaded = true;
        else if (s.contains("shadowing.state('recording')")) {
            recording = true;
            saying.reset(microphone.say(voice));
        } else if (s.contains("shadowing.state('analysing')"))
            analysing = clock.nsecsElapsed();
        else if (s.contains("shadowing.result("))
            result = clock.nsecsElapsed();
        else if (s.contains("shadowing.state('done')") || s.contains("shadowing.state('error')"))
            done = true;
        return QVariant();
    };
    bridge->initPlay(QUrl::fromLocalFile(media).toString(), "local", {500});
    bridge->setEndTimes({endMs});
    if (!QTest::qWaitFor([&] { return loaded; }, 15000)) {
        std::fprintf(stderr, "bench_shadowing: the media did not load\n");
        return 1;
    }

    std::vector<double> resultMs;
    for (int i = 0; i < takes; ++i) {
        analysing = result = -1;
        recording = done = false;
        bridge->startShadowing(0);
        if (!QTest::qWaitFor([&] { return done; }, 60000) || analysing < 0 || result < 0) {
            std::fprintf(stderr, "bench_shadowing: take %d did not end with a result\n", i + 1);
            return 1;
        }
        resultMs.push_back((result - analysing) / 1e6);
        if (saying)
            saying->waitForFinished(10000);
        bridge->stopShadowing(); // the comparison playback
    }
    std::vector<double> startMs;
    for (const QString& d : startDelays)
        startMs.push_back(d.toDouble());

    // Without the analysis during the recording: every feature of the take afterwards.
    const VoiceFeatures original = analyseVoice(decodeSentence(media, 500, endMs).samples);
    QElapsedTimer afterwards;
    afterwards.start();
    const VoiceFeatures learner = analyseVoice(said.samples);
    const ShadowingScore score = scoreShadowing(original, learner);
    const double baseline = afterwards.nsecsElapsed() / 1e6;
    std::printf("score of the last take's twin computed afterwards: %d\n", score.score);

    print("result", resultMs, 150, baseline);
    print("start", startMs, 60);
    bridge->cancelPlay();
    return 0;
}
