#include "bridge/keptsentences.h"

#include "bridge/mediafiles.h"
#include "core/net/timeouts.h"
#include "core/pageprotocol.h"
#include "core/settings.h"
#include "core/trust.h"
#include "desktop/desktop.h"
#include "library/clipcutter.h"
#include "library/deckexport.h"
#include "library/mediaimporter.h"
#include "library/medialibrary.h"
#include "library/reviewdeck.h"
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

KeptSentences::KeptSentences(QObject* parent) : QObject(parent) {
    MediaFiles::loadPageTranslation(); // the export's messages, in German
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

ReviewDeck* KeptSentences::deck() {
    if (!reviewDeck) {
        ensureDataDirectory();
        library = std::make_unique<MediaLibrary>(dataDirectory());
        reviewDeck = std::make_unique<ReviewDeck>(*library);
    }
    return reviewDeck->isOpen() ? reviewDeck.get() : nullptr;
}

bool KeptSentences::clipExists(const QString& clip) const {
    return !clip.isEmpty() && QFileInfo(QDir(clipsDirectory()).filePath(clip)).isFile();
}

QString KeptSentences::keep(int index, const QString& text) {
    if (busy)
        return failure(QStringLiteral("Ein Satz wird gerade gemerkt."));
    const QJsonObject in = QJsonDocument::fromJson(text.toUtf8()).object();
    if (src.isEmpty() || starts.isEmpty())
        return failure(QStringLiteral("Es wird gerade kein Satz geübt."));
    if (index < 0 || index >= starts.size())
        return failure(QStringLiteral("Diesen Satz gibt es nicht."));
    ReviewDeck* cards = deck();
    if (!cards)
        return failure(QStringLiteral("Die Sammlung der gemerkten Sätze ist nicht verfügbar: ") +
                       library->errorString());

    KeptCard card;
    card.text = field(in, "text").trimmed();
    card.translation = field(in, "translation").trimmed();
    card.title = field(in, "title").trimmed();
    card.sentence = index;
    card.startMs = starts[index];
    const qint64 next = index + 1 < starts.size() ? starts[index + 1] : -1;
    if (index < ends.size() && ends[index] > card.startMs && (next < 0 || ends[index] <= next))
        card.endMs = ends[index];
    else if (next > card.startMs)
        card.endMs = next;
    else
        card.endMs = -1; // the last sentence: to the end of the media
    card.media = src;
    std::tie(card.sourceKind, card.sourceId) = currentSource();
    card.id = ReviewDeck::cardId(card.sourceKind, card.sourceId, index);

    const QString clip = card.id + QStringLiteral(".ogg");
    qint64 length = 0;
    const QString why =
        cutClip(card.startMs, card.endMs > 0 ? card.endMs : card.startMs + lastSentenceLimitMs, clip, &length);
    if (card.endMs < 0)
        card.endMs = card.startMs + length;
    card.clip = why.isEmpty() ? clip : QString();
    const auto stored = cards->keep(card, now());
    if (!stored) {
        if (why.isEmpty())
            QFile::remove(QDir(clipsDirectory()).filePath(clip));
        return failure(QStringLiteral("Der Satz konnte nicht gespeichert werden."));
    }
    QJsonObject out{{"ok", true}, {"card", stored->toJson(why.isEmpty())}};
    if (!why.isEmpty())
        out.insert("warning", QStringLiteral("Der Satz ist gemerkt, aber ohne Ton: ") + why);
    return json(out);
}

QString KeptSentences::cutClip(qint64 startMs, qint64 endMs, const QString& clip, qint64* durationMs) {
    const QString dir = clipsDirectory();
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
    ClipCutter::Result result;
    const QString output = QDir(dir).filePath(clip);
    std::unique_ptr<QThread> worker(QThread::create(
        [&result, input, startMs, endMs, output] { result = ClipCutter::cut(input, startMs, endMs, output); }));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    if (!downloaded.isEmpty())
        QFile::remove(downloaded);
    busy = false;
    *durationMs = result.durationMs;
    if (!result.ok)
        qWarning("Clip of %s (%lld-%lld ms): %s", qPrintable(clip), startMs, endMs, qPrintable(result.error));
    return result.ok ? QString() : QStringLiteral("Der Ton konnte nicht geschnitten werden.");
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
    if (!ReviewDeck::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    ReviewDeck* cards = deck();
    QString clip;
    if (!cards || !cards->forget(id, &clip))
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    if (!clip.isEmpty())
        QFile::remove(QDir(clipsDirectory()).filePath(clip));
    return json(QJsonObject{{"ok", true}, {"id", id}});
}

std::pair<QString, QString> KeptSentences::currentSource() const {
    if (type == PageProtocol::online)
        return {QStringLiteral("article"), safeId(QFileInfo(QUrl(src).path()).completeBaseName())};
    const QFileInfo info(localPath(src));
    if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(dataDirectory()))
        return {QStringLiteral("article"), safeId(info.completeBaseName())}; // a downloaded article's stored media
    return {QStringLiteral("file"),
            mediaItemId(info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath())};
}

QString KeptSentences::kept() {
    QJsonArray list;
    ReviewDeck* cards = deck();
    if (cards && !src.isEmpty()) {
        const auto [kind, id] = currentSource();
        for (const auto& [index, card] : cards->keptFrom(kind, id))
            list.append(QJsonObject{{"index", index}, {"id", card}});
    }
    return json(QJsonObject{{"kept", list}});
}

QString KeptSentences::due() {
    ReviewDeck* cards = deck();
    if (!cards)
        return json(QJsonObject{{"due", QJsonArray()},
                                {"counts", QJsonObject{{"new", 0}, {"learning", 0}, {"review", 0}}},
                                {"error", QStringLiteral("Die Sammlung der gemerkten Sätze ist nicht verfügbar.")}});
    const qint64 at = now();
    const ReviewDeck::Due due = cards->due(at);
    // One listing of the clips folder instead of a look-up per card.
    const QStringList names = QDir(clipsDirectory()).entryList(QDir::Files);
    const QSet<QString> clips(names.begin(), names.end());
    QJsonArray list;
    for (const KeptCard& c : due.cards)
        list.append(c.toJson(!c.clip.isEmpty() && clips.contains(c.clip)));
    QJsonObject out{{"due", list},
                    {"counts", QJsonObject{{"new", due.fresh}, {"learning", due.learning}, {"review", due.review}}}};
    if (!due.cards.isEmpty())
        out.insert("intervals", intervals(due.cards.first().schedule, at));
    return json(out);
}

QJsonArray KeptSentences::intervals(const Fsrs::Card& card, qint64 at) {
    QJsonArray out;
    for (const qint64 ms : Fsrs::Scheduler().intervals(card, at))
        out.append(ms);
    return out;
}

QString KeptSentences::answer(const QString& id, int rating) {
    if (!ReviewDeck::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    if (rating < Fsrs::Again || rating > Fsrs::Easy)
        return failure(QStringLiteral("Ungültige Bewertung."));
    ReviewDeck* cards = deck();
    const qint64 at = now();
    const auto answered = cards ? cards->answer(id, rating, at) : std::nullopt;
    if (!answered)
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    QJsonObject out{{"ok", true}, {"card", answered->toJson(clipExists(answered->clip))}};
    const ReviewDeck::Due due = cards->due(at);
    if (!due.cards.isEmpty()) {
        out.insert("next", due.cards.first().id);
        out.insert("intervals", intervals(due.cards.first().schedule, at));
    }
    out.insert("counts", QJsonObject{{"new", due.fresh}, {"learning", due.learning}, {"review", due.review}});
    return json(out);
}

QString KeptSentences::play(const QString& id) {
    if (!ReviewDeck::isCardId(id))
        return failure(QStringLiteral("Ungültige Karte."));
    ReviewDeck* cards = deck();
    const auto card = cards ? cards->card(id) : std::nullopt;
    if (!card)
        return failure(QStringLiteral("Diese Karte gibt es nicht."));
    if (!clipExists(card->clip))
        return failure(QStringLiteral("Zu diesem Satz gibt es keinen Ton."));
    if (!player)
        player = new ClipPlayer(this);
    if (!player->play(QDir(clipsDirectory()).filePath(card->clip), speed ? speed() : 1.0))
        return failure(QStringLiteral("Der Ton kann nicht abgespielt werden."));
    return json(QJsonObject{{"ok", true}});
}

QString KeptSentences::stats() {
    ReviewDeck* cards = deck();
    if (!cards)
        return failure(QStringLiteral("Die Sammlung der gemerkten Sätze ist nicht verfügbar."));
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
    ReviewDeck* cards = deck();
    if (!cards)
        return failure(QStringLiteral("Die Sammlung der gemerkten Sätze ist nicht verfügbar."));
    const QVector<KeptCard> all = cards->all();
    if (all.isEmpty())
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

    QVector<DeckExport::Note> notes;
    notes.reserve(all.size());
    for (const KeptCard& c : all) {
        const QString source = c.title.isEmpty() ? c.sourceKind : c.title;
        notes.append({c.id, c.text, c.translation, source,
                      c.clip.isEmpty() ? QString() : QDir(clipsDirectory()).filePath(c.clip), c.created});
    }
    busy = true;
    std::atomic<int> done{0};
    DeckExport::Result result;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        auto progress = [&done](int n) {
            done.store(n);
            return true;
        };
        result = apkg ? DeckExport::writeApkg(path, notes, progress) : DeckExport::writeTsv(path, notes, progress);
    }));
    QProgressDialog dialog(tr("正在导出 %1 个句子…").arg(notes.size()), QString(), 0, notes.size(),
                           Desktop::mainWindow());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(500);
    QTimer tick;
    tick.setInterval(100);
    connect(&tick, &QTimer::timeout, &dialog, [&dialog, &done] { dialog.setValue(done.load()); });
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    tick.start();
    loop.exec();
    worker->wait();
    busy = false;
    if (!result.ok)
        return failure(result.error); // German through locale/de.qm
    return json(QJsonObject{
        {"ok", true}, {"path", QDir::toNativeSeparators(path)}, {"notes", result.notes}, {"sounds", result.sounds}});
}
