// The video surface: placement over the page's frame, full screen, and the
// application-wide keys and menu of the video event filter.
#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "bridge/webapi.h"
#include "playback/practicecontroller.h"
#include "playback/videoeventfilter.h"
#include "support/fakeplayer.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>

using PageScript::Page;

namespace {

struct Rig {
    Rig() {
        window = std::make_unique<MainWindow>(nullptr);
        bridge = window->bridge();
        bridge->practice()->createPlayer = [this] {
            auto p = std::make_unique<FakePlayer>();
            player = p.get();
            return std::unique_ptr<PracticePlayer>(std::move(p));
        };
        recorder.answer = [this](const PageScript::Call& call) {
            return call.snippet == "media.showVideoFrame();" ? QVariant(frameAnswer) : QVariant();
        };
    }
    ~Rig() {
        window.reset();
        TestSupport::deleteTopLevelWindows(player_widget()); // the fake player owns its widget
    }
    QWidget* player_widget() const { return player ? player->widget.get() : nullptr; }
    void startVideo() { bridge->initPlay("/data/clip.mp4", "local", {0, 4000}, "4"); }

    TestSupport::ScriptRecorder recorder;
    QString frameAnswer = "10,20,640,360";
    std::unique_ptr<MainWindow> window;
    WebApi* bridge = nullptr;
    FakePlayer* player = nullptr;
};

void key(QObject* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(target, &press);
}

// Receives keys and double clicks, so tests can see what the filter lets through.
class Target : public QWidget {
public:
    int keys = 0, doubleClicks = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++keys; }
    void mouseDoubleClickEvent(QMouseEvent*) override { ++doubleClicks; }
};

} // namespace

class TestVideoSurface : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::useCleanDataDirectory(); }
    void placementLiesExactlyOverTheFrame_data();
    void placementLiesExactlyOverTheFrame();
    void audioOrHiddenVideoIsNotPlaced();
    void fullScreenToggles();
    void raiseAndLower();
    void speedSteps_data();
    void speedSteps();
    void keysOfTheFilter();
    void aKeyPassedUpToParentsActsOnce();
    void keysLeaveTextFieldsAlone_data();
    void keysLeaveTextFieldsAlone();
    void doubleClickTogglesFullScreenOnTheVideoOnly();
    void contextMenuItems();
    void paraSetStateRoutesByPageMode_data();
    void paraSetStateRoutesByPageMode();
    void desktopStateShowsAndHides_data();
    void desktopStateShowsAndHides();
    void paragraphTextAndSubtitles();
    void volumeIsStoredInTheDataPage();
    void fmIdPlaysTheSignedMediaUrl();
};

void TestVideoSurface::placementLiesExactlyOverTheFrame_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QRect>("placed");
    QTest::newRow("whole pixels") << "10,20,640,360" << QRect(10, 20, 640, 360);
    QTest::newRow("fractional pixels are covered") << "10.7,20.9,640.5,360.2" << QRect(10, 20, 642, 362);
    QTest::newRow("not a number counts as 0") << "x,20,640,360" << QRect(0, 20, 640, 360);
}

void TestVideoSurface::placementLiesExactlyOverTheFrame() {
    // Guards against a surface off the page's frame by a pixel (on alternate placements) or leaving part of it
    // uncovered.
    QFETCH(QString, answer);
    QFETCH(QRect, placed);
    Rig rig;
    rig.frameAnswer = answer;
    rig.startVideo();
    QWidget* video = rig.player_widget();
    QVERIFY(video->isVisible());
    QCOMPARE(video->geometry(), placed);
    rig.bridge->updateVideoFrameGeometry();
    QCOMPARE(video->geometry(), placed);
    rig.frameAnswer = "1,2,3"; // not four parts: stays where it is
    rig.bridge->updateVideoFrameGeometry();
    QCOMPARE(video->geometry(), placed);
}

