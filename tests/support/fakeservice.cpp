#include "support/fakeservice.h"

#include "support/testsupport.h"

#include <httplib.h>

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace TestSupport {

struct FakeService::Private {
    Tls tls = Tls::Off;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = -1;

    mutable QMutex mutex;
    QMap<QByteArray, Reply> replies;
    std::function<Reply(const Request&)> handler;
    QList<Request> requests;

    std::mutex stopMutex;
    std::condition_variable stopped;
    bool stopping = false;

    void serve(const httplib::Request& in, httplib::Response& out);
};

namespace {

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), int(s.size()));
}

std::string text(const QByteArray& b) {
    return std::string(b.constData(), size_t(b.size()));
}

} // namespace

void FakeService::Private::serve(const httplib::Request& in, httplib::Response& out) {
    Request request;
    request.method = bytes(in.method);
    request.path = bytes(in.path);
    request.target = bytes(in.target);
    request.body = bytes(in.body);
    for (const auto& header : in.headers)
        request.headers.insert(bytes(header.first).toLower(), bytes(header.second));

    Reply reply;
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        if (replies.contains(request.path))
            reply = replies.value(request.path);
        else if (handler)
            reply = handler(request);
        else
            reply.status = 404;
    }

    if (reply.delayMs > 0) {
        std::unique_lock<std::mutex> lock(stopMutex);
        stopped.wait_for(lock, std::chrono::milliseconds(reply.delayMs), [this] { return stopping; });
    }

    // Left unset for 200, so a range request is answered with 206 and its range.
    if (reply.status != 200)
        out.status = reply.status;
    for (const auto& header : reply.headers)
        out.set_header(text(header.first), text(header.second));
    if (!reply.location.isEmpty())
        out.set_header("Location", text(reply.location));

    const std::string type = text(reply.contentType);
    // Waits between blocks of a slow download; false once the service stops.
    auto pause = [this](int ms) {
        std::unique_lock<std::mutex> lock(stopMutex);
        return !stopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    };
    if (reply.stallAfter >= 0) {
        // A range request starts at its offset; the stall counts from there.
        const std::string body =
            reply.generatedSize >= 0 ? std::string(size_t(reply.generatedSize), 'x') : text(reply.body);
        const size_t stallAfter = size_t(reply.stallAfter);
        auto start = std::make_shared<size_t>(std::string::npos);
        out.set_content_provider(body.size(), type,
                                 [body, stallAfter, start, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (*start == std::string::npos)
                                         *start = offset;
                                     const size_t limit = std::min(body.size(), *start + stallAfter);
                                     if (offset >= limit) {
                                         pause(60000); // until the client gives up or the service stops
                                         return false;
                                     }
                                     sink.write(body.data() + offset, limit - offset);
                                     return true;
                                 });
    } else if (reply.chunked) {
        // Generated bodies are made block by block, so an endless one costs nothing.
        const std::string body = text(reply.body);
        const qint64 total = reply.generatedSize >= 0 ? reply.generatedSize : qint64(body.size());
        const bool generated = reply.generatedSize >= 0;
        const int delay = reply.blockDelayMs;
        const size_t blockSize = size_t(reply.blockSize);
        out.set_chunked_content_provider(
            type, [body, total, generated, delay, blockSize, pause](size_t offset, httplib::DataSink& sink) {
                if (qint64(offset) >= total) {
                    sink.done();
                    return true;
                }
                if (offset > 0 && delay > 0 && !pause(delay))
                    return false;
                const size_t n = std::min<size_t>(blockSize, size_t(total - qint64(offset)));
                if (generated)
                    sink.write(std::string(n, 'x').data(), n);
                else
                    sink.write(body.data() + offset, n);
                return true;
            });
    } else if (reply.generatedSize >= 0) {
        const size_t total = size_t(reply.generatedSize);
        const size_t limit = reply.dropConnection ? total / 2 : total;
        const int delay = reply.blockDelayMs;
        const std::string block(size_t(reply.blockSize), 'x');
        out.set_content_provider(total, type,
                                 [limit, delay, block, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= limit)
                                         return false; // closes the connection short of the announced length
                                     if (offset > 0 && delay > 0 && !pause(delay))
                                         return false;
                                     sink.write(block.data(), std::min(block.size(), limit - offset));
                                     return true;
                                 });
    } else if (reply.blockDelayMs > 0 && !reply.dropConnection) {
        const std::string body = text(reply.body);
        const int delay = reply.blockDelayMs;
        const size_t blockSize = size_t(reply.blockSize);
        out.set_content_provider(body.size(), type,
                                 [body, delay, blockSize, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset > 0 && !pause(delay))
                                         return false;
                                     sink.write(body.data() + offset, std::min(blockSize, body.size() - offset));
                                     return true;
                                 });
    } else if (reply.dropConnection) {
        const std::string body = text(reply.body);
        out.set_content_provider(body.size(), type, [body](size_t offset, size_t, httplib::DataSink& sink) {
            const size_t half = body.size() / 2;
            if (offset >= half)
                return false;
            sink.write(body.data() + offset, half - offset);
            return true;
        });
    } else {
        out.set_content(text(reply.body), type);
    }
}

