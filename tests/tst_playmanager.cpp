// The playback manager over the real video widget: media status, whole-second
// reports, the end of the media, seeking and the subtitle lines.
#include "playback/playmanager.h"
#include "player/mpvwidget.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using ObDataBase::PlayManager;

class TestPlayManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void loadReportsStatusWholeSecondsAndTheEnd();
    void seeksLandExactlyAndReportFromTheTarget_data();
    void seeksLandExactlyAndReportFromTheTarget();
    void aSeekRightAfterAnotherReportsOnlyItsTarget();
    void volumeReachesThePlayer();
    void subtitleText_data();
    void subtitleText();
    void subtitleLinesAreNeverCut();
    void operationsBeforeTheWidgetDoNothing();
};

void TestPlayManager::initTestCase() {
    TestSupport::useCleanDataDirectory();
    TAVROLIN_REQUIRE_AUDIO();
    QVERIFY2(!TestSupport::sineAudioFile().isEmpty(), "sox could not make the test sound");
}

void TestPlayManager::loadReportsStatusWholeSecondsAndTheEnd() {
    // Guards against a wrong status sequence, fractional seconds, or an end
    // declared before the last second of the media has played.
    PlayManager manager(nullptr);
    manager.playerWidget();
    QList<int> status;
    QSignalSpy positions(&manager, &PlayManager::positionChanged);
    QSignalSpy lengths(&manager, &PlayManager::durationChanged);
    double exactAtEnd = -1;
    int ends = 0;
    connect(&manager, &PlayManager::mediaStatusChanged, this, [&](PlayManager::MediaStatus s) {
        status << int(s);
        if (s == PlayManager::EndOfMedia && ends++ == 0)
            exactAtEnd = manager.exactPosition();
    });

    manager.loadMedia(QUrl::fromLocalFile(TestSupport::sineAudioFile()).toString());
    QTRY_VERIFY_WITH_TIMEOUT(status.size() >= 3, 10000);
    QCOMPARE(status.mid(0, 3),
             (QList<int>{PlayManager::LoadingMedia, PlayManager::LoadedMedia, PlayManager::LoadedMedia}));
    QTRY_VERIFY_WITH_TIMEOUT(!lengths.isEmpty() && lengths.last().at(0).toLongLong() == 6, 10000);
    QCOMPARE(manager.currentSource(), QUrl::fromLocalFile(TestSupport::sineAudioFile()).toString());

    QTRY_VERIFY_WITH_TIMEOUT(exactAtEnd >= 0, 15000);
    QVERIFY2(exactAtEnd >= 5.85, qPrintable(QString::number(exactAtEnd)));
    QVERIFY(manager.isPaused()); // the player stops at its end and keeps the file
    QCOMPARE(ends, 1);
    qlonglong previous = -1;
    for (const QList<QVariant>& report : positions) {
        const qlonglong second = report.at(0).toLongLong();
        QVERIFY(second >= previous && second <= 6);
        previous = second;
    }
    QVERIFY(previous >= 5);

    // Played again from a position, it ends once more.
    manager.seekTo(4.5);
    manager.play();
    QTRY_COMPARE_WITH_TIMEOUT(ends, 2, 5000);
}

void TestPlayManager::seeksLandExactlyAndReportFromTheTarget_data() {
    QTest::addColumn<bool>("whileLoading");
    QTest::newRow("playing") << false;
    QTest::newRow("while the file loads") << true;
}

void TestPlayManager::seeksLandExactlyAndReportFromTheTarget() {
    // Guards against a seek that lands beside its target (whole seconds, or the
    // player's nearest key point), reports from before the seek passed on as if
    // after it, and a seek made while a file loads being lost.
    QFETCH(bool, whileLoading);
    PlayManager manager(nullptr);
    manager.playerWidget();
    QList<double> exact;
    QList<qlonglong> whole;
    bool seeking = false;
    connect(&manager, &PlayManager::exactPositionChanged, this, [&](double s) {
        if (seeking)
            exact << s;
    });
    connect(&manager, &PlayManager::positionChanged, this, [&](qlonglong s) {
        if (seeking)
            whole << s;
    });
    manager.loadMedia(TestSupport::sineAudioFile());
    if (!whileLoading) {
        QTRY_VERIFY_WITH_TIMEOUT(manager.exactPosition() > 3.5, 10000);
        manager.setPaused(true); // back in the media, paused: it waits at the target
        QTRY_VERIFY(manager.isPaused());
    }
    seeking = true;
    manager.seekTo(1.234);
    QTRY_VERIFY_WITH_TIMEOUT(!exact.isEmpty(), 10000);
    QVERIFY2(qAbs(exact.first() - 1.234) < 0.005, qPrintable(QString::number(exact.first(), 'f', 4)));
    manager.play();
    QTRY_VERIFY_WITH_TIMEOUT(exact.size() >= 5 && whole.size() >= 2, 5000);
    for (double s : exact)
        QVERIFY2(s >= 1.233 && s < 2.5, qPrintable(QString::number(s, 'f', 4)));
    for (qlonglong s : whole)
        QVERIFY(s == 1 || s == 2);

    // Past the end: the end of the media.
    bool ended = false;
    connect(&manager, &PlayManager::mediaStatusChanged, this,
            [&](PlayManager::MediaStatus s) { ended = ended || s == PlayManager::EndOfMedia; });
    manager.seekTo(300.0);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
}

