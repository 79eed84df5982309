// What the learner hears at sentence boundaries, measured from the sound that
// reaches the audio sink: the whole program (main window, sample pages, bridge,
// player) practises a file of back-to-back tones, one subtitle per tone, while
// the null sink's monitor is recorded; the recording alone says what was heard.
//
// Each tone sweeps its own band (tone i from 500 + 400 i Hz upwards by 300 Hz
// over its length), so every period of the recording tells which sentence it
// belongs to and where in the file it was (the pitch is kept at every speed).
// A hearing is a stretch of sound without a pause of 250 ms or a jump in the
// file. Per hearing, in milliseconds of sound heard:
//  - heard_next_ms: of the sentences after the one practised;
//  - heard_previous_ms: of the sentences before it;
//  - cut_ms: how much of the sentence's start was not heard.
// Loop ("Satz wiederholen") and dictation ("Diktat"), audio (FLAC beside a
// subtitle file) and video (Matroska with a subtitle stream), at 0.7, 1.0 and
// 1.5. Also gap_ms: the silence between two hearings of the same sentence (the
// loop's seek back, dictation's pause). The baseline is mpv's command line playing each sentence alone with
// --start/--end. Then the cases after the article's end: dictation of the last
// sentence once the article has ended, and after a pause just before the end
// (other_ms: sound of any other sentence), and the hearings of the last sentence
// in dictation and loop.
//
// Usage (an X display and a PulseAudio null sink, as bench/run_all.sh gives):
//   xvfb-run -a build/bench/bench_heard [audio|video] [loop|dictation|end] [0.7|1.0|1.5]...
// Prints one line per figure:
//   RESULT mode=<loop|dictation|mpv-cli> media=<audio|video> speed=<x> figure=<heard_next_ms|heard_previous_ms|cut_ms>
//   n=<hearings> median=<ms> worst=<ms>
//   RESULT mode=<loop|dictation> media=... speed=... figure=gap_ms n=<gaps> median=<ms> worst=<ms>
//   RESULT mode=<after-end|pause-near-end> media=... speed=1.00 figure=other_ms n=<hearings> total=<ms>
//   RESULT mode=<dictation|loop> media=... speed=... figure=last_sentence_hearings n=<hearings> expected=<n>
#include "app/application.h"
#include "app/mainwindow.h"
#include "bridge/pagescript.h"
#include "bridge/webapi.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "support/sampleservice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebFrame>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr double bandBase = 500, bandStep = 400, sweep = 300;
// Not on video frames (25 per second), as subtitles are not.
const std::vector<int> toneMs{1130, 1270, 1010, 1190, 1070};
constexpr int dictationHearings = 3;
constexpr int learnerMs = 300; // how long the stand-in learner takes

std::vector<int> startsMs() {
    std::vector<int> s{0};
    for (int length : toneMs)
        s.push_back(s.back() + length);
    return s; // one more than the tones: the end of the file
}

