// The bundled sample service: a loopback HTTP and HTTPS server that answers the
// requests the client and the sample pages make. See README.md.

#include "installerproof.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// Shared with the client: the HMAC key and the offset added to the stamp's clock.
const char salt[] = "%7Kbmqx4Tde81r";
const qint64 stampOffset = 27340519;
// How far a stamp may be from our clock.
const qint64 stampTolerance = 600;

const char jsonType[] = "application/json; charset=utf-8";

struct Article {
    QString uuid;
    QString title;
    QString media;  // "audio" or "video"
    QString answer; // how /api/v3/media/Mp3 answers: "json", "direct" or "redirect"
    QString thumbnail;
    QString mediaFile;
    int sentences = 0;
};

struct Channel {
    QString uuid;
    QString title;
    QString thumbnail;
    QList<Article> articles;
};

struct Content {
    QDir dir;
    QList<Channel> channels;
    QMap<QString, Article> articles;
    QString installer;
    // What the version answer promises about the installer: its SHA-256 (hex) and
    // an Ed25519 signature over its bytes (base64), made with update-key.pem.
    QString installerSha256;
    QString installerSignature;
};

struct Options {
    bool offerUpdate = false;
};

std::mutex logMutex;

std::string text(const QByteArray& b) {
    return std::string(b.constData(), size_t(b.size()));
}

std::string text(const QString& s) {
    return text(s.toUtf8());
}

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), int(s.size()));
}

bool loadContent(const QString& dataDir, Content& content) {
    content.dir = QDir(dataDir);
    QFile file(content.dir.filePath(QStringLiteral("content.json")));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    content.installer = root.value(QStringLiteral("installer")).toString();
    for (const QJsonValue& c : root.value(QStringLiteral("channels")).toArray()) {
        const QJsonObject co = c.toObject();
        Channel channel{co.value(QStringLiteral("uuid")).toString(),
                        co.value(QStringLiteral("title")).toString(),
                        co.value(QStringLiteral("thumbnail")).toString(),
                        {}};
        for (const QJsonValue& a : co.value(QStringLiteral("articles")).toArray()) {
            const QJsonObject ao = a.toObject();
            Article article{
                ao.value(QStringLiteral("uuid")).toString(),      ao.value(QStringLiteral("title")).toString(),
                ao.value(QStringLiteral("media")).toString(),     ao.value(QStringLiteral("answer")).toString(),
                ao.value(QStringLiteral("thumbnail")).toString(), ao.value(QStringLiteral("mediaFile")).toString(),
                ao.value(QStringLiteral("sentences")).toInt()};
            channel.articles << article;
            content.articles.insert(article.uuid, article);
        }
        content.channels << channel;
    }
    QFile installer(content.dir.filePath(content.installer));
    QFile key(content.dir.filePath(QStringLiteral("update-key.pem")));
    if (installer.open(QIODevice::ReadOnly)) {
        const QByteArray pem = key.open(QIODevice::ReadOnly) ? key.readAll() : QByteArray();
        const InstallerProof proof = proveInstaller(pem, installer.readAll());
        content.installerSha256 = proof.sha256;
        content.installerSignature = proof.signature;
    }
    return !content.channels.isEmpty();
}

// scheme://host[:port] as the client addressed us.
QString origin(const httplib::Request& req, bool tls) {
    const QString host = QString::fromStdString(req.get_header_value("Host"));
    return (tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host;
}

QByteArray hmacSha1Base64(const QByteArray& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), salt, int(sizeof(salt) - 1), reinterpret_cast<const unsigned char*>(message.constData()),
         size_t(message.size()), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toBase64();
}

bool stampFresh(const QString& stamp) {
    const QByteArray decoded = QByteArray::fromBase64(stamp.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    bool ok = false;
    const qint64 seconds = decoded.toLongLong(&ok) - stampOffset;
    return ok && qAbs(seconds - qint64(std::time(nullptr))) <= stampTolerance;
}

// Checks a "QYN <base64 token JSON>" value against the text the client must have signed.
bool tokenValid(const QByteArray& value, const QByteArray& signedText, QString* why) {
    if (!value.startsWith("QYN ")) {
        *why = QStringLiteral("no QYN token");
        return false;
    }
    const QByteArray json = QByteArray::fromBase64(value.mid(4), QByteArray::AbortOnBase64DecodingErrors);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject()) {
        *why = QStringLiteral("token is not a JSON object");
        return false;
    }
    const QJsonObject token = doc.object();
    if (!stampFresh(token.value(QStringLiteral("t")).toString())) {
        *why = QStringLiteral("stale or malformed stamp");
        return false;
    }
    if (token.value(QStringLiteral("urlsign")).toString().toLatin1() != hmacSha1Base64(signedText)) {
        *why = QStringLiteral("signature does not match \"%1\"").arg(QString::fromUtf8(signedText));
        return false;
    }
    return true;
}

