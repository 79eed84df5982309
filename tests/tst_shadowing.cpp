// Nachsprechen through the main page's bridge, for real: the sample media's
// sentence played by the real player, the learner's take said into a virtual
// microphone on the test command's PulseAudio server, the analysis in the
// library module, the attempts in the data directory.
#include "app/webview.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "playback/practicecontroller.h"
#include "support/media.h"
#include "support/testsupport.h"
#include "support/virtualmicrophone.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

const QString samples = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);
constexpr int sentence = 2;

QJsonObject object(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The single-quoted string literal that follows `start` in a snippet, unescaped.
QString between(const QString& snippet, const QString& start) {
    int i = snippet.indexOf(start);
    if (i < 0)
        return QString();
    QString out;
    for (i += start.size(); i < snippet.size() && snippet.at(i) != QLatin1Char('\''); ++i) {
        QChar c = snippet.at(i);
        if (c == QLatin1Char('\\') && i + 1 < snippet.size()) {
            c = snippet.at(++i);
            if (c == QLatin1Char('n'))
                c = QLatin1Char('\n');
            else if (c == QLatin1Char('r'))
                c = QLatin1Char('\r');
            else if (c == QLatin1Char('u')) {
                c = QChar(snippet.mid(i + 1, 4).toUShort(nullptr, 16));
                i += 4;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

class TestShadowing : public QObject {
    Q_OBJECT

    struct Practice {
        QWidget host;
        WebView* view = nullptr;
        WebApi* bridge = nullptr;
        TestSupport::ScriptRecorder page;
        QStringList states;
        QString result; // the last result, as JSON text
        std::function<void()> onRecording;
    };

    QList<int> starts;
    QList<int> ends;
    std::unique_ptr<VirtualMicrophone> microphone;
    QString localeDir;

    // The main page's bridge practising the sample media, with a page that
    // answers media.play and media.pause as the real one does.
    void open(Practice& p) {
        p.host.setObjectName("MainWindow");
        p.view = new WebView(&p.host);
        p.bridge = new WebApi(BridgeContext::create(), p.view);
        p.bridge->attachView(p.view);
        p.page.answer = [&p](const PageScript::Call& call) {
            const QString& s = call.snippet;
            if (s == "media.play(0);")
                p.bridge->play(0);
            else if (s == "media.pause();")
                p.bridge->pause();
            else if (s.contains("shadowing.state('")) {
                p.states << between(s, "shadowing.state('");
                if (p.states.last() == "recording" && p.onRecording)
                    p.onRecording();
            } else if (s.contains("shadowing.result('")) {
                p.result = between(s, "shadowing.result('");
            }
            return QVariant();
        };
        p.bridge->initPlay(QUrl::fromLocalFile(samples + "/gespraech.mp3").toString(), "local", starts);
        p.bridge->setEndTimes(ends);
        QTRY_VERIFY_WITH_TIMEOUT(p.page.all().join('\n').contains("media.loadingEnd();"), 15000);
    }

    // Starts a take of the sentence and says `file` (or nothing) once it records;
    // waits for its end.
    QJsonObject take(Practice& p, const QString& file, bool pressSpace = false) {
        p.states.clear();
        p.result.clear();
        std::unique_ptr<QProcess> voice;
        p.onRecording = [&] {
            if (!file.isEmpty())
                voice.reset(microphone->say(samples + "/shadowing/" + file));
        };
        p.bridge->startShadowing(sentence);
        if (pressSpace) {
            if (!QTest::qWaitFor([&] { return p.states.contains("recording"); }, 15000))
                return {};
            QTest::qWait(1000);
            p.bridge->askPageToPlay(false); // Space, as the video keys pass it on
        }
        if (!QTest::qWaitFor([&] { return p.states.contains("done") || p.states.contains("error"); }, 30000))
            return {};
        if (voice)
            voice->waitForFinished(10000);
        return object(p.result);
    }

private slots:
    void initTestCase() {
        TestSupport::useCleanDataDirectory();
        TAVROLIN_REQUIRE_AUDIO();
        QFile list(samples + "/samples.json");
        QVERIFY(list.open(QIODevice::ReadOnly));
        for (const QJsonValue& s : QJsonDocument::fromJson(list.readAll())["sentences"].toArray()) {
            starts << s["start"].toInt();
            ends << s["end"].toInt();
        }
        // The German texts, beside the program as an installation has them.
        localeDir = QCoreApplication::applicationDirPath() + "/locale";
        QDir().mkpath(localeDir);
        QFile::remove(localeDir + "/de.qm");
        QVERIFY(QFile::copy(QStringLiteral(TAVROLIN_BUILD_LOCALE_DIR) + "/de.qm", localeDir + "/de.qm"));
        microphone = std::make_unique<VirtualMicrophone>();
        QVERIFY2(microphone->isReady(), "pactl could not make the virtual microphone");
    }

    void cleanupTestCase() {
        microphone.reset();
        QDir(localeDir).removeRecursively();
    }

    void init() { TestSupport::useCleanDataDirectory(); }
    void cleanup() { TestSupport::deleteTopLevelWindows(); }

    // The whole take: the sentence heard to its end, then recorded, analysed,
    // scored, kept and drawn. Guards against recording the sentence itself, a
    // take that never ends, a result without its parts, and recordings others can read.
    void sentenceSaidBackIsScoredAndKept() {
        Practice p;
        open(p);
        const QJsonObject result = take(p, "original.wav");
        QCOMPARE(p.states, (QStringList{"playing", "recording", "analysing", "done"}));
        QVERIFY2(result.value("score").toInt() >= 90, qPrintable(p.result.left(300)));
        for (const char* part : {"timing", "rhythm", "melody"})
            QVERIFY2(result.value(part).toInt() >= 80, part);
        QCOMPARE(result.value("index").toInt(), sentence);
        // The learner's speech is about as long as the sentence (nothing of the sentence itself, which played first).
        const int original = result.value("originalMs").toInt();
        QVERIFY2(qAbs(result.value("durationMs").toInt() - original) < 200,
                 qPrintable(QString("%1 against %2 ms").arg(result.value("durationMs").toInt()).arg(original)));
        // Peaks and pitch every 10 ms, for both voices, and the path between them.
        const QJsonObject voice = result.value("learner").toObject();
        QCOMPARE(result.value("frameMs").toInt(), 10);
        QCOMPARE(voice.value("peaks").toArray().size(), voice.value("pitch").toArray().size());
        QVERIFY(qAbs(voice.value("peaks").toArray().size() * 10 - original) < 400);
        const QJsonArray path = result.value("path").toArray();
        QVERIFY(path.size() > 100 && path.size() <= 600);
        // Pairs of indices into the two arrays; the sentence said back as it was pairs each moment with itself.
        int off = 0;
        for (const QJsonValue& pair : path)
            off = std::max(off, qAbs(pair.toArray().at(0).toInt() - pair.toArray().at(1).toInt()));
        QVERIFY2(off <= 15, qPrintable(QString("a pair %1 frames apart").arg(off)));
        const int originalFrames = result.value("original").toObject().value("peaks").toArray().size();
        QVERIFY(path.last().toArray().at(0).toInt() < originalFrames);
        QVERIFY(path.last().toArray().at(1).toInt() < voice.value("peaks").toArray().size());

        // Kept: listed for the sentence, the recording owner-only in the data directory.
        const QString id = result.value("attempt").toString();
        const QJsonArray attempts = QJsonDocument::fromJson(p.bridge->shadowingAttempts(sentence).toUtf8()).array();
        QCOMPARE(attempts.size(), 1);
        QCOMPARE(attempts.first()["id"].toString(), id);
        QCOMPARE(attempts.first()["score"].toInt(), result.value("score").toInt());
        QCOMPARE(p.bridge->shadowingAttempts(sentence + 1), QString("[]"));
        const QString folder = QDir(dataDirectory()).filePath("shadowing");
        const QFileInfo recording(QDir(folder).filePath(id + ".wav"));
        QVERIFY(recording.exists());
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(recording.permissions() & (others | QFile::ReadOwner | QFile::WriteOwner),
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(folder).permissions() & (others | QFile::ExeOwner), QFile::ExeOwner);

        p.bridge->deleteAttempt(id);
        QCOMPARE(p.bridge->shadowingAttempts(sentence), QString("[]"));
        QVERIFY(!QFile::exists(recording.filePath()));
    }

    // Space during the recording ends it at once; having said nothing, the
    // learner is told so and no attempt is kept.
    void silenceIsNothingHeard() {
        Practice p;
        open(p);
        const QJsonObject result = take(p, QString(), true);
        QCOMPARE(p.states.join(' '), QString("playing recording analysing error"));
        QVERIFY2(result.value("message").toString().startsWith("Nichts gehört"), qPrintable(p.result));
        QCOMPARE(result.value("attempt").toString(), QString());
        QCOMPARE(p.bridge->shadowingAttempts(sentence), QString("[]"));
    }

    // No microphone at all (the output's monitor is none): the message, and
    // reading, the loop and dictation still play in the same run.
    void noMicrophoneLeavesTheOtherModes() {
        microphone->unplug();
        Practice p;
        open(p);
        const QJsonObject result = take(p, QString());
        QCOMPARE(p.states, QStringList{"error"});
        QVERIFY2(result.value("message").toString().startsWith("Kein Mikrofon gefunden"), qPrintable(p.result));

        // Reading: the next sentence is highlighted as it is reached.
        p.page.clear();
        p.bridge->setState("mode", "read");
        p.bridge->play(starts.at(1) - 300);
        QTRY_VERIFY_WITH_TIMEOUT(p.page.all().join('\n').contains("media.highlight('1');"), 10000);
        // The loop: past the sentence's end the player is back in the sentence, not in the next.
        p.bridge->setState("repeat", "repeatSen");
        QTest::qWait(ends.at(1) - starts.at(1) + 1000);
        const double at = p.bridge->practice()->exactPosition() * 1000;
        QVERIFY2(at >= starts.at(1) - 50 && at < ends.at(1) + 100, qPrintable(QString::number(at)));
        p.bridge->setState("repeat", "");
        // Dictation: the first hearing is counted.
        p.page.clear();
        p.bridge->setState("mode", "dictation");
        p.bridge->setDictationIndex(0);
        p.bridge->play(0);
        QTRY_VERIFY_WITH_TIMEOUT(p.page.all().join('\n').contains("article.setPlayTimes('0', '1');"), 15000);
        p.bridge->cancelPlay();
        microphone = std::make_unique<VirtualMicrophone>();
    }
};

TAVROLIN_MEDIA_TEST_MAIN(TestShadowing)
#include "tst_shadowing.moc"
