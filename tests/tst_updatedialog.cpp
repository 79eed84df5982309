// The update dialog against a fake service: the checking page, the offer, the
// download with its progress, the install question and the installer's start,
// cancel, the latest-version message, and the menu command that opens it.
#include "app/mainwindow.h"
#include "core/net/httpmanager.h"
#include "core/settings.h"
#include "core/signing.h"
#include "desktop/desktop.h"
#include "support/fakeservice.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"
#include "update/obupdatedialog.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <memory>
#include <utility>

using TestSupport::FakeService;

namespace {

const QString latestVersionText = QStringLiteral("您使用的是最新版本，无需更新。");
const QByteArray installerRoute = "/files/tavrolin-setup.run";

struct Box {
    QWidget* parent;
    QString title;
    QString text;
    QStringList buttons;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// An update answer; with the installer's bytes it also carries their hash and signature.
QByteArray offer(const QString& version, const QString& url, const QByteArray& installer = QByteArray()) {
    const TestSupport::InstallerProof proof =
        installer.isNull() ? TestSupport::InstallerProof() : TestSupport::signInstaller(installer);
    return QStringLiteral(
               R"({"version":"%1","publish_date":"2020-01-01","info":"Fixes","url":"%2","sha256":"%3","signature":"%4"})")
        .arg(version, url, proof.sha256, proof.signature)
        .toUtf8();
}

const QString checkFailedText = QStringLiteral("检查更新失败，请稍后再试。");

} // namespace

class TestUpdateDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void checkingPageShowsNameVersionAndOnlyCancel();
    void offerShowsTheUpdateText_data();
    void offerShowsTheUpdateText();
    void answerWithoutUpdateIsExplained_data();
    void answerWithoutUpdateIsExplained();
    void downloadThenInstallQuestion_data();
    void downloadThenInstallQuestion();
    void cancelDuringDownloadLeavesNoTemporary();
    void failedDownloadIsReportedAndOpenComesBack();
    void installerIsRefusedUnlessItChecksOut_data();
    void installerIsRefusedUnlessItChecksOut();
    void answerAfterCancelReachesNoDialog();
    void menuCommandOpensANewDialogEachTime();

private:
    // A shown dialog; its boxes and exit are recorded, the question answers `answer`.
    ObUpdateDialog* openDialog(QWidget* parent = nullptr);
    void answerCheck(const QByteArray& body, int status = 200, int delayMs = 0);
    QPushButton* button(QDialogButtonBox::StandardButton which) const {
        return dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which);
    }
    template <typename T> T* child(const char* name) const { return dialog->findChild<T*>(name); }

    std::unique_ptr<FakeService> service;
    QPointer<ObUpdateDialog> dialog;
    QList<Box> informations;
    QList<Box> questions;
    QList<int> exits;
    QMessageBox::StandardButton answer = QMessageBox::No;
    QTemporaryDir dir;
};

void TestUpdateDialog::initTestCase() {
    TestSupport::useCleanDataDirectory();
    Signing::setAddressSource([] { return QList<QHostAddress>{QHostAddress("127.0.0.1")}; });
    service = std::make_unique<FakeService>(FakeService::Tls::Trusted);
    QVERIFY(service->isListening());
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service->port()));
    qputenv("TAVROLIN_SERVICE_CA", FakeService::caFile().toUtf8());
    QVERIFY(dir.isValid());
}

void TestUpdateDialog::init() {
    TestSupport::useCleanDataDirectory();
    service->clearRequests();
    informations.clear();
    questions.clear();
    exits.clear();
    answer = QMessageBox::No;
    Desktop::setExec([this](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        if (!box)
            return 0;
        QStringList buttons;
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        const Box shown{box->parentWidget(), box->windowTitle(), box->text(), buttons};
        if (box->icon() == QMessageBox::Question) {
            questions << shown;
            return int(answer);
        }
        informations << shown;
        return int(QMessageBox::Ok);
    });
    Desktop::setExit([this](int code) { exits << code; });
}

void TestUpdateDialog::cleanup() {
    HttpManager::instance()->timeoutMs = 5000;
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(service->port()));
    delete dialog.data();
    Desktop::setExec(nullptr);
    Desktop::setExit(nullptr);
    Desktop::setMainWindow(nullptr);
    // A new route table for the next test; the old one may still be serving.
    FakeService::Reply notFound;
    notFound.status = 404;
    service->setReply("/api/v2/appsupport/CheckVersion", notFound);
    service->setReply(installerRoute, notFound);
}