// The client signs its URL in Qt's default text form without "scheme://host",
// so a port stays in front of the path and the query is pretty-decoded.
QByteArray requestSignedText(const httplib::Request& req, bool tls) {
    const QUrl url(origin(req, tls) + QString::fromStdString(req.target));
    QString textForm = url.toString();
    textForm.remove(url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyDecoded));
    return textForm.toUtf8();
}

bool authorized(const httplib::Request& req, httplib::Response& res, bool tls) {
    QString why;
    if (!req.has_header("Authorization")) {
        why = QStringLiteral("no Authorization header");
    } else if (tokenValid(bytes(req.get_header_value("Authorization")), requestSignedText(req, tls), &why)) {
        return true;
    }
    res.status = 401;
    res.set_header("WWW-Authenticate", "QYN");
    res.set_content(text(QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact)),
                    jsonType);
    return false;
}

QByteArray readFile(const QString& path, bool* ok) {
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

std::string mediaType(const QString& path) {
    if (path.endsWith(QLatin1String(".mp4")))
        return "video/mp4";
    if (path.endsWith(QLatin1String(".mp3")))
        return "audio/mpeg";
    if (path.endsWith(QLatin1String(".png")))
        return "image/png";
    if (path.endsWith(QLatin1String(".zip")))
        return "application/zip";
    return "application/octet-stream";
}

void notFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("{\"error\":\"not found\"}", jsonType);
}

QJsonObject catalogue(const Content& content, const QString& base) {
    QJsonArray channels;
    for (const Channel& channel : content.channels) {
        QJsonArray articles;
        for (const Article& article : channel.articles) {
            articles.append(
                QJsonObject{{QStringLiteral("uuid"), article.uuid},
                            {QStringLiteral("title"), article.title},
                            {QStringLiteral("image_url_thumbnail"), base + QLatin1Char('/') + article.thumbnail},
                            {QStringLiteral("media"), article.media},
                            // The media file itself, so the pages can play it with sentence times.
                            {QStringLiteral("media_url"), base + QLatin1Char('/') + article.mediaFile},
                            {QStringLiteral("sentences"), article.sentences}});
        }
        channels.append(QJsonObject{{QStringLiteral("uuid"), channel.uuid},
                                    {QStringLiteral("title"), channel.title},
                                    {QStringLiteral("thumbnail_url"), base + QLatin1Char('/') + channel.thumbnail},
                                    {QStringLiteral("articles"), articles}});
    }
    return QJsonObject{{QStringLiteral("channels"), channels}};
}

void addCors(const httplib::Request& req, httplib::Response& res) {
    // Pages loaded from file:// send "Origin: null"; echoing it lets them send cookies too.
    const std::string requestOrigin = req.get_header_value("Origin");
    if (requestOrigin.empty()) {
        res.set_header("Access-Control-Allow-Origin", "*");
    } else {
        res.set_header("Access-Control-Allow-Origin", requestOrigin);
        res.set_header("Access-Control-Allow-Credentials", "true");
        res.set_header("Vary", "Origin");
    }
    res.set_header("Access-Control-Allow-Methods", "GET, POST, HEAD, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", "Authorization, MarloUserAgent, Content-Type, X-Requested-With");
    res.set_header("Access-Control-Expose-Headers", "Location, Content-Type");
    res.set_header("Access-Control-Max-Age", "600");
}

void logRequest(const httplib::Request& req, const httplib::Response& res, bool tls) {
    const std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(stderr, "%s %s %s %s -> %d | Authorization: %s | User-Agent: %s | MarloUserAgent: %s\n",
                 qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)), tls ? "https" : "http",
                 req.method.c_str(), req.target.c_str(), res.status, req.get_header_value("Authorization").c_str(),
                 req.get_header_value("User-Agent").c_str(), req.get_header_value("MarloUserAgent").c_str());
    std::fflush(stderr);
}

