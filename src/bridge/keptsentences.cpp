#include "bridge/keptsentences.h"

#include "bridge/bridgecontext.h"
#include "core/net/timeouts.h"
#include "core/pageprotocol.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "library/librarymodule.h"
#include "player/clipplayer.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>

namespace {

std::function<qint64()>& clockSource() {
    static std::function<qint64()> source;
    return source;
}

QString json(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString failure(const QString& text) {
    return json(QJsonObject{{"ok", false}, {"error", text}});
}

// The longest text a page may hand over for one field.
constexpr int maxFieldLength = 4000;
// The last sentence has no next start: its clip runs to the media's end, at most this long.
constexpr qint64 lastSentenceLimitMs = 60000;
// Online media larger than this are not fetched for a clip.
constexpr qint64 maxDownloadBytes = 512LL * 1024 * 1024;

QString field(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().left(maxFieldLength);
}

QString localPath(QString path) {
    if (path.startsWith(QStringLiteral("file:")))
        path = QUrl(path).toLocalFile();
    return path;
}

// A safe id from a name: letters, digits, '-' and '_' only, at most 64.
QString safeId(const QString& name) {
    QString out;
    for (const QChar c : name)
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            out += c;
    return out.left(64);
}

} // namespace

KeptSentences::KeptSentences(BridgeContext& context, QObject* parent) : QObject(parent), context(context) {
    context.loadPageTranslation(); // the export's messages, in German
}

KeptSentences::~KeptSentences() = default;

void KeptSentences::setClock(std::function<qint64()> clock) {
    clockSource() = std::move(clock);
}

qint64 KeptSentences::now() {
    return clockSource() ? clockSource()() : QDateTime::currentMSecsSinceEpoch();
}

void KeptSentences::setPracticeItem(const QString& source, const QString& sourceType, const QList<int>& startTimes) {
    src = source;
    type = sourceType;
    starts = startTimes;
    ends.clear();
}

void KeptSentences::setEndTimes(const QList<int>& endTimes) {
    ends = endTimes;
}

QString KeptSentences::clipsDirectory() const {
    return dataDirectory() + QStringLiteral("clips");
}

ReviewStore* KeptSentences::store() {
    if (!reviewStore) {
        LibraryModule* module = context.library.module();
        if (!module)
            return nullptr;
        ensureDataDirectory();
        reviewStore = module->openReviewStore(dataDirectory(), clipsDirectory());
    }
    if (!reviewStore->errorString().isEmpty()) {
        qWarning("Kept sentences: %s", qPrintable(reviewStore->errorString()));
        return nullptr;
    }
    return reviewStore.get();
}

QString KeptSentences::unavailable() const {
    return QStringLiteral("Die gemerkten Sätze sind nicht verfügbar: ein Teil des Programms fehlt oder die Datenbank "
                          "ist beschädigt.");
}

void KeptSentences::runAside(const std::function<void()>& work) {
    std::unique_ptr<QThread> worker(QThread::create(work));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
}

QString KeptSentences::keep(int index, const QString& text) {
    if (busy)
        return failure(QStringLiteral("Ein Satz wird gerade gemerkt."));
    const QJsonObject in = QJsonDocument::fromJson(text.toUtf8()).object();
    if (src.isEmpty() || starts.isEmpty())
        return failure(QStringLiteral("Es wird gerade kein Satz geübt."));
    if (index < 0 || index >= starts.size())
        return failure(QStringLiteral("Diesen Satz gibt es nicht."));
    ReviewStore* cards = store();
    if (!cards)
        return failure(unavailable());

    const qint64 start = starts[index];
    const qint64 next = index + 1 < starts.size() ? starts[index + 1] : -1;
    qint64 end = -1; // the last sentence: to the end of the media
    if (index < ends.size() && ends[index] > start && (next < 0 || ends[index] <= next))
        end = ends[index];
    else if (next > start)
        end = next;
    const auto [kind, sourceId] = currentSource();
    const QString id = KeptCardIds::cardId(kind, sourceId, index);
    const QString clip = id + QStringLiteral(".ogg");
    qint64 length = 0;
    const QString why = cutClip(start, end > 0 ? end : start + lastSentenceLimitMs, clip, &length);
    if (end < 0)
        end = start + length;
    const QJsonObject card{{"id", id},
                           {"text", field(in, "text").trimmed()},
                           {"translation", field(in, "translation").trimmed()},
                           {"title", field(in, "title").trimmed()},
                           {"sourceKind", kind},
                           {"sourceId", sourceId},
                           {"media", src},
                           {"sentence", index},
                           {"start", start},
                           {"end", end},
                           {"clip", why.isEmpty() ? clip : QString()}};
    const QJsonObject stored = cards->keep(card, now());
    if (stored.isEmpty()) {
        if (why.isEmpty())
            QFile::remove(QDir(clipsDirectory()).filePath(clip));
        return failure(QStringLiteral("Der Satz konnte nicht gespeichert werden."));
    }
    QJsonObject out{{"ok", true}, {"card", stored}};
    if (!why.isEmpty())
        out.insert("warning", QStringLiteral("Der Satz ist gemerkt, aber ohne Ton: ") + why);
    return json(out);
}

QString KeptSentences::cutClip(qint64 startMs, qint64 endMs, const QString& clip, qint64* durationMs) {
    LibraryModule* module = context.library.module();
    const QString dir = clipsDirectory();
    if (!module)
        return QStringLiteral("Ein Teil des Programms fehlt.");
    if (!QDir().mkpath(dir))
        return QStringLiteral("Der Ordner für die Töne fehlt.");
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    busy = true;
    QString input = localPath(src);
    QString downloaded;
    if (type == PageProtocol::online) {
        QString error;
        downloaded = download(src, &error);
        if (downloaded.isEmpty()) {
            busy = false;
            return error;
        }
        input = downloaded;
    } else if (!QFileInfo(input).isFile()) {
        busy = false;
        return QStringLiteral("Die Mediendatei ist nicht mehr da.");
    }
    QJsonObject result;
    const QString output = QDir(dir).filePath(clip);
    runAside([&] { result = module->cutClip(input, startMs, endMs, output); });
    if (!downloaded.isEmpty())
        QFile::remove(downloaded);
    busy = false;
    *durationMs = qint64(result.value("duration").toDouble());
    if (!result.value("ok").toBool()) {
        qWarning("Clip of %s (%lld-%lld ms): %s", qPrintable(clip), startMs, endMs,
                 qPrintable(result.value("error").toString()));
        return QStringLiteral("Der Ton konnte nicht geschnitten werden.");
    }
    return QString();
}

QString KeptSentences::download(const QString& url, QString* error) {
    QNetworkAccessManager* manager = network ? network() : nullptr;
    const QUrl target(url);
    const bool web = target.scheme() == QStringLiteral("https") || target.scheme() == QStringLiteral("http");
    if (!manager || !target.isValid() || !web) {
        *error = QStringLiteral("Der Ton des Artikels ist nicht erreichbar.");
        return QString();
    }
    QSaveFile file(QDir(clipsDirectory()).filePath(QStringLiteral(".download")));
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Der Ton des Artikels kann nicht zwischengespeichert werden.");
        return QString();
    }
    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager->get(request);
    NetworkTimeouts::watch(reply);
    bool tooLarge = false;
    QEventLoop loop;
    connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray data = reply->readAll();
        if (file.pos() + data.size() > maxDownloadBytes) {
            tooLarge = true;
            reply->abort();
            return;
        }
        file.write(data);
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->isOpen())
        file.write(reply->readAll());
    const bool ok = reply->error() == QNetworkReply::NoError && !tooLarge;
    const bool timedOut = NetworkTimeouts::timedOut(reply);
    reply->deleteLater();
    if (!ok || !file.commit()) {
        *error = timedOut ? QStringLiteral("Der Ton des Artikels kam nicht rechtzeitig.")
                          : QStringLiteral("Der Ton des Artikels ist nicht erreichbar.");
        return QString();
    }
    return QDir(clipsDirectory()).filePath(QStringLiteral(".download"));
}

