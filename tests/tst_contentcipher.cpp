// The cipher of the stored sentence data: format, round trips and error codes.
#include "bridge/contentcipher.h"

#include <QStringList>
#include <QTest>

namespace {

constexpr quint64 testKey = 0x0123456789ABCDEFull;

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    capturedMessages << text;
}

// Collects the log messages sent while it lives.
struct MessageCapture {
    QtMessageHandler previous;
    MessageCapture() : previous(qInstallMessageHandler(captureMessage)) { capturedMessages.clear(); }
    ~MessageCapture() { qInstallMessageHandler(previous); }
};

QByteArray sentenceJson(int count) {
    QByteArray json = "{\"sentences\":[";
    for (int i = 0; i < count; ++i) {
        if (i)
            json += ',';
        json +=
            "{\"start\":" + QByteArray::number(i * 1000) + ",\"text\":\"Das ist Satz " + QByteArray::number(i) + ".\"}";
    }
    return json + "]}";
}

QByteArray incompressible(int size) {
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return data;
}

} // namespace

class TestContentCipher : public QObject {
    Q_OBJECT

private slots:
    void fixedVectors_data();
    void fixedVectors();
    void compressedVectorDeciphers();
    void flagsFollowTheModes_data();
    void flagsFollowTheModes();
    void roundTrip_data();
    void roundTrip();
    void randomByteFeedsTheWholeChain();
    void damagedInputFails_data();
    void damagedInputFails();
    void shortInputFailsSilently();
    void keyZeroWorksButNoKeyFails();
    void forgedLengthPrefixIsRejectedCheaply();
};

void TestContentCipher::fixedVectors_data() {
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("randomByte");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("integrity");
    QTest::addColumn<QByteArray>("cipher");
    // Worked out independently from the format description (key 0x0123456789ABCDEF).
    QTest::newRow("empty, checksum") << QByteArray() << 0xA5 << 0 << 1 << QByteArray("\x03\x02\x4a\x87\x2c", 5);
    QTest::newRow("no check") << QByteArray("Hallo Welt") << 0x3C << 2 << 0
                              << QByteArray("\x03\x00\xd3\x56\x9c\x79\x72\x58\x5b\x0d\x87\x26\xf9", 13);
    QTest::newRow("checksum") << QByteArray("Guten Morgen") << 0x00 << 2 << 1
                              << QByteArray("\x03\x02\xef\x39\xd8\x16\x04\x35\x73\x1c\xd3\x53\x97\x6c\x6c\x4c\x01", 17);
    QTest::newRow("hash") << QByteArray("Guten Abend") << 0xFF << 2 << 2
                          << QByteArray("\x03\x04\x10\xa4\x11\x26\xc9\xab\x64\x91\x9b\x24\x8a\xc9\x0b\x39\xc0\x2d\x5c"
                                        "\x7f\x06\xba\xea\xe8\xbe\xcb\x41\xe2\x69\xa1\xa4\x84\xc9\xac",
                                        34);
}

void TestContentCipher::fixedVectors() {
    // Guards against any drift of the stored format (key order, chaining, checksum byte order, header bytes).
    QFETCH(QByteArray, plain);
    QFETCH(int, randomByte);
    QFETCH(int, compression);
    QFETCH(int, integrity);
    QFETCH(QByteArray, cipher);
    ContentCipher c(testKey);
    c.setCompressionMode(compression);
    c.setIntegrityMode(integrity);
    QCOMPARE(c.encrypt(plain, quint8(randomByte)), cipher);
    QCOMPARE(c.decrypt(cipher), plain);
    QCOMPARE(c.lastError(), 0);
}

void TestContentCipher::compressedVectorDeciphers() {
    // Guards against drift in how the compressed, hashed payload (the stored files' form) is laid out.
    const QByteArray cipher(
        "\x03\x05\xb5\xb0\xce\x38\x6c\x59\x12\x53\x5f\xb3\xde\xf3\x44\x50\xec\x70\x1d\x9a\x9a\x28\x7d"
        "\x38\x1b\x1b\xb8\x0d\x7c\x80\x2d\xd9\xf0\x71\xbe\x63\xc8\x91\xa9\x7d\xc5\xe1\x20\xc0\x68\x06"
        "\x9f\x7a\x68\x73\xb8\x69\x98\x0d\xd0\x8e\x8f\x7f\x4f\xf1\x50\xb7\x68\xc0\xee\x40\xad\x85\xec"
        "\xdc\x27\xfb\xf8\x17\xed\xa8\xd0\x94\xe3\x77\x56\xb0\xf8\x36\x4b\x86\x07\x60\x75\x2f\x22\x38"
        "\x73\xfa\x50\xeb\xa1\xe4\x5f\x4c\xcf\xd8\xec\x36\x06\xc8\x8c\x8e\xae\x10\xde\xf4\xc5\xab\x12"
        "\x00\x87\x50\x67\x7d\x4e\x20\x9e\x8c\xf5\xa3\x15\x6e\x9a\xf2\x78\x7e",
        132);
    ContentCipher c(testKey);
    QCOMPARE(c.decrypt(cipher), sentenceJson(8));
    QCOMPARE(c.lastError(), 0);
}

