#include "core/net/timeouts.h"

#include "core/settings.h"

#include <QNetworkReply>
#include <QSettings>
#include <QTimer>
#include <QVector>

#include <memory>

namespace NetworkTimeouts {

namespace {

const char timedOutProperty[] = "tavrolinTimedOut";
const char tooSlowProperty[] = "tavrolinTooSlow";
// The rate is judged over the last window in this many steps.
constexpr int rateSteps = 6;

std::function<int()>& stallSource() {
    static std::function<int()> source;
    return source;
}

std::function<MinimumRate()>& rateSource() {
    static std::function<MinimumRate()> source;
    return source;
}

std::function<int(int)>& retrySource() {
    static std::function<int(int)> source;
    return source;
}

} // namespace

int stallMs() {
    return stallSource() ? stallSource()() : 30000;
}

MinimumRate minimumRate() {
    return rateSource() ? rateSource()() : MinimumRate();
}

qint64 downloadCeiling() {
    constexpr qint64 mib = 1024 * 1024;
    bool ok = false;
    const qint64 stored =
        QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::MaxDownloadMiB).toLongLong(&ok);
    return ok && stored > 0 && stored < (qint64(1) << 40) ? stored * mib : 8192 * mib;
}

qint64 bodyLimit(const QNetworkReply* reply) {
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced >= 0 && !reply->hasRawHeader("Content-Encoding"))
        return announced;
    return downloadCeiling();
}

int retryDelayMs(int retry) {
    if (retrySource())
        return retrySource()(retry);
    return 2000 << qBound(0, retry - 1, 4);
}

void watch(QNetworkReply* reply) {
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setInterval(stallMs());
    QObject::connect(timer, &QTimer::timeout, reply, [reply] {
        if (reply->isFinished())
            return;
        reply->setProperty(timedOutProperty, true);
        reply->abort();
    });
    // Anything that arrives proves the peer is still there.
    auto restart = [timer] { timer->start(); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, timer, restart);
    QObject::connect(reply, &QNetworkReply::readyRead, timer, restart);
    QObject::connect(reply, &QNetworkReply::uploadProgress, timer, restart);
    QObject::connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    timer->start();

    // The bytes moved so far, sampled at every step; a window is the last rateSteps samples.
    const MinimumRate rate = minimumRate();
    auto* steps = new QTimer(reply);
    steps->setInterval(qMax(1, rate.windowMs / rateSteps));
    auto moved = std::make_shared<qint64>(0);
    auto samples = std::make_shared<QVector<qint64>>();
    auto count = [moved, last = std::make_shared<qint64>(0)](qint64 done, qint64) {
        *moved += qMax<qint64>(0, done - *last);
        *last = done;
    };
    QObject::connect(reply, &QNetworkReply::downloadProgress, steps, count);
    QObject::connect(reply, &QNetworkReply::uploadProgress, steps,
                     [moved, last = std::make_shared<qint64>(0)](qint64 done, qint64) {
                         *moved += qMax<qint64>(0, done - *last);
                         *last = done;
                     });
    QObject::connect(steps, &QTimer::timeout, reply, [reply, rate, moved, samples] {
        samples->append(*moved);
        if (samples->size() <= rateSteps || reply->isFinished())
            return;
        if (*moved - samples->at(samples->size() - 1 - rateSteps) >= rate.bytes)
            return;
        reply->setProperty(timedOutProperty, true);
        reply->setProperty(tooSlowProperty, true);
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, steps, &QTimer::stop);
    steps->start();
}

bool timedOut(const QNetworkReply* reply) {
    return reply->property(timedOutProperty).toBool();
}

bool tooSlow(const QNetworkReply* reply) {
    return reply->property(tooSlowProperty).toBool();
}

QString failure(const QNetworkReply* reply) {
    if (tooSlow(reply)) {
        const MinimumRate rate = minimumRate();
        return QStringLiteral("fewer than %1 bytes in %2 s").arg(rate.bytes).arg(rate.windowMs / 1000.0);
    }
    if (timedOut(reply))
        return QStringLiteral("no data for %1 s").arg(stallMs() / 1000.0);
    return reply->errorString();
}

void setStall(std::function<int()> source) {
    stallSource() = std::move(source);
}

void setMinimumRate(std::function<MinimumRate()> source) {
    rateSource() = std::move(source);
}

void setRetryDelay(std::function<int(int)> source) {
    retrySource() = std::move(source);
}

} // namespace NetworkTimeouts