QString KeptSentences::forget(const QString& id) {
    if (!KeptCardIds::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    ReviewStore* cards = store();
    if (!cards)
        return failure(unavailable());
    QString clip;
    if (!cards->forget(id, &clip))
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    if (!clip.isEmpty())
        QFile::remove(QDir(clipsDirectory()).filePath(clip));
    return json(QJsonObject{{"ok", true}, {"id", id}});
}

std::pair<QString, QString> KeptSentences::currentSource() {
    if (type == PageProtocol::online)
        return {QStringLiteral("article"), safeId(QFileInfo(QUrl(src).path()).completeBaseName())};
    const QFileInfo info(localPath(src));
    if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(dataDirectory()))
        return {QStringLiteral("article"), safeId(info.completeBaseName())}; // a downloaded article's stored media
    const QString path = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    LibraryModule* module = context.library.module();
    return {QStringLiteral("file"), module ? module->mediaItemId(path) : safeId(path)};
}

QString KeptSentences::kept() {
    ReviewStore* cards = src.isEmpty() ? nullptr : store();
    QJsonArray list;
    if (cards) {
        const auto [kind, id] = currentSource();
        list = cards->keptFrom(kind, id);
    }
    return json(QJsonObject{{"kept", list}});
}

QString KeptSentences::due() {
    ReviewStore* cards = store();
    if (!cards)
        return json(QJsonObject{{"due", QJsonArray()},
                                {"counts", QJsonObject{{"new", 0}, {"learning", 0}, {"review", 0}}},
                                {"error", unavailable()}});
    return json(cards->due(now()));
}