void TestContentCipher::flagsFollowTheModes_data() {
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("integrity");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("size"); // -1: not checked
    QTest::newRow("empty, defaults") << QByteArray() << 0 << 1 << 0x02 << 5;
    QTest::newRow("short text, defaults") << QByteArray("Hallo") << 0 << 1 << 0x02 << 10;
    QTest::newRow("incompressible, defaults") << incompressible(4096) << 0 << 1 << 0x02 << 4096 + 5;
    QTest::newRow("long JSON, defaults") << sentenceJson(200) << 0 << 1 << 0x03 << -1;
    QTest::newRow("stored sentence data") << sentenceJson(200) << 1 << 2 << 0x05 << -1;
    QTest::newRow("always compress, short") << QByteArray("Hallo") << 1 << 0 << 0x01 << -1;
    QTest::newRow("never compress") << sentenceJson(200) << 2 << 2 << 0x04 << sentenceJson(200).size() + 23;
}

void TestContentCipher::flagsFollowTheModes() {
    // Guards against compressing when it does not pay, or setting both integrity flags.
    QFETCH(QByteArray, plain);
    QFETCH(int, compression);
    QFETCH(int, integrity);
    QFETCH(int, flags);
    QFETCH(int, size);
    ContentCipher c(testKey);
    c.setCompressionMode(compression);
    c.setIntegrityMode(integrity);
    const QByteArray out = c.encrypt(plain);
    QCOMPARE(quint8(out.at(0)), quint8(0x03));
    QCOMPARE(int(quint8(out.at(1))), flags);
    if (size >= 0)
        QCOMPARE(out.size(), size);
    if (flags & 0x01)
        QVERIFY(compression == 1 || out.size() < plain.size());
}

void TestContentCipher::roundTrip_data() {
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("integrity");
    for (int compression : {0, 1, 2}) {
        for (int integrity : {0, 1, 2}) {
            const QByteArray tag = "c" + QByteArray::number(compression) + "i" + QByteArray::number(integrity);
            QTest::newRow(tag + " empty") << QByteArray() << compression << integrity;
            QTest::newRow(tag + " NUL bytes") << QByteArray("a\0b\0", 4) << compression << integrity;
            QTest::newRow(tag + " JSON") << sentenceJson(500) << compression << integrity;
            QTest::newRow(tag + " noise") << incompressible(3001) << compression << integrity;
        }
    }
}

void TestContentCipher::roundTrip() {
    // Guards against a decipher that depends on the random byte or loses bytes at a block edge.
    QFETCH(QByteArray, plain);
    QFETCH(int, compression);
    QFETCH(int, integrity);
    for (int random : {0x00, 0x5A, 0xFF}) {
        ContentCipher writer(testKey);
        writer.setCompressionMode(compression);
        writer.setIntegrityMode(integrity);
        const QByteArray cipher = writer.encrypt(plain, quint8(random));
        ContentCipher reader(testKey); // the reader's own modes do not matter
        QCOMPARE(reader.decrypt(cipher), plain);
        QCOMPARE(reader.lastError(), 0);
    }
    ContentCipher c(testKey);
    QCOMPARE(c.decrypt(c.encrypt(plain)), plain);
}

void TestContentCipher::randomByteFeedsTheWholeChain() {
    // Guards against a chain that leaves later bytes equal, which would show repeated content.
    const QByteArray plain = sentenceJson(50);
    ContentCipher c(testKey);
    const QByteArray a = c.encrypt(plain, 0x11);
    const QByteArray b = c.encrypt(plain, 0x12);
    QCOMPARE(a.size(), b.size());
    QCOMPARE(a.left(2), b.left(2));
    for (int i = 2; i < a.size(); ++i)
        QVERIFY2(a.at(i) != b.at(i), qPrintable(QStringLiteral("byte %1 equal").arg(i)));
}

