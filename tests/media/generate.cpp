// Builds the sample media of the media library tests: one recording of German
// speech (espeak-ng, sox) with pauses between its sentences, encoded as several
// audio and video formats (ffmpeg), and subtitles for it in every form the
// importer reads. samples.json records each sentence's true start and end.
// shadowing/ holds what a learner might say back to sentence 2.
//
//   tavrolin-sample-media <output dir>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

struct Sentence {
    QString text;
    QStringList chinese; // as cues: a translation may come in two parts
};

const QList<Sentence> sentences{
    {"Guten Morgen, heute lernen wir Deutsch.", {"早上好，今天我们学习德语。"}},
    {"Schöne Grüße aus München an alle Hörer.", {"来自慕尼黑的问候，致所有听众。"}},
    {"Der Zug nach Köln fährt um acht Uhr ab.", {"开往科隆的火车八点出发。"}},
    {"„Wir üben jeden Satz so lange, bis er sitzt.“", {"我们练习每个句子，", "直到掌握为止。"}},
    {"Tschüss und bis zum nächsten Mal!", {"再见，下次见！"}},
};
const int sampleRate = 44100;
const double leadingSilence = 0.5;
const double pauseAfterSentence = 0.6; // espeak-ng ends each clip with about 0.4 s of its own

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(
            (program + ' ' + args.join(' ') + ": " + QString::fromLocal8Bit(process.readAllStandardError()))
                .toStdString());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void ffmpeg(const QStringList& args) {
    run("ffmpeg", QStringList{"-y", "-nostdin", "-loglevel", "error", "-bitexact"} + args);
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        throw std::runtime_error(("cannot write " + path).toStdString());
}

qint64 samples(const QString& wav) {
    bool ok = false;
    const qint64 n = run("soxi", {"-s", wav}).toLongLong(&ok);
    if (!ok)
        throw std::runtime_error(("no length for " + wav).toStdString());
    return n;
}

QString srtTime(qint64 ms) {
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}
QString vttTime(qint64 ms) {
    return srtTime(ms).replace(',', '.');
}
QString assTime(qint64 ms) {
    return QString::asprintf("%lld:%02lld:%02lld.%02lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms / 10 % 100);
}

// German text as old Windows programs wrote it.
QByteArray windows1252(const QString& text) {
    QByteArray out;
    for (const QChar c : text) {
        if (c == QChar(0x201E))
            out += '\x84';
        else if (c == QChar(0x201C))
            out += '\x93';
        else if (c.unicode() < 0x100)
            out += char(c.unicode());
        else
            throw std::runtime_error("not in Windows-1252");
    }
    return out;
}

struct Timed {
    qint64 start;
    qint64 end;
};

QString srt(const QList<Timed>& times, const QStringList& texts) {
    QString out;
    for (int i = 0; i < times.size(); ++i)
        out +=
            QString("%1\n%2 --> %3\n%4\n\n").arg(i + 1).arg(srtTime(times[i].start), srtTime(times[i].end), texts[i]);
    return out;
}

// The Chinese cues start a little late and end a little late, as separately made
// subtitles do; a translation in two parts splits its sentence's time.
QString chineseSrt(const QList<Timed>& times) {
    QList<Timed> cueTimes;
    QStringList texts;
    for (int i = 0; i < sentences.size(); ++i) {
        const QStringList& parts = sentences[i].chinese;
        const qint64 start = times[i].start + 150;
        const qint64 length = (times[i].end + 250 - start) / parts.size();
        for (int p = 0; p < parts.size(); ++p) {
            cueTimes.append({start + p * length, start + (p + 1) * length});
            texts.append(parts[p]);
        }
    }
    return srt(cueTimes, texts);
}

QString webVtt(const QList<Timed>& t) {
    auto cue = [&](int i) { return vttTime(t[i].start) + " --> " + vttTime(t[i].end); };
    return "WEBVTT - Vortrag\n\n"
           "STYLE\n::cue(.gelb) { color: yellow }\n\n"
           "NOTE Untertitel mit Einstellungen und Auszeichnungen\n\n"
           "eins\n" +
           cue(0) +
           " align:start position:10% line:0\n"
           "<v Anna>Guten <i>Morgen</i>, heute lernen wir Deutsch.</v>\n\n"
           "zwei\n" +
           cue(1) +
           " size:80%\n"
           "<c.gelb>Schöne Grüße</c> aus <b>München</b>\nan alle <u>Hörer</u>.\n\n" +
           cue(2) +
           " line:-1 align:center\n"
           "Der Zug nach Köln <00:00:08.000>fährt um acht Uhr ab.\n\n" +
           cue(3) +
           " vertical:rl\n"
           "<v.laut Ben>„Wir üben jeden Satz so lange, bis er sitzt.“\n\n" +
           cue(4) +
           "\n"
           "<lang de>Tschüss</lang> und bis&nbsp;zum nächsten Mal!\n";
}

QString ass(const QList<Timed>& t) {
    QString out = "[Script Info]\nTitle: Lied\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n"
                  "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
                  "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, "
                  "Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
                  "Style: Default,DejaVu Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,"
                  "0,2,10,10,10,1\n\n"
                  "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    const QStringList texts{
        "{\\an8\\fad(200,200)}Guten {\\i1}Morgen{\\i0}, heute lernen wir Deutsch.",
        "Schöne Grüße aus {\\b1\\c&H00FFFF&}München{\\b0\\c}\\Nan alle Hörer.",
        "{\\pos(192,250)}Der Zug nach Köln\\hfährt um acht Uhr ab.",
        "{\\k20}„Wir {\\k30}üben {\\k40}jeden Satz so lange,\\nbis er sitzt.“",
        "Tschüss und bis zum nächsten Mal!",
    };
    for (int i = 0; i < texts.size(); ++i) {
        out += QString("Dialogue: 0,%1,%2,Default,,0,0,0,,%3\n").arg(assTime(t[i].start), assTime(t[i].end), texts[i]);
        if (i == 1) // a drawing shown with a sentence, and a comment: neither is text to practise
            out += QString("Dialogue: 1,%1,%2,Default,,0,0,0,,{\\p1}m 0 0 l 100 0 100 100 0 100{\\p0}\n"
                           "Comment: 0,%1,%2,Default,,0,0,0,,Kommentar\n")
                       .arg(assTime(t[i].start + 100), assTime(t[i].end - 100));
    }
    return out;
}

