// Practice with real speech: a generated sample article played through the
// bridge with the real player, and a stand-in page that answers like the real one.
#include "bridge/webapi.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "support/media.h"
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
};

} // namespace

class TestPracticePlayback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void readingHighlightsFollowTheSpeech();
    void dictationPlaysTheFirstSentenceThreeTimes();

private:
    // Plays the sample article with the page answering media.play/pause like the
    // real page does; collects the page calls until `done` says so.
    void practise(const QString& mode, const std::function<bool(const QList<Heard>&)>& done, QList<Heard>& heard);
    QList<int> starts;
};

void TestPracticePlayback::initTestCase() {
    TestSupport::useCleanDataDirectory();
    if (!TestSupport::audioOutputAvailable())
        QSKIP("no audio output (run under scripts/test.sh, which starts a PulseAudio null sink)");
    starts = sampleStartTimes();
    QVERIFY2(starts.size() >= 4 && QFile::exists(sampleAudio()), "sample content missing");
}

void TestPracticePlayback::practise(const QString& mode, const std::function<bool(const QList<Heard>&)>& done,
                                   QList<Heard>& heard) {
    TestSupport::ScriptRecorder page;
    WebApi bridge(nullptr);
    QElapsedTimer clock;
    clock.start();
    page.answer = [&](const PageScript::Call& call) {
        auto* manager = static_cast<ObDataBase::PlayManager*>(bridge.practice()->player());
        heard << Heard{call.snippet, manager ? manager->position() : -1, clock.elapsed()};
        // The page turns its own play and pause commands into bridge calls.
        if (call.snippet == "media.play(0);")
            bridge.play(0);
        else if (call.snippet == "media.pause();")
            bridge.pause();
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
            return std::any_of(h.begin(), h.end(),
                               [](const Heard& x) { return x.snippet == "media.highlight('3');"; });
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
        QVERIFY2(h.playerSeconds >= start - 0.05 && h.playerSeconds < start + 1.3,
                 qPrintable(QString("sentence %1 starts at %2 s, highlighted at %3 s")
                                .arg(i + 1)
                                .arg(start)
                                .arg(h.playerSeconds)));
    }
}

void TestPracticePlayback::dictationPlaysTheFirstSentenceThreeTimes() {
    // Guards against a dictation that replays too often, skips the gap or never stops.
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
    // Two more hearings of the sentence and two gaps lie between the first and the last count.
    const double sentence = starts.at(1) / 1000.0;
    const double between = (lastEnd - firstEnd) / 1000.0;
    QVERIFY2(between >= 2 * sentence + 2 * 1.5 - 1.5 && between <= 2 * sentence + 2 * 1.5 + 3.0,
             qPrintable(QString("%1 s between the first and the third count").arg(between)));
}

TAVROLIN_MEDIA_TEST_MAIN(TestPracticePlayback)
#include "tst_practiceplayback.moc"
