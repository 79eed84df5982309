// The learner's own media files as the program reaches them: the main page's
// bridge (import through the open dialog, the library list, progress, removal,
// hostile ids and broken files), the silence settings, and files handed over
// by the desktop (command line, drop, menu), which reach the page as data.
#include "app/mainwindow.h"
#include "app/webview.h"
#include "bridge/bridgecontext.h"
#include "bridge/mediafiles.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "player/mpvwidget.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QWebFrame>

namespace {

const QString sample = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);
// A title with both quotes and an umlaut, as file names have them.
const QString quoted = QStringLiteral("Der „Zug“ 'nach' \"Köln\"");

QJsonObject object(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QJsonArray array(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

// The libraries the media library pulls in, as mapped into this process.
QStringList mappedLibraries() {
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly))
        return {"/proc/self/maps unreadable"};
    QStringList found;
    for (const char* name : {"libavformat.so", "libQt5Sql.so"}) {
        if (maps.readAll().contains(name))
            found << name;
        maps.seek(0);
    }
    return found;
}

// A page that keeps what the program hands it.
const QString recorderPage = QStringLiteral(
    "<html><body><script>var opened = [];"
    "var mediaFiles = { open: function (text) { opened.push(JSON.parse(text)); } };</script></body></html>");

} // namespace

class TestMediaFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void bridgeKeepsTheLearnersFiles();
    void silenceSettingsDecideTheSections_data();
    void silenceSettingsDecideTheSections();
    void longImportShowsProgressAndCancels();
    void desktopHandsFilesToThePage();
    void missingModuleIsAFailure();
    void timesFitTheSpeechAndTheLearnersNudgesStay();
    void ownVideoHidesThePlayersSubtitles();

private:
    QString copy(const QString& from, const QString& to);

    QTemporaryDir media;
    QString localeDir;
};

QString TestMediaFiles::copy(const QString& from, const QString& to) {
    const QString target = media.filePath(to);
    QFile::remove(target);
    return QFile::copy(sample + "/" + from, target) ? target : QString();
}

