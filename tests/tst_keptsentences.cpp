// Kept sentences as the main page reaches them: keeping a sentence of an own
// file (its clip cut and stored owner-only), marks for the list, the due cards
// and their answers, hostile ids and ratings, a sentence whose media has
// vanished, statistics, and the export through the save dialog.
#include "bridge/bridgecontext.h"
#include "bridge/keptsentences.h"
#include "core/net/networkaccessmanager.h"
#include "core/net/timeouts.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "support/fakeservice.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

QJsonObject object(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

const QString sentence = QStringLiteral(R"({"text":"Der Zug fährt ab.","translation":"火车开了。","title":"Bahn"})");
constexpr qint64 day = 24 * 3600 * 1000;

} // namespace

class TestKeptSentences : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void keepReviewForget();
    void refusesBadInput_data();
    void refusesBadInput();
    void vanishedMediaKeepsTheCardWithoutSound();
    void onlineClipComesSignedFromTheService_data();
    void onlineClipComesSignedFromTheService();
    void exportThroughTheSaveDialog();

private:
    BridgeContext context; // the module beside the test, as the program loads it
    QTemporaryDir dir;
    QString audio;
    qint64 clock = 1765000000000; // a fixed day, so "today" is the same throughout
};

void TestKeptSentences::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QVERIFY(dir.isValid());
    audio = dir.filePath("Ansage.wav");
    QVERIFY(QFile::copy(TestSupport::sineAudioFile(), audio));
    KeptSentences::setClock([this] { return clock; });
}

void TestKeptSentences::cleanup() {
    Desktop::setSaveFileName(nullptr);
}

void TestKeptSentences::keepReviewForget() {
    KeptSentences kept(context);
    kept.setPracticeItem(audio, "local", {0, 1500, 3000, 4500});
    kept.setEndTimes({1400});

    const QJsonObject first = object(kept.keep(0, sentence));
    QVERIFY2(first.value("ok").toBool(), qPrintable(QJsonDocument(first).toJson()));
    const QJsonObject card = first.value("card").toObject();
    const QString id = card.value("id").toString();
    QCOMPARE(id.size(), 16);
    QCOMPARE(card.value("audio").toBool(), true);
    QCOMPARE(card.value("end").toInt(), 1400); // its own end, not the next start
    QCOMPARE(card.value("state").toString(), QString("new"));
    const QFileInfo clip(QDir(kept.clipsDirectory()).filePath(id + ".ogg"));
    QVERIFY(clip.isFile());
    QCOMPARE(clip.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

    // The last sentence runs to the end of the media.
    const QJsonObject last = object(kept.keep(3, R"({"text":"Ende."})")).value("card").toObject();
    QVERIFY(std::abs(last.value("end").toInt() - 6000) <= 30);

    // Keeping the same sentence again is the same card; the list marks both.
    QCOMPARE(object(kept.keep(0, sentence)).value("card").toObject().value("id").toString(), id);
    const QJsonArray marks = object(kept.kept()).value("kept").toArray();
    QCOMPARE(marks.size(), 2);
    QCOMPARE(marks[0].toObject().value("index").toInt(), 0);

    QJsonObject due = object(kept.due());
    QCOMPARE(due.value("due").toArray().size(), 2);
    QCOMPARE(due.value("counts").toObject().value("new").toInt(), 2);
    QCOMPARE(due.value("intervals").toArray().size(), 4);

    // Good on a new card: the second learning step, due again in 10 minutes (within the learn-ahead).
    QJsonObject answered = object(kept.answer(id, 3));
    QVERIFY(answered.value("ok").toBool());
    QCOMPARE(answered.value("card").toObject().value("state").toString(), QString("learning"));
    // Then Good again: in review, not due today any more.
    clock += 10 * 60 * 1000;
    answered = object(kept.answer(id, 3));
    QCOMPARE(answered.value("card").toObject().value("state").toString(), QString("review"));
    due = object(kept.due());
    QCOMPARE(due.value("due").toArray().size(), 1);
    QCOMPARE(due.value("counts").toObject().value("review").toInt(), 0);

    const QJsonObject stats = object(kept.stats());
    QCOMPARE(stats.value("days").toArray().size(), 84);
    QCOMPARE(stats.value("days").toArray().last().toObject().value("reviews").toInt(), 2);
    QCOMPARE(stats.value("streak").toInt(), 1);
    QCOMPARE(stats.value("goodShare").toDouble(), 1.0);

    // A day without reviews in between ends the streak; yesterday's still counts today.
    clock += day;
    QCOMPARE(object(kept.stats()).value("streak").toInt(), 1);
    clock += day;
    QCOMPARE(object(kept.stats()).value("streak").toInt(), 0);

    QVERIFY(object(kept.forget(id)).value("ok").toBool());
    QVERIFY(!QFile::exists(clip.filePath()));
    QCOMPARE(object(kept.kept()).value("kept").toArray().size(), 1);
}

void TestKeptSentences::refusesBadInput_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("value");
    QTest::newRow("answer: rating 0") << "answer"
                                      << "" << 0;
    QTest::newRow("answer: rating 5") << "answer"
                                      << "" << 5;
    QTest::newRow("answer: id too short") << "answer"
                                          << "0123456789abcde" << 3;
    QTest::newRow("answer: id too long") << "answer"
                                         << "0123456789abcdef0" << 3;
    QTest::newRow("answer: upper-case id") << "answer"
                                           << "0123456789ABCDEF" << 3;
    QTest::newRow("answer: quote in id") << "answer"
                                         << "0123456789abcd'f" << 3;
    QTest::newRow("answer: unknown id") << "answer"
                                        << "0123456789abcdef" << 3;
    QTest::newRow("forget: path as id") << "forget"
                                        << "../../settings.ini" << 0;
    QTest::newRow("play: empty id") << "play"
                                    << "" << 0;
    QTest::newRow("keep: index past the end") << "keep"
                                              << "" << 4;
    QTest::newRow("keep: negative index") << "keep"
                                          << "" << -1;
    QTest::newRow("export: unknown format") << "export"
                                            << "" << 0;
}

