// The message handler's line format, the log rotation and where lines go without a log file; the data directory and
// the settings file the log shares it with, created owner-only.
#include "core/logging.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <unistd.h>

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::useCleanDataDirectory(); }
    void lineFormat_data();
    void lineFormat();
    void handlerAppendsToTheLogFile();
    void rotationKeepsOneOldFile();
    void withoutALogFileLinesGoToStandardError();
    void dataDirectoryAndSettingsAreOwnerOnly_data();
    void dataDirectoryAndSettingsAreOwnerOnly();
};

void TestLogging::lineFormat_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("line");
    QTest::newRow("debug") << int(QtDebugMsg) << "Debug: hello";
    QTest::newRow("warning") << int(QtWarningMsg) << "Warning: hello";
    QTest::newRow("critical") << int(QtCriticalMsg) << "Critical: hello";
    QTest::newRow("fatal") << int(QtFatalMsg) << "Fatal: hello";
    QTest::newRow("info is not a known type") << int(QtInfoMsg) << "";
    QTest::newRow("unknown") << 42 << "";
}

void TestLogging::lineFormat() {
    QFETCH(int, type);
    QFETCH(QString, line);
    QCOMPARE(Logging::formatLine(type, "hello"), line);
}

void TestLogging::handlerAppendsToTheLogFile() {
    const QString path = Logging::logFilePath();
    QVERIFY(path.startsWith(dataDirectory()));
    QFile::remove(path);
    QtMessageHandler previous = qInstallMessageHandler(Logging::messageHandler);
    qDebug() << "first";
    qWarning("second %d", 2);
    qInfo("third");
    qInstallMessageHandler(previous);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), QString("Debug: first\nWarning: second 2\n\n"));
}

void TestLogging::rotationKeepsOneOldFile() {
    // Guards against an unbounded log, and against losing the newest line at rotation.
    QTemporaryDir dir;
    const QString path = dir.filePath("vorb_log.txt");
    const QString old = dir.filePath("vorb_log.old.txt");
    const qint64 limit = 100;
    for (int i = 0; i < 10; ++i)
        Logging::appendLine(path, QString("line %1 ").arg(i) + QString(20, 'x'), limit);

    QVERIFY(QFile::exists(old));
    QVERIFY(QFileInfo(path).size() <= limit + 40);
    QFile current(path);
    QVERIFY(current.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(current.readAll()).endsWith("line 9 " + QString(20, 'x') + "\n"));
    QVERIFY(QFileInfo(old).size() > limit);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).size() == 2); // exactly one old file is kept
}

void TestLogging::withoutALogFileLinesGoToStandardError() {
    // Guards against log lines vanishing when the log file cannot be opened.
    QTemporaryDir dir;
    QTemporaryFile captured;
    QVERIFY(captured.open());
    const int saved = dup(STDERR_FILENO);
    dup2(captured.handle(), STDERR_FILENO);
    Logging::appendLine(dir.path(), "Warning: nowhere to go"); // a directory cannot be opened as a file
    dup2(saved, STDERR_FILENO);
    close(saved);
    captured.seek(0);
    QCOMPARE(captured.readAll(), QByteArray("Warning: nowhere to go\n"));
}

void TestLogging::dataDirectoryAndSettingsAreOwnerOnly_data() {
    QTest::addColumn<QString>("first"); // what writes into the data directory first
    QTest::newRow("the settings") << "settings";
    QTest::newRow("a log line") << "log";
    QTest::newRow("settings made readable by others earlier") << "old settings";
}

void TestLogging::dataDirectoryAndSettingsAreOwnerOnly() {
    // Guards against the settings file (the proxy password) or the data directory being readable by other users.
    QFETCH(QString, first);
    const QString dir = QDir::cleanPath(dataDirectory());
    QDir(dir).removeRecursively();
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (first == "log") {
        Logging::appendLine(Logging::logFilePath(), "Debug: first");
    } else if (first == "old settings") {
        QDir().mkpath(dir);
        QFile old(Settings::settingsFilePath());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[General]\nProxyPassword=secret\n");
        old.close();
        QVERIFY(old.setPermissions(ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    ReadingSettings::load(); // the start-up fill
    ProxySettings{"proxy.example", "3128", "anna", "secret"}.save();

    if (first != "old settings")
        QCOMPARE(QFile::permissions(dir) & 0x7077, ownerOnly | QFileDevice::ExeOwner);
    QCOMPARE(QFile::permissions(Settings::settingsFilePath()) & 0x7077, ownerOnly);
    QCOMPARE(ProxySettings::load().password, QString("secret"));
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
