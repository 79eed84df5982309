// Subtitle times fitted to the speech: German speech made with espeak-ng whose
// true sentence times are known (tests/media), with subtitles shifted, drifting,
// jittered, ending early or correct; noise that must never shift anything; and
// the learner's own timing, kept, refused and undone.
#include "library/mediaimporter.h"
#include "library/medialibrary.h"
#include "library/speechsync.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <random>

namespace {

const QString sync = QStringLiteral(TAVROLIN_SAMPLE_MEDIA "/sync");

QString srtTime(qint64 ms) {
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

qint64 median(QVector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

} // namespace

class TestSpeechSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sentencesMeetTheSpeech_data();
    void sentencesMeetTheSpeech();
    void pauseSectionsAreTightened();
    void noiseIsNeverShifted();
    void learnersOwnTiming();

private:
    // A copy of the speech with subtitles whose times are truth * scale + offset, moved by jitter and early ends.
    QString subtitled(const QString& sound, double scale, qint64 offset, int jitter, int earlyEnd);

    QVector<TimeSpan> truth;
    QTemporaryDir dir;
};

void TestSpeechSync::initTestCase() {
    QFile file(sync + "/rede.json");
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).object().value("sentences").toArray())
        truth.append({qint64(v.toObject().value("start").toDouble()), qint64(v.toObject().value("end").toDouble())});
    QCOMPARE(truth.size(), 40);
    QVERIFY(dir.isValid());
}

QString TestSpeechSync::subtitled(const QString& sound, double scale, qint64 offset, int jitter, int earlyEnd) {
    static int count = 0;
    const QString folder = dir.filePath(QString::number(++count));
    QDir().mkpath(folder);
    QFile::copy(sync + "/" + sound, folder + "/" + sound);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> shake(-jitter, jitter);
    QByteArray srt;
    for (int i = 0; i < truth.size(); ++i) {
        const qint64 start = qint64(std::llround(truth[i].start * scale)) + offset + shake(random);
        const qint64 end = qint64(std::llround(truth[i].end * scale)) + offset + shake(random) - earlyEnd;
        srt += QString("%1\n%2 --> %3\nSatz %1\n\n").arg(i + 1).arg(srtTime(start), srtTime(end)).toUtf8();
    }
    QFile file(folder + "/" + QFileInfo(sound).completeBaseName() + ".srt");
    file.open(QIODevice::WriteOnly);
    file.write(srt);
    return folder + "/" + sound;
}

void TestSpeechSync::sentencesMeetTheSpeech_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("jitter");
    QTest::addColumn<int>("earlyEnd");
    QTest::addColumn<bool>("applied");
    QTest::newRow("shifted by +2.3 s") << 1.0 << 2300 << 0 << 0 << true;
    QTest::newRow("shifted by -4.1 s, drifting 0.1 %") << 1.001 << -4100 << 0 << 0 << true;
    QTest::newRow("80 ms jitter on every cue") << 1.0 << 0 << 80 << 0 << false;
    QTest::newRow("cue ends 250 ms early") << 1.0 << 0 << 0 << 250 << false;
    QTest::newRow("correct subtitles") << 1.0 << 0 << 0 << 0 << false;
}

void TestSpeechSync::sentencesMeetTheSpeech() {
    // Guards against sentences that start late, cut their last syllable or hold the next one's first,
    // and against subtitles moved that were right.
    QFETCH(double, scale);
    QFETCH(int, offset);
    QFETCH(int, jitter);
    QFETCH(int, earlyEnd);
    QFETCH(bool, applied);

    const MediaImportResult result = importMedia(subtitled("rede.flac", scale, offset, jitter, earlyEnd));
    QVERIFY2(result.ok(), qPrintable(result.error));
    const MediaItem& item = result.item;
    QCOMPARE(item.sentences.size(), truth.size());
    QCOMPARE(item.sync.applied, applied);
    QCOMPARE(item.sync.mode, QString("auto"));
    if (applied) {
        QVERIFY2(qAbs(item.sync.driftPpm - (1 / scale - 1) * 1e6) < 100,
                 qPrintable(QString::number(item.sync.driftPpm)));
        QVERIFY2(qAbs(item.sync.offsetMs + offset / scale) < 60, qPrintable(QString::number(item.sync.offsetMs)));
    }

    QVector<qint64> starts, ends;
    for (int i = 0; i < truth.size(); ++i) {
        const MediaSentence& s = item.sentences.at(i);
        starts << qAbs(s.start - truth[i].start);
        ends << qAbs(s.end - truth[i].end);
        // Nothing of the sentence's own speech is cut off.
        QVERIFY2(s.start <= truth[i].start && s.end >= truth[i].end,
                 qPrintable(QString("sentence %1 is %2-%3, its speech %4-%5")
                                .arg(i)
                                .arg(s.start)
                                .arg(s.end)
                                .arg(truth[i].start)
                                .arg(truth[i].end)));
        if (i + 1 < truth.size())
            QVERIFY2(s.end < truth[i + 1].start + 20, qPrintable(QString("sentence %1 ends at %2, the next speech "
                                                                         "starts at %3")
                                                                     .arg(i)
                                                                     .arg(s.end)
                                                                     .arg(truth[i + 1].start)));
        if (!applied) // no more than the tightening moved
            QVERIFY(qAbs(s.start - item.originalTimes[i].start) <= 300);
    }
    const QString errors = QString("starts: median %1, worst %2 ms; ends: median %3, worst %4 ms")
                               .arg(median(starts))
                               .arg(*std::max_element(starts.begin(), starts.end()))
                               .arg(median(ends))
                               .arg(*std::max_element(ends.begin(), ends.end()));
    qInfo("%s", qPrintable(errors));
    QVERIFY2(median(starts) <= 40 && median(ends) <= 40, qPrintable(errors));
    QVERIFY2(*std::max_element(starts.begin(), starts.end()) <= 120 &&
                 *std::max_element(ends.begin(), ends.end()) <= 120,
             qPrintable(errors));
    QCOMPARE(QJsonObject(result.toJson().value("sync").toObject()).keys(),
             (QStringList{"applied", "confidence", "driftPpm", "mode", "offsetMs", "tightened"}));
}

