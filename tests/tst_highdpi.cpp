// The video surface on scaled screens (CTest runs this on screens of 96, 120,
// 144 and 192 DPI, as a desktop at 100 %, 125 %, 150 % and 200 % reports them):
// the program scales by the factor as it is, the idle surface and the video
// fill their whole frame in device pixels, and the surface lies exactly over
// the page's video frame, windowed and full screen.
#include "app/application.h"
#include "app/mainwindow.h"
#include "app/webview.h"
#include "bridge/webapi.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "player/mpvwidget.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>

#include <memory>

namespace {

// Where the picture lies in a grab: the pixels clearly brighter than the black
// around it (the test video has no black edge of its own but for its left bar,
// which the colour band below it crosses).
QRect pictureIn(const QImage& image) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(line[x]) + qGreen(line[x]) + qBlue(line[x]) > 120) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Whether a 4:3 picture fills a frame of `size` device pixels as far as its
// shape allows: edge to edge on one axis and centred on the other, give or take
// the rounding of a scaled pixel.
bool fillsFrame(const QRect& picture, const QSize& size) {
    auto near = [](double a, double b) { return std::abs(a - b) <= 2.0; };
    const double width = std::min<double>(size.width(), size.height() * 4.0 / 3.0);
    const double height = std::min<double>(size.height(), size.width() * 3.0 / 4.0);
    return near(picture.width(), width) && near(picture.height(), height) &&
           near(picture.center().x(), (size.width() - 1) / 2.0) &&
           near(picture.center().y(), (size.height() - 1) / 2.0);
}

QString describe(const QRect& picture, const QImage& grab) {
    return QStringLiteral("picture %1,%2 %3x%4 in a %5x%6 grab")
        .arg(picture.x())
        .arg(picture.y())
        .arg(picture.width())
        .arg(picture.height())
        .arg(grab.width())
        .arg(grab.height());
}

} // namespace

class TestHighDpi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { TestSupport::deleteTopLevelWindows(); }
    void idleSurfaceFillsItsFrameAndCentresTheLogo();
    void videoFillsTheFrame();
    void surfaceLiesOverThePageFrameWindowedAndFullScreen();

private:
    double scale = 1.0;
};

void TestHighDpi::initTestCase() {
    TAVROLIN_REQUIRE_AUDIO();
    TestSupport::useCleanDataDirectory();
    QVERIFY2(!TestSupport::testVideoFile().isEmpty(), "ffmpeg could not make the test video");
    // The screen's DPI against the 96 of a screen at 100 %.
    if (qEnvironmentVariableIsSet("QT_FONT_DPI"))
        scale = qEnvironmentVariableIntValue("QT_FONT_DPI") / 96.0;
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        scale *= qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
    // Scaled, by the factor as it is rather than rounded to a whole one.
    QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), scale);
}

void TestHighDpi::idleSurfaceFillsItsFrameAndCentresTheLogo() {
    // Guards against the idle surface painting its logo off centre or scaled when the pixel ratio is not 1.
    QTemporaryDir dir;
    const QString logo = dir.filePath("logo.png");
    QFile file(logo);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(TestSupport::pngBytes(40, 20, Qt::green)) > 0);
    file.close();

    MpvWidget surface(nullptr);
    surface.resize(400, 300);
    surface.show();
    QVERIFY(QTest::qWaitForWindowExposed(&surface));
    surface.setLogoColor(QColor(40, 90, 220));
    surface.setLogoFile(logo);
    const QImage grab = surface.grabFramebuffer();
    QCOMPARE(grab.size(), QSize(400, 300) * scale);
    for (const QPoint& p : {QPoint(0, 0), QPoint(grab.width() - 1, 0), QPoint(0, grab.height() - 1),
                            QPoint(grab.width() - 1, grab.height() - 1)})
        QCOMPARE(grab.pixelColor(p), QColor(40, 90, 220));
    // The logo pixel for pixel on the screen, in the middle.
    QRect green;
    for (int y = 0; y < grab.height(); ++y)
        for (int x = 0; x < grab.width(); ++x)
            if (grab.pixelColor(x, y).green() > 200 && grab.pixelColor(x, y).blue() < 100)
                green |= QRect(x, y, 1, 1);
    QCOMPARE(green.size(), QSize(40, 20));
    QVERIFY2(std::abs(green.center().x() - grab.width() / 2) <= 1 &&
                 std::abs(green.center().y() - grab.height() / 2) <= 1,
             qPrintable(QString("logo at %1,%2").arg(green.x()).arg(green.y())));
}

