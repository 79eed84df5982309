// The video widget against a real libmpv: playback under Xvfb with a PulseAudio
// null sink, the render context, the property and event tables, the requests it
// sends, the unload hook and an orderly shutdown.
#include "player/logodrawer.h"
#include "player/mpvcontroller.h"
#include "player/mpvwidget.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <mpv/render_gl.h>

#include <algorithm>
#include <clocale>
#include <memory>
#include <stdexcept>

namespace {

// The process's threads by id, with their names.
QMap<int, QString> threads() {
    QMap<int, QString> out;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& id : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(id + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly)) // unless it ended meanwhile
            out.insert(id.toInt(), QString::fromUtf8(name.readAll().trimmed()));
    }
    return out;
}

// Threads that started after `before` was taken and still run, as "name (id)".
// Compared by identity, not by number: a thread of `before` that ends by itself
// meanwhile (an idle pool thread, say) must not hide one that was left behind.
// Idle threads of the global pool are ended first, so one that started meanwhile
// is not taken for a leftover either.
QStringList threadsSince(const QMap<int, QString>& before) {
    QThreadPool::globalInstance()->waitForDone();
    QStringList left;
    const QMap<int, QString> now = threads();
    for (auto it = now.constBegin(); it != now.constEnd(); ++it) {
        if (!before.contains(it.key()))
            left << QStringLiteral("%1 (%2)").arg(it.value()).arg(it.key());
    }
    return left;
}

QList<int> eventIds(const QSignalSpy& spy) {
    QList<int> ids;
    for (const QList<QVariant>& args : spy)
        ids << args.at(0).toInt();
    return ids;
}

} // namespace

class TestMpvWidget : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void constructionLeavesControllerOnItsThread();
    void audioPlaybackInRealTime();
    void videoIsDrawnThroughTheRenderContext();
    void dispatchDefaults_data();
    void dispatchDefaults();
    void metadataKeysAreLowerCased();
    void requestsSendTheDesignedCommands_data();
    void requestsSendTheDesignedCommands();
    void abLoopReachesThePlayer();
    void blockingCallsReportCodes();
    void optionsAreSentOnlyWhenChanged();
    void unloadHookReportsLongPlaylistsAndAcknowledges();
    void shortClientMessagesAreIgnored();
    void cursorHiding();
    void logoSurface();
    void survivesANewTopLevelWindow();
    void procedureResolverFallsBackToTheGlLibrary();
    void renderContextFailureIsRaised();
    void startFailureIsRaisedWithoutLeftovers();
    void widgetsComeAndGoWhilePlaying();

private:
    std::unique_ptr<MpvWidget> shownWidget();

    std::unique_ptr<MpvWidget> widget;
    QTemporaryDir dir;
};

void TestMpvWidget::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QVERIFY(dir.isValid());
    QVERIFY2(!TestSupport::sineAudioFile().isEmpty(), "sox could not make the test audio");
    QVERIFY2(!TestSupport::testVideoFile().isEmpty(), "ffmpeg could not make the test video");
    QVERIFY(!TestSupport::shortAudioFile().isEmpty());
}

void TestMpvWidget::cleanup() {
    widget.reset();
}

std::unique_ptr<MpvWidget> TestMpvWidget::shownWidget() {
    auto w = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    w->resize(320, 240);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        qWarning("video widget not exposed");
    return w;
}

void TestMpvWidget::constructionLeavesControllerOnItsThread() {
    // Guards against the controller (and so every libmpv call) running on the GUI thread.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("tavrolin-test"));
    QVERIFY(widget->workerThread()->isRunning());
    QCOMPARE(widget->controller()->thread(), widget->workerThread());
    QVERIFY(widget->protocols().contains(QStringLiteral("file")));
    QVERIFY(widget->libraryVersion().startsWith(QStringLiteral("mpv")));
    QCOMPARE(widget->getPropertyBlocking(QStringLiteral("audio-client-name")).toString(),
             QStringLiteral("tavrolin-test"));
    QCOMPARE(widget->getPropertyBlocking(QStringLiteral("ytdl")), QVariant(true));
    QCOMPARE(widget->playLength(), 0.0);
    QCOMPARE(widget->videoSize(), QSize(-1, -1));
    QCOMPARE(widget->contextMenuPolicy(), Qt::CustomContextMenu);
}

