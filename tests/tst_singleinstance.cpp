// One program per user: a second start hands its command line to the running
// program, which comes forward, and ends; what a crashed or hanging first
// program leaves behind does not stop or hang a new start.
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "desktop/desktop.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() {
        Desktop::setExec(nullptr);
        TestSupport::deleteTopLevelWindows();
    }
    void aSecondStartHandsOverAndEnds();
    void leftoversOfAnotherProgramDoNotStopOrHangAStart();
};

void TestSingleInstance::initTestCase() {
    TestSupport::useCleanDataDirectory();
    // The user's runtime directory, as the session provides it.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QVERIFY(!runtime.isEmpty());
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(SingleInstance::defaultServerPath().startsWith(runtime + "/"));
}

void TestSingleInstance::aSecondStartHandsOverAndEnds() {
    // Guards against two programs writing the same settings and data, and against a start that shows nothing.
    // This process is the running program, set up as main does it.
    // The handed-over file does not exist: whether the page or a box says so depends on how far the
    // page has loaded, and a box must not wait for a click that never comes.
    Desktop::setExec([](QDialog*) { return int(QMessageBox::Ok); });
    SingleInstance running;
    QCOMPARE(running.claim(QCoreApplication::arguments(), QDir::currentPath()), SingleInstance::Claim::First);
    MainWindow window(nullptr);
    connect(&running, &SingleInstance::commandLineReceived, &window, &MainWindow::receiveCommandLine);
    QSignalSpy received(&running, &SingleInstance::commandLineReceived);
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());

    QTemporaryDir elsewhere;
    QProcess second;
    second.setWorkingDirectory(elsewhere.path());
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy ended(&second, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    second.start(TAVROLIN_PROGRAM, {"--lesson", "Der Wochenmarkt.mp4"});
    QVERIFY(ended.wait(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().at(0).toStringList().mid(1), (QStringList{"--lesson", "Der Wochenmarkt.mp4"}));
    QCOMPARE(received.first().at(1).toString(), elsewhere.path());
    // The running program comes forward.
    QTRY_VERIFY(!window.isMinimized() && window.isVisible());
    QTRY_VERIFY(window.isActiveWindow());
}

void TestSingleInstance::leftoversOfAnotherProgramDoNotStopOrHangAStart() {
    // Guards against a start refused for good by the socket file of a crashed program, and one that waits
    // for ever on a program that does not answer.
    const QString path = SingleInstance::defaultServerPath();
    {
        QFile stale(path);
        QVERIFY(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance first;
    QCOMPARE(first.claim({"tavrolin"}, QDir::currentPath()), SingleInstance::Claim::First);
    QLocalSocket probe;
    probe.connectToServer(path);
    QVERIFY(probe.waitForConnected(2000));
    probe.abort();

    // The first program is busy (here: it is this thread, which waits for the answer).
    SingleInstance second;
    QCOMPARE(second.claim({"tavrolin"}, QDir::currentPath()), SingleInstance::Claim::Unanswered);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
