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
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

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
    void aLongRuntimeDirectoryStillKeepsOneProgram();
};

void TestSingleInstance::initTestCase() {
    TestSupport::useCleanDataDirectory();
    // The user's runtime directory, as the session provides it.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QVERIFY(!runtime.isEmpty());
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // In it unless the build folder's path makes it too long (the test below).
    if (QFile::encodeName(runtime).size() < 90)
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

void TestSingleInstance::aLongRuntimeDirectoryStillKeepsOneProgram() {
    // Guards against a runtime directory too long for a socket name (107 bytes) leaving later starts unheard,
    // so that two programs run on the same data, and against two such directories sharing one name.
    QTemporaryDir base;
    const QString runtime = base.filePath(QString(120, 'r'));
    const QString otherRuntime = base.filePath(QString(120, 'o'));
    for (const QString& dir : {runtime, otherRuntime}) {
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(otherRuntime));
    const QString otherPath = SingleInstance::defaultServerPath();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // The log says which name is used.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("too long for a local socket .*taken on /tmp/tavrolin-"));
    const QString path = SingleInstance::defaultServerPath();
    qputenv("XDG_RUNTIME_DIR", saved);
    QVERIFY2(QFile::encodeName(path).size() <= 107, qPrintable(path));
    QVERIFY(path != otherPath);
    const QFileInfo dir(QFileInfo(path).path());
    QCOMPARE(dir.ownerId(), uint(getuid()));
    QCOMPARE(int(dir.permissions() & (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)), 0);

    Desktop::setExec([](QDialog*) { return int(QMessageBox::Ok); });
    SingleInstance running(path);
    QCOMPARE(running.claim(QCoreApplication::arguments(), QDir::currentPath()), SingleInstance::Claim::First);
    QSignalSpy received(&running, &SingleInstance::commandLineReceived);
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime);
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy ended(&second, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    second.start(TAVROLIN_PROGRAM, {"--lesson"});
    QVERIFY(ended.wait(30000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(received.size(), 1);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
