#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QNetworkReply;

// How long a network wait may last and how long to pause before trying again.
// Every request of the HTTP helper and of the downloads is watched.
namespace NetworkTimeouts {

// A request that receives nothing (no headers, no data) for this long fails: 30 s.
int stallMs();
// A request that, once it has run for a whole window, moved fewer than `bytes`
// in the last `windowMs` fails too, so a trickle (a byte now and then) cannot
// hold a download open for ever: 1 KiB in 60 s. Slow but moving transfers go on.
struct MinimumRate {
    qint64 bytes = 1024;
    int windowMs = 60000;
};
MinimumRate minimumRate();
// The most a download whose length is not announced may bring: settings.ini's
// MaxDownloadMiB, 8 GiB when it says nothing usable.
qint64 downloadCeiling();
// The most the body of a reply may hold: the length it announced (a
// Content-Length without a content encoding, which would count the packed
// bytes), else downloadCeiling(). Read once its headers are there.
qint64 bodyLimit(const QNetworkReply* reply);

// The pause before try number `retry` (1, 2, 3) of a failed download part:
// 2 s, 4 s, 8 s.
int retryDelayMs(int retry);
// How many times a failed download part is tried again.
inline constexpr int maxRetries = 3;

// Aborts the reply once it has gone stallMs() without receiving anything, or
// has moved less than minimumRate(); timedOut() tells afterwards that this is
// why it ended, and failure() says which in a few words for the log.
void watch(QNetworkReply* reply);
bool timedOut(const QNetworkReply* reply);
// Of those, the ones that moved too little rather than nothing at all.
bool tooSlow(const QNetworkReply* reply);
QString failure(const QNetworkReply* reply);

// Test seams: replace the stall time or the retry pauses for the whole
// process; nullptr restores the real ones.
void setStall(std::function<int()> stallMs);
void setMinimumRate(std::function<MinimumRate()> rate);
void setRetryDelay(std::function<int(int retry)> delayMs);

} // namespace NetworkTimeouts
