// Builds the sample service's content from articles.json: speech for every
// sentence (espeak-ng), one audio file per article with the sentence start
// times measured from the clips (sox), a video for video articles and the
// thumbnails (ffmpeg), the password-protected article archives, the sentence
// data, a stand-in installer, the service's self-signed certificate (openssl)
// and a copy of the key the service signs its installer with.
//
//   tavrolin-sample-content <articles.json> <output dir> <host> [<update signing key>]

#include <quazip/quacrc32.h>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

// The archive password the client opens every entry with.
const char archivePassword[] = "LEXAstoreJS_@vantol456";
// Pause after each sentence, so the practice modes have a gap to stop in.
const char sentencePause[] = "0.4";
const char fontFile[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error((program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                                  QString::fromLocal8Bit(process.readAllStandardError()))
                                     .toStdString());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        throw std::runtime_error(("cannot write " + path).toStdString());
}

QString htmlEscape(QString text) {
    return text.toHtmlEscaped();
}

// Seconds of a sound file as sox measures it.
double duration(const QString& wav) {
    bool ok = false;
    const double seconds = run(QStringLiteral("soxi"), {QStringLiteral("-D"), wav}).toDouble(&ok);
    if (!ok)
        throw std::runtime_error(("no duration for " + wav).toStdString());
    return seconds;
}

void thumbnail(const QString& path, const QString& color, const QString& title, const QString& work) {
    const QString textFile = work + QStringLiteral("/thumb-title.txt");
    writeFile(textFile, title.toUtf8());
    run(QStringLiteral("ffmpeg"),
        {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=c=%1:s=320x180").arg(color),
         QStringLiteral("-vf"),
         QStringLiteral("drawtext=fontfile=%1:textfile=%2:fontcolor=white:fontsize=22:x=(w-text_w)/2:y=(h-text_h)/2")
             .arg(QLatin1String(fontFile), textFile),
         QStringLiteral("-frames:v"), QStringLiteral("1"), path});
}

void writeArchive(const QString& path, const QByteArray& html) {
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        throw std::runtime_error(("cannot create " + path).toStdString());
    // With a data descriptor the password check byte would come from the file time,
    // which common readers get wrong; the CRC check byte works everywhere.
    zip.setDataDescriptorWritingEnabled(false);
    QuaCrc32 crc;
    crc.update(html);
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::WriteOnly, QuaZipNewInfo(QStringLiteral("index.html")), archivePassword,
                    quint32(crc.value())) ||
        entry.write(html) != html.size())
        throw std::runtime_error(("cannot write index.html into " + path).toStdString());
    entry.close();
    zip.close();
    if (zip.getZipError() != 0)
        throw std::runtime_error(("cannot finish " + path).toStdString());
}

// Speaks every sentence, joins the clips and returns the sentences with their
// start times in milliseconds.
QJsonArray speak(const QJsonArray& sentences, const QString& work, const QString& joined) {
    QJsonArray out;
    QStringList clips;
    double start = 0;
    for (int i = 0; i < sentences.size(); ++i) {
        const QJsonObject sentence = sentences.at(i).toObject();
        const QString raw = work + QStringLiteral("/raw-%1.wav").arg(i);
        const QString clip = work + QStringLiteral("/clip-%1.wav").arg(i);
        run(QStringLiteral("espeak-ng"),
            {QStringLiteral("-v"), QStringLiteral("de"), QStringLiteral("-s"), QStringLiteral("140"),
             QStringLiteral("-w"), raw, sentence.value(QStringLiteral("text")).toString()});
        run(QStringLiteral("sox"),
            {raw, QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("1"), clip,
             QStringLiteral("pad"), QStringLiteral("0"), QLatin1String(sentencePause)});
        QJsonObject entry;
        entry.insert(QStringLiteral("start"), qint64(std::llround(start * 1000)));
        entry.insert(QStringLiteral("text"), sentence.value(QStringLiteral("text")));
        entry.insert(QStringLiteral("chinese"), sentence.value(QStringLiteral("chinese")));
        out.append(entry);
        start += duration(clip);
        clips << clip;
    }
    run(QStringLiteral("sox"), clips + QStringList{joined});
    return out;
}