ObUpdateDialog* TestUpdateDialog::openDialog(QWidget* parent) {
    dialog = new ObUpdateDialog(parent);
    dialog->show();
    return dialog;
}

void TestUpdateDialog::answerCheck(const QByteArray& body, int status, int delayMs) {
    FakeService::Reply reply;
    reply.status = status;
    reply.contentType = "application/json; charset=utf-8";
    reply.body = body;
    reply.delayMs = delayMs;
    service->setReply("/api/v2/appsupport/CheckVersion", reply);
}

void TestUpdateDialog::checkingPageShowsNameVersionAndOnlyCancel() {
    // Guards against a wrong first page, a missing busy bar or an Open button before there is anything to open.
    answerCheck(offer("3.4.0", service->url(installerRoute)));
    openDialog();
    QCOMPARE(dialog->windowTitle(), QString("软件更新"));
    QCOMPARE(dialog->size(), QSize(576, 193));
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(!child<QLabel>("updateIcon")->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(child<QStackedWidget>("stackedWidget")->currentWidget()->objectName(), QString("page"));
    QCOMPARE(child<QLabel>("labelAppName")->text(), QString("Tavrolin"));
    QVERIFY(child<QLabel>("labelAppName")->font().bold());
    QCOMPARE(child<QLabel>("labelVersion")->text(), QString("版本号：3.3.1"));
    QCOMPARE(child<QLabel>("label")->text(), QString("正在检查新版本..."));
    auto* busy = child<QProgressBar>("progressBar");
    QVERIFY(busy->isVisible());
    QCOMPARE(busy->maximum(), 0);
    QVERIFY(!button(QDialogButtonBox::Open)->isVisible());
    QVERIFY(button(QDialogButtonBox::Cancel)->isVisible());
    QCOMPARE(button(QDialogButtonBox::Cancel)->text(), QString("取消"));
    QTRY_COMPARE_WITH_TIMEOUT(service->requestsFor("/api/v2/appsupport/CheckVersion").size(), 1, 10000);
}

void TestUpdateDialog::offerShowsTheUpdateText_data() {
    QTest::addColumn<QString>("version");
    QTest::newRow("3.4.0") << "3.4.0";
    // Compared as numbers; as text both would sort before "3.3.1".
    QTest::newRow("3.10.0") << "3.10.0";
    QTest::newRow("10") << "10";
}

void TestUpdateDialog::offerShowsTheUpdateText() {
    // Guards against a wrong or reordered update text, or an offer without its Open button.
    QFETCH(QString, version);
    answerCheck(offer(version, service->url(installerRoute)));
    openDialog();
    const int width = dialog->width();
    auto* pages = child<QStackedWidget>("stackedWidget");
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentIndex(), 1, 10000);
    QCOMPARE(pages->currentWidget()->objectName(), QString("page_2"));
    QCOMPARE(child<QTextEdit>("updateText")->toPlainText(),
             "Tavrolin 版本号：" + version + "\n发布日期：2020-01-01\n\n更新内容：Fixes");
    QVERIFY(button(QDialogButtonBox::Open)->isVisible());
    QVERIFY(button(QDialogButtonBox::Open)->isEnabled());
    QCOMPARE(button(QDialogButtonBox::Open)->text(), QString("更新"));
    QVERIFY(!child<QProgressBar>("progressDownload")->isVisible());
    // The window manager applies the new size when it gets to it.
    QTRY_COMPARE(dialog->size(), QSize(width, 300));
    QVERIFY(informations.isEmpty());
}