void TestContentCipher::damagedInputFails_data() {
    QTest::addColumn<int>("integrity");
    QTest::addColumn<int>("offset"); // negative: from the end
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("warning");
    QTest::newRow("version byte") << 2 << 0 << 2 << "Invalid version or not a cyphertext.";
    QTest::newRow("digest") << 2 << 10 << 3 << QString();
    QTest::newRow("payload, hash") << 2 << -5 << 3 << QString();
    QTest::newRow("last byte, hash") << 2 << -1 << 3 << QString();
    QTest::newRow("payload, checksum") << 1 << -5 << 3 << QString();
    QTest::newRow("checksum") << 1 << 3 << 3 << QString();
}

void TestContentCipher::damagedInputFails() {
    // Guards against handing out damaged sentence data as if it were whole.
    QFETCH(int, integrity);
    QFETCH(int, offset);
    QFETCH(int, error);
    QFETCH(QString, warning);
    ContentCipher c(testKey);
    c.setCompressionMode(1);
    c.setIntegrityMode(integrity);
    QByteArray cipher = c.encrypt(sentenceJson(100));
    const int at = offset >= 0 ? offset : cipher.size() + offset;
    cipher[at] = char(cipher.at(at) ^ 0x40);

    MessageCapture capture;
    QVERIFY(c.decrypt(cipher).isEmpty());
    QCOMPARE(c.lastError(), error);
    QCOMPARE(capturedMessages, warning.isEmpty() ? QStringList() : QStringList{warning});
}

void TestContentCipher::shortInputFailsSilently() {
    // Guards against reading past the end of a truncated file; the earlier error code stays.
    ContentCipher c(testKey);
    MessageCapture capture;
    QVERIFY(c.decrypt(QByteArray("\x07", 1)).isEmpty());
    QVERIFY(c.decrypt(QByteArray("\x03\x02", 2)).isEmpty());
    QCOMPARE(c.lastError(), 0);
    QVERIFY(c.decrypt(QByteArray("\x09\x02\x00\x00", 4)).isEmpty());
    QCOMPARE(c.lastError(), 2);
    QVERIFY(c.decrypt(QByteArray("\x03\x02", 2)).isEmpty());
    QCOMPARE(c.lastError(), 2);
    QCOMPARE(capturedMessages, QStringList{"Invalid version or not a cyphertext."});
    // A body too short for its digest counts as a failed check.
    QVERIFY(c.decrypt(QByteArray("\x03\x04\x00\x00\x00", 5)).isEmpty());
    QCOMPARE(c.lastError(), 3);
}

void TestContentCipher::keyZeroWorksButNoKeyFails() {
    // Guards against treating key 0 as "no key", and against enciphering without any key.
    ContentCipher zero;
    zero.setKey(0);
    const QByteArray plain = "Guten Tag";
    const QByteArray cipher = zero.encrypt(plain);
    QCOMPARE(zero.lastError(), 0);
    QCOMPARE(zero.decrypt(cipher), plain);

    ContentCipher none;
    MessageCapture capture;
    QVERIFY(none.encrypt(plain).isEmpty());
    QCOMPARE(none.lastError(), 1);
    QVERIFY(none.decrypt(cipher).isEmpty());
    QCOMPARE(none.lastError(), 1);
    QCOMPARE(capturedMessages, (QStringList{"No key set.", "No key set."}));

    // Another key does not read the file.
    ContentCipher other(testKey);
    QVERIFY(other.decrypt(cipher).isEmpty());
    QCOMPARE(other.lastError(), 3);
}

void TestContentCipher::forgedLengthPrefixIsRejectedCheaply() {
    // Guards against a damaged length prefix making decompression reserve gigabytes.
    QByteArray packed = qCompress(QByteArray("kurz"), 9);
    packed[0] = char(0x40); // 1 GiB for four letters
    packed[1] = packed[2] = packed[3] = 0;
    ContentCipher c(testKey);
    c.setCompressionMode(2);
    c.setIntegrityMode(0);
    QByteArray cipher = c.encrypt(packed, 0);
    cipher[1] = char(0x01); // claim the payload is compressed
    QVERIFY(c.decrypt(cipher).isEmpty());
}

QTEST_APPLESS_MAIN(TestContentCipher)
#include "tst_contentcipher.moc"
