#include "update/obupdatedialog.h"

#include "core/appinfo.h"
#include "core/net/httpmanager.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "ui_obupdatedialog.h"
#include "update/installercheck.h"

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

// Once this dialog has closed, a box on it would open at the screen's corner:
// the main window takes it then (a null parent means the main window).
void ObUpdateDialog::showInformation(const QString& text) {
    Desktop::message(isVisible() ? this : nullptr, QMessageBox::Information, productName, text);
}

void ObUpdateDialog::showWarning(const QString& text) {
    Desktop::message(isVisible() ? this : nullptr, QMessageBox::Warning, productName, text);
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
        // An empty text is the service saying there is nothing newer; any other is why the check failed.
        if (body.isEmpty())
            showLatestVersion();
        else
            showCheckFailed(body);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8());
    const QJsonObject answer = document.object();
    const QString version = answer.value(QStringLiteral("version")).toString();
    const QString publishDate = answer.value(QStringLiteral("publish_date")).toString();
    const QString info = answer.value(QStringLiteral("info")).toString();
    const QString url = answer.value(QStringLiteral("url")).toString();
    // An answer we cannot read tells nothing about what is current.
    if (!document.isObject() || QVersionNumber::fromString(version.trimmed()).isNull()) {
        qWarning() << "Unreadable update answer:" << body.left(200);
        showCheckFailed(tr("无法识别服务器的回答。"));
        return;
    }
    if (!isNewerVersion(version)) {
        showLatestVersion();
        return;
    }
    if (url.isEmpty()) {
        qWarning() << "Update answer without an installer:" << body.left(200);
        showCheckFailed(tr("无法识别服务器的回答。"));
        return;
    }

    resize(width(), 300);
    openButton()->show();
    // Plain text: the service's notes are shown as sent, never interpreted as markup.
    ui->updateText->setPlainText(productName + QLatin1Char(' ') + tr("版本号：") + version + QLatin1Char('\n') +
                                 tr("发布日期：") + publishDate + QStringLiteral("\n\n") + tr("更新内容：") + info);
    downloadUrl = url;
    installerSha256 = answer.value(QStringLiteral("sha256")).toString();
    installerSignature = answer.value(QStringLiteral("signature")).toString();
    ui->stackedWidget->setCurrentIndex(1);
}

void ObUpdateDialog::showLatestVersion() {
    close();
    showInformation(tr("您使用的是最新版本，无需更新。"));
}

void ObUpdateDialog::showCheckFailed(const QString& reason) {
    qWarning() << "Update check failed:" << reason;
    close();
    showWarning(tr("检查更新失败，请稍后再试。") + QLatin1Char('\n') + reason);
}

void ObUpdateDialog::accept() {
    ui->progressDownload->show();
    openButton()->setEnabled(false);
    // Downloaded beside the installer; it takes the installer's place only once it has checked out.
    const QString path = installerPath() + QStringLiteral(".unverified");
    ensureDataDirectory();
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
        [this](bool ok, const QString& result, DownloadCause cause) {
            QMetaObject::invokeMethod(
                this, [this, ok, result, cause] { downloadFinished(ok, result, cause); }, Qt::QueuedConnection);
        },
        this);
}

QString ObUpdateDialog::causeText(DownloadCause cause) {
    switch (cause) {
    case DownloadCause::DiskFull:
        return tr("磁盘空间不足。");
    case DownloadCause::TooLarge:
        return tr("文件超过了允许的最大大小。");
    case DownloadCause::LongerThanAnnounced:
        return tr("服务器发送的数据多于其声明的大小。");
    case DownloadCause::TooSlow:
        return tr("网络速度过慢。");
    case DownloadCause::Stalled:
        return tr("服务器长时间没有响应。");
    case DownloadCause::NoConnection:
        return tr("无法连接到服务器。");
    case DownloadCause::ServerError:
        return tr("服务器出错。");
    case DownloadCause::Refused:
        return tr("服务器拒绝了下载请求。");
    case DownloadCause::Incomplete:
        return tr("传输中断，文件不完整。");
    case DownloadCause::CannotStore:
        return tr("无法保存文件。");
    case DownloadCause::Insecure:
        return tr("下载地址不是安全连接（HTTPS），已拒绝。");
    case DownloadCause::BadAnswer:
        break;
    }
    return tr("无法识别服务器的回答。");
}

void ObUpdateDialog::downloadFinished(bool ok, const QString& downloaded, DownloadCause cause) {
    QString failure;
    if (!ok) {
        // The exact words are English: the log has them, the user the cause.
        qWarning() << "Installer download failed:" << downloaded;
        failure = tr("下载失败：") + causeText(cause);
    } else {
        const InstallerCheck::Result check = InstallerCheck::verify(downloaded, installerSha256, installerSignature);
        const QString result = installerPath();
        if (check != InstallerCheck::Result::Valid) {
            // Nothing unchecked may stay where it could be started.
            QFile::remove(downloaded);
            qWarning() << "Installer failed its check:" << int(check) << downloadUrl;
            failure = tr("下载的安装程序未通过校验，已将其删除。") + QLatin1Char('\n') +
                      (check == InstallerCheck::Result::HashMismatch   ? tr("SHA-256 校验值不符。")
                       : check == InstallerCheck::Result::BadSignature ? tr("数字签名无效。")
                                                                       : tr("无法读取下载的文件。"));
        } else if ((QFile::exists(result) && !QFile::remove(result)) || !QFile::rename(downloaded, result)) {
            QFile::remove(downloaded);
            qWarning() << "Installer could not be put in place:" << result;
            failure = tr("下载失败：") + causeText(DownloadCause::CannotStore);
        }
    }
    if (!failure.isEmpty()) {
        // Say so and let the user try again rather than leave a dialog that waits for nothing.
        ui->progressDownload->hide();
        ui->progressDownload->setValue(0);
        openButton()->setEnabled(true);
        showWarning(failure);
        return;
    }
    const QString result = installerPath();
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