void TestMediaFiles::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QVERIFY(media.isValid());
    // The German texts, beside the program as an installation has them.
    localeDir = QCoreApplication::applicationDirPath() + "/locale";
    QDir().mkpath(localeDir);
    QFile::remove(localeDir + "/de.qm");
    QVERIFY(QFile::copy(QStringLiteral(TAVROLIN_BUILD_LOCALE_DIR) + "/de.qm", localeDir + "/de.qm"));
    QVERIFY(!copy("gespraech.mp3", quoted + ".mp3").isEmpty());
    QVERIFY(!copy("gespraech.de.srt", quoted + ".de.srt").isEmpty());
    QVERIFY(!copy("gespraech.zh.srt", quoted + ".zh.srt").isEmpty());
    QVERIFY(!copy("film.mkv", "film.mkv").isEmpty());
    QFile text(media.filePath("kaputt.mp4"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("Das ist kein Film, nur Text.\n");
}

void TestMediaFiles::cleanupTestCase() {
    QDir(localeDir).removeRecursively();
}

void TestMediaFiles::cleanup() {
    Desktop::setOpenFileName(nullptr);
    Desktop::setExec(nullptr);
    TestSupport::deleteTopLevelWindows();
}

void TestMediaFiles::bridgeKeepsTheLearnersFiles() {
    // Guards against lost progress, a library changed by bad ids or broken files, and failures reported as items.
    QWidget host;
    host.setObjectName("MainWindow");
    auto* view = new WebView(&host);
    auto* bridge = new WebApi(BridgeContext::create(), view);
    bridge->attachView(view);

    QString chosen;
    QStringList filters;
    Desktop::setOpenFileName([&](QWidget*, const QString&, const QString&, const QString& filter) {
        filters << filter;
        return chosen;
    });
    // FFmpeg and Qt SQL come with the first use, not with the program or an empty listing (a slow start).
    QCOMPARE(bridge->mediaLibrary(), QString("[]"));
    QCOMPARE(mappedLibraries(), QStringList());
    QCOMPARE(bridge->openMediaDialog(), QString());
    QCOMPARE(mappedLibraries(), QStringList({"libavformat.so", "libQt5Sql.so"}));
    QVERIFY(filters.value(0).contains("*.mkv") && filters.value(0).contains("*.opus"));

    const QString audio = media.filePath(quoted + ".mp3");
    chosen = audio;
    const QJsonObject item = object(bridge->openMediaDialog());
    const QString id = item.value("id").toString();
    QCOMPARE(item.value("title").toString(), quoted);
    QCOMPARE(item.value("mediaType").toString(), QString("audio"));
    QCOMPARE(item.value("sentenceSource").toString(), QString("sidecar"));
    const QJsonArray sentences = item.value("sentences").toArray();
    QCOMPARE(sentences.size(), 5);
    QVERIFY(sentences.at(0).toObject().value("text").toString().startsWith("Guten Morgen"));
    QVERIFY(!sentences.at(0).toObject().value("translation").toString().isEmpty());
    QCOMPARE(item.value("lastSentence").toInt(), 0);

    // Where the learner got to is there the next time the file is opened.
    bridge->setMediaProgress(id, 3);
    QCOMPARE(object(bridge->importMedia(audio)).value("lastSentence").toInt(), 3);

    // Ids and sentences the library does not have change nothing.
    bridge->forgetMedia("' OR 1=1; --");
    bridge->forgetMedia("");
    bridge->forgetMedia(id.toUpper());
    bridge->setMediaProgress("0000000000000000", 1);
    bridge->setMediaProgress(id, -1);
    // A text named like a video is refused in the pages' language and stored nowhere.
    const QJsonObject broken = object(bridge->importMedia(media.filePath("kaputt.mp4")));
    // FFmpeg's English words stay in the log; the cause reads German too.
    QVERIFY2(broken.value("error").toString().contains(
                 "keine lesbare Audio- oder Videodatei (ihre Daten sind beschädigt oder von unbekannter Art)"),
             qPrintable(broken.value("error").toString()));
    QCOMPARE(broken.size(), 1);
    QJsonArray listed = array(bridge->mediaLibrary());
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.at(0).toObject().value("lastSentence").toInt(), 3);
    QCOMPARE(listed.at(0).toObject().value("sentenceCount").toInt(), 5);
    QCOMPARE(listed.at(0).toObject().value("missing").toBool(), false);

    // Only the main page's bridge reaches the files.
    QWidget other;
    other.setObjectName("paragraph");
    auto* otherView = new QWebView(&other);
    auto* otherBridge = new WebApi(BridgeContext::create(), otherView);
    otherBridge->attachView(otherView);
    QVERIFY(object(otherBridge->importMedia(audio)).contains("error"));
    QCOMPARE(otherBridge->mediaLibrary(), QString("[]"));

    // A file deleted since is listed as missing, says so when opened, and can be removed.
    const QByteArray kept = TestSupport::fileBytes(audio);
    QVERIFY(QFile::remove(audio));
    listed = array(bridge->mediaLibrary());
    QCOMPARE(listed.at(0).toObject().value("missing").toBool(), true);
    QVERIFY(object(bridge->importMedia(audio)).value("error").toString().contains("gibt es nicht"));
    bridge->forgetMedia(id);
    QCOMPARE(bridge->mediaLibrary(), QString("[]"));

    QFile restore(audio);
    QVERIFY(restore.open(QIODevice::WriteOnly));
    restore.write(kept);
}

void TestMediaFiles::silenceSettingsDecideTheSections_data() {
    QTest::addColumn<QString>("minSegmentMs");
    QTest::addColumn<int>("sections");
    QTest::newRow("defaults") << QString() << 5;
    QTest::newRow("long segments") << QString("20000") << 1;
    QTest::newRow("not a number") << QString("lang") << 5;
}

