#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace TestSupport {

// A loopback HTTP or HTTPS server on its own thread that a test programs per
// path: status, headers, body, a delay, redirects or a dropped connection.
// Every request it receives is recorded.
class FakeService {
public:
    enum class Tls {
        Off,       // plain HTTP
        Trusted,   // certificate issued by tests/data/test-ca.pem
        Untrusted, // self-signed certificate nobody trusts
    };

    struct Reply {
        int status = 200;
        QByteArray contentType = "text/plain";
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;             // wait before answering (cut short when the service stops)
        QByteArray location;         // Location header, for redirects
        bool dropConnection = false; // announce the body, send half of it, close the connection
        qint64 generatedSize = -1;   // stream this many filler bytes instead of body (chunked: never held whole)
        int blockDelayMs = 0;        // pause after each block (a slow download, or a trickle with small blocks)
        int blockSize = 64 * 1024;   // of generated, chunked or (with a block delay) plain bodies
        bool chunked = false;        // chunked transfer: no Content-Length, the size is unknown until the end
        qint64 stallAfter = -1;      // announce the body, send this many bytes, then send nothing more
    };

    struct Request {
        QByteArray method;
        QByteArray path;                      // decoded path without the query
        QByteArray target;                    // path and query as sent
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    };

    // keepAlive: serve several requests per connection (benchmarks); tests use one
    // request per connection so that shutting down never waits for idle connections.
    explicit FakeService(Tls tls = Tls::Off, bool keepAlive = false);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool isListening() const;
    int port() const;
    QString baseUrl() const; // scheme://127.0.0.1:port
    QString url(const QString& pathAndQuery) const;

    // The answer for a path (any method); unknown paths get 404.
    void setReply(const QByteArray& path, const Reply& reply);
    // Computes the answer for every path without a fixed reply.
    void setHandler(std::function<Reply(const Request&)> handler);

    QList<Request> requests() const;
    QList<Request> requestsFor(const QByteArray& path) const;
    void clearRequests();

    // The CA file that makes the Trusted certificate valid.
    static QString caFile();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace TestSupport