void TestMpvWidget::audioPlaybackInRealTime() {
    // Guards against broken event order, unthrottled positions, and pause/seek/blocking
    // getters that do not reach the player.
    TAVROLIN_REQUIRE_AUDIO();
    widget = shownWidget();
    MpvWidget* w = widget.get();
    QSignalSpy events(w, &MpvWidget::rawMpvEvent);
    QSignalSpy paused(w, &MpvWidget::pausedChanged);
    QSignalSpy lengths(w, &MpvWidget::playLengthChanged);
    QElapsedTimer clock;
    QList<qint64> timeReports;
    QObject reportReceiver; // the connection ends with the test, not with the widget
    connect(w, &MpvWidget::playTimeChanged, &reportReceiver, [&](double) { timeReports << clock.elapsed(); });

    clock.start();
    w->openFile(TestSupport::sineAudioFile());
    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_FILE_LOADED), 10000);
    QTRY_VERIFY(!lengths.isEmpty() && qFuzzyCompare(lengths.last().first().toDouble(), 6.0));
    QCOMPARE(w->playLength(), 6.0);

    w->setVolume(40);
    QCOMPARE(w->volume(), qint64(40));
    w->setSpeed(1.0);
    QCOMPARE(w->speed(), 1.0);

    QTRY_VERIFY(w->playTime() >= 0.8);
    w->setPaused(true);
    QTRY_VERIFY(!paused.isEmpty() && paused.last().first().toBool());
    const double stoppedAt = w->playTime();
    QTest::qWait(300);
    QVERIFY2(qAbs(w->playTime() - stoppedAt) < 0.1, "position moved while paused");
    w->setPaused(false);
    QTRY_VERIFY(!paused.last().first().toBool());

    w->setPosition(4.0);
    QTRY_VERIFY(w->playTime() >= 4.0);
    QVERIFY2(w->playTime() < 4.8, "seek did not land near its target");

    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_END_FILE), 8000);
    const QList<int> ids = eventIds(events);
    QVERIFY(ids.indexOf(MPV_EVENT_START_FILE) >= 0);
    QVERIFY(ids.indexOf(MPV_EVENT_START_FILE) < ids.indexOf(MPV_EVENT_FILE_LOADED));
    QVERIFY(ids.indexOf(MPV_EVENT_FILE_LOADED) < ids.lastIndexOf(MPV_EVENT_END_FILE));

    // Throttled: the position arrives at most about once per 83 ms.
    QVERIFY(timeReports.size() >= 10);
    const qint64 span = timeReports.last() - timeReports.first();
    QVERIFY2(timeReports.size() <= span / 83 + 3,
             qPrintable(QStringLiteral("%1 reports in %2 ms").arg(timeReports.size()).arg(span)));
}

void TestMpvWidget::videoIsDrawnThroughTheRenderContext() {
    // Guards against video frames that never reach the widget, a logo that stays
    // hidden after the end, and a stale video size once audio follows video.
    widget = shownWidget();
    MpvWidget* w = widget.get();
    QSignalSpy sizes(w, &MpvWidget::videoSizeChanged);
    QSignalSpy events(w, &MpvWidget::rawMpvEvent);

    w->openFile(TestSupport::testVideoFile());
    QTRY_VERIFY_WITH_TIMEOUT(!sizes.isEmpty(), 10000);
    QCOMPARE(sizes.first().first().toSize(), QSize(320, 240));
    QCOMPARE(w->videoSize(), QSize(320, 240));
    QVERIFY(w->drawContext());
    QCOMPARE(w->controller()->mpvDrawContext(), w->drawContext());
    QVERIFY(!w->isLogoVisible());
    QTRY_VERIFY(w->playTime() > 0.3);
    QTRY_VERIFY2(TestSupport::colouredPixels(w->grabFramebuffer()) > 1000, "no video frame was drawn");

    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_END_FILE), 10000);
    QVERIFY(w->isLogoVisible());
    QTRY_COMPARE(TestSupport::colouredPixels(w->grabFramebuffer()), 0);

    events.clear();
    w->openFile(TestSupport::shortAudioFile());
    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_END_FILE), 10000);
    QTRY_VERIFY(sizes.contains(QVariantList{QSize(-1, -1)}));
    int unavailable = 0;
    for (const QList<QVariant>& args : sizes)
        unavailable += args.first().toSize() == QSize(-1, -1) ? 1 : 0;
    QCOMPARE(unavailable, 1);
    QCOMPARE(w->videoSize(), QSize(-1, -1));
}