void TestPlayManager::aSeekRightAfterAnotherReportsOnlyItsTarget() {
    // Guards against a report from the first of two quick seeks, made while the
    // second one lands, being passed on as the position after the second (a
    // dictation would take it for the end of its sentence).
    PlayManager manager(nullptr);
    manager.playerWidget();
    manager.loadMedia(TestSupport::sineAudioFile());
    QTRY_VERIFY_WITH_TIMEOUT(manager.exactPosition() > 0.5, 10000);
    QList<double> exact;
    connect(&manager, &PlayManager::exactPositionChanged, this, [&](double s) { exact << s; });
    // The second seek follows the first after a varying delay, so that it comes
    // at each stage of the first one's landing, with the first one's events
    // waiting in the queue meanwhile (as when a page is busy).
    for (int delayMs = 0; delayMs <= 60; ++delayMs) {
        manager.seekTo(4.5);
        QThread::msleep(delayMs);
        exact.clear();
        manager.seekTo(1.0);
        QTRY_VERIFY_WITH_TIMEOUT(exact.size() >= 3, 5000);
        for (double s : exact)
            QVERIFY2(s >= 0.99 && s < 2.0, qPrintable(QString("%1 s after a %2 ms delay").arg(s).arg(delayMs)));
    }
}

void TestPlayManager::volumeReachesThePlayer() {
    PlayManager manager(nullptr);
    auto* widget = static_cast<MpvWidget*>(manager.playerWidget());
    manager.setVolume(80);
    QTRY_COMPARE(widget->volume(), qint64(80));
    QCOMPARE(manager.volume(), 80);
    manager.setSpeed(1.25);
    QTRY_COMPARE(manager.speed(), 1.25);
}

void TestPlayManager::subtitleText_data() {
    QTest::addColumn<bool>("translation");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("quotes and markup") << false << "It======s ;;;;;;ok;;;;;; <b>now</b>"
                                       << "It's \"ok\" now";
    QTest::newRow("translation member") << true << "{\"chinese\":\"<i>词</i>======\"}"
                                        << "词'";
    QTest::newRow("no translation member") << true << "{\"text\":\"x\"}"
                                           << "";
    QTest::newRow("not JSON") << true << "a====== <b>b</b>;;;;;;"
                              << "a====== b;;;;;;";
}

void TestPlayManager::subtitleText() {
    QFETCH(bool, translation);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    PlayManager manager(nullptr);
    QWidget* widget = manager.playerWidget();
    const QList<QLabel*> labels = widget->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2);
    if (translation)
        manager.setTranslationSubtitle(text);
    else
        manager.setSentenceSubtitle(text);
    QCOMPARE(labels.at(translation ? 1 : 0)->text(), shown);
    QVERIFY(!labels.at(0)->isVisibleTo(widget));
    manager.setSubtitlesVisible(true);
    // A line without text shows no empty shade.
    QCOMPARE(labels.at(translation ? 1 : 0)->isVisibleTo(widget), !shown.isEmpty());
    QVERIFY(!labels.at(translation ? 0 : 1)->isVisibleTo(widget));
}

void TestPlayManager::subtitleLinesAreNeverCut() {
    // Guards against a word-wrapping line placed narrower than the width its height was reckoned for: the text
    // wrapped onto a line that was cut off or hidden under the translation, in the window and after going full
    // screen.
    PlayManager manager(nullptr);
    QWidget* widget = manager.playerWidget();
    const QList<QLabel*> labels = widget->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2);
    manager.setSentenceSubtitle("Wir üben jeden Satz so lange, bis er sitzt, und dann noch einmal von vorn.");
    manager.setTranslationSubtitle("{\"chinese\":\"开往科隆的火车八点出发。\"}");
    manager.setSubtitlesVisible(true);
    widget->resize(480, 270);
    widget->show();
    for (const QSize size : {QSize(480, 270), QSize(1366, 900)}) {
        widget->resize(size);
        QTRY_VERIFY(labels.at(1)->geometry().bottom() < size.height());
        QCoreApplication::processEvents();
        for (QLabel* label : labels)
            QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                     qPrintable(QString("%1 at %2 wide").arg(label->text()).arg(size.width())));
        QVERIFY(labels.at(0)->geometry().bottom() < labels.at(1)->geometry().top());
    }
}

void TestPlayManager::operationsBeforeTheWidgetDoNothing() {
    PlayManager manager(nullptr);
    manager.loadMedia("x");
    manager.play();
    manager.seekTo(3);
    manager.setVolume(10);
    manager.setSentenceSubtitle("a");
    manager.setSubtitlesVisible(true);
    QCOMPARE(manager.duration(), 0.0);
    QVERIFY(!manager.videoWidget());
}

TAVROLIN_MEDIA_TEST_MAIN(TestPlayManager)
#include "tst_playmanager.moc"