void TestMediaFiles::silenceSettingsDecideTheSections() {
    // Guards against the settings being ignored, and a bad value breaking the split.
    QFETCH(QString, minSegmentMs);
    QFETCH(int, sections);
    QFile::remove(Settings::settingsFilePath());
    if (!minSegmentMs.isEmpty()) {
        QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
        settings.setValue(Settings::SilenceMinSegmentMs, minSegmentMs);
    }
    const QString file = copy("pausen.opus", QString("pausen-%1.opus").arg(QTest::currentDataTag()).replace(' ', '-'));
    QWidget host;
    host.setObjectName("MainWindow");
    auto* view = new WebView(&host);
    auto* bridge = new WebApi(BridgeContext::create(), view);
    bridge->attachView(view);
    const QJsonObject item = object(bridge->importMedia(file));
    QCOMPARE(item.value("sentenceSource").toString(), QString("silence"));
    QCOMPARE(item.value("sentences").toArray().size(), sections);
    QVERIFY(item.value("sentences").toArray().at(0).toObject().value("text").toString().isEmpty());

    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(settings.value(Settings::SilenceThresholdDb).toString(), QString("-35"));
    QCOMPARE(settings.value(Settings::SilenceMinPauseMs).toString(), QString("400"));
    QCOMPARE(settings.value(Settings::SilenceMinSegmentMs).toString(),
             minSegmentMs.isEmpty() ? QString("1000") : minSegmentMs);
}

void TestMediaFiles::longImportShowsProgressAndCancels() {
    // Guards against a window frozen while a long file is read, progress never shown, and a cancel that is ignored.
    // Half an hour of speech with pauses, joined without re-encoding.
    QFile list(media.filePath("list.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    for (int i = 0; i < 100; ++i)
        list.write(QString("file '%1/pausen.opus'\n").arg(sample).toUtf8());
    list.close();
    const QString file = media.filePath("lang.opus");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i", list.fileName(), "-c", "copy", file});
    QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);

    QWidget host;
    host.setObjectName("MainWindow");
    auto* view = new WebView(&host);
    auto* bridge = new WebApi(BridgeContext::create(), view);
    bridge->attachView(view);
    QString shown;
    int percent = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog->value() <= 0)
            return;
        shown = dialog->labelText();
        percent = dialog->value();
        watch.stop();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    watch.start(50);
    const QJsonObject answer = object(bridge->importMedia(file));
    QVERIFY2(shown.contains("lang.opus"), qPrintable(shown));
    QVERIFY(percent > 0 && percent < 100);
    QVERIFY2(answer.value("error").toString().contains("abgebrochen"), qPrintable(answer.value("error").toString()));
    QVERIFY(!bridge->mediaLibrary().contains("lang.opus"));
}