void TestVideoSurface::audioOrHiddenVideoIsNotPlaced() {
    Rig rig;
    rig.bridge->initPlay("/data/a.rar", "local", {0});
    QVERIFY(!rig.player_widget()->isVisible());
    QVERIFY(rig.recorder.snippets(Page::Main).contains("media.hideVideoFrame();"));
    rig.recorder.clear();
    rig.window->showFullScreen();
    rig.bridge->updateVideoFrameGeometry();
    QVERIFY(!rig.recorder.snippets(Page::Main).contains("media.showVideoFrame();"));
    QVERIFY(rig.player_widget()->geometry() != QRect(0, 0, rig.window->width(), rig.window->height()));
}

void TestVideoSurface::fullScreenToggles() {
    Rig rig;
    rig.startVideo();
    auto* menuBar = rig.window->findChild<QMenuBar*>("menuBar");
    rig.bridge->setVideoFullscreen("on");
    QVERIFY(rig.window->isFullScreen());
    QVERIFY(!menuBar->isVisible());
    QVERIFY(rig.player->subtitlesVisible);
    QCOMPARE(rig.player_widget()->geometry(), QRect(0, 0, rig.window->width(), rig.window->height()));
    rig.bridge->setVideoFullscreen("on"); // the argument does not matter: it toggles
    QVERIFY(!rig.window->isFullScreen());
    QVERIFY(menuBar->isVisible());
    QVERIFY(!rig.player->subtitlesVisible);
}

void TestVideoSurface::raiseAndLower() {
    Rig rig;
    rig.bridge->raiseVideoFrame(); // no player yet: nothing happens
    rig.startVideo();
    rig.bridge->lowerVideoFrame();
    rig.bridge->raiseVideoFrame();
    QVERIFY(rig.player_widget()->isVisible());
}

void TestVideoSurface::speedSteps_data() {
    QTest::addColumn<double>("from");
    QTest::addColumn<bool>("up");
    QTest::addColumn<double>("to");
    // The page's steps of 0.1, from any speed, within 0.5 .. 2.0.
    QTest::newRow("1.0 up") << 1.0 << true << 1.1;
    QTest::newRow("1.5 down") << 1.5 << false << 1.4;
    QTest::newRow("0.99 up onto the step") << 0.99 << true << 1.0;
    QTest::newRow("1.02 down onto the step") << 1.02 << false << 1.0;
    QTest::newRow("0.5 down stays") << 0.5 << false << 0.5;
    QTest::newRow("1.97 up stops at 2") << 1.97 << true << 2.0;
}

void TestVideoSurface::speedSteps() {
    QFETCH(double, from);
    QFETCH(bool, up);
    QFETCH(double, to);
    QVERIFY(qAbs(VideoEventFilter::steppedSpeed(from, up) - to) < 1e-9);
}