void makeVideo(const QString& path, const QString& joined, const QJsonArray& timed, double total, const QString& color,
               const QString& work) {
    QStringList filters;
    for (int i = 0; i < timed.size(); ++i) {
        const QJsonObject sentence = timed.at(i).toObject();
        const double from = sentence.value(QStringLiteral("start")).toDouble() / 1000;
        const double to = i + 1 < timed.size()
                              ? timed.at(i + 1).toObject().value(QStringLiteral("start")).toDouble() / 1000
                              : total + 1;
        const QString textFile = work + QStringLiteral("/video-%1.txt").arg(i);
        writeFile(textFile, sentence.value(QStringLiteral("text")).toString().toUtf8());
        filters << QStringLiteral("drawtext=fontfile=%1:textfile=%2:fontcolor=white:fontsize=24:"
                                  "x=(w-text_w)/2:y=h-60:enable='between(t,%3,%4)'")
                       .arg(QLatin1String(fontFile), textFile)
                       .arg(from, 0, 'f', 3)
                       .arg(to, 0, 'f', 3);
    }
    filters << QStringLiteral("drawtext=fontfile=%1:text='%{pts\\:hms}':fontcolor=white:fontsize=40:"
                              "x=(w-text_w)/2:y=(h-text_h)/2-30")
                   .arg(QLatin1String(fontFile));
    run(QStringLiteral("ffmpeg"), {QStringLiteral("-y"),
                                   QStringLiteral("-loglevel"),
                                   QStringLiteral("error"),
                                   QStringLiteral("-f"),
                                   QStringLiteral("lavfi"),
                                   QStringLiteral("-i"),
                                   QStringLiteral("color=c=%1:s=640x360:r=15").arg(color),
                                   QStringLiteral("-i"),
                                   joined,
                                   QStringLiteral("-vf"),
                                   filters.join(QLatin1Char(',')),
                                   QStringLiteral("-shortest"),
                                   QStringLiteral("-c:v"),
                                   QStringLiteral("libx264"),
                                   QStringLiteral("-preset"),
                                   QStringLiteral("veryfast"),
                                   QStringLiteral("-pix_fmt"),
                                   QStringLiteral("yuv420p"),
                                   QStringLiteral("-c:a"),
                                   QStringLiteral("aac"),
                                   QStringLiteral("-b:a"),
                                   QStringLiteral("96k"),
                                   QStringLiteral("-movflags"),
                                   QStringLiteral("+faststart"),
                                   path});
}

