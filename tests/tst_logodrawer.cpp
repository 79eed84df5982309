// The idle surface: logo placement, fallbacks and what actually gets painted.
#include "player/logodrawer.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QOpenGLWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class PaintedSurface : public QOpenGLWidget {
public:
    LogoDrawer drawer;

protected:
    void paintGL() override { drawer.paint(this); }
};

class TestLogoDrawer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placement_data();
    void placement();
    void emptyPathLoadsTheDefault();
    void unreadableLogoLeavesColourOnly();
    void invalidColourFallsBackToBlack();
    void paintsColourAndLogo();

private:
    QString logoFile(int w, int h, const QColor& colour = Qt::red);
    QTemporaryDir dir;
};

void TestLogoDrawer::initTestCase() {
    TestSupport::useCleanDataDirectory();
    QVERIFY(dir.isValid());
}

QString TestLogoDrawer::logoFile(int w, int h, const QColor& colour) {
    const QString path = dir.filePath(QStringLiteral("logo-%1x%2.png").arg(w).arg(h));
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path);
    return path;
}

void TestLogoDrawer::placement_data() {
    // Expected rectangle in surface pixels, origin in the centre.
    QTest::addColumn<QSize>("logo");
    QTest::addColumn<QSize>("surface");
    QTest::addColumn<QRectF>("pixels");
    QTest::newRow("fits, same parity") << QSize(100, 50) << QSize(200, 100) << QRectF(-50, -25, 100, 50);
    QTest::newRow("odd width: half-pixel shift") << QSize(100, 50) << QSize(101, 50) << QRectF(-49.5, -25, 100, 50);
    QTest::newRow("odd height: half-pixel shift") << QSize(100, 50) << QSize(100, 51) << QRectF(-50, -24.5, 100, 50);
    QTest::newRow("too wide: shrunk, centred") << QSize(400, 300) << QSize(200, 300) << QRectF(-100, -75, 200, 150);
    QTest::newRow("too tall: shrunk, centred") << QSize(100, 400) << QSize(300, 200) << QRectF(-25, -100, 50, 200);
}

void TestLogoDrawer::placement() {
    // Guards against a blurred (off-pixel), distorted or overflowing logo.
    QFETCH(QSize, logo);
    QFETCH(QSize, surface);
    QFETCH(QRectF, pixels);
    LogoDrawer drawer;
    drawer.setLogoFile(logoFile(logo.width(), logo.height()));
    drawer.resize(surface.width(), surface.height());
    const QRectF r = drawer.logoRectangle();
    const QRectF got(r.x() * surface.width() / 2, r.y() * surface.height() / 2, r.width() * surface.width() / 2,
                     r.height() * surface.height() / 2);
    QVERIFY2(
        qAbs(got.x() - pixels.x()) < 1e-6 && qAbs(got.y() - pixels.y()) < 1e-6 &&
            qAbs(got.width() - pixels.width()) < 1e-6 && qAbs(got.height() - pixels.height()) < 1e-6,
        qPrintable(QStringLiteral("got %1,%2 %3x%4").arg(got.x()).arg(got.y()).arg(got.width()).arg(got.height())));
}

void TestLogoDrawer::emptyPathLoadsTheDefault() {
    // Guards against an empty path leaving the previous logo in place.
    LogoDrawer drawer;
    QSignalSpy sizes(&drawer, &LogoDrawer::logoSize);
    drawer.setLogoFile(logoFile(10, 20));
    QCOMPARE(sizes.last().first().toSize(), QSize(10, 20));
    drawer.setLogoFile(QString());
    QCOMPARE(drawer.path(), LogoDrawer::defaultLogoPath);
    // The default image is not shipped: the surface is the colour alone.
    QVERIFY(drawer.image().isNull());
    QVERIFY(sizes.last().first().toSize().isEmpty());
}

void TestLogoDrawer::unreadableLogoLeavesColourOnly() {
    LogoDrawer drawer;
    drawer.setLogoFile(dir.filePath(QStringLiteral("missing.png")));
    QVERIFY(drawer.image().isNull());
    drawer.resize(100, 100);
    QVERIFY(drawer.logoRectangle().isEmpty());
}

void TestLogoDrawer::invalidColourFallsBackToBlack() {
    LogoDrawer drawer;
    drawer.setBackgroundColor(QColor(10, 20, 30));
    QCOMPARE(drawer.background(), QColor(10, 20, 30));
    drawer.setBackgroundColor(QColor());
    QCOMPARE(drawer.background(), QColor(0, 0, 0, 255));
}

void TestLogoDrawer::paintsColourAndLogo() {
    // Guards against the painter window mapping the logo to the wrong place or not filling the surface.
    PaintedSurface surface;
    surface.resize(200, 100);
    surface.drawer.setBackgroundColor(Qt::blue);
    surface.drawer.setLogoFile(logoFile(40, 20, Qt::green));
    surface.drawer.resize(200, 100);
    const QImage frame = surface.grabFramebuffer();
    QCOMPARE(frame.size(), QSize(200, 100));
    QCOMPARE(QColor(frame.pixel(2, 2)), QColor(Qt::blue));
    QCOMPARE(QColor(frame.pixel(197, 97)), QColor(Qt::blue));
    QCOMPARE(QColor(frame.pixel(100, 50)), QColor(Qt::green));
    QCOMPARE(QColor(frame.pixel(81, 41)), QColor(Qt::green)); // logo spans x 80..119, y 40..59
    QCOMPARE(QColor(frame.pixel(78, 50)), QColor(Qt::blue));
    QCOMPARE(QColor(frame.pixel(121, 50)), QColor(Qt::blue));
}

TAVROLIN_MEDIA_TEST_MAIN(TestLogoDrawer)
#include "tst_logodrawer.moc"