// Refused with an error, and the kept card is untouched.
void TestKeptSentences::refusesBadInput() {
    QFETCH(QString, call);
    QFETCH(QString, id);
    QFETCH(int, value);
    KeptSentences kept(context);
    kept.setPracticeItem(audio, "local", {0, 1500, 3000, 4500});
    const QJsonObject card = object(kept.keep(1, sentence)).value("card").toObject();
    const QString good = card.value("id").toString();
    if (id.isEmpty() && call == "answer")
        id = good;
    QJsonObject result;
    if (call == "answer")
        result = object(kept.answer(id, value));
    else if (call == "forget")
        result = object(kept.forget(id));
    else if (call == "play")
        result = object(kept.play(id));
    else if (call == "keep")
        result = object(kept.keep(value, sentence));
    else
        result = object(kept.exportDeck("pdf"));
    QCOMPARE(result.value("ok").toBool(true), false);
    QVERIFY(!result.value("error").toString().isEmpty());
    const QJsonArray due = object(kept.due()).value("due").toArray();
    bool untouched = false;
    for (const QJsonValue& v : due)
        untouched |= v.toObject().value("id").toString() == good && v.toObject().value("reps").toInt() == 0;
    QVERIFY(untouched);
    kept.forget(good);
}

void TestKeptSentences::vanishedMediaKeepsTheCardWithoutSound() {
    KeptSentences kept(context);
    kept.setPracticeItem(dir.filePath("gone.mp3"), "local", {0, 2000});
    const QJsonObject result = object(kept.keep(0, sentence));
    QVERIFY(result.value("ok").toBool());
    QVERIFY(!result.value("warning").toString().isEmpty());
    const QString id = result.value("card").toObject().value("id").toString();
    QCOMPARE(result.value("card").toObject().value("audio").toBool(true), false);
    bool listed = false;
    for (const QJsonValue& v : object(kept.due()).value("due").toArray())
        if (v.toObject().value("id").toString() == id)
            listed = v.toObject().value("audio").toBool(true) == false;
    QVERIFY(listed);
    QCOMPARE(object(kept.play(id)).value("ok").toBool(true), false);
    kept.forget(id);
}

