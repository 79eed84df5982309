// Local media as practice items: sentences from subtitle files, from subtitle
// streams and from pauses, and input that must fail or be skipped cleanly.
#include "library/mediaimporter.h"
#include "library/subtitletext.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString samples = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);

// The times as the files give them, not fitted to the speech (tst_speechsync tests that).
MediaImportOptions asRead() {
    MediaImportOptions options;
    options.fitToSpeech = false;
    return options;
}

struct Expected {
    qint64 start;
    QString text;
    QString translation;
};

QList<Expected> expectedSentences() {
    QFile file(samples + "/samples.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<Expected> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).object().value("sentences").toArray()) {
        const QJsonObject o = v.toObject();
        out.append(
            {qint64(o.value("start").toDouble()), o.value("text").toString(), o.value("translation").toString()});
    }
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), qPrintable(path));
}

// What the practice controller relies on: strictly ascending starts, no end before
// its start or past the next start, and no timing line left in a text.
void verifyPracticeOrder(const MediaItem& item) {
    for (int i = 0; i < item.sentences.size(); ++i) {
        const MediaSentence& s = item.sentences.at(i);
        QVERIFY2(s.end >= s.start, qPrintable(QString("sentence %1: %2..%3").arg(i).arg(s.start).arg(s.end)));
        QVERIFY2(!s.text.contains("-->"), qPrintable(s.text));
        if (i + 1 < item.sentences.size()) {
            QVERIFY2(s.start < item.sentences.at(i + 1).start, qPrintable(QString("sentence %1 start").arg(i)));
            QVERIFY2(s.end <= item.sentences.at(i + 1).start, qPrintable(QString("sentence %1 end").arg(i)));
        }
    }
}

QByteArray srt(const QList<std::tuple<QString, QString, QString>>& cues) {
    QByteArray out;
    int n = 0;
    for (const auto& [from, to, text] : cues)
        out += QString("%1\n%2 --> %3\n%4\n\n").arg(++n).arg(from, to, text).toUtf8();
    return out;
}

} // namespace

class TestMediaImporter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sentenceSources_data();
    void sentenceSources();
    void silenceFindsEverySentenceStart_data();
    void silenceFindsEverySentenceStart();
    void markupBecomesPlainText_data();
    void markupBecomesPlainText();
    void badInput_data();
    void badInput();
    void subtitlesAsTheirAuthorsMeant_data();
    void subtitlesAsTheirAuthorsMeant();
    void cueWithoutAnEnd_data();
    void cueWithoutAnEnd();
    void twentyThousandCues_data();
    void twentyThousandCues();
    void cuesStayWithinTheMedia();
    void progressIsReportedAndCancels();

private:
    QList<Expected> expected;
    QTemporaryDir dir;
};

void TestMediaImporter::initTestCase() {
    expected = expectedSentences();
    QCOMPARE(expected.size(), 5);
    QVERIFY(dir.isValid());
}

void TestMediaImporter::sentenceSources_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("mediaType");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("translated");
    // ms the file's time format rounds to, or the container shifts by for the audio codec's priming
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("SubRip .de with .zh translation") << "gespraech.mp3"
                                                     << "sidecar"
                                                     << "audio"
                                                     << "gespraech" << true << 0 << 0 << QStringList();
    QTest::newRow("MKV with Chinese then German SubRip stream") << "film.mkv"
                                                                << "embedded"
                                                                << "video"
                                                                << "Ein Film" << true << 10 << 0 << QStringList();
    QTest::newRow("WebVTT with style block, settings, tags") << "vortrag.m4a"
                                                             << "sidecar"
                                                             << "audio"
                                                             << "vortrag" << false << 0 << 0 << QStringList();
    QTest::newRow("ASS with overrides, karaoke, drawing, comment")
        << "lied.ogg"
        << "sidecar"
        << "audio"
        << "lied" << false << 10 << 0 << QStringList{"1 line(s) of karaoke, signs or drawings in lied.ass left out."};
    QTest::newRow("SubRip in Windows-1252") << "alt.flac"
                                            << "sidecar"
                                            << "audio"
                                            << "alt" << false << 0 << 0 << QStringList();
}

