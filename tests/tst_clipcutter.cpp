// Cutting a kept sentence's clip: exactly the sentence, nothing of its
// neighbours, from the containers whose timestamps need care (AAC and MP3 start
// with encoder priming), and no half file when the source is gone.
#include "library/clipcutter.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Five sentences of 2 s, each a tone of its own, with no gap between them.
const int sentenceMs = 2000;
double toneOf(int sentence) {
    return 400.0 * (sentence + 1);
}

bool ffmpeg(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

std::vector<float> decode(const QString& path) {
    QByteArray pcm;
    if (!ffmpeg({"-i", path, "-f", "f32le", "-ac", "1", "-ar", "48000", "-"}, &pcm))
        return {};
    std::vector<float> samples(size_t(pcm.size()) / sizeof(float));
    std::memcpy(samples.data(), pcm.constData(), samples.size() * sizeof(float));
    return samples;
}

double power(const std::vector<float>& s, size_t from, size_t n, double frequency) {
    const double k = 2 * std::cos(2 * M_PI * frequency / 48000);
    double a = 0, b = 0;
    for (size_t i = from; i < from + n; ++i) {
        const double c = s[i] + k * a - b;
        b = a;
        a = c;
    }
    return a * a + b * b - k * a * b;
}

} // namespace

class TestClipCutter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyTheSentence_data();
    void onlyTheSentence();
    void failuresLeaveNoFile_data();
    void failuresLeaveNoFile();

private:
    QTemporaryDir dir;
};

void TestClipCutter::initTestCase() {
    QVERIFY(dir.isValid());
    const QString expr = QStringLiteral("sin(2*PI*t*400*(1+floor(t/2)))");
    const QString wav = dir.filePath("tones.wav");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "aevalsrc=" + expr + ":s=44100:d=10", wav}));
    QVERIFY(ffmpeg({"-i", wav, "-c:a", "aac", "-b:a", "96k", dir.filePath("tones.m4a")}));
    QVERIFY(ffmpeg({"-i", wav, "-c:a", "libmp3lame", "-b:a", "96k", dir.filePath("tones.mp3")}));
    QVERIFY(ffmpeg({"-i", wav, "-ac", "2", "-c:a", "libopus", dir.filePath("tones.opus")}));
}

void TestClipCutter::onlyTheSentence_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<QString>("clip");
    for (const char* file : {"tones.wav", "tones.m4a", "tones.mp3", "tones.opus"})
        for (int sentence : {0, 2, 4})
            QTest::addRow("%s sentence %d", file, sentence) << file << sentence << "clip.ogg";
    QTest::newRow("mp3 clip from m4a") << "tones.m4a" << 3 << "clip.mp3";
}

// The clip holds the sentence's tone alone: within 10 ms of both ends nothing
// of the sentence before or after it, and its length within 10 ms.
void TestClipCutter::onlyTheSentence() {
    QFETCH(QString, file);
    QFETCH(int, sentence);
    QFETCH(QString, clip);
    const QString out = dir.filePath(clip);
    const ClipCutter::Result result =
        ClipCutter::cut(dir.filePath(file), sentence * sentenceMs, (sentence + 1) * sentenceMs, out);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(QFileInfo(out).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    QVERIFY(!QFile::exists(out + ".part"));

    const std::vector<float> s = decode(out);
    const double lengthMs = s.size() / 48.0;
    QVERIFY2(std::fabs(lengthMs - sentenceMs) <= 10, qPrintable(QString::number(lengthMs)));
    const size_t window = 480; // 10 ms
    for (size_t at = window; at + 2 * window <= s.size(); at += window) {
        const double own = power(s, at, window, toneOf(sentence));
        for (int other : {sentence - 1, sentence + 1}) {
            if (other < 0 || other > 4)
                continue;
            QVERIFY2(power(s, at, window, toneOf(other)) * 20 < own,
                     qPrintable(QStringLiteral("tone of sentence %1 at %2 ms").arg(other).arg(at / 48.0)));
        }
    }
}

void TestClipCutter::failuresLeaveNoFile_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::newRow("vanished media") << "gone.m4a" << qint64(0) << qint64(1000);
    QTest::newRow("beyond the end") << "tones.m4a" << qint64(20000) << qint64(21000);
    QTest::newRow("no length") << "tones.m4a" << qint64(3000) << qint64(3000);
    QTest::newRow("not media") << "tones.txt" << qint64(0) << qint64(1000);
}

void TestClipCutter::failuresLeaveNoFile() {
    QFETCH(QString, input);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFile text(dir.filePath("tones.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("Guten Tag\n") > 0);
    text.close();
    const QString out = dir.filePath("failed.ogg");
    const ClipCutter::Result result = ClipCutter::cut(dir.filePath(input), start, end, out);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFile::exists(out + ".part"));
}

QTEST_GUILESS_MAIN(TestClipCutter)
#include "tst_clipcutter.moc"