void TestHighDpi::videoFillsTheFrame() {
    // Guards against the video drawn into a corner of its frame at a fractional pixel ratio.
    QWidget window;
    window.resize(600, 400);
    MpvWidget surface(&window);
    surface.setGeometry(10, 10, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    surface.setOptionBlocking("loop-file", "inf");
    surface.openFile(TestSupport::testVideoFile());
    QImage grab;
    QRect picture;
    QTRY_VERIFY2_WITH_TIMEOUT(fillsFrame(picture = pictureIn(grab = surface.grabFramebuffer()), grab.size()),
                              qPrintable(describe(picture, grab)), 10000);
    QCOMPARE(grab.size(), QSize(400, 300) * scale);

    // Wider than the picture: the full height, centred across.
    surface.resize(480, 270);
    QTRY_VERIFY2((grab = surface.grabFramebuffer()).size() == QSize(480, 270) * scale &&
                     fillsFrame(picture = pictureIn(grab), grab.size()),
                 qPrintable(describe(picture, grab)));
}

void TestHighDpi::surfaceLiesOverThePageFrameWindowedAndFullScreen() {
    // Guards against the main window not fitting a scaled screen, the surface lying beside the page's video
    // frame, or the surface not covering the window in full screen.
    auto window = std::make_unique<MainWindow>(nullptr);
    // On first use the window is fitted onto the scaled screen, frame included, and
    // its minimum size lets it stay there (1920 x 1080 at 200 % is 960 x 540).
    const QRect available = window->screen()->availableGeometry();
    QTRY_VERIFY(window->frameGeometry().size() != window->size());
    QTRY_VERIFY(available.contains(window->frameGeometry()));
    const QSize framed = window->minimumSize() + window->frameGeometry().size() - window->size();
    QCOMPARE(framed.boundedTo(available.size()), framed);
    QWebFrame* page = window->view()->page()->mainFrame();
    // Inside the application directory, where pages of the main view belong.
    window->view()->load(TestSupport::appPageUrl("pages/videoframe.html"));
    QTRY_COMPARE(page->evaluateJavaScript("typeof media").toString(), QString("object"));
    WebApi* bridge = window->bridge();
    bridge->initPlay(TestSupport::testVideoFile(), "local", {0, 1000}, "4");
    auto* player = static_cast<ObDataBase::PlayManager*>(bridge->practice()->player());
    QVERIFY(player);
    MpvWidget* video = player->videoWidget();
    video->setPropertyBlocking("loop-file", "inf");

    const QRect frame(37, 53, 400, 300);
    QCOMPARE(page->evaluateJavaScript("media.showVideoFrame()").toString(), QString("37,53,400,300"));
    QTRY_COMPARE(video->geometry(), frame);
    QCOMPARE(video->parentWidget()->mapTo(window.get(), video->pos()),
             window->view()->mapTo(window.get(), frame.topLeft()));
    QImage grab;
    QRect picture;
    QTRY_VERIFY2_WITH_TIMEOUT(fillsFrame(picture = pictureIn(grab = video->grabFramebuffer()), grab.size()),
                              qPrintable(describe(picture, grab)), 10000);
    QCOMPARE(grab.size(), frame.size() * scale);

    bridge->setVideoFullscreen(QString());
    QTRY_VERIFY(window->isFullScreen());
    QTRY_COMPARE(window->size(), window->screen()->geometry().size());
    QTRY_COMPARE(video->geometry(), QRect(QPoint(0, 0), window->size()));
    QTRY_VERIFY2((grab = video->grabFramebuffer()).size() == window->size() * scale &&
                     fillsFrame(picture = pictureIn(grab), grab.size()),
                 qPrintable(describe(picture, grab)));

    bridge->exitVideoFullscreen();
    QTRY_VERIFY(!window->isFullScreen());
    QTRY_COMPARE(video->geometry(), frame);
    bridge->cancelPlay();
}

int main(int argc, char** argv) {
    // The program's own application object: its high-DPI set-up is part of what is tested.
    Application app(argc, argv);
    TestHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