void TestMediaImporter::sentenceSources() {
    // Guards against a source losing, shifting or garbling sentences, or pairing translations wrongly.
    QFETCH(QString, file);
    QFETCH(QString, source);
    QFETCH(QString, mediaType);
    QFETCH(QString, title);
    QFETCH(bool, translated);
    QFETCH(int, tolerance);
    QFETCH(int, skipped);
    QFETCH(QStringList, warnings);

    const MediaImportResult result = importMedia(samples + "/" + file, asRead());
    QVERIFY2(result.ok(), qPrintable(result.error));
    const MediaItem& item = result.item;
    QCOMPARE(item.sentenceSource, source);
    QCOMPARE(item.mediaType, mediaType);
    QCOMPARE(item.title, title);
    QCOMPARE(item.skippedCues, skipped);
    QCOMPARE(item.path, QFileInfo(samples + "/" + file).canonicalFilePath());
    QCOMPARE(item.warnings, warnings);
    QVERIFY2(item.duration > 17000 && item.duration < 19000, qPrintable(QString::number(item.duration)));
    QCOMPARE(item.sentences.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const MediaSentence& s = item.sentences.at(i);
        QCOMPARE(s.text, expected.at(i).text);
        QVERIFY2(qAbs(s.start - expected.at(i).start) <= tolerance,
                 qPrintable(QString("%1: %2 instead of %3").arg(i).arg(s.start).arg(expected.at(i).start)));
        QCOMPARE(s.translation, translated ? expected.at(i).translation : QString());
    }
    verifyPracticeOrder(item);

    const QJsonObject json = result.toJson();
    QCOMPARE(json.keys(), (QStringList{"duration", "id", "lastSentence", "mediaType", "missing", "path",
                                       "sentenceSource", "sentences", "skippedCues", "sync", "title", "warnings"}));
    QCOMPARE(json.value("sentences").toArray().at(1).toObject().keys(),
             (QStringList{"end", "start", "text", "translation"}));
    QCOMPARE(json.value("id").toString(), importMedia(samples + "/" + file).item.id); // stable
}

void TestMediaImporter::silenceFindsEverySentenceStart_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("Opus") << "pausen.opus";
    QTest::newRow("MP3") << "gespraech.mp3";
    QTest::newRow("AAC in MP4") << "vortrag.m4a";
    QTest::newRow("Vorbis") << "lied.ogg";
    QTest::newRow("FLAC") << "alt.flac";
}

void TestMediaImporter::silenceFindsEverySentenceStart() {
    // Guards against pauses missed, found inside sentences, or placed late, in any decoder's sample format.
    QFETCH(QString, file);
    const QString copy = dir.filePath("nur-ton." + QFileInfo(file).suffix()); // without its subtitles
    QFile::remove(copy);
    QVERIFY(QFile::copy(samples + "/" + file, copy));

    const MediaImportResult result = importMedia(copy);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.sentenceSource, QString("silence"));
    QCOMPARE(result.item.sentences.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const MediaSentence& s = result.item.sentences.at(i);
        QVERIFY2(
            qAbs(s.start - expected.at(i).start) <= 100,
            qPrintable(QString("sentence %1 at %2 ms, spoken at %3 ms").arg(i).arg(s.start).arg(expected.at(i).start)));
        QVERIFY(s.text.isEmpty());
    }
    verifyPracticeOrder(result.item);
}

void TestMediaImporter::markupBecomesPlainText_data() {
    QTest::addColumn<QString>("decoded");
    QTest::addColumn<QString>("plain");
    QTest::newRow("ASS overrides") << "{\\an8}{\\i1}kursiv{\\i0} und {\\b1\\c&H00FFFF&}fett{\\b0}"
                                   << "kursiv und fett";
    QTest::newRow("ASS line breaks, hard space") << "eins\\Nzwei\\ndrei\\hvier"
                                                 << "eins zwei drei vier";
    QTest::newRow("ASS drawing") << "{\\p1}m 0 0 l 10 0 10 10{\\p0}Text"
                                 << "Text";
    QTest::newRow("WebVTT voice, class, timestamp") << "<v Anna>Hallo</v> <c.gelb.gross>Welt</c> <00:00:01.500>da"
                                                    << "Hallo Welt da";
    QTest::newRow("HTML-like tags") << "<i>schräg</i> <font color=\"red\">rot</font>"
                                    << "schräg rot";
    QTest::newRow("entities") << "a &lt;b&gt; &amp; c&nbsp;d &#252;&#x00DF; &unbekannt;"
                              << "a <b> & c d üß &unbekannt;";
    QTest::newRow("comparison signs are text") << "1 < 2 und 3 > 2"
                                               << "1 < 2 und 3 > 2";
    QTest::newRow("unclosed brace is text") << "{ offen"
                                            << "{ offen";
}

