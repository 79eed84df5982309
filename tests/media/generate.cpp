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