void TestMediaFiles::desktopHandsFilesToThePage() {
    // Guards against dropped or named files that never reach the page, a drop that navigates the page away,
    // files lost while the page loads, and failures that reach nobody.
    MainWindow window(nullptr);
    WebView* view = window.view();
    QSignalSpy loaded(view, &QWebView::loadFinished);
    view->setHtml(recorderPage);
    QVERIFY(!loaded.isEmpty() || loaded.wait(10000));
    auto opened = [view] {
        return QJsonDocument::fromJson(
                   view->page()->mainFrame()->evaluateJavaScript("JSON.stringify(opened)").toString().toUtf8())
            .array();
    };

    // Named on the command line of a later start, relative to where it started, before the page is ready.
    window.receiveCommandLine({"tavrolin", "--lesson", "film.mkv"}, media.path());
    QCOMPARE(opened().size(), 0);
    window.bridge()->pageLoaded("index");
    QTRY_COMPARE(opened().size(), 1);
    QCOMPARE(opened().at(0).toObject().value("mediaType").toString(), QString("video"));
    QCOMPARE(opened().at(0).toObject().value("sentenceSource").toString(), QString("embedded"));

    // Dropped on the page's view: taken by the window, not a navigation of the page.
    const QUrl before = view->url();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(media.filePath(quoted + ".mp3"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(opened().size(), 2);
    QCOMPARE(opened().at(1).toObject().value("title").toString(), quoted);
    QCOMPARE(view->url(), before);

    // The menu's dialog; a broken file reaches the page as a failure.
    Desktop::setOpenFileName(
        [this](QWidget*, const QString&, const QString&, const QString&) { return media.filePath("kaputt.mp4"); });
    QAction* menu = window.findChild<QAction*>("action_OpenMedia");
    QVERIFY(menu);
    menu->trigger();
    QTRY_COMPARE(opened().size(), 3);
    QVERIFY(opened().at(2).toObject().contains("error"));

    // A page without the list: the failure is shown in a box instead.
    QStringList boxes;
    Desktop::setExec([&boxes](QDialog* dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            boxes << box->text();
        return int(QMessageBox::Ok);
    });
    loaded.clear();
    view->setHtml("<html><body>anders</body></html>");
    QVERIFY(!loaded.isEmpty() || loaded.wait(10000));
    window.bridge()->pageLoaded("index");
    window.receiveCommandLine({"tavrolin", media.filePath("fehlt.mp3")}, QDir::rootPath());
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.at(0).contains("fehlt.mp3"), qPrintable(boxes.at(0)));
}

void TestMediaFiles::missingModuleIsAFailure() {
    // Guards against a broken installation crashing the program or its failure reaching the page as nothing.
    BridgeContext context(QDir(media.path()).filePath("fehlt.so"));
    MediaFiles files(context);
    const QString error = object(files.import(media.filePath(quoted + ".mp3"))).value("error").toString();
    QVERIFY2(error.contains("Teil des Programms fehlt"), qPrintable(error));
    QCOMPARE(files.list(), QString("[]"));
    QVERIFY(!files.setProgress("0123456789abcdef", 1));
    QVERIFY(!context.library.errorString().isEmpty());
}

void TestMediaFiles::timesFitTheSpeechAndTheLearnersNudgesStay() {
    // Guards against a nudge lost on restart, one that crosses a neighbour, and an undo that keeps anything.
    const QString file = copy("sync/rede.flac", "rede.flac");
    QFile truth(sample + "/sync/rede.json");
    QVERIFY(truth.open(QIODevice::ReadOnly));
    const QJsonArray spoken = QJsonDocument::fromJson(truth.readAll()).object().value("sentences").toArray();
    QByteArray srt; // every cue 2.3 s late
    auto time = [](qint64 ms) { return QTime::fromMSecsSinceStartOfDay(int(ms)).toString("HH:mm:ss,zzz"); };
    for (int i = 0; i < spoken.size(); ++i)
        srt += QString("%1\n%2 --> %3\nSatz %1\n\n")
                   .arg(i + 1)
                   .arg(time(qint64(spoken[i].toObject().value("start").toDouble()) + 2300),
                        time(qint64(spoken[i].toObject().value("end").toDouble()) + 2300))
                   .toUtf8();
    QFile cues(media.filePath("rede.srt"));
    QVERIFY(cues.open(QIODevice::WriteOnly) && cues.write(srt) == srt.size());
    cues.close();
    auto sentence = [](const QString& item, int i) {
        return object(item).value("sentences").toArray().at(i).toObject();
    };

    QString id;
    qint64 start = 0;
    {
        QWidget host;
        host.setObjectName("MainWindow");
        auto* view = new WebView(&host);
        auto* bridge = new WebApi(BridgeContext::create(), view);
        bridge->attachView(view);
        const QString item = bridge->importMedia(file);
        const QJsonObject sync = object(item).value("sync").toObject();
        QVERIFY2(sync.value("applied").toBool() && qAbs(sync.value("offsetMs").toInt() + 2300) < 60, qPrintable(item));
        id = object(item).value("id").toString();
        start = qint64(sentence(item, 3).value("start").toDouble());
        const qint64 end = qint64(sentence(item, 3).value("end").toDouble());
        QCOMPARE(sentence(bridge->setSentenceTiming(id, 3, int(start) + 50, int(end)), 3).value("start").toInt(),
                 int(start) + 50);
        const qint64 before = qint64(sentence(item, 2).value("end").toDouble());
        const QString crossing = bridge->setSentenceTiming(id, 3, int(before) - 10, int(end));
        QVERIFY2(object(crossing).value("error").toString().contains("Satz davor"), qPrintable(crossing));
        QVERIFY(object(bridge->resyncMedia(id, "quer")).contains("error"));
        QVERIFY(object(bridge->resyncMedia("' OR 1=1; --", "auto")).contains("error"));
    }
    // As after a restart: the nudge is kept, and undone with the file's own times.
    QWidget host;
    host.setObjectName("MainWindow");
    auto* view = new WebView(&host);
    auto* bridge = new WebApi(BridgeContext::create(), view);
    bridge->attachView(view);
    QCOMPARE(sentence(bridge->importMedia(file), 3).value("start").toInt(), int(start) + 50);
    const QString original = bridge->resyncMedia(id, "original");
    QCOMPARE(object(original).value("sync").toObject().value("mode").toString(), QString("original"));
    QCOMPARE(sentence(original, 3).value("start").toInt(), spoken[3].toObject().value("start").toInt() + 2300);
    QCOMPARE(sentence(bridge->importMedia(file), 3).value("start").toInt(),
             spoken[3].toObject().value("start").toInt() + 2300);
    const QString shifted = bridge->resyncMedia(id, "offset:-2300");
    QCOMPARE(object(shifted).value("sync").toObject().value("mode").toString(), QString("offset"));
    QVERIFY(qAbs(sentence(shifted, 3).value("start").toInt() - spoken[3].toObject().value("start").toInt()) <= 40);
}

void TestMediaFiles::ownVideoHidesThePlayersSubtitles() {
    // Guards against the player drawing the file's own subtitle over the picture while the program shows the
    // sentences itself: the answer given away in Diktat and Lückentext, two lines at once in full screen. A file
    // practised without sentences shows the player's, which proves the picture would show one.
    TAVROLIN_REQUIRE_AUDIO();
    MainWindow window(nullptr);
    WebApi* bridge = window.bridge();
    const QString film = media.filePath("film.mkv");
    QList<int> starts;
    for (const QJsonValue& s : object(bridge->importMedia(film)).value("sentences").toArray())
        starts << s.toObject().value("start").toInt();
    QVERIFY(starts.size() >= 3);
    QTemporaryDir shots;
    for (const QString mode : {"dictation", "fillword", "none"}) {
        const bool ownLines = mode != "none";
        bridge->setState("mode", ownLines ? mode : "read");
        bridge->initPlay(QUrl::fromLocalFile(film).toString(), "local", ownLines ? starts : QList<int>(), "4");
        auto* manager = static_cast<ObDataBase::PlayManager*>(bridge->practice()->player());
        MpvWidget* engine = manager ? manager->videoWidget() : nullptr;
        QVERIFY(engine);
        QTRY_COMPARE_WITH_TIMEOUT(engine->getPropertyBlocking("path").toString(), film, 15000);
        // Held on the second sentence, where a cue of the file's selected subtitle track is due.
        bridge->pause();
        engine->setPropertyBlocking("pause", true);
        // Seeking the engine itself, past the end of the practised sentence where the
        // practice has the player stop.
        engine->setPropertyBlocking("end", "none");
        const double at = starts.at(1) / 1000.0 + 1.0;
        // Asked again until it holds: the file may still be starting.
        auto held = [&] {
            if (qAbs(engine->getPropertyBlocking("time-pos").toDouble() - at) < 0.3)
                return !engine->getPropertyBlocking("sub-text").toString().isEmpty();
            engine->commandBlocking(QVariantList{"seek", at, "absolute+exact"});
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(held(), 10000);
        QVERIFY(engine->getPropertyBlocking("sid").toLongLong() > 0);
        QCOMPARE(engine->getPropertyBlocking("sub-visibility").toBool(), !ownLines);
        QImage picture[2];
        for (int withSubtitles : {0, 1}) {
            const QString path = shots.filePath(mode + QString::number(withSubtitles) + ".png");
            engine->commandBlocking(QVariantList{"screenshot-to-file", path, withSubtitles ? "subtitles" : "video"});
            picture[withSubtitles] = QImage(path);
            QVERIFY2(!picture[withSubtitles].isNull(), qPrintable(path));
        }
        QVERIFY2((picture[0] != picture[1]) == !ownLines, qPrintable(mode));
        bridge->cancelPlay();
    }
}

TAVROLIN_MEDIA_TEST_MAIN(TestMediaFiles)
#include "tst_mediafiles.moc"
