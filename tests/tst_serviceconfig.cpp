// Service location (settings, environment, defaults) and strict TLS with the extra CA file.
#include "core/net/networkaccessmanager.h"
#include "core/serviceconfig.h"
#include "core/settings.h"
#include "support/fakeservice.h"
#include "support/testsupport.h"

#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

using TestSupport::FakeService;

class TestServiceConfig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void locationFollowsEnvironmentThenSettings_data();
    void locationFollowsEnvironmentThenSettings();
    void defaultsAreTheLoopbackSampleService();
    void tlsIsStrictProcessWide();
    void httpsWorksOnlyWithTrustedCertificates_data();
    void httpsWorksOnlyWithTrustedCertificates();

private:
    static void clearEnvironment();
};

void TestServiceConfig::clearEnvironment() {
    for (const char* name :
         {"TAVROLIN_SERVICE_HOST", "TAVROLIN_SERVICE_HTTP_PORT", "TAVROLIN_SERVICE_HTTPS_PORT", "TAVROLIN_SERVICE_CA"})
        qunsetenv(name);
}

void TestServiceConfig::initTestCase() {
    TestSupport::useCleanDataDirectory();
}

void TestServiceConfig::init() {
    clearEnvironment();
    QFile::remove(Settings::settingsFilePath());
}

void TestServiceConfig::locationFollowsEnvironmentThenSettings_data() {
    QTest::addColumn<QStringList>("settings"); // host, http port, https port, CA
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("httpBase");
    QTest::addColumn<QString>("httpsBase");
    QTest::addColumn<QString>("caFile");
    QTest::newRow("settings only") << QStringList{"svc.example", "8000", "8443", "/etc/ca.pem"}
                                   << QStringList{"", "", "", ""} << "http://svc.example:8000"
                                   << "https://svc.example:8443"
                                   << "/etc/ca.pem";
    QTest::newRow("environment wins") << QStringList{"svc.example", "8000", "8443", "/etc/ca.pem"}
                                      << QStringList{"10.0.0.5", "9000", "9443", "/tmp/other.pem"}
                                      << "http://10.0.0.5:9000"
                                      << "https://10.0.0.5:9443"
                                      << "/tmp/other.pem";
    QTest::newRow("standard ports omitted")
        << QStringList{"svc.example", "80", "443", ""} << QStringList{"", "", "", ""} << "http://svc.example"
        << "https://svc.example"
        << "";
    QTest::newRow("IPv6 bracketed") << QStringList{"", "", "", ""} << QStringList{"::1", "81", "444", ""}
                                    << "http://[::1]:81"
                                    << "https://[::1]:444"
                                    << "";
    QTest::newRow("bad ports fall through") << QStringList{"svc.example", "http", "70000", ""}
                                            << QStringList{"", "-1", "x", ""} << "http://svc.example:8780"
                                            << "https://svc.example:8781"
                                            << "";
}

void TestServiceConfig::locationFollowsEnvironmentThenSettings() {
    // Guards against an override order that lets settings beat the launcher, and ports in URLs that break signing.
    QFETCH(QStringList, settings);
    QFETCH(QStringList, environment);
    QFETCH(QString, httpBase);
    QFETCH(QString, httpsBase);
    QFETCH(QString, caFile);
    {
        QSettings ini(Settings::settingsFilePath(), QSettings::IniFormat);
        const char* keys[] = {Settings::ServiceHost, Settings::ServiceHttpPort, Settings::ServiceHttpsPort,
                              Settings::ServiceCaCertificates};
        for (int i = 0; i < 4; ++i) {
            if (!settings.at(i).isEmpty())
                ini.setValue(keys[i], settings.at(i));
        }
    }
    const char* names[] = {"TAVROLIN_SERVICE_HOST", "TAVROLIN_SERVICE_HTTP_PORT", "TAVROLIN_SERVICE_HTTPS_PORT",
                           "TAVROLIN_SERVICE_CA"};
    for (int i = 0; i < 4; ++i) {
        if (!environment.at(i).isEmpty())
            qputenv(names[i], environment.at(i).toUtf8());
    }
    QCOMPARE(ServiceConfig::httpBase(), httpBase);
    QCOMPARE(ServiceConfig::httpsBase(), httpsBase);
    QCOMPARE(ServiceConfig::location().caFile, caFile);
}

void TestServiceConfig::defaultsAreTheLoopbackSampleService() {
    // Guards against the program pointing anywhere but the bundled service when nothing is configured.
    QCOMPARE(ServiceConfig::httpBase(), QString("http://127.0.0.1:8780"));
    QCOMPARE(ServiceConfig::httpsBase(), QString("https://127.0.0.1:8781"));
    QVERIFY(ServiceConfig::location().caFile.isEmpty());
    // Reading never writes the keys.
    QVERIFY(!QFile::exists(Settings::settingsFilePath()));
}

void TestServiceConfig::tlsIsStrictProcessWide() {
    // Guards against verification being switched off or old protocol versions being allowed.
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    QVERIFY(ServiceConfig::installTlsDefaults());
    const QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QCOMPARE(config.peerVerifyMode(), QSslSocket::VerifyPeer);
    QCOMPARE(config.protocol(), QSsl::TlsV1_2OrLater);
    const QList<QSslCertificate> ca = QSslCertificate::fromPath(FakeService::caFile());
    QCOMPARE(ca.size(), 1);
    QVERIFY(config.caCertificates().contains(ca.first()));
}

void TestServiceConfig::httpsWorksOnlyWithTrustedCertificates_data() {
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("signingManager");
    QTest::newRow("test CA, signing manager") << true << true;
    QTest::newRow("test CA, plain manager") << true << false;
    QTest::newRow("self-signed, signing manager") << false << true;
    QTest::newRow("self-signed, plain manager") << false << false;
}

void TestServiceConfig::httpsWorksOnlyWithTrustedCertificates() {
    // Guards against accepting any certificate, and against the extra CA not reaching the requests.
    QFETCH(bool, trusted);
    QFETCH(bool, signingManager);
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    QVERIFY(ServiceConfig::installTlsDefaults());

    FakeService service(trusted ? FakeService::Tls::Trusted : FakeService::Tls::Untrusted);
    QVERIFY(service.isListening());
    FakeService::Reply reply;
    reply.body = "secret";
    service.setReply("/hello", reply);

    QNetworkAccessManager plain;
    NetworkAccessManager signing(&plain, nullptr);
    QNetworkAccessManager* manager = signingManager ? static_cast<QNetworkAccessManager*>(&signing) : &plain;
    QNetworkReply* answer = manager->get(QNetworkRequest(QUrl(service.url("/hello"))));
    QSignalSpy finished(answer, &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));
    if (trusted) {
        QCOMPARE(answer->error(), QNetworkReply::NoError);
        QCOMPARE(answer->readAll(), QByteArray("secret"));
        QCOMPARE(service.requestsFor("/hello").size(), 1);
    } else {
        QCOMPARE(answer->error(), QNetworkReply::SslHandshakeFailedError);
        QVERIFY(service.requestsFor("/hello").isEmpty());
    }
    delete answer;
}

QTEST_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
