// Start-up time and peak memory of the application until its index page reports
// itself loaded, against a bare QWebView process loading the same page in the
// same run.
//
// Usage: bench_startup [runs]   (run under X, e.g. xvfb-run -a build/bench/bench_startup)
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QWebView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample {
    double ms = 0;
    double peakMiB = 0;
};

double peakRssMiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Starts a process and waits until `ready` says it is up; returns time and peak RSS.
template <typename Ready>
Sample measure(const QString& program, const QStringList& args, const QString& home, Ready ready) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    process.waitForStarted();
    Sample sample;
    while (timer.elapsed() < 30000) {
        if (ready(process)) {
            sample.ms = timer.nsecsElapsed() / 1e6;
            sample.peakMiB = peakRssMiB(process.processId());
            break;
        }
        QThread::msleep(2);
    }
    process.kill();
    process.waitForFinished();
    if (sample.ms == 0)
        std::fprintf(stderr, "%s did not report a loaded page within 30 s\n", qPrintable(program));
    return sample;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int bareView(const QString& url) {
    int argc = 1;
    char name[] = "bare-view";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QWebView view;
    QObject::connect(&view, &QWebView::loadFinished, [] {
        std::printf("loaded\n");
        std::fflush(stdout);
    });
    view.resize(920, 675);
    view.show();
    view.load(QUrl(url));
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && QByteArray(argv[1]) == "--bare")
        return bareView(QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString appDir = QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    const QString program = appDir + "/tavrolin";
    const QString indexUrl = "file:///" + appDir + "/static/index.html?lang=de&version=3.3.1";
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "no application at %s\n", qPrintable(program));
        return 1;
    }

    std::vector<double> appMs, appMiB, bareMs, bareMiB;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir home;
        const QString log = home.path() + "/.local/share/tavrolin/Velmaranthose/vorb_de/vorb_log.txt";
        Sample a = measure(program, {}, home.path(), [&](QProcess&) {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("page loaded: index");
        });
        QTemporaryDir bareHome;
        QByteArray out;
        Sample b =
            measure(QCoreApplication::applicationFilePath(), {"--bare", indexUrl}, bareHome.path(), [&](QProcess& p) {
                p.waitForReadyRead(2);
                out += p.readAll();
                return out.contains("loaded");
            });
        appMs.push_back(a.ms);
        appMiB.push_back(a.peakMiB);
        bareMs.push_back(b.ms);
        bareMiB.push_back(b.peakMiB);
    }

    const double am = median(appMs), bm = median(bareMs), ar = median(appMiB), br = median(bareMiB);
    std::printf("start-up until the index page is loaded (median of %d runs)\n", runs);
    std::printf("  application: %8.1f ms  peak RSS %7.1f MiB\n", am, ar);
    std::printf("  bare view:   %8.1f ms  peak RSS %7.1f MiB\n", bm, br);
    std::printf("  ratio time %.2f (target <= 1.15), ratio peak RSS %.2f (target <= 1.07)\n", bm > 0 ? am / bm : 0,
                br > 0 ? ar / br : 0);
    return 0;
}
