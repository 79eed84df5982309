// Practice with real speech: a generated sample article played through the
// bridge with the real player, and a stand-in page that answers like the real one.
#include "bridge/webapi.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "support/media.h"
#include "support/playerclock.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QString articleId = "7a1e2b3c-4d5e-4f60-8a9b-000000000101";

QList<int> sampleStartTimes() {
    QFile file(QStringLiteral(TAVROLIN_SAMPLE_CONTENT "/sentence/") + articleId + ".json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<int> starts;
    for (const QJsonValue& s : QJsonDocument::fromJson(file.readAll()).object().value("sentences").toArray())
        starts << s.toObject().value("start").toInt();
    return starts;
}

QString sampleAudio() {
    return QStringLiteral(TAVROLIN_SAMPLE_CONTENT "/files/media/") + articleId + ".mp3";
}

struct Heard {
    QString snippet;
    double playerSeconds; // where the player stood when the page got the call
    qint64 elapsedMs;
    int reportsBefore; // exact reports received until then
};

// The boundary tests allow this much: the benchmark carries the tight figure.
constexpr double looseBound = 0.15;

} // namespace

class TestPracticePlayback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void readingHighlightsFollowTheSpeech();
    void dictationPlaysTheFirstSentenceThreeTimes();
    void dictationOfTheLastSentenceReplaysIt();

private:
    // Plays the sample article with the page answering media.play/pause like the
    // real page does; collects the page calls until `done` says so. `sentence`
    // is where the learner starts (-1: from the start of the article).
    void practise(const QString& mode, const std::function<bool(const QList<Heard>&)>& done, QList<Heard>& heard,
                  int sentence = -1);
    QList<int> starts;
    TestSupport::PlayerClock player;
};

void TestPracticePlayback::initTestCase() {
    TestSupport::useCleanDataDirectory();
    TAVROLIN_REQUIRE_AUDIO();
    starts = sampleStartTimes();
    QVERIFY2(starts.size() >= 4 && QFile::exists(sampleAudio()), "sample content missing");
}

void TestPracticePlayback::practise(const QString& mode, const std::function<bool(const QList<Heard>&)>& done,
                                    QList<Heard>& heard, int sentence) {
    TestSupport::ScriptRecorder page;
    WebApi bridge(BridgeContext::create(), nullptr);
    QElapsedTimer clock;
    clock.start();
    player.reports.clear();
    bool started = false;
    page.answer = [&](const PageScript::Call& call) {
        auto* manager = static_cast<ObDataBase::PlayManager*>(bridge.practice()->player());
        if (manager && !started) {
            started = true;
            player.follow(manager);
        }
        heard << Heard{call.snippet, player.now(), clock.elapsed(), int(player.reports.size())};
        // The page turns its own play and pause commands into bridge calls.
        if (call.snippet == "media.play(0);") {
            if (sentence >= 0) { // the learner picks a sentence
                bridge.setDictationIndex(std::exchange(sentence, -1));
                bridge.play(0);
            }
            bridge.play(0);
        } else if (call.snippet == "media.pause();") {
            bridge.pause();
        }
        return QVariant();
    };
    const ReadingSettings settings{"Medium", "Normal", "justify", "Arial", "close", "highlight", "on", "3"};
    bridge.setReadingSettings(settings);
    bridge.pushReadingSettings(settings);
    bridge.setState("mode", mode);
    bridge.initPlay(QUrl::fromLocalFile(sampleAudio()).toString(), "local", starts);
    QTRY_VERIFY_WITH_TIMEOUT(done(heard), 40000);
    bridge.cancelPlay();
}

void TestPracticePlayback::readingHighlightsFollowTheSpeech() {
    // Guards against highlights that lag, lead or skip a sentence in real playback.
    QList<Heard> heard;
    practise(
        "read",
        [](const QList<Heard>& h) {
            return std::any_of(h.begin(), h.end(), [](const Heard& x) { return x.snippet == "media.highlight('3');"; });
        },
        heard);
    if (QTest::currentTestFailed())
        return;
    QList<Heard> highlights;
    for (const Heard& h : heard)
        if (h.snippet.startsWith("media.highlight('"))
            highlights << h;
    QCOMPARE(highlights.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const Heard& h = highlights.at(i);
        QCOMPARE(h.snippet, QString("media.highlight('%1');").arg(i + 1));
        const double start = starts.at(i + 1) / 1000.0;
        QVERIFY2(
            qAbs(h.playerSeconds - start) <= looseBound,
            qPrintable(
                QString("sentence %1 starts at %2 s, highlighted at %3 s").arg(i + 1).arg(start).arg(h.playerSeconds)));
    }
}

