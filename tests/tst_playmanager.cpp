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

using ObDataBase::PlayManager;

class TestPlayManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void loadReportsStatusWholeSecondsAndTheEnd();
    void seekSwallowsTheNextReportAndClamps();
    void volumeReachesThePlayer();
    void subtitleText_data();
    void subtitleText();
    void operationsBeforeTheWidgetDoNothing();

private:
    bool canPlay = false;
};

void TestPlayManager::initTestCase() {
    TestSupport::useCleanDataDirectory();
    canPlay = TestSupport::audioOutputAvailable() && !TestSupport::sineAudioFile().isEmpty();
}

void TestPlayManager::loadReportsStatusWholeSecondsAndTheEnd() {
    // Guards against a wrong status sequence, fractional seconds or a missed end.
    if (!canPlay)
        QSKIP("no audio output (run under scripts/test.sh, which starts a PulseAudio null sink)");
    PlayManager manager(nullptr);
    manager.playerWidget();
    QList<int> status;
    QSignalSpy positions(&manager, &PlayManager::positionChanged);
    QSignalSpy lengths(&manager, &PlayManager::durationChanged);
    double positionAtEnd = -1;
    connect(&manager, &PlayManager::mediaStatusChanged, this, [&](PlayManager::MediaStatus s) {
        status << int(s);
        if (s == PlayManager::EndOfMedia && positionAtEnd < 0)
            positionAtEnd = manager.position();
    });

    manager.loadMedia(QUrl::fromLocalFile(TestSupport::sineAudioFile()).toString());
    QTRY_VERIFY_WITH_TIMEOUT(status.size() >= 3, 10000);
    QCOMPARE(status.mid(0, 3), (QList<int>{PlayManager::LoadingMedia, PlayManager::LoadedMedia, PlayManager::LoadedMedia}));
    QTRY_VERIFY_WITH_TIMEOUT(!lengths.isEmpty() && lengths.last().at(0).toLongLong() == 6, 10000);
    QCOMPARE(manager.currentSource(), QUrl::fromLocalFile(TestSupport::sineAudioFile()).toString());

    QTRY_VERIFY_WITH_TIMEOUT(positionAtEnd >= 0, 15000);
    QVERIFY2(positionAtEnd >= 5.0, qPrintable(QString::number(positionAtEnd)));
    qlonglong previous = -1;
    for (const QList<QVariant>& report : positions) {
        const qlonglong second = report.at(0).toLongLong();
        QVERIFY(second >= previous && second <= 5);
        previous = second;
    }
    QVERIFY(previous >= 4);
}

void TestPlayManager::seekSwallowsTheNextReportAndClamps() {
    if (!canPlay)
        QSKIP("no audio output");
    PlayManager manager(nullptr);
    auto* widget = static_cast<MpvWidget*>(manager.playerWidget());
    manager.loadMedia(TestSupport::sineAudioFile());
    QTRY_VERIFY_WITH_TIMEOUT(manager.duration() > 5.9, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(manager.position() > 0.2, 5000);

    int widgetReports = 0, managerReports = 0;
    connect(widget, &MpvWidget::playTimeChanged, this, [&] { ++widgetReports; });
    connect(&manager, &PlayManager::positionChanged, this, [&] { ++managerReports; });
    manager.seekTo(2.0);
    QTRY_VERIFY_WITH_TIMEOUT(widgetReports >= 3, 5000);
    QCOMPARE(managerReports, widgetReports - 1);
    QTRY_VERIFY_WITH_TIMEOUT(manager.position() >= 2.0 && manager.position() < 3.5, 5000);

    // A target past the end lands one second before it.
    manager.seekTo(300.0);
    QTRY_VERIFY_WITH_TIMEOUT(manager.position() >= 4.9, 5000);
    QVERIFY(manager.position() < 5.6);
    manager.seekToIfNonNegative(-0.5); // nothing
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
    QTest::newRow("quotes and markup") << false << "It======s ;;;;;;ok;;;;;; <b>now</b>" << "It's \"ok\" now";
    QTest::newRow("translation member") << true << "{\"chinese\":\"<i>词</i>======\"}" << "词'";
    QTest::newRow("no translation member") << true << "{\"text\":\"x\"}" << "";
    QTest::newRow("not JSON") << true << "a====== <b>b</b>;;;;;;" << "a====== b;;;;;;";
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
    QVERIFY(labels.at(0)->isVisibleTo(widget) && labels.at(1)->isVisibleTo(widget));
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
