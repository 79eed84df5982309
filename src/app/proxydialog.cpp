#include "app/proxydialog.h"

#include "desktop/desktop.h"
#include "ui_proxydialog.h"

#include <QCloseEvent>
#include <QShortcut>

// A window of its own even with a parent: the main window, so that it stays with
// it on the desktop and goes when the program ends.
ProxyDialog::ProxyDialog(QWidget* parent) : QWidget(parent, Qt::Window), form(new Ui::ProxyDialog) {
    Desktop::ensureResources();
    form->setupUi(this);
    form->error->hide();
    setWindowTitle(QStringLiteral("代理设置"));
    // A plain window has no Escape of its own; the preferences close on it, so this does too.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

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

QString ProxyDialog::errorText() const {
    return form->error->text();
}

void ProxyDialog::showError(const QString& text, QWidget* field) {
    form->error->setText(text);
    form->error->setVisible(!text.isEmpty());
    if (field)
        field->setFocus();
}

void ProxyDialog::on_ok_clicked() {
    // Nothing is stored or applied until the values make a usable proxy (or none).
    switch (entered.fault()) {
    case ProxySettings::Fault::MissingHost:
        showError(tr("请填写代理服务器的地址。"), form->host);
        return;
    case ProxySettings::Fault::BadPort:
        showError(tr("端口必须是 1 到 65535 之间的数字。"), form->port);
        return;
    case ProxySettings::Fault::None:
        break;
    }
    showError(QString(), nullptr);
    entered.save();
    emit proxyAccepted(entered);
    close();
}

void ProxyDialog::on_cancel_clicked() {
    close();
}

void ProxyDialog::closeEvent(QCloseEvent* event) {
    // Whatever was typed and not saved goes: the next opening shows what is in use.
    const ProxySettings stored = ProxySettings::load();
    setFields(stored);
    entered = stored;
    showError(QString(), nullptr);
    QWidget::closeEvent(event);
}