// Forty sentences with pauses of varied length, after a musical opening and
// with music-like sound in some of the longer pauses, for fitting subtitle
// times to speech. sync/rede.json records where each sentence's speech
// truly starts and ends (its first and last sample above -60 dBFS).
void syncSet(const QString& out, const QString& w) {
    const QStringList texts{
        "Heute sprechen wir über das Wetter in Deutschland.",
        "Im Norden regnet es oft.",
        "Im Süden scheint dagegen häufig die Sonne.",
        "Ja.",
        "Die Berge sind im Winter voller Schnee.",
        "Viele Menschen fahren dann zum Skifahren in die Alpen.",
        "Das ist teuer, aber schön.",
        "Im Frühling blühen die Bäume in den Gärten.",
        "Morgen wird es wärmer, sagt der Wetterbericht.",
        "Nimm trotzdem einen Schirm mit!",
        "Am Wochenende wollen wir wandern gehen.",
        "Wohin denn?",
        "Vielleicht an den Bodensee oder in den Schwarzwald.",
        "Dort gibt es viele schöne Wege.",
        "Mein Bruder kommt auch mit.",
        "Er hat ein neues Fahrrad gekauft.",
        "Wir treffen uns um neun Uhr am Bahnhof.",
        "Der Zug fährt pünktlich ab.",
        "Unterwegs essen wir belegte Brote.",
        "Danke, das ist eine gute Idee.",
        "Am Abend kochen wir zusammen Suppe.",
        "Die Kinder spielen im Hof Fußball.",
        "Hast du die Nachrichten gehört?",
        "Nein, noch nicht.",
        "Die Stadt baut eine neue Brücke über den Fluss.",
        "Das dauert sicher zwei Jahre.",
        "In der Zwischenzeit fahren die Busse einen Umweg.",
        "Das ist für alle ein bisschen lästig.",
        "Im Sommer gibt es ein großes Fest am Ufer.",
        "Dann kommen Musiker aus der ganzen Region.",
        "Ich freue mich schon sehr darauf.",
        "Meine Freundin singt in einem Chor.",
        "Sie übt jeden Dienstag und Donnerstag.",
        "Am Samstag ist ihr erstes Konzert.",
        "Wir kaufen die Karten im Internet.",
        "Die Plätze in der ersten Reihe sind schon weg.",
        "Macht nichts, wir sitzen gern weiter hinten.",
        "Nach dem Konzert gehen wir noch etwas trinken.",
        "Das Café am Markt hat lange offen.",
        "Bis bald und schönen Abend noch!",
    };
    const int rate = 22050; // espeak-ng's own: nothing resampled
    const QString dir = out + "/sync";
    if (!QDir().mkpath(dir))
        throw std::runtime_error("cannot create the sync folder");
    auto silence = [&](const QString& name, double seconds) {
        const QString file = w + "/" + name;
        run("sox", {"-n", "-r", QString::number(rate), "-c", "1", "-b", "16", file, "trim", "0",
                    QString::number(seconds, 'f', 4)});
        return file;
    };
    // Plucked notes over a soft chord, at about a third of the speech's loudness.
    auto music = [&](const QString& name, double seconds, int seed) {
        const QStringList notes{"A3", "C4", "E4", "G4", "D4", "F4", "B3"};
        const int count = std::max(1, int(seconds / 0.3));
        QStringList parts;
        for (int k = 0; k < count; ++k) {
            const QString note = w + QString("/%1-note-%2.wav").arg(name).arg(k);
            run("sox", {"-n", "-r", QString::number(rate), "-c", "1", "-b", "16", note, "synth",
                        QString::number(seconds / count, 'f', 4), "pluck", notes[(seed + 3 * k) % notes.size()]});
            parts << note;
        }
        const QString melody = w + "/" + name + "-melody.wav";
        run("sox", parts + QStringList{melody});
        const QString chord = w + "/" + name + "-chord.wav";
        run("sox", {"-n",
                    "-r",
                    QString::number(rate),
                    "-c",
                    "1",
                    "-b",
                    "16",
                    chord,
                    "synth",
                    QString::number(double(samples(melody)) / rate, 'f', 6),
                    "sine",
                    "220",
                    "sine",
                    "277",
                    "remix",
                    "-",
                    "fade",
                    "0.05",
                    "0",
                    "0.05",
                    "vol",
                    "0.15"});
        const QString file = w + "/" + name + ".wav";
        run("sox", {"-m", melody, chord, file, "vol", "0.3"});
        return file;
    };

    QStringList parts;
    QJsonArray truth;
    qint64 position = 0;
    auto append = [&](const QString& file) {
        parts << file;
        position += samples(file);
    };
    append(music("intro", 5.0, 0));
    append(silence("after-intro.wav", 0.8));
    quint32 random = 2024;
    auto next = [&random] { return (random = random * 1664525u + 1013904223u) >> 8; };
    for (int i = 0; i < texts.size(); ++i) {
        const QString raw = w + QString("/sync-raw-%1.wav").arg(i);
        const QString clip = w + QString("/sync-clip-%1.wav").arg(i);
        run("espeak-ng", {"-v", "de", "-s", QString::number(140 + int(next() % 30)), "-w", raw, texts[i]});
        // Only the speech: from its first to its last sample above -60 dBFS.
        run("sox", {raw, "-r", QString::number(rate), "-c", "1", "-b", "16", clip, "silence", "1", "0.0005", "0.1%",
                    "reverse", "silence", "1", "0.0005", "0.1%", "reverse"});
        const qint64 length = samples(clip);
        truth.append(QJsonObject{
            {"start", position * 1000 / rate}, {"end", (position + length) * 1000 / rate}, {"text", texts[i]}});
        append(clip);
        if (i + 1 == texts.size())
            break;
        // Pauses from 0.3 to 1.8 s; every fifth long one holds music with room on both sides.
        const double pause = 0.3 + double(next() % 1500) / 1000;
        if (pause >= 1.2 && i % 5 == 2) {
            append(silence(QString("sync-pause-a-%1.wav").arg(i), 0.35));
            append(music(QString("sync-music-%1").arg(i), pause - 0.7, i));
            append(silence(QString("sync-pause-b-%1.wav").arg(i), 0.35));
        } else {
            append(silence(QString("sync-pause-%1.wav").arg(i), pause));
        }
    }
    append(silence("outro.wav", 1.0));
    const QString speech = w + "/sync-speech.wav";
    run("sox", parts + QStringList{speech});
    // A faint noise floor, as recordings have (about -66 dBFS).
    const double seconds = double(position) / rate;
    const QString noise = w + "/sync-noise.wav";
    run("sox", {"-R", "-n", "-r", QString::number(rate), "-c", "1", "-b", "16", noise, "synth",
                QString::number(seconds, 'f', 6), "whitenoise", "vol", "0.0009"});
    const QString mixed = w + "/sync-mixed.wav";
    run("sox", {"-R", "-m", "-v", "1", speech, "-v", "1", noise, mixed});
    // Lossless: a lossy codec rings on after an abrupt end, and the truth would not be what is heard.
    ffmpeg({"-i", mixed, "-c:a", "flac", dir + "/rede.flac"});
    // Noise without speech, as long, with a slow swell.
    const QString swell = w + "/swell.wav";
    run("sox", {"-R", "-n", "-r", QString::number(rate), "-c", "1", "-b", "16", swell, "synth",
                QString::number(seconds, 'f', 6), "pinknoise", "tremolo", "0.2", "60", "vol", "0.2"});
    ffmpeg({"-i", swell, "-c:a", "libopus", "-b:a", "32k", dir + "/rauschen.opus"});
    writeFile(dir + "/rede.json", QJsonDocument(QJsonObject{{"sentences", truth}}).toJson());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output dir>\n", argv[0]);
        return 2;
    }
    try {
        const QString out = QString::fromLocal8Bit(argv[1]);
        QTemporaryDir work;
        if (!work.isValid() || !QDir().mkpath(out))
            throw std::runtime_error("cannot create the directories");
        const QString w = work.path();

        // Speech: silence, then each sentence followed by a pause.
        QStringList parts;
        const QString lead = w + "/lead.wav";
        run("sox", {"-n", "-r", QString::number(sampleRate), "-c", "1", "-b", "16", lead, "trim", "0",
                    QString::number(leadingSilence)});
        parts << lead;
        qint64 position = samples(lead);
        QList<Timed> times;
        for (int i = 0; i < sentences.size(); ++i) {
            const QString raw = w + QString("/raw-%1.wav").arg(i);
            const QString clip = w + QString("/clip-%1.wav").arg(i);
            QString spokenText = sentences[i].text;
            spokenText.remove(QChar(0x201E)).remove(QChar(0x201C));
            run("espeak-ng", {"-v", "de", "-s", "150", "-w", raw, spokenText});
            // Without espeak-ng's own lead-in: the clip starts where the speech does.
            run("sox",
                {raw, "-r", QString::number(sampleRate), "-c", "1", "-b", "16", clip, "silence", "1", "0.001", "0.1%"});
            const qint64 spoken = samples(clip);
            const QString padded = w + QString("/padded-%1.wav").arg(i);
            run("sox", {clip, padded, "pad", "0", QString::number(pauseAfterSentence)});
            times.append({position * 1000 / sampleRate, (position + spoken) * 1000 / sampleRate});
            position += samples(padded);
            parts << padded;
        }
        const QString speech = w + "/speech.wav";
        run("sox", parts + QStringList{speech});
        // A quiet noise floor (about -50 dBFS), as real recordings have.
        const QString noise = w + "/noise.wav";
        run("sox", {"-R", "-n", "-r", QString::number(sampleRate), "-c", "1", "-b", "16", noise, "synth",
                    QString::number(double(position) / sampleRate, 'f', 6), "whitenoise", "vol", "0.003"});
        const QString noisy = w + "/noisy.wav";
        run("sox", {"-R", "-m", "-v", "1", speech, "-v", "1", noise, noisy});

        QStringList german;
        for (const Sentence& s : sentences)
            german << s.text;

        // An audio file with German and Chinese subtitle files.
        ffmpeg({"-i", noisy, "-c:a", "libmp3lame", "-b:a", "64k", out + "/gespraech.mp3"});
        writeFile(out + "/gespraech.de.srt", srt(times, german).toUtf8());
        writeFile(out + "/gespraech.zh.srt", chineseSrt(times).toUtf8());

        // A video with both as SubRip streams inside, the Chinese one first.
        const QString germanSrt = w + "/de.srt";
        const QString chineseFile = w + "/zh.srt";
        QStringList marked = german;
        marked[2] = "Der Zug nach <i>Köln</i> fährt um acht Uhr ab.";
        writeFile(germanSrt, srt(times, marked).toUtf8());
        writeFile(chineseFile, chineseSrt(times).toUtf8());
        const QString seconds = QString::number(double(position) / sampleRate, 'f', 3);
        ffmpeg({"-f",
                "lavfi",
                "-i",
                "color=c=navy:s=160x90:r=5",
                "-i",
                noisy,
                "-i",
                chineseFile,
                "-i",
                germanSrt,
                "-t",
                seconds,
                "-map",
                "0:v",
                "-map",
                "1:a",
                "-map",
                "2",
                "-map",
                "3",
                "-c:v",
                "libx264",
                "-preset",
                "ultrafast",
                "-pix_fmt",
                "yuv420p",
                "-c:a",
                "libopus",
                "-b:a",
                "48k",
                "-c:s",
                "srt",
                "-metadata:s:s:0",
                "language=chi",
                "-metadata:s:s:1",
                "language=ger",
                "-metadata",
                "title=Ein Film",
                out + "/film.mkv"});

        // WebVTT with a style block, cue settings and tags.
        ffmpeg({"-i", noisy, "-c:a", "aac", "-b:a", "64k", out + "/vortrag.m4a"});
        writeFile(out + "/vortrag.vtt", webVtt(times).toUtf8());

        // ASS with override tags, a drawing and a comment.
        ffmpeg({"-i", noisy, "-c:a", "libvorbis", "-q:a", "2", out + "/lied.ogg"});
        writeFile(out + "/lied.ass", ass(times).toUtf8());

        // SubRip in Windows-1252, as old files are.
        ffmpeg({"-i", noisy, "-c:a", "flac", out + "/alt.flac"});
        writeFile(out + "/alt.srt", windows1252(srt(times, german).replace('\n', "\r\n")));

        // Nothing but the sound: the sentences must be found at the pauses.
        ffmpeg({"-i", noisy, "-c:a", "libopus", "-b:a", "32k", out + "/pausen.opus"});

        // What a learner might say back to sentence 2 (shadowing), as a microphone
        // gives it: the sentence itself, another voice, slower, another sentence.
        const QString said = out + "/shadowing";
        if (!QDir().mkpath(said))
            throw std::runtime_error("cannot create the shadowing directory");
        const QStringList mono16k{"-r", "16000", "-c", "1", "-b", "16"};
        auto cut = [&](int i, const QString& file) {
            run("sox", QStringList{noisy} + mono16k +
                           QStringList{file, "trim", QString::number(times[i].start / 1000.0, 'f', 3),
                                       QString::number((times[i].end - times[i].start) / 1000.0, 'f', 3)});
        };
        cut(2, said + "/original.wav");
        cut(1, said + "/different.wav");
        run("sox", QStringList{said + "/original.wav", said + "/stretched.wav", "tempo", "-s", "0.714"});
        const QString otherRaw = w + "/other-voice.wav";
        run("espeak-ng", {"-v", "de+f3", "-p", "70", "-s", "150", "-w", otherRaw, sentences[2].text});
        run("sox",
            QStringList{otherRaw} + mono16k + QStringList{said + "/other-voice.wav", "silence", "1", "0.001", "0.1%"});

        syncSet(out, w);

        QJsonArray list;
        for (int i = 0; i < sentences.size(); ++i)
            list.append(QJsonObject{{"start", times[i].start},
                                    {"end", times[i].end},
                                    {"text", sentences[i].text},
                                    {"translation", sentences[i].chinese.join(' ')}});
        // Written last: its presence means the set is complete.
        writeFile(out + "/samples.json", QJsonDocument(QJsonObject{{"sentences", list}}).toJson());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavrolin-sample-media: %s\n", e.what());
        return 1;
    }
    return 0;
}