void TestMediaImporter::markupBecomesPlainText() {
    // Guards against styling markup reaching the sentence text the learner types in dictation.
    QFETCH(QString, decoded);
    QFETCH(QString, plain);
    QCOMPARE(SubtitleText::plainText(decoded), plain);
}

void TestMediaImporter::badInput_data() {
    QTest::addColumn<QString>("media");      // created in an empty folder; "" = none
    QTest::addColumn<QByteArray>("content"); // "<audio>" = a copy of the sample sound
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QByteArray>("sidecarContent");
    QTest::addColumn<QString>("error"); // part of the expected error; "" = imported
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QStringList>("texts");

    const QByteArray audio = "<audio>";
    QTest::newRow("missing file") << "" << QByteArray() << "" << QByteArray() << "does not exist"
                                  << "" << 0 << QStringList();
    QTest::newRow("empty file") << "a.mp3" << QByteArray() << "" << QByteArray() << "is empty"
                                << "" << 0 << QStringList();
    QTest::newRow("text named .mp4") << "a.mp4" << QByteArray("Das ist kein Film.\nNur Text.\n") << "" << QByteArray()
                                     << "not an audio or video file"
                                     << "" << 0 << QStringList();
    QTest::newRow("subtitles named .mp4") << "a.mp4" << srt({{"00:00:01,000", "00:00:02,000", "Hallo"}}) << ""
                                          << QByteArray() << "contains no audio or video"
                                          << "" << 0 << QStringList();
    QTest::newRow("unsupported suffix") << "a.txt" << QByteArray("Text") << "" << QByteArray() << "not a media file"
                                        << "" << 0 << QStringList();
    QTest::newRow("0-byte .srt: pauses instead") << "a.mp3" << audio << "a.srt" << QByteArray() << ""
                                                 << "silence" << 0 << QStringList();
    QTest::newRow("binary .srt: pauses instead")
        << "a.mp3" << audio << "a.srt" << QByteArray("\x00\x01\x02\xff\xfe", 5) << ""
        << "silence" << 0 << QStringList();
    QTest::newRow("SubRip broken timestamps") << "a.mp3" << audio << "a.srt"
                                              << QByteArray("1\n00:00:01,000 --> 00:00:02,000\nEins\n\n"
                                                            "2\n00:00:0x,000 --> 00:00:03,000\nKaputt\n\n"
                                                            "3\n00:00:04,000 --> 00:00:05,000\nDrei\n\n"
                                                            "4\n00:00:06,000 -> 00:00:07,000\nAuch kaputt\n\n"
                                                            "5\n00:00:08,000 --> 00:00:09,000\nFünf\n\n"
                                                            "6\n00:00:10,000 --> 00:00:11,000\n\n\n"
                                                            "7\n00:00:12,000 --> 00:00:13,000\nSieben\n")
                                              << ""
                                              << "sidecar" << 2 << QStringList{"Eins", "Drei", "Fünf", "Sieben"};
    QTest::newRow("WebVTT broken cue does not end the file")
        << "a.mp3" << audio << "a.de.vtt"
        << QByteArray("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nEins\n\n"
                      "00:00:0x.000 --> 00:00:03.000\nKaputt\n\n"
                      "REGION\nid:unten width:40%\n\n"
                      "00:00:04.000 --> 00:00:05.000 align:end\nDrei\n\n"
                      "Text ohne Zeit\nin zwei Zeilen\n00:00:06.000 --> 00:00:07.000\nSechs\n\n"
                      "00:00:08.000 --> 00:00:09.000\nAcht\n")
        << ""
        << "sidecar" << 2 << QStringList{"Eins", "Drei", "Sechs", "Acht"};
    QTest::newRow("overlapping cues") << "a.mp3" << audio << "a.srt"
                                      << srt({{"00:00:01,000", "00:00:04,000", "A sagt etwas"},
                                              {"00:00:03,500", "00:00:06,000", "B antwortet"}, // sloppy end: cut
                                              {"00:00:06,000", "00:00:09,000", "C spricht"},
                                              {"00:00:06,000", "00:00:07,000", "D zugleich"}, // same start: together
                                              {"00:00:10,500", "00:00:13,500", "F gleichzeitig"},
                                              {"00:00:10,000", "00:00:14,000", "E lange"}, // mostly together: together
                                              {"00:00:15,000", "00:00:16,000", "G"},
                                              {"00:00:15,000", "00:00:16,000", "G"}}) // given twice: once
                                      << ""
                                      << "sidecar" << 0
                                      << QStringList{"A sagt etwas", "B antwortet", "D zugleich C spricht",
                                                     "E lange F gleichzeitig", "G"};
    // A second apart, half of the short one but not of the long one: shown after each other.
    QTest::newRow("overlap by half the shorter cue only")
        << "a.mp3" << audio << "a.srt"
        << srt({{"00:00:10,000", "00:00:20,000", "Lang"}, {"00:00:12,000", "00:00:13,000", "Kurz"}}) << ""
        << "sidecar" << 0 << QStringList{"Lang", "Kurz"};
}

