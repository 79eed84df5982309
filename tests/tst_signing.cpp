// Request signing: HMAC, stamp, token JSON, client identity, signed text and the signed media URL.
#include "core/serviceconfig.h"
#include "core/signing.h"
#include "support/testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMessageAuthenticationCode>
#include <QTest>
#include <QUrl>

class TestSigning : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void hmacMatchesRfc2202_data();
    void hmacMatchesRfc2202();
    void stampIsBase64OfOffsetTime_data();
    void stampIsBase64OfOffsetTime();
    void tokenJsonHasFourMembersInOrder();
    void tokenJsonKeepsQuotesInsideTheirMember();
    void identityTakesFirstAddressWithoutColons_data();
    void identityTakesFirstAddressWithoutColons();
    void pathTextDropsSchemeAndHostOnly_data();
    void pathTextDropsSchemeAndHostOnly();
    void signedMediaUrlSignsPathWithAgent();
};

void TestSigning::initTestCase() {
    TestSupport::useCleanDataDirectory();
    qputenv("TAVROLIN_SERVICE_HOST", "media.example");
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", "8080");
}

void TestSigning::cleanup() {
    Signing::setAddressSource(nullptr);
    Signing::setClock(nullptr);
}

void TestSigning::hmacMatchesRfc2202_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("digestHex");
    QTest::newRow("1") << QByteArray(20, '\x0b') << QByteArray("Hi There")
                       << QByteArray("b617318655057264e28bc0b6fb378c8ef146be00");
    QTest::newRow("2") << QByteArray("Jefe") << QByteArray("what do ya want for nothing?")
                       << QByteArray("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    QTest::newRow("3") << QByteArray(20, '\xaa') << QByteArray(50, '\xdd')
                       << QByteArray("125d7342b9ac11cd91a39af48aa17b4f63f175d3");
    QTest::newRow("4") << QByteArray::fromHex("0102030405060708090a0b0c0d0e0f10111213141516171819")
                       << QByteArray(50, '\xcd') << QByteArray("4c9007f4026250c6bc8414f9bf50c86c2d7235da");
    QTest::newRow("5") << QByteArray(20, '\x0c') << QByteArray("Test With Truncation")
                       << QByteArray("4c1a03424b55e07fe7f27be1d58bb9324a9a5a04");
    QTest::newRow("6 long key") << QByteArray(80, '\xaa')
                                << QByteArray("Test Using Larger Than Block-Size Key - Hash Key First")
                                << QByteArray("aa4ae5e15272d00e95705637ce8a3b55ed402112");
    QTest::newRow("7 long key and data")
        << QByteArray(80, '\xaa')
        << QByteArray("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")
        << QByteArray("e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

void TestSigning::hmacMatchesRfc2202() {
    // Guards against a wrong key or pad handling, and against hex or unpadded output.
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, digestHex);
    const QString signature = urlSignature(key, message);
    QCOMPARE(signature.size(), 28);
    QCOMPARE(signature, QString::fromLatin1(QByteArray::fromHex(digestHex).toBase64()));
}

void TestSigning::stampIsBase64OfOffsetTime_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("stamp");
    // 1700000000 + 27340519 = 1727340519
    QTest::newRow("2023") << qint64(1700000000) << QString("MTcyNzM0MDUxOQ==");
    // 0 + 27340519 = 27340519 (eight digits)
    QTest::newRow("epoch") << qint64(0) << QString("MjczNDA1MTk=");
}

void TestSigning::stampIsBase64OfOffsetTime() {
    // Guards against a missing offset, milliseconds, or unpadded base64.
    QFETCH(qint64, seconds);
    QFETCH(QString, stamp);
    Signing::setClock([seconds] { return seconds; });
    QCOMPARE(signatureStamp(), stamp);
    if (seconds > 1000000000)
        QCOMPARE(signatureStamp().size(), 16);
}

void TestSigning::tokenJsonHasFourMembersInOrder() {
    // Guards against reordered members or whitespace the service's check would reject.
    QCOMPARE(Signing::tokenJson("MTcyNzM0MDUxOQ==", "tok", "sig=", "42"),
             QByteArray("{\"t\":\"MTcyNzM0MDUxOQ==\",\"token\":\"tok\",\"urlsign\":\"sig=\",\"userid\":\"42\"}"));
    QCOMPARE(Signing::tokenJson("s", QString(), "u", QString()),
             QByteArray("{\"t\":\"s\",\"token\":\"\",\"urlsign\":\"u\",\"userid\":\"\"}"));
    QCOMPARE(Signing::authorization("{}"), QByteArray("QYN e30="));
}