QString KeptSentences::answer(const QString& id, int rating) {
    if (!KeptCardIds::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    if (rating < 1 || rating > 4)
        return failure(QStringLiteral("Ungültige Bewertung."));
    ReviewStore* cards = store();
    if (!cards)
        return failure(unavailable());
    QJsonObject out = cards->answer(id, rating, now());
    if (out.isEmpty())
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    out.insert("ok", true);
    return json(out);
}

QString KeptSentences::play(const QString& id) {
    if (!KeptCardIds::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    ReviewStore* cards = store();
    const QJsonObject card = cards ? cards->card(id) : QJsonObject();
    if (card.isEmpty())
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    if (!card.value("audio").toBool())
        return failure(QStringLiteral("Zu diesem Satz gibt es keinen Ton."));
    if (!player)
        player = new ClipPlayer(this);
    if (!player->play(QDir(clipsDirectory()).filePath(card.value("clip").toString()), speed ? speed() : 1.0))
        return failure(QStringLiteral("Der Ton kann nicht abgespielt werden."));
    return json(QJsonObject{{"ok", true}});
}

QString KeptSentences::stats() {
    ReviewStore* cards = store();
    if (!cards)
        return failure(unavailable());
    QJsonObject out = cards->stats(now());
    out.insert("ok", true);
    return json(out);
}

QString KeptSentences::exportDeck(const QString& format) {
    const bool apkg = format == QStringLiteral("apkg");
    if (!apkg && format != QStringLiteral("tsv"))
        return failure(QStringLiteral("Unbekanntes Format."));
    if (busy)
        return failure(QStringLiteral("Es wird gerade exportiert."));
    ReviewStore* cards = store();
    LibraryModule* module = context.library.module();
    if (!cards || !module)
        return failure(unavailable());
    const QJsonArray notes = cards->exportNotes();
    if (notes.isEmpty())
        return failure(QStringLiteral("Es sind noch keine Sätze gemerkt."));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString initial =
        QDir(folder).filePath(apkg ? QStringLiteral("Tavrolin.apkg") : QStringLiteral("Tavrolin.tsv"));
    QString path = Desktop::saveFileName(nullptr, tr("导出句子"), initial,
                                         apkg ? tr("Anki 卡组 (*.apkg)") : tr("制表符分隔文件 (*.tsv)"));
    if (path.isEmpty())
        return json(QJsonObject{{"ok", false}, {"cancelled", true}});
    const QString suffix = apkg ? QStringLiteral(".apkg") : QStringLiteral(".tsv");
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;

    busy = true;
    std::atomic<int> percent{0};
    QJsonObject result;
    QProgressDialog dialog(tr("正在导出 %1 个句子…").arg(notes.size()), QString(), 0, 100, Desktop::mainWindow());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(500);
    QTimer tick;
    tick.setInterval(100);
    connect(&tick, &QTimer::timeout, &dialog, [&dialog, &percent] { dialog.setValue(percent.load()); });
    tick.start();
    runAside([&] {
        result = module->exportDeck(format, path, notes, [&percent](int value) {
            percent.store(value);
            return true;
        });
    });
    tick.stop();
    busy = false;
    if (!result.value("ok").toBool())
        return failure(result.value("error").toString()); // German through locale/de.qm
    return json(QJsonObject{{"ok", true},
                            {"path", QDir::toNativeSeparators(path)},
                            {"notes", result.value("notes")},
                            {"sounds", result.value("sounds")}});
}
