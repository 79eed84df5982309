// The desktop paragraph window: drag requests from its page, moving with the
// mouse (real pointer input, under the window manager), the page filling the
// window, and the geometry kept in Component_Rect.
#include "app/paragraph.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>

// Last: Xlib's macros (None, Bool, ...) would clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

QRect storedRect() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::ComponentRect).toRect();
}

// The pointer as the X server moves it, so that the window system and the window
// manager see the drag as they see a user's.
class Pointer {
public:
    Pointer() : display(XOpenDisplay(nullptr)) {}
    ~Pointer() {
        if (!display)
            return;
        release();
        XCloseDisplay(display);
    }
    bool available() const { return display; }
    void moveTo(const QPoint& p) {
        XTestFakeMotionEvent(display, -1, p.x(), p.y(), CurrentTime);
        XFlush(display);
    }
    void press() { button(true); }
    void release() { button(false); }
    void click(const QPoint& p) {
        moveTo(p);
        press();
        release();
    }
    // Keys as a keyboard types them: they reach the window that has the X input focus.
    void type(const QList<KeySym>& keys) {
        for (KeySym key : keys)
            for (bool down : {true, false})
                XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), down, CurrentTime);
        XFlush(display);
    }

private:
    void button(bool down) {
        XTestFakeButtonEvent(display, 1, down, CurrentTime);
        XFlush(display);
    }
    Display* display;
};

} // namespace

class TestParagraph : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::useCleanDataDirectory(); }
    void startThenEndWithoutAMoveClearsTheFlag();
    void draggingMovesTheWindowAndSavesItsGeometry();
    void theViewFillsTheWindow();
    void aMoveWithoutADragRequestIsSavedWhenItSettles();
    void dragStateFromOtherPagesDoesNothing();
    void aClickTakesTheKeyboardAndLeavingGivesItBack();
};

void TestParagraph::startThenEndWithoutAMoveClearsTheFlag() {
    // Guards against a flag left set, after which every mouse move would drag the window.
    Paragraph paragraph(BridgeContext::create(), nullptr);
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
    // Guards against a drag handed to a window manager that ignores it (the window bypasses it):
    // the window must follow the mouse itself. Run under the test command's window manager.
    Pointer pointer;
    QVERIFY2(pointer.available(), "no X display");
    Paragraph paragraph(BridgeContext::create(), nullptr);
    paragraph.setGeometry(100, 100, 800, 200);
    paragraph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paragraph));

    // Without a drag request the mouse belongs to the page.
    pointer.moveTo(QPoint(110, 110));
    pointer.press();
    QTRY_VERIFY(QGuiApplication::mouseButtons() & Qt::LeftButton);
    pointer.moveTo(QPoint(160, 140));
    pointer.release();
    QTRY_VERIFY(!(QGuiApplication::mouseButtons() & Qt::LeftButton));
    QCOMPARE(paragraph.pos(), QPoint(100, 100));

    pointer.moveTo(QPoint(110, 110));
    pointer.press();
    QTRY_VERIFY(QGuiApplication::mouseButtons() & Qt::LeftButton);
    paragraph.enableDrag(); // the page asks on its mousedown
    pointer.moveTo(QPoint(160, 140));
    pointer.moveTo(QPoint(180, 150));
    QTRY_COMPARE(paragraph.pos(), QPoint(170, 140));
    pointer.release();
    QTRY_VERIFY(!paragraph.dragging());
    QCOMPARE(storedRect(), QRect(170, 140, 800, 200));

    // A second drag needs a new request.
    pointer.press();
    QTRY_VERIFY(QGuiApplication::mouseButtons() & Qt::LeftButton);
    pointer.moveTo(QPoint(250, 250));
    pointer.release();
    QTRY_VERIFY(!(QGuiApplication::mouseButtons() & Qt::LeftButton));
    QCOMPARE(paragraph.pos(), QPoint(170, 140));
}

void TestParagraph::theViewFillsTheWindow() {
    // Guards against the page keeping its own size, cut off by (or short of) its window.
    Paragraph paragraph(BridgeContext::create(), nullptr);
    paragraph.setGeometry(100, 100, 800, 500);
    paragraph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paragraph));
    QCOMPARE(paragraph.view()->geometry(), QRect(0, 0, 800, 500));
    paragraph.resize(640, 120);
    QTRY_COMPARE(paragraph.view()->geometry(), QRect(0, 0, 640, 120));
}

void TestParagraph::aMoveWithoutADragRequestIsSavedWhenItSettles() {
    Paragraph paragraph(BridgeContext::create(), nullptr);
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
    WebApi bridge(BridgeContext::create(), view);
    bridge.setDragState("start"); // its grandparent is no paragraph window
    bridge.setDragState("end");
    QVERIFY(storedRect().isNull());
}

void TestParagraph::aClickTakesTheKeyboardAndLeavingGivesItBack() {
    // Guards against a window that never gets the keyboard (it bypasses the window manager): the
    // missing word typed there went to the main window, whose focused button Enter pressed.
    Pointer input;
    QVERIFY2(input.available(), "no X display");
    QWidget main;
    main.setGeometry(100, 400, 400, 200);
    auto* button = new QPushButton("Desktop-Fenster", &main);
    int pressed = 0;
    connect(button, &QPushButton::clicked, [&] { ++pressed; });
    main.show();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    button->setFocus();

    QVERIFY(TestSupport::installPages(1, 2));
    TestSupport::ScriptRecorder recorder;
    Paragraph paragraph(BridgeContext::create(), nullptr);
    paragraph.setGeometry(100, 100, 600, 160);
    paragraph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paragraph));
    QWebFrame* page = paragraph.view()->page()->mainFrame();
    QTRY_VERIFY(page->evaluateJavaScript("typeof paragraph").toString() == "object");
    page->evaluateJavaScript("paragraph.setFillword('Er {{sagt}} es.')");
    QRect gap;
    QTRY_VERIFY(!(gap = page->findFirstElement("input.gap").geometry()).isEmpty());

    // The X server counts device pixels (on a screen at 150 % too).
    const qreal scale = paragraph.devicePixelRatioF();
    input.click(paragraph.view()->mapToGlobal(gap.center()) * scale);
    QTRY_VERIFY(paragraph.isActiveWindow());
    QTRY_COMPARE(page->evaluateJavaScript("document.activeElement.className").toString(), QString("gap"));
    input.type({XK_s, XK_a, XK_g, XK_t, XK_Return});
    QTRY_VERIFY(recorder.snippets(PageScript::Page::Main).contains("article.paragraphFillwordSuccess();"));
    QCOMPARE(page->findFirstElement(".solved").toPlainText(), QString("sagt"));
    QCOMPARE(pressed, 0);

    // Out of the window: the keyboard is the main window's again.
    input.moveTo(QPoint(300, 500) * scale);
    QTRY_VERIFY(main.isActiveWindow());
    input.type({XK_space});
    QTRY_COMPARE(pressed, 1);
}

QTEST_MAIN(TestParagraph)
#include "tst_paragraph.moc"
