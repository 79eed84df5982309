// The preferences dialog: box items and their stored values, the explanation
// mode switch, what OK writes and pushes, and what Cancel puts back.
#include "app/setdialog.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

QSettings settingsFile() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat);
}

// What the main window leaves in settings.ini before the dialog exists.
void storeReadingDefaults() {
    QSettings s = settingsFile();
    for (const auto& entry : Settings::readingSettings)
        s.setValue(entry.key, entry.value);
}

QString stored(const char* key) {
    return settingsFile().value(key).toString();
}

} // namespace

class TestSetDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void boxesFollowTheirValueTables_data();
    void boxesFollowTheirValueTables();
    void explainStateSwitchesTipState_data();
    void explainStateSwitchesTipState();
    void constructionReadsWithoutDefaults();
    void okStoresAllAndPushesSevenInOrder();
    void cancelRestoresTheStoredChoices_data();
    void cancelRestoresTheStoredChoices();
    void okWithoutChangeRewritesAndPushesAgain();
    void unknownStoredValueSurvivesOk();

private:
    QPushButton* button(const char* name) { return dialog->findChild<QPushButton*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    std::unique_ptr<WebApi> bridge;
    std::unique_ptr<SetDialog> dialog;
};

void TestSetDialog::init() {
    TestSupport::useCleanDataDirectory();
    storeReadingDefaults();
    bridge = std::make_unique<WebApi>(BridgeContext::create(), nullptr);
    dialog = std::make_unique<SetDialog>(nullptr);
    dialog->setBridge(bridge.get());
}

void TestSetDialog::cleanup() {
    dialog.reset();
    bridge.reset();
}

void TestSetDialog::boxesFollowTheirValueTables_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("fontsize") << "fontsize" << QStringList{"较小", "中等", "大", "较大", "特大"}
                              << QStringList{"Smaller", "Medium", "Large", "Larger", "Largest"};
    QTest::newRow("theme") << "theme" << QStringList{"默认",     "夜间",     "棕褐色",   "紫色柔和",
                                                     "蓝色清新", "绿色护眼", "粉色梦幻", "复古羊皮纸"}
                           << QStringList{"Normal", "Night", "Sepia", "Gentle", "Fresh", "Green", "Pink", "Parchment"};
    QTest::newRow("textAlign") << "textAlign" << QStringList{"两端对齐", "左对齐"} << QStringList{"justify", "left"};
    const QStringList fonts{"Arial", "Courier",         "Gabriola", "Helvetica", "Italic",
                            "Roman", "Times New Roman", "Tahoma",   "Verdana"};
    QTest::newRow("fontFamily") << "fontFamily" << fonts << fonts;
    QTest::newRow("translationState") << "translationState" << QStringList{"显示", "点击显示", "关闭"}
                                      << QStringList{"on", "tap", "off"};
    QTest::newRow("explainState") << "explainState" << QStringList{"关闭", "初级", "中级", "高级"}
                                  << QStringList{"close", "primary", "middle", "senior"};
    QTest::newRow("explainTipState") << "explainTipState" << QStringList{"单词高亮", "单词释义"}
                                     << QStringList{"highlight", "explain"};
    QTest::newRow("playRepeatTimes") << "playRepeatTimes" << QStringList{"3次", "4次", "5次"}
                                     << QStringList{"3", "4", "5"};
}

void TestSetDialog::boxesFollowTheirValueTables() {
    // Guards against an item mapped to the wrong stored value (the pages would get another setting).
    QFETCH(QString, box);
    QFETCH(QStringList, items);
    QFETCH(QStringList, values);
    QComboBox* combo = dialog->box(box.toLatin1().constData());
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, items);

    const QHash<QString, const QString*> members{
        {"fontsize", &dialog->values().fontLevel},
        {"theme", &dialog->values().theme},
        {"textAlign", &dialog->values().textAlign},
        {"fontFamily", &dialog->values().fontFamily},
        {"translationState", &dialog->values().translationState},
        {"explainState", &dialog->values().explainState},
        {"explainTipState", &dialog->values().explainTipState},
        {"playRepeatTimes", &dialog->values().playRepeatTimes},
    };
    // Walk backwards so that every index is a real change.
    for (int i = combo->count() - 1; i >= 0; --i) {
        combo->setCurrentIndex(i);
        QCOMPARE(*members.value(box), values.at(i));
    }
}

void TestSetDialog::explainStateSwitchesTipState_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("tipEnabled");
    QTest::newRow("primary to close") << 1 << 0 << false;
    QTest::newRow("close to primary") << 0 << 1 << true;
    QTest::newRow("close to middle") << 0 << 2 << true;
    QTest::newRow("close to senior") << 0 << 3 << true;
    QTest::newRow("senior to middle") << 3 << 2 << true;
}

void TestSetDialog::explainStateSwitchesTipState() {
    // Guards against the display-mode box staying usable while explanations are off (or locked when on).
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, tipEnabled);
    QComboBox* state = dialog->box("explainState");
    QComboBox* tip = dialog->box("explainTipState");
    state->setCurrentIndex(from);
    tip->setEnabled(from != 0);
    state->setCurrentIndex(to);
    QCOMPARE(tip->isEnabled(), tipEnabled);
    QCOMPARE(dialog->values().explainState, ReadingChoices::explainStates.at(to));
}

void TestSetDialog::constructionReadsWithoutDefaults() {
    // Guards against the dialog filling its own defaults (it must show what is stored).
    {
        QSettings s = settingsFile();
        s.setValue(Settings::Theme, "Night");
        s.setValue(Settings::PlayRepeatTimes, "4");
        s.remove(Settings::FontLevel);
    }
    SetDialog fresh(nullptr);
    QCOMPARE(fresh.values().theme, QString("Night"));
    QCOMPARE(fresh.values().playRepeatTimes, QString("4"));
    QCOMPARE(fresh.values().fontLevel, QString());
    QCOMPARE(fresh.values().textAlign, QString("justify"));
}