void TestMpvWidget::dispatchDefaults_data() {
    QTest::addColumn<QString>("property");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("pause") << "pause" << QByteArray(SIGNAL(pausedChanged(bool))) << QVariant(true);
    QTest::newRow("duration") << "duration" << QByteArray(SIGNAL(playLengthChanged(double))) << QVariant(-1.0);
    QTest::newRow("time-pos") << "time-pos" << QByteArray(SIGNAL(playTimeChanged(double))) << QVariant(-1.0);
    QTest::newRow("seekable") << "seekable" << QByteArray(SIGNAL(seekableChanged(bool))) << QVariant(false);
    QTest::newRow("media-title") << "media-title" << QByteArray(SIGNAL(mediaTitleChanged(QString)))
                                 << QVariant(QString());
    QTest::newRow("track-list") << "track-list" << QByteArray(SIGNAL(tracksChanged(QVariantList)))
                                << QVariant(QVariantList());
    QTest::newRow("drop count") << "frame-drop-count" << QByteArray(SIGNAL(displayFramedropsChanged(int64_t)))
                                << QVariant::fromValue(int64_t(0));
}

void TestMpvWidget::dispatchDefaults() {
    // Guards against a missing value being passed on as 0/false (a paused player
    // would look like it is playing, an unknown length like an empty file).
    QFETCH(QString, property);
    QFETCH(QByteArray, signal);
    QFETCH(QVariant, expected);
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QSignalSpy spy(widget.get(), signal.constData());
    // Called as the controller's queued signal would call it, without the initial
    // values that libmpv sends meanwhile.
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "ctrl_mpvPropertyChanged", Qt::DirectConnection,
                                      Q_ARG(QString, property),
                                      Q_ARG(QVariant, QVariant::fromValue(MpvErrorCode(-10)))));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0], expected);
    if (property == QLatin1String("duration"))
        QCOMPARE(widget->playLength(), -1.0);
    if (property == QLatin1String("time-pos"))
        QCOMPARE(widget->playTime(), -1.0);
}

void TestMpvWidget::metadataKeysAreLowerCased() {
    // Guards against case variants of one tag arriving as separate keys.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QSignalSpy spy(widget.get(), &MpvWidget::metaDataChanged);
    const QVariantMap metadata{{"ARTIST", "A"}, {"Title", "first"}, {"title", "second"}};
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "ctrl_mpvPropertyChanged", Qt::DirectConnection,
                                      Q_ARG(QString, QStringLiteral("metadata")), Q_ARG(QVariant, metadata)));
    QCOMPARE(spy.count(), 1);
    const QVariantMap expected{{"artist", "A"}, {"title", "second"}};
    QCOMPARE(spy[0][0].toMap(), expected);
}

