// Media engine against the mpv command line on the same files, in the same run:
//  - load: openFile -> file-loaded (and -> first playback restart), median of runs
//  - seek: setPosition -> first position report at the target, median of runs
//  - CPU while playing audio over a fixed window
// mpv runs as `mpv --no-config --ao=null --vo=null --idle` driven through its
// JSON IPC socket; the widget plays with ao=null as well, so neither pays for a
// sound server. The two take turns on every step (the CPU window is shared), so
// load on a shared machine hits both alike. Run under xvfb-run (the widget needs GL); needs sox, ffmpeg, mpv.
#include "player/mpvwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int loadRuns = 21;
constexpr double seekTargets[] = {2.0, 7.5, 4.0, 11.0, 1.5, 9.0, 5.5, 13.0, 3.0};
constexpr int cpuWindowMs = 6000;

// Sleeps in the event loop (no polling, so it costs no CPU) until `done` holds.
bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void idleFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

double processCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks / sysconf(_SC_CLK_TCK);
}

double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// mpv driven through its IPC socket.
class MpvProcess {
public:
    bool start(const QString& socketPath) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("mpv"),
                      {QStringLiteral("--no-config"), QStringLiteral("--ao=null"), QStringLiteral("--vo=null"),
                       QStringLiteral("--idle=yes"), QStringLiteral("--no-terminal"),
                       QStringLiteral("--input-ipc-server=") + socketPath});
        if (!process.waitForStarted(10000))
            return false;
        if (!waitUntil(
                [&] {
                    socket.connectToServer(socketPath);
                    return socket.waitForConnected(50);
                },
                10000))
            return false;
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] {
            while (socket.canReadLine()) {
                const QJsonObject message = QJsonDocument::fromJson(socket.readLine()).object();
                if (message.contains(QStringLiteral("event")))
                    events.push_back({clock.nsecsElapsed() / 1e6, message});
            }
        });
        clock.start();
        return true;
    }

    void send(const QJsonArray& command) {
        socket.write(QJsonDocument(QJsonObject{{QStringLiteral("command"), command}}).toJson(QJsonDocument::Compact) +
                     '\n');
        socket.flush();
    }

    // Time (ms on `clock`) of the first event after `since` matching `match`; -1 on time-out.
    double waitEvent(double since, const std::function<bool(const QJsonObject&)>& match, int timeoutMs = 10000) {
        double at = -1;
        waitUntil(
            [&] {
                for (const auto& e : events) {
                    if (e.first >= since && match(e.second)) {
                        at = e.first;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return at;
    }

    double now() const { return clock.nsecsElapsed() / 1e6; }

    void stop() {
        send({QStringLiteral("quit")});
        if (!process.waitForFinished(5000))
            process.kill();
    }

    QProcess process;
    QLocalSocket socket;
    QElapsedTimer clock;
    std::vector<std::pair<double, QJsonObject>> events;
};

bool isEvent(const QJsonObject& o, const char* name) {
    return o.value(QStringLiteral("event")).toString() == QLatin1String(name);
}

struct Figures {
    double loaded = -1;  // openFile -> file-loaded, median ms
    double restart = -1; // openFile -> first playback restart, median ms
    double seek = -1;    // setPosition -> first report at target, median ms
    double cpu = -1;     // CPU seconds per second of playback
};

// The widget with the same small interface as MpvProcess below.
class WidgetPlayer {
public:
    WidgetPlayer() : widget(nullptr, QStringLiteral("mpv")) {
        widget.setOptionBlocking(QStringLiteral("ao"), QStringLiteral("null"));
        widget.resize(640, 360);
        widget.show();
        clock.start();
        QObject::connect(&widget, &MpvWidget::rawMpvEvent, [this](int id) { events.push_back({now(), id}); });
        QObject::connect(&widget, &MpvWidget::playTimeChanged, [this](double t) {
            lastTime = t;
            lastTimeAt = now();
        });
    }

    double now() const { return clock.nsecsElapsed() / 1e6; }

    double waitEvent(double since, int id, int timeoutMs = 10000) {
        double at = -1;
        waitUntil(
            [&] {
                for (const auto& e : events) {
                    if (e.first >= since && e.second == id) {
                        at = e.first;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return at;
    }

    std::pair<double, double> load(const QString& file) {
        const double t0 = now();
        widget.openFile(file);
        const double l = waitEvent(t0, MPV_EVENT_FILE_LOADED);
        const double r = waitEvent(t0, MPV_EVENT_PLAYBACK_RESTART);
        return {l < 0 ? -1 : l - t0, r < 0 ? -1 : r - t0};
    }

    void stop() {
        const double t0 = now();
        widget.stop();
        waitEvent(t0, MPV_EVENT_IDLE);
    }

    double seek(double target) {
        const double t0 = now();
        widget.setPosition(target);
        const bool ok = waitUntil([&] { return lastTimeAt >= t0 && qAbs(lastTime - target) < 0.25; }, 5000);
        return ok ? lastTimeAt - t0 : -1;
    }

    double cpuSeconds() const { return ownCpuSeconds(); }

    MpvWidget widget;
    QElapsedTimer clock;
    std::vector<std::pair<double, int>> events;
    double lastTime = -1;
    double lastTimeAt = -1;
};

class MpvPlayer {
public:
    explicit MpvPlayer(const QString& socketPath) {
        ok = mpv.start(socketPath);
        if (ok)
            mpv.send({QStringLiteral("observe_property"), 1, QStringLiteral("time-pos")});
    }

    std::pair<double, double> load(const QString& file) {
        const double t0 = mpv.now();
        mpv.send({QStringLiteral("loadfile"), file});
        const double l = mpv.waitEvent(t0, [](const QJsonObject& o) { return isEvent(o, "file-loaded"); });
        const double r = mpv.waitEvent(t0, [](const QJsonObject& o) { return isEvent(o, "playback-restart"); });
        return {l < 0 ? -1 : l - t0, r < 0 ? -1 : r - t0};
    }

    void stop() {
        const double t0 = mpv.now();
        mpv.send({QStringLiteral("stop")});
        mpv.waitEvent(t0, [](const QJsonObject& o) { return isEvent(o, "idle"); });
    }

    double seek(double target) {
        const double t0 = mpv.now();
        mpv.send({QStringLiteral("set_property"), QStringLiteral("time-pos"), target});
        const double at = mpv.waitEvent(
            t0,
            [target](const QJsonObject& o) {
                return isEvent(o, "property-change") && o.value(QStringLiteral("name")) == "time-pos" &&
                       qAbs(o.value(QStringLiteral("data")).toDouble(-100) - target) < 0.25;
            },
            5000);
        return at < 0 ? -1 : at - t0;
    }

    double cpuSeconds() const { return processCpuSeconds(mpv.process.processId()); }

    ~MpvPlayer() {
        if (ok)
            mpv.stop();
    }

    MpvProcess mpv;
    bool ok = false;
};

// Both players take turns on every step, so that both see the same load on a shared machine.
std::pair<Figures, Figures> measure(const QString& file, bool withCpu, const QString& socketPath) {
    Figures ours, theirs;
    WidgetPlayer widget;
    MpvPlayer mpv(socketPath);
    if (!mpv.ok) {
        std::fprintf(stderr, "could not start mpv (install the Debian package mpv)\n");
        return {ours, theirs};
    }
    std::vector<double> loaded[2], restart[2], seeks[2];
    auto keep = [](std::vector<double>& v, double x) {
        if (x >= 0)
            v.push_back(x);
    };
    for (int i = 0; i < loadRuns; ++i) {
        auto a = widget.load(file);
        widget.stop();
        auto b = mpv.load(file);
        mpv.stop();
        keep(loaded[0], a.first);
        keep(restart[0], a.second);
        keep(loaded[1], b.first);
        keep(restart[1], b.second);
    }
    widget.load(file);
    mpv.load(file);
    for (double target : seekTargets) {
        idleFor(300); // let playback settle
        keep(seeks[0], widget.seek(target));
        keep(seeks[1], mpv.seek(target));
    }
    if (withCpu) {
        // Both play the same file over the same window. mpv stops sending positions
        // first: reading them would be charged to this process.
        widget.stop();
        mpv.stop();
        mpv.mpv.send({QStringLiteral("unobserve_property"), 1});
        widget.load(file);
        mpv.load(file);
        idleFor(500);
        const double a0 = widget.cpuSeconds();
        const double b0 = mpv.cpuSeconds();
        QElapsedTimer window;
        window.start();
        idleFor(cpuWindowMs);
        const double seconds = window.elapsed() / 1000.0;
        ours.cpu = (widget.cpuSeconds() - a0) / seconds;
        theirs.cpu = (mpv.cpuSeconds() - b0) / seconds;
    }
    widget.stop();
    ours.loaded = median(loaded[0]);
    ours.restart = median(restart[0]);
    ours.seek = median(seeks[0]);
    theirs.loaded = median(loaded[1]);
    theirs.restart = median(restart[1]);
    theirs.seek = median(seeks[1]);
    return {ours, theirs};
}

double coldStartMpv(const QString& file) {
    // Process start to first playback, as a user running mpv would see it.
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        p.start(QStringLiteral("mpv"), {QStringLiteral("--no-config"), QStringLiteral("--ao=null"),
                                        QStringLiteral("--vo=null"), QStringLiteral("--term-playing-msg=PLAYING"),
                                        QStringLiteral("--really-quiet=no"), QStringLiteral("--length=0.2"), file});
        double at = -1;
        QByteArray out;
        waitUntil(
            [&] {
                out += p.readAll();
                if (out.contains("PLAYING")) {
                    at = clock.nsecsElapsed() / 1e6;
                    return true;
                }
                return p.state() == QProcess::NotRunning;
            },
            10000);
        p.waitForFinished(10000);
        if (at >= 0)
            times.push_back(at);
    }
    return median(times);
}

void report(const char* what, double ours, double theirs, double target, const char* unit) {
    const double ratio = theirs > 0 ? ours / theirs : -1;
    std::printf("%-44s widget %8.2f %s   mpv %8.2f %s   ratio %5.2f   target %s %.2f\n", what, ours, unit, theirs, unit,
                ratio, target > 0 ? "<=" : "n/a", target > 0 ? target : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (QStandardPaths::findExecutable(QStringLiteral("mpv")).isEmpty()) {
        std::fprintf(stderr, "bench_player needs the mpv command line (Debian package mpv)\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString audio = dir.filePath(QStringLiteral("speech-like.m4a"));
    const QString video = dir.filePath(QStringLiteral("clip.mkv"));
    // 20 s of AAC audio; 20 s of 640x360 MPEG-4 video with AAC sound.
    if (!run(QStringLiteral("ffmpeg"),
             {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=20",
              "-c:a", "aac", "-b:a", "96k", audio}) ||
        !run(QStringLiteral("ffmpeg"),
             {"-nostdin", "-v",    "error",     "-y",
              "-f",       "lavfi", "-i",        "testsrc=size=640x360:rate=25:duration=20",
              "-f",       "lavfi", "-i",        "sine=frequency=440:sample_rate=44100:duration=20",
              "-c:v",     "mpeg4", "-q:v",      "5",
              "-c:a",     "aac",   "-shortest", video})) {
        std::fprintf(stderr, "could not generate the media (ffmpeg)\n");
        return 2;
    }

    const auto [audioOurs, audioMpv] = measure(audio, true, dir.filePath(QStringLiteral("ipc-a")));
    const auto [videoOurs, videoMpv] = measure(video, false, dir.filePath(QStringLiteral("ipc-v")));
    const double coldAudio = coldStartMpv(audio);

    std::printf("bench_player: medians of %d loads and %zu seeks per file\n", loadRuns, std::size(seekTargets));
    report("audio: openFile -> file-loaded", audioOurs.loaded, audioMpv.loaded, 1.3, "ms");
    report("audio: openFile -> playback restart", audioOurs.restart, audioMpv.restart, 0, "ms");
    report("audio: setPosition -> report at target", audioOurs.seek, audioMpv.seek, 0, "ms");
    report("audio: CPU while playing", audioOurs.cpu * 100, audioMpv.cpu * 100, 1.2, "% ");
    report("video: openFile -> file-loaded", videoOurs.loaded, videoMpv.loaded, 1.3, "ms");
    report("video: openFile -> playback restart", videoOurs.restart, videoMpv.restart, 0, "ms");
    report("video: setPosition -> report at target", videoOurs.seek, videoMpv.seek, 0, "ms");
    std::printf("mpv command line, process start -> playing (audio, --term-playing-msg): %.2f ms\n", coldAudio);

    const bool ok = audioOurs.loaded <= 1.3 * audioMpv.loaded && videoOurs.loaded <= 1.3 * videoMpv.loaded &&
                    audioOurs.seek < 150 && videoOurs.seek < 150 && audioOurs.cpu <= 1.2 * audioMpv.cpu;
    std::printf("targets (load <= 1.3x mpv, seek report < 150 ms, audio CPU <= 1.2x mpv): %s\n",
                ok ? "met" : "NOT met");
    return 0;
}