void TestUpdateDialog::answerWithoutUpdateIsExplained_data() {
    QTest::addColumn<int>("status"); // 0: nothing listening; -1: no answer in time
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("failed"); // the check failed, rather than found nothing newer
    const QString url = QStringLiteral("https://127.0.0.1:1/setup.run");
    QTest::newRow("no-update answer") << 200 << QString("\"暂无更新\"").toUtf8() << false;
    QTest::newRow("same version") << 200 << offer("3.3.1", url) << false;
    QTest::newRow("downgrade") << 200 << offer("3.2.9", url) << false;
    QTest::newRow("trailing zero is no newer") << 200 << offer("3.3.1.0", url) << false;
    QTest::newRow("nothing listening") << 0 << QByteArray() << true;
    QTest::newRow("no answer in time") << -1 << QByteArray() << true;
    QTest::newRow("404") << 404 << offer("3.4.0", url) << true;
    QTest::newRow("503") << 503 << QByteArray("Service Unavailable") << true;
    QTest::newRow("version not a number") << 200 << offer("latest", url) << true;
    QTest::newRow("newer without an installer") << 200 << offer("3.4.0", "") << true;
    QTest::newRow("JSON array") << 200 << QByteArray(R"([{"version":"3.4.0","url":"x"}])") << true;
    QTest::newRow("plain text") << 200 << QByteArray("Service Unavailable") << true;
}

void TestUpdateDialog::answerWithoutUpdateIsExplained() {
    // Guards against offering nothing, a downgrade or an error page as an update, against a failed check (no service,
    // an error, no answer) telling the user the program is up to date, and against the dialog lingering or its box
    // opening at the screen's corner.
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, failed);
    answerCheck(body, status < 0 ? 200 : status, status < 0 ? 60000 : 0);
    if (status == 0)
        qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(TestSupport::freePorts().first));
    HttpManager::instance()->timeoutMs = 500;
    QWidget mainWindow;
    Desktop::setMainWindow(&mainWindow);
    openDialog(&mainWindow);
    QTRY_COMPARE_WITH_TIMEOUT(informations.size(), 1, 10000);
    // The dialog has closed: the box is centred on the main window, not at the corner of the screen.
    QCOMPARE(informations.first().parent, &mainWindow);
    QCOMPARE(informations.first().title, QString("Tavrolin"));
    // The same button as the program's other boxes, not Qt's English "OK".
    QCOMPARE(informations.first().buttons, QStringList{"确定"});
    if (failed)
        QVERIFY2(informations.first().text.startsWith(checkFailedText + "\n"), qPrintable(informations.first().text));
    else
        QCOMPARE(informations.first().text, latestVersionText);
    QTRY_VERIFY(dialog.isNull()); // closed and deleted
    QVERIFY(questions.isEmpty());
}

void TestUpdateDialog::downloadThenInstallQuestion_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("interpreter");
    QTest::addColumn<bool>("starts");
    QTest::newRow("No keeps the installer") << false << QByteArray("/bin/sh") << false;
    QTest::newRow("Yes starts it and exits 0") << true << QByteArray("/bin/sh") << true;
    QTest::newRow("Yes, installer cannot start") << true << QByteArray("/nonexistent/interpreter") << false;
}

void TestUpdateDialog::downloadThenInstallQuestion() {
    // Guards against a frozen progress bar, exiting before (or without) the installer running, and a No that
    // throws the download away.
    QFETCH(bool, yes);
    QFETCH(QByteArray, interpreter);
    QFETCH(bool, starts);
    const QString marker = dir.filePath("installer-ran");
    QFile::remove(marker);
    // The filler after "exit" is never read by the shell; it only makes the transfer long enough to show progress.
    FakeService::Reply installer;
    installer.contentType = "application/octet-stream";
    installer.body =
        "#!" + interpreter + "\necho ran > '" + marker.toUtf8() + "'\nexit 0\n" + QByteArray(3 * 1024 * 1024, '#');
    service->setReply(installerRoute, installer);
    answerCheck(offer("3.4.0", service->url(installerRoute), installer.body));
    answer = yes ? QMessageBox::Yes : QMessageBox::No;

    ObUpdateDialog* shown = openDialog();
    QTRY_COMPARE_WITH_TIMEOUT(child<QStackedWidget>("stackedWidget")->currentIndex(), 1, 10000);
    auto* progress = child<QProgressBar>("progressDownload");
    QList<int> values;
    connect(progress, &QProgressBar::valueChanged, this, [&values](int value) { values << value; });
    button(QDialogButtonBox::Open)->click();
    QVERIFY(!button(QDialogButtonBox::Open)->isEnabled());
    QVERIFY(progress->isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(questions.size(), 1, 15000);
    QCOMPARE(questions.first().parent, shown);
    QCOMPARE(questions.first().title, QString("Tavrolin"));
    QCOMPARE(questions.first().text, QString("下载完成，是否安装更新？"));
    QCOMPARE(questions.first().buttons, (QStringList{"是", "否"}));
    QVERIFY(!values.isEmpty());
    QCOMPARE(values.last(), 100);
    QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(QString::number(values.size())));
    const QString path = ObUpdateDialog::installerPath();
    QCOMPARE(path, dataDirectory() + "vorb_update.exe");
    QCOMPARE(readAll(path), installer.body);
    QVERIFY(!QFile::exists(path + ".tmp"));

    if (!yes) {
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(exits.isEmpty());
        QVERIFY(informations.isEmpty());
        QVERIFY(!QFile::exists(marker));
        return;
    }
    QVERIFY(QFileInfo(path).isExecutable());
    if (starts) {
        QCOMPARE(exits, QList<int>{0});
        QTRY_COMPARE_WITH_TIMEOUT(readAll(marker), QByteArray("ran\n"), 10000);
        QVERIFY(informations.isEmpty());
    } else {
        QVERIFY(exits.isEmpty());
        QCOMPARE(informations.size(), 1);
        QVERIFY2(informations.first().text.startsWith("无法启动安装程序：" + path),
                 qPrintable(informations.first().text));
        QTRY_VERIFY(dialog.isNull());
    }
}