void TestSigning::tokenJsonKeepsQuotesInsideTheirMember() {
    // Guards against a cookie value with a quote or backslash breaking the JSON, or non-BMP text being mangled.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QByteArray json = Signing::tokenJson("s", "a\"b\\c" + emoji, "u", "x\ny");
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.value("token").toString(), QString("a\"b\\c") + emoji);
    QCOMPARE(object.value("userid").toString(), QString("x\ny"));
    QCOMPARE(object.keys().size(), 4);
}

void TestSigning::identityTakesFirstAddressWithoutColons_data() {
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QByteArray>("identity");
    QTest::newRow("IPv4") << QStringList{"127.0.0.1", "::1"} << QByteArray("/kendro_vorb_de_desktop/3.3.1/127.0.0.1/");
    QTest::newRow("IPv6") << QStringList{"fe80::1c2d:3e4f:5a6b:7c8d", "127.0.0.1"}
                          << QByteArray("/kendro_vorb_de_desktop/3.3.1/fe801c2d3e4f/");
    QTest::newRow("long IPv4") << QStringList{"192.168.100.200"}
                               << QByteArray("/kendro_vorb_de_desktop/3.3.1/192.168.100./");
    QTest::newRow("no address") << QStringList{} << QByteArray("/kendro_vorb_de_desktop/3.3.1//");
}

void TestSigning::identityTakesFirstAddressWithoutColons() {
    // Guards against taking another address than the first, or keeping colons or more than 12 characters.
    QFETCH(QStringList, addresses);
    QFETCH(QByteArray, identity);
    QList<QHostAddress> list;
    for (const QString& address : addresses)
        list << QHostAddress(address);
    Signing::setAddressSource([list] { return list; });
    QCOMPARE(clientIdentity(), identity);
}

void TestSigning::pathTextDropsSchemeAndHostOnly_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("text");
    QTest::newRow("https standard port") << "https://api.example/api/v4/x?y=1"
                                         << "/api/v4/x?y=1";
    QTest::newRow("port kept") << "http://127.0.0.1:8780/api/v4/vorb/sentence/abc"
                               << ":8780/api/v4/vorb/sentence/abc";
    QTest::newRow("pretty-decoded query") << "http://h.example/p?q=%C3%A4%20b"
                                          << "/p?q=ä b";
    QTest::newRow("local file") << "file:///opt/app/static/index.html?lang=de"
                                << "/opt/app/static/index.html?lang=de";
    QTest::newRow("user info keeps all") << "http://me@h.example/p"
                                         << "http://me@h.example/p";
    QTest::newRow("host repeated in query") << "http://h.example/p?u=http://h.example/x"
                                            << "/p?u=/x";
}

void TestSigning::pathTextDropsSchemeAndHostOnly() {
    // Guards against signing the wire (encoded) form or dropping the port.
    QFETCH(QString, url);
    QFETCH(QString, text);
    QCOMPARE(Signing::pathText(QUrl(url)), text);
}

void TestSigning::signedMediaUrlSignsPathWithAgent() {
    // Guards against signing without the agent, or with the token part included.
    Signing::setAddressSource([] { return QList<QHostAddress>{QHostAddress("127.0.0.1")}; });
    Signing::setClock([] { return qint64(1700000000); });
    const QString url = signedMediaUrl("art-1");
    const QString path = "/api/v3/media/mp3/art-1?agent=/kendro_vorb_de_desktop/3.3.1/127.0.0.1/";
    QVERIFY2(url.startsWith("http://media.example:8080" + path + "&token=QYN "), qPrintable(url));

    const QByteArray token = url.mid(url.indexOf("&token=QYN ") + 11).toLatin1();
    const QByteArray expectedSign =
        QMessageAuthenticationCode::hash(path.toUtf8(), "%7Kbmqx4Tde81r", QCryptographicHash::Sha1).toBase64();
    QCOMPARE(QByteArray::fromBase64(token), QByteArray("{\"t\":\"MTcyNzM0MDUxOQ==\",\"token\":\"\",\"urlsign\":\"") +
                                                expectedSign + "\",\"userid\":\" \"}");
}

QTEST_MAIN(TestSigning)
#include "tst_signing.moc"