void TestPracticePlayback::dictationPlaysTheFirstSentenceThreeTimes() {
    // Guards against a dictation that replays too often, skips the gap or never
    // stops, and against hearing the next sentence before each replay.
    QList<Heard> heard;
    practise(
        "dictation",
        [](const QList<Heard>& h) {
            return std::any_of(h.begin(), h.end(),
                               [](const Heard& x) { return x.snippet == "article.setPlayTimes('0', '0');"; });
        },
        heard);
    if (QTest::currentTestFailed())
        return;
    QStringList counts;
    qint64 firstEnd = -1, lastEnd = -1;
    for (const Heard& h : heard) {
        if (h.snippet.startsWith("article.setPlayTimes(")) {
            counts << h.snippet;
            if (firstEnd < 0)
                firstEnd = h.elapsedMs;
            lastEnd = h.elapsedMs;
        }
    }
    QCOMPARE(counts, (QStringList{"article.setPlayTimes('0', '1');", "article.setPlayTimes('0', '2');",
                                  "article.setPlayTimes('0', '0');"}));
    // After the third hearing the page is told to pause, and the player waits at the sentence start.
    int pauses = 0;
    for (const Heard& h : heard)
        pauses += h.snippet == "media.pause();";
    QCOMPARE(pauses, 1);
    // Two more hearings of the sentence and one gap lie between the first count
    // (sent as the first gap ends) and the last; the gap may run a little short.
    const double sentence = starts.at(1) / 1000.0;
    const double between = (lastEnd - firstEnd) / 1000.0;
    QVERIFY2(between >= 2 * sentence + 1.5 - 0.3 && between <= 2 * sentence + 2 * 1.5 + 3.0,
             qPrintable(QString("%1 s between the first and the third count").arg(between)));
    // Each of the three ends (the bridge's pause twice, then the page's) is at the sentence end...
    QList<double> ends;
    for (const Heard& h : heard)
        if (h.snippet == "paragraph.setPlayState('play');" || h.snippet == "media.pause();")
            ends << h.playerSeconds;
    QCOMPARE(ends.size(), 4); // the page's pause comes back as the bridge's
    for (double at : ends)
        QVERIFY2(qAbs(at - sentence) <= looseBound, qPrintable(QString("paused at %1 s").arg(at)));
    // ... and the player never got further into the next sentence.
    const double furthest = *std::max_element(player.reports.begin(), player.reports.end());
    QVERIFY2(furthest <= sentence + looseBound, qPrintable(QString("played to %1 s").arg(furthest)));
}

void TestPracticePlayback::dictationOfTheLastSentenceReplaysIt() {
    // Guards against the last sentence's end cutting the last second, and its
    // replay starting the whole article again.
    QList<Heard> heard;
    const int last = starts.size() - 1;
    const QString replayed = QString("article.setPlayTimes('%1', '1');").arg(last);
    int replayedAfter = -1; // exact reports before the replay
    practise(
        "dictation",
        [&](const QList<Heard>& h) {
            for (const Heard& x : h)
                if (x.snippet == replayed)
                    replayedAfter = x.reportsBefore;
            return replayedAfter >= 0 && player.reports.size() >= replayedAfter + 4;
        },
        heard, last);
    if (QTest::currentTestFailed())
        return;
    const QList<double> before = player.reports.mid(0, replayedAfter);
    const double furthest = *std::max_element(before.begin(), before.end());
    QVERIFY2(furthest > 17.5, qPrintable(QString("played to %1 s of 17.9").arg(furthest)));
    const double start = starts.at(last) / 1000.0;
    for (double s : player.reports.mid(replayedAfter))
        QVERIFY2(s >= start - looseBound && s < start + 1.0, qPrintable(QString("replayed from %1 s").arg(s)));
}

TAVROLIN_MEDIA_TEST_MAIN(TestPracticePlayback)
#include "tst_practiceplayback.moc"
