#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class ProxyDialog;
}
class MainWindow;

// The proxy window: host, port, user and password, stored as typed.
class ProxyDialog : public QWidget {
    Q_OBJECT

public:
    explicit ProxyDialog(QWidget* parent);
    ~ProxyDialog() override;

    MainWindow* mainWindow = nullptr;

    // The four line edits, for the main window to fill at start-up.
    void setFields(const QString& host, const QString& port, const QString& user, const QString& password);

    QString host;
    QString port;
    QString user;
    QString password;

private slots:
    void on_host_editingFinished();
    void on_port_editingFinished();
    void on_user_editingFinished();
    void on_password_editingFinished();
    void on_ok_clicked();
    void on_cancel_clicked();

private:
    std::unique_ptr<Ui::ProxyDialog> form;
};