void setUp(httplib::Server& server, const Content& content, const Options& options, bool tls) {
    // Headers and body are separate writes; without this, delayed ACKs stall each answer.
    server.set_tcp_nodelay(true);
    server.set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) { addCors(req, res); });
    server.set_logger([tls](const httplib::Request& req, const httplib::Response& res) { logRequest(req, res, tls); });
    server.Options(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });

    server.Get("/api/catalogue", [&content, tls](const httplib::Request& req, httplib::Response& res) {
        if (!authorized(req, res, tls))
            return;
        res.set_content(text(QJsonDocument(catalogue(content, origin(req, tls))).toJson(QJsonDocument::Compact)),
                        jsonType);
    });

    server.Get(R"(/api/v4/vorb/archive/([^/]+))", [&content, tls](const httplib::Request& req, httplib::Response& res) {
        if (!authorized(req, res, tls))
            return;
        const QString id = QString::fromStdString(req.matches[1]);
        if (!content.articles.contains(id) || req.get_param_value("type") != "0")
            return notFound(res);
        res.set_redirect(text(origin(req, tls) + QStringLiteral("/files/archive/%1.zip").arg(id)), 302);
    });

    // The three answers the client accepts, chosen per article.
    server.Get(R"(/api/v3/media/Mp3/([^/]+))", [&content, tls](const httplib::Request& req, httplib::Response& res) {
        if (!authorized(req, res, tls))
            return;
        const QString id = QString::fromStdString(req.matches[1]);
        if (!content.articles.contains(id))
            return notFound(res);
        const Article& article = content.articles[id];
        const QString mediaUrl = origin(req, tls) + QLatin1Char('/') + article.mediaFile;
        if (article.answer == QLatin1String("json")) {
            res.set_content(text(QLatin1Char('"') + mediaUrl + QLatin1Char('"')), jsonType);
        } else if (article.answer == QLatin1String("redirect")) {
            res.set_redirect(text(mediaUrl), 302);
        } else {
            bool ok = false;
            const QByteArray data = readFile(content.dir.filePath(article.mediaFile), &ok);
            if (!ok)
                return notFound(res);
            res.set_content(text(data), mediaType(article.mediaFile));
        }
    });

    server.Get(R"(/api/v4/vorb/sentence/([^/]+))", [&content, tls](const httplib::Request& req,
                                                                   httplib::Response& res) {
        if (!authorized(req, res, tls))
            return;
        bool ok = false;
        const QByteArray data = readFile(
            content.dir.filePath(QStringLiteral("sentence/%1.json").arg(QString::fromStdString(req.matches[1]))), &ok);
        if (!ok)
            return notFound(res);
        res.set_content(text(data), jsonType);
    });

    // The media URL the player fetches itself: signed in its query, answered with a redirect to the file.
    server.Get(R"(/api/v3/media/mp3/([^/]+))", [&content, tls](const httplib::Request& req, httplib::Response& res) {
        const QString id = QString::fromStdString(req.matches[1]);
        // Split the raw target: '+' in the base64 token must not turn into a blank.
        const QByteArray target = bytes(req.target);
        const int tokenAt = target.indexOf("&token=");
        QString why = QStringLiteral("no token in the query");
        if (tokenAt >= 0) {
            const QByteArray signedText = QByteArray::fromPercentEncoding(target.left(tokenAt));
            const QByteArray token = QByteArray::fromPercentEncoding(target.mid(tokenAt + 7));
            if (tokenValid(token, signedText, &why)) {
                if (!content.articles.contains(id))
                    return notFound(res);
                const QString base = origin(req, tls);
                res.set_redirect(text(base + QLatin1Char('/') + content.articles[id].mediaFile), 302);
                return;
            }
        }
        res.status = 401;
        res.set_content(text(QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact)),
                        jsonType);
    });

    server.Get("/api/v2/appsupport/CheckVersion",
               [&content, &options, tls](const httplib::Request& req, httplib::Response& res) {
                   if (!options.offerUpdate) {
                       res.set_content(text(QStringLiteral("\"暂无更新\"")), jsonType);
                       return;
                   }
                   const QJsonObject update{
                       {QStringLiteral("version"), QStringLiteral("3.3.2")},
                       {QStringLiteral("publish_date"), QStringLiteral("2026-12-01")},
                       {QStringLiteral("info"), QStringLiteral("Neue Beispielartikel und kleinere Verbesserungen.")},
                       {QStringLiteral("url"), origin(req, tls) + QLatin1Char('/') + content.installer},
                       {QStringLiteral("sha256"), content.installerSha256},
                       {QStringLiteral("signature"), content.installerSignature}};
                   res.set_content(text(QJsonDocument(update).toJson(QJsonDocument::Compact)), jsonType);
               });

    // Sign-in of the sample pages: hands out the cookies the client signs with.
    auto signIn = [](const httplib::Request& req, httplib::Response& res) {
        std::string name = req.get_param_value("name");
        if (name.empty())
            name = "gast";
        const QString userid = QString::number(1000 + qHash(QString::fromStdString(name)) % 9000);
        const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
        res.set_header("Set-Cookie", text(QStringLiteral("token=%1; Path=/").arg(token)));
        res.headers.emplace("Set-Cookie", text(QStringLiteral("userid=%1; Path=/").arg(userid)));
        res.set_content(text(QJsonDocument(QJsonObject{{QStringLiteral("userid"), userid},
                                                       {QStringLiteral("token"), token},
                                                       {QStringLiteral("name"), QString::fromStdString(name)}})
                                 .toJson(QJsonDocument::Compact)),
                        jsonType);
    };
    server.Get("/api/signin", signIn);
    server.Post("/api/signin", signIn);
    server.Get("/api/signout", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "token=; Path=/; Max-Age=0");
        res.headers.emplace("Set-Cookie", "userid=; Path=/; Max-Age=0");
        res.set_content("{}", jsonType);
    });

    // Archives, media, installer and thumbnails: plain files, no signature.
    server.Get(R"(/(files|pool)/(.+))", [&content](const httplib::Request& req, httplib::Response& res) {
        const QString relative =
            QString::fromStdString(req.matches[1]) + QLatin1Char('/') + QString::fromStdString(req.matches[2]);
        if (relative.contains(QLatin1String("..")))
            return notFound(res);
        bool ok = false;
        const QByteArray data = readFile(content.dir.filePath(relative), &ok);
        if (!ok)
            return notFound(res);
        res.set_content(text(data), mediaType(relative));
    });
}