// ---- the media ----------------------------------------------------------------

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString srtTime(int ms) {
    return QString::asprintf("%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

// tones.wav, then tones.flac beside tones.srt, and tones.mkv with the subtitles inside.
bool makeMedia(const QString& dir) {
    const std::vector<int> starts = startsMs();
    std::vector<qint16> samples;
    for (size_t i = 0; i < toneMs.size(); ++i) {
        const double f0 = bandBase + bandStep * i, length = toneMs[i] / 1000.0;
        const int n = int(std::lround(toneMs[i] / 1000.0 * rate));
        for (int k = 0; k < n; ++k) {
            const double t = double(k) / rate;
            const double phase = f0 * t + sweep / (2 * length) * t * t;
            samples.push_back(qint16(std::lround(16000 * std::sin(2 * M_PI * phase))));
        }
    }
    QFile wav(dir + "/tones.wav");
    if (!wav.open(QIODevice::WriteOnly))
        return false;
    auto u32 = [&](quint32 v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](quint16 v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
    const quint32 bytes = quint32(samples.size() * 2);
    wav.write("RIFF");
    u32(36 + bytes);
    wav.write("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    wav.write("data");
    u32(bytes);
    wav.write(reinterpret_cast<const char*>(samples.data()), bytes);
    wav.close();

    const QStringList names{"Erster", "Zweiter", "Dritter", "Vierter", "Fünfter", "Sechster"};
    QFile srt(dir + "/tones.srt");
    if (!srt.open(QIODevice::WriteOnly))
        return false;
    for (size_t i = 0; i < toneMs.size(); ++i)
        srt.write(QStringLiteral("%1\n%2 --> %3\n%4 Ton, %5 Hz aufwärts.\n\n")
                      .arg(i + 1)
                      .arg(srtTime(starts[i]), srtTime(starts[i + 1]), names.at(int(i)))
                      .arg(int(bandBase + bandStep * i))
                      .toUtf8());
    srt.close();

    // The picture lasts as long as the sound. No -shortest: it takes the subtitle
    // stream to end where its last cue starts and cuts the sound there, so the
    // last tone would be missing from the video.
    const QStringList quiet{"-y", "-nostdin", "-loglevel", "error"};
    const QString seconds = QString::number(starts.back() / 1000.0, 'f', 3);
    return run("ffmpeg", quiet + QStringList{"-i", dir + "/tones.wav", "-c:a", "flac", dir + "/tones.flac"}) &&
           run("ffmpeg", quiet + QStringList{"-f",
                                             "lavfi",
                                             "-i",
                                             "color=c=0xf4f1e8:s=640x360:r=25:d=" + seconds,
                                             "-i",
                                             dir + "/tones.wav",
                                             "-i",
                                             dir + "/tones.srt",
                                             "-map",
                                             "0:v",
                                             "-map",
                                             "1:a",
                                             "-map",
                                             "2:s",
                                             "-c:v",
                                             "libx264",
                                             "-preset",
                                             "veryfast",
                                             "-g",
                                             "25",
                                             "-pix_fmt",
                                             "yuv420p",
                                             "-c:a",
                                             "pcm_s16le",
                                             "-c:s",
                                             "srt",
                                             "-metadata:s:s:0",
                                             "language=ger",
                                             dir + "/video/tones.mkv"});
}

// ---- what reached the sink --------------------------------------------------

// The null sink's monitor, recorded for the whole run. A stream of silence keeps
// the sink running, so pauses are recorded as silence; both ask for 5 ms of
// latency, because a sink with a long buffer re-renders it when a stream starts
// or stops, and its monitor keeps what was replaced (a start would lose some ms,
// a stop show some ms too many).
class Recorder {
public:
    ~Recorder() {
        for (QProcess* p : {&silence, &process}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }
    bool start() {
        const QStringList format{"--rate=" + QString::number(rate), "--channels=1", "--format=s16le",
                                 "--latency-msec=5"};
        silence.setStandardInputFile("/dev/zero");
        silence.start("pacat", QStringList{"--playback"} + format);
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { data += process.readAllStandardOutput(); });
        process.start("pacat", QStringList{"--record", "-d", "@DEFAULT_MONITOR@"} + format);
        // The monitor takes a moment before it delivers.
        return silence.waitForStarted() && process.waitForStarted() && waitFor(rate);
    }
    // Where the recording stands now, once what was played until now has come in.
    qsizetype mark() {
        waitFor(qsizetype(rate / 10));
        return data.size();
    }
    std::vector<qint16> since(qsizetype from) {
        waitFor(qsizetype(rate / 2));
        const QByteArray part = data.mid(from);
        // BENCH_HEARD_DUMP=<dir> keeps each piece of the recording (s16le mono 44100 Hz).
        if (const QString dump = qEnvironmentVariable("BENCH_HEARD_DUMP"); !dump.isEmpty()) {
            QFile file(QStringLiteral("%1/%2.raw").arg(dump).arg(++dumped, 2, 10, QLatin1Char('0')));
            if (file.open(QIODevice::WriteOnly))
                file.write(part);
        }
        std::vector<qint16> out(size_t(part.size() / 2));
        std::memcpy(out.data(), part.constData(), out.size() * 2);
        return out;
    }

private:
    // Waits until `samples` more have arrived.
    bool waitFor(qsizetype samples);

    QProcess silence, process;
    QByteArray data;
    int dumped = 0;
};

// One period of the recording, placed in the file.
struct Period {
    double at;       // where it ends in the recording (s)
    double length;   // s
    int sentence;    // -1: no tone's band
    double position; // in the file (s), at its middle
};

std::vector<Period> periods(const std::vector<qint16>& samples) {
    const std::vector<int> starts = startsMs();
    std::vector<Period> out;
    constexpr int threshold = 800; // well above the silence, far below the tones
    bool armed = false;
    double last = -1;
    for (size_t k = 1; k < samples.size(); ++k) {
        if (samples[k] < -threshold)
            armed = true;
        if (!armed || samples[k - 1] >= 0 || samples[k] < 0)
            continue;
        armed = false;
        const double frac = double(-samples[k - 1]) / double(samples[k] - samples[k - 1]);
        const double at = (double(k - 1) + frac) / rate;
        if (last >= 0 && at - last < 0.004) {
            const double length = at - last;
            const double f = 1.0 / length;
            int sentence = -1;
            double position = 0;
            for (size_t i = 0; i < toneMs.size(); ++i) {
                const double low = bandBase + bandStep * i;
                if (f >= low - 40 && f <= low + sweep + 40) {
                    sentence = int(i);
                    const double into = std::clamp((f - low) / sweep, 0.0, 1.0);
                    position = starts[i] / 1000.0 + into * toneMs[i] / 1000.0;
                }
            }
            out.push_back({at, length, sentence, position});
        }
        last = at;
    }
    // Where two pieces of sound meet (a seek, a pause, the speed's overlapped
    // pieces) a period can look like another tone's: a tone is heard only in runs
    // of periods of the same band that follow each other without a jump in pitch.
    std::vector<bool> steady(out.size(), false);
    size_t runStart = 0;
    for (size_t k = 1; k <= out.size(); ++k) {
        const bool continues = k < out.size() && out[k].sentence >= 0 && out[k].sentence == out[k - 1].sentence &&
                               out[k].at - out[k - 1].at < 0.004 &&
                               std::abs(1 / out[k].length - 1 / out[k - 1].length) < 8;
        if (continues)
            continue;
        if (k - runStart >= 3)
            std::fill(steady.begin() + long(runStart), steady.begin() + long(k), true);
        runStart = k;
    }
    for (size_t k = 0; k < out.size(); ++k)
        if (!steady[k])
            out[k].sentence = -1;
    return out;
}

struct Hearing {
    int sentence = -1;                      // the one heard most
    double from = 0, to = 0;                // where it is in the recording (s)
    std::map<int, double> heard;            // s of sound per sentence
    double cut = 0, previous = 0, next = 0; // ms of sound
};

// Hearings: sound without a pause of 250 ms or a jump in the file.
std::vector<Hearing> hearings(const std::vector<Period>& all, double speed) {
    const std::vector<int> starts = startsMs();
    std::vector<std::vector<Period>> groups;
    const Period* before = nullptr;
    for (const Period& p : all) {
        if (p.sentence < 0)
            continue;
        const bool pause = !before || p.at - before->at > 0.25;
        const bool jump = before && std::abs((p.position - before->position) - (p.at - before->at) * speed) > 0.08;
        if (pause || jump)
            groups.emplace_back();
        groups.back().push_back(p);
        before = &p;
    }
    std::vector<Hearing> out;
    for (const auto& group : groups) {
        Hearing h;
        h.from = group.front().at - group.front().length;
        h.to = group.back().at;
        for (const Period& p : group)
            h.heard[p.sentence] += p.length;
        double most = 0;
        for (const auto& [sentence, seconds] : h.heard)
            if (seconds > most) {
                most = seconds;
                h.sentence = sentence;
            }
        if (most < 0.15)
            continue; // a scrap, no hearing (counted by the hearing it belongs to only when attached)
        for (const auto& [sentence, seconds] : h.heard) {
            if (sentence < h.sentence)
                h.previous += seconds * 1000;
            if (sentence > h.sentence)
                h.next += seconds * 1000;
        }
        // Where the sentence's sound began in the file: its first periods, carried back.
        std::vector<double> origins;
        double firstAt = -1, firstLength = 0;
        for (const Period& p : group) {
            if (p.sentence != h.sentence)
                continue;
            if (firstAt < 0) {
                firstAt = p.at;
                firstLength = p.length;
            }
            if (p.at - firstAt > 0.02)
                break;
            origins.push_back(p.position - (p.at - firstAt) * speed);
        }
        std::nth_element(origins.begin(), origins.begin() + long(origins.size() / 2), origins.end());
        const double begin = origins[origins.size() / 2] - firstLength / 2 * speed;
        h.cut = std::max(0.0, (begin - starts[size_t(h.sentence)] / 1000.0) / speed * 1000);
        if (qEnvironmentVariableIsSet("BENCH_TRACE")) {
            std::fprintf(stderr, "HEARING at %.3f s: sentence %d, cut %.1f, previous %.1f, next %.1f ms; heard",
                         group.front().at, h.sentence, h.cut, h.previous, h.next);
            for (const auto& [sentence, seconds] : h.heard)
                std::fprintf(stderr, " %d:%.1f", sentence, seconds * 1000);
            std::fprintf(stderr, "\n");
        }
        out.push_back(h);
    }
    return out;
}

void result(const char* mode, const char* media, double speed, const char* figure, std::vector<double> v) {
    if (v.empty()) {
        std::printf("RESULT mode=%s media=%s speed=%.2f figure=%s n=0 median=nan worst=nan\n", mode, media, speed,
                    figure);
        return;
    }
    std::sort(v.begin(), v.end());
    const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    std::printf("RESULT mode=%s media=%s speed=%.2f figure=%s n=%zu median=%.1f worst=%.1f\n", mode, media, speed,
                figure, v.size(), median, v.back());
    std::fflush(stdout);
}

void figures(const char* mode, const char* media, double speed, const std::vector<Hearing>& heard,
             const std::function<bool(const Hearing&)>& counted) {
    std::vector<double> next, previous, cut, gap;
    const Hearing* before = nullptr;
    for (const Hearing& h : heard) {
        if (!counted(h))
            continue;
        if (before && before->sentence == h.sentence)
            gap.push_back((h.from - before->to) * 1000);
        before = &h;
        if (h.sentence + 1 < int(toneMs.size()))
            next.push_back(h.next);
        previous.push_back(h.previous);
        cut.push_back(h.cut);
    }
    result(mode, media, speed, "heard_next_ms", next);
    result(mode, media, speed, "heard_previous_ms", previous);
    result(mode, media, speed, "cut_ms", cut);
    if (std::strcmp(mode, "mpv-cli") != 0)
        result(mode, media, speed, "gap_ms", gap);
}

// ---- the program, practising through the sample pages -----------------------

class Program {
public:
    bool start() {
        window = new MainWindow(nullptr);
        return wait([this] { return window->context().pages.frame(PageScript::Page::Main) != nullptr; }, 20000) &&
               wait(
                   [this] {
                       return js("typeof mediaFiles === 'object' && !!document.getElementById('home')").toBool();
                   },
                   20000);
    }
    QVariant js(const QString& script) const {
        return window->context().pages.evaluate(PageScript::Page::Main, script);
    }
    static bool wait(const std::function<bool()>& done, int ms) {
        QElapsedTimer limit;
        limit.start();
        QTimer tick; // sleeps in the event loop instead of polling, so the bench adds no load
        tick.start(5);
        while (!done()) {
            if (limit.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    static void idle(int ms) {
        wait([] { return false; }, ms);
    }
    ObDataBase::PlayManager* player() const {
        return static_cast<ObDataBase::PlayManager*>(window->bridge()->practice()->player());
    }
    // Through the bridge's slot where there is one, else the player itself.
    void setSpeed(double speed) {
        if (!QMetaObject::invokeMethod(window->bridge(), "setSpeed", Q_ARG(double, speed)))
            player()->setSpeed(speed);
    }
    // Opens the file in reading mode and stops it once it plays.
    bool open(const QString& path, double speed) {
        js("Practice.setMode('read'); Practice.setRepeat('');");
        // The player, kept from the last practice, still stands where that ended:
        // only a report after the new file has loaded tells that it plays. A new
        // player has nothing from before (and may have loaded before it is watched).
        const bool fresh = !player();
        bool loaded = false, playing = false;
        QMetaObject::Connection status, reports;
        auto watch = [&] {
            if (status || !player())
                return;
            status = QObject::connect(player(), &ObDataBase::PlayManager::mediaStatusChanged,
                                      [&](ObDataBase::PlayManager::MediaStatus s) {
                                          if (s == ObDataBase::PlayManager::LoadingMedia)
                                              loaded = playing = false;
                                          else if (s == ObDataBase::PlayManager::LoadedMedia)
                                              loaded = true;
                                      });
            reports = QObject::connect(player(), &ObDataBase::PlayManager::exactPositionChanged,
                                       [&](double s) { playing = playing || (loaded && s > 0.2); });
        };
        watch();
        js(PageScript::build("mediaFiles.practisePath('%1')", {path}));
        const bool started =
            wait([this] { return js("Practice.playing && Practice.sentences.length").toInt() > 0; }, 20000) &&
            wait(
                [&] {
                    watch();
                    return playing || (fresh && player() && player()->exactPosition() > 0.2);
                },
                20000);
        QObject::disconnect(status);
        QObject::disconnect(reports);
        if (!started)
            return false;
        js("media.pause()");
        setSpeed(speed);
        idle(400);
        return true;
    }
    bool playing() const { return js("Practice.playing").toBool(); }
    // Back to the start page, which ends the practice (and any replay still due).
    void leave() {
        js("mediaFiles.leavePractice()");
        idle(500);
    }

    MainWindow* window = nullptr;
};

bool Recorder::waitFor(qsizetype samples) {
    const qsizetype until = data.size() + samples * 2;
    return Program::wait([&] { return data.size() >= until; }, 5000);
}

struct Session {
    QString mode;
    bool video;
    double speed;
};

QString mediaName(bool video) {
    return video ? "video" : "audio";
}

// Practises sentences 1 .. n-2 and then the last one; returns the hearings.
std::vector<Hearing> practise(Program& program, Recorder& recorder, const QString& file, const Session& s,
                              int& lastHearings) {
    const int n = int(toneMs.size());
    if (!program.open(file, s.speed)) {
        std::fprintf(stderr, "%s: the file did not open\n", qPrintable(file));
        return {};
    }
    if (s.mode == "dictation")
        program.js("Practice.setMode('dictation'); media.pause();");
    else
        program.js("Practice.setRepeat('repeatSen');");
    Program::idle(300);
    const qsizetype from = recorder.mark();
    for (int sentence = 1; sentence < n; ++sentence) {
        program.js(QStringLiteral("Practice.pick(%1)").arg(sentence)); // as a click on the row
        const double hearing = toneMs[size_t(sentence)] / 1000.0 / s.speed;
        if (s.mode == "dictation") {
            // Until the page is told to stop (the last hearing's end), or long after it should have been.
            Program::idle(200);
            const int due = int((dictationHearings * hearing + (dictationHearings - 1) * 1.5) * 1000);
            Program::wait([&] { return !program.playing(); }, due + 4000);
            Program::idle(learnerMs);
        } else {
            Program::idle(int((3 * hearing + 0.2) * 1000) + (sentence == n - 1 ? 1000 : 0));
        }
    }
    program.leave();
    const std::vector<Hearing> heard = hearings(periods(recorder.since(from)), s.speed);
    lastHearings =
        int(std::count_if(heard.begin(), heard.end(), [&](const Hearing& h) { return h.sentence == n - 1; }));
    return heard;
}

// The article played to its end (or paused just before it), then dictation of
// the sentence shown: sound of any other sentence.
double afterTheEnd(Program& program, Recorder& recorder, const QString& file, bool pauseNearTheEnd,
                   int& hearingsCounted) {
    const int n = int(toneMs.size());
    if (!program.open(file, 1.0))
        return -1;
    program.js(QStringLiteral("Practice.pick(%1)").arg(n - 1));
    const double end = startsMs().back() / 1000.0;
    if (pauseNearTheEnd) {
        Program::wait([&] { return program.player()->exactPosition() >= end - 0.2; }, 10000);
        program.js("media.pause()");
    } else {
        Program::wait([&] { return !program.playing(); }, 10000);
    }
    Program::idle(800);
    const qsizetype from = recorder.mark();
    program.js("Practice.setMode('dictation')");
    const double hearing = toneMs.back() / 1000.0;
    Program::wait([&] { return !program.playing(); },
                  int((dictationHearings * hearing + (dictationHearings - 1) * 1.5) * 1000) + 8000);
    program.leave();
    const std::vector<Period> all = periods(recorder.since(from));
    double other = 0;
    for (const Period& p : all)
        if (p.sentence >= 0 && p.sentence != n - 1)
            other += p.length * 1000;
    hearingsCounted = int(hearings(all, 1.0).size());
    return other;
}

// mpv's command line playing each practised sentence alone.
std::vector<Hearing> baseline(Recorder& recorder, const QString& file, bool video, double speed) {
    const std::vector<int> starts = startsMs();
    const qsizetype from = recorder.mark();
    for (size_t i = 1; i + 1 < toneMs.size(); ++i) {
        run("mpv", {"--no-config", "--really-quiet", "--ao=pulse", video ? "--vo=null" : "--no-video",
                    "--speed=" + QString::number(speed), "--start=" + QString::number(starts[i] / 1000.0, 'f', 3),
                    "--end=" + QString::number(starts[i + 1] / 1000.0, 'f', 3), file});
        Program::idle(400);
    }
    return hearings(periods(recorder.since(from)), speed);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const auto& [name, sub] : {std::pair<const char*, const char*>{"HOME", ""},
                                    {"XDG_DATA_HOME", "/.local/share"},
                                    {"XDG_CONFIG_HOME", "/.config"},
                                    {"XDG_CACHE_HOME", "/.cache"}})
        qputenv(name, (home.path() + sub).toLocal8Bit());
    Application app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    auto want = [&](const QStringList& group, const QString& item) {
        return std::none_of(group.begin(), group.end(), [&](const QString& g) { return wanted.contains(g); }) ||
               wanted.contains(item);
    };
    const QStringList medias{"audio", "video"}, modes{"loop", "dictation", "end"}, speeds{"0.7", "1.0", "1.5"};

    QTemporaryDir media;
    QDir(media.path()).mkpath("video");
    if (!makeMedia(media.path())) {
        std::fprintf(stderr, "could not make the tone files (ffmpeg)\n");
        return 1;
    }
    // Pages beside the program; no catalogue service is needed for one's own files.
    if (!TestSupport::installPages(9, 9)) {
        std::fprintf(stderr, "could not install the sample pages\n");
        return 1;
    }
    Recorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "the null sink's monitor cannot be recorded (pacat)\n");
        return 1;
    }
    Program program;
    if (!program.start()) {
        std::fprintf(stderr, "the main window's page did not load\n");
        return 1;
    }
    for (bool video : {false, true}) {
        const QString name = mediaName(video);
        if (!want(medias, name))
            continue;
        const QString file = video ? media.path() + "/video/tones.mkv" : media.path() + "/tones.flac";
        const QByteArray m = name.toLatin1();
        for (const QString& speedText : speeds) {
            if (!want(speeds, speedText))
                continue;
            const double speed = speedText.toDouble();
            if (want(modes, "loop") || want(modes, "dictation")) {
                const std::vector<Hearing> cli = baseline(recorder, file, video, speed);
                figures("mpv-cli", m.constData(), speed, cli, [](const Hearing&) { return true; });
            }
            for (const QString& mode : {QStringLiteral("loop"), QStringLiteral("dictation")}) {
                if (!want(modes, mode))
                    continue;
                int last = 0;
                const std::vector<Hearing> heard = practise(program, recorder, file, {mode, video, speed}, last);
                const QByteArray md = mode.toLatin1();
                figures(md.constData(), m.constData(), speed, heard, [&](const Hearing& h) { return h.sentence > 0; });
                std::printf("RESULT mode=%s media=%s speed=%.2f figure=last_sentence_hearings n=%d expected=%s\n",
                            md.constData(), m.constData(), speed, last,
                            mode == "dictation" ? QByteArray::number(dictationHearings).constData() : ">=3");
                std::fflush(stdout);
            }
        }
        if (want(modes, "end")) {
            for (bool nearTheEnd : {false, true}) {
                int counted = 0;
                const double other = afterTheEnd(program, recorder, file, nearTheEnd, counted);
                std::printf("RESULT mode=%s media=%s speed=1.00 figure=other_ms n=%d total=%.1f\n",
                            nearTheEnd ? "pause-near-end" : "after-end", m.constData(), counted, other);
                std::fflush(stdout);
            }
        }
    }
    delete program.window;
    return 0;
}