void TestUpdateDialog::cancelDuringDownloadLeavesNoTemporary() {
    // Guards against a cancelled download running on, leaving a .tmp behind or still asking to install.
    FakeService::Reply big;
    big.contentType = "application/octet-stream";
    big.generatedSize = 64 * 1024 * 1024;
    service->setReply(installerRoute, big);
    answerCheck(offer("3.4.0", service->url(installerRoute)));
    openDialog();
    QTRY_COMPARE_WITH_TIMEOUT(child<QStackedWidget>("stackedWidget")->currentIndex(), 1, 10000);
    QPushButton* cancel = button(QDialogButtonBox::Cancel);
    // Cancel as soon as the first part has arrived.
    bool clicked = false;
    connect(child<QProgressBar>("progressDownload"), &QProgressBar::valueChanged, cancel, [cancel, &clicked] {
        if (!std::exchange(clicked, true))
            cancel->click();
    });
    button(QDialogButtonBox::Open)->click();

    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 15000);
    const QString path = ObUpdateDialog::installerPath();
    QTRY_VERIFY(!QFile::exists(path + ".tmp"));
    QVERIFY(!QFile::exists(path));
    QVERIFY(questions.isEmpty());
    QVERIFY(informations.isEmpty());
}

void TestUpdateDialog::failedDownloadIsReportedAndOpenComesBack() {
    // Guards against a failed download leaving the dialog waiting silently with Open disabled.
    answerCheck(offer("3.4.0", service->url("/files/missing.run")));
    openDialog();
    QTRY_COMPARE_WITH_TIMEOUT(child<QStackedWidget>("stackedWidget")->currentIndex(), 1, 10000);
    button(QDialogButtonBox::Open)->click();
    QTRY_COMPARE_WITH_TIMEOUT(informations.size(), 1, 10000);
    // The cause in Chinese; the server's English words stay in the log.
    QCOMPARE(informations.first().text, QString("下载失败：服务器拒绝了下载请求。"));
    QVERIFY(button(QDialogButtonBox::Open)->isEnabled());
    QVERIFY(!dialog.isNull());
    QVERIFY(questions.isEmpty());
    QVERIFY(!QFile::exists(ObUpdateDialog::installerPath()));
}

void TestUpdateDialog::installerIsRefusedUnlessItChecksOut_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // empty: it checks out and the install question comes
    QTest::newRow("checks out after a 307") << "307"
                                            << "";
    QTest::newRow("over plain http") << "http"
                                     << "下载失败：下载地址不是安全连接（HTTPS），已拒绝。";
    QTest::newRow("a 307 to plain http") << "307 to http"
                                         << "下载失败：下载地址不是安全连接（HTTPS），已拒绝。";
    QTest::newRow("another installer's hash") << "hash"
                                              << "下载的安装程序未通过校验，已将其删除。\nSHA-256 校验值不符。";
    QTest::newRow("a signature of other bytes") << "signature"
                                                << "下载的安装程序未通过校验，已将其删除。\n数字签名无效。";
    QTest::newRow("no signature") << "unsigned"
                                  << "下载的安装程序未通过校验，已将其删除。\n数字签名无效。";
}

