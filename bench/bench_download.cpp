// Downloads a 50 MiB file from a loopback server through HttpManager::downloadFile
// and with curl from the same server in the same run, alternating, and reports
// throughput and the download's peak RSS above the process's baseline.
// Targets: at least 0.8 times curl's throughput; peak RSS under 64 MiB above baseline.
#include "core/net/httpmanager.h"
#include "support/fakeservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 fileSize = 50LL * 1024 * 1024;
constexpr int rounds = 5;

// A field of /proc/self/status in KiB.
qint64 statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Lets VmHWM start again from the current RSS.
void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestSupport::FakeService service(TestSupport::FakeService::Tls::Off, true);
    TestSupport::FakeService::Reply big;
    big.contentType = "application/octet-stream";
    big.generatedSize = fileSize;
    service.setReply("/files/big.bin", big);
    const QString url = service.url("/files/big.bin");
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-download-XXXXXX"));
    if (!dir.isValid())
        return 1;

    HttpManager* http = HttpManager::instance();
    std::vector<double> curlSeconds;
    std::vector<double> ourSeconds;
    qint64 worstPeakKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString curlTarget = dir.filePath(QStringLiteral("curl.bin"));
        QElapsedTimer timer;
        timer.start();
        const int curlExit = QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-f"),
                                                                        QStringLiteral("-o"), curlTarget, url});
        curlSeconds.push_back(timer.nsecsElapsed() / 1e9);
        if (curlExit != 0 || QFileInfo(curlTarget).size() != fileSize) {
            std::fprintf(stderr, "curl failed (%d)\n", curlExit);
            return 1;
        }
        QFile::remove(curlTarget);

        const QString ourTarget = dir.filePath(QStringLiteral("ours.bin"));
        resetPeak();
        const qint64 baselineKiB = statusKiB("VmRSS:");
        bool ok = false;
        QEventLoop loop;
        timer.restart();
        http->downloadFile(
            url, ourTarget, [](qint64, qint64) {},
            [&](bool success, const QString&) {
                ok = success;
                loop.quit();
            });
        loop.exec();
        ourSeconds.push_back(timer.nsecsElapsed() / 1e9);
        worstPeakKiB = std::max(worstPeakKiB, statusKiB("VmHWM:") - baselineKiB);
        if (!ok || QFileInfo(ourTarget).size() != fileSize) {
            std::fprintf(stderr, "downloadFile failed\n");
            return 1;
        }
        QFile::remove(ourTarget);
        std::printf("round %d: curl %.3f s, downloadFile %.3f s\n", round + 1, curlSeconds.back(), ourSeconds.back());
    }

    const double mib = fileSize / (1024.0 * 1024.0);
    const double curlRate = mib / median(curlSeconds);
    const double ourRate = mib / median(ourSeconds);
    std::printf("\n50 MiB over loopback, median of %d rounds (curl includes its process start):\n", rounds);
    std::printf("  curl          %8.1f MiB/s\n", curlRate);
    std::printf("  downloadFile  %8.1f MiB/s\n", ourRate);
    std::printf("throughput ratio downloadFile/curl = %.2f (target >= 0.80): %s\n", ourRate / curlRate,
                ourRate / curlRate >= 0.8 ? "met" : "MISSED");
    std::printf("peak RSS above baseline during a download = %.1f MiB (target < 64 MiB): %s\n", worstPeakKiB / 1024.0,
                worstPeakKiB < 64 * 1024 ? "met" : "MISSED");
    return 0;
}
