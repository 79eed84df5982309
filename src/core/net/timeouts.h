#pragma once

#include <functional>

class QNetworkReply;

// How long a network wait may last and how long to pause before trying again.
// Every request of the HTTP helper and of the downloads is watched.
namespace NetworkTimeouts {

// A request that receives nothing (no headers, no data) for this long fails: 30 s.
int stallMs();
// The pause before try number `retry` (1, 2, 3) of a failed download part:
// 2 s, 4 s, 8 s.
int retryDelayMs(int retry);
// How many times a failed download part is tried again.
inline constexpr int maxRetries = 3;

// Aborts the reply once it has gone stallMs() without receiving anything;
// timedOut() tells afterwards that this is why it ended.
void watch(QNetworkReply* reply);
bool timedOut(const QNetworkReply* reply);

// Test seams: replace the stall time or the retry pauses for the whole
// process; nullptr restores the real ones.
void setStall(std::function<int()> stallMs);
void setRetryDelay(std::function<int(int retry)> delayMs);

} // namespace NetworkTimeouts