void TestVideoSurface::keysOfTheFilter() {
    Rig rig;
    rig.startVideo();
    QVERIFY(rig.bridge->videoEventFilter() == nullptr); // the fake factory installs none
    VideoEventFilter filter(rig.bridge->practice(), rig.bridge);
    qApp->installEventFilter(&filter);
    Target target;

    rig.recorder.clear();
    key(&target, Qt::Key_Left);
    key(&target, Qt::Key_Right);
    QCOMPARE(target.keys, 0); // consumed
    QCOMPARE(rig.recorder.snippets(Page::Main), (QStringList{"media.previousSentence();", "media.nextSentence();"}));

    rig.player->calls.clear();
    key(&target, Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(rig.player->calls, QStringList{"speed 1.1"});
    QCOMPARE(target.keys, 0);
    rig.player->currentVolume = 50;
    key(&target, Qt::Key_Up);
    key(&target, Qt::Key_Down);
    key(&target, Qt::Key_Down);
    QCOMPARE(rig.player->currentVolume, 45);
    QCOMPARE(target.keys, 3); // volume keys reach their target too
    rig.player->currentVolume = 98;
    key(&target, Qt::Key_Up);
    QCOMPARE(rig.player->currentVolume, 100);

    // Space asks the page, as its play button does, so its state and buttons follow.
    rig.recorder.clear();
    rig.player->line.pausedReported(true);
    key(&target, Qt::Key_Space);
    rig.player->line.pausedReported(false);
    key(&target, Qt::Key_Space);
    QCOMPARE(rig.recorder.snippets(Page::Main), (QStringList{"media.play(0, true);", "media.pause();"}));
    QVERIFY(!rig.player->calls.contains("resume") && !rig.player->calls.contains("pause"));
    QCOMPARE(target.keys, 4); // the four volume keys went on to their target; Space did not

    // Escape leaves full screen, but never un-maximises a window, in full screen or not.
    rig.window->showMaximized();
    QTRY_VERIFY(rig.window->isMaximized());
    key(&target, Qt::Key_Escape);
    QVERIFY(rig.window->isMaximized());
    rig.bridge->setVideoFullscreen("");
    QVERIFY(rig.window->isFullScreen());
    rig.player_widget()->hide(); // over a hidden video it does nothing
    key(&target, Qt::Key_Escape);
    QVERIFY(rig.window->isFullScreen());
    rig.player_widget()->show();
    key(&target, Qt::Key_Escape);
    QVERIFY(!rig.window->isFullScreen());
    QTRY_VERIFY(rig.window->isMaximized()); // as it was before full screen
    qApp->removeEventFilter(&filter);
}

void TestVideoSurface::keysLeaveTextFieldsAlone_data() {
    QTest::addColumn<bool>("webPage");
    QTest::newRow("line edit") << false;
    QTest::newRow("page input") << true;
}

// Guards against the player's keys taking the arrows and Space from a text
// field: the dictation answer in the page, a line edit in a dialog.
void TestVideoSurface::keysLeaveTextFieldsAlone() {
    QFETCH(bool, webPage);
    Rig rig;
    rig.startVideo();
    VideoEventFilter filter(rig.bridge->practice(), rig.bridge);
    qApp->installEventFilter(&filter);
    QWebView view;
    QLineEdit edit;
    QWidget* field = webPage ? static_cast<QWidget*>(&view) : &edit;
    if (webPage) {
        view.setHtml("<input id='answer' value='Guten Tag'>");
        QTRY_VERIFY(view.page()->mainFrame()->findFirstElement("#answer").tagName() == "INPUT");
    } else {
        edit.setText("Guten Tag");
    }
    field->show();
    field->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(field));
    field->setFocus();
    if (webPage)
        view.page()->mainFrame()->evaluateJavaScript("var a = document.getElementById('answer');"
                                                     "a.focus(); a.setSelectionRange(9, 9);");
    QTRY_VERIFY(QApplication::focusWidget() == field);

    rig.recorder.clear();
    rig.player->calls.clear();
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Space);
    QTest::keyClick(field, Qt::Key_Down);
    QVERIFY2(rig.recorder.snippets(Page::Main).isEmpty(), qPrintable(rig.recorder.all().join(' ')));
    QVERIFY(rig.player->calls.isEmpty());
    // The keys reached the field: the caret moved left and a blank went in.
    const QString text = webPage ? view.page()->mainFrame()->evaluateJavaScript("a.value").toString() : edit.text();
    QCOMPARE(text, QString("Guten Ta g"));
    if (webPage) {
        // The answer is checked and its field goes (the view keeps its input
        // method flag then): the keys are the player's again.
        view.page()->mainFrame()->evaluateJavaScript("a.parentNode.removeChild(a);");
        QTest::keyClick(field, Qt::Key_Left);
        QCOMPARE(rig.recorder.snippets(Page::Main), QStringList{"media.previousSentence();"});
    }
    qApp->removeEventFilter(&filter);
}

// Guards against a volume key that nobody accepts acting again for every parent
// it is passed up to (the window system's delivery adds the window's turn).
void TestVideoSurface::aKeyPassedUpToParentsActsOnce() {
    Rig rig;
    rig.startVideo();
    VideoEventFilter filter(rig.bridge->practice(), rig.bridge);
    qApp->installEventFilter(&filter);
    QWidget outer; // plain widgets ignore keys, so a key goes up from inner to outer
    auto* inner = new QWidget(&outer);
    inner->setFocusPolicy(Qt::StrongFocus);
    outer.show();
    outer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&outer));
    inner->setFocus();

    rig.player->currentVolume = 50;
    QTest::keyClick(inner, Qt::Key_Down);
    QCOMPARE(rig.player->currentVolume, 45);
    QTest::keyClick(inner, Qt::Key_Down); // the next press is a press of its own
    QCOMPARE(rig.player->currentVolume, 40);
    QTest::keyClick(outer.windowHandle(), Qt::Key_Up);
    QCOMPARE(rig.player->currentVolume, 45);
    qApp->removeEventFilter(&filter);
}

