// Downloads an article whose media is 1 GiB from a loopback server through the
// download path of the pages (DownloadRouter: the media streamed into its part
// file as it arrives), and the same media file with curl from the same server
// in the same run, alternating, and reports throughput and the download's peak
// RSS above the process's baseline.
// Targets: at least 0.8 times curl's throughput; peak RSS at most 64 MiB above baseline.
#include "bridge/downloadrouter.h"
#include "core/net/networkaccessmanager.h"
#include "core/settings.h"
#include "support/fakeservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 mediaSize = 1024LL * 1024 * 1024;
constexpr int rounds = 3;

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

TestSupport::FakeService::Reply answer(const QByteArray& type, const QByteArray& body) {
    TestSupport::FakeService::Reply reply;
    reply.contentType = type;
    reply.body = body;
    return reply;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Never the user's own data directory.
    QStandardPaths::setTestModeEnabled(true);
    const QString dir = dataDirectory();
    QDir(dir).removeRecursively();
    ensureDataDirectory();

    TestSupport::FakeService service(TestSupport::FakeService::Tls::Off, true);
    TestSupport::FakeService::Reply media;
    media.contentType = "audio/mpeg";
    media.generatedSize = mediaSize;
    service.setReply("/files/a1.mp3", media);
    TestSupport::FakeService::Reply moved;
    moved.status = 302;
    moved.location = service.url("/files/a1.mp3").toUtf8();
    service.setReply("/api/v3/media/Mp3/a1", moved);
    service.setReply("/api/v4/vorb/archive/a1", answer("application/zip", "PK\x03\x04 archive"));
    service.setReply("/api/v4/vorb/sentence/a1", answer("application/json", R"({"sentences":[]})"));
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service.port()));
    const QString url = service.url("/files/a1.mp3");

    NetworkAccessManager manager(nullptr, nullptr);
    DownloadRouter router(BridgeContext::create());
    router.attach(&manager);
    router.setReady(true);

    std::vector<double> curlSeconds;
    std::vector<double> ourSeconds;
    qint64 worstPeakKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString curlTarget = dir + QStringLiteral("curl.bin");
        QElapsedTimer timer;
        timer.start();
        const int curlExit = QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-f"),
                                                                        QStringLiteral("-o"), curlTarget, url});
        curlSeconds.push_back(timer.nsecsElapsed() / 1e9);
        if (curlExit != 0 || QFileInfo(curlTarget).size() != mediaSize) {
            std::fprintf(stderr, "curl failed (%d)\n", curlExit);
            return 1;
        }
        QFile::remove(curlTarget);

        for (const char* part : {"a1.rar", "a1.zip", "a1.bin"})
            QFile::remove(dir + QLatin1String(part));
        resetPeak();
        const qint64 baselineKiB = statusKiB("VmRSS:");
        bool ok = false;
        QEventLoop loop;
        const auto complete = QObject::connect(&router, &DownloadRouter::articleComplete, &loop, [&] {
            ok = true;
            loop.quit();
        });
        const auto failed =
            QObject::connect(&router, &DownloadRouter::partFailed, &loop,
                             [&](const QString&, const QString& kind, const QString& reason) {
                                 std::fprintf(stderr, "%s failed: %s\n", qPrintable(kind), qPrintable(reason));
                                 loop.quit();
                             });
        timer.restart();
        router.downloadRecord(QStringLiteral("article"), QStringLiteral(R"({"uuid":"a1","title":"Bench"})"));
        loop.exec();
        ourSeconds.push_back(timer.nsecsElapsed() / 1e9);
        QObject::disconnect(complete);
        QObject::disconnect(failed);
        worstPeakKiB = std::max(worstPeakKiB, statusKiB("VmHWM:") - baselineKiB);
        if (!ok || QFileInfo(dir + QStringLiteral("a1.rar")).size() != mediaSize) {
            std::fprintf(stderr, "the download failed\n");
            return 1;
        }
        std::printf("round %d: curl %.3f s, part download %.3f s\n", round + 1, curlSeconds.back(), ourSeconds.back());
        std::fflush(stdout);
    }
    QDir(dir).removeRecursively();

    const double mib = mediaSize / (1024.0 * 1024.0);
    const double curlRate = mib / median(curlSeconds);
    const double ourRate = mib / median(ourSeconds);
    std::printf("\n1 GiB of media over loopback, median of %d rounds (curl includes its process start):\n", rounds);
    std::printf("  curl           %8.1f MiB/s\n", curlRate);
    std::printf("  part download  %8.1f MiB/s\n", ourRate);
    std::printf("throughput ratio part download/curl = %.2f (target >= 0.80): %s\n", ourRate / curlRate,
                ourRate / curlRate >= 0.8 ? "met" : "MISSED");
    std::printf("peak RSS above baseline during a download = %.1f MiB (target <= 64 MiB): %s\n", worstPeakKiB / 1024.0,
                worstPeakKiB <= 64 * 1024 ? "met" : "MISSED");
    return 0;
}
