// Conversion of libmpv's audio device list into labelled entries.
#include "player/audiodevice.h"

#include <QTest>

class TestAudioDevice : public QObject {
    Q_OBJECT

private slots:
    void fromMap_data();
    void fromMap();
    void listKeepsOrderAndDefaultsOddEntries();
};

void TestAudioDevice::fromMap_data() {
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::newRow("ordinary") << QVariantMap{{"name", "pulse/sink1"}, {"description", "Speakers"}} << "pulse/sink1"
                              << "[pulse] Speakers";
    QTest::newRow("empty map") << QVariantMap{} << "null"
                               << "[null] -";
    QTest::newRow("no slash") << QVariantMap{{"name", "auto"}, {"description", "Autoselect device"}} << "auto"
                              << "[auto] Autoselect device";
    QTest::newRow("leading slash") << QVariantMap{{"name", "/dev/dsp"}, {"description", "OSS"}} << "/dev/dsp"
                                   << "[] OSS";
    QTest::newRow("placeholders stay text") << QVariantMap{{"name", "alsa/%2"}, {"description", "%1 card"}} << "alsa/%2"
                                            << "[alsa] %1 card";
}

void TestAudioDevice::fromMap() {
    // Guards against missing keys, a wrong driver part, or "%n" in names being expanded.
    QFETCH(QVariantMap, map);
    QFETCH(QString, name);
    QFETCH(QString, label);
    const AudioDevice device(map);
    QCOMPARE(device.name, name);
    QCOMPARE(device.label, label);
}

void TestAudioDevice::listKeepsOrderAndDefaultsOddEntries() {
    const QList<AudioDevice> devices = AudioDevice::listFromVList(
        {QVariantMap{{"name", "b/1"}, {"description", "B"}}, QString("not a map"), QVariantMap{{"name", "a/2"}}});
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices[0].label, QStringLiteral("[b] B"));
    QCOMPARE(devices[1].label, QStringLiteral("[null] -"));
    QCOMPARE(devices[2].label, QStringLiteral("[a] -"));
}

QTEST_GUILESS_MAIN(TestAudioDevice)
#include "tst_audiodevice.moc"