FakeService::FakeService(Tls tls, bool keepAlive) : d(new Private) {
    d->tls = tls;
    if (tls == Tls::Off) {
        d->server = std::make_unique<httplib::Server>();
    } else {
        const QString cert = dataPath(tls == Tls::Trusted ? "test-server-cert.pem" : "test-untrusted-cert.pem");
        const QString key = dataPath(tls == Tls::Trusted ? "test-server-key.pem" : "test-untrusted-key.pem");
        d->server = std::make_unique<httplib::SSLServer>(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    }
    auto serve = [this](const httplib::Request& in, httplib::Response& out) { d->serve(in, out); };
    if (!keepAlive)
        d->server->set_keep_alive_max_count(1);
    // Headers and body go out in separate writes; without this, Nagle and delayed ACKs add ~40 ms.
    d->server->set_tcp_nodelay(true);
    d->server->Get(".*", serve);
    d->server->Post(".*", serve);
    d->server->Put(".*", serve);
    d->server->Delete(".*", serve);
    d->server->Options(".*", serve);
    if (!d->server->is_valid())
        return;
    d->port = d->server->bind_to_any_port("127.0.0.1");
    if (d->port > 0) {
        d->thread = std::thread([this] { d->server->listen_after_bind(); });
        // stop() does nothing until the loop runs, so a service destroyed at once would never end.
        for (int i = 0; i < 5000 && !d->server->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

FakeService::~FakeService() {
    {
        std::lock_guard<std::mutex> lock(d->stopMutex);
        d->stopping = true;
    }
    d->stopped.notify_all();
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
}

bool FakeService::isListening() const {
    return d->port > 0;
}

int FakeService::port() const {
    return d->port;
}

QString FakeService::baseUrl() const {
    return (d->tls == Tls::Off ? QStringLiteral("http://127.0.0.1:") : QStringLiteral("https://127.0.0.1:")) +
           QString::number(d->port);
}

QString FakeService::url(const QString& pathAndQuery) const {
    return baseUrl() + pathAndQuery;
}

void FakeService::setReply(const QByteArray& path, const Reply& reply) {
    QMutexLocker lock(&d->mutex);
    d->replies.insert(path, reply);
}

void FakeService::setHandler(std::function<Reply(const Request&)> handler) {
    QMutexLocker lock(&d->mutex);
    d->handler = std::move(handler);
}

QList<FakeService::Request> FakeService::requests() const {
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

QList<FakeService::Request> FakeService::requestsFor(const QByteArray& path) const {
    QMutexLocker lock(&d->mutex);
    QList<Request> out;
    for (const Request& request : d->requests) {
        if (request.path == path)
            out << request;
    }
    return out;
}

void FakeService::clearRequests() {
    QMutexLocker lock(&d->mutex);
    d->requests.clear();
}

QString FakeService::caFile() {
    return dataPath(QStringLiteral("test-ca.pem"));
}

} // namespace TestSupport