void TestMpvWidget::requestsSendTheDesignedCommands_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QVariantList>("commands");
    QTest::addColumn<QString>("logged"); // what libmpv reports running ("" when it does not log the command)
    QTest::newRow("osd text") << "osd" << QVariantList{QVariantList{"show_text", "Satz 3", "1000"}} << "";
    QTest::newRow("osd text hidden by stats")
        << "stats 1, osd"
        << QVariantList{QStringList{"script-binding", "stats/display-stats-toggle"},
                        QStringList{"script-binding", "stats/display-page-1"}}
        << "script-binding";
    QTest::newRow("stats cycle 0 1 2 0") << "cycle x3"
                                         << QVariantList{QStringList{"script-binding", "stats/display-stats-toggle"},
                                                         QStringList{"script-binding", "stats/display-page-1"},
                                                         QStringList{"script-binding", "stats/display-page-2"},
                                                         QStringList{"script-binding", "stats/display-stats-toggle"}}
                                         << "script-binding";
    QTest::newRow("relative seek") << "seek" << QVariantList{QVariantList{"seek", 30.0}}
                                   << "Run command: seek, flags=64, args=[target=\"30.000000\", flags=\"relative\"";
    QTest::newRow("exact seek") << "seek exact" << QVariantList{QVariantList{"seek", 30.0, "exact"}}
                                << "args=[target=\"30.000000\", flags=\"exact\""; // relative unless told otherwise
    QTest::newRow("blu-ray folder") << "disc BDMV" << QVariantList{QStringList{"loadfile", "bluray://@DIR@"}}
                                    << "url=\"bluray://@DIR@\"";
    QTest::newRow("DVD wins over blu-ray")
        << "disc VIDEO_TS BDMV" << QVariantList{QStringList{"loadfile", "@DIR@/VIDEO_TS/VIDEO_TS.IFO"}}
        << "url=\"@DIR@/VIDEO_TS/VIDEO_TS.IFO\"";
    QTest::newRow("audio-only DVD") << "disc AUDIO_TS"
                                    << QVariantList{QStringList{"loadfile", "@DIR@/VIDEO_TS/VIDEO_TS.IFO"}} << "";
    QTest::newRow("plain folder") << "disc music" << QVariantList{} << "";
    QTest::newRow("stop") << "stop" << QVariantList{QString("stop")} << "Run command: stop";
}

void TestMpvWidget::requestsSendTheDesignedCommands() {
    // Guards against wrong words, argument types or order in what reaches the player,
    // and against OSD text over the stats overlay.
    QFETCH(QString, operation);
    QFETCH(QVariantList, commands);
    QFETCH(QString, logged);
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    MpvWidget* w = widget.get();
    QStringList log;
    // Lines still queued when this test ends die with this receiver instead of
    // reaching `log` after it is gone.
    QObject logReceiver;
    connect(w->controller(), &MpvController::logMessage, &logReceiver, [&log](const QString& line) { log << line; });
    w->setLogLevel(QStringLiteral("debug"));
    QSignalSpy sent(w, &MpvWidget::ctrlCommand);

    QTemporaryDir disc;
    const QString folder = disc.path();
    const QStringList words = operation.split(QLatin1Char(' '));
    if (operation == QLatin1String("osd")) {
        w->showOsdText(QStringLiteral("Satz 3"));
    } else if (operation == QLatin1String("stats 1, osd")) {
        w->setStatsPage(1);
        w->showOsdText(QStringLiteral("Satz 3"));
    } else if (operation == QLatin1String("cycle x3")) {
        QCOMPARE(w->cycleStatsPage(), 1);
        QCOMPARE(w->cycleStatsPage(), 2);
        QCOMPARE(w->cycleStatsPage(), 0);
    } else if (words[0] == QLatin1String("seek")) {
        w->seek(30.0, words.size() > 1);
    } else if (words[0] == QLatin1String("disc")) {
        for (const QString& entry : words.mid(1))
            QDir(folder).mkdir(entry);
        w->openDiscFolder(folder);
    } else if (operation == QLatin1String("stop")) {
        w->stop();
    }

    QCOMPARE(sent.count(), commands.size());
    for (int i = 0; i < commands.size(); ++i) {
        QVariant expected = commands[i];
        if (expected.userType() == QMetaType::QStringList)
            expected = expected.toStringList().replaceInStrings(QStringLiteral("@DIR@"), folder);
        QCOMPARE(sent[i][0].userType(), expected.userType());
        QCOMPARE(sent[i][0], expected);
    }
    if (!logged.isEmpty()) {
        const QString needle = QString(logged).replace(QStringLiteral("@DIR@"), folder);
        QTRY_VERIFY2(std::any_of(log.cbegin(), log.cend(), [&](const QString& l) { return l.contains(needle); }),
                     qPrintable(QStringLiteral("libmpv did not run: ") + needle));
    }
}