// Guards against double clicks that un-maximise the window and never reach the
// pages: only the video surface and full screen take them.
void TestVideoSurface::doubleClickTogglesFullScreenOnTheVideoOnly() {
    Rig rig;
    rig.startVideo();
    VideoEventFilter filter(rig.bridge->practice(), rig.bridge);
    qApp->installEventFilter(&filter);
    Target target;
    rig.window->showMaximized();
    QTRY_VERIFY(rig.window->isMaximized());
    QTest::mouseDClick(&target, Qt::LeftButton);
    QCOMPARE(target.doubleClicks, 1);
    QVERIFY(rig.window->isMaximized());

    QTest::mouseDClick(rig.player_widget(), Qt::LeftButton);
    QVERIFY(rig.window->isFullScreen());
    QTest::mouseDClick(&target, Qt::LeftButton); // in full screen, anywhere
    QVERIFY(!rig.window->isFullScreen());
    QCOMPARE(target.doubleClicks, 1);
    qApp->removeEventFilter(&filter);
}

void TestVideoSurface::contextMenuItems() {
    Rig rig;
    rig.startVideo();
    VideoEventFilter filter(rig.bridge->practice(), rig.bridge);
    qApp->installEventFilter(&filter);
    // A right click elsewhere brings no video menu; over the video it does.
    Target target;
    QContextMenuEvent elsewhere(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(&target, &elsewhere);
    QVERIFY(!filter.contextMenu());
    QContextMenuEvent overVideo(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(rig.player_widget(), &overVideo);
    qApp->removeEventFilter(&filter);
    QMenu* menu = filter.contextMenu();
    QVERIFY(menu);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
    QStringList labels;
    for (QAction* a : menu->actions())
        labels << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(labels,
             (QStringList{"全屏显示", "退出全屏 (ESC)", "播放 / 暂停 (Space)", "-", "上一句 (←)", "下一句 (→)"}));
    filter.showMenu(QPoint(6, 6));
    QCOMPARE(filter.contextMenu(), menu); // built once
    menu->hide();

    // "全屏显示" enters full screen, the next item leaves it.
    menu->actions().at(0)->trigger();
    QVERIFY(rig.window->isFullScreen());
    menu->actions().at(1)->trigger();
    QVERIFY(!rig.window->isFullScreen());

    // The menu's pause asks the page, by the player's state.
    rig.recorder.clear();
    rig.player->line.pausedReported(true);
    filter.pause();
    rig.player->line.pausedReported(false);
    filter.pause();
    QCOMPARE(rig.recorder.snippets(Page::Main), (QStringList{"media.play(0, true);", "media.pause();"}));
}

void TestVideoSurface::paraSetStateRoutesByPageMode_data() {
    QTest::addColumn<QString>("pageMode");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("snippet");
    QTest::newRow("pause online") << "online"
                                  << "play"
                                  << "pause" << int(Page::Main) << "media.play(0, true);";
    QTest::newRow("pause local") << "local"
                                 << "play"
                                 << "pause" << int(Page::Data) << "media.play(0, true);";
    QTest::newRow("next") << "online"
                          << "play"
                          << "next" << int(Page::Main) << "media.next();";
    QTest::newRow("pre") << "online"
                         << "play"
                         << "pre" << int(Page::Main) << "media.pre();";
    QTest::newRow("play") << "online"
                          << "play"
                          << "play" << int(Page::Main) << "media.pause();";
    QTest::newRow("translate") << "online"
                               << "translateState"
                               << "x" << int(Page::Main) << "media.translateControl();";
    QTest::newRow("repeat") << "online"
                            << "repeatState"
                            << "" << int(Page::Main) << "media.repeatControl();";
    QTest::newRow("mode") << "online"
                          << "modeState"
                          << "" << int(Page::Main) << "media.modeControl();";
    QTest::newRow("desktop, no semicolon") << "online"
                                           << "desktopState"
                                           << "" << int(Page::Main) << "media.desktopControl()";
}

void TestVideoSurface::paraSetStateRoutesByPageMode() {
    QFETCH(QString, pageMode);
    QFETCH(QString, type);
    QFETCH(QString, state);
    QFETCH(int, page);
    QFETCH(QString, snippet);
    TestSupport::ScriptRecorder recorder;
    WebApi bridge(BridgeContext::create(), nullptr);
    bridge.setPageMode(pageMode);
    bridge.paraSetState(type, state);
    QCOMPARE(recorder.calls.size(), 1);
    QCOMPARE(int(recorder.calls.first().page), page);
    QCOMPARE(recorder.calls.first().snippet, snippet);
}

void TestVideoSurface::desktopStateShowsAndHides_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("visible");
    QTest::newRow("on") << "desktopOn" << true;
    QTest::newRow("off") << "desktopOff" << false;
    QTest::newRow("just off") << "off" << false;
    QTest::newRow("both: shown then hidden") << "desktopOn,off" << false;
}

void TestVideoSurface::desktopStateShowsAndHides() {
    QFETCH(QString, state);
    QFETCH(bool, visible);
    Rig rig;
    Paragraph* paragraph = rig.window->paragraphWindow();
    paragraph->setVisible(!visible);
    rig.bridge->setDesktopState(state);
    QCOMPARE(paragraph->isVisible(), visible);
}

void TestVideoSurface::paragraphTextAndSubtitles() {
    Rig rig;
    rig.bridge->setParagaraph("sentence", "skipped before a player exists");
    rig.startVideo();
    rig.recorder.clear();
    rig.bridge->setParagaraph("dictation", "Es======s gut");
    rig.bridge->setParagaraph("trans", "{\"chinese\":\"好\"}");
    rig.bridge->setParagaraph("fillword", "f");
    rig.bridge->setParagaraph("choised", "c");
    rig.bridge->setParagaraph("other", "o");
    QCOMPARE(rig.recorder.snippets(Page::Paragraph),
             (QStringList{"paragraph.setParagraph('Es======s gut');",
                          "paragraph.setDictTrans('{\\\"chinese\\\":\\\"好\\\"}');", "paragraph.setFillword('f');",
                          "paragraph.setChoised('c');", ""}));
    QCOMPARE(rig.player->sentence, QString("Es======s gut"));
    QCOMPARE(rig.player->translation, QString("{\"chinese\":\"好\"}"));
}

void TestVideoSurface::volumeIsStoredInTheDataPage() {
    Rig rig;
    rig.bridge->setVolume(40); // before a player: stored all the same
    QCOMPARE(rig.recorder.snippets(Page::Data).last(), QString("setData('volume', '40');"));
    rig.startVideo();
    rig.bridge->setVolume(60);
    QCOMPARE(rig.player->currentVolume, 60);
    QCOMPARE(rig.bridge->volume(), 60);
}

void TestVideoSurface::fmIdPlaysTheSignedMediaUrl() {
    // Guards against the article's audio being played from an unsigned or unresolved URL.
    Rig rig;
    QString asked;
    rig.bridge->practice()->resolveOnline = [&](const QString& url, std::function<void(const QString&)> done) {
        asked = url;
        done("http://127.0.0.1:8780/files/a1.mp3");
    };
    rig.bridge->setFmId("a1");
    QVERIFY(asked.startsWith("http://127.0.0.1:8780/api/v3/media/mp3/a1?agent=/kendro_vorb_de_desktop/3.3.1/"));
    QVERIFY(asked.contains("&token=QYN "));
    QCOMPARE(rig.player->calls.filter("load "), QStringList{"load http://127.0.0.1:8780/files/a1.mp3"});
    QVERIFY(rig.bridge->practice()->sentences().isEmpty());
    QVERIFY(!rig.bridge->practice()->isVideo());
}

QTEST_MAIN(TestVideoSurface)
#include "tst_videosurface.moc"