void TestMediaImporter::badInput() {
    // Guards against crashes, unreadable cues poisoning the rest, and failures reported as items.
    QFETCH(QString, media);
    QFETCH(QByteArray, content);
    QFETCH(QString, sidecar);
    QFETCH(QByteArray, sidecarContent);
    QFETCH(QString, error);
    QFETCH(QString, source);
    QFETCH(int, skipped);
    QFETCH(QStringList, texts);

    QTemporaryDir folder;
    const QString path = folder.filePath(media.isEmpty() ? "fehlt.mp3" : media);
    if (content == "<audio>")
        QVERIFY(QFile::copy(samples + "/pausen.opus", path + ".opus") && QFile::rename(path + ".opus", path));
    else if (!media.isEmpty())
        writeFile(path, content);
    if (!sidecar.isEmpty())
        writeFile(folder.filePath(sidecar), sidecarContent);

    const MediaImportResult result = importMedia(path);
    if (!error.isEmpty()) {
        QVERIFY(!result.ok());
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        QCOMPARE(result.toJson(), (QJsonObject{{"error", result.error}}));
        return;
    }
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.sentenceSource, source);
    QCOMPARE(result.item.skippedCues, skipped);
    verifyPracticeOrder(result.item);
    if (source == "silence") {
        QCOMPARE(result.item.sentences.size(), expected.size());
        QVERIFY2(result.item.warnings.join(' ').contains(sidecar), qPrintable(result.item.warnings.join(' ')));
        return;
    }
    QStringList got;
    for (const MediaSentence& s : result.item.sentences)
        got << s.text;
    QCOMPARE(got, texts);
}

