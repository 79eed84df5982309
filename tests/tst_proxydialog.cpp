// The proxy window: what saving stores and installs, what it refuses, Cancel,
// and a page request really travelling through the configured proxy.
#include "app/mainwindow.h"
#include "app/proxydialog.h"
#include "app/webview.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebFrame>
#include <QWebView>

#include <algorithm>
#include <memory>

namespace {

QSettings settingsFile() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat);
}

// A minimal HTTP proxy: answers every absolute-URI request itself with a small
// page naming the requested URL, and insists on Basic credentials when given some.
class TinyProxy : public QObject {
public:
    explicit TinyProxy(const QByteArray& credentials = QByteArray()) : credentials(credentials) {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

    QStringList requestLines;
    QList<QByteArray> sentCredentials;

private:
    void serve(QTcpSocket* socket) {
        QByteArray& buffer = pending[socket];
        buffer += socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        const QByteArray requestLine = lines.first().trimmed();
        requestLines << QString::fromLatin1(requestLine);
        QByteArray given;
        for (const QByteArray& line : lines) {
            if (line.toLower().startsWith("proxy-authorization: basic "))
                given = QByteArray::fromBase64(line.mid(27).trimmed());
        }
        if (!given.isEmpty())
            sentCredentials << given;
        if (!credentials.isEmpty() && given != credentials) {
            socket->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                          "Proxy-Authenticate: Basic realm=\"tiny\"\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const QByteArray body =
            "<html><body><p id='marker'>through the proxy: " + requestLine.split(' ').value(1) + "</p></body></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QByteArray credentials;
    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> pending;
};

} // namespace

class TestProxyDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void saveStoresAndInstalls_data();
    void saveStoresAndInstalls();
    void valuesRoundTripThroughTheSettingsFile_data();
    void valuesRoundTripThroughTheSettingsFile();
    void unusableValuesAreRefused_data();
    void unusableValuesAreRefused();
    void cancelRestoresTheStoredValues_data();
    void cancelRestoresTheStoredValues();
    void saveTakesTheFieldBeingEdited();
    void pageRequestTravelsThroughTheProxy();

private:
    // Types into a field and finishes the edit the way Return does.
    void enter(const char* field, const QString& text);
    QLineEdit* field(const char* name) { return proxy->findChild<QLineEdit*>(name); }
    void click(const char* name) { QTest::mouseClick(proxy->findChild<QPushButton*>(name), Qt::LeftButton); }

    std::unique_ptr<MainWindow> window;
    ProxyDialog* proxy = nullptr;
};

void TestProxyDialog::init() {
    TestSupport::useCleanDataDirectory();
    window = std::make_unique<MainWindow>(nullptr);
    proxy = window->proxyWindow();
    window->showCentred(proxy);
    QVERIFY(QTest::qWaitForWindowExposed(proxy));
}

void TestProxyDialog::cleanup() {
    window.reset();
    TestSupport::deleteTopLevelWindows();
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestProxyDialog::enter(const char* name, const QString& text) {
    QLineEdit* edit = field(name);
    edit->clear();
    // Key clicks can only type ASCII; other text goes in as an input method would put it.
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        QTest::keyClicks(edit, text);
    else
        edit->insert(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void TestProxyDialog::saveStoresAndInstalls_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("port");
    QTest::newRow("all empty") << QStringList{"", "", "", ""} << int(QNetworkProxy::NoProxy) << 0;
    QTest::newRow("host and port") << QStringList{"proxy.example", "8080", "", ""} << int(QNetworkProxy::HttpProxy)
                                   << 8080;
    QTest::newRow("everything") << QStringList{"10.0.0.2", "3128", "anna", "geheim"} << int(QNetworkProxy::HttpProxy)
                                << 3128;
    QTest::newRow("highest port") << QStringList{"proxy", "65535", "", ""} << int(QNetworkProxy::HttpProxy) << 65535;
}

void TestProxyDialog::saveStoresAndInstalls() {
    // Guards against a wrong proxy type for empty or partial input, and a page left on the old proxy.
    QFETCH(QStringList, fields);
    QFETCH(int, type);
    QFETCH(int, port);
    // Start from a configured proxy so that "all empty" really switches it off.
    {
        QSettings s = settingsFile();
        s.setValue(Settings::ProxyHost, "old.example");
        s.setValue(Settings::ProxyPort, "8080");
    }
    window->applyProxy("old.example", "8080", "", "");
    window->view()->setHtml("<p>elsewhere</p>");
    QSignalSpy loads(window->view(), &QWebView::loadStarted);

    const char* names[] = {"host", "port", "user", "password"};
    for (int i = 0; i < 4; ++i)
        enter(names[i], fields[i]);
    click("ok");

    QSettings s = settingsFile();
    QCOMPARE(s.value(Settings::ProxyHost).toString(), fields[0]);
    QCOMPARE(s.value(Settings::ProxyPort).toString(), fields[1]); // stored as typed
    QCOMPARE(s.value(Settings::ProxyUser).toString(), fields[2]);
    QCOMPARE(s.value(Settings::ProxyPassword).toString(), fields[3]);
    QVERIFY(s.contains(Settings::ProxyHost));
    const QNetworkProxy installed = QNetworkProxy::applicationProxy();
    QCOMPARE(int(installed.type()), type);
    if (type == QNetworkProxy::HttpProxy) {
        QCOMPARE(installed.hostName(), fields[0]);
        QCOMPARE(int(installed.port()), port);
        QCOMPARE(installed.user(), fields[2]);
        QCOMPARE(installed.password(), fields[3]);
    }
    QCOMPARE(window->view()->page()->mainFrame()->requestedUrl().toString(), window->indexPageUrl());
    QVERIFY(!loads.isEmpty() || loads.wait(5000));
    QVERIFY(!proxy->isVisible());
}

void TestProxyDialog::unusableValuesAreRefused_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("faultyField");
    QTest::newRow("host without port") << QStringList{"proxy.example", "", "", ""} << "port";
    QTest::newRow("port with letters") << QStringList{"proxy", "31a", "", ""} << "port";
    QTest::newRow("port 0") << QStringList{"proxy", "0", "", ""} << "port";
    QTest::newRow("port above 65535") << QStringList{"proxy", "70000", "", ""} << "port";
    QTest::newRow("negative port") << QStringList{"proxy", "-8080", "", ""} << "port";
    QTest::newRow("port without host") << QStringList{"", "8080", "", ""} << "host";
    QTest::newRow("only a user") << QStringList{"", "", "anna", "geheim"} << "host";
}

void TestProxyDialog::unusableValuesAreRefused() {
    // Guards against installing a proxy that silently cuts the program off the network.
    QFETCH(QStringList, fields);
    QFETCH(QString, faultyField);
    window->view()->setHtml("<p>elsewhere</p>");
    const char* names[] = {"host", "port", "user", "password"};
    for (int i = 0; i < 4; ++i)
        enter(names[i], fields[i]);
    click("ok");

    // Nothing stored, nothing installed, nothing reloaded; the window says why and stays.
    QVERIFY(!settingsFile().contains(Settings::ProxyHost));
    QCOMPARE(int(QNetworkProxy::applicationProxy().type()), int(QNetworkProxy::NoProxy));
    QVERIFY(window->view()->page()->mainFrame()->requestedUrl().toString() != window->indexPageUrl());
    QVERIFY(proxy->isVisible());
    QVERIFY(!proxy->errorText().isEmpty());
    const QList<QLabel*> labels = proxy->findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(),
                        [&](QLabel* label) { return label->isVisible() && label->text() == proxy->errorText(); }));
    QCOMPARE(proxy->focusWidget(), field(qPrintable(faultyField)));

