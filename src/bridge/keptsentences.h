#pragma once

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class ClipPlayer;
class BridgeContext;
class QNetworkAccessManager;
class ReviewStore;

// The sentences the learner keeps while practising and reviews later, as the
// main page reaches them: keeping one (its clip cut on a worker thread from the
// media being practised), the due cards and their answers, playing a clip,
// statistics and the export for Anki. JSON text in and out; nothing a page
// sends is evaluated. Texts for the learner are German, the pages' language.
//
// The work is the library module's (ReviewStore and the clip and export calls of
// library/librarymodule.h, loaded on first use): the cards live in the media
// library's database, the clips in the data directory's "clips" folder, owner-only.
class KeptSentences : public QObject {
    Q_OBJECT

public:
    // The context's library module and German texts; the context outlives this.
    explicit KeptSentences(BridgeContext& context, QObject* parent = nullptr);
    ~KeptSentences() override;

    // What the practice view plays now, as the page handed it to initPlay and
    // setEndTimes.
    void setPracticeItem(const QString& src, const QString& type, const QList<int>& startTimes);
    void setEndTimes(const QList<int>& endTimes);
    // The signing network manager, for the service's media of an online article.
    std::function<QNetworkAccessManager*()> network;
    // The practice speed for playing clips.
    std::function<double()> speed;

    QString keep(int index, const QString& json);
    QString forget(const QString& id);
    // The sentences of the current practice item that are kept: {"kept":[{"index","id"}]}.
    QString kept();
    QString due();
    QString answer(const QString& id, int rating);
    QString play(const QString& id);
    QString stats();
    QString exportDeck(const QString& format);

    QString clipsDirectory() const;

    // Test seam: the time the schedule runs on (ms since the epoch); nullptr restores the clock.
    static void setClock(std::function<qint64()> clock);
    static qint64 now();

private:
    // The store of the data directory; null (with the reason logged) when the
    // module cannot be loaded or the database cannot be used.
    ReviewStore* store();
    QString unavailable() const;
    // Cuts [startMs, endMs) of the current item into `clip`; an empty string when
    // it worked, else why not. `durationMs` gets the clip's length.
    QString cutClip(qint64 startMs, qint64 endMs, const QString& clip, qint64* durationMs);
    // Fetches the service's media into a file in the clips folder (signed, with a
    // time-out); the file's path, or empty with `error` set.
    QString download(const QString& url, QString* error);
    // Where the current item comes from: ("article", article id) or ("file", media item id).
    std::pair<QString, QString> currentSource();
    // Runs blocking work on a worker thread while the window goes on.
    static void runAside(const std::function<void()>& work);

    BridgeContext& context;
    QString src;
    QString type;
    QList<int> starts;
    QList<int> ends;
    std::unique_ptr<ReviewStore> reviewStore;
    ClipPlayer* player = nullptr;
    bool busy = false;
};