QByteArray articleHtml(const QString& title, const QJsonArray& timed) {
    QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"de\">\n<head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                       "<body>\n<h1>%1</h1>\n")
            .arg(htmlEscape(title));
    for (int i = 0; i < timed.size(); ++i) {
        const QJsonObject sentence = timed.at(i).toObject();
        html += QStringLiteral("<p class=\"sentence\" data-index=\"%1\" data-start=\"%2\"><span class=\"de\">%3</span> "
                               "<span class=\"zh\">%4</span></p>\n")
                    .arg(i)
                    .arg(sentence.value(QStringLiteral("start")).toInt())
                    .arg(htmlEscape(sentence.value(QStringLiteral("text")).toString()),
                         htmlEscape(sentence.value(QStringLiteral("chinese")).toString()));
    }
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

void makeCertificate(const QString& dir, const QString& host) {
    const bool isAddress =
        host.contains(QLatin1Char(':')) || QRegularExpression(QStringLiteral("^[0-9.]+$")).match(host).hasMatch();
    QString names = QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost");
    if (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost"))
        names += (isAddress ? QStringLiteral(",IP:") : QStringLiteral(",DNS:")) + host;
    run(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
         QStringLiteral("-nodes"), QStringLiteral("-keyout"), dir + QStringLiteral("/service-key.pem"),
         QStringLiteral("-out"), dir + QStringLiteral("/service-cert.pem"), QStringLiteral("-days"),
         QStringLiteral("3650"), QStringLiteral("-subj"), QStringLiteral("/CN=") + host, QStringLiteral("-addext"),
         names});
}

void generate(const QString& articlesPath, const QString& outDir, const QString& host, const QString& signingKey) {
    QFile source(articlesPath);
    if (!source.open(QIODevice::ReadOnly))
        throw std::runtime_error(("cannot read " + articlesPath).toStdString());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(source.readAll(), &error);
    if (doc.isNull())
        throw std::runtime_error(("bad JSON in articles file: " + error.errorString()).toStdString());

    QDir out(outDir);
    for (const char* sub :
         {"files/media", "files/archive", "files/installer", "pool/channels", "pool/articles", "sentence"})
        out.mkpath(QLatin1String(sub));
    QTemporaryDir work;
    if (!work.isValid())
        throw std::runtime_error("no temporary directory");

    QJsonArray channelsOut;
    for (const QJsonValue& channelValue : doc.object().value(QStringLiteral("channels")).toArray()) {
        const QJsonObject channel = channelValue.toObject();
        const QString channelId = channel.value(QStringLiteral("uuid")).toString();
        const QString channelThumb = QStringLiteral("pool/channels/%1.png").arg(channelId);
        thumbnail(out.filePath(channelThumb), channel.value(QStringLiteral("color")).toString(),
                  channel.value(QStringLiteral("title")).toString(), work.path());

        QJsonArray articlesOut;
        for (const QJsonValue& articleValue : channel.value(QStringLiteral("articles")).toArray()) {
            const QJsonObject article = articleValue.toObject();
            const QString id = article.value(QStringLiteral("uuid")).toString();
            const QString title = article.value(QStringLiteral("title")).toString();
            const QString color = article.value(QStringLiteral("color")).toString();
            const bool video = article.value(QStringLiteral("media")).toString() == QLatin1String("video");
            std::fprintf(stderr, "  %s\n", qPrintable(title));

            const QString joined = work.filePath(id + QStringLiteral(".wav"));
            const QJsonArray timed = speak(article.value(QStringLiteral("sentences")).toArray(), work.path(), joined);
            const QString mediaFile = QStringLiteral("files/media/%1.%2").arg(id, video ? "mp4" : "mp3");
            if (video) {
                makeVideo(out.filePath(mediaFile), joined, timed, duration(joined), color, work.path());
            } else {
                run(QStringLiteral("ffmpeg"),
                    {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-i"),
                     joined, QStringLiteral("-codec:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                     QStringLiteral("64k"), out.filePath(mediaFile)});
            }
            const QString thumb = QStringLiteral("pool/articles/%1.png").arg(id);
            thumbnail(out.filePath(thumb), color, title, work.path());
            writeArchive(out.filePath(QStringLiteral("files/archive/%1.zip").arg(id)), articleHtml(title, timed));

            QJsonObject sentenceData;
            sentenceData.insert(QStringLiteral("sentences"), timed);
            writeFile(out.filePath(QStringLiteral("sentence/%1.json").arg(id)),
                      QJsonDocument(sentenceData).toJson(QJsonDocument::Compact));

            QJsonObject entry;
            entry.insert(QStringLiteral("uuid"), id);
            entry.insert(QStringLiteral("title"), title);
            entry.insert(QStringLiteral("media"), video ? QStringLiteral("video") : QStringLiteral("audio"));
            entry.insert(QStringLiteral("answer"), article.value(QStringLiteral("answer")));
            entry.insert(QStringLiteral("thumbnail"), thumb);
            entry.insert(QStringLiteral("mediaFile"), mediaFile);
            entry.insert(QStringLiteral("sentences"), timed.size());
            articlesOut.append(entry);
        }
        QJsonObject channelOut;
        channelOut.insert(QStringLiteral("uuid"), channelId);
        channelOut.insert(QStringLiteral("title"), channel.value(QStringLiteral("title")));
        channelOut.insert(QStringLiteral("thumbnail"), channelThumb);
        channelOut.insert(QStringLiteral("articles"), articlesOut);
        channelsOut.append(channelOut);
    }

    writeFile(out.filePath(QStringLiteral("files/installer/tavrolin-setup-3.3.2.run")),
              QByteArrayLiteral("#!/bin/sh\n# Stand-in installer of the sample service: installs nothing.\n"
                                "echo \"Tavrolin 3.3.2 sample installer\"\n"));
    QFile::setPermissions(out.filePath(QStringLiteral("files/installer/tavrolin-setup-3.3.2.run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                              QFile::ReadOther | QFile::ExeOther);
    makeCertificate(out.path(), host);
    if (!signingKey.isEmpty() && !QFile::copy(signingKey, out.filePath(QStringLiteral("update-key.pem"))))
        throw std::runtime_error(("cannot copy " + signingKey).toStdString());

    QJsonObject content;
    content.insert(QStringLiteral("channels"), channelsOut);
    content.insert(QStringLiteral("installer"), QStringLiteral("files/installer/tavrolin-setup-3.3.2.run"));
    writeFile(out.filePath(QStringLiteral("content.json")), QJsonDocument(content).toJson());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5) {
        std::fprintf(stderr, "usage: %s <articles.json> <output dir> <host> [<update signing key>]\n", argv[0]);
        return 2;
    }
    try {
        generate(args.at(1), args.at(2), args.at(3), args.value(4));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sample content: %s\n", e.what());
        return 1;
    }
    return 0;
}
