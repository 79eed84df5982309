// Snippet building: placeholders, escaping and the frame registers.
#include "bridge/pagescript.h"

#include <QTest>
#include <QWebFrame>
#include <QWebPage>

using PageScript::Page;

class TestPageScript : public QObject {
    Q_OBJECT

private slots:
    void ordinaryValuesGiveTheTemplateText();
    void escapesEverythingThatCouldEndTheLiteral_data();
    void escapesEverythingThatCouldEndTheLiteral();
    void placeholdersInsideValuesAreNotExpanded();
    void missingPageIsSkipped();
    void registersFollowTheFrameLifetime();
};

void TestPageScript::ordinaryValuesGiveTheTemplateText() {
    // Guards against escaping that changes ordinary values the pages compare.
    QCOMPARE(PageScript::build("setData('%1', '%2');", {"volume", 80}), QString("setData('volume', '80');"));
    QCOMPARE(PageScript::build("media.highlight('%1');", {-1}), QString("media.highlight('-1');"));
    QCOMPARE(PageScript::build("a('%1');b('%1');", {QString("x y_z.1-ä")}), QString("a('x y_z.1-ä');b('x y_z.1-ä');"));
    QCOMPARE(PageScript::build("media.setFillwordState(true);"), QString("media.setFillwordState(true);"));
}

void TestPageScript::escapesEverythingThatCouldEndTheLiteral_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("single quote") << "it's"
                                  << "it\\'s";
    QTest::newRow("double quote") << "\"q\""
                                  << "\\\"q\\\"";
    QTest::newRow("backslash") << "a\\b"
                               << "a\\\\b";
    QTest::newRow("CR LF") << "a\r\nb"
                           << "a\\r\\nb";
    QTest::newRow("line separator") << QString(QChar(0x2028)) << "\\u2028";
    QTest::newRow("paragraph separator") << QString(QChar(0x2029)) << "\\u2029";
    QTest::newRow("NUL") << QString(QChar(0)) << "\\u0000";
}

void TestPageScript::escapesEverythingThatCouldEndTheLiteral() {
    QFETCH(QString, value);
    QFETCH(QString, escaped);
    QCOMPARE(PageScript::escape(value), escaped);

    // And the engine reads the escaped literal back as the original text.
    QWebPage page;
    const QVariant back = page.mainFrame()->evaluateJavaScript(PageScript::build("'%1'", {value}));
    QCOMPARE(back.toString(), value);
}

void TestPageScript::placeholdersInsideValuesAreNotExpanded() {
    QCOMPARE(PageScript::build("f('%1', '%2');", {"%2", "b"}), QString("f('%2', 'b');"));
}

void TestPageScript::missingPageIsSkipped() {
    PageFrames pages;
    pages.setFrame(Page::Paragraph, nullptr);
    QVERIFY(!pages.evaluate(Page::Paragraph, "1+1").isValid());
}

void TestPageScript::registersFollowTheFrameLifetime() {
    PageFrames pages;
    auto* page = new QWebPage;
    pages.setFrame(Page::Data, page->mainFrame());
    QCOMPARE(pages.pageOf(page->mainFrame()), Page::Data);
    QCOMPARE(pages.evaluate(Page::Data, "6*7").toInt(), 42);
    delete page;
    // A destroyed page must not be evaluated in (it would crash).
    QVERIFY(!pages.frame(Page::Data));
    QVERIFY(!pages.evaluate(Page::Data, "6*7").isValid());
}

QTEST_MAIN(TestPageScript)
#include "tst_pagescript.moc"