void TestMpvWidget::abLoopReachesThePlayer() {
    // Guards against a negative point being sent as a time instead of "no".
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    widget->setAbLoop(3.0, 8.0);
    QCOMPARE(widget->getPropertyBlocking(QStringLiteral("ab-loop-a")), QVariant(3.0));
    widget->setAbLoop(-1, 12.5);
    QCOMPARE(widget->getPropertyBlocking(QStringLiteral("ab-loop-a")), QVariant(QStringLiteral("no")));
    QCOMPARE(widget->getPropertyBlocking(QStringLiteral("ab-loop-b")), QVariant(12.5));
}

void TestMpvWidget::blockingCallsReportCodes() {
    // Guards against failures of the blocking calls looking like success (or the reverse).
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QVERIFY(!widget->setPropertyBlocking(QStringLiteral("speed"), 1.5).isValid());
    QCOMPARE(widget->speed(), 1.5);
    const QVariant failed = widget->setPropertyBlocking(QStringLiteral("no-such-property"), 1);
    QCOMPARE(failed.value<MpvErrorCode>().errorCode, int(MPV_ERROR_PROPERTY_NOT_FOUND));
    QVERIFY(widget->setOptionBlocking(QStringLiteral("no-such-option"), 1).canConvert<MpvErrorCode>());
    QVERIFY(!widget->setChapter(1)); // nothing loaded
    QCOMPARE(widget->chapter(), qint64(0));
    QCOMPARE(widget->isEofReached(), false);
    QCOMPARE(widget->commandBlocking(QStringList{"expand-text", "${speed}"}), QVariant(QStringLiteral("1.50")));
    QVERIFY(widget->audioDevices().size() >= 1); // "auto" is always listed
    QCOMPARE(widget->audioDevices().first().name, QStringLiteral("auto"));
}

void TestMpvWidget::optionsAreSentOnlyWhenChanged() {
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QSignalSpy sent(widget.get(), &MpvWidget::ctrlSetOptionVariant);
    widget->setOptionIfChanged(QStringLiteral("loop-file"), QStringLiteral("inf"));
    widget->setOptionIfChanged(QStringLiteral("loop-file"), QStringLiteral("inf"));
    QCOMPARE(sent.count(), 1);
    widget->setOptionIfChanged(QStringLiteral("loop-file"), QStringLiteral("no"));
    QCOMPARE(sent.count(), 2);
    QTRY_COMPARE(widget->getPropertyBlocking(QStringLiteral("loop-file")), QVariant(false));
}

void TestMpvWidget::unloadHookReportsLongPlaylistsAndAcknowledges() {
    // Guards against an unanswered hook (libmpv would never finish the file) and
    // against reporting one-entry playlists.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    MpvWidget* w = widget.get();
    w->setOptionBlocking(QStringLiteral("ao"), QStringLiteral("null")); // plays without a device too
    QSignalSpy playlists(w, &MpvWidget::playlistChanged);
    QSignalSpy events(w, &MpvWidget::rawMpvEvent);

    w->openFile(TestSupport::shortAudioFile());
    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_IDLE) && eventIds(events).contains(MPV_EVENT_END_FILE),
                             10000);
    QVERIFY(playlists.isEmpty());

    events.clear();
    w->openFile(TestSupport::shortAudioFile());
    w->commandBlocking(QStringList{"loadfile", TestSupport::sineAudioFile(), "append"});
    QTRY_VERIFY_WITH_TIMEOUT(!playlists.isEmpty(), 10000);
    QCOMPARE(playlists[0][0].toList().size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).count(MPV_EVENT_FILE_LOADED) == 2, 10000);
    w->stop();
    QTRY_VERIFY_WITH_TIMEOUT(eventIds(events).contains(MPV_EVENT_IDLE), 10000);
}

