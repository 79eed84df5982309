// Kept sentences, against the ffmpeg command line where there is one:
//  - keeping a sentence of a 2-hour file: time until its 10 s clip is stored
//    (ClipCutter, as the bridge runs it), vs `ffmpeg -ss S -t 10 -i FILE -c:a libopus clip.ogg`;
//    target under 150 ms
//  - reviewDue() with 10,000 cards: the bridge's answer, JSON included; target under 50 ms
//  - exporting 1,000 cards with sound as .apkg and as .tsv: the time is printed
// Medians of several rounds. Needs ffmpeg; the 2-hour file is generated first.
#include "bridge/bridgecontext.h"
#include "bridge/keptsentences.h"
#include "core/settings.h"
#include "library/clipcutter.h"
#include "library/deckexport.h"
#include "library/medialibrary.h"
#include "library/reviewdeck.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

bool ffmpeg(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + args);
    return p.waitForFinished(20 * 60 * 1000) && p.exitCode() == 0;
}

double timeMs(const std::function<void()>& f) {
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    // The bridge's data directory in a scratch home: a library left by an earlier
    // run (or an earlier layout of it) must not decide what is measured.
    QTemporaryDir dir;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QString longFile = dir.filePath("zwei-stunden.m4a");
    std::printf("generating a 2-hour AAC file...\n");
    std::fflush(stdout);
    if (!ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=44100:duration=7200", "-ac", "1", "-c:a", "aac",
                 "-b:a", "48k", longFile})) {
        std::fprintf(stderr, "could not generate the media (ffmpeg)\n");
        return 2;
    }

    // Keeping a sentence: sentences at several places of the file, 10 s each.
    std::vector<double> ours, theirs;
    int round = 0;
    for (const qint64 at : {600000LL, 1800000LL, 3600000LL, 5400000LL, 7000000LL}) {
        const QString clip = dir.filePath(QStringLiteral("clip%1.ogg").arg(round++));
        ClipCutter::Result result;
        ours.push_back(timeMs([&] { result = ClipCutter::cut(longFile, at, at + 10000, clip); }));
        if (!result.ok) {
            std::fprintf(stderr, "clip failed: %s\n", qPrintable(result.error));
            return 1;
        }
        theirs.push_back(timeMs([&] {
            ffmpeg({"-ss", QString::number(at / 1000.0), "-t", "10", "-i", longFile, "-c:a", "libopus",
                    dir.filePath("ffmpeg.ogg")});
        }));
    }
    const double keep = median(ours);
    std::printf(
        "keep a 10 s sentence of a 2-hour file: %8.1f ms   ffmpeg %8.1f ms   ratio %.2f   target < 150 ms: %s\n", keep,
        median(theirs), keep / median(theirs), keep < 150 ? "met" : "NOT met");

    // reviewDue with 10,000 cards.
    BridgeContext context(QStringLiteral(TAVROLIN_LIBRARY_MODULE_PATH));
    KeptSentences kept(context);
    {
        MediaLibrary library(dataDirectory());
        ReviewDeck deck(library);
        QSqlDatabase db = QSqlDatabase::database(library.connectionName());
        db.transaction();
        for (int i = 0; i < 10000; ++i) {
            KeptCard c;
            c.sourceKind = "file";
            c.sourceId = QStringLiteral("%1").arg(i / 100, 16, 10, QLatin1Char('0'));
            c.sentence = i % 100;
            c.id = ReviewDeck::cardId(c.sourceKind, c.sourceId, c.sentence);
            c.text = QStringLiteral("Das ist der gemerkte Satz Nummer %1 aus einer langen Datei.").arg(i);
            c.translation = QStringLiteral("这是第%1句。").arg(i);
            c.title = QStringLiteral("Datei %1").arg(i / 100);
            c.clip = c.id + ".ogg";
            deck.keep(c, 1700000000000 + i);
        }
        db.commit();
    }
    std::vector<double> due;
    int listed = 0;
    QString answer;
    for (int i = 0; i < 7; ++i)
        due.push_back(timeMs([&] { listed = (answer = kept.due()).size(); }));
    // An answer carrying an error is quick and would pass any target.
    if (answer.contains(QLatin1String("\"error\""))) {
        std::fprintf(stderr, "the cards could not be listed: %s\n", qPrintable(answer.left(300)));
        return 1;
    }
    std::printf("reviewDue() with 10,000 cards (%d bytes of JSON): %8.1f ms   target < 50 ms: %s\n", listed,
                median(due), median(due) < 50 ? "met" : "NOT met");

    // Export of 1,000 cards with sound.
    QVector<DeckExport::Note> notes;
    const QString clips = dir.filePath("clips");
    QDir().mkpath(clips);
    for (int i = 0; i < 1000; ++i) {
        DeckExport::Note n;
        n.id = ReviewDeck::cardId("file", "bench", i);
        n.text = QStringLiteral("Satz %1 zum Exportieren.").arg(i);
        n.translation = QStringLiteral("第%1句。").arg(i);
        n.source = QStringLiteral("Zwei Stunden");
        n.clipPath = QDir(clips).filePath(n.id + ".ogg");
        QFile::copy(dir.filePath(QStringLiteral("clip%1.ogg").arg(i % 5)), n.clipPath);
        n.created = 1700000000000 + i;
        notes.append(n);
    }
    qint64 bytes = 0;
    for (const auto& n : notes)
        bytes += QFileInfo(n.clipPath).size();
    for (const char* format : {"apkg", "tsv"}) {
        const QString path = dir.filePath(QStringLiteral("export.%1").arg(QLatin1String(format)));
        DeckExport::Result result;
        const double ms = timeMs([&] {
            result = QLatin1String(format) == QLatin1String("apkg") ? DeckExport::writeApkg(path, notes)
                                                                    : DeckExport::writeTsv(path, notes);
        });
        std::printf("export of 1,000 cards with sound (%.1f MB of clips) as .%s: %8.1f ms (%s)\n", bytes / 1e6, format,
                    ms, result.ok ? "ok" : qPrintable(result.error));
    }
    return 0;
}
