// The desktop paragraph window: drag requests from its page, moving with the
// mouse, and the geometry kept in Component_Rect.
#include "app/paragraph.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QMouseEvent>
#include <QSettings>
#include <QTest>
#include <QWebView>

namespace {

QRect storedRect() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::ComponentRect).toRect();
}

// A mouse event at a screen position, as the window system would deliver it.
void mouse(QWidget* target, QEvent::Type type, const QPoint& global, Qt::MouseButtons buttons) {
    QMouseEvent event(type, target->mapFromGlobal(global), global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestParagraph : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::useCleanDataDirectory(); }
    void startThenEndWithoutAMoveClearsTheFlag();
    void draggingMovesTheWindowAndSavesItsGeometry();
    void aMoveWithoutADragRequestIsSavedWhenItSettles();
    void dragStateFromOtherPagesDoesNothing();
};

void TestParagraph::startThenEndWithoutAMoveClearsTheFlag() {
    // Guards against a flag left set, after which every mouse move would drag the window.
    Paragraph paragraph(nullptr);
    auto* bridge = paragraph.view()->findChild<WebApi*>();
    QVERIFY(bridge);
    bridge->setDragState("start");
    QVERIFY(paragraph.dragging());
    bridge->setDragState("end");
    QVERIFY(!paragraph.dragging());
    QCOMPARE(storedRect(), paragraph.geometry());
    bridge->setDragState("sideways");
    QVERIFY(!paragraph.dragging());
}

void TestParagraph::draggingMovesTheWindowAndSavesItsGeometry() {
    Paragraph paragraph(nullptr);
    paragraph.setGeometry(100, 100, 800, 200);
    paragraph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paragraph));
    QWebView* view = paragraph.view();

    // Without a drag request the mouse belongs to the page.
    mouse(view, QEvent::MouseButtonPress, QPoint(110, 110), Qt::LeftButton);
    mouse(view, QEvent::MouseMove, QPoint(160, 140), Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, QPoint(160, 140), Qt::NoButton);
    QCOMPARE(paragraph.pos(), QPoint(100, 100));

    mouse(view, QEvent::MouseButtonPress, QPoint(110, 110), Qt::LeftButton);
    paragraph.enableDrag(); // the page asks on its mousedown
    mouse(view, QEvent::MouseMove, QPoint(160, 140), Qt::LeftButton);
    mouse(view, QEvent::MouseMove, QPoint(180, 150), Qt::LeftButton);
    QTRY_COMPARE(paragraph.pos(), QPoint(170, 140));
    mouse(view, QEvent::MouseButtonRelease, QPoint(180, 150), Qt::NoButton);
    QVERIFY(!paragraph.dragging());
    QCOMPARE(storedRect().topLeft(), QPoint(170, 140));

    // A second drag needs a new request.
    mouse(view, QEvent::MouseButtonPress, QPoint(180, 150), Qt::LeftButton);
    mouse(view, QEvent::MouseMove, QPoint(250, 250), Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, QPoint(250, 250), Qt::NoButton);
    QCOMPARE(paragraph.pos(), QPoint(170, 140));
}

void TestParagraph::aMoveWithoutADragRequestIsSavedWhenItSettles() {
    Paragraph paragraph(nullptr);
    paragraph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paragraph));
    paragraph.move(321, 123);
    QTRY_COMPARE(storedRect().topLeft(), QPoint(321, 123));
    paragraph.resize(700, 150);
    QTRY_COMPARE(storedRect().size(), QSize(700, 150));
}

void TestParagraph::dragStateFromOtherPagesDoesNothing() {
    QWidget host;
    auto* view = new QWebView(&host);
    WebApi bridge(view);
    bridge.setDragState("start"); // its grandparent is no paragraph window
    bridge.setDragState("end");
    QVERIFY(storedRect().isNull());
}

QTEST_MAIN(TestParagraph)
#include "tst_paragraph.moc"