void TestMpvWidget::shortClientMessagesAreIgnored() {
    // Guards against reading past the end of a short message.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QSignalSpy sent(widget.get(), &MpvWidget::ctrlCommand);
    emit widget->controller()->clientMessage(0, {QStringLiteral("hook_run"), QStringLiteral("200211883")});
    emit widget->controller()->clientMessage(0, {});
    emit widget->controller()->clientMessage(0, {QStringLiteral("hook_run"), QStringLiteral("1"), QStringLiteral("2")});
    QTest::qWait(100);
    QVERIFY(sent.isEmpty());
}

void TestMpvWidget::cursorHiding() {
    // Guards against a cursor that hides with a zero delay or never comes back.
    widget = shownWidget();
    MpvWidget* w = widget.get();
    QSignalSpy presses(w, &MpvWidget::mousePress);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(12, 34));
    QCOMPARE(presses.count(), 1);
    QCOMPARE(presses[0][0].toInt(), 12);
    QCOMPARE(presses[0][1].toInt(), 34);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(12, 34));

    w->setCursorHideDelay(0);
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    emit w->mouseMoved(1, 1);
    QTest::qWait(150);
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);

    w->setCursorHideDelay(50);
    QTRY_COMPARE(w->cursor().shape(), Qt::BlankCursor);
    emit w->mouseMoved(2, 2);
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    QTRY_COMPARE(w->cursor().shape(), Qt::BlankCursor);
}

void TestMpvWidget::logoSurface() {
    // Guards against an idle surface that ignores its colour or logo.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    MpvWidget* w = widget.get();
    QSignalSpy sizes(w, &MpvWidget::logoSizeChanged);
    const QString logo = dir.filePath(QStringLiteral("logo.png"));
    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::green);
    QVERIFY(image.save(logo));
    w->setLogoFile(logo); // before GL exists: this drawer reports its sizes
    QCOMPARE(sizes.count(), 1);
    QCOMPARE(sizes[0][0].toSize(), QSize(20, 10));
    w->setLogoColor(Qt::red);

    w->resize(320, 240);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QImage frame = w->grabFramebuffer();
    QCOMPARE(QColor(frame.pixel(160, 120)), QColor(Qt::green));
    QCOMPARE(QColor(frame.pixel(5, 5)), QColor(Qt::red));
    QCOMPARE(w->logo()->path(), logo);

    w->setLogoVisible(false); // nothing plays: the render context draws its own black
    QTRY_COMPARE(QColor(w->grabFramebuffer().pixel(160, 120)), QColor(Qt::black));
}

void TestMpvWidget::survivesANewTopLevelWindow() {
    // Guards against a render context left bound to the GL context of a window the
    // widget has left (full screen reparents the surface): a crash or a frozen picture.
    TAVROLIN_REQUIRE_AUDIO();
    auto frame = std::make_unique<QWidget>();
    frame->resize(340, 260);
    auto* w = new MpvWidget(frame.get(), QStringLiteral("mpv"));
    w->setGeometry(10, 10, 320, 240);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    w->setOptionBlocking(QStringLiteral("loop-file"), QStringLiteral("inf"));
    w->openFile(TestSupport::testVideoFile());
    QTRY_VERIFY_WITH_TIMEOUT(w->playTime() > 0.3, 10000);
    QTRY_VERIFY(TestSupport::colouredPixels(w->grabFramebuffer()) > 1000);

    w->setParent(nullptr);
    widget.reset(w);
    w->resize(320, 240);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    frame.reset();
    QTRY_VERIFY(w->drawContext());
    const double before = w->playTime();
    QTRY_VERIFY(w->playTime() > before + 0.3);
    QTRY_VERIFY2(TestSupport::colouredPixels(w->grabFramebuffer()) > 1000, "no video after the move");
}