void TestUpdateDialog::installerIsRefusedUnlessItChecksOut() {
    // Guards against starting (or even keeping) an installer that came over plain http, by a redirect to it, or that
    // is not the one the service's signed answer names; and against such a download replacing the installer there.
    QFETCH(QString, fault);
    QFETCH(QString, message);
    FakeService plain;
    const QByteArray body = "#!/bin/sh\necho new installer\n" + QByteArray(200 * 1024, '#');
    const QByteArray other = "#!/bin/sh\necho something else\n";
    FakeService::Reply installer;
    installer.contentType = "application/octet-stream";
    installer.body = body;
    service->setReply(installerRoute, installer);
    plain.setReply(installerRoute, installer);
    FakeService::Reply moved;
    moved.status = 307;
    moved.location = (fault == "307" ? service->url(installerRoute) : plain.url(installerRoute)).toUtf8();
    service->setReply("/get/installer", moved);
    const QString url = fault.startsWith("307") ? service->url("/get/installer")
                        : fault == "http"       ? plain.url(installerRoute)
                                                : service->url(installerRoute);
    QJsonObject update = QJsonDocument::fromJson(offer("3.4.0", url, fault == "hash" ? other : body)).object();
    if (fault == "signature")
        update.insert("signature", TestSupport::signInstaller(other).signature);
    if (fault == "unsigned")
        update.remove("signature");
    answerCheck(QJsonDocument(update).toJson(QJsonDocument::Compact));
    const QString path = ObUpdateDialog::installerPath();
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the installer downloaded before");
    old.close();

    openDialog();
    QTRY_COMPARE_WITH_TIMEOUT(child<QStackedWidget>("stackedWidget")->currentIndex(), 1, 10000);
    button(QDialogButtonBox::Open)->click();
    if (message.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(questions.size(), 1, 10000);
        QCOMPARE(readAll(path), body);
        QVERIFY(informations.isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(informations.size(), 1, 10000);
    QVERIFY2(informations.first().text.startsWith(message), qPrintable(informations.first().text));
    QCOMPARE(readAll(path), QByteArray("the installer downloaded before"));
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList({"vorb_update.exe*"}, QDir::Files),
             QStringList{"vorb_update.exe"});
    QVERIFY(questions.isEmpty());
    QVERIFY(exits.isEmpty());
    QVERIFY(button(QDialogButtonBox::Open)->isEnabled());
    QVERIFY(plain.requests().isEmpty());
}

void TestUpdateDialog::answerAfterCancelReachesNoDialog() {
    // Guards against the late answer of a cancelled check running on a deleted dialog.
    answerCheck(QString("\"暂无更新\"").toUtf8(), 200, 300);
    openDialog();
    button(QDialogButtonBox::Cancel)->click();
    QTRY_VERIFY(dialog.isNull());
    // A check sent after the dialog's, answered after it.
    bool witnessed = false;
    HttpManager::instance()->checkUpdate([&witnessed](bool, const QString&) { witnessed = true; });
    QTRY_VERIFY_WITH_TIMEOUT(witnessed, 10000);
    QTest::qWait(0);
    QVERIFY(informations.isEmpty());
}

void TestUpdateDialog::menuCommandOpensANewDialogEachTime() {
    // Guards against the menu command reusing or not showing a dialog, or not parenting it to the main window.
    answerCheck(QString("\"暂无更新\"").toUtf8());
    MainWindow window(nullptr);
    QAction* action = window.findChild<QAction*>("action_update");
    action->trigger();
    action->trigger();
    const QList<ObUpdateDialog*> dialogs = window.findChildren<ObUpdateDialog*>();
    QCOMPARE(dialogs.size(), 2);
    for (ObUpdateDialog* d : dialogs) {
        QCOMPARE(d->parentWidget(), &window);
        QVERIFY(d->isVisible());
    }
    QTRY_COMPARE_WITH_TIMEOUT(informations.size(), 2, 10000);
    QTRY_VERIFY(window.findChildren<ObUpdateDialog*>().isEmpty());
}

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
