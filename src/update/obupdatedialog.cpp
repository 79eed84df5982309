#include "update/obupdatedialog.h"

#include "core/appinfo.h"
#include "core/net/httpmanager.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "ui_obupdatedialog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QVersionNumber>
#include <QtDebug>

namespace {

const QString productName = QString::fromLatin1(AppInfo::productName);

} // namespace

ObUpdateDialog::ObUpdateDialog(QWidget* parent) : QDialog(parent), ui(new Ui::ObUpdateDialog) {
    Desktop::ensureResources();
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    // Each check makes a new dialog, so a closed one must not linger.
    setAttribute(Qt::WA_DeleteOnClose);

    ui->setupUi(this);
    ui->stackedWidget->setCurrentIndex(0);
    ui->labelAppName->setText(productName);
    ui->labelVersion->setText(tr("版本号：") + QString::fromLatin1(AppInfo::version));
    openButton()->setText(tr("更新"));
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
    openButton()->hide();
    ui->progressDownload->hide();

    checkUpdate();
}

ObUpdateDialog::~ObUpdateDialog() = default;

void ObUpdateDialog::showInformation(const QString& text) {
    Desktop::message(this, QMessageBox::Information, productName, text);
}

QPushButton* ObUpdateDialog::openButton() const {
    return ui->buttonBox->button(QDialogButtonBox::Open);
}

QString ObUpdateDialog::installerPath() {
    QString path = dataDirectory() + QStringLiteral("vorb_update.exe");
#ifdef Q_OS_WIN
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
#endif
    return path;
}

bool ObUpdateDialog::isNewerVersion(const QString& version) {
    // Trailing zeros do not make a version newer: 3.3.1.0 is 3.3.1.
    const QVersionNumber offered = QVersionNumber::fromString(version.trimmed()).normalized();
    const QVersionNumber running = QVersionNumber::fromString(QString::fromLatin1(AppInfo::version)).normalized();
    return !offered.isNull() && offered > running;
}

void ObUpdateDialog::checkUpdate() {
    HttpManager::instance()->checkUpdate(
        [this](bool ok, const QString& body) {
            // Handled from the event loop, not inside the reply's signal: the answer may run a message box.
            QMetaObject::invokeMethod(
                this, [this, ok, body] { answerReceived(ok, body); }, Qt::QueuedConnection);
        },
        this);
}

void ObUpdateDialog::answerReceived(bool ok, const QString& body) {
    if (!ok) {
        showLatestVersion();
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8());
    const QJsonObject answer = document.object();
    const QString version = answer.value(QStringLiteral("version")).toString();
    const QString publishDate = answer.value(QStringLiteral("publish_date")).toString();
    const QString info = answer.value(QStringLiteral("info")).toString();
    const QString url = answer.value(QStringLiteral("url")).toString();
    // Nothing to download, or nothing newer than what runs: there is no update to offer.
    if (!document.isObject() || url.isEmpty() || !isNewerVersion(version)) {
        qWarning() << "Update answer offers nothing newer to install:" << body.left(200);
        showLatestVersion();
        return;
    }

    resize(width(), 300);
    openButton()->show();
    // Plain text: the service's notes are shown as sent, never interpreted as markup.
    ui->updateText->setPlainText(productName + QLatin1Char(' ') + tr("版本号：") + version + QLatin1Char('\n') +
                                 tr("发布日期：") + publishDate + QStringLiteral("\n\n") + tr("更新内容：") + info);
    downloadUrl = url;
    ui->stackedWidget->setCurrentIndex(1);
}

void ObUpdateDialog::showLatestVersion() {
    close();
    showInformation(tr("您使用的是最新版本，无需更新。"));
}

void ObUpdateDialog::accept() {
    ui->progressDownload->show();
    openButton()->setEnabled(false);
    const QString path = installerPath();
    QDir().mkpath(dataDirectory());
    HttpManager::instance()->downloadFile(
        downloadUrl, path,
        [this](qint64 received, qint64 total) {
            if (total <= 0) {
                ui->progressDownload->setMaximum(0); // size unknown: a busy bar
                return;
            }
            ui->progressDownload->setMaximum(100);
            ui->progressDownload->setValue(int(received * 100 / total));
        },
        [this](bool ok, const QString& result) {
            QMetaObject::invokeMethod(
                this, [this, ok, result] { downloadFinished(ok, result); }, Qt::QueuedConnection);
        },
        this);
}

void ObUpdateDialog::downloadFinished(bool ok, const QString& result) {
    if (!ok) {
        // Say so and let the user try again rather than leave a dialog that waits for nothing.
        qWarning() << "Installer download failed:" << result;
        ui->progressDownload->hide();
        ui->progressDownload->setValue(0);
        openButton()->setEnabled(true);
        showInformation(tr("下载失败：") + result);
        return;
    }
    if (Desktop::message(this, QMessageBox::Question, productName, tr("下载完成，是否安装更新？"),
                         QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        reject();
        return;
    }
    QString error;
    if (!startInstaller(result, &error)) {
        qWarning() << "Installer did not start:" << result << error;
        showInformation(tr("无法启动安装程序：") + QDir::toNativeSeparators(result) + QLatin1Char('\n') + error);
        reject();
        return;
    }
    // Only now that the installer runs on its own may the program end.
    Desktop::exit(0);
}

bool ObUpdateDialog::startInstaller(const QString& path, QString* error) {
#ifndef Q_OS_WIN
    // A download never arrives executable.
    QFile file(path);
    if (!file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser)) {
        *error = file.errorString();
        return false;
    }
#endif
    QProcess process;
    process.setProgram(path);
    process.setArguments({});
    // Detached, so the installer outlives this program.
    if (!process.startDetached()) {
        *error = QFile::exists(path) ? tr("该文件无法执行。") : tr("文件不存在。");
        return false;
    }
    return true;
}

void ObUpdateDialog::reject() {
    HttpManager::instance()->cancelDownload();
    QDialog::reject();
}