void TestSpeechSync::pauseSectionsAreTightened() {
    // Guards against sections found by the pause level alone, which start late and cut quiet last syllables.
    const QString path = subtitled("rede.flac", 1.0, 0, 0, 0);
    QVERIFY(QFile::remove(QFileInfo(path).absolutePath() + "/rede.srt"));
    const MediaImportResult result = importMedia(path);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.sentenceSource, QString("silence"));
    QVERIFY(result.item.sync.tightened > 0);
    const QVector<MediaSentence>& sections = result.item.sentences;
    QVector<qint64> errors;
    for (const TimeSpan& spoken : truth) {
        const auto in = std::find_if(sections.begin(), sections.end(),
                                     [&](const MediaSentence& s) { return s.end > spoken.start; });
        QVERIFY(in != sections.end());
        QVERIFY2(
            in->start <= spoken.start && in->end >= spoken.end,
            qPrintable(QString("speech %1-%2 in %3-%4").arg(spoken.start).arg(spoken.end).arg(in->start).arg(in->end)));
        // A sentence that starts or ends its section gives that boundary.
        if (spoken.start - in->start < 300)
            errors << spoken.start - in->start;
        if (in->end - spoken.end < 300)
            errors << in->end - spoken.end;
    }
    QVERIFY(errors.size() >= truth.size());
    QVERIFY2(median(errors) <= 40 && *std::max_element(errors.begin(), errors.end()) <= 120,
             qPrintable(QString("median %1, worst %2 ms")
                            .arg(median(errors))
                            .arg(*std::max_element(errors.begin(), errors.end()))));
}

void TestSpeechSync::noiseIsNeverShifted() {
    // Guards against subtitles dragged to whatever the sound does when nothing in it is speech.
    for (const int offset : {0, 2300}) {
        const MediaImportResult result = importMedia(subtitled("rauschen.opus", 1.0, offset, 0, 0));
        QVERIFY2(result.ok(), qPrintable(result.error));
        QVERIFY(!result.item.sync.applied);
        QCOMPARE(result.item.sync.offsetMs, 0);
        for (int i = 0; i < truth.size(); ++i)
            QVERIFY(qAbs(result.item.sentences[i].start - truth[i].start - offset) <= 300);
    }
}

void TestSpeechSync::learnersOwnTiming() {
    // Guards against a nudge lost on restart, one that breaks the sentence order, and an undo that keeps it.
    const QString path = subtitled("rede.flac", 1.0, 2300, 0, 0);
    const QString data = dir.filePath("data");
    QString id;
    MediaSentence fitted;
    {
        MediaLibrary library(data);
        MediaItem item = library.keep(importMedia(path)).item;
        id = item.id;
        fitted = item.sentences[3];
        QVERIFY(SpeechSync::setSentenceTiming(item, 3, fitted.start - 50, fitted.end + 50).isEmpty());
        QVERIFY(library.setTiming(id, item.sentences, item.sync));
    }
    MediaLibrary library(data); // as after a restart
    std::optional<MediaItem> item = library.storedItem(path);
    QVERIFY(item);
    QCOMPARE(item->sentences[3].start, fitted.start - 50);
    QCOMPARE(item->sentences[3].end, fitted.end + 50);

    const QVector<MediaSentence> before = item->sentences;
    QVERIFY(!SpeechSync::setSentenceTiming(*item, 3, before[2].end - 10, before[3].end).isEmpty());
    QVERIFY(!SpeechSync::setSentenceTiming(*item, 3, before[3].start, before[4].start + 10).isEmpty());
    QVERIFY(!SpeechSync::setSentenceTiming(*item, 3, before[3].end, before[3].start).isEmpty());
    QVERIFY(!SpeechSync::setSentenceTiming(*item, 39, before[39].start, item->duration + 1).isEmpty());
    QVERIFY(!SpeechSync::setSentenceTiming(*item, 40, 0, 10).isEmpty());
    QCOMPARE(item->sentences[3].start, before[3].start);

    std::optional<MediaItem> stored = library.item(id);
    QVERIFY(stored && !stored->speech.isEmpty());
    QVERIFY(SpeechSync::retime(*stored, "original"));
    QCOMPARE(stored->sentences[3].start, truth[3].start + 2300);
    QVERIFY(!stored->sync.applied);
    QVERIFY(SpeechSync::retime(*stored, "auto"));
    QCOMPARE(stored->sentences[3].start, fitted.start);
    QVERIFY(SpeechSync::retime(*stored, "offset:-2000"));
    QVERIFY(stored->sync.applied);
    QVERIFY(qAbs(stored->sentences[3].start - truth[3].start - 300) <= 300);
    QVERIFY(!SpeechSync::retime(*stored, "offset:zwei"));
}

QTEST_GUILESS_MAIN(TestSpeechSync)
#include "tst_speechsync.moc"
