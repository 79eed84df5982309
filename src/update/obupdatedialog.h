#pragma once

#include "core/net/downloadfailure.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class ObUpdateDialog;
}
class QPushButton;

// Asks the service for a newer version, shows what it brings, downloads its
// installer into the data directory, checks it against the SHA-256 and the
// signature the service named, and starts it. A new dialog is made for each
// check; it deletes itself when it closes.
class ObUpdateDialog : public QDialog {
    Q_OBJECT

public:
    explicit ObUpdateDialog(QWidget* parent);
    ~ObUpdateDialog() override;

    void checkUpdate();

    // Where the installer is downloaded to: the data directory + "vorb_update.exe".
    static QString installerPath();
    // True when `version` (dotted numbers) is newer than the running program.
    static bool isNewerVersion(const QString& version);

public slots:
    void accept() override;
    void reject() override;

private:
    void answerReceived(bool ok, const QString& body);
    void showInformation(const QString& text);
    void showWarning(const QString& text);
    void showLatestVersion();
    void showCheckFailed(const QString& reason);
    // downloaded: the installer's path, or why it failed (for the log).
    void downloadFinished(bool ok, const QString& downloaded, DownloadCause cause);
    // Why a download failed, as the dialog says it.
    static QString causeText(DownloadCause cause);
    // Makes the installer executable where needed and starts it detached;
    // false with a reason when it did not start.
    static bool startInstaller(const QString& path, QString* error);
    QPushButton* openButton() const;

    std::unique_ptr<Ui::ObUpdateDialog> ui;
    QString downloadUrl;
    QString installerSha256;
    QString installerSignature;
};
