#include "app/proxydialog.h"

#include "app/mainwindow.h"
#include "desktop/desktop.h"
#include "ui_proxydialog.h"

ProxyDialog::ProxyDialog(QWidget* parent) : QWidget(parent), form(new Ui::ProxyDialog) {
    Desktop::ensureResources();
    form->setupUi(this);
    setWindowTitle(QStringLiteral("代理设置"));

    entered = ProxySettings::load();
}

ProxyDialog::~ProxyDialog() = default;

void ProxyDialog::setFields(const ProxySettings& values) {
    form->host->setText(values.host);
    form->port->setText(values.port);
    form->user->setText(values.user);
    form->password->setText(values.password);
}

void ProxyDialog::on_host_editingFinished() {
    entered.host = form->host->text();
}

void ProxyDialog::on_port_editingFinished() {
    entered.port = form->port->text();
}

void ProxyDialog::on_user_editingFinished() {
    entered.user = form->user->text();
}

void ProxyDialog::on_password_editingFinished() {
    entered.password = form->password->text();
}

void ProxyDialog::on_ok_clicked() {
    entered.save();
    if (owner)
        owner->applyProxy(entered.host, entered.port, entered.user, entered.password);
    close();
}

void ProxyDialog::on_cancel_clicked() {
    close();
}