    // Fixed, it is saved and applied.
    enter("host", "proxy.example");
    enter("port", "3128");
    click("ok");
    QVERIFY(!proxy->isVisible());
    QCOMPARE(settingsFile().value(Settings::ProxyPort).toString(), QString("3128"));
    QCOMPARE(QNetworkProxy::applicationProxy().hostName(), QString("proxy.example"));
    QCOMPARE(int(QNetworkProxy::applicationProxy().port()), 3128);
    QVERIFY(proxy->errorText().isEmpty());
}

void TestProxyDialog::valuesRoundTripThroughTheSettingsFile_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("INI syntax") << "me;you"
                                << "p@ss;w=rd#1,\"quoted\"\\back";
    QTest::newRow("spaces at the ends") << " anna "
                                        << "  leading and trailing  ";
    QTest::newRow("url syntax") << "a:b@c"
                                << "x/y?z&w=%20";
    QTest::newRow("non-ASCII") << "Jürgen"
                               << "密码ßü€";
    QTest::newRow("bracketed") << "[user]"
                               << "[General]";
}

void TestProxyDialog::valuesRoundTripThroughTheSettingsFile() {
    // Guards against INI quoting or escaping altering what was typed.
    QFETCH(QString, user);
    QFETCH(QString, password);
    enter("host", "127.0.0.1");
    enter("port", "3128");
    enter("user", user);
    enter("password", password);
    click("ok");

    {
        ProxyDialog reread(nullptr);
        QCOMPARE(reread.values().user, user);
        QCOMPARE(reread.values().password, password);
    }
    window.reset();
    TestSupport::deleteTopLevelWindows();
    MainWindow next(nullptr);
    QCOMPARE(next.proxyWindow()->findChild<QLineEdit*>("password")->text(), password);
    QCOMPARE(QNetworkProxy::applicationProxy().password(), password);
    QCOMPARE(QNetworkProxy::applicationProxy().user(), user);
}