void TestMediaImporter::subtitlesAsTheirAuthorsMeant_data() {
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("sentences"); // "start-end text"
    QTest::addColumn<int>("leftOut");           // karaoke, sign and drawing lines named in a warning

    const QByteArray ass = "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
                           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    auto utf32 = [](const QString& text, bool little) {
        QByteArray out = little ? QByteArray("\xFF\xFE\0\0", 4) : QByteArray("\0\0\xFE\xFF", 4);
        for (const uint c : text.toUcs4())
            for (int k = 0; k < 4; ++k)
                out += char(little ? c >> (8 * k) : c >> (24 - 8 * k));
        return out;
    };
    QTest::newRow("WebVTT cues without blank lines")
        << "a.vtt"
        << QByteArray("WEBVTT\n\n00:00:01.000 --> 00:00:03.000\nErster Satz.\n"
                      "00:00:03.000 --> 00:00:05.000\nZweiter Satz.\n")
        << QStringList{"1000-3000 Erster Satz.", "3000-5000 Zweiter Satz."} << 0;
    QTest::newRow("WebVTT cue right after the header, two text lines")
        << "a.vtt"
        << QByteArray("WEBVTT\n00:00:01.000 --> 00:00:02.500 align:start\nEins, zwei\nund drei.\n"
                      "00:00:03.000 --> 00:00:04.000\nVier.\n\n00:00:05.000 --> 00:00:06.000\nFünf.\n")
        << QStringList{"1000-2500 Eins, zwei und drei.", "3000-4000 Vier.", "5000-6000 Fünf."} << 0;
    QTest::newRow("ASS with a short Format line")
        << "a.ass"
        << QByteArray("[Events]\nFormat: Layer, Start, End, Style, Text\n"
                      "Dialogue: 0,0:00:01.00,0:00:03.00,Default,Guten Morgen.\n"
                      "Dialogue: 0,0:00:04.00,0:00:06.00,Default,Ja, ja, nein, doch, aber, oder, gut.\n")
        << QStringList{"1000-3000 Guten Morgen.", "4000-6000 Ja, ja, nein, doch, aber, oder, gut."} << 0;
    QTest::newRow("SSA with Marked and a name, no margins")
        << "a.ssa"
        << QByteArray("[Script Info]\nScriptType: v4.00\n\n[Events]\nFormat: Marked, Start, End, Style, Name, Text\n"
                      "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,Anna,Hallo, wie geht's?\n")
        << QStringList{"1000-2000 Hallo, wie geht's?"} << 0;
    QTest::newRow("SubRip zero-length cue is not shown")
        << "a.srt"
        << QByteArray("1\n00:00:00,000 --> 00:00:00,000\nNicht anzeigen.\n\n"
                      "2\n00:00:05,000 --> 00:00:06,000\nHallo.\n")
        << QStringList{"5000-6000 Hallo."} << 0;
    QTest::newRow("WebVTT zero-length cue between two")
        << "a.vtt"
        << QByteArray("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nEins.\n\n00:00:02.500 --> 00:00:02.500\nVersteckt.\n\n"
                      "00:00:03.000 --> 00:00:04.000\nZwei.\n")
        << QStringList{"1000-2000 Eins.", "3000-4000 Zwei."} << 0;
    QTest::newRow("UTF-32 little endian SubRip")
        << "a.srt" << utf32("1\n00:00:01,000 --> 00:00:02,000\nSchöne Grüße, 𝄞!\n", true)
        << QStringList{"1000-2000 Schöne Grüße, 𝄞!"} << 0;
    QTest::newRow("UTF-32 big endian WebVTT")
        << "a.vtt" << utf32("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nTschüss und bis bald.\n", false)
        << QStringList{"1000-2000 Tschüss und bis bald."} << 0;
    QTest::newRow("WebVTT entities read once, a lone > kept")
        << "a.vtt"
        << QByteArray("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nMehr als 5 > 3 Euro.\n\n"
                      "00:00:03.000 --> 00:00:04.000\nSchreib &amp;lt; für <b>&lt;</b>.\n")
        << QStringList{"1000-2000 Mehr als 5 > 3 Euro.", "3000-4000 Schreib &lt; für <."} << 0;
    QTest::newRow("WebVTT braces and ampersands are text")
        << "a.vtt" << QByteArray("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nA &amp; B {leise} &gt;&gt; C\n")
        << QStringList{"1000-2000 A & B {leise} >> C"} << 0;
    QTest::newRow("karaoke opening: syllables, effect layers, drawing")
        << "a.ass"
        << ass + "Comment: 0,0:00:01.00,0:00:04.00,OP,,0,0,0,karaoke,{\\k50}Sis{\\k50}ter's {\\k100}noise\n"
                 "Dialogue: 0,0:00:01.00,0:00:04.00,OP,,0,0,0,,{\\k50}Sis{\\k50}ter's {\\k100}noise\n"
                 "Dialogue: 1,0:00:01.00,0:00:01.50,OP,,0,0,0,fx,{\\pos(100,20)}S\n"
                 "Dialogue: 1,0:00:01.50,0:00:02.00,OP,,0,0,0,fx,{\\pos(110,20)}i\n"
                 "Dialogue: 2,0:00:01.00,0:00:04.00,OP,,0,0,0,,{\\pos(100,20)\\fad(100,100)}s\n"
                 "Dialogue: 0,0:00:05.00,0:00:07.00,Default,,0,0,0,,Guten Abend.\n"
                 "Dialogue: 0,0:00:08.00,0:00:09.00,Schild,,0,0,0,,{\\p1}m 0 0 l 10 0 10 10{\\p0}\n"
                 "Dialogue: 0,0:00:10.00,0:00:12.00,Default,,0,0,0,,Bis morgen.\n"
        << QStringList{"5000-7000 Guten Abend.", "10000-12000 Bis morgen."} << 5;
    QTest::newRow("\\ko and \\kf lyrics, a banner effect; a sung line among dialogue stays")
        << "a.ass"
        << ass + "Dialogue: 0,0:00:01.00,0:00:03.00,Lied,,0,0,0,,{\\ko30}la {\\ko30}la {\\ko30}la\n"
                 "Dialogue: 0,0:00:03.00,0:00:05.00,Lied,,0,0,0,,{\\kf30}na {\\kf30}na\n"
                 "Dialogue: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,Banner;20,Schild am Bahnhof\n"
                 "Dialogue: 0,0:00:06.00,0:00:08.00,Default,,0,0,0,,Wo ist der Bahnhof?\n"
                 "Dialogue: 0,0:00:09.00,0:00:11.00,Default,,0,0,0,,{\\k40}Hier {\\k40}ist {\\k40}er!\n"
                 "Dialogue: 0,0:00:12.00,0:00:13.00,Default,,0,0,0,,Danke schön.\n"
        << QStringList{"6000-8000 Wo ist der Bahnhof?", "9000-11000 Hier ist er!", "12000-13000 Danke schön."} << 3;
}

