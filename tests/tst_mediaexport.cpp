// Exporting a stored media file: the suggested name, the dialog, the remembered folder and a safe replace.
#include "bridge/mediaexport.h"
#include "bridge/webapi.h"
#include "desktop/desktop.h"
#include "support/testsupport.h"

#include "core/settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScopedPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using MediaExport::Outcome;
Q_DECLARE_METATYPE(MediaExport::Outcome)

namespace {

struct DialogCall {
    QString caption;
    QString initialPath;
    QString filter;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString storedPrefix() {
    return QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::StorePrefix).toString();
}

} // namespace

class TestMediaExport : public QObject {
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> targetDir;
    QList<DialogCall> dialogCalls;
    QString answer; // what the dialog returns

    QString source() const { return dataDirectory() + "a1.rar"; }

private slots:
    void init();
    void cleanup();
    void nameAndDialog_data();
    void nameAndDialog();
    void folderIsRemembered();
    void cancelChangesNothing();
    void replacesOnlyAfterASuccessfulCopy_data();
    void replacesOnlyAfterASuccessfulCopy();
    void exportOntoItsOwnSource();
    void bridgeShowsTheOutcome();
};

void TestMediaExport::init() {
    TestSupport::useCleanDataDirectory();
    targetDir.reset(new QTemporaryDir);
    writeFile(source(), "media bytes");
    dialogCalls.clear();
    answer.clear();
    Desktop::setSaveFileName(
        [this](QWidget*, const QString& caption, const QString& initialPath, const QString& filter) {
            dialogCalls.append({caption, initialPath, filter});
            return answer;
        });
}

void TestMediaExport::cleanup() {
    Desktop::setSaveFileName(nullptr);
}

void TestMediaExport::nameAndDialog_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("offered"); // after the folder
    QTest::addColumn<bool>("video");
    QTest::newRow("audio") << "Nachrichten.mp3"
                           << "Nachrichten.mp3" << false;
    QTest::newRow("video") << "Reportage.mp4"
                           << "Reportage.mp4" << true;
    QTest::newRow("slash and question mark") << "Was/Wie?.mp3"
                                             << "Was_Wie.mp3" << false;
    QTest::newRow("backslash") << "a\\b/c.mp4"
                               << "ab_c.mp4" << true;
    QTest::newRow("mp4 inside") << "x.mp4.txt"
                                << "x.mp4.txt" << true;
    QTest::newRow("capitals are audio") << "Film.MP4"
                                        << "Film.MP4" << false;
}

void TestMediaExport::nameAndDialog() {
    // Guards against names that point into other folders and the wrong dialog for the media kind.
    QFETCH(QString, fileName);
    QFETCH(QString, offered);
    QFETCH(bool, video);
    QCOMPARE(MediaExport::saveExportFile(source(), fileName), Outcome::Cancelled);
    QCOMPARE(dialogCalls.size(), 1);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/";
    QCOMPARE(dialogCalls[0].initialPath, documents + offered);
    QCOMPARE(dialogCalls[0].caption, video ? QString("保存视频文件") : QString("保存音频文件"));
    QCOMPARE(dialogCalls[0].filter, video ? QString("视频文件(*.mp4)") : QString("音频文件(*.mp3)"));
}

void TestMediaExport::folderIsRemembered() {
    // Guards against the dialog forgetting where the learner saved last, or a folder name deciding the media kind.
    QDir().mkpath(targetDir->path() + "/clips.mp4");
    answer = targetDir->path() + "/clips.mp4/first.mp3";
    QCOMPARE(MediaExport::saveExportFile(source(), "first.mp3"), Outcome::Exported);
    QCOMPARE(storedPrefix(), targetDir->path() + "/clips.mp4/");
    QCOMPARE(fileBytes(answer), QByteArray("media bytes"));

    answer.clear();
    MediaExport::saveExportFile(source(), "second.mp3");
    QCOMPARE(dialogCalls.last().initialPath, targetDir->path() + "/clips.mp4/second.mp3");
    QCOMPARE(dialogCalls.last().caption, QString("保存音频文件"));
}

void TestMediaExport::cancelChangesNothing() {
    // Guards against a cancelled dialog moving the remembered folder or writing anything.
    QSettings(Settings::settingsFilePath(), QSettings::IniFormat).setValue(Settings::StorePrefix, "/somewhere/");
    QCOMPARE(MediaExport::saveExportFile(source(), "a.mp3"), Outcome::Cancelled);
    QCOMPARE(storedPrefix(), QString("/somewhere/"));
    QCOMPARE(MediaExport::outcomeText(Outcome::Cancelled), QString());
}

void TestMediaExport::replacesOnlyAfterASuccessfulCopy_data() {
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QByteArray>("targetAfter");
    QTest::newRow("copy succeeds") << true << Outcome::Exported << QByteArray("media bytes");
    QTest::newRow("source missing") << false << Outcome::Failed << QByteArray("old export");
}

void TestMediaExport::replacesOnlyAfterASuccessfulCopy() {
    // Guards against deleting the learner's existing file before knowing the copy works.
    QFETCH(bool, sourceExists);
    QFETCH(Outcome, outcome);
    QFETCH(QByteArray, targetAfter);
    if (!sourceExists)
        QFile::remove(source());
    answer = targetDir->path() + "/export.mp3";
    writeFile(answer, "old export");
    QCOMPARE(MediaExport::saveExportFile(source(), "export.mp3"), outcome);
    QCOMPARE(fileBytes(answer), targetAfter);
    QCOMPARE(QDir(targetDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"export.mp3"});
    QCOMPARE(storedPrefix(), targetDir->path() + "/"); // remembered even when the copy failed
}

void TestMediaExport::exportOntoItsOwnSource() {
    // Guards against destroying the stored media when the learner picks the stored file itself.
    answer = source();
    QCOMPARE(MediaExport::saveExportFile(source(), "a1.rar"), Outcome::Exported);
    QCOMPARE(fileBytes(source()), QByteArray("media bytes"));
}

void TestMediaExport::bridgeShowsTheOutcome() {
    // Guards against the bridge reporting the wrong outcome, or reporting a cancelled export.
    WebApi api(BridgeContext::create(), nullptr);
    answer = targetDir->path() + "/ok.mp3";
    api.saveExportFile(source(), "ok.mp3");
    QCOMPARE(api.infoBox()->text(), QString("文件导出成功。"));
    QVERIFY(api.infoBox()->isVisible());

    api.infoBox()->hide();
    answer.clear();
    api.saveExportFile(source(), "ok.mp3");
    QVERIFY(!api.infoBox()->isVisible());

    answer = targetDir->path() + "/missing/ok.mp3"; // no such folder
    api.saveExportFile(source(), "ok.mp3");
    QCOMPARE(api.infoBox()->text(), QString("文件导出失败，请尝试重新下载后导出。"));
}

QTEST_MAIN(TestMediaExport)
#include "tst_mediaexport.moc"
