// The central layout: fixed size hints, safe indexing, and who places what.
#include "app/vorblayout.h"

#include <QTest>
#include <QWidget>

class TestVorbLayout : public QObject {
    Q_OBJECT

private slots:
    void emptyLayoutSizesAndIndexing();
    void firstItemGetsTheWholeRectangle();
    void secondItemIsLeftToTheBridge();
    void destructorDeletesItems();
};

void TestVorbLayout::emptyLayoutSizesAndIndexing() {
    // Guards against out-of-range access crashing or removing an item.
    VorbLayout layout(nullptr);
    QCOMPARE(layout.sizeHint(), QSize(600, 400));
    QCOMPARE(layout.minimumSize(), QSize(600, 400));
    QVERIFY(!layout.itemAt(-1));
    QVERIFY(!layout.itemAt(0));
    QVERIFY(!layout.takeAt(-1));
    QVERIFY(!layout.takeAt(0));

    QWidget host;
    auto* l = new VorbLayout(nullptr);
    host.setLayout(l);
    auto* page = new QWidget;
    l->addWidget(page);
    QCOMPARE(l->count(), 1);
    QVERIFY(!l->itemAt(1));
    QVERIFY(!l->takeAt(1));
    QVERIFY(!l->takeAt(-1));
    QCOMPARE(l->count(), 1);
    QCOMPARE(l->sizeHint(), QSize(600, 400));
}

void TestVorbLayout::firstItemGetsTheWholeRectangle() {
    QWidget host;
    auto* l = new VorbLayout(nullptr);
    host.setLayout(l);
    auto* page = new QWidget;
    l->addWidget(page);
    l->setGeometry(QRect(0, 0, 777, 555));
    QCOMPARE(page->geometry(), QRect(0, 0, 777, 555));
    l->setGeometry(QRect(3, 4, 320, 200));
    QCOMPARE(page->geometry(), QRect(3, 4, 320, 200));
}

void TestVorbLayout::secondItemIsLeftToTheBridge() {
    // Without a placement callback the video item stays where it is; with one the
    // layout still never places it itself, it asks once per pass.
    for (bool withBridge : {false, true}) {
        QWidget host;
        int placements = 0;
        auto* l = new VorbLayout(withBridge ? std::function<void()>([&placements] { ++placements; }) : nullptr);
        host.setLayout(l);
        auto* page = new QWidget;
        auto* video = new QWidget;
        l->addWidget(page);
        l->addWidget(video);
        video->setGeometry(10, 20, 30, 40);
        placements = 0;
        l->setGeometry(QRect(0, 0, 800, 600));
        QCOMPARE(page->geometry(), QRect(0, 0, 800, 600));
        QCOMPARE(video->geometry(), QRect(10, 20, 30, 40));
        QCOMPARE(placements, withBridge ? 1 : 0);
    }
}

void TestVorbLayout::destructorDeletesItems() {
    auto* l = new VorbLayout(nullptr);
    auto* spacer = new QSpacerItem(1, 1);
    l->addItem(spacer);
    l->addItem(new QSpacerItem(2, 2));
    QCOMPARE(l->count(), 2);
    QCOMPARE(l->takeAt(0), static_cast<QLayoutItem*>(spacer));
    delete spacer;
    delete l; // the remaining item goes with the layout (valgrind/ASan would flag a leak or double delete)
}

QTEST_MAIN(TestVorbLayout)
#include "tst_vorblayout.moc"