void TestProxyDialog::cancelRestoresTheStoredValues_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape, as in the preferences") << true;
}

void TestProxyDialog::cancelRestoresTheStoredValues() {
    // Guards against a cancelled edit staying in the fields and being stored by a later save, and against Escape
    // leaving the window open.
    QFETCH(bool, escape);
    {
        QSettings s = settingsFile();
        s.setValue(Settings::ProxyHost, "stored.example");
        s.setValue(Settings::ProxyPort, "8080");
    }
    enter("host", "proxy.example");
    enter("port", "3128");
    enter("user", "anna");
    if (escape)
        QTest::keyClick(field("user"), Qt::Key_Escape);
    else
        click("cancel");
    QVERIFY(!proxy->isVisible());
    QCOMPARE(settingsFile().value(Settings::ProxyHost).toString(), QString("stored.example"));
    QCOMPARE(int(QNetworkProxy::applicationProxy().type()), int(QNetworkProxy::NoProxy));
    QCOMPARE(field("host")->text(), QString("stored.example"));
    QCOMPARE(field("port")->text(), QString("8080"));
    QCOMPARE(field("user")->text(), QString());
    QCOMPARE(proxy->values().host, QString("stored.example"));
    QCOMPARE(proxy->values().user, QString());

    // A refused save followed by closing the window leaves no error behind either.
    window->showCentred(proxy);
    enter("port", "0");
    click("ok");
    QVERIFY(!proxy->errorText().isEmpty());
    proxy->close();
    window->showCentred(proxy);
    QVERIFY(proxy->errorText().isEmpty());
    QCOMPARE(field("port")->text(), QString("8080"));
    click("ok");
    QCOMPARE(settingsFile().value(Settings::ProxyPort).toString(), QString("8080"));
    QCOMPARE(int(QNetworkProxy::applicationProxy().port()), 8080);
}

void TestProxyDialog::saveTakesTheFieldBeingEdited() {
    // Guards against losing the text of the field still being edited when Save is clicked.
    enter("port", "3128");
    // The edit really has the focus: the pages still loading in the main window may take
    // the activation away for a moment, and only a real focus change ends an edit.
    auto focusOnHost = [&] {
        proxy->activateWindow();
        field("host")->setFocus();
        return field("host")->hasFocus();
    };
    QTRY_VERIFY(focusOnHost());
    QTest::keyClicks(field("host"), "typed.example");
    QTest::mouseClick(proxy->findChild<QPushButton*>("ok"), Qt::LeftButton);
    QCOMPARE(settingsFile().value(Settings::ProxyHost).toString(), QString("typed.example"));
}

void TestProxyDialog::pageRequestTravelsThroughTheProxy() {
    // Guards against a proxy that is stored but never reaches the web view's requests or loses its credentials.
    const QString password = "p@ss:w/rd \"ü\" ;#=";
    // Qt 5 sends Basic credentials in Latin-1.
    TinyProxy tiny("anna:" + password.toLatin1());
    enter("host", "127.0.0.1");
    enter("port", QString::number(tiny.port()));
    enter("user", "anna");
    enter("password", password);
    QSignalSpy indexLoaded(window->view(), &QWebView::loadFinished);
    click("ok");
    QVERIFY(!indexLoaded.isEmpty() || indexLoaded.wait(5000)); // the reloaded index page, out of the way

    const QUrl target("http://tavrolin-proxy-check.invalid/article.html");
    // The main view itself keeps to our own pages; a page from elsewhere shows inside one.
    window->view()->setHtml("<iframe src='" + target.toString() + "'></iframe>");
    QWebFrame* main = window->view()->page()->mainFrame();
    QTRY_COMPARE_WITH_TIMEOUT(main->childFrames().isEmpty() ? QString() : main->childFrames().first()->toPlainText(),
                              QString("through the proxy: http://tavrolin-proxy-check.invalid/article.html"), 10000);
    QVERIFY(tiny.requestLines.contains("GET http://tavrolin-proxy-check.invalid/article.html HTTP/1.1"));
    QVERIFY(tiny.sentCredentials.contains("anna:" + password.toLatin1()));
}

QTEST_MAIN(TestProxyDialog)
#include "tst_proxydialog.moc"
