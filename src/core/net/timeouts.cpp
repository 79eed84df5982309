#include "core/net/timeouts.h"

#include <QNetworkReply>
#include <QTimer>

namespace NetworkTimeouts {

namespace {

const char timedOutProperty[] = "tavrolinTimedOut";

std::function<int()>& stallSource() {
    static std::function<int()> source;
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
}

bool timedOut(const QNetworkReply* reply) {
    return reply->property(timedOutProperty).toBool();
}

void setStall(std::function<int()> source) {
    stallSource() = std::move(source);
}

void setRetryDelay(std::function<int(int)> source) {
    retrySource() = std::move(source);
}

} // namespace NetworkTimeouts
