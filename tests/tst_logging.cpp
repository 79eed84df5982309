// The message handler's line format and the log rotation.
#include "core/logging.h"
#include "core/settings.h"
#include "support/testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::useCleanDataDirectory(); }
    void lineFormat_data();
    void lineFormat();
    void handlerAppendsToTheLogFile();
    void rotationKeepsOneOldFile();
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

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
