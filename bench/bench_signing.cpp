// Cost of signing a request (the test whether it goes to the service, stamp,
// HMAC, token JSON, identity with the address enumeration) against a plain GET
// round trip to a loopback server, in one run.
// Target: signing under 5% of the round trip.
#include "core/net/networkaccessmanager.h"
#include "core/signing.h"
#include "core/trust.h"
#include "support/fakeservice.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

std::unique_ptr<TestSupport::FakeService> service;
QUrl apiUrl;

void getOnce(QNetworkAccessManager& manager) {
    QNetworkReply* reply = manager.get(QNetworkRequest(apiUrl));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    benchmark::DoNotOptimize(reply->readAll());
    delete reply;
}

void SignRequest(benchmark::State& state) {
    const QList<QNetworkCookie> cookies{QNetworkCookie("token", "9f3c2a7d41e8b605"), QNetworkCookie("userid", "4711")};
    for (auto _ : state) {
        QNetworkRequest request(apiUrl);
        // What the signing manager adds to each request: is it for the service, then the signature.
        if (Trust::isServiceUrl(request.url()))
            Signing::signRequest(request, cookies);
        benchmark::DoNotOptimize(request);
    }
}

void PlainLoopbackGet(benchmark::State& state) {
    QNetworkAccessManager manager;
    getOnce(manager); // connection established outside the timing
    for (auto _ : state)
        getOnce(manager);
}

void SignedLoopbackGet(benchmark::State& state) {
    QNetworkAccessManager old;
    NetworkAccessManager manager(&old, nullptr);
    getOnce(manager);
    for (auto _ : state)
        getOnce(manager);
}

BENCHMARK(SignRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(PlainLoopbackGet)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(SignedLoopbackGet)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

class Collecting : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> microseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            microseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    service = std::make_unique<TestSupport::FakeService>(TestSupport::FakeService::Tls::Off, true);
    TestSupport::FakeService::Reply reply;
    reply.contentType = "application/json; charset=utf-8";
    reply.body = R"({"sentences":[{"start":0,"text":"Jeden Samstag gehe ich auf den Wochenmarkt.","chinese":"x"}]})";
    service->setReply("/api/v4/vorb/sentence/7a1e2b3c-4d5e-4f60-8a9b-000000000101", reply);
    apiUrl = QUrl(service->url("/api/v4/vorb/sentence/7a1e2b3c-4d5e-4f60-8a9b-000000000101"));
    // The loopback server is the configured service, so the signing manager signs what it sends there.
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service->port()));
    if (!Trust::isServiceUrl(apiUrl))
        return 1;

    benchmark::Initialize(&argc, argv);
    Collecting reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double sign = reporter.microseconds["SignRequest"];
    const double get = reporter.microseconds["PlainLoopbackGet/min_time:2.000"];
    const double signedGet = reporter.microseconds["SignedLoopbackGet/min_time:2.000"];
    if (sign > 0 && get > 0) {
        std::printf("\nsigning: %.2f us per request; loopback GET round trip: %.1f us (signed manager: %.1f us)\n",
                    sign, get, signedGet);
        std::printf("signing / round trip = %.2f%% (target < 5%%): %s\n", 100.0 * sign / get,
                    sign / get < 0.05 ? "met" : "MISSED");
    }
    service.reset();
    return 0;
}