// Ends at once: waiting for the clients' idle keep-alive connections to time out
// would only delay the launcher and the tests.
void stopServers(int) {
    _exit(0);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tavrolin sample service"));
    parser.addHelpOption();
    const QCommandLineOption dataOption(QStringLiteral("data"), QStringLiteral("Generated content directory."),
                                        QStringLiteral("dir"));
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("host"), QStringLiteral(TAVROLIN_DEFAULT_SERVICE_HOST));
    const QCommandLineOption httpOption(QStringLiteral("http-port"), QStringLiteral("HTTP port."),
                                        QStringLiteral("port"), QString::number(TAVROLIN_DEFAULT_SERVICE_HTTP_PORT));
    const QCommandLineOption httpsOption(QStringLiteral("https-port"), QStringLiteral("HTTPS port."),
                                         QStringLiteral("port"), QString::number(TAVROLIN_DEFAULT_SERVICE_HTTPS_PORT));
    const QCommandLineOption updateOption(QStringLiteral("offer-update"),
                                          QStringLiteral("Answer the version check with an available update."));
    parser.addOptions({dataOption, hostOption, httpOption, httpsOption, updateOption});
    parser.process(app);

    const QString dataDir = parser.value(dataOption);
    Content content;
    if (dataDir.isEmpty() || !loadContent(dataDir, content)) {
        std::fprintf(stderr, "tavrolin-service: no content in \"%s\" (give --data <dir>)\n", qPrintable(dataDir));
        return 2;
    }
    Options options;
    options.offerUpdate = parser.isSet(updateOption);
    const std::string host = text(parser.value(hostOption));
    const int httpPort = parser.value(httpOption).toInt();
    const int httpsPort = parser.value(httpsOption).toInt();

    httplib::Server plain;
    const std::string cert = text(content.dir.filePath(QStringLiteral("service-cert.pem")));
    const std::string key = text(content.dir.filePath(QStringLiteral("service-key.pem")));
    httplib::SSLServer secure(cert.c_str(), key.c_str());
    if (!secure.is_valid()) {
        std::fprintf(stderr, "tavrolin-service: cannot load %s / %s\n", cert.c_str(), key.c_str());
        return 2;
    }
    setUp(plain, content, options, false);
    setUp(secure, content, options, true);
    if (!plain.bind_to_port(host, httpPort) || !secure.bind_to_port(host, httpsPort)) {
        std::fprintf(stderr, "tavrolin-service: cannot listen on %s:%d and :%d\n", host.c_str(), httpPort, httpsPort);
        return 1;
    }
    std::signal(SIGINT, stopServers);
    std::signal(SIGTERM, stopServers);
    std::fprintf(stderr, "tavrolin-service: http://%s:%d and https://%s:%d, content %s%s\n", host.c_str(), httpPort,
                 host.c_str(), httpsPort, qPrintable(dataDir), options.offerUpdate ? ", offering an update" : "");
    std::fflush(stderr);

    std::thread secureThread([&secure] { secure.listen_after_bind(); });
    plain.listen_after_bind();
    secure.stop();
    secureThread.join();
    return 0;
}