void TestMpvWidget::procedureResolverFallsBackToTheGlLibrary() {
    // Guards against libmpv getting no GL functions when no Qt context is current.
    widget = shownWidget(); // loads the GL library
    using NativeDisplay = void* (*)();
    auto display = reinterpret_cast<NativeDisplay>(MpvWidget::procAddress(nullptr, "glMPGetNativeDisplay"));
    QVERIFY(display);
    QVERIFY(!display());
    widget->doneCurrent();
    QVERIFY(!QOpenGLContext::currentContext());
    QVERIFY(MpvWidget::procAddress(nullptr, "glClear"));
    QVERIFY(!MpvWidget::procAddress(nullptr, "glNoSuchFunctionTavrolin"));
}

void TestMpvWidget::renderContextFailureIsRaised() {
    // Guards against a widget that silently shows nothing when libmpv refuses the renderer.
    widget = std::make_unique<MpvWidget>(nullptr, QStringLiteral("mpv"));
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext other;
    QVERIFY(other.create());
    QVERIFY(other.makeCurrent(&surface));
    // libmpv allows one render context per core: take it first.
    mpv_opengl_init_params glInit{&MpvWidget::procAddress, nullptr};
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
                                 {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context* taken = nullptr;
    QCOMPARE(mpv_render_context_create(&taken, widget->controller()->mpvHandle(), params), 0);
    other.doneCurrent();

    try {
        widget->grabFramebuffer(); // initialises GL
        QFAIL("no exception");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("[MpvWidget] cb init gl failed."));
    }
    QVERIFY(!widget->drawContext());

    QVERIFY(other.makeCurrent(&surface));
    mpv_render_context_free(taken);
    other.doneCurrent();
    widget.reset(); // and the widget still shuts down cleanly
}

void TestMpvWidget::startFailureIsRaisedWithoutLeftovers() {
    // Guards against a start-up failure that terminates the program from the worker
    // thread, or leaves that thread running.
    const QMap<int, QString> threadsBefore = threads();
    // libmpv refuses a numeric locale with a decimal comma; a fresh system has none, so the
    // test compiles its own (localedef, package locales) where setlocale finds it (LOCPATH).
    QTemporaryDir locales;
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
    }
    TAVROLIN_REQUIRE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"),
                     "no de_DE.UTF-8 locale, and localedef could not make one");
    qunsetenv("LOCPATH");
    QString message;
    try {
        MpvWidget w(nullptr, QStringLiteral("mpv"));
    } catch (const std::runtime_error& e) {
        message = QString::fromUtf8(e.what());
    }
    std::setlocale(LC_NUMERIC, "C");
    QCOMPARE(message, QStringLiteral("could not create mpv context"));
    QTRY_COMPARE(threadsSince(threadsBefore).join(QStringLiteral(", ")), QString());
}

void TestMpvWidget::widgetsComeAndGoWhilePlaying() {
    // Guards against worker threads, cores or render contexts outliving their widget,
    // and against crashes when queued events meet a destroyed widget.
    TAVROLIN_REQUIRE_AUDIO();
    const QString media = TestSupport::testVideoFile();
    {
        auto warmUp = shownWidget(); // the GL driver and the audio library keep process-wide threads
        QSignalSpy started(warmUp.get(), &MpvWidget::playbackStarted);
        warmUp->openFile(media);
        QVERIFY(started.wait(10000));
    }
    QTest::qWait(50);
    const QMap<int, QString> threadsBefore = threads();
    QVERIFY(threadsBefore.contains(int(QCoreApplication::applicationPid()))); // the main thread: the list is read

    for (int i = 0; i < 20; ++i) {
        auto w = shownWidget();
        QSignalSpy started(w.get(), &MpvWidget::playbackStarted);
        w->openFile(i % 3 == 2 ? TestSupport::sineAudioFile() : media);
        if (i % 2 == 0) {
            QVERIFY(started.wait(10000));
            QTRY_VERIFY(w->playTime() > 0.1);
        } // odd rounds go while the file is still loading
        QThread* worker = w->workerThread();
        QVERIFY(worker->isRunning());
        w.reset();
    }
    QTRY_COMPARE(threadsSince(threadsBefore).join(QStringLiteral(", ")), QString());
}

TAVROLIN_MEDIA_TEST_MAIN(TestMpvWidget)
#include "tst_mpvwidget.moc"