void TestKeptSentences::onlineClipComesSignedFromTheService_data() {
    QTest::addColumn<bool>("configured"); // the media lie on the configured service
    QTest::addColumn<bool>("stalls");
    QTest::newRow("the service: signed") << true << false;
    QTest::newRow("another host: no token") << false << false;
    QTest::newRow("the service stalls: time-out") << true << true;
}

// The media of an online article come through the signing network manager: the
// token goes to the configured service only, and a stalled answer ends in time
// (the card is kept without sound).
void TestKeptSentences::onlineClipComesSignedFromTheService() {
    QFETCH(bool, configured);
    QFETCH(bool, stalls);
    using TestSupport::FakeService;
    FakeService service(FakeService::Tls::Trusted);
    FakeService elsewhere(FakeService::Tls::Off);
    QVERIFY(service.isListening() && elsewhere.isListening());
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service.port()));
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(service.port() + 1)); // not the other host's
    QFile wav(audio);
    QVERIFY(wav.open(QIODevice::ReadOnly));
    FakeService::Reply media;
    media.contentType = "audio/wav";
    media.body = wav.readAll();
    if (stalls) {
        media.stallAfter = 1000;
        NetworkTimeouts::setStall([] { return 300; });
    }
    FakeService& host = configured ? service : elsewhere;
    host.setReply("/files/media/a1b2c3.wav", media);

    NetworkAccessManager manager(nullptr, nullptr);
    KeptSentences kept(context);
    kept.network = [&manager]() -> QNetworkAccessManager* { return &manager; };
    kept.setPracticeItem(host.url("/files/media/a1b2c3.wav"), "online", {0, 1500, 3000});
    const QJsonObject result = object(kept.keep(1, sentence));
    QVERIFY(result.value("ok").toBool());
    const QJsonObject card = result.value("card").toObject();
    QCOMPARE(card.value("source").toObject().value("id").toString(), QString("a1b2c3"));
    QCOMPARE(card.value("audio").toBool(), !stalls);
    const auto requests = host.requestsFor("/files/media/a1b2c3.wav");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().header("Authorization").isEmpty(), !configured);
    QVERIFY(!QFile::exists(QDir(kept.clipsDirectory()).filePath(".download")));
    kept.forget(card.value("id").toString());
}

void TestKeptSentences::exportThroughTheSaveDialog() {
    KeptSentences kept(context);
    kept.setPracticeItem(audio, "local", {0, 1500, 3000});
    QVERIFY(object(kept.keep(0, sentence)).value("ok").toBool());
    QVERIFY(object(kept.keep(1, R"({"text":"Zweiter Satz."})")).value("ok").toBool());

    QString asked;
    Desktop::setSaveFileName([&](QWidget*, const QString&, const QString& initial, const QString&) {
        asked = initial;
        return dir.filePath("Meine Sätze"); // without the suffix: it is added
    });
    const QJsonObject result = object(kept.exportDeck("apkg"));
    QVERIFY2(result.value("ok").toBool(), qPrintable(QJsonDocument(result).toJson()));
    QVERIFY(asked.endsWith(".apkg"));
    QVERIFY(result.value("notes").toInt() >= 2);
    QVERIFY(QFileInfo(dir.filePath("Meine Sätze.apkg")).size() > 0);

    Desktop::setSaveFileName([](QWidget*, const QString&, const QString&, const QString&) { return QString(); });
    const QJsonObject cancelled = object(kept.exportDeck("tsv"));
    QCOMPARE(cancelled.value("ok").toBool(true), false);
    QVERIFY(cancelled.value("cancelled").toBool());
}

QTEST_MAIN(TestKeptSentences)
#include "tst_keptsentences.moc"