void TestMediaImporter::subtitlesAsTheirAuthorsMeant() {
    // Guards against cues glued together, text cut or garbled, hidden cues shown, and karaoke or signs
    // practised as sentences, in files whose readers follow the formats' published rules.
    QFETCH(QString, sidecar);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, sentences);
    QFETCH(int, leftOut);

    QTemporaryDir folder;
    QVERIFY(QFile::copy(samples + "/pausen.opus", folder.filePath("a.opus")));
    writeFile(folder.filePath(sidecar), content);
    const MediaImportResult result = importMedia(folder.filePath("a.opus"), asRead());
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.sentenceSource, QString("sidecar"));
    QStringList got;
    for (const MediaSentence& s : result.item.sentences)
        got << QString("%1-%2 %3").arg(s.start).arg(s.end).arg(s.text);
    QCOMPARE(got, sentences);
    QCOMPARE(result.item.skippedCues, 0);
    const QString warnings = result.item.warnings.join('\n');
    QVERIFY2(leftOut ? warnings.contains(QString::number(leftOut) + " line") : warnings.isEmpty(),
             qPrintable(warnings));
}

void TestMediaImporter::cueWithoutAnEnd_data() {
    QTest::addColumn<QStringList>("cues"); // "start,end,text" in ms; end -1: none given
    QTest::addColumn<QStringList>("translations");
    QTest::addColumn<QStringList>("sentences"); // "start-end text|translation"
    QTest::newRow("no end") << QStringList{"1000,-1,Ohne Ende", "5000,7000,Zwei"}
                            << QStringList{"1200,3500,eins", "5100,6900,zwei"}
                            << QStringList{"1000-5000 Ohne Ende|eins", "5000-7000 Zwei|zwei"};
    QTest::newRow("end before start") << QStringList{"1000,2000,Eins", "5000,4000,Rückwärts", "8000,9000,Drei"}
                                      << QStringList{"1100,1900,eins", "5100,7500,zwei", "8100,8900,drei"}
                                      << QStringList{"1000-2000 Eins|eins", "5000-8000 Rückwärts|zwei",
                                                     "8000-9000 Drei|drei"};
}

void TestMediaImporter::cueWithoutAnEnd() {
    // Guards against a missing or backward end kept as it is: the translations' search assumes ends in order.
    QFETCH(QStringList, cues);
    QFETCH(QStringList, translations);
    QFETCH(QStringList, sentences);
    auto read = [](const QStringList& list) {
        QVector<SubtitleCue> out;
        for (const QString& c : list) {
            SubtitleCue cue;
            cue.start = c.section(',', 0, 0).toLongLong();
            cue.end = c.section(',', 1, 1).toLongLong();
            cue.text = c.section(',', 2);
            out.append(cue);
        }
        return out;
    };
    int skipped = 0;
    QVector<MediaSentence> found = SubtitleText::sentencesFromCues(read(cues), 20000, &skipped);
    SubtitleText::attachTranslations(found, read(translations));
    QStringList got;
    for (const MediaSentence& s : found)
        got << QString("%1-%2 %3|%4").arg(s.start).arg(s.end).arg(s.text, s.translation);
    QCOMPARE(got, sentences);
}

void TestMediaImporter::twentyThousandCues_data() {
    QTest::addColumn<int>("cues");
    QTest::newRow("as many as a file may have") << 20000;
    QTest::newRow("one more: refused") << 20001;
}