void TestSetDialog::okStoresAllAndPushesSevenInOrder() {
    // Guards against a lost key, a swapped setSet argument or the repeat count leaking into setSet.
    TestSupport::ScriptRecorder recorder;
    dialog->show();
    dialog->box("fontsize")->setCurrentIndex(3);  // Larger
    dialog->box("theme")->setCurrentIndex(2);     // Sepia
    dialog->box("textAlign")->setCurrentIndex(1); // left
    dialog->box("fontFamily")->setCurrentText("Verdana");
    dialog->box("explainState")->setCurrentIndex(2);     // middle
    dialog->box("explainTipState")->setCurrentIndex(1);  // explain
    dialog->box("translationState")->setCurrentIndex(1); // tap
    QComboBox* repeat = dialog->box("playRepeatTimes");
    repeat->setCurrentIndex(repeat->findText("5次"));
    QVERIFY(recorder.calls.isEmpty()); // nothing reaches the pages before OK

    click("okBtn");

    QCOMPARE(stored(Settings::PlayRepeatTimes), QString("5"));
    QCOMPARE(stored(Settings::FontLevel), QString("Larger"));
    QCOMPARE(stored(Settings::Theme), QString("Sepia"));
    QCOMPARE(stored(Settings::TextAlign), QString("left"));
    QCOMPARE(stored(Settings::FontFamily), QString("Verdana"));
    QCOMPARE(stored(Settings::ExplainState), QString("middle"));
    QCOMPARE(stored(Settings::ExplainTipState), QString("explain"));
    QCOMPARE(stored(Settings::TranslationState), QString("tap"));
    QCOMPARE(recorder.all(),
             (QStringList{"main: setSet('Larger', 'Sepia', 'tap', 'middle', 'explain', 'Verdana', 'left');",
                          "paragraph: paragraph.saveState('explainTipState', 'explain');"}));
    QCOMPARE(bridge->readingSettings().playRepeatTimes, QString("5"));
    QCOMPARE(bridge->readingSettings().fontLevel, QString("Larger"));
    QCOMPARE(bridge->readingSettings().theme, QString("Sepia"));
    QCOMPARE(bridge->readingSettings().textAlign, QString("left"));
    QCOMPARE(bridge->readingSettings().fontFamily, QString("Verdana"));
    QCOMPARE(bridge->readingSettings().explainState, QString("middle"));
    QCOMPARE(bridge->readingSettings().explainTipState, QString("explain"));
    QCOMPARE(bridge->readingSettings().translationState, QString("tap"));
    QVERIFY(!dialog->isVisible());
}

void TestSetDialog::cancelRestoresTheStoredChoices_data() {
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void TestSetDialog::cancelRestoresTheStoredChoices() {
    // Guards against a cancelled choice staying in the boxes and being stored by a later OK.
    QFETCH(bool, byEscape);
    TestSupport::ScriptRecorder recorder;
    dialog->show();
    dialog->box("theme")->setCurrentIndex(1);        // Night
    dialog->box("explainState")->setCurrentIndex(2); // middle, which enables the tip box
    if (byEscape)
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    else
        click("cancelBtn");
    QVERIFY(!dialog->isVisible());
    QCOMPARE(stored(Settings::Theme), QString("Normal"));
    QVERIFY(recorder.calls.isEmpty());
    QCOMPARE(dialog->box("theme")->currentIndex(), 0);
    QCOMPARE(dialog->box("explainState")->currentIndex(), 0);
    QVERIFY(!dialog->box("explainTipState")->isEnabled());
    QCOMPARE(dialog->values().theme, QString("Normal"));
    QCOMPARE(dialog->values().explainState, QString("close"));

    dialog->show();
    click("okBtn");
    QCOMPARE(stored(Settings::Theme), QString("Normal"));
    QCOMPARE(recorder.snippets(PageScript::Page::Main),
             QStringList{"setSet('Medium', 'Normal', 'on', 'close', 'highlight', 'Arial', 'justify');"});
}

void TestSetDialog::okWithoutChangeRewritesAndPushesAgain() {
    // Guards against OK skipping the write or the push when nothing changed.
    TestSupport::ScriptRecorder recorder;
    dialog->show();
    click("okBtn");
    settingsFile().setValue(Settings::Theme, "Pink"); // some other writer in between
    settingsFile().remove(Settings::TextAlign);
    dialog->show();
    click("okBtn");
    QCOMPARE(stored(Settings::Theme), QString("Normal"));
    QCOMPARE(stored(Settings::TextAlign), QString("justify"));
    const QString expected = "setSet('Medium', 'Normal', 'on', 'close', 'highlight', 'Arial', 'justify');";
    QCOMPARE(recorder.snippets(PageScript::Page::Main), (QStringList{expected, expected}));
    QCOMPARE(recorder.snippets(PageScript::Page::Paragraph).size(), 2);
}

void TestSetDialog::unknownStoredValueSurvivesOk() {
    // Guards against OK replacing a stored value the boxes cannot show with whatever the box happens to hold.
    settingsFile().setValue(Settings::FontFamily, "Georgia");
    SetDialog fresh(nullptr);
    fresh.setBridge(bridge.get());
    fresh.show();
    QTest::mouseClick(fresh.findChild<QPushButton*>("okBtn"), Qt::LeftButton);
    QCOMPARE(stored(Settings::FontFamily), QString("Georgia"));
}

QTEST_MAIN(TestSetDialog)
#include "tst_setdialog.moc"
