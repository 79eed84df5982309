#include "app/proxydialog.h"

#include "app/mainwindow.h"
#include "core/appinfo.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "ui_proxydialog.h"

#include <QSettings>

ProxyDialog::ProxyDialog(QWidget* parent) : QWidget(parent), form(new Ui::ProxyDialog) {
    Desktop::ensureResources();
    form->setupUi(this);
    setWindowTitle(QStringLiteral("代理设置"));

    const QStringList stored = Settings::loadProxySettings();
    host = stored.at(0);
    port = stored.at(1);
    user = stored.at(2);
    password = stored.at(3);
}

ProxyDialog::~ProxyDialog() = default;

void ProxyDialog::setFields(const QString& hostText, const QString& portText, const QString& userText,
                            const QString& passwordText) {
    form->host->setText(hostText);
    form->port->setText(portText);
    form->user->setText(userText);
    form->password->setText(passwordText);
}

void ProxyDialog::on_host_editingFinished() {
    host = form->host->text();
}

void ProxyDialog::on_port_editingFinished() {
    port = form->port->text();
}

void ProxyDialog::on_user_editingFinished() {
    user = form->user->text();
}

void ProxyDialog::on_password_editingFinished() {
    password = form->password->text();
}

void ProxyDialog::on_ok_clicked() {
    {
        QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
        settings.setValue(Settings::ProxyHost, host);
        settings.setValue(Settings::ProxyPort, port);
        settings.setValue(Settings::ProxyUser, user);
        settings.setValue(Settings::ProxyPassword, password);
    }
    if (mainWindow)
        mainWindow->applyProxy(host, port, user, password);
    close();
}

void ProxyDialog::on_cancel_clicked() {
    close();
}