void TestMediaImporter::twentyThousandCues() {
    // Guards against large subtitle files being cut off or left unsorted, and against a file with more sentences than
    // the page and the library can carry (a million cues gave a 70 MB answer) being taken.
    QFETCH(int, cues);
    QTemporaryDir folder;
    // Silence long enough for every cue: 8-bit PCM at 1 kHz, 2 h 15 min.
    const qint64 seconds = 8100;
    QByteArray wav = "RIFF" + QByteArray(4, 0) + "WAVEfmt ";
    auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    wav += le32(16) + le16(1) + le16(1) + le32(1000) + le32(1000) + le16(1) + le16(8) + "data" + le32(seconds * 1000);
    wav += QByteArray(seconds * 1000, char(0x80));
    wav.replace(4, 4, le32(quint32(wav.size() - 8)));
    writeFile(folder.filePath("lang.wav"), wav);
    QByteArray file;
    for (int i = 0; i < cues; ++i) {
        // Written out of order in pairs, with markup, as edited files are.
        const int n = i % 2 ? i - 1 : i + 1;
        const qint64 start = 1000 + qint64(n) * 400;
        auto time = [](qint64 ms) {
            return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                                     ms % 1000);
        };
        file +=
            QString("%1\n%2 --> %3\n<i>Satz</i> %4\n\n").arg(i + 1).arg(time(start), time(start + 350)).arg(n).toUtf8();
    }
    writeFile(folder.filePath("lang.srt"), file);

    const MediaImportResult result = importMedia(folder.filePath("lang.wav"), asRead());
    if (cues > maxMediaSentences) {
        QVERIFY(!result.ok());
        QVERIFY2(result.error.contains("has 20001 sentences; at most 20000"), qPrintable(result.error));
        return;
    }
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.duration, seconds * 1000);
    QCOMPARE(result.item.sentences.size(), 20000);
    QCOMPARE(result.item.skippedCues, 0);
    QCOMPARE(result.item.sentences.first().text, QString("Satz 0"));
    QCOMPARE(result.item.sentences.last().text, QString("Satz 19999"));
    QCOMPARE(result.item.sentences.last().start, 1000 + 19999 * 400);
    verifyPracticeOrder(result.item);
}

void TestMediaImporter::cuesStayWithinTheMedia() {
    // Guards against cues running to 99 hours in a file of seconds being stored and practised in silence.
    QTemporaryDir folder;
    QVERIFY(QFile::copy(samples + "/pausen.opus", folder.filePath("kurz.opus")));
    const qint64 length = importMedia(folder.filePath("kurz.opus")).item.duration;
    QVERIFY(length > 3000);
    auto time = [](qint64 ms) {
        return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                                 ms % 1000)
            .toUtf8();
    };
    writeFile(folder.filePath("kurz.srt"), "1\n" + time(500) + " --> " + time(1500) + "\nAnfang\n\n2\n" +
                                               time(length - 1000) + " --> 99:00:00,000\nBis zum Ende\n\n3\n" +
                                               time(length + 2000) + " --> " + time(length + 3000) +
                                               "\nDanach\n\n4\n90:00:00,000 --> 99:00:00,000\nViel später\n");
    const MediaImportResult result = importMedia(folder.filePath("kurz.opus"));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.item.sentences.size(), 2);
    QCOMPARE(result.item.sentences.at(1).text, QString("Bis zum Ende"));
    QVERIFY(qAbs(result.item.duration - length) < 50); // the container's length, not the sound's
    QCOMPARE(result.item.sentences.at(1).end, result.item.duration);
    QVERIFY2(result.item.warnings.join(' ').contains("2 subtitles after the end"),
             qPrintable(result.item.warnings.join(' ')));

    // Nothing within it: refused, not an item of silence.
    writeFile(folder.filePath("kurz.srt"), "1\n90:00:00,000 --> 99:00:00,000\nViel später\n");
    const MediaImportResult late = importMedia(folder.filePath("kurz.opus"));
    QVERIFY(!late.ok());
    QVERIFY2(late.error.contains("all start after the end"), qPrintable(late.error));
}

void TestMediaImporter::progressIsReportedAndCancels() {
    // Guards against a long import that cannot show progress or be stopped.
    QList<int> seen;
    MediaImportOptions options;
    options.progress = [&](int percent) {
        seen << percent;
        return true;
    };
    QVERIFY(importMedia(samples + "/pausen.opus", options).ok());
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));

    options.progress = [](int percent) { return percent < 10; };
    const MediaImportResult cancelled = importMedia(samples + "/pausen.opus", options);
    QVERIFY(!cancelled.ok());
    QVERIFY2(cancelled.error.contains("cancelled"), qPrintable(cancelled.error));
}

QTEST_GUILESS_MAIN(TestMediaImporter)
#include "tst_mediaimporter.moc"
